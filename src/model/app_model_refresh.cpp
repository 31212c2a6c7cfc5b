#include "model/app_model.h"

#include "localization/localization.h"
#include "model/failures.h"
#include "service/service_client.h"
#include "service/service_error.h"
#include "service/service_host.h"

namespace cv {

namespace {

// How long a refresh waits before it looks again whether another one has ended.
constexpr double singleFlightStep = 0.05;
// The only status layout this application reads.
constexpr std::int64_t acceptedApiVersion = 1;

} // namespace

void AppModel::replayEvents(std::uint64_t since)
{
    cursor_ = since;
}

QCoro::Task<> AppModel::refresh()
{
    // The demo's state stands until another demo state replaces it.
    if (demo_)
        co_return;
    // One refresh at a time; a caller that had to wait makes a full one of its own.
    // The pause is never cancelled: the loop's own checks decide.
    while (refreshing_) {
        if (quitting_)
            co_return;
        QCoro::Task<bool> pause = alive(clock().sleep(singleFlightStep));
        co_await std::move(pause);
    }
    if (quitting_)
        co_return;
    refreshing_ = true;

    std::optional<EventBatch> batch;
    std::exception_ptr failure;
    try {
        if (cursor_) {
            QCoro::Task<EventBatch> events =
                alive(client().request<EventBatch>(Command{.op = QStringLiteral("events"), .since = *cursor_}));
            batch = co_await std::move(events);
        }
        QCoro::Task<> update = updateStatus(std::nullopt);
        co_await std::move(update);
    } catch (...) {
        failure = std::current_exception();
    }

    if (failure) {
        // The batch stays unhandled and the cursor where it was, so the next refresh
        // asks for the same events again.
        setConnected(false);
        // While the service is handed over it is down on purpose: nothing failed.
        if (!handingOver_) {
            const std::optional<QString> exited = childExit();
            setServiceError(exited ? *exited : failure::describe(failure));
        }
        if (stateChanged)
            stateChanged();
        refreshing_ = false;
        co_return;
    }

    if (batch) {
        if (!batch->resync_required) {
            for (const ServiceEvent &event : std::as_const(batch->events))
                handle(event);
        }
        cursor_ = batch->sequence;
    }
    QCoro::Task<> notices = flushNotifications();
    co_await std::move(notices);
    refreshing_ = false;
}

QCoro::Task<> AppModel::updateStatus(std::optional<double> deadline)
{
    // Counted before it is sent: a "disconnect" answered after this point is newer
    // than whatever this reply says about the computer.
    const std::uint64_t asked = ++statusAsked_;
    QCoro::Task<ServiceStatus> request =
        alive(client().request<ServiceStatus>(Command{.op = QStringLiteral("status")}, deadline));
    ServiceStatus reply = co_await std::move(request);
    if (reply.api_version != acceptedApiVersion) {
        throw ServiceError::invalid(
            L(QStringLiteral("This app requires local API version 1. Update the app and service together.")));
    }

    // A replayed cursor at or below the service's sequence survives; a service that
    // started over lowers it.
    if (!cursor_ || reply.event_sequence < *cursor_)
        cursor_ = reply.event_sequence;

    const QList<Peer> peers = reply.peers;
    setStatus(std::move(reply));
    hasSeenService_ = true;
    setConnected(true);
    setServiceError(std::nullopt);

    // A computer's window opens once per pairing code while it needs a choice.
    QSet<QString> present;
    for (const Peer &peer : peers) {
        present.insert(peer.id);
        if (!peer.choice_required) {
            choiceShown_.remove(peer.id);
            continue;
        }
        const auto shown = choiceShown_.constFind(peer.id);
        if (shown != choiceShown_.constEnd() && *shown == peer.pairing_code)
            continue;
        choiceShown_.insert(peer.id, peer.pairing_code);
        if (showPeer)
            showPeer(peer.id);
    }
    for (auto it = choiceShown_.begin(); it != choiceShown_.end();) {
        if (present.contains(it.key()))
            ++it;
        else
            it = choiceShown_.erase(it);
    }

    // A computer connected again is no longer one the user disconnected; but only a
    // status asked for after the service answered the "disconnect" can tell that. One
    // already under way, or asked while the disconnection runs, still lists it.
    Disconnected remaining = disconnected_;
    bool reconnected = false;
    for (const Peer &peer : peers) {
        if (!remaining.contains(peer.id))
            continue;
        const auto answered = disconnectAnswered_.constFind(peer.id);
        if (answered != disconnectAnswered_.constEnd() && (!*answered || **answered >= asked))
            continue;
        remaining.remove(peer.id);
        disconnectAnswered_.remove(peer.id);
        reconnected = true;
    }
    if (reconnected)
        setDisconnected(std::move(remaining));

    if (stateChanged)
        stateChanged();
}

} // namespace cv

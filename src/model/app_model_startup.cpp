#include "model/app_model.h"

#include "localization/localization.h"
#include "model/failures.h"
#include "platform/user_defaults.h"
#include "service/reply.h"
#include "service/service_client.h"
#include "service/service_error.h"
#include "service/service_host.h"

#include <algorithm>

namespace cv {

namespace {

// Every status request of a start-up carries this deadline, counted from the call.
constexpr double startupWindow = 15.0;
// The longest pause between two status requests while the service comes up.
constexpr double startupPoll = 0.5;
// A start request gets this long before the login agent is repaired or a child
// process is started instead.
constexpr double agentRepairThreshold = 2.0;
// Waiting for the service to stop: this many status requests this far apart.
constexpr double stopPoll = 0.25;
constexpr int stopPolls = 40;

const QString startAtLoginDefaultedKey = QStringLiteral("startAtLoginDefaulted");

ServiceError notReady()
{
    return ServiceError::invalid(
        L(QStringLiteral("The background service has not become ready. Open the service log, then retry.")));
}

} // namespace

std::optional<QString> AppModel::childExit()
{
    if (stoppedChild_ && host().childLaunches() == *stoppedChild_)
        return std::nullopt;
    // A later child is another process, even with the same pid.
    stoppedChild_.reset();
    return host().exitDescription();
}

QCoro::Task<> AppModel::startServiceIfNeeded(bool asChild, bool startAsked)
{
    const double deadline = clock().uptime() + startupWindow;
    setStarting(true);
    // A child that had already stopped when this start-up began (for instance one
    // stopped on purpose to hand the service over to the login agent) tells nothing
    // about the service this start-up waits for: its exit text must not end it.
    const std::optional<int> stoppedChild =
        host().childKnownStopped() ? std::optional(host().childLaunches()) : std::nullopt;

    // Returns when the service answers or the start-up ends silently; throws the
    // failure to show otherwise.
    auto bringUp = [](AppModel *self, double deadline, std::optional<int> stoppedChild, bool asChild,
                      bool startAsked) -> QCoro::Task<> {
        AppModel &m = *self;
        std::exception_ptr failure;
        try {
            QCoro::Task<> first = m.updateStatus(deadline);
            co_await std::move(first);
            co_return;
        } catch (...) {
            failure = std::current_exception();
        }
        if (!failure::unavailable(failure))
            std::rethrow_exception(failure);

        // Not running: have it started, then wait for it within the window.
        if (m.pollingCancel_.cancelled())
            co_return;
        if (m.clock().uptime() >= deadline)
            throw ServiceError::invalid(L(QStringLiteral("Service startup timed out. Open the service log, then retry.")));
        // Once decided for, the child is asked for on every pass until it runs: the
        // host holds it back until a start of the agent it called off is settled.
        bool childWanted = false;
        if (!startAsked) {
            // Through the agent or as a child: not decided before the system has told
            // whether the agent runs the service. An agent the user masked does not run
            // it: the application does.
            if (!asChild) {
                QCoro::Task<> known = m.alive(m.host().loginKnown());
                co_await std::move(known);
            }
            childWanted = asChild || m.host().needsApproval();
            m.host().start(childWanted);
        }
        double lastStart = m.clock().uptime();
        bool repairTried = false;

        for (;;) {
            const double remaining = deadline - m.clock().uptime();
            if (remaining <= 0)
                throw notReady();
            QCoro::Task<bool> pause = m.alive(m.clock().sleep(std::min(remaining, startupPoll), m.pollingCancel_));
            if (!co_await std::move(pause))
                co_return;

            std::exception_ptr error;
            try {
                QCoro::Task<> update = m.updateStatus(deadline);
                co_await std::move(update);
                co_return;
            } catch (...) {
                error = std::current_exception();
            }
            if (!failure::unavailable(error)) {
                // The window ran out while this request waited (or before it was
                // sent): the service simply did not come up in time.
                if (failure::timedOut(error) && m.clock().uptime() >= deadline)
                    throw notReady();
                std::rethrow_exception(error);
            }
            if (const std::optional<QString> exited = m.host().exitDescription()) {
                if (!(stoppedChild && m.host().childLaunches() == *stoppedChild))
                    throw ServiceError::unavailable(*exited);
            }
            // The service manager refused to start the agent: the application runs the
            // service, as when the agent could not be repaired. A start the manager has
            // not even taken on in time is given up: the child started instead calls it
            // off, so that one service runs.
            if (childWanted || m.host().agentStartFailure()
                || (m.clock().uptime() - lastStart > agentRepairThreshold && m.host().agentStartPending())) {
                childWanted = true;
                m.host().start(true);
                continue;
            }
            if (m.clock().uptime() - lastStart > agentRepairThreshold && m.host().agentStopped()) {
                if (!repairTried) {
                    QCoro::Task<bool> repair = m.alive(m.host().repairAgent());
                    if (co_await std::move(repair))
                        lastStart = m.clock().uptime();
                    else
                        childWanted = true, m.host().start(true);
                    repairTried = true;
                } else {
                    childWanted = true;
                    m.host().start(true);
                }
            }
        }
    };

    std::exception_ptr failure;
    try {
        QCoro::Task<> attempt = bringUp(this, deadline, stoppedChild, asChild, startAsked);
        co_await std::move(attempt);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure && !failure::cancelled(failure))
        setServiceError(failure::describe(failure));
    setStarting(false);
}

void AppModel::retryService()
{
    // Not while a start-up runs, nor in the middle of a start-at-sign-in change or a
    // command, nor once quitting began: a second service or an undone quit would follow.
    // A demo never reaches a service.
    if (demo_ || starting_ || mutating_ || quitting_)
        return;
    auto retry = [](AppModel *self) -> QCoro::Task<> {
        QCoro::Task<> startUp = self->startServiceIfNeeded();
        co_await std::move(startUp);
        QCoro::Task<> update = self->refresh();
        co_await std::move(update);
    };
    // Runs on by itself; nothing waits for it.
    QCoro::Task<> detached = retry(this);
    Q_UNUSED(detached);
}

QCoro::Task<> AppModel::stopService()
{
    QCoro::Task<EmptyResult> quit = alive(client().request<EmptyResult>(Command{.op = QStringLiteral("quit")}));
    co_await std::move(quit);

    for (int poll = 0; poll < stopPolls; ++poll) {
        std::exception_ptr error;
        try {
            QCoro::Task<ServiceStatus> status =
                alive(client().request<ServiceStatus>(Command{.op = QStringLiteral("status")}));
            co_await std::move(status);
        } catch (...) {
            error = std::current_exception();
        }
        if (error) {
            // The service may leave its socket before its process ends: a child of ours
            // has stopped only once it has exited, and a new one can start only then.
            // One that accepted the question and closed without reading it is leaving
            // too.
            if (!failure::unavailable(error) && !failure::connectionLost(error))
                std::rethrow_exception(error);
            if (host().childKnownStopped()) {
                // Stopped on purpose: its exit is no failure to show.
                stoppedChild_ = host().childLaunches();
                co_return;
            }
        }
        QCoro::Task<bool> pause = alive(clock().sleep(stopPoll, pollingCancel_));
        if (!co_await std::move(pause))
            throw CancelledError();
    }
    throw ServiceError::invalid(L(QStringLiteral("The background service didn’t stop.")));
}

QCoro::Task<> AppModel::setStartAtLogin(bool on)
{
    // A demo changes nothing of the user's real service, agent or sign-in.
    if (demo_ || busy() || !host().canRegister() || on == host().loginEnabled())
        co_return;
    setMutating(true);
    // From the stop until the service answers again, its absence is no failure.
    handingOver_ = true;
    handOverCallOff_ = CancelToken();

    std::exception_ptr failure;
    try {
        if (on) {
            // The running service serves while the agent is registered, and stops only
            // just before the manager starts the agent's.
            QCoro::Task<> change = alive(host().setLogin(true, [this] { return stopForHandOver(); }, handOverCallOff_));
            co_await std::move(change);
        } else {
            QCoro::Task<> stop = stopService();
            co_await std::move(stop);
            QCoro::Task<> change = alive(host().setLogin(false));
            co_await std::move(change);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    const bool stopping = std::exchange(handOverStopping_, false);
    if (failure && handOverCallOff_.cancelled() && !stopping) {
        // A quit ended the hand-over before the service was stopped: it still runs,
        // and the quit stops it the usual way.
        handingOver_ = false;
        setMutating(false);
        co_return;
    }

    if (failure) {
        setError(L(QStringLiteral("Couldn't change start at sign-in: {error}"),
                   {{QStringLiteral("error"), Localization::service(failure::describe(failure))}}));
    }
    // With the agent registered and enabled, the system has started it: the hand-over
    // is a start-up like any other, ending when that service answers (or with a child
    // when it does not), and quitting waits for it. A change to the agent that failed
    // (its registration or its start refused) or left it waiting for the user's
    // approval (a masked unit) leaves nothing to run the service but the application
    // itself. No longer started by the agent: brought up the usual way.
    const bool handedOver = !failure && on && host().loginEnabled();
    QCoro::Task<> startUp = handedOver ? startServiceIfNeeded(false, true)
                                       : startServiceIfNeeded(on || (failure && host().needsApproval()));
    co_await std::move(startUp);
    handingOver_ = false;
    QCoro::Task<> update = refresh();
    co_await std::move(update);
    setMutating(false);
}

QCoro::Task<> AppModel::stopForHandOver()
{
    if (handOverCallOff_.cancelled())
        throw CancelledError();
    // From here a quit waits for the hand-over to end.
    handOverStopping_ = true;
    QCoro::Task<> stop = stopService();
    co_await std::move(stop);
}

QCoro::Task<> AppModel::startAtLoginByDefault()
{
    if (!connected_ || defaults().boolValue(startAtLoginDefaultedKey))
        co_return;
    // Whether there is an agent to register is the system's answer, which may come
    // after the service's.
    QCoro::Task<> known = alive(host().loginKnown());
    co_await std::move(known);
    if (!host().canRegister() || !connected_ || defaults().boolValue(startAtLoginDefaultedKey))
        co_return;
    // Tried once per user, whatever comes of it.
    defaults().setBool(startAtLoginDefaultedKey, true);
    if (host().loginEnabled() || host().needsApproval())
        co_return;

    const std::optional<QString> kept = error_;
    QCoro::Task<> enable = setStartAtLogin(true);
    co_await std::move(enable);

    if (host().needsApproval()) {
        // Waiting for the user's approval: take the registration back and run the
        // service as before.
        try {
            QCoro::Task<> undo = alive(host().setLogin(false));
            co_await std::move(undo);
        } catch (...) {
        }
        QCoro::Task<> startUp = startServiceIfNeeded();
        co_await std::move(startUp);
    }
    // An automatic attempt that did not end enabled leaves no error of its own.
    if (!host().loginEnabled())
        setError(kept);
}

} // namespace cv

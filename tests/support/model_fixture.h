#pragma once

// An AppModel built on fakes: a client answering canned reply lines, the fake clock,
// settings in memory, a notification centre in memory, fake probes, volumes and volume
// names, and a service host over fake platform pieces. Header only; a test links cv_model.

#include "fake_child.h"
#include "fake_clock.h"
#include "fake_cable_probe.h"
#include "fake_login_items.h"
#include "fake_notification_center.h"
#include "fake_open_panels.h"
#include "fake_user_defaults.h"
#include "fake_volume_names.h"
#include "fake_volume_source.h"
#include "fake_workspace.h"

#include "model/app_model.h"
#include "platform/app_bundle.h"
#include "service/service_client.h"
#include "service/service_error.h"
#include "service/service_host.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <deque>
#include <memory>
#include <optional>

namespace cv {

// Reaches the model's private fields and operations for tests.
struct AppModelAccess {
    using PendingDelivery = AppModel::PendingDelivery;

    static QDateTime &linkChecked(AppModel &m) { return m.linkChecked_; }
    static std::optional<QCoro::Task<>> &polling(AppModel &m) { return m.polling_; }
    static CancelToken &pollingCancel(AppModel &m) { return m.pollingCancel_; }
    static std::optional<std::uint64_t> &cursor(AppModel &m) { return m.cursor_; }
    static QMap<QString, QString> &choiceShown(AppModel &m) { return m.choiceShown_; }
    static QMap<QString, QDateTime> &pendingReconnect(AppModel &m) { return m.pendingReconnect_; }
    static QMap<QString, PendingDelivery> &pendingDeliveries(AppModel &m) { return m.pendingDeliveries_; }
    static bool &quitting(AppModel &m) { return m.quitting_; }
    static bool &refreshing(AppModel &m) { return m.refreshing_; }
    static bool &hasSeenService(AppModel &m) { return m.hasSeenService_; }
    static QDateTime &cableChecked(AppModel &m) { return m.cableChecked_; }

    static QCoro::Task<> updateStatus(AppModel &m, std::optional<double> deadline) { return m.updateStatus(deadline); }
    static QCoro::Task<> startServiceIfNeeded(AppModel &m) { return m.startServiceIfNeeded(); }
    static QCoro::Task<> stopService(AppModel &m) { return m.stopService(); }
    static QCoro::Task<> startAtLoginByDefault(AppModel &m) { return m.startAtLoginByDefault(); }
    static void handle(AppModel &m, ServiceEvent event) { m.handle(std::move(event)); }
    static QCoro::Task<> flushNotifications(AppModel &m) { return m.flushNotifications(); }
    static QCoro::Task<> refreshCable(AppModel &m) { return m.refreshCable(); }
    static QCoro::Task<> refreshLink(AppModel &m) { return m.refreshLink(); }
};

namespace test {

// Reply lines and records in the service's JSON, for scripting the fake client.
namespace wire {

// {"ok":true,"result":<result>} and a line feed.
inline QByteArray ok(const QJsonValue &result)
{
    return QJsonDocument(QJsonObject{{"ok", true}, {"result", result}}).toJson(QJsonDocument::Compact) + '\n';
}

// The reply of a command that returns nothing.
inline QByteArray done() { return ok(QJsonObject{}); }

// {"ok":false,"error":<error>} and a line feed.
inline QByteArray refused(const QString &error)
{
    return QJsonDocument(QJsonObject{{"ok", false}, {"error", error}}).toJson(QJsonDocument::Compact) + '\n';
}

// A connected computer with every required key.
inline QJsonObject peer(const QString &id, const QString &name, const QString &pairingCode = QStringLiteral("111111"),
                        bool choiceRequired = false)
{
    return {{"id", id}, {"name", name}, {"interface_index", 7}, {"pairing_code", pairingCode},
            {"choice_required", choiceRequired}, {"sharing", QJsonObject{{"mode", "none"}}}, {"ejected", false}};
}

// A remembered computer sharing nothing.
inline QJsonObject remembered(const QString &id, const QString &name)
{
    return {{"id", id}, {"name", name}, {"share", QJsonObject{{"mode", "none"}}}};
}

// A status of API version 1 with every required key.
inline QJsonObject status(const QJsonArray &peers = {}, std::uint64_t eventSequence = 0,
                          const QStringList &capabilities = {}, const QJsonArray &remembered = {})
{
    return {{"api_version", 1}, {"version", "1.0.0"}, {"computer_id", "this-computer"}, {"name", "This Computer"},
            {"capabilities", QJsonArray::fromStringList(capabilities)}, {"peers", peers},
            {"remembered_computers", remembered}, {"event_sequence", qint64(eventSequence)}};
}

// An event batch.
inline QJsonObject events(const QJsonArray &events, std::uint64_t sequence, bool resyncRequired = false)
{
    return {{"events", events}, {"sequence", qint64(sequence)}, {"resync_required", resyncRequired}};
}

} // namespace wire

// A service client that answers from a script instead of a socket, and records every
// request line. For each op the test queues replies (used once each, in order) and
// may set a standing reply used when the queue is empty; an op with neither fails as
// unreachable. A reply may wait on the client's clock first.
class FakeServiceClient final : public ServiceClient {
public:
    struct Answer {
        QByteArray line;                  // the reply line
        std::optional<ServiceError> error; // or this error
        double delay = 0;                 // seconds on the clock before answering
    };

    explicit FakeServiceClient(Clock &clock)
        : ServiceClient(QStringLiteral("/nonexistent/cv-test"), ServiceClient::currentUid(), 2.0, 35.0, clock)
    {
    }

    void queue(const QString &op, QByteArray line, double delay = 0) { queued_[op].push_back({std::move(line), {}, delay}); }
    void queueError(const QString &op, ServiceError error, double delay = 0)
    {
        queued_[op].push_back({{}, std::move(error), delay});
    }
    void always(const QString &op, QByteArray line, double delay = 0) { standing_[op] = {std::move(line), {}, delay}; }
    void alwaysError(const QString &op, ServiceError error) { standing_[op] = {{}, std::move(error), 0}; }
    void clear(const QString &op)
    {
        queued_.remove(op);
        standing_.remove(op);
    }

    // Every request line sent, without its line feed, in order.
    QList<QByteArray> requests;
    // The deadline each request carried.
    QList<std::optional<double>> deadlines;

    // The op of every request, in order.
    QStringList ops() const
    {
        QStringList list;
        for (const QByteArray &line : requests)
            list << QJsonDocument::fromJson(line).object().value(QStringLiteral("op")).toString();
        return list;
    }

    // The requests of one op, decoded.
    QList<QJsonObject> sent(const QString &op) const
    {
        QList<QJsonObject> list;
        for (const QByteArray &line : requests) {
            const QJsonObject object = QJsonDocument::fromJson(line).object();
            if (object.value(QStringLiteral("op")).toString() == op)
                list << object;
        }
        return list;
    }

    // The text of the error for an op with nothing scripted.
    static QString unscripted(const QString &op) { return QStringLiteral("nothing scripted for ") + op; }

protected:
    QCoro::Task<QByteArray> send(QByteArray requestLine, std::optional<double> deadline) override
    {
        const QByteArray line = requestLine.endsWith('\n') ? requestLine.chopped(1) : requestLine;
        requests << line;
        deadlines << deadline;
        const QString op = QJsonDocument::fromJson(line).object().value(QStringLiteral("op")).toString();
        Answer answer;
        if (auto it = queued_.find(op); it != queued_.end() && !it->empty()) {
            answer = it->front();
            it->pop_front();
        } else if (auto standing = standing_.find(op); standing != standing_.end()) {
            answer = *standing;
        } else {
            answer.error = ServiceError::unavailable(unscripted(op));
        }
        if (answer.delay > 0)
            co_await clock().sleep(answer.delay);
        if (answer.error)
            throw *answer.error;
        co_return answer.line;
    }

private:
    QMap<QString, std::deque<Answer>> queued_;
    QMap<QString, Answer> standing_;
};

// Everything an AppModel needs, as fakes the test can script and inspect, and the
// model built on them. Change the pieces before the first model(); remake() builds a
// new model on the same pieces (the settings survive).
class ModelFixture {
public:
    ModelFixture()
        : bundle(QStringLiteral("/opt/corvane-test/bin/corvane"), AppBundle::defaultInfo())
    {
        client = std::make_shared<FakeServiceClient>(clock);
        host = std::make_shared<ServiceHost>(ServiceHost::Platform{&launcher, &loginItems, &launchctl, &bundle, &clock});
    }

    ~ModelFixture() { model_.reset(); }

    AppModel &model()
    {
        if (!model_)
            remake();
        return *model_;
    }

    AppModel &remake()
    {
        model_.reset();
        model_ = std::make_unique<AppModel>(collaborators());
        return *model_;
    }

    // The pieces as a model takes them (for a model built elsewhere, e.g. by the shell).
    AppModelCollaborators collaborators()
    {
        AppModelCollaborators parts;
        parts.client = serviceClient ? serviceClient : client;
        parts.host = host;
        parts.clock = &clock;
        parts.defaults = defaults;
        parts.notificationCenter = notificationCenter ? notificationCenter : notifications;
        parts.cable = cable;
        parts.volumes = volumes;
        parts.previewMultiDrive = previewMultiDrive;
        parts.workspace = workspace;
        parts.alerts = alerts;
        parts.openPanels = openPanels;
        parts.packaged = packaged;
        parts.log = [this](const QString &line) { log << line; };
        return parts;
    }

    FakeClock clock;
    std::shared_ptr<FakeUserDefaults> defaults = std::make_shared<FakeUserDefaults>();
    std::shared_ptr<FakeNotificationCenter> notifications = std::make_shared<FakeNotificationCenter>();
    std::shared_ptr<FakeCableProbe> cable = std::make_shared<FakeCableProbe>();
    std::shared_ptr<FakeVolumeSource> volumes = std::make_shared<FakeVolumeSource>();
    // The names of drives and folders while the fixture lives.
    FakeVolumeNames volumeNames;
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::shared_ptr<FakeAlerts> alerts = std::make_shared<FakeAlerts>();
    std::shared_ptr<FakeOpenPanels> openPanels = std::make_shared<FakeOpenPanels>();
    FakeChildLauncher launcher;
    FakeLoginItemService loginItems;
    FakeLaunchctl launchctl;
    AppBundle bundle;
    std::shared_ptr<FakeServiceClient> client;
    // When set, used instead of `client` (e.g. a real client for the stand-in service).
    std::shared_ptr<ServiceClient> serviceClient;
    // When set, used instead of `notifications` (e.g. the desktop's centre on a test bus).
    std::shared_ptr<NotificationCenter> notificationCenter;
    std::shared_ptr<ServiceHost> host;
    bool packaged = true;
    bool previewMultiDrive = false;
    // Lines the model wrote to the application log.
    QStringList log;

private:
    std::unique_ptr<AppModel> model_;
};

} // namespace test
} // namespace cv

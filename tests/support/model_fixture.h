#pragma once

// An AppModel built on fakes: a client answering canned reply lines, the fake clock,
// settings in memory, a notification centre in memory, fake probes, volumes and volume
// names, and a service host over fake platform pieces; or on the stand-in service over
// a real control socket. Header only; a test links cv_model.

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
#include "outcome.h"
#include "records_builder.h"
#include "standin.h"
#include "test_files.h"

#include "model/app_model.h"
#include "platform/app_bundle.h"
#include "service/service_client.h"
#include "service/service_error.h"
#include "service/service_host.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <deque>

namespace cv {

// Reaches the model's private fields and operations for tests.
struct AppModelAccess {

    static std::optional<QCoro::Task<>> &polling(AppModel &m) { return m.polling_; }
    static CancelToken &pollingCancel(AppModel &m) { return m.pollingCancel_; }
    static std::optional<std::uint64_t> &cursor(AppModel &m) { return m.cursor_; }
    static QMap<QString, AppModel::PendingDelivery> &pendingDeliveries(AppModel &m) { return m.pendingDeliveries_; }
    static bool &quitting(AppModel &m) { return m.quitting_; }
    static const CancelToken &quitBegun(AppModel &m) { return m.quitBegun_; }
    static bool &refreshing(AppModel &m) { return m.refreshing_; }
    // Volume listings under way.
    static int drivesListings(AppModel &m) { return m.drivesListings_; }

    static QCoro::Task<> updateStatus(AppModel &m, std::optional<double> deadline) { return m.updateStatus(deadline); }
    static QCoro::Task<> startServiceIfNeeded(AppModel &m) { return m.startServiceIfNeeded(); }
    static QCoro::Task<> startAtLoginByDefault(AppModel &m) { return m.startAtLoginByDefault(); }
    static void handle(AppModel &m, ServiceEvent event) { m.handle(std::move(event)); }
    static QCoro::Task<> flushNotifications(AppModel &m) { return m.flushNotifications(); }
    static QCoro::Task<> refreshCable(AppModel &m) { return m.refreshCable(); }
    static QCoro::Task<> refreshLink(AppModel &m) { return m.refreshLink(); }
};

namespace test {

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
    void clear(const QString &op) { queued_.remove(op), standing_.remove(op); }

    // Every request line sent, without its line feed, in order.
    QList<QByteArray> requests;
    // The deadline each request carried.
    QList<std::optional<double>> deadlines;

    static QString opOf(const QByteArray &line) { return QJsonDocument::fromJson(line).object().value(QStringLiteral("op")).toString(); }
    // The op of every request, in order.
    QStringList ops() const
    {
        QStringList list;
        for (const QByteArray &line : requests)
            list << opOf(line);
        return list;
    }
    // The requests of one op, decoded.
    QList<QJsonObject> sent(const QString &op) const
    {
        QList<QJsonObject> list;
        for (const QByteArray &line : requests)
            opOf(line) == op ? void(list << QJsonDocument::fromJson(line).object()) : void();
        return list;
    }

protected:
    QCoro::Task<QByteArray> send(QByteArray requestLine, std::optional<double> deadline) override
    {
        const QByteArray line = requestLine.endsWith('\n') ? requestLine.chopped(1) : requestLine;
        requests << line;
        deadlines << deadline;
        const QString op = opOf(line);
        Answer answer;
        if (auto it = queued_.find(op); it != queued_.end() && !it->empty()) {
            answer = it->front();
            it->pop_front();
        } else if (auto standing = standing_.find(op); standing != standing_.end()) {
            answer = *standing;
        } else {
            answer.error = ServiceError::unavailable(QStringLiteral("nothing scripted for ") + op);
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

    ~ModelFixture() { destroy(); }

    // Ends the model (the pieces stay).
    void destroy() { model_.reset(); }

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
        parts.defaults = userDefaults ? userDefaults : defaults;
        parts.notificationCenter = notificationCenter ? notificationCenter : notifications;
        parts.cable = cable;
        parts.volumes = volumeSource ? volumeSource : volumes;
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
    // When set, used instead of `defaults` (e.g. a real settings file).
    std::shared_ptr<UserDefaults> userDefaults;
    std::shared_ptr<FakeNotificationCenter> notifications = std::make_shared<FakeNotificationCenter>();
    // When set, used instead of `notifications` (e.g. the desktop's, on a private bus).
    std::shared_ptr<NotificationCenter> notificationCenter;
    std::shared_ptr<FakeCableProbe> cable = std::make_shared<FakeCableProbe>();
    std::shared_ptr<FakeVolumeSource> volumes = std::make_shared<FakeVolumeSource>();
    // When set, used instead of `volumes`.
    std::shared_ptr<const VolumeSource> volumeSource;
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
    std::shared_ptr<ServiceHost> host;
    bool packaged = true;
    bool previewMultiDrive = false;
    // Lines the model wrote to the application log.
    QStringList log;

private:
    std::unique_ptr<AppModel> model_;
};

// Puts `status` (JSON as the service sends it) into the model as a good status reply
// would, without a request.
inline void install(AppModel &model, const QJsonObject &status)
{
    model.setStatus(decodedStatus(status));
    model.setConnected(true);
}

// After `seconds` of the fake clock, runs `action`; nothing waits for it. The clock
// must outlive the task.
inline void at(FakeClock &clock, double seconds, std::function<void()> action)
{
    auto later = [](FakeClock &clock, double seconds, std::function<void()> action) -> QCoro::Task<> {
        QCoro::Task<bool> pause = clock.sleep(seconds);
        co_await std::move(pause);
        action();
    };
    QCoro::Task<> detached = later(clock, seconds, std::move(action));
}

// Lets queued work (and the fake clock's jumps) run for a moment of real time.
inline void settle(int milliseconds = 20) { QTest::qWait(milliseconds); }

// Lets queued work run until `done` holds, or until `progress` (a count of what has
// happened, such as the requests sent) has stood still for `quietTurns` passes of the
// event loop and `quietMs` of real time both, and never longer than `boundMs`: a test
// whose expectation cannot come true fails at once instead of at its time-out. True
// when `done` holds. Quiet is counted in passes as well as in time, since a starved
// process can lose a second between two passes: the work still queued then has had
// no chance to run, and must not be taken for work that is over.
inline bool settleUntil(const std::function<bool()> &done, const std::function<qsizetype()> &progress, int quietMs = 1000,
                        int boundMs = 20000, int quietTurns = 200)
{
    QElapsedTimer total, still;
    total.start();
    still.start();
    qsizetype last = progress();
    int turns = 0;
    while (!done() && total.elapsed() < boundMs) {
        QTest::qWait(5);
        if (const qsizetype now = progress(); now != last)
            last = now, still.restart(), turns = 0;
        else if (++turns >= quietTurns && still.elapsed() >= quietMs)
            break;
    }
    return done();
}

// A service that answers every "status" and "events" at event number `sequence`.
inline void serveIdle(FakeServiceClient &client, std::uint64_t sequence)
{
    client.always(QStringLiteral("status"), reply(status({.sequence = sequence})));
    client.always(QStringLiteral("events"), reply(events({}, sequence)));
}

// The model on the stand-in service: commands travel over a real control socket and
// the stand-in records every request line. The model starts from the status the
// stand-in reports, installed at once.
class StandinModel {
public:
    // `script` holds any further keys of the stand-in's script.
    explicit StandinModel(const QJsonObject &status, QJsonObject script = {})
    {
        script[QStringLiteral("status")] = status;
        script[QStringLiteral("lifetime")] = 60;
        standin.setScript(script);
        started = standin.start();
        fixture.serviceClient = std::make_shared<ServiceClient>(standin.runtimeDir());
        install(fixture.model(), status);
    }

    // A command still in flight would resume on a model that is gone: let it end.
    ~StandinModel() { settle(); }

    AppModel &model() { return fixture.model(); }

    // Waits until no command is in flight (the bound only stops one that is stuck).
    bool settle(int milliseconds = 20000)
    {
        return QTest::qWaitFor([this] { return !model().mutating(); }, milliseconds);
    }

    // The request lines other than a refresh's ("events", "status"), each transfer
    // id of 32 hexadecimal digits written as "ID".
    QStringList sent() const
    {
        static const QRegularExpression transfer(QStringLiteral("\"id\":\"[0-9a-f]{32}\""));
        QStringList lines;
        for (const QByteArray &line : standin.recorded()) {
            if (!line.startsWith(R"({"op":"status")") && !line.startsWith(R"({"op":"events")"))
                lines << QString::fromUtf8(line).replace(transfer, QStringLiteral("\"id\":\"ID\""));
        }
        return lines;
    }

    // sent() after queued work ran for a moment.
    QStringList sentAfterAWhile(int milliseconds = 150)
    {
        QTest::qWait(milliseconds);
        return sent();
    }

    Standin standin;
    ModelFixture fixture;
    bool started = false;
};

// The reply and record spellings of the first window tests, on the builder.
namespace wire {
inline QByteArray ok(const QJsonValue &result) { return reply(result); }
inline QByteArray done() { return reply(); }
inline QJsonObject peer(const QString &id, const QString &name, const QString &pairingCode = QStringLiteral("111111"),
                        bool choiceRequired = false)
{
    auto made = test::peer(id).named(name).with("pairing_code", pairingCode);
    return choiceRequired ? made.choosing(pairingCode) : made;
}
inline QJsonObject status(const QJsonArray &peers = {}, std::uint64_t sequence = 0, const QStringList &capabilities = {},
                          const QJsonArray &remembered = {})
{
    return test::status({.peers = peers, .remembered = remembered, .capabilities = capabilities, .sequence = sequence});
}
} // namespace wire

} // namespace test

} // namespace cv

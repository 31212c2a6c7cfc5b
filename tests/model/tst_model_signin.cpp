#include "follow_helpers.h"

#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

const QString defaultedKey = QStringLiteral("startAtLoginDefaulted");

ServiceError down() { return ServiceError::unavailable(QStringLiteral("The background service is unavailable: Connection refused.")); }

// An installed application whose service is running and answering.
struct SignIn {
    SignIn(LoginItemStatus agent = LoginItemStatus::notRegistered)
    {
        f.bundle = installed.bundle();
        f.loginItems.agentItem->setStatus(agent);
        f.launchctl.output = "state = running\n";
        AppModel &m = f.model();
        m.setConnected(true);
        m.setStarting(false);
        f.host->refreshLogin();
        QObject::connect(&m, &AppModel::mutatingChanged, &context, [this, &m] { mutating << m.mutating(); });
        f.client->always(QStringLiteral("quit"), wire::done());
        // Once after "quit" the service is gone, then it answers again.
        f.client->queueError(QStringLiteral("status"), down());
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 3)));
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({}, 3)));
    }

    AppModel &model() { return f.model(); }
    QStringList ops() const { return f.client->ops(); }

    InstalledBundle installed;
    ModelFixture f;
    QObject context;
    QList<bool> mutating;
};

} // namespace

class ModelSignInTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(!developmentVariablesSet()); }

    void setStartAtLogin_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QStringList>("ops");
        QTest::addColumn<QString>("error");
        const QStringList none;
        const QString prefix = QStringLiteral("Couldn't change start at sign-in: ");
        QTest::newRow("already on") << true << true << "" << none << QString();
        QTest::newRow("already off") << false << false << "" << none << QString();
        // Stopped, registered (the system starts the agent), refreshed.
        QTest::newRow("turn on") << false << true << "" << QStringList{"quit", "status", "status"} << QString();
        // Stopped, unregistered, brought up the usual way (it answers at once, which
        // sets the event cursor), refreshed.
        QTest::newRow("turn off") << true << false << ""
                                  << QStringList{"quit", "status", "status", "events", "status"} << QString();
        // A failed change replaces the error; the service is brought up again and
        // refreshed; the registration is as it was.
        const QStringList restarted{"status", "events", "status"};
        QTest::newRow("service did not stop") << false << true << "stop" << restarted
                                              << prefix + "The background service didn’t stop.";
        QTest::newRow("quit refused") << false << true << "quit" << restarted << prefix + "Not now.";
        QTest::newRow("registration refused") << false << true << "register" << restarted
                                              << prefix + "Operation not permitted";
    }

    void setStartAtLogin()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, on);
        QFETCH(QString, failure);
        QFETCH(QStringList, ops);
        QFETCH(QString, error);
        SignIn s(enabled ? LoginItemStatus::enabled : LoginItemStatus::notRegistered);
        AppModel &m = s.model();
        QCOMPARE(s.f.host->loginEnabled(), enabled);
        m.setError(QStringLiteral("an older error"));
        if (failure == "stop") {
            s.f.client->clear(QStringLiteral("status"));
            s.f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 3)));
        }
        if (failure == "quit")
            s.f.client->always(QStringLiteral("quit"), wire::refused(QStringLiteral("Not now.")));
        if (failure == "register")
            s.f.loginItems.agentItem->registerError = QStringLiteral("Operation not permitted");
        run(m.setStartAtLogin(on));
        // After a failure, the last requests are the start-up's and the refresh's.
        QCOMPARE(failure.isEmpty() ? s.ops() : s.ops().mid(s.ops().size() - 3), ops);
        QCOMPARE(s.f.host->loginEnabled(), error.isNull() ? on : enabled);
        QCOMPARE(m.error(), std::optional<QString>(error.isNull() ? QStringLiteral("an older error") : error));
        QCOMPARE(s.mutating, (enabled == on ? QList<bool>{} : QList<bool>{true, false}));
        QCOMPARE(s.f.loginItems.agentItem->registerCalls, (on && !enabled && (failure.isEmpty() || failure == "register")) ? 1 : 0);
        QCOMPARE(s.f.loginItems.agentItem->unregisterCalls, (enabled && !on) ? 1 : 0);
        QVERIFY(s.f.launcher.launches.isEmpty() || !failure.isEmpty());
        QVERIFY(m.connected());
    }

    void refusedWhileBusy_data()
    {
        QTest::addColumn<QString>("why");
        QTest::newRow("command in flight") << "mutating";
        QTest::newRow("not connected") << "disconnected";
        QTest::newRow("service busy") << "control busy";
        QTest::newRow("development run") << "development";
        QTest::newRow("no agent") << "no agent";
    }

    void refusedWhileBusy()
    {
        QFETCH(QString, why);
        std::optional<ScopedEnv> development;
        if (why == "development")
            development.emplace("CV_MAC_STATE_DIR", QByteArrayLiteral("/tmp/state"));
        SignIn s;
        AppModel &m = s.model();
        m.setMutating(why == "mutating");
        m.setConnected(why != "disconnected");
        if (why == "control busy") {
            QJsonObject busy = wire::status({}, 1);
            busy.insert(QStringLiteral("control_busy"), true);
            s.f.client->clear(QStringLiteral("status"));
            s.f.client->always(QStringLiteral("status"), wire::ok(busy));
            run(m.refresh());
            s.f.client->requests.clear();
        }
        if (why == "no agent")
            s.f.bundle = AppBundle(s.f.bundle.executablePath(), AppBundle::defaultInfo());
        s.mutating.clear();
        run(m.setStartAtLogin(true));
        QVERIFY(s.f.client->requests.isEmpty());
        QVERIFY(s.mutating.isEmpty());
        // The automatic attempt does nothing either, and leaves the key unwritten when
        // it could not be tried.
        run(AppModelAccess::startAtLoginByDefault(m));
        if (why == "development" || why == "no agent" || why == "disconnected")
            QVERIFY(!s.f.defaults->stored().contains(defaultedKey));
        QCOMPARE(s.f.loginItems.agentItem->registerCalls, 0);
    }

    void byDefault_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QStringList>("ops");
        QTest::addColumn<bool>("defaulted");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("error"); // the error shown afterwards
        const QString older = QStringLiteral("an older error");
        QTest::newRow("first launch") << "" << QStringList{"quit", "status", "status"} << true << true << older;
        // Tried again at the next launch.
        QTest::newRow("no service yet") << "disconnected" << QStringList{} << false << false << older;
        QTest::newRow("second launch") << "defaulted" << QStringList{} << true << false << older;
        QTest::newRow("already enabled") << "enabled" << QStringList{} << true << true << older;
        QTest::newRow("waiting for approval") << "requires approval" << QStringList{} << true << false << older;
        // Registered, found waiting for approval, unregistered again, and the service
        // brought up as before; the earlier error stays.
        QTest::newRow("approval needed after registering") << "approval after register"
                                                           << QStringList{"quit", "status", "status", "status"} << true
                                                           << false << older;
        // A failed automatic attempt shows nothing, and leaves no error behind.
        QTest::newRow("registration refused") << "register fails" << QStringList{"quit", "status", "status", "events", "status"}
                                              << true << false << older;
        QTest::newRow("registration refused, no error") << "register fails quietly"
                                                        << QStringList{"quit", "status", "status", "events", "status"}
                                                        << true << false << QString();
    }

    void byDefault()
    {
        QFETCH(QString, situation);
        QFETCH(QStringList, ops);
        QFETCH(bool, defaulted);
        QFETCH(bool, enabled);
        QFETCH(QString, error);
        SignIn s(situation == "enabled"             ? LoginItemStatus::enabled
                     : situation == "requires approval" ? LoginItemStatus::requiresApproval
                                                        : LoginItemStatus::notRegistered);
        auto agent = s.f.loginItems.agentItem;
        if (situation == "defaulted")
            s.f.defaults->setBool(defaultedKey, true);
        if (situation == "approval after register")
            agent->statusAfterRegister = LoginItemStatus::requiresApproval;
        if (situation.startsWith("register fails"))
            agent->registerError = QStringLiteral("Operation not permitted");
        AppModel &m = s.model();
        m.setConnected(situation != "disconnected");
        m.setError(error.isNull() ? std::nullopt : std::optional<QString>(error));
        const int writesBefore = s.f.defaults->writes().size();
        run(AppModelAccess::startAtLoginByDefault(m));
        QCOMPARE(s.ops(), ops);
        QCOMPARE(s.f.defaults->stored().value(defaultedKey) == QStringLiteral("true"), defaulted);
        if (situation == "disconnected")
            QCOMPARE(s.f.defaults->writes().size(), writesBefore);
        QCOMPARE(s.f.host->loginEnabled(), enabled);
        QCOMPARE(m.error(), error.isNull() ? std::nullopt : std::optional<QString>(error));
        QCOMPARE(s.mutating, (ops.isEmpty() ? QList<bool>{} : QList<bool>{true, false}));
        if (situation == "approval after register") {
            QCOMPARE(agent->unregisterCalls, 1);
            QCOMPARE(agent->currentStatus(), LoginItemStatus::notRegistered);
        }
        QCOMPARE(agent->registerCalls, ops.isEmpty() ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(ModelSignInTest)
#include "tst_model_signin.moc"

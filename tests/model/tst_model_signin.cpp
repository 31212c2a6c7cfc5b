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

    void alreadyInThatState_data()
    {
        QTest::addColumn<bool>("on");
        QTest::newRow("on") << true;
        QTest::newRow("off") << false;
    }

    void alreadyInThatState()
    {
        QFETCH(bool, on);
        SignIn s(on ? LoginItemStatus::enabled : LoginItemStatus::notRegistered);
        QCOMPARE(s.f.host->loginEnabled(), on);
        run(s.model().setStartAtLogin(on));
        QVERIFY(s.f.client->requests.isEmpty());
        QVERIFY(s.mutating.isEmpty());
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
        if (why == "mutating")
            m.setMutating(true);
        if (why == "disconnected")
            m.setConnected(false);
        if (why == "control busy") {
            QJsonObject busy = wire::status({}, 1);
            busy.insert(QStringLiteral("control_busy"), true);
            s.f.client->queue(QStringLiteral("status"), wire::ok(busy));
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
        QCOMPARE(s.f.loginItems.agentItem->registerCalls, 0);

        // The automatic attempt does nothing either, and leaves the key unwritten when
        // it could not be tried.
        run(AppModelAccess::startAtLoginByDefault(m));
        if (why == "development" || why == "no agent" || why == "disconnected")
            QVERIFY(!s.f.defaults->stored().contains(defaultedKey));
        QCOMPARE(s.f.loginItems.agentItem->registerCalls, 0);
    }

    void turnOn()
    {
        SignIn s;
        AppModel &m = s.model();
        run(m.setStartAtLogin(true));
        // Stopped, registered (the system starts the agent), refreshed.
        QCOMPARE(s.f.client->ops(), (QStringList{"quit", "status", "status"}));
        QCOMPARE(s.f.loginItems.agentItem->registerCalls, 1);
        QVERIFY(s.f.host->loginEnabled());
        QVERIFY(s.f.launcher.launches.isEmpty());
        QCOMPARE(s.mutating, (QList<bool>{true, false}));
        QCOMPARE(m.error(), std::nullopt);
        QVERIFY(m.connected());
    }

    void turnOff()
    {
        SignIn s(LoginItemStatus::enabled);
        AppModel &m = s.model();
        run(m.setStartAtLogin(false));
        // Stopped, unregistered, brought up the usual way (it answers at once, which
        // sets the event cursor), refreshed.
        QCOMPARE(s.f.client->ops(), (QStringList{"quit", "status", "status", "events", "status"}));
        QCOMPARE(s.f.loginItems.agentItem->unregisterCalls, 1);
        QVERIFY(!s.f.host->loginEnabled());
        QCOMPARE(s.mutating, (QList<bool>{true, false}));
        QVERIFY(!m.starting());
    }

    void failures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("error");
        QTest::newRow("service did not stop")
            << "stop" << "Couldn't change start at sign-in: The background service didn’t stop.";
        QTest::newRow("quit refused") << "quit" << "Couldn't change start at sign-in: Not now.";
        QTest::newRow("registration refused") << "register" << "Couldn't change start at sign-in: Operation not permitted";
    }

    void failures()
    {
        QFETCH(QString, failure);
        QFETCH(QString, error);
        SignIn s;
        AppModel &m = s.model();
        m.setError(QStringLiteral("an older error"));
        if (failure == "stop") {
            s.f.client->clear(QStringLiteral("status"));
            s.f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 3)));
        }
        if (failure == "quit")
            s.f.client->always(QStringLiteral("quit"), wire::refused(QStringLiteral("Not now.")));
        if (failure == "register")
            s.f.loginItems.agentItem->registerError = QStringLiteral("Operation not permitted");
        run(m.setStartAtLogin(true));
        // A failed manual change replaces the error; the service is brought up again and
        // refreshed; the registration is as it was.
        QCOMPARE(m.error(), std::optional<QString>(error));
        QVERIFY(!s.f.host->loginEnabled());
        QCOMPARE(s.f.client->ops().mid(s.f.client->ops().size() - 3), (QStringList{"status", "events", "status"}));
        QCOMPARE(s.mutating, (QList<bool>{true, false}));
        QVERIFY(m.connected());
        if (failure != "register")
            QCOMPARE(s.f.loginItems.agentItem->registerCalls, 0);
    }

    void firstLaunchEnables()
    {
        SignIn s;
        AppModel &m = s.model();
        run(AppModelAccess::startAtLoginByDefault(m));
        QCOMPARE(s.f.defaults->stored().value(defaultedKey), QStringLiteral("true"));
        QCOMPARE(s.f.client->ops(), (QStringList{"quit", "status", "status"}));
        QVERIFY(s.f.host->loginEnabled());
        QCOMPARE(s.mutating, (QList<bool>{true, false}));
    }

    void firstLaunchWithoutService()
    {
        SignIn s;
        AppModel &m = s.model();
        m.setConnected(false);
        run(AppModelAccess::startAtLoginByDefault(m));
        // Tried again at the next launch.
        QVERIFY(s.f.defaults->writes().isEmpty());
        QVERIFY(s.f.client->requests.isEmpty());
    }

    void secondLaunch()
    {
        SignIn s;
        s.f.defaults->setBool(defaultedKey, true);
        AppModel &m = s.model();
        run(AppModelAccess::startAtLoginByDefault(m));
        QVERIFY(s.f.client->requests.isEmpty());
        QCOMPARE(s.f.loginItems.agentItem->registerCalls, 0);
    }

    void alreadyEnabledOrWaiting_data()
    {
        QTest::addColumn<int>("agent");
        QTest::newRow("enabled") << int(LoginItemStatus::enabled);
        QTest::newRow("needs approval") << int(LoginItemStatus::requiresApproval);
    }

    void alreadyEnabledOrWaiting()
    {
        QFETCH(int, agent);
        SignIn s{LoginItemStatus(agent)};
        AppModel &m = s.model();
        run(AppModelAccess::startAtLoginByDefault(m));
        QCOMPARE(s.f.defaults->stored().value(defaultedKey), QStringLiteral("true"));
        QVERIFY(s.f.client->requests.isEmpty());
        QVERIFY(s.mutating.isEmpty());
    }

    void approvalNeededIsUndone()
    {
        SignIn s;
        s.f.loginItems.agentItem->statusAfterRegister = LoginItemStatus::requiresApproval;
        AppModel &m = s.model();
        m.setError(QStringLiteral("an older error"));
        run(AppModelAccess::startAtLoginByDefault(m));
        // Registered, found waiting for approval, unregistered again, and the service
        // brought up as before.
        QCOMPARE(s.f.loginItems.agentItem->registerCalls, 1);
        QCOMPARE(s.f.loginItems.agentItem->unregisterCalls, 1);
        QCOMPARE(s.f.loginItems.agentItem->currentStatus(), LoginItemStatus::notRegistered);
        QCOMPARE(s.f.client->ops(), (QStringList{"quit", "status", "status", "status"}));
        QCOMPARE(m.error(), std::optional<QString>(QStringLiteral("an older error")));
        QCOMPARE(s.f.defaults->stored().value(defaultedKey), QStringLiteral("true"));
        QVERIFY(m.connected());
    }

    void failedAutomaticAttemptKeepsTheError_data()
    {
        QTest::addColumn<std::optional<QString>>("before");
        QTest::newRow("an error shown") << std::optional<QString>(QStringLiteral("an older error"));
        QTest::newRow("no error") << std::optional<QString>();
    }

    void failedAutomaticAttemptKeepsTheError()
    {
        QFETCH(std::optional<QString>, before);
        SignIn s;
        s.f.loginItems.agentItem->registerError = QStringLiteral("Operation not permitted");
        AppModel &m = s.model();
        m.setError(before);
        run(AppModelAccess::startAtLoginByDefault(m));
        QCOMPARE(m.error(), before);
        QCOMPARE(s.f.defaults->stored().value(defaultedKey), QStringLiteral("true"));
        QCOMPARE(s.mutating, (QList<bool>{true, false}));
    }
};

QTEST_GUILESS_MAIN(ModelSignInTest)
#include "tst_model_signin.moc"

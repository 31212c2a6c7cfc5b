// The login agent: whether it can be registered, its state from launchctl, switching
// it on and off, and repairing an agent that could not start.
#include "host_support.h"

#include "platform/launchctl.h"
#include "platform/login_items.h"

#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

using namespace cv;
using namespace cv::test;

Q_DECLARE_METATYPE(cv::LoginItemStatus)

namespace {

const QString installedText = QStringLiteral("invalid: Use an installed app bundle to configure login startup.");
const QString availableText = QStringLiteral("Available in the installed app.");
const QString approvalDetail = QStringLiteral("Allow Corvane in System Settings → General → Login Items & Extensions.");
const QString unavailableDetail = QStringLiteral("The installed app’s background service is unavailable.");
const QString runsDetail = QStringLiteral("Runs in the background and reconnects automatically when you plug in.");
const QString agentTarget = QStringLiteral("gui/%1/app.corvane.Corvane.service").arg(::getuid());
const QByteArray repairMarker = "\n--- The background service couldn't start from sign-in; registering it again at "
                                "2026-03-02 08:07:06 +0000 ---\n";

} // namespace

class LoginAgentTest : public HostFixture {
    Q_OBJECT
public:
    LoginAgentTest() : HostFixture(QDateTime(QDate(2026, 3, 2), QTime(8, 7, 6), Qt::UTC)) {}

private slots:
    void init() { reset(); }
    void cleanup() { endChildren(); }

    void notRegistrable_data()
    {
        QTest::addColumn<QString>("why");
        QTest::newRow("build tree") << "build tree";
        QTest::newRow("development variable") << "variable";
        QTest::newRow("empty development variable") << "empty variable";
        QTest::newRow("no agent plist") << "no plist";
    }
    void notRegistrable()
    {
        QFETCH(QString, why);
        agent().setStatus(LoginItemStatus::enabled);
        AppBundle bundle = packaged_;
        if (why == "build tree")
            bundle = AppBundle(QStringLiteral("/work/build/src/app/corvane"),
                               {{"CVServiceAgentPlist", "a.plist"}, {"CFBundleIdentifier", "app.corvane.Corvane"}});
        if (why == "variable")
            qputenv("CV_MAC_RUNTIME_DIR", "/tmp/somewhere");
        if (why == "empty variable")
            qputenv("CV_MAC_NFS_HELPER", "");
        if (why == "no plist")
            bundle = prefix_.bundle(false);
        const auto host = makeHost(bundle);
        QVERIFY(!host->canRegister());
        QVERIFY(!host->needsApproval());
        QVERIFY(!host->agentManaged());
        QVERIFY(!host->agentStopped());
        host->refreshLogin();
        QCOMPARE(host->loginEnabled(), false);
        QCOMPARE(host->loginDetail(), availableText);
        QCOMPARE(outcome(host->setLogin(true)).error, installedText);
        QCOMPARE(outcome(host->setLogin(false)).error, installedText);
        QCOMPARE(host->loginBusy(), false);
        QCOMPARE(outcome(host->repairAgent()).value, false);
        QCOMPARE(agent().registerCalls + agent().unregisterCalls, 0);
        QVERIFY(launchctl_.calls.isEmpty());
        host->openLoginSettings(); // the settings open all the same
        QCOMPARE(items_.settingsOpened, 1);
    }

    void refreshLogin_data()
    {
        QTest::addColumn<LoginItemStatus>("status");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("detail");
        QTest::newRow("not registered") << LoginItemStatus::notRegistered << false << runsDetail;
        QTest::newRow("enabled") << LoginItemStatus::enabled << true << runsDetail;
        QTest::newRow("requires approval") << LoginItemStatus::requiresApproval << false << approvalDetail;
        QTest::newRow("not found") << LoginItemStatus::notFound << false << unavailableDetail;
        QTest::newRow("unknown value") << LoginItemStatus(9) << false << runsDetail;
    }
    void refreshLogin()
    {
        QFETCH(LoginItemStatus, status);
        QFETCH(bool, enabled);
        QFETCH(QString, detail);
        agent().setStatus(status);
        const auto host = makeHost(packaged_);
        QVERIFY(host->canRegister());
        QCOMPARE(host->needsApproval(), status == LoginItemStatus::requiresApproval);
        QSignalSpy enabledSpy(host.get(), &ServiceHost::loginEnabledChanged);
        QSignalSpy detailSpy(host.get(), &ServiceHost::loginDetailChanged);
        host->refreshLogin();
        QCOMPARE(host->loginEnabled(), enabled);
        QCOMPARE(host->property("loginDetail").toString(), detail);
        // Every assignment is announced, even of an unchanged value.
        host->refreshLogin();
        QCOMPARE(enabledSpy.size(), 2);
        QCOMPARE(detailSpy.size(), 2);
        QCOMPARE(enabledSpy.last().first().toBool(), enabled);
        QCOMPARE(detailSpy.last().first().toString(), detail);
    }

    void agentStopped_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("stopped");
        QTest::newRow("running, tab-indented")
            << QByteArray("gui/501/app.corvane.Corvane.service = {\n\tactive count = 1\n\tstate = running\n}\n") << 0 << false;
        QTest::newRow("running, spaces around") << QByteArray("  state = running   \n") << 0 << false;
        QTest::newRow("running, tabs and spaces") << QByteArray("x\n \t state = running\t \n") << 0 << false;
        QTest::newRow("running, no-break space") << QByteArray("\xc2\xa0state = running\n") << 0 << false;
        QTest::newRow("running, last line without feed") << QByteArray("a = b\nstate = running") << 0 << false;
        QTest::newRow("trailing text") << QByteArray("\tstate = running (pid 12)\n") << 0 << true;
        QTest::newRow("text before it") << QByteArray("\tsub state = running\n") << 0 << true;
        QTest::newRow("carriage return is not blank") << QByteArray("state = running\r\n") << 0 << true;
        QTest::newRow("not running") << QByteArray("\tstate = not running\n") << 0 << true;
        QTest::newRow("empty") << QByteArray() << 0 << true;
        QTest::newRow("non-zero exit") << QByteArray("\tstate = running\n") << 113 << true;
    }
    void agentStopped()
    {
        QFETCH(QByteArray, output);
        QFETCH(int, status);
        QFETCH(bool, stopped);
        agent().setStatus(LoginItemStatus::enabled);
        launchctl_.output = output;
        launchctl_.status = status;
        QCOMPARE(makeHost(packaged_)->agentStopped(), stopped);
        QCOMPARE(launchctl_.calls.size(), 1);
        QCOMPARE(launchctl_.calls.first().verbs, QStringList{"print"});
        QCOMPARE(launchctl_.calls.first().target, agentTarget);
        QCOMPARE(launchctl_.calls.first().capture, true);
    }

    void agentStoppedOnErrors()
    {
        agent().setStatus(LoginItemStatus::enabled);
        launchctl_.launchError = QStringLiteral("cannot launch");
        QVERIFY(makeHost(packaged_)->agentStopped());
        launchctl_.launchError.reset();
        launchctl_.output = "state = running\n";
        const AppBundle noIdentifier = prefix_.bundle(true, false);
        QVERIFY(makeHost(noIdentifier)->agentStopped());
        QCOMPARE(launchctl_.calls.size(), 1); // only the first reached launchctl
        // Not managed: no launchctl at all.
        agent().setStatus(LoginItemStatus::notRegistered);
        QVERIFY(!makeHost(packaged_)->agentStopped());
        QCOMPARE(launchctl_.calls.size(), 1);
    }

    // setLogin: what it registers and unregisters, its error, and the state it leaves.
    void setLogin_data()
    {
        QTest::addColumn<bool>("enable");
        QTest::addColumn<LoginItemStatus>("agentBefore");
        QTest::addColumn<LoginItemStatus>("appBefore");
        QTest::addColumn<QString>("failing"); // "register", "unregister" or "app"
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("appUnregisters");
        QTest::addColumn<int>("registers");
        QTest::addColumn<int>("unregisters");
        QTest::addColumn<bool>("enabled");
        const auto off = LoginItemStatus::notRegistered;
        const auto on = LoginItemStatus::enabled;
        const auto approval = LoginItemStatus::requiresApproval;
        const auto notFound = LoginItemStatus::notFound;
        QTest::newRow("enable") << true << off << off << "" << "" << 0 << 1 << 0 << true;
        QTest::newRow("enable enabled: the app's own item still goes")
            << true << on << on << "" << "" << 1 << 0 << 0 << true;
        QTest::newRow("enable enabled, app item needs approval") << true << on << approval << "" << "" << 1 << 0 << 0 << true;
        QTest::newRow("enable enabled, nothing else") << true << on << off << "" << "" << 0 << 0 << 0 << true;
        QTest::newRow("enable, requires approval") << true << approval << notFound << "" << "" << 1 << 1 << 0 << true;
        QTest::newRow("enable, app item failure ignored") << true << off << on << "app" << "" << 1 << 1 << 0 << true;
        QTest::newRow("enable fails") << true << off << off << "register" << "platform: Operation not permitted" << 0
                                      << 1 << 0 << false;
        QTest::newRow("disable") << false << on << on << "" << "" << 0 << 0 << 1 << false;
        QTest::newRow("disable, requires approval") << false << approval << off << "" << "" << 0 << 0 << 1 << false;
        QTest::newRow("disable, not found") << false << notFound << off << "" << "" << 0 << 0 << 1 << false;
        QTest::newRow("disable, not registered") << false << off << off << "" << "" << 0 << 0 << 0 << false;
        QTest::newRow("disable fails") << false << on << off << "unregister" << "platform: Operation not permitted"
                                       << 0 << 0 << 1 << true;
    }
    void setLogin()
    {
        QFETCH(bool, enable);
        QFETCH(LoginItemStatus, agentBefore);
        QFETCH(LoginItemStatus, appBefore);
        QFETCH(QString, failing);
        QFETCH(QString, error);
        QFETCH(int, appUnregisters);
        QFETCH(int, registers);
        QFETCH(int, unregisters);
        QFETCH(bool, enabled);
        agent().setStatus(agentBefore);
        app().setStatus(appBefore);
        const QString systemText = QStringLiteral("Operation not permitted");
        (failing == "register" ? agent().registerError
                               : failing == "unregister" ? agent().unregisterError : app().unregisterError) =
            failing.isEmpty() ? std::nullopt : std::optional(systemText);
        const auto host = makeHost(packaged_);
        QSignalSpy busy(host.get(), &ServiceHost::loginBusyChanged);
        QSignalSpy detail(host.get(), &ServiceHost::loginDetailChanged);
        // The system's error comes through unchanged.
        QCOMPARE(outcome(host->setLogin(enable)).error, error.isEmpty() ? std::nullopt : std::optional(error));
        QCOMPARE(app().unregisterCalls, appUnregisters);
        QCOMPARE(agent().registerCalls, registers);
        QCOMPARE(agent().unregisterCalls, unregisters);
        // Busy while it ran, then cleared, and refreshed once, failure or not.
        QCOMPARE(busy.size(), 2);
        QCOMPARE(busy.at(0).first().toBool(), true);
        QCOMPARE(host->loginBusy(), false);
        QCOMPARE(detail.size(), 1);
        QCOMPARE(host->loginEnabled(), enabled);
    }

    void refusedWhileBusy()
    {
        agent().setStatus(LoginItemStatus::enabled);
        agent().holdUnregister = true;
        const auto host = makeHost(packaged_);
        QCoro::Task<> first = host->setLogin(false);
        QVERIFY(!first.isReady());
        QCOMPARE(agent().unregisterWaiting, 1);
        QSignalSpy busy(host.get(), &ServiceHost::loginBusyChanged);
        QCOMPARE(outcome(host->setLogin(true)).error, installedText);
        QCOMPARE(outcome(host->setLogin(false)).error, installedText);
        QCOMPARE(host->loginBusy(), true); // still the first one's
        QCOMPARE(busy.size(), 0);
        QCOMPARE(agent().unregisterCalls, 1);

        agent().release();
        QCOMPARE(outcome(std::move(first)).error, std::nullopt);
        QCOMPARE(host->loginBusy(), false);
        QCOMPARE(host->loginEnabled(), false);
        QCOMPARE(outcome(host->setLogin(true)).error, std::nullopt); // free again
        QCOMPARE(host->loginEnabled(), true);
    }

    void repairAgent_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("result");
        QTest::addColumn<bool>("marker");
        QTest::addColumn<int>("registers");
        QTest::addColumn<int>("kickstarts");
        QTest::newRow("stopped agent: registered again and kickstarted") << "" << true << true << 1 << 1;
        QTest::newRow("registration ends in approval") << "approval" << false << true << 1 << 0;
        QTest::newRow("register throws") << "register" << false << true << 1 << 0;
        QTest::newRow("unregister throws: ignored") << "unregister" << true << true << 1 << 1;
        QTest::newRow("launchctl fails: counts as stopped, kickstart fails") << "launchctl" << false << true << 1 << 1;
        QTest::newRow("running agent left alone") << "running" << false << false << 0 << 0;
        QTest::newRow("a running child: no agent to repair") << "child" << false << false << 0 << 0;
        QTest::newRow("no service log: no marker written") << "no log" << true << false << 1 << 1;
    }
    void repairAgent()
    {
        QFETCH(QString, setup);
        QFETCH(bool, result);
        QFETCH(bool, marker);
        QFETCH(int, registers);
        QFETCH(int, kickstarts);
        agent().setStatus(LoginItemStatus::enabled);
        launchctl_.output = setup == "running" ? "\tstate = running\n" : "\tstate = waiting\n";
        if (setup == "approval")
            agent().statusAfterRegister = LoginItemStatus::requiresApproval;
        if (setup == "register" || setup == "unregister")
            (setup == "register" ? agent().registerError : agent().unregisterError) = QStringLiteral("no");
        if (setup == "launchctl")
            launchctl_.launchError = QStringLiteral("no launchctl");
        const auto host = makeHost(packaged_);
        if (setup == "child")
            host->start(true);
        if (setup != "no log")
            QVERIFY(writeFile(serviceLog(), "service output"));
        QSignalSpy detail(host.get(), &ServiceHost::loginDetailChanged);

        QCOMPARE(outcome(host->repairAgent()).value, result);
        QCOMPARE(readFile(serviceLog()), setup == "no log" ? QByteArray() : "service output" + (marker ? repairMarker : ""));
        QCOMPARE(agent().registerCalls, registers);
        QCOMPARE(agent().unregisterCalls, registers);
        int kicked = 0;
        for (const FakeLaunchctl::Call &call : launchctl_.calls) {
            kicked += call.verbs == QStringList{"kickstart"};
            QCOMPARE(call.target, agentTarget);
            QCOMPARE(call.capture, call.verbs != QStringList{"kickstart"});
        }
        QCOMPARE(kicked, kickstarts);
        QCOMPARE(detail.size(), registers); // refreshed once it tried registering again
        if (setup == "approval") {
            QCOMPARE(host->loginDetail(), approvalDetail);
            QVERIFY(host->needsApproval());
        }
        QCOMPARE(QFileInfo::exists(serviceLogFolder()), setup != "no log");
    }

    // The real platform pieces in a build tree without a session bus: no agent is
    // offered and the service manager cannot be reached.
    void linuxPlatform()
    {
        const auto host = makeHost(buildTree_, true);
        QVERIFY(!host->canRegister());
        QVERIFY(!host->needsApproval());
        QVERIFY(!host->agentManaged());
        QVERIFY(!host->agentStopped());
        host->refreshLogin();
        QCOMPARE(host->loginDetail(), availableText);
        QCOMPARE(outcome(host->setLogin(true)).error, installedText);
        QCOMPARE(outcome(host->repairAgent()).value, false);
        QVERIFY(!LoginItemService::system().agent(QStringLiteral("app.corvane.Corvane.service")));
        QCOMPARE(LoginItemService::system().mainApp()->status(), LoginItemStatus::notRegistered);
        QVERIFY(errorOf([] { Launchctl::system().run({QStringLiteral("print")}, QStringLiteral("gui/1/x"), true); }));
    }
};

QTEST_GUILESS_MAIN(LoginAgentTest)
#include "tst_login_agent.moc"

#include "host_support.h"

#include "fake_child.h"
#include "fake_clock.h"
#include "fake_login_items.h"
#include "service/service_error.h"
#include "service/service_host.h"

#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

using namespace cv;
using namespace cv::test;

Q_DECLARE_METATYPE(cv::LoginItemStatus)

namespace {

const QString installedText = QStringLiteral("Use an installed app bundle to configure login startup.");
const QString availableText = QStringLiteral("Available in the installed app.");
const QString approvalDetail = QStringLiteral("Allow Corvane in System Settings → General → Login Items & Extensions.");
const QString unavailableDetail = QStringLiteral("The installed app’s background service is unavailable.");
const QString runsDetail = QStringLiteral("Runs in the background and reconnects automatically when you plug in.");

} // namespace

class LoginAgentTest : public QObject {
    Q_OBJECT

    FakeClock clock_ {1000.0, QDateTime(QDate(2026, 3, 2), QTime(8, 7, 6), Qt::UTC)};
    InstalledPrefix prefix_;
    AppBundle bundle_ = prefix_.bundle(true);
    FakeChildLauncher launcher_;
    FakeLoginItemService items_;
    FakeLaunchctl launchctl_;

    std::unique_ptr<ServiceHost> makeHost(const AppBundle *bundle = nullptr)
    {
        ServiceHost::Platform platform;
        platform.launcher = &launcher_;
        platform.loginItems = &items_;
        platform.launchctl = &launchctl_;
        platform.bundle = bundle ? bundle : &bundle_;
        platform.clock = &clock_;
        return std::make_unique<ServiceHost>(platform);
    }

    FakeLoginItem &agent() { return *items_.agentItem; }
    FakeLoginItem &app() { return *items_.appItem; }

private slots:
    void init()
    {
        clearServiceEnvironment();
        prefix_.installService();
        items_ = FakeLoginItemService();
        launchctl_ = FakeLaunchctl();
        launcher_.launches.clear();
        launcher_.launchError.reset();
        QDir(QDir::homePath() + QStringLiteral("/Library")).removeRecursively();
    }

    void cleanup() { clearServiceEnvironment(); }

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
        AppBundle bundle = bundle_;
        if (why == QLatin1String("build tree"))
            bundle = AppBundle(QStringLiteral("/work/build/src/app/corvane"),
                               {{"CVServiceAgentPlist", "a.plist"}, {"CFBundleIdentifier", "app.corvane.Corvane"}});
        if (why == QLatin1String("variable"))
            qputenv("CV_MAC_RUNTIME_DIR", "/tmp/somewhere");
        if (why == QLatin1String("empty variable"))
            qputenv("CV_MAC_NFS_HELPER", "");
        if (why == QLatin1String("no plist"))
            bundle = prefix_.bundle(false);
        auto host = makeHost(&bundle);

        QVERIFY(!host->canRegister());
        QVERIFY(!host->needsApproval());
        QVERIFY(!host->agentManaged());
        QVERIFY(!host->agentStopped());
        QVERIFY(launchctl_.calls.isEmpty());

        QSignalSpy details(host.get(), &ServiceHost::loginDetailChanged);
        host->refreshLogin();
        QCOMPARE(host->loginEnabled(), false);
        QCOMPARE(host->loginDetail(), availableText);
        QCOMPARE(details.size(), 1);

        QCOMPARE(errorOf(host->setLogin(true)), installedText);
        QCOMPARE(errorOf(host->setLogin(false)), installedText);
        QCOMPARE(host->loginBusy(), false);
        QCOMPARE(agent().registerCalls + agent().unregisterCalls, 0);
        QCOMPARE(QCoro::waitFor(host->repairAgent()), false);
        QCOMPARE(agent().registerCalls + agent().unregisterCalls, 0);
    }

    void refreshLogin_data()
    {
        QTest::addColumn<LoginItemStatus>("status");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<bool>("approval");
        QTest::newRow("not registered") << LoginItemStatus::notRegistered << false << runsDetail << false;
        QTest::newRow("enabled") << LoginItemStatus::enabled << true << runsDetail << false;
        QTest::newRow("requires approval") << LoginItemStatus::requiresApproval << false << approvalDetail << true;
        QTest::newRow("not found") << LoginItemStatus::notFound << false << unavailableDetail << false;
        QTest::newRow("unknown value") << LoginItemStatus(9) << false << runsDetail << false;
    }

    void refreshLogin()
    {
        QFETCH(LoginItemStatus, status);
        QFETCH(bool, enabled);
        QFETCH(QString, detail);
        QFETCH(bool, approval);
        agent().setStatus(status);
        auto host = makeHost();
        QVERIFY(host->canRegister());
        QCOMPARE(host->needsApproval(), approval);
        QCOMPARE(host->loginDetail(), QString());

        QSignalSpy enabledSpy(host.get(), &ServiceHost::loginEnabledChanged);
        QSignalSpy detailSpy(host.get(), &ServiceHost::loginDetailChanged);
        host->refreshLogin();
        QCOMPARE(host->loginEnabled(), enabled);
        QCOMPARE(host->loginDetail(), detail);
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
        QTest::newRow("spawn scheduled") << QByteArray("\tstate = spawn scheduled\n") << 0 << true;
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
        auto host = makeHost();
        QCOMPARE(host->agentStopped(), stopped);
        QCOMPARE(launchctl_.calls.size(), 1);
        QCOMPARE(launchctl_.calls.first().verbs, QStringList {"print"});
        QCOMPARE(launchctl_.calls.first().target, QStringLiteral("gui/%1/app.corvane.Corvane.service").arg(::getuid()));
        QCOMPARE(launchctl_.calls.first().capture, true);
    }

    void agentStoppedOnErrors()
    {
        agent().setStatus(LoginItemStatus::enabled);
        launchctl_.launchError = QStringLiteral("cannot launch");
        QVERIFY(makeHost()->agentStopped());

        launchctl_.launchError.reset();
        launchctl_.output = "state = running\n";
        const AppBundle noIdentifier = prefix_.bundle(true, false);
        QVERIFY(makeHost(&noIdentifier)->agentStopped());
        QCOMPARE(launchctl_.calls.size(), 1); // only the first reached launchctl

        // Not managed: no launchctl at all.
        agent().setStatus(LoginItemStatus::notRegistered);
        QVERIFY(!makeHost()->agentStopped());
        QCOMPARE(launchctl_.calls.size(), 1);
    }

    void runningChildMeansNotManaged()
    {
        agent().setStatus(LoginItemStatus::enabled);
        auto host = makeHost();
        QVERIFY(host->agentManaged());
        host->start(true);
        QCOMPARE(launcher_.launches.size(), 1);
        QVERIFY(!host->agentManaged());
        QVERIFY(!host->agentStopped());
        QVERIFY(writeFile(serviceLog(), ""));
        QCOMPARE(QCoro::waitFor(host->repairAgent()), false);
        QCOMPARE(agent().registerCalls + agent().unregisterCalls, 0);
        QVERIFY(launchctl_.calls.isEmpty());
        launcher_.launches.first().state->running = false;
        QVERIFY(host->agentManaged());
    }

    void enable_data()
    {
        QTest::addColumn<LoginItemStatus>("agentBefore");
        QTest::addColumn<LoginItemStatus>("appBefore");
        QTest::addColumn<int>("appUnregisters");
        QTest::addColumn<int>("registers");
        QTest::newRow("not registered") << LoginItemStatus::notRegistered << LoginItemStatus::notRegistered << 0 << 1;
        QTest::newRow("already enabled, app item registered")
            << LoginItemStatus::enabled << LoginItemStatus::enabled << 1 << 0;
        QTest::newRow("already enabled, app item needs approval")
            << LoginItemStatus::enabled << LoginItemStatus::requiresApproval << 1 << 0;
        QTest::newRow("already enabled, nothing else") << LoginItemStatus::enabled << LoginItemStatus::notRegistered << 0 << 0;
        QTest::newRow("requires approval") << LoginItemStatus::requiresApproval << LoginItemStatus::notFound << 1 << 1;
    }

    void enable()
    {
        QFETCH(LoginItemStatus, agentBefore);
        QFETCH(LoginItemStatus, appBefore);
        QFETCH(int, appUnregisters);
        QFETCH(int, registers);
        agent().setStatus(agentBefore);
        app().setStatus(appBefore);
        auto host = makeHost();
        QSignalSpy busy(host.get(), &ServiceHost::loginBusyChanged);
        QSignalSpy detail(host.get(), &ServiceHost::loginDetailChanged);
        QCOMPARE(errorOf(host->setLogin(true)), std::nullopt);
        QCOMPARE(app().unregisterCalls, appUnregisters);
        QCOMPARE(agent().registerCalls, registers);
        QCOMPARE(agent().unregisterCalls, 0);
        QCOMPARE(host->loginEnabled(), true);
        QCOMPARE(host->loginDetail(), runsDetail);
        QCOMPARE(host->loginBusy(), false);
        QCOMPARE(busy.size(), 2);
        QCOMPARE(busy.at(0).first().toBool(), true);
        QCOMPARE(busy.at(1).first().toBool(), false);
        QCOMPARE(detail.size(), 1);
    }

    void enableIgnoresAppItemFailure()
    {
        app().setStatus(LoginItemStatus::enabled);
        app().unregisterError = QStringLiteral("app item stuck");
        auto host = makeHost();
        QCOMPARE(errorOf(host->setLogin(true)), std::nullopt);
        QCOMPARE(agent().registerCalls, 1);
        QCOMPARE(host->loginEnabled(), true);
    }

    void enableFailureClearsBusyAndRefreshes()
    {
        agent().registerError = QStringLiteral("Operation not permitted");
        auto host = makeHost();
        QSignalSpy detail(host.get(), &ServiceHost::loginDetailChanged);
        QSignalSpy busy(host.get(), &ServiceHost::loginBusyChanged);
        // The system's error comes through unchanged.
        QCOMPARE(errorOf(host->setLogin(true)), QStringLiteral("Operation not permitted"));
        QCOMPARE(host->loginBusy(), false);
        QCOMPARE(busy.size(), 2);
        QCOMPARE(detail.size(), 1);
        QCOMPARE(host->loginDetail(), runsDetail);
        QCOMPARE(host->loginEnabled(), false);
    }

    void disable_data()
    {
        QTest::addColumn<LoginItemStatus>("agentBefore");
        QTest::addColumn<int>("unregisters");
        QTest::newRow("enabled") << LoginItemStatus::enabled << 1;
        QTest::newRow("requires approval") << LoginItemStatus::requiresApproval << 1;
        QTest::newRow("not found") << LoginItemStatus::notFound << 1;
        QTest::newRow("not registered") << LoginItemStatus::notRegistered << 0;
    }

    void disable()
    {
        QFETCH(LoginItemStatus, agentBefore);
        QFETCH(int, unregisters);
        agent().setStatus(agentBefore);
        app().setStatus(LoginItemStatus::enabled);
        auto host = makeHost();
        QSignalSpy detail(host.get(), &ServiceHost::loginDetailChanged);
        QCOMPARE(errorOf(host->setLogin(false)), std::nullopt);
        QCOMPARE(agent().unregisterCalls, unregisters);
        QCOMPARE(agent().registerCalls, 0);
        QCOMPARE(app().unregisterCalls, 0);
        QCOMPARE(host->loginEnabled(), false);
        QCOMPARE(host->loginBusy(), false);
        QCOMPARE(detail.size(), 1);
    }

    void disableFailureClearsBusyAndRefreshes()
    {
        agent().setStatus(LoginItemStatus::enabled);
        agent().unregisterError = QStringLiteral("could not unregister");
        auto host = makeHost();
        QSignalSpy detail(host.get(), &ServiceHost::loginDetailChanged);
        QCOMPARE(errorOf(host->setLogin(false)), QStringLiteral("could not unregister"));
        QCOMPARE(host->loginBusy(), false);
        QCOMPARE(detail.size(), 1);
        QCOMPARE(host->loginEnabled(), true); // refreshed from the unchanged registration
    }

    void refusedWhileBusy()
    {
        agent().setStatus(LoginItemStatus::enabled);
        agent().holdUnregister = true;
        auto host = makeHost();
        QCoro::Task<> first = host->setLogin(false);
        QVERIFY(!first.isReady());
        QCOMPARE(agent().unregisterWaiting, 1);
        QCOMPARE(host->loginBusy(), true);

        QSignalSpy busy(host.get(), &ServiceHost::loginBusyChanged);
        QCOMPARE(errorOf(host->setLogin(true)), installedText);
        QCOMPARE(errorOf(host->setLogin(false)), installedText);
        QCOMPARE(host->loginBusy(), true); // still the first one's
        QCOMPARE(busy.size(), 0);
        QCOMPARE(agent().unregisterCalls, 1);

        agent().release();
        QCOMPARE(errorOf(std::move(first)), std::nullopt);
        QCOMPARE(host->loginBusy(), false);
        QCOMPARE(host->loginEnabled(), false);
        // Free again.
        QCOMPARE(errorOf(host->setLogin(true)), std::nullopt);
        QCOMPARE(host->loginEnabled(), true);
    }

    void repairRegistersAgainAndKickstarts()
    {
        agent().setStatus(LoginItemStatus::enabled);
        launchctl_.output = "\tstate = waiting\n";
        QVERIFY(writeFile(serviceLog(), "service output"));
        auto host = makeHost();
        QSignalSpy detail(host.get(), &ServiceHost::loginDetailChanged);
        QCOMPARE(QCoro::waitFor(host->repairAgent()), true);
        QCOMPARE(readFile(serviceLog()),
                 QByteArray("service output\n--- The background service couldn't start from sign-in; "
                            "registering it again at 2026-03-02 08:07:06 +0000 ---\n"));
        QCOMPARE(agent().unregisterCalls, 1);
        QCOMPARE(agent().registerCalls, 1);
        QCOMPARE(launchctl_.calls.size(), 2);
        QCOMPARE(launchctl_.calls.at(1).verbs, QStringList {"kickstart"});
        QCOMPARE(launchctl_.calls.at(1).capture, false);
        QCOMPARE(launchctl_.calls.at(1).target, QStringLiteral("gui/%1/app.corvane.Corvane.service").arg(::getuid()));
        QCOMPARE(detail.size(), 1);
        QCOMPARE(host->loginEnabled(), true);
    }

    void repairEndingInApprovalReturnsFalse()
    {
        agent().setStatus(LoginItemStatus::enabled);
        agent().statusAfterRegister = LoginItemStatus::requiresApproval;
        QVERIFY(writeFile(serviceLog(), ""));
        auto host = makeHost();
        QCOMPARE(QCoro::waitFor(host->repairAgent()), false);
        QVERIFY(readFile(serviceLog()).contains("registering it again at 2026-03-02 08:07:06 +0000 ---\n"));
        QCOMPARE(agent().registerCalls, 1);
        QCOMPARE(launchctl_.calls.size(), 1); // the print only, no kickstart
        QCOMPARE(host->loginDetail(), approvalDetail);
        QVERIFY(host->needsApproval());
    }

    void repairFailures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("register throws") << "register";
        QTest::newRow("unregister throws (ignored)") << "unregister";
        QTest::newRow("kickstart throws") << "launch";
    }

    void repairFailures()
    {
        QFETCH(QString, failure);
        agent().setStatus(LoginItemStatus::enabled);
        if (failure == QLatin1String("register"))
            agent().registerError = QStringLiteral("no");
        if (failure == QLatin1String("unregister"))
            agent().unregisterError = QStringLiteral("no");
        if (failure == QLatin1String("launch"))
            launchctl_.launchError = QStringLiteral("no launchctl");
        auto host = makeHost();
        QSignalSpy detail(host.get(), &ServiceHost::loginDetailChanged);
        const bool result = QCoro::waitFor(host->repairAgent());
        QCOMPARE(result, failure == QLatin1String("unregister"));
        QCOMPARE(detail.size(), 1);
    }

    void repairLeavesARunningAgentAlone()
    {
        agent().setStatus(LoginItemStatus::enabled);
        launchctl_.output = "\tstate = running\n";
        QVERIFY(writeFile(serviceLog(), "x"));
        auto host = makeHost();
        QSignalSpy detail(host.get(), &ServiceHost::loginDetailChanged);
        QCOMPARE(QCoro::waitFor(host->repairAgent()), false);
        QCOMPARE(readFile(serviceLog()), QByteArray("x"));
        QCOMPARE(agent().registerCalls + agent().unregisterCalls, 0);
        QCOMPARE(detail.size(), 0);
    }

    void repairWithoutServiceLogWritesNothing()
    {
        agent().setStatus(LoginItemStatus::enabled);
        auto host = makeHost();
        QCOMPARE(QCoro::waitFor(host->repairAgent()), true);
        QVERIFY(!QFileInfo::exists(serviceLog()));
        QVERIFY(!QFileInfo::exists(serviceLogFolder()));
    }

    void openLoginSettings()
    {
        auto host = makeHost();
        host->openLoginSettings();
        QCOMPARE(items_.settingsOpened, 1);
    }

    void linuxLoginItems()
    {
        // The real platform: no agent is named, so nothing can be registered.
        const AppBundle bundle(QStringLiteral("/nowhere/bin/corvane"), AppBundle::defaultInfo());
        ServiceHost::Platform platform;
        platform.bundle = &bundle;
        ServiceHost host(platform);
        QVERIFY(!host.canRegister());
        QVERIFY(!host.needsApproval());
        QVERIFY(!host.agentStopped());
        host.refreshLogin();
        QCOMPARE(host.loginDetail(), availableText);
        QCOMPARE(errorOf(host.setLogin(true)), installedText);
        QCOMPARE(QCoro::waitFor(host.repairAgent()), false);
        host.openLoginSettings();
    }
};

QTEST_GUILESS_MAIN(LoginAgentTest)
#include "tst_login_agent.moc"

// The login agent: whether it can be registered, its state from launchctl, switching
// it on and off, and repairing an agent that could not start.
#include "host_support.h"

#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

using namespace cv;
using namespace cv::test;

Q_DECLARE_METATYPE(cv::LoginItemStatus)

namespace {

const QDateTime wall(QDate(2026, 3, 2), QTime(8, 7, 6), Qt::UTC);
const QString installedText = "invalid: Use an installed app bundle to configure login startup.";
const QString approvalDetail = "Allow Corvane in System Settings → General → Login Items & Extensions.";
const QString runsDetail = "Runs in the background and reconnects automatically when you plug in.";
using S = LoginItemStatus;
const Setup none = [](HostWorld &) {};

} // namespace

class LoginAgentTest : public QObject {
    Q_OBJECT
private slots:
    void notRegistrable_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::newRow("build tree") << Setup([](HostWorld &w) { w.bundle = w.bundleWith(HostWorld::agentInfo(), false); });
        QTest::newRow("empty development variable") << Setup([](HostWorld &) { qputenv("CV_MAC_NFS_HELPER", ""); });
        QTest::newRow("no agent plist") << Setup([](HostWorld &w) { w.bundle = w.bundleWith(AppBundle::defaultInfo()); });
    }
    void notRegistrable()
    {
        QFETCH(Setup, setup);
        HostWorld w(wall);
        w.agent().setStatus(S::enabled);
        setup(w);
        ServiceHost &host = w.host();
        QVERIFY(!host.canRegister() && !host.needsApproval() && !host.agentManaged() && !host.agentStopped());
        host.refreshLogin();
        QVERIFY(!host.loginEnabled() && host.loginDetail() == "Available in the installed app.");
        QCOMPARE(outcome(host.setLogin(true)).error, installedText);
        QCOMPARE(outcome(host.repairAgent()).value, false);
        QCOMPARE(w.agent().registerCalls + w.agent().unregisterCalls + int(w.launchctl.calls.size()), 0);
    }

    void refreshLogin_data()
    {
        QTest::addColumn<LoginItemStatus>("status");
        QTest::addColumn<QString>("expected"); // enabled, detail
        QTest::newRow("not registered") << S::notRegistered << "0 " + runsDetail;
        QTest::newRow("enabled") << S::enabled << "1 " + runsDetail;
        QTest::newRow("requires approval") << S::requiresApproval << "0 " + approvalDetail;
        QTest::newRow("not found") << S::notFound << "0 The installed app’s background service is unavailable.";
    }
    void refreshLogin()
    {
        QFETCH(LoginItemStatus, status);
        QFETCH(QString, expected);
        HostWorld w(wall);
        w.agent().setStatus(status);
        ServiceHost &host = w.host();
        QVERIFY(host.canRegister());
        QCOMPARE(host.needsApproval(), status == S::requiresApproval);
        QSignalSpy detail(&host, &ServiceHost::loginDetailChanged);
        host.refreshLogin();
        QCOMPARE(detail.size(), 1);
        QCOMPARE(QStringLiteral("%1 ").arg(host.loginEnabled()) + detail.last().first().toString(), expected);
    }

    void agentStopped_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("stopped");
        QTest::newRow("running, tab-indented") << QByteArray("x = {\n\tactive count = 1\n\tstate = running\n}\n") << 0 << false;
        QTest::newRow("running, blanks around") << QByteArray(" \t state = running\t \n") << 0 << false;
        QTest::newRow("running, no-break space") << QByteArray("\xc2\xa0state = running") << 0 << false;
        QTest::newRow("trailing text") << QByteArray("\tstate = running (pid 12)\n") << 0 << true;
        QTest::newRow("carriage return") << QByteArray("state = running\r\n") << 0 << true;
        QTest::newRow("not running") << QByteArray("\tstate = not running\n") << 0 << true;
        QTest::newRow("non-zero exit") << QByteArray("\tstate = running\n") << 113 << true;
    }
    void agentStopped()
    {
        QFETCH(QByteArray, output);
        QFETCH(int, status);
        QFETCH(bool, stopped);
        HostWorld w(wall);
        w.agent().setStatus(S::enabled);
        w.launchctl.output = output;
        w.launchctl.status = status;
        QCOMPARE(w.host().agentStopped(), stopped);
        QCOMPARE(w.launchctl.calls.size(), 1);
        QVERIFY(w.launchctl.calls.first().verbs == QStringList{"print"} && w.launchctl.calls.first().capture);
        QCOMPARE(w.launchctl.calls.first().target, QStringLiteral("gui/%1/app.corvane.Corvane.service").arg(::getuid()));
    }

    // What setLogin registers and unregisters, its error, and the state it leaves.
    void setLogin_data()
    {
        QTest::addColumn<bool>("enable");
        QTest::addColumn<LoginItemStatus>("agentBefore");
        QTest::addColumn<LoginItemStatus>("appBefore");
        QTest::addColumn<Setup>("failing");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QList<int>>("calls"); // the app's unregisters, the agent's registers and unregisters, enabled
        const QString denied = "platform: Operation not permitted";
        QTest::newRow("enable") << true << S::notRegistered << S::notRegistered << none << "" << QList{0, 1, 0, 1};
        QTest::newRow("enable enabled: the app's item still goes") << true << S::enabled << S::enabled << none << "" << QList{1, 0, 0, 1};
        QTest::newRow("enable, requires approval") << true << S::requiresApproval << S::notFound << none << "" << QList{1, 1, 0, 1};
        QTest::newRow("enable, app item failure ignored") << true << S::notRegistered << S::enabled
            << Setup([](HostWorld &w) { w.app().unregisterError = "no"; }) << "" << QList{1, 1, 0, 1};
        QTest::newRow("enable fails") << true << S::notRegistered << S::notRegistered
            << Setup([](HostWorld &w) { w.agent().registerError = "Operation not permitted"; }) << denied << QList{0, 1, 0, 0};
        QTest::newRow("disable, not found") << false << S::notFound << S::notRegistered << none << "" << QList{0, 0, 1, 0};
        QTest::newRow("disable, not registered") << false << S::notRegistered << S::notRegistered << none << "" << QList{0, 0, 0, 0};
        QTest::newRow("disable fails") << false << S::enabled << S::notRegistered
            << Setup([](HostWorld &w) { w.agent().unregisterError = "Operation not permitted"; }) << denied << QList{0, 0, 1, 1};
    }
    void setLogin()
    {
        QFETCH(bool, enable);
        QFETCH(LoginItemStatus, agentBefore);
        QFETCH(LoginItemStatus, appBefore);
        QFETCH(Setup, failing);
        QFETCH(QString, error);
        QFETCH(QList<int>, calls);
        HostWorld w(wall);
        w.agent().setStatus(agentBefore);
        w.app().setStatus(appBefore);
        failing(w);
        ServiceHost &host = w.host();
        QSignalSpy busy(&host, &ServiceHost::loginBusyChanged);
        QSignalSpy detail(&host, &ServiceHost::loginDetailChanged);
        QCOMPARE(outcome(host.setLogin(enable)).error, error.isEmpty() ? std::nullopt : std::optional(error));
        QCOMPARE((QList{w.app().unregisterCalls, w.agent().registerCalls, w.agent().unregisterCalls, int(host.loginEnabled())}), calls);
        // Busy while it ran, then cleared, and refreshed once, failure or not.
        QVERIFY(busy.size() == 2 && !host.loginBusy() && detail.size() == 1);
    }

    void refusedWhileBusy()
    {
        HostWorld w(wall);
        w.agent().setStatus(S::enabled);
        w.agent().holdUnregister = true;
        ServiceHost &host = w.host();
        QCoro::Task<> first = host.setLogin(false);
        QCOMPARE(w.agent().unregisterWaiting, 1);
        QCOMPARE(outcome(host.setLogin(true)).error, installedText);
        QCOMPARE(host.loginBusy(), true); // still the first one's
        w.agent().release();
        QCOMPARE(outcome(std::move(first)).error, std::nullopt);
        QCOMPARE(outcome(host.setLogin(true)).error, std::nullopt); // free again
        QCOMPARE(host.loginEnabled(), true);
    }

    void repairAgent_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QList<int>>("calls"); // registers (as many unregisters), kickstarts
        QTest::newRow("stopped agent: registered again, kickstarted") << none << true << QList{1, 1};
        QTest::newRow("registration ends in approval")
            << Setup([](HostWorld &w) { w.agent().statusAfterRegister = S::requiresApproval; }) << false << QList{1, 0};
        QTest::newRow("register throws") << Setup([](HostWorld &w) { w.agent().registerError = "no"; }) << false << QList{1, 0};
        QTest::newRow("unregister throws: ignored") << Setup([](HostWorld &w) { w.agent().unregisterError = "no"; }) << true << QList{1, 1};
        QTest::newRow("kickstart fails") << Setup([](HostWorld &w) { w.launchctl.launchError = "no launchctl"; }) << false << QList{1, 1};
        QTest::newRow("running agent left alone") << Setup([](HostWorld &w) { w.launchctl.output = "\tstate = running\n"; })
                                                  << false << QList{0, 0};
        QTest::newRow("a running child: no agent") << Setup([](HostWorld &w) { w.host().start(true); }) << false << QList{0, 0};
    }
    void repairAgent()
    {
        QFETCH(Setup, setup);
        QFETCH(bool, result);
        QFETCH(QList<int>, calls);
        HostWorld w(wall);
        w.agent().setStatus(S::enabled);
        w.launchctl.output = "\tstate = waiting\n";
        setup(w);
        ServiceHost &used = w.current();
        QVERIFY(writeFile(serviceLog(), "service output"));
        QCOMPARE(outcome(used.repairAgent()).value, result);
        QCOMPARE(readFile(serviceLog()), "service output" + QByteArray(calls[0] ? "\n--- The background service couldn't start "
            "from sign-in; registering it again at 2026-03-02 08:07:06 +0000 ---\n" : ""));
        int kicked = 0;
        for (const FakeLaunchctl::Call &call : w.launchctl.calls)
            kicked += call.verbs == QStringList{"kickstart"};
        QCOMPARE((QList{w.agent().registerCalls, kicked}), calls);
        QCOMPARE(w.agent().unregisterCalls, calls[0]);
        if (w.agent().statusAfterRegister == S::requiresApproval)
            QCOMPARE(used.loginDetail(), approvalDetail);
    }
};

QTEST_GUILESS_MAIN(LoginAgentTest)
#include "tst_login_agent.moc"

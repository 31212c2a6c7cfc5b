// Starting the service (the executable and its arguments, the service log and its
// marker, the child's life and status) and the login agent (whether it can be
// registered, its state from launchctl, switching it, repairing it).
#include "host_support.h"
#include "../views/table.h"
#include "standin.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace cv;
using namespace cv::test;


namespace {

const QDateTime wall(QDate(2026, 1, 31), QTime(14, 5, 9), Qt::UTC);
const QString missingText = "unavailable: The background service is missing. Build or install Corvane with "
                            "cv-mac-service and nfsmount beside the app executable.";
const QString installedText = "invalid: Use an installed app bundle to configure login startup.";
const QString notInstalledText = "invalid: Only the installed app can start Corvane at sign-in.";
using S = LoginItemStatus;
const Setup none = [](HostWorld &) {};

QString exited(int status)
{
    return QStringLiteral("The background service exited (%1). Open the service log for the underlying error.").arg(status);
}

// The stand-in, scripted so, as the service of a host on the real launcher.
ServiceHost &standinHost(HostWorld &w, Standin &standin, const QJsonObject &script, bool runtime = false)
{
    standin.setScript(script);
    standin.exportEnvironment(runtime);
    w.bundle = w.bundleWith(AppBundle::defaultInfo(), false);
    return w.host(true);
}

bool waitStopped(ServiceHost &host) { return QTest::qWaitFor([&] { return host.childKnownStopped(); }, 5000); }

// Ends the child by its pid, so a failing case leaves nothing running.
struct Reaper {
    std::optional<qint64> pid;
    ~Reaper()
    {
        if (pid && ::waitpid(pid_t(*pid), nullptr, WNOHANG) == 0) {
            ::kill(pid_t(*pid), SIGKILL);
            ::waitpid(pid_t(*pid), nullptr, 0);
        }
    }
};

Setup service(const char *name)
{
    return [name](HostWorld &w) { qputenv("CV_MAC_SERVICE", QFile::encodeName(w.inPrefix(name))); };
}

Setup agent(LoginItemStatus status, bool packaged, QMap<QString, QString> info = HostWorld::agentInfo())
{
    return [=](HostWorld &w) { w.agent().setStatus(status); w.bundle = w.bundleWith(info, packaged); };
}

// A switch of the login agent: the items' states before, what fails, the error, and
// the app's unregisters, the agent's registers and unregisters, enabled after.
struct LoginCase {
    bool enable;
    LoginItemStatus agentBefore, appBefore;
    Setup setup;
    QString error;
    QList<int> calls;
};

} // namespace

Q_DECLARE_METATYPE(LoginCase)

class ServiceHostTest : public QObject {
    Q_OBJECT
private slots:
    // Starts that end in an error, and whether the log got its marker first.
    void refusedStarts_data()
    {
        columns<Setup, QString, bool>("setup", "error", "logWritten");
        QTest::newRow("empty service variable") << Setup([](HostWorld &) { qputenv("CV_MAC_SERVICE", ""); }) << missingText << false;
        QTest::newRow("folder named like the service") << service("share") << missingText << false;
        // Only the agent's existence counts here, not whether it could be registered.
        QTest::newRow("approval, development run") << agent(LoginItemStatus::requiresApproval, false)
            << "unavailable: The background service’s user unit is masked. Run systemctl --user unmask app.corvane.Corvane.service.plist to allow it."
            << false;
        QTest::newRow("launch fails after the marker") << Setup([](HostWorld &w) { w.launcher.launchError = "exec format error"; })
                                                       << "platform: exec format error" << true;
        QTest::newRow("log folder is a file") << Setup([](HostWorld &) { writeFile(Diagnostics::logFolder(), "x"); })
                                              << "platform: " + Diagnostics::logFolder() + ": Not a directory" << false;
        QTest::newRow("kickstart without identifier") << agent(LoginItemStatus::enabled, true, {{"CVServiceAgentPlist", "agent.plist"}})
                                                      << "invalid: The installed app’s background service is unavailable." << false;
    }
    void refusedStarts()
    {
        auto [setup, error, logWritten] = fetch<Setup, QString, bool>("setup", "error", "logWritten");
        HostWorld w(wall);
        w.bundle = w.bundleWith(AppBundle::defaultInfo());
        setup(w);
        ServiceHost &host = w.host();
        QCOMPARE(errorOf([&] { host.start(false); }), error);
        QVERIFY(w.launcher.launches.isEmpty() && host.childKnownStopped() && !host.exitDescription());
        QCOMPARE(readFile(serviceLog()).contains("--- App started service at "), logWritten);
    }

    // The service's log with its marker, the development variables as options (an
    // empty value too) and the exit status.
    void logAndArguments_data()
    {
        // empty: no log yet (before)
        columns<QByteArray, int, QStringList>("before", "status", "arguments");
        QTest::newRow("created, with options") << QByteArray() << 0
            << QStringList{"--state-dir", "/s", "--runtime-dir", "/r", "--mount-root", "/m", "--nfs-helper", ""};
        QTest::newRow("existing keeps its content and mode") << QByteArray("earlier output without a line feed") << 3 << QStringList();
    }
    void logAndArguments()
    {
        auto [before, status, arguments] = fetch<QByteArray, int, QStringList>("before", "status", "arguments");
        ::umask(022);
        HostWorld w(wall);
        if (!before.isEmpty())
            QVERIFY(writeFile(serviceLog(), before) && ::chmod(QFile::encodeName(serviceLog()).constData(), 0640) == 0);
        Standin standin;
        ServiceHost &host = standinHost(w, standin, {{"exit_at_start", status}, {"stdout", "out\n"}, {"stderr", "err\n"}});
        for (qsizetype i = 0; i < arguments.size(); i += 2)
            qputenv(("CV_MAC_" + arguments[i].mid(2).toUpper().replace('-', '_')).toLatin1().constData(), arguments[i + 1].toUtf8());
        QCOMPARE(host.exitDescription(), std::nullopt); // before any child
        host.start(false);
        Reaper reaper{host.childPid()};
        QVERIFY(waitStopped(host));
        QCOMPARE(standin.startArguments(), QList<QStringList>{arguments});
        QCOMPARE(readFile(serviceLog()), before + "\n--- App started service at 2026-01-31 14:05:09 +0000 ---\nout\nerr\n");
        QCOMPARE(modeOf(serviceLog()), mode_t(before.isEmpty() ? 0600 : 0640));
        QCOMPARE(modeOf(Diagnostics::logFolder()), mode_t(before.isEmpty() ? 0700 : 0755));
        QCOMPARE(host.exitDescription(), exited(status));
        QCOMPARE(ServiceHost::markerDate(QDateTime(QDate(2026, 7, 1), QTime(23, 30, 5, 999), QTimeZone(7200))),
                 "2026-07-01 21:30:05 +0000");
    }

    void secondStartWhileRunningDoesNothing()
    {
        HostWorld w(wall);
        Standin standin;
        ServiceHost &host = standinHost(w, standin, {{"lifetime", 30}}, true);
        host.start(false);
        const qint64 pid = *host.childPid();
        Reaper first{pid};
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo::exists(standin.socketPath()); }, 5000));
        host.start(false);
        host.start(true);
        QVERIFY(*host.childPid() == pid && standin.startArguments().size() == 1 && !host.exitDescription());
        QCOMPARE(::kill(pid_t(pid), SIGKILL), 0); // killed by a signal: its number
        QVERIFY(waitStopped(host));
        QCOMPARE(host.exitDescription(), exited(9));
        host.start(false); // once stopped, a new child after a new marker
        Reaper second{host.childPid()};
        QVERIFY(*host.childPid() != pid);
        QCOMPARE(readFile(serviceLog()).count("--- App started service at "), 2);
        w.host(true); // the child outlives its host
        QTest::qWait(50);
        QCOMPARE(::waitpid(pid_t(*second.pid), nullptr, WNOHANG), 0);
    }

    void kickstartsTheManagedAgent()
    {
        HostWorld w(wall);
        w.agent().setStatus(LoginItemStatus::enabled);
        w.launchctl.kickstartHeld = true; // the manager takes its time with the start
        ServiceHost &host = w.host();
        host.start(false);
        QVERIFY(host.agentStartPending());
        QCOMPARE(w.items.plistNames.first(), "app.corvane.Corvane.service.plist");
        QCOMPARE(w.launchctl.calls.size(), 1);
        QCOMPARE(w.launchctl.calls.first().verbs, QStringList{"kickstart"});
        QCOMPARE(w.launchctl.calls.first().target, QStringLiteral("gui/%1/app.corvane.Corvane.service").arg(::getuid()));
        QVERIFY(w.launcher.launches.isEmpty() && !QFileInfo::exists(serviceLog()));
        // A child calls the agent's start off first, so one service runs; while it
        // runs the agent is not managed and a start does nothing.
        host.start(true);
        host.start(false);
        QVERIFY(w.launcher.launches.size() == 1 && w.launcher.launches.first().program == w.service() && w.launchctl.calls.size() == 2);
        QCOMPARE(w.launchctl.calls.last().verbs, (QStringList{"kill", "SIGTERM"}));
        // Refused once the child called it off: the refusal no longer counts.
        w.launchctl.answerHeld("Access denied");
        QVERIFY(!host.agentStartPending() && !host.agentStartFailure());
        w.launcher.launches.first().state->running = false; // stopped: managed again
        host.start(false);
        QCOMPARE(w.launchctl.calls.size(), 3);
        QVERIFY(host.agentStartPending());
        // A later start, taken on at once, has the last word over the held one's refusal.
        w.launchctl.kickstartHeld = false;
        host.start(false);
        w.launchctl.answerHeld("Access denied");
        QVERIFY(!host.agentStartPending() && !host.agentStartFailure() && w.launcher.launches.size() == 1);
    }

    // What setLogin registers and unregisters, its error, and the state it leaves.
    void setLogin_data()
    {
        QTest::addColumn<LoginCase>("c");
        const QString denied = "platform: Operation not permitted";
        QTest::newRow("enable") << LoginCase{true, S::notRegistered, S::notRegistered, none, "", {0, 1, 0, 1}};
        QTest::newRow("enable enabled: the app's item still goes") << LoginCase{true, S::enabled, S::enabled, none, "", {1, 0, 0, 1}};
        QTest::newRow("enable, app item failure ignored") << LoginCase{true, S::notRegistered, S::enabled,
            [](HostWorld &w) { w.app().unregisterError = "no"; }, "", {1, 1, 0, 1}};
        QTest::newRow("enable fails") << LoginCase{true, S::notRegistered, S::notRegistered,
            [](HostWorld &w) { w.agent().registerError = "Operation not permitted"; }, denied, {0, 1, 0, 0}};
        QTest::newRow("disable, not found") << LoginCase{false, S::notFound, S::notRegistered, none, "", {0, 0, 1, 0}};
        // A build tree cannot register the agent: nothing is asked of the system.
        QTest::newRow("not installed") << LoginCase{true, S::enabled, S::notRegistered,
            [](HostWorld &w) { w.bundle = w.bundleWith(HostWorld::agentInfo(), false); }, notInstalledText, {0, 0, 0, 0}};
        QTest::newRow("disable fails") << LoginCase{false, S::enabled, S::notRegistered,
            [](HostWorld &w) { w.agent().unregisterError = "Operation not permitted"; }, denied, {0, 0, 1, 1}};
    }
    void setLogin()
    {
        QFETCH(LoginCase, c);
        HostWorld w(wall);
        w.agent().setStatus(c.agentBefore);
        w.app().setStatus(c.appBefore);
        c.setup(w);
        ServiceHost &host = w.host();
        QSignalSpy busy(&host, &ServiceHost::loginBusyChanged);
        QSignalSpy detail(&host, &ServiceHost::loginDetailChanged);
        QCOMPARE(outcome(host.setLogin(c.enable)).error, c.error.isEmpty() ? std::nullopt : std::optional(c.error));
        QCOMPARE((QList{w.app().unregisterCalls, w.agent().registerCalls, w.agent().unregisterCalls, int(host.loginEnabled())}), c.calls);
        // Busy while it ran, then cleared, and refreshed once, failure or not.
        QVERIFY(host.canRegister() ? busy.size() == 2 && detail.size() == 1 : busy.isEmpty());
        QVERIFY(!host.loginBusy());
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

    // A stopped agent (as launchctl prints it) is registered again and kickstarted.
    void repairAgent_data()
    {
        // registers (as many unregisters), kickstarts; repaired when both (calls)
        columns<QByteArray, Setup, QList<int>>("printed", "setup", "calls");
        const QByteArray waiting = "\tstate = waiting\n";
        QTest::newRow("stopped agent") << waiting << none << QList{1, 1};
        QTest::newRow("running, trailing text") << QByteArray("\tstate = running (pid 12)\n") << none << QList{1, 1};
        QTest::newRow("running, blanks around") << QByteArray(" \t state = running\t \n") << none << QList{0, 0};
        QTest::newRow("registration ends in approval")
            << waiting << Setup([](HostWorld &w) { w.agent().statusAfterRegister = S::requiresApproval; }) << QList{1, 0};
        QTest::newRow("register throws") << waiting << Setup([](HostWorld &w) { w.agent().registerError = "no"; }) << QList{1, 0};
        QTest::newRow("a running child: no agent") << waiting << Setup([](HostWorld &w) { w.host().start(true); }) << QList{0, 0};
    }
    void repairAgent()
    {
        auto [printed, setup, calls] = fetch<QByteArray, Setup, QList<int>>("printed", "setup", "calls");
        HostWorld w(wall);
        w.agent().setStatus(S::enabled);
        w.launchctl.output = printed;
        setup(w);
        ServiceHost &used = w.current();
        QVERIFY(writeFile(serviceLog(), "service output"));
        QCOMPARE(outcome(used.repairAgent()).value, (calls == QList{1, 1}));
        QCOMPARE(readFile(serviceLog()).contains("service output\n--- The background service couldn't start from sign-in; "
                                                 "registering it again at 2026-01-31 14:05:09 +0000 ---\n"), calls[0] == 1);
        int kicked = 0;
        for (const FakeLaunchctl::Call &call : w.launchctl.calls)
            kicked += call.verbs == QStringList{"kickstart"};
        QCOMPARE((QList{w.agent().registerCalls, kicked}), calls);
        QCOMPARE(w.agent().unregisterCalls, calls[0]);
        if (w.agent().statusAfterRegister == S::requiresApproval)
            QCOMPARE(used.loginDetail(), "Run systemctl --user unmask app.corvane.Corvane.service.plist to allow Corvane.");
    }
};

QTEST_GUILESS_MAIN(ServiceHostTest)
#include "tst_service_host.moc"

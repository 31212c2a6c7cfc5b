#include "host_support.h"

#include "fake_child.h"
#include "fake_clock.h"
#include "fake_login_items.h"
#include "platform/child_process.h"
#include "platform/launchctl.h"
#include "platform/login_items.h"
#include "platform/platform_error.h"
#include "service/service_error.h"
#include "service/service_host.h"
#include "standin.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <unistd.h>

using namespace cv;
using namespace cv::test;

namespace {

const QString missingText = QStringLiteral(
    "The background service is missing. Build or install Corvane with cv-mac-service and nfsmount beside the app executable.");
const QString approvalText = QStringLiteral(
    "The background service needs approval in Login Items & Extensions. Open System Settings to allow it.");

// Runs `start` and returns what it threw: the kind and message of a ServiceError,
// "platform: <message>" for a PlatformError, or none.
std::optional<QString> startError(ServiceHost &host, bool asChild)
{
    try {
        host.start(asChild);
    } catch (const ServiceError &error) {
        const char *kind = error.kind() == ServiceError::Kind::unavailable ? "unavailable: "
            : error.kind() == ServiceError::Kind::invalid                 ? "invalid: "
                                                                          : "rejected: ";
        return QString::fromLatin1(kind) + error.message();
    } catch (const PlatformError &error) {
        return QStringLiteral("platform: ") + error.message();
    }
    return std::nullopt;
}

} // namespace

class ServiceHostTest : public QObject {
    Q_OBJECT

    FakeClock clock_ {1000.0, QDateTime(QDate(2026, 1, 31), QTime(14, 5, 9), Qt::UTC)};
    ChildGuard children_;

    FakeChildLauncher launcher_;
    FakeLoginItemService items_;
    FakeLaunchctl launchctl_;

    // A host on the fakes above.
    ServiceHost::Platform fakes(const AppBundle *bundle)
    {
        ServiceHost::Platform platform;
        platform.launcher = &launcher_;
        platform.loginItems = &items_;
        platform.launchctl = &launchctl_;
        platform.bundle = bundle;
        platform.clock = &clock_;
        return platform;
    }

    // A host on the real launcher with the stand-in as the service.
    ServiceHost::Platform realChild(const AppBundle *bundle)
    {
        ServiceHost::Platform platform;
        platform.bundle = bundle;
        platform.clock = &clock_;
        return platform;
    }

    static QString marker() { return QStringLiteral("\n--- App started service at 2026-01-31 14:05:09 +0000 ---\n"); }

private slots:
    void init()
    {
        clearServiceEnvironment();
        launcher_ = FakeChildLauncher();
        items_ = FakeLoginItemService();
        launchctl_ = FakeLaunchctl();
        QDir(QDir::homePath() + QStringLiteral("/Library")).removeRecursively();
    }

    void cleanup()
    {
        children_.endAll();
        clearServiceEnvironment();
    }

    void binaryPath()
    {
        const AppBundle bundle(QStringLiteral("/opt/corvane/bin/corvane"), AppBundle::defaultInfo());
        QCOMPARE(ServiceHost::binaryPath(bundle), QStringLiteral("/opt/corvane/bin/cv-mac-service"));
        qputenv("CV_MAC_SERVICE", "/elsewhere/service that does not exist");
        QCOMPARE(ServiceHost::binaryPath(bundle), QStringLiteral("/elsewhere/service that does not exist"));
        QCOMPARE(ServiceHost::binaryPath(), QStringLiteral("/elsewhere/service that does not exist"));
        qputenv("CV_MAC_SERVICE", "");
        QCOMPARE(ServiceHost::binaryPath(bundle), QString());
        QVERIFY(ServiceHost::developmentOverridden());
    }

    void developmentOverridden_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("service") << QByteArray("CV_MAC_SERVICE") << QByteArray("/x");
        QTest::newRow("state, empty") << QByteArray("CV_MAC_STATE_DIR") << QByteArray();
        QTest::newRow("runtime") << QByteArray("CV_MAC_RUNTIME_DIR") << QByteArray("/r");
        QTest::newRow("mount root, empty") << QByteArray("CV_MAC_MOUNT_ROOT") << QByteArray();
        QTest::newRow("nfs helper") << QByteArray("CV_MAC_NFS_HELPER") << QByteArray("/n");
    }

    void developmentOverridden()
    {
        QFETCH(QByteArray, variable);
        QFETCH(QByteArray, value);
        QVERIFY(!ServiceHost::developmentOverridden());
        qputenv(variable.constData(), value);
        QVERIFY(ServiceHost::developmentOverridden());
    }

    void childArguments_data()
    {
        QTest::addColumn<QStringList>("variables"); // name=value pairs
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("none") << QStringList() << QStringList();
        QTest::newRow("mount root and state only")
            << QStringList {"CV_MAC_MOUNT_ROOT=/mnt/cv", "CV_MAC_STATE_DIR=/var/state"}
            << QStringList {"--state-dir", "/var/state", "--mount-root", "/mnt/cv"};
        QTest::newRow("empty value keeps its option")
            << QStringList {"CV_MAC_NFS_HELPER="} << QStringList {"--nfs-helper", ""};
        QTest::newRow("all four, in order")
            << QStringList {"CV_MAC_NFS_HELPER=/h", "CV_MAC_MOUNT_ROOT=/m", "CV_MAC_RUNTIME_DIR=/r",
                            "CV_MAC_STATE_DIR=/s"}
            << QStringList {"--state-dir", "/s", "--runtime-dir", "/r", "--mount-root", "/m", "--nfs-helper", "/h"};
        QTest::newRow("service itself gives no option")
            << QStringList {"CV_MAC_SERVICE=/svc"} << QStringList();
    }

    void childArguments()
    {
        QFETCH(QStringList, variables);
        QFETCH(QStringList, arguments);
        for (const QString &pair : variables) {
            const qsizetype at = pair.indexOf(QLatin1Char('='));
            qputenv(pair.left(at).toLatin1().constData(), pair.mid(at + 1).toUtf8());
        }
        QCOMPARE(ServiceHost::childArguments(), arguments);

        // The same list reaches the launched child, after the program from binaryPath.
        InstalledPrefix prefix;
        prefix.installService();
        const AppBundle bundle = prefix.bundle(false);
        if (!qEnvironmentVariableIsSet("CV_MAC_SERVICE")) {
            ServiceHost host(fakes(&bundle));
            QCOMPARE(startError(host, false), std::nullopt);
            QCOMPARE(launcher_.launches.size(), 1);
            QCOMPARE(launcher_.launches.first().program, prefix.service());
            QCOMPARE(launcher_.launches.first().arguments, arguments);
        }
    }

    void argumentsReachTheStandin()
    {
        Standin standin;
        standin.setScript(QJsonObject {{"exit_at_start", 0}});
        standin.exportEnvironment(false);
        const QString mountRoot = standin.directory() + QStringLiteral("/mounts");
        const QString stateDir = standin.directory() + QStringLiteral("/state");
        qputenv("CV_MAC_MOUNT_ROOT", QFile::encodeName(mountRoot));
        qputenv("CV_MAC_STATE_DIR", QFile::encodeName(stateDir));
        qputenv("CV_MAC_SERVICE", QFile::encodeName(Standin::executable()));

        const AppBundle bundle(QStringLiteral("/nowhere/bin/corvane"), AppBundle::defaultInfo());
        ServiceHost host(realChild(&bundle));
        QCOMPARE(startError(host, false), std::nullopt);
        QVERIFY(host.childPid());
        children_.add(*host.childPid());
        QVERIFY(waitUntil([&] { return host.childKnownStopped(); }));
        QCOMPARE(standin.startArguments(),
                 (QList<QStringList> {{"--state-dir", stateDir, "--mount-root", mountRoot}}));
        QCOMPARE(host.exitDescription(),
                 QStringLiteral("The background service exited (0). Open the service log for the underlying error."));
    }

    void emptyServiceVariableIsMissing()
    {
        qputenv("CV_MAC_SERVICE", "");
        const AppBundle bundle(QStringLiteral("/nowhere/bin/corvane"), AppBundle::defaultInfo());
        ServiceHost host(fakes(&bundle));
        QCOMPARE(startError(host, false), QStringLiteral("unavailable: ") + missingText);
        QCOMPARE(startError(host, true), QStringLiteral("unavailable: ") + missingText);
        QVERIFY(launcher_.launches.isEmpty());
        // Nothing was created before the check.
        QVERIFY(!QFileInfo::exists(serviceLogFolder()));
    }

    void missingOrNotExecutable_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("not executable") << "plain";
        QTest::newRow("a folder") << "folder";
        QTest::newRow("beside the executable, absent") << "beside";
    }

    void missingOrNotExecutable()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cv-mac-service"));
        if (kind == QLatin1String("plain"))
            QVERIFY(writeFile(path, "#!/bin/sh\n"));
        if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(path));
        if (kind != QLatin1String("beside"))
            qputenv("CV_MAC_SERVICE", QFile::encodeName(path));
        const AppBundle bundle(dir.filePath(QStringLiteral("corvane")), AppBundle::defaultInfo());
        ServiceHost host(fakes(&bundle));
        QCOMPARE(startError(host, false), QStringLiteral("unavailable: ") + missingText);
        QVERIFY(launcher_.launches.isEmpty());
    }

    void createdLogHasModes()
    {
        ::umask(022);
        qputenv("CV_MAC_SERVICE", QFile::encodeName(Standin::executable()));
        Standin standin;
        standin.setScript(QJsonObject {{"exit_at_start", 0}, {"stdout", "service says hello\n"}});
        standin.exportEnvironment(false);
        const AppBundle bundle(QStringLiteral("/nowhere/bin/corvane"), AppBundle::defaultInfo());
        ServiceHost host(realChild(&bundle));
        QCOMPARE(host.logPath(), serviceLog());
        QCOMPARE(startError(host, true), std::nullopt);
        children_.add(*host.childPid());
        QVERIFY(waitUntil([&] { return host.childKnownStopped(); }));
        QCOMPARE(modeOf(serviceLogFolder()), mode_t(0700));
        QCOMPARE(modeOf(QDir::homePath() + QStringLiteral("/Library")), mode_t(0700));
        QCOMPARE(modeOf(serviceLog()), mode_t(0600));
        QCOMPARE(readFile(serviceLog()), marker().toUtf8() + "service says hello\n");
    }

    void existingLogKeepsContentAndMode()
    {
        QVERIFY(writeFile(serviceLog(), "earlier service output without a line feed"));
        QVERIFY(::chmod(QFile::encodeName(serviceLog()).constData(), 0640) == 0);
        qputenv("CV_MAC_SERVICE", QFile::encodeName(Standin::executable()));
        Standin standin;
        standin.setScript(QJsonObject {{"exit_at_start", 3}, {"stdout", "out line\n"}, {"stderr", "error line\n"}});
        standin.exportEnvironment(false);
        const AppBundle bundle(QStringLiteral("/nowhere/bin/corvane"), AppBundle::defaultInfo());
        ServiceHost host(realChild(&bundle));

        QCOMPARE(host.exitDescription(), std::nullopt); // before any child
        QVERIFY(host.childKnownStopped());
        QCOMPARE(startError(host, false), std::nullopt);
        children_.add(*host.childPid());
        QVERIFY(waitUntil([&] { return host.childKnownStopped(); }));

        QCOMPARE(modeOf(serviceLog()), mode_t(0640));
        QCOMPARE(readFile(serviceLog()), "earlier service output without a line feed" + marker().toUtf8()
                                             + "out line\nerror line\n");
        QCOMPARE(host.exitDescription(),
                 QStringLiteral("The background service exited (3). Open the service log for the underlying error."));
    }

    void secondStartWhileRunningDoesNothing()
    {
        qputenv("CV_MAC_SERVICE", QFile::encodeName(Standin::executable()));
        Standin standin;
        standin.setScript(QJsonObject {{"lifetime", 30}});
        standin.exportEnvironment(true);
        const AppBundle bundle(QStringLiteral("/nowhere/bin/corvane"), AppBundle::defaultInfo());
        ServiceHost host(realChild(&bundle));
        QCOMPARE(startError(host, false), std::nullopt);
        const qint64 pid = *host.childPid();
        children_.add(pid);
        QVERIFY(waitUntil([&] { return QFileInfo::exists(standin.socketPath()); }));

        QVERIFY(!host.childKnownStopped());
        QCOMPARE(host.exitDescription(), std::nullopt); // while it runs
        const QByteArray before = readFile(serviceLog());
        QCOMPARE(startError(host, false), std::nullopt);
        QCOMPARE(startError(host, true), std::nullopt);
        QCOMPARE(*host.childPid(), pid);
        QCOMPARE(readFile(serviceLog()), before);
        QCOMPARE(standin.startArguments().size(), 1);

        // Killed by a signal: the status is the signal's number.
        QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
        QVERIFY(waitUntil([&] { return host.childKnownStopped(); }));
        QCOMPARE(host.exitDescription(),
                 QStringLiteral("The background service exited (9). Open the service log for the underlying error."));

        // Once stopped, a start launches a new child after a new marker.
        QCOMPARE(startError(host, false), std::nullopt);
        QVERIFY(*host.childPid() != pid);
        children_.add(*host.childPid());
        QCOMPARE(readFile(serviceLog()).count("--- App started service at "), 2);
        QCOMPARE(::kill(pid_t(*host.childPid()), SIGTERM), 0);
        QVERIFY(waitUntil([&] { return host.childKnownStopped(); }));
    }

    void childOutlivesTheHost()
    {
        qputenv("CV_MAC_SERVICE", QFile::encodeName(Standin::executable()));
        Standin standin;
        standin.setScript(QJsonObject {{"lifetime", 30}});
        standin.exportEnvironment(true);
        const AppBundle bundle(QStringLiteral("/nowhere/bin/corvane"), AppBundle::defaultInfo());
        pid_t pid = 0;
        {
            ServiceHost host(realChild(&bundle));
            QCOMPARE(startError(host, false), std::nullopt);
            pid = pid_t(*host.childPid());
            children_.add(pid);
            QVERIFY(waitUntil([&] { return QFileInfo::exists(standin.socketPath()); }));
        }
        QThread::msleep(50);
        int status = 0;
        QCOMPARE(::waitpid(pid, &status, WNOHANG), 0); // still running, never signalled
        QCOMPARE(::kill(pid, SIGTERM), 0);
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        QVERIFY(WIFEXITED(status));
    }

    void launchFailureLeavesNoChild()
    {
        InstalledPrefix prefix;
        prefix.installService();
        const AppBundle bundle = prefix.bundle(false);
        launcher_.launchError = QStringLiteral("exec format error");
        ServiceHost host(fakes(&bundle));
        QCOMPARE(startError(host, false), QStringLiteral("platform: exec format error"));
        QVERIFY(host.childKnownStopped());
        QCOMPARE(host.exitDescription(), std::nullopt);
        QCOMPARE(host.childPid(), std::nullopt);
        // The marker was already written.
        QVERIFY(readFile(serviceLog()).contains("--- App started service at "));
    }

    void logFolderFailureIsThrown()
    {
        // A file where the log folder should be.
        QVERIFY(writeFile(QDir::homePath() + QStringLiteral("/Library/Logs"), "not a folder"));
        InstalledPrefix prefix;
        prefix.installService();
        const AppBundle bundle = prefix.bundle(false);
        ServiceHost host(fakes(&bundle));
        const auto error = startError(host, false);
        QVERIFY(error && error->startsWith(QStringLiteral("platform: ")));
        QVERIFY(launcher_.launches.isEmpty());
    }

    void logFileThroughDanglingLinkIsInvalid()
    {
        QVERIFY(QDir().mkpath(serviceLogFolder()));
        QVERIFY(QFile::link(serviceLogFolder() + QStringLiteral("/gone/service.log"), serviceLog()));
        InstalledPrefix prefix;
        prefix.installService();
        const AppBundle bundle = prefix.bundle(false);
        ServiceHost host(fakes(&bundle));
        QCOMPARE(startError(host, false), QStringLiteral("invalid: Couldn’t create the service log."));
        QVERIFY(launcher_.launches.isEmpty());
    }

    void logFileFailureIsInvalid()
    {
        // The log folder exists but cannot be written to.
        QVERIFY(QDir().mkpath(serviceLogFolder()));
        QVERIFY(::chmod(QFile::encodeName(serviceLogFolder()).constData(), 0500) == 0);
        if (::access(QFile::encodeName(serviceLogFolder()).constData(), W_OK) == 0)
            QSKIP("running with privileges that ignore folder modes");
        InstalledPrefix prefix;
        prefix.installService();
        const AppBundle bundle = prefix.bundle(false);
        ServiceHost host(fakes(&bundle));
        QCOMPARE(startError(host, false), QStringLiteral("invalid: Couldn’t create the service log."));
        ::chmod(QFile::encodeName(serviceLogFolder()).constData(), 0700);
        QVERIFY(launcher_.launches.isEmpty());
    }

    void approvalComesFirst_data()
    {
        QTest::addColumn<bool>("asChild");
        QTest::addColumn<bool>("packaged");
        QTest::newRow("as agent") << false << true;
        QTest::newRow("as child") << true << true;
        // Only the agent's existence counts here, not whether it could be registered.
        QTest::newRow("development run") << true << false;
    }

    void approvalComesFirst()
    {
        QFETCH(bool, asChild);
        QFETCH(bool, packaged);
        InstalledPrefix prefix;
        prefix.installService();
        const AppBundle installed = prefix.bundle(true);
        const AppBundle buildTree(QStringLiteral("/nowhere/corvane"),
                                  {{"CVServiceAgentPlist", "agent.plist"}, {"CFBundleIdentifier", "app.corvane.Corvane"}});
        if (!packaged)
            qputenv("CV_MAC_SERVICE", QFile::encodeName(prefix.service()));
        items_.agentItem->setStatus(LoginItemStatus::requiresApproval);
        ServiceHost host(fakes(packaged ? &installed : &buildTree));
        QCOMPARE(startError(host, asChild), QStringLiteral("unavailable: ") + approvalText);
        QVERIFY(launcher_.launches.isEmpty());
        QVERIFY(launchctl_.calls.isEmpty());
        QVERIFY(!QFileInfo::exists(serviceLog()));
    }

    void kickstartsTheManagedAgent()
    {
        InstalledPrefix prefix;
        prefix.installService();
        const AppBundle bundle = prefix.bundle(true);
        items_.agentItem->setStatus(LoginItemStatus::enabled);
        ServiceHost host(fakes(&bundle));
        QVERIFY(host.agentManaged());
        QCOMPARE(startError(host, false), std::nullopt);
        QCOMPARE(launchctl_.calls.size(), 1);
        QCOMPARE(launchctl_.calls.first().verbs, QStringList {"kickstart"});
        QCOMPARE(launchctl_.calls.first().target,
                 QStringLiteral("gui/%1/app.corvane.Corvane.service").arg(::getuid()));
        QCOMPARE(launchctl_.calls.first().capture, false);
        QVERIFY(launcher_.launches.isEmpty());
        QVERIFY(!QFileInfo::exists(serviceLog()));
        QCOMPARE(items_.plistNames.first(), QStringLiteral("app.corvane.Corvane.service.plist"));
        // The agent's own state is not this host's child.
        QVERIFY(host.childKnownStopped());
        QCOMPARE(host.exitDescription(), std::nullopt);

        // asChild skips the kickstart and launches a child.
        QCOMPARE(startError(host, true), std::nullopt);
        QCOMPARE(launchctl_.calls.size(), 1);
        QCOMPARE(launcher_.launches.size(), 1);
        QCOMPARE(launcher_.launches.first().program, prefix.service());
        // While that child runs the agent is not managed, and a start does nothing.
        QVERIFY(!host.agentManaged());
        QCOMPARE(startError(host, false), std::nullopt);
        QCOMPARE(launchctl_.calls.size(), 1);
        QCOMPARE(launcher_.launches.size(), 1);
        // Once it stopped, the agent is managed again and kickstarted.
        launcher_.launches.first().state->running = false;
        launcher_.launches.first().state->status = 70;
        QCOMPARE(host.exitDescription(),
                 QStringLiteral("The background service exited (70). Open the service log for the underlying error."));
        QCOMPARE(startError(host, false), std::nullopt);
        QCOMPARE(launchctl_.calls.size(), 2);
    }

    void kickstartFailures()
    {
        InstalledPrefix prefix;
        prefix.installService();
        items_.agentItem->setStatus(LoginItemStatus::enabled);
        {
            const AppBundle bundle = prefix.bundle(true);
            launchctl_.launchError = QStringLiteral("launchctl: No such file or directory");
            ServiceHost host(fakes(&bundle));
            QCOMPARE(startError(host, false), QStringLiteral("platform: launchctl: No such file or directory"));
        }
        {
            const AppBundle bundle = prefix.bundle(true, false);
            launchctl_ = FakeLaunchctl();
            ServiceHost host(fakes(&bundle));
            QCOMPARE(startError(host, false),
                     QStringLiteral("invalid: The installed app’s background service is unavailable."));
            QVERIFY(launchctl_.calls.isEmpty());
        }
        QVERIFY(launcher_.launches.isEmpty());
    }

    void linuxHasNoAgent()
    {
        // The real platform: the bundle names no agent, so a start is always a child.
        const AppBundle bundle(QStringLiteral("/nowhere/bin/corvane"), AppBundle::defaultInfo());
        ServiceHost::Platform platform;
        platform.bundle = &bundle;
        ServiceHost host(platform);
        QVERIFY(!host.canRegister());
        QVERIFY(!host.agentManaged());
        QCOMPARE(startError(host, false), QStringLiteral("unavailable: ") + missingText);

        QCOMPARE(LoginItemService::system().agent(QStringLiteral("x.plist"))->status(), LoginItemStatus::notFound);
        QVERIFY_THROWS_EXCEPTION(PlatformError, LoginItemService::system().agent(QStringLiteral("x"))->registerItem());
        QVERIFY_THROWS_EXCEPTION(PlatformError,
                                 Launchctl::system().run({QStringLiteral("print")}, QStringLiteral("gui/1/x"), true));
    }

    void markerDate()
    {
        QCOMPARE(ServiceHost::markerDate(QDateTime(QDate(2026, 1, 31), QTime(4, 5, 9, 999), Qt::UTC)),
                 QStringLiteral("2026-01-31 04:05:09 +0000"));
        QCOMPARE(ServiceHost::markerDate(QDateTime(QDate(2026, 7, 1), QTime(23, 30), QTimeZone(7200))),
                 QStringLiteral("2026-07-01 21:30:00 +0000"));
    }
};

QTEST_GUILESS_MAIN(ServiceHostTest)
#include "tst_service_host.moc"

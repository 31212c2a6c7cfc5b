// Starting the service: the executable and its arguments, the service log and its
// marker, the child's life and status, approval and the managed agent's kickstart.
#include "host_support.h"
#include "standin.h"

#include <QJsonObject>
#include <QTest>

#include <unistd.h>

using namespace cv;
using namespace cv::test;

namespace {

const QString missingText = QStringLiteral("unavailable: The background service is missing. Build or install Corvane "
                                           "with cv-mac-service and nfsmount beside the app executable.");
const QString approvalText = QStringLiteral("unavailable: The background service needs approval in Login Items & "
                                            "Extensions. Open System Settings to allow it.");
const QByteArray marker = "\n--- App started service at 2026-01-31 14:05:09 +0000 ---\n";

QString exited(int status)
{
    return QStringLiteral("The background service exited (%1). Open the service log for the underlying error.").arg(status);
}

} // namespace

class ServiceHostTest : public HostFixture {
    Q_OBJECT
public:
    ServiceHostTest() : HostFixture(QDateTime(QDate(2026, 1, 31), QTime(14, 5, 9), Qt::UTC)) {}

private:
    // A host on the real launcher with the stand-in, scripted so, as the service.
    std::unique_ptr<ServiceHost> standinHost(Standin &standin, const QJsonObject &script, bool runtime = false)
    {
        standin.setScript(script);
        standin.exportEnvironment(runtime);
        qputenv("CV_MAC_SERVICE", QFile::encodeName(Standin::executable()));
        return makeHost(buildTree_, true);
    }

    // Starts `host` and keeps the child's pid for cleanup(); false when it threw.
    bool started(ServiceHost &host, bool asChild = false)
    {
        const auto error = errorOf([&] { host.start(asChild); });
        if (host.childPid())
            children_.push_back(pid_t(*host.childPid()));
        return !error;
    }

private slots:
    void init() { reset(); }
    void cleanup() { endChildren(); }

    void binaryPathAndOverrides()
    {
        QCOMPARE(ServiceHost::binaryPath(packaged_), prefix_.service());
        QVERIFY(!ServiceHost::developmentOverridden());
        qputenv("CV_MAC_SERVICE", "/elsewhere/service that does not exist");
        QCOMPARE(ServiceHost::binaryPath(packaged_), QStringLiteral("/elsewhere/service that does not exist"));
        qputenv("CV_MAC_SERVICE", "");
        QCOMPARE(ServiceHost::binaryPath(packaged_), QString());
        // Each variable counts as an override when set, even empty.
        for (const char *name : {"CV_MAC_SERVICE", "CV_MAC_STATE_DIR", "CV_MAC_RUNTIME_DIR", "CV_MAC_MOUNT_ROOT",
                                 "CV_MAC_NFS_HELPER"}) {
            clearServiceEnvironment();
            qputenv(name, "");
            QVERIFY2(ServiceHost::developmentOverridden(), name);
        }
    }

    // The arguments as the stand-in, started as the service, received them.
    void childArguments_data()
    {
        QTest::addColumn<QStringList>("variables"); // name=value pairs
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("none") << QStringList() << QStringList();
        QTest::newRow("mount root and state only")
            << QStringList{"CV_MAC_MOUNT_ROOT=/mnt/cv", "CV_MAC_STATE_DIR=/var/state"}
            << QStringList{"--state-dir", "/var/state", "--mount-root", "/mnt/cv"};
        QTest::newRow("empty value keeps its option") << QStringList{"CV_MAC_NFS_HELPER="}
                                                      << QStringList{"--nfs-helper", ""};
        QTest::newRow("all four, in order")
            << QStringList{"CV_MAC_NFS_HELPER=/h", "CV_MAC_MOUNT_ROOT=/m", "CV_MAC_RUNTIME_DIR=/r", "CV_MAC_STATE_DIR=/s"}
            << QStringList{"--state-dir", "/s", "--runtime-dir", "/r", "--mount-root", "/m", "--nfs-helper", "/h"};
    }
    void childArguments()
    {
        QFETCH(QStringList, variables);
        QFETCH(QStringList, arguments);
        Standin standin;
        const auto host = standinHost(standin, QJsonObject{{"exit_at_start", 0}});
        for (const QString &pair : variables)
            qputenv(pair.section('=', 0, 0).toLatin1().constData(), pair.section('=', 1).toUtf8());
        QCOMPARE(ServiceHost::childArguments(), arguments);
        QVERIFY(started(*host));
        QVERIFY(waitUntil([&] { return host->childKnownStopped(); }));
        QCOMPARE(standin.startArguments(), QList<QStringList>{arguments});
        QCOMPARE(host->exitDescription(), exited(0));
    }

    // Starts that end in an error, and what they leave behind.
    void refusedStarts_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("asChild");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("logWritten");
        QTest::newRow("empty service variable") << "empty" << false << missingText << false;
        QTest::newRow("missing executable") << "missing" << false << missingText << false;
        QTest::newRow("not executable") << "plain" << false << missingText << false;
        QTest::newRow("none beside the app") << "beside" << false << missingText << false;
        QTest::newRow("approval, as agent") << "approval" << false << approvalText << false;
        QTest::newRow("approval, as child") << "approval" << true << approvalText << false;
        // Only the agent's existence counts here, not whether it could be registered.
        QTest::newRow("approval, development run") << "approval in build tree" << true << approvalText << false;
        QTest::newRow("launch fails after the marker") << "launch fails" << false << "platform: exec format error"
                                                       << true;
        QTest::newRow("log folder is a file") << "log folder is a file" << false << "platform: " << false;
        QTest::newRow("log through a dangling link") << "dangling link" << false
                                                     << "invalid: Couldn’t create the service log." << false;
        QTest::newRow("kickstart fails") << "kickstart fails" << false
                                         << "platform: launchctl: No such file or directory" << false;
        QTest::newRow("kickstart without identifier")
            << "no identifier" << false << "invalid: The installed app’s background service is unavailable." << false;
    }
    void refusedStarts()
    {
        QFETCH(QString, setup);
        QFETCH(bool, asChild);
        QFETCH(QString, error);
        QFETCH(bool, logWritten);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cv-mac-service"));
        AppBundle bundle = prefix_.bundle(false);
        if (setup == "empty" || setup == "missing" || setup == "plain")
            qputenv("CV_MAC_SERVICE", setup == "empty" ? QByteArray() : QFile::encodeName(path));
        if (setup == "plain")
            QVERIFY(writeFile(path, "#!/bin/sh\n"));
        if (setup == "beside")
            bundle = AppBundle(dir.filePath(QStringLiteral("corvane")), AppBundle::defaultInfo());
        if (setup.startsWith("approval"))
            agent().setStatus(LoginItemStatus::requiresApproval);
        if (setup == "approval")
            bundle = packaged_;
        if (setup == "approval in build tree") {
            bundle = AppBundle(QStringLiteral("/nowhere/corvane"),
                               {{"CVServiceAgentPlist", "agent.plist"}, {"CFBundleIdentifier", "app.corvane.Corvane"}});
            qputenv("CV_MAC_SERVICE", QFile::encodeName(prefix_.service()));
        }
        if (setup == "launch fails")
            launcher_.launchError = QStringLiteral("exec format error");
        if (setup == "log folder is a file")
            QVERIFY(writeFile(QDir::homePath() + QStringLiteral("/Library/Logs"), "not a folder"));
        if (setup == "dangling link") {
            QVERIFY(QDir().mkpath(serviceLogFolder()));
            QVERIFY(QFile::link(serviceLogFolder() + QStringLiteral("/gone/service.log"), serviceLog()));
        }
        if (setup == "kickstart fails" || setup == "no identifier") {
            agent().setStatus(LoginItemStatus::enabled);
            bundle = prefix_.bundle(true, setup != "no identifier");
            launchctl_.launchError = QStringLiteral("launchctl: No such file or directory");
        }

        const auto host = makeHost(bundle);
        const auto thrown = errorOf([&] { host->start(asChild); });
        QVERIFY2(thrown && (error.endsWith(": ") ? thrown->startsWith(error) : *thrown == error), qPrintable(thrown.value_or("no error")));
        QVERIFY(launcher_.launches.isEmpty());
        QCOMPARE(launchctl_.calls.size(), setup == "kickstart fails" ? 1 : 0);
        QVERIFY(host->childKnownStopped());
        QCOMPARE(host->exitDescription(), std::nullopt);
        QCOMPARE(readFile(serviceLog()).contains("--- App started service at "), logWritten);
    }

    void logAndMarker_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::addColumn<int>("status");
        QTest::newRow("created") << false << 0;
        QTest::newRow("existing keeps its content and mode") << true << 3;
    }
    void logAndMarker()
    {
        QFETCH(bool, existing);
        QFETCH(int, status);
        ::umask(022);
        const QByteArray before = existing ? "earlier service output without a line feed" : "";
        if (existing) {
            QVERIFY(writeFile(serviceLog(), before));
            QVERIFY(::chmod(QFile::encodeName(serviceLog()).constData(), 0640) == 0);
        }
        Standin standin;
        const auto host = standinHost(standin, QJsonObject{{"exit_at_start", status}, {"stdout", "out line\n"},
                                                           {"stderr", "error line\n"}});
        QCOMPARE(host->logPath(), serviceLog());
        QCOMPARE(host->exitDescription(), std::nullopt); // before any child
        QVERIFY(started(*host));
        QVERIFY(waitUntil([&] { return host->childKnownStopped(); }));
        // The marker after the last byte, the child's output after the marker.
        QCOMPARE(readFile(serviceLog()), before + marker + "out line\nerror line\n");
        QCOMPARE(modeOf(serviceLog()), mode_t(existing ? 0640 : 0600));
        if (!existing) {
            QCOMPARE(modeOf(serviceLogFolder()), mode_t(0700));
            QCOMPARE(modeOf(QDir::homePath() + QStringLiteral("/Library")), mode_t(0700));
        }
        QCOMPARE(host->exitDescription(), exited(status));
    }

    void secondStartWhileRunningDoesNothing()
    {
        Standin standin;
        auto host = standinHost(standin, QJsonObject{{"lifetime", 30}}, true);
        QVERIFY(started(*host));
        const qint64 pid = *host->childPid();
        QVERIFY(waitUntil([&] { return QFileInfo::exists(standin.socketPath()); }));
        QVERIFY(!host->childKnownStopped());
        QCOMPARE(host->exitDescription(), std::nullopt); // while it runs
        const QByteArray log = readFile(serviceLog());
        QVERIFY(started(*host));
        QVERIFY(started(*host, true));
        QCOMPARE(*host->childPid(), pid);
        QCOMPARE(readFile(serviceLog()), log);
        QCOMPARE(standin.startArguments().size(), 1);

        // Killed by a signal: the status is the signal's number.
        QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
        QVERIFY(waitUntil([&] { return host->childKnownStopped(); }));
        QCOMPARE(host->exitDescription(), exited(9));
        // Once stopped, a start launches a new child after a new marker.
        QVERIFY(started(*host));
        QVERIFY(*host->childPid() != pid);
        QCOMPARE(readFile(serviceLog()).count("--- App started service at "), 2);

        // The child outlives its host: never signalled, still running.
        const pid_t second = pid_t(*host->childPid());
        host.reset();
        QThread::msleep(50);
        QCOMPARE(::waitpid(second, nullptr, WNOHANG), 0);
    }

    void kickstartsTheManagedAgent()
    {
        agent().setStatus(LoginItemStatus::enabled);
        const auto host = makeHost(packaged_);
        QVERIFY(host->agentManaged());
        QVERIFY(started(*host));
        QCOMPARE(items_.plistNames.first(), QStringLiteral("app.corvane.Corvane.service.plist"));
        QCOMPARE(launchctl_.calls.size(), 1);
        QCOMPARE(launchctl_.calls.first().verbs, QStringList{"kickstart"});
        QCOMPARE(launchctl_.calls.first().target, QStringLiteral("gui/%1/app.corvane.Corvane.service").arg(::getuid()));
        QCOMPARE(launchctl_.calls.first().capture, false);
        QVERIFY(launcher_.launches.isEmpty());
        QVERIFY(!QFileInfo::exists(serviceLog()));
        // The agent is not this host's child.
        QVERIFY(host->childKnownStopped());
        QCOMPARE(host->exitDescription(), std::nullopt);

        // asChild skips the kickstart and launches a child.
        QVERIFY(started(*host, true));
        QCOMPARE(launcher_.launches.size(), 1);
        QCOMPARE(launcher_.launches.first().program, prefix_.service());
        // While that child runs the agent is not managed, and a start does nothing.
        QVERIFY(!host->agentManaged());
        QVERIFY(!host->agentStopped());
        QVERIFY(started(*host));
        QCOMPARE(launchctl_.calls.size(), 1);
        QCOMPARE(launcher_.launches.size(), 1);
        // Once it stopped, the agent is managed again and kickstarted.
        launcher_.launches.first().state->running = false;
        launcher_.launches.first().state->status = 70;
        QCOMPARE(host->exitDescription(), exited(70));
        QVERIFY(started(*host));
        QCOMPARE(launchctl_.calls.size(), 2);
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

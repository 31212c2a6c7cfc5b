// One running copy per session: the real corvane started several times on a
// private session bus.

#include "../views/table.h"
#include "standin.h"
#include "test_files.h"

#include "platform/single_instance.h"

#include <QDBusConnectionInterface>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

using namespace cv::test;

namespace {

// The real corvane in a process group of its own (as a terminal starts it), its
// development trace on standard error, its service the stand-in.
struct Corvane {
    // A relative capture folder: the trace without a capture run; an absolute one
    // captures the windows once the service answers, without the usual waits.
    Corvane(const Standin &service, const QStringList &arguments, const QString &captures = QStringLiteral("captures"))
    {
        QProcessEnvironment environment = service.environment();
        environment.insert(QStringLiteral("CV_MAC_CAPTURE_DIR"), captures);
        environment.insert(QStringLiteral("CV_MAC_CAPTURE_PAUSE_MS"), QStringLiteral("50"));
        environment.insert(QStringLiteral("CV_MAC_SERVICE"), Standin::executable());
        environment.insert(QStringLiteral("CV_MAC_RUNTIME_DIR"), service.runtimeDir());
        process.setProcessEnvironment(environment);
        process.setChildProcessModifier([] { ::setpgid(0, 0); });
        process.start(QStringLiteral(CORVANE_PATH), arguments);
    }
    ~Corvane()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    // Standard error so far.
    QString trace() { return stderrText += QString::fromUtf8(process.readAllStandardError()); }

    QProcess process;
    QString stderrText;
};

// How many request lines the stand-in received that contain `fragment`.
int received(const Standin &service, const char *fragment)
{
    return int(service.recorded().join().count(fragment));
}

const QString name = QStringLiteral("app.corvane.Corvane");

// How long a copy may take to get somewhere (milliseconds): a bound for one that is
// stuck, never a pace, as a sanitized build on a busy machine starts slowly.
constexpr int bound = 30000;

bool endedWith(Corvane &app, int code, int waitMs = bound)
{
    return app.process.waitForFinished(waitMs) && app.process.exitStatus() == QProcess::NormalExit && app.process.exitCode() == code;
}

} // namespace

class ShellInstanceTest : public QObject {
    Q_OBJECT
private slots:
    // A first copy that holds the name but never answers: the second one gives up
    // after its wait, says why and fails, instead of hanging or starting beside it.
    void firstCopyThatHangs()
    {
        Standin service;
        cv::SingleInstance hung(name);
        QCOMPARE(hung.claim(), cv::SingleInstance::Claim::owner);
        Corvane second(service, {});
        // This thread answers nothing while it waits.
        QVERIFY2(endedWith(second, 1), qPrintable(second.trace()));
        QVERIFY(second.trace().contains(QStringLiteral("already running but does not answer")));
        QVERIFY(service.startArguments().isEmpty() && service.recorded().isEmpty());
    }

    // A first copy that is quitting (here one of the test's own) is waited for and
    // asked again meanwhile: one that never ends makes the second give up after its
    // wait and say why; one whose quit is refused is reopened after all. Neither way
    // does the second start a service beside it.
    void firstCopyThatIsQuitting_data()
    {
        columns<bool, int>("refused", "status");
        QTest::newRow("never ends") << false << 1;
        QTest::newRow("quit refused") << true << 0;
    }
    void firstCopyThatIsQuitting()
    {
        auto [refused, status] = fetch<bool, int>("refused", "status");
        Standin service;
        cv::SingleInstance first(name);
        QCOMPARE(first.claim(), cv::SingleInstance::Claim::owner);
        first.setQuitting(true);
        Corvane second(service, {});
        QTRY_VERIFY_WITH_TIMEOUT(second.trace().contains("the first copy is quitting; waiting for it to end"), bound);
        first.setQuitting(!refused);
        // This thread answers the second's calls until it ends.
        QTRY_VERIFY_WITH_TIMEOUT(second.process.state() == QProcess::NotRunning, cv::SingleInstance::quittingWaitMs + 20000);
        QCOMPARE(second.process.exitCode(), status);
        QCOMPARE(second.trace().contains("Corvane is still quitting"), !refused);
        QVERIFY(service.startArguments().isEmpty());
    }

    // Launched again while the first copy quits on a signal (its service never
    // answering the quit): the second waits for the first to end, then owns the name
    // and shows its window once its service answers.
    void launchWhileTheFirstQuits()
    {
        Standin service;
        service.setScript({{"lifetime", 60}, {"ops", QJsonObject{{"quit", QJsonObject{{"silent", true}}}}}});
        Corvane first(service, {QStringLiteral("--background")});
        QTRY_VERIFY_WITH_TIMEOUT(received(service, R"("op":"status")"), bound);
        QCOMPARE(::kill(pid_t(first.process.processId()), SIGTERM), 0);
        QTRY_VERIFY(first.trace().contains(QStringLiteral("AppDelegate drain task started")));

        QTemporaryDir captures;
        Corvane second(service, {}, captures.path());
        QVERIFY2(endedWith(first, 0, 2 * bound), qPrintable(first.trace()));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(captures.filePath("main-window.png")), bound);
        QCOMPARE(QDBusConnection::sessionBus().interface()->servicePid(name).value(), uint(second.process.processId()));
        QVERIFY(QString::fromUtf8(readFile(captures.filePath("view-geometry.txt"))).contains(QRegularExpression("\nmain: .* visible=true")));
    }

    // Ctrl+C in a terminal (the whole process group), logging out and a closed
    // terminal each quit through the drain, which alone stops the service it started
    // (from event 42 on); a SIGTERM meanwhile is refused.
    void signalsQuitSafely_data()
    {
        columns<int, bool>("signal", "group");
        QTest::newRow("Ctrl+C") << int(SIGINT) << true;
        QTest::newRow("logging out") << int(SIGTERM) << false;
        QTest::newRow("terminal closed") << int(SIGHUP) << true;
    }
    void signalsQuitSafely()
    {
        auto [signal, group] = fetch<int, bool>("signal", "group");
        Standin service; // further on than 42: a smaller sequence would lower the cursor
        const QJsonObject quit{{"reply", QJsonObject{{"ok", true}, {"result", QJsonObject()}}}, {"delay", 0.3}, {"quit", true}};
        service.setScript({{"lifetime", 60}, {"event_sequence", 50}, {"ops", QJsonObject{{"quit", quit}}}});
        Corvane first(service, {QStringLiteral("--background"), QStringLiteral("--events-since"), QStringLiteral("42")});
        QTRY_VERIFY_WITH_TIMEOUT(received(service, R"("op":"events","since":42)"), bound);

        const pid_t pid = pid_t(first.process.processId());
        QCOMPARE(::kill(group ? -pid : pid, signal), 0);
        QTRY_VERIFY_WITH_TIMEOUT(first.trace().contains(QStringLiteral("AppDelegate drain task started")), bound);
        QCOMPARE(::kill(pid, SIGTERM), 0);
        QVERIFY2(endedWith(first, 0), qPrintable(first.trace()));
        QVERIFY(first.trace().contains(QStringLiteral("terminationInFlight=true")));
        QCOMPARE(received(service, R"("op":"quit")"), 1);
    }

    // A second launch reopens the first copy, started in the background, and ends:
    // the first one's main window is on screen (its capture, once the service that
    // refused at first answers, lists it) and its service goes on.
    void secondLaunchReopensTheFirst()
    {
        Standin service;
        service.setScript({{"lifetime", 60}, {"refuse", "no_socket"}, {"refuse_for", 2.0}});
        QTemporaryDir captures;
        Corvane first(service, {QStringLiteral("--background")}, captures.path());
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value(), bound);

        Corvane second(service, {});
        QVERIFY(endedWith(second, 0));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(captures.filePath("main-window.png")), bound);
        // The capture can be on disk before its trace lines have come through the pipe:
        // the order is judged once both are in.
        QTRY_VERIFY_WITH_TIMEOUT(first.trace().contains(QStringLiteral("second launch: reopening"))
                                     && first.trace().contains(QStringLiteral("scheduling capture")),
                                 bound);
        const QString trace = first.trace();
        QVERIFY2(trace.indexOf("second launch: reopening") < trace.indexOf("scheduling capture"), qPrintable(trace));
        QVERIFY(QString::fromUtf8(readFile(captures.filePath("view-geometry.txt"))).contains(QRegularExpression("\nmain: .* visible=true")));
        QCOMPARE(received(service, R"("op":"quit")"), 0);
    }
};

QTEST_GUILESS_MAIN(ShellInstanceTest)
#include "tst_shell_instance.moc"

// One running copy per session: the real corvane started several times on a
// private session bus.

#include "standin.h"

#include "platform/single_instance.h"

#include <QDBusConnectionInterface>
#include <QTest>

#include <csignal>
#include <unistd.h>

using cv::test::Standin;

namespace {

// The real corvane in a process group of its own (as a terminal starts it), its
// development trace on standard error, its service the stand-in.
struct Corvane {
    Corvane(const Standin &service, const QStringList &arguments)
    {
        QProcessEnvironment environment = service.environment();
        environment.insert(QStringLiteral("CV_MAC_CAPTURE_DIR"), service.directory());
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

bool endedWith(Corvane &app, int code)
{
    return app.process.waitForFinished(10000) && app.process.exitStatus() == QProcess::NormalExit && app.process.exitCode() == code;
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

    // The first copy from event 42 in the background: a second launch reopens it, and a terminal's Ctrl+C (which reaches the
    // whole process group) quits it through the drain, which alone stops the service
    // it started; a SIGTERM meanwhile is refused.
    void secondLaunchReopensTheFirst()
    {
        Standin service; // further on than 42: a smaller sequence would lower the cursor
        const QJsonObject quit{{"reply", QJsonObject{{"ok", true}, {"result", QJsonObject()}}}, {"delay", 0.3}, {"quit", true}};
        service.setScript({{"lifetime", 60}, {"event_sequence", 50}, {"ops", QJsonObject{{"quit", quit}}}});
        Corvane first(service, {QStringLiteral("--background"), QStringLiteral("--events-since"), QStringLiteral("42")});
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value() && received(service, R"("op":"events","since":42)"), 5000);

        Corvane second(service, {});
        QVERIFY(endedWith(second, 0));
        QTRY_VERIFY(first.trace().contains(QStringLiteral("second launch: reopening")));
        QCOMPARE(received(service, R"("op":"quit")"), 0);

        QCOMPARE(::kill(-pid_t(first.process.processId()), SIGINT), 0);
        QTRY_VERIFY(first.trace().contains(QStringLiteral("AppDelegate drain task started")));
        QCOMPARE(::kill(pid_t(first.process.processId()), SIGTERM), 0);
        QVERIFY2(endedWith(first, 0), qPrintable(first.trace()));
        QVERIFY(first.trace().contains(QStringLiteral("terminationInFlight=true")));
        QCOMPARE(received(service, R"("op":"quit")"), 1);
    }
};

QTEST_GUILESS_MAIN(ShellInstanceTest)
#include "tst_shell_instance.moc"

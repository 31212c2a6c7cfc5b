// One running copy per session: the real corvane started several times on a
// private session bus.

#include "standin.h"

#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

const QString name = QStringLiteral("app.corvane.Corvane");

// A corvane process in a process group of its own (as a terminal starts it), its
// development trace on standard error, its service the stand-in.
struct Corvane {
    Corvane(const cv::test::Standin &service, const QStringList &arguments)
    {
        QProcessEnvironment environment = service.environment();
        environment.insert(QStringLiteral("CV_MAC_CAPTURE_DIR"), service.directory());
        environment.insert(QStringLiteral("CV_MAC_SERVICE"), cv::test::Standin::executable());
        environment.insert(QStringLiteral("CV_MAC_RUNTIME_DIR"), service.runtimeDir());
        process.setProcessEnvironment(environment);
        process.setChildProcessModifier([] { ::setpgid(0, 0); });
        process.start(QStringLiteral(CORVANE_PATH), arguments);
    }
    ~Corvane()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    QString trace()
    {
        stderrText += QString::fromUtf8(process.readAllStandardError());
        return stderrText;
    }

    QProcess process;
    QString stderrText;
};

bool nameOwned()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value();
}

} // namespace

class ShellInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void secondLaunchReopensTheFirst()
    {
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        cv::test::Standin service;
        service.setScript(QJsonObject{{"lifetime", 60}});
        Corvane first(service, {QStringLiteral("--background")});
        QVERIFY(first.process.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(nameOwned(), 15000);

        Corvane second(service, {});
        QVERIFY(second.process.waitForFinished(15000));
        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(first.trace().contains(QStringLiteral("second launch: reopening")), 10000);
        QCOMPARE(first.process.state(), QProcess::Running);

        // A development mode runs beside it, and ends at once on SIGTERM without
        // asking any service to quit.
        Corvane demo(service, {QStringLiteral("--demo")});
        QVERIFY(demo.process.waitForStarted(10000));
        QVERIFY(!demo.process.waitForFinished(1500));
        QCOMPARE(first.trace().count(QStringLiteral("second launch: reopening")), 1);
        demo.process.terminate();
        QVERIFY(demo.process.waitForFinished(10000));
        QCOMPARE(demo.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(demo.process.exitCode(), 0);
        QVERIFY2(demo.trace().contains(QStringLiteral("applicationWillTerminate")), qPrintable(demo.trace()));
    }

    // A terminal's Ctrl+C reaches the whole foreground process group: the service
    // the application started must survive it until the quit drain stops it.
    void interruptStopsTheChildServiceThroughTheDrain()
    {
        cv::test::Standin service;
        service.setScript(QJsonObject{{"lifetime", 60}});
        Corvane app(service, {QStringLiteral("--background")});
        QVERIFY(app.process.waitForStarted(10000));
        const auto asked = [&service](const QByteArray &op) {
            for (const QByteArray &line : service.recorded())
                if (line.contains("\"op\":\"" + op + "\""))
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(asked("status"), 20000);
        QCOMPARE(::kill(-pid_t(app.process.processId()), SIGINT), 0);
        QVERIFY(app.process.waitForFinished(30000));
        QCOMPARE(app.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.process.exitCode(), 0);
        QVERIFY2(asked("quit"), qPrintable(app.trace()));
        QVERIFY(app.trace().contains(QStringLiteral("allowTermination=true")));
    }
};

QTEST_GUILESS_MAIN(ShellInstanceTest)
#include "tst_shell_instance.moc"

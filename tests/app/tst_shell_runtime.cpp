// The application runtime (termination handshake, termination signals), the
// login-item test, the single-instance name and the development trace.

#include "app/app_launch_intent.h"
#include "platform/app_runtime.h"
#include "platform/development_log.h"
#include "platform/single_instance.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>

#include <csignal>
#include <unistd.h>

using namespace cv;

namespace {

// Answers every termination request with `reply` and records what it was told.
struct ScriptedDelegate final : AppRuntimeDelegate {
    TerminateReply reply = TerminateReply::now;
    QStringList calls;
    TerminateReply applicationShouldTerminate() override
    {
        calls << QStringLiteral("should");
        return reply;
    }
    void applicationWillTerminate() override { calls << QStringLiteral("will"); }
    void applicationDidBecomeActive() override { calls << QStringLiteral("active"); }
    bool applicationShouldHandleReopen(bool) override
    {
        calls << QStringLiteral("reopen");
        return true;
    }
};

// What `write` sent to standard error, with CV_MAC_CAPTURE_DIR set or not.
QByteArray stderrOf(bool capture, const std::function<void()> &write)
{
    if (capture)
        qputenv("CV_MAC_CAPTURE_DIR", "");
    else
        qunsetenv("CV_MAC_CAPTURE_DIR");
    QTemporaryFile file;
    file.open();
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file.handle(), STDERR_FILENO);
    write();
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    qunsetenv("CV_MAC_CAPTURE_DIR");
    file.seek(0);
    return file.readAll();
}

constexpr quint32 aevt = fourCharCode("aevt");
constexpr quint32 oapp = fourCharCode("oapp");
constexpr quint32 lgit = fourCharCode("lgit");

} // namespace

Q_DECLARE_METATYPE(std::optional<cv::LaunchEvent>)

class ShellRuntimeTest : public QObject {
    Q_OBJECT
private slots:
    void loginItemLaunch_data()
    {
        QTest::addColumn<std::optional<LaunchEvent>>("event");
        QTest::addColumn<bool>("loginItem");
        QTest::newRow("no event") << std::optional<LaunchEvent>() << false;
        QTest::newRow("login item") << std::optional(LaunchEvent{aevt, aevt, oapp, lgit}) << true;
        QTest::newRow("no property data") << std::optional(LaunchEvent{aevt, aevt, oapp, {}}) << false;
        QTest::newRow("other code") << std::optional(LaunchEvent{aevt, aevt, oapp, fourCharCode("xxxx")}) << false;
        QTest::newRow("other event id") << std::optional(LaunchEvent{aevt, aevt, fourCharCode("odoc"), lgit}) << false;
        QTest::newRow("other class") << std::optional(LaunchEvent{aevt, fourCharCode("core"), oapp, lgit}) << false;
        QTest::newRow("other descriptor") << std::optional(LaunchEvent{fourCharCode("list"), aevt, oapp, lgit}) << false;
    }

    void loginItemLaunch()
    {
        QFETCH(std::optional<LaunchEvent>, event);
        QFETCH(bool, loginItem);
        QCOMPARE(AppLaunchIntent::isLoginItemLaunch(event), loginItem);
    }

    void terminateHandshake_data()
    {
        QTest::addColumn<int>("reply");
        QTest::addColumn<int>("lateAnswer"); // -1: none, else 0/1
        QTest::addColumn<int>("signalNumber"); // 0: terminate() called directly
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("exited");
        const QStringList should{"should"}, ended{"should", "will"};
        QTest::newRow("now") << int(TerminateReply::now) << -1 << 0 << ended << true;
        QTest::newRow("cancel") << int(TerminateReply::cancel) << -1 << 0 << should << false;
        QTest::newRow("later, held") << int(TerminateReply::later) << -1 << 0 << should << false;
        QTest::newRow("later, allowed") << int(TerminateReply::later) << 1 << 0 << ended << true;
        QTest::newRow("later, refused") << int(TerminateReply::later) << 0 << 0 << should << false;
        QTest::newRow("SIGTERM") << int(TerminateReply::now) << -1 << SIGTERM << ended << true;
        QTest::newRow("SIGINT, later") << int(TerminateReply::later) << -1 << SIGINT << should << false;
        QTest::newRow("SIGHUP, cancel") << int(TerminateReply::cancel) << -1 << SIGHUP << should << false;
    }

    void terminateHandshake()
    {
        QFETCH(int, reply);
        QFETCH(int, lateAnswer);
        QFETCH(int, signalNumber);
        QFETCH(QStringList, calls);
        QFETCH(bool, exited);
        ScriptedDelegate delegate;
        delegate.reply = TerminateReply(reply);
        AppRuntime runtime;
        runtime.setDelegate(&delegate);
        QList<int> exits;
        runtime.exitLoop = [&exits](int code) { exits << code; };
        if (signalNumber) {
            QVERIFY(runtime.installSignalHandlers());
            ::raise(signalNumber);
            QTRY_VERIFY(!delegate.calls.isEmpty());
        } else {
            runtime.terminate();
        }
        QCOMPARE(runtime.terminationPending(), reply == int(TerminateReply::later));
        if (lateAnswer >= 0)
            runtime.replyToApplicationShouldTerminate(lateAnswer == 1);
        QCOMPARE(delegate.calls, calls);
        QCOMPARE(exits, exited ? QList<int>{0} : QList<int>{});
        // A reply nobody waits for changes nothing.
        runtime.replyToApplicationShouldTerminate(true);
        QCOMPARE(exits.size(), exited ? 1 : int(reply == int(TerminateReply::later) && lateAnswer < 0));
    }

    void policyIsAnnouncedOnChange()
    {
        AppRuntime runtime;
        QSignalSpy changes(&runtime, &AppRuntime::activationPolicyChanged);
        runtime.setActivationPolicy(ActivationPolicy::accessory);
        runtime.setActivationPolicy(ActivationPolicy::accessory);
        runtime.setActivationPolicy(ActivationPolicy::regular);
        QCOMPARE(changes.size(), 2);
        QCOMPARE(runtime.activationPolicy(), ActivationPolicy::regular);
    }

    void busName_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("name");
        QTest::newRow("bundle identifier") << "app.corvane.Corvane" << "app.corvane.Corvane";
        QTest::newRow("space and digit") << "org.9lives.my app" << "org._9lives.my_app";
        QTest::newRow("one element") << "corvane" << "app.corvane";
    }

    void busName()
    {
        QFETCH(QString, identifier);
        QFETCH(QString, name);
        QCOMPARE(SingleInstance::busName(identifier), name);
    }

    void withoutABusEachProcessRunsAlone()
    {
        SingleInstance instance(QStringLiteral("app.corvane.Corvane"), QDBusConnection(QStringLiteral("none")));
        QCOMPARE(instance.claim(100), SingleInstance::Claim::standalone);
    }

    void developmentTrace_data()
    {
        QTest::addColumn<double>("wall");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("fraction") << 1765000000.25 << QByteArray("wall=1765000000.25 x\n");
        QTest::newRow("whole") << 1765000000.0 << QByteArray("wall=1765000000 x\n");
        QTest::newRow("large, no exponent") << 1e21 << QByteArray("wall=1000000000000000000000 x\n");
        QTest::newRow("small, no exponent") << 0.0001 << QByteArray("wall=0.0001 x\n");
    }

    void developmentTrace()
    {
        QFETCH(double, wall);
        QFETCH(QByteArray, written);
        QCOMPARE(developmentLine(42, wall, QStringLiteral("x")), "Development lifecycle pid=42 " + written);
    }

    void developmentTraceOnlyWhileCapturing()
    {
        const auto write = [] { developmentLog(QStringLiteral("window “shown”")); };
        QCOMPARE(stderrOf(false, write), QByteArray());
        const QString line = QString::fromUtf8(stderrOf(true, write));
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^Development lifecycle pid=\d+ wall=\d+(\.\d+)? window “shown”\n$)"))
                     .match(line)
                     .hasMatch(),
                 qPrintable(line));
        QVERIFY(line.contains(QStringLiteral("pid=%1 ").arg(::getpid())));
    }
};

QTEST_MAIN(ShellRuntimeTest)
#include "tst_shell_runtime.moc"

// The application runtime's termination handshake and signals, the login-item test
// and the development trace.

#include "app/app_launch_intent.h"
#include "platform/app_runtime.h"
#include "platform/development_log.h"
#include "trace_capture.h"

#include <QRegularExpression>
#include <QTest>

#include <csignal>

using namespace cv;
using namespace cv::test;
using Event = std::optional<LaunchEvent>;

namespace {

// Answers every termination request with `reply` and records what it was told.
struct ScriptedDelegate final : AppRuntimeDelegate {
    TerminateReply reply = TerminateReply::now;
    QStringList calls;
    TerminateReply applicationShouldTerminate() override
    {
        calls << "should";
        return reply;
    }
    void applicationWillTerminate() override { calls << "will"; }
    void applicationDidBecomeActive() override {}
    bool applicationShouldHandleReopen(bool) override { return true; }
};

constexpr quint32 aevt = fourCharCode("aevt"), oapp = fourCharCode("oapp"), lgit = fourCharCode("lgit");

} // namespace

class ShellRuntimeTest : public QObject {
    Q_OBJECT
private slots:
    void loginItemLaunch_data()
    {
        QTest::addColumn<Event>("event");
        QTest::addColumn<bool>("loginItem");
        QTest::newRow("no event") << Event() << false;
        QTest::newRow("login item") << Event(LaunchEvent{aevt, aevt, oapp, lgit}) << true;
        QTest::newRow("no property data") << Event(LaunchEvent{aevt, aevt, oapp, {}}) << false;
        QTest::newRow("other code") << Event(LaunchEvent{aevt, aevt, oapp, fourCharCode("xxxx")}) << false;
        QTest::newRow("other event id") << Event(LaunchEvent{aevt, aevt, fourCharCode("odoc"), lgit}) << false;
        QTest::newRow("other class") << Event(LaunchEvent{aevt, fourCharCode("core"), oapp, lgit}) << false;
        QTest::newRow("other descriptor") << Event(LaunchEvent{fourCharCode("list"), aevt, oapp, lgit}) << false;
    }
    void loginItemLaunch()
    {
        QFETCH(Event, event);
        QTEST(AppLaunchIntent::isLoginItemLaunch(event), "loginItem");
    }

    void autostartEntryLaunchIsALoginItemLaunch()
    {
        qputenv("CV_AUTOSTART", "1"); // read once per process, here first
        QVERIFY(AppLaunchIntent::isLoginItemLaunch(AppLaunchIntent::currentEvent()));
    }

    void terminateHandshake_data()
    {
        QTest::addColumn<TerminateReply>("reply");
        QTest::addColumn<int>("lateAnswer"); // -1: none, else 0/1
        QTest::addColumn<int>("signalNumber"); // 0: terminate() called directly
        QTest::addColumn<int>("exits");
        QTest::newRow("now") << TerminateReply::now << -1 << 0 << 1;
        QTest::newRow("cancel") << TerminateReply::cancel << -1 << 0 << 0;
        QTest::newRow("later, held") << TerminateReply::later << -1 << 0 << 0;
        QTest::newRow("later, allowed") << TerminateReply::later << 1 << 0 << 1;
        QTest::newRow("later, refused") << TerminateReply::later << 0 << 0 << 0;
        QTest::newRow("SIGTERM") << TerminateReply::now << -1 << SIGTERM << 1;
        QTest::newRow("SIGINT, later") << TerminateReply::later << -1 << SIGINT << 0;
        QTest::newRow("SIGHUP, cancel") << TerminateReply::cancel << -1 << SIGHUP << 0;
    }
    void terminateHandshake()
    {
        QFETCH(TerminateReply, reply);
        QFETCH(int, lateAnswer);
        QFETCH(int, signalNumber);
        QFETCH(int, exits);
        ScriptedDelegate delegate;
        delegate.reply = reply;
        AppRuntime runtime;
        runtime.setDelegate(&delegate);
        int exited = 0;
        runtime.exitLoop = [&exited](int code) { exited += 1 + code; };
        if (signalNumber) {
            QVERIFY(runtime.installSignalHandlers());
            ::raise(signalNumber);
            QTRY_VERIFY(!delegate.calls.isEmpty());
        } else {
            runtime.terminate();
        }
        QCOMPARE(runtime.terminationPending(), reply == TerminateReply::later);
        if (lateAnswer >= 0)
            runtime.replyToApplicationShouldTerminate(lateAnswer == 1);
        QCOMPARE(exited, exits);
        QCOMPARE(delegate.calls, exits ? QStringList({"should", "will"}) : QStringList{"should"});
    }

    void developmentTrace_data()
    {
        QTest::addColumn<double>("wall");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("fraction") << 1765000000.25 << QByteArray("1765000000.25");
        QTest::newRow("no exponent") << 1e21 << QByteArray("1000000000000000000000");
    }
    void developmentTrace()
    {
        QFETCH(double, wall);
        QFETCH(QByteArray, written);
        QCOMPARE(developmentLine(42, wall, "x"), "Development lifecycle pid=42 wall=" + written + " x\n");
        TraceCapture quiet(false);
        developmentLog(QStringLiteral("x"));
        QCOMPARE(quiet.written(), QByteArray()); // written only while capturing
        TraceCapture capture;
        developmentLog(QStringLiteral("window “shown”"));
        const QString line = QString::fromUtf8(capture.written());
        QVERIFY2(QRegularExpression(R"(^Development lifecycle pid=\d+ wall=\d+(\.\d+)? window “shown”\n$)").match(line).hasMatch(),
                 qPrintable(line));
    }
};

QTEST_MAIN(ShellRuntimeTest)
#include "tst_shell_runtime.moc"

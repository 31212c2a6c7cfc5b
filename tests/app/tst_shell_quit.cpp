// Quitting through the termination handshake, and leaving quietly when idle.

#include "delegate_fixture.h"
#include "model_fixture.h"
#include "trace_capture.h"

using namespace cv;
using namespace cv::test;

namespace {

const QString waitText = QStringLiteral("Wait for the current action or service startup to finish before quitting.");

// A model that reached its service and is idle; "quit" answers after `delay`.
void idle(DelegateFixture &f, double delay = 0)
{
    f.appModel().setStarting(false);
    f.model.client->always(QStringLiteral("quit"), wire::done(), delay);
}

using Setup = std::function<void(DelegateFixture &)>;

} // namespace

Q_DECLARE_METATYPE(Setup)

class ShellQuitTest : public QObject {
    Q_OBJECT
private slots:
    void quitTwiceDrainsOnce()
    {
        DelegateFixture f;
        idle(f);
        TraceCapture trace;
        f.delegate->requestQuit();
        f.delegate->requestQuit();
        QVERIFY(f.delegate->terminationScheduled);
        QTRY_COMPARE(f.exits, QList<int>{0});
        QTest::qWait(20);
        QCOMPARE(f.exits, QList<int>{0});
        QCOMPARE(f.model.client->ops(), QStringList{"quit"});
        QCOMPARE(trace.texts(), (QStringList{"requesting ordinary NSApp.terminate from run-loop selector",
                                             "applicationShouldTerminate received; terminationInFlight=false",
                                             "AppDelegate drain task started",
                                             "controller Quit completed; replying to AppKit allowTermination=true",
                                             "applicationWillTerminate"}));
    }

    void terminateDuringTheDrainIsCancelled()
    {
        DelegateFixture f;
        idle(f, 3.0);
        f.model.clock.setAutoAdvance(false);
        f.runtime.terminate();
        QTRY_COMPARE(f.model.client->ops(), QStringList{"quit"});
        // The Dock, a signal or a second Quit while the service stops.
        f.runtime.terminate();
        f.delegate->requestQuit();
        QTest::qWait(20);
        QVERIFY(f.delegate->terminationInFlight);
        QCOMPARE(f.model.client->ops(), QStringList{"quit"});
        QCOMPARE(f.exits, QList<int>());
        f.model.clock.advance(3.0);
        QTRY_COMPARE(f.exits, QList<int>{0});
    }

    void refusedQuitKeepsRunningAndShowsWhy()
    {
        DelegateFixture f;
        idle(f);
        f.delegate->subscribeToErrors();
        f.appModel().setMutating(true); // a command that never finishes
        f.model.clock.setAutoAdvance(false);
        f.runtime.terminate();
        QTRY_VERIFY(f.model.clock.sleeperCount() > 0);
        // An error raised while the service stops waits for the drain.
        f.delegate->presentError(QStringLiteral("raised during the drain"));
        QTest::qWait(20);
        QCOMPARE(f.sheet(), std::nullopt);
        f.model.clock.setAutoAdvance(true);
        QTRY_COMPARE(f.sheet(), std::optional<QString>(waitText));
        QVERIFY(!f.delegate->terminationInFlight);
        QVERIFY(!f.runtime.terminationPending());
        QCOMPARE(f.exits, QList<int>());
        QCOMPARE(f.model.client->ops(), QStringList());
    }

    void developmentModeQuitsWithoutTheService()
    {
        DelegateFixture f;
        f.delegate->applicationDidFinishLaunching({QStringLiteral("corvane"), QStringLiteral("--demo")});
        f.delegate->requestQuit();
        QTRY_COMPARE(f.exits, QList<int>{0});
        QCOMPARE(f.model.client->requests, QList<QByteArray>());
    }

    void idleLeaving_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<bool>("armed");
        QTest::addColumn<bool>("leaves");
        const Setup none = [](DelegateFixture &) {};
        QTest::newRow("nothing on screen") << none << true << true;
        QTest::newRow("menu-bar item on") << Setup([](auto &f) { f.appModel().setShowInMenuBar(true); }) << false << false;
        QTest::newRow("service is a child")
            << Setup([](auto &f) { f.model.loginItems.agentItem->setStatus(LoginItemStatus::notRegistered); }) << false << false;
        QTest::newRow("window visible") << Setup([](auto &f) { f.shown(); }) << true << false;
        QTest::newRow("window minimised") << Setup([](auto &f) { f.shown()->showMinimized(); }) << true << false;
        QTest::newRow("delivery gathering")
            << Setup([](auto &f) { AppModelAccess::pendingDeliveries(f.appModel()).insert("p1", {}); }) << true << false;
        QTest::newRow("command in flight") << Setup([](auto &f) { f.appModel().setMutating(true); }) << true << false;
        QTest::newRow("error pending") << Setup([](auto &f) { f.delegate->pendingError = "x"; }) << true << false;
        QTest::newRow("quit queued") << Setup([](auto &f) { f.delegate->terminationScheduled = true; }) << true << false;
    }

    void idleLeaving()
    {
        QFETCH(Setup, setup);
        QFETCH(bool, armed);
        QFETCH(bool, leaves);
        InstalledApp installed;
        DelegateFixture f;
        idle(f);
        f.model.bundle = installed.bundle();
        f.model.loginItems.agentItem->setStatus(LoginItemStatus::enabled);
        f.model.clock.setAutoAdvance(false);
        setup(f);
        f.delegate->considerLeaving();
        QCOMPARE(bool(f.delegate->idleCheck), armed);
        f.delegate->considerLeaving(); // armed once at a time
        QCOMPARE(f.model.clock.sleeperCount(), int(armed));
        f.model.clock.advance(4.9);
        QTest::qWait(10);
        QCOMPARE(f.exits, QList<int>());
        f.model.clock.advance(0.1);
        QTRY_VERIFY(!f.delegate->idleCheck);
        QCOMPARE(f.exits, leaves ? QList<int>{0} : QList<int>());
        QCOMPARE(f.delegate->leavingQuietly, leaves);
        // Leaving never asks the service to quit: it keeps running.
        QVERIFY(!f.model.client->ops().contains(QStringLiteral("quit")));
    }
};

QTEST_MAIN(ShellQuitTest)
#include "tst_shell_quit.moc"

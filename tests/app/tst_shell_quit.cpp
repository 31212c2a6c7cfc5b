// Quitting through the termination handshake, and leaving quietly when idle.

#include "../views/table.h"
#include "delegate_fixture.h"

using namespace cv;
using namespace cv::test;

namespace {

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
    // Quit twice in one turn, then the Dock, a signal or a third Quit while the
    // service stops: one drain, one exit.
    void quitRequestsDrainOnce()
    {
        DelegateFixture f;
        idle(f, 3.0);
        f.model.clock.setAutoAdvance(false);
        f.delegate->requestQuit();
        f.delegate->requestQuit();
        QTRY_COMPARE(f.model.client->ops(), QStringList{"quit"});
        f.runtime.terminate();
        f.delegate->requestQuit();
        QTest::qWait(20);
        QVERIFY(f.delegate->terminationInFlight && f.exits.isEmpty());
        QCOMPARE(f.model.client->ops(), QStringList{"quit"});
        f.model.clock.advance(3.0);
        QTRY_COMPARE(f.exits, QList<int>{0});
    }

    // A quit the model refuses (a command that never ends) or the service fails
    // keeps the application running and shows why once the drain is over.
    void quitNotDone_data()
    {
        columns<Setup, QString, QStringList>("setup", "shown", "ops");
        QTest::newRow("refused while busy") << Setup([](auto &f) { f.appModel().setMutating(true); }) << "Wait for the current action" << QStringList{};
        QTest::newRow("service fails") << Setup([](auto &f) { f.model.client->queueError("quit", ServiceError::invalid("Reset."), 1.0); })
                                       << "Couldn’t stop sharing safely: Reset." << QStringList{"quit", "status"};
    }
    void quitNotDone()
    {
        auto [setup, shown, ops] = fetch<Setup, QString, QStringList>("setup", "shown", "ops");
        DelegateFixture f;
        idle(f);
        f.delegate->subscribeToErrors();
        setup(f);
        f.model.clock.setAutoAdvance(false);
        f.runtime.terminate();
        QTRY_VERIFY(f.model.clock.sleeperCount() > 0);
        QTest::qWait(20);
        QCOMPARE(f.sheet(), std::nullopt); // not while the service stops
        f.model.clock.setAutoAdvance(true);
        QTRY_VERIFY2(f.sheet().value_or("").startsWith(shown), qPrintable(f.sheet().value_or("none")));
        QVERIFY(!f.delegate->terminationInFlight && !f.runtime.terminationPending() && f.exits.isEmpty());
        QCOMPARE(f.model.client->ops(), ops);
    }

    // Leaving after 5 s with nothing on screen and nothing under way; it never asks
    // the service to quit: it keeps running.
    void idleLeaving_data()
    {
        columns<Setup, bool, bool>("setup", "armed", "leaves");
        const Setup none = [](DelegateFixture &) {};
        QTest::newRow("nothing on screen") << none << true << true;
        QTest::newRow("menu-bar item on") << Setup([](auto &f) { f.appModel().setShowInMenuBar(true); }) << false << false;
        QTest::newRow("service is a child") << Setup([](auto &f) { f.model.loginItems.agentItem->setStatus(LoginItemStatus::notRegistered); }) << false << false;
        QTest::newRow("window visible") << Setup([](auto &f) { f.shown(); }) << true << false;
        QTest::newRow("window minimised") << Setup([](auto &f) { f.shown()->showMinimized(); }) << true << false;
        QTest::newRow("command in flight") << Setup([](auto &f) { f.appModel().setMutating(true); }) << true << false;
        QTest::newRow("error pending") << Setup([](auto &f) { f.delegate->pendingError = "x"; }) << true << false;
    }
    void idleLeaving()
    {
        auto [setup, armed, leaves] = fetch<Setup, bool, bool>("setup", "armed", "leaves");
        InstalledApp installed;
        DelegateFixture f;
        idle(f);
        f.model.bundle = installed.bundle();
        f.model.loginItems.agentItem->setStatus(LoginItemStatus::enabled);
        f.model.clock.setAutoAdvance(false);
        setup(f);
        f.delegate->considerLeaving();
        f.delegate->considerLeaving(); // armed once at a time
        QCOMPARE(f.model.clock.sleeperCount(), int(armed));
        f.model.clock.advance(4.9);
        QTest::qWait(10);
        QVERIFY(f.exits.isEmpty());
        f.model.clock.advance(0.1);
        QTRY_VERIFY(!f.delegate->idleCheck);
        QCOMPARE(f.exits, leaves ? QList<int>{0} : QList<int>());
        QVERIFY(!f.model.client->ops().contains(QStringLiteral("quit")));
    }
};

QTEST_MAIN(ShellQuitTest)
#include "tst_shell_quit.moc"

// Quitting through the termination handshake, leaving quietly when idle, the error
// sheet on the main window and the answers to clicks on notices.

#include "../views/table.h"
#include "delegate_fixture.h"
#include "fake_notification_server.h"
#include "localization/localization.h"
#include "platform/notification_center.h"
#include "service/diagnostics.h"

#include <QAccessible>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>

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
using SheetAnswer = std::function<void(QMessageBox *)>;

} // namespace

Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(SheetAnswer)

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
        // The refusal reaches the sheet while the drain still waits for the status.
        QTest::newRow("service fails, a slow status") << Setup([](auto &f) {
            f.model.client->queueError("quit", ServiceError::invalid("Reset."), 1.0);
            f.model.client->queue("status", wire::ok(wire::status()), 1.0);
        }) << "Couldn’t stop sharing safely: Reset." << QStringList{"quit", "status"};
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

    // The same quits on a signal (the system ends the application): never refused,
    // no sheet, the application exits once the quit's bounded wait is over; also a
    // signal that comes while a Quit drains.
    void signalNeverRefused_data() { quitNotDone_data(); }
    void signalNeverRefused()
    {
        auto [setup, shown, ops] = fetch<Setup, QString, QStringList>("setup", "shown", "ops");
        for (const bool duringQuit : {false, true}) {
            DelegateFixture f;
            idle(f);
            f.delegate->subscribeToErrors();
            setup(f);
            if (duringQuit)
                f.runtime.terminate();
            f.runtime.terminateOnSignal();
            QTRY_COMPARE(f.exits, QList<int>{0});
            QCOMPARE(f.sheet(), std::nullopt);
        }
    }

    // Leaving after 5 s with nothing on screen and nothing under way; it never asks
    // the service to quit: it keeps running.
    void idleLeaving_data()
    {
        columns<Setup, bool, bool>("setup", "armed", "leaves");
        const Setup none = [](DelegateFixture &) {};
        QTest::newRow("nothing on screen") << none << true << true;
        QTest::newRow("menu-bar item on") << Setup([](auto &f) { f.appModel().setShowInMenuBar(true); }) << false << false;
        QTest::newRow("window visible") << Setup([](auto &f) { f.shown(); }) << true << false;
        QTest::newRow("window minimised") << Setup([](auto &f) { f.shown()->showMinimized(); }) << true << false;
        QTest::newRow("notices gathering") << Setup([](auto &f) { AppModelAccess::pendingDeliveries(f.appModel()).insert("p1", {}); }) << true << false;
        QTest::newRow("command in flight") << Setup([](auto &f) { f.appModel().setMutating(true); }) << true << false;
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

    // One sheet at a time, its text never read as markup; while it is up newer errors
    // wait and the newest wins; dismissing clears only the error it shows. The log
    // has each error as composed: a name in it without the marks that isolate it.
    void errorsShownOneAtATime()
    {
        QVERIFY(QDir().mkpath(Diagnostics::logFolder()));
        const std::optional<QString> first = QStringLiteral("<b>x</b> & co");
        const QString name = QString::fromUtf8("סטודיו של דנה");
        const std::optional<QString> third = L("{name} shares its files read-only.", {{"name", name}});
        DelegateFixture f;
        f.delegate->subscribeToErrors();
        f.appModel().setError(first);
        QTRY_COMPARE(f.sheet(), first);
        QCOMPARE(f.delegate->errorAlert->findChild<QLabel *>("qt_msgbox_informativelabel")->textFormat(), Qt::PlainText);
        f.appModel().setError(QStringLiteral("second"));
        f.appModel().setError(third);
        QTest::qWait(20);
        QCOMPARE(f.sheet(), first);
        f.answerSheet();
        QCOMPARE(f.appModel().error(), third);
        QTRY_COMPARE(f.sheet(), third);
        // Selected in the sheet and copied, the name has no marks.
        auto *informative = f.delegate->errorAlert->findChild<QLabel *>("qt_msgbox_informativelabel");
        QTest::mouseClick(informative, Qt::LeftButton);
        QTest::keyClick(informative, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(informative, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), name + " shares its files read-only.");
        QCOMPARE(QAccessible::queryAccessibleInterface(informative)->text(QAccessible::Name), name + " shares its files read-only."); // and read so
        f.answerSheet();
        QCOMPARE(f.appModel().error(), std::nullopt);
        QTRY_VERIFY(!f.delegate->errorAlert);
        QVERIFY(f.model.workspace->settings.isEmpty());
        Diagnostics::flush();
        QFile log(Diagnostics::logFolder() + "/app.log");
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(log.readAll()).split('\n').filter(" error shown: ").last().section(' ', 1),
                 "error shown: " + name + " shares its files read-only.");
    }

    // A refusal by the system's privacy protection adds the way to its settings,
    // where the desktop has that pane. Enter picks the first button, Escape "OK";
    // only "Open Privacy Settings" opens the pane, and every answer clears the error.
    void privacyRefusalOpensSettings_data()
    {
        columns<bool, SheetAnswer, int>("pane", "answer", "opened");
        const auto key = [](Qt::Key k) { return SheetAnswer([k](QMessageBox *box) { QTest::keyClick(box, k); }); };
        const auto button = [](int i) { return SheetAnswer([i](QMessageBox *box) { box->buttons().at(i)->click(); }); };
        QTest::newRow("Enter") << true << key(Qt::Key_Return) << 1;
        QTest::newRow("Escape") << true << key(Qt::Key_Escape) << 0;
        QTest::newRow("Open Privacy Settings") << true << button(0) << 1;
        QTest::newRow("OK") << true << button(1) << 0;
        QTest::newRow("closed without an answer") << true << SheetAnswer([](QMessageBox *box) { box->done(0); }) << 0;
        QTest::newRow("no pane: Enter") << false << key(Qt::Key_Return) << 0;
    }
    void privacyRefusalOpensSettings()
    {
        auto [pane, answer, opened] = fetch<bool, SheetAnswer, int>("pane", "answer", "opened");
        DelegateFixture f;
        if (!pane)
            f.model.workspace->panes.clear();
        f.delegate->subscribeToErrors();
        f.appModel().setError(QStringLiteral("write (os error 1)"));
        QTRY_COMPARE(f.sheet().value_or(""), "write (os error 1)\n\nCorvane isn’t allowed to read this folder. Make the "
                                              "folder readable to your user (in the file manager’s permissions or "
                                              "with chmod), then try again.");
        QCOMPARE(f.delegate->errorAlert->buttons().first()->text(), pane ? "Open Privacy Settings" : "OK");
        answer(f.delegate->errorAlert);
        QTRY_VERIFY(!f.delegate->errorAlert);
        QCOMPARE(f.model.workspace->settings.size(), opened);
        QCOMPARE(f.appModel().error(), std::nullopt);
    }

    // A notice's answer: given to the delegate as the centre reports it, or (with a
    // notice) posted by the model to the desktop's notification server and clicked
    // there, as the user does.
    void noticeResponses_data()
    {
        columns<QString, QString, QVariantMap, QString>("notice", "action", "userInfo", "outcome");
        const QVariantMap mounted{{"peer", "p1"}, {"paths", QStringList{"/r/a", "/r/b"}}};
        const QVariantMap unmounted{{"peer", "p2"}, {"paths", QStringList{}}};
        QTest::newRow("show in folder") << "" << "SHOW_IN_FOLDER" << mounted << "reveal /r/a,/r/b";
        QTest::newRow("show in folder, no paths") << "" << "SHOW_IN_FOLDER" << unmounted << "window p2";
        QTest::newRow("open files") << "" << "OPEN_FILES" << mounted << "open file:///media/studio/";
        QTest::newRow("click on the notice") << "" << "default" << mounted << "window p1";
        QTest::newRow("server: show in folder") << "delivery" << "SHOW_IN_FOLDER" << QVariantMap() << "reveal /r/a";
        QTest::newRow("server: click on a delivery") << "delivery" << "default" << QVariantMap() << "window p1";
        QTest::newRow("server: open files") << "connection" << "OPEN_FILES" << QVariantMap() << "open file:///media/studio/";
    }
    void noticeResponses()
    {
        auto [notice, action, userInfo, outcome] = fetch<QString, QString, QVariantMap, QString>("notice", "action", "userInfo", "outcome");
        FakeNotificationServer server;
        QVERIFY(notice.isEmpty() || server.start());
        const bool onServer = !notice.isEmpty();
        DelegateFixture f([onServer](ModelFixture &m) {
            if (onServer)
                m.notificationCenter = std::make_shared<FreedesktopNotificationCenter>(QDBusConnection::sessionBus(), 25000);
        });
        f.connect({peer("p1").named("Studio").mounted("/media/studio"), peer("p2").named("Laptop")});
        f.appModel().setConnected(true);
        QStringList happened;
        const auto look = [&] {
            happened = f.delegate->peerWindows.keys().replaceInStrings(QRegularExpression("^"), "window ");
            for (const QStringList &paths : f.model.workspace->revealed)
                happened << "reveal " + paths.join(',');
            for (const QUrl &url : f.model.workspace->opened)
                happened << "open " + url.toString();
            return !happened.isEmpty();
        };
        if (notice.isEmpty()) {
            bool completed = false;
            f.delegate->didReceiveNotificationResponse({QStringLiteral("delivery-p1"), action, userInfo}, [&completed] { completed = true; });
            QVERIFY(!completed);
            QTRY_VERIFY(completed);
        } else {
            f.delegate->registerNotificationCategories();
            AppModelAccess::handle(f.appModel(), decodedEvent(notice == "delivery" ? serviceEvent("delivered", "p1", {{"path", "/r/a"}})
                                                                                  : serviceEvent("remembered_action_applied", "p1")));
            f.model.clock.advance(2.0);
            cv::test::outcome(AppModelAccess::flushNotifications(f.appModel()));
            QCOMPARE(server.notifyCalls().size(), 1);
            QVERIFY2(server.invokeAction(server.notifyCalls().first().id, action), "the notice offers no such action");
            QTRY_VERIFY(look());
        }
        look();
        QCOMPARE(happened, QStringList{outcome});
    }
};

QTEST_MAIN(ShellQuitTest)
#include "tst_shell_quit.moc"

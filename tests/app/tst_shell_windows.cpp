// The delegate's windows and activation: one window per computer, the cascade,
// showing after the first fit, the activation policy, reopening, titles and looks.

#include "../views/table.h"
#include "app/main_menu.h"
#include "app/status_menu.h"
#include "delegate_fixture.h"
#include "platform/status_item.h"

#include <QApplication>
#include <QDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QSystemTrayIcon>

using namespace cv;
using namespace cv::test;
using Id = std::optional<QString>;
using Act = std::function<void(QMainWindow *)>;
Q_DECLARE_METATYPE(Act)
using Front = std::function<void(DelegateFixture &)>;
Q_DECLARE_METATYPE(Front)

namespace {

// Records a window's height at the moment it is first shown.
// Clicks the item `path` of the status menu (a computer's submenu first), opened by a
// left click on the desktop's tray item.
void chooseInStatusMenu(DelegateFixture &f, const QStringList &path)
{
    emit f.delegate->statusMenu->statusItem()->findChild<QSystemTrayIcon *>()->activated(QSystemTrayIcon::Trigger);
    QMenu *menu = f.delegate->statusMenu->menu();
    for (const QString &title : path) {
        QVERIFY(QTest::qWaitFor([menu] { return menu->isVisible(); }, 20000));
        QAction *action = nullptr;
        for (QAction *each : menu->actions())
            action = each->text() == title ? each : action;
        QVERIFY2(action, qPrintable(title));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        menu = action->menu();
    }
}

// The client windows the window manager stacks, bottom to top.
QList<WId> stacking()
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")});
    xprop.waitForFinished(5000);
    QList<WId> windows;
    const QString out = QString::fromLatin1(xprop.readAllStandardOutput());
    for (const QString &id : out.section(QLatin1Char('#'), 1).split(QLatin1Char(','), Qt::SkipEmptyParts))
        windows << id.trimmed().toULongLong(nullptr, 16);
    return windows;
}

// A window manager on the test's display for as long as it lives.
struct WindowManager {
    WindowManager()
    {
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        process.waitForStarted(5000);
    }
    // Once it manages the screen.
    bool ready() const
    {
        return QTest::qWaitFor([] {
            QProcess xprop;
            xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
            xprop.waitForFinished(5000);
            return xprop.readAllStandardOutput().contains("window id");
        }, 20000);
    }
    ~WindowManager()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
    QProcess process;
};

struct HeightAtShow final : QObject {
    std::optional<int> height;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && !height)
            height = static_cast<QWidget *>(watched)->height();
        return false;
    }
};

} // namespace

class ShellWindowsTest : public QObject {
    Q_OBJECT
private slots:
    // A computer window is shown only once the event loop turned and its height fitted
    // its content (more than the window's minimum).
    void newWindowShownAtItsFittedHeight()
    {
        DelegateFixture f;
        f.delegate->showPeer(QStringLiteral("p1"));
        QMainWindow *window = f.delegate->peerWindows.value(QStringLiteral("p1"));
        HeightAtShow atShow;
        window->installEventFilter(&atShow);
        QVERIFY(!window->isVisible());
        QCOMPARE(f.runtime.activationPolicy(), ActivationPolicy::accessory);
        QTRY_VERIFY(window->isVisible());
        QVERIFY2(*atShow.height > 460 && *atShow.height <= 920, qPrintable(QString::number(*atShow.height)));
        QCOMPARE(window->height(), *atShow.height);
        QCOMPARE(f.runtime.activationPolicy(), ActivationPolicy::regular);
    }

    // One window per computer, a known one fronted at once; each new one 24 points
    // right and down of the one before, back to the first place after eight.
    void cascadeOfComputerWindows()
    {
        DelegateFixture f;
        for (int i = 0; i < 9; ++i)
            f.delegate->showPeer(QString::number(i));
        QMainWindow *window = f.delegate->peerWindows.value("0");
        const QPoint first = window->pos();
        QCOMPARE(f.delegate->peerWindows.value("1")->pos() - first, QPoint(24, 24));
        QCOMPARE(f.delegate->peerWindows.value("8")->pos(), first);
        QTRY_VERIFY(window->isVisible());
        window->close();
        f.delegate->showPeer(QStringLiteral("0"));
        QVERIFY(window->isVisible());
        QCOMPARE(f.delegate->peerWindows.value("0").data(), window);
        // Reopening fronts the main window.
        f.runtime.reopen();
        QTRY_COMPARE(f.delegate->visibleWindows().value(0), f.delegate->mainWindow.data());
    }

    // A computer window the user clicked in covers the main window and its error
    // sheet; a second failure, which waits for that sheet, brings the main window and
    // the sheet to the front, and it shows once the first is answered. Needs a window
    // manager that stacks and activates windows (the X11 run).
    void coveredSheetComesToFront()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("window stacking needs X11 and a window manager");
        WindowManager wm;
        QVERIFY2(wm.ready(), "openbox did not start");
        DelegateFixture f;
        f.connect({wire::peer(QStringLiteral("p1"), QStringLiteral("Mac"))});
        f.delegate->subscribeToErrors();
        QMainWindow *main = f.shown();
        QVERIFY(main);
        // Framed by the window manager.
        QTRY_VERIFY_WITH_TIMEOUT(main->frameGeometry() != main->geometry(), 30000);
        f.appModel().setError(QStringLiteral("first"));
        QTRY_COMPARE(f.sheet(), QStringLiteral("first"));
        QMessageBox *sheet = f.delegate->errorAlert;
        QMainWindow *peer = f.shown(QStringLiteral("p1"));
        QVERIFY(peer);
        peer->setGeometry(main->geometry().adjusted(-40, -40, 40, 200));
        f.runtime.makeKeyAndOrderFront(peer);
        const auto above = [](QWidget *top, QWidget *bottom) {
            const QList<WId> order = stacking();
            return order.indexOf(top->winId()) > order.indexOf(bottom->winId()) && order.contains(bottom->winId());
        };
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == peer && above(peer, sheet) && above(peer, main), 20000);

        f.appModel().setError(QStringLiteral("Eject refused"));
        QTRY_VERIFY_WITH_TIMEOUT(above(sheet, peer) && above(main, peer), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), sheet, 20000);
        QCOMPARE(f.delegate->errorAlert, sheet); // still one sheet
        f.answerSheet();
        QTRY_COMPARE(f.sheet(), QStringLiteral("Eject refused"));
    }

    // Whatever fronts a window restores it when it is minimised.
    void frontingRestoresAMinimisedWindow_data()
    {
        columns<Id, bool, Front>("id", "hide", "front"); // no id: the main window; hide: minimised by "Hide Corvane"
        QTest::newRow("Open Corvane in the status menu") << Id() << false << Front([](auto &f) { chooseInStatusMenu(f, {"Open Corvane"}); });
        QTest::newRow("reopened by a second launch") << Id() << false << Front([](auto &f) { f.runtime.reopen(); });
        QTest::newRow("Show in the status menu") << Id("p1") << false << Front([](auto &f) { chooseInStatusMenu(f, {"Mac", "Show"}); });
        // The application comes back as a whole: the computer window too, not only
        // the main window that a launch fronts.
        QTest::newRow("a second launch after Hide") << Id("p1") << true << Front([](auto &f) { f.runtime.reopen(); });
        QTest::newRow("Open Corvane after Hide") << Id("p1") << true << Front([](auto &f) { chooseInStatusMenu(f, {"Open Corvane"}); });
    }
    void frontingRestoresAMinimisedWindow()
    {
        auto [id, hide, front] = fetch<Id, bool, Front>("id", "hide", "front");
        DelegateFixture f;
        f.appModel().setShowInMenuBar(true);
        f.delegate->configureMenus();
        f.connect({wire::peer(QStringLiteral("p1"), QStringLiteral("Mac"))});
        f.delegate->rebuildStatusMenu();
        QMainWindow *window = f.shown(id);
        if (hide) {
            for (QAction *item : f.delegate->mainMenu->applicationItems())
                item->text() == QStringLiteral("Hide Corvane") ? item->trigger() : void();
            QVERIFY(window->isMinimized());
        } else {
            window->showMinimized();
        }
        f.runtime.setActivationPolicy(ActivationPolicy::accessory);
        front(f);
        QTRY_VERIFY(!window->isMinimized());
        QVERIFY(window->isVisible());
        QCOMPARE(f.runtime.activationPolicy(), ActivationPolicy::regular);
    }

    void policyWhenAWindowCloses_data()
    {
        columns<bool, Act, ActivationPolicy, int>("withComputer", "act", "policy", "visible"); // act on the main window; windows counted visible after
        const Act close = [](QMainWindow *main) { main->close(); };
        QTest::newRow("last window closes") << false << close << ActivationPolicy::accessory << 0;
        QTest::newRow("another stays visible") << true << close << ActivationPolicy::regular << 1;
        QTest::newRow("only minimised") << false << Act([](QMainWindow *main) { main->showMinimized(); }) << ActivationPolicy::regular << 1;
        // A dialog that is done is hidden, not closed: it counts as a closing window.
        QTest::newRow("dialog done, main hidden")
            << false << Act([](QMainWindow *main) { main->hide(); QDialog dialog; dialog.show(); dialog.accept(); }) << ActivationPolicy::accessory << 0;
    }
    void policyWhenAWindowCloses()
    {
        auto [withComputer, act] = fetch<bool, Act>("withComputer", "act");
        DelegateFixture f;
        f.delegate->observeWindowClosing();
        QMainWindow *main = f.shown();
        if (withComputer)
            QVERIFY(f.shown(QStringLiteral("p1")));
        act(main);
        QTEST(f.runtime.activationPolicy(), "policy");
        QTEST(int(f.delegate->visibleWindows().size()), "visible");
        QCOMPARE(f.exits, QList<int>()); // closing the last window never quits
    }

    void titlesAndLooks_data()
    {
        columns<Id, QString, QSize>("id", "name", "minimum"); // no id: the main window; the content's minimum, below the menu bar
        QTest::newRow("main") << Id() << "Corvane" << QSize(520, 280);
        QTest::newRow("placeholder in the name") << Id("p2") << "A [*] B [*][*]" << QSize(600, 420);
        QTest::newRow("named like the application") << Id("p2") << "Corvane" << QSize(600, 420);
        QTest::newRow("tab, return and line feed in the name") << Id("p2") << "A\tB\r\nC" << QSize(600, 420);
        QTest::newRow("line and paragraph separators in the name") << Id("p2") << QString::fromUtf8("A\u2028B\u2029C\u0085D\vE\fF") << QSize(600, 420);
        QTest::newRow("a name read right to left, alone: no marks") << Id("p2") << QString::fromUtf8("סטודיו של דנה") << QSize(600, 420);
    }
    void titlesAndLooks()
    {
        auto [id, name, minimum] = fetch<Id, QString, QSize>("id", "name", "minimum");
        DelegateFixture f;
        f.delegate->configureMenus();
        f.connect({wire::peer(QStringLiteral("p1"), QStringLiteral("Other")), wire::peer(QStringLiteral("p2"), name)});
        QMainWindow *window = f.shown(id);
        const auto oneLine = [](QString text) { return text.replace(QRegularExpression(QString::fromUtf8("[\t\n\v\f\r\u0085\u2028\u2029]")), " "); };
        QCOMPARE(window->windowHandle()->title(), oneLine(name));
        if (id) { // renamed while its window is closed: reopened, the window has the new name
            window->close();
            f.model.client->queue(QStringLiteral("events"), wire::ok(events({}, 0)));
            f.connect({wire::peer(QStringLiteral("p1"), QStringLiteral("Other")), wire::peer(QStringLiteral("p2"), "New " + name)});
            QCOMPARE(f.shown(id), window);
            QTRY_COMPARE(window->windowHandle()->title(), oneLine("New " + name));
        }
        // Shrunk as far as it goes, the content keeps its minimum under the menu bar.
        QVERIFY(window->menuBar()->height() > 0);
        window->resize(1, 1);
        QTRY_COMPARE(window->centralWidget()->size(), minimum);
        // The main-window look puts the view straight into the window.
        QCOMPARE(window->centralWidget() == f.delegate->contentHosts.value(window), !id);
    }
};

QTEST_MAIN(ShellWindowsTest)
#include "tst_shell_windows.moc"

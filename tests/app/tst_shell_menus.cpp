// The main menu's targets, and the status item's per-computer menus against a model
// on fakes.

#include "../views/table.h"
#include "app/main_menu.h"
#include "app/status_menu.h"
#include "fake_status_item.h"
#include "model_fixture.h"

#include "localization/localization.h"
#include "platform/open_panel_dialog.h"
#include "views/widgets.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>
#include <QMainWindow>
#include <QSystemTrayIcon>

using namespace cv;
using namespace cv::test;

using ModelChange = std::function<void(AppModel &)>;
Q_DECLARE_METATYPE(ModelChange)
using LabelStep = std::function<void(TextLabel *)>;
Q_DECLARE_METATYPE(LabelStep)
Q_DECLARE_METATYPE(QSystemTrayIcon::ActivationReason)

namespace {

// "title (off) <key> {op peer}" per item, ", " between items, a submenu's items in
// "title: [...]".
QString describe(const QList<QAction *> &actions)
{
    QStringList items;
    for (QAction *action : actions) {
        const QVariantMap payload = action->data().toMap();
        items << (action->isSeparator() ? "-" : action->text()) + (action->isEnabled() ? "" : " (off)")
                     + (action->shortcut().isEmpty() ? "" : " <" + action->shortcut().toString() + '>')
                     + (payload.isEmpty() ? "" : " {" + payload["op"].toString() + ' ' + payload["peer"].toString() + '}')
                     + (action->menu() ? ": [" + describe(action->menu()->actions()) + ']' : "");
    }
    return items.join(", ");
}

QAction *find(const QList<QAction *> &actions, const QStringList &path)
{
    for (QAction *action : actions) {
        if (action->text() == path.first())
            return path.size() == 1 ? action : find(action->menu()->actions(), path.mid(1));
    }
    return nullptr;
}

// The Edit menu of `window` as it opens: each item's state, or with `choose` that
// item chosen, as a click does, before the menu closes.
QString editMenu(QMainWindow &window, const QString &choose = {})
{
    QMenu *edit = find(window.menuBar()->actions(), {"Edit"})->menu();
    emit edit->aboutToShow();
    const QString state = describe(edit->actions());
    QAction *chosen = choose.isEmpty() ? nullptr : find(edit->actions(), {choose});
    emit edit->aboutToHide();
    if (chosen && state.contains(choose + " <"))
        chosen->trigger();
    return state;
}

const QJsonObject mac = peer("p1").named("Mac").receiving().mounted("/media/Mac");
const QStringList canSend{"receive_transfer"};
const QString file = QString::fromUtf8("/Volumes/Projects/סטודיו של דנה/IMG_20240101_123456_HDR_panorama_final_version_2.jpg");
const QString problemText = "Couldn't read " + file + ": Permission denied (os error 13).";

} // namespace

class ShellMenusTest : public QObject {
    Q_OBJECT

private slots:
    // With a focused line edit in the active window each item is on while open and
    // reaches its target.
    void mainMenuTargets()
    {
        QStringList calls;
        auto call = [&calls](const char *name) { return [&calls, name] { calls << name; }; };
        MainMenu menu({.showMain = call("showMain"), .requestQuit = call("requestQuit"),
                       .saveDiagnostics = call("saveDiagnostics"), .checkForUpdates = call("checkForUpdates")}, true);
        QMainWindow window;
        auto *edit = new QLineEdit("a & b");
        window.setCentralWidget(edit);
        menu.attach(window.menuBar());
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        edit->setFocus();
        edit->setReadOnly(true); // read-only: Copy and Select All only
        edit->selectAll();
        QCOMPARE(editMenu(window), "Cut (off) <Ctrl+X>, Copy <Ctrl+C>, Paste (off) <Ctrl+V>, Select All <Ctrl+A>");
        edit->setReadOnly(false);
        edit->deselect();
        for (const char *item : {"Corvane|Settings…", "Corvane|Quit Corvane", "Help|Save Diagnostics…", "Corvane|Check for Updates…",
                                 "Edit|Select All", "Window|Close"}) {
            QMenu *opened = find(window.menuBar()->actions(), {QString(item).section('|', 0, 0)})->menu();
            QAction *action = find(opened->actions(), {QString(item).section('|', 1)});
            emit opened->aboutToShow();
            QVERIFY2(action->isEnabled(), item);
            emit opened->aboutToHide();
            action->trigger();
        }
        QCOMPARE(calls, (QStringList{"showMain", "requestQuit", "saveDiagnostics", "checkForUpdates"}));
        QCOMPARE(find(window.menuBar()->actions(), {"Window", "Close"})->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_W));
        QCOMPARE(edit->selectedText(), "a & b");
        QVERIFY(!window.isVisible());
    }

    // About opens wide enough for a window manager to show its title whole: the title
    // in bold, and room on either side of it for the window's icon and buttons.
    void aboutShowsItsTitleWhole()
    {
        MainMenu menu({}, false);
        find(menu.applicationItems(), {"About Corvane"})->trigger();
        QPointer<QMessageBox> box;
        QVERIFY(QTest::qWaitFor([&box] {
            for (QWidget *window : QApplication::topLevelWidgets())
                box = window->isVisible() && qobject_cast<QMessageBox *>(window) ? qobject_cast<QMessageBox *>(window) : box.data();
            return !box.isNull();
        }, 20000));
        QFont bold = box->font();
        bold.setBold(true);
        const int needed = QFontMetrics(bold).horizontalAdvance("About Corvane") + 2 * 100;
        QCOMPARE(box->windowTitle(), "About Corvane");
        QVERIFY2(box->width() >= needed, qPrintable(QString("%1 < %2").arg(box->width()).arg(needed)));
        box->close();
    }

    // A selectable label in a window with the menu bar, the text wrapped and its path
    // isolated: Ctrl+C and Edit ▸ Copy take the selection, Ctrl+A and Select All select
    // the whole text, and each Edit item is on where it would act. The clipboard and
    // the primary selection get the text as composed, without marks or the breaks of
    // its lines.
    void editItemsOnALabel_data()
    {
        columns<LabelStep, LabelStep, QString, QString, bool, int, QString>("select", "copy", "edit", "copied", "primary", "lines", "raw");
        const LabelStep keyA = [](TextLabel *label) { QTest::keyClick(label, Qt::Key_A, Qt::ControlModifier); };
        const LabelStep keyC = [](TextLabel *label) { QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier); };
        const auto item = [](const QString &name) {
            return LabelStep([name](TextLabel *label) { editMenu(*static_cast<QMainWindow *>(label->window()), name); });
        };
        const LabelStep drag = [](TextLabel *label) {
            const QPoint end(label->width() - 2, label->height() - 2);
            QTest::mousePress(label, Qt::LeftButton, {}, QPoint(1, 1));
            QTest::mouseMove(label, end);
            QTest::mouseRelease(label, Qt::LeftButton, {}, end);
        };
        // The path, from its first letter to the colon after it, as the lines show it.
        const LabelStep path = [](TextLabel *label) {
            const qsizetype from = label->text().indexOf("/Volumes");
            label->setSelection(int(from), int(label->text().indexOf(':', from) - from));
        };
        const auto menuItem = [](const QString &name) {
            return LabelStep([name](TextLabel *label) {
                QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), label->mapToGlobal(QPoint(2, 2)));
                QApplication::sendEvent(label, &event);
                auto *menu = label->findChild<QMenu *>();
                QAction *action = find(menu->actions(), {name});
                QVERIFY2(action, qPrintable(name));
                action->trigger();
                menu->close();
            });
        };
        const LabelStep menuCopy = menuItem("Copy");
        const QString all = "Cut (off) <Ctrl+X>, Copy <Ctrl+C>, Paste (off) <Ctrl+V>, Select All <Ctrl+A>";
        const QString none = "Cut (off) <Ctrl+X>, Copy (off) <Ctrl+C>, Paste (off) <Ctrl+V>, Select All <Ctrl+A>";
        QTest::newRow("Ctrl+A, Ctrl+C") << keyA << keyC << all << problemText << true << 0 << QString();
        QTest::newRow("Select All, Copy") << item("Select All") << item("Copy") << all << problemText << true << 0 << QString();
        QTest::newRow("the context menu's Select All, Ctrl+C") << menuItem("Select All") << keyC << all << problemText << true << 0 << QString();
        QTest::newRow("mouse drag, Ctrl+C") << drag << keyC << all << problemText << true << 0 << QString();
        QTest::newRow("the path, Ctrl+C") << path << keyC << all << file << false << 0 << QString();
        QTest::newRow("the path, the context menu's Copy") << path << menuCopy << all << file << false << 0 << QString();
        QTest::newRow("nothing selected, Ctrl+C") << LabelStep([](TextLabel *) {}) << keyC << none << "before" << false << 0 << QString();
        QTest::newRow("nothing selected, the context menu's Copy") << LabelStep([](TextLabel *) {}) << menuCopy << none << problemText << false << 0 << QString();
        // The "…" that ends the last line stands for the rest of the text.
        QTest::newRow("two lines at most, Ctrl+A, Ctrl+C") << keyA << keyC << all << problemText << true << 2 << QString();
        const LabelStep secondLine = [](TextLabel *label) {
            const qsizetype from = label->text().indexOf('\n') + 1;
            label->setSelection(int(from), int(label->text().size() - from));
        };
        QTest::newRow("two lines at most, the last one, Ctrl+C") << secondLine << keyC << all << problemText.mid(problemText.indexOf("IMG")) << false << 2 << QString();
        // Qt closes the path's isolation after the "…": a selection that ends on the "…"
        // itself, before those marks, still takes all it stands for.
        const LabelStep toEllipsis = [](TextLabel *label) {
            const qsizetype from = label->text().indexOf('\n') + 1;
            label->setSelection(int(from), int(label->text().indexOf("…") + 1 - from));
        };
        QTest::newRow("two lines at most, the last one up to its \"…\", Ctrl+C")
            << toEllipsis << keyC << all << problemText.mid(problemText.indexOf("IMG")) << false << 2 << QString();
        // A text that never went through the text lookup (a name, a path) copies with
        // every mark it holds: they are its own.
        const QString marked = QString::fromUtf8("/home/u/Notes \u2068draft\u2069 \u2067טיוטה\u2069 and a name long enough to wrap twice in the window that shows it, at the very least.txt");
        QTest::newRow("a raw text with marks, Ctrl+A, Ctrl+C") << keyA << keyC << all << marked << true << 0 << marked;
        QTest::newRow("a raw text with marks, mouse drag, the context menu's Copy") << drag << menuCopy << all << marked << true << 0 << marked;
        QTest::newRow("a raw text with marks, nothing selected, the context menu's Copy")
            << LabelStep([](TextLabel *) {}) << menuCopy << none << marked << false << 0 << marked;
        // A text with a line break of its own: a selection across it copies the break,
        // and one that starts or ends on it too.
        const QString twoLines = "The copy stopped at an item that could not be read on the other computer\n"
                                 "Skipped items are listed under the copy once it ends, each with its reason";
        const auto across = [](const QString &from, qsizetype skip, const QString &to) {
            return LabelStep([from, skip, to](TextLabel *label) {
                const qsizetype start = label->text().indexOf(from) + skip;
                label->setSelection(int(start), int(label->text().indexOf(to, start) + to.size() - start));
            });
        };
        QTest::newRow("its own line break, from the line before to the one after, Ctrl+C")
            << across("other computer", 6, "Skipped items") << keyC << all << "computer\nSkipped items" << false << 0 << twoLines;
        QTest::newRow("its own line break alone, the context menu's Copy")
            << across("computer", 8, "\n") << menuCopy << all << "\n" << false << 0 << twoLines;
    }
    void editItemsOnALabel()
    {
        auto [select, copy, edit, copied, primary, lines, raw] = fetch<LabelStep, LabelStep, QString, QString, bool, int, QString>("select", "copy", "edit", "copied", "primary", "lines", "raw");
        MainMenu menu({}, false);
        QMainWindow window;
        auto *label = new TextLabel(L("Couldn't read {path}: {reason}.", {{"path", file}, {"reason", "Permission denied (os error 13)"}}));
        if (!raw.isEmpty())
            label->setRawText(raw);
        label->setSelectable(true);
        label->setMaxLines(lines);
        window.setCentralWidget(label);
        menu.attach(window.menuBar());
        window.resize(300, 200);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(label->text().count('\n') >= (lines ? lines - 1 : 2));
        QCOMPARE(label->text().contains("…"), lines > 0);
        label->setFocus();
        QClipboard *clipboard = QApplication::clipboard();
        clipboard->setText("before");
        select(label);
        QCOMPARE(editMenu(window), edit);
        copy(label);
        QCOMPARE(clipboard->text(), copied);
        // The run on X (shell_menus_x11) has a primary selection; offscreen has none.
        if (QGuiApplication::platformName() == "xcb")
            QVERIFY(clipboard->supportsSelection());
        if (primary && clipboard->supportsSelection())
            QCOMPARE(clipboard->text(QClipboard::Selection), copied);
    }

    // Each computer's submenu by its state; names shown as they are.
    void statusMenu_data()
    {
        columns<QJsonArray, ModelChange, QString>("peers", "change", "expected");
        const ModelChange none = [](AppModel &) {};
        const QString show = "Mac: [Show {show p1}, ", tail = "Eject {eject p1}, Send Files… {send p1}, Disconnect {disconnect p1}]";
        QTest::newRow("choice needed") << QJsonArray{wire::peer("p1", "Mac", "1", true)} << none
                                       << "Mac — choose what to share: [Choose What to Share… {show p1}, Disconnect {disconnect p1}]";
        QTest::newRow("mounted") << QJsonArray{mac} << none << show + "Open Files {open p1}, " + tail;
        QTest::newRow("busy") << QJsonArray{mac} << ModelChange([](AppModel &m) { m.setMutating(true); })
                              << show + "Open Files {open p1}, " + QString(tail).replace(" {", " (off) {");
        QTest::newRow("disconnected") << QJsonArray{mac} << ModelChange([](AppModel &m) { m.setConnected(false); })
                                      << show + "Open Files (off) {open p1}, Eject (off) {eject p1}, Disconnect (off) {disconnect p1}]";
        QTest::newRow("names shown verbatim") << QJsonArray{wire::peer("p1", "R&D {name}", "1", true), wire::peer("p2", "A&B")} << none
            << "R&&D {name} — choose what to share: [Choose What to Share… {show p1}, Disconnect {disconnect p1}], "
               "A&&B: [Show {show p2}, Disconnect {disconnect p2}]";
        QTest::newRow("names on one line") << QJsonArray{wire::peer("p1", "Mac\tSecond\r\nline", "1", true), wire::peer("p2", "Mac\tSecond\r\nline")} << none
            << "Mac Second  line — choose what to share: [Choose What to Share… {show p1}, Disconnect {disconnect p1}], "
               "Mac Second  line: [Show {show p2}, Disconnect {disconnect p2}]";
        const QString separators = QString::fromUtf8("Mac\u2028Second\u2029line\u0085of\vthe\fday");
        QTest::newRow("names on one line, whatever breaks them") << QJsonArray{wire::peer("p1", separators, "1", true), wire::peer("p2", separators)} << none
            << "Mac Second line of the day — choose what to share: [Choose What to Share… {show p1}, Disconnect {disconnect p1}], "
               "Mac Second line of the day: [Show {show p2}, Disconnect {disconnect p2}]";
    }
    void statusMenu()
    {
        auto [peers, change, expected] = fetch<QJsonArray, ModelChange, QString>("peers", "change", "expected");
        ModelFixture fixture;
        install(fixture.model(), wire::status(peers, 0, canSend));
        change(fixture.model());
        FakeStatusItem *item = nullptr;
        StatusMenu status(fixture.model(), {}, [&item] { return std::unique_ptr<StatusItem>(item = new FakeStatusItem); });
        status.updateStatusItem(true);
        QCOMPARE(describe(status.menu()->actions().mid(0, peers.size())), expected);
        QCOMPARE(item->menu.data(), status.menu());
    }

    // Each of a computer's items as the user chooses it: the exact line the stand-in
    // service received, or what it asked of the desktop.
    void statusMenuSends_data()
    {
        columns<QJsonObject, QString, QString>("computer", "item", "expected");
        QTest::newRow("Eject") << mac << "Eject" << R"({"op":"eject","peer":"p1"})";
        QTest::newRow("Show Again") << QJsonObject(peer("p1").named("Mac").with("ejected", true)) << "Show Again" << R"({"op":"mount","peer":"p1"})";
        QTest::newRow("Disconnect") << mac << "Disconnect" << R"({"op":"disconnect","peer":"p1"})";
        QTest::newRow("Send Files…") << mac << "Send Files…" << R"({"op":"send_files","peer":"p1","id":"ID","paths":["/etc/hostname"]})";
        QTest::newRow("Open Files") << mac << "Open Files" << "open file:///media/Mac/";
        QTest::newRow("Show") << mac << "Show" << "window p1";
    }
    void statusMenuSends()
    {
        auto [computer, item, expected] = fetch<QJsonObject, QString, QString>("computer", "item", "expected");
        StandinModel s(wire::status({computer}, 0, canSend));
        QVERIFY(s.started);
        s.fixture.openPanels->answer = QList<QUrl>{QUrl::fromLocalFile("/etc/hostname")};
        QStringList happened;
        StatusMenu status(s.model(), {.showPeer = [&happened](const QString &id) { happened << "window " + id; }},
                          [] { return std::unique_ptr<StatusItem>(new FakeStatusItem); });
        status.updateStatusItem(true);
        QAction *chosen = find(status.menu()->actions(), {"Mac", item});
        QVERIFY(chosen);
        chosen->trigger();
        QVERIFY(s.settle());
        for (const QUrl &url : s.fixture.workspace->opened)
            happened << "open " + url.toString();
        QCOMPARE(s.sent() + happened, QStringList{expected});
    }

    // The desktop's tray item as the tray host activates it: a left click opens the
    // status menu, as a click on a menu-bar item does; a right click gets the same
    // menu from the host itself; a double or middle click opens nothing more.
    void trayActivation_data()
    {
        columns<QSystemTrayIcon::ActivationReason, bool>("reason", "opens");
        QTest::newRow("left click") << QSystemTrayIcon::Trigger << true;
        QTest::newRow("right click") << QSystemTrayIcon::Context << false;
        QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << false;
        QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << false;
    }
    void trayActivation()
    {
        auto [reason, opens] = fetch<QSystemTrayIcon::ActivationReason, bool>("reason", "opens");
        ModelFixture fixture;
        install(fixture.model(), wire::status({mac}, 0, canSend));
        StatusMenu status(fixture.model(), {});
        status.updateStatusItem(true);
        auto *tray = status.statusItem()->findChild<QSystemTrayIcon *>();
        QCOMPARE(tray->contextMenu(), status.menu());
        emit tray->activated(reason);
        QCOMPARE(status.menu()->isVisible(), opens);
        status.menu()->close();
    }

    // "Send Files…" chosen while a change waits for the open menu to close: the menu
    // is rebuilt (the old one deleted) while the panel is open, and choosing in the
    // panel afterwards still sends (AddressSanitizer watches the old menu).
    void sendFilesWhileTheMenuIsRebuilt()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("photo.jpg");
        QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        ModelFixture fixture;
        fixture.openPanels = nullptr; // the desktop's own panel
        install(fixture.model(), wire::status({mac}, 0, canSend));
        StatusMenu status(fixture.model(), {}, [] { return std::unique_ptr<StatusItem>(new FakeStatusItem); });
        status.updateStatusItem(true);
        const QPointer<QMenu> menu = status.menu();
        menu->popup(QPoint(0, 0));
        QAction *computer = find(menu->actions(), {"Mac"});
        menu->setActiveAction(computer);
        QMenu *submenu = computer->menu();
        QTRY_VERIFY(submenu->isVisible());
        install(fixture.model(), wire::status({mac, wire::peer("p2", "Other")}, 0, canSend));
        status.rebuildStatusMenu();
        QCOMPARE(status.menu(), menu.data()); // held back while it is open

        // The panel is answered once the menu it was chosen from is gone.
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            for (QWidget *window : QApplication::topLevelWidgets()) {
                auto *panel = qobject_cast<OpenPanelDialog *>(window);
                if (panel && panel->isVisible() && !menu) {
                    answer.stop();
                    panel->setDirectory(dir.path());
                    panel->findChild<QLineEdit *>("fileNameEdit")->setText("photo.jpg");
                    panel->accept();
                }
            }
        });
        answer.start(5);
        submenu->setActiveAction(find(submenu->actions(), {"Send Files…"}));
        QTest::keyClick(submenu, Qt::Key_Return);
        // The click came back with the panel still open: no event loop ran inside it,
        // so the menu's own code was done before the rebuild deleted the menu.
        QVERIFY(answer.isActive() && menu);
        QTRY_VERIFY(!answer.isActive());
        QTRY_COMPARE(fixture.client->sent("send_files").size(), 1);
        QCOMPARE(fixture.client->sent("send_files").first().value("paths").toArray(), QJsonArray{file});
        QCOMPARE(describe(status.menu()->actions()).count("Disconnect"), 2); // the new menu
    }
};

QTEST_MAIN(ShellMenusTest)
#include "tst_shell_menus.moc"

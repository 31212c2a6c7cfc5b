// The main menu's items, keys and targets, and the status item with its per-computer
// menu, against a model on fakes and, for the commands, the stand-in service.

#include "app/main_menu.h"
#include "app/status_menu.h"
#include "fake_status_item.h"
#include "model_fixture.h"

#include "platform/open_panel_dialog.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

using namespace cv;
using namespace cv::test;

using ModelChange = std::function<void(AppModel &)>;
Q_DECLARE_METATYPE(ModelChange)

namespace {

// "title (off) <key> {op peer}" per item, ", " between items, a submenu's items in
// "title: [...]". With `open`, each menu is described as it reads while open.
QString describe(const QList<QAction *> &actions, bool open = false)
{
    QStringList items;
    for (QAction *action : actions) {
        if (open)
            emit action->menu()->aboutToShow();
        const QVariantMap payload = action->data().toMap();
        items << (action->isSeparator() ? "-" : action->text()) + (action->isEnabled() ? "" : " (off)")
                     + (action->shortcut().isEmpty() ? "" : " <" + action->shortcut().toString() + '>')
                     + (payload.isEmpty() ? "" : " {" + payload["op"].toString() + ' ' + payload["peer"].toString() + '}')
                     + (action->menu() ? ": [" + describe(action->menu()->actions()) + ']' : "");
        if (open)
            emit action->menu()->aboutToHide();
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

// A status menu on fake items, recording the delegate's actions it asks for.
struct StatusFixture {
    explicit StatusFixture(AppModel &model)
        : menu(model, {.showMain = [this] { calls << "showMain"; }, .showPeer = [this](const QString &id) { calls << "showPeer " + id; }},
               [this]() -> std::unique_ptr<StatusItem> { ++made; return std::unique_ptr<StatusItem>(item = new FakeStatusItem); })
    {
        menu.updateStatusItem(true);
    }
    QStringList calls;
    FakeStatusItem *item = nullptr;
    int made = 0;
    StatusMenu menu;
};

const QJsonObject mac = peer("p1").named("Mac").receiving().mounted("/media/Mac");
const QStringList canSend{"receive_transfer"};

} // namespace

class ShellMenusTest : public QObject {
    Q_OBJECT

private slots:
    // Nothing focused and no active window: the Edit and Window items are off while open.
    void mainMenu()
    {
        const QString plain = "Corvane: [About Corvane, -, Settings… <Ctrl+,>, -, Hide Corvane <Ctrl+H>, "
            "Hide Others (off) <Ctrl+Alt+H>, Show All (off), -, Quit Corvane <Ctrl+Q>], Edit: [Cut (off) <Ctrl+X>, "
            "Copy (off) <Ctrl+C>, Paste (off) <Ctrl+V>, Select All (off) <Ctrl+A>], Window: [Minimize (off) <Ctrl+M>, "
            "Close (off) <Ctrl+W>], Help: [Save Diagnostics…]";
        for (const bool updates : {false, true}) {
            MainMenu menu({.canCheckForUpdates = [] { return false; }}, updates);
            QMenuBar first, second;
            menu.attach(&first);
            menu.attach(&second);
            const QString expected = updates ? QString(plain).replace("Corvane, -", "Corvane, Check for Updates… (off), -") : plain;
            QCOMPARE(describe(first.actions(), true), expected);
            QCOMPARE(describe(second.actions(), true), expected);
            QCOMPARE(second.actions()[1]->menu()->actions(), first.actions()[1]->menu()->actions()); // one set of actions
        }
    }

    void mainMenuTargets_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected"); // delegate calls | selected text | window state
        for (const char *call : {"Settings…|showMain", "Quit Corvane|requestQuit", "Save Diagnostics…|saveDiagnostics",
                                 "Check for Updates…|checkForUpdates"})
            QTest::newRow(call) << QString(call).section('|', 0, 0) << QString(call).section('|', 1) + "||shown";
        QTest::newRow("select all") << "Select All" << "|a & b|shown";
        QTest::newRow("hide") << "Hide Corvane" << "||minimized";
        QTest::newRow("minimize") << "Minimize" << "||minimized";
        QTest::newRow("close") << "Close" << "||closed";
    }

    // With a focused line edit in the active window every item is on while open.
    void mainMenuTargets()
    {
        QFETCH(QString, title);
        QFETCH(QString, expected);
        QStringList calls;
        auto call = [&calls](const char *name) { return [&calls, name] { calls << name; }; };
        MainMenu menu({.showMain = call("showMain"), .requestQuit = call("requestQuit"),
                       .saveDiagnostics = call("saveDiagnostics"), .checkForUpdates = call("checkForUpdates")}, true);
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *edit = new QLineEdit("a & b");
        layout->addWidget(edit);
        layout->setMenuBar(new QMenuBar);
        menu.attach(static_cast<QMenuBar *>(layout->menuBar()));
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        edit->setFocus();
        edit->deselect();
        QMenu *opened = nullptr;
        for (QAction *top : layout->menuBar()->actions())
            opened = find(top->menu()->actions(), {title}) ? top->menu() : opened;
        QAction *action = find(opened->actions(), {title});
        emit opened->aboutToShow();
        QVERIFY(action->isEnabled());
        emit opened->aboutToHide();
        action->trigger();
        const QString state = !window.isVisible() ? "closed" : window.isMinimized() ? "minimized" : "shown";
        QCOMPARE(calls.join(',') + '|' + edit->selectedText() + '|' + state, expected);
    }

    void statusMenu_data()
    {
        QTest::addColumn<QJsonArray>("peers");
        QTest::addColumn<ModelChange>("change");
        QTest::addColumn<QString>("expected");
        const ModelChange none = [](AppModel &) {};
        const QString tail = ", -, Open Corvane, Quit Corvane <Ctrl+Q>", show = "Mac: [Show {show p1}, ";
        const auto peer = [](bool choice, bool ejected = false) {
            QJsonObject made = wire::peer("p1", "Mac", "1", choice);
            made["ejected"] = ejected;
            return made;
        };
        QTest::newRow("no computers") << QJsonArray{} << none << "Open Corvane, Quit Corvane <Ctrl+Q>";
        QTest::newRow("choice needed") << QJsonArray{peer(true)} << none
            << "Mac — choose what to share: [Choose What to Share… {show p1}, Disconnect {disconnect p1}]" + tail;
        QTest::newRow("mounted") << QJsonArray{mac} << none << show + "Open Files {open p1}, Eject {eject p1}, "
            "Send Files… {send p1}, Disconnect {disconnect p1}]" + tail;
        QTest::newRow("ejected") << QJsonArray{peer(false, true)} << none << show + "Show Again {mount p1}, Disconnect {disconnect p1}]" + tail;
        QTest::newRow("neither") << QJsonArray{peer(false)} << none << show + "Disconnect {disconnect p1}]" + tail;
        QTest::newRow("busy") << QJsonArray{mac} << ModelChange([](AppModel &m) { m.setMutating(true); }) << show
            + "Open Files {open p1}, Eject (off) {eject p1}, Send Files… (off) {send p1}, Disconnect (off) {disconnect p1}]" + tail;
        QTest::newRow("disconnected") << QJsonArray{mac} << ModelChange([](AppModel &m) { m.setConnected(false); }) << show
            + "Open Files (off) {open p1}, Eject (off) {eject p1}, Disconnect (off) {disconnect p1}]" + tail;
        QTest::newRow("names shown verbatim") << QJsonArray{wire::peer("p1", "R&D {name}", "1", true), wire::peer("p2", "A&B")} << none
            << "R&&D {name} — choose what to share: [Choose What to Share… {show p1}, Disconnect {disconnect p1}], "
               "A&&B: [Show {show p2}, Disconnect {disconnect p2}]" + tail;
    }

    void statusMenu()
    {
        QFETCH(QJsonArray, peers);
        QFETCH(ModelChange, change);
        QFETCH(QString, expected);
        ModelFixture fixture;
        install(fixture.model(), wire::status(peers, 0, canSend));
        change(fixture.model());
        StatusFixture status(fixture.model());
        QCOMPARE(describe(status.menu.menu()->actions()), expected);
        QCOMPARE(status.item->menu.data(), status.menu.menu());
    }

    void peerItems_data()
    {
        QTest::addColumn<QJsonObject>("peer");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QStringList>("expected"); // lines sent to the service, then what else happened
        QJsonObject ejected = wire::peer("p1", "Mac");
        ejected["ejected"] = true;
        QTest::newRow("eject") << mac << "Eject" << QStringList{R"({"op":"eject","peer":"p1"})"};
        QTest::newRow("show again") << ejected << "Show Again" << QStringList{R"({"op":"mount","peer":"p1"})"};
        QTest::newRow("disconnect") << mac << "Disconnect" << QStringList{R"({"op":"disconnect","peer":"p1"})"};
        QTest::newRow("show") << mac << "Show" << QStringList{"showPeer p1"};
        QTest::newRow("open files") << mac << "Open Files" << QStringList{"open file:///media/Mac/"};
        QTest::newRow("send files") << mac << "Send Files…" << QStringList{"open panel"};
    }

    void peerItems()
    {
        QFETCH(QJsonObject, peer);
        QFETCH(QString, item);
        QFETCH(QStringList, expected);
        StandinModel standin(wire::status({peer}, 0, canSend));
        QVERIFY(standin.started);
        StatusFixture status(standin.model());
        find(status.menu.menu()->actions(), {"Mac", item})->trigger();
        status.menu.peerMenuAction(QVariantMap{{"op", "eject"}}); // no computer: ignored
        const auto observed = [&] {
            QStringList lines = standin.sent() + status.calls;
            for (const QUrl &url : standin.fixture.workspace->opened)
                lines << "open " + url.toString();
            return lines + QStringList(standin.fixture.openPanels->shown.size(), "open panel");
        };
        QTRY_COMPARE(observed(), expected);
    }

    void rebuilds_data()
    {
        QTest::addColumn<ModelChange>("change");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("rebuilt"); // at once, or for an open menu once it closed
        QTest::newRow("same status again") << ModelChange([](AppModel &m) { install(m, wire::status({mac}, 0, canSend)); }) << false << false;
        QTest::newRow("unrelated field") << ModelChange([](AppModel &m) { m.setCablePlugged(true); }) << false << false;
        QTest::newRow("busy") << ModelChange([](AppModel &m) { m.setMutating(true); }) << false << true;
        QTest::newRow("computer gone while open") << ModelChange([](AppModel &m) { install(m, wire::status()); }) << true << true;
    }

    void rebuilds()
    {
        QFETCH(ModelChange, change);
        QFETCH(bool, open);
        QFETCH(bool, rebuilt);
        ModelFixture fixture;
        install(fixture.model(), wire::status({mac}, 0, canSend));
        StatusFixture status(fixture.model());
        const QPointer<QMenu> before = status.menu.menu();
        if (open)
            before->popup(QPoint(0, 0));
        change(fixture.model());
        status.menu.rebuildStatusMenu();
        QCOMPARE(status.menu.menu() != before.data(), rebuilt && !open);
        if (open) {
            QTest::qWait(20);
            QCOMPARE(status.menu.menu(), before.data());
            before->hide();
            QTRY_VERIFY(before.isNull() && status.menu.menu());
        }
        QCOMPARE(status.item->menu.data(), status.menu.menu());
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
        StatusFixture status(fixture.model());
        const QPointer<QMenu> menu = status.menu.menu();
        menu->popup(QPoint(0, 0));
        QAction *computer = find(menu->actions(), {"Mac"});
        menu->setActiveAction(computer);
        QMenu *submenu = computer->menu();
        QTRY_VERIFY(submenu->isVisible());
        install(fixture.model(), wire::status({mac, wire::peer("p2", "Other")}, 0, canSend));
        status.menu.rebuildStatusMenu();

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
        QCOMPARE(describe(status.menu.menu()->actions()).count("Disconnect"), 2); // the new menu
    }

    // The item follows the menu-bar setting; a left click opens the same menu; the
    // desktop's own item does without a tray host.
    void item()
    {
        ModelFixture fixture;
        StatusFixture status(fixture.model());
        FakeStatusItem *first = status.item;
        QVERIFY(first->visible && first->toolTip == "Corvane" && !first->icon.isNull()); // no icon files: the symbol
        emit first->clicked();
        QCOMPARE(first->poppedUp, QList<QPointer<QMenu>>{status.menu.menu()});
        status.menu.updateStatusItem(true);
        QCOMPARE(status.made, 1);
        const QPointer<QMenu> menu = status.menu.menu();
        status.menu.updateStatusItem(false);
        status.menu.rebuildStatusMenu();
        QVERIFY(!status.menu.statusItem() && !status.menu.menu());
        status.menu.updateStatusItem(true);
        QVERIFY(status.made == 2 && status.item->visible && status.menu.menu() && status.menu.menu() != menu.data());

        StatusMenu desktop(fixture.model(), {});
        desktop.updateStatusItem(true);
        QVERIFY(desktop.statusItem() && desktop.menu());
        desktop.updateStatusItem(false);
    }
};

QTEST_MAIN(ShellMenusTest)
#include "tst_shell_menus.moc"

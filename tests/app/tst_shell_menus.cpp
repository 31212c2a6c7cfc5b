// The main menu's items, keys and targets, and the status item with its per-computer
// menu, against a model on fakes and, for the commands, the stand-in service.

#include "../views/table.h"
#include "app/main_menu.h"
#include "app/status_menu.h"
#include "fake_status_item.h"
#include "model_fixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QTest>
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
    // One set of actions in every menu bar; nothing focused and no active window:
    // the Edit and Window items are off while open.
    void mainMenu()
    {
        for (const bool updates : {false, true}) {
            MainMenu menu({.canCheckForUpdates = [] { return false; }}, updates);
            QMenuBar first, second;
            menu.attach(&first);
            menu.attach(&second);
            const QString text = describe(first.actions(), true);
            QCOMPARE(second.actions()[1]->menu()->actions(), first.actions()[1]->menu()->actions());
            QCOMPARE(text.contains("About Corvane, Check for Updates… (off), -"), updates);
            for (const char *part : {"Edit: [Cut (off) <Ctrl+X>, Copy (off)", "Window: [Minimize (off) <Ctrl+M>, Close (off) <Ctrl+W>]"})
                QVERIFY2(text.contains(part), qPrintable(text));
        }
    }

    // With a focused line edit in the active window each item is on while open and
    // reaches its target.
    void mainMenuTargets()
    {
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
        for (const char *item : {"Corvane|Settings…", "Corvane|Quit Corvane", "Help|Save Diagnostics…", "Corvane|Check for Updates…",
                                 "Edit|Select All", "Window|Close"}) {
            QMenu *opened = find(layout->menuBar()->actions(), {QString(item).section('|', 0, 0)})->menu();
            QAction *action = find(opened->actions(), {QString(item).section('|', 1)});
            emit opened->aboutToShow();
            QVERIFY2(action->isEnabled(), item);
            emit opened->aboutToHide();
            action->trigger();
        }
        QCOMPARE(calls, (QStringList{"showMain", "requestQuit", "saveDiagnostics", "checkForUpdates"}));
        QCOMPARE(edit->selectedText(), "a & b");
        QVERIFY(!window.isVisible());
    }

    void statusMenu_data()
    {
        columns<QJsonArray, ModelChange, QString>("peers", "change", "expected");
        const ModelChange none = [](AppModel &) {};
        const QString tail = ", -, Open Corvane, Quit Corvane <Ctrl+Q>", show = "Mac: [Show {show p1}, ";
        const auto peer = [](bool choice, bool ejected = false) {
            QJsonObject made = wire::peer("p1", "Mac", "1", choice);
            made["ejected"] = ejected;
            return made;
        };
        QTest::newRow("choice needed") << QJsonArray{peer(true)} << none
            << "Mac — choose what to share: [Choose What to Share… {show p1}, Disconnect {disconnect p1}]" + tail;
        QTest::newRow("mounted") << QJsonArray{mac} << none << show + "Open Files {open p1}, Eject {eject p1}, "
            "Send Files… {send p1}, Disconnect {disconnect p1}]" + tail;
        QTest::newRow("ejected") << QJsonArray{peer(false, true)} << none << show + "Show Again {mount p1}, Disconnect {disconnect p1}]" + tail;
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
        auto [peers, change, expected] = fetch<QJsonArray, ModelChange, QString>("peers", "change", "expected");
        ModelFixture fixture;
        install(fixture.model(), wire::status(peers, 0, canSend));
        change(fixture.model());
        StatusFixture status(fixture.model());
        QCOMPARE(describe(status.menu.menu()->actions()), expected);
        QCOMPARE(status.item->menu.data(), status.menu.menu());
    }

    void peerItems_data()
    {
        columns<QJsonObject, QString, QStringList>("peer", "item", "expected"); // lines sent, then what else happened
        QJsonObject ejected = wire::peer("p1", "Mac");
        ejected["ejected"] = true;
        QTest::newRow("eject") << mac << "Eject" << QStringList{R"({"op":"eject","peer":"p1"})"};
        QTest::newRow("show again") << ejected << "Show Again" << QStringList{R"({"op":"mount","peer":"p1"})"};
        QTest::newRow("show") << mac << "Show" << QStringList{"showPeer p1"};
        QTest::newRow("open files") << mac << "Open Files" << QStringList{"open file:///media/Mac/"};
        QTest::newRow("send files") << mac << "Send Files…" << QStringList{"open panel"};
    }

    void peerItems()
    {
        auto [peer, item, expected] = fetch<QJsonObject, QString, QStringList>("peer", "item", "expected");
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
        columns<ModelChange, bool, bool>("change", "open", "rebuilt"); // rebuilt: at once, or for an open menu once it closed
        QTest::newRow("busy") << ModelChange([](AppModel &m) { m.setMutating(true); }) << false << true;
        QTest::newRow("computer gone while open") << ModelChange([](AppModel &m) { install(m, wire::status()); }) << true << true;
    }

    void rebuilds()
    {
        auto [change, open, rebuilt] = fetch<ModelChange, bool, bool>("change", "open", "rebuilt");
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

    // A left click opens the same menu; turned off, item and menu go.
    void item()
    {
        ModelFixture fixture;
        StatusFixture status(fixture.model());
        FakeStatusItem *first = status.item;
        QVERIFY(first->visible && !first->icon.isNull()); // no icon files: the symbol
        emit first->clicked();
        QCOMPARE(first->poppedUp, QList<QPointer<QMenu>>{status.menu.menu()});
        status.menu.updateStatusItem(false);
        status.menu.rebuildStatusMenu();
        QVERIFY(!status.menu.statusItem() && !status.menu.menu());
    }
};

QTEST_MAIN(ShellMenusTest)
#include "tst_shell_menus.moc"

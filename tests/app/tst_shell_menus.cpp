// The main menu's items, keys and targets, and the status item with its per-computer
// menu, against a model on fakes and, for the commands, the stand-in service.

#include "app/main_menu.h"
#include "app/status_menu.h"
#include "fake_status_item.h"
#include "../model/standin_model.h"

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

// One line per item: title, "(off)" when disabled, [key] and {op peer}; submenus
// indented under their title.
QStringList describe(const QList<QAction *> &actions, const QString &indent = {})
{
    QStringList lines;
    for (QAction *action : actions) {
        QString line = indent + (action->isSeparator() ? QStringLiteral("-") : action->text());
        if (!action->isEnabled())
            line += QStringLiteral(" (off)");
        if (!action->shortcut().isEmpty())
            line += " [" + action->shortcut().toString(QKeySequence::PortableText) + ']';
        const QVariantMap payload = action->data().toMap();
        if (!payload.isEmpty())
            line += " {" + payload.value("op").toString() + ' ' + payload.value("peer").toString() + '}';
        lines << line;
        if (action->menu())
            lines << describe(action->menu()->actions(), indent + "  ");
    }
    return lines;
}

// The menu bar's menus as they read when each opens.
QStringList describeOpened(QMenuBar &bar)
{
    QStringList lines;
    for (QAction *top : bar.actions()) {
        emit top->menu()->aboutToShow();
        lines << top->text() << describe(top->menu()->actions(), "  ");
        emit top->menu()->aboutToHide();
    }
    return lines;
}

QAction *find(const QList<QAction *> &actions, const QStringList &path)
{
    for (QAction *action : actions) {
        if (action->text() != path.first())
            continue;
        if (path.size() == 1)
            return action;
        return action->menu() ? find(action->menu()->actions(), path.mid(1)) : nullptr;
    }
    return nullptr;
}

QJsonObject with(QJsonObject object, const QString &key, const QJsonValue &value)
{
    object[key] = value;
    return object;
}

// A status menu on fake items, recording the delegate's actions it asks for.
struct StatusFixture {
    explicit StatusFixture(AppModel &model)
        : menu(model, MenuActions{.showMain = [this] { calls << "showMain"; },
                                  .showPeer = [this](const QString &id) { calls << "showPeer " + id; },
                                  .requestQuit = [this] { calls << "requestQuit"; }},
               [this]() -> std::unique_ptr<StatusItem> {
                   auto made = std::make_unique<FakeStatusItem>();
                   item = made.get();
                   return made;
               })
    {
        menu.updateStatusItem(true);
    }

    QStringList calls;
    FakeStatusItem *item = nullptr;
    StatusMenu menu;
};

const QString mount = QStringLiteral("/media/Mac");
const QJsonObject mac = offeringPeer("p1", "Mac", true, mount);
const QStringList canSend{"receive_transfer"};

} // namespace

class ShellMenusTest : public QObject {
    Q_OBJECT

private slots:
    void mainMenu_data()
    {
        QTest::addColumn<bool>("updates");
        QTest::addColumn<QStringList>("expected");
        const QStringList plain{
            "Corvane", "  About Corvane", "  -", "  Settings… [Ctrl+,]", "  -", "  Hide Corvane [Ctrl+H]",
            "  Hide Others (off) [Ctrl+Alt+H]", "  Show All (off)", "  -", "  Quit Corvane [Ctrl+Q]",
            "Edit", "  Cut (off) [Ctrl+X]", "  Copy (off) [Ctrl+C]", "  Paste (off) [Ctrl+V]", "  Select All (off) [Ctrl+A]",
            "Window", "  Minimize (off) [Ctrl+M]", "  Close (off) [Ctrl+W]", "Help", "  Save Diagnostics…"};
        QStringList updates = plain;
        updates.insert(2, "  Check for Updates… (off)");
        QTest::newRow("without an updater") << false << plain;
        QTest::newRow("with an updater that cannot check") << true << updates;
    }

    // Nothing focused and no active window: the Edit and Window items are off while
    // their menus are open.
    void mainMenu()
    {
        QFETCH(bool, updates);
        QFETCH(QStringList, expected);
        MainMenu menu(MenuActions{.canCheckForUpdates = [] { return false; }}, updates);
        QMenuBar first, second;
        menu.attach(&first);
        menu.attach(&second);
        QCOMPARE(describeOpened(first), expected);
        QCOMPARE(describeOpened(second), expected);
        // One set of actions serves every menu bar.
        QCOMPARE(second.actions().first()->menu()->actions(), first.actions().first()->menu()->actions());
    }

    void mainMenuTargets_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected"); // delegate calls | selected text | window state
        QTest::newRow("settings") << "Settings…" << "showMain||shown";
        QTest::newRow("quit") << "Quit Corvane" << "requestQuit||shown";
        QTest::newRow("diagnostics") << "Save Diagnostics…" << "saveDiagnostics||shown";
        QTest::newRow("updates") << "Check for Updates…" << "checkForUpdates||shown";
        QTest::newRow("select all") << "Select All" << "|a & b|shown";
        QTest::newRow("hide") << "Hide Corvane" << "||minimized";
        QTest::newRow("minimize") << "Minimize" << "||minimized";
        QTest::newRow("close") << "Close" << "||closed";
    }

    void mainMenuTargets()
    {
        QFETCH(QString, title);
        QFETCH(QString, expected);
        QStringList calls;
        auto call = [&calls](const char *name) { return [&calls, name] { calls << name; }; };
        MainMenu menu(MenuActions{.showMain = call("showMain"), .requestQuit = call("requestQuit"),
                                  .saveDiagnostics = call("saveDiagnostics"), .checkForUpdates = call("checkForUpdates")},
                      true);
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *bar = new QMenuBar;
        layout->setMenuBar(bar);
        auto *edit = new QLineEdit("a & b");
        layout->addWidget(edit);
        menu.attach(bar);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        edit->setFocus();
        edit->deselect();

        QMenu *opened = nullptr;
        QAction *action = nullptr;
        for (QAction *top : bar->actions()) {
            if ((action = find(top->menu()->actions(), {title}))) {
                opened = top->menu();
                break;
            }
        }
        QVERIFY(action);
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
        QTest::addColumn<QStringList>("expected");
        const ModelChange none = [](AppModel &) {};
        const QStringList tail{"-", "Open Corvane", "Quit Corvane [Ctrl+Q]"};
        const auto peer = [](bool choice, const QString &name = "Mac") { return wire::peer("p1", name, "111111", choice); };

        QTest::newRow("no computers") << QJsonArray{} << none << QStringList{"Open Corvane", "Quit Corvane [Ctrl+Q]"};
        QTest::newRow("choice needed") << QJsonArray{peer(true)} << none
            << QStringList{"Mac — choose what to share", "  Choose What to Share… {show p1}", "  Disconnect {disconnect p1}"} + tail;
        QTest::newRow("mounted") << QJsonArray{mac} << none
            << QStringList{"Mac", "  Show {show p1}", "  Open Files {open p1}", "  Eject {eject p1}",
                           "  Send Files… {send p1}", "  Disconnect {disconnect p1}"} + tail;
        QTest::newRow("ejected") << QJsonArray{with(peer(false), "ejected", true)} << none
            << QStringList{"Mac", "  Show {show p1}", "  Show Again {mount p1}", "  Disconnect {disconnect p1}"} + tail;
        QTest::newRow("neither") << QJsonArray{peer(false)} << none
            << QStringList{"Mac", "  Show {show p1}", "  Disconnect {disconnect p1}"} + tail;
        QTest::newRow("busy") << QJsonArray{mac} << ModelChange([](AppModel &m) { m.setMutating(true); })
            << QStringList{"Mac", "  Show {show p1}", "  Open Files {open p1}", "  Eject (off) {eject p1}",
                           "  Send Files… (off) {send p1}", "  Disconnect (off) {disconnect p1}"} + tail;
        QTest::newRow("disconnected") << QJsonArray{mac} << ModelChange([](AppModel &m) { m.setConnected(false); })
            << QStringList{"Mac", "  Show {show p1}", "  Open Files (off) {open p1}", "  Eject (off) {eject p1}",
                           "  Disconnect (off) {disconnect p1}"} + tail;
        QTest::newRow("names shown verbatim")
            << QJsonArray{wire::peer("p1", "R&D {name}", "1", true), wire::peer("p2", "A&B")} << none
            << QStringList{"R&&D {name} — choose what to share", "  Choose What to Share… {show p1}",
                           "  Disconnect {disconnect p1}", "A&&B", "  Show {show p2}", "  Disconnect {disconnect p2}"} + tail;
    }

    void statusMenu()
    {
        QFETCH(QJsonArray, peers);
        QFETCH(ModelChange, change);
        QFETCH(QStringList, expected);
        ModelFixture fixture;
        installStatus(fixture.model(), wire::status(peers, 0, canSend));
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
        const QJsonObject ejected = with(wire::peer("p1", "Mac"), "ejected", true);
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
        QAction *action = find(status.menu.menu()->actions(), {"Mac", item});
        QVERIFY(action);
        action->trigger();
        const auto observed = [&] {
            QStringList lines = standin.sent() + status.calls;
            for (const QUrl &url : standin.fixture.workspace->opened)
                lines << "open " + url.toString();
            if (!standin.fixture.openPanels->shown.isEmpty())
                lines << "open panel";
            return lines;
        };
        QTRY_COMPARE(observed(), expected);
        // A payload without both strings does nothing.
        status.menu.peerMenuAction(QVariantMap{{"op", "eject"}});
        QTest::qWait(50);
        QCOMPARE(observed(), expected);
    }

    void rebuilds_data()
    {
        QTest::addColumn<ModelChange>("change");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("rebuilt"); // at once, or for an open menu once it closed
        QTest::newRow("same status again") << ModelChange([](AppModel &m) { installStatus(m, wire::status({mac}, 0, canSend)); }) << false << false;
        QTest::newRow("unrelated field") << ModelChange([](AppModel &m) { m.setCablePlugged(true); }) << false << false;
        QTest::newRow("busy") << ModelChange([](AppModel &m) { m.setMutating(true); }) << false << true;
        QTest::newRow("busy while open") << ModelChange([](AppModel &m) { m.setMutating(true); }) << true << true;
        QTest::newRow("computer gone while open") << ModelChange([](AppModel &m) { installStatus(m, wire::status()); }) << true << true;
    }

    void rebuilds()
    {
        QFETCH(ModelChange, change);
        QFETCH(bool, open);
        QFETCH(bool, rebuilt);
        ModelFixture fixture;
        installStatus(fixture.model(), wire::status({mac}, 0, canSend));
        StatusFixture status(fixture.model());
        const QPointer<QMenu> before = status.menu.menu();
        if (open)
            before->popup(QPoint(0, 0));
        change(fixture.model());
        status.menu.rebuildStatusMenu();
        QCOMPARE(status.menu.menu() != before.data(), rebuilt && !open);
        if (open) {
            QTest::qWait(20);
            QCOMPARE(status.menu.menu(), before.data()); // still open: still the same menu
            before->hide();
            QTRY_VERIFY(status.menu.menu() != before.data());
            QTRY_VERIFY(before.isNull());
        }
        QCOMPARE(status.item->menu.data(), status.menu.menu());
    }

    // The item follows the menu-bar setting; a left click opens the same menu.
    void item()
    {
        ModelFixture fixture;
        installStatus(fixture.model(), wire::status({mac}, 0, canSend));
        StatusFixture status(fixture.model());
        FakeStatusItem *first = status.item;
        QCOMPARE(first->toolTip, QStringLiteral("Corvane"));
        QVERIFY(first->visible);
        QVERIFY(!first->icon.isNull()); // no icon files beside the test: the symbol
        emit first->clicked();
        QCOMPARE(first->poppedUp, QList<QPointer<QMenu>>{status.menu.menu()});

        status.menu.updateStatusItem(true);
        QCOMPARE(status.item, first);
        const QPointer<QMenu> menu = status.menu.menu();
        status.menu.updateStatusItem(false);
        QVERIFY(!status.menu.statusItem());
        QVERIFY(!status.menu.menu());
        status.menu.rebuildStatusMenu(); // nothing without an item
        QVERIFY(!status.menu.menu());
        status.menu.updateStatusItem(true);
        QVERIFY(status.menu.statusItem() && status.item != first);
        QVERIFY(status.menu.menu() && status.menu.menu() != menu.data());
        QCOMPARE(describe(status.menu.menu()->actions()).size(), 9); // Mac, its five items, separator, Open, Quit
    }
};

QTEST_MAIN(ShellMenusTest)
#include "tst_shell_menus.moc"

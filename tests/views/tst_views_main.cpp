#include "views_logic_support.h"
#include "table.h"
#include "view_standin.h"

#include "views/computer_row.h"
#include "views/main_view.h"
#include "views/theme.h"
#include "views/widgets.h"
#include "views/window_height.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>

using namespace cv;
using namespace cv::test;
using Notify = AppModel::NotificationState;

namespace {

const QString D = QString(64, 'd'); // "Old ThinkPad" of the demo state "main"
const QString download = "Other computer doesn't have Corvane? Download free from [corvane.app](https://corvane.app)";

// What the model and the host hold when the view redraws.
struct State {
    QJsonObject status{}; // none when empty
    std::optional<QString> serviceError{};
    bool starting = false, mutating = false, cable = false, connected = false;
    bool lost = false; // the service connection went after the status came
    bool quiet = false; // both notification toggles off
    Notify notifications = Notify::unavailable;
    AppModel::Disconnected disconnected{};
    std::optional<LoginItemStatus> agent{}; // the host reads it when set
    bool installed = true, noPanes = false; // noPanes: the desktop has no settings panes
};

// The demo state `state` with one key of the status replaced.
QJsonObject with(const char *state, const char *key, const QJsonValue &value)
{
    QJsonObject s = demo(state);
    s[key] = value;
    return s;
}

const QJsonArray updateIssue{QJsonObject{{"kind", "update_required"}, {"interface_index", 4}, {"peer_protocol", 1},
                                         {"required_protocol", 2}, {"message", "old"}}};

// What the view shows, in no particular order: label texts (an elided label's whole
// text), buttons as "[text]", switches as "(name)" with " on" when on, each with
// " off" when disabled, "(spinner)" for a spinner and "(green dot)" for a green
// status dot.
QStringList shown(QWidget &view)
{
    QStringList texts;
    for (QWidget *w : view.findChildren<QWidget *>()) {
        if (!w->isVisibleTo(&view))
            continue;
        const QString off = w->isEnabled() ? QString() : QStringLiteral(" off");
        if (auto *e = qobject_cast<ElidedLabel *>(w))
            texts << e->fullText();
        else if (auto *footer = qobject_cast<FooterLabel *>(w))
            texts << footer->markdown();
        else if (auto *l = qobject_cast<QLabel *>(w); l && !l->text().isEmpty())
            texts << l->text();
        else if (auto *s = qobject_cast<Switch *>(w))
            texts << "(" + s->accessibleName() + ")" + (s->isChecked() ? " on" : "") + off;
        else if (auto *b = qobject_cast<QPushButton *>(w))
            texts << "[" + b->text() + "]" + off;
        else if (qobject_cast<Spinner *>(w))
            texts << "(spinner)";
        else if (auto *dot = qobject_cast<StatusDot *>(w); dot && dot->online())
            texts << "(green dot)";
    }
    return texts;
}

// A main view over a model on fakes, built before `state` is put in, so what is
// checked is the redraw that follows.
struct View {
    explicit View(const State &s)
    {
        f.bundle = s.installed ? installed.bundle() : AppBundle("/opt/corvane-test/bin/corvane", AppBundle::defaultInfo());
        AppModel &m = f.model();
        if (s.noPanes)
            f.workspace->panes.clear();
        if (s.agent) {
            f.loginItems.agentItem->setStatus(*s.agent);
            f.host->refreshLogin();
        }
        s.status.isEmpty() ? m.setConnected(s.connected) : install(m, s.status);
        if (s.lost)
            m.setConnected(false);
        m.setStarting(s.starting);
        m.setServiceError(s.serviceError);
        m.setMutating(s.mutating);
        m.setCablePlugged(s.cable);
        m.setDisconnected(s.disconnected);
        if (s.quiet)
            m.setNotifyConnections(false), m.setNotifyFiles(false);
        m.setNotifications(s.notifications);
        QTest::qWait(1);
    }
    InstalledApp installed;
    ModelFixture f;
    MainView view{f.model(), *f.host, [this](const QString &id) { opened << id; }, nullptr};
    QStringList opened;
};

ComputerRow *rowOf(QWidget &view, const QString &id)
{
    const QList<ComputerRow *> rows = view.findChildren<ComputerRow *>();
    const auto it = std::find_if(rows.begin(), rows.end(), [&id](ComputerRow *row) { return row->row().id == id; });
    return it == rows.end() ? nullptr : *it;
}

using Click = std::function<void(MainView &)>;
using Pick = std::function<QWidget *(MainView &)>; // a control of the window
using Step = std::function<void(ModelFixture &)>;  // a change the window redraws for

Pick named(const QString &name)
{
    return [name](MainView &v) -> QWidget * {
        if (QWidget *button = buttonNamed(v, name))
            return button;
        for (ComputerRow *row : v.findChildren<ComputerRow *>())
            if (row->row().name == name)
                return row;
        return nullptr;
    };
}


} // namespace

Q_DECLARE_METATYPE(State)
Q_DECLARE_METATYPE(Click)
Q_DECLARE_METATYPE(Pick)
Q_DECLARE_METATYPE(Step)

class TestViewsMain : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Theme::install(*qApp); }

    // Which sections, texts and controls each state shows ("|" between them), and
    // which it leaves out (after "!").
    void sections_data()
    {
        columns<State, QString>("state", "expected");
        const QString refused = "Connection refused (os error 111)";
        QTest::newRow("no status") << State{.starting = true} << "Connect another computer|Starting Corvane…|" + download + "|(Show in menu bar)|!Computers|![Try Again] off";
        QTest::newRow("starting") << State{.serviceError = refused, .starting = true} << "Starting Corvane…|" + refused + "|[Try Again] off|[Open Service Log]";
        QTest::newRow("gave up") << State{.serviceError = refused} << "Corvane isn't running.|[Try Again]|[Save Diagnostics…]|!Starting Corvane…";
        QTest::newRow("update, no rows") << State{.status = with("empty", "connection_issues", updateIssue)} << "Update required|" + download + "|!Computers|!(spinner)";
        QTest::newRow("waiting for a cable") << State{.status = demo("empty")} << "Waiting for a cable…|(spinner)|!Computers";
        QTest::newRow("seen as") << State{.status = demo("main")} << "Other computers see this computer as “Mac”.";
        QTest::newRow("rows, connected") << State{.status = demo("main")}
            << "Thunderbolt · Sharing Macintosh HD|Thunderbolt|Choose what to share|(green dot)|Not connected · Shares Projects";
        // Without the service the last status says nothing live, whatever it holds.
        QTest::newRow("rows, service gone") << State{.status = demo("main"), .serviceError = refused, .lost = true}
            << "Corvane isn't running|Status unavailable|Not connected · Shares Projects|!(green dot)|!Thunderbolt · Sharing Macintosh HD|!Thunderbolt|!Choose what to share";
        QTest::newRow("rows, saved location gone, service gone") << State{.status = demo("choose", {{"error", "gone"}}), .serviceError = refused, .lost = true}
            << "Status unavailable|!What you shared last time isn't available|!(green dot)";
        QTest::newRow("a name with line and paragraph separators")
            << State{.status = demo("main", {{"name", QString::fromUtf8("Windows\u2028Desktop\u2029of\u0085Dana\vand\fco")}})}
            << "Windows Desktop of Dana and co|Thunderbolt · Sharing Macintosh HD";
        QTest::newRow("disconnected, busy") << State{.status = demo("main"), .mutating = true, .disconnected = {{D, "Old ThinkPad"}, {"x", "Gone"}}}
            << "Disconnected · Shares Projects|Gone|[Reconnect] off|![Reconnect]";
        QTest::newRow("notifications denied") << State{.notifications = Notify::denied} << "[Notification Settings…]|![Allow Notifications…]|(When a computer connects) on";
        QTest::newRow("permission undetermined") << State{.notifications = Notify::notDetermined}
            << "The desktop needs your permission first.|[Allow Notifications…]|![Notification Settings…]";
        QTest::newRow("undetermined, both off") << State{.quiet = true, .notifications = Notify::notDetermined} << "(When files arrive)|![Allow Notifications…]";
        QTest::newRow("cannot register") << State{.agent = LoginItemStatus::notRegistered, .installed = false} << "(Start Corvane when I sign in) off|![Open Autostart Settings…]";
        QTest::newRow("approval pending") << State{.connected = true, .agent = LoginItemStatus::requiresApproval} << "[Open Autostart Settings…]|Run systemctl --user unmask app.corvane.Corvane.service.plist to allow Corvane.";
        QTest::newRow("no settings panes") << State{.connected = true, .notifications = Notify::denied, .agent = LoginItemStatus::requiresApproval, .noPanes = true}
            << "Notifications are off on this desktop|![Notification Settings…]|![Open Autostart Settings…]";
    }

    void sections()
    {
        auto [state, expected] = fetch<State, QString>("state", "expected");
        View v(state);
        const QStringList texts = shown(v.view);
        for (const QString &item : expected.split('|')) {
            const bool absent = item.startsWith('!');
            QVERIFY2(texts.contains(absent ? item.mid(1) : item) != absent,
                     qPrintable(item + " in: " + texts.join(" | ")));
        }
        for (ElidedLabel *label : v.view.findChildren<ElidedLabel *>()) // one line each, whatever it holds
            QVERIFY2(label->sizeHint().height() < 2 * label->fontMetrics().lineSpacing(), qPrintable(label->text()));
    }

    // What the controls reach: the host, the model, the open action (the lines the
    // model sends are checked in views_logic).
    void controls_data()
    {
        columns<State, Click, QString>("state", "click", "expected");
        QTest::newRow("row click") << State{.status = demo("main")}
                                   << Click([](MainView &v) { QTest::mouseClick(rowOf(v, A), Qt::LeftButton); })
                                   << "opened " + A;
        // A press that ends outside the row is no click.
        QTest::newRow("release outside the row") << State{.status = demo("main")} << Click([](MainView &v) {
            QTest::mousePress(rowOf(v, A), Qt::LeftButton);
            QTest::mouseRelease(rowOf(v, A), Qt::LeftButton, {}, QPoint(-4, -4));
        }) << "";
        // The switch stays where the host has it; the model's change starts.
        QTest::newRow("sign in") << State{.connected = true, .agent = LoginItemStatus::notRegistered}
                                 << Click([](MainView &v) { buttonNamed(v, "Start Corvane when I sign in")->click(); }) << "sent quit";
        QTest::newRow("try again") << State{.serviceError = "down"} << Click([](MainView &v) { buttonNamed(v, "Try Again")->click(); }) << "sent status";
        QTest::newRow("reconnect") << State{.status = demo("main"), .disconnected = {{D, "Old ThinkPad"}}} << Click([](MainView &v) { buttonNamed(v, "Reconnect")->click(); }) << "sent connect";
        // Held down, Enter opens the link once.
        QTest::newRow("footer link, Enter held") << State{.status = demo("empty")} << Click([](MainView &v) {
            auto *link = v.findChild<FooterLabel *>();
            link->setFocus(Qt::TabFocusReason);
            for (const bool repeated : {false, true, true, true}) {
                QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", repeated);
                QApplication::sendEvent(link, &press);
            }
            QTest::keyRelease(link, Qt::Key_Return);
        }) << "open " + MainView::productSite();
        // A busy display flags none of the repeats: their release and press share a
        // timestamp. Enter held, Space held, and Enter held with the accessibility
        // bridge on: the link opens once for each.
        QTest::newRow("footer link held, repeats unflagged") << State{.status = demo("empty")} << Click([](MainView &v) {
            auto *link = v.findChild<FooterLabel *>();
            link->setFocus(Qt::TabFocusReason);
            holdKey(link, Qt::Key_Return, 30);
            holdKey(link, Qt::Key_Space, 30);
            holdKey(link, Qt::Key_Return, 30, {}, true);
        }) << QStringList(3, "open " + MainView::productSite()).join(", ");
    }

    void controls()
    {
        auto [state, click] = fetch<State, Click>("state", "click");
        View v(state);
        v.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&v.view));
        click(v.view);
        const bool signInOn = buttonNamed(v.view, "Start Corvane when I sign in")->isChecked();
        QTest::qWait(20);
        QStringList seen;
        for (const QString &id : v.opened)
            seen << "opened " + id;
        for (const QUrl &url : v.f.workspace->opened)
            seen << "open " + url.toString();
        seen << (signInOn ? "sign-in switch on" : "")
             << (v.f.client->requests.isEmpty() ? "" : "sent " + v.f.client->ops().value(0)); // then start-up's
        seen.removeAll({});
        QFETCH(QString, expected);
        QCOMPARE(seen.join(", "), expected);
    }

    // A row's menu left open while a command starts holds the commands back.
    void menuWhileBusy()
    {
        View v(State{.status = demo("main")});
        v.view.show();
        ComputerRow *row = rowOf(v.view, A);
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), row->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(row, &click);
        v.f.model().setMutating(true);
        QTest::qWait(1);
        QStringList off;
        for (QAction *action : row->menu()->actions())
            if (!action->isEnabled())
                off << action->text();
        QCOMPARE(off, (QStringList{"Eject", "Disconnect", "Forget…"}));
    }

    // Tab walks the window in screen order (each row, then its "Reconnect", then
    // the switches), wrapping, never stopping at the scroll area, and Shift+Tab the
    // other way; a focused row shows
    // a ring, opens on Enter or Space and shows its menu on the Menu key or Shift+F10.
    void keyboard()
    {
        View v(State{.status = demo("main"), .disconnected = {{D, "Old ThinkPad"}}});
        v.view.show();
        QVERIFY(QTest::qWaitForWindowActive(&v.view));
        QCOMPARE(tabWalk(8), "Studio Mac|Windows Desktop|Old ThinkPad|Reconnect|Show in menu bar|"
                                  "When a computer connects|When files arrive|Studio Mac");
        QCOMPARE(tabWalk(7, true), "When files arrive|When a computer connects|Show in menu bar|Reconnect|"
                                   "Old ThinkPad|Windows Desktop|Studio Mac");
        ComputerRow *row = rowOf(v.view, A);
        row->setFocus(Qt::TabFocusReason);
        const QImage shot = v.view.grab().toImage();
        const QColor ring = shot.pixelColor(row->mapTo(&v.view, QPoint(-6, row->height() / 2)));
        QVERIFY2(ring.blue() > 200 && ring.red() < 200, qPrintable(ring.name()));
        QTest::keyClick(row, Qt::Key_Return);
        QTest::keyClick(row, Qt::Key_Space);
        QCOMPARE(v.opened, (QStringList{A, A}));
        for (const QKeyCombination key : {QKeyCombination(Qt::Key_Menu), Qt::ShiftModifier | Qt::Key_F10}) {
            QTest::keyClick(row, key.key(), key.keyboardModifiers());
            QTRY_VERIFY(row->menu() && row->menu()->isVisible());
            row->menu()->hide();
        }
    }

    // The focused control goes or is disabled: the focus goes to the nearest one left
    // in the same part of the window (the next, else the previous), with its ring,
    // and the window does not scroll.
    void focusStays_data()
    {
        columns<State, Pick, Step, Pick>("state", "focus", "change", "expected");
        QJsonObject forgotten = demo("main");
        forgotten["peers"] = QJsonArray{forgotten["peers"][0]};
        forgotten["remembered_computers"] = QJsonArray{forgotten["remembered_computers"][1]};
        QTest::newRow("a computer is forgotten") << State{.status = demo("main")} << named("Windows Desktop")
            << Step([forgotten](ModelFixture &f) { install(f.model(), forgotten); }) << named("Old ThinkPad");
        QJsonObject lastForgotten = demo("main");
        lastForgotten["remembered_computers"] = QJsonArray{lastForgotten["remembered_computers"][0]};
        QTest::newRow("the last computer is forgotten") << State{.status = demo("main")} << named("Old ThinkPad")
            << Step([lastForgotten](ModelFixture &f) { install(f.model(), lastForgotten); }) << named("Windows Desktop");
        QTest::newRow("a command holds Reconnect") << State{.status = demo("main"), .disconnected = {{D, "Old ThinkPad"}}}
            << named("Reconnect") << Step([](ModelFixture &f) { f.model().setMutating(true); }) << named("Old ThinkPad");
        QTest::newRow("the service's error clears") << State{.serviceError = "down"} << named("Try Again")
            << Step([](ModelFixture &f) { f.model().setServiceError(std::nullopt), install(f.model(), demo("empty")); })
            << Pick([](MainView &v) -> QWidget * { return v.findChild<FooterLabel *>(); });
        // Space disables the button until start-up gives up: it keeps the focus.
        QTest::newRow("Space on Try Again") << State{.serviceError = "down"} << named("Try Again") << Step([](ModelFixture &f) {
            AppModel &m = f.model();
            QWidget *button = QApplication::focusWidget();
            f.clock.setAutoAdvance(false);
            QTest::keyClick(button, Qt::Key_Space);
            QVERIFY(m.starting());
            QTRY_VERIFY(!button->isEnabled());
            QCOMPARE(QApplication::focusWidget(), button);
            f.clock.setAutoAdvance(true);
            QVERIFY(QTest::qWaitFor([&m] { return !m.starting(); }, 20000));
        }) << named("Try Again");
    }

    void focusStays()
    {
        auto [state, focus, change, expected] = fetch<State, Pick, Step, Pick>("state", "focus", "change", "expected");
        View v(state);
        v.view.resize(540, 240);
        v.view.show();
        QVERIFY(QTest::qWaitForWindowActive(&v.view));
        QWidget *start = focus(v.view);
        QVERIFY(start);
        start->setFocus(Qt::TabFocusReason);
        QScrollBar *bar = v.view.scrollArea()->verticalScrollBar();
        bar->setValue(bar->maximum());
        v.view.scrollArea()->ensureWidgetVisible(start);
        const int scrolled = bar->value();
        change(v.f);
        QTest::qWait(10);
        // Once the redraw is done and the focus has settled.
        QTRY_VERIFY2_WITH_TIMEOUT(QApplication::focusWidget() == expected(v.view) && expected(v.view),
                                  qPrintable(nameOf(QApplication::focusWidget()) + " instead of " + nameOf(expected(v.view))), 20000);
        QWidget *landing = expected(v.view);
        QCOMPARE(bar->value(), std::min(scrolled, bar->maximum()));
        QVERIFY(ringAround(landing));
    }

    // A row shows its ring again when its menu closes and when the window comes back,
    // none while another window has the focus, and only its own; the footer link
    // shows the shared one.
    void ring_data()
    {
        columns<State, Pick, QString>("state", "control", "then"); // then: "menu" or "away"
        QTest::newRow("row, after its menu") << State{.status = demo("main")} << named("Windows Desktop") << "menu";
        QTest::newRow("row, away and back") << State{.status = demo("main")} << named("Windows Desktop") << "away";
        QTest::newRow("footer link") << State{.status = demo("empty")}
            << Pick([](MainView &v) -> QWidget * { return v.findChild<FooterLabel *>(); }) << "";
    }

    void ring()
    {
        auto [state, control, then] = fetch<State, Pick, QString>("state", "control", "then");
        View v(state);
        v.view.show();
        QVERIFY(QTest::qWaitForWindowActive(&v.view));
        QWidget *widget = control(v.view);
        QVERIFY(widget);
        widget->setFocus(Qt::TabFocusReason);
        if (then == "menu") {
            auto *row = static_cast<ComputerRow *>(widget);
            QTest::keyClick(row, Qt::Key_F10, Qt::ShiftModifier);
            QTRY_VERIFY(row->menu() && row->menu()->isVisible());
            QTest::keyClick(row->menu(), Qt::Key_Escape);
            QTRY_VERIFY(!row->menu()->isVisible());
        } else if (then == "away") {
            QVERIFY2(awayAndBack(v.view, [widget] { return !anyRing(widget); }), "a ring while away, or not back");
        }
        QCOMPARE(QApplication::focusWidget(), widget);
        QVERIFY(ringAround(widget));
        QVERIFY2(!twoRings(widget), "two rings");
    }

    // The footer's link is one Tab stop, and Enter opens it.
    void footerLink()
    {
        View v(State{.status = demo("empty")});
        v.view.show();
        QVERIFY(QTest::qWaitForWindowActive(&v.view));
        const QString link = "Other computer doesn't have Corvane? Download free from corvane.app";
        QCOMPARE(tabWalk(5), link + "|Show in menu bar|When a computer connects|When files arrive|" + link);
        QCOMPARE(tabWalk(4, true), "When files arrive|When a computer connects|Show in menu bar|" + link);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(v.f.workspace->opened, QList<QUrl>{QUrl(MainView::productSite())});
    }

    // A poll that brings the same status again keeps every row as it is; a new
    // status redraws, keeping each remaining computer's row (and so its focus).
    void pollsKeepRows()
    {
        View v(State{.status = demo("main")});
        const QList<ComputerRow *> rows = v.view.findChildren<ComputerRow *>();
        ComputerRow *row = rowOf(v.view, A);
        install(v.f.model(), demo("main"));
        QTest::qWait(5);
        QCOMPARE(v.view.findChildren<ComputerRow *>(), rows);
        install(v.f.model(), with("main", "peers", QJsonArray{demo("main")["peers"][1]}));
        QTRY_COMPARE(v.view.findChildren<ComputerRow *>().size(), 2);
        QCOMPARE(rowOf(v.view, A), row);
    }

    // The demo state "main" in the window's own height: all of it shows, unscrolled.
    void mainDemo()
    {
        ModelFixture f;
        f.host->refreshLogin();
        f.model().showDemo(Demo::status("main"));
        WindowHeight height(320, 880);
        MainView view(f.model(), *f.host, {}, &height);
        view.resize(580, 560);
        height.setWindow(&view);
        height.showAfterFitting([&view] { view.show(); });
        QTRY_VERIFY(view.isVisible());
        QScrollArea *area = view.scrollArea();
        QTRY_COMPARE(view.height(), std::clamp(area->widget()->heightForWidth(area->viewport()->width()), 320, 880));
        QCOMPARE(area->verticalScrollBar()->maximum(), 0);
    }
};

QTEST_MAIN(TestViewsMain)
#include "tst_views_main.moc"

#include "views_logic_support.h"
#include "view_standin.h"

#include "../model/follow_helpers.h"

#include "views/computer_row.h"
#include "views/main_view.h"
#include "views/theme.h"
#include "views/widgets.h"
#include "views/window_height.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

using namespace cv;
using namespace cv::test;

using Setup = std::function<void(ModelFixture &)>;
using Click = std::function<void(MainView &)>;
using Act = std::function<QStringList(StandinModel &, MainView &)>;
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(Click)
Q_DECLARE_METATYPE(Act)

namespace {

const QString D = QString(64, 'd'); // "Old ThinkPad" of the demo state "main"

// What the view shows, in no particular order: label texts (an elided label's whole
// text), buttons as "[text]" and switches as "(name)", each followed by " off" when
// disabled, and by " on" for a switch that is on; a spinner as "(spinner)".
QStringList shown(QWidget &view)
{
    QStringList texts;
    for (QWidget *w : view.findChildren<QWidget *>()) {
        if (!w->isVisibleTo(&view))
            continue;
        const QString off = w->isEnabled() ? QString() : QStringLiteral(" off");
        if (auto *e = qobject_cast<ElidedLabel *>(w))
            texts << e->fullText();
        else if (auto *l = qobject_cast<QLabel *>(w); l && !l->text().isEmpty())
            texts << l->text();
        else if (auto *s = qobject_cast<Switch *>(w))
            texts << "(" + s->accessibleName() + ")" + (s->isChecked() ? " on" : "") + off;
        else if (auto *b = qobject_cast<QPushButton *>(w))
            texts << "[" + b->text() + "]" + off;
        else if (qobject_cast<Spinner *>(w))
            texts << "(spinner)";
    }
    return texts;
}

// A main view of a model on fakes, built before `setup` changes the model, so what
// is checked is the redraw that follows.
struct View {
    explicit View(const Setup &setup = {})
    {
        f.bundle = installed.bundle();
        f.model().setStarting(false);
        if (setup)
            setup(f);
        QTest::qWait(1);
    }
    InstalledBundle installed;
    ModelFixture f;
    MainView view{f.model(), *f.host, [this](const QString &id) { opened << id; }, nullptr};
    QStringList opened;
};

ComputerRow *rowOf(QWidget &view, const QString &id)
{
    for (ComputerRow *row : view.findChildren<ComputerRow *>())
        if (row->row().id == id)
            return row;
    return nullptr;
}

// The line of a command that names only a computer.
QString commandLine(const char *op, const QString &peer)
{
    return QStringLiteral("{\"op\":\"%1\",\"peer\":\"%2\"}").arg(QLatin1String(op), peer);
}

// Counts the paint events of `root` and every widget inside it.
struct PaintCounter : QObject {
    PaintCounter(int &count, QWidget *root) : count(count), root(root) {}
    bool eventFilter(QObject *o, QEvent *e) override
    {
        auto *w = qobject_cast<QWidget *>(o);
        if (e->type() == QEvent::Paint && w && (w == root || root->isAncestorOf(w)))
            ++count;
        return false;
    }
    int &count;
    QWidget *root;
};

void approval(ModelFixture &f, LoginItemStatus status)
{
    f.loginItems.agentItem->setStatus(status);
    f.host->refreshLogin();
}

} // namespace

class TestViewsMain : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Theme::install(*qApp); }

    // Which sections, texts and controls each state shows, and which it leaves out.
    void sections_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        const QString download = "Other computer doesn't have Corvane? Download free from [corvane.app](https://corvane.app)";
        const Setup gaveUp = [](ModelFixture &f) { f.model().setServiceError("Connection refused (os error 111)"); };
        QTest::newRow("no status") << Setup([](ModelFixture &f) { f.model().setStarting(true); })
            << QStringList{"Connect another computer", "Starting Corvane…", download, "(Show in menu bar)"}
            << QStringList{"Computers", "Update required", "[Try Again]", "[Try Again] off", "(spinner)"};
        QTest::newRow("starting") << Setup([gaveUp](ModelFixture &f) { gaveUp(f), f.model().setStarting(true); })
            << QStringList{"Starting Corvane…", "Connection refused (os error 111)", "[Try Again] off", "[Open Service Log]"}
            << QStringList{"Corvane isn't running"};
        QTest::newRow("gave up") << gaveUp
            << QStringList{"Corvane isn't running", "Corvane isn't running.", "[Try Again]", "[Save Diagnostics…]"}
            << QStringList{"Starting Corvane…"};
        auto updateRequired = [](const char *state) {
            return Setup([state](ModelFixture &f) {
                QJsonObject s = demo(state);
                s["connection_issues"] = QJsonArray{QJsonObject{{"kind", "update_required"}, {"interface_index", 4},
                    {"peer_protocol", 1}, {"required_protocol", 2}, {"message", "old"}}};
                installStatus(f.model(), s);
            });
        };
        QTest::newRow("update, no rows") << updateRequired("empty")
            << QStringList{"Update required", "Update needed before these computers can connect.", download}
            << QStringList{"Computers", "Waiting for a cable…", "(spinner)"};
        QTest::newRow("update with rows") << updateRequired("main")
            << QStringList{"Update required", "Computers", "Other computers see this Mac as “Mac”."}
            << QStringList{download, "Connect another computer"};
        QTest::newRow("rows, no name") << Setup([](ModelFixture &f) {
            QJsonObject s = demo("main");
            s["name"] = "";
            installStatus(f.model(), s);
        }) << QStringList{"Studio Mac", "Windows Desktop", "Old ThinkPad", "Choose what to share"}
           << QStringList{download, "Other computers see this Mac as “”.", "Update required", "[Reconnect]", "(spinner)"};
        QTest::newRow("rows, command running") << Setup([](ModelFixture &f) {
            installStatus(f.model(), demo("main"));
            f.model().setMutating(true);
        }) << QStringList{"Computers", "(spinner)"} << QStringList{};
        QTest::newRow("cable, no computer") << Setup([](ModelFixture &f) {
            installStatus(f.model(), demo("empty"));
            f.model().setCablePlugged(true);
        }) << QStringList{"Cable connected. Waiting for Corvane on the other computer…", "(spinner)"} << QStringList{};
        QTest::newRow("waiting for a cable") << Setup([](ModelFixture &f) { installStatus(f.model(), demo("empty")); })
            << QStringList{"Waiting for a cable…", download, "(spinner)"} << QStringList{"Computers"};
        QTest::newRow("disconnected") << Setup([](ModelFixture &f) {
            installStatus(f.model(), demo("main"));
            f.model().setDisconnected({{D, "Old ThinkPad"}, {"x", "Gone"}});
            f.model().setMutating(true);
        }) << QStringList{"Disconnected · Shares Projects", "Gone", "Disconnected", "[Reconnect] off"}
           << QStringList{"[Reconnect]"};
        QTest::newRow("notifications denied") << Setup([](ModelFixture &f) {
            f.model().setNotifications(AppModel::NotificationState::denied);
        }) << QStringList{"Notifications are off in System Settings", "[Notification Settings…]"}
           << QStringList{"[Allow Notifications…]"};
        QTest::newRow("permission undetermined") << Setup([](ModelFixture &f) {
            f.model().setNotifications(AppModel::NotificationState::notDetermined);
        }) << QStringList{"macOS needs your permission first.", "[Allow Notifications…]"}
           << QStringList{"[Notification Settings…]"};
        QTest::newRow("undetermined, both off") << Setup([](ModelFixture &f) {
            f.model().setNotifyConnections(false);
            f.model().setNotifyFiles(false);
            f.model().setNotifications(AppModel::NotificationState::notDetermined);
        }) << QStringList{"(When a computer connects)", "(When files arrive)"}
           << QStringList{"[Allow Notifications…]", "[Notification Settings…]"};
        QTest::newRow("notifications allowed") << Setup([](ModelFixture &f) {
            f.model().setNotifications(AppModel::NotificationState::allowed);
        }) << QStringList{"(When a computer connects) on"} << QStringList{"[Allow Notifications…]"};
        QTest::newRow("cannot register") << Setup([](ModelFixture &f) {
            f.bundle = AppBundle("/opt/corvane-test/bin/corvane", AppBundle::defaultInfo());
            f.host->refreshLogin();
        })
            << QStringList{"(Start Corvane when I sign in) off", "Available in the installed app."}
            << QStringList{"[Open Login Items Settings…]"};
        QTest::newRow("approval pending") << Setup([](ModelFixture &f) {
            approval(f, LoginItemStatus::requiresApproval);
            f.model().setConnected(true);
        }) << QStringList{"(Start Corvane when I sign in)", "[Open Login Items Settings…]"}
           << QStringList{"(Start Corvane when I sign in) off"};
        QTest::newRow("enabled, busy") << Setup([](ModelFixture &f) { approval(f, LoginItemStatus::enabled); })
            << QStringList{"(Start Corvane when I sign in) on off"} << QStringList{"[Open Login Items Settings…]"};
    }

    void sections()
    {
        QFETCH(Setup, setup);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        View v(setup);
        const QStringList texts = shown(v.view);
        for (const QString &text : present)
            QVERIFY2(texts.contains(text), qPrintable(text + " missing from: " + texts.join(" | ")));
        for (const QString &text : absent)
            QVERIFY2(!texts.contains(text), qPrintable(text + " shown"));
    }

    // Controls that act on this computer only, and what they reached.
    void controls_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<Click>("click");
        QTest::addColumn<QString>("expected");
        const auto button = [](const char *text) { return Click([text](MainView &v) { buttonNamed(v, text)->click(); }); };
        const Setup none = [](ModelFixture &) {};
        QTest::newRow("log") << Setup([](ModelFixture &f) { f.model().setServiceError("down"); })
                             << button("Open Service Log") << "open file://" + QDir::homePath() + "/Library/Logs/Corvane/service.log";
        QTest::newRow("pane") << Setup([](ModelFixture &f) {
            f.model().setNotifications(AppModel::NotificationState::denied);
        }) << button("Notification Settings…") << "settings 1";
        QTest::newRow("link") << none << Click([](MainView &v) {
            emit v.findChild<FooterLabel *>()->linkActivated(MainView::productSite());
        }) << "open https://corvane.app";
        QTest::newRow("login items") << Setup([](ModelFixture &f) { approval(f, LoginItemStatus::requiresApproval); })
                                     << button("Open Login Items Settings…") << "login items 1";
        QTest::newRow("menu bar") << none << button("Show in menu bar") << "menu bar on";
        QTest::newRow("row click") << Setup([](ModelFixture &f) { installStatus(f.model(), demo("main")); })
                                   << Click([](MainView &v) { QTest::mouseClick(rowOf(v, A), Qt::LeftButton); })
                                   << "opened " + A;
        // The switch stays where the host has it; the model's change starts.
        QTest::newRow("sign in") << Setup([](ModelFixture &f) {
            approval(f, LoginItemStatus::notRegistered);
            f.model().setConnected(true);
        }) << button("Start Corvane when I sign in") << "sent quit";
        QTest::newRow("try again") << Setup([](ModelFixture &f) { f.model().setServiceError("down"); })
                                   << button("Try Again") << "sent status";
    }

    void controls()
    {
        QFETCH(Setup, setup);
        QFETCH(Click, click);
        View v(setup);
        v.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&v.view));
        click(v.view);
        const bool signInOn = buttonNamed(v.view, "Start Corvane when I sign in")->isChecked();
        QTest::qWait(20);
        QStringList seen;
        for (const QUrl &url : v.f.workspace->opened)
            seen << "open " + url.toString();
        for (SettingsPane pane : v.f.workspace->settings)
            seen << "settings " + QString::number(int(pane));
        if (v.f.loginItems.settingsOpened)
            seen << "login items " + QString::number(v.f.loginItems.settingsOpened);
        if (v.f.model().showInMenuBar())
            seen << "menu bar on";
        for (const QString &id : v.opened)
            seen << "opened " + id;
        if (signInOn)
            seen << "sign-in switch on";
        if (!v.f.client->requests.isEmpty())
            seen << "sent " + v.f.client->ops().value(0); // then whatever start-up asks
        QFETCH(QString, expected);
        QCOMPARE(seen.join(", "), expected);
    }

    // The exact lines the stand-in service receives from the list's controls.
    void commands_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<bool>("demoMode");
        QTest::addColumn<Act>("act");
        QTest::addColumn<QStringList>("sent");
        const Act reconnect = [](StandinModel &s, MainView &v) { return clickAndRead(s, v, "Reconnect"); };
        QJsonObject busy = demo("main");
        busy["control_busy"] = true;
        QTest::newRow("reconnect") << demo("main") << false << reconnect
                                   << QStringList{commandLine("connect", D)};
        QTest::newRow("reconnect while busy") << busy << false << reconnect << QStringList{};
        QTest::newRow("demo mode") << demo("main") << true << reconnect << QStringList{};
        QTest::newRow("menu Disconnect") << demo("main") << false << Act([](StandinModel &s, MainView &v) {
            ComputerRow *row = rowOf(v, A);
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), row->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(row, &event);
            for (QAction *action : row->menu()->actions())
                if (action->text() == "Disconnect")
                    action->trigger();
            row->menu()->close();
            s.settle();
            return s.sent();
        }) << QStringList{commandLine("disconnect", A)};
    }

    void commands()
    {
        QFETCH(QJsonObject, status);
        QFETCH(bool, demoMode);
        QFETCH(Act, act);
        StandinModel service(status);
        QVERIFY(service.started);
        service.model().setDisconnected({{D, "Old ThinkPad"}});
        service.model().setDemo(demoMode);
        MainView view(service.model(), *service.fixture.host, {}, nullptr);
        view.show();
        QTest::qWait(1);
        QFETCH(QStringList, sent);
        QCOMPARE(act(service, view), sent);
    }

    // A poll that brings the same status again changes nothing on screen; a new
    // name in it does.
    void unchangedStatusPaintsNothing()
    {
        View v([](ModelFixture &f) { installStatus(f.model(), demo("main")); });
        v.view.resize(580, 700);
        v.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&v.view));
        QTest::qWait(50);
        int paints = 0;
        PaintCounter counter(paints, &v.view);
        qApp->installEventFilter(&counter);
        for (int i = 0; i < 10; ++i) {
            installStatus(v.f.model(), demo("main"));
            QTest::qWait(5);
        }
        QCOMPARE(paints, 0);
        // A row is kept by its computer's id, whatever else changes.
        ComputerRow *row = rowOf(v.view, A);
        QJsonObject renamed = demo("main");
        renamed["name"] = "Studio";
        renamed["peers"] = QJsonArray{renamed["peers"][1]};
        installStatus(v.f.model(), renamed);
        QTRY_VERIFY(paints > 0);
        QCOMPARE(v.view.findChildren<ComputerRow *>().size(), 2);
        QCOMPARE(rowOf(v.view, A), row);
        qApp->removeEventFilter(&counter);
    }

    // The demo state "main" in the window's own height, light and dark, at one and
    // two device pixels per pixel; the images go to /tmp for a look.
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
        QWidget *content = view.scrollArea()->widget();
        QTRY_COMPARE(view.height(), std::clamp(content->heightForWidth(view.scrollArea()->viewport()->width()), 320, 880));
        QCOMPARE(view.scrollArea()->verticalScrollBar()->maximum(), 0);

        QList<ComputerRow *> rows = view.findChildren<ComputerRow *>();
        std::sort(rows.begin(), rows.end(),
                  [](QWidget *a, QWidget *b) { return a->mapToGlobal(QPoint()).y() < b->mapToGlobal(QPoint()).y(); });
        QStringList names;
        for (ComputerRow *row : rows)
            names << row->row().name;
        QCOMPARE(names, (QStringList{"Studio Mac", "Windows Desktop", "Old ThinkPad"}));
        QVERIFY(shown(view).contains("Other computers see this Mac as “Mac”."));

        double lightness[2] = {};
        for (const bool dark : {false, true}) {
            Theme::setWindowAppearance(&view, dark ? Appearance::dark : Appearance::light);
            for (const int ratio : {1, 2}) {
                QImage image(view.size() * ratio, QImage::Format_ARGB32_Premultiplied);
                image.setDevicePixelRatio(ratio);
                view.render(&image);
                QVERIFY(image.save(QString("/tmp/views_main_%1@%2x.png").arg(dark ? "dark" : "light").arg(ratio)));
                if (ratio == 1) {
                    double sum = 0;
                    for (int y = 0; y < image.height(); ++y)
                        for (int x = 0; x < image.width(); ++x)
                            sum += qGray(image.pixel(x, y));
                    lightness[dark] = sum / (image.width() * image.height());
                }
            }
        }
        QVERIFY2(lightness[1] < lightness[0] - 50, qPrintable(QString("%1 / %2").arg(lightness[0]).arg(lightness[1])));
    }
};

QTEST_MAIN(TestViewsMain)
#include "tst_views_main.moc"

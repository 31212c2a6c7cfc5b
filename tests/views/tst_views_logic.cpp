#include "views_logic_support.h"
#include "table.h"

#include "views/activity_logic.h"
#include "views/banner_logic.h"
#include "views/peer_menu.h"
#include "views/computer_rows.h"
#include "views/main_view.h"
#include "views/sharing_choice.h"
#include "views/sharing_logic.h"

#include <QAction>
#include <QMenu>
#include <QTest>

using namespace cv;
using namespace cv::test;

using Action = std::function<void(AppModel &)>;
Q_DECLARE_METATYPE(Action)

namespace {

const QJsonValue null = QJsonValue::Null;

// Rows as "name|summary|flags": o online, w warning, c needs a choice, r reconnect.
QString describe(const QList<ComputerRowModel> &rows)
{
    QStringList lines;
    for (const ComputerRowModel &r : rows)
        lines << r.name + "|" + r.summary + "|" + (r.online ? "o" : "") + (r.warning ? "w" : "") + (r.needsChoice ? "c" : "")
                + (r.canReconnect ? "r" : "");
    return lines.join("\n");
}

// Items and buttons as "Title" ("—" a divider, the symbol when untitled), "!" before a
// disabled one, "+" after a prominent one.
template<class Item>
QString describe(const QList<Item> &items, const char *separator = "|")
{
    QStringList parts;
    for (const Item &i : items) {
        if constexpr (std::is_same_v<Item, PeerMenuItem>)
            parts << (i.enabled ? "" : "!") + (i.action == PeerMenuAction::divider ? QString("—") : i.title);
        else
            parts << (i.enabled ? "" : "!") + (i.title.isEmpty() ? i.symbol : i.title);
        if constexpr (std::is_same_v<Item, BannerButton>)
            parts.last() += i.prominent ? "+" : "";
    }
    return parts.join(separator);
}

struct Fixture {
    Fixture(const QJsonObject &status, const AppModel::Disconnected &disconnected = {}, bool connected = true)
    {
        if (!status.isEmpty())
            install(f.model(), status);
        f.model().setDisconnected(disconnected);
        f.model().setConnected(connected);
    }
    ModelFixture f;
    AppModel &m() { return f.model(); }
};

// Triggers the item titled `title` of the demo computer's menu.
Action menuItem(const char *title)
{
    return [title](AppModel &m) {
        PeerMenu menu(m, A, [] {});
        menu.refresh();
        for (QAction *action : menu.actions())
            if (action->text() == QString::fromUtf8(title))
                action->trigger();
    };
}

Action row(ActivityButton button, qsizetype index = 0)
{
    return [button, index](AppModel &m) { performActivityButton(m, A, activityFor(m.status(), A).at(index), button); };
}

// The demo computer's status with its sendings and copies given as raw JSON.
QJsonObject withActivity(const QByteArray &transfers, const QByteArray &copies)
{
    QJsonObject status = demo("connected", {}, {"dismiss"});
    status["transfers"] = QJsonDocument::fromJson("[" + transfers + "]").array();
    status["copies"] = QJsonDocument::fromJson("[" + copies + "]").array();
    return status;
}

} // namespace

class TestViewsLogic : public QObject {
    Q_OBJECT

private slots:
    void rows_data()
    {
        columns<QJsonObject, AppModel::Disconnected, QString>("status", "disconnected", "rows");
        auto r = [](const char *id, const char *name, const char *mode) { return remembered(id).named(name).sharing({{"mode", mode}}); };
        QTest::newRow("demo main") << demo("main") << AppModel::Disconnected{} << "Studio Mac|Thunderbolt|oc\n"
            "Windows Desktop|Thunderbolt · Sharing Macintosh HD|o\nOld ThinkPad|Not connected · Shares Projects|";
        QTest::newRow("saved location gone") << demo("choose", {{"error", "gone"}}) << AppModel::Disconnected{}
                                             << "Windows Desktop|What you shared last time isn't available|owc";
        QTest::newRow("not sharing, other side receives") << demo("receive", {{"sharing", share::none()}, {"interface_index", 7}})
            << AppModel::Disconnected{} << "Windows Desktop|Cable · Not sharing · It's in receive mode|o";
        QTest::newRow("offline kinds, disconnected once") << wire::status({}, 0, {}, {r("r1", "Mac 10", "none"), r("r2", "Mac 2", "receive"), r("r3", "mac 3", "none")})
            << AppModel::Disconnected{{"r1", "Mac 10"}, {"x", "Mac 2"}}
            << "Mac 2|Not connected · Receive only|\nMac 2|Disconnected|r\nmac 3|Not connected|\nMac 10|Disconnected|r";
        QTest::newRow("connected stay first") << wire::status({wire::peer("p1", "Zed")}, 0, {}, {r("r1", "Alpha", "none")})
            << AppModel::Disconnected{{"p1", "Zed"}} << "Zed|Cable · Not sharing|o\nAlpha|Not connected|";
    }
    void rows()
    {
        auto [status, disconnected, rows] = fetch<QJsonObject, AppModel::Disconnected, QString>("status", "disconnected", "rows");
        Fixture x(status, disconnected);
        QCOMPARE(describe(MainView::rows(x.m())), rows);
    }

    void menu_data()
    {
        columns<QJsonObject, AppModel::Disconnected, bool, QString>("status", "disconnected", "withShow", "items");
        QJsonObject busy = demo("connected");
        busy["control_busy"] = true;
        QTest::newRow("mounted and remembered") << demo("connected") << AppModel::Disconnected{} << true << "Show|Open Files|Eject|—|Disconnect|Forget…";
        QTest::newRow("ejected") << demo("connected", {{"mount", null}, {"ejected", true}}) << AppModel::Disconnected{} << true << "Show|Show Again|—|Disconnect|Forget…";
        QTest::newRow("disconnected and remembered") << demo("empty", {}, {}, rememberedA()) << AppModel::Disconnected{{A, "W"}} << true << "Show|—|Reconnect|Forget…";
        QTest::newRow("busy") << busy << AppModel::Disconnected{} << true << "Show|Open Files|!Eject|—|!Disconnect|!Forget…";
        QTest::newRow("can send, no show") << demo("receive") << AppModel::Disconnected{} << false << "Send Files…|—|Disconnect";
        QJsonObject busyReceiving = demo("receive");
        busyReceiving["control_busy"] = true;
        QTest::newRow("can send, busy") << busyReceiving << AppModel::Disconnected{} << false << "!Send Files…|—|!Disconnect";
    }
    void menu()
    {
        auto [status, disconnected, withShow, items] = fetch<QJsonObject, AppModel::Disconnected, bool, QString>("status", "disconnected", "withShow", "items");
        Fixture x(status, disconnected);
        QCOMPARE(describe(PeerMenu::items(x.m(), A, withShow)), items);
        x.m().setConnected(false); // without the service only "Open Files" changes its mind
        QCOMPARE(describe(PeerMenu::items(x.m(), A, withShow)).contains("!Open Files"), items.contains("Open Files"));
    }

    void tiles_data()
    {
        columns<QJsonObject, int, QString>("status", "choice", "expected"); // description|selected|enabled|outer tooltip
        QJsonObject noReceive = demo("choose");
        noReceive["capabilities"] = QJsonArray{"fast_copy"};
        QTest::newRow("drive selected") << demo("connected") << 0 << "Macintosh HD appears on the other computer.|1|1|";
        QTest::newRow("folder unselected") << demo("connected") << 1 << "Pick one folder. Nothing else is visible.|0|1|";
        QTest::newRow("receive unsupported") << noReceive << 2 << "Files go to Downloads. Yours stay private.|0|0|Receive only needs a newer version of Corvane on this computer.";
        QTest::newRow("unknown computer") << demo("empty") << 1 << "Pick one folder. Nothing else is visible.|0|0|";
    }
    void tiles()
    {
        auto [status, choice, expected] = fetch<QJsonObject, int, QString>("status", "choice", "expected");
        Fixture x(status);
        const SharingTileState t = sharingTile(x.m(), A, SharingChoice(choice));
        QCOMPARE(QStringList({t.description, QString::number(t.selected), QString::number(t.enabled), t.outerTooltip}).join("|"), expected);
        QCOMPARE(t.accessibilityHint == t.description, !t.selected);
        QCOMPARE(t.tooltip.isEmpty() || t.accessibilityValue.isEmpty(), !t.selected);
        // The tile itself: its own tooltip, else the outer one, disabled or not.
        SharingTile tile{SharingChoice(choice)};
        tile.setState(t);
        const QStringList parts = expected.split('|');
        QCOMPARE(asShown(tile.toolTip()), parts[1] == "1" ? "Click again to stop sharing" : parts[3]);
        QCOMPARE(tile.isEnabled(), parts[2] == "1");
    }

    void optionsChange_data()
    {
        columns<QJsonObject, QString>("status", "call"); // mode|path|paths|pairing code, empty for none
        const QString code = Demo::status("choose").peers.first().pairing_code;
        QTest::newRow("nothing shared") << demo("receive", {{"sharing", share::none()}}) << "";
        QTest::newRow("choice pending") << demo("choose", {{"sharing", QJsonObject{{"mode", "drive"}}}}) << "";
        QTest::newRow("receive folder") << demo("receive", {{"sharing", share::receive("/srv/in")}}) << "receive|/srv/in||" + code;
        QTest::newRow("remembered, not connected: no code") << demo("empty", {}, {}, rememberedA("W", {{"mode", "receive"}})) << "receive|||";
    }
    void optionsChange()
    {
        auto [status, call] = fetch<QJsonObject, QString>("status", "call");
        Fixture x(status);
        const std::optional<ChooseCall> made = cv::optionsChange(x.m(), A, {false, true});
        QCOMPARE(made.has_value(), !call.isEmpty());
        if (made) {
            QCOMPARE(QStringList({made->mode, made->path.value_or(""), made->paths.value_or(QStringList{}).join(","),
                                  made->pairingCode.value_or("")}).join("|"), call);
            QVERIFY(!made->readOnly && made->remember);
        }
    }

    void paths_data()
    {
        columns<QString, QString>("path", "shown");
        QTest::newRow("home") << "/home/al" << "~";
        QTest::newRow("inside") << "/home/al/Downloads/in" << "~/Downloads/in";
        QTest::newRow("a neighbour is not home") << "/home/al2/x" << "/home/al2/x";
    }
    void paths()
    {
        auto [path, shown] = fetch<QString, QString>("path", "shown");
        QCOMPARE(abbreviatedPath(path, "/home/al/"), shown);
        QCOMPARE(receiveFolderLine(Share{.mode = "receive", .folder = Share::Location{path}}, "/home/al"), shown);
        QCOMPARE(receiveFolderLine(Share{.mode = "receive"}, "/home/al"), "~/Downloads");
    }

    // Running entries first, then at most five finished ones; "Clear" takes all finished of the computer.
    void activitySelection()
    {
        const ServiceStatus status = rawStatus(
            sendJson("f1", "completed") + "," + sendJson("t1", "preparing") + "," + sendJson("f2", "cancelled") + ","
                + sendJson("x1", "failed", {}, "Q") + "," + sendJson("t2", "sending") + "," + sendJson("f3", "failed"),
            copyJson("k1", "done") + "," + copyJson("c1", "copying") + "," + copyJson("k2", "failed") + ","
                + copyJson("k3", "cancelled") + "," + copyJson("x2", "done", {}, "Q") + "," + copyJson("k4", "done"));
        QStringList ids;
        for (const Activity &a : activityFor(status, "P"))
            ids << a.id();
        QCOMPARE(ids, (QStringList{"t2", "t1", "c1", "f3", "f2", "f1", "k4", "k3"}));
        QCOMPARE(finishedIds(status, "P"), (QStringList{"f1", "f2", "f3", "k1", "k2", "k3", "k4"}));
        QVERIFY(activityFor(std::nullopt, "P").isEmpty() && finishedIds(std::nullopt, "P").isEmpty());
    }

    void captions_data()
    {
        columns<QByteArray, QByteArray, int, double, QString>("send", "copy", "kind", "fraction", "caption");
        const int bar = int(ActivityProgress::Kind::determinate), moving = int(ActivityProgress::Kind::indeterminate);
        QTest::newRow("still scanning") << QByteArray() << copyJson("c", "copying", R"("bytes":500000,"total_bytes":2000000,"scanned":false,"bits_per_second":800000000)")
                                        << bar << 0.25 << "500 KB of at least 2 MB · 800" + nbsp + "Mb/s";
        QTest::newRow("more than the total") << sendJson("t", "sending", R"("bytes":5000000000,"total_bytes":4200000000)") << QByteArray() << bar << 1.0 << "5 GB of 4.2 GB";
        QTest::newRow("beyond signed 64 bits") << QByteArray() << copyJson("c", "copying", R"("bytes":18446744073709551615,"total_bytes":18446744073709551615)")
                                               << bar << 1.0 << "9.22 EB of 9.22 EB · 0" + nbsp + "Mb/s";
        QTest::newRow("copy without a total") << QByteArray() << copyJson("c", "copying") << moving << 0.0 << "";
        QTest::newRow("preparing with a total") << sendJson("t", "preparing", R"("total_bytes":9)") << QByteArray() << moving << 0.0 << "";
        QTest::newRow("finished with a result") << sendJson("t", "completed", R"("bytes":1000000000,"seconds":2,"delivered_files":1)") << QByteArray()
                                                << int(ActivityProgress::Kind::result) << 0.0 << "1 GB in 2.0" + nbsp + "s · 4.0" + nbsp + "Gb/s";
    }
    void captions()
    {
        auto [send, copy, kind, fraction, caption] = fetch<QByteArray, QByteArray, int, double, QString>("send", "copy", "kind", "fraction", "caption");
        const QList<Activity> items = activityFor(rawStatus(send, copy), "P");
        QCOMPARE(items.size(), 1);
        const ActivityProgress p = activityProgress(items.first());
        QCOMPARE(QString("%1|%2|%3").arg(int(p.kind)).arg(p.fraction).arg(p.caption), QString("%1|%2|%3").arg(kind).arg(fraction).arg(caption));
    }

    // The icon, the problem and the buttons, and which of them a busy service holds back.
    void rowButtons_data()
    {
        columns<QByteArray, QByteArray, QByteArray, QString>("send", "copy", "capabilities", "expected"); // icon|buttons|problem
        const QByteArray dismiss = R"(["dismiss"])", none = "[]";
        QTest::newRow("copy waits on a problem") << QByteArray() << copyJson("c", "copying", R"("problem":{"path":"/p/a.txt","reason":"Permission denied"})")
            << dismiss << "arrow.down.circle|Skip|Skip All|Stop|Couldn't read /p/a.txt: Permission denied.";
        QTest::newRow("finished copy drops its problem") << QByteArray() << copyJson("c", "done", R"("problem":{"path":"/p/a.txt","reason":"Permission denied"})")
            << dismiss << "checkmark.circle.fill|Show in File Manager|xmark|";
        QTest::newRow("running copy") << QByteArray() << copyJson("c", "copying", R"("direction":"push")") << dismiss << "arrow.up.circle|Cancel|";
        QTest::newRow("pulled copy done") << QByteArray() << copyJson("c", "done") << dismiss << "checkmark.circle.fill|Show in File Manager|xmark|";
        QTest::newRow("pushed copy done") << QByteArray() << copyJson("c", "done", R"("direction":"push")") << dismiss << "checkmark.circle.fill|xmark|";
        QTest::newRow("no dismiss") << QByteArray() << copyJson("c", "done") << none << "checkmark.circle.fill|Show in File Manager|";
        QTest::newRow("refused copy") << QByteArray() << copyJson("c", "failed", R"("error":"open: Operation not permitted")") << dismiss
                                      << "exclamationmark.circle.fill|Open Privacy Settings|xmark|";
        QTest::newRow("other failure") << QByteArray() << copyJson("c", "failed", R"("error":"disk full")") << dismiss << "exclamationmark.circle.fill|xmark|";
        QTest::newRow("refused sending") << sendJson("t", "failed", R"x("error":"(os error 1)")x") << QByteArray() << none << "exclamationmark.circle.fill||";
    }
    void rowButtons()
    {
        auto [send, copy, capabilities, expected] = fetch<QByteArray, QByteArray, QByteArray, QString>("send", "copy", "capabilities", "expected");
        for (bool busy : {false, true}) {
            const ServiceStatus status = rawStatus(send, copy, capabilities, busy);
            Fixture x({});
            x.m().setStatus(status);
            const Activity item = activityFor(status, "P").first();
            QString want = expected;
            if (busy)
                want.replace(QRegularExpression("\\|(Skip All|Skip|Stop|Cancel|xmark)\\b"), "|!\\1");
            QCOMPARE(item.icon() + "|" + describe(activityButtons(x.m(), item)) + "|" + activityProblem(item).value_or(""), want);
            x.f.workspace->panes.clear(); // where the desktop has no privacy pane, no button leads to it
            QVERIFY(!describe(activityButtons(x.m(), item)).contains("Privacy"));
        }
    }

    // "Clear" shows only for this computer's finished entries, and only with "dismiss".
    void header()
    {
        Fixture x({});
        x.m().setStatus(rawStatus(sendJson("t", "sending") + "," + sendJson("o", "completed", {}, "Q"), {}));
        QVERIFY(!activityHeader(x.m(), "P").clearShown);
        x.m().setStatus(rawStatus(sendJson("t", "completed"), {}));
        QVERIFY(activityHeader(x.m(), "P").clearShown && activityHeader(x.m(), "P").clearEnabled);
        x.m().setStatus(rawStatus(sendJson("t", "completed"), {}, "[]"));
        QVERIFY(!activityHeader(x.m(), "P").clearShown);
    }

    void banner_data()
    {
        columns<QJsonObject, QString, QString>("status", "situation", "banner"); // "offline", "disconnected", "busy", "no pane" or nothing; state|title|detail|buttons
        const QString waiting = "7|Waiting for Windows Desktop to choose what to share…||";
        QTest::newRow("no service") << demo("connected") << "offline" << "0|Waiting for Corvane's background service||";
        QTest::newRow("you disconnected, remembered name") << demo("empty", {}, {}, rememberedA("Old Name")) << "disconnected" << "1|You disconnected Old Name.||";
        QTest::newRow("not connected") << demo("empty") << "" << "1|Initial isn't connected.||";
        QTest::newRow("receiving beats a mounted share") << demo("connected", {{"remote_receive", true}}) << ""
            << "2|Windows Desktop is in receive mode|Drop files here, or choose Send Files.|Send Files…+";
        QTest::newRow("receiving, cannot send") << demo("receive", {{"choice_required", true}}) << ""
            << "2|Windows Desktop is in receive mode|Drop files here, or choose Send Files.|!Send Files…+";
        QTest::newRow("receiving while busy") << demo("receive") << "busy"
            << "2|Windows Desktop is in receive mode|Drop files here, or choose Send Files.|!Send Files…+";
        QTest::newRow("sharing beats ejected and error") << demo("connected", {{"ejected", true}, {"error", "x"}, {"remote_share", QJsonObject{{"label", "Projects"}, {"read_only", true}}}})
            << "" << "3|Windows Desktop is sharing Projects|Read-only: you can open and copy files.|eject,Get Files…,Open+";
        QTest::newRow("sharing while busy") << demo("connected") << "busy"
            << "3|Windows Desktop is sharing Projects|You can add, change and delete files.|!eject,!Get Files…,Open+";
        QTest::newRow("ejected hides an error") << demo("connected", {{"mount", null}, {"ejected", true}, {"error", "x"}}) << "busy"
            << "4|Windows Desktop’s shared files are ejected||!Show Again";
        QTest::newRow("both problem buttons, busy") << demo("choose", {{"choice_required", false}, {"error", "Operation not permitted"}}) << "busy"
            << "5|Operation not permitted||Open Privacy Settings,!Try Again";
        QTest::newRow("problem, no privacy pane") << demo("choose", {{"choice_required", false}, {"error", "Operation not permitted"}})
            << "no pane" << "5|Operation not permitted||Try Again";
        QTest::newRow("saved location missing: opening") << demo("choose", {{"error", "gone"}}) << "" << "6|Opening Windows Desktop’s shared files…||";
        QTest::newRow("saved location missing: waiting") << demo("choose", {{"error", "gone"}, {"remote_share", null}}) << "" << waiting;
        QTest::newRow("neither shares") << demo("other", {{"remote_share", null}}) << ""
            << "7|Neither computer is sharing yet. Click a choice above once the codes match.||";
    }
    void banner()
    {
        auto [status, situation, banner] = fetch<QJsonObject, QString, QString>("status", "situation", "banner");
        if (situation == "busy")
            status["control_busy"] = true;
        Fixture x(status, situation == "disconnected" ? AppModel::Disconnected{{A, "Stored"}} : AppModel::Disconnected{}, situation != "offline");
        if (situation == "no pane")
            x.f.workspace->panes.clear();
        const Banner b = bannerFor(x.m(), A, "Initial");
        QCOMPARE(QStringList({QString::number(int(b.state)), b.title, b.detail, describe(b.buttons, ",")}).join("|"), banner);
        QVERIFY(b.flexibleSpace || b.buttons.isEmpty());
        QCOMPARE(b.spinner, b.state == BannerState::opening);
    }

    // The exact line each command of the menus, the activity list and the banner
    // sends, as the stand-in service received it ("@A" is the demo computer's id).
    void sent_data()
    {
        columns<QJsonObject, Action, QString>("status", "action", "expected");
        const QByteArray a = A.toLatin1();
        QByteArray seven;
        for (const char *id : {"k1", "k2", "k3", "k4", "k5", "k6", "k7"})
            seven += (seven.isEmpty() ? "" : ",") + copyJson(id, "done", {}, a);
        QTest::newRow("menu Show Again") << demo("connected", {{"mount", null}, {"ejected", true}}) << menuItem("Show Again") << R"({"op":"mount","peer":"@A"})";
        QTest::newRow("menu Eject") << demo("connected") << menuItem("Eject") << R"({"op":"eject","peer":"@A"})";
        QTest::newRow("menu Disconnect") << demo("connected") << menuItem("Disconnect") << R"({"op":"disconnect","peer":"@A"})";
        QTest::newRow("menu Forget…, answered Forget") << demo("connected") << menuItem("Forget…") << R"({"op":"forget","peer":"@A"})";
        QTest::newRow("menu Reconnect") << demo("empty", {}, {}, rememberedA())
            << Action([](AppModel &m) { m.setDisconnected({{A, "W"}}), menuItem("Reconnect")(m); }) << R"({"op":"connect","peer":"@A"})";
        QTest::newRow("cancel a sending") << withActivity(sendJson("t7", "sending", {}, a), {}) << row(ActivityButton::cancel)
                                          << R"({"op":"cancel_transfer","peer":"@A","id":"t7"})";
        QTest::newRow("remove") << withActivity(sendJson("t1", "completed", {}, a), copyJson("c1", "done", {}, a))
                                << row(ActivityButton::remove, 1) << R"({"op":"dismiss","ids":["c1"]})";
        QTest::newRow("clear all seven") << withActivity(sendJson("t1", "sending", {}, a), seven) << Action([](AppModel &m) { clearFinished(m, A); })
                                         << R"({"op":"dismiss","ids":["k1","k2","k3","k4","k5","k6","k7"]})";
        QTest::newRow("banner Try Again") << demo("choose", {{"choice_required", false}, {"error", "x"}})
                                          << Action([](AppModel &m) { performBannerAction(m, A, BannerAction::tryAgain); }) << R"({"op":"mount","peer":"@A"})";
    }
    void sent()
    {
        auto [status, action, expected] = fetch<QJsonObject, Action, QString>("status", "action", "expected");
        StandinModel s(status);
        QVERIFY(s.started);
        action(s.model());
        const QStringList want{expected.replace("@A", A)};
        // A command may follow an answer a turn later (an alert's). The stand-in is a
        // process of its own, which a busy machine may leave waiting for seconds: its
        // quiet is judged over a longer time.
        settleUntil([&] { return s.sent() == want && !s.model().mutating(); }, [&] { return s.standin.recorded().size(); }, 5000);
        QVERIFY(s.settle());
        QCOMPARE(s.sent(), want);
    }
};

QTEST_MAIN(TestViewsLogic)
#include "tst_views_logic.moc"

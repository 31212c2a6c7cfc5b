#include "views_logic_support.h"

#include "views/activity_logic.h"
#include "views/banner_logic.h"
#include "views/computer_menu.h"
#include "views/computer_rows.h"
#include "views/sharing_logic.h"

#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

const QString nbsp = QString(QChar(0x00A0));
const QJsonValue null = QJsonValue::Null;
const QString home = QDir::homePath();

// The rows as "name|summary|flags": o online, w warning, c needs a choice, r reconnect.
QString describe(const QList<ComputerRowModel> &rows)
{
    QStringList lines;
    for (const ComputerRowModel &r : rows) {
        lines << r.name + "|" + r.summary + "|" + (r.online ? "o" : "") + (r.warning ? "w" : "")
                + (r.needsChoice ? "c" : "") + (r.canReconnect ? "r" : "");
    }
    return lines.join("\n");
}

// Items and buttons as "Title", "!Title" when disabled.
QString describe(const QList<ComputerMenuItem> &items)
{
    QStringList parts;
    for (const ComputerMenuItem &i : items)
        parts << (i.enabled ? "" : "!") + (i.action == ComputerMenuAction::divider ? QString("—") : i.title);
    return parts.join("|");
}

// Buttons as "Title" (the symbol when untitled), "!" before a disabled one, "+" after a prominent one.
template<class Button>
QString describe(const QList<Button> &buttons, const char *separator = "|")
{
    QStringList parts;
    for (const Button &b : buttons) {
        QString part = (b.enabled ? "" : "!") + (b.title.isEmpty() ? b.symbol : b.title);
        if constexpr (std::is_same_v<Button, BannerButton>)
            part += b.prominent ? "+" : "";
        parts << part;
    }
    return parts.join(separator);
}

QString describe(const Banner &banner)
{
    static const char *names[] = {"noService", "notConnected", "receiving", "sharing", "ejected", "problem", "opening", "waiting"};
    return QString(names[int(banner.state)]) + "|" + banner.title + "|" + banner.detail + "|" + describe(banner.buttons, ",");
}

struct Fixture {
    Fixture(const QJsonObject &status, const AppModel::Disconnected &disconnected = {}, bool connected = true,
            bool previewDrives = false)
    {
        f.previewMultiDrive = previewDrives;
        if (!status.isEmpty())
            installStatus(f.model(), status);
        f.model().setDisconnected(disconnected);
        f.model().setConnected(connected);
    }
    ModelFixture f;
    AppModel &m() { return f.model(); }
};

} // namespace

class TestViewsLogic : public QObject {
    Q_OBJECT

private slots:
    void rows_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<AppModel::Disconnected>("disconnected");
        QTest::addColumn<QString>("rows");
        auto remembered = [](const char *id, const char *name, const char *mode) {
            return QJsonObject{{"id", id}, {"name", name}, {"share", QJsonObject{{"mode", mode}}}};
        };
        QTest::newRow("demo main") << demo("main") << AppModel::Disconnected{} << "Studio Mac|Thunderbolt|oc\n"
                                      "Windows Desktop|Thunderbolt · Sharing Macintosh HD|o\n"
                                      "Old ThinkPad|Not connected · Shares Projects|";
        QTest::newRow("saved location gone") << demo("choose", {{"error", "gone"}}) << AppModel::Disconnected{}
                                             << "Windows Desktop|What you shared last time isn't available|owc";
        QTest::newRow("not sharing, other side receives") << demo("receive", {{"sharing", QJsonObject{{"mode", "none"}}}, {"interface_index", 7}})
            << AppModel::Disconnected{} << "Windows Desktop|Cable · Not sharing · It's in receive mode|o";
        QTest::newRow("receive only") << demo("receive") << AppModel::Disconnected{} << "Windows Desktop|Thunderbolt · Receive only · It's in receive mode|o";
        QTest::newRow("offline kinds, disconnected once") << wire::status({}, 0, {},
                            {remembered("r1", "Mac 10", "none"), remembered("r2", "Mac 2", "receive"),
                             remembered("r3", "mac 3", "none")})
            << AppModel::Disconnected{{"r1", "Mac 10"}, {"x", "Mac 2"}}
            << "Mac 2|Not connected · Receive only|\nMac 2|Disconnected|r\nmac 3|Not connected|\nMac 10|Disconnected|r";
        QTest::newRow("connected stay first") << wire::status({wire::peer("p1", "Zed")}, 0, {}, {remembered("r1", "Alpha", "none")})
            << AppModel::Disconnected{{"p1", "Zed"}} << "Zed|Cable · Not sharing|o\nAlpha|Not connected|";
    }

    void rows()
    {
        QFETCH(QJsonObject, status);
        QFETCH(AppModel::Disconnected, disconnected);
        QFETCH(QString, rows);
        Fixture x(status, disconnected);
        QCOMPARE(describe(computerRows(x.m())), rows);
    }

    void menu_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<AppModel::Disconnected>("disconnected");
        QTest::addColumn<bool>("withShow");
        QTest::addColumn<QString>("items");
        const AppModel::Disconnected none;
        QTest::newRow("unknown computer") << demo("empty") << none << true << "Show|—";
        QTest::newRow("mounted and remembered") << demo("connected") << none << true << "Show|Open Files|Eject|—|Disconnect|Forget…";
        QTest::newRow("ejected") << demo("connected", {{"mount", null}, {"ejected", true}}) << none << true << "Show|Show Again|—|Disconnect|Forget…";
        QTest::newRow("disconnected and remembered") << demo("empty", {}, {}, QJsonArray{QJsonObject{{"id", A}, {"name", "W"}, {"share", QJsonObject{{"mode", "none"}}}}})
            << AppModel::Disconnected{{A, "W"}} << true << "Show|—|Reconnect|Forget…";
        QJsonObject busy = demo("connected");
        busy["control_busy"] = true;
        QTest::newRow("busy") << busy << none << true << "Show|Open Files|!Eject|—|!Disconnect|!Forget…";
        QTest::newRow("can send, no show") << demo("receive") << none << false << "Send Files…|—|Disconnect";
    }

    void menu()
    {
        QFETCH(QJsonObject, status);
        QFETCH(AppModel::Disconnected, disconnected);
        QFETCH(bool, withShow);
        QFETCH(QString, items);
        Fixture x(status, disconnected);
        QCOMPARE(describe(computerMenuItems(x.m(), A, withShow)), items);
        // Without the service only "Open Files" changes its mind among the non-commands.
        x.m().setConnected(false);
        QCOMPARE(describe(computerMenuItems(x.m(), A, withShow)).contains("!Open Files"), items.contains("Open Files"));
    }

    void tiles_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("expected"); // description|selected|enabled|outer tooltip
        QJsonObject noReceive = demo("choose");
        noReceive["capabilities"] = QJsonArray{"fast_copy"};
        QTest::newRow("drive selected") << demo("connected") << 0 << "Macintosh HD appears on the other computer.|1|1|";
        QTest::newRow("folder share") << demo("folder") << 1 << "Projects appears on the other computer.|1|1|";
        QTest::newRow("folder unselected") << demo("connected") << 1 << "Pick one folder. Nothing else is visible.|0|1|";
        QTest::newRow("receive") << demo("choose") << 2 << "Files go to Downloads. Yours stay private.|0|1|";
        QTest::newRow("receive unsupported") << noReceive << 2 << "Files go to Downloads. Yours stay private.|0|0|Receive only needs a newer version of Corvane on this Mac.";
        QTest::newRow("unknown computer") << demo("empty") << 1 << "Pick one folder. Nothing else is visible.|0|0|";
    }

    void tiles()
    {
        QFETCH(QJsonObject, status);
        QFETCH(int, choice);
        QFETCH(QString, expected);
        Fixture x(status);
        const SharingTileState t = sharingTile(x.m(), A, SharingChoice(choice));
        QCOMPARE(QStringList({t.description, QString::number(t.selected), QString::number(t.enabled), t.outerTooltip}).join("|"), expected);
        QCOMPARE(QStringList({t.tooltip, t.accessibilityValue, t.accessibilityHint}),
                 t.selected ? QStringList({"Click again to stop sharing", "Current choice", "Click again to stop sharing."})
                            : QStringList({"", "", t.description}));
    }

    // Taps that send nothing or open the panel; the sent JSON is in views_logic_commands.
    void tapsWithoutCall()
    {
        Fixture x(demo("connected"));
        QCOMPARE(tileTap(x.m(), A, SharingChoice::folder, {}), (TileTap{std::nullopt, true}));
        QVERIFY(!tileTap(x.m(), A, SharingChoice::drive, {}).pickFolder);
        x.m().setMutating(true);
        QCOMPARE(tileTap(x.m(), A, SharingChoice::drive, {}), TileTap{});
    }

    // Checkbox changes of three drives: the ticked ones in the drives' order, "none" when none is left.
    void driveToggle_data()
    {
        QTest::addColumn<QStringList>("shared");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QStringList>("paths");
        const QString ssd = "/Volumes/External SSD", photos = "/Volumes/Photos";
        QTest::newRow("tick in any order") << QStringList{photos} << "/" << true << QStringList{"/", photos};
        QTest::newRow("untick one") << QStringList{"/", ssd} << "/" << false << QStringList{ssd};
        QTest::newRow("untick the last") << QStringList{ssd} << ssd << false << QStringList{};
        QTest::newRow("gone drive dropped") << QStringList{"/Volumes/Gone", "/"} << photos << true << QStringList{"/", photos};
    }

    void driveToggle()
    {
        QFETCH(QStringList, shared);
        QFETCH(QString, path);
        QFETCH(bool, on);
        QFETCH(QStringList, paths);
        QJsonArray locations;
        for (const QString &p : shared)
            locations.append(QJsonObject{{"path", p}});
        Fixture x(demo("connected", {{"sharing", QJsonObject{{"mode", "drive"}, {"locations", locations}}}}, {"multi_drive"}), {}, true, true);
        QCOMPARE(selectionDetail(x.m(), A).drives.size(), 3);
        const auto first = paths.isEmpty() ? std::nullopt : std::optional<QString>(paths.first());
        const auto list = paths.isEmpty() ? std::nullopt : std::optional<QStringList>(paths);
        QCOMPARE(cv::driveToggle(x.m(), A, path, on, {true, false}),
                 (ChooseCall{A, paths.isEmpty() ? "none" : "drive", first, list, true, false, pairingCode(x.m(), A)}));
    }

    void optionsChange_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<QString>("call"); // mode|path|paths|pairing code, empty for none
        const QString code = Demo::status("choose").peers.first().pairing_code;
        QTest::newRow("nothing shared") << demo("receive", {{"sharing", QJsonObject{{"mode", "none"}}}}) << "";
        QTest::newRow("choice pending") << demo("choose", {{"sharing", QJsonObject{{"mode", "drive"}}}}) << "";
        QTest::newRow("folder") << demo("folder") << "folder|" + home + "/Projects|" + home + "/Projects|" + code;
        QTest::newRow("receive folder") << demo("receive", {{"sharing", QJsonObject{{"mode", "receive"}, {"folder", QJsonObject{{"path", "/srv/in"}}}}}})
            << "receive|/srv/in||" + code;
        QTest::newRow("remembered, not connected: no code")
            << demo("empty", {}, {}, QJsonArray{QJsonObject{{"id", A}, {"name", "W"}, {"share", QJsonObject{{"mode", "receive"}}}}}) << "receive|||";
    }

    void optionsChange()
    {
        QFETCH(QJsonObject, status);
        QFETCH(QString, call);
        Fixture x(status);
        const std::optional<ChooseCall> made = cv::optionsChange(x.m(), A, {false, true});
        QCOMPARE(made.has_value(), !call.isEmpty());
        if (made) {
            QCOMPARE(QStringList({made->mode, made->path.value_or(""), made->paths.value_or(QStringList{}).join(","),
                                  made->pairingCode.value_or("")}).join("|"),
                     call);
            QVERIFY(!made->readOnly && made->remember);
        }
    }

    void paths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("shown");
        QTest::newRow("home") << "/home/al" << "~";
        QTest::newRow("inside") << "/home/al/Downloads/in" << "~/Downloads/in";
        QTest::newRow("a neighbour is not home") << "/home/al2/x" << "/home/al2/x";
        QTest::newRow("elsewhere") << "/srv/home/al" << "/srv/home/al";
    }

    void paths()
    {
        QFETCH(QString, path);
        QFETCH(QString, shown);
        QCOMPARE(abbreviatedPath(path, "/home/al"), shown);
        QCOMPARE(abbreviatedPath(path, "/home/al/"), shown);
        Share receive{.mode = "receive", .folder = Share::Location{path}};
        QCOMPARE(receiveFolderLine(receive, "/home/al"), shown);
        QCOMPARE(receiveFolderLine(Share{.mode = "receive"}, "/home/al"), "~/Downloads");
    }

    void details()
    {
        Fixture folder(demo("folder")), receive(demo("receive"));
        const SelectionDetail f = selectionDetail(folder.m(), A), r = selectionDetail(receive.m(), A);
        QCOMPARE(QStringList({f.symbol, f.title, f.pathLine, r.title, r.pathLine}).join("|"),
                 "folder|Projects|~/Projects|Save received files to Downloads|~/Downloads");
        const SharingOptionRows rows = sharingOptionRows(receive.m(), A, "Initial");
        QVERIFY(!rows.readOnly.enabled && rows.remember.enabled);
        QCOMPARE(receiveFolderPanel(receive.m(), A, "Initial").startFolder, home + "/Downloads");
    }

    // Two running sendings, one running copy, three finished sendings and four
    // finished copies, amid another computer's entries: eight rows, seven to clear.
    void activitySelection()
    {
        const ServiceStatus status = rawStatus(
            sendJson("f1", "completed") + "," + sendJson("t1", "preparing") + "," + sendJson("f2", "cancelled") + ","
                + sendJson("x1", "failed", {}, "Q") + "," + sendJson("t2", "sending") + "," + sendJson("f3", "failed"),
            copyJson("k1", "done") + "," + copyJson("c1", "copying") + "," + copyJson("k2", "failed") + ","
                + copyJson("k3", "cancelled") + "," + copyJson("x2", "done", {}, "Q") + "," + copyJson("k4", "done"));
        QStringList shown;
        for (const Activity &a : activityFor(status, "P"))
            shown << a.id();
        QCOMPARE(shown, (QStringList{"t2", "t1", "c1", "f3", "f2", "f1", "k4", "k3"}));
        QCOMPARE(finishedIds(status, "P"), (QStringList{"f1", "f2", "f3", "k1", "k2", "k3", "k4"}));
        QVERIFY(activityFor(std::nullopt, "P").isEmpty() && finishedIds(std::nullopt, "P").isEmpty());

        // Seven finished and nothing running: five shown, all seven cleared.
        const ServiceStatus finished = rawStatus(sendJson("f1", "completed") + "," + sendJson("f2", "failed"),
                                                 copyJson("k1", "done") + "," + copyJson("k2", "done") + ","
                                                     + copyJson("k3", "done") + "," + copyJson("k4", "failed") + ","
                                                     + copyJson("k5", "cancelled"));
        shown.clear();
        for (const Activity &a : activityFor(finished, "P"))
            shown << a.id();
        QCOMPARE(shown, (QStringList{"f2", "f1", "k5", "k4", "k3"}));
        QCOMPARE(finishedIds(finished, "P").size(), 7);
    }

    void captions_data()
    {
        QTest::addColumn<QByteArray>("send");
        QTest::addColumn<QByteArray>("copy");
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("fraction");
        QTest::addColumn<QString>("caption");
        const int bar = int(ActivityProgress::Kind::determinate), moving = int(ActivityProgress::Kind::indeterminate);
        QTest::newRow("still scanning") << QByteArray() << copyJson("c", "copying", R"("bytes":500000,"total_bytes":2000000,"scanned":false,"bits_per_second":800000000)")
                                        << bar << 0.25 << "500 KB of at least 2 MB · 800" + nbsp + "Mb/s";
        QTest::newRow("more than the total") << sendJson("t", "sending", R"("bytes":5000000000,"total_bytes":4200000000)") << QByteArray()
                                             << bar << 1.0 << "5 GB of 4.2 GB";
        QTest::newRow("beyond signed 64 bits") << QByteArray() << copyJson("c", "copying", R"("bytes":18446744073709551615,"total_bytes":18446744073709551615)")
                                               << bar << 1.0 << "9.22 EB of 9.22 EB · 0" + nbsp + "Mb/s";
        QTest::newRow("copy without a total") << QByteArray() << copyJson("c", "copying") << moving << 0.0 << "";
        QTest::newRow("preparing with a total") << sendJson("t", "preparing", R"("total_bytes":9)") << QByteArray() << moving << 0.0 << "";
        QTest::newRow("sending without a total") << sendJson("t", "sending") << QByteArray() << moving << 0.0 << "";
        QTest::newRow("finished with a result") << sendJson("t", "completed", R"("bytes":1000000000,"seconds":2,"delivered_files":1)") << QByteArray()
                                                << int(ActivityProgress::Kind::result) << 0.0 << "1 GB in 2.0" + nbsp + "s · 4.0" + nbsp + "Gb/s";
        QTest::newRow("cancelled") << QByteArray() << copyJson("c", "cancelled", R"("bytes":5,"total_bytes":9)") << int(ActivityProgress::Kind::none) << 0.0 << "";
    }

    void captions()
    {
        QFETCH(QByteArray, send);
        QFETCH(QByteArray, copy);
        QFETCH(int, kind);
        QFETCH(double, fraction);
        QFETCH(QString, caption);
        const QList<Activity> items = activityFor(rawStatus(send, copy), "P");
        QCOMPARE(items.size(), 1);
        const ActivityProgress p = activityProgress(items.first());
        QCOMPARE(int(p.kind), kind);
        QCOMPARE(p.fraction, fraction);
        QCOMPARE(p.caption, caption);
    }

    void rowButtons_data()
    {
        QTest::addColumn<QByteArray>("send");
        QTest::addColumn<QByteArray>("copy");
        QTest::addColumn<QByteArray>("capabilities");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QString>("buttons");
        QTest::addColumn<QString>("problem");
        const QByteArray dismiss = R"(["dismiss"])", none = "[]";
        const QByteArray problem = R"("problem":{"path":"/p/a.txt","reason":"Permission denied"})";
        QTest::newRow("copy waits on a problem") << QByteArray() << copyJson("c", "copying", problem) << dismiss << "arrow.down.circle"
                                                 << "Skip|Skip All|Stop" << "Couldn't read /p/a.txt: Permission denied.";
        QTest::newRow("running copy") << QByteArray() << copyJson("c", "copying", R"("direction":"push")") << dismiss << "arrow.up.circle" << "Cancel" << "";
        QTest::newRow("pulled copy done") << QByteArray() << copyJson("c", "done") << dismiss << "checkmark.circle.fill" << "Show in Finder|xmark" << "";
        QTest::newRow("pushed copy done") << QByteArray() << copyJson("c", "done", R"("direction":"push")") << dismiss << "checkmark.circle.fill" << "xmark" << "";
        QTest::newRow("no dismiss") << QByteArray() << copyJson("c", "done") << none << "checkmark.circle.fill" << "Show in Finder" << "";
        QTest::newRow("refused copy") << QByteArray() << copyJson("c", "failed", R"("error":"open: Operation not permitted")") << dismiss
                                      << "exclamationmark.circle.fill" << "Open Privacy Settings|xmark" << "";
        QTest::newRow("other failure") << QByteArray() << copyJson("c", "failed", R"("error":"disk full")") << dismiss << "exclamationmark.circle.fill" << "xmark" << "";
        QTest::newRow("refused sending") << sendJson("t", "failed", R"x("error":"(os error 1)")x") << QByteArray() << none << "exclamationmark.circle.fill" << "" << "";
        QTest::newRow("cancelled sending") << sendJson("t", "cancelled") << QByteArray() << dismiss << "xmark.circle" << "xmark" << "";
        QTest::newRow("sending") << sendJson("t", "verifying") << QByteArray() << none << "arrow.up.circle" << "Cancel" << "";
    }

    // The buttons, and which of them a busy service holds back.
    void rowButtons()
    {
        QFETCH(QByteArray, send);
        QFETCH(QByteArray, copy);
        QFETCH(QByteArray, capabilities);
        QFETCH(QString, icon);
        QFETCH(QString, buttons);
        QFETCH(QString, problem);
        for (bool busy : {false, true}) {
            const ServiceStatus status = rawStatus(send, copy, capabilities, busy);
            Fixture x({});
            x.m().setStatus(status);
            const Activity item = activityFor(status, "P").first();
            QCOMPARE(item.icon(), icon);
            QCOMPARE(activityProblem(item).value_or(""), problem);
            QString expected = buttons;
            if (busy) {
                static const QRegularExpression heldBack("\\b(Skip All|Skip|Stop|Cancel|xmark)\\b");
                expected.replace(heldBack, "!\\1");
            }
            QCOMPARE(describe(activityButtons(x.m(), item)), expected);
        }
    }

    void header()
    {
        Fixture x({});
        x.m().setStatus(rawStatus(sendJson("t", "sending") + "," + sendJson("o", "completed", {}, "Q"), {}));
        QVERIFY(!activityHeader(x.m(), "P").clearShown); // only another computer's entry is finished
        x.m().setStatus(rawStatus(sendJson("t", "completed"), {}));
        const ActivityHeader h = activityHeader(x.m(), "P");
        QVERIFY(h.clearShown && h.clearEnabled);
        QCOMPARE(QStringList({h.title, h.clearTitle, h.clearTooltip}).join("|"),
                 "Transfers|Clear|Remove finished transfers from this list");
        x.m().setStatus(rawStatus(sendJson("t", "completed"), {}, "[]"));
        QVERIFY(!activityHeader(x.m(), "P").clearShown);
    }

    void banner_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<QString>("situation"); // "offline", "disconnected", "busy" or nothing
        QTest::addColumn<QString>("banner");
        const QJsonObject share{{"label", "Projects"}, {"read_only", true}};
        const QJsonArray rememberedOld{QJsonObject{{"id", A}, {"name", "Old Name"}, {"share", QJsonObject{{"mode", "none"}}}}};
        const QString waiting = "waiting|Waiting for Windows Desktop to choose what to share…||";
        QTest::newRow("no service") << demo("connected") << "offline" << "noService|Waiting for Corvane's background service||";
        QTest::newRow("you disconnected, remembered name") << demo("empty", {}, {}, rememberedOld) << "disconnected" << "notConnected|You disconnected Old Name.||";
        QTest::newRow("you disconnected, initial name") << demo("empty") << "disconnected" << "notConnected|You disconnected Initial.||";
        QTest::newRow("not connected") << demo("empty") << "" << "notConnected|Initial isn't connected.||";
        QTest::newRow("receiving beats a mounted share") << demo("connected", {{"remote_receive", true}}) << ""
            << "receiving|Windows Desktop is in receive mode|Drop files here, or choose Send Files.|Send Files…+";
        QTest::newRow("receiving, cannot send") << demo("receive", {{"choice_required", true}}) << ""
            << "receiving|Windows Desktop is in receive mode|Drop files here, or choose Send Files.|!Send Files…+";
        QTest::newRow("sharing") << demo("connected") << "" << "sharing|Windows Desktop is sharing Projects|You can add, change and delete files.|eject,Get Files…,Open+";
        QTest::newRow("sharing beats ejected and error") << demo("connected", {{"ejected", true}, {"error", "x"}, {"remote_share", share}}) << ""
            << "sharing|Windows Desktop is sharing Projects|Read-only: you can open and copy files.|eject,Get Files…,Open+";
        QTest::newRow("sharing while busy") << demo("connected") << "busy"
            << "sharing|Windows Desktop is sharing Projects|You can add, change and delete files.|!eject,!Get Files…,Open+";
        QTest::newRow("ejected hides an error") << demo("connected", {{"mount", null}, {"ejected", true}, {"error", "x"}}) << "busy"
            << "ejected|Windows Desktop’s shared files are ejected||!Show Again";
        QTest::newRow("problem, share not mounted") << demo("choose", {{"choice_required", false}, {"error", "Mount failed"}}) << "" << "problem|Mount failed||Try Again";
        QTest::newRow("privacy refusal, no share") << demo("receive", {{"remote_receive", false}, {"error", "(os error 1)"}}) << ""
            << "problem|(os error 1)||Open Privacy Settings";
        QTest::newRow("both problem buttons, busy") << demo("choose", {{"choice_required", false}, {"error", "Operation not permitted"}}) << "busy"
            << "problem|Operation not permitted||Open Privacy Settings,!Try Again";
        QTest::newRow("empty error counts") << demo("receive", {{"remote_receive", false}, {"error", ""}}) << "" << "problem|||";
        QTest::newRow("opening") << demo("choose", {{"choice_required", false}}) << "" << "opening|Opening Windows Desktop’s shared files…||";
        QTest::newRow("saved location missing: opening") << demo("choose", {{"error", "gone"}}) << "" << "opening|Opening Windows Desktop’s shared files…||";
        QTest::newRow("saved location missing: waiting") << demo("choose", {{"error", "gone"}, {"remote_share", null}}) << "" << waiting;
        QTest::newRow("neither shares") << demo("other", {{"remote_share", null}}) << ""
            << "waiting|Neither computer is sharing yet. Click a choice above once the codes match.||";
        QTest::newRow("mount without a share") << demo("connected", {{"remote_share", null}}) << "" << waiting;
    }

    void banner()
    {
        QFETCH(QJsonObject, status);
        QFETCH(QString, situation);
        if (situation == "busy")
            status["control_busy"] = true;
        Fixture x(status, situation == "disconnected" ? AppModel::Disconnected{{A, "Stored"}} : AppModel::Disconnected{},
                  situation != "offline");
        QFETCH(QString, banner);
        const Banner b = bannerFor(x.m(), A, "Initial");
        QCOMPARE(describe(b), banner);
        QVERIFY(b.flexibleSpace || b.buttons.isEmpty());
        QCOMPARE(b.spinner, b.state == BannerState::opening);
    }
};

QTEST_MAIN(TestViewsLogic)
#include "tst_views_logic.moc"

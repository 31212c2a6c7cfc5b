#include "views_logic_support.h"

#include "views/activity_logic.h"
#include "views/banner_logic.h"
#include "views/computer_menu.h"
#include "views/sharing_logic.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>

using namespace cv;
using namespace cv::test;

using Action = std::function<void(AppModel &)>;
Q_DECLARE_METATYPE(Action)

namespace {

QString code() { return Demo::status("choose").peers.first().pairing_code; }

// Triggers the item titled `title` of the computer's menu as filled for the demo computer.
Action menuItem(const char *title)
{
    return [title](AppModel &m) {
        QMenu menu;
        fillComputerMenu(menu, m, A, [] {});
        for (QAction *action : menu.actions()) {
            if (action->text() == QLatin1String(title))
                action->trigger();
        }
    };
}

Action tap(SharingChoice choice)
{
    return [choice](AppModel &m) {
        if (const std::optional<ChooseCall> call = tileTap(m, A, choice, {false, true}).call)
            call->sendTo(m);
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

const char *peerA = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";

} // namespace

class TestViewsCommands : public QObject {
    Q_OBJECT

private slots:
    // The exact line each control of the views sends, as the stand-in service
    // received it ("@A" is the demo computer's id, "@CODE" its pairing code).
    void sent_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("expected");
        const QString home = QDir::homePath();
        const QJsonArray rememberedA{QJsonObject{{"id", A}, {"name", "W"}, {"share", QJsonObject{{"mode", "none"}}}}};
        QTest::newRow("menu Eject") << demo("connected") << menuItem("Eject") << R"({"op":"eject","peer":"@A"})";
        QTest::newRow("menu Show Again") << demo("connected", {{"mount", QJsonValue::Null}, {"ejected", true}}) << menuItem("Show Again")
                                         << R"({"op":"mount","peer":"@A"})";
        QTest::newRow("menu Reconnect") << demo("empty", {}, {}, rememberedA) << Action([](AppModel &m) {
                   m.setDisconnected({{A, "W"}});
                   menuItem("Reconnect")(m);
               })
            << R"({"op":"connect","peer":"@A"})";
        QTest::newRow("selected tile again") << demo("connected") << tap(SharingChoice::drive)
                                             << R"({"op":"choose","peer":"@A","mode":"none","read_only":false,"remember":true,"pairing_code":"@CODE"})";
        QTest::newRow("drive tile") << demo("choose") << tap(SharingChoice::drive)
                                    << R"({"op":"choose","peer":"@A","mode":"drive","path":"/","read_only":false,"remember":true,"pairing_code":"@CODE"})";
        QTest::newRow("drive tile, several drives") << demo("choose", {}, {"multi_drive"}) << tap(SharingChoice::drive)
                                                    << R"({"op":"choose","peer":"@A","mode":"drive","path":"/","read_only":false,"remember":true,"pairing_code":"@CODE","paths":["/"]})";
        QTest::newRow("receive tile, default folder") << demo("choose") << Action([home](AppModel &m) {
                   QDir().mkpath(home + "/Incoming");
                   m.setLastReceiveFolder(home + "/Incoming");
                   tap(SharingChoice::receive)(m);
               })
            << R"({"op":"choose","peer":"@A","mode":"receive","path":"@HOME/Incoming","read_only":false,"remember":true,"pairing_code":"@CODE"})";
        QTest::newRow("folder panel: code read before it opened") << demo("choose") << Action([](AppModel &m) {
                   const FolderPanelRequest request = folderPanel(m, A, "W");
                   installStatus(m, demo("choose", {{"pairing_code", "000000000000"}}));
                   confirmFolderPanel(m, request, "/srv/share", {true, false});
               })
            << R"({"op":"choose","peer":"@A","mode":"folder","path":"/srv/share","read_only":true,"remember":false,"pairing_code":"@CODE"})";
        QTest::newRow("cancel a sending") << withActivity(sendJson("t7", "sending", {}, peerA), {})
                                          << row(ActivityButton::cancel) << R"({"op":"cancel_transfer","peer":"@A","id":"t7"})";
        QTest::newRow("cancel a copy") << withActivity({}, copyJson("c7", "copying", {}, peerA)) << row(ActivityButton::cancel) << R"({"op":"cancel_copy","id":"c7"})";
        QTest::newRow("remove") << withActivity(sendJson("t1", "completed", {}, peerA), copyJson("c1", "done", {}, peerA))
                                << row(ActivityButton::remove, 1) << R"({"op":"dismiss","ids":["c1"]})";
        QByteArray seven;
        for (const char *id : {"k1", "k2", "k3", "k4", "k5", "k6", "k7"})
            seven += (seven.isEmpty() ? "" : ",") + copyJson(id, "done", {}, peerA);
        QTest::newRow("clear all seven") << withActivity(sendJson("t1", "sending", {}, peerA), seven) << Action([](AppModel &m) { clearFinished(m, A); })
                                         << R"({"op":"dismiss","ids":["k1","k2","k3","k4","k5","k6","k7"]})";
        QTest::newRow("banner Try Again") << demo("choose", {{"choice_required", false}, {"error", "x"}})
                                          << Action([](AppModel &m) { performBannerAction(m, A, BannerAction::tryAgain); }) << R"({"op":"mount","peer":"@A"})";
    }

    void sent()
    {
        QFETCH(QJsonObject, status);
        QFETCH(Action, action);
        QFETCH(QString, expected);
        StandinModel s(status);
        QVERIFY(s.started);
        action(s.model());
        QVERIFY(s.settle());
        expected.replace("@A", A).replace("@CODE", code()).replace("@HOME", QDir::homePath());
        QCOMPARE(s.sent(), QStringList{expected});
    }
};

QTEST_MAIN(TestViewsCommands)
#include "tst_views_commands.moc"

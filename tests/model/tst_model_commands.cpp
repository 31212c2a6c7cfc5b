#include "standin_model.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

// Alpha ("p1") is connected with its share mounted; "r1" is only remembered.
QJsonObject twoComputers(const QStringList &capabilities = {})
{
    return wire::status({offeringPeer("p1", "Alpha", true, QString("/mnt/alpha"), false)}, 0, capabilities,
                        {wire::remembered("r1", "Remembered")});
}

const AppModel::Disconnected gone{{"p2", "Gamma"}, {"p3", "Delta"}};

} // namespace

class TestModelCommands : public QObject {
    Q_OBJECT

private slots:
    void refusedWhileNotReady_data()
    {
        QTest::addColumn<QString>("situation");
        for (const char *situation : {"disconnected", "busy", "demo", "mutating"})
            QTest::newRow(situation) << QString(situation);
    }

    void refusedWhileNotReady()
    {
        QFETCH(QString, situation);
        QJsonObject status = twoComputers({"dismiss"});
        status["control_busy"] = situation == "busy";
        StandinModel s(status);
        QVERIFY(s.started);
        AppModel &m = s.model();
        m.setDisconnected(gone);
        m.setConnected(situation != "disconnected");
        m.setDemo(situation == "demo");
        m.setMutating(situation == "mutating");

        m.run(Command{.op = "disconnect", .peer = "p1"});
        m.run(Command{.op = "connect", .peer = "p2"});
        m.dismiss({"t1"});
        m.forget("p1");
        // Only in the demo nothing stops the question: its answer is refused.
        QCOMPARE(s.fixture.alerts->shown.isEmpty(), situation != "demo");
        QCOMPARE(m.canDismiss(), situation != "disconnected");
        QCOMPARE(m.mutating(), situation == "mutating");
        QCOMPARE(m.disconnected(), gone);
        QCOMPARE(m.error(), std::nullopt);
        QVERIFY(s.commandsAfterAWhile().isEmpty());
        QVERIFY(s.standin.recorded().isEmpty());
    }

    // The exact line each command sends (none for a cancelled "forget"), and the
    // `disconnected` bookkeeping done in the same turn as the command.
    void sentLines_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("peer");
        QTest::addColumn<AppModel::Disconnected>("after");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("question"); // of a "forget"
        AppModel::Disconnected alphaToo = gone;
        alphaToo.insert("p1", "Alpha");
        QTest::newRow("disconnect remembers the name") << "disconnect" << "p1" << alphaToo << R"({"op":"disconnect","peer":"p1"})" << "";
        QTest::newRow("disconnect of an unknown id: sent, not recorded")
            << "disconnect" << "ghost" << gone << R"({"op":"disconnect","peer":"ghost"})" << "";
        QTest::newRow("connect forgets the disconnection")
            << "connect" << "p2" << AppModel::Disconnected{{"p3", "Delta"}} << R"({"op":"connect","peer":"p2"})" << "";
        QTest::newRow("resolve a copy") << "resolve_copy" << "c9" << gone << R"({"op":"resolve_copy","id":"c9","decision":"skip_all"})"
                                        << "";
        QTest::newRow("forget Alpha") << "forget" << "p1" << gone << R"({"op":"forget","peer":"p1"})" << "Forget Alpha?";
        QTest::newRow("forget a remembered one") << "forget" << "r1" << gone << R"({"op":"forget","peer":"r1"})"
                                                 << "Forget Remembered?";
        QTest::newRow("forget cancelled, unknown id") << "forget cancelled" << "nobody" << gone << "" << "Forget Computer?";
    }

    void sentLines()
    {
        QFETCH(QString, action);
        QFETCH(QString, peer);
        QFETCH(AppModel::Disconnected, after);
        QFETCH(QString, expected);
        QFETCH(QString, question);
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        AppModel &m = s.model();
        m.setDisconnected(gone);
        s.fixture.alerts->answer = action == "forget cancelled" ? 1 : 0;
        // Twice in one turn, as two quick clicks would: one command only.
        for (int click = 0; click < (expected.isEmpty() ? 1 : 2); ++click) {
            if (action.startsWith("forget"))
                m.forget(peer);
            else if (action == "resolve_copy")
                m.resolveCopy(peer, "skip_all");
            else
                m.run(Command{.op = action, .peer = peer});
        }
        QCOMPARE(m.mutating(), !expected.isEmpty());
        QCOMPARE(m.disconnected(), after);
        QVERIFY(s.settle());
        QCOMPARE(s.commandsAfterAWhile().size(), expected.isEmpty() ? 0 : 1);
        QCOMPARE(s.sent(), expected.isEmpty() ? QStringList{} : QStringList{expected});
        QCOMPARE(s.fixture.alerts->shown.size(), question.isEmpty() ? 0 : 1);
        if (!question.isEmpty()) {
            const Alert &alert = s.fixture.alerts->shown.first();
            QCOMPARE(alert.message, question);
            QCOMPARE(alert.informative,
                     "Its saved sharing choice will be removed and sharing will stop. You’ll confirm the computer again next time.");
            QCOMPARE(alert.buttons, (QStringList{"Forget", "Cancel"}));
        }
    }

    void aFailedCommandSetsTheErrorRefreshesAndEnds()
    {
        const QJsonObject refusal{{"ok", false}, {"error", "The share is gone."}};
        StandinModel s(twoComputers(), {{"ops", QJsonObject{{"mount", QJsonObject{{"delay", 0.2}, {"reply", refusal}}}}}});
        QVERIFY(s.started);
        AppModel &m = s.model();
        m.run(Command{.op = "mount", .peer = "p1"});
        QVERIFY(m.mutating());
        QVERIFY(s.settle());
        QCOMPARE(m.error(), "The share is gone.");
        QCOMPARE(s.sent(), QStringList{R"({"op":"mount","peer":"p1"})"});
        // The refresh after the command asked for the status again.
        QStringList ops;
        for (const QByteArray &line : s.standin.recorded())
            ops << opOf(line);
        QVERIFY2(ops.lastIndexOf("status") > ops.indexOf("mount"), qPrintable(ops.join(u',')));
    }

    void choose_data()
    {
        QTest::addColumn<bool>("multiDrive");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<std::optional<QString>>("path");
        QTest::addColumn<std::optional<QStringList>>("paths");
        QTest::addColumn<bool>("readOnly"); // and not remembered, with a pairing code
        QTest::addColumn<QString>("expected");
        const std::optional<QString> root = QString("/"), none;
        const std::optional<QStringList> two = QStringList{"/", "/media/usb"}, noPaths;
        QTest::newRow("drive, one path, multi_drive") << true << "drive" << root << noPaths << false
            << R"({"op":"choose","peer":"p1","mode":"drive","path":"/","read_only":false,"remember":true,"paths":["/"]})";
        QTest::newRow("drive, two paths, multi_drive") << true << "drive" << root << two << true
            << R"({"op":"choose","peer":"p1","mode":"drive","path":"/","read_only":true,"remember":false,"pairing_code":"123456","paths":["/","/media/usb"]})";
        QTest::newRow("drive, no path, multi_drive") << true << "drive" << none << noPaths << false
            << R"({"op":"choose","peer":"p1","mode":"drive","read_only":false,"remember":true})";
        QTest::newRow("drive, two paths, no capability") << false << "drive" << root << two << false
            << R"({"op":"choose","peer":"p1","mode":"drive","path":"/","read_only":false,"remember":true})";
        QTest::newRow("folder never sends paths") << true << "folder" << std::optional<QString>("/home/me/Shared") << two << false
            << R"({"op":"choose","peer":"p1","mode":"folder","path":"/home/me/Shared","read_only":false,"remember":true})";
        QTest::newRow("Drive in another case is not a drive") << true << "Drive" << root << two << false
            << R"({"op":"choose","peer":"p1","mode":"Drive","path":"/","read_only":false,"remember":true})";
    }

    void choose()
    {
        QFETCH(bool, multiDrive);
        QFETCH(QString, mode);
        QFETCH(std::optional<QString>, path);
        QFETCH(std::optional<QStringList>, paths);
        QFETCH(bool, readOnly);
        QFETCH(QString, expected);
        StandinModel s(twoComputers(multiDrive ? QStringList{"multi_drive"} : QStringList{}));
        QVERIFY(s.started);
        s.model().choose("p1", mode, path, paths, readOnly, !readOnly, readOnly ? std::optional<QString>("123456") : std::nullopt);
        QVERIFY(s.settle());
        QCOMPARE(s.sent(), QStringList{expected});
    }

    void dismiss_data()
    {
        QTest::addColumn<bool>("capability");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("sent"); // ids sent; 0: no command
        QTest::newRow("300 ids") << true << 300 << 256;
        QTest::newRow("exactly 256") << true << 256 << 256;
        QTest::newRow("empty list") << true << 0 << 0;
        QTest::newRow("no capability") << false << 1 << 0;
    }

    void dismiss()
    {
        QFETCH(bool, capability);
        QFETCH(int, count);
        QFETCH(int, sent);
        StandinModel s(twoComputers(capability ? QStringList{"dismiss"} : QStringList{}));
        QVERIFY(s.started);
        QCOMPARE(s.model().canDismiss(), capability);
        QStringList ids;
        for (int i = 0; i < count; ++i)
            ids << QString("t%1").arg(i);
        s.model().dismiss(ids);
        QVERIFY(s.settle());
        const QList<QByteArray> lines = s.commandsAfterAWhile();
        QCOMPARE(lines.size(), sent ? 1 : 0);
        if (sent) {
            const QJsonObject object = QJsonDocument::fromJson(lines.first()).object();
            QCOMPARE(object.keys(), (QStringList{"ids", "op"}));
            QCOMPARE(object["op"].toString(), "dismiss");
            QCOMPARE(object["ids"].toVariant().toStringList(), ids.first(sent));
        }
    }

    void workspace()
    {
        ModelFixture f;
        AppModel &m = f.model();
        installStatus(m, twoComputers());
        FakeWorkspace &workspace = *f.workspace;
        m.setMutating(true); // opening does not wait for commands
        m.openFiles("p1");
        m.openFiles("r1"); // not connected: nothing
        QCOMPARE(workspace.opened, QList<QUrl>{QUrl::fromLocalFile("/mnt/alpha/")});
        QCOMPARE(m.error(), std::nullopt);
        workspace.openResult = false;
        m.openFiles("p1");
        QCOMPARE(m.error(), "Finder could not open /mnt/alpha.");
        m.setConnected(false);
        m.openFiles("p1");
        QCOMPARE(workspace.opened.size(), 2);

        // Only the copied files that still exist are revealed; nothing when none is left.
        QTemporaryDir dir;
        QFile present(dir.filePath("copied.txt"));
        QVERIFY(present.open(QIODevice::WriteOnly));
        m.showCopied(CopyJob{.destinations = {dir.filePath("gone.txt"), present.fileName()}});
        m.showCopied(CopyJob{.destinations = {dir.filePath("gone.txt")}});
        QCOMPARE(workspace.revealed, QList<QStringList>{QStringList{present.fileName()}});
        QVERIFY(f.client->requests.isEmpty());
    }

    void isPrivacyRefusal_data()
    {
        QTest::addColumn<std::optional<QString>>("message");
        QTest::addColumn<bool>("refusal");
        QTest::newRow("missing") << std::optional<QString>() << false;
        QTest::newRow("system words") << std::optional<QString>("open: Operation not permitted") << true;
        QTest::newRow("os error anywhere") << std::optional<QString>("x (os error 1) y") << true;
        QTest::newRow("lower case") << std::optional<QString>("operation not permitted") << false;
        QTest::newRow("other os error") << std::optional<QString>("(os error 13)") << false;
    }

    void isPrivacyRefusal()
    {
        QFETCH(std::optional<QString>, message);
        QFETCH(bool, refusal);
        QCOMPARE(AppModel::isPrivacyRefusal(message), refusal);
    }
};

QTEST_MAIN(TestModelCommands)
#include "tst_model_commands.moc"

#include "standin_model.h"

#include "platform/alerts.h"
#include "platform/workspace.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

const QString alpha = QStringLiteral("p1");

QJsonObject twoComputers(const QStringList &capabilities = {})
{
    return wire::status(QJsonArray{offeringPeer(alpha, QStringLiteral("Alpha"), true, QStringLiteral("/mnt/alpha"), false)}, 0,
                        capabilities, QJsonArray{wire::remembered(QStringLiteral("r1"), QStringLiteral("Remembered"))});
}

QByteArray line(const char *text) { return QByteArray(text); }

} // namespace

class TestModelCommands : public QObject {
    Q_OBJECT

private slots:
    void refusedWhileNotReady_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("not connected") << QStringLiteral("disconnected");
        QTest::newRow("control busy") << QStringLiteral("busy");
        QTest::newRow("demo") << QStringLiteral("demo");
        QTest::newRow("command in flight") << QStringLiteral("mutating");
    }

    void refusedWhileNotReady()
    {
        QFETCH(QString, situation);
        QJsonObject status = twoComputers();
        if (situation == QLatin1String("busy"))
            status[QStringLiteral("control_busy")] = true;
        StandinModel s(status);
        QVERIFY(s.started);
        AppModel &m = s.model();
        m.setDisconnected({{QStringLiteral("p2"), QStringLiteral("Gamma")}});
        if (situation == QLatin1String("disconnected"))
            m.setConnected(false);
        if (situation == QLatin1String("demo"))
            m.setDemo(true);
        if (situation == QLatin1String("mutating"))
            m.setMutating(true);
        const AppModel::Disconnected before = m.disconnected();

        m.run(Command{.op = QStringLiteral("disconnect"), .peer = alpha});
        m.run(Command{.op = QStringLiteral("connect"), .peer = QStringLiteral("p2")});
        m.dismiss({QStringLiteral("t1")});

        QCOMPARE(m.mutating(), situation == QLatin1String("mutating"));
        QCOMPARE(m.disconnected(), before);
        QCOMPARE(m.error(), std::nullopt);
        QVERIFY(s.commandsAfterAWhile().isEmpty());
        QVERIFY(s.standin.recorded().isEmpty());
    }

    void disconnectRemembersTheName()
    {
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        AppModel &m = s.model();
        m.run(Command{.op = QStringLiteral("disconnect"), .peer = alpha});
        QVERIFY(m.mutating());
        QCOMPARE(m.disconnected().value(alpha), QStringLiteral("Alpha"));
        QVERIFY(s.settle());
        QCOMPARE(s.commands(), QList<QByteArray>{line(R"({"op":"disconnect","peer":"p1"})")});
    }

    void disconnectOfAnUnknownComputerIsSentButNotRecorded()
    {
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        AppModel &m = s.model();
        m.run(Command{.op = QStringLiteral("disconnect"), .peer = QStringLiteral("ghost")});
        QVERIFY(m.disconnected().isEmpty());
        QVERIFY(s.settle());
        QCOMPARE(s.commands(), QList<QByteArray>{line(R"({"op":"disconnect","peer":"ghost"})")});
        QVERIFY(m.disconnected().isEmpty());
    }

    void connectForgetsTheDisconnection()
    {
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        AppModel &m = s.model();
        m.setDisconnected({{QStringLiteral("p2"), QStringLiteral("Gamma")}, {QStringLiteral("p3"), QStringLiteral("Delta")}});
        m.run(Command{.op = QStringLiteral("connect"), .peer = QStringLiteral("p2")});
        QCOMPARE(m.disconnected(), (AppModel::Disconnected{{QStringLiteral("p3"), QStringLiteral("Delta")}}));
        QVERIFY(s.settle());
        QCOMPARE(s.commands(), QList<QByteArray>{line(R"({"op":"connect","peer":"p2"})")});
    }

    void twoQuickCommandsSendOne()
    {
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        AppModel &m = s.model();
        m.run(Command{.op = QStringLiteral("eject"), .peer = alpha});
        m.run(Command{.op = QStringLiteral("eject"), .peer = alpha});
        QVERIFY(s.settle());
        QCOMPARE(s.commandsAfterAWhile(), QList<QByteArray>{line(R"({"op":"eject","peer":"p1"})")});
    }

    void aFailedCommandSetsTheErrorRefreshesAndEnds()
    {
        QJsonObject script{{QStringLiteral("ops"),
                            QJsonObject{{QStringLiteral("mount"),
                                         QJsonObject{{QStringLiteral("delay"), 0.2},
                                                     {QStringLiteral("reply"),
                                                      QJsonObject{{QStringLiteral("ok"), false},
                                                                  {QStringLiteral("error"), QStringLiteral("The share is gone.")}}}}}}}};
        StandinModel s(twoComputers(), script);
        QVERIFY(s.started);
        AppModel &m = s.model();
        m.run(Command{.op = QStringLiteral("mount"), .peer = alpha});
        QVERIFY(m.mutating());
        QVERIFY(s.settle());
        QCOMPARE(m.error(), std::optional<QString>(QStringLiteral("The share is gone.")));
        QCOMPARE(s.commands(), QList<QByteArray>{line(R"({"op":"mount","peer":"p1"})")});
        // The refresh after the command asked for the status again.
        const QStringList ops = s.ops();
        QVERIFY2(ops.lastIndexOf(QStringLiteral("status")) > ops.indexOf(QStringLiteral("mount")), qPrintable(ops.join(u',')));
    }

    void aCommandWithoutServiceSetsTheError()
    {
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        s.standin.stop();
        AppModel &m = s.model();
        m.run(Command{.op = QStringLiteral("eject"), .peer = alpha});
        QVERIFY(s.settle());
        QVERIFY(m.error().has_value());
        QVERIFY(!m.error()->isEmpty());
    }

    void choose_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<std::optional<QString>>("path");
        QTest::addColumn<std::optional<QStringList>>("paths");
        QTest::addColumn<std::optional<QString>>("code");
        QTest::addColumn<QByteArray>("expected");

        const QStringList multi{QStringLiteral("multi_drive")};
        const std::optional<QString> root = QStringLiteral("/");
        const std::optional<QStringList> two = QStringList{QStringLiteral("/"), QStringLiteral("/media/usb")};
        QTest::newRow("drive, one path, multi_drive")
            << multi << QStringLiteral("drive") << root << std::optional<QStringList>() << std::optional<QString>()
            << line(R"({"op":"choose","peer":"p1","mode":"drive","path":"/","read_only":false,"remember":true,"paths":["/"]})");
        QTest::newRow("drive, two paths, multi_drive")
            << multi << QStringLiteral("drive") << root << two << std::optional<QString>(QStringLiteral("123456"))
            << line(R"({"op":"choose","peer":"p1","mode":"drive","path":"/","read_only":false,"remember":true,"pairing_code":"123456","paths":["/","/media/usb"]})");
        QTest::newRow("drive, no path, multi_drive")
            << multi << QStringLiteral("drive") << std::optional<QString>() << std::optional<QStringList>()
            << std::optional<QString>()
            << line(R"({"op":"choose","peer":"p1","mode":"drive","read_only":false,"remember":true})");
        QTest::newRow("drive, two paths, no capability")
            << QStringList{} << QStringLiteral("drive") << root << two << std::optional<QString>()
            << line(R"({"op":"choose","peer":"p1","mode":"drive","path":"/","read_only":false,"remember":true})");
        QTest::newRow("folder never sends paths")
            << multi << QStringLiteral("folder") << std::optional<QString>(QStringLiteral("/home/me/Shared")) << two
            << std::optional<QString>()
            << line(R"({"op":"choose","peer":"p1","mode":"folder","path":"/home/me/Shared","read_only":false,"remember":true})");
        QTest::newRow("Drive in another case is not a drive")
            << multi << QStringLiteral("Drive") << root << two << std::optional<QString>()
            << line(R"({"op":"choose","peer":"p1","mode":"Drive","path":"/","read_only":false,"remember":true})");
    }

    void choose()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, mode);
        QFETCH(std::optional<QString>, path);
        QFETCH(std::optional<QStringList>, paths);
        QFETCH(std::optional<QString>, code);
        QFETCH(QByteArray, expected);
        StandinModel s(twoComputers(capabilities));
        QVERIFY(s.started);
        s.model().choose(alpha, mode, path, paths, false, true, code);
        QVERIFY(s.settle());
        QCOMPARE(s.commands(), QList<QByteArray>{expected});
    }

    void chooseSendsReadOnlyAndRemember()
    {
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        s.model().choose(alpha, QStringLiteral("receive"), std::nullopt, std::nullopt, true, false, std::nullopt);
        QVERIFY(s.settle());
        QCOMPARE(s.commands(),
                 QList<QByteArray>{line(R"({"op":"choose","peer":"p1","mode":"receive","read_only":true,"remember":false})")});
    }

    void dismissKeepsTheFirst256()
    {
        StandinModel s(twoComputers({QStringLiteral("dismiss")}));
        QVERIFY(s.started);
        QVERIFY(s.model().canDismiss());
        QStringList ids;
        for (int i = 0; i < 300; ++i)
            ids << QStringLiteral("t%1").arg(i);
        s.model().dismiss(ids);
        QVERIFY(s.settle());
        const QList<QByteArray> sent = s.commands();
        QCOMPARE(sent.size(), 1);
        const QJsonObject object = QJsonDocument::fromJson(sent.first()).object();
        QCOMPARE(object.keys(), (QStringList{QStringLiteral("ids"), QStringLiteral("op")}));
        QCOMPARE(object.value(QStringLiteral("op")).toString(), QStringLiteral("dismiss"));
        QCOMPARE(object.value(QStringLiteral("ids")).toVariant().toStringList(), ids.first(256));
    }

    void dismissSendsNothing_data()
    {
        QTest::addColumn<bool>("capability");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("empty");
        QTest::newRow("empty list") << true << true << true;
        QTest::newRow("no capability") << false << true << false;
        QTest::newRow("not connected") << true << false << false;
    }

    void dismissSendsNothing()
    {
        QFETCH(bool, capability);
        QFETCH(bool, connected);
        QFETCH(bool, empty);
        StandinModel s(twoComputers(capability ? QStringList{QStringLiteral("dismiss")} : QStringList{}));
        QVERIFY(s.started);
        s.model().setConnected(connected);
        QCOMPARE(s.model().canDismiss(), capability && connected);
        s.model().dismiss(empty ? QStringList{} : QStringList{QStringLiteral("t1")});
        QVERIFY(!s.model().mutating());
        QVERIFY(s.commandsAfterAWhile().isEmpty());
    }

    void dismissOfExactly256()
    {
        StandinModel s(twoComputers({QStringLiteral("dismiss")}));
        QVERIFY(s.started);
        QStringList ids;
        for (int i = 0; i < 256; ++i)
            ids << QString::number(i);
        s.model().dismiss(ids);
        QVERIFY(s.settle());
        QCOMPARE(QJsonDocument::fromJson(s.commands().value(0)).object().value(QStringLiteral("ids")).toArray().size(), 256);
    }

    void forgetCancelledSendsNothing()
    {
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        s.fixture.alerts->answer = 1;
        s.model().forget(QStringLiteral("nobody"));
        QCOMPARE(s.fixture.alerts->shown.size(), 1);
        const Alert &alert = s.fixture.alerts->shown.first();
        QCOMPARE(alert.message, QStringLiteral("Forget Computer?"));
        QCOMPARE(alert.informative, QStringLiteral("Its saved sharing choice will be removed and sharing will stop. "
                                                   "You’ll confirm the computer again next time."));
        QCOMPARE(alert.buttons, (QStringList{QStringLiteral("Forget"), QStringLiteral("Cancel")}));
        QVERIFY(!s.model().mutating());
        QVERIFY(s.commandsAfterAWhile().isEmpty());
    }

    void forgetConfirmed_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("connected") << alpha << QStringLiteral("Forget Alpha?") << line(R"({"op":"forget","peer":"p1"})");
        QTest::newRow("remembered") << QStringLiteral("r1") << QStringLiteral("Forget Remembered?")
                                    << line(R"({"op":"forget","peer":"r1"})");
    }

    void forgetConfirmed()
    {
        QFETCH(QString, id);
        QFETCH(QString, message);
        QFETCH(QByteArray, expected);
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        s.fixture.alerts->answer = 0;
        s.model().forget(id);
        QCOMPARE(s.fixture.alerts->shown.value(0).message, message);
        QVERIFY(s.settle());
        QCOMPARE(s.commands(), QList<QByteArray>{expected});
    }

    void forgetWhileBusyAsksNothing()
    {
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        s.model().setMutating(true);
        s.model().forget(alpha);
        QVERIFY(s.fixture.alerts->shown.isEmpty());
    }

    void resolveCopy()
    {
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        s.model().resolveCopy(QStringLiteral("c9"), QStringLiteral("skip_all"));
        QVERIFY(s.settle());
        QCOMPARE(s.commands(), QList<QByteArray>{line(R"({"op":"resolve_copy","id":"c9","decision":"skip_all"})")});
    }

    void openFilesOpensTheMountedShare()
    {
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        s.model().openFiles(alpha);
        QCOMPARE(s.fixture.workspace->opened, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/mnt/alpha/"))});
        QCOMPARE(s.model().error(), std::nullopt);
        s.model().openFiles(QStringLiteral("r1")); // not connected: nothing
        QCOMPARE(s.fixture.workspace->opened.size(), 1);
        QVERIFY(s.commandsAfterAWhile(50).isEmpty());
    }

    void openFilesReportsARefusal()
    {
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        s.fixture.workspace->openResult = false;
        s.model().setMutating(true); // opening does not wait for commands
        s.model().openFiles(alpha);
        QCOMPARE(s.model().error(), std::optional<QString>(QStringLiteral("Finder could not open /mnt/alpha.")));
    }

    void openFilesWhileNotConnectedDoesNothing()
    {
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        s.model().setConnected(false);
        s.model().openFiles(alpha);
        QVERIFY(s.fixture.workspace->opened.isEmpty());
    }

    void showCopiedRevealsWhatExists()
    {
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        QTemporaryDir dir;
        const QString present = dir.filePath(QStringLiteral("copied.txt"));
        QFile file(present);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        CopyJob job;
        job.destinations = {dir.filePath(QStringLiteral("gone.txt")), present};
        s.model().showCopied(job);
        QCOMPARE(s.fixture.workspace->revealed, QList<QStringList>{QStringList{present}});

        job.destinations = {dir.filePath(QStringLiteral("gone.txt"))};
        s.model().showCopied(job);
        QCOMPARE(s.fixture.workspace->revealed.size(), 1);
    }

    void isPrivacyRefusal_data()
    {
        QTest::addColumn<std::optional<QString>>("message");
        QTest::addColumn<bool>("refusal");
        QTest::newRow("missing") << std::optional<QString>() << false;
        QTest::newRow("system words") << std::optional<QString>(QStringLiteral("open: Operation not permitted")) << true;
        QTest::newRow("os error anywhere") << std::optional<QString>(QStringLiteral("x (os error 1) y")) << true;
        QTest::newRow("lower case") << std::optional<QString>(QStringLiteral("operation not permitted")) << false;
        QTest::newRow("other os error") << std::optional<QString>(QStringLiteral("(os error 13)")) << false;
        QTest::newRow("empty") << std::optional<QString>(QString()) << false;
    }

    void isPrivacyRefusal()
    {
        QFETCH(std::optional<QString>, message);
        QFETCH(bool, refusal);
        QCOMPARE(AppModel::isPrivacyRefusal(message), refusal);
    }

    void openPrivacySettings()
    {
        StandinModel s(twoComputers());
        QVERIFY(s.started);
        s.model().openPrivacySettings();
        QCOMPARE(s.fixture.workspace->settings, QList<SettingsPane>{SettingsPane::filesAndFolders});
        QCOMPARE(s.model().error(), std::nullopt);
    }
};

QTEST_MAIN(TestModelCommands)
#include "tst_model_commands.moc"

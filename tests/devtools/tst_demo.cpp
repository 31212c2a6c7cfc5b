#include "../model/standin_model.h"

#include "devtools/demo.h"
#include "views/computer_menu.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

// One computer: its name, then what it asks and offers, e.g. "Studio Mac[choose none share]".
QString describe(const Peer &p)
{
    QStringList facts;
    if (p.choice_required)
        facts << "choose";
    facts << p.sharing.mode + (p.sharing.path() ? ":" + *p.sharing.path() : QString());
    if (p.remote_receive)
        facts << "receiving";
    if (p.remote_share)
        facts << p.remote_share->label;
    if (p.mount)
        facts << *p.mount;
    return p.name + "[" + facts.join(' ') + "]";
}

QString describe(const RememberedPeer &r)
{
    return r.name + "[" + r.share.mode + (r.share.readOnly() ? " read-only" : "") + "]";
}

template<class T>
QString describeAll(const QList<T> &list)
{
    QStringList parts;
    for (const T &item : list)
        parts << describe(item);
    return parts.join(", ");
}

} // namespace

class TestDemo : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(Demo::states(), (QStringList{"choose", "connected", "folder", "main", "empty", "receive", "sending",
                                              "copying", "peer-menu"}));
        QCOMPARE(Demo::peerID(), QString(64, 'a'));
    }

    // Every state decodes through the service's own decoder into what it shows.
    void states_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("mainWindow");
        QTest::addColumn<QString>("peers");
        QTest::addColumn<QString>("remembered");
        const QString folder = "folder:" + QDir::homePath() + "/Projects";
        const QString mounted = "Projects /Volumes/Windows Desktop]";
        QTest::newRow("choose") << "choose" << false << "Windows Desktop[choose none Projects]" << "Windows Desktop[none]";
        QTest::newRow("connected") << "connected" << false << "Windows Desktop[drive:/ " + mounted << "Windows Desktop[drive]";
        QTest::newRow("folder") << "folder" << false << "Windows Desktop[" + folder + " " + mounted << "Windows Desktop[folder]";
        QTest::newRow("main") << "main" << true << "Studio Mac[choose none Projects], Windows Desktop[drive:/ " + mounted
                              << "Windows Desktop[drive], Old ThinkPad[folder read-only]";
        QTest::newRow("empty") << "empty" << true << "" << "";
        QTest::newRow("receive") << "receive" << false << "Windows Desktop[receive receiving]" << "";
        QTest::newRow("sending") << "sending" << false << "Windows Desktop[receive receiving]" << "";
        QTest::newRow("copying") << "copying" << false << "Windows Desktop[drive:/ " + mounted << "Windows Desktop[drive]";
        QTest::newRow("peer-menu") << "peer-menu" << false << "Windows Desktop[drive:/ " + mounted << "Windows Desktop[drive]";
        QTest::newRow("unknown name") << "--background" << false << "Windows Desktop[choose none Projects]" << "";
    }

    void states()
    {
        QFETCH(QString, state);
        QFETCH(bool, mainWindow);
        QFETCH(QString, peers);
        QFETCH(QString, remembered);
        const ServiceStatus status = Demo::status(state);
        QCOMPARE(Demo::isMainWindow(state), mainWindow);
        QCOMPARE(describeAll(status.peers), peers);
        QCOMPARE(describeAll(status.remembered_computers), remembered);
        QCOMPARE(status.computer_id, QString(64, 'b'));
        QCOMPARE(status.name, "Mac");
        QCOMPARE(status.capabilities, (QStringList{"receive_transfer", "fast_copy"}));
        QCOMPARE(status.transfers.size(), state == "sending" ? 1 : 0);
        QCOMPARE(status.copies.size(), state == "copying" ? 1 : 0);
        for (const Peer &p : status.peers) {
            QCOMPARE(p.id, QString(64, p.name == "Studio Mac" ? 'c' : 'a'));
            QCOMPARE(p.interface_index, std::uint32_t(4294967295u));
            QCOMPARE(p.link_speed, (LinkSpeed{20'900'000'000, 20'400'000'000}));
            QVERIFY(QRegularExpression("^[0-9a-f]{12}$").match(p.pairing_code).hasMatch());
        }
        if (state == "main")
            QCOMPARE(status.remembered_computers.last().id, QString(64, 'd'));
        // The sending and the copy are read through the activity list (views_activity_banner).
    }

    // The demo status is installed as a connected service's, and from then on the
    // menu's commands, the choice and the cancel reach no service.
    void showDemoSendsNothing()
    {
        StandinModel s(wire::status({offeringPeer("p1", "Alpha", false, QString("/mnt/alpha"), false)}));
        QVERIFY(s.started);
        AppModel &m = s.model();
        m.setServiceError(QString("unreachable"));
        m.setConnected(false);
        int stateChanges = 0;
        m.stateChanged = [&stateChanges] { ++stateChanges; };
        QSignalSpy changes(&m, &AppModel::changed);

        m.showDemo(Demo::status("connected"));
        QVERIFY(m.demo());
        QVERIFY(m.connected() && !m.starting() && !m.busy());
        QCOMPARE(m.serviceError(), std::nullopt);
        QCOMPARE(stateChanges, 1);
        QVERIFY(changes.size() >= 4);
        QCOMPARE(m.peers().size(), 1);

        for (ComputerMenuAction action : {ComputerMenuAction::eject, ComputerMenuAction::disconnect,
                                          ComputerMenuAction::forget, ComputerMenuAction::showAgain})
            performComputerMenuAction(m, Demo::peerID(), action);
        m.choose(Demo::peerID(), "none", std::nullopt, std::nullopt, false, false, std::nullopt);
        m.run(Command{.op = "cancel_copy", .id = "democopy"});
        QVERIFY(!m.mutating());
        QVERIFY(m.disconnected().isEmpty());
        QVERIFY(s.sentAfterAWhile().isEmpty());
        QCOMPARE(m.status()->peers.first().sharing.mode, "drive");
    }
};

QTEST_MAIN(TestDemo)
#include "tst_demo.moc"

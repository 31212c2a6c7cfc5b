#include "model_fixture.h"
#include "../views/table.h"

#include "devtools/demo.h"
#include "views/peer_menu.h"

#include <QDir>
#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

// Each computer as "Name[what it asks and offers]", e.g. "Studio Mac[choose none Projects]".
QString describe(const QList<Peer> &peers, const QList<RememberedPeer> &remembered)
{
    QStringList parts;
    for (const Peer &p : peers) {
        QStringList facts{p.choice_required ? "choose" : ""};
        facts << p.sharing.mode + (p.sharing.path() ? ":" + *p.sharing.path() : QString())
              << (p.remote_receive ? "receiving" : "") << (p.remote_share ? p.remote_share->label : "") << p.mount.value_or("");
        facts.removeAll({});
        parts << p.name + "[" + facts.join(' ') + "]";
    }
    for (const RememberedPeer &r : remembered)
        parts << "~" + r.name + "[" + r.share.mode + (r.share.readOnly() ? " read-only" : "") + "]";
    return parts.join(", ");
}

} // namespace

class TestDemo : public QObject {
    Q_OBJECT

private slots:
    // Every state decodes through the service's own decoder into what it shows
    // ("~" before a remembered computer); an unknown name gives the first state.
    void states_data()
    {
        columns<QString, QString>("state", "expected"); // main window?|transfers, copies|computers
        QCOMPARE(Demo::states(), (QStringList{"choose", "connected", "folder", "main", "empty", "receive", "sending", "copying", "peer-menu"}));
        const QString mounted = " Projects /Volumes/Windows Desktop]", drive = "Windows Desktop[drive:/" + mounted + ", ~Windows Desktop[drive]";
        QTest::newRow("choose") << "choose" << "0|0 0|Windows Desktop[choose none Projects], ~Windows Desktop[none]";
        QTest::newRow("connected") << "connected" << "0|0 0|" + drive;
        QTest::newRow("folder") << "folder" << "0|0 0|Windows Desktop[folder:" + QDir::homePath() + "/Projects" + mounted + ", ~Windows Desktop[folder]";
        QTest::newRow("main") << "main" << "1|0 0|Studio Mac[choose none Projects], Windows Desktop[drive:/" + mounted
                + ", ~Windows Desktop[drive], ~Old ThinkPad[folder read-only]";
        QTest::newRow("empty") << "empty" << "1|0 0|";
        QTest::newRow("receive") << "receive" << "0|0 0|Windows Desktop[receive receiving]";
        QTest::newRow("sending") << "sending" << "0|1 0|Windows Desktop[receive receiving]";
        QTest::newRow("copying") << "copying" << "0|0 1|" + drive;
        QTest::newRow("peer-menu") << "peer-menu" << "0|0 0|" + drive;
        QTest::newRow("unknown name") << "--background" << "0|0 0|Windows Desktop[choose none Projects]";
    }

    void states()
    {
        auto [state, expected] = fetch<QString, QString>("state", "expected");
        const ServiceStatus s = Demo::status(state);
        QCOMPARE(QString("%1|%2 %3|").arg(Demo::isMainWindow(state)).arg(s.transfers.size()).arg(s.copies.size())
                     + describe(s.peers, s.remembered_computers), expected);
    }

    // The demo status stands in for a connected service's: the menu's commands, the
    // choice and the cancel reach no service and change nothing.
    void showDemoSendsNothing()
    {
        StandinModel s(status({.peers = {peer("p1").named("Alpha").mounted("/mnt/alpha").offering(false)}}));
        QVERIFY(s.started);
        AppModel &m = s.model();
        m.setServiceError(QString("unreachable"));
        m.setConnected(false);
        m.showDemo(Demo::status("connected"));
        QVERIFY(m.demo() && m.connected() && !m.serviceError());
        for (PeerMenuAction action :
             {PeerMenuAction::eject, PeerMenuAction::disconnect, PeerMenuAction::forget, PeerMenuAction::showAgain})
            PeerMenu::perform(m, Demo::peerID(), action);
        m.choose(Demo::peerID(), "none", std::nullopt, std::nullopt, false, false, std::nullopt);
        m.run(Command{.op = "cancel_copy", .id = "democopy"});
        QVERIFY(!m.mutating() && m.disconnected().isEmpty());
        QVERIFY(s.sentAfterAWhile().isEmpty());
        QCOMPARE(m.status()->peers.first().sharing.mode, "drive");
    }
};

QTEST_MAIN(TestDemo)
#include "tst_demo.moc"

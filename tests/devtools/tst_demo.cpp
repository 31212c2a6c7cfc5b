#include "model_fixture.h"

#include "devtools/demo.h"
#include "views/peer_menu.h"

#include <QDir>
#include <QTest>

using namespace cv;
using namespace cv::test;

class TestDemo : public QObject {
    Q_OBJECT

private slots:
    // Every state decodes into what it shows: the main window unless exactly one
    // computer is connected; an unknown name gives the computer that asks for a choice.
    void states()
    {
        for (const QString &state : Demo::states()) {
            const ServiceStatus s = Demo::status(state);
            QVERIFY2(Demo::isMainWindow(state) == (s.peers.size() != 1), qPrintable(state));
        }
        QCOMPARE(Demo::status("folder").peers.first().sharing.path(), QDir::homePath() + "/Projects");
        QVERIFY(Demo::status("--background").peers.first().choice_required);
        QVERIFY(Demo::status("--background").remembered_computers.isEmpty());
    }

    // The demo status stands in for a connected service's: a choice reaches no
    // service and changes nothing (the model's guard refuses every command).
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
        QVERIFY(!m.mutating() && m.disconnected().isEmpty() && s.sentAfterAWhile().isEmpty());
        QCOMPARE(m.status()->peers.first().sharing.mode, "drive");
    }
};

QTEST_MAIN(TestDemo)
#include "tst_demo.moc"

#include "follow_helpers.h"

#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

ServiceStatus withPeers(const QStringList &ids)
{
    ServiceStatus status;
    status.api_version = 1;
    for (const QString &id : ids)
        status.peers.append(Peer{.id = id, .name = id});
    return status;
}

} // namespace

class ProbesScheduleTest : public QObject {
    Q_OBJECT

private slots:
    void cableNotProbedWhileConnected_data()
    {
        QTest::addColumn<bool>("plugged");
        QTest::newRow("unplugged") << false;
        QTest::newRow("plugged") << true;
    }

    void cableNotProbedWhileConnected()
    {
        QFETCH(bool, plugged);
        ModelFixture f;
        AppModel &m = f.model();
        m.setStatus(withPeers({"p1"}));
        for (int i = 0; i < 5; ++i) {
            run(AppModelAccess::refreshCable(m));
            f.clock.advance(4);
        }
        QCOMPARE(f.cable->pluggedProbes(), 0);
        QCOMPARE(AppModelAccess::cableChecked(m), AppModel::distantPast());

        // After the user disconnected a computer it runs at the next pass; only an
        // unplugged cable forgets the disconnection.
        m.setDisconnected({{"p2", "Laptop"}});
        f.cable->setPlugged(plugged);
        m.setCablePlugged(!plugged);
        run(AppModelAccess::refreshCable(m));
        QCOMPARE(f.cable->pluggedProbes(), 1);
        QCOMPARE(m.cablePlugged(), plugged);
        QCOMPARE(m.disconnected().isEmpty(), !plugged);
    }

    void cableProbesMoreThanThreeSecondsApart()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.cable->setPlugged(true);
        // The polling pace: one call every 750 ms.
        QList<double> probedAt;
        const double start = f.clock.uptime();
        for (int pass = 0; pass < 14; ++pass) {
            const int before = f.cable->pluggedProbes();
            run(AppModelAccess::refreshCable(m));
            if (f.cable->pluggedProbes() > before)
                probedAt << f.clock.uptime() - start;
            f.clock.advance(0.75);
        }
        // Exactly 3 s after a probe is not yet enough.
        QCOMPARE(probedAt, (QList<double>{0.0, 3.75, 7.5}));
        QVERIFY(m.cablePlugged());
        QCOMPARE(AppModelAccess::cableChecked(m), f.clock.now().addMSecs(-3000));
    }

    void clockSetBackwards()
    {
        ModelFixture f;
        AppModel &m = f.model();
        // The last probe seems to lie in the future: nothing until the wall clock has
        // passed it by the throttle.
        AppModelAccess::cableChecked(m) = f.clock.now().addSecs(10);
        run(AppModelAccess::refreshCable(m));
        QCOMPARE(f.cable->pluggedProbes(), 0);
        f.clock.advance(13.5);
        run(AppModelAccess::refreshCable(m));
        QCOMPARE(f.cable->pluggedProbes(), 1);
    }

    void linkProbedOnlyWithAComputer()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.cable->setKind(QStringLiteral("USB4"));
        m.setLinkKind(QStringLiteral("Thunderbolt"));
        run(AppModelAccess::refreshLink(m));
        QCOMPARE(f.cable->kindProbes(), 0);
        QCOMPARE(m.linkKind(), std::optional<QString>(QStringLiteral("Thunderbolt")));

        m.setStatus(withPeers({"p1"}));
        run(AppModelAccess::refreshLink(m));
        QCOMPARE(f.cable->kindProbes(), 1);
        QCOMPARE(m.linkKind(), std::optional<QString>(QStringLiteral("USB4")));
        QCOMPARE(AppModelAccess::linkChecked(m), f.clock.now());

        // At most every 30 s, strictly.
        f.clock.advance(30);
        run(AppModelAccess::refreshLink(m));
        QCOMPARE(f.cable->kindProbes(), 1);
        f.clock.advance(0.001);
        f.cable->setKind(std::nullopt);
        run(AppModelAccess::refreshLink(m));
        QCOMPARE(f.cable->kindProbes(), 2);
        // None replaces the earlier kind.
        QCOMPARE(m.linkKind(), std::nullopt);

        // Without a computer the last kind stays.
        m.setStatus(withPeers({}));
        m.setLinkKind(QStringLiteral("USB4"));
        f.clock.advance(31);
        run(AppModelAccess::refreshLink(m));
        QCOMPARE(f.cable->kindProbes(), 2);
        QCOMPARE(m.linkKind(), std::optional<QString>(QStringLiteral("USB4")));
    }
};

QTEST_GUILESS_MAIN(ProbesScheduleTest)
#include "tst_probes_schedule.moc"

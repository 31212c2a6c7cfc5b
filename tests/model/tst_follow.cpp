// How the model follows the service: refreshes, the event cursor, the choice window,
// and the cable and link probes of the polling passes.

#include "model_fixture.h"

#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

using Cursor = std::optional<std::uint64_t>;
using A = AppModelAccess;

QJsonObject delivered(const QString &path, std::uint64_t sequence) { return serviceEvent("delivered", "p1", {{"path", path}}, sequence); }

QList<qint64> sinces(const FakeServiceClient &client)
{
    QList<qint64> list;
    for (const QJsonObject &request : client.sent("events"))
        list << request.value("since").toInteger();
    return list;
}

// The cursor replayed (-1: none), the status's event number and the events batch;
// the cursor after the status alone and after a refresh, and the paths received.
struct CursorRow { qint64 replay, statusSequence; QJsonObject batch; qint64 afterStatus, cursor; QStringList received; };

} // namespace

Q_DECLARE_METATYPE(CursorRow)

class FollowTest : public QObject {
    Q_OBJECT

private slots:
    void cursor_data()
    {
        QTest::addColumn<CursorRow>("row");
        // No replay: the first status sets the cursor; events are asked for only then.
        QTest::newRow("no replay") << CursorRow{-1, 100, events({}, 100), 100, 100, {}};
        // A status never moves a replayed cursor up; the events after it are handled in order.
        QTest::newRow("replay below") << CursorRow{42, 100, events({delivered("/r/one", 43), delivered("/r/two", 44)}, 100), 42, 100, {"/r/one", "/r/two"}};
        QTest::newRow("service started over") << CursorRow{90, 5, events({}, 93), 5, 93, {}};
        QTest::newRow("resync batch skipped") << CursorRow{3, 60, events({delivered("/r/one", 4)}, 60, true), 3, 60, {}};
    }

    void cursor()
    {
        QFETCH(CursorRow, row);
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always("status", reply(status({.sequence = std::uint64_t(row.statusSequence)})));
        f.client->always("events", reply(row.batch));
        if (row.replay >= 0)
            m.replayEvents(std::uint64_t(row.replay));
        outcome(A::updateStatus(m, std::nullopt));
        QCOMPARE(A::cursor(m), Cursor(row.afterStatus));
        if (row.replay >= 0)
            m.replayEvents(std::uint64_t(row.replay));
        f.client->requests.clear();
        outcome(m.refresh());
        QCOMPARE(f.client->ops(), (QStringList{"events", "status"}));
        QCOMPARE(sinces(*f.client).first(), row.replay >= 0 ? row.replay : row.afterStatus);
        QCOMPARE(A::cursor(m), Cursor(row.cursor));
        QCOMPARE(A::pendingDeliveries(m).value("p1").paths, row.received);
        outcome(m.refresh());
        QCOMPARE(sinces(*f.client).last(), row.cursor);
    }

    // A failed refresh shows why, keeps the cursor and the events unhandled; the next
    // one asks for the same events again, and a computer that is back leaves the
    // disconnected list.
    void failedRefresh_data()
    {
        QTest::addColumn<bool>("childExited");
        QTest::addColumn<QString>("error");
        QTest::newRow("status unreachable") << false << FakeServiceClient::unscripted("status");
        QTest::newRow("own child exited") << true << "The background service exited (3). Open the service log for the underlying error.";
    }

    void failedRefresh()
    {
        QFETCH(bool, childExited);
        QFETCH(QString, error);
        ScopedEnv service("CV_MAC_SERVICE", "/bin/sh");
        ModelFixture f;
        AppModel &m = f.model();
        if (childExited) {
            f.host->start(true);
            f.launcher.launches.last().state->running = false;
            f.launcher.launches.last().state->status = 3;
        }
        m.setConnected(true);
        m.setDisconnected({{"p1", "Studio"}, {"p2", "Laptop"}});
        m.replayEvents(7);
        f.client->always("events", reply(events({delivered("/r/a", 8)}, 8)));
        outcome(m.refresh());
        QCOMPARE(A::cursor(m), Cursor(7));
        QVERIFY(A::pendingDeliveries(m).isEmpty() && !m.connected() && !A::refreshing(m));
        QCOMPARE(m.serviceError(), error);
        QCOMPARE(f.log, QStringList{"service unavailable: " + error});
        f.client->always("status", reply(status({.peers = {peer("p1")}, .sequence = 8})));
        outcome(m.refresh());
        QCOMPARE(sinces(*f.client), (QList<qint64>{7, 7}));
        QCOMPARE(A::pendingDeliveries(m).size(), 1);
        QVERIFY(m.connected() && !m.serviceError());
        QCOMPARE(m.disconnected(), (AppModel::Disconnected{{"p2", "Laptop"}}));
    }

    void choiceWindowOpensOncePerPairingCode()
    {
        ModelFixture f;
        AppModel &m = f.model();
        const QJsonObject a = peer("p1").choosing("111111"), b = peer("p1").choosing("222222"), chosen = peer("p1").with("pairing_code", "222222");
        const QJsonObject other = peer("p2").choosing("333333");
        for (const QJsonArray &peers : QList<QJsonArray>{{a}, {a}, {b}, {other}, {b, other}, {chosen, other}, {b, other}})
            f.client->queue("status", reply(status({.peers = peers})));
        f.client->always("events", reply(events({}, 0)));
        // Shown without a window to open: still remembered, not shown again later.
        outcome(m.refresh());
        QStringList shown;
        m.showPeer = [&shown](const QString &id) { shown << id; };
        for (int i = 0; i < 6; ++i)
            outcome(m.refresh());
        // Again after leaving and returning, or after no longer needing one.
        QCOMPARE(shown, (QStringList{"p1", "p2", "p1", "p1"}));
    }

    // The cable is probed only with nothing connected or a computer disconnected by
    // the user, more than 3 s apart; an unplugged cable forgets the disconnections.
    void cableProbes_data()
    {
        QTest::addColumn<QJsonArray>("peers");
        QTest::addColumn<bool>("disconnected");
        QTest::addColumn<bool>("plugged");
        QTest::addColumn<QList<double>>("probedAt"); // of passes every 0.75 s for 8 s
        QTest::newRow("nothing connected") << QJsonArray{} << false << true << QList<double>{0.0, 3.75, 7.5};
        QTest::newRow("connected") << QJsonArray{peer("p1")} << false << true << QList<double>{};
        QTest::newRow("user disconnected, unplugged") << QJsonArray{peer("p1")} << true << false << QList<double>{0.0};
    }

    void cableProbes()
    {
        QFETCH(QJsonArray, peers);
        QFETCH(bool, disconnected);
        QFETCH(bool, plugged);
        QFETCH(QList<double>, probedAt);
        ModelFixture f;
        AppModel &m = f.model();
        install(m, status({.peers = peers}));
        if (disconnected)
            m.setDisconnected({{"p2", "Laptop"}});
        f.cable->setPlugged(plugged);
        QList<double> probed;
        for (double at = 0; at < 8; at += 0.75) {
            const int before = f.cable->pluggedProbes();
            outcome(A::refreshCable(m));
            if (f.cable->pluggedProbes() > before)
                probed << at;
            f.clock.advance(0.75);
        }
        QCOMPARE(probed, probedAt);
        QCOMPARE(m.cablePlugged(), plugged && !probedAt.isEmpty());
        QCOMPARE(m.disconnected().isEmpty(), !disconnected || !plugged);
    }

    // The link kind is probed only with a computer connected, more than 30 s apart;
    // none replaces an earlier kind.
    void linkProbes()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.cable->setKind("USB4");
        outcome(A::refreshLink(m));
        QCOMPARE(f.cable->kindProbes(), 0);
        install(m, status({.peers = {peer("p1")}}));
        outcome(A::refreshLink(m));
        QCOMPARE(m.linkKind(), "USB4");
        f.clock.advance(30);
        f.cable->setKind(std::nullopt);
        outcome(A::refreshLink(m));
        QCOMPARE(f.cable->kindProbes(), 1);
        f.clock.advance(0.001);
        outcome(A::refreshLink(m));
        QCOMPARE(m.linkKind(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(FollowTest)
#include "tst_follow.moc"

// How the model follows the service: refreshes, the event cursor, events, and the
// cable and link probes of the polling passes.

#include "model_fixture.h"

#include <QTest>

#include <limits>

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

ServiceEvent deliveredEvent(const QString &peer, const QJsonObject &detail) { return decodedEvent(serviceEvent("delivered", peer, detail)); }

// The cursor replayed (-1: none), the status's event number and the events batch;
// the cursor after the status alone and after a refresh, and the paths received.
struct CursorRow { qint64 replay, statusSequence; QJsonObject batch; qint64 afterStatus, cursor; QStringList received; };

// The answer to "events", whether this run's own child exited; the requests sent
// and the error shown.
struct Failure { QByteArray events; bool childExited; QStringList ops; QString error; };

} // namespace

Q_DECLARE_METATYPE(CursorRow)
Q_DECLARE_METATYPE(Failure)

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
        const auto &[replay, statusSequence, batch, afterStatus, cursor, received] = row;
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always("status", reply(status({.sequence = std::uint64_t(statusSequence)})));
        f.client->always("events", reply(batch));
        if (replay >= 0)
            m.replayEvents(std::uint64_t(replay));
        outcome(A::updateStatus(m, std::nullopt));
        QCOMPARE(A::cursor(m), Cursor(afterStatus));
        if (replay >= 0)
            m.replayEvents(std::uint64_t(replay));
        f.client->requests.clear();
        outcome(m.refresh());
        QCOMPARE(f.client->ops(), (QStringList{"events", "status"}));
        QCOMPARE(sinces(*f.client).first(), replay >= 0 ? replay : afterStatus);
        QCOMPARE(A::cursor(m), Cursor(cursor));
        QCOMPARE(A::pendingDeliveries(m).value("p1").paths, received);
        // A refresh has no deadline; the next one asks for the events after the cursor.
        QCOMPARE(f.client->deadlines.last(), std::nullopt);
        outcome(m.refresh());
        QCOMPARE(sinces(*f.client).last(), cursor);
    }

    void largestSequences()
    {
        // Event numbers are unsigned 64-bit all the way.
        ModelFixture f;
        f.client->always("status", reply(status()).replace("\"event_sequence\":0", "\"event_sequence\":18446744073709551615"));
        f.client->always("events", reply(events({}, 0)).replace("\"sequence\":0", "\"sequence\":18446744073709551615"));
        outcome(f.model().refresh());
        outcome(f.model().refresh());
        QCOMPARE(f.client->requests.at(1), R"({"op":"events","since":18446744073709551615})");
    }

    // A failed refresh shows why, keeps the cursor and the events unhandled; the next
    // one asks for the same events again.
    void failedRefresh_data()
    {
        QTest::addColumn<Failure>("row");
        const QByteArray batch = reply(events({delivered("/r/a", 8)}, 8));
        QTest::newRow("status unreachable") << Failure{batch, false, {"events", "status"}, FakeServiceClient::unscripted("status")};
        QTest::newRow("own child exited") << Failure{batch, true, {"events", "status"}, "The background service exited (3). Open the service log for the underlying error."};
        QTest::newRow("events without result") << Failure{"{\"ok\":true,\"result\":null}\n", false, {"events"}, "The background service returned no result."};
    }

    void failedRefresh()
    {
        QFETCH(Failure, row);
        const auto &[events, childExited, ops, error] = row;
        ScopedEnv service("CV_MAC_SERVICE", "/bin/sh");
        ModelFixture f;
        AppModel &m = f.model();
        if (childExited) {
            f.host->start(true);
            f.launcher.launches.last().state->running = false;
            f.launcher.launches.last().state->status = 3;
        }
        int changes = 0;
        m.stateChanged = [&changes] { ++changes; };
        m.setConnected(true);
        m.replayEvents(7);
        f.client->always("events", events);
        if (!childExited && ops.size() == 1)
            f.client->always("status", reply(status({.sequence = 8})));
        outcome(m.refresh());
        QCOMPARE(f.client->ops(), ops);
        QCOMPARE(A::cursor(m), Cursor(7));
        QVERIFY(A::pendingDeliveries(m).isEmpty());
        QVERIFY(!m.connected() && !A::refreshing(m));
        QCOMPARE(m.serviceError(), error);
        QCOMPARE(changes, 1);
        QCOMPARE(f.log, QStringList{"service unavailable: " + error});
        f.client->always("events", reply(cv::test::events({delivered("/r/a", 8)}, 8)));
        f.client->always("status", reply(status({.sequence = 8})));
        outcome(m.refresh());
        QCOMPARE(sinces(*f.client), (QList<qint64>{7, 7}));
        QCOMPARE(A::pendingDeliveries(m).size(), 1);
        QVERIFY(m.connected() && !m.serviceError());
    }

    void otherApiVersionKeepsTheEarlierStatus()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.client->queue("status", reply(status({.sequence = 10})));
        outcome(m.refresh());
        f.client->always("status", reply(status({.peers = {peer("p1")}, .sequence = 3, .api = 2})));
        f.client->always("events", reply(events({}, 10)));
        outcome(m.refresh());
        QVERIFY(!m.connected());
        QCOMPARE(m.serviceError(), "This app requires local API version 1. Update the app and service together.");
        QVERIFY(m.status()->peers.isEmpty());
        QCOMPARE(A::cursor(m), Cursor(10));
    }

    void goodStatus()
    {
        ModelFixture f;
        AppModel &m = f.model();
        m.setServiceError("earlier");
        m.setDisconnected({{"p1", "Studio"}, {"p2", "Laptop"}});
        int changes = 0;
        m.stateChanged = [&changes] { ++changes; };
        f.client->always("status", reply(status({.peers = {peer("p1")}})));
        outcome(m.refresh());
        QVERIFY(m.connected() && !m.serviceError() && A::hasSeenService(m));
        QCOMPARE(changes, 1);
        // A computer that is back leaves the disconnected list.
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
        QCOMPARE(A::choiceShown(m), (QMap<QString, QString>{{"p1", "222222"}, {"p2", "333333"}}));
    }

    // A second refresh waits for the first, then makes a full one of its own; the
    // wait is not cut short by a cancelled polling task, but is by quitting.
    void secondRefreshWaits_data()
    {
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<bool>("quitting");
        QTest::addColumn<QStringList>("ops");
        QTest::newRow("waits") << false << false << QStringList{"status", "events", "status"};
        QTest::newRow("polling cancelled") << true << false << QStringList{"status", "events", "status"};
        // The waiting refresh returns at its next look, long before the first ends.
        QTest::newRow("quitting") << false << true << QStringList{"status"};
    }

    void secondRefreshWaits()
    {
        QFETCH(bool, cancelled);
        QFETCH(bool, quitting);
        QFETCH(QStringList, ops);
        ModelFixture f;
        AppModel &m = f.model();
        f.client->queue("status", reply(status({.sequence = 1})), 1.0);
        serveIdle(*f.client, 1);
        if (cancelled)
            A::pollingCancel(m).cancel();
        const double start = f.clock.uptime();
        double firstEnded = 0, secondEnded = 0;
        auto timed = [](QCoro::Task<> task, FakeClock &clock, double &end) -> QCoro::Task<> {
            co_await std::move(task);
            end = clock.uptime();
        };
        QCoro::Task<> first = timed(m.refresh(), f.clock, firstEnded);
        QCoro::Task<> second = timed(m.refresh(), f.clock, secondEnded);
        A::quitting(m) = quitting;
        outcome(std::move(second));
        outcome(std::move(first));
        QCOMPARE(f.client->ops(), ops);
        QCOMPARE(firstEnded - start, 1.0);
        QCOMPARE(secondEnded < firstEnded, quitting);
        QVERIFY(m.connected() && !A::refreshing(m));
        // Once quitting, a refresh sends nothing at all.
        A::quitting(m) = true;
        outcome(m.refresh());
        QCOMPARE(f.client->ops(), ops);
    }

    void deliveries_data()
    {
        QTest::addColumn<QList<QJsonObject>>("details"); // of "delivered" from p1, 1.5 s apart
        QTest::addColumn<quint64>("count");
        QTest::addColumn<QStringList>("paths");
        using D = QList<QJsonObject>;
        QTest::newRow("files absent counts one") << D{{{"path", "/r/a"}}} << 1ull << QStringList{"/r/a"};
        QTest::newRow("files zero") << D{{{"path", "/r/a"}, {"files", 0}}} << 0ull << QStringList{"/r/a"};
        QTest::newRow("counts add, paths in order") << D{{{"path", "/r/a"}, {"files", 2}}, {{"files", 0}}, {{"path", "/r/b"}}}
                                                    << 3ull << QStringList{"/r/a", "/r/b"};
        const qint64 big = std::numeric_limits<qint64>::max();
        QTest::newRow("sum saturates") << D{{{"files", big}}, {{"files", big}}, {{"files", 5}}}
                                       << std::numeric_limits<quint64>::max() << QStringList{};
    }

    void deliveries()
    {
        QFETCH(QList<QJsonObject>, details);
        QFETCH(quint64, count);
        QFETCH(QStringList, paths);
        ModelFixture f;
        AppModel &m = f.model();
        for (const QJsonObject &detail : details) {
            A::handle(m, deliveredEvent("p1", detail));
            f.clock.advance(1.5);
        }
        A::handle(m, deliveredEvent("p2", {{"path", "/r/c"}}));
        const auto batch = A::pendingDeliveries(m).value("p1");
        QCOMPARE(batch.count, count);
        QCOMPARE(batch.paths, paths);
        // Each event, even one of zero files, keeps the window open 2 s longer.
        QCOMPARE(batch.until, f.clock.now().addMSecs(500));
        QCOMPARE(A::pendingDeliveries(m).size(), 2);
        QVERIFY(!m.error());
    }

    void senderNamesAndFailures_data()
    {
        QTest::addColumn<QJsonObject>("event");
        QTest::addColumn<QString>("name"); // of a delivery batch for the event's computer
        QTest::addColumn<QString>("error");
        QTest::newRow("connected sender") << serviceEvent("delivered", "p1") << "Studio" << "";
        QTest::newRow("remembered sender") << serviceEvent("delivered", "r1") << "Laptop" << "";
        QTest::newRow("unknown sender") << serviceEvent("delivered", "p9") << "Computer" << "";
        QTest::newRow("failed without text") << serviceEvent("delivery_failed", "p1") << "" << "A delivery from Studio failed.";
        QTest::newRow("no computer, error") << serviceEvent("delivered", QString(), {{"error", "Lost."}, {"path", "/r/a"}}) << "" << "Lost.";
        QTest::newRow("no computer, no error") << serviceEvent("delivery_failed", QString()) << "" << "";
        QTest::newRow("other event with error") << serviceEvent("transfer_failed", "p1", {{"error", "Nope."}}) << "" << "";
    }

    void senderNamesAndFailures()
    {
        QFETCH(QJsonObject, event);
        QFETCH(QString, name);
        QFETCH(QString, error);
        ModelFixture f;
        AppModel &m = f.model();
        install(m, status({.peers = {peer("p1").named("Studio")}, .remembered = {remembered("r1").named("Laptop")}}));
        A::handle(m, decodedEvent(event));
        QCOMPARE(m.error(), error.isEmpty() ? std::nullopt : std::optional<QString>(error));
        QCOMPARE(A::pendingDeliveries(m).value(event.value("peer").toString()).name, name);
        QVERIFY(A::pendingReconnect(m).isEmpty());
    }

    void reconnectNoticeDue()
    {
        ModelFixture f;
        AppModel &m = f.model();
        const ServiceEvent applied = decodedEvent(serviceEvent("remembered_action_applied"));
        A::handle(m, applied);
        f.clock.advance(4);
        A::handle(m, applied);
        QCOMPARE(A::pendingReconnect(m), (QMap<QString, QDateTime>{{"p1", f.clock.now().addSecs(6)}}));
        QVERIFY(A::pendingDeliveries(m).isEmpty());
    }

    // The cable is probed only with nothing connected or a computer disconnected by
    // the user, more than 3 s apart (wall clock); an unplugged cable forgets the
    // disconnections.
    void cableProbes_data()
    {
        QTest::addColumn<QJsonArray>("peers");
        QTest::addColumn<bool>("disconnected");
        QTest::addColumn<bool>("plugged");
        QTest::addColumn<QList<double>>("probedAt"); // of passes every 0.75 s for 8 s
        QTest::newRow("nothing connected") << QJsonArray{} << false << true << QList<double>{0.0, 3.75, 7.5};
        QTest::newRow("connected") << QJsonArray{peer("p1")} << false << true << QList<double>{};
        QTest::newRow("user disconnected, unplugged") << QJsonArray{peer("p1")} << true << false << QList<double>{0.0};
        QTest::newRow("user disconnected, plugged") << QJsonArray{peer("p1")} << true << true << QList<double>{0.0, 3.75, 7.5};
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

    void cableClockSetBackwards()
    {
        ModelFixture f;
        AppModel &m = f.model();
        A::cableChecked(m) = f.clock.now().addSecs(10);
        outcome(A::refreshCable(m));
        f.clock.advance(13);
        outcome(A::refreshCable(m));
        QCOMPARE(f.cable->pluggedProbes(), 0);
        f.clock.advance(0.5);
        outcome(A::refreshCable(m));
        QCOMPARE(f.cable->pluggedProbes(), 1);
    }

    // The link kind is probed only with a computer connected, more than 30 s apart;
    // none replaces an earlier kind.
    void linkProbes()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.cable->setKind("USB4");
        m.setLinkKind("Thunderbolt");
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
        QCOMPARE(f.cable->kindProbes(), 2);
        QCOMPARE(m.linkKind(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(FollowTest)
#include "tst_follow.moc"

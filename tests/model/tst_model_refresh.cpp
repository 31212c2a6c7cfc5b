#include "follow_helpers.h"

#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

using Cursor = std::optional<std::uint64_t>;

QJsonObject delivered(const QString &path, std::uint64_t sequence)
{
    return serviceEvent(QStringLiteral("delivered"), QStringLiteral("p1"), {{QStringLiteral("path"), path}}, sequence);
}

QList<qint64> sinces(const FakeServiceClient &client)
{
    QList<qint64> list;
    for (const QJsonObject &request : client.sent(QStringLiteral("events")))
        list << request.value(QStringLiteral("since")).toInteger();
    return list;
}

} // namespace

class ModelRefreshTest : public QObject {
    Q_OBJECT

private slots:
    void cursor_data()
    {
        QTest::addColumn<qint64>("replay"); // -1: none
        QTest::addColumn<qint64>("statusSequence");
        QTest::addColumn<QJsonObject>("batch");
        QTest::addColumn<qint64>("afterStatus"); // the cursor after a status alone
        QTest::addColumn<QStringList>("firstOps");
        QTest::addColumn<qint64>("cursor");
        QTest::addColumn<QStringList>("received");
        // No replay: the first status sets the cursor, and only then are events asked for.
        QTest::newRow("no replay") << qint64(-1) << qint64(100) << wire::events({}, 100) << qint64(100)
                                   << QStringList{"status"} << qint64(100) << QStringList{};
        // A status never moves a replayed cursor up; the events after it are handled in order.
        QTest::newRow("events since 42, service at 100")
            << qint64(42) << qint64(100) << wire::events({delivered("/r/one", 43), delivered("/r/two", 44)}, 100)
            << qint64(42) << QStringList{"events", "status"} << qint64(100) << QStringList{"/r/one", "/r/two"};
        // A lower sequence lowers it; the batch's sequence then replaces it.
        QTest::newRow("lower sequence") << qint64(90) << qint64(5) << wire::events({}, 93) << qint64(5)
                                        << QStringList{"events", "status"} << qint64(93) << QStringList{};
        QTest::newRow("resync batch skipped")
            << qint64(3) << qint64(60) << wire::events({delivered("/r/one", 4)}, 60, true) << qint64(3)
            << QStringList{"events", "status"} << qint64(60) << QStringList{};
    }

    void cursor()
    {
        QFETCH(qint64, replay);
        QFETCH(qint64, statusSequence);
        QFETCH(QJsonObject, batch);
        QFETCH(qint64, afterStatus);
        QFETCH(QStringList, firstOps);
        QFETCH(qint64, cursor);
        QFETCH(QStringList, received);
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, std::uint64_t(statusSequence))));
        f.client->always(QStringLiteral("events"), wire::ok(batch));
        if (replay >= 0) {
            m.replayEvents(std::uint64_t(replay));
            run(AppModelAccess::updateStatus(m, std::nullopt));
            QCOMPARE(AppModelAccess::cursor(m), Cursor(afterStatus));
            m.replayEvents(std::uint64_t(replay));
            f.client->requests.clear();
        }
        run(m.refresh());
        QCOMPARE(f.client->ops(), firstOps);
        QCOMPARE(AppModelAccess::cursor(m), Cursor(cursor));
        QCOMPARE(AppModelAccess::pendingDeliveries(m).value("p1").paths, received);
        QVERIFY(m.connected());
        // A refresh has no deadline; the next one asks for the events after the cursor.
        QCOMPARE(f.client->deadlines.last(), std::nullopt);
        run(m.refresh());
        QCOMPARE(sinces(*f.client).last(), qint64(cursor));
        if (replay >= 0)
            QCOMPARE(sinces(*f.client).first(), replay);
    }

    void largestSequences()
    {
        // Event numbers are unsigned 64-bit all the way.
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 0)).replace("\"event_sequence\":0",
                                                                                         "\"event_sequence\":18446744073709551615"));
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({}, 0)).replace("\"sequence\":0",
                                                                                         "\"sequence\":18446744073709551615"));
        run(m.refresh());
        run(m.refresh());
        QCOMPARE(f.client->requests.at(1), QByteArray(R"({"op":"events","since":18446744073709551615})"));
        QCOMPARE(AppModelAccess::cursor(m), Cursor(std::numeric_limits<std::uint64_t>::max()));
    }

    void failedStatusAfterEvents_data()
    {
        QTest::addColumn<bool>("childExited");
        QTest::addColumn<QString>("expected");
        QTest::newRow("message") << false << FakeServiceClient::unscripted(QStringLiteral("status"));
        QTest::newRow("exit text") << true
                                   << QStringLiteral("The background service exited (3). Open the service log for the underlying error.");
    }

    void failedStatusAfterEvents()
    {
        QFETCH(bool, childExited);
        QFETCH(QString, expected);
        std::optional<ScopedEnv> service;
        if (childExited)
            service.emplace("CV_MAC_SERVICE", QByteArrayLiteral("/bin/sh"));
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
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({delivered("/r/a", 8)}, 8)));
        // "status" has nothing scripted: the service cannot be reached.
        run(m.refresh());
        QCOMPARE(f.client->ops(), (QStringList{"events", "status"}));
        QCOMPARE(AppModelAccess::cursor(m), Cursor(7));
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
        QCOMPARE(m.connected(), false);
        QCOMPARE(m.serviceError(), std::optional<QString>(expected));
        QCOMPARE(changes, 1);
        QCOMPARE(AppModelAccess::refreshing(m), false);
        QCOMPARE(f.log, QStringList{QStringLiteral("service unavailable: ") + expected});

        // The next refresh asks for the same events again.
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 8)));
        run(m.refresh());
        QCOMPARE(sinces(*f.client), (QList<qint64>{7, 7}));
        QCOMPARE(AppModelAccess::cursor(m), Cursor(8));
        QCOMPARE(AppModelAccess::pendingDeliveries(m).size(), 1);
        QCOMPARE(m.serviceError(), std::nullopt);
        QVERIFY(m.connected());
    }

    void failedEventsSkipsTheStatus()
    {
        ModelFixture f;
        AppModel &m = f.model();
        m.replayEvents(7);
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 8)));
        // A null result fails the request like any other error.
        f.client->always(QStringLiteral("events"), QByteArrayLiteral("{\"ok\":true,\"result\":null}\n"));
        run(m.refresh());
        QCOMPARE(f.client->ops(), QStringList{QStringLiteral("events")});
        QCOMPARE(m.serviceError(), std::optional<QString>(QStringLiteral("The background service returned no result.")));
        QCOMPARE(m.connected(), false);
        QCOMPARE(AppModelAccess::cursor(m), Cursor(7));
    }

    void otherApiVersion()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.client->queue(QStringLiteral("status"), wire::ok(wire::status({}, 10)));
        run(m.refresh());
        QJsonObject second = wire::status({wire::peer("p1", "Other")}, 3);
        second.insert(QStringLiteral("api_version"), 2);
        f.client->always(QStringLiteral("status"), wire::ok(second));
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({}, 10)));
        run(m.refresh());
        QCOMPARE(m.connected(), false);
        QCOMPARE(m.serviceError(),
                 std::optional<QString>(QStringLiteral("This app requires local API version 1. Update the app and service together.")));
        // The earlier status stays, and so does the cursor.
        QVERIFY(m.status()->peers.isEmpty());
        QCOMPARE(m.status()->event_sequence, std::uint64_t(10));
        QCOMPARE(AppModelAccess::cursor(m), Cursor(10));
    }

    void choiceWindowOpensOncePerPairingCode()
    {
        ModelFixture f;
        AppModel &m = f.model();
        const QJsonObject needsA = wire::peer("p1", "Studio", "111111", true);
        const QJsonObject needsB = wire::peer("p1", "Studio", "222222", true);
        const QJsonObject chosen = wire::peer("p1", "Studio", "222222", false);
        const QJsonObject other = wire::peer("p2", "Laptop", "333333", true);
        const QList<QJsonArray> answers{{needsA}, {needsA}, {needsB}, {other}, {needsB, other}, {chosen, other}, {needsB, other}};
        for (const QJsonArray &peers : answers)
            f.client->queue(QStringLiteral("status"), wire::ok(wire::status(peers, 1)));
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({}, 1)));
        // Shown without a window to open: still remembered, not shown again later.
        run(m.refresh());
        QStringList shown;
        m.showPeer = [&shown](const QString &id) { shown << id; };
        for (int i = 1; i < answers.size(); ++i)
            run(m.refresh());
        // Once per code; again after leaving and returning, or after no longer needing one.
        QCOMPARE(shown, (QStringList{"p1", "p2", "p1", "p1"}));
        QCOMPARE(AppModelAccess::choiceShown(m), (QMap<QString, QString>{{"p1", "222222"}, {"p2", "333333"}}));
    }

    void successfulStatus()
    {
        ModelFixture f;
        AppModel &m = f.model();
        m.setServiceError(QStringLiteral("earlier"));
        m.setDisconnected({{"p1", "Studio"}, {"p2", "Laptop"}});
        int changes = 0;
        m.stateChanged = [&changes] { ++changes; };
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({wire::peer("p1", "Studio")}, 1)));
        run(m.refresh());
        QCOMPARE(m.serviceError(), std::nullopt);
        QVERIFY(m.connected());
        QVERIFY(AppModelAccess::hasSeenService(m));
        QCOMPARE(changes, 1);
        // A computer that is back leaves the disconnected list.
        QCOMPARE(m.disconnected(), (AppModel::Disconnected{{"p2", "Laptop"}}));
    }

    void secondRefreshWaitsThenMakesItsOwn_data()
    {
        QTest::addColumn<bool>("pollingCancelled");
        QTest::newRow("polling") << false;
        // The single-flight pause ignores cancellation of the polling task.
        QTest::newRow("polling cancelled") << true;
    }

    void secondRefreshWaitsThenMakesItsOwn()
    {
        QFETCH(bool, pollingCancelled);
        ModelFixture f;
        AppModel &m = f.model();
        // The first status answer takes one second of the fake clock.
        f.client->queue(QStringLiteral("status"), wire::ok(wire::status({}, 1)), 1.0);
        serveIdle(*f.client, 1);
        if (pollingCancelled)
            AppModelAccess::pollingCancel(m).cancel();
        QList<double> updated;
        m.stateChanged = [&] { updated << f.clock.uptime(); };
        const double start = f.clock.uptime();

        QCoro::Task<> first = m.refresh();
        QCoro::Task<> second = m.refresh();
        QCOMPARE(f.client->requests.size(), 1);
        QVERIFY(AppModelAccess::refreshing(m));
        run(std::move(second));
        run(std::move(first));
        // Not merged: the waiting refresh made a full refresh of its own, after the first.
        QCOMPARE(f.client->ops(), (QStringList{"status", "events", "status"}));
        QCOMPARE(updated.size(), 2);
        QCOMPARE(updated.at(0), start + 1.0);
        QVERIFY(std::find(f.clock.sleeps().begin(), f.clock.sleeps().end(), 0.05) != f.clock.sleeps().end());
        QCOMPARE(AppModelAccess::refreshing(m), false);
    }

    void quittingEndsTheWait()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)), 1.0);
        QCoro::Task<> first = m.refresh();
        QCoro::Task<> second = m.refresh();
        AppModelAccess::quitting(m) = true;
        // The waiting refresh returns without a request; the first one completes.
        run(std::move(second));
        QCOMPARE(f.client->requests.size(), 1);
        run(std::move(first));
        QVERIFY(m.connected());
        // Once quitting, a refresh sends nothing at all.
        run(m.refresh());
        QCOMPARE(f.client->requests.size(), 1);
    }
};

QTEST_GUILESS_MAIN(ModelRefreshTest)
#include "tst_model_refresh.moc"

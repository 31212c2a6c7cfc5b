#include "follow_helpers.h"

#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

const QString versionMessage = QStringLiteral("This app requires local API version 1. Update the app and service together.");

QJsonObject delivered(const QString &peer, std::uint64_t sequence)
{
    return serviceEvent(QStringLiteral("delivered"), peer, {{QStringLiteral("path"), QStringLiteral("/tmp/a.txt")}}, sequence);
}

} // namespace

class ModelRefreshTest : public QObject {
    Q_OBJECT

private slots:
    void firstStatusSetsTheCursor()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 100)));
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({}, 100)));

        run(m.refresh());
        // No cursor yet: no events are asked for.
        QCOMPARE(f.client->ops(), QStringList{QStringLiteral("status")});
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(100));
        QVERIFY(m.connected());
        QVERIFY(AppModelAccess::hasSeenService(m));

        run(m.refresh());
        QCOMPARE(f.client->ops(), (QStringList{"status", "events", "status"}));
        QCOMPARE(f.client->sent(QStringLiteral("events")).at(0).value(QStringLiteral("since")).toInteger(), 100);
        QCOMPARE(f.client->requests.at(1), QByteArray(R"({"op":"events","since":100})"));
        // A refresh has no deadline.
        QCOMPARE(f.client->deadlines.at(2), std::nullopt);
    }

    void replayedCursorSurvivesTheStatus()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 100)));
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({delivered("p1", 43)}, 100)));
        m.replayEvents(42);

        // The status answer does not move a replayed cursor up.
        run(AppModelAccess::updateStatus(m, std::nullopt));
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(42));

        run(m.refresh());
        QCOMPARE(f.client->sent(QStringLiteral("events")).at(0).value(QStringLiteral("since")).toInteger(), 42);
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(100));
        QCOMPARE(AppModelAccess::pendingDeliveries(m).size(), 1);
    }

    void lowerSequenceLowersTheCursor()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 5)));
        m.replayEvents(90);
        run(AppModelAccess::updateStatus(m, std::nullopt));
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(5));

        // Within a refresh, the batch's sequence then replaces the lowered value.
        m.replayEvents(90);
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({}, 93)));
        run(m.refresh());
        QCOMPARE(f.client->sent(QStringLiteral("events")).at(0).value(QStringLiteral("since")).toInteger(), 90);
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(93));
    }

    void largestSequences()
    {
        // Event numbers are unsigned 64-bit all the way.
        ModelFixture f;
        AppModel &m = f.model();
        const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
        QJsonObject status = wire::status({}, 0);
        const QByteArray line = wire::ok(status).replace("\"event_sequence\":0", "\"event_sequence\":18446744073709551615");
        f.client->always(QStringLiteral("status"), line);
        f.client->always(QStringLiteral("events"), QByteArrayLiteral(R"({"ok":true,"result":{"events":[],"sequence":18446744073709551615,"resync_required":false}})") + '\n');
        run(m.refresh());
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(top));
        run(m.refresh());
        QCOMPARE(f.client->requests.at(1), QByteArray(R"({"op":"events","since":18446744073709551615})"));
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(top));
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
        if (childExited)
            qputenv("CV_MAC_SERVICE", "/bin/sh");
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
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({delivered("p1", 8)}, 8)));
        // "status" has nothing scripted: the service cannot be reached.

        run(m.refresh());
        qunsetenv("CV_MAC_SERVICE");
        QCOMPARE(f.client->ops(), (QStringList{"events", "status"}));
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(7));
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
        QCOMPARE(m.connected(), false);
        QCOMPARE(m.serviceError(), std::optional<QString>(expected));
        QCOMPARE(changes, 1);
        QCOMPARE(AppModelAccess::refreshing(m), false);
        QCOMPARE(f.log, QStringList{QStringLiteral("service unavailable: ") + expected});

        // The next refresh asks for the same events again.
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 8)));
        run(m.refresh());
        QCOMPARE(f.client->sent(QStringLiteral("events")).at(1).value(QStringLiteral("since")).toInteger(), 7);
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(8));
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
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(7));
    }

    void otherApiVersion()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.client->queue(QStringLiteral("status"), wire::ok(wire::status({}, 10)));
        run(m.refresh());
        const std::optional<ServiceStatus> before = m.status();
        QVERIFY(before);

        QJsonObject second = wire::status({wire::peer("p1", "Other")}, 3);
        second.insert(QStringLiteral("api_version"), 2);
        f.client->always(QStringLiteral("status"), wire::ok(second));
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({}, 10)));
        run(m.refresh());
        QCOMPARE(m.connected(), false);
        QCOMPARE(m.serviceError(), std::optional<QString>(versionMessage));
        QVERIFY(m.status()->peers.isEmpty());
        QCOMPARE(m.status()->event_sequence, before->event_sequence);
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(10));
    }

    void resyncBatchIsSkipped()
    {
        ModelFixture f;
        AppModel &m = f.model();
        m.replayEvents(3);
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 60)));
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({delivered("p1", 4)}, 60, true)));
        run(m.refresh());
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(60));
        QVERIFY(m.connected());
    }

    void eventsAreHandledInOrder()
    {
        ModelFixture f;
        AppModel &m = f.model();
        m.replayEvents(0);
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 2)));
        f.client->always(QStringLiteral("events"),
                         wire::ok(wire::events({serviceEvent("delivered", "p1", {{"path", "/r/one"}}, 1),
                                                serviceEvent("delivered", "p1", {{"path", "/r/two"}}, 2)},
                                               2)));
        run(m.refresh());
        QCOMPARE(AppModelAccess::pendingDeliveries(m).value("p1").paths, (QStringList{"/r/one", "/r/two"}));
    }

    void choiceWindowOpensOncePerPairingCode()
    {
        ModelFixture f;
        AppModel &m = f.model();
        QStringList shown;
        m.showPeer = [&shown](const QString &id) { shown << id; };
        auto answer = [&f](const QJsonArray &peers) {
            f.client->queue(QStringLiteral("status"), wire::ok(wire::status(peers, 1)));
        };
        const QJsonObject needsA = wire::peer("p1", "Studio", "111111", true);
        const QJsonObject needsB = wire::peer("p1", "Studio", "222222", true);
        const QJsonObject chosen = wire::peer("p1", "Studio", "222222", false);
        const QJsonObject other = wire::peer("p2", "Laptop", "333333", true);

        answer({needsA});
        answer({needsA});
        answer({needsB});     // a new pairing code
        answer({other});      // p1 left
        answer({needsB, other}); // back with the same code
        answer({chosen, other}); // no longer needs a choice
        answer({needsB, other}); // needs one again
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({}, 1)));
        for (int i = 0; i < 7; ++i)
            run(m.refresh());
        QCOMPARE(shown, (QStringList{"p1", "p1", "p2", "p1", "p1"}));
        QCOMPARE(AppModelAccess::choiceShown(m),
                 (QMap<QString, QString>{{"p1", "222222"}, {"p2", "333333"}}));
    }

    void choiceRememberedWithoutCallback()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({wire::peer("p1", "Studio", "9", true)}, 1)));
        run(AppModelAccess::updateStatus(m, std::nullopt));
        QCOMPARE(AppModelAccess::choiceShown(m), (QMap<QString, QString>{{"p1", "9"}}));
        // A callback set later is not called for a code already shown.
        int calls = 0;
        m.showPeer = [&calls](const QString &) { ++calls; };
        run(AppModelAccess::updateStatus(m, std::nullopt));
        QCOMPARE(calls, 0);
    }

    void reconnectedComputerLeavesDisconnected()
    {
        ModelFixture f;
        AppModel &m = f.model();
        m.setDisconnected({{"p1", "Studio"}, {"p2", "Laptop"}});
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({wire::peer("p1", "Studio")}, 1)));
        run(AppModelAccess::updateStatus(m, std::nullopt));
        QCOMPARE(m.disconnected(), (AppModel::Disconnected{{"p2", "Laptop"}}));
    }

    void successfulStatusClearsTheError()
    {
        ModelFixture f;
        AppModel &m = f.model();
        m.setServiceError(QStringLiteral("earlier"));
        int changes = 0;
        m.stateChanged = [&changes] { ++changes; };
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)));
        run(m.refresh());
        QCOMPARE(m.serviceError(), std::nullopt);
        QVERIFY(m.connected());
        QCOMPARE(changes, 1);
    }

    void secondRefreshWaitsThenMakesItsOwn()
    {
        ModelFixture f;
        AppModel &m = f.model();
        // The first status answer takes one second of the fake clock.
        f.client->queue(QStringLiteral("status"), wire::ok(wire::status({}, 1)), 1.0);
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)));
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({}, 1)));
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
        QVERIFY(updated.at(1) >= start + 1.0);
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
        run(std::move(second));
        // The waiting refresh returned without a request; the first one completes.
        QCOMPARE(f.client->requests.size(), 1);
        run(std::move(first));
        QVERIFY(m.connected());
        QCOMPARE(f.client->requests.size(), 1);

        // Once quitting, a refresh sends nothing at all.
        run(m.refresh());
        QCOMPARE(f.client->requests.size(), 1);
    }

    void cancelledPollingDoesNotBreakTheWait()
    {
        // The single-flight pause ignores cancellation of the polling task.
        ModelFixture f;
        AppModel &m = f.model();
        f.client->queue(QStringLiteral("status"), wire::ok(wire::status({}, 1)), 1.0);
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)));
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({}, 1)));
        AppModelAccess::pollingCancel(m).cancel();
        QCoro::Task<> first = m.refresh();
        QCoro::Task<> second = m.refresh();
        run(std::move(second));
        run(std::move(first));
        QCOMPARE(f.client->ops(), (QStringList{"status", "events", "status"}));
    }
};

QTEST_GUILESS_MAIN(ModelRefreshTest)
#include "tst_model_refresh.moc"

#include "follow_helpers.h"

#include "service/service_client.h"

#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

const QString waitText = QStringLiteral("Wait for the current action or service startup to finish before quitting.");
const QString unreachable = QStringLiteral("The background service is unavailable: Connection refused.");

// A model that reached its service and is idle.
void reached(ModelFixture &f)
{
    AppModel &m = f.model();
    f.client->queue(QStringLiteral("status"), wire::ok(wire::status({}, 1)));
    run(m.refresh());
    m.setStarting(false);
    f.client->requests.clear();
}

} // namespace

class ModelQuitTest : public QObject {
    Q_OBJECT

private slots:
    void quitAtOnce()
    {
        ModelFixture f;
        reached(f);
        AppModel &m = f.model();
        f.client->always(QStringLiteral("quit"), wire::done());
        const double start = f.clock.uptime();
        QVERIFY(run(m.quit()));
        QCOMPARE(f.client->requests, QList<QByteArray>{QByteArray(R"({"op":"quit"})")});
        QCOMPARE(f.client->deadlines.at(0), std::nullopt);
        QCOMPARE(f.clock.uptime(), start);
        // Final: still quitting and busy until the process ends.
        QVERIFY(AppModelAccess::quitting(m));
        QVERIFY(m.mutating());
        QVERIFY(m.busy());
        QCOMPARE(m.error(), std::nullopt);
        // Nothing further is asked of the service.
        run(m.refresh());
        QCOMPARE(f.client->requests.size(), 1);
    }

    void waitsForACommand_data()
    {
        QTest::addColumn<bool>("pollingCancelled");
        QTest::newRow("polling") << false;
        // A cancelled polling task does not shorten the wait.
        QTest::newRow("polling cancelled") << true;
    }

    void waitsForACommand()
    {
        QFETCH(bool, pollingCancelled);
        ModelFixture f;
        reached(f);
        AppModel &m = f.model();
        f.client->always(QStringLiteral("quit"), wire::done());
        if (pollingCancelled)
            AppModelAccess::pollingCancel(m).cancel();
        m.setMutating(true);
        QCoro::Task<> command = after(f.clock, 3.0, [&m] { m.setMutating(false); });
        const double start = f.clock.uptime();
        QVERIFY(run(m.quit()));
        // The request followed the command's end within one step of 100 ms.
        QVERIFY(f.clock.uptime() >= start + 3.0);
        QVERIFY(f.clock.uptime() <= start + 3.1 + 1e-6);
        QCOMPARE(f.client->ops(), QStringList{QStringLiteral("quit")});
        QVERIFY(std::all_of(f.clock.sleeps().begin() + 1, f.clock.sleeps().end(), [](double s) { return s == 0.1; }));
    }

    void startUpStillRunning()
    {
        ModelFixture f;
        AppModel &m = f.model();
        // `starting` is true from construction until a start-up ends.
        QVERIFY(m.starting());
        f.client->always(QStringLiteral("quit"), wire::done());
        const double start = f.clock.uptime();
        QVERIFY(!run(m.quit()));
        QCOMPARE(m.error(), std::optional<QString>(waitText));
        QVERIFY(f.client->requests.isEmpty());
        QVERIFY(!AppModelAccess::quitting(m));
        QVERIFY(!m.mutating());
        QVERIFY(f.clock.uptime() >= start + 20.0 - 1e-6);
        QVERIFY(f.clock.uptime() <= start + 20.1);
    }

    void unreachableOrRefused_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("error");
        // A service never reached has nothing to stop: the quit goes ahead.
        QTest::newRow("never reached") << "never" << QString();
        QTest::newRow("lost after it was reached") << "lost" << unreachable;
        QTest::newRow("own child still runs") << "child" << unreachable;
        QTest::newRow("refused") << "refused" << QStringLiteral("Copies are running.");
        QTest::newRow("timed out") << "timeout" << ServiceClient::timeoutError().message();
    }

    void unreachableOrRefused()
    {
        QFETCH(QString, situation);
        QFETCH(QString, error);
        std::optional<ScopedEnv> service;
        if (situation == "child")
            service.emplace("CV_MAC_SERVICE", QByteArrayLiteral("/bin/sh"));
        ModelFixture f;
        AppModel &m = f.model();
        m.setStarting(false);
        if (situation == "lost" || situation == "refused" || situation == "timeout")
            reached(f);
        if (situation == "child")
            f.host->start(true);
        if (situation == "refused")
            f.client->always(QStringLiteral("quit"), wire::refused(error));
        else if (situation == "timeout")
            f.client->alwaysError(QStringLiteral("quit"), ServiceClient::timeoutError());
        else
            f.client->alwaysError(QStringLiteral("quit"), ServiceError::unavailable(unreachable));
        f.client->clear(QStringLiteral("status"));

        const bool quits = run(m.quit());
        QCOMPARE(AppModelAccess::quitting(m), quits);
        if (situation == "never") {
            QVERIFY(quits);
            QCOMPARE(f.client->ops(), QStringList{QStringLiteral("quit")});
            QCOMPARE(m.error(), std::nullopt);
            return;
        }
        QVERIFY(!quits);
        QCOMPARE(m.error(), std::optional<QString>(QStringLiteral("Couldn’t stop sharing safely: ") + error));
        QVERIFY(!m.mutating());
        // One refresh followed, which found the service gone.
        const QStringList ops = f.client->ops();
        QCOMPARE(ops.first(), QStringLiteral("quit"));
        // (With the event cursor set, a refresh begins with "events".)
        QCOMPARE(ops.mid(1), situation == "child" ? QStringList{"status"} : QStringList{"events"});
        QVERIFY(!m.connected());

        // The next quit starts over and may succeed.
        f.client->always(QStringLiteral("quit"), wire::done());
        QVERIFY(run(m.quit()));
    }
};

QTEST_GUILESS_MAIN(ModelQuitTest)
#include "tst_model_quit.moc"

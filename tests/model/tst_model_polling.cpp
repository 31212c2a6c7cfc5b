#include "follow_helpers.h"

#include <QSignalSpy>
#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

// Ends a running polling task and waits until it is over.
void finish(AppModel &m)
{
    AppModelAccess::quitting(m) = true;
    AppModelAccess::pollingCancel(m).cancel();
    QTRY_VERIFY(AppModelAccess::polling(m)->isReady());
}

} // namespace

class ModelPollingTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(!developmentVariablesSet()); }

    void startUpComesBeforeTheFirstPass_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QStringList>("ops");
        // The start-up's status, then passes of events and status.
        QTest::newRow("development build") << false << QStringList{"status", "events", "status", "events", "status"};
        // An installed application whose running service is not yet started at sign-in:
        // the automatic attempt (stop, register, refresh) comes before the first pass.
        QTest::newRow("installed") << true << QStringList{"status", "quit", "status", "events", "status", "events", "status"};
    }

    void startUpComesBeforeTheFirstPass()
    {
        QFETCH(bool, installed);
        QFETCH(QStringList, ops);
        InstalledBundle bundle;
        ModelFixture f;
        if (installed)
            f.bundle = bundle.bundle();
        f.launchctl.output = "state = running\n";
        AppModel &m = f.model();
        QSignalSpy login(f.host.get(), &ServiceHost::loginDetailChanged);
        f.client->queue(QStringLiteral("status"), wire::ok(wire::status({}, 5)));
        if (installed)
            f.client->queueError(QStringLiteral("status"), ServiceError::unavailable(QStringLiteral("gone")));
        serveIdle(*f.client, 5);
        f.client->always(QStringLiteral("quit"), wire::done());
        const double start = f.clock.uptime();
        m.start();
        // The login state is read at once, before anything else.
        QVERIFY(!login.isEmpty());
        QTRY_VERIFY(f.client->requests.size() >= 7);
        QVERIFY(run(m.quit()));
        QTRY_VERIFY(AppModelAccess::polling(m)->isReady());
        QCOMPARE(f.client->ops().mid(0, ops.size()), ops);
        // The start-up's request has its window as deadline, the passes none.
        QCOMPARE(f.client->deadlines.at(0), std::optional<double>(start + 15.0));
        QCOMPARE(f.client->deadlines.last(), std::nullopt);
        QCOMPARE(f.client->ops().last(), QStringLiteral("quit"));
        QCOMPARE(f.host->loginEnabled(), installed);
        QCOMPARE(f.defaults->stored().contains(QStringLiteral("startAtLoginDefaulted")), installed);
        QVERIFY(f.notifications->statusQueries() >= 1);
        // A fixed pause after every pass.
        for (double pause : f.clock.sleeps())
            QCOMPARE(pause, 0.75);
    }

    void failedStartUpKeepsPolling()
    {
        ScopedEnv service("CV_MAC_SERVICE", QByteArray());
        ModelFixture f;
        AppModel &m = f.model();
        // No service and none can be started.
        m.start();
        QTRY_VERIFY(f.client->requests.size() >= 6);
        finish(m);
        QVERIFY(!m.starting());
        QVERIFY(!m.connected());
        // Every pass failed, yet probed and paused at the same pace.
        QVERIFY(m.serviceError()->startsWith(QStringLiteral("nothing scripted")));
        QVERIFY(f.cable->pluggedProbes() >= 1);
        for (double pause : f.clock.sleeps())
            QCOMPARE(pause, 0.75);
        QVERIFY(f.clock.sleeps().size() >= 5);
    }

    void quittingStopsRequestsButNotThePass()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.client->queue(QStringLiteral("status"), wire::ok(wire::status({}, 5)));
        // The first pass's status takes a second; quitting begins meanwhile.
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 5)), 1.0);
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({}, 5)));
        std::optional<QCoro::Task<>> quitting;
        QObject::connect(&m, &AppModel::startingChanged, &m, [&] {
            if (!m.starting() && !quitting)
                quitting.emplace(after(f.clock, 0.5, [&m] { AppModelAccess::quitting(m) = true; }));
        });
        m.start();
        // The pass under way completes its refresh, probes and pauses; then no pass
        // begins while quitting, however many pauses go by.
        QTRY_VERIFY(f.clock.sleeps().size() >= 6);
        QCOMPARE(f.client->ops(), (QStringList{"status", "events", "status"}));
        QVERIFY(m.connected());
        QCOMPARE(f.cable->pluggedProbes(), 1);
        QCOMPARE(f.clock.sleeps().back(), 0.75);
        // The successful quit's cancellation then ends the task.
        QVERIFY(!AppModelAccess::polling(m)->isReady());
        AppModelAccess::pollingCancel(m).cancel();
        QTRY_VERIFY(AppModelAccess::polling(m)->isReady());
        QCOMPARE(f.client->requests.size(), 3);
    }

    void refusedQuitKeepsPolling()
    {
        // The service takes 3 s to refuse the quit: several pauses of the polling task
        // pass meanwhile, and the passes go on once the quit has been refused.
        ModelFixture f;
        AppModel &m = f.model();
        serveIdle(*f.client, 5);
        f.client->always(QStringLiteral("quit"), wire::refused(QStringLiteral("Copies are running.")), 3.0);
        m.start();
        QTRY_VERIFY(f.client->requests.size() >= 3);
        QVERIFY(!run(m.quit()));
        // Nothing but the refused quit's own refresh was sent while quitting.
        const QStringList ops = f.client->ops();
        QCOMPARE(ops.mid(ops.lastIndexOf(QStringLiteral("quit"))), (QStringList{"quit", "events", "status"}));
        const qsizetype afterQuit = ops.size();
        QTRY_VERIFY(f.client->requests.size() >= afterQuit + 4);
        QVERIFY(!AppModelAccess::polling(m)->isReady());
        finish(m);
    }

    void pauseEndsTheTask_data()
    {
        QTest::addColumn<bool>("byQuit");
        QTest::newRow("cancelled") << false;
        // quit() cancels the pause: the task ends without waiting out the 750 ms.
        QTest::newRow("quit") << true;
    }

    void pauseEndsTheTask()
    {
        QFETCH(bool, byQuit);
        ModelFixture f;
        AppModel &m = f.model();
        serveIdle(*f.client, 5);
        f.client->always(QStringLiteral("quit"), wire::done());
        f.clock.setAutoAdvance(false);
        m.start();
        // Start-up and first pass run without sleeping; the task now waits in its pause.
        QTRY_COMPARE(f.clock.sleeperCount(), 1);
        QCOMPARE(f.client->requests.size(), 3);
        if (byQuit)
            QVERIFY(run(m.quit()));
        else
            AppModelAccess::pollingCancel(m).cancel();
        QTRY_VERIFY(AppModelAccess::polling(m)->isReady());
        QCOMPARE(f.client->ops(), byQuit ? (QStringList{"status", "events", "status", "quit"})
                                         : (QStringList{"status", "events", "status"}));
        QCOMPARE(AppModelAccess::quitting(m), byQuit);
    }
};

QTEST_GUILESS_MAIN(ModelPollingTest)
#include "tst_model_polling.moc"

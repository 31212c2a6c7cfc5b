#include "follow_helpers.h"

#include "model/failures.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>

using namespace cv;
using namespace cv::test;

namespace {

const QString notReadyText = QStringLiteral("The background service has not become ready. Open the service log, then retry.");
const QString exitedText = QStringLiteral("The background service exited (3). Open the service log for the underlying error.");
const QString timeoutText =
    QStringLiteral("The service request timed out. Its outcome will be checked before another action.");
const QString missingText = QStringLiteral(
    "The background service is missing. Build or install Corvane with cv-mac-service and nfsmount beside the app executable.");

ServiceError down() { return ServiceError::unavailable(QStringLiteral("The background service is unavailable: No such file or directory.")); }

int count(const QList<FakeLaunchctl::Call> &calls, const QString &verb)
{
    return int(std::count_if(calls.begin(), calls.end(), [&verb](const FakeLaunchctl::Call &c) { return c.verbs == QStringList{verb}; }));
}

// Records every value `starting` takes.
struct StartingValues {
    explicit StartingValues(AppModel &m)
    {
        QObject::connect(&m, &AppModel::startingChanged, &context, [this, &m] { values << m.starting(); });
    }
    QObject context;
    QList<bool> values;
};

} // namespace

class ModelStartupTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(!developmentVariablesSet()); }

    void serviceAlreadyRunning()
    {
        ModelFixture f;
        AppModel &m = f.model();
        StartingValues starting(m);
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 12)));
        const double start = f.clock.uptime();
        run(AppModelAccess::startServiceIfNeeded(m));
        QCOMPARE(f.client->ops(), QStringList{QStringLiteral("status")});
        QCOMPARE(f.client->deadlines.at(0), std::optional<double>(start + 15.0));
        QVERIFY(f.launcher.launches.isEmpty());
        QVERIFY(f.launchctl.calls.isEmpty());
        QCOMPARE(starting.values, (QList<bool>{true, false}));
        QVERIFY(m.connected());
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(12));
        QCOMPARE(m.serviceError(), std::nullopt);
    }

    void childStarted()
    {
        ScopedEnv service("CV_MAC_SERVICE", QByteArrayLiteral("/bin/sh"));
        ModelFixture f;
        AppModel &m = f.model();
        for (int i = 0; i < 4; ++i)
            f.client->queueError(QStringLiteral("status"), down());
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)));
        const double start = f.clock.uptime();
        run(AppModelAccess::startServiceIfNeeded(m));

        QCOMPARE(f.launcher.launches.size(), 1);
        QCOMPARE(f.launcher.launches.at(0).program, QStringLiteral("/bin/sh"));
        QVERIFY(f.launchctl.calls.isEmpty());
        QCOMPARE(f.client->ops().size(), 5);
        // Polled every half second until the first answer, each with the window's deadline.
        QCOMPARE(std::deque<double>(f.clock.sleeps()), (std::deque<double>{0.5, 0.5, 0.5, 0.5}));
        QCOMPARE(f.clock.uptime(), start + 2.0);
        for (const auto &deadline : f.client->deadlines)
            QCOMPARE(deadline, std::optional<double>(start + 15.0));
        QVERIFY(m.connected());
        QVERIFY(!m.starting());
        QCOMPARE(m.serviceError(), std::nullopt);
    }

    void agentKickstarted()
    {
        InstalledBundle installed;
        ModelFixture f;
        f.bundle = installed.bundle();
        f.loginItems.agentItem->setStatus(LoginItemStatus::enabled);
        f.launchctl.output = "\tstate = running\n";
        AppModel &m = f.model();
        f.client->queueError(QStringLiteral("status"), down());
        f.client->queueError(QStringLiteral("status"), down());
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)));
        run(AppModelAccess::startServiceIfNeeded(m));
        // Started through the login agent, no child.
        QCOMPARE(count(f.launchctl.calls, "kickstart"), 1);
        QVERIFY(f.launcher.launches.isEmpty());
        QVERIFY(m.connected());
    }

    void agentRepair_data()
    {
        QTest::addColumn<bool>("repairWorks");
        QTest::newRow("repair fails, child started") << false;
        QTest::newRow("repaired") << true;
    }

    void agentRepair()
    {
        QFETCH(bool, repairWorks);
        InstalledBundle installed;
        ModelFixture f;
        f.bundle = installed.bundle();
        f.loginItems.agentItem->setStatus(LoginItemStatus::enabled);
        if (!repairWorks)
            f.loginItems.agentItem->registerError = QStringLiteral("not allowed");
        // launchd does not report the agent running.
        f.launchctl.output = "state = not running\n";
        AppModel &m = f.model();
        // Unreachable for 3 s, then it answers.
        for (int i = 0; i < 7; ++i)
            f.client->queueError(QStringLiteral("status"), down());
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)));
        // The repair holds in its unregistering, so the test can see when it began.
        f.loginItems.agentItem->holdUnregister = true;
        const double start = f.clock.uptime();
        QCoro::Task<> startUp = AppModelAccess::startServiceIfNeeded(m);
        QTRY_COMPARE(f.loginItems.agentItem->unregisterWaiting, 1);
        // At the first unreachable answer more than 2 s after the start request (the
        // one at 2.0 s is not yet late enough).
        QCOMPARE(f.clock.uptime() - start, 2.5);
        f.loginItems.agentItem->release();
        run(std::move(startUp));

        QVERIFY(m.connected());
        QCOMPARE(m.serviceError(), std::nullopt);
        // One repair: unregistered and registered again once.
        QCOMPARE(f.loginItems.agentItem->unregisterCalls, 1);
        QCOMPARE(f.loginItems.agentItem->registerCalls, 1);
        if (repairWorks) {
            QCOMPARE(count(f.launchctl.calls, "kickstart"), 2);
            QVERIFY(f.launcher.launches.isEmpty());
        } else {
            // A child at once after the failed repair.
            QCOMPARE(count(f.launchctl.calls, "kickstart"), 1);
            QCOMPARE(f.launcher.launches.size(), 1);
        }
    }

    void agentStaysDown()
    {
        // Repaired, then more than 2 s later still down: a child is started, once.
        InstalledBundle installed;
        ModelFixture f;
        f.bundle = installed.bundle();
        f.loginItems.agentItem->setStatus(LoginItemStatus::enabled);
        f.launchctl.output = "state = waiting\n";
        AppModel &m = f.model();
        f.client->alwaysError(QStringLiteral("status"), down());
        const double start = f.clock.uptime();
        run(AppModelAccess::startServiceIfNeeded(m));
        QCOMPARE(f.loginItems.agentItem->registerCalls, 1);
        QCOMPARE(count(f.launchctl.calls, "kickstart"), 2);
        QCOMPARE(f.launcher.launches.size(), 1);
        QCOMPARE(m.serviceError(), std::optional<QString>(notReadyText));
        QCOMPARE(f.clock.uptime(), start + 15.0);
    }

    void childExits()
    {
        ScopedEnv service("CV_MAC_SERVICE", QByteArrayLiteral("/bin/sh"));
        ModelFixture f;
        AppModel &m = f.model();
        f.client->alwaysError(QStringLiteral("status"), down());
        const double start = f.clock.uptime();
        QCoro::Task<> exit = after(f.clock, 1.2, [&f] {
            f.launcher.launches.last().state->running = false;
            f.launcher.launches.last().state->status = 3;
        });
        run(AppModelAccess::startServiceIfNeeded(m));
        QCOMPARE(m.serviceError(), std::optional<QString>(exitedText));
        // Ended at the first request after the exit, well before the window's end.
        QCOMPARE(f.clock.uptime(), start + 1.5);
        QVERIFY(!m.starting());
        QCOMPARE(f.launcher.launches.size(), 1);
    }

    void silentService()
    {
        ScopedEnv service("CV_MAC_SERVICE", QByteArrayLiteral("/bin/sh"));
        ModelFixture f;
        AppModel &m = f.model();
        f.client->alwaysError(QStringLiteral("status"), down());
        const double start = f.clock.uptime();
        run(AppModelAccess::startServiceIfNeeded(m));
        // The last pause ends at the window's end, and its request is refused by the
        // deadline: still the start-up text, not the request's time-out.
        QCOMPARE(m.serviceError(), std::optional<QString>(notReadyText));
        QCOMPARE(f.clock.uptime(), start + 15.0);
        QCOMPARE(f.client->ops().size(), 30);
        QVERIFY(std::all_of(f.clock.sleeps().begin(), f.clock.sleeps().end(), [](double s) { return s <= 0.5; }));
        QCOMPARE(f.log, QStringList{QStringLiteral("service unavailable: ") + notReadyText});
        QVERIFY(!m.starting());
    }

    void slowAnswerUsesUpTheWindow()
    {
        // A service that accepts but answers too late inside the wait loop.
        ScopedEnv service("CV_MAC_SERVICE", QByteArrayLiteral("/bin/sh"));
        ModelFixture f;
        AppModel &m = f.model();
        f.client->queueError(QStringLiteral("status"), down());
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)), 20.0);
        run(AppModelAccess::startServiceIfNeeded(m));
        QCOMPARE(m.serviceError(), std::optional<QString>(notReadyText));
        QVERIFY(!m.connected());
    }

    void firstRequestTimesOut()
    {
        ModelFixture f;
        AppModel &m = f.model();
        // Accepted, but answered after the window: the request's own time-out, no start.
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)), 16.0);
        run(AppModelAccess::startServiceIfNeeded(m));
        QCOMPARE(m.serviceError(), std::optional<QString>(timeoutText));
        QVERIFY(f.launcher.launches.isEmpty());
        QVERIFY(f.launchctl.calls.isEmpty());
        QCOMPARE(f.client->ops().size(), 1);
    }

    void firstRequestFailsOtherwise_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message");
        QJsonObject v2 = wire::status({}, 1);
        v2.insert(QStringLiteral("api_version"), 2);
        QTest::newRow("api version") << wire::ok(v2)
                                     << "This app requires local API version 1. Update the app and service together.";
        QTest::newRow("rejected") << wire::refused("Busy.") << "Busy.";
    }

    void firstRequestFailsOtherwise()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always(QStringLiteral("status"), reply);
        run(AppModelAccess::startServiceIfNeeded(m));
        QCOMPARE(m.serviceError(), std::optional<QString>(message));
        QCOMPARE(f.client->ops().size(), 1);
        QVERIFY(f.launcher.launches.isEmpty());
        QVERIFY(!m.starting());
    }

    void windowPassedBeforeTheStart()
    {
        ScopedEnv service("CV_MAC_SERVICE", QByteArrayLiteral("/bin/sh"));
        ModelFixture f;
        AppModel &m = f.model();
        f.client->queueError(QStringLiteral("status"), down(), 15.5);
        run(AppModelAccess::startServiceIfNeeded(m));
        QCOMPARE(m.serviceError(),
                 std::optional<QString>(QStringLiteral("Service startup timed out. Open the service log, then retry.")));
        QVERIFY(f.launcher.launches.isEmpty());
    }

    void hostCannotStart()
    {
        ScopedEnv service("CV_MAC_SERVICE", QByteArray());
        ModelFixture f;
        AppModel &m = f.model();
        f.client->alwaysError(QStringLiteral("status"), down());
        run(AppModelAccess::startServiceIfNeeded(m));
        QCOMPARE(m.serviceError(), std::optional<QString>(missingText));
        QCOMPARE(f.client->ops().size(), 1);
        QVERIFY(!m.starting());
    }

    void cancelledStartUpEndsSilently_data()
    {
        QTest::addColumn<double>("cancelAt");
        QTest::newRow("before the start") << -1.0;
        QTest::newRow("during the wait") << 1.2;
    }

    void cancelledStartUpEndsSilently()
    {
        QFETCH(double, cancelAt);
        ScopedEnv service("CV_MAC_SERVICE", QByteArrayLiteral("/bin/sh"));
        ModelFixture f;
        AppModel &m = f.model();
        m.setServiceError(QStringLiteral("earlier"));
        f.client->alwaysError(QStringLiteral("status"), down());
        const double start = f.clock.uptime();
        std::optional<QCoro::Task<>> cancel;
        if (cancelAt < 0)
            AppModelAccess::pollingCancel(m).cancel();
        else
            cancel.emplace(after(f.clock, cancelAt, [&m] { AppModelAccess::pollingCancel(m).cancel(); }));
        run(AppModelAccess::startServiceIfNeeded(m));
        QCOMPARE(m.serviceError(), std::optional<QString>(QStringLiteral("earlier")));
        QVERIFY(!m.starting());
        if (cancelAt < 0) {
            QVERIFY(f.launcher.launches.isEmpty());
            QCOMPARE(f.clock.uptime(), start);
        } else {
            QCOMPARE(f.launcher.launches.size(), 1);
            QCOMPARE(f.clock.uptime(), start + cancelAt);
        }
    }

    void staleExitTextDoesNotEndAnAgentStart()
    {
        // A child ran earlier in this run and was stopped on purpose; the service now
        // starts through the login agent and takes a moment to answer.
        InstalledBundle installed;
        ModelFixture f;
        f.bundle = installed.bundle();
        f.host->start(true);
        f.launcher.launches.last().state->running = false;
        f.launcher.launches.last().state->status = 0;
        f.loginItems.agentItem->setStatus(LoginItemStatus::enabled);
        f.launchctl.output = "state = running\n";
        AppModel &m = f.model();
        QVERIFY(f.host->exitDescription());
        for (int i = 0; i < 3; ++i)
            f.client->queueError(QStringLiteral("status"), down());
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)));
        run(AppModelAccess::startServiceIfNeeded(m));
        QCOMPARE(count(f.launchctl.calls, "kickstart"), 1);
        QCOMPARE(m.serviceError(), std::nullopt);
        QVERIFY(m.connected());
    }

    void newChildExitStillCounts()
    {
        // The child that stopped before is replaced by a new one, whose exit counts.
        ScopedEnv service("CV_MAC_SERVICE", QByteArrayLiteral("/bin/sh"));
        ModelFixture f;
        f.host->start(true);
        f.launcher.launches.last().state->running = false;
        AppModel &m = f.model();
        f.client->alwaysError(QStringLiteral("status"), down());
        QCoro::Task<> exit = after(f.clock, 0.7, [&f] {
            f.launcher.launches.last().state->running = false;
            f.launcher.launches.last().state->status = 3;
        });
        run(AppModelAccess::startServiceIfNeeded(m));
        QCOMPARE(f.launcher.launches.size(), 2);
        QCOMPARE(m.serviceError(), std::optional<QString>(exitedText));
    }

    void retryWhileBusyDoesNothing_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::newRow("starting") << "starting";
        QTest::newRow("mutating") << "mutating";
        QTest::newRow("quitting") << "quitting";
    }

    void retryWhileBusyDoesNothing()
    {
        QFETCH(QString, flag);
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)));
        m.setStarting(flag == "starting");
        m.setMutating(flag == "mutating");
        AppModelAccess::quitting(m) = flag == "quitting";
        m.retryService();
        settle();
        QVERIFY(f.client->requests.isEmpty());
        QVERIFY(f.launcher.launches.isEmpty());
    }

    void retryAfterFailure()
    {
        ScopedEnv service("CV_MAC_SERVICE", QByteArrayLiteral("/bin/sh"));
        ModelFixture f;
        AppModel &m = f.model();
        f.client->queueError(QStringLiteral("status"), down());
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 4)));
        f.client->always(QStringLiteral("events"), wire::ok(wire::events({}, 4)));
        m.setStarting(false);
        m.setServiceError(QStringLiteral("The background service has not become ready. Open the service log, then retry."));
        m.retryService();
        // The start-up began at once: a second retry does nothing.
        QVERIFY(m.starting());
        m.retryService();
        QTRY_VERIFY(!m.starting() && f.client->ops().size() == 4);
        settle();
        // A complete start-up (status, start, status) and then one refresh.
        QCOMPARE(f.client->ops(), (QStringList{"status", "status", "events", "status"}));
        QCOMPARE(f.launcher.launches.size(), 1);
        QVERIFY(m.connected());
        QCOMPARE(m.serviceError(), std::nullopt);
    }

    void stopServiceThatExits()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always(QStringLiteral("quit"), wire::done());
        // "status" has nothing scripted: unreachable.
        run(AppModelAccess::stopService(m));
        QCOMPARE(f.client->ops(), (QStringList{"quit", "status"}));
        QCOMPARE(f.client->deadlines, (QList<std::optional<double>>{std::nullopt, std::nullopt}));
    }

    void stopServiceThatIgnoresQuit()
    {
        ModelFixture f;
        AppModel &m = f.model();
        m.setConnected(true);
        f.client->always(QStringLiteral("quit"), wire::done());
        QJsonObject changed = wire::status({wire::peer("p1", "Studio")}, 9);
        f.client->always(QStringLiteral("status"), wire::ok(changed));
        const double start = f.clock.uptime();
        QString error;
        try {
            run(AppModelAccess::stopService(m));
        } catch (const ServiceError &e) {
            error = e.message();
        }
        QCOMPARE(error, QStringLiteral("The background service didn’t stop."));
        QCOMPARE(f.client->sent(QStringLiteral("status")).size(), 40);
        QVERIFY(f.clock.uptime() - start >= 10.0);
        // The answers are not applied to the model.
        QVERIFY(!m.status());
    }

    void stopServiceFailures_data()
    {
        QTest::addColumn<bool>("quitFails");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("ops");
        QTest::newRow("quit refused") << true << "Not now." << QStringList{"quit"};
        QTest::newRow("status refused") << false << "Not now." << QStringList{"quit", "status"};
    }

    void stopServiceFailures()
    {
        QFETCH(bool, quitFails);
        QFETCH(QString, message);
        QFETCH(QStringList, ops);
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always(QStringLiteral("quit"), quitFails ? wire::refused(message) : wire::done());
        f.client->always(QStringLiteral("status"), wire::refused(message));
        QString error;
        try {
            run(AppModelAccess::stopService(m));
        } catch (const ServiceError &e) {
            error = e.message();
        }
        QCOMPARE(error, message);
        QCOMPARE(f.client->ops(), ops);
    }

    void stopServiceCancelled()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always(QStringLiteral("quit"), wire::done());
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)));
        QCoro::Task<> cancel = after(f.clock, 0.6, [&m] { AppModelAccess::pollingCancel(m).cancel(); });
        bool cancelled = false;
        try {
            run(AppModelAccess::stopService(m));
        } catch (const CancelledError &) {
            cancelled = true;
        }
        QVERIFY(cancelled);
        QCOMPARE(f.client->sent(QStringLiteral("status")).size(), 3);
    }
};

QTEST_GUILESS_MAIN(ModelStartupTest)
#include "tst_model_startup.moc"

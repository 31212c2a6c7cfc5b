#include "follow_helpers.h"

#include <QTest>

#include <algorithm>

using namespace cv;
using namespace cv::test;

namespace {

const QString notReadyText = QStringLiteral("The background service has not become ready. Open the service log, then retry.");
const QString exitedText = QStringLiteral("The background service exited (3). Open the service log for the underlying error.");

ServiceError down() { return ServiceError::unavailable(QStringLiteral("The background service is unavailable: No such file or directory.")); }

int kickstartCount(const ModelFixture &f)
{
    return int(std::count_if(f.launchctl.calls.begin(), f.launchctl.calls.end(),
                             [](const FakeLaunchctl::Call &c) { return c.verbs == QStringList{"kickstart"}; }));
}

// A child that ran earlier and has stopped with `status`.
void stoppedChild(ModelFixture &f, int status)
{
    f.host->start(true);
    f.launcher.launches.last().state->running = false;
    f.launcher.launches.last().state->status = status;
}

} // namespace

class ModelStartupTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(!developmentVariablesSet()); }

    void startsWhenNeeded_data()
    {
        QTest::addColumn<int>("unreachable");
        QTest::addColumn<int>("children");
        QTest::newRow("already running: one status, no start") << 0 << 0;
        // Polled every half second until the first answer.
        QTest::newRow("absent: one child started") << 4 << 1;
    }

    void startsWhenNeeded()
    {
        QFETCH(int, unreachable);
        QFETCH(int, children);
        ScopedEnv service("CV_MAC_SERVICE", QByteArrayLiteral("/bin/sh"));
        ModelFixture f;
        AppModel &m = f.model();
        QList<bool> starting;
        connect(&m, &AppModel::startingChanged, &m, [&] { starting << m.starting(); });
        for (int i = 0; i < unreachable; ++i)
            f.client->queueError(QStringLiteral("status"), down());
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 12)));
        const double start = f.clock.uptime();
        run(AppModelAccess::startServiceIfNeeded(m));
        QCOMPARE(f.launcher.launches.size(), children);
        if (children)
            QCOMPARE(f.launcher.launches.at(0).program, QStringLiteral("/bin/sh"));
        QVERIFY(f.launchctl.calls.isEmpty());
        QCOMPARE(f.client->ops(), QStringList(unreachable + 1, QStringLiteral("status")));
        QCOMPARE(std::deque<double>(f.clock.sleeps()), std::deque<double>(unreachable, 0.5));
        QCOMPARE(f.clock.uptime(), start + 0.5 * unreachable);
        // Each request carries the window's deadline.
        for (const auto &deadline : f.client->deadlines)
            QCOMPARE(deadline, std::optional<double>(start + 15.0));
        QCOMPARE(starting, (QList<bool>{true, false}));
        QVERIFY(m.connected());
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(12));
        QCOMPARE(m.serviceError(), std::nullopt);
    }

    void throughTheAgent_data()
    {
        QTest::addColumn<QByteArray>("launchd");
        QTest::addColumn<int>("unreachable"); // status answers refused first; -1: always
        QTest::addColumn<bool>("repairFails");
        QTest::addColumn<int>("kickstarts");
        QTest::addColumn<int>("children");
        QTest::addColumn<QString>("error");
        QTest::newRow("running agent kickstarted") << QByteArray("\tstate = running\n") << 2 << false << 1 << 0 << QString();
        QTest::newRow("stopped agent repaired") << QByteArray("state = not running\n") << 7 << false << 2 << 0 << QString();
        QTest::newRow("repair fails, child started") << QByteArray("state = not running\n") << 7 << true << 1 << 1 << QString();
        QTest::newRow("down after the repair, child started") << QByteArray("state = waiting\n") << -1 << false << 2 << 1
                                                               << notReadyText;
    }

    void throughTheAgent()
    {
        QFETCH(QByteArray, launchd);
        QFETCH(int, unreachable);
        QFETCH(bool, repairFails);
        QFETCH(int, kickstarts);
        QFETCH(int, children);
        QFETCH(QString, error);
        InstalledBundle installed;
        ModelFixture f;
        f.bundle = installed.bundle();
        auto agent = f.loginItems.agentItem;
        agent->setStatus(LoginItemStatus::enabled);
        if (repairFails)
            agent->registerError = QStringLiteral("not allowed");
        f.launchctl.output = launchd;
        AppModel &m = f.model();
        for (int i = 0; i < unreachable; ++i)
            f.client->queueError(QStringLiteral("status"), down());
        if (unreachable < 0)
            f.client->alwaysError(QStringLiteral("status"), down());
        else
            f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)));
        // A repair holds in its unregistering, so the test can see when it began.
        agent->holdUnregister = true;
        const double start = f.clock.uptime();
        QCoro::Task<> startUp = AppModelAccess::startServiceIfNeeded(m);
        if (!launchd.contains("= running")) {
            // At the first unreachable answer more than 2 s after the start request
            // (the one at 2.0 s is not yet late enough).
            QTRY_COMPARE(agent->unregisterWaiting, 1);
            QCOMPARE(f.clock.uptime() - start, 2.5);
            agent->release();
        }
        run(std::move(startUp));
        QCOMPARE(agent->unregisterCalls, launchd.contains("= running") ? 0 : 1);
        QCOMPARE(agent->registerCalls, launchd.contains("= running") ? 0 : 1);
        QCOMPARE(kickstartCount(f), kickstarts);
        QCOMPARE(f.launcher.launches.size(), children);
        QCOMPARE(m.serviceError(), error.isNull() ? std::nullopt : std::optional<QString>(error));
        QCOMPARE(m.connected(), error.isNull());
    }

    void startUpFails_data()
    {
        QTest::addColumn<QString>("service"); // CV_MAC_SERVICE: "child" /bin/sh, "none" empty
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("requests"); // -1: not checked
        QTest::addColumn<int>("children");
        QTest::addColumn<double>("elapsed"); // -1: not checked
        QJsonObject v2 = wire::status({}, 1);
        v2.insert(QStringLiteral("api_version"), 2);
        // The last pause ends at the window's end, and its request is refused by the
        // deadline: still the start-up text, not the request's time-out.
        QTest::newRow("silent service") << "child" << "down" << notReadyText << 30 << 1 << 15.0;
        QTest::newRow("answer too late inside the wait") << "child" << "slow" << notReadyText << -1 << 1 << -1.0;
        QTest::newRow("child exits") << "child" << "exit" << exitedText << -1 << 1 << 1.5;
        QTest::newRow("new child's exit counts") << "child" << "exit again" << exitedText << -1 << 2 << -1.0;
        QTest::newRow("window passed before the start")
            << "child" << "late refusal" << "Service startup timed out. Open the service log, then retry." << 1 << 0 << -1.0;
        QTest::newRow("nothing to start") << "none" << "down"
                                          << "The background service is missing. Build or install Corvane with "
                                             "cv-mac-service and nfsmount beside the app executable."
                                          << 1 << 0 << 0.0;
        QTest::newRow("first request times out")
            << "" << "late answer"
            << "The service request timed out. Its outcome will be checked before another action." << 1 << 0 << -1.0;
        QTest::newRow("api version") << "" << QString(wire::ok(v2))
                                     << "This app requires local API version 1. Update the app and service together."
                                     << 1 << 0 << 0.0;
        QTest::newRow("rejected") << "" << QString(wire::refused("Busy.")) << "Busy." << 1 << 0 << 0.0;
    }

    void startUpFails()
    {
        QFETCH(QString, service);
        QFETCH(QString, script);
        QFETCH(QString, error);
        QFETCH(int, requests);
        QFETCH(int, children);
        QFETCH(double, elapsed);
        std::optional<ScopedEnv> env;
        if (!service.isEmpty())
            env.emplace("CV_MAC_SERVICE", service == "child" ? QByteArrayLiteral("/bin/sh") : QByteArray());
        ModelFixture f;
        if (script == "exit again")
            stoppedChild(f, 0);
        AppModel &m = f.model();
        std::optional<QCoro::Task<>> exit;
        if (script.startsWith("exit"))
            exit.emplace(after(f.clock, script == "exit" ? 1.2 : 0.7, [&f] {
                f.launcher.launches.last().state->running = false;
                f.launcher.launches.last().state->status = 3;
            }));
        if (script == "slow") {
            f.client->queueError(QStringLiteral("status"), down());
            f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)), 20.0);
        } else if (script == "late answer") {
            f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)), 16.0);
        } else if (script == "late refusal") {
            f.client->queueError(QStringLiteral("status"), down(), 15.5);
        } else if (script.startsWith('{')) {
            f.client->always(QStringLiteral("status"), script.toUtf8());
        } else {
            f.client->alwaysError(QStringLiteral("status"), down());
        }
        const double start = f.clock.uptime();
        run(AppModelAccess::startServiceIfNeeded(m));
        QCOMPARE(m.serviceError(), std::optional<QString>(error));
        QCOMPARE(f.log.last(), QStringLiteral("service unavailable: ") + error);
        QVERIFY(!m.starting() && !m.connected());
        QCOMPARE(f.launcher.launches.size(), children);
        if (children == 0)
            QVERIFY(f.launchctl.calls.isEmpty());
        if (requests >= 0)
            QCOMPARE(f.client->ops().size(), requests);
        if (elapsed >= 0)
            QCOMPARE(f.clock.uptime(), start + elapsed);
        if (script == "down")
            QVERIFY(std::all_of(f.clock.sleeps().begin(), f.clock.sleeps().end(), [](double s) { return s <= 0.5; }));
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
        QCOMPARE(f.launcher.launches.size(), cancelAt < 0 ? 0 : 1);
        QCOMPARE(f.clock.uptime(), start + std::max(cancelAt, 0.0));
    }

    void staleExitTextDoesNotEndAnAgentStart()
    {
        // A child ran earlier in this run and was stopped on purpose; the service now
        // starts through the login agent and takes a moment to answer.
        InstalledBundle installed;
        ModelFixture f;
        f.bundle = installed.bundle();
        stoppedChild(f, 0);
        f.loginItems.agentItem->setStatus(LoginItemStatus::enabled);
        f.launchctl.output = "state = running\n";
        AppModel &m = f.model();
        QVERIFY(f.host->exitDescription());
        for (int i = 0; i < 3; ++i)
            f.client->queueError(QStringLiteral("status"), down());
        f.client->always(QStringLiteral("status"), wire::ok(wire::status({}, 1)));
        run(AppModelAccess::startServiceIfNeeded(m));
        QCOMPARE(kickstartCount(f), 1);
        QCOMPARE(m.serviceError(), std::nullopt);
        QVERIFY(m.connected());
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
        serveIdle(*f.client, 4);
        m.setStarting(false);
        m.setServiceError(notReadyText);
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

    void stopService_data()
    {
        QTest::addColumn<QByteArray>("quit");
        QTest::addColumn<QByteArray>("status"); // empty: unreachable
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("statusRequests");
        QTest::newRow("service exits") << wire::done() << QByteArray() << QString() << 1;
        QTest::newRow("service ignores quit")
            << wire::done() << wire::ok(wire::status({wire::peer("p1", "Studio")}, 9))
            << "The background service didn’t stop." << 40;
        QTest::newRow("quit refused") << wire::refused("Not now.") << QByteArray() << "Not now." << 0;
        QTest::newRow("status refused") << wire::done() << wire::refused("Not now.") << "Not now." << 1;
        // Cancelled at 0.6 s, in the third pause.
        QTest::newRow("cancelled") << wire::done() << wire::ok(wire::status({}, 1)) << "cancelled" << 3;
    }

    void stopService()
    {
        QFETCH(QByteArray, quit);
        QFETCH(QByteArray, status);
        QFETCH(QString, error);
        QFETCH(int, statusRequests);
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always(QStringLiteral("quit"), quit);
        if (!status.isEmpty())
            f.client->always(QStringLiteral("status"), status);
        const double start = f.clock.uptime();
        QCoro::Task<> cancel = after(f.clock, 0.6, [&m, error] {
            if (error == QLatin1String("cancelled"))
                AppModelAccess::pollingCancel(m).cancel();
        });
        QCOMPARE(thrown(AppModelAccess::stopService(m)), error);
        QCOMPARE(f.client->sent(QStringLiteral("status")).size(), statusRequests);
        QCOMPARE(f.client->deadlines.first(), std::nullopt);
        QCOMPARE(f.client->deadlines.last(), std::nullopt);
        // 40 polls 250 ms apart; the answers are not applied to the model.
        if (statusRequests == 40)
            QVERIFY(f.clock.uptime() - start >= 10.0);
        QVERIFY(!m.status());
    }

};

QTEST_GUILESS_MAIN(ModelStartupTest)
#include "tst_model_startup.moc"

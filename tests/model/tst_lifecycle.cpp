// Bringing the service up and down: the start-up window, start at sign-in, quitting,
// and the polling task that runs them.

#include "model_fixture.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <functional>

using namespace cv;
using namespace cv::test;

namespace {

using A = AppModelAccess;
using Setup = std::function<void(ModelFixture &)>;

const QString notReady = "The background service has not become ready. Open the service log, then retry.";
const QString exited = "The background service exited (3). Open the service log for the underlying error.";
const QString prefix = "Couldn't change start at sign-in: ";

ServiceError down() { return ServiceError::unavailable("The background service is unavailable: Connection refused."); }

// The last child started stops with `status`.
void childStops(ModelFixture &f, int status)
{
    f.launcher.launches.last().state->running = false;
    f.launcher.launches.last().state->status = status;
}

// A child that ran earlier in this run and has stopped.
void stoppedChild(ModelFixture &f)
{
    f.host->start(true);
    childStops(f, 0);
}

// Unreachable `times` times, then answering (after `delay` seconds).
Setup comesUpAfter(int times, double delay = 0)
{
    return [=](ModelFixture &f) {
        for (int i = 0; i < times; ++i)
            f.client->queueError("status", down());
        f.client->always("status", reply(status({.sequence = 12})), delay);
    };
}

int kickstarts(const ModelFixture &f)
{
    return int(std::count_if(f.launchctl.calls.begin(), f.launchctl.calls.end(),
                             [](const FakeLaunchctl::Call &c) { return c.verbs == QStringList{"kickstart"}; }));
}

// An installed application (its login agent `agent`) whose service runs and
// answers; once after a "quit" it is gone.
struct SignIn {
    explicit SignIn(LoginItemStatus agent = LoginItemStatus::notRegistered)
    {
        f.bundle = installed.bundle();
        f.loginItems.agentItem->setStatus(agent);
        f.launchctl.output = "state = running\n";
        AppModel &m = f.model();
        m.setConnected(true);
        m.setStarting(false);
        m.setError("an older error");
        f.host->refreshLogin();
        QObject::connect(&m, &AppModel::mutatingChanged, &m, [this, &m] { mutating << m.mutating(); });
        f.client->always("quit", reply());
        f.client->queueError("status", down());
        serveIdle(*f.client, 3);
    }
    InstalledApp installed;
    ModelFixture f;
    QList<bool> mutating;
};
using SignInSetup = std::function<void(SignIn &)>;

} // namespace

// A start-up: the service's answers, CV_MAC_SERVICE, the error shown (empty:
// connected), the requests and children it took, the seconds it took (-1: not checked).
struct StartUp { Setup setup; QByteArray service; QString error; int requests, children; double elapsed; };
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(SignInSetup)
Q_DECLARE_METATYPE(StartUp)

// A start through the login agent: launchd's answer, how often the service is
// unreachable first (-1: always), whether the repair fails, whether a child of this
// run stopped earlier; the kickstarts and children it took and the error shown.
struct AgentStart { QByteArray launchd; int unreachable; bool repairFails, stoppedBefore; int kickstarts, children; QString error; };
Q_DECLARE_METATYPE(AgentStart)
// A stop: the answers to "quit" and "status" (empty: unreachable), the error, the
// status requests and the seconds it took.
struct Stop { QByteArray quit, status; QString error; int statusRequests; double elapsed; };
Q_DECLARE_METATYPE(Stop)
// A quit: the state, the answer to "quit" (empty: unreachable), the error (empty: it
// quits), the requests and the seconds it waited.
struct Quit { Setup setup; QByteArray quit; QString error; QStringList ops; double waited; };
Q_DECLARE_METATYPE(Quit)
// The state before the automatic start at sign-in; the requests it took, whether it
// is marked tried and whether the agent ends up enabled.
struct ByDefault { SignInSetup setup; QStringList ops; bool defaulted, enabled; };
Q_DECLARE_METATYPE(ByDefault)

class LifecycleTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv("CV_MAC_STATE_DIR"); }

    // The start-up of a development run: a status request, and when the service is
    // not running a child started and asked every half second for 15 s at most.
    void startUp_data()
    {
        QTest::addColumn<StartUp>("row");
        const QByteArray sh = "/bin/sh";
        const auto downAlways = [](ModelFixture &f) { f.client->alwaysError("status", down()); };
        const auto exitAt = [downAlways](double when) {
            return Setup([=](ModelFixture &f) { downAlways(f); at(f.clock, when, [&f] { childStops(f, 3); }); });
        };
        QTest::newRow("running") << StartUp{comesUpAfter(0), sh, "", 1, 0, 0.0};
        QTest::newRow("absent: started, polled") << StartUp{comesUpAfter(4), sh, "", 5, 1, 2.0};
        // The last pause ends at the window's end; its request is refused by the deadline.
        QTest::newRow("silent") << StartUp{downAlways, sh, notReady, 30, 1, 15.0};
        // A request still waiting when the window ends is the same "not ready".
        QTest::newRow("answer too late") << StartUp{comesUpAfter(1, 20), sh, notReady, 2, 1, -1};
        // A running service that does not answer is not started again.
        QTest::newRow("first request times out") << StartUp{comesUpAfter(0, 16), sh,
                                                            "The service request timed out. Its outcome will be checked before another action.", 1, 0, 16.0};
        QTest::newRow("child exits") << StartUp{exitAt(1.2), sh, exited, -1, 1, 1.5};
        QTest::newRow("new child's exit counts") << StartUp{[=](ModelFixture &f) { stoppedChild(f); exitAt(0.7)(f); }, sh, exited, -1, 2, -1};
        QTest::newRow("window passed before the start") << StartUp{[](ModelFixture &f) { f.client->queueError("status", down(), 15.5); },
                                                                   sh, "Service startup timed out. Open the service log, then retry.", 1, 0, 15.5};
        // An error that is not the time-out ends the window with its own text.
        QTest::newRow("invalid answer after the window") << StartUp{[](ModelFixture &f) {
            f.client->queueError("status", down());
            f.client->queueError("status", ServiceError::invalid("The socket does not belong to this user."), 16);
        }, sh, "The socket does not belong to this user.", 2, 1, 16.5};
        QTest::newRow("nothing to start") << StartUp{downAlways, {}, "The background service is missing. Build or install Corvane with "
                                                                     "cv-mac-service and nfsmount beside the app executable.", 1, 0, 0.0};
        QTest::newRow("api version") << StartUp{[](ModelFixture &f) { f.client->always("status", reply(status({.api = 2}))); }, sh,
                                                "This app requires local API version 1. Update the app and service together.", 1, 0, 0.0};
        // A cancelled start-up ends silently, the earlier error left as it was.
        const auto cancelAt = [downAlways](double when) {
            return Setup([=](ModelFixture &f) {
                downAlways(f);
                f.model().setServiceError("earlier");
                at(f.clock, when, [&f] { A::pollingCancel(f.model()).cancel(); });
            });
        };
        QTest::newRow("cancelled while waiting") << StartUp{cancelAt(1.2), sh, "earlier", 3, 1, 1.2};
    }

    void startUp()
    {
        QFETCH(StartUp, row);
        const auto &[setup, service, error, requests, children, elapsed] = row;
        ScopedEnv env("CV_MAC_SERVICE", service);
        ModelFixture f;
        AppModel &m = f.model();
        QList<bool> starting;
        connect(&m, &AppModel::startingChanged, &m, [&] { starting << m.starting(); });
        const double start = f.clock.uptime();
        setup(f);
        outcome(A::startServiceIfNeeded(m));
        QCOMPARE(m.serviceError(), error.isEmpty() ? std::nullopt : std::optional<QString>(error));
        QCOMPARE(starting, (QList<bool>{true, false}));
        QCOMPARE(m.connected(), error.isEmpty());
        QCOMPARE(f.launcher.launches.size(), children);
        QVERIFY(f.launchctl.calls.isEmpty());
        if (requests >= 0)
            QCOMPARE(f.client->requests.size(), requests);
        if (elapsed >= 0)
            QCOMPARE(f.clock.uptime() - start, elapsed);
        for (const auto &deadline : f.client->deadlines)
            QCOMPARE(deadline, start + 15.0);
        if (error.isEmpty())
            QCOMPARE(A::cursor(m), 12u);
    }

    // Through an enabled login agent: kickstarted; repaired when still unreachable
    // more than 2 s after the start (at the pause ending at 2.5 s); a child started
    // when the repair fails or the agent stays down.
    void throughTheAgent_data()
    {
        QTest::addColumn<AgentStart>("row");
        QTest::newRow("running agent") << AgentStart{"state = running\n", 2, false, false, 1, 0, ""};
        // The stopped child's exit text does not end a start through the agent.
        QTest::newRow("running agent, old child") << AgentStart{"state = running\n", 3, false, true, 1, 1, ""};
        QTest::newRow("stopped agent repaired") << AgentStart{"state = not running\n", 7, false, false, 2, 0, ""};
        QTest::newRow("repair fails") << AgentStart{"state = not running\n", 7, true, false, 1, 1, ""};
        QTest::newRow("down after the repair") << AgentStart{"state = waiting\n", -1, false, false, 2, 1, notReady};
    }

    void throughTheAgent()
    {
        QFETCH(AgentStart, row);
        const auto &[launchd, unreachable, repairFails, stoppedBefore, kickstarts, children, error] = row;
        InstalledApp installed;
        ModelFixture f;
        f.bundle = installed.bundle();
        if (stoppedBefore)
            stoppedChild(f);
        auto agent = f.loginItems.agentItem;
        agent->setStatus(LoginItemStatus::enabled);
        if (repairFails)
            agent->registerError = "not allowed";
        agent->holdUnregister = true;
        f.launchctl.output = launchd;
        AppModel &m = f.model();
        unreachable < 0 ? f.client->alwaysError("status", down()) : comesUpAfter(unreachable)(f);
        const double start = f.clock.uptime();
        QCoro::Task<> startUp = A::startServiceIfNeeded(m);
        const bool repair = !launchd.contains("= running");
        if (repair) {
            QTRY_COMPARE(agent->unregisterWaiting, 1);
            QCOMPARE(f.clock.uptime() - start, 2.5);
            agent->release();
        }
        outcome(std::move(startUp));
        QCOMPARE(agent->registerCalls, int(repair));
        QCOMPARE(::kickstarts(f), kickstarts);
        QCOMPARE(f.launcher.launches.size(), children);
        QCOMPARE(m.serviceError(), error.isEmpty() ? std::nullopt : std::optional<QString>(error));
        QCOMPARE(m.connected(), error.isEmpty());
    }

    void retry_data()
    {
        QTest::addColumn<QString>("busy");
        QTest::addColumn<QStringList>("ops");
        // A complete start-up (status, start, status), then one refresh.
        QTest::newRow("after a failure") << "" << QStringList{"status", "status", "events", "status"};
        QTest::newRow("while starting") << "starting" << QStringList{};
        QTest::newRow("while mutating") << "mutating" << QStringList{};
        QTest::newRow("while quitting") << "quitting" << QStringList{};
    }

    void retry()
    {
        QFETCH(QString, busy);
        QFETCH(QStringList, ops);
        ScopedEnv service("CV_MAC_SERVICE", "/bin/sh");
        ModelFixture f;
        AppModel &m = f.model();
        f.client->queueError("status", down());
        serveIdle(*f.client, 4);
        m.setStarting(busy == "starting");
        m.setMutating(busy == "mutating");
        A::quitting(m) = busy == "quitting";
        m.retryService();
        // A start-up began at once: a second retry does nothing.
        QCOMPARE(m.starting(), busy != "mutating" && busy != "quitting");
        m.retryService();
        settle(100);
        QCOMPARE(f.client->ops(), ops);
        QCOMPARE(f.launcher.launches.size(), int(!ops.isEmpty()));
        QCOMPARE(m.connected(), !ops.isEmpty());
    }

    // Stopping: "quit", then a status every 250 ms until it is unreachable (40 at most).
    void stopService_data()
    {
        QTest::addColumn<Stop>("row");
        QTest::newRow("service exits") << Stop{reply(), {}, "", 1, 0.0};
        QTest::newRow("service ignores quit") << Stop{reply(), reply(status({.peers = {peer("p1")}})), "invalid: The background service didn’t stop.", 40, 10.0};
        QTest::newRow("quit refused") << Stop{refusal("Not now."), {}, "rejected: Not now.", 0, 0.0};
        QTest::newRow("status refused") << Stop{reply(), refusal("Not now."), "rejected: Not now.", 1, 0.0};
        // Cancelled at 0.6 s, in the third pause.
        QTest::newRow("cancelled") << Stop{reply(), reply(status()), "The operation was cancelled.", 3, 0.6};
    }

    void stopService()
    {
        QFETCH(Stop, row);
        const auto &[quit, status, error, statusRequests, elapsed] = row;
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always("quit", quit);
        if (!status.isEmpty())
            f.client->always("status", status);
        const double start = f.clock.uptime();
        if (error.contains("cancelled"))
            at(f.clock, 0.6, [&m] { A::pollingCancel(m).cancel(); });
        QCOMPARE(outcome(A::stopService(m)).error, error.isEmpty() ? std::nullopt : std::optional<QString>(error));
        QCOMPARE(f.client->sent("status").size(), statusRequests);
        QVERIFY(std::all_of(f.client->deadlines.begin(), f.client->deadlines.end(), [](auto d) { return !d; }));
        QCOMPARE(f.clock.uptime() - start, elapsed);
        QVERIFY(!m.status());
    }

    // Turning start at sign-in on or off: the service stopped, the agent (un)registered,
    // the service brought up again the usual way where the agent does not, a refresh.
    void setStartAtLogin_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("on");
        QTest::addColumn<SignInSetup>("failure");
        QTest::addColumn<QStringList>("ops"); // the last ones sent
        QTest::addColumn<QString>("error");
        const SignInSetup none = [](SignIn &) {};
        const QStringList restarted{"status", "events", "status"};
        QTest::newRow("already on") << true << true << none << QStringList{} << "";
        QTest::newRow("already off") << false << false << none << QStringList{} << "";
        QTest::newRow("turn on") << false << true << none << QStringList{"quit", "status", "status"} << "";
        QTest::newRow("turn off") << true << false << none << QStringList{"quit", "status", "status", "events", "status"} << "";
        QTest::newRow("service did not stop") << false << true << SignInSetup([](SignIn &s) { s.f.client->clear("status"); serveIdle(*s.f.client, 3); }) << restarted
                                              << prefix + "The background service didn’t stop.";
        QTest::newRow("quit refused") << false << true << SignInSetup([](SignIn &s) { s.f.client->always("quit", refusal("Not now.")); })
                                      << restarted << prefix + "Not now.";
        QTest::newRow("registration refused") << false << true << SignInSetup([](SignIn &s) { s.f.loginItems.agentItem->registerError = "Operation not permitted"; })
                                              << restarted << prefix + "Operation not permitted";
    }

    void setStartAtLogin()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, on);
        QFETCH(SignInSetup, failure);
        QFETCH(QStringList, ops);
        QFETCH(QString, error);
        SignIn s(enabled ? LoginItemStatus::enabled : LoginItemStatus::notRegistered);
        failure(s);
        outcome(s.f.model().setStartAtLogin(on));
        const QStringList sent = s.f.client->ops();
        QCOMPARE(error.isEmpty() ? sent : sent.mid(sent.size() - 3), ops);
        QCOMPARE(s.f.host->loginEnabled(), error.isEmpty() ? on : enabled);
        QCOMPARE(s.f.model().error(), error.isEmpty() ? "an older error" : error);
        QCOMPARE(s.mutating, (enabled == on ? QList<bool>{} : QList<bool>{true, false}));
        QCOMPARE(s.f.loginItems.agentItem->unregisterCalls, int(enabled && !on));
        QVERIFY(s.f.model().connected());
    }

    // Tried once per user, after the first start-up, when it can be tried at all; a
    // failed or unapproved attempt leaves no error of its own and the service as before.
    void byDefault_data()
    {
        QTest::addColumn<ByDefault>("row");
        const auto agent = [](LoginItemStatus status) {
            return SignInSetup([=](SignIn &s) {
                s.f.loginItems.agentItem->setStatus(status);
                s.f.host->refreshLogin();
            });
        };
        QTest::newRow("first launch") << ByDefault{[](SignIn &) {}, {"quit", "status", "status"}, true, true};
        QTest::newRow("no service yet") << ByDefault{[](SignIn &s) { s.f.model().setConnected(false); }, {}, false, false};
        QTest::newRow("command in flight") << ByDefault{[](SignIn &s) { s.f.model().setMutating(true); }, {}, true, false};
        QTest::newRow("development run") << ByDefault{[](SignIn &) { qputenv("CV_MAC_STATE_DIR", "/tmp/state"); }, {}, false, false};
        QTest::newRow("no agent") << ByDefault{[](SignIn &s) { s.f.bundle = AppBundle(s.f.bundle.executablePath(), AppBundle::defaultInfo()); }, {}, false, false};
        QTest::newRow("second launch") << ByDefault{[](SignIn &s) { s.f.defaults->setBool("startAtLoginDefaulted", true); }, {}, true, false};
        QTest::newRow("already enabled") << ByDefault{agent(LoginItemStatus::enabled), {}, true, true};
        QTest::newRow("waiting for approval") << ByDefault{agent(LoginItemStatus::requiresApproval), {}, true, false};
        // Registered, found waiting for approval, unregistered, the service brought up as before.
        QTest::newRow("approval needed after registering") << ByDefault{[](SignIn &s) { s.f.loginItems.agentItem->statusAfterRegister = LoginItemStatus::requiresApproval; },
                                                                        {"quit", "status", "status", "status"}, true, false};
        QTest::newRow("registration refused") << ByDefault{[](SignIn &s) { s.f.loginItems.agentItem->registerError = "Operation not permitted"; },
                                                           {"quit", "status", "status", "events", "status"}, true, false};
    }

    void byDefault()
    {
        QFETCH(ByDefault, row);
        const auto &[setup, ops, defaulted, enabled] = row;
        SignIn s;
        setup(s);
        outcome(A::startAtLoginByDefault(s.f.model()));
        QCOMPARE(s.f.client->ops(), ops);
        QCOMPARE(s.f.defaults->stored().contains("startAtLoginDefaulted"), defaulted);
        QCOMPARE(s.f.host->loginEnabled(), enabled);
        QCOMPARE(s.f.model().error(), "an older error");
        QCOMPARE(s.f.loginItems.agentItem->registerCalls, int(!ops.isEmpty()));
        QCOMPARE(s.f.loginItems.agentItem->unregisterCalls, int(ops.size() == 4));
    }

    // A quit waits (100 ms steps, 20 s at most) for a command or start-up, then
    // asks the service to quit; a service never reached has nothing to stop.
    void quit_data()
    {
        QTest::addColumn<Quit>("row");
        const Setup reached = [](ModelFixture &f) {
            f.client->queue("status", reply(status({.sequence = 1})));
            outcome(f.model().refresh());
            f.client->requests.clear();
            f.client->deadlines.clear();
        };
        // A command ends 3 s later; a cancelled polling task does not cut the wait short.
        const auto afterCommand = [=](bool cancelled) {
            return Setup([=](ModelFixture &f) {
                reached(f);
                if (cancelled)
                    A::pollingCancel(f.model()).cancel();
                f.model().setMutating(true);
                at(f.clock, 3.0, [&f] { f.model().setMutating(false); });
            });
        };
        const QString stopFailed = "Couldn’t stop sharing safely: " + down().message();
        QTest::newRow("at once") << Quit{reached, reply(), "", {"quit"}, 0.0};
        QTest::newRow("after a command") << Quit{afterCommand(false), reply(), "", {"quit"}, 3.0};
        QTest::newRow("polling cancelled, after a command") << Quit{afterCommand(true), reply(), "", {"quit"}, 3.0};
        QTest::newRow("start-up still running") << Quit{[](ModelFixture &f) { f.model().setStarting(true); }, reply(),
                                                        "Wait for the current action or service startup to finish before quitting.", {}, 20.0};
        QTest::newRow("never reached") << Quit{[](ModelFixture &) {}, {}, "", {"quit"}, 0.0};
        // (With the event cursor set, a refresh begins with "events".)
        QTest::newRow("lost after reached") << Quit{reached, {}, stopFailed, {"quit", "events"}, 0.0};
        QTest::newRow("own child still runs") << Quit{[](ModelFixture &f) { f.host->start(true); }, {}, stopFailed, {"quit", "status"}, 0.0};
    }

    void quit()
    {
        QFETCH(Quit, row);
        const auto &[setup, quit, error, ops, waited] = row;
        ScopedEnv service("CV_MAC_SERVICE", "/bin/sh");
        ModelFixture f;
        AppModel &m = f.model();
        m.setStarting(false);
        setup(f);
        quit.isEmpty() ? f.client->alwaysError("quit", down()) : f.client->always("quit", quit);
        f.client->clear("status");
        const double start = f.clock.uptime();
        const bool quits = *outcome(m.quit()).value;
        QCOMPARE(quits, error.isEmpty());
        QCOMPARE(m.error(), error.isEmpty() ? std::nullopt : std::optional<QString>(error));
        QCOMPARE(f.client->ops(), ops);
        QVERIFY(f.clock.uptime() - start >= waited && f.clock.uptime() - start <= waited + 0.1 + 1e-6);
        // Until the process ends, still quitting and busy, and nothing more is sent.
        QCOMPARE(A::quitting(m), quits);
        QCOMPARE(m.mutating(), quits);
        outcome(m.refresh());
        if (quits)
            QCOMPARE(f.client->ops(), ops);
        QCOMPARE(f.client->deadlines.value(0), std::nullopt);
    }

    // The polling task: the permission read, the start-up and the automatic start at
    // sign-in come before the first pass; a pass every 0.75 s whatever happened.
    void polling_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QStringList>("ops");
        QTest::newRow("development build") << false << QStringList{"status", "events", "status", "events", "status"};
        QTest::newRow("installed") << true << QStringList{"status", "quit", "status", "events", "status", "events", "status"};
    }

    void polling()
    {
        QFETCH(bool, installed);
        QFETCH(QStringList, ops);
        InstalledApp app;
        ModelFixture f;
        if (installed)
            f.bundle = app.bundle();
        f.launchctl.output = "state = running\n";
        AppModel &m = f.model();
        QSignalSpy login(f.host.get(), &ServiceHost::loginDetailChanged);
        f.client->queue("status", reply(status({.sequence = 5})));
        if (installed)
            f.client->queueError("status", down());
        serveIdle(*f.client, 5);
        f.client->always("quit", reply());
        const double start = f.clock.uptime();
        m.start();
        QVERIFY(!login.isEmpty());
        QTRY_VERIFY(f.client->requests.size() >= 7);
        QVERIFY(*outcome(m.quit()).value);
        QTRY_VERIFY(A::polling(m)->isReady());
        QCOMPARE(f.client->ops().mid(0, ops.size()), ops);
        QCOMPARE(f.client->ops().last(), "quit");
        QCOMPARE(f.client->deadlines.at(0), start + 15.0);
        QCOMPARE(f.client->deadlines.last(), std::nullopt);
        QCOMPARE(f.host->loginEnabled(), installed);
        QVERIFY(f.notifications->statusQueries() >= 1);
        QVERIFY(std::all_of(f.clock.sleeps().begin(), f.clock.sleeps().end(), [](double s) { return s == 0.75; }));
    }

    void pollingGoesOnAfterAFailedStartUp()
    {
        ScopedEnv service("CV_MAC_SERVICE", "");
        ModelFixture f;
        AppModel &m = f.model();
        m.start();
        QTRY_VERIFY(f.clock.sleeps().size() >= 5);
        A::quitting(m) = true;
        A::pollingCancel(m).cancel();
        QTRY_VERIFY(A::polling(m)->isReady());
        QVERIFY(!m.starting() && !m.connected() && f.cable->pluggedProbes() >= 1);
    }

    // While a quit is under way no pass begins, but the pass under way ends; a
    // refused quit lets the passes go on; only the cancellation ends the task.
    void pollingWhileQuitting()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.client->queue("status", reply(status({.sequence = 5})));
        f.client->queue("status", reply(status({.sequence = 5})), 1.0);
        serveIdle(*f.client, 5);
        f.client->always("quit", refusal("Copies are running."), 3.0);
        m.start();
        at(f.clock, 0.5, [&m] { A::quitting(m) = true; });
        QTRY_VERIFY(f.clock.sleeps().size() >= 6);
        QCOMPARE(f.client->ops(), (QStringList{"status", "events", "status"}));
        QCOMPARE(f.cable->pluggedProbes(), 1);
        A::quitting(m) = false;
        QVERIFY(!*outcome(m.quit()).value);
        const qsizetype afterQuit = f.client->requests.size();
        QCOMPARE(f.client->ops().mid(f.client->ops().lastIndexOf("quit")), (QStringList{"quit", "events", "status"}));
        QTRY_VERIFY(f.client->requests.size() >= afterQuit + 4);
        QVERIFY(!A::polling(m)->isReady());
        A::pollingCancel(m).cancel();
        QTRY_VERIFY(A::polling(m)->isReady());
    }

    // A quit cancels the pause: the task ends without waiting out the 750 ms.
    void quitEndsThePause()
    {
        ModelFixture f;
        AppModel &m = f.model();
        serveIdle(*f.client, 5);
        f.client->always("quit", reply());
        f.clock.setAutoAdvance(false);
        m.start();
        QTRY_COMPARE(f.clock.sleeperCount(), 1);
        QVERIFY(*outcome(m.quit()).value);
        QTRY_VERIFY(A::polling(m)->isReady());
        QCOMPARE(f.client->ops(), (QStringList{"status", "events", "status", "quit"}));
    }
};

QTEST_GUILESS_MAIN(LifecycleTest)
#include "tst_lifecycle.moc"

// Bringing the service up and down: the start-up window, start at sign-in, quitting,
// the polling task that runs them, and work that outlives the model.

#include "model_fixture.h"

#include <QTest>

#include <cerrno>

#include <algorithm>
#include <functional>

using namespace cv;
using namespace cv::test;

namespace {

using A = AppModelAccess;
using Setup = std::function<void(ModelFixture &)>;

const QString prefix = "Couldn't change start at sign-in: ";

ServiceError down() { return ServiceError::unavailable("The background service is unavailable: Connection refused."); }

// Unreachable `times` times, then answering (after `delay` seconds).
Setup comesUpAfter(int times, double delay = 0)
{
    return [=](ModelFixture &f) {
        for (int i = 0; i < times; ++i)
            f.client->queueError("status", down());
        f.client->always("status", reply(status({.sequence = 12})), delay);
    };
}

// An installed application whose service runs and answers; once after a "quit" it
// is gone.
struct SignIn {
    SignIn()
    {
        f.bundle = installed.bundle();
        f.launchctl.output = "state = running\n";
        f.model().setConnected(true);
        f.model().setStarting(false);
        f.model().setError("an older error");
        f.host->refreshLogin();
        f.client->always("quit", reply());
        f.client->queueError("status", down());
        serveIdle(*f.client, 3);
    }
    InstalledApp installed;
    ModelFixture f;
};
using SignInSetup = std::function<void(SignIn &)>;

} // namespace

// A start-up: the service's answers, the error shown (empty: connected), the requests
// (-1: not checked) and children it took, the seconds it took.
struct StartUp { Setup setup; QString error; int requests, children; double elapsed; };
// A quit: the state, whether "quit" is answered, the error (empty: it quits), the
// requests and the seconds it waited.
// `signalled`: the system ends the application (SIGTERM); `childEnds`: the app's own
// child is ended.
// `stops`: when set, the stops of the agent asked of the manager.
struct Quit { Setup setup; bool answered; QString error; QStringList ops; double waited; bool signalled = false; bool childEnds = false; int stops = -1; };
// A change of start at sign-in: the setup and the change; the requests (empty with
// an error: not checked), the error, the seconds it took, whether the agent ends enabled.
using Act = std::function<QCoro::Task<>(AppModel &)>;
// `shown`: when set, the service error the model shows afterwards.
struct SignInRow { SignInSetup setup; Act act; QStringList ops; QString error; double elapsed; bool enabled; std::optional<QString> shown = {}; };
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(SignInSetup)
Q_DECLARE_METATYPE(StartUp)
Q_DECLARE_METATYPE(Quit)
Q_DECLARE_METATYPE(SignInRow)

class LifecycleTest : public QObject {
    Q_OBJECT

private slots:

    // A status request, and when the service is not running a child started and asked
    // every half second for 15 s at most.
    void startUp_data()
    {
        QTest::addColumn<StartUp>("row");
        const auto downAlways = [](ModelFixture &f) { f.client->alwaysError("status", down()); };
        QTest::newRow("absent: started, polled") << StartUp{comesUpAfter(4), "", 5, 1, 2.0};
        QTest::newRow("silent") << StartUp{downAlways, "The background service has not become ready. Open the service log, then retry.", 30, 1, 15.0};
        // A running service that does not answer is not started again.
        QTest::newRow("first request times out") << StartUp{comesUpAfter(0, 16), "The service request timed out. Its outcome will be checked before another action.", 1, 0, 16.0};
        QTest::newRow("child exits") << StartUp{[=](ModelFixture &f) { downAlways(f); at(f.clock, 1.2, [&f] { f.launcher.launches.last().state->running = false, f.launcher.launches.last().state->status = 3; }); },
                                                "The background service exited (3). Open the service log for the underlying error.", -1, 1, 1.5};
        // An error that is not the time-out ends the window with its own text.
        QTest::newRow("invalid answer after the window") << StartUp{[](ModelFixture &f) {
            f.client->queueError("status", down());
            f.client->queueError("status", ServiceError::invalid("The socket does not belong to this user."), 16);
        }, "The socket does not belong to this user.", 2, 1, 16.5};
        // An installed application whose login agent is enabled and not running: the
        // manager does not answer its start, or refuses it. A start not taken on 5 s
        // after it was asked is given up (and called off) for a child, which is also what
        // a refusal gets at once; no repair of an agent the manager is busy with.
        const auto agentStart = [](bool held, std::optional<QString> refusal, int downs) {
            return Setup([=](ModelFixture &f) {
                static InstalledApp installed;
                qunsetenv("CV_MAC_SERVICE"); // the case's own setting comes back at its end
                f.bundle = installed.bundle();
                f.loginItems.agentItem->setStatus(LoginItemStatus::enabled);
                f.launchctl.kickstartHeld = held;
                f.launchctl.kickstartError = refusal;
                comesUpAfter(downs)(f);
            });
        };
        QTest::newRow("agent's start not taken on in time") << StartUp{agentStart(true, {}, 12), "", 13, 1, 5.5};
        QTest::newRow("agent's start refused") << StartUp{agentStart(false, "Access denied", 2), "", 3, 1, 1.0};
        QTest::newRow("api version") << StartUp{[](ModelFixture &f) { f.client->always("status", reply(status({.api = 2}))); },
                                                "This app requires local API version 1. Update the app and service together.", 1, 0, 0.0};
        // Cancelled, it ends silently, the earlier error left as it was.
        QTest::newRow("cancelled while waiting") << StartUp{[=](ModelFixture &f) {
            downAlways(f);
            f.model().setServiceError("earlier");
            at(f.clock, 1.2, [&f] { A::pollingCancel(f.model()).cancel(); });
        }, "earlier", 3, 1, 1.2};
    }

    void startUp()
    {
        QFETCH(StartUp, row);
        ScopedEnv service("CV_MAC_SERVICE", "/bin/sh");
        ModelFixture f;
        AppModel &m = f.model();
        const double start = f.clock.uptime();
        row.setup(f);
        outcome(A::startServiceIfNeeded(m));
        QCOMPARE(m.serviceError().value_or(""), row.error);
        QVERIFY(!m.starting());
        QCOMPARE(m.connected(), row.error.isEmpty());
        QCOMPARE(f.launcher.launches.size(), row.children);
        if (row.requests >= 0)
            QCOMPARE(f.client->requests.size(), row.requests);
        QCOMPARE(f.clock.uptime() - start, row.elapsed);
        for (const auto &deadline : f.client->deadlines)
            QCOMPARE(deadline, start + 15.0);
    }

    // Turning start at sign-in on or off: the service stopped ("quit", then a status
    // every 250 ms until it is unreachable, 40 at most), the agent (un)registered, the
    // service brought up again the usual way where the agent does not, a refresh. Tried
    // once by default after the first start-up; a failed or unapproved attempt leaves
    // no error of its own.
    void startAtLogin_data()
    {
        QTest::addColumn<SignInRow>("row");
        const SignInSetup none = [](SignIn &) {};
        const Act on = [](AppModel &m) { return m.setStartAtLogin(true); }, byDefault = [](AppModel &m) { return A::startAtLoginByDefault(m); };
        // Stopped ("quit", a status that finds it gone), then (the hand-over, or brought up
        // again) a status that finds it running, and the refresh.
        const QStringList restarted{"quit", "status", "status", "events", "status"};
        const SignInSetup refused = [](SignIn &s) { s.f.loginItems.agentItem->registerError = "Operation not permitted"; };
        // The hand-over is a start-up: it ends when the agent's service answers.
        QTest::newRow("turn on") << SignInRow{none, on, restarted, "", 0, true};
        QTest::newRow("turn off") << SignInRow{[](SignIn &s) { s.f.loginItems.agentItem->setStatus(LoginItemStatus::enabled); s.f.host->refreshLogin(); },
                                               [](AppModel &m) { return m.setStartAtLogin(false); }, restarted, "", 0, false};
        // The disable refused, yet the unit no longer enabled (say, its reload refused):
        // the agent would not run the service, so the one brought up for the change runs on.
        QTest::newRow("turn off refused, the unit disabled") << SignInRow{[](SignIn &s) {
            FakeLoginItem &agent = *s.f.loginItems.agentItem;
            agent.setStatus(LoginItemStatus::enabled);
            s.f.host->refreshLogin();
            agent.holdUnregister = true;
            agent.unregisterError = "Operation not permitted";
            at(s.f.clock, 0.5, [&agent] { agent.setStatus(LoginItemStatus::notRegistered), agent.release(); });
        }, [](AppModel &m) { return m.setStartAtLogin(false); }, restarted, "Operation not permitted", 0.5, false};
        QTest::newRow("service did not stop") << SignInRow{[](SignIn &s) { s.f.client->clear("status"); serveIdle(*s.f.client, 3); }, on, {},
                                                           "The background service didn’t stop.", 10.0, false};
        // The service, leaving, takes a status question and closes without reading it:
        // it is stopping, not failing.
        QTest::newRow("status reset by the leaving service") << SignInRow{[](SignIn &s) {
            s.f.client->clear("status");
            s.f.client->queueError("status", ServiceError::invalid("Read service response: Connection reset by peer.").withSystemCode(ECONNRESET));
            s.f.client->queueError("status", down());
            serveIdle(*s.f.client, 3);
        }, on, {"quit", "status", "status", "status", "events", "status"}, "", 0.5, true};
        QTest::newRow("quit refused") << SignInRow{[](SignIn &s) { s.f.client->always("quit", refusal("Not now.")); }, on, restarted, "Not now.", 0.5, false};
        // Refused before the service was stopped: it runs on.
        QTest::newRow("registration refused") << SignInRow{refused, on, restarted.mid(1), "Operation not permitted", 0.5, false};
        QTest::newRow("by default") << SignInRow{none, byDefault, restarted, "", 0, true};
        QTest::newRow("by default, no service yet") << SignInRow{[](SignIn &s) { s.f.model().setConnected(false); }, byDefault, {}, "", 0, false};
        QTest::newRow("by default, second launch") << SignInRow{[](SignIn &s) { s.f.defaults->setBool("startAtLoginDefaulted", true); }, byDefault, {}, "", 0, false};
        // The user chose first (here: off, as it is): no automatic change after that.
        QTest::newRow("by default, after the user's own choice")
            << SignInRow{[](SignIn &s) { QCoro::Task<> off = s.f.model().setStartAtLogin(false); }, byDefault, {}, "", 0, false};
        // Registered, found waiting for approval, unregistered, the service brought up as before.
        QTest::newRow("by default, approval needed") << SignInRow{[](SignIn &s) { s.f.loginItems.agentItem->statusAfterRegister = LoginItemStatus::requiresApproval; },
                                                                  byDefault, restarted + QStringList{"status"}, "", 0, false};
        QTest::newRow("by default, registration refused") << SignInRow{refused, byDefault, restarted.mid(1), "", 0.5, false};
        // Quit 1 s into a hand-over whose service would answer at 1.5 s: the start-up
        // ends at its next step, and the quit finds no service but the agent's, whose
        // start it calls off. A pass of the polling task at 0.7 s finds the service
        // down on purpose: nothing failed, no error to show.
        const Act quitDuringHandOver = [](AppModel &m) -> QCoro::Task<> {
            QCoro::Task<> change = m.setStartAtLogin(true);
            QCoro::Task<bool> pause = m.clock().sleep(0.7);
            co_await std::move(pause);
            QCoro::Task<> pass = m.refresh();
            co_await std::move(pass);
            if (m.serviceError())
                m.setError(m.serviceError());
            QCoro::Task<bool> later = m.clock().sleep(0.3);
            co_await std::move(later);
            QCoro::Task<bool> quitting = m.quit();
            co_await std::move(quitting);
            co_await std::move(change);
        };
        QTest::newRow("quit during the hand-over") << SignInRow{[](SignIn &s) {
            s.f.client->queue("quit", reply());
            s.f.client->alwaysError("quit", down());
            s.f.client->alwaysError("status", down());
        }, quitDuringHandOver, {"quit", "status", "status", "status", "status", "status", "status", "quit"}, "", 1.1, true};
        // The child stopped for the hand-over exited with 0; the agent's service never
        // answers: the start-up's failure is what shows, not that exit.
        QTest::newRow("the agent's service never answers") << SignInRow{[](SignIn &s) {
            s.f.host->start(true);
            at(s.f.clock, 0.1, [&s] { s.f.launcher.launches.last().state->running = false; });
            s.f.client->clear("status");
            s.f.client->alwaysError("status", down());
        }, on, QStringList{"quit"} + QStringList(33, "status"), "", 15.25, true, down().message()};
        // The child stopped for the hand-over exited; the agent's start refused, a new
        // child runs the service and crashes at 1 s, its pid the stopped one's again: a
        // pass after it shows that exit.
        const Act onThenPass = [](AppModel &m) -> QCoro::Task<> {
            QCoro::Task<> change = m.setStartAtLogin(true);
            co_await std::move(change);
            QCoro::Task<bool> pause = m.clock().sleep(1.0);
            co_await std::move(pause);
            QCoro::Task<> pass = m.refresh();
            co_await std::move(pass);
        };
        QTest::newRow("a later child crashes") << SignInRow{[=](SignIn &s) {
            s.f.host->start(true);
            s.f.launcher.launches.last().state->running = false; // it quits at once
            s.f.launchctl.kickstartError = "Operation not permitted";
            s.f.client->queueError("status", down()); // the start-up finds no service: a child
            at(s.f.clock, 1.0, [&s] {
                const auto crashed = s.f.launcher.launches.last().state;
                crashed->running = false, crashed->status = 6, crashed->pid = s.f.launcher.launches.first().state->pid;
                s.f.client->alwaysError("status", down());
                s.f.client->alwaysError("events", down());
            });
        }, onThenPass, {"quit", "status", "status", "status", "events", "status", "events"}, "Operation not permitted", 1.5, false,
            "The background service exited (6). Open the service log for the underlying error."};
    }

    void startAtLogin()
    {
        QFETCH(SignInRow, row);
        SignIn s;
        row.setup(s);
        const double start = s.f.clock.uptime();
        outcome(row.act(s.f.model()));
        if (!row.ops.isEmpty() || row.error.isEmpty())
            QCOMPARE(s.f.client->ops(), row.ops);
        QCOMPARE(s.f.clock.uptime() - start, row.elapsed);
        QCOMPARE(s.f.host->loginEnabled(), row.enabled);
        QCOMPARE(s.f.model().error(), row.error.isEmpty() ? "an older error" : prefix + row.error);
        if (row.shown)
            QCOMPARE(s.f.model().serviceError(), row.shown);
        QVERIFY(!s.f.model().mutating() || A::quitting(s.f.model()));
    }

    // A quit waits (20 s at most) for a command or start-up, then asks the service to
    // quit; a service never reached has nothing to stop.
    void quit_data()
    {
        QTest::addColumn<Quit>("row");
        const Setup reached = [](ModelFixture &f) {
            f.client->queue("status", reply(status({.sequence = 1})));
            outcome(f.model().refresh());
            f.client->requests.clear();
        };
        // A cancelled polling task does not cut the wait short.
        QTest::newRow("after a command") << Quit{[=](ModelFixture &f) {
            reached(f);
            A::pollingCancel(f.model()).cancel();
            f.model().setMutating(true);
            at(f.clock, 3.0, [&f] { f.model().setMutating(false); });
        }, true, "", {"quit"}, 3.0};
        QTest::newRow("start-up still running") << Quit{[](ModelFixture &f) { f.model().setStarting(true); }, true,
                                                        "Wait for the current action or service startup to finish before quitting.", {}, 20.0};
        QTest::newRow("never reached") << Quit{[](ModelFixture &) {}, false, "", {"quit"}, 0.0};
        // (With the event cursor set, a refresh begins with "events".)
        // Nothing runs that the application could stop: nothing to stop.
        QTest::newRow("lost after reached") << Quit{reached, false, "", {"quit"}, 0.0};
        const Setup child = [=](ModelFixture &f) {
            reached(f);
            f.host->start(true);
        };
        QTest::newRow("child runs, not reached") << Quit{child, false, "Couldn’t stop sharing safely: " + down().message(), {"quit", "events"}, 0.0};
        // The system is never refused: after the bounded wait the child is ended.
        QTest::newRow("signal, child not reached") << Quit{child, false, "", {"quit"}, 0.0, true, true};
        QTest::newRow("signal, start-up still running") << Quit{[](ModelFixture &f) { f.model().setStarting(true); }, true, "", {"quit"}, 20.0, true};
        // A start-up under way (its child launched, the service not answering yet)
        // ends at its next step: the quit waits one step, not the start-up's window.
        const Setup startingUp = [](ModelFixture &f) {
            f.client->alwaysError("status", down());
            QCoro::Task<> startUp = A::startServiceIfNeeded(f.model()); // runs on by itself
        };
        QTest::newRow("start-up under way") << Quit{startingUp, true, "", {"status", "quit"}, 0.1};
        QTest::newRow("signal, start-up under way") << Quit{startingUp, true, "", {"status", "quit"}, 0.1, true, true};
        // The agent's unit is not loaded: no service the application could stop runs.
        const auto agentNotLoaded = [](Setup then) {
            return Setup([then](ModelFixture &f) {
                static InstalledApp installed;
                qunsetenv("CV_MAC_SERVICE"); // the case's own setting comes back at its end
                f.bundle = installed.bundle();
                f.loginItems.agentItem->setStatus(LoginItemStatus::enabled);
                f.launchctl.status = 113;
                then(f);
            });
        };
        QTest::newRow("agent not loaded, never reached") << Quit{agentNotLoaded([](ModelFixture &) {}), false, "", {"quit"}, 0.0};
        QTest::newRow("agent not loaded, child runs") << Quit{agentNotLoaded(child), false, "Couldn’t stop sharing safely: " + down().message(), {"quit", "events"}, 0.0};
        // The agent's start, asked by this application, is called off, unless the
        // manager told since that its service stopped.
        const auto agentStarted = [=](const QString &state) {
            return agentNotLoaded([state](ModelFixture &f) {
                f.launchctl.status = 0;
                f.launchctl.output = ("active state = " + state + "\n" + (state == "active" ? "state = running\n" : "")).toUtf8();
                f.host->start(false);
            });
        };
        QTest::newRow("agent started, its service up") << Quit{agentStarted("active"), false, "", {"quit"}, 0.0, true, false, 1};
        QTest::newRow("agent started, its service failed") << Quit{agentStarted("failed"), false, "", {"quit"}, 0.0, true, false, 0};
    }

    void quit()
    {
        QFETCH(Quit, row);
        ScopedEnv service("CV_MAC_SERVICE", "/bin/sh");
        ModelFixture f;
        AppModel &m = f.model();
        m.setStarting(false);
        row.setup(f);
        row.answered ? f.client->always("quit", reply()) : f.client->alwaysError("quit", down());
        f.client->clear("status");
        const double start = f.clock.uptime();
        const bool quits = *outcome(m.quit(row.signalled)).value;
        QCOMPARE(quits, row.error.isEmpty());
        QCOMPARE(m.error().value_or(""), row.error);
        QCOMPARE(f.client->ops(), row.ops);
        QVERIFY(f.clock.uptime() - start >= row.waited && f.clock.uptime() - start <= row.waited + 0.1 + 1e-6);
        // Until the process ends, still quitting and busy, and nothing more is sent.
        QCOMPARE(m.mutating(), quits);
        QCOMPARE(!f.launcher.launches.isEmpty() && f.launcher.launches.first().state->terminated, row.childEnds);
        if (row.stops >= 0)
            QCOMPARE(std::count_if(f.launchctl.calls.begin(), f.launchctl.calls.end(), [](const auto &call) { return call.verbs.first() == "kill"; }), row.stops);
        // A refused quit bars nothing: a change of start at sign-in or a repair may
        // begin again.
        QCOMPARE(A::quitBegun(m).cancelled(), quits);
        outcome(m.refresh());
        QCOMPARE(f.client->ops().size(), row.ops.size() + int(!quits));
    }

    // The permission read, the start-up and the automatic start at sign-in come
    // before the first pass; a pass every 0.75 s whatever happened.
    void polling()
    {
        InstalledApp app;
        ModelFixture f;
        f.bundle = app.bundle();
        f.launchctl.output = "state = running\n";
        AppModel &m = f.model();
        f.client->queue("status", reply(status({.sequence = 5})));
        f.client->queueError("status", down());
        serveIdle(*f.client, 5);
        f.client->always("quit", reply());
        m.start();
        QTRY_VERIFY(f.client->requests.size() >= 7);
        QVERIFY(*outcome(m.quit()).value);
        QTRY_VERIFY(A::polling(m)->isReady());
        QCOMPARE(f.client->ops().mid(0, 7), (QStringList{"status", "quit", "status", "status", "events", "status", "events"}));
        QVERIFY(f.host->loginEnabled() && f.notifications->statusQueries() >= 1);
        QVERIFY(std::all_of(f.clock.sleeps().begin(), f.clock.sleeps().end(), [](double s) { return s == 0.75; }));
    }

    // A model destroyed with a command, a panel or an alert still open: the late
    // answers are dropped and nothing runs on the destroyed model (AddressSanitizer watches).
    void destroyedModelDropsLateWork_data()
    {
        QTest::addColumn<Setup>("pending");
        QTest::newRow("command") << Setup([](ModelFixture &f) {
            f.client->queue("connect", reply(), 5);
            f.model().run(Command{.op = "connect", .peer = "p1"});
        });
        QTest::newRow("panel for sending") << Setup([](ModelFixture &f) {
            f.openPanels->hold = true;
            f.openPanels->answer = QList<QUrl>{QUrl::fromLocalFile("/home/me/x")};
            QCoro::Task<> task = f.model().pickFiles("p1");
        });
        QTest::newRow("forget alert") << Setup([](ModelFixture &f) {
            f.alerts->hold = true;
            QCoro::Task<> task = f.model().forget("p1");
        });
    }
    void destroyedModelDropsLateWork()
    {
        QFETCH(Setup, pending);
        ModelFixture f;
        int touched = 0;
        f.model().stateChanged = [&touched] { ++touched; };
        install(f.model(), status({.peers = {peer("p1").receiving()}, .capabilities = {"receive_transfer"}}));
        pending(f);
        const qsizetype sent = f.client->requests.size();
        f.destroy();
        const int before = touched;
        // What is still open is answered only now, each to "go ahead".
        f.openPanels->close();
        f.alerts->close();
        settle(50); // the fake clock runs every late answer meanwhile
        QCOMPARE(f.client->requests.size(), sent);
        QCOMPARE(touched, before);
    }
};

QTEST_GUILESS_MAIN(LifecycleTest)
#include "tst_lifecycle.moc"

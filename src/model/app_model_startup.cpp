#include "model/app_model.h"

#include "localization/localization.h"
#include "model/failures.h"
#include "platform/user_defaults.h"
#include "service/reply.h"
#include "service/service_client.h"
#include "service/service_error.h"
#include "service/service_host.h"

#include <QPointer>

#include <algorithm>

namespace cv {

namespace {

// Every status request of a start-up carries this deadline, counted from the call.
constexpr double startupWindow = 15.0;
// The longest pause between two status requests while the service comes up.
constexpr double startupPoll = 0.5;
// A start request gets this long before the login agent is repaired or a child
// process is started instead.
constexpr double agentRepairThreshold = 2.0;
// Once a call-off under way is settled, the application's own service gets at least
// this long to come up, whatever is left of the window.
constexpr double afterCallOff = 5.0;
// A start the manager has not taken on gets this long before it is given up for a
// child: the manager takes its calls in order, and the start (a reset, then the start
// itself) may wait behind a few others at a second each.
constexpr double agentStartWait = 5.0;
// Waiting for the service to stop: this many status requests this far apart.
constexpr double stopPoll = 0.25;
constexpr int stopPolls = 40;

const QString startAtLoginDefaultedKey = QStringLiteral("startAtLoginDefaulted");
// How often the automatic change is tried when the manager goes away in its middle.
constexpr int defaultAttempts = 3;

ServiceError notReady()
{
    return ServiceError::invalid(
        L(QStringLiteral("The background service has not become ready. Open the service log, then retry.")));
}

} // namespace

std::optional<QString> AppModel::childExit()
{
    if (stoppedChild_ && host().childLaunches() == *stoppedChild_)
        return std::nullopt;
    // A later child is another process, even with the same pid.
    stoppedChild_.reset();
    return host().exitDescription();
}

QCoro::Task<> AppModel::startServiceIfNeeded(bool asChild, bool startAsked)
{
    const double deadline = clock().uptime() + startupWindow;
    setStarting(true);
    // A child that had already stopped when this start-up began (for instance one
    // stopped on purpose to hand the service over to the login agent) tells nothing
    // about the service this start-up waits for: its exit text must not end it.
    const std::optional<int> stoppedChild =
        host().childKnownStopped() ? std::optional(host().childLaunches()) : std::nullopt;

    // Returns when the service answers or the start-up ends silently; throws the
    // failure to show otherwise. Each pass asks the socket first, and a service that
    // answers is used, whoever started it; only then is the next step toward the
    // service wanted taken from what is known now, so a step that could not be taken
    // on one pass (a call-off the manager has yet to settle) is taken on a later one.
    auto bringUp = [](AppModel *self, double deadline, std::optional<int> stoppedChild, bool asChild,
                      bool startAsked) -> QCoro::Task<> {
        AppModel &m = *self;
        ServiceHost &host = m.host();
        // Whether the agent runs the service is decided once the system has told
        // whether there is one; the child, once wanted, stays wanted.
        bool decided = startAsked;
        bool childWanted = asChild;
        double lastStart = m.clock().uptime();
        bool repairTried = false;
        // The agent ran the service when that was decided, and its start is yet to be
        // asked.
        bool agentDecided = false;
        bool pause = false;
        // A start of the agent is being called off, and its service not yet seen gone.
        bool leaving = !host.callOffSettled();

        for (int pass = 0;; ++pass) {
            // A quit ends the start-up at its next step: nothing more is started or
            // repaired, and the quit stops what runs.
            if (m.quitBegun_.cancelled())
                co_return;
            // A call-off still under way, a start of the agent still waiting its turn
            // behind a manager that does not answer, or the manager's word on what
            // came of that start (a manager that restarted meanwhile reads the unit
            // afresh) is bounded by the manager's own time-out: the window is not
            // over before it is settled and the service that follows from it (the
            // application's own, or a repaired agent) has had time to come up.
            if (!host.callOffSettled() || host.agentStartQueued() || host.agentStateAwaited())
                deadline = std::max(deadline, m.clock().uptime() + afterCallOff);
            if (pause) {
                const double remaining = deadline - m.clock().uptime();
                if (remaining <= 0)
                    throw notReady();
                const CancelToken ended;
                const int polling = m.pollingCancel_.onCancel([ended] { ended.cancel(); });
                const int quitting = m.quitBegun_.onCancel([ended] { ended.cancel(); });
                const CancelToken quitBegun = m.quitBegun_;
                QCoro::Task<bool> pausing = m.alive(m.clock().sleep(std::min(remaining, startupPoll), ended));
                const bool slept = co_await std::move(pausing);
                m.pollingCancel_.removeCallback(polling);
                quitBegun.removeCallback(quitting);
                if (!slept)
                    co_return;
            }
            pause = true;

            std::exception_ptr error;
            try {
                QCoro::Task<> update = m.updateStatus(deadline);
                co_await std::move(update);
            } catch (...) {
                error = std::current_exception();
            }
            // A service that answers while a start of it is being called off, or
            // until it is seen gone after that, is on its way out: the start-up goes
            // on without it (until its window runs out: one that answers then is used).
            if (!error && (!leaving || m.clock().uptime() >= deadline))
                co_return;
            if (!error)
                continue;
            if (host.callOffSettled())
                leaving = false;
            if (!failure::unavailable(error)) {
                // The window ran out while this request waited (or before it was
                // sent): the service simply did not come up in time.
                if (pass > 0 && failure::timedOut(error) && m.clock().uptime() >= deadline) {
                    // Not before a call-off under way is settled: see above.
                    if (!host.callOffSettled())
                        continue;
                    throw notReady();
                }
                std::rethrow_exception(error);
            }
            if (m.pollingCancel_.cancelled() || m.quitBegun_.cancelled())
                co_return;
            if (m.clock().uptime() >= deadline && host.callOffSettled()) {
                if (pass == 0)
                    throw ServiceError::invalid(L(QStringLiteral("Service startup timed out. Open the service log, then retry.")));
                throw notReady();
            }
            if (const std::optional<QString> exited = host.exitDescription()) {
                if (!(stoppedChild && host.childLaunches() == *stoppedChild))
                    throw ServiceError::unavailable(*exited);
            }

            if (!decided) {
                // Through the agent or as a child: not decided before the system has
                // told whether the agent runs the service. An agent the user masked
                // does not run it: the application does. Once that took a while, the
                // socket is asked again before anything is started.
                decided = true;
                const double asked = m.clock().uptime();
                if (!asChild) {
                    QCoro::Task<> known = m.alive(host.loginKnown(m.quitBegun_));
                    co_await std::move(known);
                }
                childWanted = childWanted || host.needsApproval();
                agentDecided = !childWanted && host.agentManaged();
                if (m.clock().uptime() > asked) {
                    pause = false;
                    continue;
                }
            }

            if (m.quitBegun_.cancelled())
                co_return;
            const double sinceStart = m.clock().uptime() - lastStart;
            if (!childWanted) {
                const bool away = !host.agentTold();
                if (host.agentStartQueued() || (away && (host.agentStartAsked() || agentDecided))) {
                    // The manager went away after it was asked to start the service,
                    // or after it told that the agent runs it (it restarts, and keeps
                    // what it started): its word on the unit is awaited before the
                    // start counts as lost, or the agent as gone, and the time it gets
                    // to take the start on counts from its return. It takes its calls
                    // in order: that time counts from the start's turn too, not from
                    // when it was queued behind others.
                    lastStart = m.clock().uptime();
                    continue;
                }
                // The manager refused to start the agent, or has not even taken the
                // start on in time, or there is no agent to run the service (any
                // more): the application runs it. A start given up is called off by
                // the child's start, so that one service runs.
                if (host.agentStartFailure() || (sinceStart > agentStartWait && host.agentStartPending())) {
                    childWanted = true;
                } else if (!host.agentManaged()) {
                    // As a child, unless the agent waits for the user's approval.
                    childWanted = true;
                    host.start(false);
                    leaving = leaving || !host.callOffSettled();
                    continue;
                } else if (!host.agentStartAsked()) {
                    host.start(false);
                    lastStart = m.clock().uptime();
                    agentDecided = false;
                    continue;
                } else if (sinceStart > agentRepairThreshold && host.agentStopped()) {
                    if (repairTried) {
                        childWanted = true;
                    } else {
                        repairTried = true;
                        QCoro::Task<bool> repair = m.alive(host.repairAgent(m.quitBegun_));
                        // A repair runs to its end, even past the window: what it
                        // leaves to come up (its start, or the child) gets its time.
                        if (co_await std::move(repair)) {
                            lastStart = m.clock().uptime();
                            deadline = std::max(deadline, lastStart + agentStartWait + afterCallOff);
                        } else {
                            childWanted = true;
                            deadline = std::max(deadline, m.clock().uptime() + afterCallOff);
                        }
                        // The socket is asked again before the child is started.
                        pause = false;
                        continue;
                    }
                }
            }
            // Nothing while the child runs; a start of the agent still asked is called
            // off first, and the child is launched on a later pass once that is settled.
            if (childWanted) {
                host.start(true);
                leaving = leaving || !host.callOffSettled();
            }
        }
    };

    std::exception_ptr failure;
    try {
        QCoro::Task<> attempt = bringUp(this, deadline, stoppedChild, asChild, startAsked);
        co_await std::move(attempt);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure && !failure::cancelled(failure))
        setServiceError(failure::describe(failure));
    setStarting(false);
}

void AppModel::retryService()
{
    // Not while a start-up runs, nor in the middle of a start-at-sign-in change or a
    // command, nor once quitting began: a second service or an undone quit would follow.
    // A demo never reaches a service.
    if (demo_ || starting_ || mutating_ || quitting_)
        return;
    auto retry = [](AppModel *self) -> QCoro::Task<> {
        QCoro::Task<> startUp = self->startServiceIfNeeded();
        co_await std::move(startUp);
        QCoro::Task<> update = self->refresh();
        co_await std::move(update);
    };
    // Runs on by itself; nothing waits for it.
    QCoro::Task<> detached = retry(this);
    Q_UNUSED(detached);
}

QCoro::Task<> AppModel::stopService()
{
    QCoro::Task<EmptyResult> quit = alive(client().request<EmptyResult>(Command{.op = QStringLiteral("quit")}));
    co_await std::move(quit);

    for (int poll = 0; poll < stopPolls; ++poll) {
        std::exception_ptr error;
        try {
            QCoro::Task<ServiceStatus> status =
                alive(client().request<ServiceStatus>(Command{.op = QStringLiteral("status")}));
            co_await std::move(status);
        } catch (...) {
            error = std::current_exception();
        }
        if (error) {
            // The service may leave its socket before its process ends: a child of ours
            // has stopped only once it has exited, and a new one can start only then.
            // One that accepted the question and closed without reading it is leaving
            // too.
            if (!failure::unavailable(error) && !failure::connectionLost(error))
                std::rethrow_exception(error);
            if (host().childKnownStopped()) {
                // Stopped on purpose: its exit is no failure to show.
                stoppedChild_ = host().childLaunches();
                co_return;
            }
        }
        QCoro::Task<bool> pause = alive(clock().sleep(stopPoll, pollingCancel_));
        if (!co_await std::move(pause))
            throw CancelledError();
    }
    throw ServiceError::invalid(L(QStringLiteral("The background service didn’t stop.")));
}

QCoro::Task<> AppModel::setStartAtLogin(bool on)
{
    // The user's own choice settles start at sign-in: the automatic first change,
    // not made yet, is not made after it.
    if (!demo_)
        defaults().setBool(startAtLoginDefaultedKey, true);
    QCoro::Task<LoginChange> change = changeStartAtLogin(on, false);
    co_await std::move(change);
}

QCoro::Task<AppModel::LoginChange> AppModel::changeStartAtLogin(bool on, bool automatic)
{
    // A demo changes nothing of the user's real service, agent or sign-in. Once a quit
    // has begun, no change begins.
    if (demo_ || busy() || quitBegun_.cancelled() || !host().canRegister() || on == host().loginEnabled())
        co_return {};
    setMutating(true);
    // From the stop until the service answers again, its absence is no failure.
    handingOver_ = true;
    handOverCallOff_ = CancelToken();

    std::exception_ptr failure;
    bool startedUp = false;
    try {
        if (on) {
            // The running service serves while the agent is registered, and stops only
            // just before the manager starts the agent's.
            QCoro::Task<> change = alive(host().setLogin(
                true, [model = QPointer<AppModel>(this)] { return stopForHandOver(model); }, handOverCallOff_));
            co_await std::move(change);
        } else {
            QCoro::Task<> stop = stopService();
            co_await std::move(stop);
            // The agent's start is called off first (the manager takes its calls in
            // order), so the application's own service comes up while the
            // registration is taken back: a disabled unit is started by nobody.
            QCoro::Task<> callingOff = alive(host().callOffAgentStart(0));
            co_await std::move(callingOff);
            QCoro::Task<> startUp = startServiceIfNeeded(true);
            startedUp = true;
            std::exception_ptr unregistering;
            try {
                // A quit that begins meanwhile lets the disable under way finish, so
                // the user's choice stands, and waits for nothing after it.
                QCoro::Task<> change = alive(host().setLogin(false, {}, quitBegun_));
                co_await std::move(change);
            } catch (...) {
                unregistering = std::current_exception();
            }
            co_await std::move(startUp);
            if (unregistering && host().loginEnabled() && !quitBegun_.cancelled()) {
                // Nothing changed: the agent runs the service again, as before.
                startedUp = false;
                try {
                    QCoro::Task<> stop = stopService();
                    co_await std::move(stop);
                } catch (...) {
                }
            }
            if (unregistering)
                std::rethrow_exception(unregistering);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (quitBegun_.cancelled()) {
        // A quit ended the change at its next step: it shows no error, and nothing
        // is brought up; the quit stops whatever runs.
        handingOver_ = false;
        setMutating(false);
        co_return {failure};
    }

    // A change the user did not ask for shows no error of its own.
    if (failure && !automatic) {
        setError(L(QStringLiteral("Couldn't change start at sign-in: {error}"),
                   {{QStringLiteral("error"), Localization::service(failure::describe(failure))}}));
    }
    // With the agent registered and enabled, the system has started it: the hand-over
    // is a start-up like any other, ending when that service answers (or with a child
    // when it does not), and a quit ends it. A change to the agent that failed
    // (its registration or its start refused) or left it waiting for the user's
    // approval (a masked unit) leaves nothing to run the service but the application
    // itself. No longer started by the agent: brought up the usual way.
    if (!startedUp) {
        // A manager that went away right after it took the start on (it restarts)
        // shows no agent for a moment: the start it took on still counts.
        const bool handedOver = !failure && on && (host().loginEnabled() || host().agentStartAsked());
        QCoro::Task<> startUp = handedOver ? startServiceIfNeeded(false, true)
                                           : startServiceIfNeeded(on || (failure && host().needsApproval()));
        co_await std::move(startUp);
    }
    handingOver_ = false;
    QCoro::Task<> update = refresh();
    co_await std::move(update);
    setMutating(false);
    co_return {failure};
}

QCoro::Task<> AppModel::stopForHandOver(QPointer<AppModel> model)
{
    // The host's registration may outlive the model that asked for it. A stop begun
    // is finished, even when a quit begins meanwhile: the quit finds it stopped.
    if (!model || model->handOverCallOff_.cancelled())
        throw CancelledError();
    QCoro::Task<> stop = model->stopService();
    co_await std::move(stop);
}

QCoro::Task<> AppModel::startAtLoginByDefault()
{
    if (!connected_ || defaults().boolValue(startAtLoginDefaultedKey))
        co_return;
    // Whether there is an agent to register is the system's answer, which may come
    // after the service's.
    QCoro::Task<> known = alive(host().loginKnown());
    co_await std::move(known);
    if (quitBegun_.cancelled() || !host().canRegister() || !connected_ || defaults().boolValue(startAtLoginDefaultedKey))
        co_return;
    // Tried once per user, whatever comes of it: already on, or waiting for the user.
    if (host().loginEnabled() || host().needsApproval()) {
        defaults().setBool(startAtLoginDefaultedKey, true);
        co_return;
    }

    // A manager that went away in the middle (it restarts), or was not there to take a
    // step, cut the change short, not refused it: it is tried again once the manager
    // is back. It counts as tried only once a change came to an end the user can see
    // (start at sign-in on, or the change refused); one still cut short, or ended by a
    // quit, is left to the next launch.
    bool ended = false;
    for (int attempt = 0; attempt < defaultAttempts && !quitBegun_.cancelled(); ++attempt) {
        QCoro::Task<LoginChange> enable = changeStartAtLogin(true, true);
        const std::exception_ptr failure = (co_await std::move(enable)).failure;
        if (quitBegun_.cancelled())
            break;
        if (!failure || !(failure::managerAway(failure) || !host().canRegister())) {
            ended = failure || host().loginEnabled();
            break;
        }
        QCoro::Task<bool> back = alive(host().agentBack(quitBegun_));
        if (!co_await std::move(back))
            break;
    }
    if (ended)
        defaults().setBool(startAtLoginDefaultedKey, true);

    if (host().needsApproval()) {
        // Waiting for the user's approval: take the registration back and run the
        // service as before.
        try {
            QCoro::Task<> undo = alive(host().setLogin(false));
            co_await std::move(undo);
        } catch (...) {
        }
        QCoro::Task<> startUp = startServiceIfNeeded();
        co_await std::move(startUp);
    }
}

} // namespace cv

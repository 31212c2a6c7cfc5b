#include "model/app_model.h"

#include "localization/localization.h"
#include "model/failures.h"
#include "service/reply.h"
#include "service/service_client.h"
#include "service/service_host.h"

#include <algorithm>

namespace cv {

namespace {

// The longest wait for a command or a start-up in flight, and its step.
constexpr double quitWait = 20.0;
constexpr double quitWaitStep = 0.1;
// The least time given to the service manager to take a call-off on.
constexpr double quitCallOffWait = 2.0;
// On a signal: how long the service gets to answer the quit.
constexpr double quitSignalWait = 5.0;

} // namespace

QCoro::Task<bool> AppModel::quit(bool signalled)
{
    const double limit = clock().uptime() + quitWait;
    // No change of start at sign-in begins from here, and every start-up and change
    // under way ends at its next step: no further start, registration or repair
    // begins (a call already asked may finish), and whatever runs is stopped below.
    quitBegun_.cancel();
    handOverCallOff_.cancel();
    host().holdAgentStart();
    // The pause is never cancelled: the loop's own check decides.
    while ((mutating_ || starting_) && clock().uptime() < limit) {
        QCoro::Task<bool> pause = alive(clock().sleep(quitWaitStep));
        co_await std::move(pause);
    }
    // The system ending the application is never refused: what is still under way is
    // ended instead of waited for.
    if ((mutating_ || starting_) && !signalled) {
        quitBegun_ = CancelToken();
        setError(L(QStringLiteral("Wait for the current action or service startup to finish before quitting.")));
        co_return false;
    }

    // From here the polling loop and every later refresh stop, and every user verb
    // is refused.
    quitting_ = true;
    setMutating(true);
    if (signalled)
        pollingCancel_.cancel();

    std::exception_ptr failure;
    try {
        const std::optional<double> deadline =
            signalled ? std::optional(clock().uptime() + quitSignalWait) : std::nullopt;
        QCoro::Task<EmptyResult> request =
            alive(client().request<EmptyResult>(Command{.op = QStringLiteral("quit")}, deadline));
        co_await std::move(request);
    } catch (...) {
        failure = std::current_exception();
    }
    // A start of the agent this application asked for is called off, even one the
    // manager has yet to carry out: nothing it started outlives the quit. One the
    // manager carried out, and has told since that its service stopped (it failed),
    // has nothing left to call off: that would only queue a call ahead of the end. A
    // manager that has not told yet is not asked: that too would queue calls.
    const bool startAsked = host().agentStartAsked();
    if (!startAsked || !host().agentStopped(false)) {
        QCoro::Task<> callingOff = alive(host().callOffAgentStart(std::max(limit - clock().uptime(), quitCallOffWait)));
        co_await std::move(callingOff);
    }

    // Nothing to stop when no service this application could stop runs, or when the
    // only one is the agent's whose start the manager has just taken back: the
    // manager stops it, though it may still be on its way up or down.
    const bool managerStops = startAsked && host().callOffSettled() && host().childKnownStopped();
    const bool nothingToStop = failure && failure::unavailable(failure) && (managerStops || !host().serviceMayRun());
    if (!failure || nothingToStop || signalled) {
        if (signalled && failure && !nothingToStop)
            log_(QStringLiteral("quitting on a signal; the background service could not be stopped: ")
                 + failure::describe(failure));
        // Whatever the service answered, the application's own child ends with it.
        if (signalled)
            host().stopChild();
        if (polling_)
            pollingCancel_.cancel();
        co_return true;
    }
    quitting_ = false;
    quitBegun_ = CancelToken();
    setMutating(false);
    setError(L(QStringLiteral("Couldn’t stop sharing safely: {error}"),
               {{QStringLiteral("error"), Localization::service(failure::describe(failure))}}));
    QCoro::Task<> update = refresh();
    co_await std::move(update);
    co_return false;
}

} // namespace cv

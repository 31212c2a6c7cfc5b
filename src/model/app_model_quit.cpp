#include "model/app_model.h"

#include "localization/localization.h"
#include "model/failures.h"
#include "service/reply.h"
#include "service/service_client.h"
#include "service/service_host.h"

namespace cv {

namespace {

// The longest wait for a command or a start-up in flight, and its step.
constexpr double quitWait = 20.0;
constexpr double quitWaitStep = 0.1;

} // namespace

QCoro::Task<bool> AppModel::quit()
{
    const double limit = clock().uptime() + quitWait;
    // The pause is never cancelled: the loop's own check decides.
    while ((mutating_ || starting_) && clock().uptime() < limit) {
        QCoro::Task<bool> pause = alive(clock().sleep(quitWaitStep));
        co_await std::move(pause);
    }
    if (mutating_ || starting_) {
        setError(L(QStringLiteral("Wait for the current action or service startup to finish before quitting.")));
        co_return false;
    }

    // From here the polling loop and every later refresh stop, and every user verb
    // is refused.
    quitting_ = true;
    setMutating(true);

    std::exception_ptr failure;
    try {
        QCoro::Task<EmptyResult> request = alive(client().request<EmptyResult>(Command{.op = QStringLiteral("quit")}));
        co_await std::move(request);
    } catch (...) {
        failure = std::current_exception();
    }

    // Nothing to stop when the service was never reached in this run and no child of
    // this application runs.
    if (!failure || (failure::unavailable(failure) && !hasSeenService_ && host().childKnownStopped())) {
        if (polling_)
            pollingCancel_.cancel();
        co_return true;
    }

    quitting_ = false;
    setMutating(false);
    setError(L(QStringLiteral("Couldn’t stop sharing safely: {error}"),
               {{QStringLiteral("error"), Localization::service(failure::describe(failure))}}));
    QCoro::Task<> update = refresh();
    co_await std::move(update);
    co_return false;
}

} // namespace cv

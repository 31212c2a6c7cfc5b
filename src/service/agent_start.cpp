#include "service/agent_start.h"

#include "platform/launchctl.h"

#include "platform/platform_error.h"

#include "platform/next_signal.h"

#include <cerrno>

namespace cv {

namespace {

bool timedOut(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const PlatformError &error) {
        return error.code() == ETIMEDOUT;
    } catch (...) {
        return false;
    }
}

} // namespace

AgentStart::AgentStart(Launchctl &launchctl, QObject *parent) : QObject(parent), launchctl_(launchctl) {}

AgentStart::~AgentStart()
{
    lifetime_.end();
}

int AgentStart::nextTicket()
{
    // A start still waiting for a manager that is away is never sent again.
    callOff_.cancel();
    callOff_ = CancelToken();
    failure_ = nullptr;
    ++ticket_;
    // Whoever waits for the answer to the start before learns that it was called off.
    if (std::exchange(awaiting_, false)) {
        failure_ = std::make_exception_ptr(PlatformError(ECANCELED, QStringLiteral("The start was called off.")));
        emit answered();
        failure_ = nullptr;
    }
    return ticket_;
}

void AgentStart::begin(const QString &target)
{
    const int ticket = nextTicket();
    heldBack_ = false;
    state_ = State::pending;
    awaiting_ = true;
    auto follow = [](AgentStart *self, Lifetime::Watch watch, QCoro::Task<> starting, int ticket) -> QCoro::Task<> {
        std::exception_ptr failure;
        try {
            QCoro::Task<> answered = whileAlive(watch, std::move(starting));
            co_await std::move(answered);
        } catch (...) {
            failure = std::current_exception();
        }
        // A later start, or a call-off, has the last word.
        if (ticket != self->ticket_)
            co_return;
        // A start that ran out of time, or that was held back from a manager that
        // restarted, may still be carried out: it stays asked.
        self->state_ = !failure ? State::accepted : (timedOut(failure) || self->heldBack_) ? State::pending : State::refused;
        self->failure_ = failure;
        self->awaiting_ = false;
        emit self->answered();
    };
    QCoro::Task<> following = follow(this, lifetime_.watch(), launchctl_.kickstart(target, callOff_), ticket);
    Q_UNUSED(following);
}

QCoro::Task<> AgentStart::answer()
{
    std::exception_ptr told = failure_;
    if (awaiting_) {
        // Read as it is told: a call-off's failure lasts only while it is told.
        const QMetaObject::Connection telling =
            connect(this, &AgentStart::answered, this, [this, &told] { told = failure_; });
        co_await NextSignal(this, &AgentStart::answered);
        disconnect(telling);
    }
    if (told)
        std::rethrow_exception(told);
}

void AgentStart::holdBack()
{
    heldBack_ = true;
    callOff_.cancel();
}

void AgentStart::forget()
{
    nextTicket();
    state_ = State::none;
}

void AgentStart::callOff(const QString &target)
{
    if (!asked())
        return;
    forget();
    ++callingOff_;
    auto settle = [](AgentStart *self, Lifetime::Watch watch, QCoro::Task<> stopping) -> QCoro::Task<> {
        try {
            QCoro::Task<> stopped = whileAlive(watch, std::move(stopping));
            co_await std::move(stopped);
        } catch (...) {
            // Refused, or no manager to ask: there is nothing more to tell it.
        }
        --self->callingOff_;
        emit self->callOffSettled();
    };
    QCoro::Task<> settling = settle(this, lifetime_.watch(), launchctl_.stop(target));
    Q_UNUSED(settling);
}

} // namespace cv

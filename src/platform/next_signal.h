#pragma once

#include "platform/clock.h"

#include <QCoroTask>
#include <QObject>

#include <coroutine>
#include <memory>
#include <utility>

namespace cv {

// Awaits the next emission of `signal` by `object`, resuming the waiting coroutine
// from the event loop, never from inside the emission. qCoro(object, signal) does the
// same, but its queued slot reads the awaiter again after the wait has ended when the
// signal came twice before the loop ran: that awaiter lives in the coroutine's frame,
// which may be gone by then. Here every queued call shares one small state and the
// calls after the first do nothing. An object destroyed meanwhile never resumes the
// coroutine.
template<class T, class Signal>
class NextSignal {
public:
    NextSignal(T *object, Signal signal) : object_(object), signal_(signal) {}

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiting)
    {
        auto state = std::make_shared<State>();
        state->waiting = waiting;
        state->connection = QObject::connect(
            object_, signal_, object_,
            [state](auto &&...) {
                if (std::exchange(state->resumed, true))
                    return;
                QObject::disconnect(state->connection);
                state->waiting.resume();
            },
            Qt::QueuedConnection);
    }
    void await_resume() const noexcept {}

private:
    struct State {
        std::coroutine_handle<> waiting;
        QMetaObject::Connection connection;
        bool resumed = false;
    };
    T *object_;
    Signal signal_;
};

// Sleeps `seconds` on `clock`, or less: until `object` emits `signal` or `stop` is
// cancelled. True when the whole time passed.
template<class T, class Signal>
QCoro::Task<bool> sleepOrSignal(Clock &clock, double seconds, T *object, Signal signal, CancelToken stop = {})
{
    const CancelToken woken;
    const QMetaObject::Connection emitted = QObject::connect(object, signal, object, [woken] { woken.cancel(); });
    const int stopped = stop.onCancel([woken] { woken.cancel(); });
    QCoro::Task<bool> sleeping = clock.sleep(seconds, woken);
    const bool slept = co_await std::move(sleeping);
    QObject::disconnect(emitted);
    stop.removeCallback(stopped);
    co_return slept;
}

} // namespace cv

#pragma once

// Runs a task on this thread's event loop for a bounded time, so that a task that
// never ends fails its test instead of hanging it (QCoro::waitFor waits for ever).
// The bound only stops a stuck task: generous, so that a busy machine or a sanitized
// build that is merely slow never reaches it, and costing nothing to a task that ends.
// Header only; needs Qt Core and QCoro.

#include <QCoroTask>
#include <QEventLoop>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

namespace cv::test {

template<class T>
using TaskValue = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

// Runs `task` until it ends, at most `milliseconds`: its value (a monostate for a
// task without one), or none when it still runs then. A task that throws rethrows
// here. A task left running goes on by itself and touches nothing of this call.
template<class T>
std::optional<TaskValue<T>> waitBounded(QCoro::Task<T> task, int milliseconds = 20000)
{
    struct State {
        std::optional<TaskValue<T>> value;
        std::exception_ptr thrown;
        bool done = false;
        QPointer<QEventLoop> loop;
    };
    auto state = std::make_shared<State>();
    auto run = [](QCoro::Task<T> task, std::shared_ptr<State> state) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(task);
                state->value.emplace();
            } else {
                state->value = co_await std::move(task);
            }
        } catch (...) {
            state->thrown = std::current_exception();
        }
        state->done = true;
        if (state->loop)
            state->loop->quit();
    };
    QCoro::Task<> running = run(std::move(task), state);
    if (!state->done) {
        QEventLoop loop;
        state->loop = &loop;
        QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (state->thrown)
        std::rethrow_exception(state->thrown);
    return state->done ? std::move(state->value) : std::nullopt;
}

// The value of a task that must end within `milliseconds`; the test fails when it
// does not (and goes on with a default value).
template<class T>
T finished(QCoro::Task<T> task, int milliseconds = 20000)
{
    std::optional<TaskValue<T>> value = waitBounded(std::move(task), milliseconds);
    if (!value)
        QTest::qFail("the task was still running at the end of its wait", __FILE__, __LINE__);
    if constexpr (!std::is_void_v<T>)
        return value ? std::move(*value) : T{};
}

} // namespace cv::test

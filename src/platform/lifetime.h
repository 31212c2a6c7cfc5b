#pragma once

#include <QFuture>
#include <QCoroFuture>
#include <QCoroTask>

#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace cv {

// Tells an object's coroutines whether the object still lives. The owner keeps one as
// a member and ends it first thing in its destructor; a suspended coroutine holds a
// Watch, never the object.
class Lifetime {
public:
    class Watch {
    public:
        bool alive() const { return !token_.expired(); }

    private:
        friend class Lifetime;
        std::weak_ptr<const char> token_;
    };

    Watch watch() const
    {
        Watch watch;
        watch.token_ = token_;
        return watch;
    }
    void end() { token_.reset(); }

private:
    std::shared_ptr<const char> token_ = std::make_shared<const char>();
};

namespace detail {

// Never resumes the coroutine that awaits it. The frames of the coroutines waiting on
// an owner that is gone stay suspended (their little memory is left behind), which is
// what keeps them from running on freed memory.
struct Abandon {
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<>) const noexcept {}
    void await_resume() const noexcept {}
};

} // namespace detail

// What `task` ends with (its value or its error), handed on only while the owner
// behind `watch` still lives. When the owner is gone by then, the awaiting coroutine is
// never resumed: a late answer is dropped.
template<class T>
QCoro::Task<T> whileAlive(Lifetime::Watch watch, QCoro::Task<T> task)
{
    std::exception_ptr failure;
    if constexpr (std::is_void_v<T>) {
        try {
            co_await std::move(task);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!watch.alive())
            co_await detail::Abandon{};
        if (failure)
            std::rethrow_exception(failure);
    } else {
        std::optional<T> value;
        try {
            value.emplace(co_await std::move(task));
        } catch (...) {
            failure = std::current_exception();
        }
        if (!watch.alive())
            co_await detail::Abandon{};
        if (failure)
            std::rethrow_exception(failure);
        co_return std::move(*value);
    }
}

// The same for work running elsewhere, such as a probe on a thread pool.
template<class T>
QCoro::Task<T> whileAlive(Lifetime::Watch watch, QFuture<T> future)
{
    if (!future.isFinished())
        co_await future;
    if (!watch.alive())
        co_await detail::Abandon{};
    co_return future.result();
}

} // namespace cv

#pragma once

#include <QByteArray>
#include <QException>
#include <QString>

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include <QCoroTask>

namespace cv {

// The two ways a bounded capture call fails on its own account. The texts are
// development messages, never translated.
class DevelopmentCaptureFailure : public QException {
public:
    enum class Kind { timedOut, missingResult };

    DevelopmentCaptureFailure(Kind kind, QString operation);
    static DevelopmentCaptureFailure timedOut(QString operation) { return {Kind::timedOut, std::move(operation)}; }
    static DevelopmentCaptureFailure missingResult(QString operation)
    {
        return {Kind::missingResult, std::move(operation)};
    }

    Kind kind() const { return kind_; }
    const QString &operation() const { return operation_; }
    QString errorDescription() const;

    const char *what() const noexcept override { return utf8_.constData(); }
    void raise() const override { throw *this; }
    DevelopmentCaptureFailure *clone() const override { return new DevelopmentCaptureFailure(*this); }

private:
    Kind kind_;
    QString operation_;
    QByteArray utf8_;
};

// The text of any error a capture step throws: the message of our own errors,
// what() of the rest.
QString captureErrorText(std::exception_ptr error);

// What a capture request hands its answer to; may be called on any thread, any
// number of times (only the first call, or the deadline, counts).
template<class T>
using DevelopmentCaptureCompletion = std::function<void(std::optional<T> value, std::exception_ptr error)>;

namespace detail {

// The meeting point of the caller, the deadline and the request's callback: the
// first `finish` stores the outcome and posts the caller's resumption to the main
// thread; every later one does nothing.
class CaptureReply {
public:
    void setContinuation(std::coroutine_handle<> continuation);
    // Runs `store` and resumes the caller, for the first call only.
    void finish(const std::function<void()> &store);

private:
    std::mutex lock_;
    std::coroutine_handle<> continuation_;
};

// Calls `fire` on the deadline thread `seconds` from now (the monotonic clock).
void scheduleCaptureDeadline(double seconds, std::function<void()> fire);

template<class T>
struct CaptureOutcome {
    std::optional<T> value;
    std::exception_ptr error;
};

template<class T>
struct CaptureAwaiter {
    std::shared_ptr<CaptureReply> reply;
    std::shared_ptr<CaptureOutcome<T>> outcome;
    QString name;
    double timeout;
    std::function<void(DevelopmentCaptureCompletion<T>)> start;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> caller)
    {
        reply->setContinuation(caller);
        auto deadlineReply = reply;
        auto deadlineOutcome = outcome;
        const QString deadlineName = name;
        scheduleCaptureDeadline(timeout, [deadlineReply, deadlineOutcome, deadlineName] {
            deadlineReply->finish([&] {
                deadlineOutcome->error = std::make_exception_ptr(DevelopmentCaptureFailure::timedOut(deadlineName));
            });
        });
        auto callbackReply = reply;
        auto callbackOutcome = outcome;
        const QString callbackName = name;
        start([callbackReply, callbackOutcome, callbackName](std::optional<T> value, std::exception_ptr error) {
            callbackReply->finish([&] {
                // An error wins even when a value came with it.
                if (error)
                    callbackOutcome->error = error;
                else if (value)
                    callbackOutcome->value = std::move(value);
                else
                    callbackOutcome->error =
                        std::make_exception_ptr(DevelopmentCaptureFailure::missingResult(callbackName));
            });
        });
    }
    void await_resume() const noexcept {}
};

} // namespace detail

// Turns one callback-style capture request into a call that returns its value or
// throws, and that always ends within `timeout` seconds: the first of the callback
// and the deadline decides, the other is ignored. `start` is called once,
// synchronously, with the completion callback and must begin the request. The
// caller is always resumed on the main thread, on a later turn of its event loop.
// The request itself is never cancelled: an answer after the deadline is dropped.
template<class T>
QCoro::Task<T> boundedDevelopmentCapture(QString name, std::function<void(DevelopmentCaptureCompletion<T>)> start,
                                         double timeout = 3.0)
{
    auto outcome = std::make_shared<detail::CaptureOutcome<T>>();
    detail::CaptureAwaiter<T> awaiter{std::make_shared<detail::CaptureReply>(), outcome, std::move(name), timeout,
                                      std::move(start)};
    co_await awaiter;
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    co_return std::move(*outcome->value);
}

} // namespace cv

#include "devtools/bounded_capture.h"

#include "model/failures.h"

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <map>
#include <thread>
#include <utility>

namespace cv {

DevelopmentCaptureFailure::DevelopmentCaptureFailure(Kind kind, QString operation)
    : kind_(kind), operation_(std::move(operation)), utf8_(errorDescription().toUtf8())
{
}

QString DevelopmentCaptureFailure::errorDescription() const
{
    return operation_
        + (kind_ == Kind::timedOut ? QStringLiteral(" timed out; no window capture was obtained.")
                                   : QStringLiteral(" returned neither an image/content nor an error."));
}

QString captureErrorText(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const DevelopmentCaptureFailure &e) {
        return e.errorDescription();
    } catch (...) {
        return failure::describe(error);
    }
}

namespace detail {

void CaptureReply::setContinuation(std::coroutine_handle<> continuation)
{
    std::lock_guard guard(lock_);
    continuation_ = continuation;
}

void CaptureReply::finish(const std::function<void()> &store)
{
    std::coroutine_handle<> continuation;
    {
        std::lock_guard guard(lock_);
        continuation = std::exchange(continuation_, nullptr);
    }
    if (!continuation)
        return;
    store();
    // Whoever finishes, on whatever thread, the caller goes on on the main thread.
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [continuation] { continuation.resume(); }, Qt::QueuedConnection);
}

namespace {

// One thread that fires the deadlines at their times. It lives until the process's
// static objects go; deadlines still pending then are dropped with it.
class DeadlineThread {
public:
    DeadlineThread() : thread_([this] { run(); }) {}
    ~DeadlineThread()
    {
        {
            std::lock_guard guard(lock_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    void schedule(std::chrono::steady_clock::time_point when, std::function<void()> fire)
    {
        {
            std::lock_guard guard(lock_);
            pending_.emplace(when, std::move(fire));
        }
        wake_.notify_all();
    }

private:
    void run()
    {
        std::unique_lock guard(lock_);
        while (!stopping_) {
            if (pending_.empty()) {
                wake_.wait(guard);
                continue;
            }
            const auto next = pending_.begin()->first;
            if (std::chrono::steady_clock::now() < next) {
                wake_.wait_until(guard, next);
                continue;
            }
            std::function<void()> fire = std::move(pending_.begin()->second);
            pending_.erase(pending_.begin());
            guard.unlock();
            fire();
            guard.lock();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> pending_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace

void scheduleCaptureDeadline(double seconds, std::function<void()> fire)
{
    static DeadlineThread deadlines;
    const auto delay = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(std::max(seconds, 0.0)));
    deadlines.schedule(std::chrono::steady_clock::now() + delay, std::move(fire));
}

} // namespace detail

} // namespace cv

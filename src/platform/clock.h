#pragma once

#include <QDateTime>
#include <QObject>
#include <QCoroTask>

#include <functional>
#include <memory>
#include <vector>

namespace cv {

// A cancellation flag shared by copies. Cancelling wakes every sleep that waits on it.
// Main-thread only.
class CancelToken {
public:
    CancelToken();

    void cancel() const;
    bool cancelled() const;

    // Registers a callback run once when the token is cancelled (at once when it
    // already is). Returns an id for `removeCallback`.
    int onCancel(std::function<void()> callback) const;
    void removeCallback(int id) const;

private:
    struct State {
        bool cancelled = false;
        int nextId = 1;
        std::vector<std::pair<int, std::function<void()>>> callbacks;
    };
    std::shared_ptr<State> state_;
};

// The one source of time. `uptime()` is monotonic seconds (deadlines and waits),
// `now()` the wall clock (throttles, caches, notice windows).
class Clock {
public:
    virtual ~Clock() = default;

    virtual double uptime() const = 0;
    virtual QDateTime now() const = 0;

    // Suspends the calling coroutine for `seconds` (negative counts as zero).
    // Resumes with true when the time has passed, with false when `token` was
    // cancelled first.
    virtual QCoro::Task<bool> sleep(double seconds, CancelToken token = CancelToken()) = 0;

    // The process-wide real clock.
    static Clock& system();
};

class SystemClock final : public Clock {
public:
    double uptime() const override;
    QDateTime now() const override;
    QCoro::Task<bool> sleep(double seconds, CancelToken token = CancelToken()) override;
};

} // namespace cv

#include "platform/clock.h"

#include <QTimer>
#include <QCoroSignal>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace cv {

CancelToken::CancelToken() : state_(std::make_shared<State>()) {}

void CancelToken::cancel() const
{
    if (state_->cancelled)
        return;
    state_->cancelled = true;
    auto callbacks = std::move(state_->callbacks);
    state_->callbacks.clear();
    for (auto &entry : callbacks)
        entry.second();
}

bool CancelToken::cancelled() const { return state_->cancelled; }

int CancelToken::onCancel(std::function<void()> callback) const
{
    if (state_->cancelled) {
        callback();
        return 0;
    }
    const int id = state_->nextId++;
    state_->callbacks.emplace_back(id, std::move(callback));
    return id;
}

void CancelToken::removeCallback(int id) const
{
    auto &cbs = state_->callbacks;
    cbs.erase(std::remove_if(cbs.begin(), cbs.end(), [id](const auto &e) { return e.first == id; }),
              cbs.end());
}

Clock &Clock::system()
{
    static SystemClock clock;
    return clock;
}

double SystemClock::uptime() const
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

QDateTime SystemClock::now() const { return QDateTime::currentDateTimeUtc(); }

QCoro::Task<bool> SystemClock::sleep(double seconds, CancelToken token)
{
    if (token.cancelled())
        co_return false;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    bool wasCancelled = false;
    const int id = token.onCancel([&timer, &wasCancelled] {
        wasCancelled = true;
        // Fire at once so the awaiting coroutine resumes.
        timer.start(0);
    });
    const double ms = std::max(0.0, seconds) * 1000.0;
    timer.start(static_cast<int>(std::min(ms, 2147483647.0)));
    co_await qCoro(&timer, &QTimer::timeout);
    token.removeCallback(id);
    co_return !wasCancelled;
}

} // namespace cv

#include "fake_clock.h"

#include <QCoroSignal>
#include <QTimer>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <limits>

namespace cv::test {

FakeClock::FakeClock(double uptime, QDateTime wall)
    : uptime_(uptime), start_(uptime), wallStart_(std::move(wall))
{
}

FakeClock::~FakeClock()
{
    for (auto &s : sleepers_)
        s.waker->deleteLater();
}

QDateTime FakeClock::now() const
{
    return wallStart_.addMSecs(qint64(std::llround((uptime_ - start_) * 1000.0)));
}

QCoro::Task<bool> FakeClock::sleep(double seconds, CancelToken token)
{
    sleeps_.push_back(seconds);
    if (token.cancelled())
        co_return false;
    auto *waker = new SleepWaker;
    sleepers_.push_back({uptime_ + std::max(0.0, seconds), waker});
    const int id = token.onCancel([this, waker] {
        const auto it = std::find_if(sleepers_.begin(), sleepers_.end(), [waker](const Sleeper &s) { return s.waker == waker; });
        if (it != sleepers_.end()) {
            sleepers_.erase(it);
            emit waker->fire(false);
        }
    });
    schedulePump();
    const bool completed = co_await qCoro(waker, &SleepWaker::fire);
    token.removeCallback(id);
    waker->deleteLater();
    co_return completed;
}

bool FakeClock::wakeFirst(double until)
{
    const auto it = std::min_element(sleepers_.begin(), sleepers_.end(),
                                     [](const Sleeper &a, const Sleeper &b) { return a.wake < b.wake; });
    if (it == sleepers_.end() || it->wake > until)
        return false;
    uptime_ = std::max(uptime_, it->wake);
    SleepWaker *waker = it->waker;
    sleepers_.erase(it);
    emit waker->fire(true);
    return true;
}

void FakeClock::advance(double seconds)
{
    const double target = uptime_ + std::max(0.0, seconds);
    while (wakeFirst(target)) {
    }
    uptime_ = std::max(uptime_, target);
}

void FakeClock::setAutoAdvance(bool on)
{
    autoAdvance_ = on;
    if (on)
        schedulePump();
}

void FakeClock::schedulePump()
{
    if (!autoAdvance_ || pumpScheduled_)
        return;
    pumpScheduled_ = true;
    if (pumpDelayMs_ > 0)
        QTimer::singleShot(pumpDelayMs_, this, &FakeClock::pump);
    else
        QMetaObject::invokeMethod(this, &FakeClock::pump, Qt::QueuedConnection);
}

void FakeClock::pump()
{
    pumpScheduled_ = false;
    if (autoAdvance_ && wakeFirst(std::numeric_limits<double>::infinity()) && !sleepers_.empty())
        schedulePump();
}

} // namespace cv::test

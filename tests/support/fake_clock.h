#pragma once

#include "platform/clock.h"

#include <QCoroSignal>
#include <QObject>
#include <QPointer>
#include <QTimeZone>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <list>
#include <vector>

namespace cv::test {

// Fires one sleeper of the fake clock.
class SleepWaker : public QObject {
    Q_OBJECT
signals:
    void fire(bool completed);
};

// A clock for tests. Time stands still until something sleeps; then, with auto
// advance on (the default), the clock jumps to the earliest sleeper's wake time and
// resumes it, one sleeper per turn of the event loop. So a 15 s wait runs in
// milliseconds while keeping the order of wake-ups.
class FakeClock final : public QObject, public Clock {
    Q_OBJECT
public:
    explicit FakeClock(double uptime = 1000.0, QDateTime wall = QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC))
        : uptime_(uptime), start_(uptime), wallStart_(std::move(wall))
    {
    }
    // A sleeper woken just before the clock goes has its resumption queued still: its
    // waker goes at once, and that resumption with it, so nothing of a case that has
    // ended runs in the next one.
    ~FakeClock() override
    {
        for (const QPointer<SleepWaker> &waker : wakers_)
            delete waker.data();
    }

    double uptime() const override { return uptime_; }
    QDateTime now() const override { return wallStart_.addMSecs(qint64(std::llround((uptime_ - start_) * 1000.0))); }
    QCoro::Task<bool> sleep(double seconds, CancelToken token = CancelToken()) override
    {
        sleeps_.push_back(seconds);
        if (token.cancelled())
            co_return false;
        auto *waker = new SleepWaker;
        std::erase_if(wakers_, [](const QPointer<SleepWaker> &w) { return w.isNull(); });
        wakers_.emplace_back(waker);
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

    // Moves both clocks forward and wakes every sleeper that is due.
    void advance(double seconds)
    {
        const double target = uptime_ + std::max(0.0, seconds);
        while (wakeFirst(target)) {
        }
        uptime_ = std::max(uptime_, target);
    }
    // With auto advance off, sleepers wake only through advance().
    void setAutoAdvance(bool on)
    {
        autoAdvance_ = on;
        schedulePump();
    }
    // Waits this many real milliseconds before each automatic jump (0: next turn).
    void setPumpDelay(int milliseconds) { pumpDelayMs_ = milliseconds; }
    int sleeperCount() const { return int(sleepers_.size()); }
    // When the earliest sleeper wakes (infinity: none sleeps).
    double nextWake() const
    {
        double wake = std::numeric_limits<double>::infinity();
        for (const auto &s : sleepers_)
            wake = std::min(wake, s.wake);
        return wake;
    }
    // Every duration passed to sleep(), in order.
    const std::deque<double> &sleeps() const { return sleeps_; }

private:
    struct Sleeper {
        double wake;
        SleepWaker *waker;
    };

    void schedulePump()
    {
        if (!autoAdvance_ || pumpScheduled_)
            return;
        pumpScheduled_ = true;
        const auto pump = [this] {
            pumpScheduled_ = false;
            if (autoAdvance_ && wakeFirst(std::numeric_limits<double>::infinity()) && !sleepers_.empty())
                schedulePump();
        };
        pumpDelayMs_ > 0 ? QTimer::singleShot(pumpDelayMs_, this, pump) : void(QMetaObject::invokeMethod(this, pump, Qt::QueuedConnection));
    }
    // Wakes the earliest sleeper (the first queued among equals) if it is due by `until`.
    bool wakeFirst(double until)
    {
        const auto it = std::min_element(sleepers_.begin(), sleepers_.end(), [](const Sleeper &a, const Sleeper &b) { return a.wake < b.wake; });
        if (it == sleepers_.end() || it->wake > until)
            return false;
        uptime_ = std::max(uptime_, it->wake);
        SleepWaker *waker = it->waker;
        sleepers_.erase(it);
        emit waker->fire(true);
        return true;
    }

    double uptime_;
    double start_;
    QDateTime wallStart_;
    std::list<Sleeper> sleepers_;
    std::vector<QPointer<SleepWaker>> wakers_;
    std::deque<double> sleeps_;
    bool autoAdvance_ = true;
    bool pumpScheduled_ = false;
    int pumpDelayMs_ = 0;
};

} // namespace cv::test

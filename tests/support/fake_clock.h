#pragma once

#include "platform/clock.h"

#include <QObject>
#include <QTimeZone>

#include <deque>
#include <list>

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
    explicit FakeClock(double uptime = 1000.0,
                       QDateTime wall = QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC));
    ~FakeClock() override;

    double uptime() const override { return uptime_; }
    QDateTime now() const override;
    QCoro::Task<bool> sleep(double seconds, CancelToken token = CancelToken()) override;

    // Moves both clocks forward and wakes every sleeper that is due.
    void advance(double seconds);
    // With auto advance off, sleepers wake only through advance().
    void setAutoAdvance(bool on);
    // Waits this many real milliseconds before each automatic jump (0: next turn).
    void setPumpDelay(int milliseconds) { pumpDelayMs_ = milliseconds; }

    int sleeperCount() const { return int(sleepers_.size()); }
    // Every duration passed to sleep(), in order.
    const std::deque<double> &sleeps() const { return sleeps_; }

private:
    struct Sleeper {
        double wake;
        SleepWaker *waker;
    };
    void schedulePump();
    void pump();
    // Wakes the earliest sleeper (the first queued among equals) if it is due by `until`.
    bool wakeFirst(double until);

    double uptime_;
    double start_;
    QDateTime wallStart_;
    std::list<Sleeper> sleepers_;
    std::deque<double> sleeps_;
    bool autoAdvance_ = true;
    bool pumpScheduled_ = false;
    int pumpDelayMs_ = 0;
};

} // namespace cv::test

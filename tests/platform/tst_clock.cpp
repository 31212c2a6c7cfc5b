#include "fake_clock.h"
#include "platform/clock.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QCoroTask>

using namespace cv;
using cv::test::FakeClock;

class ClockTest : public QObject {
    Q_OBJECT
private slots:
    void systemSleep_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("cancelAfterMs"); // -1: never; 0: cancelled before
        QTest::newRow("waits") << 0.05 << -1;
        QTest::newRow("ends early when cancelled") << 30.0 << 20;
        QTest::newRow("already cancelled") << 30.0 << 0;
    }

    void systemSleep()
    {
        QFETCH(double, seconds);
        QFETCH(int, cancelAfterMs);
        SystemClock clock;
        CancelToken token;
        if (cancelAfterMs == 0)
            token.cancel();
        else if (cancelAfterMs > 0)
            QTimer::singleShot(cancelAfterMs, [token] { token.cancel(); });
        const double before = clock.uptime();
        const QDateTime wallBefore = clock.now();
        QCOMPARE(QCoro::waitFor(clock.sleep(seconds, token)), cancelAfterMs < 0);
        const double slept = clock.uptime() - before;
        QVERIFY(cancelAfterMs < 0 ? slept >= 0.045 : slept < 5.0);
        QVERIFY(wallBefore.msecsTo(clock.now()) >= (cancelAfterMs < 0 ? 40 : 0));
    }

    void fakeClockJumpsToSleepersInOrder()
    {
        FakeClock clock;
        const QDateTime wallBefore = clock.now();
        QList<int> order;
        // The lambda must outlive its coroutines, which reach the captures through it.
        auto sleeper = [&](double seconds, int tag) -> QCoro::Task<> {
            co_await clock.sleep(seconds);
            order.append(tag);
        };
        QElapsedTimer elapsed;
        elapsed.start();
        auto a = sleeper(15.0, 15);
        auto b = sleeper(1.0, 1);
        auto c = sleeper(2.0, 2);
        QTRY_COMPARE(order.size(), 3);
        QCOMPARE(order, (QList<int>{1, 2, 15}));
        QCOMPARE(clock.uptime(), 1015.0);
        QCOMPARE(wallBefore.msecsTo(clock.now()), 15000);
        QVERIFY(elapsed.elapsed() < 2000);
    }

    void fakeClockManualAdvanceAndCancel()
    {
        FakeClock clock;
        clock.setAutoAdvance(false);
        CancelToken token;
        std::optional<bool> first, second;
        auto sleeper = [&](std::optional<bool> *result, CancelToken t) -> QCoro::Task<> { *result = co_await clock.sleep(5.0, t); };
        auto a = sleeper(&first, CancelToken());
        auto b = sleeper(&second, token);
        QCOMPARE(clock.sleeperCount(), 2);
        // A cancelled sleeper ends at once with false, without moving the clock.
        token.cancel();
        QTRY_COMPARE(second, std::optional<bool>(false));
        QCOMPARE(clock.sleeperCount(), 1);
        QCOMPARE(clock.uptime(), 1000.0);
        clock.advance(4.9);
        QTest::qWait(20);
        QVERIFY(!first);
        clock.advance(0.1);
        QTRY_COMPARE(first, std::optional<bool>(true));
        QCOMPARE(clock.uptime(), 1005.0);
        // An already cancelled token returns at once on the fake clock too.
        QVERIFY(!QCoro::waitFor(clock.sleep(30.0, token)));
    }
};

QTEST_GUILESS_MAIN(ClockTest)
#include "tst_clock.moc"

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
    void systemSleepWaits()
    {
        SystemClock clock;
        const double before = clock.uptime();
        const bool completed = QCoro::waitFor(clock.sleep(0.05));
        QVERIFY(completed);
        QVERIFY(clock.uptime() - before >= 0.045);
    }

    void systemSleepEndsEarlyWhenCancelled()
    {
        SystemClock clock;
        CancelToken token;
        QTimer::singleShot(20, [token] { token.cancel(); });
        QElapsedTimer elapsed;
        elapsed.start();
        const bool completed = QCoro::waitFor(clock.sleep(30.0, token));
        QVERIFY(!completed);
        QVERIFY(elapsed.elapsed() < 5000);
    }

    void alreadyCancelledTokenReturnsAtOnce()
    {
        SystemClock clock;
        CancelToken token;
        token.cancel();
        QVERIFY(!QCoro::waitFor(clock.sleep(30.0, token)));
        FakeClock fake;
        QVERIFY(!QCoro::waitFor(fake.sleep(30.0, token)));
        QCOMPARE(fake.uptime(), 1000.0);
    }

    void fakeClockJumpsToSleeper()
    {
        FakeClock clock;
        const QDateTime wallBefore = clock.now();
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(QCoro::waitFor(clock.sleep(15.0)));
        QCOMPARE(clock.uptime(), 1015.0);
        QCOMPARE(wallBefore.msecsTo(clock.now()), 15000);
        QVERIFY(elapsed.elapsed() < 2000);
    }

    void fakeClockWakesInOrder()
    {
        FakeClock clock;
        QList<int> order;
        auto sleeper = [&](double seconds, int tag) -> QCoro::Task<> {
            co_await clock.sleep(seconds);
            order.append(tag);
        };
        auto a = sleeper(3.0, 3);
        auto b = sleeper(1.0, 1);
        auto c = sleeper(2.0, 2);
        QTRY_COMPARE(order.size(), 3);
        QCOMPARE(order, (QList<int>{1, 2, 3}));
        QCOMPARE(clock.uptime(), 1003.0);
    }

    void fakeClockManualAdvance()
    {
        FakeClock clock;
        clock.setAutoAdvance(false);
        bool done = false;
        // The lambda must outlive its coroutine, which reaches the captures through it.
        auto sleeper = [&]() -> QCoro::Task<> {
            co_await clock.sleep(5.0);
            done = true;
        };
        auto task = sleeper();
        QTest::qWait(20);
        QVERIFY(!done);
        clock.advance(4.9);
        QTest::qWait(20);
        QVERIFY(!done);
        clock.advance(0.1);
        QTRY_VERIFY(done);
        QCOMPARE(clock.uptime(), 1005.0);
    }

    void fakeClockCancel()
    {
        FakeClock clock;
        clock.setAutoAdvance(false);
        CancelToken token;
        std::optional<bool> result;
        auto sleeper = [&]() -> QCoro::Task<> { result = co_await clock.sleep(5.0, token); };
        auto task = sleeper();
        QCOMPARE(clock.sleeperCount(), 1);
        token.cancel();
        QTRY_VERIFY(result.has_value());
        QCOMPARE(*result, false);
        QCOMPARE(clock.sleeperCount(), 0);
        QCOMPARE(clock.uptime(), 1000.0);
    }
};

QTEST_GUILESS_MAIN(ClockTest)
#include "tst_clock.moc"

// The system clock's sleep, whole or cut short by its token.
#include "platform/clock.h"

#include <QTest>
#include <QTimer>
#include <QCoroTask>

using namespace cv;

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
};

QTEST_GUILESS_MAIN(ClockTest)
#include "tst_clock.moc"

// The system clock's sleep, whole or cut short by its token.
#include "platform/clock.h"

#include <QTest>
#include <QTimer>
#include <QCoroTask>

using namespace cv;

class ClockTest : public QObject {
    Q_OBJECT
private slots:
    // Whole, cut short by its token, or not begun when already cancelled.
    void systemSleep()
    {
        for (const int cancelAfterMs : {-1, 20, 0}) {
            SystemClock clock;
            CancelToken token;
            if (cancelAfterMs == 0)
                token.cancel();
            else if (cancelAfterMs > 0)
                QTimer::singleShot(cancelAfterMs, [token] { token.cancel(); });
            const double before = clock.uptime();
            const QDateTime wallBefore = clock.now();
            QCOMPARE(QCoro::waitFor(clock.sleep(cancelAfterMs < 0 ? 0.05 : 30.0, token)), cancelAfterMs < 0);
            const double slept = clock.uptime() - before;
            QVERIFY(cancelAfterMs < 0 ? slept >= 0.045 && wallBefore.msecsTo(clock.now()) >= 40 : slept < 5.0);
        }
    }
};

QTEST_GUILESS_MAIN(ClockTest)
#include "tst_clock.moc"

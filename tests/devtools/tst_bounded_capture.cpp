#include "outcome.h"
#include "../views/table.h"

#include "devtools/bounded_capture.h"

#include <QTest>
#include <QThread>
#include <QThreadPool>

using namespace cv;
using namespace cv::test;

using Completion = DevelopmentCaptureCompletion<int>;
using Start = std::function<void(Completion)>;
Q_DECLARE_METATYPE(Start)

namespace {

int resumes = 0;
bool offMain = false;

// The bounded call's outcome, counting how often and on which thread its caller goes on.
QCoro::Task<Outcome<int>> counted(Start start, double timeout)
{
    QCoro::Task<Outcome<int>> call = capture(boundedDevelopmentCapture<int>(QStringLiteral("Probe"), std::move(start), timeout));
    const Outcome<int> out = co_await std::move(call);
    ++resumes;
    offMain = offMain || QThread::currentThread() != QCoreApplication::instance()->thread();
    co_return out;
}

const QString timedOut = QStringLiteral("Probe timed out; no window capture was obtained.");

} // namespace

class TestBoundedCapture : public QObject {
    Q_OBJECT

private slots:
    void outcomes_data()
    {
        columns<Start, double, std::optional<QString>>("start", "timeout", "error"); // none: the value 7
        auto error = std::make_exception_ptr(ServiceError::invalid("Grab refused."));
        QTest::newRow("callback inside start") << Start([](Completion done) { done(7, nullptr); }) << 3.0
                                               << std::optional<QString>();
        QTest::newRow("no callback") << Start([](Completion) {}) << 0.1 << std::optional(timedOut);
        QTest::newRow("value and error") << Start([error](Completion done) { done(7, error); }) << 3.0
                                         << std::optional<QString>("invalid: Grab refused.");
        QTest::newRow("neither") << Start([](Completion done) { done(std::nullopt, nullptr); }) << 3.0
                                 << std::optional<QString>("Probe returned neither an image/content nor an error.");
    }
    void outcomes()
    {
        auto [start, timeout, error] = fetch<Start, double, std::optional<QString>>("start", "timeout", "error");
        resumes = 0;
        const Outcome<int> out = finished(counted(start, timeout));
        QCOMPARE(out.error, error);
        QCOMPARE(out.value.value_or(7), 7);
        // Whatever answers later finds nothing left to resume.
        QThreadPool::globalInstance()->waitForDone();
        QTest::qWait(50);
        QCOMPARE(resumes, 1);
        QVERIFY(!offMain);
    }

    // Callbacks that come right at their deadlines, on other threads: each caller
    // goes on exactly once, with one of the two outcomes, on the main thread.
    void racingDeadlines()
    {
        resumes = 0;
        QThreadPool::globalInstance()->setMaxThreadCount(48);
        std::vector<QCoro::Task<Outcome<int>>> calls;
        for (int i = 0; i < 40; ++i)
            calls.push_back(counted([i](Completion done) { QThreadPool::globalInstance()->start([i, done] { QThread::msleep(30); done(i, nullptr); }); }, 0.03));
        QThreadPool::globalInstance()->waitForDone();
        for (int i = 0; i < int(calls.size()); ++i) {
            const Outcome<int> out = finished(std::move(calls[i]));
            QVERIFY(out.error ? *out.error == timedOut : out.value == i);
        }
        QTest::qWait(50);
        QCOMPARE(resumes, 40);
        QVERIFY(!offMain);
    }
};

QTEST_GUILESS_MAIN(TestBoundedCapture)
#include "tst_bounded_capture.moc"

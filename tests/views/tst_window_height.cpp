#include "views/window_height.h"
#include "table.h"

#include <QScrollArea>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

using namespace cv;
using namespace cv::test;

namespace {

using Screen = std::optional<QRect>;
const QRect desktop(0, 0, 1920, 1080);

// A window of a 40 px header over a frameless scroll area whose content is a stack
// of 50 px blocks without spacing, so its content height is 50 per block.
struct Window {
    QWidget widget;
    QVBoxLayout *blocks;
    std::unique_ptr<WindowHeight> height = std::make_unique<WindowHeight>(100, 880);

    explicit Window(int count)
    {
        auto *layout = new QVBoxLayout(&widget);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addSpacing(40); // the header
        auto *area = new QScrollArea;
        area->setFrameShape(QFrame::NoFrame);
        area->setWidgetResizable(true);
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        auto *content = new QWidget;
        blocks = new QVBoxLayout(content);
        blocks->setContentsMargins(0, 0, 0, 0);
        blocks->setSpacing(0);
        blocks->setAlignment(Qt::AlignTop);
        area->setWidget(content);
        layout->addWidget(area);
        setBlocks(count);
        widget.setGeometry(50, 30, 300, 200);
        height->setWindow(&widget);
        fitsWindowHeight(area, height.get());
    }
    void setBlocks(int count)
    {
        while (blocks->count() > count)
            delete blocks->takeAt(0)->widget();
        while (blocks->count() < count) {
            auto *block = new QWidget;
            block->setFixedHeight(50);
            blocks->addWidget(block);
        }
    }
};

// Runs what is queued, and what that queues in turn, without letting a timer fire,
// so that on a slow machine neither the fallback show nor the end of a drag can
// overtake the fit the test waits for.
void runQueued()
{
    for (int round = 0; round < 8; ++round)
        QCoreApplication::sendPostedEvents();
}

} // namespace

class TestWindowHeight : public QObject {
    Q_OBJECT
private slots:
    // The fitted height: chrome plus content rounded up, within the limits, the minimum winning.
    void target_data()
    {
        columns<QList<qreal>, Screen, bool, int>("in", "screen", "unlimited", "expected"); // chrome, content, minimum, maximum
        QTest::newRow("rounded up") << QList<qreal>{52, 300.2, 0, 900} << Screen(desktop) << false << 353;
        QTest::newRow("screen less 24") << QList<qreal>{52, 900, 320, 2000} << Screen(QRect(0, 0, 800, 600)) << false << 576;
        QTest::newRow("minimum beats maximum") << QList<qreal>{52, 100, 500, 400} << Screen(desktop) << false << 500;
        QTest::newRow("unlimited passes both") << QList<qreal>{52, 2000, 320, 880} << Screen(desktop) << true << 2052;
        QTest::newRow("no screen") << QList<qreal>{52, 2000, 320, 880} << Screen() << false << 880;
    }
    void target()
    {
        auto [in, screen, unlimited, expected] = fetch<QList<qreal>, Screen, bool, int>("in", "screen", "unlimited", "expected");
        QCOMPARE(WindowHeight::target(in[0], in[1], in[2], in[3], screen, unlimited), expected);
    }
    void geometry()
    {
        const Screen low = QRect(0, 30, 1920, 1050);
        QCOMPARE(WindowHeight::fittedGeometry(QRect(100, 700, 400, 300), 500, low), QRect(100, 580, 400, 500));
        QCOMPARE(WindowHeight::fittedGeometry(QRect(100, 100, 400, 300), 500, low), QRect(100, 100, 400, 500));
        QCOMPARE(WindowHeight::fittedGeometry(QRect(100, 700, 400, 300), 500, Screen()), QRect(100, 700, 400, 500)); // grows down, lifted only on a screen
        QCOMPARE(WindowHeight::fittedGeometry(QRect(100, 40, 400, 300), 1200, low), QRect(100, 30, 400, 1200)); // taller than the screen: the top stays on it
    }

    // The show-once rule: fits that can and cannot happen, repeated and dropped shows.
    void showOnce_data()
    {
        columns<int, bool, bool, QList<int>, int>("blocks", "twice", "release", "runs", "shownHeight"); // calls of the first and second closure
        QTest::newRow("no content: fallback") << 0 << false << false << QList<int>{1, 0} << 200;
        QTest::newRow("second call wins") << 4 << true << false << QList<int>{0, 1} << 240;
        QTest::newRow("released first") << 4 << false << true << QList<int>{0, 0} << 0;
    }
    void showOnce()
    {
        auto [blocks, twice, release, runs, shownHeight] = fetch<int, bool, bool, QList<int>, int>("blocks", "twice", "release", "runs", "shownHeight");
        auto window = std::make_unique<Window>(blocks);
        QList<int> calls{0, 0};
        int heightAtShow = 0;
        auto show = [&](int which) {
            return [&, which] {
                ++calls[which];
                heightAtShow = window->widget.height();
                window->widget.show();
            };
        };
        window->height->showAfterFitting(show(0));
        if (twice)
            window->height->showAfterFitting(show(1));
        QVERIFY(!window->widget.isVisible());
        if (release)
            window->height.reset();
        else
            runQueued();
        QTest::qWait(300);
        QTRY_COMPARE(calls, runs);
        QCOMPARE(heightAtShow, shownHeight);
    }

    // A shown window follows its content, holds still while the user resizes it, and
    // follows again afterwards. A drag while the window's height still animates stops
    // the animation where the user puts the window.
    void followsContent_data()
    {
        columns<bool>("midway"); // the drag comes while the window shrinks
        QTest::newRow("drag at rest") << false;
        QTest::newRow("drag during the animation") << true;
    }
    void followsContent()
    {
        auto [midway] = fetch<bool>("midway");
        Window window(4);
        window.height->showAfterFitting([&] { window.widget.show(); });
        runQueued();
        QVERIFY(window.widget.isVisible());
        QCOMPARE(window.widget.height(), 240);

        const int top = window.widget.y();
        window.setBlocks(2);
        runQueued();
        QVERIFY(window.height->animating());
        if (!midway) {
            QTRY_VERIFY(!window.height->animating());
            QCOMPARE(window.widget.height(), 140);
            QCOMPARE(window.widget.y(), top);
        }

        window.widget.resize(300, 400); // the user drags the bottom edge
        QVERIFY(window.height->userResizing());
        QVERIFY(!window.height->animating());
        window.setBlocks(3);
        runQueued();
        QCOMPARE(window.widget.height(), 400);
        QTRY_VERIFY(!window.height->userResizing());
        QCOMPARE(window.widget.height(), 400); // what came during the drag is not caught up on

        window.setBlocks(2); // and follows again
        QTRY_VERIFY(window.widget.height() == 140 && !window.height->animating());
        QCOMPARE(window.widget.y(), top);
    }

};

QTEST_MAIN(TestWindowHeight)
#include "tst_window_height.moc"

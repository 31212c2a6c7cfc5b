#include "views/window_height.h"

#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

using namespace cv;

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
        auto *header = new QLabel(QStringLiteral("header"));
        header->setFixedHeight(40);
        layout->addWidget(header);
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

} // namespace

class TestWindowHeight : public QObject {
    Q_OBJECT
private slots:
    void target_data()
    {
        QTest::addColumn<qreal>("chrome");
        QTest::addColumn<qreal>("content");
        QTest::addColumn<qreal>("minimum");
        QTest::addColumn<qreal>("maximum");
        QTest::addColumn<Screen>("screen");
        QTest::addColumn<bool>("unlimited");
        QTest::addColumn<int>("expected");
        QTest::newRow("rounded up") << 52.0 << 300.2 << 0.0 << 900.0 << Screen(desktop) << false << 353;
        QTest::newRow("maximum") << 52.0 << 900.0 << 320.0 << 880.0 << Screen(desktop) << false << 880;
        QTest::newRow("screen less 24") << 52.0 << 900.0 << 320.0 << 2000.0 << Screen(QRect(0, 0, 800, 600)) << false << 576;
        QTest::newRow("minimum beats maximum") << 52.0 << 100.0 << 500.0 << 400.0 << Screen(desktop) << false << 500;
        QTest::newRow("minimum beats screen") << 52.0 << 900.0 << 700.0 << 2000.0 << Screen(QRect(0, 0, 800, 600)) << false << 700;
        QTest::newRow("unlimited passes both") << 52.0 << 2000.0 << 320.0 << 880.0 << Screen(desktop) << true << 2052;
        QTest::newRow("unlimited keeps minimum") << 0.0 << 100.0 << 320.0 << 880.0 << Screen(desktop) << true << 320;
        QTest::newRow("no screen") << 52.0 << 2000.0 << 320.0 << 880.0 << Screen() << false << 880;
    }
    void target()
    {
        QFETCH(qreal, chrome);
        QFETCH(qreal, content);
        QFETCH(qreal, minimum);
        QFETCH(qreal, maximum);
        QFETCH(Screen, screen);
        QFETCH(bool, unlimited);
        QFETCH(int, expected);
        QCOMPARE(WindowHeight::target(chrome, content, minimum, maximum, screen, unlimited), expected);
    }

    void geometry_data()
    {
        QTest::addColumn<QRect>("current");
        QTest::addColumn<int>("target");
        QTest::addColumn<Screen>("screen");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("grows down") << QRect(100, 100, 400, 300) << 500 << Screen(desktop) << QRect(100, 100, 400, 500);
        QTest::newRow("shrinks up") << QRect(100, 100, 400, 300) << 200 << Screen(desktop) << QRect(100, 100, 400, 200);
        QTest::newRow("bottom lifted") << QRect(100, 700, 400, 300) << 500 << Screen(QRect(0, 30, 1920, 1050)) << QRect(100, 580, 400, 500);
        QTest::newRow("no screen, no lift") << QRect(100, 700, 400, 300) << 500 << Screen() << QRect(100, 700, 400, 500);
    }
    void geometry()
    {
        QFETCH(QRect, current);
        QFETCH(int, target);
        QFETCH(Screen, screen);
        QFETCH(QRect, expected);
        QCOMPARE(WindowHeight::fittedGeometry(current, target, screen), expected);
    }

    // The show-once rule: fits that can and cannot happen, repeated and dropped shows.
    void showOnce_data()
    {
        QTest::addColumn<int>("blocks");
        QTest::addColumn<bool>("twice");
        QTest::addColumn<bool>("release");
        QTest::addColumn<QList<int>>("runs"); // calls of the first and second closure
        QTest::addColumn<int>("shownHeight");
        QTest::newRow("fitted first") << 4 << false << false << QList<int>{1, 0} << 240;
        QTest::newRow("no content: fallback") << 0 << false << false << QList<int>{1, 0} << 200;
        QTest::newRow("second call wins") << 4 << true << false << QList<int>{0, 1} << 240;
        QTest::newRow("released first") << 4 << false << true << QList<int>{0, 0} << 0;
    }
    void showOnce()
    {
        QFETCH(int, blocks);
        QFETCH(bool, twice);
        QFETCH(bool, release);
        QFETCH(QList<int>, runs);
        QFETCH(int, shownHeight);
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
        QTest::qWait(300);
        QCOMPARE(calls, runs);
        QCOMPARE(heightAtShow, shownHeight);
    }

    // A shown window follows its content, holds still while the user resizes it or
    // while fitting is suspended, and follows again afterwards.
    void followsContent()
    {
        Window window(4);
        window.height->showAfterFitting([&] { window.widget.show(); });
        QTRY_VERIFY(window.widget.isVisible());
        QCOMPARE(window.widget.height(), 240);

        const int top = window.widget.y();
        window.setBlocks(2);
        QTRY_COMPARE(window.widget.height(), 140);
        QCOMPARE(window.widget.y(), top);

        window.setBlocks(30); // beyond the screen
        QTRY_COMPARE(window.widget.height(), window.widget.screen()->availableGeometry().height() - 24);

        window.widget.resize(300, 400); // the user drags the bottom edge
        QVERIFY(window.height->userResizing());
        window.setBlocks(3);
        QTest::qWait(100);
        QCOMPARE(window.widget.height(), 400);
        QTRY_VERIFY(!window.height->userResizing());

        window.height->setFittingSuspended(true);
        window.setBlocks(2);
        QTest::qWait(100);
        QCOMPARE(window.widget.height(), 400);
        window.height->setFittingSuspended(false);
        QTRY_COMPARE(window.widget.height(), 140);
    }

    // Unlimited windows take the content's full height at once, without animation.
    void unlimited()
    {
        WindowHeight::setUnlimited(true);
        Window window(20);
        window.height->showAfterFitting([&] { window.widget.show(); });
        QTRY_VERIFY(window.widget.isVisible());
        QCOMPARE(window.widget.height(), 1040);
        struct Heights : QObject {
            QList<int> seen;
            bool eventFilter(QObject *watched, QEvent *event) override
            {
                if (event->type() == QEvent::Resize)
                    seen << static_cast<QWidget *>(watched)->height();
                return false;
            }
        } heights;
        window.widget.installEventFilter(&heights);
        window.setBlocks(2);
        QTRY_COMPARE(window.widget.height(), 140);
        QCOMPARE(heights.seen, QList<int>{140}); // no steps in between
        WindowHeight::setUnlimited(false);
    }
};

QTEST_MAIN(TestWindowHeight)
#include "tst_window_height.moc"

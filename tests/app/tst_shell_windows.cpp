// The delegate's windows and activation: one window per computer, the cascade,
// showing after the first fit, the activation policy, reopening, titles and looks,
// and the refresh on every activation.

#include "delegate_fixture.h"

#include <QMainWindow>
#include <QSignalSpy>
#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

// Records a window's height at the moment it is first shown.
struct HeightAtShow final : QObject {
    std::optional<int> height;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && !height)
            height = static_cast<QWidget *>(watched)->height();
        return false;
    }
};

} // namespace

class ShellWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void everyActivationRefreshesLoginAndNotifications()
    {
        DelegateFixture f;
        QSignalSpy login(&f.delegate->model->host(), &ServiceHost::loginDetailChanged);
        f.runtime.becomeActive();
        f.runtime.becomeActive();
        QCOMPARE(login.size(), 2);
        QTRY_COMPARE(f.model.notifications->statusQueries(), 2);
    }

    void newWindowShownAtItsFittedHeight_data()
    {
        QTest::addColumn<std::optional<QString>>("id");
        QTest::addColumn<int>("height");
        QTest::newRow("main") << std::optional<QString>() << 320;
        QTest::newRow("computer") << std::optional<QString>(QString("p1")) << 460;
    }

    void newWindowShownAtItsFittedHeight()
    {
        QFETCH(std::optional<QString>, id);
        QFETCH(int, height);
        DelegateFixture f;
        id ? f.delegate->showPeer(*id) : f.delegate->showMain();
        QMainWindow *window = id ? f.delegate->peerWindows.value(*id).data() : f.delegate->mainWindow.data();
        QVERIFY(window);
        HeightAtShow atShow;
        window->installEventFilter(&atShow);
        // Not within the request: only once the event loop turned and the height fitted.
        QVERIFY(!window->isVisible());
        QCOMPARE(f.runtime.activationPolicy(), ActivationPolicy::accessory);
        QTRY_VERIFY(window->isVisible());
        QCOMPARE(atShow.height, std::optional<int>(height));
        QCOMPARE(f.runtime.activationPolicy(), ActivationPolicy::regular);
        QVERIFY(f.delegate->contentHosts.value(window));
        const QImage image = f.delegate->contentRenderers.value(window)(QSize(100, 80), 2);
        QCOMPARE(image.size(), QSize(200, 160));
    }

    void oneWindowPerComputer()
    {
        DelegateFixture f;
        QMainWindow *window = f.shown(QStringLiteral("p1"));
        QVERIFY(window);
        window->close();
        QVERIFY(!window->isVisible());
        // A known window is fronted at once, not rebuilt.
        f.delegate->showPeer(QStringLiteral("p1"));
        QVERIFY(window->isVisible());
        QCOMPARE(f.delegate->peerWindows.size(), 1);
        QCOMPARE(f.delegate->peerWindows.value(QStringLiteral("p1")).data(), window);
    }

    void cascadeOfComputerWindows()
    {
        DelegateFixture f;
        QList<int> offsets;
        QPoint first;
        for (int i = 0; i < 10; ++i) {
            f.delegate->showPeer(QStringLiteral("p%1").arg(i));
            const QPoint at = f.delegate->peerWindows.value(QStringLiteral("p%1").arg(i))->pos();
            if (i == 0)
                first = at;
            QCOMPARE(at.x() - first.x(), at.y() - first.y()); // right and down alike
            offsets << at.x() - first.x();
        }
        QCOMPARE(offsets, (QList<int>{0, 24, 48, 72, 96, 120, 144, 168, 0, 24}));
    }

    void policyWhenAWindowCloses_data()
    {
        QTest::addColumn<bool>("withComputer");
        QTest::addColumn<bool>("minimiseInstead"); // the main window is minimised, not closed
        QTest::addColumn<ActivationPolicy>("policy");
        QTest::newRow("last window closes") << false << false << ActivationPolicy::accessory;
        QTest::newRow("another stays visible") << true << false << ActivationPolicy::regular;
        QTest::newRow("only minimised") << false << true << ActivationPolicy::regular;
    }

    void policyWhenAWindowCloses()
    {
        QFETCH(bool, withComputer);
        QFETCH(bool, minimiseInstead);
        QFETCH(ActivationPolicy, policy);
        DelegateFixture f;
        QMainWindow *main = f.shown();
        QVERIFY(main);
        if (withComputer)
            QVERIFY(f.shown(QStringLiteral("p1")));
        QCOMPARE(f.runtime.activationPolicy(), ActivationPolicy::regular);
        minimiseInstead ? main->showMinimized() : void(main->close());
        QCOMPARE(f.runtime.activationPolicy(), policy);
        QCOMPARE(f.delegate->visibleWindows().size(), int(withComputer));
        QCOMPARE(f.exits, QList<int>()); // closing the last window never quits
    }

    void reopenFrontsTheMainWindow()
    {
        DelegateFixture f;
        QVERIFY(f.shown(QStringLiteral("p1")));
        f.runtime.reopen();
        QTRY_VERIFY(f.delegate->mainWindow && f.delegate->mainWindow->isVisible());
        QCOMPARE(f.delegate->visibleWindows().size(), 2);
        QCOMPARE(f.delegate->visibleWindows().first(), f.delegate->mainWindow.data());
        // A minimised main window comes back too.
        f.delegate->mainWindow->showMinimized();
        QVERIFY(f.delegate->applicationShouldHandleReopen(true));
        QVERIFY(!f.delegate->mainWindow->isMinimized());
    }

    void titlesAndLooks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shownTitle");
        QTest::addColumn<QSize>("minimum");
        QTest::addColumn<bool>("glass");
        QTest::newRow("computer") << "Studio" << "Studio" << QSize(600, 420) << true;
        QTest::newRow("placeholder in the name") << "A [*] B [*][*]" << "A [*] B [*][*]" << QSize(600, 420) << true;
        QTest::newRow("named like the application") << "Corvane" << "Corvane" << QSize(520, 280) << false;
    }

    void titlesAndLooks()
    {
        QFETCH(QString, name);
        QFETCH(QString, shownTitle);
        QFETCH(QSize, minimum);
        QFETCH(bool, glass);
        DelegateFixture f;
        f.connect({wire::peer(QStringLiteral("p1"), QStringLiteral("Other")), wire::peer(QStringLiteral("p2"), name)});
        QMainWindow *window = f.shown(QStringLiteral("p2"));
        QVERIFY(window);
        QCOMPARE(window->windowHandle()->title(), shownTitle);
        QCOMPARE(window->minimumSize(), minimum);
        QCOMPARE(window->centralWidget() != f.delegate->contentHosts.value(window), glass);
        // The cascade holds whatever the look: this is the second computer window.
        QVERIFY(f.shown(QStringLiteral("p1")));
        const QPoint step = f.delegate->peerWindows.value(QStringLiteral("p1"))->pos() - window->pos();
        QCOMPARE(step, QPoint(24, 24));
    }

    void mainWindowLook()
    {
        DelegateFixture f;
        QMainWindow *window = f.shown();
        QVERIFY(window);
        QCOMPARE(window->windowHandle()->title(), QStringLiteral("Corvane"));
        QCOMPARE(window->minimumSize(), QSize(520, 280));
        QCOMPARE(window->centralWidget(), f.delegate->contentHosts.value(window).data());
    }
};

QTEST_MAIN(ShellWindowsTest)
#include "tst_shell_windows.moc"

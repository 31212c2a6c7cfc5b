#include "model_fixture.h"
#include "outcome.h"
#include "test_files.h"

#include "devtools/capture_run.h"
#include "devtools/demo.h"
#include "devtools/window_capture.h"
#include "views/theme.h"
#include "views/window_height.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

using namespace cv;
using namespace cv::test;

// Content of a fixed height that asks its window to fit again whenever its palette
// changes, as text does.
class Document final : public QWidget {
public:
    explicit Document(int height) { setMinimumHeight(height); }
    QSize sizeHint() const override { return {300, minimumHeight()}; }

protected:
    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::PaletteChange)
            QCoreApplication::postEvent(this, new QEvent(QEvent::LayoutRequest));
        QWidget::changeEvent(event);
    }
};

// Stands in for the application delegate: its fields, its trace, and windows of a
// scroll area whose height follows the content, as the shell builds them (left to
// the end of the process).
struct StandInShell : QObject {
    ModelFixture fixture;
    QPointer<QMainWindow> mainWindow;
    QMap<QString, QPointer<QMainWindow>> peerWindows;
    QHash<const QWidget *, QPointer<QWidget>> contentHosts;
    QHash<const QWidget *, ContentRenderer> contentRenderers;
    bool captureScheduled = false, terminationScheduled = false, terminationInFlight = false;
    int terminations = 0;
    QStringList traces;

    DevelopmentHost host()
    {
        return {this, &fixture.model(), &mainWindow, &peerWindows, &contentHosts, &contentRenderers,
                &captureScheduled, &terminationScheduled, &terminationInFlight, nullptr, nullptr,
                [this] { ++terminations; }, [this](const QString &text) { traces << text; }};
    }
    // Minimum 400 by 250; height fitting between 300 and 2000.
    QMainWindow *build(int contentHeight, bool show = true)
    {
        auto *window = new QMainWindow;
        auto *root = new QWidget; // the root view, as the shell files it in contentHosts
        auto *area = new QScrollArea;
        area->setWidget(new Document(contentHeight));
        area->setWidgetResizable(true);
        (new QVBoxLayout(root))->addWidget(area);
        window->setCentralWidget(root);
        window->setMinimumSize(400, 250);
        window->resize(500, 400);
        auto *height = new WindowHeight(300, 2000, window);
        height->setWindow(window);
        fitsWindowHeight(area, height);
        contentHosts.insert(window, root);
        contentRenderers.insert(window, contentRenderer(root));
        if (show) {
            height->showAfterFitting([window] { window->show(); });
            // Shown once fitted and at rest, however long that takes on a busy machine.
            if (!QTest::qWaitFor([window, height] { return window->isVisible() && !height->animating(); }, 20000))
                qWarning("The window was not shown");
        }
        return window;
    }
};

int brightness(const QImage &image) { return qGray(image.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0)); }

class TestCapture : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Theme::apply(Appearance::light);
        qputenv("CV_MAC_CAPTURE_PAUSE_MS", "30");
    }

    // The window as the application draws it now, not the screen's older pixels.
    void ownWindowAsDrawn()
    {
        QWidget window;
        window.resize(120, 80);
        window.setAutoFillBackground(true);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.setPalette(QPalette(Qt::red, Qt::red)); // drawn on the screen only on a later turn
        const QImage image = finished(captureOwnWindow(&window));
        QCOMPARE(image.size(), window.size() * window.devicePixelRatio());
        QCOMPARE(image.pixelColor(60, 40), QColor(Qt::red));
    }


    // One run per process, started by the first state change with a status: the
    // report, the fallback for a window that is not shown, the variants of the shown
    // one, which is put back as it was in every respect, and the quit.
    void captureRun()
    {
        StandInShell shell;
        QTemporaryDir folder;
        const QString captures = folder.filePath("captures"), peer = "peer-" + QString(12, 'a');
        ScopedEnv dir("CV_MAC_CAPTURE_DIR", captures.toUtf8()), quit("CV_MAC_QUIT_AFTER_CAPTURE", "1"),
            variants("CV_MAC_CAPTURE_VARIANTS", "1"), peers("CV_MAC_CAPTURE_OPEN_PEERS", "0"); // "0" is off
        shell.peerWindows.insert(Demo::peerID(), shell.build(100, false));
        QMainWindow *window = shell.mainWindow = shell.build(900);
        auto *area = window->findChild<QScrollArea *>();
        area->verticalScrollBar()->setValue(40);
        Theme::setWindowAppearance(window, Appearance::dark);
        const QRect geometry = window->geometry();

        AppModel &model = shell.fixture.model();
        model.stateChanged = [&shell] { scheduleDevelopmentCapture(shell.host()); };
        scheduleDevelopmentCapture(shell.host()); // no status yet
        QVERIFY(!shell.captureScheduled);
        model.showDemo(Demo::status(QStringLiteral("connected")));
        model.showDemo(Demo::status(QStringLiteral("main")));
        QTRY_COMPARE_WITH_TIMEOUT(shell.terminations, 1, 30000); // a run of many pictures: the bound only stops one that is stuck
        model.showDemo(Demo::status(QStringLiteral("empty")));
        QCOMPARE(shell.traces.filter("scheduling capture").size(), 1);

        const QString text = QString::fromUtf8(readFile(captures + "/view-geometry.txt"));
        for (const QString &part : QStringList{peer + ": own-window capture failed: This app’s window is unavailable",
                                               peer + ": wrote SwiftUI rendering", "main: captured own windowID=", "\nRequesting normal"})
            QVERIFY2(text.contains(part), qPrintable(text));
        QVERIFY(text.indexOf(peer + ": wrote") < text.indexOf("main: windowID="));
        for (const char *file : {"main.png", "main-window.png", "main-host.png", "-host.png", "-rendered.png"})
            QVERIFY2(QFile::exists(captures + '/' + (file[0] == '-' ? peer : "") + file), file);
        const QImage light(captures + "/main-light-window.png"), dark(captures + "/main-dark-window.png");
        QCOMPARE(light.size(), geometry.size());
        QVERIFY(brightness(light) > brightness(dark));
        // The minimum pictures at the minimum although the height follows the content.
        QCOMPARE(QImage(captures + "/main-dark-minimum-window.png").size(), QSize(400, 250));
        QVERIFY(QFile::exists(captures + "/main-light-minimum-bottom-window.png"));

        QCOMPARE(window->geometry(), geometry);
        QVERIFY(window->testAttribute(Qt::WA_SetPalette) && Theme::isDark(window->palette()));
        QCOMPARE(area->verticalScrollBar()->value(), 40);
        QTest::qWait(200); // fitting is back and leaves the window as it was
        QCOMPARE(window->geometry(), geometry);
    }

    // Only an absolute capture folder starts a run; a relative or empty one never
    // does, whatever state changes follow.
    void captureFolderMustBeAbsolute()
    {
        QTemporaryDir folder;
        const QString here = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder.path()));
        for (const char *relative : {"captures", "./captures", "~/captures", ""}) {
            StandInShell shell;
            ScopedEnv dir("CV_MAC_CAPTURE_DIR", QByteArray(relative));
            shell.fixture.model().showDemo(Demo::status(QStringLiteral("main")));
            scheduleDevelopmentCapture(shell.host());
            scheduleDevelopmentCapture(shell.host());
            QVERIFY2(!shell.captureScheduled && shell.traces.isEmpty(), relative);
        }
        QTest::qWait(100); // a run would have made its folder by now
        QVERIFY(QDir::setCurrent(here));
        QCOMPARE(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    }

    // A picture that does not encode leaves the file it would replace as it was.
    void writePNG()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath("old.png");
        cv::writePNG(QImage(3, 2, QImage::Format_Mono), path);
        QVERIFY(errorOf([&] { cv::writePNG(QImage(), path); }));
        QCOMPARE(QImage(path).size(), QSize(3, 2));
    }
};

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"

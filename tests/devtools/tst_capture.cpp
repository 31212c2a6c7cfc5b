#include "model_fixture.h"
#include "../views/table.h"
#include "outcome.h"

#include "devtools/capture_run.h"
#include "devtools/demo.h"
#include "devtools/window_capture.h"
#include "views/theme.h"
#include "views/window_height.h"

#include <QDir>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

using namespace cv;
using namespace cv::test;

namespace cv::test {

// A window's root view, as the shell files it in contentHosts.
class RootView final : public QWidget {};

// Content whose size hint may follow the appearance, as text does: it asks its
// window to fit again whenever its palette changes.
class Document final : public QWidget {
public:
    explicit Document(int height) : height_(height) { setMinimumHeight(height); }
    QSize sizeHint() const override { return {300, height_}; }

protected:
    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::PaletteChange)
            QCoreApplication::postEvent(this, new QEvent(QEvent::LayoutRequest));
        QWidget::changeEvent(event);
    }

private:
    int height_;
};

// Stands in for the application delegate: its fields, and windows of a scroll
// area whose height follows the content, as the shell builds them.
struct StandInShell : QObject {
    ModelFixture fixture;
    QPointer<QMainWindow> mainWindow;
    QMap<QString, QPointer<QMainWindow>> peerWindows;
    QHash<const QWidget *, QPointer<QWidget>> contentHosts;
    QHash<const QWidget *, ContentRenderer> contentRenderers;
    bool captureScheduled = false, terminationScheduled = false, terminationInFlight = false;
    int terminations = 0;

    ~StandInShell() override
    {
        delete mainWindow.data();
        qDeleteAll(peerWindows);
    }

    DevelopmentHost host()
    {
        return {this, &fixture.model(), &mainWindow, &peerWindows, &contentHosts, &contentRenderers,
                &captureScheduled, &terminationScheduled, &terminationInFlight, nullptr, nullptr,
                [this] { ++terminations; }, [](const QString &) {}};
    }

    // Minimum 400 by 250; height fitting between 300 and 2000.
    QMainWindow *build(int contentHeight, bool show = true)
    {
        auto *window = new QMainWindow;
        auto *root = new RootView;
        auto *area = new QScrollArea;
        auto *document = new Document(contentHeight);
        area->setWidget(document);
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
            if (!QTest::qWaitFor([window] { return window->isVisible(); }) || !QTest::qWaitForWindowExposed(window))
                qWarning("window not shown");
            QTest::qWait(300);
        }
        return window;
    }
};

// A report line with every number as "#".
QStringList shapes(QStringList lines)
{
    static const QRegularExpression number(QStringLiteral("\\d+"));
    for (QString &line : lines)
        line.replace(number, QStringLiteral("#"));
    return lines;
}

int brightness(const QImage &image) { return qGray(image.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0)); }

} // namespace cv::test

class TestCapture : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Theme::apply(Appearance::light); }

    // The window is put back as it was in every respect, and the minimum pictures
    // are at the minimum size although the window's height follows its content.
    void variants_data()
    {
        columns<int, bool>("contentHeight", "ownDark");
        QTest::newRow("fits, follows the application") << 100 << false;
        QTest::newRow("overflows, own dark appearance") << 900 << true;
    }
    void variants()
    {
        auto [contentHeight, ownDark] = fetch<int, bool>("contentHeight", "ownDark");
        StandInShell shell;
        QMainWindow *window = shell.build(contentHeight);
        auto *area = window->findChild<QScrollArea *>();
        const bool overflows = area->verticalScrollBar()->maximum() > 0;
        QCOMPARE(overflows, contentHeight > 600);
        area->verticalScrollBar()->setValue(overflows ? 40 : 0);
        if (ownDark)
            Theme::setWindowAppearance(window, Appearance::dark);
        const QRect geometry = window->geometry();
        QTemporaryDir folder;

        const QStringList lines =
            QCoro::waitFor(captureDevelopmentVariants(shell.host(), window, QStringLiteral("w"), folder.path()));
        // Two lines per picture, one on the bottom scroll of each minimum one, one on the restoring.
        QCOMPARE(lines.size(), overflows ? 13 : 11);
        QCOMPARE(shapes(lines).mid(4, 2), (QStringList{"w light-minimum: windowID=# frame={{#, #}, {#, #}} content={{#, #}, {#, #}} minimum={#, #} visible=true",
                                                       "w-light-minimum-window.png: exact own-window capture #x#"}));
        QCOMPARE(shapes(lines).value(6), overflows ? "w-light-minimum: native scroll document={{#, #}, {#, #}} flipped=true clip={{#, #}, {#, #}} moved to document bottom"
                                                   : "w-light-minimum: no vertically overflowing native NSScrollView found; no bottom-scroll capture claimed");
        QCOMPARE(shapes(lines).last(), "w: restoring original appearance and frame {{#, #}, {#, #}} after development variants");
        QCOMPARE(window->geometry(), geometry);
        QCOMPARE(window->testAttribute(Qt::WA_SetPalette), ownDark);
        QCOMPARE(Theme::isDark(window->palette()), ownDark);
        QCOMPARE(area->verticalScrollBar()->value(), overflows ? 40 : 0);
        QTest::qWait(400); // fitting is back and leaves the window as it was
        QCOMPARE(window->geometry(), geometry);

        const QImage light(folder.filePath("w-light-window.png")), dark(folder.filePath("w-dark-window.png"));
        QCOMPARE(light.size(), geometry.size());
        QVERIFY(brightness(dark) < brightness(light));
        QCOMPARE(QImage(folder.filePath("w-dark-minimum-window.png")).size(), QSize(400, 250));
        QCOMPARE(QFile::exists(folder.filePath("w-light-minimum-bottom-window.png")), overflows);
    }

    // The window as the application draws it now, not the screen's older pixels.
    void ownWindowAsDrawn()
    {
        QWidget window;
        window.resize(120, 80);
        window.setAutoFillBackground(true);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QPalette red = window.palette();
        red.setColor(QPalette::Window, Qt::red);
        window.setPalette(red); // drawn on the screen only on a later turn
        const QImage image = QCoro::waitFor(captureOwnWindow(&window));
        QCOMPARE(image.size(), window.size() * window.devicePixelRatio());
        QCOMPARE(image.pixelColor(60, 40), QColor(Qt::red));
    }

    // The whole run on a model that has just got its first status: the report,
    // the files, the fallback for a window that is not shown, and the quit.
    void captureRun()
    {
        StandInShell shell;
        QTemporaryDir folder;
        const QString captures = folder.filePath("captures");
        ScopedEnv dir("CV_MAC_CAPTURE_DIR", captures.toUtf8()), quit("CV_MAC_QUIT_AFTER_CAPTURE", "1");
        shell.peerWindows.insert(Demo::peerID(), shell.build(100, false));
        shell.mainWindow = shell.build(100);
        AppModel &model = shell.fixture.model();
        model.stateChanged = [&shell] { scheduleDevelopmentCapture(shell.host()); };
        scheduleDevelopmentCapture(shell.host()); // no status yet
        QVERIFY(!shell.captureScheduled);
        model.showDemo(Demo::status(QStringLiteral("connected")));
        model.showDemo(Demo::status(QStringLiteral("main")));
        QTRY_COMPARE_WITH_TIMEOUT(shell.terminations, 1, 10000);

        QFile report(captures + "/view-geometry.txt");
        QVERIFY(report.open(QIODevice::ReadOnly));
        const QString peer = "peer-" + QString(12, 'a');
        const QStringList lines = shapes(QString::fromUtf8(report.readAll()).split('\n'));
        QCOMPARE(lines.mid(0, 2), (QStringList{
            "pid=# screenCapturePreflight=true (informational; own-process capture does not require global Screen Recording access)",
            "*-window.png = exact-window capture; *-rendered.png = SwiftUI fallback, NOT a window capture; other PNGs = "
            "potentially incomplete AppKit bitmap caches."}));
        for (const QString &line : {peer + ": own-window capture failed: This app’s window is unavailable for capture.",
                                    QString("main: captured own windowID=#, #x#")})
            QVERIFY2(lines.contains(line), qPrintable(line));
        QVERIFY(lines.indexOf(QRegularExpression("^" + peer + ": wrote SwiftUI rendering.*")) < lines.indexOf(QRegularExpression("^main: windowID=.*")));
        QVERIFY(lines.value(lines.size() - 2).startsWith("Requesting normal NSApp.terminate after capture;"));
        QStringList files = QDir(captures).entryList({"*.png"});
        files.sort();
        QCOMPARE(files, (QStringList{"main-host.png", "main-window.png", "main.png", peer + "-host.png",
                                     peer + "-rendered.png", peer + ".png"}));
        QCOMPARE(QImage(captures + "/main-window.png").size(), shell.mainWindow->size());
    }

    // The "⋯" menu is opened, drawn into the picture beyond the window's edge, and
    // closed again; a window without one fails before anything is captured.
    void menuCapture_data()
    {
        columns<bool, std::optional<QString>>("withButton", "error");
        QTest::newRow("menu below the window") << true << std::optional<QString>();
        QTest::newRow("no menu button") << false << std::optional<QString>("invalid: No ⋯ menu to open.");
    }
    void menuCapture()
    {
        auto [withButton, error] = fetch<bool, std::optional<QString>>("withButton", "error");
        StandInShell shell;
        QMainWindow *window = shell.build(100);
        auto *menu = new QMenu(window);
        for (int i = 0; i < 12; ++i)
            menu->addAction(QStringLiteral("Action %1").arg(i));
        if (withButton) {
            auto *button = new QToolButton(window->centralWidget());
            button->setMenu(menu);
            button->setGeometry(10, window->height() - 40, 30, 30);
            button->show();
        }
        const Outcome<QImage> out = outcome(captureWithMenu(window));
        QCOMPARE(out.error, error);
        QVERIFY(error || (out.value->width() == window->width() && out.value->height() > window->height() + 100));
        QVERIFY(!menu->isVisible());
    }

    // A picture replaces its file whole, or leaves it as it was.
    void writePNG_data()
    {
        columns<QImage, QString, std::optional<QString>>("image", "file", "error");
        QImage image(3, 2, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QTest::newRow("replaces") << image << "old.png" << std::optional<QString>();
        QTest::newRow("no picture") << QImage() << "old.png" << std::optional<QString>("invalid: Couldn’t encode development capture as PNG.");
    }
    void writePNG()
    {
        // Named variables, not structured bindings: the lambda below captures them.
        QImage image;
        QString file;
        std::optional<QString> error;
        std::tie(image, file, error) = fetch<QImage, QString, std::optional<QString>>("image", "file", "error");
        QTemporaryDir folder;
        QFile old(folder.filePath("old.png"));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("before") == 6);
        old.close();
        const std::optional<QString> thrown = errorOf([&] { cv::writePNG(image, folder.filePath(file)); });
        QCOMPARE(thrown.value_or(QString()).left(error.value_or(QString()).size()), error.value_or(QString()));
        QCOMPARE(thrown.has_value(), error.has_value());
        QCOMPARE(QImage(folder.filePath(file)).size(), error ? QSize(0, 0) : QSize(3, 2));
        if (error && old.open(QIODevice::ReadOnly))
            QCOMPARE(old.readAll(), QByteArray("before"));
    }
};

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"

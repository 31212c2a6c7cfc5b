#include "devtools/reference_rendering.h"

#include "devtools/bounded_capture.h"
#include "devtools/demo.h"
#include "devtools/window_capture.h"
#include "model/app_model.h"
#include "views/theme.h"
#include "views/widgets.h"
#include "views/window_height.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QCoroTimer>
#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QScrollBar>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace cv {

namespace {

// Grows the window at the bottom by whatever its first scroll area hides.
void uncoverHiddenContent(QWidget *window)
{
    auto *area = firstSubview<QAbstractScrollArea>(contentView(window));
    if (!area)
        return;
    const QScrollBar *bar = area->verticalScrollBar();
    const int hidden = bar->maximum() - bar->minimum();
    if (hidden > 0) {
        QRect geometry = window->geometry();
        geometry.setHeight(geometry.height() + hidden);
        window->setGeometry(geometry);
    }
}

// Waits until `window` is shown, a little at a time and a few seconds at most. A
// window built for a state shows once its height is fitted, 0.15 s at the latest; a
// shortened pause can end before that on a busy machine.
QCoro::Task<> untilShown(QPointer<QWidget> window)
{
    for (int waited = 0; window && !window->isVisible() && waited < 3000; waited += 10) {
        QCoro::Task<> step = QCoro::sleepFor(std::chrono::milliseconds(10));
        co_await std::move(step);
    }
}

void printLine(FILE *stream, const QString &text)
{
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fflush(stream);
}

} // namespace

void prepareDevelopmentProcess(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--render") == 0) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            return;
        }
    }
}

QCoro::Task<> renderReference(DevelopmentHost host, QString directory)
{
    const QString folder = QDir::cleanPath(QFileInfo(directory).absoluteFilePath());
    // A folder that cannot be made shows in every write's own error.
    QDir().mkpath(folder);
    WindowHeight::setUnlimited(true);
    Spinner::setFixedFrame(true);

    const std::pair<const char *, Appearance> appearances[] = {{"light", Appearance::light},
                                                                {"dark", Appearance::dark}};
    for (const auto &[appearanceName, appearance] : appearances) {
        Theme::apply(appearance);
        for (const QString &state : Demo::states()) {
            if (!host.alive())
                co_return;
            closeDemoWindows(host);
            host.model->showDemo(Demo::status(state));
            const bool main = Demo::isMainWindow(state);
            if (main)
                host.showMain();
            else
                host.showPeer(Demo::peerID());
            QCoro::Task<> settling = developmentPause(600);
            co_await std::move(settling);
            if (!host.alive())
                co_return;
            QPointer<QWidget> window = main ? host.mainWindow->data() : host.peerWindows->value(Demo::peerID()).data();
            if (!window)
                continue;
            QCoro::Task<> showing = untilShown(window);
            co_await std::move(showing);
            if (!host.alive())
                co_return;
            if (!window)
                continue;
            // The window's own appearance too: the desktop's may replace the
            // application's meanwhile.
            Theme::setWindowAppearance(window, appearance);
            uncoverHiddenContent(window);
            centreOnScreen(window);
            QCoro::Task<> settlingAgain = developmentPause(600);
            co_await std::move(settlingAgain);

            const QString path =
                folder + QStringLiteral("/corvane-%1-%2.png").arg(state, QString::fromLatin1(appearanceName));
            QImage image;
            std::exception_ptr failure;
            try {
                QCoro::Task<QImage> capture =
                    state.endsWith(QLatin1String("-menu")) ? captureWithMenu(window) : captureOwnWindow(window);
                image = co_await std::move(capture);
                writePNG(image, path);
            } catch (...) {
                failure = std::current_exception();
            }
            if (failure)
                printLine(stderr, path + QStringLiteral(": ") + captureErrorText(failure));
            else
                printLine(stdout,
                          QStringLiteral("Captured %1: %2x%3").arg(path).arg(image.width()).arg(image.height()));
        }
    }
    if (!host.alive())
        co_return;
    closeDemoWindows(host);
    // The closed windows go now, before the application is torn down.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    std::fflush(stdout);
    QCoreApplication::exit(0);
}

} // namespace cv

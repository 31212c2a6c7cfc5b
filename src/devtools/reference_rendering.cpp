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

const QString renderOption = QStringLiteral("--render");
const QString demoOption = QStringLiteral("--demo");

QString argumentAfter(const QStringList &arguments, const QString &option, const QString &fallback)
{
    const qsizetype at = arguments.indexOf(option);
    return at + 1 < arguments.size() ? arguments.at(at + 1) : fallback;
}

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

void printLine(FILE *stream, const QString &text)
{
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fflush(stream);
}

} // namespace

std::optional<DevelopmentLaunch> developmentLaunch(const QStringList &arguments)
{
    if (arguments.contains(renderOption))
        return DevelopmentLaunch{DevelopmentLaunch::Mode::render,
                                 argumentAfter(arguments, renderOption, QStringLiteral("reference"))};
    if (arguments.contains(demoOption))
        return DevelopmentLaunch{DevelopmentLaunch::Mode::demo,
                                 argumentAfter(arguments, demoOption, QStringLiteral("choose"))};
    return std::nullopt;
}

void prepareDevelopmentProcess(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--render") == 0) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            return;
        }
    }
}

bool startDevelopmentLaunch(const DevelopmentHost &host, const QStringList &arguments)
{
    const std::optional<DevelopmentLaunch> launch = developmentLaunch(arguments);
    if (!launch)
        return false;
    if (launch->mode == DevelopmentLaunch::Mode::render) {
        // Runs on its own until it leaves the event loop.
        QCoro::Task<> rendering = renderReference(host, launch->argument);
        return true;
    }
    host.model->showDemo(Demo::status(launch->argument));
    if (Demo::isMainWindow(launch->argument))
        host.showMain();
    else
        host.showPeer(Demo::peerID());
    return true;
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

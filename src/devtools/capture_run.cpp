#include "devtools/capture_run.h"

#include "devtools/bounded_capture.h"
#include "devtools/window_capture.h"
#include "model/app_model.h"

#include <QCoroTimer>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cxxabi.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace cv {

namespace {

bool flagOn(const char *name)
{
    return qgetenv(name) == "1";
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString windowID(const QWidget *window)
{
    return QString::number(quintptr(const_cast<QWidget *>(window)->winId()));
}

// Own-process capture needs no permission; only a Wayland compositor refuses
// window grabs altogether.
bool screenCapturePreflight()
{
    return QGuiApplication::platformName() != QLatin1String("wayland");
}

// The lines so far, written whole into "view-geometry.txt" at each write.
struct Report {
    QString path;
    QStringList lines;

    void add(const QString &line) { lines << line; }
    void write() const { writeAtomically(path, (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()); }
};

// Ends the run with its one line on standard error.
class FatalCaptureError : public std::exception {
public:
    explicit FatalCaptureError(QString text) : utf8_(text.toUtf8()) {}
    const char *what() const noexcept override { return utf8_.constData(); }

private:
    QByteArray utf8_;
};

void rethrowFatal()
{
    throw FatalCaptureError(captureErrorText(std::current_exception()));
}

// A view's own bitmap as "ITEM.png"; a bitmap that does not encode leaves nothing.
void writeCache(Report &report, const QString &directory, const QString &item, QWidget *view)
{
    const QPixmap bitmap = view->grab();
    if (bitmap.isNull()) {
        report.add(item + QStringLiteral(": bitmap unavailable"));
        return;
    }
    const QByteArray data = pngData(bitmap.toImage());
    if (data.isEmpty())
        return;
    try {
        writeAtomically(directory + QLatin1Char('/') + item + QStringLiteral(".png"), data);
    } catch (...) {
        rethrowFatal();
    }
}

// One window's lines, caches, capture and fallback.
QCoro::Task<> captureWindow(DevelopmentHost host, Report &report, QString directory, QString name,
                            QPointer<QWidget> window)
{
    QWidget *content = contentView(window);
    if (!content)
        co_return;
    layOutAndDraw(content);
    // The platform's occlusion flags: 2 while some of the window can be seen.
    const bool exposed = window->isVisible() && window->windowHandle() && window->windowHandle()->isExposed();
    report.add(QStringLiteral("%1: windowID=%2 window.frame=%3 visible=%4 occlusion=%5")
                   .arg(name, windowID(window), rectText(window->frameGeometry()), boolText(window->isVisible()),
                        QString::number(exposed ? 2 : 0)));
    report.add(QStringLiteral("content %1: frame=%2 bounds=%3 hidden=%4")
                   .arg(typeName(content), rectText(content->geometry()), rectText(content->rect()),
                        boolText(content->isHidden())));
    QList<std::pair<QString, QWidget *>> caches{{name, content}};
    if (QWidget *view = host.contentHost(window)) {
        layOutAndDraw(view);
        report.add(QStringLiteral("host %1: frame=%2 bounds=%3 hidden=%4 fitting=%5 window=%6")
                       .arg(typeName(view), rectText(view->geometry()), rectText(view->rect()),
                            boolText(view->isHidden()), sizeText(view->sizeHint()), boolText(view->window() != view)));
        caches.append({name + QStringLiteral("-host"), view});
    }
    for (const auto &[item, view] : caches)
        writeCache(report, directory, item, view);

    report.add(name + QStringLiteral(": starting bounded own-window capture; each ScreenCaptureKit callback has a "
                                     "3-second deadline"));
    try {
        report.write();
    } catch (...) {
        rethrowFatal();
    }
    host.trace(QStringLiteral("starting own-window capture for %1, windowID=%2").arg(name, windowID(window)));

    std::exception_ptr failure;
    try {
        QCoro::Task<QImage> capture = captureOwnWindow(window);
        const QImage image = co_await std::move(capture);
        writePNG(image, directory + QLatin1Char('/') + name + QStringLiteral("-window.png"));
        if (window)
            report.add(QStringLiteral("%1: captured own windowID=%2, %3x%4")
                           .arg(name, windowID(window))
                           .arg(image.width())
                           .arg(image.height()));
    } catch (...) {
        failure = std::current_exception();
    }
    if (!host.alive() || !window)
        co_return;
    if (failure) {
        const QString error = captureErrorText(failure);
        report.add(QStringLiteral("%1: own-window capture failed: %2").arg(name, error));
        host.trace(QStringLiteral("own-window capture failed for %1: %2").arg(name, error));
        const ContentRenderer renderer = host.contentRenderers ? host.contentRenderers->value(window) : nullptr;
        const QWidget *shown = contentView(window);
        const QImage rendered =
            renderer && shown ? renderer(shown->size(), window->devicePixelRatioF()) : QImage();
        if (rendered.isNull()) {
            report.add(name + QStringLiteral(": SwiftUI fallback rendering unavailable"));
        } else {
            try {
                writePNG(rendered, directory + QLatin1Char('/') + name + QStringLiteral("-rendered.png"));
            } catch (...) {
                rethrowFatal();
            }
            report.add(QStringLiteral("%1: wrote SwiftUI rendering of the live hosting root, %2x%3; NOT a window "
                                      "capture. Native controls/effects and transient view state may differ.")
                           .arg(name)
                           .arg(rendered.width())
                           .arg(rendered.height()));
        }
    }
    if (flagOn("CV_MAC_CAPTURE_VARIANTS")) {
        QCoro::Task<QStringList> variants = captureDevelopmentVariants(host, window, name, directory);
        report.lines += co_await std::move(variants);
    }
}

QCoro::Task<> runSteps(DevelopmentHost host, QString directory)
{
    QCoro::Task<> firstWait = developmentPause(3000);
    co_await std::move(firstWait);
    if (!host.alive())
        co_return;
    if (flagOn("CV_MAC_CAPTURE_OPEN_PEERS")) {
        for (const Peer &peer : host.model->peers())
            host.showPeer(peer.id);
        QCoro::Task<> secondWait = developmentPause(700);
        co_await std::move(secondWait);
        if (!host.alive())
            co_return;
    }
    const QByteArray only = qgetenv("CV_MAC_CAPTURE_ONLY");
    if (only == "peer") {
        if (*host.mainWindow)
            (*host.mainWindow)->hide();
        for (const QPointer<QMainWindow> &window : std::as_const(*host.peerWindows))
            if (window)
                centreOnScreen(window);
    } else if (only == "main") {
        for (const QPointer<QMainWindow> &window : std::as_const(*host.peerWindows))
            if (window)
                window->hide();
        if (*host.mainWindow)
            centreOnScreen(*host.mainWindow);
    }

    if (!QDir().mkpath(directory))
        throw FatalCaptureError(QStringLiteral("Couldn’t create the capture folder %1.").arg(directory));
    QList<std::pair<QString, QPointer<QWidget>>> windows;
    for (auto it = host.peerWindows->cbegin(); it != host.peerWindows->cend(); ++it)
        if (it.value())
            windows.append({QStringLiteral("peer-") + it.key().left(12), it.value().data()});
    if (*host.mainWindow)
        windows.append({QStringLiteral("main"), host.mainWindow->data()});

    Report report{directory + QStringLiteral("/view-geometry.txt"), {}};
    report.add(QStringLiteral("pid=%1 screenCapturePreflight=%2 (informational; own-process capture does not require "
                              "global Screen Recording access)")
                   .arg(qint64(::getpid()))
                   .arg(boolText(screenCapturePreflight())));
    report.add(QStringLiteral("*-window.png = exact-window capture; *-rendered.png = SwiftUI fallback, NOT a window "
                              "capture; other PNGs = potentially incomplete AppKit bitmap caches."));
    try {
        report.write();
    } catch (...) {
        rethrowFatal();
    }
    for (const auto &[name, window] : std::as_const(windows)) {
        if (!host.alive())
            co_return;
        if (!window)
            continue;
        QCoro::Task<> capturing = captureWindow(host, report, directory, name, window);
        co_await std::move(capturing);
    }
    if (!host.alive())
        co_return;
    try {
        report.write();
    } catch (...) {
        rethrowFatal();
    }

    const bool close = flagOn("CV_MAC_CLOSE_WINDOWS_AFTER_CAPTURE");
    const bool quit = flagOn("CV_MAC_QUIT_AFTER_CAPTURE");
    try {
        if (close && quit) {
            report.add(QStringLiteral(
                "Conflicting close-only and Quit development flags; neither lifecycle action was run."));
            report.write();
        } else if (quit) {
            report.add(QStringLiteral("Requesting normal NSApp.terminate after capture; AppDelegate/controller "
                                      "determine the outcome. A busy/error result must keep the app running. This is "
                                      "not a success claim."));
            report.write();
            host.trace(QStringLiteral("capture attempts finished; scheduling ordinary Quit on the run loop"));
            if (!*host.terminationScheduled && !*host.terminationInFlight) {
                *host.terminationScheduled = true;
                QTimer::singleShot(0, host.owner, [host] {
                    if (host.terminateFromRunLoop)
                        host.terminateFromRunLoop();
                });
            }
        } else if (close) {
            for (const auto &[name, window] : std::as_const(windows)) {
                if (window)
                    window->close();
                report.add(QStringLiteral("%1: performClose requested after captures/log; visible=%2")
                               .arg(name, boolText(window && window->isVisible())));
            }
            report.add(QStringLiteral("Close-only development hook completed; app PID=%1 continues. Service/mount "
                                      "survival must be checked independently.")
                           .arg(qint64(::getpid())));
            report.write();
        }
    } catch (...) {
        rethrowFatal();
    }
}

} // namespace

QString rectText(const QRect &rect)
{
    return QStringLiteral("{{%1, %2}, {%3, %4}}").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("{%1, %2}").arg(size.width()).arg(size.height());
}

QString typeName(const QWidget *widget)
{
    const char *mangled = typeid(*widget).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void *)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                      std::free);
    QString name = QString::fromLatin1(status == 0 && demangled ? demangled.get() : mangled);
    // The last name outside any template arguments.
    int depth = 0;
    for (qsizetype i = name.size() - 1; i > 0; --i) {
        const QChar c = name.at(i);
        if (c == QLatin1Char('>'))
            ++depth;
        else if (c == QLatin1Char('<'))
            --depth;
        else if (depth == 0 && c == QLatin1Char(':') && name.at(i - 1) == QLatin1Char(':'))
            return name.mid(i + 1);
    }
    return name;
}

void scheduleDevelopmentCapture(const DevelopmentHost &host)
{
    if (!host.alive() || !host.captureScheduled || *host.captureScheduled || !host.model->status())
        return;
    if (!qEnvironmentVariableIsSet("CV_MAC_CAPTURE_DIR"))
        return;
    const QString directory = qEnvironmentVariable("CV_MAC_CAPTURE_DIR");
    if (!directory.startsWith(QLatin1Char('/')))
        return;
    *host.captureScheduled = true;
    host.trace(QStringLiteral("live service state received; scheduling capture"));
    // Runs on its own; nothing keeps or cancels it.
    QCoro::Task<> run = developmentCaptureRun(host, directory);
}

QCoro::Task<> developmentCaptureRun(DevelopmentHost host, QString directory)
{
    std::exception_ptr failure;
    try {
        QCoro::Task<> steps = runSteps(host, directory);
        co_await std::move(steps);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        const QByteArray line =
            QStringLiteral("Development window capture failed: %1\n").arg(captureErrorText(failure)).toUtf8();
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
    }
}

} // namespace cv

#include "platform/app_runtime.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <QWindow>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace cv {

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int number)
{
    const int saved = errno;
    const char byte = char(number);
    // A full pipe already carries a request; the byte may be dropped.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool anyWindowVisible()
{
    const auto windows = QApplication::topLevelWidgets();
    for (const QWidget *window : windows) {
        if (window->isVisible())
            return true;
    }
    return false;
}

} // namespace

AppRuntime::AppRuntime(QObject *parent)
    : QObject(parent)
{
    exitLoop = [](int code) { QCoreApplication::exit(code); };
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                becomeActive();
        });
    }
}

AppRuntime::~AppRuntime() = default;

bool AppRuntime::setActivationPolicy(ActivationPolicy policy)
{
    if (policy_ != policy) {
        policy_ = policy;
        emit activationPolicyChanged(policy);
    }
    return true;
}

void AppRuntime::makeKeyAndOrderFront(QWidget *window)
{
    if (!window)
        return;
    // The rest of a hidden application comes back below the window brought forward.
    unhide();
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    if (stacksWindows())
        window->raise();
    window->activateWindow();
}

bool AppRuntime::stacksWindows()
{
    return QGuiApplication::platformName() != QLatin1String("offscreen");
}

void AppRuntime::activateIgnoringOtherApps()
{
    unhide();
    // A window manager decides which application is active; the window that was
    // just raised asks for the focus, and the request is announced for observers.
    emit activationRequested();
}

void AppRuntime::hide()
{
    hidden_.removeAll(nullptr);
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        const Qt::WindowType type = window->windowType();
        if (window->isVisible() && !window->isMinimized() && (type == Qt::Window || type == Qt::Dialog)) {
            window->showMinimized();
            if (!hidden_.contains(window))
                hidden_.append(window);
        }
    }
}

void AppRuntime::unhide()
{
    // Only what is still hidden: a window the user closed meanwhile stays closed.
    const QList<QPointer<QWidget>> hidden = std::exchange(hidden_, {});
    for (const QPointer<QWidget> &window : hidden) {
        if (window && window->isVisible() && window->isMinimized())
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    }
}

void AppRuntime::terminate()
{
    if (terminated_)
        return;
    const TerminateReply reply = delegate_ ? delegate_->applicationShouldTerminate() : TerminateReply::now;
    switch (reply) {
    case TerminateReply::now:
        finishTermination();
        break;
    case TerminateReply::later:
        pending_ = true;
        announceQuitting(false);
        break;
    case TerminateReply::cancel:
        break;
    }
}

void AppRuntime::replyToApplicationShouldTerminate(bool shouldTerminate)
{
    if (!pending_)
        return;
    if (shouldTerminate) {
        finishTermination();
        return;
    }
    pending_ = false;
    announceQuitting(true);
}

void AppRuntime::announceQuitting(bool before)
{
    if (quitting() != before)
        emit quittingChanged(quitting());
}

void AppRuntime::finishTermination()
{
    const bool before = quitting();
    terminated_ = true;
    pending_ = false;
    announceQuitting(before);
    if (delegate_)
        delegate_->applicationWillTerminate();
    emit willTerminate();
    if (exitLoop)
        exitLoop(0);
}

void AppRuntime::becomeActive()
{
    if (delegate_)
        delegate_->applicationDidBecomeActive();
}

void AppRuntime::reopen()
{
    if (delegate_)
        delegate_->applicationShouldHandleReopen(anyWindowVisible());
}

bool AppRuntime::installSignalHandlers()
{
    if (signalNotifier_)
        return true;
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        if (::sigaction(number, &action, nullptr) != 0)
            return false;
    }
    signalNotifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, &AppRuntime::onSignalPipe);
    return true;
}

void AppRuntime::onSignalPipe()
{
    char bytes[64];
    bool any = false;
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0)
        any = true;
    if (any)
        terminateOnSignal();
}

void AppRuntime::terminateOnSignal()
{
    signalled_ = true;
    terminate();
}

} // namespace cv

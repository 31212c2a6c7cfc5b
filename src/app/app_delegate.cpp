#include "app/app_delegate.h"

#include "app/app_launch_intent.h"
#include "platform/development_log.h"
#include "service/diagnostics.h"
#include "service/service_host.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QMessageBox>

namespace cv {

AppDelegate::AppDelegate(AppRuntime &runtime, AppModelCollaborators modelParts, Updates::Platform updatesPlatform,
                         QObject *parent)
    : QObject(parent), runtime_(&runtime)
{
    model = std::make_unique<AppModel>(std::move(modelParts));
    if (!updatesPlatform.runtime)
        updatesPlatform.runtime = &runtime;
    updates = std::make_unique<Updates>(std::move(updatesPlatform));
    // Any window of the application that closes decides the activation policy.
    if (qApp)
        qApp->installEventFilter(this);
}

AppDelegate::~AppDelegate()
{
    if (qApp)
        qApp->removeEventFilter(this);
    for (const auto &connection : std::as_const(subscriptions))
        disconnect(connection);
    // Windows are top-level widgets without a parent: they go with the delegate.
    delete mainWindow.data();
    for (const auto &window : std::as_const(peerWindows))
        delete window.data();
}

void AppDelegate::applicationDidFinishLaunching(const QStringList &arguments)
{
    Diagnostics::start();
    const bool background = arguments.contains(QStringLiteral("--background"))
        || AppLaunchIntent::isLoginItemLaunch(AppLaunchIntent::currentEvent());

    const QPointer<AppDelegate> self(this);
    model->showPeer = [self](const QString &id) {
        if (self)
            self->showPeer(id);
    };
    model->stateChanged = [self] {
        if (self)
            self->considerLeaving();
    };
    subscribeToErrorsAndResponses();

    // The development modes never touch the service.
    if (arguments.contains(QStringLiteral("--render")) || arguments.contains(QStringLiteral("--demo"))) {
        developmentMode_ = true;
        showMain();
        return;
    }

    updates->stopService = [self]() -> QCoro::Task<bool> {
        if (!self)
            co_return false;
        QCoro::Task<bool> quitting = self->model->quit();
        co_return co_await std::move(quitting);
    };
    updates->willQuitForUpdate = [self] {
        if (self)
            self->installing = true;
    };
    updates->presentError = [self](const QString &text) {
        if (self)
            self->presentError(text);
    };
    updates->sessionEnded = [self] {
        if (!self)
            return;
        if (self->visibleWindows().isEmpty()) {
            self->runtime().setActivationPolicy(ActivationPolicy::accessory);
            self->considerLeaving();
        } else {
            self->runtime().setActivationPolicy(ActivationPolicy::regular);
        }
    };
    updates->start();
    model->start();
    if (!background) {
        showMain();
    } else {
        developmentLog(QStringLiteral("background launch: initial window suppressed"));
        considerLeaving();
    }
}

void AppDelegate::applicationDidBecomeActive()
{
    model->host().refreshLogin();
    // Runs on its own; the model guards itself against going away meanwhile.
    QCoro::Task<> refresh = model->refreshNotifications();
    Q_UNUSED(refresh);
}

bool AppDelegate::applicationShouldHandleReopen(bool)
{
    showMain();
    return true;
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Close && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        if (widget->isWindow())
            windowWillClose(widget);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace cv

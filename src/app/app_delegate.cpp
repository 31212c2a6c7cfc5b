#include "app/app_delegate.h"

#include "app/app_icons.h"
#include "app/app_launch_intent.h"
#include "app/launch_options.h"
#include "app/main_menu.h"
#include "app/status_menu.h"
#include "devtools/capture_run.h"
#include "devtools/demo.h"
#include "devtools/reference_rendering.h"
#include "localization/localization.h"
#include "platform/development_log.h"
#include "platform/status_item.h"
#include "service/diagnostics.h"
#include "service/service_host.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMainWindow>
#include <QMessageBox>
#include <QTimer>

namespace cv {

AppDelegate::AppDelegate(AppRuntime &runtime, AppModelCollaborators modelParts, Updates::Platform updatesPlatform,
                         QObject *parent)
    : QObject(parent), runtime_(&runtime)
{
    model = std::make_unique<AppModel>(std::move(modelParts));
    if (!updatesPlatform.runtime)
        updatesPlatform.runtime = &runtime;
    updates = std::make_unique<Updates>(std::move(updatesPlatform));
}

AppDelegate::~AppDelegate()
{
    if (qApp && observingWindows_)
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
    AppIcons::installApplicationIcon();

    const QPointer<AppDelegate> self(this);
    const QPointer<AppRuntime> runtime = runtime_;
    if (InstallLocation::shouldMove(arguments, installPlatform)) {
        // Only the menus: the move stops any running service itself, and quitting
        // afterwards must not wait for one.
        installing = true;
        configureMenus();
        InstallLocation::Platform platform = installPlatform;
        if (!platform.activate)
            platform.activate = [runtime] {
                if (runtime)
                    runtime->activateIgnoringOtherApps();
            };
        InstallLocation::run(
            [runtime] {
                if (runtime)
                    runtime->terminate();
            },
            std::move(platform));
        return;
    }

    // A demo shows made-up states: what the user clicks there stays in the demo, and
    // nothing asks the system about the real service.
    if (developmentLaunch(arguments))
        model->beginDemo();

    const bool background = arguments.contains(QStringLiteral("--background"))
        || AppLaunchIntent::isLoginItemLaunch(AppLaunchIntent::currentEvent());
    if (const std::optional<quint64> since = eventsSince(arguments))
        model->replayEvents(*since);

    configureMenus();

    model->showPeer = [self](const QString &id) {
        if (self)
            self->showPeer(id);
    };
    model->stateChanged = [self] {
        if (!self)
            return;
        self->rebuildStatusMenu();
        self->scheduleDevelopmentCapture();
        self->considerLeaving();
    };

    // Each value as the signal carried it, handled on a later turn; the stored one
    // first, so the item and the idle check are settled even if it never changes.
    AppModel *m = model.get();
    const auto menuBarSetting = [self](bool show) {
        QTimer::singleShot(0, self, [self, show] {
            if (!self)
                return;
            self->updateStatusItem(show);
            self->considerLeaving();
        });
    };
    menuBarSetting(m->showInMenuBar());
    subscriptions << connect(m, &AppModel::showInMenuBarChanged, this,
                             [m, menuBarSetting] { menuBarSetting(m->showInMenuBar()); });
    // Whether the login agent runs the service is known once the system has answered.
    subscriptions << connect(&m->host(), &ServiceHost::loginEnabledChanged, this, &AppDelegate::considerLeaving);

    observeWindowClosing();
    registerNotificationCategories();
    subscribeToErrors();

    if (startDevelopmentMode(arguments))
        return;

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

bool AppDelegate::startDevelopmentMode(const QStringList &arguments)
{
    // Each takes the argument after its first occurrence, whatever it is.
    const qsizetype render = arguments.indexOf(QStringLiteral("--render"));
    if (render >= 0) {
        developmentMode_ = true;
        const QString folder = arguments.value(render + 1, QStringLiteral("reference"));
        // Runs on by itself; it checks at every step that the delegate is still there.
        QCoro::Task<> rendering = renderReference(developmentHost(), folder);
        Q_UNUSED(rendering);
        return true;
    }
    const qsizetype demo = arguments.indexOf(QStringLiteral("--demo"));
    if (demo < 0)
        return false;
    developmentMode_ = true;
    const QString state = arguments.value(demo + 1, QStringLiteral("choose"));
    model->showDemo(Demo::status(state));
    if (Demo::isMainWindow(state))
        showMain();
    else
        showPeer(Demo::peerID());
    return true;
}

void AppDelegate::configureMenus()
{
    if (mainMenu)
        return;
    const QPointer<AppDelegate> self(this);
    MenuActions actions;
    actions.showMain = [self] {
        if (self)
            self->showMain();
    };
    actions.showPeer = [self](const QString &id) {
        if (self)
            self->showPeer(id);
    };
    actions.hide = [runtime = runtime_] {
        if (runtime)
            runtime->hide();
    };
    actions.requestQuit = [self] {
        if (self)
            self->requestQuit();
    };
    actions.checkForUpdates = [self] {
        if (self)
            self->updates->checkForUpdates();
    };
    actions.canCheckForUpdates = [self] { return self && self->updates->canCheck(); };
    mainMenu = std::make_unique<MainMenu>(actions, updates->isAvailable());
    statusMenu = std::make_unique<StatusMenu>(*model, actions, makeStatusItem);
    // Windows built before the menus (none in a launch) get them too.
    for (QMainWindow *window : visibleWindows())
        mainMenu->attach(window->menuBar());
    updateStatusItem(model->showInMenuBar());
}

void AppDelegate::updateStatusItem(bool show)
{
    if (statusMenu)
        statusMenu->updateStatusItem(show);
}

void AppDelegate::rebuildStatusMenu()
{
    if (statusMenu)
        statusMenu->rebuildStatusMenu();
}

void AppDelegate::scheduleDevelopmentCapture()
{
    // The guards (once per process, a status, an absolute CV_MAC_CAPTURE_DIR) are the
    // capture tooling's.
    cv::scheduleDevelopmentCapture(developmentHost());
}

DevelopmentHost AppDelegate::developmentHost()
{
    DevelopmentHost host;
    host.owner = this;
    host.model = model.get();
    host.mainWindow = &mainWindow;
    host.peerWindows = &peerWindows;
    host.contentHosts = &contentHosts;
    host.contentRenderers = &contentRenderers;
    host.captureScheduled = &captureScheduled;
    host.terminationScheduled = &terminationScheduled;
    host.terminationInFlight = &terminationInFlight;
    const QPointer<AppDelegate> self(this);
    host.showMain = [self] {
        if (self)
            self->showMain();
    };
    host.showPeer = [self](const QString &id) {
        if (self)
            self->showPeer(id);
    };
    host.terminateFromRunLoop = [self] {
        if (self)
            self->terminateFromRunLoop();
    };
    host.log = [](const QString &text) { developmentLog(text); };
    return host;
}

void AppDelegate::registerNotificationCategories()
{
    // A build-folder run posts no notices of the packaged application's kind, and
    // leaves the desktop's notification service alone.
    if (!model->packaged())
        return;
    subscriptions << connect(&model->notificationCenter(), &NotificationCenter::responseReceived, this,
                             [this](const NotificationResponse &response) { didReceiveNotificationResponse(response); });
    model->notificationCenter().setNotificationCategories({
        {QStringLiteral("CONNECTION"), {}},
        {QStringLiteral("CONNECTION_FILES"), {{QStringLiteral("OPEN_FILES"), L("Open files")}}},
        {QStringLiteral("DELIVERY"), {{QStringLiteral("SHOW_IN_FOLDER"), L("Show in folder")}}},
    });
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

void AppDelegate::observeWindowClosing()
{
    if (observingWindows_ || !qApp)
        return;
    observingWindows_ = true;
    qApp->installEventFilter(this);
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    // A window closes; a dialog that is done is only hidden, which counts alike.
    const bool closing = event->type() == QEvent::Close
        || (event->type() == QEvent::Hide && !event->spontaneous() && qobject_cast<QDialog *>(watched));
    if (closing && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        if (widget->isWindow())
            windowWillClose(widget);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace cv

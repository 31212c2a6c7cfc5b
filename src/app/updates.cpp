#include "app/updates.h"

#include "localization/localization.h"
#include "platform/app_bundle.h"
#include "platform/app_runtime.h"
#include "platform/user_defaults.h"
#include "service/service_host.h"

#include <QCoroTimer>
#include <QTimer>

namespace cv {

Updates::Updates(Platform platform, QObject *parent)
    : QObject(parent), platform_(std::move(platform))
{
    stopService = []() -> QCoro::Task<bool> { co_return true; };
    willQuitForUpdate = [] {};
    presentError = [](const QString &) {};
    sessionEnded = [] {};
    if (!platform_.available)
        platform_.available = &Updates::available;
    if (!platform_.startUpdater)
        platform_.startUpdater = &startSystemUpdater;
    if (!platform_.defaults)
        platform_.defaults = &UserDefaults::standard();
}

Updates::~Updates() = default;

bool Updates::available()
{
    // An installed corvane is packaged, yet never an application bundle.
    if (!runsFromApplicationBundle())
        return false;
    if (!AppBundle::main().info(QStringLiteral("SUFeedURL")))
        return false;
    return !ServiceHost::developmentOverridden();
}

void Updates::start()
{
    if (controller || !platform_.available())
        return;
    controller = platform_.startUpdater(*this);
}

bool Updates::canCheck() const
{
    return controller && controller->canCheckForUpdates();
}

void Updates::comeToFront()
{
    if (!platform_.runtime)
        return;
    platform_.runtime->setActivationPolicy(ActivationPolicy::regular);
    platform_.runtime->activateIgnoringOtherApps();
}

void Updates::checkForUpdates()
{
    // The framework's windows must come to the front of an accessory application.
    comeToFront();
    if (controller)
        controller->checkForUpdates();
}

std::optional<QString> Updates::feedURLString() const
{
    return platform_.defaults->string(QStringLiteral("CVUpdateFeedURL"));
}

bool Updates::shouldPostponeRelaunchForUpdate(std::function<void()> relaunch)
{
    install(this, std::move(relaunch));
    return true;
}

bool Updates::willInstallUpdateOnQuit(std::function<void()> installNow)
{
    install(this, std::move(installNow));
    return true;
}

QCoro::Task<> Updates::install(QPointer<Updates> self, std::function<void()> proceed)
{
    // Start on a later turn, so the framework has its answer before anything stops.
    QCoro::Task<> hop = QCoro::sleepFor(std::chrono::milliseconds(0));
    co_await std::move(hop);
    if (!self)
        co_return;
    const std::function<QCoro::Task<bool>()> stop = self->stopService;
    QCoro::Task<bool> stopping = stop();
    const bool stopped = co_await std::move(stopping);
    if (!self)
        co_return;
    if (stopped) {
        self->willQuitForUpdate();
        proceed();
    } else {
        self->presentError(L(QStringLiteral(
            "Corvane couldn’t stop sharing to install the update. Try again when nothing is copying.")));
    }
}

void Updates::standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate)
{
    if (!handleShowingUpdate)
        return;
    QTimer::singleShot(0, this, [this] { comeToFront(); });
}

void Updates::standardUserDriverWillFinishUpdateSession()
{
    QTimer::singleShot(0, this, [this] { sessionEnded(); });
}

} // namespace cv

#include "platform/login_items.h"

#include "platform/app_bundle.h"
#include "platform/autostart_entry.h"
#include "platform/platform_error.h"
#include "platform/systemd_user.h"
#include "platform/workspace.h"

#include <QFileInfo>

#include <cerrno>

namespace cv {

QCoro::Task<> LoginItem::enableItem(CancelToken, CancelToken)
{
    QCoro::Task<> registering = registerItem();
    co_await std::move(registering);
}

namespace {

class SystemdAgent final : public LoginItem {
public:
    SystemdAgent(SystemdUserManager &manager, QString unitFile)
        : manager_(manager), unitFile_(std::move(unitFile)), unit_(QFileInfo(unitFile_).fileName())
    {
    }

    LoginItemStatus status() override
    {
        // The application may have been removed or replaced since it started.
        if (!QFileInfo(unitFile_).isFile())
            return LoginItemStatus::notFound;
        std::optional<QString> state;
        try {
            state = manager_.unitFileState(unit_);
        } catch (const PlatformError &) {
            return LoginItemStatus::notFound;
        }
        if (!state)
            return LoginItemStatus::notRegistered;
        if (*state == QLatin1String("enabled") || *state == QLatin1String("enabled-runtime"))
            return LoginItemStatus::enabled;
        if (*state == QLatin1String("masked") || *state == QLatin1String("masked-runtime"))
            return LoginItemStatus::requiresApproval;
        if (*state == QLatin1String("bad"))
            return LoginItemStatus::notFound;
        return LoginItemStatus::notRegistered;
    }

    QCoro::Task<> registerItem() override
    {
        if (!QFileInfo(unitFile_).isFile())
            throw PlatformError::fromErrno(ENOENT, unitFile_);
        QCoro::Task<> enabling = manager_.linkAndEnable(unitFile_);
        co_await std::move(enabling);
        // A registered agent runs from then on, not only from the next sign-in: the
        // registration is done once the manager has taken the start on.
        QCoro::Task<> starting = manager_.startUnit(unit_);
        co_await std::move(starting);
    }

    bool halfRegistered() override
    {
        try {
            return manager_.unitFileState(unit_).value_or(QString()).startsWith(QLatin1String("linked"));
        } catch (const PlatformError &) {
            return false;
        }
    }

    QCoro::Task<> enableItem(CancelToken stop, CancelToken hurry) override
    {
        if (!QFileInfo(unitFile_).isFile())
            throw PlatformError::fromErrno(ENOENT, unitFile_);
        QCoro::Task<> enabling = manager_.linkAndEnable(unitFile_, stop, hurry);
        co_await std::move(enabling);
    }

    QCoro::Task<> unregisterItem(CancelToken stop, CancelToken hurry) override
    {
        QCoro::Task<> disabling = manager_.disable(unit_, stop, hurry);
        co_await std::move(disabling);
    }

private:
    SystemdUserManager &manager_;
    QString unitFile_;
    QString unit_;
};

class AutostartItem final : public LoginItem {
public:
    explicit AutostartItem(AutostartEntry entry) : entry_(std::move(entry)) {}

    LoginItemStatus status() override
    {
        return entry_.registered() ? LoginItemStatus::enabled : LoginItemStatus::notRegistered;
    }
    QCoro::Task<> registerItem() override
    {
        entry_.write();
        co_return;
    }
    QCoro::Task<> unregisterItem(CancelToken, CancelToken) override
    {
        entry_.remove();
        co_return;
    }

private:
    AutostartEntry entry_;
};

} // namespace

SystemdLoginItemService::SystemdLoginItemService(const AppBundle &bundle, SystemdUserManager &manager,
                                                 QString autostartFolder)
    : bundle_(bundle), manager_(manager), autostartFolder_(std::move(autostartFolder))
{
    connect(&manager_, &SystemdUserManager::changed, this, &LoginItemService::changed);
    connect(&manager_, &SystemdUserManager::heard, this, &LoginItemService::heard);
}

std::shared_ptr<LoginItem> SystemdLoginItemService::agent(const QString &plistName)
{
    const auto unitFile = bundle_.resource(plistName, {}, QStringLiteral("systemd"));
    // Until the manager has answered about the unit, nothing can be decided about it:
    // there is no agent yet rather than one in a state it may not be in.
    if (!unitFile || !manager_.present() || !manager_.knows(QFileInfo(*unitFile).fileName())
        || manager_.silent(QFileInfo(*unitFile).fileName()))
        return nullptr;
    return std::make_shared<SystemdAgent>(manager_, *unitFile);
}

bool SystemdLoginItemService::agentKnown(const QString &plistName)
{
    const auto unitFile = bundle_.resource(plistName, {}, QStringLiteral("systemd"));
    return !unitFile || manager_.told(QFileInfo(*unitFile).fileName());
}

bool SystemdLoginItemService::agentInstalled(const QString &plistName)
{
    return bundle_.resource(plistName, {}, QStringLiteral("systemd")).has_value();
}

bool SystemdLoginItemService::agentSilent(const QString &plistName)
{
    const auto unitFile = bundle_.resource(plistName, {}, QStringLiteral("systemd"));
    return unitFile && manager_.silent(QFileInfo(*unitFile).fileName());
}

std::shared_ptr<LoginItem> SystemdLoginItemService::mainApp()
{
    const QString folder = autostartFolder_.isEmpty() ? AutostartEntry::userFolder() : autostartFolder_;
    QString name = bundle_.bundleIdentifier().value_or(QString());
    if (name.isEmpty())
        name = QStringLiteral("corvane");
    name += QStringLiteral(".desktop");
    return std::make_shared<AutostartItem>(AutostartEntry(folder, name, bundle_.executablePath()));
}

LoginItemService &LoginItemService::system()
{
    static SystemdLoginItemService service(AppBundle::main(), SystemdUserManager::session());
    return service;
}

void SystemdLoginItemService::openSettings() { Workspace::system().openSettings(SettingsPane::loginItems); }

} // namespace cv

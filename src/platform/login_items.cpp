#include "platform/login_items.h"

#include "platform/platform_error.h"

#include <cerrno>

namespace cv {

namespace {

// What Linux offers in place of a login-item registry: an item nobody can find.
class AbsentLoginItem final : public LoginItem {
public:
    LoginItemStatus status() override { return LoginItemStatus::notFound; }
    void registerItem() override
    {
        throw PlatformError(ENOSYS, QStringLiteral("Login items are not available on this system."));
    }
    QCoro::Task<> unregisterItem() override
    {
        throw PlatformError(ENOSYS, QStringLiteral("Login items are not available on this system."));
        co_return;
    }
};

class SystemLoginItemService final : public LoginItemService {
public:
    std::shared_ptr<LoginItem> agent(const QString &) override { return std::make_shared<AbsentLoginItem>(); }
    std::shared_ptr<LoginItem> mainApp() override { return std::make_shared<AbsentLoginItem>(); }
    void openSettings() override {}
};

} // namespace

LoginItemService &LoginItemService::system()
{
    static SystemLoginItemService service;
    return service;
}

} // namespace cv

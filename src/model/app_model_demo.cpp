#include "model/app_model.h"

#include "platform/login_items.h"
#include "platform/user_defaults.h"
#include "service/service_host.h"

#include <QMap>

namespace cv {

namespace {

// The demo's settings: they live in memory as long as the process.
class DemoDefaults final : public UserDefaults {
public:
    std::optional<QVariant> value(const QString &key) const override
    {
        const auto it = stored_.constFind(key);
        return it == stored_.constEnd() ? std::nullopt : std::optional<QVariant>(*it);
    }
    void setString(const QString &key, const QString &value) override { stored_.insert(key, value); }
    void remove(const QString &key) override { stored_.remove(key); }

private:
    QMap<QString, QString> stored_;
};

// A registry with nothing in it: no login agent and no item of the application's own,
// so the demo's host neither asks the service manager nor registers anything.
class NoLoginItems final : public LoginItemService {
public:
    std::shared_ptr<LoginItem> agent(const QString &) override { return nullptr; }
    std::shared_ptr<LoginItem> mainApp() override { return nullptr; }
    void openSettings() override {}
};

} // namespace

void AppModel::beginDemo()
{
    demo_ = true;
    static NoLoginItems noLoginItems;
    defaults_ = std::make_shared<DemoDefaults>();
    host_ = std::make_shared<ServiceHost>(ServiceHost::Platform{.loginItems = &noLoginItems, .clock = clock_});
    readSettings();
}

void AppModel::showDemo(ServiceStatus status)
{
    // Set first: nothing the views do from here on reaches a service.
    demo_ = true;
    setStatus(std::move(status));
    setConnected(true);
    setStarting(false);
    setServiceError(std::nullopt);
    if (stateChanged)
        stateChanged();
}

} // namespace cv

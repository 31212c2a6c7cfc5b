#pragma once

#include <QCoroTask>
#include <QString>

#include <memory>

namespace cv {

// The registration state of a login item, as the system reports it.
enum class LoginItemStatus {
    notRegistered = 0,    // not registered
    enabled = 1,          // registered and allowed to run
    requiresApproval = 2, // registered, but the user must allow it in the system settings
    notFound = 3,         // the system cannot find the item in the application
};

// One login item: the background service's per-user agent, or the application's
// own item.
class LoginItem {
public:
    virtual ~LoginItem() = default;

    // Asks the system afresh.
    virtual LoginItemStatus status() = 0;
    // Registers the item. Throws PlatformError (or the system's error) on failure.
    virtual void registerItem() = 0;
    // Unregisters the item and completes when the system has done so; throws the
    // system's error when it could not.
    virtual QCoro::Task<> unregisterItem() = 0;
};

// The system's registry of login items. On Linux there is none: no agent is ever
// named by the application's information keys, an agent looked up anyway is not
// found, and the settings cannot be opened.
class LoginItemService {
public:
    virtual ~LoginItemService() = default;

    // The per-user agent described by the property list `plistName` in the
    // application.
    virtual std::shared_ptr<LoginItem> agent(const QString &plistName) = 0;
    // The application's own login item.
    virtual std::shared_ptr<LoginItem> mainApp() = 0;
    // Opens the system's login-item settings; nothing is reported.
    virtual void openSettings() = 0;

    static LoginItemService &system();
};

} // namespace cv

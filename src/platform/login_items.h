#pragma once

#include "platform/clock.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <memory>

namespace cv {

class AppBundle;
class SystemdUserManager;

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

    // The state the system reported last; never waits.
    virtual LoginItemStatus status() = 0;
    // Registers the item and completes when the system has done so. Throws
    // PlatformError (or the system's error) on failure.
    virtual QCoro::Task<> registerItem() = 0;
    // Registers the item without having the system start it now (the caller does,
    // when it is ready to hand over). Once `stop` is cancelled no further step of the
    // registration begins, and it throws ECANCELED. Once `hurry` is cancelled, the
    // registration is finished without the steps that only serve the running system
    // (the manager reloads its units at its next start). By default: registerItem().
    virtual QCoro::Task<> enableItem(CancelToken stop, CancelToken hurry = {});
    // Registered only in part (on Linux: the unit linked, not enabled), as a
    // registration cut off halfway leaves it.
    virtual bool halfRegistered() { return false; }
    // Unregisters the item and completes when the system has done so; throws the
    // system's error when it could not. Once `stop` is cancelled, what the system
    // reports afterwards is not waited for. Once `hurry` is cancelled, the steps that
    // only serve the running system are left to a registration that follows at once.
    virtual QCoro::Task<> unregisterItem(CancelToken stop = {}, CancelToken hurry = {}) = 0;
};

// The system's registry of login items. `changed` tells that what it reports (an
// agent's presence or status) may have changed.
class LoginItemService : public QObject {
    Q_OBJECT

public:

    // The per-user agent described by the file `plistName` in the application, or
    // none when the system has no such agent to offer.
    virtual std::shared_ptr<LoginItem> agent(const QString &plistName) = 0;
    // Whether what agent() reports is the system's answer: false while the system has
    // yet to tell whether it offers the agent and in which state (`changed` follows
    // when it has told). A registry that answers at once always knows.
    virtual bool agentKnown(const QString &) { return true; }
    // Whether the application carries the agent `plistName` describes, whatever the
    // system says of it. A registry that offers every agent it is asked for carries it.
    virtual bool agentInstalled(const QString &) { return true; }
    // Whether the system that registers the agent is there but not answering about it
    // now (agent() then offers none). A registry that answers at once never is.
    virtual bool agentSilent(const QString &) { return false; }
    // The application's own login item.
    virtual std::shared_ptr<LoginItem> mainApp() = 0;
    // Opens the system's login-item settings; nothing is reported.
    virtual void openSettings() = 0;

    static LoginItemService &system();

signals:
    void changed();
    // The system that registers the agent showed that it is at work: it answered a
    // question (any), or came (back) on the bus.
    void heard();
};

// The Linux registry. The agent is a user unit of the per-user systemd manager: its
// unit file, named by the agent's name, ships in the installed application's data
// folder under "systemd/"; registering links and enables it and has the manager start
// it, unregistering disables (and so unlinks) it. There is no agent when that file is missing, no manager
// answers on the bus, or it has not answered about the unit yet (the agent is not
// known until then, nor while a manager that was there is away), or it is not
// answering (agentSilent). It reports the
// manager's kept answers (SystemdUserManager) and passes its `changed` on. Unit file
// states: "enabled" is enabled, "masked" waits for the user (requiresApproval: the
// user has to unmask it), "bad" is notFound, anything else (none, "disabled",
// "linked", ...) is notRegistered.
//
// The application's own item is an autostart entry (AutostartEntry) named by the
// bundle identifier; it is registered while the entry exists and is not hidden.
// The settings are the desktop's autostart pane, where it has one (Workspace).
class SystemdLoginItemService final : public LoginItemService {
public:
    // `autostartFolder` empty: the user's autostart folder at each use.
    SystemdLoginItemService(const AppBundle &bundle, SystemdUserManager &manager, QString autostartFolder = {});

    std::shared_ptr<LoginItem> agent(const QString &plistName) override;
    bool agentKnown(const QString &plistName) override;
    bool agentInstalled(const QString &plistName) override;
    bool agentSilent(const QString &plistName) override;
    std::shared_ptr<LoginItem> mainApp() override;
    void openSettings() override;

private:
    const AppBundle &bundle_;
    SystemdUserManager &manager_;
    QString autostartFolder_;
};

} // namespace cv

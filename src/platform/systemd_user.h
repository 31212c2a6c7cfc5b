#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QString>

#include <optional>

namespace cv {

class Clock;

// How long the per-user systemd manager is waited for (see SystemdUserManager).
struct SystemdTimeouts {
    int answerMs = 1000;
    int changeMs = 15000;
    double quietSeconds = 30;
};

// The per-user systemd manager ("systemd --user"), reached as org.freedesktop.systemd1
// on the session bus. Every call is bounded in time: a question waits at most
// `answerMs` (a healthy manager answers in well under that), a change at most
// `changeMs` and is awaited, never blocking the main thread. A manager that let a
// call run out of time counts as absent for `quietSeconds`, so a hung manager costs
// one wait, not one per question. Failures are thrown as PlatformError with the
// manager's own message. Main thread only.
class SystemdUserManager {
public:
    using Timeouts = SystemdTimeouts;

    explicit SystemdUserManager(QDBusConnection bus, Timeouts timeouts = {}, Clock *clock = nullptr);

    // The manager of this session's bus, connected at its first use.
    static SystemdUserManager &session();

    // A manager owns its name on the bus and has not failed to answer lately.
    bool present();

    // The unit file's state ("enabled", "disabled", "masked", "linked", ...), or none
    // when the manager knows no unit file of that name. Waits for the answer.
    std::optional<QString> unitFileState(const QString &unit);
    // The loaded unit's ActiveState ("active", "inactive", "failed", ...), or none
    // when the unit is not loaded. Waits for the answer.
    std::optional<QString> activeState(const QString &unit);

    // Links the unit file at `path` into the user's unit folder (replacing a stale
    // link of the same name, never a mask), enables it and reloads the manager.
    QCoro::Task<> linkAndEnable(QString path);
    // Disables the unit, which also removes the link, and reloads the manager.
    QCoro::Task<> disable(QString unit);
    // Asks the manager to start the unit after clearing a failed state (a unit that
    // failed too often in a row is refused until then). Sends and returns; nothing
    // is awaited.
    void startUnit(const QString &unit);

private:
    QDBusMessage managerCall(const QString &method) const;
    QDBusMessage ask(const QDBusMessage &message);
    QCoro::Task<> change(QDBusMessage message);
    void noteFailure(const QDBusMessage &reply);

    SystemdUserManager();
    QDBusConnection &bus();

    std::optional<QDBusConnection> bus_;
    Timeouts timeouts_;
    Clock *clock_;
    double quietUntil_ = -1;
};

} // namespace cv

#pragma once

#include "platform/clock.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QStringList>

namespace cv {

class SystemdUserManager;

// The system's service manager tool ("launchctl"): runs the given verbs on one
// service target.
class Launchctl {
public:
    struct Result {
        int status = 0;    // the exit status (0 without capture: it is not awaited)
        QByteArray output; // standard output (empty without capture)
    };

    virtual ~Launchctl() = default;

    // Runs the tool with `verbs` followed by `target` as its last argument, standard
    // error discarded. With `capture`, reads its standard output to the end and waits
    // for it to exit; without, returns right after the launch. Throws PlatformError
    // when the tool cannot be launched.
    virtual Result run(const QStringList &verbs, const QString &target, bool capture) = 0;
    // "kickstart", followed to the service manager's answer: completes once it has
    // taken the start on; throws PlatformError with its refusal, or when the tool
    // cannot be launched. By default the start is only launched, not followed.
    // Once `callOff` is cancelled the start is never asked again.
    virtual QCoro::Task<> kickstart(QString target, CancelToken callOff = {});
    // "kill SIGTERM": stops the service and calls off a start not carried out yet.
    // Completes once the manager has taken the stop on, or when there is no manager to
    // carry out anything now (the next one is told); throws its refusal. By default
    // the stop is only launched.
    virtual QCoro::Task<> stop(QString target);
    // Whether what "print" reports of the service is the manager's word since it last
    // took a start of it on or came back: until then the state printed is that of
    // before, and tells nothing of whether the service runs. A tool that answers at
    // once has always told. Unless `ask` is false, a manager that has not told is
    // asked now.
    virtual bool told(const QString &target, bool ask = true);
    // Whether a start of the service asked by kickstart() still waits behind the
    // manager's other calls: it has not begun to take it on. A tool that answers at
    // once never has one waiting.
    virtual bool startQueued(const QString &target);
    // Whether the manager is reading the service's state afresh (since it took a start
    // of it on or came back) and has yet to answer: its word is on the way. Asks
    // nothing. A tool that answers at once never has one on the way.
    virtual bool stateComing(const QString &target);

    static Launchctl &system();
};

// On Linux, answered by the per-user systemd manager for the unit named by the
// target's last part ("gui/<uid>/<label>": the unit <label>):
// - kickstart() asks the manager to start the unit (clearing a failed state first)
//   and follows it to the manager's answer;
// - stop() asks the manager to stop the unit, replacing a start it has not carried
//   out yet;
// - "print", the one verb run() takes, reads the unit's kept ActiveState and answers
//   in launchctl's form, with the line "state = running" only when the unit is
//   "active"; a unit the manager has not loaded exits with 113, as launchctl does for
//   an unknown service.
// No manager on the bus counts as a tool that cannot be launched, as does a manager
// that does not answer in time (a stop is sent all the same); other verbs are refused.
class SystemdLaunchctl final : public Launchctl {
public:
    explicit SystemdLaunchctl(SystemdUserManager &manager) : manager_(manager) {}

    Result run(const QStringList &verbs, const QString &target, bool capture) override;
    QCoro::Task<> kickstart(QString target, CancelToken callOff = {}) override;
    QCoro::Task<> stop(QString target) override;
    bool told(const QString &target, bool ask = true) override;
    bool startQueued(const QString &target) override;
    bool stateComing(const QString &target) override;

private:
    SystemdUserManager &manager_;
};

} // namespace cv

#pragma once

#include "platform/clock.h"
#include "platform/lifetime.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace cv {

class AgentStart;
class AppBundle;
class Child;
class ChildLauncher;
class Clock;
class Launchctl;
class LoginItem;
class LoginItemService;

// The application's one controller of the background service executable: where it
// lies, whether the environment redirects it for development, starting it (through
// the login agent, or as a child process whose output goes to the service log), how
// a child ended, and the login agent's registration. Main thread only.
//
// The three properties are assigned whenever the registration is re-read, and their
// change signals are emitted on every assignment, even of an unchanged value, so
// observers always follow the latest reading.
class ServiceHost : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool loginEnabled READ loginEnabled NOTIFY loginEnabledChanged)
    Q_PROPERTY(QString loginDetail READ loginDetail NOTIFY loginDetailChanged)
    Q_PROPERTY(bool loginBusy READ loginBusy NOTIFY loginBusyChanged)

public:
    // The operating-system facilities the host uses; the real ones by default.
    struct Platform {
        ChildLauncher *launcher = nullptr;
        LoginItemService *loginItems = nullptr;
        Launchctl *launchctl = nullptr;
        const AppBundle *bundle = nullptr;
        Clock *clock = nullptr;
    };

    explicit ServiceHost(QObject *parent = nullptr);
    explicit ServiceHost(Platform platform, QObject *parent = nullptr);
    ~ServiceHost() override;

    // The service executable: CV_MAC_SERVICE when present (even empty), else
    // "cv-mac-service" beside the application's executable.
    static QString binaryPath();
    static QString binaryPath(const AppBundle &bundle);
    // True when any of CV_MAC_SERVICE, CV_MAC_STATE_DIR, CV_MAC_RUNTIME_DIR,
    // CV_MAC_MOUNT_ROOT, CV_MAC_NFS_HELPER is present.
    static bool developmentOverridden();
    // The child's options from the environment: for each of CV_MAC_STATE_DIR,
    // CV_MAC_RUNTIME_DIR, CV_MAC_MOUNT_ROOT, CV_MAC_NFS_HELPER that is present, in
    // this order, its option and its value.
    static QStringList childArguments();

    bool loginEnabled() const { return loginEnabled_; }
    QString loginDetail() const { return loginDetail_; }
    bool loginBusy() const { return loginBusy_; }

    // "service.log" in the application's log folder (Diagnostics::logFolder()).
    QString logPath() const { return logPath_; }

    // Brings the service up: nothing while a child runs; the approval error while the
    // agent needs approval, unless `asChild` (an agent that waits for approval does not
    // run the service: the service manager refuses to start a masked unit); a kickstart
    // of the managed agent unless `asChild`, its answer followed (agentStartPending(),
    // agentStartFailure()); else a child process, after calling off a start of the
    // agent that was asked and not refused, so that one service runs: the child is
    // launched only once the manager has taken that call-off on (or is gone), by a
    // later start(true) when it has not yet. Returns once the start was requested.
    // Throws ServiceError or PlatformError.
    void start(bool asChild = false);

    // Quitting: calls off a start of the agent this application asked for and that was
    // not refused (the manager stops its service, even a start it has not carried out
    // yet) and waits until that is settled, `within` seconds on the clock at most.
    QCoro::Task<> callOffAgentStart(double within);
    // Quitting begins: a start of the agent waiting for a manager that is away is not
    // sent again (calling it off still reaches the next manager).
    void holdAgentStart();
    // Whether a service that this application could stop may run: its own child runs,
    // or the agent's unit is active or on its way (as the manager last reported it).
    bool serviceMayRun();
    // Ends the application's own child (SIGTERM), if it runs.
    void stopChild();

    // The service manager has not answered yet the last start of the agent this
    // application asked for (start() or repairAgent()).
    bool agentStartPending() const;
    // That start is still waiting behind the manager's other calls: the manager has not
    // come to it yet.
    bool agentStartQueued();
    // That start was taken on (or is still waiting), and the manager, there and
    // reading the agent's state afresh (since the start, or since it came back after
    // leaving), has yet to answer: whether the agent runs is on its way. Asks nothing.
    bool agentStateAwaited();
    // The manager's refusal of that start, or null.
    std::exception_ptr agentStartFailure() const;
    // That start was asked and not refused (nor called off): the manager may run the
    // service because of it.
    bool agentStartAsked() const;
    // No call-off of a start of the agent is under way.
    bool callOffSettled() const;
    // The system has told the agent's state: false while its first answer is awaited,
    // or while a manager that was there is away (it may be restarting, and keeps the
    // service it started).
    bool agentTold();

    // No child, or it no longer runs.
    bool childKnownStopped();
    // Once the last child has stopped: the text naming its termination status.
    std::optional<QString> exitDescription();
    // The last child's pid, or none.
    std::optional<qint64> childPid() const;
    // How many children were launched: names the last one, unlike a pid the system may
    // give again.
    int childLaunches() const { return childLaunches_; }

    // The login agent can be registered: no development override, an agent named by
    // the application and offered by the system (on Linux: its unit file is
    // installed and a user service manager answers), and an installed (packaged)
    // application.
    bool canRegister();
    bool needsApproval();
    // Registrable, enabled, and no child of this application runs.
    bool agentManaged();
    // Managed, yet the service manager reports it not running, in an answer given since
    // the agent's last start was taken on (as last reported: nothing here waits on the
    // system). Not while that answer is awaited. Unless `ask` is false, a manager that
    // has not answered since is asked now.
    bool agentStopped(bool ask = true);

    // Re-reads the registration into loginEnabled and loginDetail. Never fails. Runs by
    // itself whenever the login-item service reports a change.
    void refreshLogin();
    // Completes once the system has told the agent's state (what start(), canRegister()
    // and the others read), or after about 2 s on the clock when it has not: until
    // then those would report no agent where there may well be one, so a decision
    // that depends on the agent waits for this first; until `stop`. Never fails.
    QCoro::Task<> loginKnown(CancelToken stop = {});
    // Registers (true) or unregisters (false) the agent. Throws ServiceError when
    // busy or not registrable, or the system's error. Registering runs
    // `beforeStart` (if any) once the agent is enabled, just before the manager is
    // asked to start it, and waits for the manager's answer; a refused start takes
    // the enable back. Once `stop` is cancelled, no further registration step begins.
    QCoro::Task<> setLogin(bool enabled, std::function<QCoro::Task<>()> beforeStart = {}, CancelToken stop = {});
    // Registers a stopped agent again and kickstarts it; true when that happened. Once
    // `stop` is cancelled, it begins nothing: a repair that has taken the registration
    // back finishes registering it again, and asks no start.
    QCoro::Task<bool> repairAgent(CancelToken stop = {});
    // Waits (15 s at most, until `stop`) for the agent to be registrable again; true
    // when it is.
    QCoro::Task<bool> agentBack(CancelToken stop);
    // Opens the system's login-item settings.
    void openLoginSettings();

    // The date form of the service log's markers: "2026-01-31 14:05:09 +0000" (UTC).
    static QString markerDate(const QDateTime &time);

signals:
    void loginEnabledChanged(bool loginEnabled);
    void loginDetailChanged(const QString &loginDetail);
    void loginBusyChanged(bool loginBusy);

private:
    std::shared_ptr<LoginItem> agent();
    // The agent when it can be registered (see canRegister), else none.
    std::shared_ptr<LoginItem> registrableAgent();
    // The agent's launchctl target; throws without a bundle identifier.
    QString agentTarget() const;
    // Has the service manager start the agent and follows its answer (agentStart_).
    // Throws what launchctl throws before anything is asked.
    void kickstartAgent();
    // Takes an enable back after the change failed; when that cannot be done now, it is
    // owed (takeBackOwed_).
    QCoro::Task<> takeBack(std::shared_ptr<LoginItem> item);
    // What the service manager last reported of the agent's service (launchctl's
    // "print"): its active state and whether it runs; none when it cannot be had.
    struct AgentState {
        QString active;
        bool running = false;
    };
    std::optional<AgentState> agentState();
    void appendLog(const QString &text);

    void setLoginEnabled(bool value);
    void setLoginDetail(const QString &value);
    void setLoginBusy(bool value);

    Platform platform_;
    bool loginEnabled_ = false;
    QString loginDetail_;
    bool loginBusy_ = false;
    bool registrationChecked_ = false; // the agent was looked at once known
    // An enable this application could not take back (no manager answered), to be
    // taken back once the agent can be registered again.
    bool takeBackOwed_ = false;
    std::unique_ptr<Child> child_;
    int childLaunches_ = 0;
    // The last start of the agent this application asked of the service manager.
    std::unique_ptr<AgentStart> agentStart_;
    QString logPath_;
    // Ends first thing in the destructor: a login-item change that answers later
    // never resumes on a host that is gone.
    Lifetime lifetime_;
};

} // namespace cv

#include "service/service_host.h"

#include "localization/localization.h"
#include "service/agent_start.h"
#include "platform/app_bundle.h"
#include "platform/child_process.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/launchctl.h"
#include "platform/login_items.h"
#include "platform/next_signal.h"
#include "platform/platform_error.h"
#include "service/diagnostics.h"
#include "service/service_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace cv {

namespace {

const char *const serviceVariable = "CV_MAC_SERVICE";

// How long a decision that depends on the login agent waits for the system's first
// answer about it while the system shows no sign of being at work (an answer to any
// question, or its coming back on the bus); then it goes ahead as if there were no
// agent. A system at work, one that takes its calls one at a time, slowly, is
// waited for, at most agentReturnWait in all.
constexpr double loginAnswerWait = 2.0;
// How long a registration waits for a manager that went away in its middle (restarts).
constexpr double agentReturnWait = 15.0;

// The variables that give the child its options, in the order they are walked.
struct ChildOption {
    const char *variable;
    const char *option;
};
constexpr ChildOption childOptions[] = {
    {"CV_MAC_STATE_DIR", "--state-dir"},
    {"CV_MAC_RUNTIME_DIR", "--runtime-dir"},
    {"CV_MAC_MOUNT_ROOT", "--mount-root"},
    {"CV_MAC_NFS_HELPER", "--nfs-helper"},
};

QString unavailableAgentText()
{
    return L(QStringLiteral("The installed app’s background service is unavailable."));
}

// The login agent's unit, named as the agent names it, for the remedy of a masked one.
LValues agentUnit(const AppBundle &bundle)
{
    return {{QStringLiteral("unit"), bundle.info(QStringLiteral("CVServiceAgentPlist")).value_or(QString())}};
}

bool isExecutableFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    return ::stat(native.constData(), &info) == 0 && !S_ISDIR(info.st_mode)
        && ::access(native.constData(), X_OK) == 0;
}

// Tabs and space separators; line breaks are not trimmed.
bool isBlank(QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; }

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// Takes `item`'s registration back, whatever comes of it: the caller goes on either
// way, and the switch shows what the system reports afterwards. True when it went
// through.
QCoro::Task<bool> unregisterQuietly(Lifetime::Watch watch, std::shared_ptr<LoginItem> item, CancelToken stop = {},
                                    CancelToken hurry = {})
{
    try {
        QCoro::Task<> unregistering = whileAlive(watch, item->unregisterItem(stop, hurry));
        co_await std::move(unregistering);
    } catch (...) {
        co_return false;
    }
    co_return true;
}

// The manager went away in the middle of a call (it restarts) or was not there.
bool managerLeft(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const PlatformError &error) {
        return error.code() == ECONNRESET || error.code() == ENOENT;
    } catch (...) {
        return false;
    }
}

} // namespace

ServiceHost::ServiceHost(QObject *parent) : ServiceHost(Platform {}, parent) {}

ServiceHost::ServiceHost(Platform platform, QObject *parent) : QObject(parent), platform_(platform)
{
    if (!platform_.launcher)
        platform_.launcher = &ChildLauncher::system();
    if (!platform_.loginItems)
        platform_.loginItems = &LoginItemService::system();
    if (!platform_.launchctl)
        platform_.launchctl = &Launchctl::system();
    if (!platform_.bundle)
        platform_.bundle = &AppBundle::main();
    if (!platform_.clock)
        platform_.clock = &Clock::system();
    logPath_ = Diagnostics::logFolder() + QStringLiteral("/service.log");
    agentStart_ = std::make_unique<AgentStart>(*platform_.launchctl);
    // The system answers in the background: what it reports is read again when it changes.
    connect(platform_.loginItems, &LoginItemService::changed, this, &ServiceHost::refreshLogin);
}

// The child is left alone: it keeps running after the host is gone.
ServiceHost::~ServiceHost()
{
    lifetime_.end();
}

QString ServiceHost::binaryPath() { return binaryPath(AppBundle::main()); }

QString ServiceHost::binaryPath(const AppBundle &bundle)
{
    if (qEnvironmentVariableIsSet(serviceVariable))
        return qEnvironmentVariable(serviceVariable);
    return QDir(bundle.executableFolder()).filePath(QStringLiteral("cv-mac-service"));
}

bool ServiceHost::developmentOverridden()
{
    if (qEnvironmentVariableIsSet(serviceVariable))
        return true;
    for (const ChildOption &entry : childOptions) {
        if (qEnvironmentVariableIsSet(entry.variable))
            return true;
    }
    return false;
}

QStringList ServiceHost::childArguments()
{
    QStringList arguments;
    for (const ChildOption &entry : childOptions) {
        if (qEnvironmentVariableIsSet(entry.variable))
            arguments << QString::fromLatin1(entry.option) << qEnvironmentVariable(entry.variable);
    }
    return arguments;
}

QString ServiceHost::markerDate(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000");
}

void ServiceHost::start(bool asChild)
{
    if (child_ && child_->running())
        return;

    if (const auto item = agent(); !asChild && item && item->status() == LoginItemStatus::requiresApproval) {
        throw ServiceError::unavailable(
            L(QStringLiteral("The background service’s user unit is masked. Run systemctl --user unmask {unit} to allow it."),
              agentUnit(*platform_.bundle)));
    }

    if (!asChild && agentManaged()) {
        kickstartAgent();
        return;
    }

    // A start asked of the service manager and not refused may still bring the agent's
    // service up beside the child: it is called off first (the manager takes the two
    // requests in order), and the child waits until the manager has taken that on, so
    // the two never overlap. A manager that is away is told when it is back.
    if (agentStart_->asked())
        agentStart_->callOff(agentTarget());
    if (!agentStart_->settled())
        return;

    const QStringList arguments = childArguments();
    const QString program = binaryPath(*platform_.bundle);
    if (!isExecutableFile(program)) {
        throw ServiceError::unavailable(L(QStringLiteral(
            "The background service is missing. Build or install Corvane with cv-mac-service and nfsmount beside the app executable.")));
    }

    files::makeFolders(QFileInfo(logPath_).absolutePath(), 0700);
    try {
        files::createIfMissing(logPath_, 0600);
    } catch (const PlatformError &) {
        throw ServiceError::invalid(L(QStringLiteral("Couldn’t create the service log.")));
    }

    // Opened for appending and written in one call, so the marker never lands over
    // what the running service or another writer has just written.
    const files::Descriptor output(files::openForAppend(logPath_));
    const QByteArray marker = QByteArrayLiteral("\n--- App started service at ")
        + markerDate(platform_.clock->now()).toUtf8() + QByteArrayLiteral(" ---\n");
    if (!files::writeOnce(output.get(), marker.constData(), size_t(marker.size())))
        throw PlatformError::fromErrno(errno ? errno : EIO, logPath_);

    child_ = platform_.launcher->launch(program, arguments, output.get());
    ++childLaunches_;
}

bool ServiceHost::agentStartPending() const { return agentStart_->pending(); }

bool ServiceHost::agentStartQueued()
{
    if (!agentStart_->pending())
        return false;
    try {
        return platform_.launchctl->startQueued(agentTarget());
    } catch (...) {
        return false;
    }
}

bool ServiceHost::agentStateAwaited()
{
    if (!agentStart_->asked() || agentStart_->failure() || !agentManaged())
        return false;
    try {
        return platform_.launchctl->stateComing(agentTarget());
    } catch (...) {
        return false;
    }
}

std::exception_ptr ServiceHost::agentStartFailure() const { return agentStart_->failure(); }

void ServiceHost::kickstartAgent() { agentStart_->begin(agentTarget()); }

QCoro::Task<> ServiceHost::callOffAgentStart(double within)
{
    if (agentStart_->asked()) {
        try {
            agentStart_->callOff(agentTarget());
        } catch (...) {
            // No agent to name: nothing was asked of the manager either.
        }
    }
    const double until = platform_.clock->uptime() + within;
    while (!agentStart_->settled() && platform_.clock->uptime() < until) {
        QCoro::Task<bool> pause = whileAlive(lifetime_.watch(), sleepOrSignal(*platform_.clock, until - platform_.clock->uptime(),
                                                                              agentStart_.get(), &AgentStart::callOffSettled));
        co_await std::move(pause);
    }
}

void ServiceHost::holdAgentStart() { agentStart_->holdBack(); }

bool ServiceHost::serviceMayRun()
{
    if (!childKnownStopped() || agentStart_->pending() || !agentStart_->settled())
        return true;
    if (!registrableAgent())
        return false;
    const std::optional<AgentState> state = agentState();
    return state && !state->active.isEmpty() && state->active != QLatin1String("inactive")
        && state->active != QLatin1String("failed");
}

void ServiceHost::stopChild()
{
    if (child_ && child_->running())
        child_->terminate();
}

bool ServiceHost::childKnownStopped() { return !child_ || !child_->running(); }

std::optional<QString> ServiceHost::exitDescription()
{
    if (!child_ || child_->running())
        return std::nullopt;
    const int status = child_->terminationStatus().value_or(-1);
    return L(QStringLiteral("The background service exited ({status}). Open the service log for the underlying error."),
             {{QStringLiteral("status"), QString::number(status)}});
}

std::optional<qint64> ServiceHost::childPid() const
{
    if (!child_)
        return std::nullopt;
    return child_->pid();
}

void ServiceHost::appendLog(const QString &text)
{
    files::appendToExisting(QFile::encodeName(logPath_),
                            QByteArrayLiteral("\n") + text.toUtf8() + QByteArrayLiteral("\n"));
}

// --- Login agent ---

std::shared_ptr<LoginItem> ServiceHost::agent()
{
    const auto plist = platform_.bundle->info(QStringLiteral("CVServiceAgentPlist"));
    if (!plist)
        return nullptr;
    return platform_.loginItems->agent(*plist);
}

std::shared_ptr<LoginItem> ServiceHost::registrableAgent()
{
    // The packaged check comes first: it spares the system a question.
    if (developmentOverridden() || !platform_.bundle->packaged())
        return nullptr;
    return agent();
}

bool ServiceHost::canRegister() { return registrableAgent() != nullptr; }

bool ServiceHost::needsApproval()
{
    const auto item = registrableAgent();
    return item && item->status() == LoginItemStatus::requiresApproval;
}

bool ServiceHost::agentManaged()
{
    const auto item = registrableAgent();
    return item && item->status() == LoginItemStatus::enabled && childKnownStopped();
}

QString ServiceHost::agentTarget() const
{
    const auto identifier = platform_.bundle->bundleIdentifier();
    if (!identifier || identifier->isEmpty())
        throw ServiceError::invalid(unavailableAgentText());
    return QStringLiteral("gui/") + QString::number(::getuid()) + QLatin1Char('/') + *identifier
        + QStringLiteral(".service");
}

std::optional<ServiceHost::AgentState> ServiceHost::agentState()
{
    Launchctl::Result printed;
    try {
        printed = platform_.launchctl->run({QStringLiteral("print")}, agentTarget(), true);
    } catch (...) {
        return std::nullopt;
    }
    AgentState state;
    // Not loaded: launchctl's answer for a service it does not know.
    if (printed.status == 113)
        return state;
    if (printed.status != 0)
        return std::nullopt;
    const QStringList lines = QString::fromUtf8(printed.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QString field = trimBlanks(line);
        if (field.startsWith(QLatin1String("active state = ")) && state.active.isEmpty())
            state.active = field.mid(15);
        else if (field == QLatin1String("state = running"))
            state.running = true;
    }
    return state;
}

bool ServiceHost::agentStopped(bool ask)
{
    if (!agentManaged())
        return false;
    // A state the manager has yet to tell since the start (or since it came back) is
    // not known, and a service not known to be stopped is never repaired.
    try {
        if (!platform_.launchctl->told(agentTarget(), ask))
            return false;
    } catch (...) {
        return true;
    }
    // A state that cannot be read is not known either.
    const std::optional<AgentState> state = agentState();
    return state && !state->running;
}

bool ServiceHost::agentTold()
{
    const auto plist = platform_.bundle->info(QStringLiteral("CVServiceAgentPlist"));
    return !plist || platform_.loginItems->agentKnown(*plist);
}

bool ServiceHost::agentStartAsked() const { return agentStart_->asked(); }

bool ServiceHost::callOffSettled() const { return agentStart_->settled(); }

void ServiceHost::refreshLogin()
{
    const auto item = registrableAgent();
    if (!item) {
        setLoginEnabled(false);
        // The installed app whose system has yet to answer about the agent is not told
        // it is not the installed app.
        const auto plist = platform_.bundle->info(QStringLiteral("CVServiceAgentPlist"));
        const bool installed = plist && !developmentOverridden() && platform_.bundle->packaged();
        if (installed && platform_.loginItems->agentSilent(*plist))
            setLoginDetail(L(QStringLiteral("The user service manager isn’t answering. Try again in a moment.")));
        else if (installed && !platform_.loginItems->agentKnown(*plist))
            setLoginDetail(L(QStringLiteral("Checking start at sign-in…")));
        else
            setLoginDetail(L(QStringLiteral("Available in the installed app.")));
        return;
    }
    // An enable that failed when no manager was there to take it back is taken back
    // by the next one, so the switch does not turn on after the error said the change
    // failed.
    if (takeBackOwed_ && !loginBusy_) {
        takeBackOwed_ = false;
        QCoro::Task<bool> undoing = unregisterQuietly(lifetime_.watch(), item);
        Q_UNUSED(undoing);
    }
    // A registration cut off halfway in an earlier run (linked, not enabled) is undone
    // when the agent is first known.
    if (!registrationChecked_ && !loginBusy_) {
        registrationChecked_ = true;
        if (item->halfRegistered()) {
            // Left as it is when that fails; the switch shows it off all the same.
            QCoro::Task<bool> undoing = unregisterQuietly(lifetime_.watch(), item);
            Q_UNUSED(undoing);
        }
    }
    const LoginItemStatus status = item->status();
    setLoginEnabled(status == LoginItemStatus::enabled);
    switch (status) {
    case LoginItemStatus::requiresApproval:
        setLoginDetail(L(QStringLiteral("Run systemctl --user unmask {unit} to allow Corvane."), agentUnit(*platform_.bundle)));
        break;
    case LoginItemStatus::notFound:
        setLoginDetail(unavailableAgentText());
        break;
    default:
        setLoginDetail(L(QStringLiteral("Runs in the background and reconnects automatically when you plug in.")));
        break;
    }
}

QCoro::Task<bool> ServiceHost::agentBack(CancelToken stop)
{
    const double until = platform_.clock->uptime() + agentReturnWait;
    LoginItemService *const items = platform_.loginItems;
    while (!registrableAgent() && !stop.cancelled() && platform_.clock->uptime() < until) {
        QCoro::Task<bool> waiting = whileAlive(
            lifetime_.watch(), sleepOrSignal(*platform_.clock, until - platform_.clock->uptime(), items, &LoginItemService::changed, stop));
        co_await std::move(waiting);
    }
    co_return registrableAgent() != nullptr;
}

QCoro::Task<> ServiceHost::loginKnown(CancelToken stop)
{
    const auto plist = platform_.bundle->info(QStringLiteral("CVServiceAgentPlist"));
    LoginItemService *const items = platform_.loginItems;
    if (!plist || items->agentKnown(*plist))
        co_return;
    // Woken early by the system's answer.
    const CancelToken told;
    const QString name = *plist;
    const QMetaObject::Connection answer = connect(items, &LoginItemService::changed, this, [items, name, told] {
        if (items->agentKnown(name))
            told.cancel();
    });
    const int stopped = stop.onCancel([told] { told.cancel(); });
    Clock &clock = *platform_.clock;
    const double last = clock.uptime() + agentReturnWait;
    double until = clock.uptime() + loginAnswerWait;
    const QMetaObject::Connection heard = connect(items, &LoginItemService::heard, this, [&clock, &until, last] {
        until = std::min(last, clock.uptime() + loginAnswerWait);
    });
    while (!told.cancelled() && clock.uptime() < until) {
        QCoro::Task<bool> waiting = whileAlive(lifetime_.watch(), clock.sleep(until - clock.uptime(), told));
        co_await std::move(waiting);
    }
    disconnect(heard);
    disconnect(answer);
    stop.removeCallback(stopped);
}

QCoro::Task<> ServiceHost::setLogin(bool enabled, std::function<QCoro::Task<>()> beforeStart, CancelToken stop)
{
    const auto item = registrableAgent();
    if (loginBusy_)
        throw ServiceError::invalid(L(QStringLiteral("Use an installed app bundle to configure login startup.")));
    if (!item) {
        // What is wrong: this is not the installed app (or it lacks the agent), or the
        // system that registers the agent does not answer now.
        const auto plist = platform_.bundle->info(QStringLiteral("CVServiceAgentPlist"));
        if (!plist || developmentOverridden() || !platform_.bundle->packaged()
            || !platform_.loginItems->agentInstalled(*plist))
            throw ServiceError::invalid(L(QStringLiteral("Only the installed app can start Corvane at sign-in.")));
        throw ServiceError::unavailable(
            L(QStringLiteral("The user service manager isn’t answering. Try again in a moment.")));
    }
    setLoginBusy(true);
    // The user's new choice replaces one still to be taken back.
    takeBackOwed_ = false;

    std::exception_ptr failure;
    if (enabled) {
        const auto app = platform_.loginItems->mainApp();
        if (app && app->status() != LoginItemStatus::notRegistered) {
            // The agent is registered all the same.
            QCoro::Task<bool> unregistering = unregisterQuietly(lifetime_.watch(), app);
            co_await std::move(unregistering);
        }
        if (item->status() != LoginItemStatus::enabled) {
            // Every step that does not need the running service gone runs while it
            // still serves; it is stopped (`beforeStart`) only just before the manager
            // is asked to start the agent's.
            try {
                std::exception_ptr unregistered;
                try {
                    QCoro::Task<> registering = item->enableItem(stop);
                    co_await std::move(registering);
                    // A manager that went away meanwhile (it restarts) is waited for:
                    // the running service is not stopped for a start nobody can take on.
                    QCoro::Task<bool> returning = agentBack(stop);
                    if (!co_await std::move(returning))
                        throw ServiceError::unavailable(
                            L(QStringLiteral("The user service manager isn’t answering. Try again in a moment.")));
                } catch (...) {
                    unregistered = std::current_exception();
                }
                // An enable that went through before the change failed (its reload
                // refused, or the manager gone) is taken back too, now or by the
                // manager that comes back, so that the switch and the error agree. A
                // quit ends the change where it is.
                if (unregistered && !stop.cancelled()) {
                    if (item->status() == LoginItemStatus::enabled) {
                        QCoro::Task<> undoing = takeBack(item);
                        co_await std::move(undoing);
                    } else if (!registrableAgent()) {
                        takeBackOwed_ = true;
                    }
                }
                if (unregistered)
                    std::rethrow_exception(unregistered);
                if (beforeStart) {
                    std::exception_ptr notStopped;
                    try {
                        QCoro::Task<> stopping = beforeStart();
                        co_await std::move(stopping);
                    } catch (...) {
                        notStopped = std::current_exception();
                    }
                    // The service could not be handed over: the enable is taken back,
                    // unless a quit ended the change (no further step begins).
                    if (notStopped && !stop.cancelled()) {
                        QCoro::Task<> undoing = takeBack(item);
                        co_await std::move(undoing);
                    }
                    if (notStopped)
                        std::rethrow_exception(notStopped);
                }
                // A quit that began meanwhile starts nothing: the agent is enabled,
                // and the manager starts it at the next sign-in.
                if (stop.cancelled())
                    throw PlatformError(ECANCELED, QStringLiteral("The change was called off."));
                kickstartAgent();
                std::exception_ptr refused;
                try {
                    QCoro::Task<> answering = whileAlive(lifetime_.watch(), agentStart_->answer());
                    co_await std::move(answering);
                } catch (...) {
                    refused = std::current_exception();
                }
                // Refused: started neither now nor, as it stands, at sign-in. The enable
                // is taken back, as when the enable itself is refused, so that the
                // switch and the error say the same. A manager that did not answer in
                // time is not asked more: the start it may still carry out is called
                // off when the child starts.
                if (refused && !agentStart_->pending()) {
                    QCoro::Task<> undoing = takeBack(item);
                    co_await std::move(undoing);
                }
                if (refused)
                    std::rethrow_exception(refused);
            } catch (...) {
                failure = std::current_exception();
            }
        }
    } else if (item->status() != LoginItemStatus::notRegistered) {
        // A manager that went away in the middle (it restarts) is waited for and
        // asked once more: it did not refuse.
        for (std::shared_ptr<LoginItem> asked = item; asked;) {
            failure = nullptr;
            try {
                QCoro::Task<> unregistering = whileAlive(lifetime_.watch(), asked->unregisterItem(stop));
                co_await std::move(unregistering);
            } catch (...) {
                failure = std::current_exception();
            }
            if (!failure || asked != item || !managerLeft(failure))
                break;
            // Awaited in a statement of its own: g++ 12 miscompiles a co_await in the
            // condition of a ?: whose branches are objects (the second attempt was
            // never made, and the heap was left corrupt).
            QCoro::Task<bool> returning = agentBack(stop);
            const bool back = co_await std::move(returning);
            asked = back ? registrableAgent() : nullptr;
        }
    }

    setLoginBusy(false);
    refreshLogin();
    if (failure)
        std::rethrow_exception(failure);
}

QCoro::Task<> ServiceHost::takeBack(std::shared_ptr<LoginItem> item)
{
    QCoro::Task<bool> undoing = unregisterQuietly(lifetime_.watch(), item);
    if (!co_await std::move(undoing))
        takeBackOwed_ = true;
}

QCoro::Task<bool> ServiceHost::repairAgent(CancelToken stop)
{
    const auto item = agent();
    if (!item || stop.cancelled())
        co_return false;
    if (!agentStopped())
        co_return false;

    appendLog(QStringLiteral("--- The background service couldn't start from sign-in; registering it again at ")
              + markerDate(platform_.clock->now()) + QStringLiteral(" ---"));

    // Registering again is what matters. Once the registration is taken back, a quit
    // does not leave it so: the user chose start at sign-in, and the enable is
    // finished whatever comes; only the start is not asked. The registration reloads
    // the manager and reads the unit afresh: taking it back does neither.
    const CancelToken registeringNext;
    registeringNext.cancel();
    QCoro::Task<bool> unregistering = unregisterQuietly(lifetime_.watch(), item, stop, registeringNext);
    co_await std::move(unregistering);

    bool result = false;
    bool registered = true;
    try {
        // Enabled only: the start below is the one followed, and called off if need be.
        // A quit has it finished on disk, without waiting on the manager further.
        QCoro::Task<> registering = item->enableItem({}, stop);
        co_await std::move(registering);
    } catch (...) {
        registered = false;
    }
    if (registered && !stop.cancelled() && item->status() == LoginItemStatus::enabled) {
        try {
            kickstartAgent();
            result = true;
        } catch (...) {
            result = false;
        }
    }

    refreshLogin();
    co_return result;
}

void ServiceHost::openLoginSettings() { platform_.loginItems->openSettings(); }

void ServiceHost::setLoginEnabled(bool value)
{
    loginEnabled_ = value;
    emit loginEnabledChanged(value);
}

void ServiceHost::setLoginDetail(const QString &value)
{
    loginDetail_ = value;
    emit loginDetailChanged(value);
}

void ServiceHost::setLoginBusy(bool value)
{
    loginBusy_ = value;
    emit loginBusyChanged(value);
}

} // namespace cv

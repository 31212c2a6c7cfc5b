#include "platform/systemd_user.h"

#include "platform/clock.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QCoroDBus>
#include "platform/next_signal.h"

#include <cerrno>
#include <utility>

namespace cv {

namespace {

const QString managerService = QStringLiteral("org.freedesktop.systemd1");
const QString managerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString managerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");
const QString unitInterface = QStringLiteral("org.freedesktop.systemd1.Unit");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString busService = QStringLiteral("org.freedesktop.DBus");

// The unit's object path: the manager escapes every byte but ASCII letters and digits
// as "_xx". Known before the unit is loaded, so its changes can be followed from the
// start.
QString unitPath(const QString &unit)
{
    QString path = managerPath + QStringLiteral("/unit/");
    for (const char c : unit.toUtf8()) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            path += QLatin1Char(c);
        else
            path += QStringLiteral("_%1").arg(uint(uchar(c)), 2, 16, QLatin1Char('0'));
    }
    return path;
}

// What the manager answers for a unit (file) it does not know.
bool unknownUnit(const QDBusMessage &reply)
{
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.systemd1.NoSuchUnit")
        || name == QLatin1String("org.freedesktop.DBus.Error.FileNotFound");
}

// What ask() answers for a call that the manager left the bus without answering (it
// restarted or exited): neither the manager's own answer nor a time-out.
const QString managerLeft = QStringLiteral("app.corvane.Corvane.Error.ManagerLeft");

bool lostCall(const QDBusMessage &reply) { return reply.errorName() == managerLeft; }

bool noAnswer(const QDBusMessage &reply)
{
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.NoReply")
        || name == QLatin1String("org.freedesktop.DBus.Error.Timeout")
        || name == QLatin1String("org.freedesktop.DBus.Error.TimedOut");
}

bool failed(const QDBusMessage &reply) { return reply.type() != QDBusMessage::ReplyMessage; }

PlatformError failureOf(const QDBusMessage &reply)
{
    if (lostCall(reply))
        return PlatformError(ECONNRESET, QStringLiteral("The user service manager restarted."));
    if (noAnswer(reply))
        return PlatformError(ETIMEDOUT, QStringLiteral("The user service manager isn’t answering."));
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))
        return PlatformError::fromErrno(ENOENT, QStringLiteral("The user service manager"));
    QString message = reply.errorMessage();
    if (message.isEmpty())
        message = reply.errorName();
    return PlatformError(EIO, message);
}

PlatformError calledOff()
{
    return PlatformError(ECANCELED, QStringLiteral("The change was called off."));
}

PlatformError notConnected()
{
    return PlatformError::fromErrno(ENOTCONN, QStringLiteral("The session bus"));
}

// Holds nothing of the manager object, so it may outlive it.
QCoro::Task<QDBusMessage> replyTo(QDBusPendingCall call)
{
    const QDBusMessage reply = co_await call;
    co_return reply;
}

} // namespace

SystemdUserManager::SystemdUserManager(QDBusConnection bus, Timeouts timeouts, Clock *clock)
    : bus_(std::move(bus)), timeouts_(timeouts), clock_(clock ? clock : &Clock::system())
{
}

SystemdUserManager::SystemdUserManager() : clock_(&Clock::system()) {}

SystemdUserManager::~SystemdUserManager()
{
    lifetime_.end();
}

SystemdUserManager &SystemdUserManager::session()
{
    // Never destroyed: it outlives every user, down to the static ones.
    static SystemdUserManager *const manager = new SystemdUserManager;
    return *manager;
}

QDBusConnection &SystemdUserManager::bus()
{
    if (!bus_)
        bus_ = QDBusConnection::sessionBus();
    return *bus_;
}

QDBusMessage SystemdUserManager::managerCall(const QString &method) const
{
    return QDBusMessage::createMethodCall(managerService, managerPath, managerInterface, method);
}

QCoro::Task<QDBusMessage> SystemdUserManager::ask(QDBusMessage message, int timeoutMs)
{
    const int owner = ownerChanges_;
    const bool toManager = message.service() == managerService;
    QCoro::Task<QDBusMessage> waiting = whileAlive(lifetime_.watch(), replyTo(bus().asyncCall(message, timeoutMs)));
    const QDBusMessage reply = co_await std::move(waiting);
    if (!failed(reply) || !noAnswer(reply)) {
        if (toManager && ownerChanges_ == owner)
            emit heard();
        co_return reply;
    }
    // A manager that left the bus meanwhile did not let the call run out of time: the
    // bus answers for it when it goes, and it is asked again when it is back. The
    // caller gets a `managerLeft` error instead (lostCall).
    const bool left = toManager && (ownerChanges_ != owner || !owned_ || reply.service() == busService);
    if (left)
        co_return message.createErrorReply(managerLeft, reply.errorMessage());
    quietUntil_ = clock_->uptime() + timeouts_.quietSeconds;
    QCoro::Task<> ending = endQuiet(quietUntil_);
    Q_UNUSED(ending);
    // Those who show the manager's answers say that it is not answering.
    emit changed();
    co_return reply;
}

// Those who read present() while the manager was quiet are told that it is no longer.
QCoro::Task<> SystemdUserManager::endQuiet(double until)
{
    while (clock_->uptime() < until) {
        QCoro::Task<bool> pause = whileAlive(lifetime_.watch(), clock_->sleep(until - clock_->uptime()));
        co_await std::move(pause);
    }
    // A later time-out tells the end of its own quiet period.
    if (quietUntil_ == until)
        emit changed();
}

void SystemdUserManager::done()
{
    if (--asking_ == 0)
        emit settled();
}

QCoro::Task<> SystemdUserManager::answered()
{
    while (asking_ > 0)
        co_await NextSignal(this, &SystemdUserManager::settled);
}

// The signals' match rules name no sender: naming the manager's well-known name
// would make Qt look up its owner with a blocking call.
void SystemdUserManager::follow()
{
    if (following_ || !bus().isConnected())
        return;
    following_ = true;
    auto *watcher = new QDBusServiceWatcher(managerService, bus(), QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &owner) { setOwner(!owner.isEmpty()); });
    bus().connect(QString(), managerPath, managerInterface, QStringLiteral("UnitFilesChanged"), this,
                  SLOT(unitFilesChanged()));
    QCoro::Task<> asking = askOwner();
    Q_UNUSED(asking);
}

QCoro::Task<> SystemdUserManager::askOwner()
{
    ++asking_;
    QDBusMessage question = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    question << managerService;
    QCoro::Task<QDBusMessage> asking = ask(question, timeouts_.answerMs);
    const QDBusMessage reply = co_await std::move(asking);
    setOwner(!failed(reply) && reply.arguments().value(0).toBool());
    done();
}

void SystemdUserManager::setOwner(bool present)
{
    owned_ = present;
    ownerTold_ = true;
    ownerSeen_ = ownerSeen_ || present;
    // Reads under way were asked of the owner before: their answers are not kept.
    ++ownerChanges_;
    if (present) {
        // A new manager has not failed to answer: whatever quiet period its
        // predecessor earned ends.
        quietUntil_ = -1;
        // Stops that found no manager reach this one first.
        for (const QString &unit : std::exchange(owedStops_, {})) {
            QDBusMessage stop = managerCall(QStringLiteral("StopUnit"));
            stop << unit << QStringLiteral("replace");
            QCoro::Task<QDBusMessage> stopping = send(stop);
            Q_UNUSED(stopping);
        }
        // The manager signals changes only to the clients that subscribed. Its answer
        // tells nothing of use (it refuses a second subscription), but that it is at
        // work.
        QCoro::Task<QDBusMessage> subscribing = ask(managerCall(QStringLiteral("Subscribe")), timeouts_.answerMs);
        Q_UNUSED(subscribing);
        for (const auto &entry : units_)
            reread(entry.first);
    } else {
        // What the manager that left told is no word of the next one's.
        for (auto &entry : units_)
            entry.second.freshFrom = entry.second.asked + 1;
    }
    emit changed();
    if (present)
        emit heard();
}

bool SystemdUserManager::present()
{
    follow();
    return owned_ && clock_->uptime() >= quietUntil_;
}

SystemdUserManager::Unit &SystemdUserManager::entryFor(const QString &name)
{
    const auto [entry, added] = units_.try_emplace(name);
    if (added) {
        entry->second.path = unitPath(name);
        bus().connect(QString(), entry->second.path, propertiesInterface, QStringLiteral("PropertiesChanged"), this,
                      SLOT(unitPropertiesChanged(QDBusMessage)));
    }
    return entry->second;
}

const SystemdUserManager::Snapshot &SystemdUserManager::kept(const QString &name)
{
    follow();
    Unit &entry = entryFor(name);
    const bool failed = entry.kept.file.failure || entry.kept.active.failure;
    if (owned_ && entry.reading == 0 && (entry.asked == 0 || (failed && clock_->uptime() >= entry.retryAt))) {
        QCoro::Task<> asking = refresh(name);
        Q_UNUSED(asking);
    }
    return entry.kept;
}

bool SystemdUserManager::knows(const QString &unit)
{
    kept(unit);
    return entryFor(unit).fileRead > 0;
}

bool SystemdUserManager::told(const QString &unit)
{
    follow();
    if (!ownerTold_)
        return false;
    if (!owned_)
        return !ownerSeen_;
    return clock_->uptime() < quietUntil_ || knows(unit);
}

bool SystemdUserManager::silent(const QString &unit)
{
    follow();
    if (!owned_)
        return false;
    if (clock_->uptime() < quietUntil_)
        return true;
    const std::optional<PlatformError> &failure = kept(unit).file.failure;
    return failure && failure->code() == ETIMEDOUT;
}

std::optional<QString> SystemdUserManager::unitFileState(const QString &unit)
{
    const Answer &answer = kept(unit).file;
    if (answer.failure)
        throw *answer.failure;
    return answer.value;
}

std::optional<QString> SystemdUserManager::activeState(const QString &unit)
{
    const Answer &answer = kept(unit).active;
    if (answer.failure)
        throw *answer.failure;
    return answer.value;
}

bool SystemdUserManager::activeTold(const QString &unit, bool ask)
{
    kept(unit);
    const Unit &entry = entryFor(unit);
    if (entry.starting > 0)
        return false;
    if (ask && owned_ && entry.asked < entry.freshFrom)
        reread(unit);
    return owned_ && entry.activeRead >= entry.freshFrom;
}

void SystemdUserManager::reread(const QString &unit)
{
    Unit &entry = entryFor(unit);
    entry.freshFrom = entry.asked + 1;
    QCoro::Task<> reading = refresh(unit);
    Q_UNUSED(reading);
}

void SystemdUserManager::unitFilesChanged()
{
    for (const auto &entry : units_)
        readOnChange(entry.first);
}

// The manager tells the unit's new ActiveState with the change: it is kept as it
// comes, without a question that would queue before the application's next call.
// Anything else is read.
void SystemdUserManager::unitPropertiesChanged(const QDBusMessage &signal)
{
    if (signal.arguments().value(0).toString() != unitInterface)
        return;
    const QVariantMap properties = qdbus_cast<QVariantMap>(signal.arguments().value(1));
    const auto told = properties.constFind(QStringLiteral("ActiveState"));
    for (auto &entry : units_) {
        if (entry.second.path != signal.path())
            continue;
        Unit &unit = entry.second;
        if (told == properties.constEnd() || !owned_ || unit.fileRead == 0 || unit.activeRead == 0) {
            readOnChange(entry.first);
            continue;
        }
        // A read under way keeps its unit file state, not the ActiveState it asked
        // before this came.
        const int ticket = ++unit.asked;
        if (keep(unit, unit.activeRead, unit.kept.active, Answer{told->toString(), std::nullopt}, ticket, ownerChanges_))
            emit changed();
    }
}

// A unit changes several times in a row as it starts or stops, and the manager takes
// its calls in order, so that a change the application asks for next is not queued
// behind a read for each of them. What it tells during a change is in the change's
// own read, asked after its last call; a read whose unit file state it has yet to
// answer is answered after what it told, and shows it; one more read follows a read
// under way that came too far for that.
void SystemdUserManager::readOnChange(const QString &unit)
{
    Unit &entry = entryFor(unit);
    if (entry.changing > 0) {
        entry.owed = true;
        return;
    }
    if (entry.fileAwaited > 0)
        return;
    if (entry.reading > 0) {
        entry.readAgain = true;
        return;
    }
    QCoro::Task<> reading = refresh(unit);
    Q_UNUSED(reading);
}

// Keeps one part of a read unless a later read's part was kept already, or the owner
// of the manager's name changed under it or left without answering (the new owner is
// read afresh). True when that tells something: the first answer does even when it
// equals the empty start (a unit the manager does not know), for until then there was
// no answer at all.
bool SystemdUserManager::keep(Unit &entry, int &read, Answer &kept, Answer next, int ticket, int owner)
{
    const bool lost = next.failure && next.failure->code() == ECONNRESET;
    if (ticket <= read || owner != ownerChanges_ || lost)
        return false;
    const bool first = read == 0;
    read = ticket;
    const auto text = [](const std::optional<PlatformError> &e) { return e ? e->message() : QString(); };
    const bool same = next.value == kept.value && text(next.failure) == text(kept.failure);
    if (next.failure)
        entry.retryAt = clock_->uptime() + timeouts_.quietSeconds;
    kept = std::move(next);
    return first || !same;
}

// Both questions at once. The unit file state, all that a decision about the unit
// needs, is kept as soon as it comes, and the read completes then; the ActiveState
// takes one more question, and is kept when it comes.
QCoro::Task<> SystemdUserManager::refresh(QString name)
{
    ++asking_;
    Unit &entry = entryFor(name);
    const int ticket = ++entry.asked;
    ++entry.reading;
    ++entry.fileAwaited;
    const int owner = ownerChanges_;
    QCoro::Task<Answer> fileReading = readFileState(name);
    QCoro::Task<Answer> activeReading = readActiveState(name);
    Answer file = co_await std::move(fileReading);
    Unit &read = entryFor(name);
    --read.fileAwaited;
    if (keep(read, read.fileRead, read.kept.file, std::move(file), ticket, owner))
        emit changed();
    QCoro::Task<> keeping = keepActive(name, std::move(activeReading), ticket, owner);
    Q_UNUSED(keeping);
}

QCoro::Task<> SystemdUserManager::keepActive(QString name, QCoro::Task<Answer> reading, int ticket, int owner)
{
    Answer active = co_await std::move(reading);
    Unit &read = entryFor(name);
    --read.reading;
    if (keep(read, read.activeRead, read.kept.active, std::move(active), ticket, owner))
        emit changed();
    // Changes told once this read's unit file state had come are read now.
    if (std::exchange(read.readAgain, false) && owned_)
        readOnChange(name);
    emit readEnded();
    done();
}

QCoro::Task<SystemdUserManager::Answer> SystemdUserManager::readFileState(QString unit)
{
    Answer answer;
    QDBusMessage question = managerCall(QStringLiteral("GetUnitFileState"));
    question << unit;
    QCoro::Task<QDBusMessage> asking = ask(question, timeouts_.answerMs);
    const QDBusMessage state = co_await std::move(asking);
    if (!failed(state))
        answer.value = state.arguments().value(0).toString();
    else if (!unknownUnit(state))
        answer.failure = failureOf(state);
    co_return answer;
}

QCoro::Task<SystemdUserManager::Answer> SystemdUserManager::readActiveState(QString unit)
{
    Answer answer;
    QDBusMessage question = managerCall(QStringLiteral("GetUnit"));
    question << unit;
    QCoro::Task<QDBusMessage> finding = ask(question, timeouts_.answerMs);
    const QDBusMessage found = co_await std::move(finding);
    const QString path = qvariant_cast<QDBusObjectPath>(found.arguments().value(0)).path();
    if (failed(found) || path.isEmpty()) {
        if (!unknownUnit(found))
            answer.failure = failureOf(found);
        co_return answer;
    }

    QDBusMessage property = QDBusMessage::createMethodCall(managerService, path, propertiesInterface, QStringLiteral("Get"));
    property << unitInterface << QStringLiteral("ActiveState");
    QCoro::Task<QDBusMessage> getting = ask(property, timeouts_.answerMs);
    const QDBusMessage reply = co_await std::move(getting);
    if (!failed(reply))
        answer.value = qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant().toString();
    // Unloaded between the two questions: not loaded.
    else if (!unknownUnit(reply) && reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.UnknownObject"))
        answer.failure = failureOf(reply);
    co_return answer;
}

QCoro::Task<> SystemdUserManager::change(QDBusMessage message)
{
    if (!bus().isConnected())
        throw notConnected();
    QCoro::Task<QDBusMessage> asking = ask(std::move(message), timeouts_.changeMs);
    const QDBusMessage reply = co_await std::move(asking);
    if (failed(reply))
        throw failureOf(reply);
}

// Runs `changing`, then has the manager reload. The unit is read again whether or not
// that went through, so the kept answer shows what the manager now holds; then the
// failure, if any. That read, asked after the change's last call was answered, shows
// whatever the manager told of the unit meanwhile: it is the only one.
QCoro::Task<> SystemdUserManager::reloadAndReread(QString unit, QCoro::Task<> changing, CancelToken stop, CancelToken hurry)
{
    ++entryFor(unit).changing;
    std::exception_ptr failure;
    try {
        co_await std::move(changing);
        if (stop.cancelled())
            throw calledOff();
        if (!hurry.cancelled()) {
            QCoro::Task<> reloading = change(managerCall(QStringLiteral("Reload")));
            try {
                co_await std::move(reloading);
            } catch (const PlatformError &error) {
                // A manager that restarted instead of reloading reads the unit files
                // afresh all the same: the change stands.
                if (error.code() != ECONNRESET)
                    throw;
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    Unit &entry = entryFor(unit);
    --entry.changing;
    if (stop.cancelled() || hurry.cancelled()) {
        // Called off, or in a hurry (the application quits): nothing more is asked,
        // so nothing queues ahead of what the quit asks; a later change reads it.
        entry.owed = true;
    } else if (present()) {
        entry.owed = false;
        QCoro::Task<> reading = refresh(unit);
        co_await std::move(reading);
    } else if (entry.changing == 0 && std::exchange(entry.owed, false) && owned_) {
        // Not answering lately: read as any change told is.
        readOnChange(unit);
    }
    if (failure)
        std::rethrow_exception(failure);
}

QCoro::Task<> SystemdUserManager::linkAndEnable(QString path, CancelToken stop, CancelToken hurry)
{
    const QString unit = path.section(QLatin1Char('/'), -1);
    QCoro::Task<> linking = linkAndEnableFile(path, unit, stop);
    QCoro::Task<> settling = reloadAndReread(unit, std::move(linking), stop, hurry);
    co_await std::move(settling);
}

QCoro::Task<> SystemdUserManager::linkAndEnableFile(QString path, QString unit, CancelToken stop)
{
    // Asked afresh, not kept: a mask is the user's choice and is never replaced
    // (forcing the link would); enabling a masked unit fails with the manager's own
    // message instead.
    QDBusMessage question = managerCall(QStringLiteral("GetUnitFileState"));
    question << unit;
    QCoro::Task<QDBusMessage> asking = ask(question, timeouts_.answerMs);
    const QDBusMessage state = co_await std::move(asking);
    if (failed(state) && !unknownUnit(state))
        throw failureOf(state);
    const bool masked = state.arguments().value(0).toString().startsWith(QLatin1String("masked"));
    if (stop.cancelled())
        throw calledOff();
    if (!masked) {
        // runtime false: it lasts beyond this session; force true: a link left by
        // an earlier installation at another place is replaced.
        QDBusMessage link = managerCall(QStringLiteral("LinkUnitFiles"));
        link << QStringList{path} << false << true;
        QCoro::Task<> linking = change(link);
        co_await std::move(linking);
        if (stop.cancelled())
            throw calledOff();
    }
    const int owner = ownerChanges_;
    QDBusMessage enable = managerCall(QStringLiteral("EnableUnitFiles"));
    enable << QStringList{unit} << false << false;
    std::optional<PlatformError> failure;
    try {
        QCoro::Task<> enabling = change(enable);
        co_await std::move(enabling);
    } catch (const PlatformError &error) {
        failure = error;
    }
    if (!failure)
        co_return;
    if (masked)
        throw *failure;

    // A link without its enable is no registration: it is taken back, as far as the
    // manager lets it, or the error says that it stays.
    bool undone = true;
    try {
        QCoro::Task<> unlinking = unlink(unit, owner, failure->code() == ECONNRESET);
        co_await std::move(unlinking);
    } catch (const PlatformError &) {
        undone = false;
    }
    if (undone)
        throw *failure;
    QString message = failure->message();
    if (!message.endsWith(QLatin1Char('.')))
        message += QLatin1Char('.');
    message += QStringLiteral(" The background service’s user unit is still linked. Run systemctl --user disable %1 to remove it.")
                   .arg(unit);
    throw PlatformError(failure->code(), message);
}

// Disables the unit, which removes its link (and an enable that went through unseen),
// and reloads. After a call that the manager was lost on (asked of the owner counted
// `owner`), its successor is waited for; a manager that is away or not answering is
// not asked.
QCoro::Task<> SystemdUserManager::unlink(QString unit, int owner, bool lost)
{
    if (lost) {
        QCoro::Task<bool> returning = backAfter(owner);
        co_await std::move(returning);
    }
    if (!present())
        throw PlatformError::fromErrno(ENOENT, QStringLiteral("The user service manager"));
    QDBusMessage disabling = managerCall(QStringLiteral("DisableUnitFiles"));
    disabling << QStringList{unit} << false;
    QCoro::Task<> unlinking = change(disabling);
    co_await std::move(unlinking);
    QCoro::Task<> reloading = change(managerCall(QStringLiteral("Reload")));
    co_await std::move(reloading);
}

// Waits, at most as long as a change may take, until a manager other than the owner
// counted `owner` has the name; true when one has.
QCoro::Task<bool> SystemdUserManager::backAfter(int owner, CancelToken callOff)
{
    const double until = clock_->uptime() + timeouts_.changeMs / 1000.0;
    while (!owned_ || ownerChanges_ == owner) {
        const double remaining = until - clock_->uptime();
        if (remaining <= 0 || callOff.cancelled())
            co_return false;
        QCoro::Task<bool> pause =
            whileAlive(lifetime_.watch(), sleepOrSignal(*clock_, remaining, this, &SystemdUserManager::changed, callOff));
        co_await std::move(pause);
    }
    co_return !callOff.cancelled();
}

QCoro::Task<> SystemdUserManager::disable(QString unit, CancelToken stop, CancelToken hurry)
{
    QDBusMessage message = managerCall(QStringLiteral("DisableUnitFiles"));
    message << QStringList{unit} << false;
    QCoro::Task<> settling = reloadAndReread(unit, change(message), stop, hurry);
    co_await std::move(settling);
}

QCoro::Task<> SystemdUserManager::startUnit(QString unit, CancelToken callOff)
{
    if (!bus().isConnected())
        throw notConnected();
    // Asked after the stop: the stop no longer has anything to undo.
    owedStops_.removeAll(unit);
    const double until = clock_->uptime() + timeouts_.changeMs / 1000.0;
    for (;;) {
        if (callOff.cancelled())
            throw calledOff();
        // A start is under way from here on, even before it is sent: the kept state
        // no longer tells that the unit is stopped.
        ++entryFor(unit).starting;
        // The manager takes its calls in order: a read of the unit asked before the
        // start is answered first anyway, and tells whether the unit failed. Until
        // then the start's turn has not come.
        ++entryFor(unit).startsQueued;
        QCoro::Task<> reading = readsEnded(unit, until, callOff);
        co_await std::move(reading);
        if (callOff.cancelled()) {
            --entryFor(unit).startsQueued;
            --entryFor(unit).starting;
            throw calledOff();
        }
        // The bus keeps the order of one sender's messages: the reset is done before
        // the start is looked at. A unit without a failed state answers the reset with
        // an error that means nothing here.
        std::optional<QCoro::Task<QDBusMessage>> resetting;
        if (!knownNotFailed(unit)) {
            QDBusMessage reset = managerCall(QStringLiteral("ResetFailedUnit"));
            reset << unit;
            resetting.emplace(send(reset));
        }
        QDBusMessage start = managerCall(QStringLiteral("StartUnit"));
        start << unit << QStringLiteral("replace");
        const int owner = ownerChanges_;
        QCoro::Task<QDBusMessage> starting = send(start);
        // The reset's answer, whatever it is, tells that the start's turn has come;
        // without a reset, nothing of the unit's is asked before the start any more.
        if (resetting)
            co_await std::move(*resetting);
        --entryFor(unit).startsQueued;
        const QDBusMessage reply = co_await std::move(starting);
        --entryFor(unit).starting;
        if (!failed(reply)) {
            // The state kept from before the start says nothing of what it brought
            // up: it is untold until a read asked from now on is kept (the unit's
            // changes bring one, or activeTold() asks).
            Unit &entry = entryFor(unit);
            entry.freshFrom = entry.asked + 1;
            co_return;
        }
        // A manager that left while the start waited (it restarted) never saw it, or
        // forgot it: it is asked again once the next one is there.
        if (!lostCall(reply) || clock_->uptime() >= until)
            throw failureOf(reply);
        QCoro::Task<bool> returning = backAfter(owner, callOff);
        if (!co_await std::move(returning))
            throw failureOf(reply);
    }
}

bool SystemdUserManager::startQueued(const QString &unit) { return entryFor(unit).startsQueued > 0; }

bool SystemdUserManager::activeComing(const QString &unit)
{
    const Unit &entry = entryFor(unit);
    return owned_ && entry.reading > 0 && entry.activeRead < entry.freshFrom && entry.asked >= entry.freshFrom;
}

QCoro::Task<> SystemdUserManager::readsEnded(QString unit, double until, CancelToken callOff)
{
    while (entryFor(unit).reading > 0 && clock_->uptime() < until && !callOff.cancelled()) {
        QCoro::Task<bool> pause = whileAlive(
            lifetime_.watch(), sleepOrSignal(*clock_, until - clock_->uptime(), this, &SystemdUserManager::readEnded, callOff));
        co_await std::move(pause);
    }
}

bool SystemdUserManager::knownNotFailed(const QString &unit)
{
    const Unit &entry = entryFor(unit);
    // Not loaded (no value) or in any state but "failed"; a read that failed, or none
    // since the manager came (back) or took a start on, tells nothing.
    return owned_ && entry.activeRead > 0 && entry.activeRead >= entry.freshFrom && !entry.kept.active.failure
        && entry.kept.active.value.value_or(QString()) != QLatin1String("failed");
}

QCoro::Task<> SystemdUserManager::stopUnit(QString unit)
{
    if (!bus().isConnected())
        throw notConnected();
    // A manager that is not on the bus carries out nothing now: the next one is told.
    if (ownerTold_ && !owned_) {
        QCoro::Task<> owing = oweStop(unit, ownerChanges_);
        co_await std::move(owing);
        co_return;
    }
    QDBusMessage stop = managerCall(QStringLiteral("StopUnit"));
    stop << unit << QStringLiteral("replace");
    const int owner = ownerChanges_;
    QCoro::Task<QDBusMessage> stopping = send(stop);
    const QDBusMessage reply = co_await std::move(stopping);
    if (lostCall(reply)) {
        // It left before it answered; one that is back already is asked now.
        if (owned_) {
            QCoro::Task<> again = stopUnit(unit);
            co_await std::move(again);
        } else {
            QCoro::Task<> owing = oweStop(unit, owner);
            co_await std::move(owing);
        }
        co_return;
    }
    if (failed(reply) && !unknownUnit(reply))
        throw failureOf(reply);
}

// A manager that was there and went away may be restarting, and keeps the services
// it started: the stop is sent to the one that comes back, before anything else, and
// waited for until then (as long as a change may take). With no manager seen, or
// none back in time, it stays owed to the next one.
QCoro::Task<> SystemdUserManager::oweStop(QString unit, int owner)
{
    if (!owedStops_.contains(unit))
        owedStops_.append(unit);
    if (!ownerSeen_)
        co_return;
    QCoro::Task<bool> returning = backAfter(owner);
    co_await std::move(returning);
}

// Counted among the questions, so that `answered` waits for it.
QCoro::Task<QDBusMessage> SystemdUserManager::send(QDBusMessage message)
{
    ++asking_;
    QCoro::Task<QDBusMessage> asking = ask(std::move(message), timeouts_.changeMs);
    const QDBusMessage reply = co_await std::move(asking);
    done();
    co_return reply;
}

} // namespace cv

#include "platform/systemd_user.h"

#include "platform/clock.h"
#include "platform/platform_error.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QCoroDBus>

#include <cerrno>

namespace cv {

namespace {

const QString managerService = QStringLiteral("org.freedesktop.systemd1");
const QString managerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString managerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");

// What the manager answers for a unit (file) it does not know.
bool unknownUnit(const QDBusMessage &reply)
{
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.systemd1.NoSuchUnit")
        || name == QLatin1String("org.freedesktop.DBus.Error.FileNotFound");
}

bool noAnswer(const QDBusMessage &reply)
{
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.NoReply")
        || name == QLatin1String("org.freedesktop.DBus.Error.Timeout")
        || name == QLatin1String("org.freedesktop.DBus.Error.TimedOut");
}

PlatformError failureOf(const QDBusMessage &reply)
{
    if (noAnswer(reply))
        return PlatformError::fromErrno(ETIMEDOUT, QStringLiteral("The user service manager"));
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))
        return PlatformError::fromErrno(ENOENT, QStringLiteral("The user service manager"));
    QString message = reply.errorMessage();
    if (message.isEmpty())
        message = reply.errorName();
    return PlatformError(EIO, message);
}

PlatformError notConnected()
{
    return PlatformError::fromErrno(ENOTCONN, QStringLiteral("The session bus"));
}

} // namespace

SystemdUserManager::SystemdUserManager(QDBusConnection bus, Timeouts timeouts, Clock *clock)
    : bus_(std::move(bus)), timeouts_(timeouts), clock_(clock ? clock : &Clock::system())
{
}

SystemdUserManager::SystemdUserManager() : clock_(&Clock::system()) {}

SystemdUserManager &SystemdUserManager::session()
{
    static SystemdUserManager manager;
    return manager;
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

void SystemdUserManager::noteFailure(const QDBusMessage &reply)
{
    if (reply.type() == QDBusMessage::ErrorMessage && noAnswer(reply))
        quietUntil_ = clock_->uptime() + timeouts_.quietSeconds;
}

QDBusMessage SystemdUserManager::ask(const QDBusMessage &message)
{
    if (!bus().isConnected())
        throw notConnected();
    // QDBus::Block waits without running the event loop: nothing else of the
    // application runs in between, and the wait is bounded.
    QDBusMessage reply = bus().call(message, QDBus::Block, timeouts_.answerMs);
    noteFailure(reply);
    return reply;
}

bool SystemdUserManager::present()
{
    if (!bus().isConnected() || clock_->uptime() < quietUntil_)
        return false;
    QDBusMessage question = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    question << managerService;
    const QDBusMessage reply = bus().call(question, QDBus::Block, timeouts_.answerMs);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

std::optional<QString> SystemdUserManager::unitFileState(const QString &unit)
{
    QDBusMessage question = managerCall(QStringLiteral("GetUnitFileState"));
    question << unit;
    const QDBusMessage reply = ask(question);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        if (unknownUnit(reply))
            return std::nullopt;
        throw failureOf(reply);
    }
    return reply.arguments().value(0).toString();
}

std::optional<QString> SystemdUserManager::activeState(const QString &unit)
{
    QDBusMessage question = managerCall(QStringLiteral("GetUnit"));
    question << unit;
    const QDBusMessage found = ask(question);
    if (found.type() != QDBusMessage::ReplyMessage) {
        if (unknownUnit(found))
            return std::nullopt;
        throw failureOf(found);
    }
    const QString path = qvariant_cast<QDBusObjectPath>(found.arguments().value(0)).path();
    if (path.isEmpty())
        throw failureOf(found);

    QDBusMessage property = QDBusMessage::createMethodCall(managerService, path,
                                                           QStringLiteral("org.freedesktop.DBus.Properties"),
                                                           QStringLiteral("Get"));
    property << QStringLiteral("org.freedesktop.systemd1.Unit") << QStringLiteral("ActiveState");
    const QDBusMessage reply = ask(property);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        // Unloaded between the two questions.
        if (unknownUnit(reply) || reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownObject"))
            return std::nullopt;
        throw failureOf(reply);
    }
    return qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant().toString();
}

QCoro::Task<> SystemdUserManager::change(QDBusMessage message)
{
    if (!bus().isConnected())
        throw notConnected();
    QDBusPendingCall call = bus().asyncCall(message, timeouts_.changeMs);
    const QDBusMessage reply = co_await call;
    noteFailure(reply);
    if (reply.type() != QDBusMessage::ReplyMessage)
        throw failureOf(reply);
}

QCoro::Task<> SystemdUserManager::linkAndEnable(QString path)
{
    const QString unit = path.section(QLatin1Char('/'), -1);
    // runtime false: it lasts beyond this session; force true: a link left by an
    // earlier installation at another place is replaced. A mask is the user's
    // choice and is never replaced (forcing the link would): enabling a masked unit
    // fails with the manager's own message instead.
    if (!unitFileState(unit).value_or(QString()).startsWith(QLatin1String("masked"))) {
        QDBusMessage link = managerCall(QStringLiteral("LinkUnitFiles"));
        link << QStringList{path} << false << true;
        QCoro::Task<> linking = change(link);
        co_await std::move(linking);
    }

    QDBusMessage enable = managerCall(QStringLiteral("EnableUnitFiles"));
    enable << QStringList{unit} << false << false;
    QCoro::Task<> enabling = change(enable);
    co_await std::move(enabling);

    QCoro::Task<> reloading = change(managerCall(QStringLiteral("Reload")));
    co_await std::move(reloading);
}

QCoro::Task<> SystemdUserManager::disable(QString unit)
{
    QDBusMessage message = managerCall(QStringLiteral("DisableUnitFiles"));
    message << QStringList{unit} << false;
    QCoro::Task<> disabling = change(message);
    co_await std::move(disabling);

    QCoro::Task<> reloading = change(managerCall(QStringLiteral("Reload")));
    co_await std::move(reloading);
}

void SystemdUserManager::startUnit(const QString &unit)
{
    if (!bus().isConnected())
        throw notConnected();
    // The bus keeps the order of one sender's messages: the reset is done before the
    // start is looked at. Answers are not waited for; a unit without a failed state
    // answers the reset with an error that means nothing here.
    QDBusMessage reset = managerCall(QStringLiteral("ResetFailedUnit"));
    reset << unit;
    bus().asyncCall(reset, timeouts_.changeMs);
    QDBusMessage start = managerCall(QStringLiteral("StartUnit"));
    start << unit << QStringLiteral("replace");
    bus().asyncCall(start, timeouts_.changeMs);
}

} // namespace cv

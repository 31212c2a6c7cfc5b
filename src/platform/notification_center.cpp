#include "platform/notification_center.h"

#include "platform/app_bundle.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusServiceWatcher>
#include <QPointer>
#include <QCoroDBus>

namespace cv {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

QDBusMessage serverCall(const QString &method)
{
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

QDBusMessage busCall(const QString &method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                          QStringLiteral("/org/freedesktop/DBus"),
                                          QStringLiteral("org.freedesktop.DBus"), method);
}

bool answered(const QDBusMessage &reply)
{
    return reply.type() == QDBusMessage::ReplyMessage;
}

QString failure(const QDBusMessage &reply)
{
    if (!reply.errorMessage().isEmpty())
        return reply.errorMessage();
    if (!reply.errorName().isEmpty())
        return reply.errorName();
    return QStringLiteral("The notification server gave no answer.");
}

QString gone()
{
    return QStringLiteral("The notification centre is gone.");
}

} // namespace

NotificationCenter &NotificationCenter::current()
{
    static QPointer<FreedesktopNotificationCenter> center;
    if (!center)
        center = new FreedesktopNotificationCenter(QDBusConnection::sessionBus(),
                                                   FreedesktopNotificationCenter::defaultTimeoutMs,
                                                   QCoreApplication::instance());
    return *center;
}

FreedesktopNotificationCenter::FreedesktopNotificationCenter(QDBusConnection bus, int timeoutMs,
                                                             QObject *parent)
    : NotificationCenter(parent), bus_(std::move(bus)), timeoutMs_(timeoutMs)
{
    if (!bus_.isConnected())
        return;
    // The server's signals go to every client; only ids this centre was given are
    // acted upon.
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onNotificationClosed(uint, uint)));
    watcher_ = new QDBusServiceWatcher(kService, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &oldOwner, const QString &) {
                // A server that went away took its notifications and ids with it.
                if (!oldOwner.isEmpty())
                    onServerChanged();
            });
}

FreedesktopNotificationCenter::~FreedesktopNotificationCenter()
{
    if (!bus_.isConnected())
        return;
    bus_.disconnect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                    SLOT(onActionInvoked(uint, QString)));
    bus_.disconnect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                    SLOT(onNotificationClosed(uint, uint)));
}

QString FreedesktopNotificationCenter::escapeMarkup(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('&'))
            escaped += QLatin1String("&amp;");
        else if (c == QLatin1Char('<'))
            escaped += QLatin1String("&lt;");
        else if (c == QLatin1Char('>'))
            escaped += QLatin1String("&gt;");
        else
            escaped += c;
    }
    return escaped;
}

QCoro::Task<NotificationAuthorizationStatus> FreedesktopNotificationCenter::authorizationStatus()
{
    if (!bus_.isConnected())
        co_return NotificationAuthorizationStatus::denied;
    QPointer<FreedesktopNotificationCenter> self(this);
    const QDBusConnection bus = bus_;
    const int timeout = timeoutMs_;

    QDBusMessage hasOwner = busCall(QStringLiteral("NameHasOwner"));
    hasOwner << kService;
    const QDBusPendingCall ownerCall = bus.asyncCall(hasOwner, timeout);
    const QDBusMessage ownerReply = co_await ownerCall;
    if (answered(ownerReply) && ownerReply.arguments().value(0).toBool())
        co_return NotificationAuthorizationStatus::authorized;
    if (!self)
        co_return NotificationAuthorizationStatus::denied;

    // No server runs now, but the bus may start one on the first call.
    const QDBusPendingCall namesCall = bus.asyncCall(busCall(QStringLiteral("ListActivatableNames")), timeout);
    const QDBusMessage namesReply = co_await namesCall;
    if (answered(namesReply) && namesReply.arguments().value(0).toStringList().contains(kService))
        co_return NotificationAuthorizationStatus::authorized;
    co_return NotificationAuthorizationStatus::denied;
}

QCoro::Task<NotificationAuthorizationReply> FreedesktopNotificationCenter::requestAuthorization()
{
    // Nobody is asked: the answer is whether a server is there to show notifications.
    const NotificationAuthorizationStatus status = co_await authorizationStatus();
    co_return NotificationAuthorizationReply{status == NotificationAuthorizationStatus::authorized,
                                             std::nullopt};
}

void FreedesktopNotificationCenter::setNotificationCategories(QList<NotificationCategory> categories)
{
    categories_.clear();
    for (NotificationCategory &category : categories) {
        const QString identifier = category.identifier;
        categories_.insert(identifier, std::move(category));
    }
}

QCoro::Task<std::optional<QString>> FreedesktopNotificationCenter::add(NotificationRequest request)
{
    if (!bus_.isConnected()) {
        const QString message = bus_.lastError().message();
        co_return message.isEmpty() ? QStringLiteral("The session bus is not available.") : message;
    }
    QPointer<FreedesktopNotificationCenter> self(this);
    const QDBusConnection bus = bus_;
    const int timeout = timeoutMs_;

    const QDBusPendingCall capabilitiesCall = bus.asyncCall(serverCall(QStringLiteral("GetCapabilities")), timeout);
    const QDBusMessage capabilities = co_await capabilitiesCall;
    if (!self)
        co_return gone();
    // Without knowing whether the server reads markup, the text could be shown
    // wrongly either way: report the failure instead of guessing.
    if (!answered(capabilities))
        co_return failure(capabilities);
    const bool bodyMarkup =
        capabilities.arguments().value(0).toStringList().contains(QStringLiteral("body-markup"));

    // The click on the notification itself comes back as the "default" action only
    // when the notification offers one; servers do not show it as a button.
    QStringList actions{defaultActionIdentifier(), QString()};
    const auto category = categories_.constFind(request.categoryIdentifier);
    if (category != categories_.constEnd()) {
        for (const NotificationAction &action : category->actions)
            actions << action.identifier << action.title;
    }

    // The summary is plain text to every server; only the body may be read as
    // markup, and then the names and paths in it must not be.
    const QString body = bodyMarkup ? escapeMarkup(request.body) : request.body;
    const uint replaces = ids_.value(request.identifier, 0);
    const QVariantMap hints{{QStringLiteral("suppress-sound"), true}};

    QDBusMessage notify = serverCall(QStringLiteral("Notify"));
    notify << AppBundle::main().info(QStringLiteral("CFBundleName")).value_or(QStringLiteral("Corvane"))
           << replaces << QString() << request.title << body << actions << hints << int(-1);
    const QDBusPendingCall notifyCall = bus.asyncCall(notify, timeout);
    const QDBusMessage reply = co_await notifyCall;
    if (!self)
        co_return gone();
    if (!answered(reply))
        co_return failure(reply);
    if (reply.signature() != QLatin1String("u"))
        co_return QStringLiteral("The notification server answered with “%1” instead of an id.")
            .arg(reply.signature());
    const uint id = reply.arguments().value(0).toUInt();

    // Forget what the id and the identifier stood for before.
    const auto previous = ids_.constFind(request.identifier);
    if (previous != ids_.constEnd() && *previous != id)
        shown_.remove(*previous);
    const auto reused = shown_.constFind(id);
    if (reused != shown_.constEnd() && reused->identifier != request.identifier)
        ids_.remove(reused->identifier);
    shown_.insert(id, Shown{request.identifier, request.userInfo});
    ids_.insert(request.identifier, id);
    co_return std::nullopt;
}

void FreedesktopNotificationCenter::onActionInvoked(uint id, const QString &actionKey)
{
    const auto it = shown_.constFind(id);
    if (it == shown_.constEnd())
        return;
    emit responseReceived(NotificationResponse{it->identifier, actionKey, it->userInfo});
}

void FreedesktopNotificationCenter::onNotificationClosed(uint id, uint)
{
    const auto it = shown_.constFind(id);
    if (it == shown_.constEnd())
        return;
    if (ids_.value(it->identifier) == id)
        ids_.remove(it->identifier);
    shown_.erase(it);
}

void FreedesktopNotificationCenter::onServerChanged()
{
    shown_.clear();
    ids_.clear();
}

} // namespace cv

#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QCoroTask>

#include <optional>

class QDBusServiceWatcher;

namespace cv {

// Whether the user lets the application show notifications, coded as the platform
// codes it: 0 not determined, 1 denied, 2 authorized, 3 provisional, 4 ephemeral.
// Other values can arrive and must be handled by the caller (e.g.
// NotificationAuthorizationStatus(7)).
enum class NotificationAuthorizationStatus : int {
    notDetermined = 0,
    denied = 1,
    authorized = 2,
    provisional = 3,
    ephemeral = 4,
};

// A button offered on a notification.
struct NotificationAction {
    QString identifier;
    QString title;

    bool operator==(const NotificationAction &) const = default;
};

// A kind of notification and the buttons it offers.
struct NotificationCategory {
    QString identifier;
    QList<NotificationAction> actions;

    bool operator==(const NotificationCategory &) const = default;
};

// One notification to show at once. A newer request with the same identifier takes
// the place of an older one that is still shown. `userInfo` comes back unchanged
// with every response to the notification; the application uses the keys "peer"
// (a string) and "paths" (a string list).
struct NotificationRequest {
    QString identifier;
    QString title;
    QString body;
    QString categoryIdentifier;
    QVariantMap userInfo;

    bool operator==(const NotificationRequest &) const = default;
};

// The user clicked a notification (`actionIdentifier` is
// NotificationCenter::defaultActionIdentifier()) or one of its buttons (the button's
// identifier).
struct NotificationResponse {
    QString requestIdentifier;
    QString actionIdentifier;
    QVariantMap userInfo;

    bool operator==(const NotificationResponse &) const = default;
};

// The answer to a request for permission: whether it was granted, or the failure's
// description.
struct NotificationAuthorizationReply {
    bool granted = false;
    std::optional<QString> error;
};

// The system's notification centre. Main thread only.
class NotificationCenter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~NotificationCenter() override = default;

    // The action identifier of a click on the notification itself.
    static QString defaultActionIdentifier() { return QStringLiteral("default"); }

    // The current permission.
    virtual QCoro::Task<NotificationAuthorizationStatus> authorizationStatus() = 0;
    // Asks the user for permission to show alerts with sound.
    virtual QCoro::Task<NotificationAuthorizationReply> requestAuthorization() = 0;
    // Replaces the registered categories.
    virtual void setNotificationCategories(QList<NotificationCategory> categories) = 0;
    // Shows a notification. Returns none on success, else the failure's description.
    virtual QCoro::Task<std::optional<QString>> add(NotificationRequest request) = 0;

    // The process-wide notification centre (the session bus's notification server).
    static NotificationCenter &current();

signals:
    // The user answered one of the notifications this centre showed.
    void responseReceived(const cv::NotificationResponse &response);
};

// Notifications through the desktop's notification server
// (org.freedesktop.Notifications on the session bus).
//
// There is no permission to ask for: the application may notify when a server owns
// the name or the bus can start one (authorized), and not otherwise (denied). A
// category becomes the list of buttons sent with each notification; the request's
// identifier is mapped to the server's id, which is passed back as `replaces_id` for
// the next request of that identifier. Every call has a short time-out, so a bus
// without a server, or a server that hangs, costs at most that long.
class FreedesktopNotificationCenter final : public NotificationCenter {
    Q_OBJECT
public:
    static constexpr int defaultTimeoutMs = 3000;

    explicit FreedesktopNotificationCenter(QDBusConnection bus = QDBusConnection::sessionBus(),
                                           int timeoutMs = defaultTimeoutMs,
                                           QObject *parent = nullptr);
    ~FreedesktopNotificationCenter() override;

    QCoro::Task<NotificationAuthorizationStatus> authorizationStatus() override;
    QCoro::Task<NotificationAuthorizationReply> requestAuthorization() override;
    void setNotificationCategories(QList<NotificationCategory> categories) override;
    QCoro::Task<std::optional<QString>> add(NotificationRequest request) override;

    // Escapes the characters that the server's body markup would read as markup.
    static QString escapeMarkup(const QString &text);

private slots:
    void onActionInvoked(uint id, const QString &actionKey);
    void onNotificationClosed(uint id, uint reason);
    void onServerChanged();

private:
    struct Shown {
        QString identifier;
        QVariantMap userInfo;
    };

    QDBusConnection bus_;
    int timeoutMs_;
    QDBusServiceWatcher *watcher_ = nullptr;
    QHash<QString, NotificationCategory> categories_;
    // Server id to what was shown, and request identifier to the server id.
    QHash<uint, Shown> shown_;
    QHash<QString, uint> ids_;
};

} // namespace cv

Q_DECLARE_METATYPE(cv::NotificationResponse)

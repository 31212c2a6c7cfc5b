#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVariantMap>

namespace cv::test {

// A desktop notification server for tests: it owns org.freedesktop.Notifications
// on the session bus (start the test under a private bus, e.g. cv_add_test(... DBUS))
// through a connection of its own, so the code under test can use the ordinary
// session bus connection of the same process.
//
// Records every Notify call, hands out increasing ids (the same id again when a
// call replaces a notification that is still shown), answers GetCapabilities with a
// configurable list, and lets the test click a notification.
class FakeNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct NotifyCall {
        QString appName;
        uint replacesId = 0;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout = 0;
        uint id = 0; // what the server answered
    };

    explicit FakeNotificationServer(QObject *parent = nullptr);
    ~FakeNotificationServer() override;

    // Connects under `connectionName` and takes the server's name. False when there
    // is no session bus or another owner holds the name.
    bool start(const QString &connectionName = QStringLiteral("fake-notification-server"));
    // Gives up the name and leaves the bus; shown notifications are forgotten.
    void stop();

    // The server's capabilities ("actions", "body", "body-markup" by default).
    void setCapabilities(QStringList capabilities) { capabilities_ = std::move(capabilities); }
    // When off, Notify and GetCapabilities get no answer at all (a hung server).
    void setAnswering(bool answering) { answering_ = answering; }

    const QList<NotifyCall> &notifyCalls() const { return notifyCalls_; }

    // The user clicks the notification (`actionKey` "default") or one of its buttons.
    void invokeAction(uint id, const QString &actionKey) { emit ActionInvoked(id, actionKey); }

public slots:
    // The server's D-Bus methods.
    uint Notify(const QString &app_name, uint replaces_id, const QString &app_icon,
                const QString &summary, const QString &body, const QStringList &actions,
                const QVariantMap &hints, int expire_timeout);
    QStringList GetCapabilities();

signals:
    void ActionInvoked(uint id, const QString &action_key);

private:
    QString connectionName_;
    bool running_ = false;
    bool answering_ = true;
    QStringList capabilities_{QStringLiteral("actions"), QStringLiteral("body"),
                              QStringLiteral("body-markup")};
    QList<NotifyCall> notifyCalls_;
    QSet<uint> shown_;
    uint nextId_ = 1;
};

} // namespace cv::test

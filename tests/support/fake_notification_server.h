#pragma once

#include <QDBusVirtualObject>
#include <QList>
#include <QSet>
#include <QStringList>
#include <QVariantMap>

namespace cv::test {

// A desktop notification server for tests: it owns org.freedesktop.Notifications
// on the session bus (start the test under a private bus, e.g. cv_add_test(... DBUS))
// through a connection of its own, so the code under test can use the ordinary
// session bus connection of the same process.
//
// Strict as a real server: a call with another signature than the specification's
// is answered InvalidArgs. Records every Notify call, hands out increasing ids (the
// same id again when a call replaces a notification still shown), answers
// GetCapabilities with a configurable list, and lets the test click a notification.
class FakeNotificationServer : public QDBusVirtualObject {
    Q_OBJECT
public:
    struct NotifyCall {
        QString appName;
        uint replacesId = 0;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        uint id = 0; // what the server answered
    };

    ~FakeNotificationServer() override { stop(); }

    // Takes the server's name; false when there is no session bus or another owner
    // holds the name.
    bool start();
    // Gives up the name and leaves the bus; shown notifications are forgotten.
    void stop();

    // The server's capabilities ("actions", "body", "body-markup" by default).
    void setCapabilities(QStringList capabilities) { capabilities_ = std::move(capabilities); }
    // When off, no call gets an answer at all (a hung server).
    void setAnswering(bool answering) { answering_ = answering; }

    const QList<NotifyCall> &notifyCalls() const { return notifyCalls_; }

    // The user clicks the notification (`actionKey` "default") or one of its buttons.
    void invokeAction(uint id, const QString &actionKey);

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    bool running_ = false;
    bool answering_ = true;
    QStringList capabilities_{QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("body-markup")};
    QList<NotifyCall> notifyCalls_;
    QSet<uint> shown_;
    uint nextId_ = 1;
};

} // namespace cv::test

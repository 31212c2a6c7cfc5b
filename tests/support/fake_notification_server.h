#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
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
// Strict as a real server: a call whose signature differs from the notification interface's
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
        int expireTimeout = 0; // -1: the server's own
        uint id = 0; // what the server answered
    };

    ~FakeNotificationServer() override { stop(); }

    // Takes the server's name; false when there is no session bus or another owner
    // holds the name.
    bool start()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connection);
        const bool running = bus.isConnected() && bus.registerVirtualObject(path, this) && bus.registerService(service);
        if (!running)
            stop();
        return running;
    }
    // Gives up the name and leaves the bus; shown notifications are forgotten.
    void stop()
    {
        if (QDBusConnection bus(connection); bus.isConnected()) {
            bus.unregisterService(service);
            bus.unregisterObject(path);
        }
        QDBusConnection::disconnectFromBus(connection);
        shown_.clear();
    }

    // The server's capabilities ("actions", "body", "body-markup" by default).
    void setCapabilities(QStringList capabilities) { capabilities_ = std::move(capabilities); }
    // When off, no call gets an answer at all (a hung server).
    void setAnswering(bool answering) { answering_ = answering; }

    const QList<NotifyCall> &notifyCalls() const { return notifyCalls_; }

    // The user clicks the notification (`actionKey` "default") or one of its buttons.
    // Like a real server, only an action the notification offers can be invoked; a
    // notification this server never showed stands for another application's. False
    // when refused.
    bool invokeAction(uint id, const QString &actionKey)
    {
        for (const NotifyCall &call : std::as_const(notifyCalls_)) {
            if (call.id != id)
                continue;
            bool offered = false;
            for (qsizetype i = 0; i + 1 < call.actions.size(); i += 2)
                offered = offered || call.actions.at(i) == actionKey;
            if (!offered)
                return false;
        }
        return QDBusConnection(connection).send(QDBusMessage::createSignal(path, service, QStringLiteral("ActionInvoked")) << id << actionKey);
    }

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &bus) override
    {
        static const QMap<QString, QString> signatures{{"Notify", "susssasa{sv}i"}, {"CloseNotification", "u"},
                                                       {"GetCapabilities", ""}, {"GetServerInformation", ""}};
        const QList<QVariant> in = message.arguments();
        if (message.interface() != service || signatures.value(message.member(), "-") != message.signature()) {
            bus.send(message.createErrorReply(QDBusError::InvalidArgs, message.member() + " (" + message.signature() + ")"));
            return true;
        }
        QVariantList out;
        if (message.member() == "Notify") {
            const uint replaces = in[1].toUInt();
            NotifyCall call{in[0].toString(), replaces, in[3].toString(), in[4].toString(), in[5].toStringList(),
                            qdbus_cast<QVariantMap>(in[6]), in[7].toInt(), 0};
            if (answering_) {
                call.id = replaces != 0 && shown_.contains(replaces) ? replaces : nextId_++;
                shown_.insert(call.id);
                out << call.id;
            }
            notifyCalls_.append(call);
        } else if (message.member() == "CloseNotification") {
            shown_.remove(in[0].toUInt());
        } else if (message.member() == "GetCapabilities") {
            out << capabilities_;
        } else {
            out << "Fake" << "Corvane tests" << "1" << "1.2";
        }
        if (answering_) // else the caller waits for ever
            bus.send(message.createReply(out));
        return true;
    }

private:
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    const QString path = QStringLiteral("/org/freedesktop/Notifications");
    const QString connection = QStringLiteral("fake-notification-server");
    bool answering_ = true;
    QStringList capabilities_{QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("body-markup")};
    QList<NotifyCall> notifyCalls_;
    QSet<uint> shown_;
    uint nextId_ = 1;
};

} // namespace cv::test

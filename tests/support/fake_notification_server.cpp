#include "fake_notification_server.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>

namespace cv::test {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kConnection = QStringLiteral("fake-notification-server");

} // namespace

bool FakeNotificationServer::start()
{
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnection);
    running_ = bus.isConnected() && bus.registerVirtualObject(kPath, this) && bus.registerService(kService);
    if (!running_)
        stop();
    return running_;
}

void FakeNotificationServer::stop()
{
    if (QDBusConnection bus(kConnection); bus.isConnected()) {
        bus.unregisterService(kService);
        bus.unregisterObject(kPath);
    }
    QDBusConnection::disconnectFromBus(kConnection);
    running_ = false;
    shown_.clear();
}

void FakeNotificationServer::invokeAction(uint id, const QString &actionKey)
{
    QDBusConnection(kConnection).send(QDBusMessage::createSignal(kPath, kService, QStringLiteral("ActionInvoked")) << id << actionKey);
}

bool FakeNotificationServer::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    static const QMap<QString, QString> signatures{{"Notify", "susssasa{sv}i"}, {"CloseNotification", "u"},
                                                   {"GetCapabilities", ""}, {"GetServerInformation", ""}};
    const QList<QVariant> in = message.arguments();
    if (message.interface() != kService || signatures.value(message.member(), "-") != message.signature()) {
        connection.send(message.createErrorReply(QDBusError::InvalidArgs, message.member() + " (" + message.signature() + ")"));
        return true;
    }
    QVariantList out;
    if (message.member() == "Notify") {
        const uint replaces = in[1].toUInt();
        NotifyCall call{in[0].toString(), replaces, in[3].toString(), in[4].toString(), in[5].toStringList(),
                        qdbus_cast<QVariantMap>(in[6]), 0};
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
        connection.send(message.createReply(out));
    return true;
}

} // namespace cv::test

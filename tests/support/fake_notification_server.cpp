#include "fake_notification_server.h"

namespace cv::test {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

FakeNotificationServer::FakeNotificationServer(QObject *parent) : QObject(parent) {}

FakeNotificationServer::~FakeNotificationServer() { stop(); }

bool FakeNotificationServer::start(const QString &connectionName)
{
    if (running_)
        return true;
    connectionName_ = connectionName;
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_);
    running_ = bus.isConnected()
        && bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
        && bus.registerService(kService);
    if (!running_) {
        bus.unregisterObject(kPath);
        QDBusConnection::disconnectFromBus(connectionName_);
    }
    return running_;
}

void FakeNotificationServer::stop()
{
    if (!running_)
        return;
    running_ = false;
    QDBusConnection bus(connectionName_);
    bus.unregisterService(kService);
    bus.unregisterObject(kPath);
    QDBusConnection::disconnectFromBus(connectionName_);
    shown_.clear();
}

uint FakeNotificationServer::Notify(const QString &app_name, uint replaces_id, const QString &app_icon,
                                    const QString &summary, const QString &body,
                                    const QStringList &actions, const QVariantMap &hints,
                                    int expire_timeout)
{
    NotifyCall call{app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout, 0};
    if (!answering_) {
        // Keep the caller waiting for ever.
        setDelayedReply(true);
        notifyCalls_.append(call);
        return 0;
    }
    const uint id = (replaces_id != 0 && shown_.contains(replaces_id)) ? replaces_id : nextId_++;
    shown_.insert(id);
    call.id = id;
    notifyCalls_.append(call);
    return id;
}

QStringList FakeNotificationServer::GetCapabilities()
{
    if (!answering_) {
        setDelayedReply(true);
        return {};
    }
    return capabilities_;
}

} // namespace cv::test

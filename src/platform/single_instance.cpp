#include "platform/single_instance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>

namespace cv {

namespace {

const QString interfaceName = QStringLiteral("app.corvane.Corvane.Application");

} // namespace

QString SingleInstance::busName(const QString &bundleIdentifier)
{
    QStringList elements = bundleIdentifier.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (elements.size() < 2)
        elements.prepend(QStringLiteral("app"));
    for (QString &element : elements) {
        for (QChar &c : element) {
            const bool allowed = (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
                || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                || c == QLatin1Char('_') || c == QLatin1Char('-');
            if (!allowed)
                c = QLatin1Char('_');
        }
        if (element.front().isDigit())
            element.prepend(QLatin1Char('_'));
    }
    return elements.join(QLatin1Char('.')).left(255);
}

SingleInstance::SingleInstance(QString busName, QDBusConnection connection, QObject *parent)
    : QObject(parent), name_(std::move(busName)), connection_(std::move(connection))
{
}

SingleInstance::~SingleInstance()
{
    if (exported_) {
        connection_.unregisterObject(objectPath());
        connection_.unregisterService(name_);
    }
}

QString SingleInstance::objectPath() const
{
    QString path = QLatin1Char('/') + name_;
    path.replace(QLatin1Char('.'), QLatin1Char('/'));
    path.replace(QLatin1Char('-'), QLatin1Char('_'));
    return path;
}

void SingleInstance::Reopen()
{
    // Answer the caller first; the reopen runs on the next turn.
    QTimer::singleShot(0, this, &SingleInstance::reopenRequested);
}

bool SingleInstance::registerName()
{
    QDBusConnectionInterface *bus = connection_.interface();
    if (!bus)
        return false;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus->registerService(
        name_, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
}

SingleInstance::Claim SingleInstance::claim(int timeoutMs)
{
    if (!connection_.isConnected())
        return Claim::standalone;
    // The object is there before the name, so a second launch never finds the name
    // without anything answering under it.
    if (!exported_) {
        exported_ = connection_.registerObject(objectPath(), this, QDBusConnection::ExportScriptableSlots);
        if (!exported_)
            return Claim::standalone;
    }
    // Twice: the owner may have ended between our attempt and our call.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (registerName())
            return Claim::owner;
        QDBusMessage call = QDBusMessage::createMethodCall(name_, objectPath(), interfaceName, QStringLiteral("Reopen"));
        const QDBusMessage answer = connection_.call(call, QDBus::Block, timeoutMs);
        if (answer.type() == QDBusMessage::ReplyMessage)
            return Claim::reopened;
        if (answer.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply")
            || answer.errorName() == QLatin1String("org.freedesktop.DBus.Error.Timeout"))
            return Claim::unanswered;
    }
    return Claim::unanswered;
}

} // namespace cv

#include "platform/single_instance.h"

#include "platform/development_log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>

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
    // A window shown now would go with the process; the caller waits for the end.
    if (quitting_) {
        if (calledFromDBus())
            sendErrorReply(QLatin1String(quittingError), QStringLiteral("Corvane is quitting."));
        return;
    }
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

SingleInstance::Answer SingleInstance::askToReopen(int timeoutMs)
{
    // The owner by its unique name, so that whatever the answer, it is known whose it
    // is and whether that process is still there.
    const QDBusReply<QString> owner = connection_.interface()->serviceOwner(name_);
    if (!owner.isValid())
        return Answer::gone;
    QDBusMessage call = QDBusMessage::createMethodCall(owner.value(), objectPath(), interfaceName, QStringLiteral("Reopen"));
    const QDBusMessage answer = connection_.call(call, QDBus::Block, timeoutMs);
    if (answer.type() == QDBusMessage::ReplyMessage)
        return Answer::reopened;
    if (answer.errorName() == QLatin1String(quittingError))
        return Answer::quitting;
    // An owner that ended with the call pending makes the bus answer NoReply at once.
    const QDBusReply<bool> there = connection_.interface()->isServiceRegistered(owner.value());
    return there.isValid() && there.value() ? Answer::unanswered : Answer::gone;
}

SingleInstance::Claim SingleInstance::claim(int timeoutMs, int quittingWaitMs)
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
    const QDeadlineTimer deadline(quittingWaitMs);
    bool ownerQuitting = false;
    int gone = 0;
    for (;;) {
        if (registerName())
            return Claim::owner;
        // A quitting owner is past its event loop as it ends, answering nothing: its
        // silence is waited out as well.
        const int wait = ownerQuitting ? int(std::clamp<qint64>(deadline.remainingTime(), 1, timeoutMs)) : timeoutMs;
        switch (askToReopen(wait)) {
        case Answer::reopened:
            return Claim::reopened;
        case Answer::quitting:
            if (!ownerQuitting)
                developmentLog(QStringLiteral("second launch: the first copy is quitting; waiting for it to end"));
            ownerQuitting = true;
            break;
        case Answer::gone:
            // The owner ended between our attempt and our call: once more at once. A
            // name that stays taken with no owner answering is waited for only when
            // the owner said it was quitting.
            if (++gone < 2)
                continue;
            if (!ownerQuitting)
                return Claim::unanswered;
            break;
        case Answer::unanswered:
            if (!ownerQuitting)
                return Claim::unanswered;
            break;
        }
        if (deadline.hasExpired())
            return Claim::quitting;
        QThread::msleep(ulong(std::min<qint64>(quittingStepMs, deadline.remainingTime())));
    }
}

} // namespace cv

#include "model/app_model.h"

#include "localization/localization.h"
#include "platform/notification_center.h"

#include <QPointer>

namespace cv {

namespace {

using State = AppModel::NotificationState;

State stateFor(NotificationAuthorizationStatus authorizationStatus)
{
    switch (authorizationStatus) {
    case NotificationAuthorizationStatus::denied:
        return State::denied;
    case NotificationAuthorizationStatus::authorized:
    case NotificationAuthorizationStatus::provisional:
    case NotificationAuthorizationStatus::ephemeral:
        return State::allowed;
    default: // not determined, and any value not known here
        return State::notDetermined;
    }
}

QString detailFor(NotificationAuthorizationStatus authorizationStatus)
{
    switch (stateFor(authorizationStatus)) {
    case State::denied:
        return L(QStringLiteral("Notifications are off on this desktop. Connection state stays visible here."));
    case State::allowed:
        return L(QStringLiteral("Connection and received-file notifications are enabled."));
    default:
        return L(QStringLiteral("Allow notifications for remembered connections and received files."));
    }
}

QString notPackagedText()
{
    return L(QStringLiteral("Notifications require the packaged app."));
}

// Asks for permission, then reads it again; runs on its own, its handle not kept.
QCoro::Task<> askForPermission(QPointer<AppModel> model, std::shared_ptr<NotificationCenter> centre)
{
    // Whether permission was granted does not matter: the refresh reads it.
    const NotificationAuthorizationReply reply = co_await centre->requestAuthorization();
    if (model && reply.error)
        model->setError(*reply.error);
    if (model)
        co_await model->refreshNotifications();
}

} // namespace

QCoro::Task<> AppModel::refreshNotifications()
{
    if (!packaged_) {
        setNotifications(State::unavailable);
        setNotificationsDetail(notPackagedText());
        co_return;
    }
    const QPointer<AppModel> self(this);
    const std::shared_ptr<NotificationCenter> centre = notificationCenter_;
    QCoro::Task<NotificationAuthorizationStatus> asking = alive(centre->authorizationStatus());
    const NotificationAuthorizationStatus status = co_await std::move(asking);
    if (!self)
        co_return;
    setNotifications(stateFor(status));
    setNotificationsDetail(detailFor(status));
}

void AppModel::requestNotifications()
{
    if (!packaged_) {
        setError(notPackagedText());
        return;
    }
    askForPermission(this, notificationCenter_);
}

} // namespace cv

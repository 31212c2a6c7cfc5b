#include "fake_notification_center.h"

namespace cv::test {

QCoro::Task<NotificationAuthorizationStatus> FakeNotificationCenter::authorizationStatus()
{
    ++statusQueries_;
    co_return status_;
}

QCoro::Task<NotificationAuthorizationReply> FakeNotificationCenter::requestAuthorization()
{
    ++authorizationRequests_;
    if (statusAfter_)
        status_ = *statusAfter_;
    co_return authorizationReply_;
}

void FakeNotificationCenter::setNotificationCategories(QList<NotificationCategory> categories)
{
    ++categoryRegistrations_;
    categories_ = std::move(categories);
}

QCoro::Task<std::optional<QString>> FakeNotificationCenter::add(NotificationRequest request)
{
    if (addError_) {
        ++refused_;
        co_return addError_;
    }
    posted_.append(std::move(request));
    co_return std::nullopt;
}

void FakeNotificationCenter::respond(const QString &requestIdentifier,
                                     const QString &actionIdentifier, const QVariantMap &userInfo)
{
    emit responseReceived(NotificationResponse{requestIdentifier, actionIdentifier, userInfo});
}

bool FakeNotificationCenter::respond(const QString &requestIdentifier, const QString &actionIdentifier)
{
    for (auto it = posted_.crbegin(); it != posted_.crend(); ++it) {
        if (it->identifier == requestIdentifier) {
            respond(requestIdentifier, actionIdentifier, it->userInfo);
            return true;
        }
    }
    return false;
}

} // namespace cv::test

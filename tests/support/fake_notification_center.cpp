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
    if (addError_)
        co_return addError_;
    posted_.append(std::move(request));
    co_return std::nullopt;
}

} // namespace cv::test

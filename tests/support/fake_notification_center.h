#pragma once

#include "platform/notification_center.h"

namespace cv::test {

// A notification centre in memory: the permission is whatever the test sets,
// requests and categories are recorded.
class FakeNotificationCenter final : public NotificationCenter {
    Q_OBJECT
public:
    using NotificationCenter::NotificationCenter;

    QCoro::Task<NotificationAuthorizationStatus> authorizationStatus() override
    {
        ++statusQueries_;
        co_return status_;
    }
    QCoro::Task<NotificationAuthorizationReply> requestAuthorization() override
    {
        ++authorizationRequests_;
        status_ = statusAfter_.value_or(status_);
        co_return authorizationReply_;
    }
    void setNotificationCategories(QList<NotificationCategory> categories) override { categories_ = std::move(categories); }
    QCoro::Task<std::optional<QString>> add(NotificationRequest request) override
    {
        if (!addError_) // else refused, and nothing recorded
            posted_.append(std::move(request));
        co_return addError_;
    }

    // What authorizationStatus() answers; any integer can be set.
    void setStatus(NotificationAuthorizationStatus status) { status_ = status; }
    void setStatus(int status) { status_ = NotificationAuthorizationStatus(status); }
    // What a request for permission answers, and the status it leaves behind
    // (unchanged when none).
    void setAuthorizationReply(NotificationAuthorizationReply reply,
                               std::optional<NotificationAuthorizationStatus> statusAfter = std::nullopt)
    {
        authorizationReply_ = std::move(reply);
        statusAfter_ = statusAfter;
    }
    // When set, add() refuses every request with this description (and records nothing).
    void setAddError(std::optional<QString> error) { addError_ = std::move(error); }

    const QList<NotificationRequest> &posted() const { return posted_; }
    const QList<NotificationCategory> &categories() const { return categories_; }
    int statusQueries() const { return statusQueries_; }
    int authorizationRequests() const { return authorizationRequests_; }

private:
    NotificationAuthorizationStatus status_ = NotificationAuthorizationStatus::notDetermined;
    NotificationAuthorizationReply authorizationReply_{true, std::nullopt};
    std::optional<NotificationAuthorizationStatus> statusAfter_ = NotificationAuthorizationStatus::authorized;
    std::optional<QString> addError_;
    QList<NotificationRequest> posted_;
    QList<NotificationCategory> categories_;
    int statusQueries_ = 0;
    int authorizationRequests_ = 0;
};

} // namespace cv::test

#include "model/app_model.h"

#include "localization/localization.h"
#include "platform/notification_center.h"

#include <QPointer>

#include <limits>
#include <memory>

namespace cv {

QCoro::Task<> AppModel::flushNotifications()
{
    QPointer<AppModel> self(this);

    // Connection notices. Each pass walks a copy; entries leave the live table by id.
    const QMap<QString, QDateTime> reconnect = pendingReconnect_;
    for (auto entry = reconnect.cbegin(); entry != reconnect.cend(); ++entry) {
        const QString id = entry.key();
        const std::optional<Peer> found = peer(id);
        if (!found) {
            // A computer that is no longer connected gets no notice.
            pendingReconnect_.remove(id);
            continue;
        }

        QString first;
        if (found->remote_receive) {
            first = L(QStringLiteral("It's ready to receive files."));
        } else if (found->mount) {
            first = L(QStringLiteral("Its files are open in the file manager."));
        } else if (found->error) {
            first = L(QStringLiteral("Its files couldn't be opened: {reason}"),
                      {{QStringLiteral("reason"), Localization::service(*found->error)}});
        } else {
            // Nothing is known yet about what the other computer offers: wait for it
            // until the entry is due.
            if (clock_->now() < entry.value())
                continue;
            if (!found->remote_share)
                first = L(QStringLiteral("It isn't sharing anything with you."));
        }
        QString second;
        if (found->sharing.mode != QLatin1String("none"))
            second = L(QStringLiteral("You're sharing {what}."), {{QStringLiteral("what"), found->sharing.target()}});

        if (!notifyConnections_) {
            pendingReconnect_.remove(id);
            continue;
        }
        QStringList sentences;
        if (!first.isEmpty())
            sentences << first;
        if (!second.isEmpty())
            sentences << second;
        QCoro::Task<> posting = notify(QStringLiteral("connection-") + id, id,
                                       L(QStringLiteral("Connected to {name}"), {{QStringLiteral("name"), found->name}}),
                                       sentences.join(QLatin1Char(' ')), {});
        co_await std::move(posting);
        if (!self)
            co_return;
        pendingReconnect_.remove(id);
    }

    // Delivery notices.
    const QMap<QString, PendingDelivery> deliveries = pendingDeliveries_;
    for (auto entry = deliveries.cbegin(); entry != deliveries.cend(); ++entry) {
        const QString id = entry.key();
        const PendingDelivery &batch = entry.value();
        if (batch.until > clock_->now())
            continue; // more files may still arrive
        if (!notifyFiles_) {
            pendingDeliveries_.remove(id);
            continue;
        }
        constexpr std::uint64_t largest = std::uint64_t(std::numeric_limits<std::int64_t>::max());
        const std::int64_t count = std::int64_t(std::min(batch.count, largest));
        const QString title = Lp(QStringLiteral("Received a file from {from}"), QStringLiteral("Received {n} files from {from}"),
                                 count, {{QStringLiteral("from"), batch.name}});
        const QString body = L(QStringLiteral("Saved to {folder}."), {{QStringLiteral("folder"), share(id).receiveFolderName()}});
        QCoro::Task<> posting = notify(QStringLiteral("delivery-") + id, id, title, body, batch.paths);
        co_await std::move(posting);
        if (!self)
            co_return;
        pendingDeliveries_.remove(id);
    }
}

QCoro::Task<> AppModel::notify(QString id, QString peer, QString title, QString body, QStringList paths)
{
    if (!packaged_)
        co_return;
    QPointer<AppModel> self(this);
    // Held here so the centre outlives both waits whatever happens to the model.
    std::shared_ptr<NotificationCenter> center = notificationCenter_;

    QCoro::Task<NotificationAuthorizationStatus> asking = alive(center->authorizationStatus());
    const NotificationAuthorizationStatus authorization = co_await std::move(asking);
    if (!self)
        co_return;
    // Not determined, denied and ephemeral permissions drop the notice.
    if (authorization != NotificationAuthorizationStatus::authorized
        && authorization != NotificationAuthorizationStatus::provisional)
        co_return;

    NotificationRequest request;
    request.identifier = std::move(id);
    request.title = std::move(title);
    request.body = std::move(body);
    request.userInfo = QVariantMap{{QStringLiteral("peer"), peer}, {QStringLiteral("paths"), paths}};
    if (!paths.isEmpty()) {
        request.categoryIdentifier = QStringLiteral("DELIVERY");
    } else {
        const std::optional<Peer> found = this->peer(peer);
        request.categoryIdentifier = found && found->mount ? QStringLiteral("CONNECTION_FILES")
                                                           : QStringLiteral("CONNECTION");
    }

    QCoro::Task<std::optional<QString>> adding = alive(center->add(std::move(request)));
    const std::optional<QString> failure = co_await std::move(adding);
    if (!self)
        co_return;
    if (failure)
        setError(L(QStringLiteral("Couldn’t show a notification: {error}"), {{QStringLiteral("error"), *failure}}));
}

} // namespace cv

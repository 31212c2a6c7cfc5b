#include "model/app_model.h"

#include "localization/localization.h"

#include <limits>

namespace cv {

namespace {

// A connection notice may go out this long after its event even when the other
// computer's share is not known yet.
constexpr qint64 reconnectWindowMs = 6000;
// Files arriving less than this apart are announced together.
constexpr qint64 deliveryWindowMs = 2000;

// Adds file counts without wrapping around: a sum past the largest value stays there.
std::uint64_t addCounts(std::uint64_t a, std::uint64_t b)
{
    return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

} // namespace

void AppModel::handle(ServiceEvent event)
{
    // Without a computer, only an error text matters, whatever the event's name.
    if (!event.peer) {
        if (event.detail.error)
            setError(Localization::service(*event.detail.error));
        return;
    }
    const QString &peer = *event.peer;

    if (event.event == QLatin1String("remembered_action_applied")) {
        pendingReconnect_.insert(peer, clock().now().addMSecs(reconnectWindowMs));
    } else if (event.event == QLatin1String("delivered")) {
        PendingDelivery batch = pendingDeliveries_.value(peer);
        batch.name = name(peer);
        batch.count = addCounts(batch.count, event.detail.files.value_or(1));
        if (event.detail.path)
            batch.paths.append(*event.detail.path);
        batch.until = clock().now().addMSecs(deliveryWindowMs);
        pendingDeliveries_.insert(peer, std::move(batch));
    } else if (event.event == QLatin1String("delivery_failed")) {
        if (event.detail.error)
            setError(Localization::service(*event.detail.error));
        else
            setError(L(QStringLiteral("A delivery from {name} failed."), {{QStringLiteral("name"), name(peer)}}));
    }
}

} // namespace cv

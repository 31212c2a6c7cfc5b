#include "views/computer_rows.h"

#include "localization/localization.h"
#include "model/app_model.h"
#include "views/main_view.h"

#include <QCollator>
#include <QSet>

#include <algorithm>

namespace cv {

namespace {

const QString separator = QStringLiteral(" · ");

QString connectedSummary(const AppModel &model, const Peer &peer)
{
    QStringList parts{model.linkKindDescription(peer.id)};
    if (!peer.choice_required) {
        const QString &mode = peer.sharing.mode;
        if (mode == QLatin1String("none"))
            parts << L(QStringLiteral("Not sharing"));
        else if (mode == QLatin1String("receive"))
            parts << L(QStringLiteral("Receive only"));
        else
            parts << L(QStringLiteral("Sharing {what}"), {{QStringLiteral("what"), peer.sharing.target()}});
        if (peer.remote_receive)
            parts << L(QStringLiteral("It's in receive mode"));
    }
    return parts.join(separator);
}

QString offlineSummary(const RememberedPeer &remembered, bool disconnected)
{
    QString summary = disconnected ? L(QStringLiteral("Disconnected")) : L(QStringLiteral("Not connected"));
    const QString &mode = remembered.share.mode;
    if (mode == QLatin1String("none"))
        return summary;
    summary += separator;
    if (mode == QLatin1String("receive"))
        summary += L(QStringLiteral("Receive only"));
    else
        summary += L(QStringLiteral("Shares {what}"), {{QStringLiteral("what"), remembered.share.target()}});
    return summary;
}

} // namespace

LinkStatus linkStatus(const AppModel &model, const QString &id, const std::function<QString()> &live)
{
    if (!model.connected())
        return {false, L(QStringLiteral("Status unavailable"))};
    return {model.peer(id).has_value(), live()};
}

QList<ComputerRowModel> MainView::rows(const AppModel &model)
{
    QList<ComputerRowModel> rows;
    QSet<QString> connectedIds;
    for (const Peer &peer : model.peers()) {
        // What the computer waits for is live status too.
        const bool live = model.connected();
        const bool warning = live && peer.choice_required && peer.error && model.remembered(peer.id);
        const LinkStatus status = linkStatus(model, peer.id, [&] {
            return warning ? L(QStringLiteral("What you shared last time isn't available")) : connectedSummary(model, peer);
        });
        rows.append({
            .id = peer.id,
            .name = peer.name,
            .summary = status.line,
            .online = status.online,
            .warning = warning,
            .needsChoice = live && peer.choice_required,
        });
        connectedIds.insert(peer.id);
    }

    QList<ComputerRowModel> offline;
    const AppModel::Disconnected &disconnected = model.disconnected();
    for (const RememberedPeer &remembered : model.offline()) {
        const bool canReconnect = disconnected.contains(remembered.id);
        offline.append({
            .id = remembered.id,
            .name = remembered.name,
            .summary = offlineSummary(remembered, canReconnect),
            .canReconnect = canReconnect,
        });
    }
    for (auto it = disconnected.cbegin(); it != disconnected.cend(); ++it) {
        if (connectedIds.contains(it.key()) || model.remembered(it.key()))
            continue;
        offline.append({
            .id = it.key(),
            .name = it.value(),
            .summary = L(QStringLiteral("Disconnected")),
            .canReconnect = true,
        });
    }
    const QCollator collator = AppModel::nameCollator();
    std::stable_sort(offline.begin(), offline.end(), [&collator](const ComputerRowModel &a, const ComputerRowModel &b) {
        return collator.compare(a.name, b.name) < 0;
    });
    rows.append(offline);
    return rows;
}

EmptyComputersStatus emptyComputersStatus(const AppModel &model, bool updateRequired)
{
    if (updateRequired)
        return {L(QStringLiteral("Update needed before these computers can connect.")), false};
    if (!model.connected() && model.starting())
        return {L(QStringLiteral("Starting Corvane…")), false};
    if (!model.connected())
        return {L(QStringLiteral("Corvane isn't running.")), false};
    if (model.cablePlugged())
        return {L(QStringLiteral("Cable connected. Waiting for Corvane on the other computer…")), true};
    return {L(QStringLiteral("Waiting for a cable…")), true};
}

} // namespace cv

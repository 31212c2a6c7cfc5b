#include "views/peer_menu.h"

#include "localization/localization.h"
#include "model/app_model.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

namespace cv {

QList<PeerMenuItem> PeerMenu::items(const AppModel &model, const QString &id, bool withShow)
{
    using A = PeerMenuAction;
    const std::optional<Peer> peer = model.peer(id);
    const bool idle = !model.busy();
    QList<PeerMenuItem> items;
    if (withShow)
        items.append({A::show, L(QStringLiteral("Show")), true});
    if (peer && peer->mount) {
        // Opening a mounted share is this computer's own business: only a lost
        // service stops it, not a command in flight.
        items.append({A::openFiles, L(QStringLiteral("Open Files")), model.connected()});
        items.append({A::eject, L(QStringLiteral("Eject")), idle});
    } else if (peer && peer->ejected) {
        items.append({A::showAgain, L(QStringLiteral("Show Again")), idle});
    }
    if (model.canSend(id))
        items.append({A::sendFiles, L(QStringLiteral("Send Files…")), idle});
    items.append({A::divider, {}, true});
    if (peer)
        items.append({A::disconnect, L(QStringLiteral("Disconnect")), idle});
    else if (model.disconnected().contains(id))
        items.append({A::reconnect, L(QStringLiteral("Reconnect")), idle});
    if (model.remembered(id))
        items.append({A::forget, L(QStringLiteral("Forget…")), idle});
    return items;
}

void PeerMenu::perform(AppModel &model, const QString &id, PeerMenuAction action, const std::function<void()> &show)
{
    auto send = [&](const char *op) { model.run(Command{.op = QString::fromLatin1(op), .peer = id}); };
    switch (action) {
    case PeerMenuAction::show:
        if (show)
            show();
        break;
    case PeerMenuAction::openFiles:
        model.openFiles(id);
        break;
    case PeerMenuAction::eject:
        send("eject");
        break;
    case PeerMenuAction::showAgain:
        send("mount");
        break;
    case PeerMenuAction::sendFiles:
        model.pickFiles(id);
        break;
    case PeerMenuAction::divider:
        break;
    case PeerMenuAction::disconnect:
        send("disconnect");
        break;
    case PeerMenuAction::reconnect:
        send("connect");
        break;
    case PeerMenuAction::forget:
        model.forget(id);
        break;
    }
}

PeerMenu::PeerMenu(AppModel &model, QString id, std::function<void()> show, QWidget *parent)
    : QMenu(parent), model_(&model), id_(std::move(id)), show_(std::move(show))
{
}

void PeerMenu::refresh()
{
    if (!model_)
        return;
    QList<PeerMenuItem> now = items(*model_, id_, bool(show_));
    if (built_ && now == shown_)
        return;
    built_ = true;
    shown_ = std::move(now);
    clear();
    for (const PeerMenuItem &item : std::as_const(shown_)) {
        if (item.action == PeerMenuAction::divider) {
            addSeparator();
            continue;
        }
        // A translation may hold "&", which a menu would read as a mnemonic.
        QAction *action = addAction(QString(item.title).replace(QLatin1Char('&'), QStringLiteral("&&")));
        action->setEnabled(item.enabled);
        action->setData(int(item.action));
        connect(action, &QAction::triggered, this, [this, which = item.action] {
            if (model_)
                perform(*model_, id_, which, show_);
        });
    }
}

} // namespace cv

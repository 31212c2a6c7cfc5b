#include "views/computer_menu.h"

#include "localization/localization.h"
#include "model/app_model.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

namespace cv {

QList<ComputerMenuItem> computerMenuItems(const AppModel &model, const QString &id, bool withShow)
{
    using A = ComputerMenuAction;
    const std::optional<Peer> peer = model.peer(id);
    const bool idle = !model.busy();
    QList<ComputerMenuItem> items;
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

void performComputerMenuAction(AppModel &model, const QString &id, ComputerMenuAction action,
                               const std::function<void()> &show)
{
    auto send = [&](const char *op) { model.run(Command{.op = QString::fromLatin1(op), .peer = id}); };
    switch (action) {
    case ComputerMenuAction::show:
        if (show)
            show();
        break;
    case ComputerMenuAction::openFiles:
        model.openFiles(id);
        break;
    case ComputerMenuAction::eject:
        send("eject");
        break;
    case ComputerMenuAction::showAgain:
        send("mount");
        break;
    case ComputerMenuAction::sendFiles:
        model.pickFiles(id);
        break;
    case ComputerMenuAction::divider:
        break;
    case ComputerMenuAction::disconnect:
        send("disconnect");
        break;
    case ComputerMenuAction::reconnect:
        send("connect");
        break;
    case ComputerMenuAction::forget:
        model.forget(id);
        break;
    }
}

void fillComputerMenu(QMenu &menu, AppModel &model, const QString &id, std::function<void()> show)
{
    menu.clear();
    const QPointer<AppModel> guarded(&model);
    for (const ComputerMenuItem &item : computerMenuItems(model, id, bool(show))) {
        if (item.action == ComputerMenuAction::divider) {
            menu.addSeparator();
            continue;
        }
        // A translation may hold "&", which a menu would read as a mnemonic.
        QString title = item.title;
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction *action = menu.addAction(title);
        action->setEnabled(item.enabled);
        action->setData(int(item.action));
        QObject::connect(action, &QAction::triggered, action, [guarded, id, which = item.action, show] {
            if (guarded)
                performComputerMenuAction(*guarded, id, which, show);
        });
    }
}

} // namespace cv

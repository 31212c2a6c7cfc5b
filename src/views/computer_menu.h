#pragma once

#include <QList>
#include <QString>

#include <functional>

class QMenu;

namespace cv {

class AppModel;

// What an item of a computer's menu does.
enum class ComputerMenuAction {
    show,       // the caller's show action
    openFiles,  // open the mounted share
    eject,      // "eject"
    showAgain,  // "mount"
    sendFiles,  // the send panel
    divider,    // no action: the line between the share items and the others
    disconnect, // "disconnect"
    reconnect,  // "connect"
    forget,     // the model's confirmation, then "forget"
};

struct ComputerMenuItem {
    ComputerMenuAction action = ComputerMenuAction::divider;
    QString title; // empty for the divider
    bool enabled = true;

    bool operator==(const ComputerMenuItem &) const = default;
};

// The items of the menu of computer `id` as the model stands now, in order. "Show"
// leads only when the caller has a show action.
QList<ComputerMenuItem> computerMenuItems(const AppModel &model, const QString &id, bool withShow);

// Does what `action` stands for; nothing for the divider. The model refuses commands
// while it is busy or in demo mode.
void performComputerMenuAction(AppModel &model, const QString &id, ComputerMenuAction action,
                               const std::function<void()> &show = {});

// Replaces the content of `menu` with the items for computer `id`, each action
// calling back into `model` (which must outlive the menu's actions).
void fillComputerMenu(QMenu &menu, AppModel &model, const QString &id, std::function<void()> show = {});

} // namespace cv

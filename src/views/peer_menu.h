#pragma once

#include <QList>
#include <QMenu>
#include <QPointer>
#include <QString>

#include <functional>

namespace cv {

class AppModel;

// What an item of a computer's menu does.
enum class PeerMenuAction {
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

struct PeerMenuItem {
    PeerMenuAction action = PeerMenuAction::divider;
    QString title; // empty for the divider
    bool enabled = true;

    bool operator==(const PeerMenuItem &) const = default;
};

// The menu of one computer's actions: show its window, open or eject its share,
// show an ejected share again, send files, disconnect or reconnect, forget. It owns
// nothing: refresh() reads the model, and every item acts through the model (which
// must outlive the menu's actions). "Show" leads only when there is a show action.
class PeerMenu final : public QMenu {
    Q_OBJECT
public:
    PeerMenu(AppModel &model, QString id, std::function<void()> show = {}, QWidget *parent = nullptr);

    // The items of computer `id` as the model stands now, in order.
    static QList<PeerMenuItem> items(const AppModel &model, const QString &id, bool withShow);
    // Does what `action` stands for; nothing for the divider. The model refuses
    // commands while it is busy or in demo mode.
    static void perform(AppModel &model, const QString &id, PeerMenuAction action,
                        const std::function<void()> &show = {});

    // Rebuilds the items when the model changed them since the last call.
    void refresh();

private:
    QPointer<AppModel> model_;
    QString id_;
    std::function<void()> show_;
    QList<PeerMenuItem> shown_;
    bool built_ = false;
};

} // namespace cv

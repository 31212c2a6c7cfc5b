#pragma once

#include "app/menu_actions.h"

#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

namespace cv {

class AppModel;
class StatusItem;

// The status-area item and its menu: per connected computer its everyday actions,
// then "Open Corvane" and "Quit Corvane". The menu is built anew only when what it
// shows changes, and never while it is open (it follows once it closes).
// Main thread only.
class StatusMenu final : public QObject {
    Q_OBJECT
public:
    using ItemFactory = std::function<std::unique_ptr<StatusItem>()>;

    // `makeItem` empty: the desktop's tray item.
    StatusMenu(AppModel &model, MenuActions actions, ItemFactory makeItem = {}, QObject *parent = nullptr);
    ~StatusMenu() override;

    // Shown: creates the item with its icon and menu unless it exists. Hidden:
    // removes the item.
    void updateStatusItem(bool show);
    // Brings the menu up to date with the model; nothing without an item.
    void rebuildStatusMenu();
    // Runs a computer item's {op, peer} payload; anything else is ignored.
    void peerMenuAction(const QVariant &payload);

    StatusItem *statusItem() const { return item_.get(); }
    QMenu *menu() const { return menu_; }

    // One item of the menu as built.
    struct Entry {
        enum class Kind { computer, peerItem, separator, openMain, quit };
        Kind kind = Kind::separator;
        QString title;
        QString op;   // a computer item's payload
        QString peer;
        bool enabled = true;
        QList<Entry> items; // a computer's submenu
        friend bool operator==(const Entry &a, const Entry &b);
    };

private:
    QList<Entry> entries() const;
    void build(const QList<Entry> &entries);

    AppModel &model_;
    MenuActions actions_;
    ItemFactory makeItem_;
    std::unique_ptr<StatusItem> item_;
    QPointer<QMenu> menu_;
    QList<Entry> built_;
    bool stale_ = false;
};

} // namespace cv

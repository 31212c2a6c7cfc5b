#pragma once

#include "app/menu_actions.h"

#include <QKeySequence>
#include <QList>
#include <QObject>

class QAction;
class QMenu;
class QMenuBar;

namespace cv {

// The application's main menu: one set of actions, built once, shown in the menu bar
// of every window (Linux has no shared menu bar). Items without a target of their own
// act on the active window or on the focused widget, as the first responder would.
// Main thread only.
class MainMenu final : public QObject {
    Q_OBJECT
public:
    // `updatesAvailable` decides for the whole run whether "Check for Updates…" is
    // present.
    MainMenu(MenuActions actions, bool updatesAvailable, QObject *parent = nullptr);
    ~MainMenu() override;

    // Fills `bar` (a window's own menu bar) with the menus "Corvane", "Edit", "Window"
    // and "Help", sharing this menu's actions.
    void attach(QMenuBar *bar);

    // The items of the application, Edit, Window and Help menus, in order;
    // separators included.
    const QList<QAction *> &applicationItems() const { return application_; }
    const QList<QAction *> &editItems() const { return edit_; }
    const QList<QAction *> &windowItems() const { return window_; }
    const QList<QAction *> &helpItems() const { return help_; }

private:
    QAction *item(QList<QAction *> &menu, const QString &title, const QKeySequence &key = {});
    void separator(QList<QAction *> &menu);
    QMenu *menu(QMenuBar *bar, const QString &title, const QList<QAction *> &items);
    // Sets each item's enabled state as the menu opens, and lifts it again once it
    // closes so that the shortcuts find their target when pressed.
    void validate(QAction *action, bool opening);
    void showAbout();

    MenuActions actions_;
    QList<QAction *> application_, edit_, window_, help_;
    QAction *checkForUpdates_ = nullptr;
    QAction *hideOthers_ = nullptr;
    QAction *showAll_ = nullptr;
    QList<std::pair<QAction *, const char *>> editSlots_;
    QAction *minimize_ = nullptr;
    QAction *close_ = nullptr;
};

} // namespace cv

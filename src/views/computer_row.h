#pragma once

#include "views/computer_rows.h"
#include "views/peer_menu.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace cv {

class TextLabel;

class AppModel;
class ElidedLabel;
class Spinner;
class SymbolView;

// One computer in the main window's list: its symbol, name and status line, what it
// waits for, "Reconnect" for a computer the user disconnected, and a chevron. A click
// anywhere but on the button opens the computer's window, as Enter or Space does
// while it has the keyboard focus; the context menu (also on the Menu key or
// Shift+F10) is the computer's menu. The row keeps nothing of its own: the main
// window hands it its record and the model's busy state at each redraw.
class ComputerRow final : public QWidget {
    Q_OBJECT
public:
    ComputerRow(AppModel &model, std::function<void()> open, QWidget *parent = nullptr);

    // Shows `row`; `busy` disables "Reconnect". Changes only what differs.
    void setRow(const ComputerRowModel &row, bool busy);
    const ComputerRowModel &row() const { return row_; }
    // Opens the computer's window, as a click does.
    void activate();

    // The context menu, once it was asked for (it is reused).
    PeerMenu *menu() const { return menu_; }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void reconnect();
    void openMenu(const QPoint &globalPos);

    AppModel &model_;
    std::function<void()> open_;
    ComputerRowModel row_;
    bool pressed_ = false;
    SymbolView *symbol_;
    ElidedLabel *name_;
    class StatusDot *dot_;
    ElidedLabel *summary_;
    QLabel *choose_;
    QPushButton *reconnect_;
    QPointer<PeerMenu> menu_;
};

// What the list shows without computers: the symbol, a title, the status line with a
// spinner while waiting, and how to connect.
class EmptyComputers final : public QWidget {
    Q_OBJECT
public:
    explicit EmptyComputers(QWidget *parent = nullptr);

    // Changes only what differs.
    void setStatus(const EmptyComputersStatus &status);

private:
    Spinner *spinner_;
    TextLabel *status_;
};

} // namespace cv

#pragma once

#include <QObject>

#include <memory>

class QIcon;
class QMenu;
class QString;

namespace cv {

// The application's item in the desktop's status area (the system tray). Many
// desktops have no tray host at all: the item then simply stays unseen, and nothing
// else changes. Main thread only.
class StatusItem : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void setIcon(const QIcon &icon) = 0;
    virtual void setToolTip(const QString &text) = 0;
    // The menu of a context click; not owned, and may be replaced at any time.
    virtual void setMenu(QMenu *menu) = 0;
    virtual void setVisible(bool visible) = 0;
    // Opens `menu` beside the item, as a left click on a menu-bar item would.
    virtual void popUp(QMenu *menu) = 0;

    // The tray item of this desktop (a QSystemTrayIcon).
    static std::unique_ptr<StatusItem> system();

signals:
    // A primary (left) click on the item.
    void clicked();
};

} // namespace cv

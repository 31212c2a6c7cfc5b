#include "platform/status_item.h"

#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace cv {

namespace {

class SystemStatusItem final : public StatusItem {
public:
    SystemStatusItem()
    {
        connect(&tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger)
                emit clicked();
        });
    }

    void setIcon(const QIcon &icon) override { tray_.setIcon(icon); }
    void setToolTip(const QString &text) override { tray_.setToolTip(text); }
    void setMenu(QMenu *menu) override { tray_.setContextMenu(menu); }

    void setVisible(bool visible) override
    {
        // Without a tray host QSystemTrayIcon only records the wish and shows the
        // item once a host appears, so no check is needed here.
        tray_.setVisible(visible);
    }

    void popUp(QMenu *menu) override
    {
        if (!menu)
            return;
        // The item's place when the host tells it; the pointer otherwise.
        const QRect place = tray_.geometry();
        menu->popup(place.isValid() ? place.bottomLeft() : QCursor::pos());
    }

private:
    // A child, so that the item's owner can reach it (tests drive its activations).
    QSystemTrayIcon tray_{this};
};

} // namespace

std::unique_ptr<StatusItem> StatusItem::system()
{
    return std::make_unique<SystemStatusItem>();
}

} // namespace cv

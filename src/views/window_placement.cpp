#include "views/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace cv::WindowPlacement {

QMargins frameMargins(const QWidget *window)
{
    const QRect client = window->geometry();
    const QRect frame = window->frameGeometry();
    return {std::max(client.left() - frame.left(), borderReserve),
            std::max(client.top() - frame.top(), titleBarReserve),
            std::max(frame.right() - client.right(), borderReserve),
            std::max(frame.bottom() - client.bottom(), borderReserve)};
}

QRect clientArea(const QRect &available, const QMargins &frame)
{
    return available.marginsRemoved(frame);
}

std::optional<QRect> clientArea(const QWidget *window, const QScreen *screen)
{
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return std::nullopt;
    return clientArea(screen->availableGeometry(), frameMargins(window));
}

QRect keptWithin(QRect client, const QRect &area)
{
    client.setSize(client.size().boundedTo(area.size()));
    if (client.right() > area.right())
        client.moveRight(area.right());
    if (client.bottom() > area.bottom())
        client.moveBottom(area.bottom());
    if (client.left() < area.left())
        client.moveLeft(area.left());
    if (client.top() < area.top())
        client.moveTop(area.top());
    return client;
}

} // namespace cv::WindowPlacement

#pragma once

#include <QMargins>
#include <QRect>

#include <optional>

class QScreen;
class QWidget;

namespace cv {

// Where a top-level window may lie on its screen. A window's geometry is its client
// area; the window manager draws its frame around it, the title bar on top, and the
// whole frame must lie within the screen's available area: a title bar above the
// screen's edge can no longer be grabbed to move the window back.
namespace WindowPlacement {

// The frame reserved around a window: the common desktops draw title bars up to
// about 37 px tall and borders of a few pixels.
constexpr int titleBarReserve = 38;
constexpr int borderReserve = 4;

// The frame around `window`'s client area: what the platform reports once the
// window has a frame, but never less than `titleBarReserve` on top and
// `borderReserve` on the other sides, since before a window is mapped no platform
// knows its frame (and some never report one).
QMargins frameMargins(const QWidget *window);

// Where the client area may lie on a screen whose available geometry is `available`,
// for a window with `frame` around it.
QRect clientArea(const QRect &available, const QMargins &frame);
// The same for `window` on `screen`, or on the primary screen when `screen` is none;
// none when there is no screen at all. The screen is the caller's to name: before a
// window is shown, Qt's answer is the screen under its default geometry's centre,
// which is not where a new window belongs.
std::optional<QRect> clientArea(const QWidget *window, const QScreen *screen);

// `client` no larger than `area`, moved the least that puts it inside `area`.
QRect keptWithin(QRect client, const QRect &area);

} // namespace WindowPlacement

} // namespace cv

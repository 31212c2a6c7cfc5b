#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <QCoroTask>

class QAbstractButton;
class QAbstractScrollArea;

namespace cv {

// Exact pictures of the application's own windows, shared by the reference
// rendering, the capture run and its variants. Main thread only. Failures are
// thrown as ServiceError (invalid) with a development text, or as
// DevelopmentCaptureFailure from the bounded calls.

// The window as the screen has it (QScreen::grabWindow of its id), at its device
// pixel ratio. A window that is not shown, or whose grab comes back empty, is
// unavailable for capture.
QCoro::Task<QImage> captureOwnWindow(QPointer<QWidget> window);

// The window with the menu of its first pop-up button open, the menu composited
// over it on the capture backdrop. The menu is opened with popup() on the next
// turn of the event loop (never a nested loop) and always closed again.
QCoro::Task<QImage> captureWithMenu(QPointer<QWidget> window);

// `image` (the window's own capture) with every pop-up window that comes within 40
// pixels of `anchor` (global coordinates) drawn over it, each on `backdrop`. The
// picture covers the window and those pop-ups; what lies outside both stays
// transparent.
QCoro::Task<QImage> captureWithPopups(QPointer<QWidget> window, QImage image, QColor backdrop, QRect anchor);

// The capture backdrop under a pop-up: #1F1F1F behind a dark window, #EDEDED else.
QColor captureBackdrop(const QWidget *window);

// `image` as PNG data; empty when it cannot be encoded.
QByteArray pngData(const QImage &image);
// Replaces the file at `path` whole with `data`, or leaves it as it was.
void writeAtomically(const QString &path, const QByteArray &data);
// `image` as a PNG file at `path`, replaced whole.
void writePNG(const QImage &image, const QString &path);

// The window's content view: a main window's central widget, else the window.
QWidget *contentView(QWidget *window);

// Lays out `view` and paints what is pending at once.
void layOutAndDraw(QWidget *view);

// Moves the window's frame to the middle of its screen's available area.
void centreOnScreen(QWidget *window);

// Lets the event loop run for `milliseconds` (or CV_MAC_CAPTURE_PAUSE_MS when set):
// windows lay out, fit and paint.
QCoro::Task<> developmentPause(int milliseconds);

// The first widget of type T in `root`'s tree, depth first, `root` included.
template<class T>
T *firstSubview(QWidget *root)
{
    if (!root)
        return nullptr;
    if (auto *match = qobject_cast<T *>(root))
        return match;
    for (QObject *child : root->children()) {
        if (child->isWidgetType())
            if (T *found = firstSubview<T>(static_cast<QWidget *>(child)))
                return found;
    }
    return nullptr;
}

// The first button in `root`'s tree that opens a menu: one with a menu of its own,
// or a computer window's "⋯" button.
QAbstractButton *firstPopUpButton(QWidget *root);

// The outermost scroll areas in `view`'s tree, depth first; the inside of a scroll
// area is not searched.
QList<QAbstractScrollArea *> nativeScrollViews(QWidget *view);

} // namespace cv

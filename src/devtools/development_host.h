#pragma once

#include <QHash>
#include <QImage>
#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>

#include <functional>

namespace cv {

class AppModel;

// Draws a window's root view at a content size (pixels of one point each) and a
// device pixel ratio; a null image once the view is gone.
using ContentRenderer = std::function<QImage(QSize, qreal)>;

// What the development tools use of the application delegate: its model, its
// window tables and flags (by address, read afresh at every step), and the few
// operations they call. `owner` is the delegate itself; every step checks it
// first, so a run never touches a delegate that has gone.
struct DevelopmentHost {
    QPointer<QObject> owner;
    AppModel *model = nullptr;
    QPointer<QMainWindow> *mainWindow = nullptr;
    QMap<QString, QPointer<QMainWindow>> *peerWindows = nullptr; // computer id to its window
    QHash<const QWidget *, QPointer<QWidget>> *contentHosts = nullptr;
    QHash<const QWidget *, ContentRenderer> *contentRenderers = nullptr;
    bool *captureScheduled = nullptr;
    bool *terminationScheduled = nullptr;
    bool *terminationInFlight = nullptr;
    std::function<void()> showMain;
    std::function<void(const QString &)> showPeer;
    // Asks the application to terminate through its ordinary handshake.
    std::function<void()> terminateFromRunLoop;
    // The development trace (a no-op when empty).
    std::function<void(const QString &)> log;

    bool alive() const { return !owner.isNull(); }
    void trace(const QString &text) const
    {
        if (log)
            log(text);
    }
    // The window's root view, when the shell registered one and it still exists.
    QWidget *contentHost(const QWidget *window) const
    {
        return contentHosts ? contentHosts->value(window).data() : nullptr;
    }
};

// A renderer for `host`'s window, as the shell registers it in contentRenderers:
// draws the root view as it is now (grabbed at the window's device pixel ratio, or
// rendered at `scale` when that differs) into an image of exactly the content size,
// the view centred when its own size differs; null once the view is gone.
ContentRenderer contentRenderer(QWidget *host);

// Closes the main window and every computer window and forgets them, so the next
// show builds fresh ones; the closed windows are deleted on a later turn.
void closeDemoWindows(DevelopmentHost &host);

} // namespace cv

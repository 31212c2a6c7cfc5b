#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <functional>
#include <optional>

class QPropertyAnimation;
class QScrollArea;
class QTimer;

namespace cv {

// Makes a window follow the height of its content: it grows and shrinks so that the
// content fits without scrolling, between `minimum` and `maximum` and within the
// screen, while its top edge stays where it is. A fresh window is shown only after
// its first fit, so it is never seen at a wrong height and then jumps; a fallback
// shows it after 0.15 s in any case.
//
// Heights are client-area heights (QWidget::geometry), never the frame: window
// managers add title bars of their own. One instance per window, main thread only;
// the window is held weakly, so a WindowHeight never keeps a window alive.
class WindowHeight final : public QObject {
    Q_OBJECT
public:
    WindowHeight(qreal minimum, qreal maximum, QObject *parent = nullptr);
    ~WindowHeight() override;

    QWidget *window() const { return window_; }
    void setWindow(QWidget *window);
    qreal minimum() const { return minimum_; }
    qreal maximum() const { return maximum_; }

    // Runs `show` once, after the first fit has settled, or after 0.15 s at the
    // latest. A closure still pending from an earlier call is dropped unrun.
    void showAfterFitting(std::function<void()> show);

    // Fits the window to content of height `content` shown in an area of height
    // `container`. Any number of calls; nothing happens before both are positive.
    void fit(qreal content, qreal container);

    // Holds fitting off, e.g. while a window is being captured at a fixed size.
    // Resuming asks the attached scroll areas for a fresh fit.
    void setFittingSuspended(bool suspended);
    bool fittingSuspended() const { return suspended_; }
    // True while the user resizes the window (a resize this object did not make).
    bool userResizing() const;
    // True while the window's height changes under an animation.
    bool animating() const;

    // While set, fitting ignores `maximum` and the screen and never animates; the
    // minimum still applies. Set by reference rendering only.
    static bool unlimited();
    static void setUnlimited(bool unlimited);

    // The arithmetic, as pure functions. `screen` is where the window's client area
    // may lie on its screen (else the primary screen): the available geometry less
    // the window manager's frame (WindowPlacement::clientArea); none when there is
    // no screen.
    static int target(qreal chrome, qreal content, qreal minimum, qreal maximum,
                      std::optional<QRect> screen, bool unlimited);
    // `current` with height `target`, its top edge kept; lifted so that its bottom
    // edge rests on the bottom of `screen` when it would fall below it, but never
    // above the top of `screen`.
    static QRect fittedGeometry(const QRect &current, int target, std::optional<QRect> screen);

    // How long a resize by the user keeps fitting off after its last step.
    static constexpr int userResizeQuietMs = 300;

signals:
    // Asks the attached content (see fitsWindowHeight) to report its heights again.
    void fitRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showWhenSettled();
    void runPendingShow();
    void apply(const QRect &geometry);
    void layOutWindow();

    QPointer<QWidget> window_;
    qreal minimum_;
    qreal maximum_;
    std::function<void()> pendingShow_;
    std::optional<qreal> waitingChrome_;
    bool suspended_ = false;
    QSize ownSize_;                          // the size this object last gave the window
    QTimer *userResize_ = nullptr;           // runs while the user resizes
    QPointer<QPropertyAnimation> animation_; // the running height change, if any
};

// Makes `area`'s content decide its window's height through `height`: the content
// height is the content widget's height for the viewport's width, and fits follow
// the content's layout requests and the viewport's resizes, one per event-loop turn.
// Does nothing when `height` is null.
void fitsWindowHeight(QScrollArea *area, WindowHeight *height);

} // namespace cv

#include "views/window_height.h"

#include "views/window_placement.h"

#include <QCoreApplication>
#include <QEasingCurve>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QPropertyAnimation>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace cv {

namespace {

bool unlimitedFlag = false;

constexpr int showFallbackMs = 150;
constexpr int animationMs = 220;
// The screen's available height less this margin bounds a window.
constexpr qreal screenMargin = 24;

// The ease-out timing curve of the desktop's window animations: a cubic Bézier
// through (0, 0), (0.58, 1).
QEasingCurve easeOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

// Lays out a window that has never been shown: Qt lays out hidden widgets only when
// asked, and a first fit needs the real heights of the window's parts.
void layOutHidden(QWidget *window)
{
    window->ensurePolished();
    QList<QWidget *> widgets{window};
    widgets += window->findChildren<QWidget *>(); // parents before their children
    for (QWidget *widget : std::as_const(widgets)) {
        QLayout *layout = widget->layout();
        if (!layout || (widget != window && widget->isHidden()))
            continue;
        layout->activate();
        QRect area = widget->testAttribute(Qt::WA_LayoutOnEntireRect) ? widget->rect() : widget->contentsRect();
        // A window's menu bar sits above the layout's area, as a shown window has it.
        if (QWidget *bar = layout->menuBar(); bar && !bar->isHidden()) {
            int height = bar->heightForWidth(area.width());
            if (height < 0)
                height = bar->sizeHint().height();
            bar->setGeometry(area.x(), area.y(), area.width(), height);
            area.setTop(area.top() + height);
        }
        layout->setGeometry(area);
    }
}

int contentHeight(QWidget *content, int width)
{
    if (content->hasHeightForWidth()) {
        const int height = content->heightForWidth(width);
        if (height >= 0)
            return height;
    }
    return content->sizeHint().height();
}

// Reports a scroll area's content height and viewport height to its WindowHeight,
// at most once per event-loop turn.
class ScrollAreaFit final : public QObject {
public:
    ScrollAreaFit(QScrollArea *area, WindowHeight *height)
        : QObject(area), area_(area), viewport_(area->viewport()), content_(area->widget()), height_(height)
    {
        area->viewport()->installEventFilter(this);
        if (content_)
            area->widget()->installEventFilter(this);
        connect(height, &WindowHeight::fitRequested, this, &ScrollAreaFit::schedule);
        schedule();
    }

    // Only compares pointers: the viewport and the content still send events while
    // the area's destructor deletes them, when the area is no scroll area any more.
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if ((watched == viewport_ && event->type() == QEvent::Resize)
            || (watched == content_ && event->type() == QEvent::LayoutRequest))
            schedule();
        return false;
    }

private:
    void schedule()
    {
        if (scheduled_)
            return;
        scheduled_ = true;
        QMetaObject::invokeMethod(this, [this] { run(); }, Qt::QueuedConnection);
    }

    void run()
    {
        scheduled_ = false;
        QWidget *content = area_->widget();
        if (!height_ || !content)
            return;
        // A hidden area has no viewport geometry yet; its frame-less size is what the
        // viewport will get.
        const bool shown = area_->isVisible();
        const QSize viewport = shown ? area_->viewport()->size() : area_->maximumViewportSize();
        height_->fit(contentHeight(content, viewport.width()), viewport.height());
    }

    QScrollArea *area_;
    const QObject *viewport_;
    const QObject *content_; // the content when the area was fitted, if any
    QPointer<WindowHeight> height_;
    bool scheduled_ = false;
};

} // namespace

WindowHeight::WindowHeight(qreal minimum, qreal maximum, QObject *parent)
    : QObject(parent), minimum_(minimum), maximum_(maximum), userResize_(new QTimer(this))
{
    userResize_->setSingleShot(true);
    userResize_->setInterval(userResizeQuietMs);
}

WindowHeight::~WindowHeight()
{
    if (animation_)
        animation_->stop();
}

void WindowHeight::setWindow(QWidget *window)
{
    if (window_)
        window_->removeEventFilter(this);
    window_ = window;
    if (window) {
        ownSize_ = window->size();
        window->installEventFilter(this);
    }
}

bool WindowHeight::unlimited() { return unlimitedFlag; }
void WindowHeight::setUnlimited(bool unlimited) { unlimitedFlag = unlimited; }

bool WindowHeight::userResizing() const { return userResize_->isActive(); }

bool WindowHeight::animating() const { return animation_ && animation_->state() == QAbstractAnimation::Running; }

void WindowHeight::setFittingSuspended(bool suspended)
{
    if (suspended_ == suspended)
        return;
    suspended_ = suspended;
    if (!suspended)
        emit fitRequested();
}

int WindowHeight::target(qreal chrome, qreal content, qreal minimum, qreal maximum,
                         std::optional<QRect> screen, bool unlimited)
{
    qreal target = std::ceil(chrome + content);
    if (!unlimited) {
        target = std::min(target, maximum);
        if (screen)
            target = std::min(target, screen->height() - screenMargin);
    }
    // The minimum comes last: it wins over the maximum and the screen.
    target = std::max(target, minimum);
    return int(std::ceil(target));
}

QRect WindowHeight::fittedGeometry(const QRect &current, int target, std::optional<QRect> screen)
{
    QRect next = current;
    next.setHeight(target); // keeps the top edge
    if (screen && next.bottom() > screen->bottom())
        next.moveBottom(screen->bottom());
    // Never lifted past the top: the window's title bar stays on the screen.
    if (screen && next.top() < screen->top())
        next.moveTop(screen->top());
    return next;
}

void WindowHeight::showAfterFitting(std::function<void()> show)
{
    pendingShow_ = std::move(show);
    if (window_) {
        layOutWindow();
        emit fitRequested();
    }
    QTimer::singleShot(showFallbackMs, this, [this] { runPendingShow(); });
}

void WindowHeight::fit(qreal content, qreal container)
{
    QWidget *window = window_;
    if (!window || suspended_ || userResizing())
        return;
    if (content <= 0 || container <= 0)
        return;

    const QRect current = window->geometry();
    qreal chrome = current.height() - container;
    // While the window waits to be shown, the chrome of the first fit holds.
    if (pendingShow_) {
        if (waitingChrome_)
            chrome = *waitingChrome_;
        waitingChrome_ = chrome;
    }

    // The screens' areas less the window manager's frame, since heights and
    // positions here are the client area's.
    const QMargins frame = WindowPlacement::frameMargins(window);
    const auto area = [&frame](const QScreen *screen) {
        return screen ? std::optional(WindowPlacement::clientArea(screen->availableGeometry(), frame)) : std::nullopt;
    };
    QScreen *own = window->screen();
    const int height = target(chrome, content, minimum_, maximum_,
                              area(own ? own : QGuiApplication::primaryScreen()), unlimited());
    if (std::abs(height - current.height()) < 1) {
        QMetaObject::invokeMethod(this, [this] { showWhenSettled(); }, Qt::QueuedConnection);
        return;
    }

    const QRect next = fittedGeometry(current, height, area(own));
    QPointer<QWidget> fitted = window;
    QMetaObject::invokeMethod(
        this,
        [this, fitted, next] {
            const bool heading = animating() && animation_->endValue().toRect() == next;
            // A drag that began since the fit keeps the window where the user puts it.
            if (fitted && fitted == window_ && fitted->geometry() != next && !heading && !userResizing())
                apply(next);
            showWhenSettled();
        },
        Qt::QueuedConnection);
}

void WindowHeight::apply(const QRect &geometry)
{
    ownSize_ = geometry.size();
    if (animation_)
        animation_->stop();
    if (window_->isVisible() && !unlimited()) {
        auto *animation = new QPropertyAnimation(window_, "geometry", this);
        animation->setDuration(animationMs);
        animation->setEasingCurve(easeOut());
        animation->setStartValue(window_->geometry());
        animation->setEndValue(geometry);
        animation_ = animation;
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        window_->setGeometry(geometry);
    }
}

void WindowHeight::showWhenSettled()
{
    if (!pendingShow_)
        return;
    layOutWindow();
    QMetaObject::invokeMethod(this, [this] { runPendingShow(); }, Qt::QueuedConnection);
}

void WindowHeight::runPendingShow()
{
    std::function<void()> show = std::move(pendingShow_);
    pendingShow_ = nullptr;
    if (show)
        show();
}

void WindowHeight::layOutWindow()
{
    if (!window_)
        return;
    if (window_->isVisible())
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    else
        layOutHidden(window_);
}

bool WindowHeight::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window_ && event->type() == QEvent::Resize) {
        const auto *resize = static_cast<QResizeEvent *>(event);
        const QSize size = resize->size();
        if (animating()) {
            // The animation's own steps, and the window system's late reports of them,
            // lie between where it started and where it is now. Any other size is the
            // user's drag: it stops the animation, and the window stays where the user
            // puts it.
            const QSize from = animation_->startValue().toRect().size();
            const QSize now = animation_->currentValue().toRect().size();
            const auto passed = [](int value, int a, int b) { return value >= std::min(a, b) && value <= std::max(a, b); };
            if (window_->isVisible() && resize->oldSize().isValid()
                && !(passed(size.width(), from.width(), now.width()) && passed(size.height(), from.height(), now.height()))) {
                animation_->stop();
                userResize_->start();
                ownSize_ = size;
            }
        } else if (size != ownSize_) {
            // The first resize of a shown window (no old size) and resizes of a hidden
            // one come from whoever built the window; the rest that are not ours come
            // from the user dragging an edge.
            if (window_->isVisible() && resize->oldSize().isValid())
                userResize_->start();
            ownSize_ = size;
        }
    }
    return false;
}

void fitsWindowHeight(QScrollArea *area, WindowHeight *height)
{
    if (area && height)
        new ScrollAreaFit(area, height);
}

} // namespace cv

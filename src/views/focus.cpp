#include "views/focus.h"

#include "views/theme.h"

#include <QAbstractButton>
#include <QAbstractNativeEventFilter>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QPointer>
#include <QScrollArea>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <cstring>
#include <optional>

namespace cv {

namespace {

// Set on every widget as it takes the focus: whether a mouse press gave it.
const char mouseFocusKey[] = "cvMouseFocus";
const char ownRingKey[] = "cvOwnFocusRing";
// Room around a control for the shared ring.
constexpr int ringMargin = 4;

QRect rectIn(const QWidget *widget, const QWidget *ancestor)
{
    return {widget->mapTo(ancestor, QPoint(0, 0)), widget->size()};
}

// Whether `rect` comes after `place` in reading order, or takes its place: on the
// same line and not wholly before it, or on a later line.
bool comesAfter(const QRect &rect, const QRect &place)
{
    const bool sameLine = rect.top() <= place.bottom() && place.top() <= rect.bottom();
    return sameLine ? rect.right() >= place.left() : rect.top() > place.top();
}

bool isStop(const QWidget *widget, const QWidget *root)
{
    return (widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled() && !widget->focusProxy() && widget != root;
}

void collectStops(QWidget *widget, QWidget *root, QList<QWidget *> &stops, QSet<QWidget *> &seen);

void collectStops(QLayout *layout, QWidget *root, QList<QWidget *> &stops, QSet<QWidget *> &seen)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (QWidget *widget = item->widget())
            collectStops(widget, root, stops, seen);
        else if (QLayout *inner = item->layout())
            collectStops(inner, root, stops, seen);
    }
}

void collectStops(QWidget *widget, QWidget *root, QList<QWidget *> &stops, QSet<QWidget *> &seen)
{
    if (seen.contains(widget) || (widget != root && (widget->isHidden() || widget->isWindow())))
        return;
    seen.insert(widget);
    if (isStop(widget, root))
        stops << widget;
    if (widget->layout())
        collectStops(widget->layout(), root, stops, seen);
    // Children outside the layout (a scroll area's content, widgets placed by hand)
    // in the order they were made.
    for (QObject *child : widget->children()) {
        if (child->isWidgetType())
            collectStops(static_cast<QWidget *>(child), root, stops, seen);
    }
}

void scrollIntoView(QWidget *widget, QWidget *root)
{
    for (QWidget *up = widget->parentWidget(); up && up != root; up = up->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(up))
            area->ensureWidgetVisible(widget);
    }
}

class FocusKeeper;

// The timestamps of the X display's own key events, in order. Qt's accessibility
// bridge holds every key event back until the screen readers have seen it, then
// sends a copy without its timestamp; the copy takes the timestamp of the oldest
// key event of its kind and key that no copy took yet.
class KeyTimes final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        // An X11 key event: its type (2 press, 3 release) in the first byte, the key
        // in the second, the timestamp in the 4 bytes from the fifth.
        const auto *event = static_cast<const uchar *>(message);
        const int kind = event[0] & 0x7f;
        if (kind != 2 && kind != 3)
            return false;
        quint32 time = 0;
        std::memcpy(&time, event + 4, sizeof time);
        if (times_.size() == 256)
            times_.removeFirst();
        times_.append({kind == 2, event[1], time});
        return false;
    }

    quint64 take(const QKeyEvent *copy)
    {
        const bool press = copy->type() == QEvent::KeyPress;
        for (qsizetype i = 0; i < times_.size(); ++i) {
            if (times_[i].press == press && times_[i].key == copy->nativeScanCode()) {
                const quint64 time = times_[i].time;
                times_.remove(0, i + 1); // those before it get no copy any more
                return time;
            }
        }
        return 0;
    }

private:
    struct Time {
        bool press;
        quint32 key;
        quint32 time;
    };
    QList<Time> times_;
};

// The accent ring around a focused control that does not draw its own: a widget of
// its own over the control's surroundings, so that it is not cut off where the
// control touches the edge of its parent, and that lets every click through.
class RingOverlay final : public QWidget {
public:
    explicit RingOverlay(QWidget *host) : QWidget(host)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setObjectName(QStringLiteral("focus-ring"));
    }

    QWidget *target() const { return target_; }

    void surround(QWidget *target)
    {
        target_ = target;
        // A button's ring hugs its face; text gets a little air.
        gap_ = qobject_cast<QAbstractButton *>(target) ? 0 : 3;
        follow();
        show();
        update();
    }

    void follow()
    {
        if (!target_ || !parentWidget())
            return;
        const int margin = ringMargin + gap_;
        setGeometry(rectIn(target_, parentWidget()).adjusted(-margin, -margin, margin, margin));
        raise();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (!target_)
            return;
        QPainter painter(this);
        const qreal inset = ringMargin - 1.5;
        paintFocusRing(painter, target_->palette(), QRectF(rect()).adjusted(inset, inset, -inset, -inset), 5 + gap_);
    }

private:
    QPointer<QWidget> target_;
    int gap_ = 0;
};

// Watches the whole application: which focus came from the mouse, the focused
// control leaving a kept window, and where the shared ring goes.
class FocusTracker final : public QObject {
public:
    // Made with the first kept window; goes with the application.
    static FocusTracker &get()
    {
        QPointer<FocusTracker> &tracker = instance();
        if (!tracker) {
            tracker = new FocusTracker(qApp);
            qApp->installEventFilter(tracker);
            qApp->installNativeEventFilter(&tracker->keyTimes_);
        }
        return *tracker;
    }
    static QPointer<FocusTracker> &instance()
    {
        static QPointer<FocusTracker> tracker;
        return tracker;
    }

    void add(FocusKeeper *keeper)
    {
        keepers_.removeAll(nullptr);
        keepers_.append(keeper);
    }
    FocusKeeper *keeperOf(const QWidget *widget) const;
    void updateRing();

    // While set, the focus given is marked with this instead of by its reason.
    std::optional<bool> inherited;
    // The keepers themselves move the focus.
    bool moving = false;
    // How many kept windows hold the focus in their view or in a disabled control,
    // waiting for it.
    int parked = 0;
    // The last key let go, and when (see isHeldKeyRepeat()).
    struct {
        int key = 0;
        quint64 timestamp = 0;
    } lastRelease;
    // When the display sent `key`: its own timestamp, or that of the event it copies.
    quint64 timeOf(const QKeyEvent *key) const
    {
        return key->timestamp() || key != copy_.event ? key->timestamp() : copy_.timestamp;
    }

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    using QObject::QObject;
    QList<QPointer<FocusKeeper>> keepers_;
    QPointer<RingOverlay> ring_;
    KeyTimes keyTimes_;
    // The key event copied by the accessibility bridge on its way to a window.
    struct {
        const QKeyEvent *event = nullptr;
        quint64 timestamp = 0;
    } copy_;
};

// One window's view keeping its focus.
class FocusKeeper final : public QObject {
public:
    explicit FocusKeeper(QWidget *root) : QObject(root), root_(root), timer_(new QTimer(this))
    {
        setObjectName(QStringLiteral("focus-keeper"));
        // A zero timer runs after the turn's posted events: the redraw that hid the
        // control has shown the controls it made by then.
        timer_->setSingleShot(true);
        timer_->setInterval(0);
        connect(timer_, &QTimer::timeout, this, &FocusKeeper::settle);
        FocusTracker::get().add(this);
    }
    ~FocusKeeper() override { forget(); }

    QWidget *root() const { return root_; }
    bool parked() const { return departure_.has_value(); }

    // The control the user has just acted on (see holdFocus()).
    void hold(QWidget *control) { held_ = control; }
    QWidget *held() const { return held_; }

    // `focus`, the window's focused control, was disabled where it stands: it keeps
    // the focus, so a screen reader stays on it (read as dimmed) and Tab goes on
    // from its place. Once the redraw is done the focus goes to the nearest stop,
    // unless the user has just acted on the control or none is left: it then keeps
    // the focus until it can be pressed again.
    void keep(QWidget *focus)
    {
        setDeparture(departureOf(focus, Holder::control));
        timer_->start();
    }
    // Whether `widget` keeps the focus while disabled.
    bool keeps(const QWidget *widget) const
    {
        return departure_ && departure_->holder == Holder::control && departure_->widget == widget;
    }

    // `focus`, the window's focused control, is hidden or about to go: no control
    // has the focus for the rest of the redraw that took it away (a screen reader
    // stays with the one it read last, and nothing scrolls), and the successor is
    // chosen once the redraw is done. When none is left, the view holds the focus
    // until the control returns, and Tab goes on from its place.
    void depart(QWidget *focus)
    {
        held_ = nullptr;
        setDeparture(departureOf(focus, Holder::none));
        FocusTracker &tracker = FocusTracker::get();
        tracker.moving = true;
        focus->clearFocus();
        tracker.moving = false;
        timer_->start();
    }

    // The control may have come back.
    void retry()
    {
        if (departure_)
            timer_->start();
    }

    void forget()
    {
        if (departure_ && FocusTracker::instance())
            --FocusTracker::instance()->parked;
        departure_.reset();
    }

    // Where the focus was, in the view's coordinates, while the view holds it.
    std::optional<QRect> place() const
    {
        if (!departure_)
            return std::nullopt;
        const QWidget *widget = departure_->widget;
        if (widget && root_->isAncestorOf(widget) && widget->isVisibleTo(root_))
            return rectIn(widget, root_);
        return departure_->regions.last().place;
    }

private:
    // What has the focus while a control is away.
    enum class Holder {
        control, // the control itself, disabled
        none,    // nothing, for the rest of the redraw
        view,    // the view, when no control was left
    };
    struct Region {
        QPointer<QWidget> widget;
        QRect place; // where the control was, in this widget
    };
    struct Departure {
        QPointer<QWidget> widget;
        QList<Region> regions; // its ancestors up to the view, nearest first
        bool mouse = false;    // its focus came from a mouse press
        Holder holder = Holder::none;
        bool settled = false; // a successor was looked for
    };

    Departure departureOf(QWidget *focus, Holder holder) const
    {
        Departure departure{focus, {}, focus->property(mouseFocusKey).toBool(), holder};
        for (QWidget *up = focus->parentWidget(); up; up = up->parentWidget()) {
            departure.regions.append({up, rectIn(focus, up)});
            if (up == root_)
                break;
        }
        return departure;
    }

    void setDeparture(Departure departure)
    {
        if (!departure_)
            ++FocusTracker::get().parked;
        departure_ = std::move(departure);
    }

    void settle()
    {
        if (!departure_)
            return;
        const Holder holder = departure_->holder;
        QWidget *const holding = holder == Holder::control ? departure_->widget.data()
                                 : holder == Holder::view  ? root_
                                                           : nullptr;
        if (root_->window()->focusWidget() != holding || (holder == Holder::control && !holding)) {
            forget(); // the user has put the focus somewhere
            return;
        }
        // Measured where the redraw puts things.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        const QList<QWidget *> stops = tabStops(root_);
        QWidget *target = nullptr;
        if (departure_->widget && stops.contains(departure_->widget))
            target = departure_->widget;
        else if (!departure_->settled && !(holder == Holder::control && departure_->widget == held_))
            target = nearest(stops);
        departure_->settled = true;
        FocusTracker &tracker = FocusTracker::get();
        if (!target) {
            if (holder == Holder::none) {
                departure_->holder = Holder::view;
                tracker.moving = true;
                root_->setFocus(Qt::OtherFocusReason);
                tracker.moving = false;
            }
            return; // until the control returns or Tab moves on
        }
        const bool mouse = departure_->mouse;
        forget();
        if (target == holding)
            return;
        // Whoever moved the focus by mouse does not get a ring for it now.
        target->setProperty(mouseFocusKey, mouse);
        tracker.inherited = mouse;
        target->setFocus(Qt::OtherFocusReason);
        tracker.inherited.reset();
    }

    // The nearest stop in the innermost part of the window that has one: the first
    // after the control's place, else the last before it.
    QWidget *nearest(const QList<QWidget *> &stops) const
    {
        for (const Region &region : departure_->regions) {
            QWidget *area = region.widget;
            if (!area || (area != root_ && !root_->isAncestorOf(area)))
                continue;
            QWidget *before = nullptr;
            for (QWidget *stop : stops) {
                if (stop != area && !area->isAncestorOf(stop))
                    continue;
                if (comesAfter(rectIn(stop, area), region.place))
                    return stop;
                before = stop;
            }
            if (before)
                return before;
        }
        return nullptr;
    }

    QWidget *root_;
    QTimer *timer_;
    std::optional<Departure> departure_;
    QPointer<QWidget> held_;
};

FocusKeeper *FocusTracker::keeperOf(const QWidget *widget) const
{
    for (const QPointer<FocusKeeper> &keeper : keepers_) {
        if (keeper && (keeper->root() == widget || keeper->root()->isAncestorOf(widget)))
            return keeper;
    }
    return nullptr;
}

void FocusTracker::updateRing()
{
    QWidget *focus = QApplication::focusWidget();
    FocusKeeper *keeper = focus ? keeperOf(focus) : nullptr;
    const bool wanted = keeper && focus != keeper->root() && !focus->property(ownRingKey).toBool()
        && focusRingShown(focus);
    if (!wanted) {
        if (ring_)
            ring_->hide();
        return;
    }
    // Over the scrolled content when the control is in it, so the ring scrolls with it.
    QWidget *host = keeper->root();
    for (QWidget *up = focus; up && up != keeper->root(); up = up->parentWidget()) {
        QWidget *parent = up->parentWidget();
        auto *area = parent ? qobject_cast<QAbstractScrollArea *>(parent->parentWidget()) : nullptr;
        if (area && area->viewport() == parent) {
            host = up;
            break;
        }
    }
    if (!ring_)
        ring_ = new RingOverlay(host);
    else if (ring_->parentWidget() != host)
        ring_->setParent(host);
    ring_->surround(focus);
}

bool FocusTracker::eventFilter(QObject *object, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (object->isWindowType() && !key->timestamp() && !key->spontaneous())
            copy_ = {key, keyTimes_.take(key)};
        if (type == QEvent::KeyRelease) {
            lastRelease = {key->key(), timeOf(key)};
            return false;
        }
    }
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::FocusAboutToChange:
    case QEvent::Hide:
    case QEvent::Show:
    case QEvent::EnabledChange:
    case QEvent::Move:
    case QEvent::Resize:
        break;
    default:
        return false;
    }
    if (!object->isWidgetType())
        return false;
    auto *widget = static_cast<QWidget *>(object);
    switch (type) {
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        const bool space = key->key() == Qt::Key_Space || key->key() == Qt::Key_Select;
        if (!plain || (!space && key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter))
            break;
        // A button acts on the release that ends a press: a repeat that reached it
        // would press it again, and its release (taken for the last one) click it.
        auto *button = qobject_cast<QAbstractButton *>(widget);
        if (space && button && !button->autoRepeat() && isHeldKeyRepeat(key)) {
            key->accept();
            return true;
        }
        // The control the user acts on keeps the focus through what its action brings.
        if (widget == QApplication::focusWidget())
            holdFocus(widget);
        break;
    }
    case QEvent::MouseButtonPress:
        // A click that gave the control the focus (and not a click that left it elsewhere).
        if (QWidget *focus = QApplication::focusWidget(); focus && (focus == widget || focus->isAncestorOf(widget)))
            holdFocus(focus);
        break;
    case QEvent::FocusIn: {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (inherited)
            widget->setProperty(mouseFocusKey, *inherited);
        else if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
            widget->setProperty(mouseFocusKey, reason == Qt::MouseFocusReason);
        if (parked > 0 && !moving) {
            if (FocusKeeper *keeper = keeperOf(widget); keeper && widget != keeper->root())
                keeper->forget();
        }
        updateRing();
        break;
    }
    case QEvent::FocusOut: {
        // Leaving a held control ends its hold, unless only its window or a menu
        // took the focus for a while.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (!moving && reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) {
            if (FocusKeeper *keeper = keeperOf(widget); keeper && keeper->held() == widget)
                keeper->hold(nullptr);
        }
        updateRing();
        break;
    }
    case QEvent::Hide:
        // Hidden itself (not with its window): Qt would hand the focus to the first
        // stop of the window and scroll there.
        if (widget->isHidden() && !widget->isWindow() && !moving) {
            FocusKeeper *keeper = keeperOf(widget);
            QWidget *focus = keeper ? keeper->root()->window()->focusWidget() : nullptr;
            if (focus && widget != keeper->root() && (focus == widget || widget->isAncestorOf(focus))
                && keeper->root()->isAncestorOf(focus))
                keeper->depart(focus);
        }
        break;
    case QEvent::FocusAboutToChange:
        // Qt clears the focus of a control whose parent was disabled, and of one that
        // goes. (A control disabled itself keeps it, see focusNextStop(): from there
        // the focus only moves on.)
        if (!moving && !widget->isWindow()) {
            FocusKeeper *keeper = keeperOf(widget);
            if (keeper && widget != keeper->root() && keeper->root()->window()->focusWidget() == widget
                && (!widget->isVisibleTo(keeper->root()) || !widget->parentWidget()->isEnabled()))
                keeper->depart(widget);
        }
        break;
    case QEvent::Show:
    case QEvent::EnabledChange:
        if (parked > 0) {
            FocusKeeper *keeper = keeperOf(widget);
            if (keeper && keeper->keeps(widget) && widget->isEnabled()) {
                // Back where it was: it has the focus still, unless its window was
                // left and came back meanwhile (Qt gives none to a disabled control).
                keeper->forget();
                if (widget->isActiveWindow() && !widget->hasFocus()) {
                    inherited = widget->property(mouseFocusKey).toBool();
                    widget->setFocus(Qt::OtherFocusReason);
                    inherited.reset();
                }
            } else if (keeper && keeper->parked()) {
                keeper->retry();
            }
        }
        break;
    case QEvent::Move:
    case QEvent::Resize:
        if (ring_ && ring_->isVisible() && ring_->target()
            && (widget == ring_->target() || widget->isAncestorOf(ring_->target())))
            ring_->follow();
        break;
    default:
        break;
    }
    return false;
}

FocusKeeper *keeperFor(QWidget *root)
{
    return root->findChild<FocusKeeper *>(QStringLiteral("focus-keeper"), Qt::FindDirectChildrenOnly);
}

} // namespace

bool focusRingShown(const QWidget *widget)
{
    return widget->hasFocus() && widget->isActiveWindow() && !widget->property(mouseFocusKey).toBool();
}

void drawsOwnFocusRing(QWidget *widget)
{
    widget->setProperty(ownRingKey, true);
    FocusTracker::get(); // so a mouse's focus is told apart
}

void paintFocusRing(QPainter &painter, const QPalette &palette, const QRectF &rect, qreal radius)
{
    QColor ring = Theme::colors(palette).accent;
    ring.setAlphaF(0.5f);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ring, 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect, radius, radius);
    painter.restore();
}

QList<QWidget *> tabStops(QWidget *root)
{
    QList<QWidget *> stops;
    QSet<QWidget *> seen;
    collectStops(root, root, stops, seen);
    return stops;
}

void keepFocus(QWidget *root)
{
    if (!keeperFor(root))
        new FocusKeeper(root);
}

void holdFocus(QWidget *control)
{
    if (!control->hasFocus())
        return;
    if (FocusKeeper *keeper = FocusTracker::get().keeperOf(control))
        keeper->hold(control);
}

bool focusNextStop(QWidget *root, bool next)
{
    QWidget *focus = root->focusWidget();
    FocusKeeper *keeper = keeperFor(root);
    const bool inside = focus && focus != root && root->isAncestorOf(focus);
    // Qt asks for the next stop when the focused control is hidden or disabled. A
    // control kept disabled asks when Tab reaches its parent: it goes on from there.
    if (keeper && inside && !focus->isVisibleTo(root)) {
        keeper->depart(focus);
        return true;
    }
    if (keeper && inside && !focus->isEnabled() && !keeper->keeps(focus)) {
        keeper->keep(focus);
        return true;
    }
    const QList<QWidget *> stops = tabStops(root);
    if (stops.isEmpty())
        return false;
    const qsizetype count = stops.size();
    // From the innermost stop that holds the focus (a stop comes before the stops
    // inside it).
    qsizetype at = -1;
    for (qsizetype i = 0; i < count; ++i) {
        if (inside && (stops[i] == focus || stops[i]->isAncestorOf(focus)))
            at = i;
    }
    QWidget *target = nullptr;
    if (at >= 0) {
        target = stops[(at + (next ? 1 : count - 1)) % count];
    } else {
        // From where the focus is (or was), else from the edge.
        QRect place; // none when null
        if (inside && focus->isVisibleTo(root))
            place = rectIn(focus, root);
        else if (keeper && focus == root)
            place = keeper->place().value_or(QRect());
        if (!place.isNull()) {
            for (QWidget *stop : stops) {
                const bool after = comesAfter(rectIn(stop, root), place);
                if (next && after) {
                    target = stop;
                    break;
                }
                if (!next && !after)
                    target = stop;
            }
        }
        if (!target)
            target = next ? stops.first() : stops.last();
    }
    if (keeper)
        keeper->forget();
    target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    scrollIntoView(target, root);
    return true;
}

bool clickOnEnter(QAbstractButton *button, QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    if (!isHeldKeyRepeat(event))
        button->click();
    event->accept();
    return true;
}

bool isHeldKeyRepeat(const QKeyEvent *event)
{
    const FocusTracker &tracker = FocusTracker::get(); // watching the releases from now on
    if (event->isAutoRepeat())
        return true;
    const quint64 time = tracker.timeOf(event);
    return event->type() == QEvent::KeyPress && time != 0 && tracker.lastRelease.key == event->key()
        && tracker.lastRelease.timestamp == time;
}

} // namespace cv

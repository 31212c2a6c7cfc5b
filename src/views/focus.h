#pragma once

#include <QList>

class QAbstractButton;
class QKeyEvent;
class QPainter;
class QPalette;
class QRectF;
class QWidget;

namespace cv {

// Whether `widget` shows its focus ring now: it has the focus, its window is the
// active one, and the focus was not given by a mouse press. A focus that comes back
// after a menu or another window keeps what it was.
bool focusRingShown(const QWidget *widget);

// `widget` paints its own focus ring (asking focusRingShown()); every other control
// of a window that keeps its focus gets the shared ring drawn around it.
void drawsOwnFocusRing(QWidget *widget);

// The focus ring in the accent colour, 3 pixels wide, on the outline of `rect`.
void paintFocusRing(QPainter &painter, const QPalette &palette, const QRectF &rect, qreal radius);

// The widgets under `root` that Tab stops at now (shown, enabled, taking Tab focus),
// in the order they appear on screen: the order of the layouts, depth first.
QList<QWidget *> tabStops(QWidget *root);

// Moves the keyboard focus to the next (or previous) of those stops, wrapping at the
// ends, and scrolls it into view. From a widget that is no stop (a label clicked
// into, or the window's own view after its control went away) it goes on from that
// place. A window's root view calls it from focusNextPrevChild(), so the order
// follows the screen whatever order the widgets were made in. False when there is
// no stop.
bool focusNextStop(QWidget *root, bool next);

// Makes the window's root view `root` keep the focus where the user is: when the
// focused control is hidden, disabled or taken away (a status redraws the window),
// the focus goes to the nearest stop left in the same part of the window (the next,
// else the previous) once the redraw is done, and nothing scrolls. A disabled
// control keeps the focus until then (a screen reader reads it, dimmed, never the
// nameless view), and when no stop is left, until it can be pressed again; while
// one that went is away no control has the focus, and when no stop is left, the
// view holds it until the control returns. Tab goes on from the control's place.
// The control the user acts on (Space, Enter or a click that gives it the focus)
// is held (see holdFocus()). Also draws the accent ring around the focused control
// when it does not paint one itself.
void keepFocus(QWidget *root);

// The focused `control` keeps the focus through the redraws that the command it has
// just started brings: disabled, it keeps it until it can be pressed again, so a
// second Space presses it again; when it goes, the focus goes to the nearest stop
// once the redraw is done. Moving the focus elsewhere first ends the hold. Nothing
// happens when `control` does not have the focus.
void holdFocus(QWidget *control);

// Whether the key press `event` repeats a key held down. Qt flags a repeat only when
// the press that follows a release is already queued as it reads the release; on a
// busy display it often is not, and the repeat comes unflagged. The release and the
// press of a repeat carry one timestamp: a press at the time its key was last let
// go repeats it. Qt's accessibility bridge sends key events on without their
// timestamps: those take the display's own. A press without a timestamp is taken
// for a new one. A repeated Space never reaches a button (it would click it again
// on its release).
bool isHeldKeyRepeat(const QKeyEvent *event);

// For a button whose Space is its own: Return and Enter click it too, once however
// long the key is held. True when `event` was taken.
bool clickOnEnter(QAbstractButton *button, QKeyEvent *event);

} // namespace cv

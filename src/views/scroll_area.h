#pragma once

#include <QScrollArea>

namespace cv {

// The scroll area the windows show their content in. For assistive tools it is one
// element whose children are always the same three: the viewport and the holders of
// the horizontal and the vertical scroll bar, a hidden bar reading as invisible. A
// screen reader that counted the children before a bar showed or hid (the window's
// height animation shows the vertical bar for a moment) still gets an answer for
// every index it was told of, and an index past the end gets none. Qt's own
// interface lists only the bars on screen and reads past its list when asked for an
// index beyond it. Making the first one installs that interface for every scroll
// area of the application, Qt's own included.
//
// The window's view moves the focus through it and scrolls to where the focus went
// (see focusNextStop()); the area itself scrolls to nothing, not even to a control
// that keeps the focus as it is disabled.
class ScrollArea final : public QScrollArea {
    Q_OBJECT
public:
    explicit ScrollArea(QWidget *parent = nullptr);

protected:
    bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
};

} // namespace cv

#pragma once

#include "views/focus.h"
#include "views/shown_text.h"
#include "views/theme.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

class QMessageBox;
class QPainter;
class QTimer;
class QVBoxLayout;
class QVariantAnimation;

namespace cv {

class Workspace;

// The switch-style toggle: a track with a sliding knob, checkable, operable with the
// mouse and the space key. `accessibleName`, composed by the text lookup, names it for
// assistive tools.
class Switch final : public QAbstractButton {
    Q_OBJECT
public:
    explicit Switch(const QString &accessibleName = QString(), QWidget *parent = nullptr);
    // The 38 x 22 track and room for the focus ring around it.
    QSize sizeHint() const override { return {42, 26}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &pos) const override { return rect().contains(pos); }

private:
    QVariantAnimation *slide_;
};

// The indeterminate progress indicator: small (16 px) or mini (12 px). All spinners
// draw one fixed frame while a reference image is taken.
class Spinner final : public QWidget {
    Q_OBJECT
public:
    enum class Size { small, mini };
    explicit Spinner(Size size = Size::small, QWidget *parent = nullptr);
    QSize sizeHint() const override { return {side_, side_}; }

    static void setFixedFrame(bool fixed);
    static bool fixedFrame();

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int side_;
    int step_ = 0;
    QTimer *timer_;
};

// One line of plain text, elided at the end when it does not fit; the full text is
// then its tooltip, escaped. Can be made selectable. Its text is composed by the text
// lookup, or raw (see TextSource): assistive tools read it as shown.
class ElidedLabel final : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(const QString &text = QString(), QWidget *parent = nullptr);

    void setFullText(const QString &text, TextSource source = TextSource::composed);
    QString fullText() const { return full_; }
    void setSelectable(bool selectable);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void elide();
    QString full_;
    TextSource source_ = TextSource::composed;
};

// A wrapping label of plain text that never makes its window wider: its lines break
// between words, and inside a word only where the word alone is wider than the
// label. The lines follow the application's direction and alignment, whatever the
// direction of the text's first letter. With `maxLines`, the last line ends in "…".
// text() is what is shown; fullText() the text given. What is copied is the text as
// composed: without the isolation the text lookup put into it, and without the marks
// and line breaks of the lines shown (see ShownText).
class TextLabel : public QLabel {
    Q_OBJECT
public:
    explicit TextLabel(const QString &text = QString(), QWidget *parent = nullptr);

    // A text composed by the text lookup. Hides QLabel::setText: call it on a TextLabel.
    void setText(const QString &text);
    // A text that never went through the text lookup (a name, a path): every mark in
    // it is its own, and is copied with it.
    void setRawText(const QString &text);
    const QString &fullText() const { return full_; }
    // The selected part of the text as composed; empty when nothing is selected.
    QString copiedSelection() const;
    void setSelectable(bool selectable);
    void setMaxLines(int lines);
    // Shortened to fit its lines.
    bool elided() const { return shown_.elided(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override { return true; }

public slots:
    // Edit ▸ Copy and Select All find these on the focused widget.
    void copy();
    void selectAll();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void set(const QString &text, TextSource source);
    void relayout();
    // Gives the primary selection what Copy would take, in place of the lines as shown.
    void offerSelection();
    QString full_;
    TextSource source_ = TextSource::composed;
    ShownText shown_;
    std::pair<int, qsizetype> offered_{-1, 0};
    int maxLines_ = 0;
    mutable int cachedWidth_ = -1;
    mutable int cachedHeight_ = 0;
};

// A section of a grouped form: an optional header, the rows on one rounded block
// with separators between them, and an optional footer.
class FormSection final : public QWidget {
    Q_OBJECT
public:
    explicit FormSection(const QString &header = QString(), QWidget *parent = nullptr);

    // A header of its own (e.g. a title with a spinner) in place of the text.
    void setHeaderWidget(QWidget *header);
    void setHeaderText(const QString &header);
    void addRow(QWidget *row);
    void clearRows();
    // Makes `rows` the section's rows, in this order. A row already in the section
    // keeps its place (it is moved, not made again); rows left out are deleted.
    void setRows(const QList<QWidget *> &rows);
    int rowCount() const;
    // Replaces the footer; null removes it.
    void setFooter(QWidget *footer);

    // A row of `leading` (stretching) and `trailing` (at the end), centred vertically.
    static QWidget *row(QWidget *leading, QWidget *trailing = nullptr);
    // A label of `text` stacked over `detail` in the callout font and secondary tone.
    static QWidget *titled(const QString &text, const QString &detail, int spacing = 2);

private:
    QVBoxLayout *outer_;
    QWidget *header_ = nullptr;
    class FormBlock *block_;
    QWidget *footer_ = nullptr;
};

// The prominent push button: the accent colour filled, white text.
class ProminentButton final : public QPushButton {
    Q_OBJECT
public:
    explicit ProminentButton(const QString &text = QString(), QWidget *parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A footer text in Markdown, callout font and secondary tone; its links, in the
// accent colour of the appearance (also after it changes), open in the default
// browser through the workspace. One Tab stop: Enter or Space opens its first link.
class FooterLabel final : public QLabel {
    Q_OBJECT
public:
    explicit FooterLabel(const QString &markdown = QString(), QWidget *parent = nullptr);
    FooterLabel(const QString &markdown, Workspace &workspace, QWidget *parent = nullptr);

    const QString &markdown() const { return markdown_; }

protected:
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Shows the text with its links in the accent of the label's appearance.
    void present();

    Workspace &workspace_;
    QString markdown_;
    QString firstLink_;
};

// The width every tooltip wraps at.
constexpr int toolTipWidth = 360;
// A tooltip of plain text: shown as it is, never read as markup, in lines that wrap
// at `toolTipWidth` (see wrappedLines) and follow the application's direction. Every
// tooltip goes through it, by setPlainToolTip.
QString plainToolTip(const QString &text);
// Gives `widget` the plain tooltip of `text` (none when empty), and the text as read
// aloud (readAloud) as its accessible description unless it has one of its own. The
// tooltip is laid out only when `text` differs from the one the widget last got here,
// so a redraw, a status or a resize that keeps the text costs a comparison. A widget
// whose tooltip is set here gets it only here.
void setPlainToolTip(QWidget *widget, const QString &text, TextSource source = TextSource::composed);
// How many tooltips plainToolTip has laid out in this process (tests check that a
// redraw keeping every text lays out none).
int plainToolTipsBuilt();

// A wrapping plain-text label in `font` and `tone`.
TextLabel *textLabel(const QString &text, const QFont &font, Tone tone = Tone::primary);

// The 7-pixel status dot of a computer: green while it is connected, else the
// secondary colour at half strength. With `glow`, a green glow around it while
// connected, in a 13-pixel square.
class StatusDot final : public QWidget {
    Q_OBJECT
public:
    explicit StatusDot(bool glow, QWidget *parent = nullptr);
    void setOnline(bool online);
    bool online() const { return online_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool glow_;
    bool online_ = false;
};

// Makes what is copied from the labels of `box`, which Qt lets the mouse select, the
// text as composed: their selection (with Ctrl+C, in the primary selection, through
// their context menu) leaves out the isolation marks of the texts set into them, as
// what assistive tools read of them does. Called once its texts are set.
void copyAsComposed(QMessageBox &box);

// Takes `widget` off the screen at once and deletes it on a later turn of the event
// loop: the widget may be the very one whose click or key press led here, and Qt
// still touches it after the handler returns.
void discardLater(QWidget *widget);

} // namespace cv

#pragma once

#include "views/activity_logic.h"
#include "views/widgets.h"

#include <QHash>
#include <QPointer>
#include <QWidget>

#include <optional>

class QAbstractButton;
class QGraphicsOpacityEffect;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QTimer;
class QToolButton;
class QVBoxLayout;

namespace cv {

class AppModel;
class SymbolView;

// A progress bar over a fraction (so 64-bit byte counts need no scaling to int), or
// a moving bar when the amount is not known.
class ByteProgressBar final : public QWidget {
    Q_OBJECT

public:
    explicit ByteProgressBar(QWidget *parent = nullptr);

    // None: indeterminate.
    void setFraction(std::optional<double> fraction);
    std::optional<double> fraction() const { return fraction_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void updateTimer();

    std::optional<double> fraction_ = 0.0;
    QTimer *timer_ = nullptr;
    int phase_ = 0;
};

// A title of at most two lines, ended with "…" when longer. It can be selected;
// copying it gives the whole title, also when only part of it is shown.
class TwoLineTitle final : public QWidget {
    Q_OBJECT

public:
    explicit TwoLineTitle(QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const;
    // The text shown: the title, or its first two lines with "…".
    QString shownText() const;
    bool elided() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    TextLabel *label_;
};

// One sending or copy: icon, title, progress or result, the question a copy waits
// on, and its buttons.
class ActivityRow final : public QWidget {
    Q_OBJECT

public:
    ActivityRow(AppModel &model, QString peer, QWidget *parent = nullptr);

    // Shows `item`; only what differs from what is shown changes.
    void setItem(const Activity &item);
    const QString &id() const { return id_; }
    bool hovering() const { return hovering_; }

    // For tests and the window: the parts as shown.
    SymbolView *icon() const { return icon_; }
    TwoLineTitle *title() const { return title_; }
    ByteProgressBar *bar() const { return bar_; }
    QLabel *caption() const { return caption_; }
    TextLabel *problem() const { return problem_; }
    QList<QAbstractButton *> buttons() const;

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void setButtons(const QList<ActivityButtonState> &buttons);
    void applyColors();
    void setHovering(bool hovering);

    QPointer<AppModel> model_;
    QString peer_;
    QString id_;
    std::optional<Activity> item_;
    QString iconName_;
    ActivityTone tone_ = ActivityTone::secondary;
    QList<ActivityButtonState> shownButtons_;
    bool hovering_ = false;

    SymbolView *icon_;
    TwoLineTitle *title_;
    ByteProgressBar *bar_;
    QLabel *caption_;
    QWidget *captionLine_; // holds the caption
    TextLabel *problem_;
    QHBoxLayout *buttonRow_;
    QList<QAbstractButton *> buttonWidgets_;
    QToolButton *remove_ = nullptr;
    QGraphicsOpacityEffect *removeOpacity_ = nullptr;
};

// The "Transfers" list of one computer, hidden while it has no entry: the header
// with "Clear", one row per entry
// (reused by id across refreshes, so an entry that only moved on updates its bar and
// caption alone), dividers between them, and the end anchor the window scrolls to.
class ActivityList final : public QWidget {
    Q_OBJECT

public:
    ActivityList(AppModel &model, QString peer, QWidget *parent = nullptr);

    // Shows the model's status as it stands; the window calls it at each redraw.
    // Nothing is laid out or painted again when nothing changed.
    void refresh();

    // The entries shown, as the last refresh computed them.
    const QList<Activity> &items() const { return items_; }
    QPushButton *clearButton() const { return clear_; }
    QList<ActivityRow *> rows() const;
    // A 1-pixel widget after the last row, named "transfers-end".
    QWidget *endAnchor() const { return end_; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyColors();

    QPointer<AppModel> model_;
    QString peer_;
    QList<Activity> items_;
    QStringList order_; // the ids shown, in order
    QHash<QString, ActivityRow *> rows_;
    QHash<QString, QWidget *> dividers_;

    QVBoxLayout *layout_;
    QLabel *heading_;
    QPushButton *clear_;
    QWidget *end_;
};

} // namespace cv

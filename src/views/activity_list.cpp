#include "views/activity_list.h"
#include "views/widgets.h"

#include "localization/localization.h"
#include "model/app_model.h"
#include "views/symbols.h"
#include "views/theme.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace cv {

namespace {

constexpr int barHeight = 6;
constexpr int iconSize = 17; // the title-3 symbol
constexpr int iconColumn = 22;

Tone toneOf(ActivityTone tone)
{
    switch (tone) {
    case ActivityTone::accent:
        return Tone::accent;
    case ActivityTone::green:
        return Tone::green;
    case ActivityTone::orange:
        return Tone::orange;
    case ActivityTone::secondary:
        break;
    }
    return Tone::secondary;
}

// "&" doubled, so a button shows it instead of reading a mnemonic.
QString literal(QString text) { return text.replace(QLatin1Char('&'), QStringLiteral("&&")); }

QColor separator(const QPalette &palette) { return Theme::colors(palette).separator; }

// A line 1 pixel high in the separator colour.
QWidget *makeDivider(QWidget *parent)
{
    auto *line = new QWidget(parent);
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, separator(parent->palette()));
    line->setPalette(palette);
    return line;
}

} // namespace

// ---- ByteProgressBar

ByteProgressBar::ByteProgressBar(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

namespace {

// Whether any of `widget` lies inside its window's visible area (inside every
// ancestor). Cheaper than asking Qt to repaint it: the repaint manager weighs each
// widget marked for repainting against all of its siblings, a hundred rows in a
// busy list, even when the widget is scrolled out of sight.
bool withinWindow(const QWidget *widget)
{
    QRect area = widget->rect();
    for (const QWidget *w = widget; !w->isWindow(); w = w->parentWidget()) {
        const QWidget *parent = w->parentWidget();
        if (!parent)
            break;
        area = area.translated(w->pos()) & parent->rect();
        if (area.isEmpty())
            return false;
    }
    return true;
}

} // namespace

void ByteProgressBar::setFraction(std::optional<double> fraction)
{
    if (fraction)
        fraction = std::clamp(*fraction, 0.0, 1.0);
    if (fraction == fraction_)
        return;
    fraction_ = fraction;
    updateTimer();
    // Out of sight, nothing to repaint: scrolling it into view paints it afresh.
    if (withinWindow(this))
        update();
}

QSize ByteProgressBar::sizeHint() const { return {120, barHeight}; }

void ByteProgressBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(0, 0.5, 0, -0.5);
    const qreal radius = track.height() / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(separator(palette()));
    painter.drawRoundedRect(track, radius, radius);
    QRectF filled = track;
    if (fraction_) {
        filled.setWidth(track.width() * *fraction_);
    } else {
        // A third of the track sliding across it.
        const qreal width = track.width() / 3;
        const qreal travel = track.width() + width;
        filled = QRectF(track.left() - width + travel * (phase_ % 100) / 100.0, track.top(), width, track.height());
        painter.setClipRect(track);
    }
    if (filled.width() <= 0)
        return;
    QPainterPath clip;
    clip.addRoundedRect(track, radius, radius);
    painter.setClipPath(clip);
    painter.setBrush(Theme::toneColor(palette(), Tone::accent));
    painter.drawRoundedRect(filled, radius, radius);
}

void ByteProgressBar::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateTimer();
}

void ByteProgressBar::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateTimer();
}

void ByteProgressBar::updateTimer()
{
    // Only a moving bar that can be seen costs anything.
    const bool moving = !fraction_ && isVisible();
    if (moving && !timer_) {
        timer_ = new QTimer(this);
        timer_->setInterval(33);
        connect(timer_, &QTimer::timeout, this, [this] {
            phase_ = (phase_ + 1) % 100;
            update();
        });
    }
    if (timer_)
        moving ? timer_->start() : timer_->stop();
}

// ---- TwoLineTitle

TwoLineTitle::TwoLineTitle(QWidget *parent) : QWidget(parent), label_(new TextLabel(QString(), this))
{
    label_->setMaxLines(2);
    label_->setSelectable(true);
    label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setFont(Theme::callout());
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void TwoLineTitle::setText(const QString &text)
{
    if (text == label_->fullText())
        return;
    label_->setText(text);
    updateGeometry();
}

QString TwoLineTitle::text() const { return label_->fullText(); }

QString TwoLineTitle::shownText() const { return label_->text(); }

bool TwoLineTitle::elided() const { return label_->elided(); }

QSize TwoLineTitle::sizeHint() const
{
    const int width = std::min(fontMetrics().horizontalAdvance(text()) + 2, 400);
    return {width, heightForWidth(width)};
}

QSize TwoLineTitle::minimumSizeHint() const { return {40, fontMetrics().lineSpacing()}; }

int TwoLineTitle::heightForWidth(int width) const { return label_->heightForWidth(width); }

void TwoLineTitle::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    label_->setGeometry(rect());
}

void TwoLineTitle::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        label_->setFont(font());
}

// ---- ActivityRow

namespace {

// Holds a one-line label at its line's height, the label sized to the holder. A new
// text then repaints the label alone: with its size fixed, the label's new size hint
// reaches no layout, where each moving row of a busy list would otherwise have the
// whole list laid out again at every status.
class LineHolder final : public QWidget {
public:
    LineHolder(QLabel *label, QWidget *parent) : QWidget(parent), label_(label)
    {
        label->setParent(this);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override { return {0, label_->fontMetrics().height()}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void resizeEvent(QResizeEvent *) override
    {
        label_->move(0, 0);
        label_->setFixedSize(size());
    }

private:
    QLabel *label_;
};

} // namespace


ActivityRow::ActivityRow(AppModel &model, QString peer, QWidget *parent)
    : QWidget(parent), model_(&model), peer_(std::move(peer)), icon_(new SymbolView(QString(), iconSize, this)),
      title_(new TwoLineTitle(this)),
      bar_(new ByteProgressBar(this)), caption_(new QLabel(this)), problem_(new TextLabel(QString(), this)),
      buttonRow_(new QHBoxLayout)
{
    setAttribute(Qt::WA_Hover);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 10, 0, 10);
    row->setSpacing(12);

    auto *iconBox = new QHBoxLayout;
    iconBox->setContentsMargins((iconColumn - iconSize) / 2, 0, (iconColumn - iconSize + 1) / 2, 0);
    iconBox->addWidget(icon_);
    row->addLayout(iconBox);
    row->setAlignment(iconBox, Qt::AlignTop);

    auto *column = new QVBoxLayout;
    column->setSpacing(5);
    column->setContentsMargins(0, 0, 0, 0);
    caption_->setTextFormat(Qt::PlainText);
    caption_->setFont(Theme::caption());
    Theme::setTone(caption_, Tone::secondary);
    problem_->setFont(Theme::callout());
    Theme::setTone(problem_, Tone::primary);
    Theme::setTone(title_, Tone::primary);
    problem_->setSelectable(true);
    bar_->setFixedHeight(barHeight);
    column->addWidget(title_);
    column->addWidget(bar_);
    captionLine_ = new LineHolder(caption_, this);
    column->addWidget(captionLine_);
    column->addWidget(problem_);
    bar_->hide();
    captionLine_->hide();
    problem_->hide();
    row->addLayout(column, 1);

    buttonRow_->setSpacing(8);
    buttonRow_->setContentsMargins(0, 0, 0, 0);
    row->addLayout(buttonRow_);
    row->setAlignment(buttonRow_, Qt::AlignTop);
}

QList<QAbstractButton *> ActivityRow::buttons() const { return buttonWidgets_; }

void ActivityRow::setItem(const Activity &item)
{
    id_ = item.id();
    item_ = item;

    if (item.icon() != iconName_ || item.iconTone() != tone_) {
        iconName_ = item.icon();
        tone_ = item.iconTone();
        icon_->setName(iconName_);
        icon_->setColor(Theme::toneColor(palette(), toneOf(tone_)));
    }
    title_->setText(item.title());
    setPlainToolTip(title_, item.titleTooltip().value_or(QString()), TextSource::raw);

    const ActivityProgress progress = activityProgress(item);
    const bool showsBar = progress.kind == ActivityProgress::Kind::determinate
        || progress.kind == ActivityProgress::Kind::indeterminate;
    bar_->setFraction(progress.kind == ActivityProgress::Kind::determinate ? std::optional<double>(progress.fraction)
                                                                           : std::nullopt);
    if (bar_->isVisibleTo(this) != showsBar)
        bar_->setVisible(showsBar);
    if (caption_->text() != progress.caption) {
        caption_->setText(progress.caption);
        caption_->setAccessibleName(readAloud(progress.caption));
    }
    if (captionLine_->isVisibleTo(this) == progress.caption.isEmpty())
        captionLine_->setVisible(!progress.caption.isEmpty());

    const QString problem = activityProblem(item).value_or(QString());
    problem_->setText(problem);
    if (problem_->isVisibleTo(this) == problem.isEmpty())
        problem_->setVisible(!problem.isEmpty());

    if (model_)
        setButtons(activityButtons(*model_, item));
}

void ActivityRow::setButtons(const QList<ActivityButtonState> &buttons)
{
    if (buttons == shownButtons_)
        return;
    const bool sameKinds = buttons.size() == shownButtons_.size()
        && std::equal(buttons.cbegin(), buttons.cend(), shownButtons_.cbegin(),
                      [](const ActivityButtonState &a, const ActivityButtonState &b) { return a.button == b.button; });
    shownButtons_ = buttons;
    if (sameKinds) {
        // Only the enabling moved (a command started or ended): keep the widgets.
        for (qsizetype i = 0; i < buttons.size(); ++i)
            buttonWidgets_[i]->setEnabled(buttons[i].enabled);
        return;
    }
    for (QAbstractButton *button : std::as_const(buttonWidgets_))
        discardLater(button);
    buttonWidgets_.clear();
    remove_ = nullptr;
    removeOpacity_ = nullptr;
    for (const ActivityButtonState &state : buttons) {
        QAbstractButton *widget = nullptr;
        if (state.title.isEmpty()) {
            auto *tool = new QToolButton(this);
            tool->setAutoRaise(true);
            tool->setIcon(Symbols::icon(state.symbol, 13, Theme::toneColor(palette(), Tone::secondary)));
            tool->setIconSize({13, 13});
            tool->setAccessibleName(readAloud(state.tooltip));
            removeOpacity_ = new QGraphicsOpacityEffect(tool);
            removeOpacity_->setOpacity(hovering_ ? 1.0 : 0.5);
            tool->setGraphicsEffect(removeOpacity_);
            remove_ = tool;
            widget = tool;
        } else {
            widget = new QPushButton(literal(state.title), this);
        }
        setPlainToolTip(widget, state.tooltip);
        widget->setEnabled(state.enabled);
        connect(widget, &QAbstractButton::clicked, this, [this, which = state.button] {
            if (model_ && item_)
                performActivityButton(*model_, peer_, *item_, which);
        });
        buttonRow_->addWidget(widget, 0, Qt::AlignVCenter);
        buttonWidgets_.append(widget);
    }
}

void ActivityRow::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    setHovering(true);
}

void ActivityRow::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    setHovering(false);
}

void ActivityRow::setHovering(bool hovering)
{
    hovering_ = hovering;
    if (removeOpacity_)
        removeOpacity_->setOpacity(hovering ? 1.0 : 0.5);
}

void ActivityRow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void ActivityRow::applyColors()
{
    // The icon and the remove symbol carry colours of their own: give them the
    // new appearance's.
    icon_->setColor(Theme::toneColor(palette(), toneOf(tone_)));
    if (remove_) {
        const ActivityButtonState *state = nullptr;
        for (const ActivityButtonState &b : shownButtons_) {
            if (b.title.isEmpty())
                state = &b;
        }
        if (state)
            remove_->setIcon(Symbols::icon(state->symbol, 13, Theme::toneColor(palette(), Tone::secondary)));
    }
}

// ---- ActivityList

ActivityList::ActivityList(AppModel &model, QString peer, QWidget *parent)
    : QWidget(parent), model_(&model), peer_(std::move(peer)), layout_(new QVBoxLayout(this)),
      heading_(new QLabel(this)), clear_(new QPushButton(this)), end_(new QWidget(this))
{
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 6);
    heading_->setTextFormat(Qt::PlainText);
    heading_->setFont(Theme::headline());
    Theme::setTone(heading_, Tone::primary);
    heading_->setText(L(QStringLiteral("Transfers")));
    clear_->setText(literal(L(QStringLiteral("Clear"))));
    setPlainToolTip(clear_, L(QStringLiteral("Remove finished transfers from this list")));
    clear_->setFlat(true);
    clear_->setCursor(Qt::PointingHandCursor);
    clear_->hide();
    connect(clear_, &QPushButton::clicked, this, [this] {
        // The ids as they stand at the click, not as they stood at the last redraw.
        if (model_)
            clearFinished(*model_, peer_);
    });
    header->addWidget(heading_);
    header->addStretch(1);
    header->addWidget(clear_);
    layout_->addLayout(header);

    end_->setObjectName(QStringLiteral("transfers-end"));
    end_->setFixedHeight(1);
    layout_->addWidget(end_);
    applyColors();
    refresh();
}

QList<ActivityRow *> ActivityList::rows() const
{
    QList<ActivityRow *> list;
    for (const QString &id : order_)
        list.append(rows_.value(id));
    return list;
}

void ActivityList::refresh()
{
    if (!model_)
        return;
    items_ = activityFor(model_->status(), peer_);
    const QList<Activity> &items = items_;
    const ActivityHeader header = activityHeader(*model_, peer_);
    if (clear_->isVisibleTo(this) != header.clearShown)
        clear_->setVisible(header.clearShown);
    if (clear_->isEnabled() != header.clearEnabled)
        clear_->setEnabled(header.clearEnabled);

    QStringList ids;
    ids.reserve(items.size());
    for (const Activity &item : items)
        ids.append(item.id());
    if (ids != order_) {
        for (auto it = rows_.begin(); it != rows_.end();) {
            if (ids.contains(it.key())) {
                ++it;
                continue;
            }
            // Deleted later: a row may be handling a click that led here.
            for (QWidget *gone : {static_cast<QWidget *>(dividers_.take(it.key())), static_cast<QWidget *>(it.value())}) {
                if (gone) {
                    layout_->removeWidget(gone);
                    gone->hide();
                    gone->deleteLater();
                }
            }
            it = rows_.erase(it);
        }
        for (const QString &id : std::as_const(order_)) {
            if (rows_.contains(id)) {
                layout_->removeWidget(dividers_.value(id));
                layout_->removeWidget(rows_.value(id));
            }
        }
        int at = 1; // after the header
        for (const QString &id : ids) {
            if (!rows_.contains(id)) {
                rows_.insert(id, new ActivityRow(*model_, peer_, this));
                dividers_.insert(id, makeDivider(this));
            }
            layout_->insertWidget(at++, dividers_.value(id));
            layout_->insertWidget(at++, rows_.value(id));
        }
        order_ = ids;
    }
    for (const Activity &item : items)
        rows_.value(item.id())->setItem(item);
    // Nothing to list: no list at all, not even its header.
    if (parentWidget() && isVisibleTo(parentWidget()) == items.isEmpty())
        setVisible(!items.isEmpty());
}

void ActivityList::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void ActivityList::applyColors()
{
    // A link button: the accent colour, no frame.
    QPalette link = clear_->palette();
    link.setColor(QPalette::ButtonText, Theme::toneColor(palette(), Tone::accent));
    clear_->setPalette(link);
    for (QWidget *divider : std::as_const(dividers_)) {
        QPalette p = divider->palette();
        p.setColor(QPalette::Window, separator(palette()));
        divider->setPalette(p);
    }
}

} // namespace cv

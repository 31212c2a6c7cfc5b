#include "views/banner.h"

#include "model/app_model.h"
#include "views/symbols.h"
#include "views/theme.h"
#include "views/widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace cv {

namespace {

constexpr int symbolSize = 15;

// "&" doubled, so a button shows it instead of reading a mnemonic.
QString literal(QString text) { return text.replace(QLatin1Char('&'), QStringLiteral("&&")); }

// `a` and `b` differ at most in which buttons are enabled.
bool sameButEnabling(Banner a, const Banner &b)
{
    if (a.buttons.size() != b.buttons.size())
        return false;
    for (qsizetype i = 0; i < a.buttons.size(); ++i)
        a.buttons[i].enabled = b.buttons[i].enabled;
    return a == b;
}

} // namespace

// ---- BannerView

BannerView::BannerView(AppModel &model, QString id, QString initialName, QWidget *parent)
    : QWidget(parent), model_(&model), id_(std::move(id)), initialName_(std::move(initialName)),
      row_(new QHBoxLayout(this))
{
    row_->setContentsMargins(20, 14, 20, 14);
    row_->setSpacing(12);
    setMinimumHeight(64);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    refresh();
}

void BannerView::refresh()
{
    if (!model_)
        return;
    Banner banner = bannerFor(*model_, id_, initialName_);
    if (built_ && banner == shown_)
        return; // an unchanged status costs no layout
    if (built_ && sameButEnabling(banner, shown_)) {
        // A command started or ended: only the buttons' enabling moves.
        for (qsizetype i = 0; i < buttons_.size(); ++i)
            buttons_[i]->setEnabled(banner.buttons[i].enabled);
        shown_ = std::move(banner);
        return;
    }
    shown_ = std::move(banner);
    built_ = true;
    rebuild();
}

void BannerView::rebuild()
{
    // Deleted later: the button whose click led here may still be handling it.
    for (QWidget *part : std::as_const(parts_)) {
        part->hide();
        part->deleteLater();
    }
    parts_.clear();
    buttons_.clear();
    symbol_ = nullptr;
    spinner_ = nullptr;
    title_ = nullptr;
    detail_ = nullptr;
    while (QLayoutItem *item = row_->takeAt(0))
        delete item;

    const QPalette palette = this->palette();
    const QColor primary = Theme::toneColor(palette, Tone::primary);

    if (!shown_.symbol.isEmpty()) {
        symbol_ = new SymbolView(shown_.symbol, symbolSize, this);
        // The service's own problem is a warning: orange, like every warning.
        if (shown_.state == BannerState::problem)
            symbol_->setColor(Theme::toneColor(palette, Tone::orange));
        parts_.append(symbol_);
        row_->addWidget(symbol_, 0, Qt::AlignVCenter);
    }
    if (shown_.spinner) {
        spinner_ = new Spinner(Spinner::Size::small, this);
        parts_.append(spinner_);
        row_->addWidget(spinner_, 0, Qt::AlignVCenter);
    }

    auto *column = new QWidget(this);
    auto *stack = new QVBoxLayout(column);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(3);
    title_ = new TextLabel(shown_.title, column);
    title_->setFont(shown_.titleHeadline ? Theme::headline() : shown_.titleCallout ? Theme::callout() : Theme::body());
    Theme::setTone(title_, shown_.titleSecondary ? Tone::secondary : Tone::primary);
    if (shown_.titleSelectable)
        title_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    stack->addWidget(title_);
    if (!shown_.detail.isEmpty()) {
        detail_ = new TextLabel(shown_.detail, column);
        detail_->setFont(Theme::callout());
        Theme::setTone(detail_, Tone::secondary);
        stack->addWidget(detail_);
    }
    parts_.append(column);
    // The text column takes whatever the buttons leave, which also pushes them to the
    // trailing edge where the state has a flexible space; a wrapping label given only
    // its own width would break after a word or two.
    row_->addWidget(column, 1, Qt::AlignVCenter);

    for (const BannerButton &button : std::as_const(shown_.buttons)) {
        QAbstractButton *widget = nullptr;
        if (button.title.isEmpty()) {
            auto *tool = new QToolButton(this);
            tool->setIcon(Symbols::icon(button.symbol, 14, primary));
            tool->setIconSize({14, 14});
            widget = tool;
        } else {
            QPushButton *push = button.prominent ? new ProminentButton(literal(button.title), this)
                                                 : new QPushButton(literal(button.title), this);
            if (!button.symbol.isEmpty()) {
                const QColor tint = button.prominent ? QColor(Qt::white) : Theme::toneColor(palette, Tone::accent);
                push->setIcon(Symbols::icon(button.symbol, 13, tint));
            }
            widget = push;
        }
        setPlainToolTip(widget, button.tooltip); // it may hold the other computer's name
        if (!button.accessibilityLabel.isEmpty())
            widget->setAccessibleName(readAloud(button.accessibilityLabel));
        widget->setEnabled(button.enabled);
        connect(widget, &QAbstractButton::clicked, this, [this, action = button.action] {
            if (model_)
                performBannerAction(*model_, id_, action);
        });
        parts_.append(widget);
        buttons_.append(widget);
        row_->addWidget(widget, 0, Qt::AlignVCenter);
    }
}

void BannerView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QColor wash = Theme::colors(palette()).primary;
    wash.setAlphaF(0.05f);
    painter.fillRect(rect(), wash);
    painter.fillRect(QRect(0, 0, width(), 1), Theme::colors(palette()).separator);
}

void BannerView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && built_)
        rebuild();
}

} // namespace cv

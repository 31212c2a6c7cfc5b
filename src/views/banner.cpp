#include "views/banner.h"

#include "model/app_model.h"
#include "views/paint_support.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace cv {

namespace {

constexpr int symbolSize = 15;

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

QString prominentStyle(const QPalette &palette)
{
    const QColor accent = paint::color(paint::Tone::accent, palette);
    return QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 6px;"
                          " padding: 4px 12px; }"
                          "QPushButton:pressed { background: %2; }"
                          "QPushButton:disabled { background: %3; color: rgba(255,255,255,0.6); }")
        .arg(accent.name(), accent.darker(118).name(), accent.lighter(140).name());
}

} // namespace

// ---- SmallSpinner

SmallSpinner::SmallSpinner(QWidget *parent) : QWidget(parent), timer_(new QTimer(this))
{
    setFixedSize(16, 16);
    timer_->setInterval(80);
    connect(timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 8;
        update();
    });
}

void SmallSpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    QColor color = paint::color(paint::Tone::primary, palette());
    for (int i = 0; i < 8; ++i) {
        // The tick at the step is darkest; the ones behind it fade.
        QColor tick = color;
        tick.setAlphaF(float(color.alphaF() * (0.25 + 0.75 * ((i - step_ + 8) % 8) / 7.0)));
        painter.setPen(QPen(tick, 1.6, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -3.5), QPointF(0, -6.5));
        painter.rotate(45);
    }
}

void SmallSpinner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    timer_->start();
}

void SmallSpinner::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    timer_->stop();
}

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
    shown_ = std::move(banner);
    built_ = true;
    rebuild();
}

void BannerView::rebuild()
{
    qDeleteAll(parts_);
    parts_.clear();
    buttons_.clear();
    symbol_ = nullptr;
    spinner_ = nullptr;
    title_ = nullptr;
    detail_ = nullptr;
    while (QLayoutItem *item = row_->takeAt(0))
        delete item;

    const QPalette palette = this->palette();
    const QColor primary = paint::color(paint::Tone::primary, palette);
    const QColor secondary = paint::color(paint::Tone::secondary, palette);

    if (!shown_.symbol.isEmpty()) {
        symbol_ = new QLabel(this);
        const QColor tint = shown_.state == BannerState::problem ? paint::color(paint::Tone::orange, palette) : primary;
        symbol_->setPixmap(paint::symbol(shown_.symbol, symbolSize, tint, this));
        parts_.append(symbol_);
        row_->addWidget(symbol_, 0, Qt::AlignVCenter);
    }
    if (shown_.spinner) {
        spinner_ = new SmallSpinner(this);
        parts_.append(spinner_);
        row_->addWidget(spinner_, 0, Qt::AlignVCenter);
    }

    auto *column = new QWidget(this);
    auto *stack = new QVBoxLayout(column);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(3);
    title_ = new QLabel(shown_.title, column);
    title_->setTextFormat(Qt::PlainText);
    title_->setWordWrap(true);
    QFont titleFont = font();
    if (shown_.titleHeadline)
        titleFont = paint::font(paint::TextStyle::headline, font());
    else if (shown_.titleCallout)
        titleFont = paint::font(paint::TextStyle::callout, font());
    else
        titleFont = paint::font(paint::TextStyle::body, font());
    title_->setFont(titleFont);
    setTextColor(title_, shown_.titleSecondary ? secondary : primary);
    if (shown_.titleSelectable)
        title_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    stack->addWidget(title_);
    if (!shown_.detail.isEmpty()) {
        detail_ = new QLabel(shown_.detail, column);
        detail_->setTextFormat(Qt::PlainText);
        detail_->setWordWrap(true);
        detail_->setFont(paint::font(paint::TextStyle::callout, font()));
        setTextColor(detail_, secondary);
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
            tool->setIcon(QIcon(paint::symbol(button.symbol, 14, primary, this)));
            tool->setIconSize({14, 14});
            widget = tool;
        } else {
            auto *push = new QPushButton(paint::literal(button.title), this);
            if (!button.symbol.isEmpty()) {
                const QColor tint = button.prominent ? QColor(Qt::white) : paint::color(paint::Tone::accent, palette);
                push->setIcon(QIcon(paint::symbol(button.symbol, 13, tint, this)));
            }
            if (button.prominent)
                push->setStyleSheet(prominentStyle(palette));
            widget = push;
        }
        widget->setToolTip(button.tooltip);
        if (!button.accessibilityLabel.isEmpty())
            widget->setAccessibleName(button.accessibilityLabel);
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
    QColor wash = paint::isDark(palette()) ? QColor(Qt::white) : QColor(Qt::black);
    wash.setAlphaF(0.05f);
    painter.fillRect(rect(), wash);
    painter.fillRect(QRect(0, 0, width(), 1), paint::color(paint::Tone::separator, palette()));
}

void BannerView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && built_)
        rebuild();
}

} // namespace cv

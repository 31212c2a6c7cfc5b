#include "views/widgets.h"

#include "localization/localization.h"
#include "platform/workspace.h"
#include "views/theme.h"

#include <QApplication>
#include <QClipboard>
#include <QEasingCurve>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QHash>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QResizeEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolTip>
#include <QScrollArea>
#include <QSet>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <cmath>
#include <functional>

namespace cv {

namespace {

QColor mix(const QColor &a, const QColor &b, qreal t)
{
    auto lerp = [t](float x, float y) { return x + (y - x) * float(t); };
    return QColor::fromRgbF(lerp(a.redF(), b.redF()), lerp(a.greenF(), b.greenF()),
                            lerp(a.blueF(), b.blueF()), lerp(a.alphaF(), b.alphaF()));
}

// The horizontal and vertical padding of a form row.
constexpr int rowPadX = 10;
constexpr int rowPadY = 7;
constexpr qreal formRadius = 10;
// Between a button's symbol and its text.
constexpr int iconGap = 6;

QColor ringColor(const ThemeColors &c)
{
    QColor ring = c.accent;
    ring.setAlphaF(0.5f);
    return ring;
}

} // namespace

// ---- Switch

Switch::Switch(const QString &accessibleName, QWidget *parent)
    : QAbstractButton(parent), slide_(new QVariantAnimation(this))
{
    setCheckable(true);
    setAccessibleName(readAloud(accessibleName));
    setFocusPolicy(Qt::TabFocus);
    drawsOwnFocusRing(this);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    slide_->setDuration(150);
    slide_->setEasingCurve(QEasingCurve::OutQuad);
    slide_->setStartValue(0.0);
    slide_->setEndValue(0.0);
    connect(slide_, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        slide_->stop();
        slide_->setStartValue(slide_->currentValue());
        slide_->setEndValue(on ? 1.0 : 0.0);
        if (isVisible())
            slide_->start();
        else
            slide_->setCurrentTime(slide_->duration());
        update();
    });
}

void Switch::paintEvent(QPaintEvent *)
{
    const ThemeColors &c = Theme::colors(palette());
    const bool dark = Theme::isDark(palette());
    const qreal t = slide_->currentValue().toReal();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.5);

    const QSizeF size(38, 22);
    QRectF track(QPointF(0, 0), size);
    track.moveCenter(QRectF(rect()).center());
    const qreal r = track.height() / 2;
    if (focusRingShown(this)) {
        painter.setPen(QPen(ringColor(c), 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-1.5, -1.5, 1.5, 1.5), r + 1.5, r + 1.5);
    }
    const QColor off = dark ? QColor::fromRgbF(1, 1, 1, 0.15f) : QColor::fromRgbF(0, 0, 0, 0.09f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(mix(off, c.accent, t));
    painter.drawRoundedRect(track, r, r);

    const qreal knobRadius = r - 1;
    const QPointF centre(track.left() + r + t * (track.width() - 2 * r), track.center().y());
    // Shadow black 14 %, radius 3, offset (0, 1).
    QRadialGradient shadow(centre + QPointF(0, 1), knobRadius + 3);
    shadow.setColorAt(knobRadius / (knobRadius + 3), QColor::fromRgbF(0, 0, 0, 0.14f));
    shadow.setColorAt(1, Qt::transparent);
    painter.setBrush(shadow);
    painter.drawEllipse(centre + QPointF(0, 1), knobRadius + 3, knobRadius + 3);
    painter.setBrush(dark ? QColor(0xE8, 0xE8, 0xE8) : QColor(Qt::white));
    painter.drawEllipse(centre, knobRadius, knobRadius);
}

// ---- Spinner

namespace {
bool spinnersFixed = false;
}

Spinner::Spinner(Size size, QWidget *parent)
    : QWidget(parent), side_(size == Size::small ? 16 : 12), timer_(new QTimer(this))
{
    setFixedSize(side_, side_);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    timer_->setInterval(1000 / 12);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (spinnersFixed)
            return;
        step_ = (step_ + 1) % 12;
        update();
    });
}

void Spinner::setFixedFrame(bool fixed) { spinnersFixed = fixed; }
bool Spinner::fixedFrame() { return spinnersFixed; }

void Spinner::showEvent(QShowEvent *) { timer_->start(); }
void Spinner::hideEvent(QHideEvent *) { timer_->stop(); }

void Spinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor base = palette().color(QPalette::WindowText);
    const int head = spinnersFixed ? 0 : step_;
    const qreal radius = side_ / 2.0;
    painter.translate(radius, radius);
    for (int i = 0; i < 12; ++i) {
        // The spoke at the head is darkest; the ones behind it fade out.
        const int behind = (head - i + 12) % 12;
        QColor color = base;
        color.setAlphaF(base.alphaF() * float(1.0 - behind * 0.07));
        painter.setPen(QPen(color, std::max(1.2, side_ * 0.1), Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(i * 30.0);
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.85));
        painter.restore();
    }
}

// ---- ElidedLabel

ElidedLabel::ElidedLabel(const QString &text, QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFullText(text);
}

void ElidedLabel::setFullText(const QString &text, TextSource source)
{
    full_ = Localization::oneLine(text);
    source_ = source;
    setAccessibleName(readAloud(full_, source));
    updateGeometry();
    elide();
}

void ElidedLabel::setSelectable(bool selectable)
{
    setTextInteractionFlags(selectable ? Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                       : Qt::NoTextInteraction);
}

QSize ElidedLabel::sizeHint() const
{
    const int extra = 2 * margin() + contentsMargins().left() + contentsMargins().right();
    // One pixel more: advances are rounded, the eliding measures exactly.
    return {fontMetrics().horizontalAdvance(full_) + extra + 1, QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const int extra = 2 * margin() + contentsMargins().left() + contentsMargins().right();
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) + extra, QLabel::sizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        elide();
}

void ElidedLabel::elide()
{
    const int width = contentsRect().width() - 2 * margin();
    const QString elided = fontMetrics().elidedText(full_, Qt::ElideRight, std::max(width, 0));
    const QString shown = inAppDirection(elided);
    if (text() != shown)
        QLabel::setText(shown);
    // The full text is the service's or the other computer's: shown as plain text.
    setPlainToolTip(this, elided != full_ ? full_ : QString(), source_);
}

// ---- TextLabel

namespace {

bool rightToLeftApp() { return QGuiApplication::layoutDirection() == Qt::RightToLeft; }

bool selectableText(const QLabel *label)
{
    return label->textInteractionFlags() & (Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

// The selection of `label`, which shows `text`, as composed; empty when nothing is
// selected.
QString selectionOf(const QLabel *label, const ShownText &text)
{
    if (!label->hasSelectedText())
        return {};
    return text.copied(label->selectionStart(), label->selectedText().size());
}

// The context menu of a selectable label that shows `text`: Copy puts the selection
// as composed on the clipboard, or the whole text when nothing is selected. Shown
// without waiting: the label may go while the menu is open, and the menu with it.
void popUpCopyMenu(QLabel *label, const QPoint &at, const ShownText &text, const std::function<void()> &selectAll)
{
    const QString copied = label->hasSelectedText() ? selectionOf(label, text) : text.composed();
    auto *menu = new QMenu(label);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QString copy = L(QStringLiteral("Copy"));
    menu->addAction(copy.replace(QLatin1Char('&'), QStringLiteral("&&")), label,
                    [copied] { QGuiApplication::clipboard()->setText(copied); });
    QString all = L(QStringLiteral("Select All"));
    menu->addAction(all.replace(QLatin1Char('&'), QStringLiteral("&&")), label, selectAll);
    menu->popup(at);
}

// Gives the primary selection what Copy would take of `label`'s selection, in place
// of the text as shown that Qt put there.
void offerSelection(const QLabel *label, const ShownText &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard->supportsSelection() || !label->hasSelectedText())
        return;
    const QString copied = selectionOf(label, text);
    if (!copied.isEmpty())
        clipboard->setText(copied, QClipboard::Selection);
}

} // namespace

TextLabel::TextLabel(const QString &text, QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    // The label breaks the lines itself; QLabel would let a long word run past its edge.
    QLabel::setWordWrap(false);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setText(text);
}

void TextLabel::setText(const QString &text) { set(text, TextSource::composed); }

void TextLabel::setRawText(const QString &text) { set(text, TextSource::raw); }

void TextLabel::set(const QString &text, TextSource source)
{
    if (text == full_ && source == source_ && !(text.isEmpty() && !QLabel::text().isEmpty()))
        return;
    full_ = text;
    source_ = source;
    setAccessibleName(readAloud(full_, source));
    cachedWidth_ = -1;
    relayout();
    updateGeometry();
}

void TextLabel::setSelectable(bool selectable)
{
    setTextInteractionFlags(selectable ? Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                       : Qt::NoTextInteraction);
}

void TextLabel::setMaxLines(int lines)
{
    maxLines_ = lines;
    cachedWidth_ = -1;
    relayout();
    updateGeometry();
}

QSize TextLabel::sizeHint() const
{
    // The whole text on one line, up to about 80 characters; wider it wraps.
    int width = 0;
    for (const QString &line : full_.split(QLatin1Char('\n')))
        width = std::max(width, fontMetrics().horizontalAdvance(line));
    width = std::min(width + 2, 80 * fontMetrics().averageCharWidth()) + 2 * margin();
    return {width, heightForWidth(width)};
}

QSize TextLabel::minimumSizeHint() const
{
    // A few characters wide: anything longer wraps or breaks.
    const int width = std::min(sizeHint().width(), 8 * fontMetrics().averageCharWidth() + 2 * margin());
    return {width, fontMetrics().lineSpacing() + 2 * margin()};
}

int TextLabel::heightForWidth(int width) const
{
    if (width == cachedWidth_)
        return cachedHeight_;
    cachedWidth_ = width;
    cachedHeight_ = ShownText::wrapped(full_, source_, font(), width - 2 * margin(), maxLines_).height() + 2 * margin();
    return cachedHeight_;
}

void TextLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    relayout();
}

void TextLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::LayoutDirectionChange) {
        cachedWidth_ = -1;
        relayout();
        updateGeometry();
    }
}

void TextLabel::relayout()
{
    shown_ = ShownText::wrapped(full_, source_, font(), contentsRect().width() - 2 * margin(), maxLines_);
    if (QLabel::text() != shown_.shown())
        QLabel::setText(shown_.shown());
}

QString TextLabel::copiedSelection() const { return selectionOf(this, shown_); }

void TextLabel::keyPressEvent(QKeyEvent *event)
{
    if (selectableText(this) && event->matches(QKeySequence::Copy)) {
        copy();
        event->accept();
        return;
    }
    if (selectableText(this) && event->matches(QKeySequence::SelectAll)) {
        selectAll();
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
    if (hasSelectedText() && offered_ != std::pair(selectionStart(), selectedText().size()))
        offerSelection();
}

void TextLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    // The label has just put the lines as shown there.
    offerSelection();
}

void TextLabel::contextMenuEvent(QContextMenuEvent *event)
{
    if (!selectableText(this)) {
        QLabel::contextMenuEvent(event);
        return;
    }
    popUpCopyMenu(this, event->globalPos(), shown_, [this] { selectAll(); });
}

void TextLabel::copy()
{
    const QString copied = copiedSelection();
    if (!copied.isEmpty())
        QGuiApplication::clipboard()->setText(copied);
}

void TextLabel::selectAll()
{
    if (!selectableText(this) || QLabel::text().isEmpty())
        return;
    setSelection(0, int(QLabel::text().size()));
    offerSelection();
}

void TextLabel::offerSelection()
{
    if (hasSelectedText())
        offered_ = {selectionStart(), selectedText().size()};
    cv::offerSelection(this, shown_);
}

// ---- FormSection

// The rounded block of a section's rows, with a separator between two rows.
class FormBlock final : public QWidget {
public:
    explicit FormBlock(QWidget *parent) : QWidget(parent), rows_(new QVBoxLayout(this))
    {
        rows_->setContentsMargins(0, 0, 0, 0);
        rows_->setSpacing(1); // room for the separator
    }
    QVBoxLayout *rows() const { return rows_; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const ThemeColors &c = Theme::colors(palette());
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(c.separator, 1));
        painter.setBrush(c.groupFill);
        painter.drawRoundedRect(area, formRadius, formRadius);
        painter.setRenderHint(QPainter::Antialiasing, false);
        for (int i = 1; i < rows_->count(); ++i) {
            const QWidget *row = rows_->itemAt(i)->widget();
            if (!row || row->isHidden())
                continue;
            const int y = row->geometry().top() - 1;
            painter.fillRect(QRect(rowPadX, y, width() - 2 * rowPadX, 1), c.separator);
        }
    }

private:
    QVBoxLayout *rows_;
};

FormSection::FormSection(const QString &header, QWidget *parent)
    : QWidget(parent), outer_(new QVBoxLayout(this)), block_(new FormBlock(this))
{
    outer_->setContentsMargins(0, 0, 0, 0);
    outer_->setSpacing(6);
    outer_->addWidget(block_);
    setHeaderText(header);
}

StatusDot::StatusDot(bool glow, QWidget *parent) : QWidget(parent), glow_(glow)
{
    setFixedSize(glow ? 13 : 7, glow ? 13 : 7);
}

void StatusDot::setOnline(bool online)
{
    if (online == online_)
        return;
    online_ = online;
    update();
}

void StatusDot::paintEvent(QPaintEvent *)
{
    const ThemeColors &c = Theme::colors(palette());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QPointF centre = QRectF(rect()).center();
    if (online_ && glow_) {
        QRadialGradient glow(centre, 6.5);
        QColor green = c.green;
        green.setAlphaF(0.6f);
        glow.setColorAt(0.5, green);
        green.setAlphaF(0);
        glow.setColorAt(1, green);
        painter.setBrush(glow);
        painter.drawEllipse(centre, 6.5, 6.5);
    }
    QColor fill = online_ ? c.green : c.secondaryText;
    if (!online_)
        fill.setAlphaF(fill.alphaF() * 0.5f);
    painter.setBrush(fill);
    painter.drawEllipse(centre, 3.5, 3.5);
}

namespace {

class ComposedCopy final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *label = qobject_cast<QLabel *>(watched);
        const auto *key = event->type() == QEvent::KeyPress ? static_cast<QKeyEvent *>(event) : nullptr;
        if (!label)
            return false;
        // The box's texts are composed by the text lookup; Qt wraps them itself.
        const auto shown = [label] { return ShownText::asGiven(label->text(), TextSource::composed); };
        // The label puts the selection as shown in the primary selection once the mouse
        // or the keyboard has made it; it is replaced right after.
        const auto offer = [label, shown] { offerSelection(label, shown()); };
        if (key && key->matches(QKeySequence::Copy) && label->hasSelectedText()) {
            QGuiApplication::clipboard()->setText(selectionOf(label, shown()));
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease || (key && key->matches(QKeySequence::SelectAll)))
            QTimer::singleShot(0, label, offer);
        if (event->type() == QEvent::ContextMenu) {
            popUpCopyMenu(label, static_cast<QContextMenuEvent *>(event)->globalPos(), shown(), [label, offer] {
                label->setSelection(0, int(label->text().size()));
                offer();
            });
            return true;
        }
        return false;
    }
};

} // namespace

void copyAsComposed(QMessageBox &box)
{
    auto *filter = new ComposedCopy(&box);
    for (QLabel *label : box.findChildren<QLabel *>()) {
        if (selectableText(label))
            label->installEventFilter(filter);
        if (!label->text().isEmpty())
            label->setAccessibleName(readAloud(label->text()));
    }
}

void discardLater(QWidget *widget)
{
    if (!widget)
        return;
    widget->hide();
    widget->setParent(nullptr);
    widget->deleteLater();
}

void FormSection::setHeaderWidget(QWidget *header)
{
    discardLater(header_);
    header_ = header;
    if (header) {
        header->setContentsMargins(rowPadX, 0, rowPadX, 0);
        outer_->insertWidget(0, header);
    }
}

void FormSection::setHeaderText(const QString &header)
{
    setHeaderWidget(header.isEmpty() ? nullptr : textLabel(header, Theme::headline()));
}

namespace {

QWidget *rowHolder(QWidget *row)
{
    auto *holder = new QWidget;
    auto *layout = new QVBoxLayout(holder);
    layout->setContentsMargins(rowPadX, rowPadY, rowPadX, rowPadY);
    layout->addWidget(row);
    return holder;
}

} // namespace

void FormSection::addRow(QWidget *row) { block_->rows()->addWidget(rowHolder(row)); }

void FormSection::setRows(const QList<QWidget *> &rows)
{
    QVBoxLayout *layout = block_->rows();
    QList<QWidget *> current;
    QHash<QWidget *, QWidget *> holders; // row to its holder
    for (int i = 0; i < layout->count(); ++i) {
        QWidget *holder = layout->itemAt(i)->widget();
        QWidget *row = holder->layout()->itemAt(0)->widget();
        current << row;
        holders.insert(row, holder);
    }
    if (current == rows)
        return;
    while (QLayoutItem *item = layout->takeAt(0))
        delete item;
    for (QWidget *row : rows) {
        QWidget *holder = holders.take(row);
        layout->addWidget(holder ? holder : rowHolder(row));
    }
    for (QWidget *holder : std::as_const(holders))
        discardLater(holder);
    block_->update();
}

void FormSection::clearRows()
{
    while (QLayoutItem *item = block_->rows()->takeAt(0)) {
        discardLater(item->widget());
        delete item;
    }
}

int FormSection::rowCount() const { return block_->rows()->count(); }

void FormSection::setFooter(QWidget *footer)
{
    discardLater(footer_);
    footer_ = footer;
    if (footer) {
        footer->setContentsMargins(rowPadX, 0, rowPadX, 0);
        outer_->addWidget(footer);
    }
}

QWidget *FormSection::row(QWidget *leading, QWidget *trailing)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(leading, 1);
    if (trailing)
        layout->addWidget(trailing, 0, Qt::AlignRight | Qt::AlignVCenter);
    return row;
}

QWidget *FormSection::titled(const QString &text, const QString &detail, int spacing)
{
    auto *stack = new QWidget;
    auto *layout = new QVBoxLayout(stack);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    layout->addWidget(textLabel(text, Theme::body()));
    if (!detail.isEmpty())
        layout->addWidget(textLabel(detail, Theme::callout(), Tone::secondary));
    return stack;
}

// ---- ProminentButton

ProminentButton::ProminentButton(const QString &text, QWidget *parent) : QPushButton(text, parent)
{
    setFocusPolicy(Qt::TabFocus);
    drawsOwnFocusRing(this);
    setDefault(false);
    setAutoDefault(false);
}

QSize ProminentButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    const QString shown = QString(text()).replace(QStringLiteral("&&"), QStringLiteral("&"));
    const QSize symbol = icon().isNull() ? QSize() : icon().actualSize(iconSize());
    const int symbolRoom = symbol.isEmpty() ? 0 : symbol.width() + iconGap;
    // Room around the face for the focus ring.
    return {metrics.horizontalAdvance(shown) + symbolRoom + 2 * 12 + 4,
            std::max({metrics.height() + 8, symbol.height() + 8, 22}) + 4};
}

void ProminentButton::paintEvent(QPaintEvent *)
{
    const ThemeColors &c = Theme::colors(palette());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.5);
    const QRectF face = QRectF(rect()).adjusted(2, 2, -2, -2);
    if (focusRingShown(this)) {
        painter.setPen(QPen(ringColor(c), 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(face.adjusted(-0.5, -0.5, 0.5, 0.5), 6.5, 6.5);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(isDown() ? c.accent.darker(115) : c.accent);
    painter.drawRoundedRect(face, 6, 6);
    // The symbol before the text, the two centred together on the face.
    const QSize symbol = icon().isNull() ? QSize() : icon().actualSize(iconSize());
    const int symbolRoom = symbol.isEmpty() ? 0 : symbol.width() + iconGap;
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(QString(text()).replace(QStringLiteral("&&"), QStringLiteral("&")));
    const qreal left = face.center().x() - (symbolRoom + textWidth) / 2.0;
    if (symbolRoom > 0) {
        const QRectF place(left, face.center().y() - symbol.height() / 2.0, symbol.width(), symbol.height());
        icon().paint(&painter, place.toAlignedRect(), Qt::AlignCenter);
    }
    painter.setPen(Qt::white);
    painter.setFont(font());
    // Mnemonics are hidden; a doubled "&" shows as one.
    painter.drawText(QRectF(left + symbolRoom, face.top(), textWidth + 1, face.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextHideMnemonic, text());
}

// ---- FooterLabel

FooterLabel::FooterLabel(const QString &markdown, QWidget *parent)
    : FooterLabel(markdown, Workspace::system(), parent)
{
}

FooterLabel::FooterLabel(const QString &markdown, Workspace &workspace, QWidget *parent)
    : QLabel(parent), workspace_(workspace), markdown_(markdown)
{
    setTextFormat(Qt::RichText);
    setWordWrap(true);
    setFont(Theme::callout());
    Theme::setTone(this, Tone::secondary);
    setOpenExternalLinks(false);
    // The label is the stop, with the shared ring; the keyboard does not walk from
    // link to link inside it.
    setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    setFocusPolicy(Qt::TabFocus);
    present();
    connect(this, &QLabel::linkActivated, this,
            [this](const QString &link) { workspace_.open(QUrl(link)); });
}

void FooterLabel::present()
{
    // Markdown read into a label takes its link colour once, from the application,
    // so the links are coloured here, from this label's palette.
    QTextDocument document;
    document.setMarkdown(markdown_);
    QTextCharFormat link;
    link.setForeground(Theme::colors(palette()).accent);
    firstLink_.clear();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isAnchor())
                continue;
            if (firstLink_.isEmpty())
                firstLink_ = fragment.charFormat().anchorHref();
            QTextCursor cursor(&document);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.mergeCharFormat(link);
        }
    }
    setText(document.toHtml());
}

void FooterLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        present();
}

void FooterLabel::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && !firstLink_.isEmpty() && (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)) {
        // Once per press: the repeats of a key held down open no more browser tabs.
        if (!isHeldKeyRepeat(event))
            workspace_.open(QUrl(firstLink_));
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

namespace {

int toolTipsBuilt = 0;

// The text a widget's tooltip was last built from (setPlainToolTip).
constexpr char toolTipSource[] = "cv_toolTipSource";
// The accessible description setPlainToolTip last gave a widget.
constexpr char toolTipDescription[] = "cv_toolTipDescription";

} // namespace

QString plainToolTip(const QString &text)
{
    if (text.isEmpty())
        return {};
    ++toolTipsBuilt;
    // A tooltip that looks like markup is read as markup; this one is markup that
    // shows the text as it is. Its lines are broken here, at one width for every
    // tooltip, and kept as they are: Qt would shape a wrapping tooltip to its own
    // proportions, or not wrap a plain one at all.
    QStringList lines = wrappedLines(text, QToolTip::font(), toolTipWidth);
    for (QString &line : lines)
        line = line.toHtmlEscaped();
    return QStringLiteral("<p dir='%1' style='white-space:pre'>%2</p>")
        .arg(rightToLeftApp() ? QStringLiteral("rtl") : QStringLiteral("ltr"), lines.join(QStringLiteral("<br>")));
}

void setPlainToolTip(QWidget *widget, const QString &text, TextSource source)
{
    // Laying out a long text is what costs (a copy's skipped items, a long path):
    // compare the source, not the tooltip built from it.
    const QVariant last = widget->property(toolTipSource);
    if (last.isValid() ? last.toString() == text : text.isEmpty() && widget->toolTip().isEmpty())
        return;
    widget->setProperty(toolTipSource, text);
    widget->setToolTip(plainToolTip(text));
    // Without a description Qt gives assistive tools the tooltip, which is markup; a
    // description the widget has of its own (not set here) stays.
    if (widget->accessibleDescription() == widget->property(toolTipDescription).toString()) {
        const QString description = readAloud(text, source);
        widget->setProperty(toolTipDescription, description);
        widget->setAccessibleDescription(description);
    }
}

int plainToolTipsBuilt() { return toolTipsBuilt; }

TextLabel *textLabel(const QString &text, const QFont &font, Tone tone)
{
    auto *label = new TextLabel(text);
    label->setFont(font);
    if (tone != Tone::primary)
        Theme::setTone(label, tone);
    return label;
}

} // namespace cv

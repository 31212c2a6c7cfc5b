#include "views/sharing_choice.h"

#include "localization/localization.h"
#include "views/focus.h"
#include "views/symbols.h"
#include "views/theme.h"
#include "views/widgets.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace cv {

namespace {

// The tile's inner measures, in pixels.
constexpr int tilePadSides = 14;
constexpr int tilePadTop = 22;
constexpr int tilePadBottom = 16;
constexpr int tileSpacing = 10;
constexpr int tileSymbolFrame = 36;
constexpr int tileSymbolSide = 32;
constexpr int badgeSide = 18;
constexpr int badgePad = 10;
constexpr int detailSymbolSide = 18;
constexpr int detailSymbolFrame = 24;

int wrappedHeight(const QFont &font, const QString &text, int width)
{
    if (text.isEmpty())
        return 0;
    return ShownText::wrapped(text, TextSource::composed, font, width).height();
}

// `text` in centred lines from `top`, broken and measured as wrappedHeight() does;
// returns the height drawn.
int drawWrapped(QPainter &painter, const QString &text, int left, int top, int width)
{
    if (text.isEmpty())
        return 0;
    const ShownText shown = ShownText::wrapped(text, TextSource::composed, painter.font(), width);
    painter.drawText(QRect(left, top, width, shown.height()), Qt::AlignHCenter | Qt::AlignTop, shown.shown());
    return shown.height();
}

// The tile for assistive tools: its title, the current-choice value and the hint.
class SharingTileAccessible final : public QAccessibleWidget {
public:
    explicit SharingTileAccessible(SharingTile *tile) : QAccessibleWidget(tile, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override
    {
        const SharingTileState &state = tile()->state();
        switch (t) {
        case QAccessible::Name:
            return readAloud(state.title);
        case QAccessible::Description:
            return readAloud(state.accessibilityHint);
        case QAccessible::Value:
            return readAloud(state.accessibilityValue);
        default:
            return QAccessibleWidget::text(t);
        }
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &name) override
    {
        if (name == pressAction())
            tile()->click();
    }

private:
    SharingTile *tile() const { return static_cast<SharingTile *>(widget()); }
};

QAccessibleInterface *tileAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("cv::SharingTile") && object && object->isWidgetType())
        return new SharingTileAccessible(static_cast<SharingTile *>(object));
    return nullptr;
}

// A hairline in the separator colour, indented at its leading edge.
class Divider final : public QWidget {
public:
    Divider(int indent, QWidget *parent) : QWidget(parent), indent_(indent)
    {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(QRect(indent_, 0, width() - indent_, 1), Theme::colors(palette()).separator);
    }

private:
    int indent_;
};

// The drive list's checkbox, drawn like the rest of the window: a small rounded
// square, filled with the accent colour and a white check while ticked.
class DriveCheckBox final : public QCheckBox {
public:
    explicit DriveCheckBox(QWidget *parent) : QCheckBox(parent)
    {
        setFixedSize(sizeHint());
        drawsOwnFocusRing(this);
    }
    QSize sizeHint() const override { return {18, 18}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    bool hitButton(const QPoint &pos) const override { return rect().contains(pos); }
    void paintEvent(QPaintEvent *) override
    {
        const ThemeColors &c = Theme::colors(palette());
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled())
            painter.setOpacity(0.5);
        const QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
        if (isChecked()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(c.accent);
            painter.drawRoundedRect(box, 3.5, 3.5);
            QPainterPath check;
            check.moveTo(box.left() + 3.5, box.center().y() + 0.2);
            check.lineTo(box.left() + 6.3, box.bottom() - 3.6);
            check.lineTo(box.right() - 3.2, box.top() + 3.8);
            painter.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(check);
        } else {
            painter.setPen(QPen(c.tertiary, 1));
            painter.setBrush(Theme::isDark(palette()) ? QColor(255, 255, 255, 20) : QColor(Qt::white));
            painter.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 3.5, 3.5);
        }
        if (focusRingShown(this)) {
            QColor ring = c.accent;
            ring.setAlphaF(0.5f);
            painter.setPen(QPen(ring, 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4.5, 4.5);
        }
    }
};

// One drive of the drive list: its checkbox, symbol and name; a click anywhere on
// the row flips the checkbox.
class DriveRowWidget final : public QWidget {
public:
    explicit DriveRowWidget(QWidget *parent) : QWidget(parent)
    {
        auto *row = new QHBoxLayout(this);
        row->setContentsMargins(16, 10, 16, 10);
        row->setSpacing(12);
        box = new DriveCheckBox(this);
        symbol = new SymbolView(QStringLiteral("internaldrive"), detailSymbolSide, this);
        symbol->setFixedWidth(detailSymbolFrame);
        name = new ElidedLabel(QString(), this);
        name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        row->addWidget(box);
        row->addWidget(symbol);
        row->addWidget(name, 1);
        Theme::setTone(symbol, Tone::secondary);
    }

    void display(const DriveRow &drive, bool divided)
    {
        if (shown_ && drive == drive_ && divided == divided_ && box->isChecked() == drive.checked)
            return;
        drive_ = drive;
        shown_ = true;
        divided_ = divided;
        symbol->setName(drive.external ? QStringLiteral("externaldrive") : QStringLiteral("internaldrive"));
        name->setFullText(drive.name, TextSource::raw);
        box->setAccessibleName(name->accessibleName());
        box->setChecked(drive.checked);
        update();
    }

    QCheckBox *box;
    SymbolView *symbol;
    ElidedLabel *name;

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (divided_)
            QPainter(this).fillRect(QRect(52, 0, width() - 52, 1), Theme::colors(palette()).separator);
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton && box->isEnabled() && rect().contains(event->position().toPoint()))
            box->click();
    }

private:
    DriveRow drive_;
    bool shown_ = false;
    bool divided_ = false;
};

bool sameDetail(const SelectionDetail &a, const SelectionDetail &b)
{
    return a.kind == b.kind && a.drives == b.drives && a.symbol == b.symbol && a.title == b.title
        && a.pathLine == b.pathLine && a.enabled == b.enabled;
}

} // namespace

// ---- SharingTile

SharingTile::SharingTile(SharingChoice choice, QWidget *parent)
    : QAbstractButton(parent), choice_(choice), material_(new TileMaterial(this)), press_(new TilePress(this))
{
    static const bool accessible = (QAccessible::installFactory(tileAccessible), true);
    Q_UNUSED(accessible);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
    drawsOwnFocusRing(this);
    setSizePolicy(QSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred, QSizePolicy::PushButton));
    state_.choice = choice;
    state_.title = sharingChoiceTitle(choice);
    state_.symbol = sharingChoiceSymbol(choice);
    setAccessibleName(readAloud(state_.title));
    connect(this, &QAbstractButton::pressed, this, [this] { press_->setPressed(true); });
    connect(this, &QAbstractButton::released, this, [this] { press_->setPressed(false); });
}

void SharingTile::setState(const SharingTileState &state)
{
    const bool sameLook = state.title == state_.title && state.symbol == state_.symbol
        && state.description == state_.description && state.selected == state_.selected;
    const bool sameSize = state.title == state_.title && state.description == state_.description;
    state_ = state;
    setEnabled(state.enabled);
    setAccessibleName(readAloud(state.title));
    // The tile's own description, before the tooltip's would take the place.
    setAccessibleDescription(readAloud(state.accessibilityHint));
    updateTooltip();
    if (!sameSize)
        updateGeometry();
    if (!sameLook)
        update();
}

void SharingTile::updateTooltip()
{
    // The tile's own tooltip, else the one the window gives the receive tile.
    setPlainToolTip(this, state_.tooltip.isEmpty() ? state_.outerTooltip : state_.tooltip);
}

QSize SharingTile::sizeHint() const { return {180, heightForWidth(180)}; }

QSize SharingTile::minimumSizeHint() const { return {100, heightForWidth(100)}; }

int SharingTile::heightForWidth(int width) const
{
    const int inner = width - 2 * tilePadSides;
    return tilePadTop + tileSymbolFrame + tileSpacing + wrappedHeight(Theme::headline(), state_.title, inner)
        + tileSpacing + wrappedHeight(Theme::callout(), state_.description, inner) + tileSpacing + tilePadBottom;
}

bool SharingTile::hitButton(const QPoint &pos) const
{
    QPainterPath shape;
    SurfaceShape{QRectF(rect())}.addTo(shape);
    return shape.contains(QPointF(pos));
}

void SharingTile::paintEvent(QPaintEvent *)
{
    const ThemeColors &c = Theme::colors(palette());
    const QRectF area(rect());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // The surface and the content are dimmed together while disabled; the border
    // and badge of the current choice are not.
    painter.save();
    if (!isEnabled())
        painter.setOpacity(0.5);
    material_->paintBehind(painter, area);
    painter.save();
    press_->apply(painter, area);
    const int inner = width() - 2 * tilePadSides;
    int y = tilePadTop;
    QRectF symbol(0, y + (tileSymbolFrame - tileSymbolSide) / 2.0, tileSymbolSide, tileSymbolSide);
    symbol.moveLeft((width() - tileSymbolSide) / 2.0);
    Symbols::paint(painter, symbol, state_.symbol, c.accent);
    y += tileSymbolFrame + tileSpacing;
    painter.setFont(Theme::headline());
    painter.setPen(c.primaryText);
    y += drawWrapped(painter, state_.title, tilePadSides, y, inner) + tileSpacing;
    painter.setFont(Theme::callout());
    painter.setPen(c.secondaryText);
    drawWrapped(painter, state_.description, tilePadSides, y, inner);
    painter.restore();
    material_->paintFront(painter, area);
    painter.restore();

    if (state_.selected) {
        QPainterPath border;
        SurfaceShape{area}.inset(1).addTo(border);
        painter.strokePath(border, QPen(c.accent, 2));
        const QRectF badge(width() - badgePad - badgeSide, badgePad, badgeSide, badgeSide);
        Symbols::paint(painter, badge, QStringLiteral("checkmark.circle.fill"), Qt::white, c.accent);
    }
    if (focusRingShown(this)) {
        // Inside the border of the current choice, where it shows beside it.
        QPainterPath ring;
        SurfaceShape{area}.inset(state_.selected ? 4.5 : 1.5).addTo(ring);
        QColor focus = c.accent;
        focus.setAlphaF(0.5f);
        painter.strokePath(ring, QPen(focus, 3));
    }
}

void SharingTile::enterEvent(QEnterEvent *event)
{
    setHovered(true);
    QAbstractButton::enterEvent(event);
}

void SharingTile::leaveEvent(QEvent *event)
{
    setHovered(false);
    QAbstractButton::leaveEvent(event);
}

void SharingTile::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange)
        material_->setHot(hovered_ && isEnabled());
    else if (event->type() == QEvent::PaletteChange)
        update();
    QAbstractButton::changeEvent(event);
}

void SharingTile::keyPressEvent(QKeyEvent *event)
{
    // Space is the button's own; Enter chooses the tile too.
    if (!clickOnEnter(this, event))
        QAbstractButton::keyPressEvent(event);
}

void SharingTile::setHovered(bool hovered)
{
    hovered_ = hovered;
    // A disabled tile never shows the hover tint.
    material_->setHot(hovered_ && isEnabled());
}

// ---- PathLabel

PathLabel::PathLabel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setFont(Theme::callout());
    Theme::setTone(this, Tone::secondary);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void PathLabel::setPath(const QString &path)
{
    if (path == path_ && !text().isEmpty())
        return;
    path_ = path;
    // Read whole, without the mark that may lead the line shown.
    setAccessibleName(readAloud(path, TextSource::raw));
    updateGeometry();
    elide();
}

QSize PathLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(path_) + 2, metrics.height()};
}

QSize PathLabel::minimumSizeHint() const { return {40, QFontMetrics(font()).height()}; }

void PathLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void PathLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        elide();
}

void PathLabel::elide()
{
    const QString elided = elidedPath(path_, fontMetrics(), contentsRect().width());
    // One line, whatever the path holds: a line feed in a folder's name shows as a space.
    const QString shown = inAppDirection(elided);
    if (shown != text())
        setText(shown);
    setPlainToolTip(this, elided != path_ ? path_ : QString(), TextSource::raw);
}

// ---- SelectionDetailView

SelectionDetailView::SelectionDetailView(QWidget *parent)
    : QWidget(parent), drives_(new GroupMaterial(this)), folderRow_(new GroupMaterial(this))
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(drives_);
    outer->addWidget(folderRow_);
    auto *driveLayout = new QVBoxLayout(drives_);
    driveLayout->setContentsMargins(0, 0, 0, 0);
    driveLayout->setSpacing(0);

    auto *row = new QHBoxLayout(folderRow_);
    row->setContentsMargins(16, 11, 16, 11);
    row->setSpacing(12);
    folderSymbol_ = new SymbolView(QStringLiteral("folder"), detailSymbolSide, folderRow_);
    folderSymbol_->setFixedWidth(detailSymbolFrame);
    auto *lines = new QVBoxLayout;
    lines->setSpacing(2);
    folderTitle_ = new ElidedLabel(QString(), folderRow_);
    folderPath_ = new PathLabel(folderRow_);
    lines->addWidget(folderTitle_);
    lines->addWidget(folderPath_);
    change_ = new QPushButton(L(QStringLiteral("Change…")), folderRow_);
    row->addWidget(folderSymbol_);
    row->addLayout(lines, 1);
    row->addWidget(change_);
    connect(change_, &QPushButton::clicked, this, [this] { emit changeRequested(detail_.kind); });

    Theme::setTone(folderSymbol_, Tone::secondary);
    drives_->hide();
    folderRow_->hide();
    hide();
}

void SelectionDetailView::setDetail(const SelectionDetail &detail)
{
    // A checkbox the user flipped shows the model's value again until the model
    // changes: what was sent shows only once the service confirms it.
    bool boxesAsShown = true;
    for (const DriveRow &drive : detail_.drives) {
        if (auto *row = static_cast<DriveRowWidget *>(driveRows_.value(drive.path)))
            boxesAsShown = boxesAsShown && row->box->isChecked() == drive.checked;
    }
    if (shown_ && boxesAsShown && sameDetail(detail, detail_))
        return;
    shown_ = true;
    detail_ = detail;
    using Kind = SelectionDetail::Kind;
    setVisible(detail.kind != Kind::none);
    drives_->setVisible(detail.kind == Kind::drives);
    folderRow_->setVisible(detail.kind == Kind::folder || detail.kind == Kind::receiveFolder);

    if (detail.kind == Kind::drives) {
        QStringList order;
        auto *layout = static_cast<QVBoxLayout *>(drives_->layout());
        for (const DriveRow &drive : detail.drives) {
            auto *row = static_cast<DriveRowWidget *>(driveRow(drive));
            row->display(drive, !order.isEmpty());
            row->box->setEnabled(detail.enabled);
            order << drive.path;
        }
        for (const QString &path : driveOrder_) {
            if (!order.contains(path))
                discardLater(driveRows_.take(path));
        }
        if (order != driveOrder_) {
            for (const QString &path : order)
                layout->removeWidget(driveRows_.value(path));
            for (const QString &path : order)
                layout->addWidget(driveRows_.value(path));
        }
        driveOrder_ = order;
    } else if (detail.kind != Kind::none) {
        folderSymbol_->setName(detail.symbol);
        // A folder's title is its name; the receive folder's, a sentence around it.
        static_cast<ElidedLabel *>(folderTitle_)
            ->setFullText(detail.title, detail.kind == Kind::folder ? TextSource::raw : TextSource::composed);
        folderPath_->setPath(detail.pathLine);
        change_->setEnabled(detail.enabled);
    }
}

QWidget *SelectionDetailView::driveRow(const DriveRow &drive)
{
    if (QWidget *row = driveRows_.value(drive.path))
        return row;
    auto *row = new DriveRowWidget(drives_);
    const QString path = drive.path;
    connect(row->box, &QCheckBox::clicked, this, [this, path](bool on) { emit driveToggled(path, on); });
    driveRows_.insert(path, row);
    return row;
}

QList<QCheckBox *> SelectionDetailView::driveBoxes() const
{
    QList<QCheckBox *> boxes;
    for (const QString &path : driveOrder_)
        boxes << static_cast<DriveRowWidget *>(driveRows_.value(path))->box;
    return boxes;
}

// ---- OptionRow

OptionRow::OptionRow(QWidget *parent) : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 11, 16, 11);
    row->setSpacing(12);
    auto *lines = new QVBoxLayout;
    lines->setSpacing(2);
    title_ = textLabel(QString(), Theme::body());
    detail_ = textLabel(QString(), Theme::callout(), Tone::secondary);
    lines->addWidget(title_);
    lines->addWidget(detail_);
    switch_ = new Switch(QString(), this);
    row->addLayout(lines, 1);
    row->addWidget(switch_, 0, Qt::AlignVCenter);
    connect(switch_, &QAbstractButton::clicked, this, &OptionRow::toggled);
}

void OptionRow::setState(const OptionRowState &state, bool on)
{
    if (title_->fullText() != state.title) {
        title_->setText(state.title);
        switch_->setAccessibleName(title_->accessibleName());
    }
    detail_->setText(state.detail);
    // Its parts, not the row: Qt takes the focus from a switch whose row is
    // disabled, while one disabled itself keeps it (see keepFocus()).
    for (QWidget *part : {static_cast<QWidget *>(title_), static_cast<QWidget *>(detail_), static_cast<QWidget *>(switch_)}) {
        if (part->isEnabled() != state.enabled)
            part->setEnabled(state.enabled);
    }
    if (switch_->isChecked() != on)
        switch_->setChecked(on);
}

// ---- SharingOptionsView

SharingOptionsView::SharingOptionsView(QWidget *parent)
    : GroupMaterial(parent), readOnly_(new OptionRow(this)), remember_(new OptionRow(this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(readOnly_);
    column->addWidget(new Divider(16, this));
    column->addWidget(remember_);
}

void SharingOptionsView::setRows(const SharingOptionRows &rows, SharingOptions values)
{
    readOnly_->setState(rows.readOnly, values.readOnly);
    remember_->setState(rows.remember, values.remember);
}

} // namespace cv

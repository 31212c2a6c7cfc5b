#include "views/peer_view.h"

#include "localization/localization.h"
#include "model/app_model.h"
#include "platform/open_panels.h"
#include "views/activity_list.h"
#include "views/activity_logic.h"
#include "views/banner.h"
#include "views/computer_rows.h"
#include "views/focus.h"
#include "views/scroll_area.h"
#include "views/symbols.h"
#include "views/theme.h"
#include "views/widgets.h"
#include "views/window_height.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QRadialGradient>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace cv {

namespace {

// The disc sits this far below the top of its row, so the more button, which
// reaches above the disc, and its shadow are not cut off.
constexpr int avatarTop = 5;
// The more button's disc relative to the avatar: its top-trailing corner 12 pixels
// right of the avatar's and 2 above it.
constexpr QPoint moreOffset(PeerAvatar::side + 12 - MoreButton::side, -2);

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

// The computer window's opaque background, a shade apart from the main window's.
QColor glass(const QPalette &palette)
{
    const QColor window = palette.color(QPalette::Window);
    return Theme::isDark(palette) ? window.lighter(115) : window.darker(104);
}

// The avatar centred in the row, the more button over its top-trailing edge.
class AvatarRow final : public QWidget {
public:
    AvatarRow(PeerAvatar *avatar, MoreButton *more, QWidget *parent) : QWidget(parent), avatar_(avatar), more_(more)
    {
        avatar->setParent(this);
        more->setParent(this);
        setFixedHeight(PeerAvatar::side + avatarTop);
    }

protected:
    void resizeEvent(QResizeEvent *) override
    {
        const QPoint origin((width() - PeerAvatar::side) / 2, avatarTop);
        avatar_->setGeometry(QRect(origin, QSize(PeerAvatar::side, PeerAvatar::side)));
        more_->setGeometry(QRect(origin + moreOffset - QPoint(MoreButton::margin, MoreButton::margin),
                                 more_->sizeHint()));
        more_->raise();
    }

private:
    PeerAvatar *avatar_;
    MoreButton *more_;
};

// The frame shown while files are dragged over the window; clicks and drags pass
// through it.
class DropOverlay final : public QWidget {
public:
    explicit DropOverlay(QWidget *parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

    void setText(const QString &text)
    {
        if (text == text_)
            return;
        text_ = text;
        update();
    }
    const QString &text() const { return text_; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const ThemeColors &c = Theme::colors(palette());
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area(rect());
        // The surface over the window's content, which shows through it.
        SurfaceFill::paint(painter, {area}, palette());
        QPainterPath border;
        SurfaceShape{area}.inset(1.5).addTo(border);
        painter.strokePath(border, QPen(c.accent, 3));

        const QFont font = Theme::semibold(Theme::title3());
        const QFontMetrics metrics(font);
        constexpr int symbol = 20;
        constexpr int gap = 8;
        const int room = width() - 48 - symbol - gap;
        const QString shown = metrics.elidedText(text_, Qt::ElideRight, std::max(room, 0));
        const int textWidth = metrics.horizontalAdvance(shown);
        const qreal left = (width() - (symbol + gap + textWidth)) / 2.0;
        const qreal middle = height() / 2.0;
        Symbols::paint(painter, QRectF(left, middle - symbol / 2.0, symbol, symbol),
                       QStringLiteral("tray.and.arrow.down"), c.primaryText);
        painter.setFont(font);
        painter.setPen(c.primaryText);
        painter.drawText(QRectF(left + symbol + gap, middle - metrics.height() / 2.0, textWidth + 1, metrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, shown);
    }

private:
    QString text_;
};

QStringList activeIds(const QList<Activity> &items)
{
    QStringList ids;
    for (const Activity &item : items) {
        if (item.active())
            ids << item.id();
    }
    return ids;
}

} // namespace

// ---- PeerAvatar

PeerAvatar::PeerAvatar(QWidget *parent) : QWidget(parent)
{
    setFixedSize(side, side);
    // A picture only; the name beside it says who it is.
    setAccessibleName(QString());
}

QRectF PeerAvatar::holeRect() { return {side + 15.0 - 34, -5, 34, 34}; }

void PeerAvatar::setHole(bool hole)
{
    if (hole == hole_)
        return;
    hole_ = hole;
    update();
}

QImage PeerAvatar::image(qreal ratio) const
{
    // Drawn off screen first: punching the hole into the widget itself would only
    // uncover the opaque window below, never make the pixels transparent.
    QImage image(QSize(side, side) * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF disc(0, 0, side, side);
    Platter::paint(painter, SurfaceShape::circle(disc), palette());
    QRectF symbol(0, 0, 38, 38);
    symbol.moveCenter(disc.center());
    Symbols::paint(painter, symbol, QStringLiteral("laptopcomputer"), Theme::colors(palette()).primaryText);
    if (hole_) {
        painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawEllipse(holeRect());
    }
    return image;
}

void PeerAvatar::paintEvent(QPaintEvent *)
{
    QPainter(this).drawImage(QPointF(0, 0), image(devicePixelRatioF()));
}

void PeerAvatar::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}

// ---- MoreButton

MoreButton::MoreButton(QWidget *parent) : QAbstractButton(parent)
{
    setFixedSize(sizeHint());
    setFocusPolicy(Qt::TabFocus);
    drawsOwnFocusRing(this);
    setCursor(Qt::ArrowCursor);
}

void MoreButton::keyPressEvent(QKeyEvent *event)
{
    // Space is the button's own; Enter opens the menu too.
    if (!clickOnEnter(this, event))
        QAbstractButton::keyPressEvent(event);
}

bool MoreButton::hitButton(const QPoint &pos) const
{
    const QPointF d = QPointF(pos) - QRectF(rect()).center();
    return d.x() * d.x() + d.y() * d.y() <= side * side / 4.0;
}

void MoreButton::paintEvent(QPaintEvent *)
{
    const ThemeColors &c = Theme::colors(palette());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF disc(margin, margin, side, side);
    if (!Theme::isDark(palette())) {
        // Black 14 % fading out over 3 pixels, one pixel down, outside the disc only.
        const QPointF centre = disc.center() + QPointF(0, 1);
        const qreal radius = side / 2.0 + margin;
        QRadialGradient shadow(centre, radius);
        const qreal edge = (side / 2.0 - 1) / radius;
        shadow.setColorAt(0, withAlpha(Qt::black, 0.14));
        shadow.setColorAt(edge, withAlpha(Qt::black, 0.14));
        shadow.setColorAt(1, withAlpha(Qt::black, 0));
        QPainterPath outside;
        outside.addEllipse(centre, radius, radius);
        QPainterPath inside;
        inside.addEllipse(disc);
        painter.fillPath(outside.subtracted(inside), shadow);
        painter.fillPath(inside, glass(palette()));
    }
    SurfaceFill::paint(painter, SurfaceShape::circle(disc), palette());
    QRectF dots(0, 0, 15, 15);
    dots.moveCenter(disc.center());
    Symbols::paint(painter, dots, QStringLiteral("ellipsis"), isEnabled() ? c.primaryText : c.tertiary);
    if (focusRingShown(this)) {
        painter.setPen(QPen(withAlpha(c.accent, 0.5), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(disc.adjusted(-1, -1, 1, 1));
    }
}

QList<PeerMenuItem> moreMenuItems(const AppModel &model, const QString &id)
{
    QList<PeerMenuItem> items;
    if (model.peer(id))
        items.append({PeerMenuAction::disconnect, L(QStringLiteral("Disconnect")), true});
    else if (model.disconnected().contains(id))
        items.append({PeerMenuAction::reconnect, L(QStringLiteral("Reconnect")), true});
    if (model.remembered(id)) {
        if (!items.isEmpty())
            items.append({PeerMenuAction::divider, {}, true});
        items.append({PeerMenuAction::forget, L(QStringLiteral("Forget This Computer…")), true});
    }
    return items;
}

// ---- PeerView

const QString PeerView::transfersEnd = QStringLiteral("transfers-end");

PeerView::PeerView(AppModel &model, QString id, QString initialName, WindowHeight *height, QWidget *parent)
    : QWidget(parent), model_(&model), id_(std::move(id)), initialName_(std::move(initialName)),
      redraw_(new QTimer(this))
{
    setMinimumWidth(600);
    setAcceptDrops(true);
    redraw_->setSingleShot(true);
    redraw_->setInterval(0);
    connect(redraw_, &QTimer::timeout, this, &PeerView::refresh);

    content_ = new QWidget;
    // Its height is its height for the viewport's width: the minimum heights of the
    // wrapping texts, taken at their narrowest, would make it taller than that.
    content_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    column_ = new QVBoxLayout(content_);
    column_->setContentsMargins(24, 32 - avatarTop, 24, 24);
    column_->setSpacing(22);

    // The header: avatar and more button, name, link line.
    auto *header = new QWidget(content_);
    auto *headerColumn = new QVBoxLayout(header);
    headerColumn->setContentsMargins(0, 0, 0, 6);
    headerColumn->setSpacing(10);
    avatar_ = new PeerAvatar;
    more_ = new MoreButton;
    setPlainToolTip(more_, L(QStringLiteral("More")));
    avatarRow_ = new AvatarRow(avatar_, more_, header);
    moreMenu_ = new QMenu(this);
    connect(more_, &QAbstractButton::clicked, this, &PeerView::openMoreMenu);
    name_ = new TextLabel(QString(), header);
    name_->setFont(Theme::semibold(Theme::title2()));
    name_->setAlignment(Qt::AlignHCenter);
    name_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusRow_ = new QWidget(header);
    auto *statusLine = new QHBoxLayout(statusRow_);
    statusLine->setContentsMargins(0, 0, 0, 0);
    statusLine->setSpacing(6 - 3); // the dot's widget holds 3 pixels of glow on each side
    dot_ = new StatusDot(true, statusRow_);
    link_ = new QLabel(statusRow_);
    link_->setTextFormat(Qt::PlainText);
    Theme::setTone(link_, Tone::secondary);
    statusLine->addStretch(1);
    statusLine->addWidget(dot_);
    statusLine->addWidget(link_);
    statusLine->addStretch(1);
    headerColumn->addWidget(avatarRow_);
    headerColumn->addWidget(name_);
    headerColumn->addWidget(statusRow_);
    column_->addWidget(header);

    // The warning that what was shared last time is gone.
    warning_ = new QWidget(content_);
    auto *warningLine = new QHBoxLayout(warning_);
    warningLine->setContentsMargins(0, 0, 0, 0);
    warningLine->setSpacing(6);
    auto *warningSymbol = new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), 14, warning_);
    Theme::setTone(warningSymbol, Tone::orange);
    auto *warningText =
        new TextLabel(L(QStringLiteral("What you shared last time isn't available. Choose again.")), warning_);
    warningText->setFont(Theme::callout());
    Theme::setTone(warningText, Tone::orange);
    warningLine->addStretch(1);
    warningLine->addWidget(warningSymbol);
    warningLine->addWidget(warningText, 0, Qt::AlignVCenter);
    warningLine->addStretch(1);
    warning_->hide();
    column_->addWidget(warning_);

    // The tiles, equally wide, as tall as the tallest.
    auto *tiles = new QWidget(content_);
    auto *tileRow = new QHBoxLayout(tiles);
    tileRow->setContentsMargins(0, 0, 0, 0);
    tileRow->setSpacing(12);
    for (SharingChoice choice : sharingChoices()) {
        auto *tile = new SharingTile(choice, tiles);
        tiles_[std::size_t(choice)] = tile;
        tileRow->addWidget(tile, 1);
        connect(tile, &QAbstractButton::clicked, this, [this, choice] { tapTile(choice); });
    }
    column_->addWidget(tiles);

    detail_ = new SelectionDetailView(content_);
    connect(detail_, &SelectionDetailView::driveToggled, this, &PeerView::toggleDrive);
    connect(detail_, &SelectionDetailView::changeRequested, this,
            [this](SelectionDetail::Kind kind) { runFolderPanel(kind == SelectionDetail::Kind::receiveFolder); });
    column_->addWidget(detail_);

    options_ = new SharingOptionsView(content_);
    connect(options_->readOnlyRow(), &OptionRow::toggled, this, &PeerView::setReadOnly);
    connect(options_->rememberRow(), &OptionRow::toggled, this, &PeerView::setRemember);
    column_->addWidget(options_);

    pending_ = textLabel(QString(), Theme::callout(), Tone::secondary);
    pending_->setAlignment(Qt::AlignHCenter);
    pending_->hide();
    column_->addWidget(pending_);

    activity_ = new ActivityList(model, id_, content_); // hidden while it lists nothing
    column_->addWidget(activity_);
    column_->addStretch(1);

    area_ = new ScrollArea(this);
    area_->setFrameShape(QFrame::NoFrame);
    // Tab goes through what the area shows, never stopping at the area itself.
    area_->setFocusPolicy(Qt::NoFocus);
    area_->setWidgetResizable(true);
    area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area_->setWidget(content_);
    // A slim scroller without arrows or track, in a grey that reads on both appearances.
    area_->verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { width: 11px; background: transparent; margin: 0; }"
        "QScrollBar::handle:vertical { background: rgba(128, 128, 128, 140); border-radius: 3px;"
        " min-height: 32px; margin: 2px 3px 2px 2px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
    // The window's own background shows through.
    area_->viewport()->setAutoFillBackground(false);
    content_->setAutoFillBackground(false);

    banner_ = new BannerView(model, id_, initialName_, this);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(area_, 1);
    outer->addWidget(banner_);

    overlay_ = new DropOverlay(this);
    keepFocus(this);

    // A window opened while something runs already does not scroll for it.
    lastShare_ = model.share(id_);
    lastRemembered_ = model.remembered(id_).has_value();
    lastMutating_ = model.mutating();
    lastActive_ = activeIds(activityFor(model.status(), id_));
    syncOptions();
    refresh();

    fitsWindowHeight(area_, height);
    connect(&model, &AppModel::changed, this, &PeerView::scheduleRefresh);
}

PeerView::~PeerView() = default;

SharingTile *PeerView::tile(SharingChoice choice) const { return tiles_[std::size_t(choice)]; }

QString PeerView::dropOverlayText() const { return static_cast<DropOverlay *>(overlay_)->text(); }

QString PeerView::shownName() const { return model_ ? cv::shownName(*model_, id_, initialName_) : initialName_; }

void PeerView::scheduleRefresh()
{
    if (!redraw_->isActive())
        redraw_->start();
}

void PeerView::refresh()
{
    redraw_->stop();
    if (!model_)
        return;
    // The switches follow the model, except while a command is in flight: then they
    // keep what the user set until it ends.
    const Share share = model_->share(id_);
    const bool remembered = model_->remembered(id_).has_value();
    const bool mutating = model_->mutating();
    bool sync = false;
    if (share != lastShare_) {
        lastShare_ = share;
        sync = sync || !mutating;
    }
    if (remembered != lastRemembered_) {
        lastRemembered_ = remembered;
        sync = sync || !mutating;
    }
    if (mutating != lastMutating_) {
        lastMutating_ = mutating;
        sync = sync || !mutating;
    }
    if (sync)
        syncOptions();

    refreshHeader();
    refreshSharing();
    refreshActivity();
    banner_->refresh();
    refreshOverlay();
}

void PeerView::refreshHeader()
{
    const AppModel &model = *model_;
    const std::optional<Peer> peer = model.peer(id_);
    const bool known = peer || model.remembered(id_) || model.disconnected().contains(id_);
    avatar_->setHole(known);
    more_->setVisible(known);
    more_->setEnabled(!model.busy());
    const QString name = shownName();
    name_->setRawText(Localization::oneLine(name));
    if (name != std::exchange(lastName_, name))
        emit nameChanged(name);
    const QString moreName = readAloud(L(QStringLiteral("More actions for {name}"), {{QStringLiteral("name"), name}}));
    if (more_->accessibleName() != moreName)
        more_->setAccessibleName(moreName);
    const LinkStatus status = linkStatus(model, id_, [&] { return model.linkDescription(id_); });
    static_cast<StatusDot *>(dot_)->setOnline(status.online);
    if (link_->text() != status.line) {
        link_->setText(status.line);
        link_->setAccessibleName(readAloud(status.line));
        statusRow_->setAccessibleName(readAloud(status.line));
    }
    // Without the service no computer counts as connected: the last speeds say nothing.
    setPlainToolTip(link_, status.online && peer && peer->link_speed ? peer->link_speed->detail() : QString());
}

void PeerView::refreshSharing()
{
    const AppModel &model = *model_;
    warning_->setVisible(savedLocationMissing(model, id_));
    for (SharingTile *tile : tiles_)
        tile->setState(sharingTile(model, id_, tile->choice()));
    detail_->setDetail(selectionDetail(model, id_));
    options_->setRows(sharingOptionRows(model, id_, initialName_), optionValues());
    const bool pending = !model.peer(id_) && model.remembered(id_);
    if (pending) {
        const QString note = L(QStringLiteral("Changes apply the next time {name} connects."),
                               {{QStringLiteral("name"), shownName()}});
        pending_->setText(note);
    }
    pending_->setVisible(pending);
}

void PeerView::refreshActivity()
{
    activity_->refresh();
    const QList<Activity> &items = activity_->items();

    const QStringList active = activeIds(items);
    if (active == lastActive_)
        return;
    lastActive_ = active;
    bool allShown = true;
    for (const QString &id : active)
        allShown = allShown && shownActive_.contains(id);
    shownActive_ = QSet<QString>(active.begin(), active.end());
    if (!allShown) // after the layout that adds the new rows
        QTimer::singleShot(0, this, &PeerView::scrollToEnd);
}

void PeerView::scrollToEnd()
{
    ++scrollsToEnd_;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QWidget *anchor = activity_->endAnchor();
    if (!anchor || activity_->isHidden())
        return;
    QScrollBar *bar = area_->verticalScrollBar();
    const int bottom = anchor->mapTo(content_, QPoint(0, anchor->height())).y();
    const int target = std::clamp(bottom - area_->viewport()->height(), bar->minimum(), bar->maximum());
    if (target == bar->value())
        return;
    auto *animation = new QPropertyAnimation(bar, "value", bar);
    animation->setDuration(250);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setEndValue(target);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void PeerView::refreshOverlay()
{
    auto *overlay = static_cast<DropOverlay *>(overlay_);
    const bool canSend = model_ && model_->canSend(id_);
    const bool shown = dropTargeted_ && model_ && (canSend || model_->canCopy(id_)) && !model_->busy();
    if (shown) {
        overlay->setText(canSend ? L(QStringLiteral("Drop files to send to {name}"), {{QStringLiteral("name"), shownName()}})
                                 : L(QStringLiteral("Drop files to copy at full speed")));
        overlay->setGeometry(rect().adjusted(8, 8, -8, -8));
        overlay->raise();
    }
    overlay->setVisible(shown);
}

void PeerView::syncOptions()
{
    if (!model_)
        return;
    readOnly_ = model_->share(id_).readOnly();
    remember_ = model_->remembered(id_).has_value();
}

void PeerView::openMoreMenu()
{
    if (!model_ || model_->busy())
        return;
    moreMenu_->clear();
    const QPointer<AppModel> model = model_;
    const QString id = id_;
    for (const PeerMenuItem &item : moreMenuItems(*model_, id_)) {
        if (item.action == PeerMenuAction::divider) {
            moreMenu_->addSeparator();
            continue;
        }
        const PeerMenuAction action = item.action;
        QString title = item.title; // a translation's "&" is shown, not read as a shortcut
        moreMenu_->addAction(title.replace(QLatin1Char('&'), QStringLiteral("&&")), moreMenu_, [model, id, action] {
            if (model)
                PeerMenu::perform(*model, id, action);
        });
    }
    // Opened without waiting, so nothing runs a nested event loop here.
    moreMenu_->popup(more_->mapToGlobal(QPoint(MoreButton::margin, more_->height())));
}

void PeerView::tapTile(SharingChoice choice)
{
    if (!model_ || model_->busy())
        return;
    const TileTap tap = tileTap(*model_, id_, choice, optionValues());
    if (tap.pickFolder) {
        runFolderPanel(false);
    } else if (tap.call) {
        tap.call->sendTo(*model_);
    }
}

void PeerView::toggleDrive(const QString &path, bool on)
{
    if (model_ && !model_->busy())
        driveToggle(*model_, id_, path, on, optionValues()).sendTo(*model_);
    // The checkboxes show the model's drives until its next status says otherwise.
    scheduleRefresh();
}

QCoro::Task<> PeerView::runFolderPanel(bool receive)
{
    if (!model_)
        co_return;
    // The pairing code is read now: the panel may stay open through a new status.
    const FolderPanelRequest request =
        receive ? receiveFolderPanel(*model_, id_, initialName_) : folderPanel(*model_, id_, initialName_);
    OpenPanel panel = request.panel();
    panel.canCreateDirectories = request.canCreateFolders;
    const QPointer<PeerView> self(this);
    const QPointer<AppModel> model = model_;
    // The view and the model are looked at again once the panel closed: either may
    // be gone by then.
    QCoro::Task<std::optional<QList<QUrl>>> choice = model->openPanels().run(std::move(panel));
    const std::optional<QList<QUrl>> chosen = co_await std::move(choice);
    if (!self || !model || !chosen || chosen->isEmpty() || !chosen->first().isLocalFile())
        co_return;
    confirmFolderPanel(*model, request, chosen->first().toLocalFile(), optionValues());
}

void PeerView::setReadOnly(bool on)
{
    readOnly_ = on;
    applyOptions();
}

void PeerView::setRemember(bool on)
{
    remember_ = on;
    applyOptions();
}

void PeerView::applyOptions()
{
    if (!model_)
        return;
    if (const std::optional<ChooseCall> call = optionsChange(*model_, id_, optionValues()))
        call->sendTo(*model_);
}

void PeerView::setDropTargeted(bool targeted)
{
    dropTargeted_ = targeted;
    refreshOverlay();
}

void PeerView::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), glass(palette()));
}

bool PeerView::focusNextPrevChild(bool next) { return focusNextStop(this, next) || QWidget::focusNextPrevChild(next); }

void PeerView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    // The first Tab starts at the top, not at whichever control was made first.
    if (!window()->focusWidget())
        setFocus(Qt::OtherFocusReason);
    syncOptions();
    refresh();
}

void PeerView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    overlay_->setGeometry(rect().adjusted(8, 8, -8, -8));
}

void PeerView::dragEnterEvent(QDragEnterEvent *event)
{
    // Every drag of URLs is taken here; whether the drop is wanted is the model's
    // decision when it arrives.
    if (!event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setDropTargeted(true);
}

void PeerView::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void PeerView::dragLeaveEvent(QDragLeaveEvent *event)
{
    setDropTargeted(false);
    QWidget::dragLeaveEvent(event);
}

void PeerView::dropEvent(QDropEvent *event)
{
    setDropTargeted(false);
    if (model_ && model_->acceptDrop(event->mimeData()->urls(), id_))
        event->acceptProposedAction();
    else
        event->ignore();
}

} // namespace cv

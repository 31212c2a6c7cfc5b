#include "views/surfaces.h"

#include "views/theme.h"

#include <QEasingCurve>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

namespace cv {

namespace {

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

QVariantAnimation *fader(QWidget *widget, int ms, QObject *parent)
{
    auto *animation = new QVariantAnimation(parent);
    animation->setDuration(ms);
    animation->setEasingCurve(QEasingCurve::OutQuad);
    animation->setStartValue(0.0);
    animation->setEndValue(0.0);
    QObject::connect(animation, &QVariantAnimation::valueChanged, widget, [widget] { widget->update(); });
    return animation;
}

void moveTo(QVariantAnimation *animation, qreal end, const QWidget *widget)
{
    const qreal from = animation->currentValue().toReal();
    animation->stop();
    animation->setStartValue(from);
    animation->setEndValue(end);
    // A hidden widget has nothing to fade: it just takes the end state.
    if (widget->isVisible())
        animation->start();
    else
        animation->setCurrentTime(animation->duration());
}

} // namespace

SurfaceShape SurfaceShape::circle(const QRectF &rect)
{
    const qreal side = std::min(rect.width(), rect.height());
    QRectF square(0, 0, side, side);
    square.moveCenter(rect.center());
    return {square, side / 2};
}

SurfaceShape SurfaceShape::inset(qreal by) const
{
    return {rect.adjusted(by, by, -by, -by), std::max<qreal>(radius - by, 0)};
}

void SurfaceShape::addTo(QPainterPath &path) const
{
    const qreal r = std::min({radius, rect.width() / 2, rect.height() / 2});
    path.addRoundedRect(rect, r, r);
}

void SurfaceFill::paint(QPainter &painter, const SurfaceShape &shape, const QPalette &palette)
{
    const ThemeColors &c = Theme::colors(palette);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath fill;
    shape.addTo(fill);
    painter.fillPath(fill, c.surfaceFill);
    if (c.surfaceBorder.alpha() > 0) {
        // Stroked half a pixel inside the edge, so the 1 px line lies wholly within.
        QPainterPath border;
        shape.inset(0.5).addTo(border);
        painter.strokePath(border, QPen(c.surfaceBorder, 1));
    }
    painter.restore();
}

void Platter::paint(QPainter &painter, const SurfaceShape &shape, const QPalette &palette,
                    const std::optional<QBrush> &fill)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    shape.addTo(path);
    painter.fillPath(path, fill ? *fill : QBrush(withAlpha(Theme::colors(palette).primary, 0.07)));
    painter.restore();
}

TileMaterial::TileMaterial(QWidget *tile) : QObject(tile), tile_(tile), fade_(fader(tile, 150, this)) {}

void TileMaterial::setHot(bool hot)
{
    if (hot == hot_)
        return;
    hot_ = hot;
    moveTo(fade_, hot ? 0.05 : 0.0, tile_);
}

qreal TileMaterial::overlayOpacity() const { return fade_->currentValue().toReal(); }

void TileMaterial::paintBehind(QPainter &painter, const QRectF &rect) const
{
    SurfaceFill::paint(painter, {rect}, tile_->palette());
}

void TileMaterial::paintFront(QPainter &painter, const QRectF &rect) const
{
    const qreal opacity = overlayOpacity();
    if (opacity <= 0)
        return;
    Platter::paint(painter, {rect}, tile_->palette(),
                   QBrush(withAlpha(Theme::colors(tile_->palette()).primary, opacity)));
}

TilePress::TilePress(QWidget *tile) : QObject(tile), tile_(tile), press_(fader(tile, 120, this)) {}

void TilePress::setPressed(bool pressed)
{
    if (pressed == pressed_)
        return;
    pressed_ = pressed;
    moveTo(press_, pressed ? 1.0 : 0.0, tile_);
}

// The animation runs from 0 (released) to 1 (pressed).
qreal TilePress::scale() const { return 1.0 - 0.02 * press_->currentValue().toReal(); }
qreal TilePress::opacity() const { return 1.0 - 0.15 * press_->currentValue().toReal(); }

void TilePress::apply(QPainter &painter, const QRectF &rect) const
{
    const QPointF centre = rect.center();
    painter.translate(centre);
    painter.scale(scale(), scale());
    painter.translate(-centre);
    painter.setOpacity(painter.opacity() * opacity());
}

GroupMaterial::GroupMaterial(QWidget *parent) : QWidget(parent) {}

void GroupMaterial::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    SurfaceFill::paint(painter, {QRectF(rect())}, palette());
}

} // namespace cv

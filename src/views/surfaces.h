#pragma once

#include <QBrush>
#include <QObject>
#include <QPalette>
#include <QRectF>
#include <QWidget>

#include <optional>

class QPainter;
class QVariantAnimation;

namespace cv {

// The raised surfaces of the computer window (tiles, grouped blocks, the drop
// overlay, the more-menu button, the avatar) share one corner radius and one fill in
// each appearance. A plain anti-aliased rounded rectangle stands in for the
// continuous corner curve. Everything is painted opaque-window-safe: no translucent
// windows, only semi-transparent fills over the window's own background.
namespace Surface {
inline constexpr qreal radius = 20;
} // namespace Surface

// A rounded rectangle (radius `Surface::radius` unless given) or, with `circle`, the
// circle inscribed in the rectangle.
struct SurfaceShape {
    QRectF rect;
    qreal radius = Surface::radius;

    static SurfaceShape circle(const QRectF &rect);
    SurfaceShape inset(qreal by) const;
    void addTo(class QPainterPath &path) const;
};

// The surface colour of the appearance `palette` is in: light, black 5 % without a
// border; dark, white 9 % with a 1 px white 12 % border inside the edge.
struct SurfaceFill {
    static void paint(QPainter &painter, const SurfaceShape &shape, const QPalette &palette);
};

// A plain background in a shape: `fill`, else the primary colour at 7 %.
struct Platter {
    static void paint(QPainter &painter, const SurfaceShape &shape, const QPalette &palette,
                      const std::optional<QBrush> &fill = std::nullopt);
};

// The surface of a sharing tile: SurfaceFill behind the content and, while hot,
// the primary colour at 5 % in front of it; the change fades with a 0.15 s ease-out.
// Owned by the tile widget, which it repaints while fading.
class TileMaterial final : public QObject {
    Q_OBJECT
public:
    explicit TileMaterial(QWidget *tile);
    void setHot(bool hot);
    bool hot() const { return hot_; }
    qreal overlayOpacity() const; // 0 to 0.05

    void paintBehind(QPainter &painter, const QRectF &rect) const;
    void paintFront(QPainter &painter, const QRectF &rect) const;

private:
    QWidget *tile_;
    bool hot_ = false;
    QVariantAnimation *fade_;
};

// The press feedback of a sharing tile: its content drawn at 98 % around the centre
// and at 85 % opacity while pressed, changing with a 0.12 s ease-out. The surface
// around the content is not scaled or dimmed.
class TilePress final : public QObject {
    Q_OBJECT
public:
    explicit TilePress(QWidget *tile);
    void setPressed(bool pressed);
    bool pressed() const { return pressed_; }
    qreal scale() const;
    qreal opacity() const;
    // Applies the current scale and opacity to `painter` for content in `rect`.
    void apply(QPainter &painter, const QRectF &rect) const;

private:
    QWidget *tile_;
    bool pressed_ = false;
    QVariantAnimation *press_;
};

// A container drawn on the surface of a grouped block (SurfaceFill in the rounded
// rectangle of its whole area). Its children keep their own layout.
class GroupMaterial : public QWidget {
    Q_OBJECT
public:
    explicit GroupMaterial(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace cv

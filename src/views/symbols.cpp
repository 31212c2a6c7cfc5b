#include "views/symbols.h"

#include <QFile>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

#include <cmath>
#include <memory>

// Resources of a static library have to be registered by name.
static void initSymbolResources() { Q_INIT_RESOURCE(symbols); }

namespace cv {

namespace {

QSvgRenderer *renderer(const QString &name)
{
    static QHash<QString, std::shared_ptr<QSvgRenderer>> renderers;
    auto found = renderers.constFind(name);
    if (found != renderers.constEnd())
        return found->get();
    auto loaded = std::make_shared<QSvgRenderer>(Symbols::path(name));
    if (!loaded->isValid())
        loaded.reset();
    renderers.insert(name, loaded);
    return loaded.get();
}

// Where element `id` lands when the whole view box is drawn into `target`.
QRectF elementRect(QSvgRenderer &svg, const QString &id, const QRectF &target)
{
    const QRectF box = svg.viewBoxF();
    const QRectF element = svg.transformForElement(id).mapRect(svg.boundsOnElement(id));
    const qreal sx = target.width() / box.width();
    const qreal sy = target.height() / box.height();
    return {target.x() + (element.x() - box.x()) * sx, target.y() + (element.y() - box.y()) * sy,
            element.width() * sx, element.height() * sy};
}

// One layer (the whole file, or one element) in one colour, at `pixels` size.
QImage layer(QSvgRenderer &svg, const QString &id, const QSize &pixels, const QColor &color)
{
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF all(QPointF(0, 0), QSizeF(pixels));
    if (id.isEmpty())
        svg.render(&painter, all);
    else
        svg.render(&painter, id, elementRect(svg, id, all));
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(all, color);
    return image;
}

} // namespace

const QStringList &Symbols::names()
{
    static const QStringList all{
        QStringLiteral("arrow.down.circle"),
        QStringLiteral("arrow.up.circle"),
        QStringLiteral("bolt.circle"),
        QStringLiteral("bolt.fill"),
        QStringLiteral("cable.connector"),
        QStringLiteral("checkmark.circle.fill"),
        QStringLiteral("chevron.right"),
        QStringLiteral("eject"),
        QStringLiteral("ellipsis"),
        QStringLiteral("exclamationmark.circle.fill"),
        QStringLiteral("exclamationmark.triangle"),
        QStringLiteral("exclamationmark.triangle.fill"),
        QStringLiteral("externaldrive"),
        QStringLiteral("folder"),
        QStringLiteral("internaldrive"),
        QStringLiteral("laptopcomputer"),
        QStringLiteral("tray.and.arrow.down"),
        QStringLiteral("xmark"),
        QStringLiteral("xmark.circle"),
    };
    return all;
}

QString Symbols::path(const QString &name)
{
    static const bool registered = (initSymbolResources(), true);
    Q_UNUSED(registered);
    return QStringLiteral(":/symbols/%1.svg").arg(name);
}

bool Symbols::exists(const QString &name) { return renderer(name) != nullptr; }

QPixmap Symbols::pixmap(const QString &name, const QSizeF &size, qreal ratio, const QColor &color,
                        const QColor &secondary)
{
    // Lists repaint the same few symbols over and over.
    const QString key = QStringLiteral("cv-symbol:%1:%2x%3@%4:%5:%6")
                            .arg(name)
                            .arg(size.width())
                            .arg(size.height())
                            .arg(ratio)
                            .arg(color.rgba())
                            .arg(secondary.isValid() ? secondary.rgba() : 0u);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;
    QSvgRenderer *svg = renderer(name);
    const QSize pixels(int(std::ceil(size.width() * ratio)), int(std::ceil(size.height() * ratio)));
    if (!svg || pixels.isEmpty())
        return {};
    const bool twoColours = secondary.isValid() && svg->elementExists(QStringLiteral("primary"))
        && svg->elementExists(QStringLiteral("secondary"));
    QImage image;
    if (twoColours) {
        image = layer(*svg, QStringLiteral("secondary"), pixels, secondary);
        QPainter painter(&image);
        painter.drawImage(0, 0, layer(*svg, QStringLiteral("primary"), pixels, color));
    } else {
        image = layer(*svg, QString(), pixels, color);
    }
    QPixmap result = QPixmap::fromImage(std::move(image));
    result.setDevicePixelRatio(ratio);
    QPixmapCache::insert(key, result);
    return result;
}

void Symbols::paint(QPainter &painter, const QRectF &rect, const QString &name, const QColor &color,
                    const QColor &secondary)
{
    // Rendered at the device's own pixels (ratio and any scaling of the painter).
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QTransform &t = painter.worldTransform();
    const qreal scale = ratio * std::max(std::hypot(t.m11(), t.m12()), 1e-3);
    // Symbols are square: the largest square centred in `rect`.
    const qreal side = std::min(rect.width(), rect.height());
    QRectF square(0, 0, side, side);
    square.moveCenter(rect.center());
    const QPixmap image = pixmap(name, square.size(), scale, color, secondary);
    if (image.isNull())
        return;
    // Placed on whole device pixels, so the image is copied, never resampled.
    QPointF origin = square.topLeft();
    bool invertible = false;
    const QTransform toLogical = t.inverted(&invertible);
    if (invertible && t.type() <= QTransform::TxScale) {
        const QPointF pixel = t.map(origin) * ratio;
        origin = toLogical.map(QPointF(std::round(pixel.x()), std::round(pixel.y())) / ratio);
    }
    const QSizeF logical = QSizeF(image.size()) / scale;
    painter.drawPixmap(QRectF(origin, logical), image, QRectF(image.rect()));
}

QIcon Symbols::icon(const QString &name, int size, const QColor &color)
{
    QIcon icon;
    for (qreal ratio : {1.0, 2.0})
        icon.addPixmap(pixmap(name, QSizeF(size, size), ratio, color));
    return icon;
}

SymbolView::SymbolView(const QString &name, int size, QWidget *parent)
    : QWidget(parent), name_(name), size_(size)
{
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolView::setName(const QString &name)
{
    name_ = name;
    update();
}

void SymbolView::setColor(const QColor &color, const QColor &secondary)
{
    color_ = color;
    secondary_ = secondary;
    update();
}

void SymbolView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor color = color_.isValid() ? color_ : palette().color(QPalette::WindowText);
    Symbols::paint(painter, QRectF(rect()), name_, color, secondary_);
}

} // namespace cv

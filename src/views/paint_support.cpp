#include "views/paint_support.h"

#include <QFile>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>
#include <QWidget>

#include <cmath>

// The symbols live in this static library's resources: register them before use.
static void registerSymbols() { Q_INIT_RESOURCE(symbols); }

namespace cv::paint {

bool isDark(const QPalette &palette) { return palette.color(QPalette::Window).lightnessF() < 0.5; }

QColor color(Tone tone, const QPalette &palette)
{
    const bool dark = isDark(palette);
    auto shade = [dark](double lightAlpha, double darkAlpha) {
        QColor c = dark ? QColor(Qt::white) : QColor(Qt::black);
        c.setAlphaF(float(dark ? darkAlpha : lightAlpha));
        return c;
    };
    switch (tone) {
    case Tone::primary:
        return shade(0.85, 0.85);
    case Tone::secondary:
        return shade(0.50, 0.55);
    case Tone::tertiary:
        return shade(0.26, 0.25);
    case Tone::separator:
        return shade(0.10, 0.10);
    case Tone::accent:
        return dark ? QColor(0x0A, 0x84, 0xFF) : QColor(0x00, 0x7A, 0xFF);
    case Tone::green:
        return dark ? QColor(0x32, 0xD7, 0x4B) : QColor(0x28, 0xCD, 0x41);
    case Tone::orange:
        return dark ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xFF, 0x95, 0x00);
    }
    return {};
}

QFont font(TextStyle style, const QFont &base)
{
    QFont f = base;
    switch (style) {
    case TextStyle::body:
        f.setPixelSize(13);
        break;
    case TextStyle::headline:
        f.setPixelSize(13);
        f.setBold(true);
        break;
    case TextStyle::callout:
        f.setPixelSize(12);
        break;
    case TextStyle::caption:
        f.setPixelSize(10);
        break;
    case TextStyle::title3:
        f.setPixelSize(15);
        break;
    }
    return f;
}

QPixmap symbol(const QString &name, int size, const QColor &color, const QWidget *widget)
{
    static const bool registered = (registerSymbols(), true);
    Q_UNUSED(registered);
    QSvgRenderer renderer(QStringLiteral(":/symbols/%1.svg").arg(name));
    if (!renderer.isValid())
        return {};
    const qreal ratio = widget ? widget->devicePixelRatioF() : 1.0;
    const int pixels = int(std::ceil(size * ratio));
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, pixels, pixels));
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), color);
    }
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QString literal(QString text) { return text.replace(QLatin1Char('&'), QStringLiteral("&&")); }

} // namespace cv::paint

#include "app/app_icons.h"

#include "platform/app_bundle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

namespace cv {

namespace {

// The status icon's size in points.
constexpr int statusPoints = 18;

} // namespace

std::optional<QString> AppIcons::resource(const QString &name, const QString &extension,
                                          const AppBundle &bundle)
{
    if (auto installed = bundle.resource(name, extension))
        return installed;
    const QString folder = bundle.executableFolder();
    if (folder.isEmpty())
        return std::nullopt;
    const QString candidate = folder + QStringLiteral("/Resources/") + name + QLatin1Char('.') + extension;
    if (!QFileInfo(candidate).isFile())
        return std::nullopt;
    return candidate;
}

void AppIcons::installApplicationIcon()
{
    installApplicationIcon(AppBundle::main());
}

void AppIcons::installApplicationIcon(const AppBundle &bundle)
{
    // Wayland compositors and most docks find the icon through the desktop entry,
    // which is installed under the bundle identifier.
    if (const auto identifier = bundle.bundleIdentifier())
        QGuiApplication::setDesktopFileName(*identifier);

    QStringList candidates;
    if (const auto icns = resource(QStringLiteral("AppIcon"), QStringLiteral("icns"), bundle))
        candidates << *icns << QFileInfo(*icns).dir().filePath(QStringLiteral("AppIcon.png"));
    else if (const auto png = resource(QStringLiteral("AppIcon"), QStringLiteral("png"), bundle))
        candidates << *png;
    for (const QString &path : candidates) {
        const QImage image(path);
        if (image.isNull())
            continue;
        QGuiApplication::setWindowIcon(QIcon(QPixmap::fromImage(image)));
        return;
    }
}

QIcon AppIcons::statusIcon()
{
    return statusIcon(AppBundle::main());
}

QIcon AppIcons::statusIcon(const AppBundle &bundle)
{
    QIcon icon;
    for (const QString &name : {QStringLiteral("StatusIconTemplate"), QStringLiteral("StatusIconTemplate@2x")}) {
        const auto path = resource(name, QStringLiteral("png"), bundle);
        if (!path)
            continue;
        QFile file(*path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            continue;
        QImage image = QImage::fromData(bytes);
        if (image.isNull() || image.width() <= 0)
            continue;
        // Whatever its pixels, the file draws 18 points wide: twice the pixels make
        // it the 2x form.
        image.setDevicePixelRatio(qreal(image.width()) / statusPoints);
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace cv

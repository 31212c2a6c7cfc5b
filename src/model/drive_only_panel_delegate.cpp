#include "model/drive_only_panel_delegate.h"

#include "localization/localization.h"

#include <QDir>

#include <memory>

namespace cv {

QString localPath(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    // "file://localhost/x" is this computer's "/x"; a file on any other host is not
    // here, whatever its path says.
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return {};
    const QString path = url.path(QUrl::FullyDecoded);
    if (!path.startsWith(QLatin1Char('/')))
        return {};
    return path;
}

QString standardizedPath(const QString &path)
{
    if (path.isEmpty())
        return path;
    QString clean = QDir::cleanPath(path);
    // There is nothing above the top folder: "/../a" is "/a".
    while (clean == QLatin1String("/..") || clean.startsWith(QLatin1String("/../")))
        clean.remove(0, 3);
    return clean.isEmpty() ? QStringLiteral("/") : clean;
}

QString standardizedPath(const QUrl &url)
{
    return standardizedPath(localPath(url));
}

bool isWithin(const QString &path, const QString &ancestor)
{
    if (path.isEmpty() || ancestor.isEmpty())
        return false;
    if (path == ancestor)
        return true;
    const QString prefix = ancestor.endsWith(QLatin1Char('/')) ? ancestor : ancestor + QLatin1Char('/');
    return path.startsWith(prefix);
}

DriveOnlyPanelDelegate::DriveOnlyPanelDelegate(const QUrl &root, QString computer)
    : rootPath_(standardizedPath(root)), computer_(std::move(computer))
{
    root_ = rootPath_.isEmpty() ? root : QUrl::fromLocalFile(rootPath_);
}

bool DriveOnlyPanelDelegate::inside(const QUrl &url) const
{
    return isWithin(standardizedPath(url), rootPath_);
}

std::optional<OpenPanelRefusal> DriveOnlyPanelDelegate::validate(const QUrl &url) const
{
    if (inside(url))
        return std::nullopt;
    const LValues values{{QStringLiteral("name"), computer_}};
    return OpenPanelRefusal{
        L(QStringLiteral("Choose files and folders on {name}."), values),
        L(QStringLiteral("Get Files copies from {name} to your Downloads folder."), values),
    };
}

void DriveOnlyPanelDelegate::install(OpenPanel &panel, const QUrl &root, QString computer)
{
    auto delegate = std::make_shared<const DriveOnlyPanelDelegate>(root, std::move(computer));
    panel.shouldEnable = [delegate](const QUrl &url) { return delegate->shouldEnable(url); };
    panel.validate = [delegate](const QUrl &url) { return delegate->validate(url); };
}

} // namespace cv

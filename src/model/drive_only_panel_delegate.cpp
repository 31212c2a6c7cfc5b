#include "model/drive_only_panel_delegate.h"

#include "localization/localization.h"

#include <QDir>

#include <memory>

namespace cv {

QString standardizedPath(const QString &path)
{
    if (path.isEmpty())
        return path;
    return QDir::cleanPath(path);
}

QString standardizedPath(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    return standardizedPath(url.toLocalFile());
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

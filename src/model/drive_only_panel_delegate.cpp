#include "model/drive_only_panel_delegate.h"

#include "localization/localization.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

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

QString resolvedPath(const QString &path)
{
    QString existing = standardizedPath(path);
    if (existing.isEmpty())
        return {};
    // Walk up to the nearest folder that exists; what lies below it must not exist at
    // all (a dangling link exists, and leads who knows where).
    QString rest;
    for (;;) {
        const QString real = QFileInfo(existing).canonicalFilePath();
        if (!real.isEmpty())
            return rest.isEmpty() ? real : standardizedPath(real + QLatin1Char('/') + rest);
        struct stat info;
        if (::lstat(QFile::encodeName(existing).constData(), &info) == 0 || errno != ENOENT)
            return {};
        const qsizetype slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash < 0 || existing == QLatin1String("/"))
            return {};
        const QString name = existing.mid(slash + 1);
        rest = rest.isEmpty() ? name : name + QLatin1Char('/') + rest;
        existing = slash == 0 ? QStringLiteral("/") : existing.left(slash);
    }
}

bool leadsWithin(const QString &path, const QString &ancestor)
{
    return isWithin(resolvedPath(path), resolvedPath(ancestor));
}

DriveOnlyPanelDelegate::DriveOnlyPanelDelegate(const QUrl &root, QString computer)
    : rootPath_(resolvedPath(standardizedPath(root))), computer_(std::move(computer))
{
    const QString standardized = standardizedPath(root);
    root_ = standardized.isEmpty() ? root : QUrl::fromLocalFile(standardized);
}

bool DriveOnlyPanelDelegate::inside(const QUrl &url) const
{
    // Compared where both really lead: a link inside the share may point out of it.
    return isWithin(resolvedPath(standardizedPath(url)), rootPath_);
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

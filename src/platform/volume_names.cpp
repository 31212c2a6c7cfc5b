#include "platform/volume_names.h"

#include <QDir>
#include <QStorageInfo>

#include <atomic>

namespace cv {
namespace {

std::atomic<const VolumeNames *> substituted{nullptr};

} // namespace

QString VolumeNames::displayName(const QString &path) const
{
    if (path == QLatin1String("/") || path == QLatin1String("/System/Volumes/Data"))
        return startupName();
    if (const std::optional<QString> label = volumeLabel(path); label && !label->isEmpty())
        return *label;
    const QString last = lastComponent(path);
    return last.isEmpty() ? path : last;
}

QString VolumeNames::startupName() const { return startupNameFor(QStorageInfo::root().name()); }

// An unlabelled root is named as the file managers name "/".
QString VolumeNames::startupNameFor(const QString &label)
{
    return label.isEmpty() ? QStringLiteral("File System") : label;
}

std::optional<QString> VolumeNames::volumeLabel(const QString &path) const
{
    if (path.isEmpty())
        return std::nullopt;
    const QStorageInfo storage(path);
    if (!storage.isValid() || !storage.isReady())
        return std::nullopt;
    if (QDir::cleanPath(storage.rootPath()) != QDir::cleanPath(QDir(path).absolutePath()))
        return std::nullopt;
    const QString label = storage.name();
    if (label.isEmpty())
        return std::nullopt;
    return label;
}

const VolumeNames &VolumeNames::current()
{
    static const VolumeNames system;
    const VolumeNames *names = substituted.load();
    return names ? *names : system;
}

void VolumeNames::substitute(const VolumeNames *names) { substituted.store(names); }

// Trailing slashes carry no meaning, except for the root itself.
QString VolumeNames::withoutTrailingSlashes(const QString &path)
{
    qsizetype end = path.size();
    while (end > 1 && path.at(end - 1) == QLatin1Char('/'))
        --end;
    return path.left(end);
}

QString VolumeNames::lastComponent(const QString &path)
{
    const QString trimmed = withoutTrailingSlashes(path);
    if (trimmed == QLatin1String("/"))
        return trimmed;
    return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

QString VolumeNames::withoutLastComponent(const QString &path)
{
    const QString trimmed = withoutTrailingSlashes(path);
    const qsizetype slash = trimmed.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    if (slash == 0)
        return QStringLiteral("/");
    return trimmed.left(slash);
}

} // namespace cv

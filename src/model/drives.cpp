#include "model/drives.h"

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

namespace cv {

namespace {

// Where desktop systems mount the volumes a user plugs in or adds.
bool underVolumeFolders(const QString &path)
{
    return path.startsWith(QLatin1String("/media/")) || path.startsWith(QLatin1String("/run/media/"))
        || path.startsWith(QLatin1String("/mnt/"));
}

// A volume whose mount point (or a folder above it) begins with a dot is hidden.
bool hidden(const QString &path)
{
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        if (part.startsWith(QLatin1Char('.')))
            return true;
    }
    return false;
}

// A local volume lives on a block device of this computer; network file systems
// name a server instead (and FUSE mounts of remote places name no device).
bool local(const MountedVolume &volume)
{
    static const QList<QByteArray> network = {
        "nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "9p", "ceph", "glusterfs",
        "fuse.sshfs", "fuse.rclone", "fuse.davfs", "davfs", "fuse.gvfsd-fuse",
    };
    return volume.device.startsWith(QLatin1String("/dev/")) && !network.contains(volume.fileSystemType);
}

QString lastComponent(const QString &path)
{
    const QString name = QFileInfo(QDir::cleanPath(path)).fileName();
    return name.isEmpty() ? path : name;
}

} // namespace

namespace Drives {

QString startupName() { return startupName(VolumeSource::system()); }

QString startupName(const VolumeSource &volumes)
{
    const std::optional<MountedVolume> root = volumes.volumeOf(QStringLiteral("/"));
    if (root && root->ready && !root->label.isEmpty())
        return root->label;
    return QStringLiteral("Macintosh HD");
}

bool readPreviewMultiDrive() { return qgetenv("CV_MAC_PREVIEW_MULTI_DRIVE") == "1"; }

bool previewMultiDrive()
{
    static const bool on = readPreviewMultiDrive();
    return on;
}

QList<Drive> previewDrives()
{
    return {
        Drive{QStringLiteral("/Volumes/External SSD"), QStringLiteral("External SSD"), true},
        Drive{QStringLiteral("/Volumes/Photos"), QStringLiteral("Photos"), true},
    };
}

QList<Drive> shareable() { return shareable(VolumeSource::system(), previewMultiDrive()); }

QList<Drive> shareable(const VolumeSource &volumes, bool withPreviewDrives)
{
    QList<Drive> drives{Drive{QStringLiteral("/"), startupName(volumes), false}};
    if (withPreviewDrives)
        drives.append(previewDrives());
    const QList<MountedVolume> mounted = volumes.mountedVolumes();
    for (const MountedVolume &volume : mounted) {
        if (!underVolumeFolders(volume.rootPath) || !volume.ready || !local(volume) || hidden(volume.rootPath)
            || volume.rootFileSystem)
            continue;
        const QString name = volume.label.isEmpty() ? lastComponent(volume.rootPath) : volume.label;
        // A disk that does not say it is fixed counts as external.
        drives.append(Drive{volume.rootPath, name, volume.removable.value_or(true)});
    }
    return drives;
}

QString displayName(const QString &path) { return displayName(path, VolumeSource::system()); }

QString displayName(const QString &path, const VolumeSource &volumes)
{
    if (path == QLatin1String("/") || path == dataVolume)
        return startupName(volumes);
    if (const std::optional<MountedVolume> volume = volumes.volumeOf(path)) {
        if (volume->ready && !volume->label.isEmpty()
            && QDir::cleanPath(volume->rootPath) == QDir::cleanPath(path))
            return volume->label;
    }
    return lastComponent(path);
}

} // namespace Drives

} // namespace cv

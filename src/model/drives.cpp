#include "model/drives.h"

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

} // namespace

namespace Drives {

QString startupName() { return VolumeNames::current().startupName(); }

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
    QList<Drive> drives{Drive{QStringLiteral("/"), startupName(), false}};
    if (withPreviewDrives)
        drives.append(previewDrives());
    const QList<MountedVolume> mounted = volumes.mountedVolumes();
    for (const MountedVolume &volume : mounted) {
        if (!underVolumeFolders(volume.rootPath) || !volume.ready || !local(volume) || hidden(volume.rootPath)
            || volume.rootFileSystem)
            continue;
        const QString name = volume.label.isEmpty() ? VolumeNames::lastComponent(volume.rootPath) : volume.label;
        // A disk that does not say it is fixed counts as external.
        drives.append(Drive{volume.rootPath, name, volume.removable.value_or(true)});
    }
    return drives;
}

QString displayName(const QString &path) { return VolumeNames::current().displayName(path); }

} // namespace Drives

} // namespace cv

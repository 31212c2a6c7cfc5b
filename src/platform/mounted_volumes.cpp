#include "platform/mounted_volumes.h"

#include "platform/files.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace cv {

const VolumeSource &VolumeSource::system()
{
    // Never destroyed: a listing may still run on another thread while the process ends.
    static const SystemVolumeSource *const source = new SystemVolumeSource;
    return *source;
}

SystemVolumeSource::SystemVolumeSource(QString sysRoot) : sysRoot_(std::move(sysRoot)) {}

std::optional<bool> SystemVolumeSource::removable(const QString &sysRoot, const QString &deviceName)
{
    if (deviceName.isEmpty() || deviceName.contains(QLatin1Char('/')) || deviceName.startsWith(QLatin1Char('.')))
        return std::nullopt;
    QString disk = deviceName;
    // A partition sits inside its disk's folder: /sys/class/block/sdb1 leads to
    // .../block/sdb/sdb1.
    const QString classEntry = sysRoot + QStringLiteral("/class/block/") + deviceName;
    if (QFileInfo::exists(classEntry + QStringLiteral("/partition"))) {
        const QString real = QFileInfo(classEntry).canonicalFilePath();
        if (real.isEmpty())
            return std::nullopt;
        disk = QFileInfo(QFileInfo(real).path()).fileName();
    }
    const QString flag = files::attribute(sysRoot + QStringLiteral("/block/") + disk + QStringLiteral("/removable"));
    if (flag == QLatin1String("1"))
        return true;
    if (flag == QLatin1String("0"))
        return false;
    return std::nullopt;
}

static MountedVolume describe(const QStorageInfo &storage, const QString &sysRoot)
{
    MountedVolume volume;
    volume.rootPath = storage.rootPath();
    volume.device = QString::fromLocal8Bit(storage.device());
    volume.fileSystemType = storage.fileSystemType();
    volume.label = storage.name();
    volume.ready = storage.isValid() && storage.isReady();
    volume.rootFileSystem = storage.isRoot();
    if (volume.device.startsWith(QLatin1String("/dev/"))) {
        // /dev/mapper/x and /dev/disk/by-…/y are links to the kernel's own name.
        QString real = QFileInfo(volume.device).canonicalFilePath();
        if (real.isEmpty())
            real = volume.device;
        volume.removable = SystemVolumeSource::removable(sysRoot, QFileInfo(real).fileName());
    }
    return volume;
}

QList<MountedVolume> SystemVolumeSource::mountedVolumes() const
{
    QList<MountedVolume> volumes;
    const QList<QStorageInfo> mounted = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &storage : mounted)
        volumes.append(describe(storage, sysRoot_));
    return volumes;
}

} // namespace cv

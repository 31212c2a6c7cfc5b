#include "fake_volume_source.h"

namespace cv::test {

QList<MountedVolume> FakeVolumeSource::mountedVolumes() const
{
    ++listings_;
    return volumes;
}

std::optional<MountedVolume> FakeVolumeSource::volumeOf(const QString &path) const
{
    if (volumeByPath.contains(path))
        return volumeByPath.value(path);
    std::optional<MountedVolume> best = root;
    QList<MountedVolume> all = volumes;
    for (const MountedVolume &volume : all) {
        const QString prefix = volume.rootPath.endsWith(QLatin1Char('/')) ? volume.rootPath : volume.rootPath + QLatin1Char('/');
        if ((path == volume.rootPath || path.startsWith(prefix))
            && (!best || best->rootPath.size() < volume.rootPath.size()))
            best = volume;
    }
    return best;
}

MountedVolume FakeVolumeSource::localVolume(const QString &rootPath, const QString &label, std::optional<bool> removable)
{
    MountedVolume volume;
    volume.rootPath = rootPath;
    volume.device = QStringLiteral("/dev/sdz1");
    volume.fileSystemType = "ext4";
    volume.label = label;
    volume.ready = true;
    volume.rootFileSystem = rootPath == QLatin1String("/");
    volume.removable = removable;
    return volume;
}

} // namespace cv::test

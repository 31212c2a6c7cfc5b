#include "fake_volume_source.h"

namespace cv::test {

QList<MountedVolume> FakeVolumeSource::mountedVolumes() const
{
    ++listings_;
    return volumes;
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

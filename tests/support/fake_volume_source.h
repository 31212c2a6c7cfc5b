#pragma once

#include "platform/mounted_volumes.h"

#include <QList>
#include <QMap>

#include <atomic>

namespace cv::test {

// A volume source answering from lists a test fills in; counts how often the
// volumes were listed.
class FakeVolumeSource final : public VolumeSource {
public:
    QList<MountedVolume> volumes;
    // volumeOf(path) answers from here, else from the volume in `volumes` (or
    // `root`) with the longest root path containing `path`.
    QMap<QString, MountedVolume> volumeByPath;
    // The root file system; volumeOf("/") answers it.
    std::optional<MountedVolume> root;

    QList<MountedVolume> mountedVolumes() const override;
    std::optional<MountedVolume> volumeOf(const QString &path) const override;

    int listings() const { return listings_; }

    // A ready local volume on a block device.
    static MountedVolume localVolume(const QString &rootPath, const QString &label = {},
                                     std::optional<bool> removable = true);

private:
    mutable std::atomic<int> listings_{0};
};

} // namespace cv::test

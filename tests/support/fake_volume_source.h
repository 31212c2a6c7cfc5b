#pragma once

#include "platform/mounted_volumes.h"

#include <QList>

#include <atomic>

namespace cv::test {

// A volume source answering from lists a test fills in; counts how often the
// volumes were listed.
class FakeVolumeSource final : public VolumeSource {
public:
    QList<MountedVolume> volumes;

    QList<MountedVolume> mountedVolumes() const override { return ++listings_, volumes; }
    int listings() const { return listings_; }

    // A ready local volume on a block device.
    static MountedVolume localVolume(const QString &rootPath, const QString &label = {}, std::optional<bool> removable = true)
    {
        return {rootPath, QStringLiteral("/dev/sdz1"), "ext4", label, true, rootPath == QLatin1String("/"), removable};
    }

private:
    mutable std::atomic<int> listings_{0};
};

} // namespace cv::test

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace cv {

// What the system tells about one mounted volume. Deciding which volumes count
// (shareable, local, hidden) is left to the caller.
struct MountedVolume {
    QString rootPath;          // the mount point, "/" for the root file system
    QString device;            // "/dev/sdb1", "server:/export", "tmpfs" ...
    QByteArray fileSystemType; // "ext4", "vfat", "nfs4" ...
    QString label;             // the volume label, empty when it has none
    bool ready = false;        // its properties could be read
    bool rootFileSystem = false;
    std::optional<bool> removable; // the disk's removable flag, when known

    friend bool operator==(const MountedVolume &, const MountedVolume &) = default;
};

// The mounted volumes of this computer. Implementations are safe to call from any
// thread.
class VolumeSource {
public:
    virtual ~VolumeSource() = default;

    // Every mounted volume, in the system's order.
    virtual QList<MountedVolume> mountedVolumes() const = 0;

    // The process-wide source over the real system.
    static const VolumeSource &system();
};

// The mounted volumes as QStorageInfo reports them, with the removable flag read
// from sysfs under `sysRoot`.
class SystemVolumeSource final : public VolumeSource {
public:
    explicit SystemVolumeSource(QString sysRoot = QStringLiteral("/sys"));

    QList<MountedVolume> mountedVolumes() const override;

    // The removable flag of the disk holding the block device `deviceName` (a kernel
    // name such as "sdb" or "sdb1"; a partition answers for its disk), read from
    // <sysRoot>/block/<disk>/removable. None when it cannot be read.
    static std::optional<bool> removable(const QString &sysRoot, const QString &deviceName);

private:
    QString sysRoot_;
};

} // namespace cv

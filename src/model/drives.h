#pragma once

#include "platform/mounted_volumes.h"
#include "platform/volume_names.h"

#include <QList>
#include <QString>

namespace cv {

// A volume this computer can share.
struct Drive {
    QString path;          // the mount path, "/" for the startup disk
    QString name;          // the name shown to the user
    bool external = false; // not an internal disk

    friend bool operator==(const Drive &, const Drive &) = default;
};

// The shareable drives and their names. The model reads the list through its 5 s
// cache; nothing here keeps state apart from the preview switch.
namespace Drives {

// The data volume of a Mac's startup disk; named like the startup disk.
inline const QString dataVolume = QStringLiteral("/System/Volumes/Data");

// The startup disk's name: the label of the root file system, else "File System".
// Read afresh on each call.
QString startupName();

// True when CV_MAC_PREVIEW_MULTI_DRIVE is exactly "1". Read once, on first use.
bool previewMultiDrive();
// The same rule, applied to the environment as it is now.
bool readPreviewMultiDrive();

// "External SSD" and "Photos", the two made-up drives the preview adds.
QList<Drive> previewDrives();

// The drives this computer can share, in display order: the startup disk, the
// preview drives when previewMultiDrive(), then the mounted local volumes under
// /media/, /run/media/ and /mnt/ that are not hidden.
QList<Drive> shareable();
QList<Drive> shareable(const VolumeSource &volumes, bool withPreviewDrives);

// The name to show for a path: the startup disk's name for "/" and dataVolume, a
// volume's label for the root of a labelled volume, else the last path component
// (else the path itself). The record texts name drives the same way.
QString displayName(const QString &path);

} // namespace Drives

} // namespace cv

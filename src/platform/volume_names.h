#pragma once

#include <QString>

#include <optional>

namespace cv {

// How drives and folders are named to the user. The system's names come from the
// mounted volumes; tests substitute their own (tests/support/fake_volume_names.h).
class VolumeNames {
public:
    virtual ~VolumeNames() = default;

    // The startup volume's name for "/" and the startup data volume; a volume root's
    // label; otherwise the path's last component (the path itself when it has none).
    QString displayName(const QString &path) const;

    // The startup volume's name: startupNameFor() of the root file system's label.
    virtual QString startupName() const;
    // The name of a root file system labelled `label`: the label, else "File System".
    static QString startupNameFor(const QString &label);

    // The names in use: the system's unless a test substituted its own.
    static const VolumeNames &current();
    // Uses `names` (not owned, must outlive its use) until the next call; nullptr
    // restores the system's names.
    static void substitute(const VolumeNames *names);

    // The last component of a path, the way a file URL names it: "/a/b/" gives "b",
    // "/" gives "/", "" gives "".
    static QString lastComponent(const QString &path);
    // The path without its last component: "/a/b/" gives "/a", "/a" gives "/",
    // "b" gives "".
    static QString withoutLastComponent(const QString &path);
    // The path without trailing slashes: "/a/b//" gives "/a/b", "/" stays "/".
    static QString withoutTrailingSlashes(const QString &path);

protected:
    // The label of the volume mounted exactly at `path`, when it has one.
    virtual std::optional<QString> volumeLabel(const QString &path) const;
};

} // namespace cv

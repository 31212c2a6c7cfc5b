#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace cv {

// What the move into an Applications folder needs of the system: where the running
// application lies, file operations with the user's Trash, other running copies,
// translocation, disk images, the quarantine mark, detached helper processes and
// launching the installed copy. File operations throw PlatformError with the system's
// text. Main thread only.
class InstallSystem {
public:
    virtual ~InstallSystem() = default;

    // The running application's bundle as the system reports it (translocated
    // location included), and its identifier.
    virtual QString bundlePath() const = 0;
    virtual std::optional<QString> bundleIdentifier() const = 0;

    virtual bool exists(const QString &path) const = 0;
    // Whether this user may create and delete entries in the folder `path`.
    virtual bool isWritableFolder(const QString &path) const = 0;
    // Creates `path` and every missing folder above it.
    virtual void createFolders(const QString &path) = 0;
    // Copies the tree at `from` to the new path `to`; symbolic links are copied as links.
    virtual void copyTree(const QString &from, const QString &to) = 0;
    // Moves `path` into the user's Trash.
    virtual void trash(const QString &path) = 0;
    // Renames `from` to `to` within one folder.
    virtual void move(const QString &from, const QString &to) = 0;
    // Deletes the tree at `path`; false when something is left.
    virtual bool remove(const QString &path) = 0;
    // Every item below the folder, as paths relative to it, at all depths.
    virtual QStringList enumerate(const QString &folder) const = 0;

    // Removes the download-quarantine mark of one item (not following a symbolic
    // link); false when there was none or it could not be removed.
    virtual bool removeQuarantine(const QString &path) = 0;

    // The process ids of every running application with this identifier.
    virtual QList<qint64> runningApplications(const QString &identifier) const = 0;
    // Asks the application `pid` to quit through its own quit handling.
    virtual void terminateApplication(qint64 pid) = 0;
    virtual bool isTerminated(qint64 pid) const = 0;

    // The real location of a translocated bundle, none when it is not translocated.
    virtual std::optional<QString> originalPath(const QString &bundle) const = 0;
    // The root of the volume holding `path`, none when it cannot be read.
    virtual std::optional<QString> volumePath(const QString &path) const = 0;
    // Whether the volume at `volume` is a mounted disk image.
    virtual bool isDiskImage(const QString &volume) const = 0;

    // Starts `program` with `arguments` as a process that outlives this one, its
    // output to the null device; false when it could not be started.
    virtual bool startDetached(const QString &program, const QStringList &arguments) = 0;
    // Launches the bundle at `path` as a new instance, even while this one runs.
    virtual void openApplication(const QString &path) = 0;

    static InstallSystem &system();
};

// Linux: real files (the freedesktop Trash through QFile::moveToTrash) and processes.
// There are no application bundles, so the bundle is the executable file itself, which
// is never taken for one; translocation, disk images, quarantine marks and other running
// bundles do not exist, and an application bundle cannot be launched.
class LinuxInstallSystem : public InstallSystem {
public:
    QString bundlePath() const override;
    std::optional<QString> bundleIdentifier() const override;
    bool exists(const QString &path) const override;
    bool isWritableFolder(const QString &path) const override;
    void createFolders(const QString &path) override;
    void copyTree(const QString &from, const QString &to) override;
    void trash(const QString &path) override;
    void move(const QString &from, const QString &to) override;
    bool remove(const QString &path) override;
    QStringList enumerate(const QString &folder) const override;
    bool removeQuarantine(const QString &) override { return false; }
    QList<qint64> runningApplications(const QString &) const override { return {}; }
    void terminateApplication(qint64) override {}
    bool isTerminated(qint64) const override { return true; }
    std::optional<QString> originalPath(const QString &) const override { return std::nullopt; }
    std::optional<QString> volumePath(const QString &path) const override;
    bool isDiskImage(const QString &) const override { return false; }
    bool startDetached(const QString &program, const QStringList &arguments) override;
    void openApplication(const QString &path) override;
};

} // namespace cv

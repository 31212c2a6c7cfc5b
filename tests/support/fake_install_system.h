#pragma once

#include "platform/install_system.h"

#include <QDir>
#include <QMap>
#include <QSet>

namespace cv::test {

// Real files in temporary folders, with the bundle, the Trash, other running copies
// and disk images played from its fields and recorded.
class FakeInstallSystem final : public LinuxInstallSystem {
public:
    QString bundle;                                  // the running bundle
    std::optional<QString> identifier = QStringLiteral("app.corvane.Corvane");
    QSet<QString> unwritable;                        // folders this user may not change
    QString trashFolder;                             // where trashed items go
    QStringList trashed;
    QMap<qint64, int> others;                        // pid to looks until it has ended (-1: never)
    QList<qint64> terminated;
    std::optional<QString> volume;                   // the volume of every path (none: the real one)
    bool diskImage = false;
    QList<QStringList> detached;                     // program, then its arguments

    QString bundlePath() const override { return bundle; }
    std::optional<QString> bundleIdentifier() const override { return identifier; }
    bool isWritableFolder(const QString &path) const override { return !unwritable.contains(path); }
    void trash(const QString &path) override
    {
        trashed << path;
        QDir().mkpath(trashFolder);
        LinuxInstallSystem::move(path, trashFolder + QStringLiteral("/") + QString::number(trashed.size()));
    }
    QList<qint64> runningApplications(const QString &) const override { return others.keys(); }
    void terminateApplication(qint64 pid) override { terminated << pid; }
    bool isTerminated(qint64 pid) const override
    {
        int &left = const_cast<QMap<qint64, int> &>(others)[pid];
        if (left <= 0)
            return left == 0;
        --left;
        return false;
    }
    std::optional<QString> volumePath(const QString &path) const override
    {
        return volume ? volume : LinuxInstallSystem::volumePath(path);
    }
    bool isDiskImage(const QString &) const override { return diskImage; }
    bool startDetached(const QString &program, const QStringList &arguments) override
    {
        detached << (QStringList{program} + arguments);
        return true;
    }
};

} // namespace cv::test

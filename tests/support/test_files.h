#pragma once

// Files, folders and environment variables for tests.

#include "platform/app_bundle.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <optional>
#include <sys/stat.h>

namespace cv::test {

// The file's bytes, or nothing when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes `bytes` to `path`, creating the folders above it.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The permission bits of `path`, or 0 when it does not exist.
inline mode_t modeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Sets an environment variable for the life of the object (none: unsets it).
class ScopedEnv {
public:
    ScopedEnv(const char *name, std::optional<QByteArray> value) : name_(name)
    {
        if (qEnvironmentVariableIsSet(name))
            old_ = qgetenv(name);
        value ? void(qputenv(name, *value)) : void(qunsetenv(name));
    }
    ~ScopedEnv() { old_ ? void(qputenv(name_, *old_)) : void(qunsetenv(name_)); }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *name_;
    std::optional<QByteArray> old_;
};

// An installed-looking prefix in a temporary folder (<root>/bin/corvane beside
// <root>/share/corvane, so the bundle counts as packaged) with an executable
// cv-mac-service beside the application.
class InstalledApp {
public:
    InstalledApp()
    {
        QDir().mkpath(dir_.filePath(QStringLiteral("prefix/share/corvane")));
        writeFile(executable(), "#!/bin/sh\n");
        writeFile(service(), "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(service(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QString executable() const { return dir_.filePath(QStringLiteral("prefix/bin/corvane")); }
    QString service() const { return dir_.filePath(QStringLiteral("prefix/bin/cv-mac-service")); }

    // The bundle's info naming a login agent for the service, and the bundle.
    static QMap<QString, QString> agentInfo(const QString &agent = QStringLiteral("app.corvane.Corvane.service.plist"))
    {
        QMap<QString, QString> info = AppBundle::defaultInfo();
        info.insert(QStringLiteral("CVServiceAgentPlist"), agent);
        return info;
    }
    AppBundle bundle() const { return AppBundle(executable(), agentInfo()); }

private:
    QTemporaryDir dir_;
};

} // namespace cv::test

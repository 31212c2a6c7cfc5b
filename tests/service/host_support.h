#pragma once

// Shared by the service-host and login-agent tests.

#include "platform/app_bundle.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QCoroTask>

#include <csignal>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace cv::test {

inline void clearServiceEnvironment()
{
    for (const char *name : {"CV_MAC_SERVICE", "CV_MAC_STATE_DIR", "CV_MAC_RUNTIME_DIR", "CV_MAC_MOUNT_ROOT",
                             "CV_MAC_NFS_HELPER", "CV_STANDIN_SCRIPT", "CV_STANDIN_RECORD", "CV_STANDIN_ARGS"})
        qunsetenv(name);
}

inline QString serviceLogFolder() { return QDir::homePath() + QStringLiteral("/Library/Logs/Corvane"); }
inline QString serviceLog() { return serviceLogFolder() + QStringLiteral("/service.log"); }

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline mode_t modeOf(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

// An installed-looking prefix (<root>/bin/corvane beside <root>/share/corvane), so
// the bundle counts as packaged; optionally with an executable cv-mac-service.
class InstalledPrefix {
public:
    InstalledPrefix()
    {
        QDir().mkpath(dir_.filePath(QStringLiteral("prefix/bin")));
        QDir().mkpath(dir_.filePath(QStringLiteral("prefix/share/corvane")));
        writeFile(executable(), "#!/bin/sh\n");
    }
    QString executable() const { return dir_.filePath(QStringLiteral("prefix/bin/corvane")); }
    QString service() const { return dir_.filePath(QStringLiteral("prefix/bin/cv-mac-service")); }
    void installService()
    {
        writeFile(service(), "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(service(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    AppBundle bundle(bool agentPlist = true, bool identifier = true) const
    {
        QMap<QString, QString> info = AppBundle::defaultInfo();
        if (agentPlist)
            info.insert(QStringLiteral("CVServiceAgentPlist"), QStringLiteral("app.corvane.Corvane.service.plist"));
        if (!identifier)
            info.remove(QStringLiteral("CFBundleIdentifier"));
        return AppBundle(executable(), info);
    }

private:
    QTemporaryDir dir_;
};

// Children started by a test, ended by pid when the test leaves one behind.
class ChildGuard {
public:
    void add(qint64 pid) { pids_.push_back(pid_t(pid)); }
    ~ChildGuard() { endAll(); }
    void endAll()
    {
        for (pid_t pid : pids_) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
            }
        }
        pids_.clear();
    }

private:
    std::vector<pid_t> pids_;
};

// Waits until `stopped` says so (polling), at most `ms` milliseconds.
template<typename F>
bool waitUntil(F stopped, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!stopped()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
    return true;
}

// What `task` threw (its what()), or none when it completed. QCoro::waitFor alone
// would wait forever on a task that throws.
template<typename T>
QCoro::Task<std::optional<QString>> captureError(QCoro::Task<T> task)
{
    try {
        co_await task;
    } catch (const std::exception &error) {
        co_return QString::fromUtf8(error.what());
    }
    co_return std::nullopt;
}

template<typename T>
std::optional<QString> errorOf(QCoro::Task<T> task)
{
    return QCoro::waitFor(captureError(std::move(task)));
}

} // namespace cv::test

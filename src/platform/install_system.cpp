#include "platform/install_system.h"

#include "platform/app_bundle.h"
#include "platform/platform_error.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStorageInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace cv {

namespace {

QByteArray encoded(const QString &path) { return QFile::encodeName(path); }

[[noreturn]] void fail(const QString &path, int code = errno)
{
    throw PlatformError::fromErrno(code, path);
}

void copyEntry(const QString &from, const QString &to)
{
    struct stat info {};
    if (::lstat(encoded(from).constData(), &info) != 0)
        fail(from);
    if (S_ISLNK(info.st_mode)) {
        QByteArray target(4096, '\0');
        const ssize_t length = ::readlink(encoded(from).constData(), target.data(), size_t(target.size()));
        if (length < 0)
            fail(from);
        target.truncate(length);
        if (::symlink(target.constData(), encoded(to).constData()) != 0)
            fail(to);
    } else if (S_ISDIR(info.st_mode)) {
        if (::mkdir(encoded(to).constData(), info.st_mode & 07777) != 0)
            fail(to);
        const QStringList names = QDir(from).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &name : names)
            copyEntry(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name);
    } else {
        QFile source(from);
        if (!source.copy(to))
            throw PlatformError(EIO, to + QStringLiteral(": ") + source.errorString());
    }
}

} // namespace

InstallSystem &InstallSystem::system()
{
    static LinuxInstallSystem instance;
    return instance;
}

QString LinuxInstallSystem::bundlePath() const
{
    return AppBundle::main().executableFolder();
}

std::optional<QString> LinuxInstallSystem::bundleIdentifier() const
{
    return AppBundle::main().bundleIdentifier();
}

bool LinuxInstallSystem::exists(const QString &path) const
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool LinuxInstallSystem::isWritableFolder(const QString &path) const
{
    return ::access(encoded(path).constData(), W_OK | X_OK) == 0;
}

void LinuxInstallSystem::createFolders(const QString &path)
{
    if (QFileInfo(path).isDir())
        return;
    if (!QDir().mkpath(path))
        fail(path, QFileInfo::exists(path) ? EEXIST : EACCES);
}

void LinuxInstallSystem::copyTree(const QString &from, const QString &to)
{
    copyEntry(from, to);
}

void LinuxInstallSystem::trash(const QString &path)
{
    QFile item(path);
    if (!item.moveToTrash())
        throw PlatformError(EIO, path + QStringLiteral(": ") + item.errorString());
}

void LinuxInstallSystem::move(const QString &from, const QString &to)
{
    if (::rename(encoded(from).constData(), encoded(to).constData()) != 0)
        fail(from);
}

bool LinuxInstallSystem::remove(const QString &path)
{
    const QFileInfo info(path);
    // A link is removed itself, never the folder it points to.
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return QFile::remove(path) || !exists(path);
}

QStringList LinuxInstallSystem::enumerate(const QString &folder) const
{
    QStringList items;
    const QDir root(folder);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        items << root.relativeFilePath(it.next());
    return items;
}

std::optional<QString> LinuxInstallSystem::volumePath(const QString &path) const
{
    const QStorageInfo storage(path);
    if (!storage.isValid())
        return std::nullopt;
    return storage.rootPath();
}

bool LinuxInstallSystem::startDetached(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

void LinuxInstallSystem::openApplication(const QString &path)
{
    fail(path, ENOTSUP);
}

} // namespace cv

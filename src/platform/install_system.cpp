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
#include <dirent.h>
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
        // A folder that cannot be listed fails the copy rather than leaving it incomplete.
        DIR *folder = ::opendir(encoded(from).constData());
        if (!folder)
            fail(from);
        QStringList names;
        errno = 0;
        while (const dirent *entry = ::readdir(folder)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                names << QFile::decodeName(name);
        }
        const int code = errno;
        ::closedir(folder);
        if (code != 0)
            fail(from, code);
        for (const QString &name : std::as_const(names))
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
    // No bundle around a Linux program: the executable itself stands for it.
    return AppBundle::main().executablePath();
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
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    qsizetype slash = 0;
    do {
        slash = clean.indexOf(QLatin1Char('/'), slash + 1);
        const QString part = slash < 0 ? clean : clean.left(slash);
        if (::mkdir(encoded(part).constData(), 0777) != 0 && errno != EEXIST)
            fail(part);
    } while (slash >= 0);
    if (!QFileInfo(clean).isDir())
        fail(clean, ENOTDIR);
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

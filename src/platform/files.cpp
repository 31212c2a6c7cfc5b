#include "platform/files.h"

#include "platform/platform_error.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cv::files {

Descriptor::~Descriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void makeFolders(const QString &path, mode_t mode)
{
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current;
    for (const QString &part : parts) {
        current += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(current);
        if (::mkdir(native.constData(), mode) == 0) {
            ::chmod(native.constData(), mode); // the umask must not narrow it
            continue;
        }
        const int error = errno;
        struct stat info {};
        if (error == EEXIST && ::stat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode))
            continue;
        throw PlatformError::fromErrno(error == EEXIST ? ENOTDIR : error, current);
    }
}

bool createIfMissing(const QString &path, mode_t mode)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) {
        ::fchmod(fd, mode);
        ::close(fd);
        return true;
    }
    int error = errno;
    if (error == EEXIST) {
        // A dangling symbolic link is no file, yet cannot be created through.
        struct stat info {};
        if (::stat(native.constData(), &info) == 0)
            return false;
        error = errno;
    }
    throw PlatformError::fromErrno(error, path);
}

int openForAppend(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw PlatformError::fromErrno(errno, path);
    return fd;
}

bool writeOnce(int fd, const char *bytes, size_t size)
{
    ssize_t written;
    do {
        written = ::write(fd, bytes, size);
    } while (written < 0 && errno == EINTR);
    return written >= 0 && size_t(written) == size;
}

void appendToExisting(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return;
    writeOnce(fd, bytes.constData(), size_t(bytes.size()));
    ::close(fd);
}

QString attribute(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readLine(64)).trimmed();
}

} // namespace cv::files

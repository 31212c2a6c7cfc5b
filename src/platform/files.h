#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace cv::files {

// Owns an open descriptor (or -1) and closes it exactly once, when it goes out of
// scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor();
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Creates `path` and every missing folder above it, each new one with `mode`
// (exactly, whatever the umask). An existing folder is no error and keeps its mode.
// Throws PlatformError.
void makeFolders(const QString &path, mode_t mode);

// Creates an empty file at `path` with `mode` (exactly) when none exists. Returns
// true when it created the file, false when one was already there. Throws
// PlatformError when it can do neither.
bool createIfMissing(const QString &path, mode_t mode);

// Opens an existing file for appending (close-on-exec). Throws PlatformError.
int openForAppend(const QString &path);

// Writes `bytes` to `fd` with a single write call, so that with O_APPEND the entry
// lands whole after everything else written to the file, never interleaved with
// another writer's. Returns false when nothing or only part was written.
bool writeOnce(int fd, const char *bytes, size_t size);

// Appends `bytes` to an existing file at `path` in one write; creates nothing and
// reports nothing.
void appendToExisting(const QByteArray &path, const QByteArray &bytes);

// The first line of a small attribute file such as sysfs keeps (at most 64 bytes),
// without surrounding white space; the empty text when it cannot be read.
QString attribute(const QString &path);

} // namespace cv::files

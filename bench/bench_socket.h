#pragma once

// Pieces the socket benchmarks share: pinning to one CPU, a minimal blocking server
// loop and the smallest blocking client, and the median.

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstring>
#include <functional>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace bench {

// Keeps the process (and every thread made later) on its first allowed CPU:
// unpinned latencies jump between clusters.
inline void pinToOneCpu()
{
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (::sched_getaffinity(0, sizeof cpus, &cpus) != 0)
        return;
    int first = 0;
    while (first < CPU_SETSIZE && !CPU_ISSET(first, &cpus))
        ++first;
    CPU_ZERO(&cpus);
    CPU_SET(first, &cpus);
    ::sched_setaffinity(0, sizeof cpus, &cpus);
}

inline sockaddr_un addressOf(const QByteArray &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return address;
}

// A listening socket at `path` (an old socket file is replaced); -1 on failure.
inline int listenAt(const QByteArray &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(path);
    ::unlink(path.constData());
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::listen(fd, 64) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// The minimal blocking server: accept, read one line, write the reply chosen for it,
// close; until `stop` is set (or accepting fails for good).
inline void serve(int listenFd, const std::function<QByteArray(const QByteArray &line)> &replyFor,
                  const std::atomic<bool> &stop)
{
    char buffer[4096];
    while (!stop) {
        const int connection = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (stop)
                break;
            continue;
        }
        QByteArray line;
        for (;;) {
            const ssize_t n = ::read(connection, buffer, sizeof buffer);
            if (n <= 0)
                break;
            line.append(buffer, n);
            if (std::memchr(buffer, '\n', size_t(n)))
                break;
        }
        const QByteArray reply = replyFor(line);
        qsizetype sent = 0;
        while (sent < reply.size()) {
            const ssize_t n = ::send(connection, reply.constData() + sent, size_t(reply.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        ::close(connection);
    }
}

// The smallest blocking client: socket, connect, write, read to the line feed, close.
inline QByteArray minimalExchange(const QByteArray &path, const QByteArray &line)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(path);
    QByteArray reply;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
        && ::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL) == line.size()) {
        char buffer[16384];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            reply.append(buffer, n);
            if (std::memchr(buffer, '\n', size_t(n)))
                break;
        }
    }
    ::close(fd);
    return reply;
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t mid = v.size() / 2;
    return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

} // namespace bench

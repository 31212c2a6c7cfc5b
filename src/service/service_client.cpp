#include "service/service_client.h"

#include "localization/localization.h"
#include "platform/files.h"
#include "platform/platform_error.h"

#include <QFile>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <QCoroSignal>
#include <QFutureWatcher>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <limits>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace cv {

namespace {

constexpr double unlimited = std::numeric_limits<double>::infinity();
// Pause between connect attempts while the service's backlog is full.
constexpr long backlogRetryNs = 5'000'000;

QString systemText(int error) { return PlatformError::fromErrno(error).message(); }

// "<label>: <system text>." — left in English on purpose: it carries the system's
// own words.
ServiceError systemError(const char *label, int error)
{
    return ServiceError::invalid(QStringLiteral("%1: %2.").arg(QLatin1String(label), systemText(error)))
        .withSystemCode(error);
}

// The threads the blocking exchanges of every client run on. Never destroyed: its
// destruction would wait for an exchange with a hung service (up to the 35 s wait), and
// neither a client going away nor the application quitting may wait for that.
QThreadPool *exchangePool()
{
    static QThreadPool *const pool = [] {
        auto *threads = new QThreadPool;
        threads->setObjectName(QStringLiteral("ServiceClient"));
        threads->setMaxThreadCount(16);
        return threads;
    }();
    return pool;
}

} // namespace

ServiceClient::ServiceClient(std::optional<QString> runtimeDirectory, uid_t expectedPeerUid,
                             double connectWait, double ioWait, Clock &clock)
    : socketPath_((runtimeDirectory ? *runtimeDirectory : QStringLiteral("/tmp/cv-%1").arg(::geteuid()))
                  + QStringLiteral("/control.sock")),
      clock_(clock),
      endpoint_(std::make_shared<const Endpoint>(
          Endpoint{QFile::encodeName(socketPath_), expectedPeerUid, connectWait, ioWait, &clock}))
{
}

// Returns at once: exchanges still running end on their own and their answers are
// dropped.
ServiceClient::~ServiceClient()
{
    lifetime_.end();
}

std::optional<QString> ServiceClient::defaultRuntimeDirectory()
{
    if (!qEnvironmentVariableIsSet("CV_MAC_RUNTIME_DIR"))
        return std::nullopt;
    return QFile::decodeName(qgetenv("CV_MAC_RUNTIME_DIR"));
}

uid_t ServiceClient::currentUid()
{
    return ::geteuid();
}

ServiceError ServiceClient::timeoutError()
{
    return ServiceError::invalid(L("The service request timed out. Its outcome will be checked before another action."));
}

bool ServiceClient::passed(std::optional<double> deadline) const
{
    return deadline && clock_.uptime() >= *deadline;
}

QByteArray ServiceClient::requestLine(const Command &command) const
{
    QByteArray line = command.encode();
    line.append('\n');
    if (line.size() > requestLimit)
        throw ServiceError::invalid(L("The file selection is too large for one request."));
    return line;
}

void ServiceClient::invalidResponse(const DecodeError &error)
{
    throw ServiceError::invalid(
        L("The background service returned an invalid API response: {error}", {{"error", error.description()}}));
}

void ServiceClient::rejected(const std::optional<QString> &error)
{
    throw ServiceError::rejected(error ? Localization::service(*error)
                                       : L("The background service rejected the request."));
}

void ServiceClient::noResult()
{
    throw ServiceError::invalid(L("The background service returned no result."));
}

QCoro::Task<QByteArray> ServiceClient::send(QByteArray requestLine, std::optional<double> deadline)
{
    // Named, not a temporary inside the co_await (see `request`). The exchange holds
    // the endpoint, not the client, which may be gone before it ends.
    QFuture<QByteArray> future = QtConcurrent::run(exchangePool(), [endpoint = endpoint_, requestLine, deadline] {
        return exchange(*endpoint, requestLine, deadline);
    });
    // Resumed from the event loop even when the exchange has already ended, never
    // inside the call that started it: a caller such as AppModel::run finds its own
    // state as it left it when the call returns.
    QFutureWatcher<QByteArray> watcher;
    watcher.setFuture(future);
    co_await qCoro(&watcher, &QFutureWatcherBase::finished);
    co_return future.result();
}

QByteArray ServiceClient::exchange(const QByteArray &requestLine, std::optional<double> deadline) const
{
    return exchange(*endpoint_, requestLine, deadline);
}

QByteArray ServiceClient::exchange(const Endpoint &endpoint, const QByteArray &requestLine,
                                   std::optional<double> deadline)
{
    const Clock &clock = *endpoint.clock;
    if (deadline && clock.uptime() >= *deadline)
        throw timeoutError();
    const double overall = deadline.value_or(unlimited);

    const QByteArray &path = endpoint.socketPath;
    if (path.size() + 1 > socketPathLimit)
        throw ServiceError::invalid(L("The control socket path is too long. Choose a shorter runtime directory."));
    sockaddr_un address{};
    static_assert(sizeof(address.sun_path) >= socketPathLimit);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const auto addressLength = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()) + 1);

    // Close-on-exec, so a service started meanwhile does not inherit the connection;
    // non-blocking from the start, which spares a separate fcntl per request. Writes
    // use MSG_NOSIGNAL, so a peer that went away fails the write instead of raising
    // SIGPIPE. The descriptor is closed exactly once, on every path out.
    const files::Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.get() < 0)
        throw systemError("Create control socket", errno);
    const int fd = socket.get();

    const auto *raw = reinterpret_cast<const sockaddr *>(&address);
    if (::connect(fd, raw, addressLength) != 0) {
        const double connectDeadline = std::min(overall, clock.uptime() + endpoint.connectWait);
        int error = errno;
        // A full backlog: nothing is in progress, so try again in short steps until
        // the connect wait runs out.
        while (error == EAGAIN) {
            if (clock.uptime() >= connectDeadline)
                throw timeoutError();
            const timespec pause{0, backlogRetryNs};
            ::nanosleep(&pause, nullptr);
            error = ::connect(fd, raw, addressLength) == 0 ? 0 : errno;
        }
        if (error == EINPROGRESS) {
            ready(clock, fd, POLLOUT, connectDeadline);
            int status = 0;
            socklen_t length = sizeof status;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &status, &length) != 0 || status != 0)
                throw ServiceError::unavailable(L("Couldn’t connect to the background service."));
        } else if (error != 0) {
            throw ServiceError::unavailable(
                L("The background service is unavailable: {error}.", {{"error", systemText(error)}}));
        }
    }

    ucred peer{};
    socklen_t peerLength = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerLength) != 0 || peer.uid != endpoint.expectedPeerUid)
        throw ServiceError::invalid(L("The control socket does not belong to this user."));

    const double ioDeadline = std::min(overall, clock.uptime() + endpoint.ioWait);

    qsizetype sent = 0;
    while (sent < requestLine.size()) {
        ready(clock, fd, POLLOUT, ioDeadline);
        const ssize_t n = ::send(fd, requestLine.constData() + sent, size_t(requestLine.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            throw systemError("Send service request", errno);
        sent += n;
    }

    // Every byte read is copied out before the next read, so the buffer need not be
    // cleared first.
    char buffer[readChunk];
    QByteArray reply;
    ready(clock, fd, POLLIN, ioDeadline);
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno != EINTR && errno != EAGAIN)
                throw systemError("Read service response", errno);
            ready(clock, fd, POLLIN, ioDeadline);
            continue;
        }
        if (n == 0)
            break;
        if (reply.size() + n > replyLimit)
            throw ServiceError::invalid(L("The service response exceeded the size limit."));
        reply.append(buffer, n);
        // Earlier reads held no line feed, so only the new bytes need a look.
        if (std::memchr(buffer, '\n', size_t(n)))
            break;
        ready(clock, fd, POLLIN, ioDeadline);
    }
    if (reply.isEmpty() || reply.back() != '\n')
        throw ServiceError::invalid(L("The background service closed before completing its response."));
    return reply;
}

void ServiceClient::ready(const Clock &clock, int fd, short events, double deadline)
{
    double remaining = deadline - clock.uptime();
    if (!(remaining > 0))
        throw timeoutError();
    for (;;) {
        const double slice = std::min(remaining * 1000.0 + 1.0, double(pollSliceMs));
        pollfd entry{fd, events, 0};
        const int result = ::poll(&entry, 1, int(slice));
        if (result < 0 && errno != EINTR)
            throw systemError("Wait for service", errno);
        if (result > 0) {
            if (entry.revents & POLLNVAL)
                throw ServiceError::invalid(L("The control socket became invalid."));
            if (entry.revents & (events | POLLERR | POLLHUP))
                return;
        }
        remaining = deadline - clock.uptime();
        if (!(remaining > 0))
            throw timeoutError();
    }
}

} // namespace cv

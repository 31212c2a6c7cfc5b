#pragma once

#include "platform/clock.h"
#include "platform/lifetime.h"
#include "service/command.h"
#include "service/decode_error.h"
#include "service/reply.h"
#include "service/service_error.h"

#include <QByteArray>
#include <QString>
#include <QCoroTask>

#include <memory>
#include <optional>
#include <string_view>
#include <sys/types.h>

namespace cv {

// The only way to talk to the background service: one fresh connection to the
// control socket per request, one JSON line each way, closed afterwards. The socket
// must belong to the expected user. Waits are bounded by `poll`; deadlines are
// absolute seconds on the clock's uptime.
class ServiceClient {
public:
    static constexpr qsizetype requestLimit = 16384;   // bytes, line feed included
    static constexpr qsizetype replyLimit = 1048576;   // bytes, line feed included
    static constexpr qsizetype readChunk = 16384;
    static constexpr qsizetype socketPathLimit = 104;  // path bytes plus the NUL
    static constexpr int pollSliceMs = 35000;

    // `runtimeDirectory`: the folder holding "control.sock"; absent means
    // "/tmp/cv-<euid>". The default is CV_MAC_RUNTIME_DIR as the environment holds it
    // (even empty), absent when unset. `expectedPeerUid` is the user the service must
    // run as; `connectWait` and `ioWait` bound the connect and the send and receive
    // together.
    explicit ServiceClient(std::optional<QString> runtimeDirectory = defaultRuntimeDirectory(),
                           uid_t expectedPeerUid = currentUid(),
                           double connectWait = 2.0,
                           double ioWait = 35.0,
                           Clock &clock = Clock::system());
    virtual ~ServiceClient();
    ServiceClient(const ServiceClient &) = delete;
    ServiceClient &operator=(const ServiceClient &) = delete;

    static std::optional<QString> defaultRuntimeDirectory();
    static uid_t currentUid();

    const QString &socketPath() const { return socketPath_; }
    Clock &clock() const { return clock_; }

    // Sends `command` and returns the decoded result of its reply. With a deadline
    // (seconds of uptime) the request fails with the time-out error once it has
    // passed, even when a reply arrived. Throws ServiceError.
    template<class T>
    QCoro::Task<T> request(Command command, std::optional<double> deadline = {});

    // BLOCKING: connects, checks the peer, sends `requestLine` (line feed included)
    // and returns the reply bytes including their final line feed. Callable from any
    // thread; `request` runs it on the exchange pool. Throws ServiceError.
    // Its waits are real `poll` calls measured against the clock, so it needs a clock
    // that moves by itself (test fakes with a fake clock override `send` instead).
    QByteArray exchange(const QByteArray &requestLine, std::optional<double> deadline) const;

    // The time-out error every wait ends with.
    static ServiceError timeoutError();

protected:
    // The raw exchange as `request` awaits it: runs `exchange` on the exchange pool
    // and resumes the caller with its bytes or its error. Test fakes answer canned
    // bytes instead.
    virtual QCoro::Task<QByteArray> send(QByteArray requestLine, std::optional<double> deadline);

private:
    // Where and how an exchange connects. Shared with the exchanges still running, so
    // the client can go away without waiting for them.
    struct Endpoint {
        QByteArray socketPath;
        uid_t expectedPeerUid;
        double connectWait;
        double ioWait;
        Clock *clock;
    };

    static QByteArray exchange(const Endpoint &endpoint, const QByteArray &requestLine, std::optional<double> deadline);
    // Blocks until the descriptor is ready for `events` (or reports an error or
    // hang-up) before `deadline`.
    static void ready(const Clock &clock, int fd, short events, double deadline);
    bool passed(std::optional<double> deadline) const;

    // The parts of `request` that do not depend on T.
    QByteArray requestLine(const Command &command) const;
    [[noreturn]] static void invalidResponse(const DecodeError &error);
    [[noreturn]] static void rejected(const std::optional<QString> &error);
    [[noreturn]] static void noResult();

    QString socketPath_;
    Clock &clock_;
    std::shared_ptr<const Endpoint> endpoint_;
    // Ends with the client: a request whose exchange finishes later is dropped.
    Lifetime lifetime_;
};

template<class T>
QCoro::Task<T> ServiceClient::request(Command command, std::optional<double> deadline)
{
    if (passed(deadline))
        throw timeoutError();
    // The task is a named object: g++ 12 destroys the argument temporaries of a
    // coroutine call inside a co_await expression twice. A client destroyed while the
    // exchange runs never resumes this request.
    QCoro::Task<QByteArray> exchanged = whileAlive(lifetime_.watch(), send(requestLine(command), deadline));
    const QByteArray bytes = co_await std::move(exchanged);

    Reply<T> reply;
    try {
        std::string_view text(bytes.constData(), size_t(bytes.size()));
        if (!text.empty() && text.back() == '\n')
            text.remove_suffix(1);
        reply = decodeReply<T>(text);
    } catch (const DecodeError &error) {
        invalidResponse(error);
    }
    if (passed(deadline))
        throw timeoutError();
    if (!reply.ok)
        rejected(reply.error);
    if (!reply.result)
        noResult();
    co_return std::move(*reply.result);
}

} // namespace cv

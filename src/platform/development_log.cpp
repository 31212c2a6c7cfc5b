#include "platform/development_log.h"

#include <QDateTime>

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>

namespace cv {

namespace {

// The shortest decimal that reads back as `value`, in plain notation.
QByteArray plainDecimal(double value)
{
    if (!std::isfinite(value))
        return QByteArrayLiteral("0");
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (result.ec != std::errc())
        return QByteArrayLiteral("0");
    return QByteArray(buffer, int(result.ptr - buffer));
}

} // namespace

QByteArray developmentLine(qint64 pid, double wallSeconds, const QString &text)
{
    return QByteArrayLiteral("Development lifecycle pid=") + QByteArray::number(pid) + QByteArrayLiteral(" wall=")
        + plainDecimal(wallSeconds) + ' ' + text.toUtf8() + '\n';
}

void developmentLog(const QString &text)
{
    if (qEnvironmentVariableIsSet("CV_MAC_CAPTURE_DIR") == false)
        return;
    const double wall = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const QByteArray line = developmentLine(qint64(::getpid()), wall, text);
    // One write for the whole line; a short write (a full pipe) is given up on.
    for (;;) {
        const ssize_t written = ::write(STDERR_FILENO, line.constData(), size_t(line.size()));
        if (written >= 0 || errno != EINTR)
            break;
    }
}

} // namespace cv

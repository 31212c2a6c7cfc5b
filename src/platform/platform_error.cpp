#include "platform/platform_error.h"

#include <cstring>

namespace cv {

PlatformError::PlatformError(int code, QString message)
    : code_(code), message_(std::move(message)), utf8_(message_.toUtf8())
{
}

PlatformError PlatformError::fromErrno(int code, const QString &context)
{
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be in `buffer`.
    const char *text = strerror_r(code, buffer, sizeof buffer);
    QString message = QString::fromLocal8Bit(text);
    if (!context.isEmpty())
        message = context + QStringLiteral(": ") + message;
    return PlatformError(code, message);
}

} // namespace cv

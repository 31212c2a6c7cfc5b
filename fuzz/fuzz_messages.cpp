// The service-message matcher and the placeholder formatter on untrusted text. The
// input is split at its first NUL: a template key, then a message (or, for the
// formatter, a text filled with a few values).
#include "localization/localization.h"

#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = bytes.indexOf('\0');
    const QString first = QString::fromUtf8(split < 0 ? bytes : bytes.left(split));
    const QString second = split < 0 ? QString() : QString::fromUtf8(bytes.mid(split + 1));

    (void)cv::Localization::matchTemplate(first, second);
    (void)cv::Localization::service(second.isEmpty() ? first : second);
    (void)cv::Localization::format(first, {{QStringLiteral("name"), second}, {QStringLiteral("n"), 3}, {QStringLiteral("x{y"), 1}});
    return 0;
}

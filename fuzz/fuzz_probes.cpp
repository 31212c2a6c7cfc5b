// The parsers of the cable and link probes' tool output on untrusted text. The first
// byte picks the parser.
#include "model/cable.h"

#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    switch (data[0] % 4) {
    case 0:
        (void)cv::Cable::thunderboltPorts(text);
        break;
    case 1:
        (void)cv::Cable::portActive(text);
        break;
    case 2:
        (void)cv::Cable::linkKind(text);
        break;
    default:
        (void)cv::Cable::isThunderboltName(text);
        break;
    }
    return 0;
}

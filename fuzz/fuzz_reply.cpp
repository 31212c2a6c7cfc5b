// The reply decoder on untrusted bytes. The first byte picks the record type, the
// rest is the reply line. A DecodeError is the expected answer to bad input.
#include "service/decode_error.h"
#include "service/records.h"
#include "service/reply.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view line(reinterpret_cast<const char *>(data) + 1, size - 1);
    try {
        switch (data[0] % 4) {
        case 0:
            (void)cv::decodeReply<cv::EmptyResult>(line);
            break;
        case 1:
            (void)cv::decodeReply<cv::ServiceStatus>(line);
            break;
        case 2:
            (void)cv::decodeReply<cv::EventBatch>(line);
            break;
        default:
            (void)cv::decodeReply<std::optional<cv::EventBatch>>(line);
            break;
        }
    } catch (const cv::DecodeError &) {
    }
    return 0;
}

#pragma once

#include "service/decode_error.h"
#include "service/decoding.h"

#include <QString>

#include <optional>
#include <string_view>

namespace cv {

// The result of commands that return nothing worth reading: any non-null value.
struct EmptyResult {
    bool operator==(const EmptyResult &) const = default;
};

// The envelope of every answer of the service.
template<class T>
struct Reply {
    bool ok = false;
    std::optional<T> result; // absent when "result" is missing or null
    std::optional<QString> error; // absent when "error" is missing or null
};

// Decodes one reply line (without its line feed). "ok" must be present and Boolean;
// "result" and "error" are absent when missing or null, and must have their type
// otherwise; other keys are ignored. Throws `DecodeError`.
// Available for EmptyResult, ServiceStatus, EventBatch and std::optional<EventBatch>.
template<class T>
Reply<T> decodeReply(std::string_view json);

} // namespace cv

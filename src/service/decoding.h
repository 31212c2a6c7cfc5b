#pragma once

#include <string_view>

namespace cv {

// Decodes one JSON document of UTF-8 bytes into `T` (a record such as
// `ServiceStatus` or `EventBatch`, or `std::optional` of one, where null is absent).
// Throws `DecodeError` naming the first key that failed. Each thread reuses its own
// parser, so repeated decoding does not reallocate.
template<class T>
T decode(std::string_view json);

} // namespace cv

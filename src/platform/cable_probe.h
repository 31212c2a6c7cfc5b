#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace cv {

// An interface index that always counts as a cable link: the demo mode gives it to
// its made-up computers.
inline constexpr std::uint32_t demoInterfaceIndex = 4294967295u;

// The cable and link-kind facts of this computer. plugged() and networkingKind()
// block (they read the system or run tools) and are called from a probe pool, never
// from the main thread; every implementation is safe to call from any thread.
class CableProbe {
public:
    virtual ~CableProbe() = default;

    // Whether the network interface with this index is a cable link.
    // demoInterfaceIndex always is, 0 never is.
    virtual bool isThunderbolt(std::uint32_t interfaceIndex) const = 0;

    // Whether a cable port reports an active link.
    virtual bool plugged() = 0;

    // "USB4", "Thunderbolt", or none.
    virtual std::optional<QString> networkingKind() = 0;
};

} // namespace cv

#pragma once

#include "platform/cable_probe.h"
#include "platform/tool_runner.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <mutex>
#include <optional>

namespace cv {

// The cable and link-kind probes of this computer. They keep nothing of the model:
// the model decides when they run (on its probe pool) and keeps their results.
namespace Cable {

// An interface index that always counts as a Thunderbolt link.
inline constexpr std::uint32_t demoInterface = demoInterfaceIndex;

// The probe over this computer: on Linux it reads sysfs.
CableProbe &system();

// Whether a computer's interface index counts as a Thunderbolt link.
bool isThunderbolt(std::uint32_t interfaceIndex);
// Whether a Thunderbolt port reports an active link. Blocking.
bool plugged();
// "USB4", "Thunderbolt" or none. Blocking.
std::optional<QString> networkingKind();

// The device names of the Thunderbolt hardware ports in the output of
// `networksetup -listallhardwareports`; the Thunderbolt bridge port is skipped.
QStringList thunderboltPorts(const QString &networksetupOutput);

// Whether `ifconfig <port>` output reports an active link.
bool portActive(const QString &ifconfigOutput);

// The link kind in the output of `system_profiler -json SPThunderboltDataType`:
// "USB4" or "Thunderbolt" when exactly one bus has a device offering IP networking;
// none with no such bus, with two or more, or with output of another shape.
std::optional<QString> linkKind(const QString &systemProfilerOutput);

// Whether an interface name counts as a Thunderbolt link where the tools are used:
// a bridge or an "en" interface.
bool isThunderboltName(const QString &interfaceName);

} // namespace Cable

// The probe that asks the system tools (networksetup, ifconfig, system_profiler).
// The hardware-port list is built on the first cable probe and kept for the life
// of the probe, an empty one too.
class ToolCableProbe final : public CableProbe {
public:
    explicit ToolCableProbe(ToolRunner &runner = ToolRunner::system());

    bool isThunderbolt(std::uint32_t interfaceIndex) const override;
    bool plugged() override;
    std::optional<QString> networkingKind() override;

private:
    ToolRunner &runner_;
    std::mutex portsMutex_;
    std::optional<QStringList> ports_;
};

} // namespace cv

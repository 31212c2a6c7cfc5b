#pragma once

#include "platform/cable_probe.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace cv {

// The cable facts of this computer as Linux's sysfs shows them. A cable link is a
// network interface driven by "thunderbolt-net"; the Thunderbolt/USB4 domains and
// their routers are under bus/thunderbolt/devices. Every call reads sysfs afresh
// (cable interfaces come and go) and holds no state, so it is safe on any thread.
class SysfsCableProbe final : public CableProbe {
public:
    // `root` is where sysfs is mounted; tests pass a folder of their own.
    explicit SysfsCableProbe(QString root = QStringLiteral("/sys"));

    // demoInterfaceIndex: true; 0 or an index that names no interface: false;
    // otherwise whether that interface is a cable link.
    bool isThunderbolt(std::uint32_t interfaceIndex) const override;
    // A cable link has a carrier, or a device is attached at depth 1.
    bool plugged() override;
    // "USB4" or "Thunderbolt" when exactly one domain carries cable links: "USB4"
    // when its host router reports generation 4 or later, else "Thunderbolt".
    // None without such a domain or with two or more.
    std::optional<QString> networkingKind() override;

    // The name of the network interface with this index, when there is one.
    static std::optional<QString> interfaceName(std::uint32_t index);

    // Whether the network interface `name` is a cable link.
    bool isCableInterface(const QString &name) const;

    // Every network interface that is a cable link, sorted by name.
    QStringList cableInterfaces() const;

    // Whether the interface reports a carrier.
    bool hasCarrier(const QString &name) const;

    // Whether a device (another computer or a peripheral) is attached directly to a
    // port of this computer, at depth 1 below a host router.
    bool deviceAttached() const;

private:
    // The domain number a cable interface hangs under, when it can be found.
    std::optional<int> domainOf(const QString &interface) const;

    QString root_;
};

} // namespace cv

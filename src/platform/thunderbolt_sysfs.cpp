#include "platform/thunderbolt_sysfs.h"

#include "platform/files.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <net/if.h>

namespace cv {

namespace {

const QString cableDriver = QStringLiteral("thunderbolt-net");

bool plainName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".")
        && name != QLatin1String("..");
}

} // namespace

SysfsCableProbe::SysfsCableProbe(QString root) : root_(std::move(root)) {}

std::optional<QString> SysfsCableProbe::interfaceName(std::uint32_t index)
{
    char name[IF_NAMESIZE + 1] = {};
    if (if_indextoname(index, name) == nullptr || name[0] == '\0')
        return std::nullopt;
    return QString::fromLocal8Bit(name);
}

bool SysfsCableProbe::isThunderbolt(std::uint32_t interfaceIndex) const
{
    if (interfaceIndex == demoInterfaceIndex)
        return true;
    if (interfaceIndex == 0)
        return false;
    const std::optional<QString> name = interfaceName(interfaceIndex);
    return name && isCableInterface(*name);
}

bool SysfsCableProbe::isCableInterface(const QString &name) const
{
    if (!plainName(name))
        return false;
    const QString link = root_ + QStringLiteral("/class/net/") + name + QStringLiteral("/device/driver");
    const QString target = QFileInfo(link).symLinkTarget();
    return !target.isEmpty() && QFileInfo(target).fileName() == cableDriver;
}

QStringList SysfsCableProbe::cableInterfaces() const
{
    const QStringList names = QDir(root_ + QStringLiteral("/class/net"))
                                  .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    QStringList cables;
    for (const QString &name : names) {
        if (isCableInterface(name))
            cables.append(name);
    }
    return cables;
}

bool SysfsCableProbe::hasCarrier(const QString &name) const
{
    return plainName(name)
        && files::attribute(root_ + QStringLiteral("/class/net/") + name + QStringLiteral("/carrier"))
        == QLatin1String("1");
}

bool SysfsCableProbe::deviceAttached() const
{
    // Routers are named <domain>-<route>, the route in hexadecimal with one byte per
    // hop; a device one hop from the host router has a route of 1 to ff. Services
    // ("0-1.0") and retimers ("0-0:1.1") have other names.
    const QRegularExpression router(QStringLiteral("^[0-9]+-([0-9a-f]{1,2})$"));
    const QStringList names = QDir(root_ + QStringLiteral("/bus/thunderbolt/devices"))
                                  .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = router.match(name);
        if (match.hasMatch() && match.captured(1).toUInt(nullptr, 16) != 0)
            return true;
    }
    return false;
}

bool SysfsCableProbe::plugged()
{
    const QStringList cables = cableInterfaces();
    for (const QString &name : cables) {
        if (hasCarrier(name))
            return true;
    }
    return deviceAttached();
}

std::optional<int> SysfsCableProbe::domainOf(const QString &interface) const
{
    // The interface's device is a service of the other computer, inside the folder
    // of its domain: .../domain0/0-0/0-1/0-1.0.
    const QRegularExpression domain(QStringLiteral("^domain([0-9]+)$"));
    const QString device =
        QFileInfo(root_ + QStringLiteral("/class/net/") + interface + QStringLiteral("/device")).canonicalFilePath();
    const QStringList parts = device.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const QRegularExpressionMatch match = domain.match(part);
        if (match.hasMatch()) {
            bool ok = false;
            const int number = match.captured(1).toInt(&ok);
            if (ok)
                return number;
        }
    }
    return std::nullopt;
}

std::optional<QString> SysfsCableProbe::networkingKind()
{
    QSet<int> domains;
    const QStringList cables = cableInterfaces();
    for (const QString &name : cables) {
        if (const std::optional<int> number = domainOf(name))
            domains.insert(*number);
    }
    if (domains.size() != 1)
        return std::nullopt;
    const int number = *domains.begin();
    bool ok = false;
    const int generation =
        files::attribute(root_ + QStringLiteral("/bus/thunderbolt/devices/%1-0/generation").arg(number)).toInt(&ok);
    if (ok && generation >= 4)
        return QStringLiteral("USB4");
    return QStringLiteral("Thunderbolt");
}

} // namespace cv

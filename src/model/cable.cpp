#include "model/cable.h"

#include "platform/thunderbolt_sysfs.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cv {

namespace {

QString trimSpacesAndTabs(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(text.at(begin)))
        ++begin;
    while (end > begin && blank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// A JSON list whose every entry is an object; none when it is anything else.
std::optional<QJsonArray> objectList(const QJsonValue &value)
{
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray list = value.toArray();
    for (const QJsonValue &entry : list) {
        if (!entry.isObject())
            return std::nullopt;
    }
    return list;
}

bool offersNetworking(const QJsonObject &device)
{
    const std::optional<QJsonArray> services = objectList(device.value(QStringLiteral("services_title")));
    if (!services)
        return false;
    for (const QJsonValue &service : *services) {
        const QJsonValue name = service.toObject().value(QStringLiteral("_name"));
        if (name.isString() && name.toString() == QLatin1String("service_ip"))
            return true;
    }
    return false;
}

} // namespace

namespace Cable {

CableProbe &system()
{
    static SysfsCableProbe probe;
    return probe;
}

bool isThunderbolt(std::uint32_t interfaceIndex) { return system().isThunderbolt(interfaceIndex); }

bool plugged() { return system().plugged(); }

std::optional<QString> networkingKind() { return system().networkingKind(); }

QStringList thunderboltPorts(const QString &networksetupOutput)
{
    QStringList ports;
    bool inThunderboltPort = false;
    const QStringList lines = networksetupOutput.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("Hardware Port:"))) {
            inThunderboltPort = line.contains(QLatin1String("Thunderbolt")) && !line.contains(QLatin1String("Bridge"));
        } else if (inThunderboltPort && line.startsWith(QLatin1String("Device:"))) {
            ports.append(trimSpacesAndTabs(line.mid(int(qstrlen("Device:")))));
        }
    }
    return ports;
}

bool portActive(const QString &ifconfigOutput) { return ifconfigOutput.contains(QLatin1String("status: active")); }

std::optional<QString> linkKind(const QString &systemProfilerOutput)
{
    const QJsonDocument document = QJsonDocument::fromJson(systemProfilerOutput.toUtf8());
    if (!document.isObject())
        return std::nullopt;
    const std::optional<QJsonArray> buses = objectList(document.object().value(QStringLiteral("SPThunderboltDataType")));
    if (!buses)
        return std::nullopt;

    std::optional<QString> kind;
    int counting = 0;
    for (const QJsonValue &busValue : *buses) {
        const QJsonArray devices = objectList(busValue.toObject().value(QStringLiteral("_items"))).value_or(QJsonArray());
        bool counts = false;
        bool usb4 = false;
        for (const QJsonValue &deviceValue : devices) {
            const QJsonObject device = deviceValue.toObject();
            if (!offersNetworking(device))
                continue;
            counts = true;
            const QJsonValue name = device.value(QStringLiteral("device_name_key"));
            if (name.isString() && name.toString().contains(QLatin1String("USB4")))
                usb4 = true;
        }
        if (counts) {
            ++counting;
            kind = usb4 ? QStringLiteral("USB4") : QStringLiteral("Thunderbolt");
        }
    }
    return counting == 1 ? kind : std::nullopt;
}

bool isThunderboltName(const QString &interfaceName)
{
    return interfaceName.startsWith(QLatin1String("bridge")) || interfaceName.startsWith(QLatin1String("en"));
}

} // namespace Cable

ToolCableProbe::ToolCableProbe(ToolRunner &runner) : runner_(runner) {}

bool ToolCableProbe::isThunderbolt(std::uint32_t interfaceIndex) const
{
    if (interfaceIndex == Cable::demoInterface)
        return true;
    if (interfaceIndex == 0)
        return false;
    const std::optional<QString> name = SysfsCableProbe::interfaceName(interfaceIndex);
    return name && Cable::isThunderboltName(*name);
}

bool ToolCableProbe::plugged()
{
    QStringList ports;
    {
        const std::lock_guard lock(portsMutex_);
        if (!ports_)
            ports_ = Cable::thunderboltPorts(
                runner_.run(QStringLiteral("/usr/sbin/networksetup"), {QStringLiteral("-listallhardwareports")}));
        ports = *ports_;
    }
    for (const QString &port : ports) {
        if (Cable::portActive(runner_.run(QStringLiteral("/sbin/ifconfig"), {port})))
            return true;
    }
    return false;
}

std::optional<QString> ToolCableProbe::networkingKind()
{
    return Cable::linkKind(runner_.run(QStringLiteral("/usr/sbin/system_profiler"),
                                       {QStringLiteral("-json"), QStringLiteral("SPThunderboltDataType")}));
}

} // namespace cv

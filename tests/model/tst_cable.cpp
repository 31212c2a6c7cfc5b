#include "model/cable.h"

#include <QTest>

#include <mutex>

using namespace cv;

namespace {

const QString networksetupOutput = QStringLiteral(
    "\n"
    "Hardware Port: Ethernet Adapter (en4)\n"
    "Device: en4\n"
    "Ethernet Address: 3a:5c:11:0e:42:01\n"
    "\n"
    "Hardware Port: Thunderbolt Bridge\n"
    "Device: bridge0\n"
    "Ethernet Address: 36:12:8f:a0:7c:c0\n"
    "\n"
    "Hardware Port: Thunderbolt 2\n"
    "Device: en2\n"
    "Ethernet Address: 36:12:8f:a0:7c:c4\n"
    "\n"
    "Hardware Port: Wi-Fi\n"
    "Device: en0\n"
    "Ethernet Address: f0:18:98:aa:bb:cc\n"
    "\n"
    "VLAN Configurations\n"
    "===================\n");

const QString ifconfigActive = QStringLiteral(
    "en2: flags=8863<UP,BROADCAST,SMART,RUNNING,SIMPLEX,MULTICAST> mtu 1500\n"
    "\tether 36:12:8f:a0:7c:c4\n"
    "\tmedia: autoselect <full-duplex>\n"
    "\tstatus: active\n");

const QString ifconfigInactive = QStringLiteral(
    "en2: flags=8863<UP,BROADCAST,SMART,RUNNING,SIMPLEX,MULTICAST> mtu 1500\n"
    "\tmedia: autoselect <full-duplex>\n"
    "\tstatus: inactive\n");

QString device(const QString &name, bool networking)
{
    const QString services = networking
        ? QStringLiteral(R"([{"_name":"service_pcie"},{"_name":"service_ip","ip_device_name":"en2"}])")
        : QStringLiteral(R"([{"_name":"service_pcie"}])");
    return QStringLiteral(R"({"_name":"%1","device_name_key":"%1","vendor_name_key":"Apple Inc.","services_title":%2})")
        .arg(name, services);
}

QString bus(const QStringList &devices)
{
    return QStringLiteral(R"({"_name":"thunderbolt_bus","device_name_key":"MacBook Pro","_items":[%1]})")
        .arg(devices.join(QLatin1Char(',')));
}

QString profiler(const QStringList &buses)
{
    return QStringLiteral(R"({"SPThunderboltDataType":[%1]})").arg(buses.join(QLatin1Char(',')));
}

// Answers tool runs from canned outputs and records every run.
class FakeToolRunner final : public ToolRunner {
public:
    QMap<QString, QString> outputs; // "path arg arg" -> output

    QString run(const QString &path, const QStringList &arguments) override
    {
        const QString line = QStringList(QStringList{path} + arguments).join(QLatin1Char(' '));
        const std::lock_guard lock(mutex_);
        runs.append(line);
        return outputs.value(line);
    }

    QStringList runs;

private:
    std::mutex mutex_;
};

} // namespace

class CableTest : public QObject {
    Q_OBJECT
private slots:
    void thunderboltPorts_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QStringList>("ports");
        // The bridge and the other ports are left out.
        QTest::newRow("networksetup") << networksetupOutput << QStringList{"en2"};
        QTest::newRow("trimmed device name")
            << QStringLiteral("Hardware Port: Thunderbolt 1\nDevice: \t en1 \t\nEthernet Address: x\n") << QStringList{"en1"};
        QTest::newRow("several ports in order")
            << QStringLiteral("Hardware Port: Thunderbolt 1\nDevice: en1\nHardware Port: Thunderbolt 3\nDevice: en3\n")
            << QStringList{"en1", "en3"};
        QTest::newRow("every device line of a port counts")
            << QStringLiteral("Hardware Port: Thunderbolt 1\nDevice: en1\nDevice: en5\n") << QStringList{"en1", "en5"};
        QTest::newRow("device before any port") << QStringLiteral("Device: en7\nHardware Port: Wi-Fi\nDevice: en0\n")
                                                << QStringList{};
        QTest::newRow("indented lines are not read")
            << QStringLiteral("Hardware Port: Thunderbolt 1\n  Device: en1\n") << QStringList{};
        QTest::newRow("empty") << QString() << QStringList{};
    }

    void thunderboltPorts()
    {
        QFETCH(QString, output);
        QFETCH(QStringList, ports);
        QCOMPARE(Cable::thunderboltPorts(output), ports);
    }

    void linkKind_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<std::optional<QString>>("kind");
        const QString usb4Peer = device(QStringLiteral("Mac mini USB4"), true);
        const QString tbPeer = device(QStringLiteral("MacBook Air"), true);
        const QString dock = device(QStringLiteral("USB4 Dock"), false);
        const std::optional<QString> usb4(QStringLiteral("USB4")), thunderbolt(QStringLiteral("Thunderbolt")), none;
        QTest::newRow("one USB4 bus") << profiler({bus({usb4Peer})}) << usb4;
        QTest::newRow("one Thunderbolt bus") << profiler({bus({tbPeer})}) << thunderbolt;
        QTest::newRow("two buses") << profiler({bus({usb4Peer}), bus({usb4Peer})}) << none;
        QTest::newRow("bus without service_ip ignored") << profiler({bus({dock}), bus({usb4Peer})}) << usb4;
        QTest::newRow("USB4 only on a device without networking") << profiler({bus({dock, tbPeer})}) << thunderbolt;
        QTest::newRow("any qualifying USB4 device") << profiler({bus({tbPeer, usb4Peer})}) << usb4;
        QTest::newRow("lower-case usb4 is not USB4") << profiler({bus({device(QStringLiteral("usb4 peer"), true)})})
                                                     << thunderbolt;
        QTest::newRow("no qualifying bus") << profiler({bus({dock}), bus({})}) << none;
        QTest::newRow("items of another type") << profiler({QStringLiteral("{\"_items\":{\"a\":1}}"), bus({tbPeer})})
                                               << thunderbolt;
        QTest::newRow("services of another type")
            << profiler({bus({QStringLiteral("{\"services_title\":\"service_ip\",\"device_name_key\":\"USB4\"}")})}) << none;
        QTest::newRow("bus list with a non-object") << profiler({bus({usb4Peer}), QStringLiteral("3")}) << none;
        QTest::newRow("not JSON") << QStringLiteral("system_profiler: error") << none;
        QTest::newRow("empty output") << QString() << none;
    }

    void linkKind()
    {
        QFETCH(QString, output);
        QFETCH(std::optional<QString>, kind);
        QCOMPARE(Cable::linkKind(output), kind);
    }

    void toolProbe()
    {
        FakeToolRunner runner;
        const QString ports = QStringLiteral("/usr/sbin/networksetup -listallhardwareports");
        runner.outputs.insert(ports, networksetupOutput);
        runner.outputs.insert(QStringLiteral("/sbin/ifconfig en2"), ifconfigActive);
        ToolCableProbe probe(runner);
        QVERIFY(probe.isThunderbolt(Cable::demoInterface));
        QVERIFY(!probe.isThunderbolt(0));
        QVERIFY(Cable::isThunderboltName(QStringLiteral("en2")) && Cable::isThunderboltName(QStringLiteral("bridge0")));
        QVERIFY(!Cable::isThunderboltName(QStringLiteral("lo0")) && !Cable::isThunderboltName(QStringLiteral("utun3")));
        QVERIFY(probe.plugged());
        QCOMPARE(runner.runs, (QStringList{ports, QStringLiteral("/sbin/ifconfig en2")}));
        // The port list is kept: later probes only ask ifconfig.
        runner.outputs.insert(QStringLiteral("/sbin/ifconfig en2"), ifconfigInactive);
        QVERIFY(!probe.plugged());
        QCOMPARE(runner.runs.count(ports), 1);
        QCOMPARE(runner.runs.size(), 3);

        runner.outputs.insert(QStringLiteral("/usr/sbin/system_profiler -json SPThunderboltDataType"),
                              profiler({bus({device(QStringLiteral("MacBook Air"), true)})}));
        QCOMPARE(probe.networkingKind(), std::optional<QString>(QStringLiteral("Thunderbolt")));
        // A tool that gave nothing (not started, or cut off) means no kind, and no port.
        runner.outputs.clear();
        QCOMPARE(probe.networkingKind(), std::nullopt);
        QVERIFY(!ToolCableProbe(runner).plugged());
    }
};

QTEST_GUILESS_MAIN(CableTest)
#include "tst_cable.moc"

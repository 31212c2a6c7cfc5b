#include "platform/thunderbolt_sysfs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <net/if.h>

using namespace cv;

namespace {

// Builds a small sysfs look-alike: the device tree under devices/, the bus view
// under bus/thunderbolt/devices and the network interfaces under class/net, linked
// the way the kernel links them.
class SysTree {
public:
    SysTree()
    {
        mkdir(QStringLiteral("bus/thunderbolt/drivers/thunderbolt-net"));
        mkdir(QStringLiteral("bus/pci/drivers/e1000e"));
        mkdir(QStringLiteral("bus/thunderbolt/devices"));
        mkdir(QStringLiteral("class/net"));
    }

    QString root() const { return dir_.path(); }

    void mkdir(const QString &relative) { QVERIFY(QDir(dir_.path()).mkpath(relative)); }

    void write(const QString &relative, const QByteArray &text)
    {
        QFile file(dir_.filePath(relative));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    void link(const QString &target, const QString &relative)
    {
        QVERIFY(QFile::link(dir_.filePath(target), dir_.filePath(relative)));
    }

    // A domain with its host router of the given generation (none: no attribute).
    void domain(int number, std::optional<int> generation)
    {
        const QString router = QStringLiteral("devices/domain%1/%1-0").arg(number);
        mkdir(router);
        if (generation)
            write(router + QStringLiteral("/generation"), QByteArray::number(*generation) + '\n');
        link(QStringLiteral("devices/domain%1").arg(number), QStringLiteral("bus/thunderbolt/devices/domain%1").arg(number));
        link(router, QStringLiteral("bus/thunderbolt/devices/%1-0").arg(number));
    }

    // Another computer at port 1 of a domain, offering networking through `interface`.
    void peer(int number, const QString &interface, bool carrier)
    {
        const QString xdomain = QStringLiteral("devices/domain%1/%1-0/%1-1").arg(number);
        const QString service = xdomain + QStringLiteral("/%1-1.0").arg(number);
        mkdir(service);
        link(QStringLiteral("bus/thunderbolt/drivers/thunderbolt-net"), service + QStringLiteral("/driver"));
        link(xdomain, QStringLiteral("bus/thunderbolt/devices/%1-1").arg(number));
        link(service, QStringLiteral("bus/thunderbolt/devices/%1-1.0").arg(number));
        networkInterface(interface, service, carrier);
    }

    void networkInterface(const QString &name, const QString &device, bool carrier)
    {
        mkdir(QStringLiteral("class/net/") + name);
        link(device, QStringLiteral("class/net/%1/device").arg(name));
        write(QStringLiteral("class/net/%1/carrier").arg(name), carrier ? "1\n" : "0\n");
    }

    // An ordinary wired card.
    void ethernet(const QString &name)
    {
        const QString device = QStringLiteral("devices/pci0000:00/0000:00:1f.6");
        mkdir(device);
        link(QStringLiteral("bus/pci/drivers/e1000e"), device + QStringLiteral("/driver"));
        networkInterface(name, device, true);
    }

private:
    QTemporaryDir dir_;
};

} // namespace

class ThunderboltSysfsTest : public QObject {
    Q_OBJECT
private slots:
    void usb4PeerWithCarrier()
    {
        SysTree tree;
        tree.ethernet(QStringLiteral("enp0s31f6"));
        tree.domain(0, 4);
        tree.peer(0, QStringLiteral("thunderbolt0"), true);
        SysfsCableProbe probe(tree.root());
        QCOMPARE(probe.cableInterfaces(), QStringList{QStringLiteral("thunderbolt0")});
        QVERIFY(probe.isCableInterface(QStringLiteral("thunderbolt0")));
        QVERIFY(!probe.isCableInterface(QStringLiteral("enp0s31f6")));
        QVERIFY(probe.plugged());
        QCOMPARE(probe.networkingKind(), std::optional<QString>(QStringLiteral("USB4")));
    }

    void olderRouterIsThunderbolt()
    {
        SysTree tree;
        tree.domain(0, 3);
        tree.peer(0, QStringLiteral("thunderbolt0"), true);
        QCOMPARE(SysfsCableProbe(tree.root()).networkingKind(), std::optional<QString>(QStringLiteral("Thunderbolt")));
    }

    void routerWithoutGenerationIsThunderbolt()
    {
        SysTree tree;
        tree.domain(0, std::nullopt);
        tree.peer(0, QStringLiteral("thunderbolt0"), false);
        QCOMPARE(SysfsCableProbe(tree.root()).networkingKind(), std::optional<QString>(QStringLiteral("Thunderbolt")));
    }

    void twoDomainsGiveNoKind()
    {
        SysTree tree;
        tree.domain(0, 4);
        tree.domain(1, 4);
        tree.peer(0, QStringLiteral("thunderbolt0"), true);
        tree.peer(1, QStringLiteral("thunderbolt1"), true);
        SysfsCableProbe probe(tree.root());
        QCOMPARE(probe.cableInterfaces(), (QStringList{QStringLiteral("thunderbolt0"), QStringLiteral("thunderbolt1")}));
        QVERIFY(probe.plugged());
        QCOMPARE(probe.networkingKind(), std::nullopt);
    }

    void attachedDeviceWithoutCarrierIsPlugged()
    {
        SysTree tree;
        tree.domain(0, 4);
        tree.peer(0, QStringLiteral("thunderbolt0"), false);
        SysfsCableProbe probe(tree.root());
        QVERIFY(!probe.hasCarrier(QStringLiteral("thunderbolt0")));
        QVERIFY(probe.deviceAttached());
        QVERIFY(probe.plugged());
    }

    void peripheralAloneIsPluggedWithoutKind()
    {
        SysTree tree;
        tree.domain(0, 4);
        tree.mkdir(QStringLiteral("devices/domain0/0-0/0-3"));
        tree.link(QStringLiteral("devices/domain0/0-0/0-3"), QStringLiteral("bus/thunderbolt/devices/0-3"));
        SysfsCableProbe probe(tree.root());
        QVERIFY(probe.plugged());
        QCOMPARE(probe.networkingKind(), std::nullopt);
    }

    void hostRoutersAloneAreNotPlugged()
    {
        SysTree tree;
        tree.ethernet(QStringLiteral("enp0s31f6"));
        tree.domain(0, 4);
        tree.domain(1, 4);
        // A retimer and a device two hops away are not at depth 1.
        tree.mkdir(QStringLiteral("bus/thunderbolt/devices/0-0:1.1"));
        tree.mkdir(QStringLiteral("bus/thunderbolt/devices/0-301"));
        SysfsCableProbe probe(tree.root());
        QVERIFY(probe.cableInterfaces().isEmpty());
        QVERIFY(!probe.deviceAttached());
        QVERIFY(!probe.plugged());
        QCOMPARE(probe.networkingKind(), std::nullopt);
    }

    void interfacesAreReadAfresh()
    {
        SysTree tree;
        tree.domain(0, 4);
        SysfsCableProbe probe(tree.root());
        QVERIFY(!probe.plugged());
        QCOMPARE(probe.networkingKind(), std::nullopt);
        tree.peer(0, QStringLiteral("thunderbolt0"), true);
        QVERIFY(probe.plugged());
        QCOMPARE(probe.networkingKind(), std::optional<QString>(QStringLiteral("USB4")));
    }

    void missingSysfsGivesNothing()
    {
        SysfsCableProbe probe(QStringLiteral("/nonexistent/sys"));
        QVERIFY(!probe.plugged());
        QCOMPARE(probe.networkingKind(), std::nullopt);
        QVERIFY(!probe.isCableInterface(QStringLiteral("thunderbolt0")));
    }

    void oddInterfaceNamesAreRejected()
    {
        SysTree tree;
        tree.domain(0, 4);
        tree.peer(0, QStringLiteral("thunderbolt0"), true);
        SysfsCableProbe probe(tree.root());
        // Each of these would lead to the real interface's files if it were joined
        // to the path as it is.
        QVERIFY(probe.isCableInterface(QStringLiteral("thunderbolt0")));
        QVERIFY(probe.hasCarrier(QStringLiteral("thunderbolt0")));
        QVERIFY(!probe.isCableInterface(QStringLiteral("../net/thunderbolt0")));
        QVERIFY(!probe.hasCarrier(QStringLiteral("../net/thunderbolt0")));
        QVERIFY(!probe.hasCarrier(QStringLiteral("./thunderbolt0")));
    }

    void interfaceIndexes()
    {
        SysTree tree;
        SysfsCableProbe probe(tree.root());
        QVERIFY(probe.isThunderbolt(4294967295u));
        QVERIFY(!probe.isThunderbolt(0));
        const unsigned loopback = if_nametoindex("lo");
        if (loopback == 0)
            QSKIP("no loopback interface here");
        QCOMPARE(SysfsCableProbe::interfaceName(loopback), std::optional<QString>(QStringLiteral("lo")));
        QVERIFY(!probe.isThunderbolt(loopback));
        // Give "lo" a thunderbolt-net device in the fixture: now it counts.
        tree.domain(0, 4);
        tree.peer(0, QStringLiteral("lo"), true);
        QVERIFY(probe.isThunderbolt(loopback));
        QCOMPARE(SysfsCableProbe::interfaceName(4000000000u), std::nullopt);
        QVERIFY(!probe.isThunderbolt(4000000000u));
    }
};

QTEST_GUILESS_MAIN(ThunderboltSysfsTest)
#include "tst_thunderbolt_sysfs.moc"

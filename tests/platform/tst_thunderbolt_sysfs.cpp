#include "platform/mounted_volumes.h"
#include "../views/table.h"
#include "platform/thunderbolt_sysfs.h"

#include "test_files.h"

#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

// Builds a small sysfs look-alike: the device tree under devices/, the bus view
// under bus/thunderbolt/devices and the network interfaces under class/net, linked
// the way the kernel links them.
class SysTree {
public:
    QString root() const { return dir_.path(); }
    void mkdir(const QString &relative) { QVERIFY(QDir(dir_.path()).mkpath(relative)); }
    void write(const QString &relative, const QByteArray &text) { QVERIFY(test::writeFile(dir_.filePath(relative), text)); }
    void link(const QString &target, const QString &relative) { QVERIFY(QFile::link(dir_.filePath(target), dir_.filePath(relative))); }

    // Lays out words: "d0:4" domain 0 whose host router is of generation 4 ("d0:-"
    // without the attribute), "p0:thunderbolt0:1" another computer at port 1 of
    // domain 0 offering networking through thunderbolt0 with carrier, "eth" a wired
    // card, "dev" a peripheral at depth 1, "far" a retimer and a device two hops away.
    void lay(const QString &layout)
    {
        for (const char *folder : {"bus/thunderbolt/drivers/thunderbolt-net", "bus/pci/drivers/e1000e", "bus/thunderbolt/devices", "class/net"})
            mkdir(folder);
        const auto bus = [this](const QString &device) { link("devices/" + device, "bus/thunderbolt/devices/" + device.section('/', -1)); };
        for (const QString &word : layout.split(' ')) {
            const QStringList part = word.split(':');
            const QString n = part[0].mid(1), router = QStringLiteral("domain%1/%1-0").arg(n);
            if (word.startsWith('d') && part.size() == 2) {
                mkdir("devices/" + router);
                if (part[1] != "-")
                    write("devices/" + router + "/generation", part[1].toLatin1() + '\n');
                bus("domain" + n);
                bus(router);
            } else if (word.startsWith('p')) {
                const QString xdomain = router + QStringLiteral("/%1-1").arg(n), service = xdomain + QStringLiteral("/%1-1.0").arg(n);
                mkdir("devices/" + service);
                link("bus/thunderbolt/drivers/thunderbolt-net", "devices/" + service + "/driver");
                bus(xdomain);
                bus(service);
                networkInterface(part[1], "devices/" + service, part[2] == "1");
            } else if (word == "eth") {
                mkdir("devices/pci0000:00/0000:00:1f.6");
                link("bus/pci/drivers/e1000e", "devices/pci0000:00/0000:00:1f.6/driver");
                networkInterface("enp0s31f6", "devices/pci0000:00/0000:00:1f.6", true);
            } else if (word == "dev") {
                mkdir("devices/domain0/0-0/0-3");
                bus("domain0/0-0/0-3");
            } else if (word == "far") {
                mkdir("bus/thunderbolt/devices/0-0:1.1");
                mkdir("bus/thunderbolt/devices/0-301");
            }
        }
    }

    void networkInterface(const QString &name, const QString &device, bool carrier)
    {
        write("class/net/" + name + "/carrier", carrier ? "1\n" : "0\n");
        link(device, "class/net/" + name + "/device");
    }

private:
    QTemporaryDir dir_;
};

} // namespace

class ThunderboltSysfsTest : public QObject {
    Q_OBJECT
private slots:
    void probe_data()
    {
        columns<QString, QStringList, bool, std::optional<QString>>("layout", "interfaces", "plugged", "kind");
        const std::optional<QString> usb4(QStringLiteral("USB4")), thunderbolt(QStringLiteral("Thunderbolt")), none;
        QTest::newRow("USB4 peer with carrier") << "eth d0:4 p0:thunderbolt0:1" << QStringList{"thunderbolt0"} << true << usb4;
        QTest::newRow("older router") << "d0:3 p0:thunderbolt0:1" << QStringList{"thunderbolt0"} << true << thunderbolt;
        // A device attached at depth 1 counts as plugged without carrier.
        QTest::newRow("router without generation, no carrier")
            << "d0:- p0:thunderbolt0:0" << QStringList{"thunderbolt0"} << true << thunderbolt;
        QTest::newRow("two domains") << "d0:4 d1:4 p0:thunderbolt0:1 p1:thunderbolt1:1"
                                     << QStringList{"thunderbolt0", "thunderbolt1"} << true << none;
        QTest::newRow("peripheral alone") << "d0:4 dev" << QStringList{} << true << none;
        QTest::newRow("host routers alone") << "eth d0:4 d1:4 far" << QStringList{} << false << none;
        QTest::newRow("no sysfs") << "missing" << QStringList{} << false << none;
    }

    void probe()
    {
        auto [layout, interfaces, plugged, kind] = fetch<QString, QStringList, bool, std::optional<QString>>("layout", "interfaces", "plugged", "kind");
        SysTree tree;
        tree.lay(layout);
        SysfsCableProbe probe(layout == QLatin1String("missing") ? QStringLiteral("/nonexistent/sys") : tree.root());
        QCOMPARE(probe.cableInterfaces(), interfaces);
        QCOMPARE(probe.plugged(), plugged);
        QCOMPARE(probe.networkingKind(), kind);
        QVERIFY(!probe.isCableInterface("enp0s31f6") && !probe.hasCarrier("thunderbolt9"));
        QCOMPARE(probe.isCableInterface("thunderbolt0"), !interfaces.isEmpty());
        // A name that would lead to the real interface's files if joined to the path as it is.
        QVERIFY(!probe.isCableInterface("../net/thunderbolt0") && !probe.hasCarrier("../net/thunderbolt0"));
    }

    void removableFlag_data()
    {
        columns<QString, std::optional<bool>>("device", "removable");
        QTest::newRow("partition answers for its disk") << QStringLiteral("sdb1") << std::optional<bool>(true);
        QTest::newRow("fixed partition") << QStringLiteral("nvme0n1p2") << std::optional<bool>(false);
        QTest::newRow("path outside") << QStringLiteral("../block/sdb") << std::optional<bool>();
    }

    void removableFlag()
    {
        auto [device, removable] = fetch<QString, std::optional<bool>>("device", "removable");
        // A removable USB stick and a fixed NVMe disk, one partition each, linked as
        // the kernel links them.
        SysTree tree;
        tree.mkdir(QStringLiteral("block"));
        tree.mkdir(QStringLiteral("class/block"));
        for (const QString disk : {"usb/block/sdb:1", "pci/block/nvme0n1:0"}) {
            const QString target = "devices/" + disk.section(':', 0, 0), name = target.section('/', -1);
            const QString partition = name + (name.startsWith('n') ? "p2" : "1");
            tree.mkdir(target + '/' + partition);
            tree.write(target + "/removable", disk.section(':', 1).toLatin1() + '\n');
            tree.write(target + '/' + partition + "/partition", "1\n");
            tree.link(target, "block/" + name);
            tree.link(target, "class/block/" + name);
            tree.link(target + '/' + partition, "class/block/" + partition);
        }
        QCOMPARE(SystemVolumeSource::removable(tree.root(), device), removable);
    }

};

QTEST_GUILESS_MAIN(ThunderboltSysfsTest)
#include "tst_thunderbolt_sysfs.moc"

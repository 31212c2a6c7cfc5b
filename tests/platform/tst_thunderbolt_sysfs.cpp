#include "platform/mounted_volumes.h"
#include "platform/thunderbolt_sysfs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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

    // Lays out words: "d0:4" domain 0 whose host router is of generation 4 ("d0:-"
    // without the attribute), "p0:thunderbolt0:1" another computer at port 1 of
    // domain 0 offering networking through thunderbolt0 with carrier, "eth" a wired
    // card, "dev" a peripheral at depth 1, "far" a retimer and a device two hops away.
    void lay(const QString &layout)
    {
        for (const QString &word : layout.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QStringList part = word.split(QLatin1Char(':'));
            const QString n = part[0].mid(1);
            if (word.startsWith(QLatin1Char('d')) && part.size() == 2) {
                const QString router = QStringLiteral("devices/domain%1/%1-0").arg(n);
                mkdir(router);
                if (part[1] != QLatin1String("-"))
                    write(router + QStringLiteral("/generation"), part[1].toLatin1() + '\n');
                link(QStringLiteral("devices/domain") + n, QStringLiteral("bus/thunderbolt/devices/domain") + n);
                link(router, QStringLiteral("bus/thunderbolt/devices/%1-0").arg(n));
            } else if (word.startsWith(QLatin1Char('p'))) {
                const QString xdomain = QStringLiteral("devices/domain%1/%1-0/%1-1").arg(n);
                const QString service = xdomain + QStringLiteral("/%1-1.0").arg(n);
                mkdir(service);
                link(QStringLiteral("bus/thunderbolt/drivers/thunderbolt-net"), service + QStringLiteral("/driver"));
                link(xdomain, QStringLiteral("bus/thunderbolt/devices/%1-1").arg(n));
                link(service, QStringLiteral("bus/thunderbolt/devices/%1-1.0").arg(n));
                networkInterface(part[1], service, part[2] == QLatin1String("1"));
            } else if (word == QLatin1String("eth")) {
                const QString device = QStringLiteral("devices/pci0000:00/0000:00:1f.6");
                mkdir(device);
                link(QStringLiteral("bus/pci/drivers/e1000e"), device + QStringLiteral("/driver"));
                networkInterface(QStringLiteral("enp0s31f6"), device, true);
            } else if (word == QLatin1String("dev")) {
                mkdir(QStringLiteral("devices/domain0/0-0/0-3"));
                link(QStringLiteral("devices/domain0/0-0/0-3"), QStringLiteral("bus/thunderbolt/devices/0-3"));
            } else if (word == QLatin1String("far")) {
                mkdir(QStringLiteral("bus/thunderbolt/devices/0-0:1.1"));
                mkdir(QStringLiteral("bus/thunderbolt/devices/0-301"));
            }
        }
    }

    void networkInterface(const QString &name, const QString &device, bool carrier)
    {
        mkdir(QStringLiteral("class/net/") + name);
        link(device, QStringLiteral("class/net/%1/device").arg(name));
        write(QStringLiteral("class/net/%1/carrier").arg(name), carrier ? "1\n" : "0\n");
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
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<bool>("plugged");
        QTest::addColumn<std::optional<QString>>("kind");
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
        QFETCH(QString, layout);
        QFETCH(QStringList, interfaces);
        QFETCH(bool, plugged);
        QFETCH(std::optional<QString>, kind);
        SysTree tree;
        tree.lay(layout);
        SysfsCableProbe probe(layout == QLatin1String("missing") ? QStringLiteral("/nonexistent/sys") : tree.root());
        QCOMPARE(probe.cableInterfaces(), interfaces);
        QCOMPARE(probe.plugged(), plugged);
        QCOMPARE(probe.networkingKind(), kind);
        QVERIFY(!probe.isCableInterface(QStringLiteral("enp0s31f6")));
        QCOMPARE(probe.isCableInterface(QStringLiteral("thunderbolt0")), !interfaces.isEmpty());
    }

    void oddInterfaceNamesAreRejected()
    {
        SysTree tree;
        tree.lay(QStringLiteral("d0:4 p0:thunderbolt0:1"));
        SysfsCableProbe probe(tree.root());
        // Each of these would lead to the real interface's files if it were joined
        // to the path as it is.
        QVERIFY(probe.isCableInterface("thunderbolt0") && probe.hasCarrier("thunderbolt0"));
        QVERIFY(!probe.isCableInterface("../net/thunderbolt0") && !probe.hasCarrier("../net/thunderbolt0"));
        QVERIFY(!probe.hasCarrier("thunderbolt9")); // no carrier file
    }

    void removableFlag_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<std::optional<bool>>("removable");
        QTest::newRow("disk") << QStringLiteral("sdb") << std::optional<bool>(true);
        QTest::newRow("partition answers for its disk") << QStringLiteral("sdb1") << std::optional<bool>(true);
        QTest::newRow("fixed partition") << QStringLiteral("nvme0n1p2") << std::optional<bool>(false);
        QTest::newRow("path outside") << QStringLiteral("../block/sdb") << std::optional<bool>();
    }

    void removableFlag()
    {
        QFETCH(QString, device);
        QFETCH(std::optional<bool>, removable);
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

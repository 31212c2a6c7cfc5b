#include "platform/mounted_volumes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;

class MountedVolumesTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;

    void write(const QString &relative, const QByteArray &text)
    {
        QVERIFY(QDir(dir_.path()).mkpath(QFileInfo(relative).path()));
        QFile file(dir_.filePath(relative));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

private slots:
    void initTestCase()
    {
        // A removable USB stick with one partition, a fixed NVMe disk, and a disk
        // whose flag says neither.
        write(QStringLiteral("devices/usb/block/sdb/removable"), "1\n");
        write(QStringLiteral("devices/usb/block/sdb/sdb1/partition"), "1\n");
        write(QStringLiteral("devices/pci/block/nvme0n1/removable"), "0\n");
        write(QStringLiteral("devices/pci/block/nvme0n1/nvme0n1p2/partition"), "2\n");
        write(QStringLiteral("devices/virtual/block/loop0/removable"), "maybe\n");
        QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("block")));
        QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("class/block")));
        const auto link = [this](const QString &target, const QString &at) {
            QVERIFY(QFile::link(dir_.filePath(target), dir_.filePath(at)));
        };
        link(QStringLiteral("devices/usb/block/sdb"), QStringLiteral("block/sdb"));
        link(QStringLiteral("devices/pci/block/nvme0n1"), QStringLiteral("block/nvme0n1"));
        link(QStringLiteral("devices/virtual/block/loop0"), QStringLiteral("block/loop0"));
        link(QStringLiteral("devices/usb/block/sdb"), QStringLiteral("class/block/sdb"));
        link(QStringLiteral("devices/usb/block/sdb/sdb1"), QStringLiteral("class/block/sdb1"));
        link(QStringLiteral("devices/pci/block/nvme0n1"), QStringLiteral("class/block/nvme0n1"));
        link(QStringLiteral("devices/pci/block/nvme0n1/nvme0n1p2"), QStringLiteral("class/block/nvme0n1p2"));
    }

    void removableFlag_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<std::optional<bool>>("removable");
        QTest::newRow("disk") << QStringLiteral("sdb") << std::optional<bool>(true);
        QTest::newRow("partition answers for its disk") << QStringLiteral("sdb1") << std::optional<bool>(true);
        QTest::newRow("fixed disk") << QStringLiteral("nvme0n1") << std::optional<bool>(false);
        QTest::newRow("fixed partition") << QStringLiteral("nvme0n1p2") << std::optional<bool>(false);
        QTest::newRow("unreadable flag") << QStringLiteral("loop0") << std::optional<bool>();
        QTest::newRow("unknown device") << QStringLiteral("sdc") << std::optional<bool>();
        QTest::newRow("path outside") << QStringLiteral("../block/sdb") << std::optional<bool>();
        QTest::newRow("empty") << QString() << std::optional<bool>();
    }

    void removableFlag()
    {
        QFETCH(QString, device);
        QFETCH(std::optional<bool>, removable);
        QCOMPARE(SystemVolumeSource::removable(dir_.path(), device), removable);
    }

    void rootFileSystemIsListed()
    {
        const QList<MountedVolume> volumes = VolumeSource::system().mountedVolumes();
        const auto root = std::find_if(volumes.begin(), volumes.end(),
                                       [](const MountedVolume &volume) { return volume.rootPath == QLatin1String("/"); });
        QVERIFY(root != volumes.end());
        QVERIFY(root->rootFileSystem);
        QVERIFY(root->ready);
    }
};

QTEST_GUILESS_MAIN(MountedVolumesTest)
#include "tst_mounted_volumes.moc"

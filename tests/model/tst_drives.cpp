#include "model/drives.h"

#include "fake_volume_names.h"
#include "fake_volume_source.h"

#include <QTest>

using namespace cv;
using cv::test::FakeVolumeNames;
using cv::test::FakeVolumeSource;

Q_DECLARE_METATYPE(cv::Drive)

namespace {

MountedVolume volume(const QString &path, const QString &device, const QByteArray &type, const QString &label = {})
{
    MountedVolume v = FakeVolumeSource::localVolume(path, label);
    v.device = device;
    v.fileSystemType = type;
    return v;
}

} // namespace

class DrivesTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<FakeVolumeSource> source_;
    std::unique_ptr<FakeVolumeNames> names_;

private slots:
    void init()
    {
        source_ = std::make_unique<FakeVolumeSource>();
        names_ = std::make_unique<FakeVolumeNames>();
        names_->startup = QStringLiteral("Fedora");
        qunsetenv("CV_MAC_PREVIEW_MULTI_DRIVE");
    }

    void cleanup() { names_.reset(); }

    void startupDiskComesFirst()
    {
        QCOMPARE(Drives::shareable(*source_, false), QList<Drive>{(Drive{QStringLiteral("/"), QStringLiteral("Fedora"), false})});
        // Its name is read on each listing.
        names_->startup = QStringLiteral("Macintosh HD");
        QCOMPARE(Drives::startupName(), QStringLiteral("Macintosh HD"));
        QCOMPARE(Drives::shareable(*source_, false).first().name, QStringLiteral("Macintosh HD"));
    }

    void volumeFiltering_data()
    {
        QTest::addColumn<MountedVolume>("mounted");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<Drive>("drive");
        const auto local = [](const QString &path, const QString &label, std::optional<bool> removable) {
            return FakeVolumeSource::localVolume(path, label, removable);
        };
        QTest::newRow("labelled stick under /media")
            << local(QStringLiteral("/media/ann/STICK"), QStringLiteral("Holiday"), true) << true
            << Drive{QStringLiteral("/media/ann/STICK"), QStringLiteral("Holiday"), true};
        QTest::newRow("unlabelled fixed disk under /run/media")
            << local(QStringLiteral("/run/media/ann/Backup"), QString(), false) << true
            << Drive{QStringLiteral("/run/media/ann/Backup"), QStringLiteral("Backup"), false};
        QTest::newRow("unknown removable flag counts as external")
            << local(QStringLiteral("/mnt/data"), QString(), std::nullopt) << true
            << Drive{QStringLiteral("/mnt/data"), QStringLiteral("data"), true};
        QTest::newRow("fuseblk on a disk is local")
            << volume(QStringLiteral("/media/ann/Win"), QStringLiteral("/dev/sdc2"), "fuseblk", QStringLiteral("Windows"))
            << true << Drive{QStringLiteral("/media/ann/Win"), QStringLiteral("Windows"), true};
        QTest::newRow("outside the volume folders") << local(QStringLiteral("/home"), QString(), false) << false << Drive{};
        QTest::newRow("the folder itself") << local(QStringLiteral("/mnt"), QString(), true) << false << Drive{};
        QTest::newRow("look-alike folder") << local(QStringLiteral("/mediafiles/x"), QString(), true) << false << Drive{};
        QTest::newRow("NFS") << volume(QStringLiteral("/mnt/nas"), QStringLiteral("nas:/export"), "nfs4") << false << Drive{};
        QTest::newRow("SMB") << volume(QStringLiteral("/media/ann/share"), QStringLiteral("//nas/share"), "cifs") << false
                             << Drive{};
        QTest::newRow("network type on a device name")
            << volume(QStringLiteral("/mnt/ceph"), QStringLiteral("/dev/rbd0x"), "ceph") << false << Drive{};
        QTest::newRow("memory file system") << volume(QStringLiteral("/mnt/scratch"), QStringLiteral("tmpfs"), "tmpfs")
                                            << false << Drive{};
        QTest::newRow("hidden mount point") << local(QStringLiteral("/mnt/.snapshots"), QString(), false) << false << Drive{};
        QTest::newRow("inside a hidden folder")
            << local(QStringLiteral("/run/media/ann/.cache/disk"), QString(), true) << false << Drive{};
        MountedVolume unready = local(QStringLiteral("/media/ann/CD"), QStringLiteral("CD"), true);
        unready.ready = false;
        QTest::newRow("properties unreadable") << unready << false << Drive{};
        MountedVolume root = local(QStringLiteral("/mnt/sysroot"), QString(), false);
        root.rootFileSystem = true;
        QTest::newRow("root file system") << root << false << Drive{};
    }

    void volumeFiltering()
    {
        QFETCH(MountedVolume, mounted);
        QFETCH(bool, listed);
        QFETCH(Drive, drive);
        source_->volumes = {mounted};
        const QList<Drive> drives = Drives::shareable(*source_, false);
        QCOMPARE(drives.size(), listed ? 2 : 1);
        QCOMPARE(drives.first().path, QStringLiteral("/"));
        if (listed)
            QCOMPARE(drives.at(1), drive);
    }

    void volumesKeepTheSystemOrder()
    {
        source_->volumes = {
            FakeVolumeSource::localVolume(QStringLiteral("/"), QString(), false),
            FakeVolumeSource::localVolume(QStringLiteral("/mnt/zeta"), QString(), false),
            volume(QStringLiteral("/mnt/nas"), QStringLiteral("nas:/x"), "nfs"),
            FakeVolumeSource::localVolume(QStringLiteral("/media/ann/alpha"), QString(), true),
        };
        QStringList paths;
        for (const Drive &drive : Drives::shareable(*source_, false))
            paths.append(drive.path);
        QCOMPARE(paths, (QStringList{"/", "/mnt/zeta", "/media/ann/alpha"}));
        QCOMPARE(source_->listings(), 1);
    }

    void previewDrives_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("on");
        QTest::newRow("1") << QByteArray("1") << true;
        QTest::newRow("true") << QByteArray("true") << false;
        QTest::newRow("1 with a space") << QByteArray("1 ") << false;
        QTest::newRow("0") << QByteArray("0") << false;
        QTest::newRow("empty") << QByteArray("") << false;
    }

    void previewDrives()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, on);
        qputenv("CV_MAC_PREVIEW_MULTI_DRIVE", value);
        QCOMPARE(Drives::readPreviewMultiDrive(), on);
        source_->volumes = {FakeVolumeSource::localVolume(QStringLiteral("/media/ann/USB"), QStringLiteral("USB"), true)};
        const QList<Drive> drives = Drives::shareable(*source_, Drives::readPreviewMultiDrive());
        QList<Drive> expected{Drive{QStringLiteral("/"), QStringLiteral("Fedora"), false}};
        if (on) {
            expected.append(Drive{QStringLiteral("/Volumes/External SSD"), QStringLiteral("External SSD"), true});
            expected.append(Drive{QStringLiteral("/Volumes/Photos"), QStringLiteral("Photos"), true});
        }
        expected.append(Drive{QStringLiteral("/media/ann/USB"), QStringLiteral("USB"), true});
        QCOMPARE(drives, expected);
    }

    void previewSwitchIsReadOnce()
    {
        qunsetenv("CV_MAC_PREVIEW_MULTI_DRIVE");
        const bool first = Drives::previewMultiDrive();
        QVERIFY(!first);
        qputenv("CV_MAC_PREVIEW_MULTI_DRIVE", "1");
        QCOMPARE(Drives::previewMultiDrive(), first);
        QCOMPARE(Drives::shareable().first().path, QStringLiteral("/"));
        QVERIFY(!Drives::shareable().contains(Drives::previewDrives().first()));
    }

    void displayName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("startup disk") << QStringLiteral("/") << QStringLiteral("Fedora");
        QTest::newRow("data volume") << QStringLiteral("/System/Volumes/Data") << QStringLiteral("Fedora");
        QTest::newRow("volume root") << QStringLiteral("/media/ann/STICK") << QStringLiteral("Holiday");
        QTest::newRow("volume root with slash") << QStringLiteral("/media/ann/STICK/") << QStringLiteral("Holiday");
        QTest::newRow("folder on a volume") << QStringLiteral("/media/ann/STICK/Photos") << QStringLiteral("Photos");
        QTest::newRow("folder on the startup disk") << QStringLiteral("/home/a/Shared") << QStringLiteral("Shared");
        QTest::newRow("unlabelled volume root") << QStringLiteral("/mnt/data") << QStringLiteral("data");
        QTest::newRow("trailing slash") << QStringLiteral("/home/a/Shared/") << QStringLiteral("Shared");
        QTest::newRow("no volume") << QStringLiteral("relative/name") << QStringLiteral("name");
        QTest::newRow("empty") << QString() << QString();
    }

    void displayName()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        names_->labels.insert(QStringLiteral("/media/ann/STICK"), QStringLiteral("Holiday"));
        QCOMPARE(Drives::displayName(path), name);
    }

};

QTEST_GUILESS_MAIN(DrivesTest)
#include "tst_drives.moc"

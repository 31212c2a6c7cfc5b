// The cable probes' readings of tool output, and the list of shareable drives.

#include "fake_volume_names.h"
#include "fake_volume_source.h"

#include "model/cable.h"
#include "model/drives.h"

#include <QTest>

#include <functional>
#include <mutex>

using namespace cv;
using namespace cv::test;

namespace {

// A Thunderbolt bus of system_profiler's report holding the given devices.
QString bus(const QStringList &devices) { return "{\"_items\":[" + devices.join(',') + "]}"; }
QString report(const QStringList &buses) { return "{\"SPThunderboltDataType\":[" + buses.join(',') + "]}"; }
// A device of a bus; with networking it offers "service_ip".
QString device(const QString &name, bool networking = true)
{
    return QString(R"({"device_name_key":"%1","services_title":[{"_name":"service_pcie"}%2]})")
        .arg(name, networking ? R"(,{"_name":"service_ip"})" : "");
}

MountedVolume volume(const QString &path, const QString &label = {}, std::optional<bool> removable = true,
                     const QByteArray &type = "ext4", const QString &device = "/dev/sdc1")
{
    MountedVolume v = FakeVolumeSource::localVolume(path, label, removable);
    v.fileSystemType = type;
    v.device = device;
    return v;
}

template<class T>
T with(T value, const std::function<void(T &)> &change)
{
    change(value);
    return value;
}

// Answers tool runs from canned outputs and records every run.
struct FakeToolRunner final : ToolRunner {
    QMap<QString, QString> outputs; // "path arg" -> output
    QStringList runs;
    std::mutex mutex;
    QString run(const QString &path, const QStringList &arguments) override
    {
        const std::lock_guard lock(mutex);
        runs << (QStringList{path} + arguments).join(' ');
        return outputs.value(runs.last());
    }
};

} // namespace

class ProbesTest : public QObject {
    Q_OBJECT

private slots:
    void thunderboltPorts_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QStringList>("ports");
        QTest::newRow("bridge and other ports left out")
            << "Hardware Port: Thunderbolt Bridge\nDevice: bridge0\nHardware Port: Thunderbolt 2\nDevice: en2\n"
               "Hardware Port: Wi-Fi\nDevice: en0\n" << QStringList{"en2"};
        QTest::newRow("trimmed, every device line") << "Hardware Port: Thunderbolt 1\nDevice: \t en1 \t\nDevice: en5\n"
                                                    << QStringList{"en1", "en5"};
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
        QTest::addColumn<QString>("kind"); // empty: none
        const QString usb4 = device("Mac mini USB4"), tb = device("MacBook Air"), dock = device("USB4 Dock", false);
        QTest::newRow("one USB4 bus") << report({bus({usb4})}) << "USB4";
        QTest::newRow("two buses") << report({bus({usb4}), bus({usb4})}) << "";
        QTest::newRow("bus without networking ignored") << report({bus({dock}), bus({usb4})}) << "USB4";
        QTest::newRow("any USB4 device") << report({bus({tb, usb4})}) << "USB4";
        QTest::newRow("items not a list") << report({"{\"_items\":{\"a\":1}}", bus({tb})}) << "Thunderbolt";
        QTest::newRow("bus not an object") << report({bus({usb4}), "3"}) << "";
    }

    void linkKind()
    {
        QFETCH(QString, output);
        QFETCH(QString, kind);
        QCOMPARE(Cable::linkKind(output), kind.isEmpty() ? std::nullopt : std::optional<QString>(kind));
    }

    void toolProbe()
    {
        FakeToolRunner runner;
        const QString ports = "/usr/sbin/networksetup -listallhardwareports", en2 = "/sbin/ifconfig en2";
        runner.outputs = {{ports, "Hardware Port: Thunderbolt 2\nDevice: en2\n"}, {en2, "\tstatus: active\n"}};
        ToolCableProbe probe(runner);
        QVERIFY(probe.isThunderbolt(Cable::demoInterface) && !probe.isThunderbolt(0));
        QVERIFY(Cable::isThunderboltName("en2") && Cable::isThunderboltName("bridge0") && !Cable::isThunderboltName("utun3"));
        QVERIFY(probe.plugged());
        // The port list is read once; later probes only ask ifconfig.
        runner.outputs[en2] = "\tstatus: inactive\n";
        QVERIFY(!probe.plugged());
        QCOMPARE(runner.runs, (QStringList{ports, en2, en2}));
        runner.outputs["/usr/sbin/system_profiler -json SPThunderboltDataType"] = report({bus({device("MacBook Air")})});
        QCOMPARE(probe.networkingKind(), "Thunderbolt");
        // A tool that gave nothing means no kind and no port.
        runner.outputs.clear();
        QCOMPARE(probe.networkingKind(), std::nullopt);
        QVERIFY(!ToolCableProbe(runner).plugged());
    }

    void shareableDrives_data()
    {
        QTest::addColumn<MountedVolume>("mounted");
        QTest::addColumn<QString>("listed"); // "name external|internal"; empty: not listed
        QTest::newRow("labelled stick") << volume("/media/ann/STICK", "Holiday") << "Holiday external";
        QTest::newRow("removable unknown") << volume("/mnt/data", {}, std::nullopt) << "data external";
        QTest::newRow("outside the volume folders") << volume("/home") << "";
        QTest::newRow("look-alike folder") << volume("/mntfiles/x") << "";
        QTest::newRow("NFS") << volume("/mnt/nas", {}, true, "nfs4", "nas:/export") << "";
        QTest::newRow("SMB3 on a device name") << volume("/mnt/smb", {}, true, "smb3", "/dev/sdx") << "";
        QTest::newRow("hidden") << volume("/mnt/.snapshots") << "";
        QTest::newRow("root file system") << with<MountedVolume>(volume("/mnt/sysroot"), [](auto &v) { v.rootFileSystem = true; })
                                          << "";
    }

    void shareableDrives()
    {
        QFETCH(MountedVolume, mounted);
        QFETCH(QString, listed);
        FakeVolumeNames names;
        names.startup = "Fedora";
        FakeVolumeSource source;
        source.volumes = {mounted, volume("/media/ann/zeta")};
        QList<Drive> expected{{"/", "Fedora", false}};
        if (!listed.isEmpty())
            expected << Drive{mounted.rootPath, listed.section(' ', 0, 0), listed.endsWith("external")};
        expected << Drive{"/media/ann/zeta", "zeta", true};
        QCOMPARE(Drives::shareable(source, false), expected);
    }

    void previewDrives_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("on");
        QTest::newRow("1") << QByteArray("1") << true;
        QTest::newRow("true") << QByteArray("true") << false;
    }

    void previewDrives()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, on);
        FakeVolumeNames names;
        qputenv("CV_MAC_PREVIEW_MULTI_DRIVE", value);
        QCOMPARE(Drives::readPreviewMultiDrive(), on);
        FakeVolumeSource source;
        source.volumes = {volume("/media/ann/USB", "USB")};
        QList<Drive> expected{{"/", "Macintosh HD", false}};
        if (on)
            expected << Drive{"/Volumes/External SSD", "External SSD", true} << Drive{"/Volumes/Photos", "Photos", true};
        expected << Drive{"/media/ann/USB", "USB", true};
        QCOMPARE(Drives::shareable(source, Drives::readPreviewMultiDrive()), expected);
        // The switch the application uses was read once, before.
        QCOMPARE(Drives::previewMultiDrive(), false);
    }

    void displayName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("startup disk") << "/" << "Fedora";
        QTest::newRow("labelled volume root with slash") << "/media/ann/STICK/" << "Holiday";
        QTest::newRow("folder on a volume") << "/media/ann/STICK/Photos" << "Photos";
    }

    void displayName()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        FakeVolumeNames names;
        names.startup = "Fedora";
        names.labels.insert("/media/ann/STICK", "Holiday");
        QCOMPARE(Drives::displayName(path), name);
    }

    void initTestCase()
    {
        qunsetenv("CV_MAC_PREVIEW_MULTI_DRIVE");
        QVERIFY(!Drives::previewMultiDrive());
    }
};

QTEST_GUILESS_MAIN(ProbesTest)
#include "tst_probes.moc"

// What the model tells the views: computers in order, lookups, drives, link texts,
// settings; and the volumes behind the drives.

#include "model_fixture.h"

#include <QSemaphore>
#include <QTest>

#include <atomic>

using namespace cv;
using namespace cv::test;

namespace {

// "name/id" of each computer, or the path of each drive.
template<class T>
QStringList names(const QList<T> &list)
{
    QStringList out;
    for (const T &item : list) {
        if constexpr (std::is_same_v<T, Drive>)
            out << item.path;
        else
            out << item.name + '/' + item.id;
    }
    return out;
}

QString settings(const AppModel &m)
{
    return QStringList{m.showInMenuBar() ? "true" : "false", m.notifyConnections() ? "true" : "false",
                       m.notifyFiles() ? "true" : "false", m.lastReceiveFolder().value_or("none")}.join(' ');
}

// A volume source whose listing blocks until the test lets it go, as a network share
// whose cable was pulled does.
class BlockingVolumes final : public VolumeSource {
public:
    QList<MountedVolume> mountedVolumes() const override
    {
        inside = true;
        release.tryAcquire(1, 20000);
        return {FakeVolumeSource::localVolume("/mnt/usb")};
    }
    mutable std::atomic<bool> inside{false};
    mutable QSemaphore release;
};

MountedVolume volume(const QString &path, const QString &label = {}, std::optional<bool> removable = true, const QByteArray &type = "ext4",
                     const QString &device = "/dev/sdc1")
{
    MountedVolume v = FakeVolumeSource::localVolume(path, label, removable);
    v.fileSystemType = type;
    v.device = device;
    return v;
}

} // namespace

class QueriesTest : public QObject {
    Q_OBJECT

private slots:
    void sortingAndLookups()
    {
        ModelFixture f;
        AppModel &m = f.model();
        const QJsonObject apple = peer("p5").named("Apple").sharing(share::folder("/home/me/Shared"));
        install(m, status({.peers = {peer("p1").named("Mac 10"), peer("p2").named("mac 9"), peer("p3").named("Zed").choosing(),
                                     peer("p4").named("Mac 9"), apple, peer("p6").named("Mac 9"), peer("p5").named("Second Apple")},
                           .remembered = {remembered("c").named("Mac 10"), remembered("p5").named("Old Apple"), remembered("d").named("Mac 2")}}));
        // Needing a choice first; numbers by value; case ignored; equal names in the
        // service's order.
        QCOMPARE(names(m.peers()), QStringList({"Zed/p3", "Apple/p5", "mac 9/p2", "Mac 9/p4", "Mac 9/p6", "Mac 10/p1", "Second Apple/p5"}));
        QCOMPARE(names(m.offline()), QStringList({"Mac 2/d", "Mac 10/c"}));
        // The first connected one with an id, exactly; else a remembered one.
        QCOMPARE(m.name("p5"), "Apple");
        QCOMPARE(m.share("p5").mode, "folder");
        QVERIFY(!m.peer("P5"));
        QCOMPARE(m.name("x"), "Computer");
    }

    void drives()
    {
        ModelFixture f;
        f.volumes->volumes = {FakeVolumeSource::localVolume("/"), FakeVolumeSource::localVolume("/media/a/Backup", "Backup"),
                              FakeVolumeSource::localVolume("/mnt/Archive", "Archive")};
        AppModel &m = f.model();
        const QJsonArray peers{peer("f").sharing(share::folder("/home/me/Shared")), peer("two").sharing(share::drives({"/mnt/Archive", "/media/a/Backup"}))};
        install(m, status({.peers = peers}));
        // Without the capability only the startup disk is offered, also once the
        // volumes are listed.
        m.shareableDrives();
        QTRY_VERIFY(f.volumes->listings() == 1 && AppModelAccess::drivesListings(m) == 0);
        QCOMPARE(names(m.shareableDrives()), QStringList{"/"});
        QCOMPARE(m.sharedDrives("f"), QStringList{"/"});
        QCOMPARE(m.drivesDescription("two"), "Archive and Backup appear on the other computer.");
        install(m, status({.peers = peers, .capabilities = {"multi_drive"}}));
        QTRY_COMPARE(names(m.shareableDrives()), QStringList({"/", "/media/a/Backup", "/mnt/Archive"}));
        // Listed once (off the main thread), then kept 5 s (strictly).
        f.clock.advance(5.0);
        m.shareableDrives();
        settle();
        QCOMPARE(f.volumes->listings(), 1);
        f.clock.advance(0.001);
        m.shareableDrives();
        QTRY_COMPARE(f.volumes->listings(), 2);
    }

    // A listing that blocks holds up neither the view queries nor the main thread,
    // which get the last list meanwhile.
    void volumeListingLeavesTheMainThread()
    {
        ModelFixture f;
        auto volumes = std::make_shared<BlockingVolumes>();
        f.volumeSource = volumes;
        AppModel &m = f.model();
        install(m, status({.capabilities = {"multi_drive"}}));
        QCOMPARE(names(m.shareableDrives()), QStringList{"/"});
        QTRY_VERIFY(volumes->inside);
        QCOMPARE(names(m.shareableDrives()), QStringList{"/"});
        volumes->release.release();
        QTRY_COMPARE(names(m.shareableDrives()), QStringList({"/", "/mnt/usb"}));
    }

    void linkTexts()
    {
        ModelFixture f;
        f.cable->setThunderboltIndexes({7});
        AppModel &m = f.model();
        install(m, status({.peers = {peer("tb"), peer("fast").linked(40'000'000'000, 20'000'000'000), peer("other").on(9).linked(900'000'000, 10'000'000'000)}}));
        QCOMPARE(m.linkDescription("tb"), "Connected via Thunderbolt");
        m.setLinkKind("USB4");
        QCOMPARE(m.linkDescription("fast"), "Connected via USB4 · 20.0\u00A0Gb/s");
        QCOMPARE(m.linkDescription("other"), "Connected · 900\u00A0Mb/s");
    }

    // Only a stored Bool switches a notice off; each set is stored; turning a notice
    // on asks for the permission while it is undecided.
    void settings()
    {
        ModelFixture f;
        f.defaults = std::make_shared<FakeUserDefaults>(QMap<QString, QString>{{"notifyConnections", "off"}, {"notifyFiles", "false"}});
        f.notifications->setAuthorizationReply({false, std::nullopt}, NotificationAuthorizationStatus::notDetermined);
        AppModel &m = f.model();
        QCOMPARE(::settings(m), "false true false none");
        m.setNotifications(AppModel::NotificationState::notDetermined);
        m.setShowInMenuBar(true);
        m.setNotifyConnections(false);
        m.setNotifyFiles(true);
        m.setLastReceiveFolder("/home/a/Inbox");
        QCOMPARE(f.notifications->authorizationRequests(), 1);
        QCOMPARE(::settings(f.remake()), "true false true /home/a/Inbox");
        f.model().setLastReceiveFolder(std::nullopt);
        QCOMPARE(f.remake().lastReceiveFolder(), std::nullopt);
    }

    // Local disks under the volume folders; network, hidden and look-alike ones left out.
    void shareableDrives()
    {
        FakeVolumeNames names;
        names.startup = "Fedora";
        FakeVolumeSource source;
        source.volumes = {volume("/media/ann/STICK", "Holiday"), volume("/run/media/ann/Backup", {}, false), volume("/home"), volume("/mntfiles/x"),
                          volume("/mnt/smb", {}, true, "smb3", "/dev/sdx"), volume("/mnt/.snapshots"), volume("/mnt/data", {}, std::nullopt)};
        QCOMPARE(Drives::shareable(source, false), (QList<Drive>{{"/", "Fedora", false}, {"/media/ann/STICK", "Holiday", true},
                                                                 {"/run/media/ann/Backup", "Backup", false}, {"/mnt/data", "data", true}}));
    }
};

QTEST_GUILESS_MAIN(QueriesTest)
#include "tst_queries.moc"

#include "model_fixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;
using cv::test::FakeVolumeSource;
using cv::test::ModelFixture;

namespace {

Peer makePeer(const QString &id, const QString &name, bool choiceRequired = false)
{
    Peer p;
    p.id = id;
    p.name = name;
    p.interface_index = 7;
    p.pairing_code = QStringLiteral("123456");
    p.choice_required = choiceRequired;
    p.sharing = Share::none();
    return p;
}

RememberedPeer makeRemembered(const QString &id, const QString &name, const QString &mode = QStringLiteral("none"))
{
    RememberedPeer r;
    r.id = id;
    r.name = name;
    r.share.mode = mode;
    return r;
}

ServiceStatus makeStatus(QList<Peer> peers, QStringList capabilities = {}, QList<RememberedPeer> remembered = {})
{
    ServiceStatus s;
    s.api_version = 1;
    s.version = QStringLiteral("1.0.0");
    s.computer_id = QStringLiteral("me");
    s.name = QStringLiteral("Me");
    s.capabilities = std::move(capabilities);
    s.peers = std::move(peers);
    s.remembered_computers = std::move(remembered);
    return s;
}

// Installs a status the service answered.
void answer(AppModel &m, ServiceStatus status)
{
    m.setStatus(std::move(status));
    m.setConnected(true);
}

// "name/id" of each computer, or the path of each drive.
template <typename T>
QStringList names(const QList<T> &list)
{
    QStringList out;
    for (const T &item : list) {
        if constexpr (std::is_same_v<T, Drive>)
            out << item.path;
        else
            out << item.name + QLatin1Char('/') + item.id;
    }
    return out;
}

// A computer sharing the given drives.
Peer sharing(const QString &id, const QStringList &drives)
{
    Peer p = makePeer(id, id);
    p.sharing.mode = QStringLiteral("drive");
    QList<Share::Location> locations;
    for (const QString &path : drives)
        locations.append(Share::Location{path});
    p.sharing.locations = locations;
    return p;
}

// Three shareable volumes besides the startup disk.
void threeVolumes(FakeVolumeSource &volumes)
{
    MountedVolume root = FakeVolumeSource::localVolume(QStringLiteral("/"), QStringLiteral("System"), false);
    root.rootFileSystem = true;
    volumes.volumes = QList<MountedVolume>{
        root,
        FakeVolumeSource::localVolume(QStringLiteral("/media/a/Backup"), QStringLiteral("Backup")),
        FakeVolumeSource::localVolume(QStringLiteral("/mnt/Archive"), QStringLiteral("Archive")),
        FakeVolumeSource::localVolume(QStringLiteral("/run/media/a/Photos"), QStringLiteral("Photos")),
    };
}

} // namespace

class ModelQueriesTest : public QObject {
    Q_OBJECT

private slots:
    void withoutStatus()
    {
        ModelFixture f;
        AppModel &m = f.model();
        QVERIFY(m.peers().isEmpty());
        QVERIFY(m.offline().isEmpty());
        QVERIFY(m.busy());
        QVERIFY(!m.receiveSupported());
        QVERIFY(!m.multiDrive());
        QVERIFY(!m.canCopy(QStringLiteral("a")));
        QVERIFY(!m.canCopyTo(QStringLiteral("a")));
        QVERIFY(!m.canSend(QStringLiteral("a")));
        QVERIFY(!m.peer(QStringLiteral("a")));
        QVERIFY(!m.remembered(QStringLiteral("a")));
        QCOMPARE(m.share(QStringLiteral("a")), Share::none());
        QCOMPARE(m.name(QStringLiteral("a")), QStringLiteral("Computer"));
        QCOMPARE(m.linkDescription(QStringLiteral("a")), QStringLiteral("Not connected"));
        QCOMPARE(m.linkKindDescription(QStringLiteral("a")), QStringLiteral("Not connected"));

        // Connected but still without a status: busy is about the connection only.
        m.setConnected(true);
        QVERIFY(!m.busy());
    }

    void previewDrivesTurnMultiDriveOn()
    {
        ModelFixture f;
        f.previewMultiDrive = true;
        QVERIFY(f.model().multiDrive());
        // Without a status the preview drives follow the startup disk, all offered.
        QCOMPARE(names(f.model().shareableDrives()),
                 QStringList({"/", "/Volumes/External SSD", "/Volumes/Photos"}));
    }

    void busy()
    {
        ModelFixture f;
        AppModel &m = f.model();
        answer(m, makeStatus({}));
        QVERIFY(!m.busy());
        m.setMutating(true);
        QVERIFY(m.busy());
        m.setMutating(false);
        ServiceStatus controlBusy = makeStatus({});
        controlBusy.control_busy = true;
        m.setStatus(controlBusy);
        QVERIFY(m.busy());
        m.setStatus(makeStatus({}));
        m.setConnected(false);
        QVERIFY(m.busy());
    }

    void sorting()
    {
        ModelFixture f;
        AppModel &m = f.model();
        answer(m, makeStatus({makePeer("p1", "Mac 10"), makePeer("p2", "mac 9"), makePeer("p3", "Zed", true),
                              makePeer("p4", "Mac 9"), makePeer("p5", "Apple"), makePeer("p6", "Mac 9")},
                             {}, {makeRemembered("c", "Mac 10"), makeRemembered("p5", "Apple"), makeRemembered("d", "Mac 2"),
                                  makeRemembered("e", "mac 2")}));
        // A computer needing a choice first; numbers by value; case ignored; equal
        // names in the service's order.
        QCOMPARE(names(m.peers()),
                 QStringList({"Zed/p3", "Apple/p5", "mac 9/p2", "Mac 9/p4", "Mac 9/p6", "Mac 10/p1"}));
        // The status itself keeps the service's order.
        QCOMPARE(m.status()->peers.first().id, QStringLiteral("p1"));
        // Offline: remembered computers that are not connected, sorted alike.
        QCOMPARE(names(m.offline()), QStringList({"Mac 2/d", "mac 2/e", "Mac 10/c"}));
    }

    void lookups()
    {
        ModelFixture f;
        AppModel &m = f.model();
        Peer a = makePeer("a", "Alpha");
        a.sharing.mode = QStringLiteral("folder");
        a.sharing.location = Share::Location{QStringLiteral("/home/me/Shared")};
        Peer twin = makePeer("a", "Second Alpha");
        answer(m, makeStatus({a, twin}, {}, {makeRemembered("a", "Old Alpha", "drive"), makeRemembered("r", "Remy", "receive")}));

        QCOMPARE(m.peer(QStringLiteral("a"))->name, QStringLiteral("Alpha")); // the first with that id
        QCOMPARE(m.name(QStringLiteral("a")), QStringLiteral("Alpha"));
        QCOMPARE(m.share(QStringLiteral("a")), a.sharing);
        QCOMPARE(m.name(QStringLiteral("r")), QStringLiteral("Remy"));
        QCOMPARE(m.share(QStringLiteral("r")).mode, QStringLiteral("receive"));
        QCOMPARE(m.remembered(QStringLiteral("a"))->name, QStringLiteral("Old Alpha"));
        QVERIFY(!m.peer(QStringLiteral("A"))); // exact comparison
        QCOMPARE(m.name(QStringLiteral("x")), QStringLiteral("Computer"));
        QCOMPARE(m.share(QStringLiteral("x")), Share::none());
    }

    void driveListCachedFiveSeconds()
    {
        ModelFixture f;
        threeVolumes(*f.volumes);
        AppModel &m = f.model();
        QCOMPARE(f.volumes->listings(), 0);
        m.shareableDrives();
        m.shareableDrives();
        QCOMPARE(f.volumes->listings(), 1);
        f.clock.advance(5.0); // exactly 5 s: still the cached list
        m.shareableDrives();
        QCOMPARE(f.volumes->listings(), 1);
        f.clock.advance(1.0);
        m.shareableDrives();
        QCOMPARE(f.volumes->listings(), 2);
        m.shareableDrives();
        QCOMPARE(f.volumes->listings(), 2);
    }

    void drives()
    {
        ModelFixture f;
        threeVolumes(*f.volumes);
        AppModel &m = f.model();
        Peer folder = makePeer("f", "Folder Mac");
        folder.sharing.mode = QStringLiteral("folder");
        folder.sharing.location = Share::Location{QStringLiteral("/home/me/Shared")};
        Peer one = sharing("one", {});
        one.sharing.locations.reset();
        one.sharing.location = Share::Location{QStringLiteral("/mnt/Archive")};
        const QList<Peer> peers{folder, one, sharing("two", {"/mnt/Archive", "/media/a/Backup"}), sharing("none", {})};
        answer(m, makeStatus(peers));

        // Without the capability only the startup disk is offered.
        QCOMPARE(names(m.shareableDrives()), QStringList{"/"});
        QCOMPARE(m.sharedDrives(QStringLiteral("f")), QStringList{"/"});
        QCOMPARE(m.sharedDrives(QStringLiteral("two")), QStringList({"/mnt/Archive", "/media/a/Backup"}));
        QCOMPARE(m.sharedDrives(QStringLiteral("nobody")), QStringList{"/"});
        QCOMPARE(m.drivesDescription(QStringLiteral("one")), QStringLiteral("Archive appears on the other computer."));
        QCOMPARE(m.drivesDescription(QStringLiteral("two")),
                 QStringLiteral("Archive and Backup appear on the other computer."));
        QCOMPARE(m.drivesDescription(QStringLiteral("none")), QStringLiteral("No drives available to share."));

        m.setStatus(makeStatus(peers, {QStringLiteral("multi_drive")}));
        QCOMPARE(names(m.shareableDrives()),
                 QStringList({"/", "/media/a/Backup", "/mnt/Archive", "/run/media/a/Photos"}));
        QCOMPARE(f.volumes->listings(), 1);
    }

    void linkTexts()
    {
        ModelFixture f;
        f.cable->setThunderboltIndexes({7});
        AppModel &m = f.model();
        Peer cable = makePeer("tb", "Cable Mac");
        Peer fast = makePeer("fast", "Fast Mac");
        fast.link_speed = LinkSpeed{40'000'000'000ull, 20'000'000'000ull};
        Peer other = makePeer("other", "Other Mac");
        other.interface_index = 9;
        Peer otherFast = makePeer("otherFast", "Other Fast Mac");
        otherFast.interface_index = 9;
        otherFast.link_speed = LinkSpeed{10'000'000'000ull, 10'000'000'000ull};
        Peer demo = makePeer("demo", "Demo Mac");
        demo.interface_index = demoInterfaceIndex;
        answer(m, makeStatus({cable, fast, other, otherFast, demo}));

        // Before the first link probe the kind reads "Thunderbolt".
        QCOMPARE(m.linkDescription(QStringLiteral("tb")), QStringLiteral("Connected via Thunderbolt"));
        QCOMPARE(m.linkKindDescription(QStringLiteral("tb")), QStringLiteral("Thunderbolt"));
        QCOMPARE(m.linkDescription(QStringLiteral("fast")),
                 QStringLiteral("Connected via Thunderbolt · ") + fast.link_speed->summary());
        QVERIFY(!fast.link_speed->summary().isEmpty());
        QCOMPARE(m.linkDescription(QStringLiteral("other")), QStringLiteral("Connected"));
        QCOMPARE(m.linkKindDescription(QStringLiteral("other")), QStringLiteral("Cable"));
        // The speed follows any link, not only a Thunderbolt one.
        QCOMPARE(m.linkDescription(QStringLiteral("otherFast")),
                 QStringLiteral("Connected · ") + otherFast.link_speed->summary());
        QCOMPARE(m.linkDescription(QStringLiteral("demo")), QStringLiteral("Connected via Thunderbolt"));
        QCOMPARE(m.linkDescription(QStringLiteral("gone")), QStringLiteral("Not connected"));

        m.setLinkKind(QStringLiteral("USB4"));
        QCOMPARE(m.linkDescription(QStringLiteral("tb")), QStringLiteral("Connected via USB4"));
        QCOMPARE(m.linkKindDescription(QStringLiteral("tb")), QStringLiteral("USB4"));
        QCOMPARE(m.linkKindDescription(QStringLiteral("other")), QStringLiteral("Cable"));
    }

    void canSend_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("receiveCapability");
        QTest::addColumn<bool>("remoteReceive");
        QTest::addColumn<bool>("choiceRequired");
        QTest::addColumn<bool>("expected");

        QTest::newRow("ready") << true << true << true << false << true;
        QTest::newRow("choice pending") << true << true << true << true << false;
        QTest::newRow("not accepting") << true << true << false << false << false;
        QTest::newRow("service cannot receive") << true << false << true << false << false;
        QTest::newRow("not connected") << false << true << true << false << false;
    }

    void canSend()
    {
        QFETCH(bool, connected);
        QFETCH(bool, receiveCapability);
        QFETCH(bool, remoteReceive);
        QFETCH(bool, choiceRequired);
        QFETCH(bool, expected);

        ModelFixture f;
        AppModel &m = f.model();
        Peer p = makePeer("p", "Receiver", choiceRequired);
        p.remote_receive = remoteReceive;
        m.setStatus(makeStatus({p}, receiveCapability ? QStringList{"receive_transfer"} : QStringList{}));
        m.setConnected(connected);
        QCOMPARE(m.canSend(QStringLiteral("p")), expected);
        QCOMPARE(m.receiveSupported(), receiveCapability);
        QVERIFY(!m.canSend(QStringLiteral("unknown")));
    }

    void canCopy_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("fastCopy");
        QTest::addColumn<bool>("mounted");
        QTest::addColumn<int>("remoteShare"); // 0 none, 1 read-only, 2 writable
        QTest::addColumn<bool>("canCopy");
        QTest::addColumn<bool>("canCopyTo");

        QTest::newRow("writable mount") << true << true << true << 2 << true << true;
        QTest::newRow("read-only mount") << true << true << true << 1 << true << false;
        QTest::newRow("mount without share") << true << true << true << 0 << true << false;
        QTest::newRow("not mounted") << true << true << false << 2 << false << false;
        QTest::newRow("no fast copy") << true << false << true << 2 << false << false;
        QTest::newRow("not connected") << false << true << true << 2 << false << false;
    }

    void canCopy()
    {
        QFETCH(bool, connected);
        QFETCH(bool, fastCopy);
        QFETCH(bool, mounted);
        QFETCH(int, remoteShare);
        QFETCH(bool, canCopy);
        QFETCH(bool, canCopyTo);

        ModelFixture f;
        AppModel &m = f.model();
        Peer p = makePeer("p", "Sharer");
        if (mounted)
            p.mount = QStringLiteral("/run/cv/Sharer");
        if (remoteShare)
            p.remote_share = RemoteShare{QStringLiteral("Sharer"), remoteShare == 1};
        m.setStatus(makeStatus({p}, fastCopy ? QStringList{"fast_copy"} : QStringList{}));
        m.setConnected(connected);
        QCOMPARE(m.canCopy(QStringLiteral("p")), canCopy);
        QCOMPARE(m.canCopyTo(QStringLiteral("p")), canCopyTo);
    }

    void defaultReceiveFolder()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.filePath(QStringLiteral("Inbox"));
        QVERIFY(QDir().mkdir(folder));

        ModelFixture f;
        AppModel &m = f.model();
        QCOMPARE(m.defaultReceiveFolder(), std::nullopt);
        m.setLastReceiveFolder(folder);
        QCOMPARE(m.defaultReceiveFolder(), folder);

        // Deleted: none. Replaced by a file: none.
        QVERIFY(QDir(folder).removeRecursively());
        QCOMPARE(m.defaultReceiveFolder(), std::nullopt);
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QCOMPARE(m.defaultReceiveFolder(), std::nullopt);
        // The setting itself stays.
        QCOMPARE(m.lastReceiveFolder(), folder);
    }

    void pendingNotices()
    {
        ModelFixture f;
        AppModel &m = f.model();
        QVERIFY(!m.hasPendingNotices());
        AppModelAccess::pendingReconnect(m).insert(QStringLiteral("a"), f.clock.now());
        QVERIFY(m.hasPendingNotices());
        AppModelAccess::pendingReconnect(m).clear();
        AppModelAccess::pendingDeliveries(m).insert(QStringLiteral("b"), {QStringLiteral("B"), 1, {}, f.clock.now()});
        QVERIFY(m.hasPendingNotices());
    }
};

QTEST_GUILESS_MAIN(ModelQueriesTest)
#include "tst_model_queries.moc"

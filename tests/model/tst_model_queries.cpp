#include "model_fixture.h"

#include <QDir>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>

using namespace cv;
using cv::test::FakeVolumeSource;
using cv::test::ModelFixture;

namespace {

Peer makePeer(const QString &id, const QString &name, bool choiceRequired = false)
{
    return Peer{.id = id, .name = name, .interface_index = 7, .choice_required = choiceRequired, .sharing = Share::none()};
}

RememberedPeer remembered(const QString &id, const QString &name, const QString &mode = QStringLiteral("none"))
{
    RememberedPeer r{.id = id, .name = name};
    r.share.mode = mode;
    return r;
}

// A computer sharing the given drives.
Peer sharing(const QString &id, const QStringList &drives)
{
    Peer p = makePeer(id, id);
    p.sharing.mode = QStringLiteral("drive");
    p.sharing.locations = QList<Share::Location>{};
    for (const QString &path : drives)
        p.sharing.locations->append(Share::Location{path});
    return p;
}

// Installs a status as the service answered it.
void answer(AppModel &m, QList<Peer> peers, QStringList capabilities = {}, QList<RememberedPeer> offline = {})
{
    m.setStatus(ServiceStatus{.api_version = 1, .capabilities = capabilities, .peers = peers, .remembered_computers = offline});
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

// The startup disk and three shareable volumes.
void threeVolumes(FakeVolumeSource &volumes)
{
    MountedVolume root = FakeVolumeSource::localVolume(QStringLiteral("/"), QStringLiteral("System"), false);
    root.rootFileSystem = true;
    volumes.volumes = {root, FakeVolumeSource::localVolume(QStringLiteral("/media/a/Backup"), QStringLiteral("Backup")),
                       FakeVolumeSource::localVolume(QStringLiteral("/mnt/Archive"), QStringLiteral("Archive")),
                       FakeVolumeSource::localVolume(QStringLiteral("/run/media/a/Photos"), QStringLiteral("Photos"))};
}

} // namespace

class ModelQueriesTest : public QObject {
    Q_OBJECT

private slots:
    void withoutStatus()
    {
        ModelFixture f;
        AppModel &m = f.model();
        QVERIFY(m.peers().isEmpty() && m.offline().isEmpty());
        QVERIFY(m.busy());
        QVERIFY(!m.receiveSupported() && !m.multiDrive());
        QVERIFY(!m.canCopy(QStringLiteral("a")) && !m.canCopyTo(QStringLiteral("a")) && !m.canSend(QStringLiteral("a")));
        QCOMPARE(m.share(QStringLiteral("a")), Share::none());
        QCOMPARE(m.name(QStringLiteral("a")), QStringLiteral("Computer"));
        QCOMPARE(m.linkDescription(QStringLiteral("a")), QStringLiteral("Not connected"));
        QCOMPARE(m.linkKindDescription(QStringLiteral("a")), QStringLiteral("Not connected"));
        // Busy is about the connection, a command in flight and the service's control.
        m.setConnected(true);
        QVERIFY(!m.busy());
        m.setMutating(true);
        QVERIFY(m.busy());
        m.setMutating(false);
        m.setStatus(ServiceStatus{.api_version = 1, .control_busy = true});
        QVERIFY(m.busy());
    }

    void previewDrivesTurnMultiDriveOn()
    {
        ModelFixture f;
        f.previewMultiDrive = true;
        QVERIFY(f.model().multiDrive());
        QCOMPARE(names(f.model().shareableDrives()), QStringList({"/", "/Volumes/External SSD", "/Volumes/Photos"}));
    }

    void sortingAndLookups()
    {
        ModelFixture f;
        AppModel &m = f.model();
        Peer alpha = makePeer("p5", "Apple");
        alpha.sharing.mode = QStringLiteral("folder");
        answer(m,
               {makePeer("p1", "Mac 10"), makePeer("p2", "mac 9"), makePeer("p3", "Zed", true), makePeer("p4", "Mac 9"),
                alpha, makePeer("p6", "Mac 9"), makePeer("p5", "Second Apple")},
               {}, {remembered("c", "Mac 10"), remembered("p5", "Old Apple"), remembered("d", "Mac 2", "receive"), remembered("e", "mac 2")});
        // A computer needing a choice first; numbers by value; case ignored; equal
        // names in the service's order. The status itself keeps the service's order.
        QCOMPARE(names(m.peers()), QStringList({"Zed/p3", "Apple/p5", "mac 9/p2", "Mac 9/p4", "Mac 9/p6", "Mac 10/p1", "Second Apple/p5"}));
        QCOMPARE(m.status()->peers.first().id, QStringLiteral("p1"));
        // Offline: remembered computers that are not connected, sorted alike.
        QCOMPARE(names(m.offline()), QStringList({"Mac 2/d", "mac 2/e", "Mac 10/c"}));
        // Lookups: the first with an id, exactly; a remembered one when not connected.
        QCOMPARE(m.name(QStringLiteral("p5")), QStringLiteral("Apple"));
        QCOMPARE(m.share(QStringLiteral("p5")), alpha.sharing);
        QCOMPARE(m.remembered(QStringLiteral("p5"))->name, QStringLiteral("Old Apple"));
        QCOMPARE(m.name(QStringLiteral("d")), QStringLiteral("Mac 2"));
        QCOMPARE(m.share(QStringLiteral("d")).mode, QStringLiteral("receive"));
        QVERIFY(!m.peer(QStringLiteral("P5")));
        QCOMPARE(m.name(QStringLiteral("x")), QStringLiteral("Computer"));
    }

    void driveListCachedFiveSeconds()
    {
        ModelFixture f;
        threeVolumes(*f.volumes);
        AppModel &m = f.model();
        QCOMPARE(f.volumes->listings(), 0);
        // The listing runs on the probe pool; the list arrives with changed().
        QSignalSpy listed(&m, &AppModel::changed);
        m.shareableDrives();
        m.shareableDrives();
        QTRY_COMPARE(listed.count(), 1);
        QCOMPARE(f.volumes->listings(), 1);
        f.clock.advance(5.0); // exactly 5 s: still the cached list
        m.shareableDrives();
        QTest::qWait(20);
        QCOMPARE(f.volumes->listings(), 1);
        f.clock.advance(1.0);
        m.shareableDrives();
        m.shareableDrives();
        QTRY_COMPARE(listed.count(), 2);
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
        Peer one = makePeer("one", "One");
        one.sharing.mode = QStringLiteral("drive");
        one.sharing.location = Share::Location{QStringLiteral("/mnt/Archive")};
        const QList<Peer> peers{folder, one, sharing("two", {"/mnt/Archive", "/media/a/Backup"}), sharing("none", {})};
        answer(m, peers);
        // Without the capability only the startup disk is offered.
        QCOMPARE(names(m.shareableDrives()), QStringList{"/"});
        QCOMPARE(m.sharedDrives(QStringLiteral("f")), QStringList{"/"});
        QCOMPARE(m.sharedDrives(QStringLiteral("two")), QStringList({"/mnt/Archive", "/media/a/Backup"}));
        QCOMPARE(m.sharedDrives(QStringLiteral("nobody")), QStringList{"/"});
        QCOMPARE(m.drivesDescription(QStringLiteral("one")), QStringLiteral("Archive appears on the other computer."));
        QCOMPARE(m.drivesDescription(QStringLiteral("two")), QStringLiteral("Archive and Backup appear on the other computer."));
        QCOMPARE(m.drivesDescription(QStringLiteral("none")), QStringLiteral("No drives available to share."));
        answer(m, peers, {QStringLiteral("multi_drive")});
        QTRY_COMPARE(names(m.shareableDrives()), QStringList({"/", "/media/a/Backup", "/mnt/Archive", "/run/media/a/Photos"}));
        QCOMPARE(f.volumes->listings(), 1);
    }

    void linkTexts()
    {
        ModelFixture f;
        f.cable->setThunderboltIndexes({7});
        AppModel &m = f.model();
        Peer fast = makePeer("fast", "Fast Mac");
        fast.link_speed = LinkSpeed{40'000'000'000ull, 20'000'000'000ull};
        Peer other = makePeer("other", "Other Mac");
        other.interface_index = 9;
        Peer otherFast = other;
        otherFast.id = QStringLiteral("otherFast");
        otherFast.link_speed = LinkSpeed{10'000'000'000ull, 10'000'000'000ull};
        Peer demo = makePeer("demo", "Demo Mac");
        demo.interface_index = demoInterfaceIndex;
        answer(m, {makePeer("tb", "Cable Mac"), fast, other, otherFast, demo});
        // Before the first link probe the kind reads "Thunderbolt"; the speed follows any link.
        QCOMPARE(m.linkDescription(QStringLiteral("tb")), QStringLiteral("Connected via Thunderbolt"));
        QCOMPARE(m.linkDescription(QStringLiteral("fast")), QStringLiteral("Connected via Thunderbolt · ") + fast.link_speed->summary());
        QVERIFY(!fast.link_speed->summary().isEmpty());
        QCOMPARE(m.linkDescription(QStringLiteral("other")), QStringLiteral("Connected"));
        QCOMPARE(m.linkKindDescription(QStringLiteral("other")), QStringLiteral("Cable"));
        QCOMPARE(m.linkDescription(QStringLiteral("otherFast")), QStringLiteral("Connected · ") + otherFast.link_speed->summary());
        QCOMPARE(m.linkDescription(QStringLiteral("demo")), QStringLiteral("Connected via Thunderbolt"));
        m.setLinkKind(QStringLiteral("USB4"));
        QCOMPARE(m.linkDescription(QStringLiteral("tb")), QStringLiteral("Connected via USB4"));
        QCOMPARE(m.linkKindDescription(QStringLiteral("tb")), QStringLiteral("USB4"));
    }

    void actions_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("capability");
        QTest::addColumn<QString>("peer"); // words: receive, choice, mounted, read-only, writable
        QTest::addColumn<QString>("allowed"); // of send, copy, copy-to
        QTest::newRow("ready to receive") << true << "receive_transfer" << "receive" << "send";
        QTest::newRow("choice pending") << true << "receive_transfer" << "receive choice" << "";
        QTest::newRow("not accepting") << true << "receive_transfer" << "" << "";
        QTest::newRow("service cannot receive") << true << "" << "receive" << "";
        QTest::newRow("not connected, receiving") << false << "receive_transfer" << "receive" << "";
        QTest::newRow("writable mount") << true << "fast_copy" << "mounted writable" << "copy copy-to";
        QTest::newRow("read-only mount") << true << "fast_copy" << "mounted read-only" << "copy";
        QTest::newRow("mount without share") << true << "fast_copy" << "mounted" << "copy";
        QTest::newRow("not mounted") << true << "fast_copy" << "writable" << "";
        QTest::newRow("no fast copy") << true << "" << "mounted writable" << "";
        QTest::newRow("not connected, mounted") << false << "fast_copy" << "mounted writable" << "";
    }

    void actions()
    {
        QFETCH(bool, connected);
        QFETCH(QString, capability);
        QFETCH(QString, peer);
        QFETCH(QString, allowed);
        ModelFixture f;
        AppModel &m = f.model();
        Peer p = makePeer("p", "Other", peer.contains("choice"));
        p.remote_receive = peer.contains("receive");
        if (peer.contains("mounted"))
            p.mount = QStringLiteral("/run/cv/Other");
        if (peer.contains("read-only") || peer.contains("writable"))
            p.remote_share = RemoteShare{QStringLiteral("Other"), peer.contains("read-only")};
        answer(m, {p}, capability.isEmpty() ? QStringList{} : QStringList{capability});
        m.setConnected(connected);
        const QStringList expected = allowed.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QCOMPARE(m.canSend(QStringLiteral("p")), expected.contains("send"));
        QCOMPARE(m.canCopy(QStringLiteral("p")), expected.contains("copy"));
        QCOMPARE(m.canCopyTo(QStringLiteral("p")), expected.contains("copy-to"));
        QCOMPARE(m.receiveSupported(), capability == "receive_transfer");
        QVERIFY(!m.canSend(QStringLiteral("unknown")) && !m.canCopy(QStringLiteral("unknown")));
    }

    void defaultReceiveFolder()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("Inbox"));
        QVERIFY(QDir().mkdir(folder));
        ModelFixture f;
        AppModel &m = f.model();
        QCOMPARE(m.defaultReceiveFolder(), std::nullopt);
        m.setLastReceiveFolder(folder);
        QCOMPARE(m.defaultReceiveFolder(), folder);
        // Deleted, or replaced by a file: none; the setting itself stays.
        QVERIFY(QDir(folder).removeRecursively());
        QCOMPARE(m.defaultReceiveFolder(), std::nullopt);
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QCOMPARE(m.defaultReceiveFolder(), std::nullopt);
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

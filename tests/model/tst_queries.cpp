// What the model tells the views: computers in order, lookups, the actions allowed,
// drives, link texts, settings and the notification permission they ask for.

#include "model_fixture.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using namespace cv;
using namespace cv::test;
using State = AppModel::NotificationState;

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

// The four settings as the model reads them.
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
        release.tryAcquire(1, 5000);
        return {FakeVolumeSource::localVolume("/mnt/usb")};
    }
    mutable std::atomic<bool> inside{false};
    mutable QSemaphore release;
};

// A computer and the service's capabilities, whether connected; the actions allowed
// of send, copy, to (copy to it).
struct Actions { QJsonObject peer; QString capability; bool connected; QString allowed; };
// A computer and the link kind probed (empty: not yet); its link text.
struct Link { QJsonObject peer; QString linkKind, description; };

} // namespace

Q_DECLARE_METATYPE(Actions)
Q_DECLARE_METATYPE(Link)

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
                           .remembered = {remembered("c").named("Mac 10"), remembered("p5").named("Old Apple"),
                                          remembered("d").named("Mac 2").sharing(share::receive("/in")), remembered("e").named("mac 2")}}));
        // Needing a choice first; numbers by value; case ignored; equal names in the
        // service's order.
        QCOMPARE(names(m.peers()), QStringList({"Zed/p3", "Apple/p5", "mac 9/p2", "Mac 9/p4", "Mac 9/p6", "Mac 10/p1", "Second Apple/p5"}));
        // Offline: remembered computers not connected, sorted alike.
        QCOMPARE(names(m.offline()), QStringList({"Mac 2/d", "mac 2/e", "Mac 10/c"}));
        // The first connected one with an id, exactly; else a remembered one.
        QCOMPARE(m.name("p5"), "Apple");
        QCOMPARE(m.share("p5"), decodedPeer(apple).sharing);
        QCOMPARE(m.share("d").mode, "receive");
        QVERIFY(!m.peer("P5"));
        QCOMPARE(m.name("x"), "Computer");
    }

    void actions_data()
    {
        QTest::addColumn<Actions>("row");
        QTest::newRow("ready to receive") << Actions{peer("p").receiving(), "receive_transfer", true, "send"};
        QTest::newRow("choice pending") << Actions{peer("p").receiving().choosing(), "receive_transfer", true, ""};
        QTest::newRow("service cannot receive") << Actions{peer("p").receiving(), "", true, ""};
        QTest::newRow("not connected") << Actions{peer("p").receiving().mounted("/m").offering(), "receive_transfer fast_copy", false, ""};
        QTest::newRow("writable mount") << Actions{peer("p").mounted("/m").offering(), "fast_copy", true, "copy to"};
        QTest::newRow("read-only mount") << Actions{peer("p").mounted("/m").offering(true), "fast_copy", true, "copy"};
        QTest::newRow("no fast copy") << Actions{peer("p").mounted("/m").offering(), "", true, ""};
    }

    void actions()
    {
        QFETCH(Actions, row);
        ModelFixture f;
        AppModel &m = f.model();
        install(m, status({.peers = {row.peer}, .capabilities = row.capability.split(' ', Qt::SkipEmptyParts)}));
        m.setConnected(row.connected);
        QCOMPARE(m.canSend("p"), row.allowed.contains("send"));
        QCOMPARE(m.canCopy("p"), row.allowed.contains("copy"));
        QCOMPARE(m.canCopyTo("p"), row.allowed.contains("to"));
    }

    void drives()
    {
        ModelFixture f;
        f.volumes->volumes = {FakeVolumeSource::localVolume("/"), FakeVolumeSource::localVolume("/media/a/Backup", "Backup"),
                              FakeVolumeSource::localVolume("/mnt/Archive", "Archive")};
        AppModel &m = f.model();
        const QJsonArray peers{peer("f").sharing(share::folder("/home/me/Shared")), peer("two").sharing(share::drives({"/mnt/Archive", "/media/a/Backup"})),
                               peer("none").sharing(share::drives({}))};
        install(m, status({.peers = peers}));
        // Without the capability only the startup disk is offered.
        QCOMPARE(names(m.shareableDrives()), QStringList{"/"});
        QCOMPARE(m.sharedDrives("f"), QStringList{"/"});
        QCOMPARE(m.drivesDescription("two"), "Archive and Backup appear on the other computer.");
        QCOMPARE(m.drivesDescription("none"), "No drives available to share.");
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

    void linkTexts_data()
    {
        QTest::addColumn<Link>("row");
        QTest::newRow("cable link, not probed yet") << Link{peer("p"), "", "Connected via Thunderbolt"};
        QTest::newRow("cable link, USB4, with speed") << Link{peer("p").linked(40'000'000'000, 20'000'000'000), "USB4", "Connected via USB4 · 20.0\u00A0Gb/s"};
        QTest::newRow("other link with speed") << Link{peer("p").on(9).linked(900'000'000, 10'000'000'000), "USB4", "Connected · 900\u00A0Mb/s"};
        QTest::newRow("demo") << Link{peer("p").on(demoInterfaceIndex), "", "Connected via Thunderbolt"};
    }

    void linkTexts()
    {
        QFETCH(Link, row);
        ModelFixture f;
        f.cable->setThunderboltIndexes({7});
        AppModel &m = f.model();
        install(m, status({.peers = {row.peer}}));
        if (!row.linkKind.isEmpty())
            m.setLinkKind(row.linkKind);
        QCOMPARE(m.linkDescription("p"), row.description);
    }

    void defaultReceiveFolder()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("Inbox");
        QVERIFY(QDir().mkdir(folder));
        ModelFixture f;
        AppModel &m = f.model();
        QCOMPARE(m.defaultReceiveFolder(), std::nullopt);
        m.setLastReceiveFolder(folder);
        QCOMPARE(m.defaultReceiveFolder(), folder);
        // Replaced by a file: none; the setting itself stays.
        QVERIFY(QDir(folder).removeRecursively() && writeFile(folder, "x"));
        QCOMPARE(m.defaultReceiveFolder(), std::nullopt);
        QCOMPARE(m.lastReceiveFolder(), folder);
    }

    void settings()
    {
        // Only a stored Bool switches a notice off.
        ModelFixture f;
        f.defaults = std::make_shared<FakeUserDefaults>(QMap<QString, QString>{{"notifyConnections", "off"}, {"notifyFiles", "false"}});
        AppModel &m = f.model();
        QCOMPARE(::settings(m), "false true false none");
        QSignalSpy changed(&m, &AppModel::changed);
        m.setShowInMenuBar(true);
        m.setShowInMenuBar(true);
        m.setNotifyConnections(false);
        m.setLastReceiveFolder("/home/a/Inbox");
        QCOMPARE(::settings(f.remake()), "true false false /home/a/Inbox");
        QCOMPARE(changed.count(), 4);
        f.model().setLastReceiveFolder(std::nullopt);
        QCOMPARE(f.defaults->writes().last(), "remove lastReceiveFolder");
        QCOMPARE(f.remake().lastReceiveFolder(), std::nullopt);
    }

    // Turning a notice on asks for the permission while it is undecided; off never asks.
    void permissionAskedPerSet_data()
    {
        QTest::addColumn<State>("state");
        QTest::addColumn<int>("requests");
        QTest::newRow("not determined") << State::notDetermined << 2;
        QTest::newRow("denied") << State::denied << 0;
    }

    void permissionAskedPerSet()
    {
        QFETCH(State, state);
        QFETCH(int, requests);
        for (const bool files : {true, false}) {
            ModelFixture f;
            f.notifications->setAuthorizationReply({false, std::nullopt}, NotificationAuthorizationStatus::notDetermined);
            AppModel &m = f.model();
            m.setNotifications(state);
            auto set = [&](bool on) { files ? m.setNotifyFiles(on) : m.setNotifyConnections(on); };
            set(true);
            set(false);
            set(true);
            QCOMPARE(f.notifications->authorizationRequests(), requests);
            QTRY_COMPARE(f.notifications->statusQueries(), requests);
        }
    }
};

QTEST_GUILESS_MAIN(QueriesTest)
#include "tst_queries.moc"

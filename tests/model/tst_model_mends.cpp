// The model against the faults found by trying it as a hostile service and a new user
// would: a disconnection a poll forgot, links out of or into the share, an alert that
// ended without a click, a Get Files refused in silence, work that outlived the
// model, and a volume listing that held up the main thread.
#include "model_fixture.h"

#include "model/drive_only_panel_delegate.h"

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <functional>

using namespace cv;
using namespace cv::test;

using Setup = std::function<void(ModelFixture &, AppModel &)>;
Q_DECLARE_METATYPE(Setup)
// Whether the poll starts before the command (else during it), its delay (< 0: no
// poll), the command's delay, the status of the command's own refresh, whether the
// disconnection is kept.
struct Race { bool pollFirst; double pollDelay, disconnectDelay; QByteArray afterAnswer; bool kept; };
Q_DECLARE_METATYPE(Race)

namespace {

const QByteArray listed = reply(status({.peers = {peer("p1").named("Pat")}}));
const QByteArray gone = reply(status());

// Alpha ("p1") offers its writable share at `mount` on a service that copies.
QJsonObject sharing(const QString &mount)
{
    return status({.peers = {peer("p1").named("Alpha").mounted(mount).offering()}, .capabilities = {"fast_copy"}});
}

QUrl file(const QString &path) { return QUrl::fromLocalFile(path); }

// A volume source whose listing blocks until the test lets it go, as a network share
// whose cable was pulled does.
class BlockingVolumes final : public VolumeSource {
public:
    QList<MountedVolume> mountedVolumes() const override
    {
        inside = true;
        release.tryAcquire(1, 5000);
        inside = false;
        return {FakeVolumeSource::localVolume(QStringLiteral("/mnt/usb"))};
    }
    mutable std::atomic<bool> inside{false};
    mutable QSemaphore release;
};

QStringList paths(const QList<Drive> &drives)
{
    QStringList list;
    for (const Drive &drive : drives)
        list << drive.path;
    return list;
}

} // namespace

class ModelMendsTest : public QObject {
    Q_OBJECT

    // share/report.txt, local/secret.txt, share/escape -> local, shortcut -> share,
    // linked -> share, share/dangling -> nowhere.
    QTemporaryDir dir_;
    QString at(const QString &relative) const { return dir_.path() + QLatin1Char('/') + relative; }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(at("share")) && QDir().mkpath(at("local")));
        QFile(at("share/report.txt")).open(QIODevice::WriteOnly);
        QFile(at("local/secret.txt")).open(QIODevice::WriteOnly);
        QVERIFY(QFile::link(at("local"), at("share/escape")));
        QVERIFY(QFile::link(at("share"), at("shortcut")));
        QVERIFY(QFile::link(at("share"), at("linked")));
        QVERIFY(QFile::link(at("nowhere"), at("share/dangling")));
    }

    // Only a status asked for after the service answered the "disconnect" may show the
    // computer connected again.
    void disconnectionSurvivesEarlierStatus_data()
    {
        QTest::addColumn<Race>("row");
        QTest::newRow("a poll in flight when the user disconnects") << Race{true, 1.0, 2.0, gone, true};
        QTest::newRow("a poll while a slow disconnect runs") << Race{false, 0.0, 3.0, gone, true};
        QTest::newRow("a status asked after the answer lists it") << Race{false, -1.0, 0.0, listed, false};
    }
    void disconnectionSurvivesEarlierStatus()
    {
        QFETCH(Race, row);
        const auto &[pollFirst, pollDelay, disconnectDelay, afterAnswer, kept] = row;
        ModelFixture f;
        AppModel &m = f.model();
        f.client->queue("status", listed);
        QVERIFY(!outcome(AppModelAccess::updateStatus(m, {})).error);
        f.client->always("events", reply(events({}, 0)));
        const bool poll = pollDelay >= 0;
        if (poll)
            f.client->queue("status", listed, pollDelay);
        f.client->queue("status", afterAnswer);
        f.client->queue("disconnect", reply(), disconnectDelay);

        QCoro::Task<> polling;
        if (poll && pollFirst)
            polling = m.refresh();
        m.run(Command{.op = "disconnect", .peer = "p1"});
        if (poll && !pollFirst)
            polling = m.refresh();
        QTRY_VERIFY(!m.mutating());
        QTRY_VERIFY(!AppModelAccess::refreshing(m));
        QCOMPARE(m.disconnected().contains("p1"), kept);
    }

    // Where an item lies is where it really leads, for dropped files and for the panel
    // of Get Files alike; a path that leads nowhere is inside nothing.
    void linksAreFollowed_data()
    {
        QTest::addColumn<QString>("mount");
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("inside");
        QTest::newRow("a file of the share") << "share" << "share/report.txt" << true;
        QTest::newRow("a link into the share") << "share" << "shortcut/report.txt" << true;
        QTest::newRow("a share mounted through a link") << "linked" << "share/report.txt" << true;
        QTest::newRow("a link in the share to a local folder") << "share" << "share/escape/secret.txt" << false;
        QTest::newRow("a dangling link in the share") << "share" << "share/dangling/x" << false;
    }
    void linksAreFollowed()
    {
        QFETCH(QString, mount);
        QFETCH(QString, item);
        QFETCH(bool, inside);
        QCOMPARE(DriveOnlyPanelDelegate(file(at(mount)), "Alpha").inside(file(at(item))), inside);
        if (item.contains("dangling"))
            return; // a drop names files that exist
        // A drop: the share's own files go to Downloads, local ones into the share.
        ModelFixture f;
        AppModel &m = f.model();
        install(m, sharing(at(mount)));
        m.copyDropped({file(at(item))}, "p1");
        const QList<QJsonObject> copies = f.client->sent("copy");
        QCOMPARE(copies.size(), 1);
        QCOMPARE(copies.first().value("sources").toArray().first().toString(), at(item));
        QCOMPARE(copies.first().value("destination").toString(),
                 inside ? standardizedPath(m.downloadsFolder()) : at(mount));
    }

    // Escape and closing the alert choose "Cancel": only a click on "Forget" forgets.
    void forgetNeedsTheClick()
    {
        ModelFixture f;
        AppModel &m = f.model();
        install(m, status({.peers = {peer("p1").named("Pat")}}));
        f.alerts->answer = Alerts::noChoice;
        m.forget("p1");
        QCOMPARE(f.alerts->shown.size(), 1);
        QCOMPARE(f.alerts->shown.first().cancelButton, std::optional<int>(1));
        QVERIFY(f.client->sent("forget").isEmpty());
    }

    // Files picked for Get Files while the service turned busy or the computer left
    // are not dropped without a word.
    void getFilesRefusalIsTold_data()
    {
        QTest::addColumn<Setup>("meanwhile");
        QTest::newRow("a command began") << Setup([](ModelFixture &, AppModel &m) { m.setMutating(true); });
        QTest::newRow("the service's control turned busy") << Setup([this](ModelFixture &, AppModel &m) {
            QJsonObject busy = sharing(at("share"));
            busy["control_busy"] = true;
            install(m, busy);
        });
        QTest::newRow("the computer left") << Setup([](ModelFixture &, AppModel &m) { install(m, status()); });
    }
    void getFilesRefusalIsTold()
    {
        QFETCH(Setup, meanwhile);
        ModelFixture f;
        AppModel &m = f.model();
        install(m, sharing(at("share")));
        f.openPanels->respond = [&](const OpenPanel &) {
            meanwhile(f, m);
            return std::optional<QList<QUrl>>(QList<QUrl>{file(at("share/report.txt"))});
        };
        m.getFiles("p1");
        QCOMPARE(f.openPanels->shown.size(), 1);
        QCOMPARE(m.error(), std::optional<QString>("This computer is no longer ready to receive files."));
        QVERIFY(f.client->sent("copy").isEmpty());
    }

    // A model destroyed with work in flight returns at once; the late answers are
    // dropped and nothing runs on the destroyed model (AddressSanitizer watches).
    void destroyedModelDropsLateWork_data()
    {
        QTest::addColumn<Setup>("start");
        QTest::newRow("a refresh waiting for its status") << Setup([](ModelFixture &f, AppModel &m) {
            f.client->queue("status", listed, 5);
            QCoro::Task<> task = m.refresh();
        });
        QTest::newRow("a refresh waiting for its events") << Setup([](ModelFixture &f, AppModel &m) {
            AppModelAccess::cursor(m) = 4;
            f.client->queue("events", reply(events({}, 5)), 5);
            QCoro::Task<> task = m.refresh();
        });
        QTest::newRow("the polling task") << Setup([](ModelFixture &f, AppModel &m) {
            f.client->always("status", listed);
            f.client->always("events", reply(events({}, 0)));
            m.start();
            QTest::qWait(30); // well into its passes and pauses
        });
        QTest::newRow("a start-up waiting for the service") << Setup([](ModelFixture &, AppModel &m) {
            QCoro::Task<> task = AppModelAccess::startServiceIfNeeded(m);
        });
        QTest::newRow("a quit waiting for its request") << Setup([](ModelFixture &f, AppModel &m) {
            m.setStarting(false);
            f.client->queue("quit", reply(), 5);
            QCoro::Task<bool> task = m.quit();
        });
        QTest::newRow("a command and its refresh") << Setup([](ModelFixture &f, AppModel &m) {
            install(m, status({.peers = {peer("p1").named("Pat")}}));
            f.client->queue("connect", reply(), 5);
            m.run(Command{.op = "connect", .peer = "p1"});
        });
        QTest::newRow("a panel for sending still open") << Setup([](ModelFixture &f, AppModel &m) {
            install(m, status({.peers = {peer("p1").receiving()}, .capabilities = {"receive_transfer"}}));
            f.openPanels->hold = true;
            f.openPanels->answer = QList<QUrl>{QUrl::fromLocalFile("/home/me/x")};
            QCoro::Task<> task = m.pickFiles("p1");
        });
        QTest::newRow("a forget alert still open") << Setup([](ModelFixture &f, AppModel &m) {
            install(m, status({.peers = {peer("p1")}}));
            f.alerts->hold = true;
            QCoro::Task<> task = m.forget("p1");
        });
    }
    void destroyedModelDropsLateWork()
    {
        QFETCH(Setup, start);
        ModelFixture f;
        int touched = 0;
        f.model().stateChanged = [&touched] { ++touched; };
        start(f, f.model());
        f.destroy();
        const qsizetype sent = f.client->requests.size();
        const int before = touched;
        // A panel or alert still open is answered only now, each to "go ahead".
        f.openPanels->close();
        f.alerts->close();
        QTest::qWait(200); // the fake clock runs every late answer meanwhile
        QCOMPARE(f.client->requests.size(), sent);
        QCOMPARE(touched, before);
    }

    // The volumes are listed on the probe pool: a listing that blocks holds up neither
    // the view queries nor the main thread, which get the last list meanwhile.
    void volumeListingLeavesTheMainThread()
    {
        ModelFixture f;
        auto volumes = std::make_shared<BlockingVolumes>();
        f.volumeSource = volumes;
        AppModel &m = f.model();
        install(m, status({.capabilities = {"multi_drive"}}));
        QCOMPARE(paths(m.shareableDrives()), QStringList{"/"});
        QTRY_VERIFY(volumes->inside);
        QCOMPARE(paths(m.shareableDrives()), QStringList{"/"});
        QVERIFY(volumes->inside);
        volumes->release.release();
        QTRY_COMPARE(paths(m.shareableDrives()), QStringList({"/", "/mnt/usb"}));
    }
};

QTEST_GUILESS_MAIN(ModelMendsTest)
#include "tst_model_mends.moc"

#include "standin_model.h"

#include <QTest>
#include <QCoroTask>

#include <limits>

using namespace cv;
using namespace cv::test;

namespace {

// Alpha ("p1") as the service lists it; this computer shares with it `sharing`.
QJsonObject computer(bool remoteReceive, std::optional<QString> mount = std::nullopt, std::optional<QString> error = std::nullopt,
                     bool remoteShare = false, const QJsonObject &sharing = {{"mode", "none"}})
{
    QJsonObject peer = offeringPeer("p1", "Alpha", remoteReceive, mount, remoteShare ? std::optional<bool>(false) : std::nullopt);
    peer["sharing"] = sharing;
    if (error)
        peer["error"] = *error;
    return peer;
}

QJsonObject receiving(const QString &folder) { return {{"mode", "receive"}, {"folder", QJsonObject{{"path", folder}}}}; }

QStringList pathsOf(const NotificationRequest &request) { return request.userInfo.value("paths").toStringList(); }

} // namespace

class TestModelNotices : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        f_ = std::make_unique<ModelFixture>();
        f_->notifications->setStatus(NotificationAuthorizationStatus::authorized);
    }
    void cleanup() { f_.reset(); }

    void connectionBodies_data()
    {
        QTest::addColumn<QJsonObject>("peer");
        QTest::addColumn<double>("dueIn");
        QTest::addColumn<QString>("body"); // %1: this computer's share
        QTest::addColumn<QString>("category");
        QTest::newRow("mounted share") << computer(false, "/mnt/alpha") << 6.0 << "Its files are open in Finder." << "CONNECTION_FILES";
        QTest::newRow("receiving wins over the mount") << computer(true, "/mnt/alpha") << 6.0 << "It's ready to receive files."
                                                       << "CONNECTION_FILES";
        QTest::newRow("receiving only") << computer(true) << 6.0 << "It's ready to receive files." << "CONNECTION";
        QTest::newRow("share failed") << computer(false, std::nullopt, "Mount timed out") << 6.0
                                      << "Its files couldn't be opened: Mount timed out" << "CONNECTION";
        QTest::newRow("with this computer's share") << computer(true, std::nullopt, std::nullopt, false, receiving("/home/me/Inbox"))
                                                    << 6.0 << "It's ready to receive files. You're sharing %1." << "CONNECTION";
        // Due, with the share offered but not mounted yet: only the second sentence.
        QTest::newRow("share not mounted yet, due") << computer(false, std::nullopt, std::nullopt, true) << 0.0 << "" << "CONNECTION";
    }

    void connectionBodies()
    {
        QFETCH(QJsonObject, peer);
        QFETCH(double, dueIn);
        QFETCH(QString, body);
        QFETCH(QString, category);
        AppModel &m = model({peer});
        owe(dueIn);
        flush();
        // Posted at once: what the computer offers is known, or the notice is due.
        QCOMPARE(posted().size(), 1);
        const NotificationRequest request = posted().first();
        QCOMPARE(request.identifier, "connection-p1");
        QCOMPARE(request.title, "Connected to Alpha");
        QCOMPARE(request.body, body.contains("%1") ? body.arg(m.share("p1").target()) : body);
        QCOMPARE(request.categoryIdentifier, category);
        QCOMPARE(request.userInfo.value("peer").toString(), "p1");
        QVERIFY(request.userInfo.contains("paths"));
        QVERIFY(pathsOf(request).isEmpty());
        QVERIFY(AppModelAccess::pendingReconnect(m).isEmpty());
    }

    void anUnknownStateWaitsSixSeconds()
    {
        AppModel &m = model({computer(false, std::nullopt, std::nullopt, false, receiving("/srv/in"))});
        owe(6);
        flush();
        QVERIFY(posted().isEmpty());
        QCOMPARE(AppModelAccess::pendingReconnect(m).size(), 1);
        f_->clock.advance(5.9);
        flush();
        QVERIFY(posted().isEmpty());
        f_->clock.advance(0.1);
        flush();
        QCOMPARE(posted().size(), 1);
        QCOMPARE(posted().first().body, QString("It isn't sharing anything with you. You're sharing %1.").arg(m.share("p1").target()));
        QVERIFY(AppModelAccess::pendingReconnect(m).isEmpty());
    }

    void aComputerThatLeftGetsNoNotice()
    {
        AppModel &m = model({});
        owe(6);
        flush();
        QVERIFY(posted().isEmpty());
        QVERIFY(AppModelAccess::pendingReconnect(m).isEmpty());
    }

    void noticesTurnedOff()
    {
        AppModel &m = model({computer(false)});
        m.setNotifyConnections(false);
        m.setNotifyFiles(false);
        owe(6);
        deliver(2, {"/x"}, 0);
        flush();
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
        // Still waiting to know what to say: kept until due.
        QCOMPARE(AppModelAccess::pendingReconnect(m).size(), 1);
        f_->clock.advance(6);
        flush();
        QVERIFY(AppModelAccess::pendingReconnect(m).isEmpty());
        QVERIFY(posted().isEmpty());
    }

    void deliveriesAreGathered()
    {
        AppModel &m = model({computer(true, std::nullopt, std::nullopt, false, receiving("/home/me/Inbox"))});
        deliver(4, {"/home/me/Inbox/a", "/home/me/Inbox/b"});
        flush();
        QVERIFY(posted().isEmpty());
        f_->clock.advance(2);
        flush();
        QCOMPARE(posted().size(), 1);
        const NotificationRequest request = posted().first();
        QCOMPARE(request.identifier, "delivery-p1");
        QCOMPARE(request.title, "Received 4 files from Alpha");
        QVERIFY(!m.share("p1").receiveFolderName().isEmpty());
        QCOMPARE(request.body, QString("Saved to %1.").arg(m.share("p1").receiveFolderName()));
        QCOMPARE(request.categoryIdentifier, "DELIVERY");
        QCOMPARE(pathsOf(request), (QStringList{"/home/me/Inbox/a", "/home/me/Inbox/b"}));
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
    }

    void deliveryTitles_data()
    {
        QTest::addColumn<QJsonArray>("peers");
        QTest::addColumn<quint64>("count");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("category");
        QTest::newRow("one file, share mounted") << QJsonArray{computer(false, "/mnt/alpha")} << quint64(1)
                                                 << "Received a file from Alpha" << "CONNECTION_FILES";
        // A count beyond any int is clamped, not wrapped to a negative one.
        QTest::newRow("huge count, computer gone") << QJsonArray{} << std::numeric_limits<quint64>::max() << "Received 9" << "CONNECTION";
    }

    void deliveryTitles()
    {
        QFETCH(QJsonArray, peers);
        QFETCH(quint64, count);
        QFETCH(QString, title);
        QFETCH(QString, category);
        model(peers);
        deliver(count, {}, 0);
        flush();
        QCOMPARE(posted().size(), 1);
        QVERIFY2(posted().first().title.startsWith(title), qPrintable(posted().first().title));
        QVERIFY(posted().first().title.endsWith(" from Alpha"));
        QCOMPARE(posted().first().categoryIdentifier, category);
    }

    void connectionNoticesComeFirst()
    {
        model({computer(true)});
        deliver(1, {"/x"}, 0);
        owe(6);
        flush();
        QCOMPARE(posted().size(), 2);
        QCOMPARE(posted()[0].identifier, "connection-p1");
        QCOMPARE(posted()[1].identifier, "delivery-p1");
    }

    void droppedWithoutPermission_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("packaged");
        QTest::addColumn<bool>("posted");
        QTest::newRow("authorized") << 2 << true << true;
        QTest::newRow("provisional") << 3 << true << true;
        QTest::newRow("not determined") << 0 << true << false;
        QTest::newRow("denied") << 1 << true << false;
        QTest::newRow("ephemeral") << 4 << true << false;
        QTest::newRow("unknown") << 9 << true << false;
        QTest::newRow("not packaged") << 2 << false << false;
    }

    void droppedWithoutPermission()
    {
        QFETCH(int, status);
        QFETCH(bool, packaged);
        QFETCH(bool, posted);
        f_->packaged = packaged;
        f_->notifications->setStatus(status);
        AppModel &m = model({computer(true)});
        owe(6);
        deliver(1, {"/x"}, 0);
        flush();
        QCOMPARE(this->posted().size(), posted ? 2 : 0);
        QCOMPARE(f_->notifications->statusQueries(), packaged ? 2 : 0);
        QVERIFY(AppModelAccess::pendingReconnect(m).isEmpty());
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
        QCOMPARE(m.error(), std::nullopt);
    }

    void aRefusedNoticeSetsTheError()
    {
        f_->notifications->setAddError("The server is full.");
        AppModel &m = model({});
        deliver(1, {"/x"}, 0);
        flush();
        QCOMPARE(m.error(), "Couldn’t show a notification: The server is full.");
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
    }

    void deliveredEventsFromTheServiceBecomeOneNotice()
    {
        const QStringList paths{"/home/me/Inbox/a", "/home/me/Inbox/b", "/home/me/Inbox/c"};
        QJsonArray events;
        for (int i = 0; i < 3; ++i)
            events.append(QJsonObject{{"event", "delivered"}, {"peer", "p1"},
                                      {"detail", QJsonObject{{"files", i % 2 + 1}, {"path", paths[i]}}}});
        const QJsonObject peer = computer(true, std::nullopt, std::nullopt, false, receiving("/home/me/Inbox"));
        StandinModel s(wire::status({peer}), {{"events", events}});
        QVERIFY(s.started);
        s.fixture.notifications->setStatus(NotificationAuthorizationStatus::authorized);
        AppModel &m = s.model();
        m.replayEvents(0);
        QCoro::waitFor(m.refresh());
        QVERIFY(s.fixture.notifications->posted().isEmpty());
        s.fixture.clock.advance(2);
        QCoro::waitFor(m.refresh());
        QCOMPARE(s.fixture.notifications->posted().size(), 1);
        const NotificationRequest request = s.fixture.notifications->posted().first();
        QCOMPARE(request.title, "Received 4 files from Alpha");
        QCOMPARE(request.categoryIdentifier, "DELIVERY");
        QCOMPARE(pathsOf(request), paths);
    }

private:
    AppModel &model(const QJsonArray &peers)
    {
        installStatus(f_->model(), wire::status(peers));
        return f_->model();
    }
    const QList<NotificationRequest> &posted() const { return f_->notifications->posted(); }
    void flush() { QCoro::waitFor(AppModelAccess::flushNotifications(f_->model())); }
    // A connection notice owed for Alpha, due in `dueIn` seconds.
    void owe(double dueIn) { AppModelAccess::pendingReconnect(f_->model()).insert("p1", f_->clock.now().addMSecs(qint64(dueIn * 1000))); }
    // Deliveries from Alpha gathered so far, told once quiet for `quietFor` seconds.
    void deliver(std::uint64_t count, QStringList paths, double quietFor = 2.0)
    {
        const QDateTime until = f_->clock.now().addMSecs(qint64(quietFor * 1000));
        AppModelAccess::pendingDeliveries(f_->model()).insert("p1", {"Alpha", count, std::move(paths), until});
    }

    std::unique_ptr<ModelFixture> f_;
};

QTEST_MAIN(TestModelNotices)
#include "tst_model_notices.moc"

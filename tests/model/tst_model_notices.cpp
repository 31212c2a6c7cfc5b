#include "fake_notification_server.h"
#include "standin_model.h"

#include "platform/notification_center.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QCoroTask>

#include <limits>

using namespace cv;
using namespace cv::test;

// The model's connection and delivery notices: in a notification centre in memory, and
// through the desktop's notification centre on the test's private session bus, with a
// fake notification server on it.

namespace {

constexpr int timeoutMs = 1500;

// Alpha ("p1") as the service lists it; this computer shares with it `sharing`.
QJsonObject computer(bool remoteReceive, std::optional<QString> mount = std::nullopt, std::optional<QString> error = std::nullopt,
                     bool remoteShare = false, const QJsonObject &sharing = {{"mode", "none"}}, const QString &name = "Alpha")
{
    QJsonObject peer = offeringPeer("p1", name, remoteReceive, mount, remoteShare ? std::optional<bool>(false) : std::nullopt);
    peer["sharing"] = sharing;
    if (error)
        peer["error"] = *error;
    return peer;
}

QJsonObject receiving(const QString &folder) { return {{"mode", "receive"}, {"folder", QJsonObject{{"path", folder}}}}; }

// Alpha, called `name`, receiving what it sends in `folder`.
QJsonObject sendingTo(const QString &folder, const QString &name = "Alpha")
{
    return computer(true, std::nullopt, std::nullopt, false, receiving(folder), name);
}

QStringList pathsOf(const NotificationRequest &request) { return request.userInfo.value("paths").toStringList(); }

} // namespace

class TestModelNotices : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QDBusConnection::sessionBus().isConnected(), "no session bus"); }

    void init()
    {
        f_ = std::make_unique<ModelFixture>();
        f_->notifications->setStatus(NotificationAuthorizationStatus::authorized);
    }

    void cleanup()
    {
        f_.reset();
        center_.reset();
        server_.reset();
    }

    // A connection notice owed for 6 s is posted at once when what the computer offers
    // is known, else when due; never for a computer that left or with the notices off.
    void connectionNotices_data()
    {
        QTest::addColumn<QJsonObject>("peer"); // empty: the computer left
        QTest::addColumn<bool>("notify");
        QTest::addColumn<double>("after"); // seconds until posted; < 0: never
        QTest::addColumn<QString>("body"); // %1: this computer's share
        QTest::addColumn<QString>("category");
        const QJsonObject inbox = receiving("/home/me/Inbox");
        QTest::newRow("mounted share") << computer(false, "/mnt/alpha") << true << 0.0 << "Its files are open in Finder."
                                       << "CONNECTION_FILES";
        QTest::newRow("receiving wins over the mount") << computer(true, "/mnt/alpha") << true << 0.0
                                                       << "It's ready to receive files." << "CONNECTION_FILES";
        QTest::newRow("receiving only") << computer(true) << true << 0.0 << "It's ready to receive files." << "CONNECTION";
        QTest::newRow("share failed") << computer(false, std::nullopt, "Mount timed out") << true << 0.0
                                      << "Its files couldn't be opened: Mount timed out" << "CONNECTION";
        QTest::newRow("with this computer's share") << computer(true, std::nullopt, std::nullopt, false, inbox) << true << 0.0
                                                    << "It's ready to receive files. You're sharing %1." << "CONNECTION";
        QTest::newRow("nothing offered yet") << computer(false, std::nullopt, std::nullopt, false, inbox) << true << 6.0
                                             << "It isn't sharing anything with you. You're sharing %1." << "CONNECTION";
        // A share offered but not mounted yet gives only the second sentence.
        QTest::newRow("share not mounted yet") << computer(false, std::nullopt, std::nullopt, true) << true << 6.0 << ""
                                               << "CONNECTION";
        QTest::newRow("the computer left") << QJsonObject() << true << -1.0 << "" << "";
        QTest::newRow("connection notices off, nothing offered yet") << computer(false) << false << -1.0 << "" << "";
    }

    void connectionNotices()
    {
        QFETCH(QJsonObject, peer);
        QFETCH(bool, notify);
        QFETCH(double, after);
        QFETCH(QString, body);
        QFETCH(QString, category);
        AppModel &m = model(peer.isEmpty() ? QJsonArray{} : QJsonArray{peer});
        m.setNotifyConnections(notify);
        owe(6);
        flush();
        QCOMPARE(posted().size(), after == 0 ? 1 : 0);
        // Kept until due unless posted or the computer left.
        QCOMPARE(AppModelAccess::pendingReconnect(m).size(), after == 0 || peer.isEmpty() ? 0 : 1);
        f_->clock.advance(5.9);
        flush();
        QCOMPARE(posted().size(), after == 0 ? 1 : 0);
        f_->clock.advance(0.1);
        flush();
        QVERIFY(AppModelAccess::pendingReconnect(m).isEmpty());
        QCOMPARE(posted().size(), after < 0 ? 0 : 1);
        if (after < 0)
            return;
        const NotificationRequest request = posted().first();
        QCOMPARE(request.identifier, "connection-p1");
        QCOMPARE(request.title, "Connected to Alpha");
        QCOMPARE(request.body, body.contains("%1") ? body.arg(m.share("p1").target()) : body);
        QCOMPARE(request.categoryIdentifier, category);
        QCOMPARE(request.userInfo.value("peer").toString(), "p1");
        QVERIFY(request.userInfo.contains("paths"));
        QVERIFY(pathsOf(request).isEmpty());
    }

    void fileNoticesOff()
    {
        AppModel &m = model({});
        m.setNotifyFiles(false);
        deliver(2, {"/x"}, 0);
        flush();
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
        QVERIFY(posted().isEmpty());
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

    // Posting needs the packaged application and a status that allows notices.
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
        // When posted, the connection notices come first.
        QStringList identifiers;
        for (const NotificationRequest &request : this->posted())
            identifiers << request.identifier;
        QCOMPARE(identifiers, posted ? (QStringList{"connection-p1", "delivery-p1"}) : QStringList{});
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

    // Deliveries of 1, 2 and 1 files from the service's events, told in one notice
    // through the desktop, whose buttons come back with what the notice carried.
    void threeDeliveriesMakeOneNotice()
    {
        const QStringList paths{"/home/me/Inbox/a", "/home/me/Inbox/b", "/home/me/Inbox/c"};
        QJsonArray events;
        for (int i = 0; i < 3; ++i)
            events.append(QJsonObject{{"event", "delivered"}, {"peer", "p1"},
                                      {"detail", QJsonObject{{"files", i % 2 + 1}, {"path", paths[i]}}}});
        const QJsonObject status = wire::status({sendingTo("/home/me/Inbox")});
        StandinModel s(status, {{"events", events}});
        QVERIFY(s.started);
        useTheDesktop(s.fixture);
        QVERIFY(server_->start());
        AppModel &m = s.fixture.remake();
        s.install(status);
        m.replayEvents(0);
        QCoro::waitFor(m.refresh());
        QCOMPARE(AppModelAccess::pendingDeliveries(m).value("p1").count, 4u);
        // Told once quiet for 2 s.
        s.fixture.clock.advance(1.9);
        QCoro::waitFor(m.refresh());
        QVERIFY(server_->notifyCalls().isEmpty());
        s.fixture.clock.advance(0.1);
        QCoro::waitFor(m.refresh());

        QCOMPARE(server_->notifyCalls().size(), 1);
        const FakeNotificationServer::NotifyCall call = server_->notifyCalls().first();
        QCOMPARE(call.summary, "Received 4 files from Alpha");
        QVERIFY(!m.share("p1").receiveFolderName().isEmpty());
        QCOMPARE(call.body, QString("Saved to %1.").arg(m.share("p1").receiveFolderName()));
        QVERIFY(call.actions.contains("SHOW_IN_FOLDER"));
        QCOMPARE(m.error(), std::nullopt);

        // A click on its button, then on the notice itself ("default"), comes back
        // with what the notice carried.
        QSignalSpy responses(center_.get(), &NotificationCenter::responseReceived);
        server_->invokeAction(call.id, "SHOW_IN_FOLDER");
        server_->invokeAction(call.id, "default");
        QTRY_COMPARE(responses.size(), 2);
        for (const QString action : {"SHOW_IN_FOLDER", "default"}) {
            const auto response = responses.takeFirst().first().value<NotificationResponse>();
            QCOMPARE(response.requestIdentifier, "delivery-p1");
            QCOMPARE(response.actionIdentifier, action);
            QCOMPARE(response.userInfo.value("peer").toString(), "p1");
            QCOMPARE(response.userInfo.value("paths").toStringList(), paths);
        }
    }

    // A newer notice of the same identifier replaces the older one, and the names in
    // it are plain text: escaped where the server reads the body as markup.
    void aNewerNoticeReplacesTheOlderAndNamesAreNotMarkup()
    {
        useTheDesktop(*f_);
        server_->setCapabilities({"actions", "body", "body-markup"});
        QVERIFY(server_->start());
        model({sendingTo("/home/me/<b>Inbox", "<b>Alpha</b>")});
        for (const QString name : {"a", "b"}) {
            handleDelivered(1, "/home/me/<b>Inbox/" + name);
            f_->clock.advance(2);
            flush();
        }
        QCOMPARE(server_->notifyCalls().size(), 2);
        const FakeNotificationServer::NotifyCall first = server_->notifyCalls()[0];
        QCOMPARE(first.summary, "Received a file from <b>Alpha</b>");
        QCOMPARE(first.body, "Saved to &lt;b&gt;Inbox.");
        QCOMPARE(first.replacesId, 0u);
        QCOMPARE(server_->notifyCalls()[1].replacesId, first.id);
    }

    void withoutAServerNothingIsPostedAndNothingHangs()
    {
        useTheDesktop(*f_);
        AppModel &m = model({sendingTo("/home/me/Inbox")});
        handleDelivered(1, "/home/me/Inbox/a");
        f_->clock.advance(2);
        QElapsedTimer timer;
        timer.start();
        flush();
        QVERIFY(timer.elapsed() < 3 * timeoutMs);
        QVERIFY(server_->notifyCalls().isEmpty());
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
        QCOMPARE(m.error(), std::nullopt);
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

    // The model posts through the desktop's notification centre, to a fake server
    // that is not started yet.
    void useTheDesktop(ModelFixture &f)
    {
        server_ = std::make_unique<FakeNotificationServer>();
        center_ = std::make_shared<FreedesktopNotificationCenter>(QDBusConnection::sessionBus(), timeoutMs);
        center_->setNotificationCategories({{"DELIVERY", {{"SHOW_IN_FOLDER", "Show in folder"}}}});
        f.notificationCenter = center_;
    }

    // A "delivered" event of the service for Alpha, handled as a poll hands it over.
    void handleDelivered(std::uint64_t files, const QString &path)
    {
        ServiceEvent event{.event = "delivered", .peer = "p1"};
        event.detail.files = files;
        event.detail.path = path;
        AppModelAccess::handle(f_->model(), std::move(event));
    }

    std::unique_ptr<ModelFixture> f_;
    std::unique_ptr<FakeNotificationServer> server_;
    std::shared_ptr<FreedesktopNotificationCenter> center_;
};

QTEST_MAIN(TestModelNotices)
#include "tst_model_notices.moc"

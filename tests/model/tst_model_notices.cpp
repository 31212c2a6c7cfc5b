#include "standin_model.h"

#include <QTest>
#include <QCoroTask>

#include <limits>

using namespace cv;
using namespace cv::test;

namespace {

const QString alpha = QStringLiteral("p1");

// A connected computer as the service lists it.
QJsonObject computer(const QString &name, bool remoteReceive, std::optional<QString> mount = std::nullopt,
                     std::optional<QString> error = std::nullopt, bool remoteShare = false,
                     const QJsonObject &sharing = QJsonObject{{QStringLiteral("mode"), QStringLiteral("none")}})
{
    QJsonObject peer = wire::peer(alpha, name);
    peer[QStringLiteral("remote_receive")] = remoteReceive;
    peer[QStringLiteral("sharing")] = sharing;
    if (mount)
        peer[QStringLiteral("mount")] = *mount;
    if (error)
        peer[QStringLiteral("error")] = *error;
    if (remoteShare)
        peer[QStringLiteral("remote_share")] = QJsonObject{{QStringLiteral("label"), name}, {QStringLiteral("read_only"), false}};
    return peer;
}

QJsonObject receiving(const QString &folder)
{
    return {{QStringLiteral("mode"), QStringLiteral("receive")},
            {QStringLiteral("folder"), QJsonObject{{QStringLiteral("path"), folder}}}};
}

void install(AppModel &m, const QJsonArray &peers) { installStatus(m, wire::status(peers)); }

void flush(AppModel &m)
{
    QCoro::waitFor(AppModelAccess::flushNotifications(m));
}

void owe(ModelFixture &f, double dueIn)
{
    AppModelAccess::pendingReconnect(f.model()).insert(alpha, f.clock.now().addMSecs(qint64(dueIn * 1000)));
}

void deliver(ModelFixture &f, std::uint64_t count, QStringList paths, double quietFor = 2.0,
             const QString &name = QStringLiteral("Alpha"))
{
    AppModelAccess::pendingDeliveries(f.model())
        .insert(alpha, {name, count, std::move(paths), f.clock.now().addMSecs(qint64(quietFor * 1000))});
}

QStringList pathsOf(const NotificationRequest &request)
{
    return request.userInfo.value(QStringLiteral("paths")).toStringList();
}

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
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("category");
        QTest::newRow("mounted share")
            << computer(QStringLiteral("Alpha"), false, QStringLiteral("/mnt/alpha"))
            << QStringLiteral("Its files are open in Finder.") << QStringLiteral("CONNECTION_FILES");
        QTest::newRow("receiving wins over the mount")
            << computer(QStringLiteral("Alpha"), true, QStringLiteral("/mnt/alpha"))
            << QStringLiteral("It's ready to receive files.") << QStringLiteral("CONNECTION_FILES");
        QTest::newRow("receiving only")
            << computer(QStringLiteral("Alpha"), true) << QStringLiteral("It's ready to receive files.")
            << QStringLiteral("CONNECTION");
        QTest::newRow("share failed")
            << computer(QStringLiteral("Alpha"), false, std::nullopt, QStringLiteral("Mount timed out"))
            << QStringLiteral("Its files couldn't be opened: Mount timed out") << QStringLiteral("CONNECTION");
        QTest::newRow("with this computer's share")
            << computer(QStringLiteral("Alpha"), true, std::nullopt, std::nullopt, false, receiving(QStringLiteral("/home/me/Inbox")))
            << QStringLiteral("It's ready to receive files. You're sharing %1.") << QStringLiteral("CONNECTION");
    }

    void connectionBodies()
    {
        QFETCH(QJsonObject, peer);
        QFETCH(QString, body);
        QFETCH(QString, category);
        AppModel &m = f_->model();
        install(m, {peer});
        owe(*f_, 6);
        flush(m);
        // Posted at once: what the computer offers is known.
        QCOMPARE(f_->notifications->posted().size(), 1);
        const NotificationRequest request = f_->notifications->posted().first();
        if (body.contains(QStringLiteral("%1")))
            body = body.arg(m.share(alpha).target());
        QCOMPARE(request.identifier, QStringLiteral("connection-p1"));
        QCOMPARE(request.title, QStringLiteral("Connected to Alpha"));
        QCOMPARE(request.body, body);
        QCOMPARE(request.categoryIdentifier, category);
        QCOMPARE(request.userInfo.value(QStringLiteral("peer")).toString(), alpha);
        QVERIFY(request.userInfo.contains(QStringLiteral("paths")));
        QVERIFY(pathsOf(request).isEmpty());
        QVERIFY(AppModelAccess::pendingReconnect(m).isEmpty());
    }

    void anUnknownStateWaitsSixSeconds()
    {
        AppModel &m = f_->model();
        install(m, {computer(QStringLiteral("Alpha"), false, std::nullopt, std::nullopt, false, receiving(QStringLiteral("/srv/in")))});
        owe(*f_, 6);
        flush(m);
        QVERIFY(f_->notifications->posted().isEmpty());
        QCOMPARE(AppModelAccess::pendingReconnect(m).size(), 1);
        f_->clock.advance(5.9);
        flush(m);
        QVERIFY(f_->notifications->posted().isEmpty());
        f_->clock.advance(0.1);
        flush(m);
        QCOMPARE(f_->notifications->posted().size(), 1);
        QCOMPARE(f_->notifications->posted().first().body,
                 QStringLiteral("It isn't sharing anything with you. You're sharing %1.").arg(m.share(alpha).target()));
        QVERIFY(AppModelAccess::pendingReconnect(m).isEmpty());
    }

    void aShareNotMountedYetGivesOnlyTheSecondSentence()
    {
        AppModel &m = f_->model();
        install(m, {computer(QStringLiteral("Alpha"), false, std::nullopt, std::nullopt, true)});
        owe(*f_, 0);
        flush(m);
        QCOMPARE(f_->notifications->posted().size(), 1);
        QCOMPARE(f_->notifications->posted().first().body, QString());
    }

    void aComputerThatLeftGetsNoNotice()
    {
        AppModel &m = f_->model();
        install(m, {});
        owe(*f_, 6);
        flush(m);
        QVERIFY(f_->notifications->posted().isEmpty());
        QVERIFY(AppModelAccess::pendingReconnect(m).isEmpty());
    }

    void connectionNoticesTurnedOff()
    {
        AppModel &m = f_->model();
        m.setNotifyConnections(false);
        install(m, {computer(QStringLiteral("Alpha"), false)});
        owe(*f_, 6);
        flush(m);
        // Still waiting to know what to say: kept until due.
        QCOMPARE(AppModelAccess::pendingReconnect(m).size(), 1);
        f_->clock.advance(6);
        flush(m);
        QVERIFY(AppModelAccess::pendingReconnect(m).isEmpty());
        QVERIFY(f_->notifications->posted().isEmpty());
    }

    void deliveriesAreGathered()
    {
        AppModel &m = f_->model();
        install(m, {computer(QStringLiteral("Alpha"), true, std::nullopt, std::nullopt, false, receiving(QStringLiteral("/home/me/Inbox")))});
        deliver(*f_, 4, {QStringLiteral("/home/me/Inbox/a"), QStringLiteral("/home/me/Inbox/b")});
        flush(m);
        QVERIFY(f_->notifications->posted().isEmpty());
        f_->clock.advance(2);
        flush(m);
        QCOMPARE(f_->notifications->posted().size(), 1);
        const NotificationRequest request = f_->notifications->posted().first();
        QCOMPARE(request.identifier, QStringLiteral("delivery-p1"));
        QCOMPARE(request.title, QStringLiteral("Received 4 files from Alpha"));
        QCOMPARE(request.body, QStringLiteral("Saved to %1.").arg(m.share(alpha).receiveFolderName()));
        QVERIFY(request.body != QStringLiteral("Saved to ."));
        QCOMPARE(request.categoryIdentifier, QStringLiteral("DELIVERY"));
        QCOMPARE(pathsOf(request), (QStringList{QStringLiteral("/home/me/Inbox/a"), QStringLiteral("/home/me/Inbox/b")}));
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
    }

    void oneFileAndNoPaths()
    {
        AppModel &m = f_->model();
        install(m, {computer(QStringLiteral("Alpha"), false, QStringLiteral("/mnt/alpha"))});
        deliver(*f_, 1, {}, 0);
        flush(m);
        QCOMPARE(f_->notifications->posted().size(), 1);
        QCOMPARE(f_->notifications->posted().first().title, QStringLiteral("Received a file from Alpha"));
        QCOMPARE(f_->notifications->posted().first().categoryIdentifier, QStringLiteral("CONNECTION_FILES"));
    }

    void aHugeCountIsClamped()
    {
        AppModel &m = f_->model();
        deliver(*f_, std::numeric_limits<std::uint64_t>::max(), {}, 0, QStringLiteral("Gone"));
        flush(m);
        QCOMPARE(f_->notifications->posted().size(), 1);
        const NotificationRequest request = f_->notifications->posted().first();
        QVERIFY2(request.title.startsWith(QStringLiteral("Received 9")), qPrintable(request.title));
        QVERIFY(request.title.endsWith(QStringLiteral(" files from Gone")));
        QCOMPARE(request.categoryIdentifier, QStringLiteral("CONNECTION"));
    }

    void deliveryNoticesTurnedOff()
    {
        AppModel &m = f_->model();
        m.setNotifyFiles(false);
        deliver(*f_, 2, {QStringLiteral("/x")}, 0);
        flush(m);
        QVERIFY(f_->notifications->posted().isEmpty());
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
    }

    void connectionNoticesComeFirst()
    {
        AppModel &m = f_->model();
        install(m, {computer(QStringLiteral("Alpha"), true)});
        deliver(*f_, 1, {QStringLiteral("/x")}, 0);
        owe(*f_, 6);
        flush(m);
        QCOMPARE(f_->notifications->posted().size(), 2);
        QCOMPARE(f_->notifications->posted()[0].identifier, QStringLiteral("connection-p1"));
        QCOMPARE(f_->notifications->posted()[1].identifier, QStringLiteral("delivery-p1"));
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
        AppModel &m = f_->model();
        install(m, {computer(QStringLiteral("Alpha"), true)});
        owe(*f_, 6);
        deliver(*f_, 1, {QStringLiteral("/x")}, 0);
        flush(m);
        QCOMPARE(f_->notifications->posted().size(), posted ? 2 : 0);
        QCOMPARE(f_->notifications->statusQueries(), packaged ? 2 : 0);
        QVERIFY(AppModelAccess::pendingReconnect(m).isEmpty());
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
        QCOMPARE(m.error(), std::nullopt);
    }

    void aRefusedNoticeSetsTheError()
    {
        f_->notifications->setAddError(QStringLiteral("The server is full."));
        AppModel &m = f_->model();
        deliver(*f_, 1, {QStringLiteral("/x")}, 0);
        flush(m);
        QCOMPARE(m.error(), std::optional<QString>(QStringLiteral("Couldn’t show a notification: The server is full.")));
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
    }

    void deliveredEventsFromTheServiceBecomeOneNotice()
    {
        QJsonObject peer = computer(QStringLiteral("Alpha"), true, std::nullopt, std::nullopt, false,
                                    receiving(QStringLiteral("/home/me/Inbox")));
        auto event = [](int files, const QString &path) {
            return QJsonObject{{QStringLiteral("event"), QStringLiteral("delivered")},
                               {QStringLiteral("peer"), alpha},
                               {QStringLiteral("detail"), QJsonObject{{QStringLiteral("files"), files}, {QStringLiteral("path"), path}}}};
        };
        StandinModel s(wire::status(QJsonArray{peer}),
                       QJsonObject{{QStringLiteral("events"), QJsonArray{event(1, QStringLiteral("/home/me/Inbox/a")),
                                                                        event(2, QStringLiteral("/home/me/Inbox/b")),
                                                                        event(1, QStringLiteral("/home/me/Inbox/c"))}}});
        QVERIFY(s.started);
        s.fixture.notifications->setStatus(NotificationAuthorizationStatus::authorized);
        AppModel &m = s.model();
        m.replayEvents(0);
        QCoro::waitFor(m.refresh());
        QVERIFY(s.fixture.notifications->posted().isEmpty());
        QCOMPARE(AppModelAccess::pendingDeliveries(m).value(alpha).count, 4u);
        s.fixture.clock.advance(2);
        QCoro::waitFor(m.refresh());
        QCOMPARE(s.fixture.notifications->posted().size(), 1);
        const NotificationRequest request = s.fixture.notifications->posted().first();
        QCOMPARE(request.title, QStringLiteral("Received 4 files from Alpha"));
        QCOMPARE(request.categoryIdentifier, QStringLiteral("DELIVERY"));
        QCOMPARE(pathsOf(request), (QStringList{QStringLiteral("/home/me/Inbox/a"), QStringLiteral("/home/me/Inbox/b"),
                                                QStringLiteral("/home/me/Inbox/c")}));
    }

private:
    std::unique_ptr<ModelFixture> f_;
};

QTEST_MAIN(TestModelNotices)
#include "tst_model_notices.moc"

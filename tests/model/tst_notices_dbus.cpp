#include "fake_notification_server.h"
#include "standin_model.h"

#include "platform/notification_center.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QCoroTask>

#include <memory>

using namespace cv;
using namespace cv::test;

// The model's notices through the desktop notification centre on a private session
// bus, with a fake notification server on it.

namespace {

const QString alpha = QStringLiteral("p1");
constexpr int timeoutMs = 1500;

QList<NotificationCategory> categories()
{
    return {
        {QStringLiteral("CONNECTION"), {}},
        {QStringLiteral("CONNECTION_FILES"), {{QStringLiteral("OPEN_FILES"), QStringLiteral("Open files")}}},
        {QStringLiteral("DELIVERY"), {{QStringLiteral("SHOW_IN_FOLDER"), QStringLiteral("Show in folder")}}},
    };
}

QJsonObject receivingComputer(const QString &name, const QString &folder)
{
    QJsonObject peer = wire::peer(alpha, name);
    peer[QStringLiteral("remote_receive")] = true;
    peer[QStringLiteral("sharing")] = QJsonObject{{QStringLiteral("mode"), QStringLiteral("receive")},
                                                  {QStringLiteral("folder"), QJsonObject{{QStringLiteral("path"), folder}}}};
    return peer;
}


} // namespace

class TestNoticesDbus : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QDBusConnection::sessionBus().isConnected(), "no session bus"); }

    void init()
    {
        server_ = std::make_unique<FakeNotificationServer>();
        center_ = std::make_shared<FreedesktopNotificationCenter>(QDBusConnection::sessionBus(), timeoutMs);
        center_->setNotificationCategories(categories());
        f_ = std::make_unique<ModelFixture>();
        f_->notificationCenter = center_;
        f_->packaged = true;
    }

    void cleanup()
    {
        f_.reset();
        center_.reset();
        server_.reset();
    }

    void threeDeliveriesMakeOneNotice()
    {
        QVERIFY(server_->start());
        AppModel &m = model(QStringLiteral("Alpha"), QStringLiteral("/home/me/Inbox"));
        const QStringList paths{QStringLiteral("/home/me/Inbox/a"), QStringLiteral("/home/me/Inbox/b"),
                                QStringLiteral("/home/me/Inbox/c")};
        deliver(m, 1, paths[0]);
        f_->clock.advance(1.5);
        deliver(m, 2, paths[1]);
        flush(m);
        f_->clock.advance(1.5);
        deliver(m, 1, paths[2]);
        flush(m);
        QVERIFY(server_->notifyCalls().isEmpty());
        f_->clock.advance(2);
        flush(m);

        QCOMPARE(server_->notifyCalls().size(), 1);
        const FakeNotificationServer::NotifyCall call = server_->notifyCalls().first();
        QCOMPARE(call.summary, QStringLiteral("Received 4 files from Alpha"));
        QCOMPARE(call.body, QStringLiteral("Saved to %1.").arg(m.share(alpha).receiveFolderName()));
        QVERIFY(call.actions.contains(QStringLiteral("SHOW_IN_FOLDER")));
        QCOMPARE(call.replacesId, 0u);
        QCOMPARE(m.error(), std::nullopt);

        // A click on its button comes back with what the notice carried.
        QSignalSpy responses(center_.get(), &NotificationCenter::responseReceived);
        server_->invokeAction(call.id, QStringLiteral("SHOW_IN_FOLDER"));
        QTRY_COMPARE(responses.size(), 1);
        const auto response = responses.first().first().value<NotificationResponse>();
        QCOMPARE(response.requestIdentifier, QStringLiteral("delivery-p1"));
        QCOMPARE(response.actionIdentifier, QStringLiteral("SHOW_IN_FOLDER"));
        QCOMPARE(response.userInfo.value(QStringLiteral("peer")).toString(), alpha);
        QCOMPARE(response.userInfo.value(QStringLiteral("paths")).toStringList(), paths);

        // A click on the notice itself is the "default" action.
        server_->invokeAction(call.id, QStringLiteral("default"));
        QTRY_COMPARE(responses.size(), 2);
        QCOMPARE(responses.last().first().value<NotificationResponse>().actionIdentifier, QStringLiteral("default"));
    }

    void aNewerNoticeReplacesTheOlder()
    {
        QVERIFY(server_->start());
        AppModel &m = model(QStringLiteral("Alpha"), QStringLiteral("/home/me/Inbox"));
        deliver(m, 1, QStringLiteral("/home/me/Inbox/a"));
        f_->clock.advance(2);
        flush(m);
        deliver(m, 1, QStringLiteral("/home/me/Inbox/b"));
        f_->clock.advance(2);
        flush(m);
        QCOMPARE(server_->notifyCalls().size(), 2);
        QCOMPARE(server_->notifyCalls()[0].summary, QStringLiteral("Received a file from Alpha"));
        QCOMPARE(server_->notifyCalls()[1].replacesId, server_->notifyCalls()[0].id);
    }

    void namesAreNotMarkup()
    {
        server_->setCapabilities({QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("body-markup")});
        QVERIFY(server_->start());
        AppModel &m = model(QStringLiteral("<b>Alpha</b>"), QStringLiteral("/home/me/<b>Inbox"));
        deliver(m, 1, QStringLiteral("/home/me/<b>Inbox/a"));
        f_->clock.advance(2);
        flush(m);
        QCOMPARE(server_->notifyCalls().size(), 1);
        const FakeNotificationServer::NotifyCall call = server_->notifyCalls().first();
        QCOMPARE(call.summary, QStringLiteral("Received a file from <b>Alpha</b>"));
        QCOMPARE(call.body, QStringLiteral("Saved to &lt;b&gt;Inbox."));
        QVERIFY(!call.body.contains(QStringLiteral("<b>")));
    }

    void withoutAServerNothingIsPostedAndNothingHangs()
    {
        AppModel &m = model(QStringLiteral("Alpha"), QStringLiteral("/home/me/Inbox"));
        deliver(m, 1, QStringLiteral("/home/me/Inbox/a"));
        f_->clock.advance(2);
        QElapsedTimer timer;
        timer.start();
        flush(m);
        QVERIFY(timer.elapsed() < 3 * timeoutMs);
        QVERIFY(server_->notifyCalls().isEmpty());
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
        QCOMPARE(m.error(), std::nullopt);
    }

private:
    AppModel &model(const QString &name, const QString &folder)
    {
        AppModel &m = f_->model();
        installStatus(m, wire::status(QJsonArray{receivingComputer(name, folder)}));
        return m;
    }

    // A "delivered" event of the service for Alpha, handled as a poll hands it over.
    void deliver(AppModel &m, std::uint64_t files, const QString &path)
    {
        ServiceEvent event;
        event.event = QStringLiteral("delivered");
        event.peer = alpha;
        event.detail.files = files;
        event.detail.path = path;
        AppModelAccess::handle(m, std::move(event));
    }

    void flush(AppModel &m) { QCoro::waitFor(AppModelAccess::flushNotifications(m)); }

    std::unique_ptr<FakeNotificationServer> server_;
    std::shared_ptr<FreedesktopNotificationCenter> center_;
    std::unique_ptr<ModelFixture> f_;
};

QTEST_MAIN(TestNoticesDbus)
#include "tst_notices_dbus.moc"

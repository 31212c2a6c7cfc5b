#include "fake_notification_server.h"
#include "standin_model.h"

#include "platform/notification_center.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QCoroTask>

using namespace cv;
using namespace cv::test;

// The model's notices through the desktop notification centre on a private session
// bus, with a fake notification server on it.

namespace {

constexpr int timeoutMs = 1500;

} // namespace

class TestNoticesDbus : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QDBusConnection::sessionBus().isConnected(), "no session bus"); }

    void init()
    {
        server_ = std::make_unique<FakeNotificationServer>();
        center_ = std::make_shared<FreedesktopNotificationCenter>(QDBusConnection::sessionBus(), timeoutMs);
        center_->setNotificationCategories({{"DELIVERY", {{"SHOW_IN_FOLDER", "Show in folder"}}}});
        f_ = std::make_unique<ModelFixture>();
        f_->notificationCenter = center_;
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
        AppModel &m = model("Alpha", "/home/me/Inbox");
        const QStringList paths{"/home/me/Inbox/a", "/home/me/Inbox/b", "/home/me/Inbox/c"};
        deliver(1, paths[0]);
        f_->clock.advance(1.5);
        deliver(2, paths[1]);
        flush();
        f_->clock.advance(1.5);
        deliver(1, paths[2]);
        flush();
        QVERIFY(server_->notifyCalls().isEmpty());
        f_->clock.advance(2);
        flush();

        QCOMPARE(server_->notifyCalls().size(), 1);
        const FakeNotificationServer::NotifyCall call = server_->notifyCalls().first();
        QCOMPARE(call.summary, "Received 4 files from Alpha");
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
        server_->setCapabilities({"actions", "body", "body-markup"});
        QVERIFY(server_->start());
        model("<b>Alpha</b>", "/home/me/<b>Inbox");
        for (const QString name : {"a", "b"}) {
            deliver(1, "/home/me/<b>Inbox/" + name);
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
        AppModel &m = model("Alpha", "/home/me/Inbox");
        deliver(1, "/home/me/Inbox/a");
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
    // Alpha ("p1") called `name`, to which this computer gives `folder` to receive in.
    AppModel &model(const QString &name, const QString &folder)
    {
        QJsonObject peer = offeringPeer("p1", name, true);
        peer["sharing"] = QJsonObject{{"mode", "receive"}, {"folder", QJsonObject{{"path", folder}}}};
        installStatus(f_->model(), wire::status({peer}));
        return f_->model();
    }

    // A "delivered" event of the service for Alpha, handled as a poll hands it over.
    void deliver(std::uint64_t files, const QString &path)
    {
        ServiceEvent event{.event = "delivered", .peer = "p1"};
        event.detail.files = files;
        event.detail.path = path;
        AppModelAccess::handle(f_->model(), std::move(event));
    }

    void flush() { QCoro::waitFor(AppModelAccess::flushNotifications(f_->model())); }

    std::unique_ptr<FakeNotificationServer> server_;
    std::shared_ptr<FreedesktopNotificationCenter> center_;
    std::unique_ptr<ModelFixture> f_;
};

QTEST_MAIN(TestNoticesDbus)
#include "tst_notices_dbus.moc"

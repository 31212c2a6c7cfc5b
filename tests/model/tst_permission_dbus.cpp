#include "fake_notification_server.h"
#include "model_fixture.h"

#include <QCoroTask>
#include <QDBusConnectionInterface>
#include <QTest>

using namespace cv;
using cv::test::FakeNotificationServer;
using cv::test::ModelFixture;
using State = AppModel::NotificationState;

// The permission as the desktop's notification server gives it, on a private bus.
class PermissionDbusTest : public QObject {
    Q_OBJECT

private:
    static std::unique_ptr<AppModel> makeModel(ModelFixture &f, std::shared_ptr<NotificationCenter> centre)
    {
        AppModelCollaborators parts;
        parts.client = f.client;
        parts.host = f.host;
        parts.clock = &f.clock;
        parts.defaults = f.defaults;
        parts.notificationCenter = std::move(centre);
        parts.cable = f.cable;
        parts.volumes = f.volumes;
        parts.packaged = true;
        return std::make_unique<AppModel>(std::move(parts));
    }

private slots:
    void initTestCase() { QVERIFY(QDBusConnection::sessionBus().isConnected()); }

    void serverPresentIsAllowed()
    {
        FakeNotificationServer server;
        QVERIFY(server.start());
        ModelFixture f;
        auto model = makeModel(f, std::make_shared<FreedesktopNotificationCenter>());
        QCoro::waitFor(model->refreshNotifications());
        QCOMPARE(model->notifications(), State::allowed);
        QCOMPARE(model->notificationsDetail(),
                 QStringLiteral("Connection and received-file notifications are enabled."));

        model->setNotifications(State::notDetermined);
        model->requestNotifications(); // answered at once with the same finding
        QVERIFY(QTest::qWaitFor([&] { return model->notifications() == State::allowed; }, 5000));
        QCOMPARE(model->error(), std::nullopt);
        server.stop();
    }

    void noServerIsDenied()
    {
        const auto activatable = QDBusConnection::sessionBus().interface()->activatableServiceNames();
        if (activatable.isValid() && activatable.value().contains(QStringLiteral("org.freedesktop.Notifications")))
            QSKIP("this machine's bus can start a real notification server");
        ModelFixture f;
        auto model = makeModel(f, std::make_shared<FreedesktopNotificationCenter>());
        QCoro::waitFor(model->refreshNotifications());
        QCOMPARE(model->notifications(), State::denied);
        QCOMPARE(model->notificationsDetail(),
                 QStringLiteral("Notifications are off in System Settings. Connection state stays visible here."));

        // Turning a switch on while denied asks for nothing.
        model->setNotifyFiles(true);
        QCOMPARE(model->error(), std::nullopt);
        QCOMPARE(model->notifications(), State::denied);
    }
};

QTEST_GUILESS_MAIN(PermissionDbusTest)
#include "tst_permission_dbus.moc"

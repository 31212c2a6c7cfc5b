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

private slots:
    void initTestCase() { QVERIFY(QDBusConnection::sessionBus().isConnected()); }

    void serverPresentIsAllowed()
    {
        FakeNotificationServer server;
        QVERIFY(server.start());
        ModelFixture f;
        f.notificationCenter = std::make_shared<FreedesktopNotificationCenter>();
        AppModel *model = &f.model();
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
        f.notificationCenter = std::make_shared<FreedesktopNotificationCenter>();
        AppModel *model = &f.model();
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

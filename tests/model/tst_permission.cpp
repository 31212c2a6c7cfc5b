#include "fake_notification_server.h"
#include "model_fixture.h"

#include <QDBusConnectionInterface>

#include <QCoroTask>
#include <QSignalSpy>
#include <QTest>

using namespace cv;
using cv::test::FakeNotificationServer;
using cv::test::ModelFixture;
using State = AppModel::NotificationState;

namespace {

const QString askText = QStringLiteral("Allow notifications for remembered connections and received files.");
const QString deniedText =
    QStringLiteral("Notifications are off in System Settings. Connection state stays visible here.");
const QString allowedText = QStringLiteral("Connection and received-file notifications are enabled.");
const QString notPackagedText = QStringLiteral("Notifications require the packaged app.");

} // namespace

class PermissionTest : public QObject {
    Q_OBJECT

private slots:
    void mapping_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("detail");

        QTest::newRow("0 not determined") << 0 << State::notDetermined << askText;
        QTest::newRow("1 denied") << 1 << State::denied << deniedText;
        QTest::newRow("2 authorized") << 2 << State::allowed << allowedText;
        QTest::newRow("3 provisional") << 3 << State::allowed << allowedText;
        QTest::newRow("4 ephemeral") << 4 << State::allowed << allowedText;
        QTest::newRow("7 unknown") << 7 << State::notDetermined << askText;
        QTest::newRow("-1 unknown") << -1 << State::notDetermined << askText;
    }

    void mapping()
    {
        QFETCH(int, status);
        QFETCH(State, state);
        QFETCH(QString, detail);

        ModelFixture f;
        f.notifications->setStatus(status);
        AppModel &m = f.model();
        QCoro::waitFor(m.refreshNotifications());
        QCOMPARE(m.notifications(), state);
        QCOMPARE(m.notificationsDetail(), detail);
        QCOMPARE(f.notifications->statusQueries(), 1);
    }

    void notPackaged()
    {
        ModelFixture f;
        f.packaged = false;
        f.notifications->setStatus(2);
        AppModel &m = f.model();
        QSignalSpy state(&m, &AppModel::notificationsChanged);
        QCoro::waitFor(m.refreshNotifications());
        QCOMPARE(m.notifications(), State::unavailable);
        QCOMPARE(m.notificationsDetail(), notPackagedText);
        QCOMPARE(state.count(), 1);
        // A request is refused with the same text, on each attempt.
        QSignalSpy error(&m, &AppModel::errorChanged);
        m.requestNotifications();
        m.setError(std::nullopt);
        m.requestNotifications();
        QCOMPARE(m.error(), notPackagedText);
        QCOMPARE(error.count(), 3);
        QCOMPARE(f.notifications->authorizationRequests(), 0);
        QCOMPARE(f.notifications->statusQueries(), 0);
    }

    void requestThenRefresh_data()
    {
        QTest::addColumn<std::optional<QString>>("failure");
        // Declining is not an error.
        QTest::newRow("declined") << std::optional<QString>();
        QTest::newRow("failed") << std::optional<QString>(QStringLiteral("Notifications are not allowed for this application"));
    }

    void requestThenRefresh()
    {
        QFETCH(std::optional<QString>, failure);
        ModelFixture f;
        f.notifications->setStatus(0);
        f.notifications->setAuthorizationReply({false, failure}, NotificationAuthorizationStatus::denied);
        AppModel &m = f.model();
        QCoro::waitFor(m.refreshNotifications());
        QCOMPARE(m.notifications(), State::notDetermined);
        m.requestNotifications(); // returns at once
        QVERIFY(QTest::qWaitFor([&] { return m.notifications() == State::denied; }, 2000));
        QCOMPARE(m.notificationsDetail(), deniedText);
        QCOMPARE(f.notifications->authorizationRequests(), 1);
        QCOMPARE(f.notifications->statusQueries(), 2);
        QCOMPARE(m.error(), failure);
    }

    // The desktop's notification centre on the test's private bus: allowed while a
    // server runs, and a request answers at once with the same finding.
    void desktopCentre_data()
    {
        QTest::addColumn<bool>("server");
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("detail");
        QTest::newRow("server present") << true << State::allowed << allowedText;
        QTest::newRow("no server") << false << State::denied << deniedText;
    }

    void desktopCentre()
    {
        QFETCH(bool, server);
        QFETCH(State, state);
        QFETCH(QString, detail);
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        const auto activatable = QDBusConnection::sessionBus().interface()->activatableServiceNames();
        if (!server && activatable.isValid() && activatable.value().contains(QStringLiteral("org.freedesktop.Notifications")))
            QSKIP("this machine's bus can start a real notification server");
        FakeNotificationServer notificationServer;
        QVERIFY(!server || notificationServer.start());
        ModelFixture f;
        f.notificationCenter = std::make_shared<FreedesktopNotificationCenter>();
        AppModel &m = f.model();
        QCoro::waitFor(m.refreshNotifications());
        QCOMPARE(m.notifications(), state);
        QCOMPARE(m.notificationsDetail(), detail);
        m.setNotifications(State::notDetermined);
        m.requestNotifications();
        QVERIFY(QTest::qWaitFor([&] { return m.notifications() == state; }, 5000));
        QCOMPARE(m.error(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(PermissionTest)
#include "tst_permission.moc"

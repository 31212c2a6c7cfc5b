#include "model_fixture.h"

#include <QCoroTask>
#include <QSignalSpy>
#include <QTest>

using namespace cv;
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

    void stateToldBeforeDetail()
    {
        ModelFixture f;
        f.notifications->setStatus(1);
        AppModel &m = f.model();
        QStringList order;
        connect(&m, &AppModel::notificationsChanged, this, [&] { order << QStringLiteral("state"); });
        connect(&m, &AppModel::notificationsDetailChanged, this, [&] {
            order << QStringLiteral("detail");
            QCOMPARE(m.notifications(), State::denied); // already stored
        });
        QCoro::waitFor(m.refreshNotifications());
        QCOMPARE(order, QStringList({"state", "detail"}));
    }

    void notPackagedIsUnavailable()
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
        QCOMPARE(f.notifications->statusQueries(), 0);
    }

    void requestWhenNotPackaged()
    {
        ModelFixture f;
        f.packaged = false;
        AppModel &m = f.model();
        QSignalSpy error(&m, &AppModel::errorChanged);
        m.requestNotifications();
        QCOMPARE(m.error(), notPackagedText);
        m.setError(std::nullopt);
        m.requestNotifications();
        QCOMPARE(m.error(), notPackagedText);
        QCOMPARE(error.count(), 3); // once per attempt, plus the clearing
        QCOMPARE(f.notifications->authorizationRequests(), 0);
        QCOMPARE(f.notifications->statusQueries(), 0);
        QCOMPARE(m.notifications(), State::unavailable);
    }

    void requestThenRefresh()
    {
        ModelFixture f;
        f.notifications->setStatus(0);
        f.notifications->setAuthorizationReply({false, std::nullopt}, NotificationAuthorizationStatus::denied);
        AppModel &m = f.model();
        QCoro::waitFor(m.refreshNotifications());
        QCOMPARE(m.notifications(), State::notDetermined);

        m.requestNotifications(); // returns at once
        QVERIFY(QTest::qWaitFor([&] { return m.notifications() == State::denied; }, 2000));
        QCOMPARE(m.notificationsDetail(), deniedText);
        QCOMPARE(f.notifications->authorizationRequests(), 1);
        QCOMPARE(m.error(), std::nullopt); // declining is not an error
    }

    void failedRequestShowsErrorAndRefreshes()
    {
        ModelFixture f;
        f.notifications->setStatus(0);
        f.notifications->setAuthorizationReply({false, QStringLiteral("Notifications are not allowed for this application")},
                                               NotificationAuthorizationStatus::denied);
        AppModel &m = f.model();
        m.requestNotifications();
        QVERIFY(QTest::qWaitFor([&] { return f.notifications->statusQueries() == 1; }, 2000));
        QCOMPARE(m.error(), QStringLiteral("Notifications are not allowed for this application"));
        QCOMPARE(m.notifications(), State::denied);
    }

    void switchOnWhileUndecidedAsks()
    {
        ModelFixture f;
        f.notifications->setStatus(0);
        f.notifications->setAuthorizationReply({true, std::nullopt}, NotificationAuthorizationStatus::authorized);
        AppModel &m = f.model();
        QCoro::waitFor(m.refreshNotifications());
        m.setNotifyConnections(true);
        QVERIFY(QTest::qWaitFor([&] { return m.notifications() == State::allowed; }, 2000));
        QCOMPARE(f.notifications->authorizationRequests(), 1);
        m.setNotifyFiles(true); // now allowed: nothing more is asked
        QTest::qWait(10);
        QCOMPARE(f.notifications->authorizationRequests(), 1);
    }
};

QTEST_GUILESS_MAIN(PermissionTest)
#include "tst_permission.moc"

// The notification permission and the model's connection and delivery notices: in a
// notification centre in memory, and through the desktop's centre on the test's
// private session bus with a fake notification server.

#include "fake_notification_server.h"
#include "model_fixture.h"

#include "platform/notification_center.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSignalSpy>
#include <QTest>

#include <limits>

using namespace cv;
using namespace cv::test;
using State = AppModel::NotificationState;
using A = AppModelAccess;

namespace {

const QString ask = "Allow notifications for remembered connections and received files.";
const QString denied = "Notifications are off in System Settings. Connection state stays visible here.";
const QString allowed = "Connection and received-file notifications are enabled.";
const QString notPackaged = "Notifications require the packaged app.";

PeerJson alpha() { return peer("p1").named("Alpha"); }

// The test's bus can start a notification server (that would fail to start) while
// the object lives.
struct ServerTheBusCanStart {
    ServerTheBusCanStart() { reload(writeFile(file, "[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/bin/false\n")); }
    ~ServerTheBusCanStart() { reload(QFile::remove(file)); }
    static bool reload(bool changed)
    {
        return changed && QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
                              "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReloadConfig")).type()
                              == QDBusMessage::ReplyMessage;
    }
    const QString file = qEnvironmentVariable("XDG_DATA_HOME") + "/dbus-1/services/org.freedesktop.Notifications.service";
};

// The computers, whether connection notices are on; the seconds until the notice is
// posted (< 0: never), its body and category.
struct Connection { QJsonArray peers; bool notify; double after; QString body, category; };

// The notification status, whether the app is packaged and file notices are on; the
// notices posted.
struct Posting { int status; bool packaged, notifyFiles; QStringList posted; };

// The computers, the files delivered from Alpha; the notice's title and body.
struct Delivery { QJsonArray peers; quint64 count; QString title, body; };

} // namespace

Q_DECLARE_METATYPE(Connection)
Q_DECLARE_METATYPE(Delivery)
Q_DECLARE_METATYPE(Posting)

class NoticesTest : public QObject {
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
    }

    void permission_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("detail");
        QTest::newRow("not determined") << 0 << State::notDetermined << ask;
        QTest::newRow("denied") << 1 << State::denied << denied;
        QTest::newRow("authorized") << 2 << State::allowed << allowed;
        QTest::newRow("provisional") << 3 << State::allowed << allowed;
        QTest::newRow("ephemeral") << 4 << State::allowed << allowed;
        QTest::newRow("unknown") << 7 << State::notDetermined << ask;
    }

    void permission()
    {
        QFETCH(int, status);
        QFETCH(State, state);
        QFETCH(QString, detail);
        f_->notifications->setStatus(status);
        AppModel &m = f_->model();
        outcome(m.refreshNotifications());
        QCOMPARE(m.notifications(), state);
        QCOMPARE(m.notificationsDetail(), detail);
        QCOMPARE(f_->notifications->statusQueries(), 1);
    }

    // Outside the packaged application there are no notifications; asking for them
    // says so each time.
    void notPackagedApp()
    {
        f_->packaged = false;
        AppModel &m = f_->model();
        outcome(m.refreshNotifications());
        QCOMPARE(m.notifications(), State::unavailable);
        QCOMPARE(m.notificationsDetail(), notPackaged);
        QSignalSpy error(&m, &AppModel::errorChanged);
        m.requestNotifications();
        m.setError(std::nullopt);
        m.requestNotifications();
        QCOMPARE(m.error(), notPackaged);
        QCOMPARE(error.count(), 3);
        QCOMPARE(f_->notifications->authorizationRequests() + f_->notifications->statusQueries(), 0);
    }

    // A request is answered at once; the permission is read again afterwards, and a
    // failed request shows its error (declining is none).
    void request_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("declined") << QString();
        QTest::newRow("failed") << "Notifications are not allowed for this application";
    }

    void request()
    {
        QFETCH(QString, failure);
        f_->notifications->setStatus(0);
        f_->notifications->setAuthorizationReply({false, failure.isNull() ? std::nullopt : std::optional<QString>(failure)},
                                                 NotificationAuthorizationStatus::denied);
        AppModel &m = f_->model();
        m.requestNotifications();
        QTRY_COMPARE(m.notifications(), State::denied);
        QCOMPARE(m.notificationsDetail(), denied);
        QCOMPARE(f_->notifications->authorizationRequests(), 1);
        QCOMPARE(m.error(), failure.isNull() ? std::nullopt : std::optional<QString>(failure));
    }

    // The desktop's centre: allowed while a server runs or the bus can start one.
    void desktopPermission_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::addColumn<State>("state");
        QTest::newRow("server running") << "server" << State::allowed;
        QTest::newRow("no server") << "none" << State::denied;
        QTest::newRow("server the bus can start") << "activatable" << State::allowed;
    }

    void desktopPermission()
    {
        QFETCH(QString, bus);
        QFETCH(State, state);
        if (bus == "none" && QDBusConnection::sessionBus().interface()->activatableServiceNames().value().contains("org.freedesktop.Notifications"))
            QSKIP("this machine's bus can start a real notification server");
        FakeNotificationServer server;
        QVERIFY(bus != "server" || server.start());
        std::optional<ServerTheBusCanStart> activatable;
        if (bus == "activatable")
            activatable.emplace();
        QCOMPARE(QDBusConnection::sessionBus().interface()->activatableServiceNames().value().contains("org.freedesktop.Notifications"),
                 bus == "activatable");
        f_->notificationCenter = std::make_shared<FreedesktopNotificationCenter>();
        AppModel &m = f_->model();
        outcome(m.refreshNotifications());
        QCOMPARE(m.notifications(), state);
        m.setNotifications(State::notDetermined);
        m.requestNotifications();
        QTRY_COMPARE(m.notifications(), state);
        QCOMPARE(m.error(), std::nullopt);
    }

    // A connection notice owed for 6 s is posted at once when what the computer offers
    // is known, else when due; never for a computer that left or with the notices off.
    void connectionNotices_data()
    {
        QTest::addColumn<Connection>("row");
        QTest::newRow("mounted share") << Connection{{alpha().mounted("/mnt/a")}, true, 0, "Its files are open in Finder.", "CONNECTION_FILES"};
        QTest::newRow("receiving wins over the mount") << Connection{{alpha().receiving().mounted("/mnt/a")}, true, 0,
                                                                     "It's ready to receive files.", "CONNECTION_FILES"};
        QTest::newRow("share failed") << Connection{{alpha().failed("Mount timed out")}, true, 0, "Its files couldn't be opened: Mount timed out", "CONNECTION"};
        QTest::newRow("with this computer's share") << Connection{{alpha().receiving().sharing(share::receive("/home/me/Inbox"))}, true, 0,
                                                                  "It's ready to receive files. You're sharing Receive only.", "CONNECTION"};
        QTest::newRow("sharing a folder, nothing offered yet") << Connection{{alpha().sharing(share::folder("/home/me/Shared"))}, true, 6,
                                                                             "It isn't sharing anything with you. You're sharing Shared.", "CONNECTION"};
        // A share offered but not mounted yet gives only the second sentence.
        QTest::newRow("share not mounted yet") << Connection{{alpha().offering()}, true, 6, "", "CONNECTION"};
        QTest::newRow("the computer left") << Connection{{}, true, -1, "", ""};
        QTest::newRow("notices off") << Connection{{alpha()}, false, -1, "", ""};
    }

    void connectionNotices()
    {
        QFETCH(Connection, row);
        const auto &[peers, notify, after, body, category] = row;
        AppModel &m = model(peers);
        m.setNotifyConnections(notify);
        A::pendingReconnect(m).insert("p1", f_->clock.now().addSecs(6));
        flush();
        QCOMPARE(posted().size(), int(after == 0));
        QCOMPARE(A::pendingReconnect(m).size(), int(after != 0 && !peers.isEmpty()));
        f_->clock.advance(5.9);
        flush();
        QCOMPARE(posted().size(), int(after == 0));
        f_->clock.advance(0.1);
        flush();
        QVERIFY(A::pendingReconnect(m).isEmpty());
        QCOMPARE(posted().size(), int(after >= 0));
        if (after < 0)
            return;
        const NotificationRequest request = posted().first();
        QCOMPARE(request.identifier, "connection-p1");
        QCOMPARE(request.title, "Connected to Alpha");
        QCOMPARE(request.body, body);
        QCOMPARE(request.categoryIdentifier, category);
        QCOMPARE(request.userInfo, (QVariantMap{{"peer", "p1"}, {"paths", QStringList{}}}));
    }

    // Told once quiet for 2 s: a file from Alpha, or a count beyond any int, clamped.
    void deliveryNotices_data()
    {
        QTest::addColumn<Delivery>("row");
        QTest::newRow("one file") << Delivery{{alpha().mounted("/mnt/a")}, 1, "Received a file from Alpha", "Saved to Downloads."};
        QTest::newRow("huge count, computer gone") << Delivery{{}, std::numeric_limits<quint64>::max(), "Received 9,223,372,036,854,775,807 files from Alpha", "Saved to Downloads."};
        QTest::newRow("into a receive folder") << Delivery{{alpha().sharing(share::receive("/home/me/Inbox"))}, 2, "Received 2 files from Alpha", "Saved to Inbox."};
    }

    void deliveryNotices()
    {
        QFETCH(Delivery, row);
        const auto &[peers, count, title, body] = row;
        AppModel &m = model(peers);
        deliver(count, 1.0);
        flush();
        QVERIFY(posted().isEmpty());
        f_->clock.advance(1.0);
        flush();
        QCOMPARE(posted().size(), 1);
        QCOMPARE(posted().first().identifier, "delivery-p1");
        QCOMPARE(posted().first().title, title);
        QCOMPARE(posted().first().body, body);
        QCOMPARE(posted().first().categoryIdentifier, "DELIVERY");
        QCOMPARE(posted().first().userInfo.value("paths").toStringList(), QStringList{"/x"});
        QVERIFY(A::pendingDeliveries(m).isEmpty());
        QVERIFY(!m.error());
    }

    // Posting needs the packaged application, a status that allows notices, and the
    // notices switched on; what cannot be posted is dropped.
    void dropped_data()
    {
        QTest::addColumn<Posting>("row");
        QTest::newRow("authorized") << Posting{2, true, true, {"connection-p1", "delivery-p1"}};
        QTest::newRow("provisional") << Posting{3, true, true, {"connection-p1", "delivery-p1"}};
        QTest::newRow("ephemeral") << Posting{4, true, true, {}};
        QTest::newRow("not packaged") << Posting{2, false, true, {}};
        QTest::newRow("file notices off") << Posting{2, true, false, {"connection-p1"}};
    }

    void dropped()
    {
        QFETCH(Posting, row);
        const auto &[status, packaged, notifyFiles, posted] = row;
        f_->packaged = packaged;
        f_->notifications->setStatus(status);
        AppModel &m = model({alpha().receiving()});
        m.setNotifyFiles(notifyFiles);
        A::pendingReconnect(m).insert("p1", f_->clock.now());
        deliver(1, 0);
        flush();
        QStringList identifiers;
        for (const NotificationRequest &request : this->posted())
            identifiers << request.identifier;
        QCOMPARE(identifiers, posted);
        QVERIFY(!m.hasPendingNotices());
        QCOMPARE(m.error(), std::nullopt);
    }

    void aRefusedNoticeSetsTheError()
    {
        f_->notifications->setAddError("The server is full.");
        AppModel &m = model({});
        deliver(1, 0);
        flush();
        QCOMPARE(m.error(), "Couldn’t show a notification: The server is full.");
        QVERIFY(!m.hasPendingNotices());
    }

private:
    AppModel &model(const QJsonArray &peers)
    {
        install(f_->model(), status({.peers = peers}));
        return f_->model();
    }
    const QList<NotificationRequest> &posted() const { return f_->notifications->posted(); }
    void flush() { outcome(A::flushNotifications(f_->model())); }
    // Deliveries from Alpha of `count` files ("/x"), told once quiet for `quietFor` seconds.
    void deliver(std::uint64_t count, double quietFor)
    {
        A::pendingDeliveries(f_->model()).insert("p1", {"Alpha", count, {"/x"}, f_->clock.now().addMSecs(qint64(quietFor * 1000))});
    }
    std::unique_ptr<ModelFixture> f_;
};

QTEST_MAIN(NoticesTest)
#include "tst_notices.moc"

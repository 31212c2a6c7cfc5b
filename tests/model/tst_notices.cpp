// The notification permission and the model's connection and delivery notices, in a
// notification centre in memory.

#include "model_fixture.h"

#include <QTest>

#include <functional>
#include <limits>

using namespace cv;
using namespace cv::test;
using State = AppModel::NotificationState;
using A = AppModelAccess;

namespace {

const QString notPackaged = "Notifications require the packaged app.";

PeerJson alpha() { return peer("p1").named("Alpha"); }

QJsonObject applied() { return serviceEvent("remembered_action_applied"); }
QJsonObject delivered(const QString &peer, QJsonObject detail = {{"path", "/x"}})
{
    detail.insert("path", detail.value("path").toString("/x"));
    return serviceEvent("delivered", peer, detail);
}

// The computers, a setup and the events handled at 0 s; the notices posted (as "id:
// title | body | category") by 2 s and those posted by 6 s, and the error shown.
struct Posting { QJsonArray peers; std::function<void(ModelFixture &)> setup; QList<QJsonObject> events; QStringList atOnce, later; QString error = {}; };

} // namespace

Q_DECLARE_METATYPE(Posting)

class NoticesTest : public QObject {
    Q_OBJECT

private slots:
    void permission_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<State>("state");
        QTest::newRow("not determined") << 0 << State::notDetermined;
        QTest::newRow("denied") << 1 << State::denied;
        QTest::newRow("ephemeral") << 4 << State::allowed;
        QTest::newRow("unknown") << 7 << State::notDetermined;
    }

    void permission()
    {
        QFETCH(int, status);
        QFETCH(State, state);
        ModelFixture f;
        f.notifications->setStatus(status);
        outcome(f.model().refreshNotifications());
        QCOMPARE(f.model().notifications(), state);
    }

    // A request is answered at once; the permission is read again afterwards, and a
    // failed request shows its error. Outside the packaged application nothing is
    // asked and every request says so.
    void request()
    {
        ModelFixture f;
        f.notifications->setStatus(0);
        f.notifications->setAuthorizationReply({false, "Not allowed"}, NotificationAuthorizationStatus::denied);
        f.model().requestNotifications();
        QTRY_COMPARE(f.model().notifications(), State::denied);
        QCOMPARE(f.model().error(), "Not allowed");
        f.packaged = false;
        AppModel &m = f.remake();
        outcome(m.refreshNotifications());
        QCOMPARE(m.notificationsDetail(), notPackaged);
        m.requestNotifications();
        QCOMPARE(m.error(), notPackaged);
        QCOMPARE(f.notifications->authorizationRequests(), 1);
    }

    // A connection notice is posted at once when what the computer offers is known,
    // else when due; never for a computer that left; posting needs the packaged
    // application, a status that allows it, and the notices switched on.
    void posting_data()
    {
        QTest::addColumn<Posting>("row");
        const auto none = [](ModelFixture &) {};
        const QString files = "connection-p1: Connected to Alpha | ", delivery = "delivery-p1: Received a file from Alpha | Saved to Downloads. | DELIVERY";
        const qint64 big = std::numeric_limits<qint64>::max();
        QTest::newRow("mounted share") << Posting{{alpha().mounted("/mnt/a")}, none, {applied()}, {files + "Its files are open in Finder. | CONNECTION_FILES"}, {}};
        QTest::newRow("share failed") << Posting{{alpha().failed("Mount timed out")}, none, {applied()},
                                                 {files + "Its files couldn't be opened: Mount timed out | CONNECTION"}, {}};
        // Counts add (no "files": one); paths in order.
        QTest::newRow("receiving, this computer's share") << Posting{{alpha().receiving().sharing(share::receive("/home/me/Inbox"))}, none,
            {applied(), delivered("p1", {{"path", "/r/a"}, {"files", 2}}), delivered("p1", {{"files", 0}}), delivered("p1", {{"path", "/r/b"}})},
            {files + "It's ready to receive files. You're sharing Receive only. | CONNECTION",
             "delivery-p1: Received 3 files from Alpha | Saved to Inbox. | DELIVERY"}, {}};
        // A share offered but not mounted yet: due after 6 s, without its first sentence.
        QTest::newRow("share not mounted yet") << Posting{{alpha().offering()}, none, {applied(), delivered("p1")}, {delivery}, {files + " | CONNECTION"}};
        QTest::newRow("computer left, a count beyond any int") << Posting{{}, none, {applied(), delivered("r1", {{"files", big}}), delivered("r1", {{"files", big}})},
            {"delivery-r1: Received 9,223,372,036,854,775,807 files from Laptop | Saved to Downloads. | DELIVERY"}, {}};
        QTest::newRow("unknown sender") << Posting{{}, none, {delivered("p9")}, {"delivery-p9: Received a file from Computer | Saved to Downloads. | DELIVERY"}, {}};
        QTest::newRow("failed delivery") << Posting{{alpha()}, none, {serviceEvent("delivery_failed", "p1")}, {}, {}, "A delivery from Alpha failed."};
        QTest::newRow("failed, no computer") << Posting{{alpha()}, none, {serviceEvent("delivered", QString(), {{"error", "Lost."}})}, {}, {}, "Lost."};
        QTest::newRow("ephemeral") << Posting{{alpha().receiving()}, [](ModelFixture &f) { f.notifications->setStatus(4); }, {applied(), delivered("p1")}, {}, {}};
        QTest::newRow("not packaged") << Posting{{alpha().receiving()}, [](ModelFixture &f) { f.packaged = false; }, {applied(), delivered("p1")}, {}, {}};
        QTest::newRow("file notices off") << Posting{{alpha().receiving()}, [](ModelFixture &f) { f.model().setNotifyFiles(false); }, {applied(), delivered("p1")},
                                                     {files + "It's ready to receive files. | CONNECTION"}, {}};
        QTest::newRow("connection notices off") << Posting{{alpha().receiving()}, [](ModelFixture &f) { f.model().setNotifyConnections(false); },
                                                           {applied(), delivered("p1")}, {delivery}, {}};
    }

    void posting()
    {
        QFETCH(Posting, row);
        ModelFixture f;
        f.notifications->setStatus(NotificationAuthorizationStatus::authorized);
        row.setup(f);
        AppModel &m = f.model();
        install(m, status({.peers = row.peers, .remembered = {remembered("r1").named("Laptop")}}));
        for (const QJsonObject &event : row.events)
            A::handle(m, decodedEvent(event));
        const auto posted = [&] {
            outcome(A::flushNotifications(m));
            QStringList out;
            for (const NotificationRequest &r : f.notifications->posted())
                out << r.identifier + ": " + r.title + " | " + r.body + " | " + r.categoryIdentifier;
            return out;
        };
        // Deliveries are told once quiet for 2 s.
        f.clock.advance(1.9);
        QCOMPARE(posted(), row.atOnce.filter("connection-"));
        f.clock.advance(0.1);
        QCOMPARE(posted(), row.atOnce);
        f.clock.advance(4.0);
        QCOMPARE(posted(), row.atOnce + row.later);
        QVERIFY(!m.hasPendingNotices());
        QCOMPARE(m.error().value_or(""), row.error);
        if (!row.atOnce.isEmpty())
            QCOMPARE(f.notifications->posted().first().userInfo.value("peer").toString(), row.atOnce.first().section(':', 0, 0).section('-', 1));
    }

    void aRefusedNoticeSetsTheError()
    {
        ModelFixture f;
        f.notifications->setStatus(NotificationAuthorizationStatus::authorized);
        f.notifications->setAddError("The server is full.");
        AppModel &m = f.model();
        A::pendingDeliveries(m).insert("p1", {"Alpha", 1, {"/x"}, f.clock.now()});
        outcome(A::flushNotifications(m));
        QCOMPARE(m.error(), "Couldn’t show a notification: The server is full.");
        QVERIFY(!m.hasPendingNotices());
    }
};

QTEST_GUILESS_MAIN(NoticesTest)
#include "tst_notices.moc"

// How the model follows the service: refreshes, the event cursor, the choice window,
// the connection and delivery notices the events lead to, the notification
// permission, and the cable and link probes of the polling passes.

#include "model_fixture.h"
#include "../views/table.h"

#include <QTest>

#include <functional>
#include <limits>

using namespace cv;
using namespace cv::test;

namespace {

using Cursor = std::optional<std::uint64_t>;
using A = AppModelAccess;
using State = AppModel::NotificationState;

const QString notPackaged = "Notifications require the packaged app.";
PeerJson alpha() { return peer("p1").named("Alpha"); }

QJsonObject applied() { return serviceEvent("remembered_action_applied"); }
QJsonObject delivered(const QString &peer, QJsonObject detail = {{"path", "/x"}})
{
    detail.insert("path", detail.value("path").toString("/x"));
    return serviceEvent("delivered", peer, detail);
}

// The computers, a setup and the events handled from 0 s, `apart` seconds apart; the
// notices posted (as "id: title | body | category") by 2 s after the last event and
// those posted by 6 s, and the error shown.
struct Posting { QJsonArray peers; std::function<void(ModelFixture &)> setup; QList<QJsonObject> events; QStringList atOnce, later; QString error = {}; double apart = 0; };


QJsonObject delivered(const QString &path, std::uint64_t sequence) { return serviceEvent("delivered", "p1", {{"path", path}}, sequence); }

QList<qint64> sinces(const FakeServiceClient &client)
{
    QList<qint64> list;
    for (const QJsonObject &request : client.sent("events"))
        list << request.value("since").toInteger();
    return list;
}

// The cursor replayed (-1: none), the status's event number and the events batch;
// the cursor after the status alone and after a refresh, and the paths received.
struct CursorRow { qint64 replay, statusSequence; QJsonObject batch; qint64 afterStatus, cursor; QStringList received; };

} // namespace

Q_DECLARE_METATYPE(CursorRow)
Q_DECLARE_METATYPE(Posting)

class FollowTest : public QObject {
    Q_OBJECT

private slots:
    void cursor_data()
    {
        QTest::addColumn<CursorRow>("row");
        // No replay: the first status sets the cursor; events are asked for only then.
        QTest::newRow("no replay") << CursorRow{-1, 100, events({}, 100), 100, 100, {}};
        // A status never moves a replayed cursor up; the events after it are handled in order.
        QTest::newRow("replay below") << CursorRow{42, 100, events({delivered("/r/one", 43), delivered("/r/two", 44)}, 100), 42, 100, {"/r/one", "/r/two"}};
        QTest::newRow("service started over") << CursorRow{90, 5, events({}, 93), 5, 93, {}};
        QTest::newRow("resync batch skipped") << CursorRow{3, 60, events({delivered("/r/one", 4)}, 60, true), 3, 60, {}};
    }

    void cursor()
    {
        QFETCH(CursorRow, row);
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always("status", reply(status({.sequence = std::uint64_t(row.statusSequence)})));
        f.client->always("events", reply(row.batch));
        if (row.replay >= 0)
            m.replayEvents(std::uint64_t(row.replay));
        outcome(A::updateStatus(m, std::nullopt));
        QCOMPARE(A::cursor(m), Cursor(row.afterStatus));
        if (row.replay >= 0)
            m.replayEvents(std::uint64_t(row.replay));
        f.client->requests.clear();
        outcome(m.refresh());
        QCOMPARE(f.client->ops(), (QStringList{"events", "status"}));
        QCOMPARE(sinces(*f.client).first(), row.replay >= 0 ? row.replay : row.afterStatus);
        QCOMPARE(A::cursor(m), Cursor(row.cursor));
        QCOMPARE(A::pendingDeliveries(m).value("p1").paths, row.received);
        outcome(m.refresh());
        QCOMPARE(sinces(*f.client).last(), row.cursor);
    }

    // A failed refresh shows why, keeps the cursor and the events unhandled; the next
    // one asks for the same events again, and a computer that is back leaves the
    // disconnected list.
    void failedRefresh()
    {
        // This run's own child exited: its exit is the reason shown.
        ScopedEnv service("CV_MAC_SERVICE", "/bin/sh");
        ModelFixture f;
        AppModel &m = f.model();
        f.host->start(true);
        f.launcher.launches.last().state->running = false;
        f.launcher.launches.last().state->status = 3;
        const QString error = "The background service exited (3). Open the service log for the underlying error.";
        m.setConnected(true);
        m.setDisconnected({{"p1", "Studio"}, {"p2", "Laptop"}});
        m.replayEvents(7);
        f.client->always("events", reply(events({delivered("/r/a", 8)}, 8)));
        outcome(m.refresh());
        QCOMPARE(A::cursor(m), Cursor(7));
        QVERIFY(A::pendingDeliveries(m).isEmpty() && !m.connected() && !A::refreshing(m));
        QCOMPARE(m.serviceError(), error);
        QCOMPARE(f.log, QStringList{"service unavailable: " + error});
        f.client->always("status", reply(status({.peers = {peer("p1")}, .sequence = 8})));
        outcome(m.refresh());
        QCOMPARE(sinces(*f.client), (QList<qint64>{7, 7}));
        QCOMPARE(A::pendingDeliveries(m).size(), 1);
        QVERIFY(m.connected() && !m.serviceError());
        QCOMPARE(m.disconnected(), (AppModel::Disconnected{{"p2", "Laptop"}}));
    }

    void choiceWindowOpensOncePerPairingCode()
    {
        ModelFixture f;
        AppModel &m = f.model();
        const QJsonObject a = peer("p1").choosing("111111"), b = peer("p1").choosing("222222"), chosen = peer("p1").with("pairing_code", "222222");
        const QJsonObject other = peer("p2").choosing("333333");
        for (const QJsonArray &peers : QList<QJsonArray>{{a}, {a}, {b}, {other}, {b, other}, {chosen, other}, {b, other}})
            f.client->queue("status", reply(status({.peers = peers})));
        f.client->always("events", reply(events({}, 0)));
        // Shown without a window to open: still remembered, not shown again later.
        outcome(m.refresh());
        QStringList shown;
        m.showPeer = [&shown](const QString &id) { shown << id; };
        for (int i = 0; i < 6; ++i)
            outcome(m.refresh());
        // Again after leaving and returning, or after no longer needing one.
        QCOMPARE(shown, (QStringList{"p1", "p2", "p1", "p1"}));
    }

    // Ephemeral counts as allowed, an unknown status as undecided. A request is answered at once; the permission is read again afterwards, and a
    // failed request shows its error. Outside the packaged application nothing is
    // asked and every request says so.
    void notificationPermission()
    {
        ModelFixture f;
        const QList<std::tuple<int, State, QString>> readings{
            {1, State::denied, "Notifications are off on this desktop. Connection state stays visible here."},
            {4, State::allowed, "Connection and received-file notifications are enabled."},
            {7, State::notDetermined, "Allow notifications for remembered connections and received files."}};
        for (const auto &[status, state, detail] : readings) {
            f.notifications->setStatus(status);
            outcome(f.model().refreshNotifications());
            QCOMPARE(f.model().notifications(), state);
            QCOMPARE(f.model().notificationsDetail(), detail);
        }
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
        QTest::newRow("mounted share") << Posting{{alpha().mounted("/mnt/a")}, none, {applied()}, {files + "Its files are open in the file manager. | CONNECTION_FILES"}, {}};
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
        // A burst of files is told once, when the last has been quiet for 2 s.
        QTest::newRow("a burst 1.5 s apart") << Posting{{alpha()}, none, {delivered("p1"), delivered("p1"), delivered("p1")},
                                                        {"delivery-p1: Received 3 files from Alpha | Saved to Downloads. | DELIVERY"}, {}, "", 1.5};
        QTest::newRow("unknown sender") << Posting{{}, none, {delivered("p9")}, {"delivery-p9: Received a file from Computer | Saved to Downloads. | DELIVERY"}, {}};
        QTest::newRow("failed delivery") << Posting{{alpha()}, none, {serviceEvent("delivery_failed", "p1")}, {}, {}, "A delivery from Alpha failed."};
        QTest::newRow("refused by the centre") << Posting{{}, [](ModelFixture &f) { f.notifications->setAddError("The server is full."); }, {delivered("p9")}, {}, {},
                                                          "Couldn’t show a notification: The server is full."};
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
            A::handle(m, decodedEvent(event)), f.clock.advance(&event == &row.events.last() ? 0 : row.apart);
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

    // The cable is probed only with nothing connected or a computer disconnected by
    // the user, more than 3 s apart; an unplugged cable forgets the disconnections.
    // The link kind only with a computer connected, more than 30 s apart.
    void probes_data()
    {
        // false: also a computer disconnected by the user (plugged)
        // of passes every 0.75 s for 32 s (probedAt)
        columns<QJsonArray, bool, QList<double>>("peers", "plugged", "probedAt");
        QTest::newRow("nothing connected") << QJsonArray{} << true << QList<double>{0, 3.75, 7.5, 11.25, 15, 18.75, 22.5, 26.25, 30};
        QTest::newRow("connected") << QJsonArray{peer("p1")} << true << QList<double>{0, 30.75};
        QTest::newRow("user disconnected, unplugged") << QJsonArray{peer("p1")} << false << QList<double>{0, 0, 30.75};
    }

    void probes()
    {
        auto [peers, plugged, probedAt] = fetch<QJsonArray, bool, QList<double>>("peers", "plugged", "probedAt");
        ModelFixture f;
        AppModel &m = f.model();
        install(m, status({.peers = peers}));
        if (!plugged)
            m.setDisconnected({{"p2", "Laptop"}});
        f.cable->setPlugged(plugged);
        f.cable->setKind("USB4");
        QList<double> probed;
        for (double at = 0; at < 32; at += 0.75) {
            const int before = f.cable->pluggedProbes() + f.cable->kindProbes();
            outcome(A::refreshCable(m));
            outcome(A::refreshLink(m));
            probed << QList<double>(f.cable->pluggedProbes() + f.cable->kindProbes() - before, at);
            f.clock.advance(0.75);
            f.cable->setKind(std::nullopt); // none replaces an earlier kind
        }
        QCOMPARE(probed, probedAt);
        QCOMPARE(m.cablePlugged(), plugged && peers.isEmpty());
        QVERIFY(m.disconnected().isEmpty() && !m.linkKind());
    }
};

QTEST_GUILESS_MAIN(FollowTest)
#include "tst_follow.moc"

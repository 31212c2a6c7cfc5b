// Notifications through a freedesktop notification server on a private bus.
#include "bounded.h"
#include "fake_notification_server.h"
#include "../views/table.h"
#include "test_files.h"
#include "platform/notification_center.h"

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QCoroTask>

using namespace cv;
using namespace cv::test;
using cv::test::FakeNotificationServer;

namespace {

// How long the centre waits for an answer: as long as the bus's own default, so that
// an answer a busy machine delays is never taken for a server that does not answer
// (the case of a hung server sets a short wait of its own).
constexpr int kTimeoutMs = 25000;
// Less than kTimeoutMs: a wait that ended before this did not sit out the centre's own
// time-out, nor the bus's.
constexpr int kPromptMs = 15000;

NotificationRequest request(const QString &identifier, const QString &category = "CONNECTION")
{
    return NotificationRequest{identifier, "Connected to Studio", "Its files are open.", category,
                               QVariantMap{{"peer", "p2"}, {"paths", QStringList{"/home/me/b c.txt"}}}};
}

std::optional<QString> post(NotificationCenter &center, const NotificationRequest &r) { return finished(center.add(r)); }

bool serverActivatable()
{
    const auto names = QDBusConnection::sessionBus().interface()->activatableServiceNames();
    return names.isValid() && names.value().contains(QStringLiteral("org.freedesktop.Notifications"));
}

} // namespace

class NotificationsTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<FakeNotificationServer> server_;
    std::unique_ptr<FreedesktopNotificationCenter> center_;

private slots:
    void init()
    {
        server_ = std::make_unique<FakeNotificationServer>();
        QVERIFY(server_->start());
        center_ = std::make_unique<FreedesktopNotificationCenter>(QDBusConnection::sessionBus(), kTimeoutMs);
        center_->setNotificationCategories({{"CONNECTION", {}}, {"DELIVERY", {{"SHOW_IN_FOLDER", "Show in folder"}}}});
    }

    void cleanup()
    {
        center_.reset();
        server_.reset();
    }

    // The body is escaped only for a server that reads markup; the summary is plain
    // text to every server.
    void notifyCarriesTheRequest_data()
    {
        columns<QString, QStringList, QStringList, QString>("category", "capabilities", "actions", "body");
        const QStringList markup{"actions", "body", "body-markup"}, plain{"actions", "body"};
        QTest::newRow("connection, markup") << "CONNECTION" << markup << QStringList{"default", ""}
                                            << "Saved to &lt;b&gt;Tom &amp; Jerry&lt;/b&gt;.";
        QTest::newRow("delivery, plain body") << "DELIVERY" << plain
                                              << QStringList{"default", "", "SHOW_IN_FOLDER", "Show in folder"}
                                              << "Saved to <b>Tom & Jerry</b>.";
    }

    void notifyCarriesTheRequest()
    {
        auto [category, capabilities, actions, body] = fetch<QString, QStringList, QStringList, QString>("category", "capabilities", "actions", "body");
        server_->setCapabilities(capabilities);
        NotificationRequest r = request(QStringLiteral("delivery-peer-1"), category);
        r.title = QStringLiteral("Received <b>4</b> files from Tom & Jerry");
        r.body = QStringLiteral("Saved to <b>Tom & Jerry</b>.");
        QCOMPARE(post(*center_, r), std::nullopt);
        QCOMPARE(server_->notifyCalls().size(), 1);
        const auto &call = server_->notifyCalls().first();
        QCOMPARE((QStringList{call.appName, call.summary, call.body}), (QStringList{"Corvane", r.title, body}));
        QCOMPARE(call.actions, actions);
        // The notice makes no sound, goes away when the server's own time says so, and
        // nothing else is asked of the server.
        QCOMPARE(call.hints, (QVariantMap{{QStringLiteral("suppress-sound"), true}}));
        QCOMPARE(call.expireTimeout, -1);
    }

    // The same identifier replaces the notice still shown; a click comes back with the user info.
    void replacedAndClicked()
    {
        QCOMPARE(finished(center_->authorizationStatus()), NotificationAuthorizationStatus::authorized);
        QVERIFY(finished(center_->requestAuthorization()).granted && server_->notifyCalls().isEmpty()); // asking shows nothing
        for (const char *identifier : {"delivery-p2", "delivery-p2", "connection-p2"})
            QCOMPARE(post(*center_, request(identifier, "DELIVERY")), std::nullopt);
        const auto calls = server_->notifyCalls();
        QCOMPARE((QList<uint>{calls[0].replacesId, calls[1].replacesId, calls[2].replacesId}), (QList<uint>{0, calls[0].id, 0}));
        QSignalSpy spy(center_.get(), &NotificationCenter::responseReceived);
        // A signal for another application's notification (an id this centre never got) is ignored.
        server_->invokeAction(calls[2].id + 100, "default");
        server_->invokeAction(calls[0].id, "SHOW_IN_FOLDER");
        QVERIFY(spy.wait(20000));
        QTest::qWait(50);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.takeFirst().at(0).value<NotificationResponse>(),
                 (NotificationResponse{"delivery-p2", "SHOW_IN_FOLDER", request("").userInfo}));
    }

    // No server runs, but the bus can start one: it counts as there.
    void serverTheBusCanStart()
    {
        server_->stop();
        const QString file = qEnvironmentVariable("XDG_DATA_HOME") + "/dbus-1/services/n.service";
        QVERIFY(test::writeFile(file, "[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/bin/false\n"));
        const auto reload = [] { QDBusConnection::sessionBus().interface()->call("ReloadConfig"); };
        reload();
        const auto status = finished(center_->authorizationStatus());
        QFile::remove(file);
        reload();
        QCOMPARE(status, NotificationAuthorizationStatus::authorized);
    }

    // No server, or one that never answers (cut off at the centre's time-out; without
    // knowing whether it reads markup, nothing is sent).
    void unreachableServer()
    {
        for (const bool hung : {true, false}) {
            if (!hung && serverActivatable())
                continue; // this machine's bus can start a real notification server
            server_->setAnswering(!hung);
            if (!hung)
                server_->stop();
            FreedesktopNotificationCenter center(QDBusConnection::sessionBus(), hung ? 300 : kTimeoutMs);
            QElapsedTimer elapsed;
            elapsed.start();
            QVERIFY(hung || (finished(center.authorizationStatus()) == NotificationAuthorizationStatus::denied
                             && !finished(center.requestAuthorization()).granted));
            const auto error = post(center, request(QStringLiteral("connection-p1")));
            QVERIFY(error.has_value() && !error->isEmpty());
            QVERIFY2(elapsed.elapsed() >= (hung ? 250 : 0) && elapsed.elapsed() < kPromptMs, qPrintable(QString::number(elapsed.elapsed())));
            QVERIFY(server_->notifyCalls().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(NotificationsTest)
#include "tst_notifications.moc"

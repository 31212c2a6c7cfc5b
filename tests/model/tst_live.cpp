// The model against the stand-in service, started by the model itself as a child
// process, over the real control socket, on the real clock.

#include "model_fixture.h"

#include <QTest>

#include <csignal>

using namespace cv;
using namespace cv::test;
using A = AppModelAccess;

namespace {

// The model with the real host, client and clock, and fakes for the rest; ends the
// polling task and any child it left running, also after a failed check.
struct LiveModel {
    explicit LiveModel(const Standin &standin)
    {
        standin.exportEnvironment(true);
        AppModelCollaborators parts;
        parts.client = std::make_shared<ServiceClient>();
        parts.host = host;
        parts.defaults = std::make_shared<FakeUserDefaults>();
        parts.notificationCenter = std::make_shared<FakeNotificationCenter>();
        parts.cable = std::make_shared<FakeCableProbe>();
        parts.volumes = std::make_shared<FakeVolumeSource>();
        parts.packaged = false;
        parts.log = [](const QString &) {};
        model = std::make_unique<AppModel>(std::move(parts));
        model->start();
    }
    ~LiveModel()
    {
        A::quitting(*model) = true;
        A::pollingCancel(*model).cancel();
        (void)QTest::qWaitFor([this] { return A::polling(*model)->isReady(); }, 5000);
        if (!host->childKnownStopped())
            ::kill(pid_t(*host->childPid()), SIGKILL);
        (void)QTest::qWaitFor([this] { return host->childKnownStopped(); }, 5000);
    }
    ScopedEnv service{"CV_MAC_SERVICE", QFile::encodeName(Standin::executable())};
    FakeLoginItemService loginItems;
    FakeLaunchctl launchctl;
    std::shared_ptr<ServiceHost> host = std::make_shared<ServiceHost>(ServiceHost::Platform{nullptr, &loginItems, &launchctl, nullptr, nullptr});
    std::unique_ptr<AppModel> model;
};

} // namespace

class LiveTest : public QObject {
    Q_OBJECT

private slots:
    void followsTheStandin()
    {
        Standin standin;
        standin.setScript({{"event_sequence", 10}, {"lifetime", 60},
                           {"events", QJsonArray{QJsonObject{{"event", "delivered"}, {"peer", "p1"}, {"after_requests", 1},
                                                             {"detail", QJsonObject{{"path", "/tmp/received.txt"}, {"files", 1}}}}}}});
        LiveModel live(standin);
        AppModel &m = *live.model;
        QTRY_VERIFY_WITH_TIMEOUT(A::pendingDeliveries(m).contains("p1"), 10000);
        QCOMPARE(A::pendingDeliveries(m).value("p1").paths, QStringList{"/tmp/received.txt"});
        QCOMPARE(A::cursor(m), 11u);
        QVERIFY(m.connected() && !m.serviceError());
        QVERIFY(*outcome(m.quit()).value);
        QTRY_VERIFY_WITH_TIMEOUT(live.host->childKnownStopped(), 5000);
        QCOMPARE(live.host->exitDescription(), "The background service exited (0). Open the service log for the underlying error.");
        // Started with the runtime folder; asked for the status first, then the events
        // after the status's number, and finally to quit.
        QCOMPARE(standin.startArguments(), (QList<QStringList>{{"--runtime-dir", standin.runtimeDir()}}));
        const QList<QByteArray> record = standin.recorded();
        QCOMPARE(record.mid(0, 2), (QList<QByteArray>{R"({"op":"status"})", R"({"op":"events","since":10})"}));
        QCOMPARE(record.last(), R"({"op":"quit"})");
    }
};

QTEST_GUILESS_MAIN(LiveTest)
#include "tst_live.moc"

// The model against the stand-in service, started by the model itself as a child
// process over the real control socket, on the real clock.

#include "follow_helpers.h"
#include "standin.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTest>

#include <csignal>
#include <sys/types.h>

using namespace cv;
using namespace cv::test;

namespace {

// The model with the real host, client and clock, and fakes for the rest.
struct LiveModel {
    LiveModel()
    {
        host = std::make_shared<ServiceHost>(ServiceHost::Platform{nullptr, &loginItems, &launchctl, nullptr, nullptr});
        AppModelCollaborators parts;
        parts.client = std::make_shared<ServiceClient>();
        parts.host = host;
        parts.defaults = std::make_shared<FakeUserDefaults>();
        parts.notificationCenter = std::make_shared<FakeNotificationCenter>();
        parts.cable = std::make_shared<FakeCableProbe>();
        parts.volumes = std::make_shared<FakeVolumeSource>();
        parts.previewMultiDrive = false;
        parts.packaged = false;
        parts.log = [](const QString &) {};
        model = std::make_unique<AppModel>(std::move(parts));
    }

    // Ends the polling task and makes sure no child of the test is left running, also
    // after a failed check (when the QTRY macros no longer wait).
    ~LiveModel()
    {
        if (AppModelAccess::polling(*model)) {
            AppModelAccess::quitting(*model) = true;
            AppModelAccess::pollingCancel(*model).cancel();
            for (int i = 0; i < 500 && !AppModelAccess::polling(*model)->isReady(); ++i)
                QTest::qWait(10);
        }
        if (!host->childKnownStopped()) {
            ::kill(pid_t(*host->childPid()), SIGKILL);
            for (int i = 0; i < 500 && !host->childKnownStopped(); ++i)
                QTest::qWait(10);
        }
    }

    FakeLoginItemService loginItems;
    FakeLaunchctl launchctl;
    std::shared_ptr<ServiceHost> host;
    std::unique_ptr<AppModel> model;
};

QJsonObject requestAt(const QList<QByteArray> &record, qsizetype index)
{
    return QJsonDocument::fromJson(record.at(index)).object();
}

} // namespace

class ModelLiveTest : public QObject {
    Q_OBJECT

private slots:
    void followsTheStandin()
    {
        Standin standin;
        standin.setScript(QJsonObject{
            {"event_sequence", 10},
            {"events", QJsonArray{QJsonObject{{"event", "delivered"},
                                              {"peer", "p1"},
                                              {"detail", QJsonObject{{"path", "/tmp/received.txt"}, {"files", 1}}},
                                              {"after_requests", 1}}}},
            {"lifetime", 60},
        });
        standin.exportEnvironment(true);
        ScopedEnv service("CV_MAC_SERVICE", QFile::encodeName(Standin::executable()));

        LiveModel live;
        AppModel &m = *live.model;
        // The cursor as the first status answer left it (the first pass follows at once).
        std::optional<std::optional<std::uint64_t>> cursorWhenConnected;
        QObject::connect(&m, &AppModel::connectedChanged, &m, [&] {
            if (m.connected() && !cursorWhenConnected)
                cursorWhenConnected = AppModelAccess::cursor(m);
        });
        m.start();
        QTRY_VERIFY_WITH_TIMEOUT(m.connected(), 10000);
        QVERIFY(live.host->childPid());
        QCOMPARE(cursorWhenConnected, std::optional<std::optional<std::uint64_t>>(10));
        QTRY_VERIFY_WITH_TIMEOUT(AppModelAccess::pendingDeliveries(m).contains("p1"), 10000);
        const auto batch = AppModelAccess::pendingDeliveries(m).value("p1");
        QCOMPARE(batch.paths, QStringList{"/tmp/received.txt"});
        QCOMPARE(batch.count, quint64(1));
        QCOMPARE(batch.name, QStringLiteral("Computer"));
        QCOMPARE(AppModelAccess::cursor(m), std::optional<std::uint64_t>(11));
        QCOMPARE(m.serviceError(), std::nullopt);

        QVERIFY(run(m.quit()));
        QTRY_VERIFY_WITH_TIMEOUT(live.host->childKnownStopped(), 5000);
        QCOMPARE(live.host->exitDescription(),
                 std::optional<QString>(QStringLiteral(
                     "The background service exited (0). Open the service log for the underlying error.")));
        QTRY_VERIFY_WITH_TIMEOUT(AppModelAccess::polling(m)->isReady(), 5000);

        // It was started with the runtime folder, and asked for the status first, then
        // the events after the cursor, and finally to quit.
        QCOMPARE(standin.startArguments(), (QList<QStringList>{{"--runtime-dir", standin.runtimeDir()}}));
        const QList<QByteArray> record = standin.recorded();
        QVERIFY(record.size() >= 3);
        QCOMPARE(requestAt(record, 0), (QJsonObject{{"op", "status"}}));
        QCOMPARE(requestAt(record, 1), (QJsonObject{{"op", "events"}, {"since", 10}}));
        QCOMPARE(requestAt(record, record.size() - 1), (QJsonObject{{"op", "quit"}}));
    }

    void standinKilledDuringStartUp()
    {
        Standin standin;
        // Never listens: the start-up keeps waiting for it.
        standin.setScript(QJsonObject{{"refuse", "no_socket"}, {"lifetime", 60}});
        standin.exportEnvironment(true);
        ScopedEnv service("CV_MAC_SERVICE", QFile::encodeName(Standin::executable()));

        LiveModel live;
        AppModel &m = *live.model;
        m.start();
        QTRY_VERIFY_WITH_TIMEOUT(live.host->childPid().has_value(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!standin.startArguments().isEmpty(), 5000);
        QVERIFY(m.starting());
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(::kill(pid_t(*live.host->childPid()), SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(m.serviceError().has_value(), 2000);
        QVERIFY(elapsed.elapsed() < 2000);
        QCOMPARE(*m.serviceError(),
                 QStringLiteral("The background service exited (9). Open the service log for the underlying error."));
        QTRY_VERIFY(!m.starting());
        QVERIFY(!m.connected());
    }
};

QTEST_GUILESS_MAIN(ModelLiveTest)
#include "tst_model_live.moc"

// The update controller on a fake updater: availability, the feed override and the
// installation handshake that stops sharing first.

#include "app/updates.h"
#include "fake_user_defaults.h"
#include "platform/app_runtime.h"

#include <QSignalSpy>
#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

struct FakeUpdater final : Updater {
    bool canCheck = true;
    int checks = 0;
    bool canCheckForUpdates() const override { return canCheck; }
    void checkForUpdates() override { ++checks; }
};

// An Updates on a fake updater; what it tells the shell goes to `events`.
struct UpdatesFixture {
    explicit UpdatesFixture(bool available = true)
    {
        runtime.setActivationPolicy(ActivationPolicy::accessory);
        updates = std::make_unique<Updates>(UpdatesPlatform{
            [available] { return available; },
            [this](UpdaterDelegate &) -> std::unique_ptr<Updater> {
                ++started;
                return std::unique_ptr<Updater>(fake = new FakeUpdater);
            },
            &runtime, &defaults});
        updates->willQuitForUpdate = [this] { events << "willQuitForUpdate"; };
        updates->presentError = [this](const QString &text) { events << text; };
    }
    AppRuntime runtime;
    FakeUserDefaults defaults;
    std::unique_ptr<Updates> updates;
    FakeUpdater *fake = nullptr;
    int started = 0;
    QStringList events;
};

} // namespace

class ShellUpdatesTest : public QObject {
    Q_OBJECT
private slots:
    void controller_data()
    {
        QTest::addColumn<bool>("available");
        QTest::addColumn<bool>("frameworkCanCheck");
        QTest::newRow("unavailable: no controller") << false << true;
        QTest::newRow("available") << true << true;
        QTest::newRow("framework busy") << true << false;
    }
    void controller()
    {
        QFETCH(bool, available);
        QFETCH(bool, frameworkCanCheck);
        QVERIFY(!Updates::available()); // Linux never offers updates
        UpdatesFixture f(available);
        QSignalSpy activations(&f.runtime, &AppRuntime::activationRequested);
        f.updates->start();
        f.updates->start();
        QCOMPARE(f.started, int(available));
        if (f.fake)
            f.fake->canCheck = frameworkCanCheck;
        QCOMPARE(f.updates->canCheck(), available && frameworkCanCheck);
        // The check comes to the front, also without a controller.
        f.updates->checkForUpdates();
        QCOMPARE(f.fake ? f.fake->checks : 0, int(available));
        QCOMPARE(f.runtime.activationPolicy(), ActivationPolicy::regular);
        QCOMPARE(activations.size(), 1);
    }

    void installHandshake_data()
    {
        QTest::addColumn<bool>("onQuit"); // which of the two hooks asks
        QTest::addColumn<bool>("stopped");
        const QStringList refused{"Corvane couldn’t stop sharing to install the update. Try again when nothing is copying."};
        QTest::addColumn<QStringList>("events");
        QTest::newRow("relaunch, stopped") << false << true << QStringList{"willQuitForUpdate", "install"};
        QTest::newRow("on quit, stopped") << true << true << QStringList{"willQuitForUpdate", "install"};
        QTest::newRow("relaunch, refused") << false << false << refused;
        QTest::newRow("on quit, refused") << true << false << refused;
    }
    void installHandshake()
    {
        QFETCH(bool, onQuit);
        QFETCH(bool, stopped);
        QFETCH(QStringList, events);
        UpdatesFixture f;
        int stops = 0;
        f.updates->stopService = [&stops, stopped]() -> QCoro::Task<bool> {
            ++stops;
            co_return stopped;
        };
        auto install = [&f] { f.events << "install"; };
        // The framework hears at once that the installation waits.
        QVERIFY(onQuit ? f.updates->willInstallUpdateOnQuit(install) : f.updates->shouldPostponeRelaunchForUpdate(install));
        QCOMPARE(f.events, QStringList());
        QTRY_COMPARE(f.events, events);
        QTest::qWait(20);
        QCOMPARE(f.events, events);
        QCOMPARE(stops, 1);
    }
};

QTEST_MAIN(ShellUpdatesTest)
#include "tst_shell_updates.moc"

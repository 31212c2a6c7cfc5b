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

// An Updates on a fake updater, with what it did recorded.
struct UpdatesFixture {
    explicit UpdatesFixture(bool available = true)
    {
        runtime.setActivationPolicy(ActivationPolicy::accessory);
        Updates::Platform platform;
        platform.available = [available] { return available; };
        platform.startUpdater = [this](UpdaterDelegate &) -> std::unique_ptr<Updater> {
            ++started;
            auto updater = std::make_unique<FakeUpdater>();
            fake = updater.get();
            return updater;
        };
        platform.runtime = &runtime;
        platform.defaults = &defaults;
        updates = std::make_unique<Updates>(std::move(platform));
        updates->willQuitForUpdate = [this] { events << QStringLiteral("willQuitForUpdate"); };
        updates->presentError = [this](const QString &text) { events << QStringLiteral("error: ") + text; };
        updates->sessionEnded = [this] { events << QStringLiteral("sessionEnded"); };
    }

    AppRuntime runtime;
    FakeUserDefaults defaults;
    std::unique_ptr<Updates> updates;
    FakeUpdater *fake = nullptr;
    int started = 0;
    QStringList events;
};

const QString refusal = QStringLiteral(
    "error: Corvane couldn’t stop sharing to install the update. Try again when nothing is copying.");

} // namespace

class ShellUpdatesTest : public QObject {
    Q_OBJECT
private slots:
    void neverAvailableOnLinux() { QVERIFY(!Updates::available()); }

    void controller_data()
    {
        QTest::addColumn<bool>("available");
        QTest::addColumn<bool>("frameworkCanCheck");
        QTest::addColumn<bool>("canCheck");
        QTest::addColumn<int>("checks");
        QTest::newRow("unavailable: no controller") << false << true << false << 0;
        QTest::newRow("available") << true << true << true << 1;
        QTest::newRow("framework busy") << true << false << false << 1;
    }

    void controller()
    {
        QFETCH(bool, available);
        QFETCH(bool, frameworkCanCheck);
        QFETCH(bool, canCheck);
        QFETCH(int, checks);
        UpdatesFixture f(available);
        QSignalSpy activations(&f.runtime, &AppRuntime::activationRequested);
        f.updates->start();
        f.updates->start();
        QCOMPARE(f.started, available ? 1 : 0);
        QCOMPARE(bool(f.updates->controller), available);
        if (f.fake)
            f.fake->canCheck = frameworkCanCheck;
        QCOMPARE(f.updates->canCheck(), canCheck);
        // The check comes to the front even without a controller.
        f.updates->checkForUpdates();
        QCOMPARE(f.fake ? f.fake->checks : 0, checks);
        QCOMPARE(f.runtime.activationPolicy(), ActivationPolicy::regular);
        QCOMPARE(activations.size(), 1);
    }

    void feedOverride_data()
    {
        QTest::addColumn<std::optional<QString>>("stored");
        QTest::newRow("not set") << std::optional<QString>();
        QTest::newRow("empty") << std::optional<QString>(QString(""));
        QTest::newRow("address") << std::optional<QString>(QString("https://example.org/feed.xml"));
    }

    void feedOverride()
    {
        QFETCH(std::optional<QString>, stored);
        UpdatesFixture f;
        if (stored)
            f.defaults.setString(QStringLiteral("CVUpdateFeedURL"), *stored);
        QCOMPARE(f.updates->feedURLString(), stored);
    }

    void installHandshake_data()
    {
        QTest::addColumn<bool>("onQuit"); // which of the two hooks asks
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<QStringList>("events");
        const QStringList installs{"willQuitForUpdate", "install"};
        QTest::newRow("relaunch, stopped") << false << true << installs;
        QTest::newRow("on quit, stopped") << true << true << installs;
        QTest::newRow("relaunch, refused") << false << false << QStringList{refusal};
        QTest::newRow("on quit, refused") << true << false << QStringList{refusal};
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
        auto install = [&f] { f.events << QStringLiteral("install"); };
        const bool held = onQuit ? f.updates->willInstallUpdateOnQuit(install)
                                 : f.updates->shouldPostponeRelaunchForUpdate(install);
        // The framework hears at once that the installation waits.
        QVERIFY(held);
        QCOMPARE(f.events, QStringList());
        QTRY_COMPARE(f.events, events);
        QTest::qWait(20);
        QCOMPARE(f.events, events);
        QCOMPARE(stops, 1);
    }

    void userInterfaceHooks_data()
    {
        QTest::addColumn<bool>("showing");
        QTest::addColumn<bool>("finish");
        QTest::addColumn<ActivationPolicy>("policy");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("framework shows the update") << true << false << ActivationPolicy::regular << QStringList();
        QTest::newRow("not shown") << false << false << ActivationPolicy::accessory << QStringList();
        QTest::newRow("session ends") << false << true << ActivationPolicy::accessory << QStringList{"sessionEnded"};
    }

    void userInterfaceHooks()
    {
        QFETCH(bool, showing);
        QFETCH(bool, finish);
        QFETCH(ActivationPolicy, policy);
        QFETCH(QStringList, events);
        UpdatesFixture f;
        f.updates->standardUserDriverWillHandleShowingUpdate(showing);
        if (finish)
            f.updates->standardUserDriverWillFinishUpdateSession();
        QVERIFY(f.updates->supportsGentleScheduledUpdateReminders());
        // Both reach the shell on a later turn.
        QCOMPARE(f.runtime.activationPolicy(), ActivationPolicy::accessory);
        QCOMPARE(f.events, QStringList());
        QTest::qWait(10);
        QCOMPARE(f.runtime.activationPolicy(), policy);
        QCOMPARE(f.events, events);
    }
};

QTEST_MAIN(ShellUpdatesTest)
#include "tst_shell_updates.moc"

// Start at sign-in on Linux: the login agent as a user unit of a fake per-user systemd
// manager on the test's private bus, and the app's own autostart entry.
#include "fake_systemd.h"
#include "../views/table.h"
#include "host_support.h"
#include "model_fixture.h"

#include "platform/autostart_entry.h"
#include "platform/launchctl.h"
#include "platform/login_items.h"
#include "platform/systemd_user.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonObject>
#include <QTest>

#include <QElapsedTimer>

#include <csignal>
#include <random>

using namespace cv;
using namespace cv::test;

namespace {

const QString unit = QStringLiteral("app.corvane.Corvane.service");
const QString approval = "Run systemctl --user unmask " + unit + " to allow Corvane.";
const QString runs = QStringLiteral("Runs in the background and reconnects automatically when you plug in.");
const QString denied = QStringLiteral("platform: Access denied");
const QString unavailable = QStringLiteral("The installed app’s background service is unavailable.");

// A model on the given host and clock, its other parts the fixture's.
std::unique_ptr<AppModel> makeModel(ModelFixture &f, std::shared_ptr<ServiceHost> host, Clock &clock)
{
    f.host = std::move(host);
    AppModelCollaborators parts = f.collaborators();
    parts.clock = &clock;
    return std::make_unique<AppModel>(std::move(parts));
}

// Ends a service child still running when the case ends.
struct ChildReaper {
    const ServiceHost &host;
    ~ChildReaper()
    {
        if (const auto pid = host.childPid())
            ::kill(pid_t(*pid), SIGKILL);
    }
};

// A switch of the registration: the state before, the methods refused, the calls the
// manager receives in order, the error, "enabled detail" after, and how the methods
// are refused: "refused" (an error), "restart" (no answer; the manager restarts while
// the first waits), "silent" (no answer; the call runs out of time).
struct LoginCase {
    bool enable;
    QString before, failing;
    QStringList calls;
    QString error, after;
    QString how = QStringLiteral("refused");
};


// Runs `scale` times faster than real time, so that the manager's real delays and the
// application's waits keep their proportions.
class ScaledClock final : public Clock {
public:
    explicit ScaledClock(double scale) : scale_(scale) { real_.start(); }
    double uptime() const override { return 1000.0 + double(real_.nsecsElapsed()) / 1e9 * scale_; }
    QDateTime now() const override { return QDateTime(QDate(2026, 3, 2), QTime(8, 0), Qt::UTC).addMSecs(qint64(uptime() * 1000)); }
    QCoro::Task<bool> sleep(double seconds, CancelToken token = {}) override { return Clock::system().sleep(seconds / scale_, token); }

private:
    double scale_;
    QElapsedTimer real_;
};

// Children that cannot start beside a running service unnoticed.
struct WatchedLauncher final : ChildLauncher {
    std::unique_ptr<Child> launch(const QString &program, const QStringList &arguments, int output) override
    {
        beforeLaunch();
        return children.launch(program, arguments, output);
    }
    FakeChildLauncher children;
    std::function<void()> beforeLaunch;
};

// The service as the model reaches it: it answers while the app's child or the
// manager's instance runs, and "quit" ends the one that runs.
class WorldClient final : public ServiceClient {
public:
    WorldClient(Clock &clock, FakeSystemdManager &manager, FakeChildLauncher &children)
        : ServiceClient("/nonexistent/cv-test", currentUid(), 2.0, 35.0, clock), manager_(manager), children_(children)
    {
    }

protected:
    QCoro::Task<QByteArray> send(QByteArray line, std::optional<double>) override
    {
        co_await clock().sleep(0.05);
        std::shared_ptr<FakeChild::State> child;
        for (const auto &launch : children_.launches)
            child = launch.state->running ? launch.state : child;
        const bool managed = manager_.activeState(unit) == "active";
        if (!child && !managed)
            throw ServiceError::unavailable("Connection refused");
        const QString op = FakeServiceClient::opOf(line.trimmed());
        if (op == "quit")
            managed ? manager_.setActiveState(unit, "inactive") : void(child->running = false);
        co_return op == "status" ? reply(status({.sequence = 1})) : op == "events" ? reply(events({}, 1)) : reply();
    }

private:
    FakeSystemdManager &manager_;
    FakeChildLauncher &children_;
};

} // namespace

Q_DECLARE_METATYPE(LoginCase)

class SystemdAgentTest : public QObject {
    Q_OBJECT

    FakeClock clock_{1000.0, QDateTime(QDate(2026, 3, 2), QTime(8, 7, 6), Qt::UTC)};
    FakeChildLauncher launcher_;
    InstalledApp prefix_;
    const AppBundle bundle_{prefix_.executable(), InstalledApp::agentInfo(unit)};
    std::unique_ptr<FakeSystemdManager> fake_;
    std::unique_ptr<SystemdUserManager> manager_;
    std::unique_ptr<SystemdLoginItemService> items_;
    std::unique_ptr<SystemdLaunchctl> launchctl_;

    QString unitFile() const
    {
        return QDir::cleanPath(QFileInfo(prefix_.executable()).absolutePath() + "/../share/corvane/systemd/" + unit);
    }
    QString entryPath() const { return qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/app.corvane.Corvane.desktop"; }
    QStringList enableCalls() const
    {
        return {"LinkUnitFiles " + unitFile() + " false true", "EnableUnitFiles " + unit + " false false", "Reload",
                "ResetFailedUnit " + unit, "StartUnit " + unit + " replace"};
    }
    // A manager (and what runs on it) whose questions wait `answerMs` for an answer,
    // its changes `changeMs`.
    void useManager(int answerMs, int changeMs = 5000)
    {
        launchctl_.reset();
        items_.reset();
        manager_ = std::make_unique<SystemdUserManager>(QDBusConnection::sessionBus(),
                                                        SystemdUserManager::Timeouts{answerMs, changeMs, 30}, &clock_);
        items_ = std::make_unique<SystemdLoginItemService>(bundle_, *manager_);
        launchctl_ = std::make_unique<SystemdLaunchctl>(*manager_);
    }
    // Every question to the manager answered, and what follows from the answers done.
    void settle() { QVERIFY(outcome(manager_->answered()).value); }
    // A host that has read the registration once (`settled`: and had its answers).
    std::shared_ptr<ServiceHost> makeHost(bool settled = true)
    {
        auto host = std::make_shared<ServiceHost>(
            ServiceHost::Platform{&launcher_, items_.get(), launchctl_.get(), &bundle_, &clock_});
        host->refreshLogin();
        if (settled)
            settle();
        return host;
    }

    QString schedule(unsigned seed)
    {
        constexpr double scale = 40;
        std::mt19937 draw(seed);
        const auto seconds = [&](double most) { return most * double(draw() % 1000) / 1000.0; };
        fake_ = std::make_unique<FakeSystemdManager>();
        if (!fake_->start())
            return "no bus";
        fake_->setUnitFileState(unit, QStringList{"", "disabled", "enabled", "enabled", "enabled"}.at(draw() % 5));
        fake_->pace(int(3000 / scale), seed);
        ScaledClock clock(scale);
        WatchedLauncher launcher;
        QString broken;
        const auto instances = [&] {
            int running = fake_->activeState(unit) == "active";
            for (const auto &launch : launcher.children.launches)
                running += launch.state->running;
            return running;
        };
        const auto fail = [&](const QString &what) {
            if (broken.isEmpty())
                broken = what + "; the manager's last calls: " + fake_->calls().mid(std::max<qsizetype>(0, fake_->calls().size() - 4)).join(", ");
        };
        launcher.beforeLaunch = [&] { instances() ? fail("a child launched beside a running service") : void(); };
        // Lets `most` seconds pass on the clock, or less once `done` holds.
        const auto pass = [&](double most, const std::function<bool()> &done = {}) {
            const double until = clock.uptime() + most;
            while (clock.uptime() < until && !(done && done())) {
                QTest::qWait(1);
                instances() > 1 ? fail("two services") : void();
            }
        };
        for (int launch = 0; launch < 2 && broken.isEmpty(); ++launch) {
            SystemdUserManager manager(QDBusConnection::sessionBus(), SystemdTimeouts{-1, 15000, 30}, &clock);
            SystemdLoginItemService items(bundle_, manager);
            SystemdLaunchctl launchctl(manager);
            auto host = std::make_shared<ServiceHost>(ServiceHost::Platform{&launcher, &items, &launchctl, &bundle_, &clock});
            host->refreshLogin();
            ModelFixture f;
            f.serviceClient = std::make_shared<WorldClient>(clock, *fake_, launcher.children);
            auto model = makeModel(f, host, clock);
            QCoro::Task<> startUp = AppModelAccess::startServiceIfNeeded(*model);
            std::optional<QCoro::Task<>> switching;
            for (int step = 0, steps = int(draw() % 4); step < steps; ++step) {
                pass(seconds(step == 0 ? 3 : 8)); // the first during the start-up
                const unsigned what = draw() % 3;
                if (what == 0 && !model->busy())
                    switching = model->setStartAtLogin(!host->loginEnabled());
                else if (what == 1)
                    fake_->stop(), pass(seconds(10)), fake_->start();
                else if (draw() % 2)
                    fake_->fail("StartUnit", "org.freedesktop.DBus.Error.AccessDenied", "Access denied");
                else
                    fake_->pass("StartUnit");
            }
            pass(seconds(4));
            const auto answered = [&] {
                bool done = false;
                auto waiting = [](SystemdUserManager &m, bool &done) -> QCoro::Task<> { co_await m.answered(); done = true; };
                QCoro::Task<> asked = waiting(manager, done);
                pass(30, [&] { return done; });
                return done;
            };
            if (draw() % 2 && !model->mutating() && manager.present() && manager.told(unit) && answered() && !model->mutating()
                && host->loginEnabled() != fake_->unitFileState(unit).startsWith("enabled"))
                fail("the switch shows " + QString(host->loginEnabled() ? "on" : "off") + ", the unit is " + fake_->unitFileState(unit));
            for (bool signalled : {bool(draw() % 2), true}) {
                const double began = clock.uptime();
                QCoro::Task<bool> quitting = model->quit(signalled);
                pass(40, [&] { return quitting.isReady(); });
                if (!quitting.isReady() || clock.uptime() - began > 30)
                    fail(QStringLiteral("a quit took %1 s").arg(clock.uptime() - began));
                if (!quitting.isReady() || outcome(std::move(quitting)).value.value_or(false))
                    break;
            }
            model.reset(); // the application ends
            host.reset();
            pass(8);
            instances() ? fail(QStringLiteral("%1 service(s) left after quit").arg(instances())) : void();
            for (const auto &child : launcher.children.launches)
                child.state->running = false;
            fake_->setActiveState(unit, "inactive");
        }
        fake_.reset();
        return broken;
    }

private slots:
    void init()
    {
        // Time moves only when a case moves it (the manager's quiet periods).
        clock_.setAutoAdvance(false);
        launcher_.launches.clear();
        // The last case's manager has left the bus before this one's comes: one still
        // leaving would look like a restart to the manager under test.
        fake_.reset();
        fake_ = std::make_unique<FakeSystemdManager>();
        QVERIFY(fake_->start());
        useManager(300);
        QVERIFY(QDir().mkpath(QFileInfo(unitFile()).absolutePath()));
        QVERIFY(writeFile(unitFile(), "[Service]\n"));
        QVERIFY(writeFile(serviceLog(), "service output"));
        QFile::remove(entryPath());
    }

    // The switch for each unit file state ("" for none), without the unit file or the manager.
    void status_data()
    {
        // or "no file", "no manager" (with the unit enabled) (state)
        // registrable, enabled, detail (expected)
        columns<QString, QString>("state", "expected");
        QTest::newRow("enabled") << "enabled" << "1 1 " + runs;
        QTest::newRow("disabled") << "disabled" << "1 0 " + runs;
        QTest::newRow("masked") << "masked" << "1 0 " + approval;
        QTest::newRow("masked for this session") << "masked-runtime" << "1 0 " + approval;
        QTest::newRow("bad") << "bad" << "1 0 " + unavailable;
        // A registration cut off after the link: undone.
        QTest::newRow("linked, not enabled") << "linked" << "1 0 " + runs;
        QTest::newRow("unit file missing") << "no file" << "0 0 Available in the installed app.";
        QTest::newRow("no manager") << "no manager" << "0 0 Available in the installed app.";
    }
    void status()
    {
        auto [state, expected] = fetch<QString, QString>("state", "expected");
        fake_->setUnitFileState(unit, state.startsWith("no ") ? "enabled" : state);
        if (state == "no file")
            QFile::remove(unitFile());
        else if (state == "no manager")
            fake_.reset();
        const auto host = makeHost();
        QCOMPARE(host->needsApproval(), state.startsWith("masked"));
        host->refreshLogin();
        QCOMPARE(QStringLiteral("%1 %2 ").arg(host->canRegister()).arg(host->loginEnabled()) + host->loginDetail(), expected);
        // Not the installed app, or no manager answering: each said as it is.
        if (!host->canRegister())
            QCOMPARE(outcome(host->setLogin(true)).error, state == "no file" ? "invalid: Only the installed app can start Corvane at sign-in."
                                                                             : "unavailable: The user service manager isn’t answering. Try again in a moment.");
        const QStringList undo{"DisableUnitFiles " + unit + " false", "Reload"};
        QTRY_COMPARE(fake_ ? fake_->calls() : QStringList(), state == "linked" ? undo : QStringList());
        QVERIFY(state != "linked" || fake_->unitFileState(unit).isEmpty());
    }

    // The calls the manager receives in order, the state after, and the app's own entry,
    // which enabling removes.
    void setLogin_data()
    {
        QTest::addColumn<LoginCase>("c");
        const QStringList disable{"DisableUnitFiles " + unit + " false", "Reload"};
        QTest::newRow("enable") << LoginCase{true, "disabled", "", enableCalls(), "", "1 " + runs};
        QTest::newRow("already enabled") << LoginCase{true, "enabled", "", {}, "", "1 " + runs};
        QTest::newRow("masked: no link over the mask") << LoginCase{true, "masked", "", {enableCalls()[1]},
                                                                    "platform: Unit file " + unit + " is masked.", "0 " + approval};
        QTest::newRow("masked for this session: no link over it") << LoginCase{true, "masked-runtime", "", {enableCalls()[1]},
                                                                    "platform: Unit file " + unit + " is masked.", "0 " + approval};
        const QStringList refused = enableCalls().mid(0, 2);
        const QString stillLinked =
            " The background service’s user unit is still linked. Run systemctl --user disable " + unit + " to remove it.";
        QTest::newRow("enable refused: the link taken back") << LoginCase{true, "", "EnableUnitFiles", refused + disable, denied, "0 " + runs};
        QTest::newRow("enable and its undoing refused") << LoginCase{true, "", "EnableUnitFiles DisableUnitFiles", refused + disable.mid(0, 1),
                                                                     denied + "." + stillLinked, "0 " + runs};
        QTest::newRow("enable cut off by a restart") << LoginCase{true, "", "EnableUnitFiles", refused + disable,
                                                                  "platform: The user service manager restarted.", "0 " + runs, "restart"};
        QTest::newRow("enable not answered") << LoginCase{true, "", "EnableUnitFiles", refused,
                                                          "platform: The user service manager isn’t answering." + stillLinked,
                                                          "0 The user service manager isn’t answering. Try again in a moment.", "silent"};
        QTest::newRow("disable") << LoginCase{false, "enabled", "", disable, "", "0 " + runs};
        QTest::newRow("disable, not registered") << LoginCase{false, "", "", {}, "", "0 " + runs};
        QTest::newRow("disable refused") << LoginCase{false, "enabled", "DisableUnitFiles", disable.mid(0, 1), denied, "1 " + runs};
    }
    void setLogin()
    {
        QFETCH(LoginCase, c);
        if (c.how == "silent")
            useManager(300, 300);
        fake_->setUnitFileState(unit, c.before);
        const QStringList failing = c.failing.split(' ', Qt::SkipEmptyParts);
        for (const QString &method : failing)
            fake_->fail(method, c.how == "refused" ? "org.freedesktop.DBus.Error.AccessDenied" : "", "Access denied");
        QVERIFY(outcome(items_->mainApp()->registerItem()).value);
        const auto host = makeHost();
        QCoro::Task<> setting = host->setLogin(c.enable);
        if (c.how == "restart") {
            QTRY_VERIFY(fake_->received().contains(failing.value(0)));
            fake_->stop();
            QVERIFY(fake_->start());
        }
        QCOMPARE(outcome(std::move(setting)).error, c.error.isEmpty() ? std::nullopt : std::optional(c.error));
        settle();
        QCOMPARE(fake_->calls(), c.calls);
        QVERIFY(!host->loginBusy());
        QCOMPARE(QStringLiteral("%1 ").arg(host->loginEnabled()) + host->loginDetail(), c.after);
        QCOMPARE(QFileInfo::exists(entryPath()), !c.enable); // the app's own entry goes when enabling
    }

    // A manager that restarts instead of answering the Reload after the enable: the
    // new one reads the unit files afresh, so the change stands, and the switch and
    // the error agree on what came of it.
    void reloadCutOffByARestart()
    {
        fake_->fail("Reload"); // no answer
        const auto host = makeHost();
        QCoro::Task<> setting = host->setLogin(true);
        QTRY_VERIFY(fake_->received().contains("Reload"));
        fake_->stop();
        QVERIFY(fake_->start());
        fake_->pass("Reload");
        const std::optional<QString> error = outcome(std::move(setting), 10000).error;
        QTRY_VERIFY(!host->loginBusy() && manager_->told(unit));
        settle();
        QCOMPARE(host->loginEnabled(), fake_->unitFileState(unit) == "enabled");
        QCOMPARE(host->loginEnabled(), !error.has_value());
    }

    // Running only while active, followed through the unit's signals; a manager that
    // did not answer is left alone for a while.
    void agentStopped()
    {
        fake_->setUnitFileState(unit, "enabled");
        const auto host = makeHost();
        QVERIFY(host->agentStopped()); // not loaded
        fake_->setActiveState(unit, "active");
        QTRY_VERIFY(!host->agentStopped());
        fake_->setActiveState(unit, "activating");
        QTRY_VERIFY(host->agentStopped());
        fake_->fail("GetUnit");
        fake_->setActiveState(unit, "active");
        QTRY_VERIFY(!host->canRegister());
        clock_.advance(31);
        QVERIFY(host->canRegister() && host->agentManaged() && host->agentStopped());
    }

    // Nothing waits for the manager: with its answers held back the readers return at
    // once, with no agent until it has answered (a wait would run the questions out of
    // time), and the host follows the answers when they come, the first one even when
    // it tells of no unit file at all.
    void slowManager_data()
    {
        // every answer this late (ms, with the questions' own limit), or held back
        // until the case lets them go (0) (lateMs)
        // managed, enabled, detail once answered (expected)
        columns<QString, int, QString>("state", "lateMs", "expected");
        QTest::newRow("enabled") << "enabled" << 0 << "1 1 " + runs;
        QTest::newRow("never linked") << "" << 0 << "0 0 " + runs;
        QTest::newRow("enabled, answered after more than a second") << "enabled" << 1200 << "1 1 " + runs;
    }
    void slowManager()
    {
        auto [state, lateMs, expected] = fetch<QString, int, QString>("state", "lateMs", "expected");
        fake_->setUnitFileState(unit, state);
        if (lateMs) {
            useManager(SystemdTimeouts{}.answerMs);
            fake_->delay({}, lateMs);
        } else {
            fake_->hold(true);
        }
        const auto host = makeHost(false);
        // Both questions about the unit at once.
        if (!lateMs)
            QTRY_COMPARE(fake_->hold(true), QStringList({"Subscribe", "GetUnitFileState", "GetUnit"}));
        QTRY_VERIFY(fake_->received().contains("GetUnit"));
        QVERIFY(manager_->present() && !manager_->told(unit)); // asked: there, not told yet
        QVERIFY(!host->canRegister() && !host->agentManaged() && !host->agentStopped() && !host->loginEnabled());
        QCOMPARE(host->loginDetail(), "Checking start at sign-in…"); // not "not the installed app"
        fake_->hold(false);
        settle();
        QCOMPARE(QStringLiteral("%1 %2 ").arg(host->agentManaged()).arg(host->loginEnabled()) + host->loginDetail(), expected);
    }

    // The switch follows a manager that goes and comes back by itself: one that
    // restarts with a question pending (the bus answers it for the manager) is read
    // again as soon as it is back; one that let a question run out of time is left
    // alone for 30 s, then read again, unless another manager takes its place.
    void managerComesBack_data()
    {
        columns<QString>("manager");
        QTest::newRow("restarts mid-question") << "restarts";
        QTest::newRow("silent, then quiet for 30 s") << "silent";
        QTest::newRow("silent, then replaced: the new one is not quiet") << "replaced";
    }
    void managerComesBack()
    {
        auto [manager] = fetch<QString>("manager");
        fake_->setUnitFileState(unit, "enabled");
        const auto host = makeHost();
        QVERIFY(host->loginEnabled());
        fake_->hold(true);
        fake_->setUnitFileState(unit, "enabled"); // signalled: asked again
        QTRY_COMPARE(fake_->hold(true), QStringList({"GetUnitFileState", "GetUnit"}));
        if (manager == "restarts") {
            fake_->stop();
            QTRY_VERIFY_WITH_TIMEOUT(!host->loginEnabled(), 2000);
            QVERIFY(host->loginDetail() != unavailable);
            QVERIFY(fake_->start());
            // While the new manager's answers wait, the unit shows as it was last read:
            // the answers the restart cut off are no failure of the unit.
            fake_->hold(true);
            QTRY_VERIFY_WITH_TIMEOUT(host->loginEnabled(), 2000);
            QCOMPARE(host->loginDetail(), runs);
            QTRY_COMPARE(fake_->hold(true), QStringList({"Subscribe", "GetUnitFileState", "GetUnit"})); // read afresh
            fake_->hold(false);
        } else if (manager == "replaced") {
            QTRY_VERIFY_WITH_TIMEOUT(!host->loginEnabled(), 2000); // 300 ms
            fake_->stop();
            QVERIFY(fake_->start());
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!host->loginEnabled(), 2000); // 300 ms
            fake_->hold(false);
            settle();
            clock_.advance(29.9);
            QVERIFY(!host->loginEnabled() && !host->canRegister());
            QCOMPARE(host->loginDetail(), "The user service manager isn’t answering. Try again in a moment.");
            clock_.advance(0.2);
        }
        QTRY_VERIFY_WITH_TIMEOUT(host->loginEnabled(), 2000);
        QCOMPARE(host->loginDetail(), runs);
    }

    // Decisions that depend on the agent wait (2 s at most) for the manager's first
    // answer about its unit: a start-up has the manager start an enabled unit instead
    // of launching a child, start at sign-in by default registers a unit never linked,
    // a manager that restarts meanwhile is waited for; with no answer after 2 s the
    // decision is taken as without an agent.
    void decisionsWaitForTheManager_data()
    {
        // "late": 0.9 s late, "restart": a restart 0.9 s in, "none": no answer, "slow":
        // every answer 0.9 s late about a loaded unit (three questions), "active held":
        // the unit file state answered, GetUnit not before the decision (answers);
        // by default, else a start-up; the manager's calls and the children launched
        columns<QString, QString, bool, QStringList, int>("answers", "state", "byDefault", "calls", "children");
        const QStringList kicked = enableCalls().mid(3);
        QTest::newRow("start-up, 0.9 s late") << "late" << "enabled" << false << kicked << 0;
        QTest::newRow("start-up, restarted") << "restart" << "enabled" << false << kicked << 0;
        QTest::newRow("start-up, no answer in 2 s") << "none" << "enabled" << false << QStringList() << 1;
        QTest::newRow("start-up, every answer 0.9 s late") << "slow" << "enabled" << false << kicked << 0;
        // The file state is all the decision needs: the ActiveState is not waited for.
        QTest::newRow("start-up, ActiveState not answered") << "active held" << "enabled" << false << kicked << 0;
        // A unit the user masked runs nothing: the application runs the service.
        QTest::newRow("start-up, masked") << "late" << "masked" << false << QStringList() << 1;
        QTest::newRow("by default, 0.9 s late") << "late" << "" << true << enableCalls() << 0;
    }
    void decisionsWaitForTheManager()
    {
        auto [answers, state, byDefault, calls, children] =
            fetch<QString, QString, bool, QStringList, int>("answers", "state", "byDefault", "calls", "children");
        useManager(5000); // the decision, not a time-out, ends the wait
        fake_->setUnitFileState(unit, state);
        const bool slow = answers == "slow", activeHeld = answers == "active held";
        if (activeHeld) {
            fake_->defer("GetUnit");
        } else if (slow) {
            // The decision's 2 s pass in real time.
            fake_->setActiveState(unit, "inactive");
            fake_->delay({}, 900);
            clock_.setPumpDelay(2000);
            clock_.setAutoAdvance(true);
        } else {
            fake_->hold(true);
        }
        const auto host = makeHost(false);
        if (activeHeld)
            QTRY_COMPARE(manager_->unitFileState(unit).value_or("-"), state);
        else if (!slow)
            QTRY_COMPARE(fake_->hold(true), QStringList({"Subscribe", "GetUnitFileState", "GetUnit"}));
        ModelFixture f;
        f.client->always("quit", reply());
        // Down when asked before the decision and, when the decision waited, again
        // once it is taken: the socket is asked before anything is started.
        for (int asked = 0; asked < (activeHeld ? 1 : 2); ++asked)
            f.client->queueError("status", ServiceError::unavailable("down"));
        serveIdle(*f.client, 3);
        const auto model = makeModel(f, host, clock_);
        if (byDefault)
            model->setConnected(true);
        const int asleep = clock_.sleeperCount();
        QCoro::Task<> act = byDefault ? AppModelAccess::startAtLoginByDefault(*model) : AppModelAccess::startServiceIfNeeded(*model);
        if (slow) {
            QTRY_VERIFY_WITH_TIMEOUT(fake_->received().contains("StartUnit") || !launcher_.launches.isEmpty(), 5000);
            clock_.setPumpDelay(0);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(clock_.sleeperCount(), asleep + 1, 1000); // waiting
            clock_.advance(0.9);
        }
        if (answers == "late")
            fake_->hold(false);
        else if (answers == "restart")
            fake_->stop(), fake_->start();
        else if (answers == "none" || activeHeld)
            clock_.advance(1.2);
        if (answers != "none")
            QTRY_VERIFY_WITH_TIMEOUT(host->canRegister(), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(launcher_.launches.size(), children, 1000); // decided by now
        fake_->hold(false); // an answer after the decision changes nothing of it
        if (activeHeld)
            fake_->release();
        settle();
        clock_.setAutoAdvance(true);
        QVERIFY(outcome(std::move(act)).value);
        settle();
        QCOMPARE(fake_->calls(), calls);
        QVERIFY(model->connected());
        QCOMPARE(f.defaults->boolValue("startAtLoginDefaulted"), byDefault);
    }

    // Turning start at sign-in on when the manager refuses the enable (its error, or a
    // unit the user masked meanwhile), with the service running as the application's
    // child: the child is asked to quit and waited for (it leaves its socket at once
    // and exits half a second later) only just before the manager's start, the
    // refusal is shown, and the service runs on, or again as a new child.
    void refusedRegistrationRunsTheServiceAgain_data()
    {
        // the method the manager refuses ("": the unit masked instead); the children run
        columns<QString, QString, QStringList, int>("refused", "error", "calls", "children");
        const QStringList undo{"DisableUnitFiles " + unit + " false", "Reload"};
        QTest::newRow("manager error") << "EnableUnitFiles" << "Access denied" << enableCalls().mid(0, 2) + undo << 1;
        QTest::newRow("masked") << "" << "Unit file " + unit + " is masked." << enableCalls().mid(1, 1) << 1;
        // Linked and enabled, but the start refused: the manager's reason, not the
        // exit of the child stopped for the hand-over; the enable is taken back, as the
        // switch shows, and the service runs again.
        QTest::newRow("start refused") << "StartUnit" << "Access denied" << enableCalls() + undo << 2;
    }
    void refusedRegistrationRunsTheServiceAgain()
    {
        auto [refused, error, calls, children] = fetch<QString, QString, QStringList, int>("refused", "error", "calls", "children");
        const bool masked = refused.isEmpty();
        if (!masked)
            fake_->fail(refused, "org.freedesktop.DBus.Error.AccessDenied", "Access denied");
        Standin standin;
        const QJsonObject quit{{"reply", QJsonObject{{"ok", true}, {"result", QJsonObject()}}}, {"quit", true}, {"linger", 0.5}};
        standin.setScript({{"ops", QJsonObject{{"quit", quit}}}, {"lifetime", 20}});
        qputenv("CV_STANDIN_DIR", QFile::encodeName(standin.directory()));
        QVERIFY(writeFile(prefix_.service(), "#!/bin/sh\nexec '" + QFile::encodeName(Standin::executable()) + "' --runtime-dir '"
                                                 + QFile::encodeName(standin.runtimeDir()) + "'\n"));
        const auto host = std::make_shared<ServiceHost>(
            ServiceHost::Platform{nullptr, items_.get(), launchctl_.get(), &bundle_, &Clock::system()});
        ChildReaper reaper{*host};
        host->refreshLogin();
        settle();
        ModelFixture f;
        f.serviceClient = std::make_shared<ServiceClient>(standin.runtimeDir());
        const auto model = makeModel(f, host, Clock::system());
        host->start(false);
        const auto first = host->childPid();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(standin.socketPath()), 2000);
        QVERIFY(outcome(AppModelAccess::startServiceIfNeeded(*model)).value && model->connected());
        if (masked)
            fake_->setUnitFileState(unit, "masked");
        QTRY_COMPARE_WITH_TIMEOUT(host->needsApproval(), masked, 2000);

        QVERIFY(outcome(model->setStartAtLogin(true)).value);
        QCOMPARE(model->error(), "Couldn't change start at sign-in: " + error);
        QCOMPARE(fake_->calls(), calls);
        QVERIFY(model->connected() && !model->serviceError() && !host->loginEnabled());
        QVERIFY((host->childPid() != first) == (children == 2) && !host->childKnownStopped());
        QCOMPARE(standin.startArguments().size(), children);
    }

    // Turning start at sign-in on while the manager restarts with the start pending:
    // the start is asked again once the manager is back, and the hand-over ends when
    // the service it started answers. A manager not back within the change time-out
    // (5 s on the clock here) fails the change, and the service runs as a child again;
    // so it does when the start is not taken on in time (0.5 s here), and the start is
    // called off first, so the manager that carries it out later stops it again.
    void handOverStartLostOrUnanswered_data()
    {
        // the manager after the start ("back", "not back", "silent"); the calls after the
        // registration's, the error's beginning, the children run in all
        columns<QString, QStringList, QString, int>("manager", "calls", "error", "children");
        const QStringList start = enableCalls().mid(3);
        const QString failed = "Couldn't change start at sign-in: The user service manager";
        QTest::newRow("manager back") << "back" << start + start << "" << 1;
        QTest::newRow("manager not back") << "not back" << start << failed << 2;
        QTest::newRow("start not taken on") << "silent" << start + QStringList{"StopUnit " + unit + " replace"} << failed << 2;
    }
    void handOverStartLostOrUnanswered()
    {
        auto [manager, calls, error, children] = fetch<QString, QStringList, QString, int>("manager", "calls", "error", "children");
        if (manager == "silent")
            useManager(300, 500);
        const auto host = makeHost();
        host->start(true);
        ModelFixture f;
        f.client->queue("quit", reply());
        f.client->alwaysError("status", ServiceError::unavailable("down"));
        const auto model = makeModel(f, host, clock_);
        model->setConnected(true);
        launcher_.launches.first().state->running = false; // it quits at once
        fake_->defer("StartUnit");
        QCoro::Task<> change = model->setStartAtLogin(true);
        QTRY_COMPARE(fake_->calls().count(calls.first()), 1);
        if (manager == "back") {
            fake_->stop();
            QVERIFY(fake_->start());
            QTRY_COMPARE(fake_->calls().count(calls.first()), 2); // asked of the new manager
            serveIdle(*f.client, 3); // the service it starts answers
            QCOMPARE(fake_->release(), QStringList{"StartUnit"});
        } else {
            if (manager == "not back") {
                fake_->stop();
                QTRY_COMPARE(clock_.sleeperCount(), 1); // the wait for the manager's return
                clock_.advance(5);
            } else {
                // The child waits until the manager has taken the call-off on, or let
                // it run out of time (0.5 s here).
                QTRY_VERIFY(fake_->calls().contains("StopUnit " + unit + " replace"));
                QCOMPARE(launcher_.launches.size(), 1);
                QTRY_VERIFY_WITH_TIMEOUT((clock_.advance(0.5), launcher_.launches.size() == 2), 2000);
            }
            QTRY_COMPARE_WITH_TIMEOUT(launcher_.launches.size(), children, 2000);
            serveIdle(*f.client, 3);
        }
        clock_.setAutoAdvance(true);
        QVERIFY(outcome(std::move(change)).value);
        if (error.isEmpty())
            QCOMPARE(model->error(), std::nullopt);
        else
            QVERIFY2(model->error().value_or("").startsWith(error), qPrintable(model->error().value_or("none")));
        QCOMPARE(launcher_.launches.size(), children);
        QVERIFY(model->connected() && !model->serviceError());
        if (manager == "silent") // the start, then its stop, in order
            QCOMPARE(fake_->release(), (QStringList{"StartUnit", "StopUnit"}));
        QCOMPARE(fake_->calls().mid(enableCalls().size() - 2), calls);
        if (manager == "not back") {
            // The enable nobody could take back is taken back by the manager that
            // comes back, so the switch stays off, as the error said.
            QVERIFY(fake_->start());
            QTRY_VERIFY(fake_->calls().contains("DisableUnitFiles " + unit + " false"));
            settle();
            QTRY_VERIFY(!host->loginEnabled() && !fake_->calls().isEmpty() && fake_->calls().last() == "Reload");
        }
    }

    // A dropped argument is refused, as the manager refuses it.
    void droppedArgumentRefused()
    {
        auto call = QDBusMessage::createMethodCall("org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                                                   "org.freedesktop.systemd1.Manager", "DisableUnitFiles") << QStringList{unit};
        QCOMPARE(QDBusConnection::sessionBus().call(call).errorName(), "org.freedesktop.DBus.Error.InvalidArgs");
    }

    // A marker in the service log, disabled, enabled and started again, then kickstarted.
    void repairAgent_data()
    {
        columns<QString, QStringList>("failing", "calls");
        const QStringList again{"DisableUnitFiles " + unit + " false", "Reload"};
        QTest::newRow("repaired") << "" << again + enableCalls() + enableCalls().mid(3);
        QTest::newRow("link refused") << "LinkUnitFiles" << again + enableCalls().mid(0, 1);
    }
    void repairAgent()
    {
        auto [failing, calls] = fetch<QString, QStringList>("failing", "calls");
        fake_->setUnitFileState(unit, "enabled");
        fake_->setActiveState(unit, "failed");
        fake_->fail(failing, "org.freedesktop.DBus.Error.AccessDenied", "Access denied");
        const auto host = makeHost();
        QCOMPARE(outcome(host->repairAgent()).value, failing.isEmpty());
        settle();
        QCOMPARE(fake_->calls(), calls);
        QVERIFY(readFile(serviceLog()).startsWith("service output\n--- The background service couldn't start from sign-in"));
    }

    // Seeded schedules of the model, the host and the agent on a manager that takes
    // each call 0–3 s after the one before, leaves and comes back, refuses starts,
    // while the user switches and quits (or the system sends SIGTERM) at random
    // moments, with a relaunch after each quit. Always: at most one service, none
    // after a quit, a quit that ends in time, and the switch as the unit file is.
    // CV_SCHEDULE_SEED replays one schedule, CV_SCHEDULES runs more.
    void schedules()
    {
        const bool replay = qEnvironmentVariableIsSet("CV_SCHEDULE_SEED");
        const unsigned first = replay ? qEnvironmentVariableIntValue("CV_SCHEDULE_SEED") : std::random_device()();
        const int count = replay ? 1 : qEnvironmentVariableIntValue("CV_SCHEDULES") ? qEnvironmentVariableIntValue("CV_SCHEDULES") : 36;
        for (unsigned seed = first; seed != first + unsigned(count); ++seed) {
            const QString broken = schedule(seed);
            QVERIFY2(broken.isEmpty(), qPrintable(QStringLiteral("seed %1: %2 (replay: CV_SCHEDULE_SEED=%1)").arg(seed).arg(broken)));
        }
    }

    void autostartEntry()
    {
        const auto item = items_->mainApp();
        QVERIFY(outcome(item->registerItem()).value);
        QVERIFY(readFile(entryPath()).contains("\nExec=" + AutostartEntry::execLine(prefix_.executable()).toUtf8() + "\n"));
        QCOMPARE(item->status(), LoginItemStatus::enabled);
        QVERIFY(writeFile(entryPath(), readFile(entryPath()) + "Hidden = true\n")); // hidden: not registered
        QCOMPARE(item->status(), LoginItemStatus::notRegistered);
        QVERIFY(writeFile(entryPath(), "[Other]\nHidden=true\n[Desktop Entry]\nExec=x\n"));
        QCOMPARE(item->status(), LoginItemStatus::enabled);
        QVERIFY(outcome(item->unregisterItem()).value && !QFileInfo::exists(entryPath()));
        qputenv(autostartVariable, "1"); // seen once, not passed on
        QVERIFY(launchedByAutostartEntry() && !qEnvironmentVariableIsSet(autostartVariable));
    }
};

QTEST_GUILESS_MAIN(SystemdAgentTest)
#include "tst_systemd_agent.moc"

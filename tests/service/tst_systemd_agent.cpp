// Start at sign-in on Linux: the login agent as a user unit of a fake per-user systemd
// manager on the test's private bus, and the app's own autostart entry.
#include "fake_systemd.h"
#include "../views/table.h"
#include "host_support.h"

#include "platform/autostart_entry.h"
#include "platform/launchctl.h"
#include "platform/login_items.h"
#include "platform/systemd_user.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

const QString unit = QStringLiteral("app.corvane.Corvane.service");
const QString approval = "Run systemctl --user unmask " + unit + " to allow Corvane.";
const QString runs = QStringLiteral("Runs in the background and reconnects automatically when you plug in.");
const QString denied = QStringLiteral("platform: Access denied");

// A switch of the registration: the state before, the method refused, the calls the
// manager receives in order, the error, and "enabled detail" after.
struct LoginCase {
    bool enable;
    QString before, failing;
    QStringList calls;
    QString error, after;
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

private slots:
    void init()
    {
        fake_ = std::make_unique<FakeSystemdManager>();
        QVERIFY(fake_->start());
        manager_ = std::make_unique<SystemdUserManager>(QDBusConnection::sessionBus(),
                                                        SystemdUserManager::Timeouts{300, 5000, 30}, &clock_);
        items_ = std::make_unique<SystemdLoginItemService>(bundle_, *manager_);
        launchctl_ = std::make_unique<SystemdLaunchctl>(*manager_);
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
        QTest::newRow("bad") << "bad" << "1 0 The installed app’s background service is unavailable.";
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
        QCOMPARE(host->needsApproval(), state == "masked");
        host->refreshLogin();
        QCOMPARE(QStringLiteral("%1 %2 ").arg(host->canRegister()).arg(host->loginEnabled()) + host->loginDetail(), expected);
        if (!host->canRegister())
            QCOMPARE(outcome(host->setLogin(true)).error, "invalid: Use an installed app bundle to configure login startup.");
        QVERIFY(!fake_ || fake_->calls().isEmpty());
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
        QTest::newRow("enable refused") << LoginCase{true, "", "EnableUnitFiles", enableCalls().mid(0, 2), denied, "0 " + runs};
        QTest::newRow("disable") << LoginCase{false, "enabled", "", disable, "", "0 " + runs};
        QTest::newRow("disable, not registered") << LoginCase{false, "", "", {}, "", "0 " + runs};
        QTest::newRow("disable refused") << LoginCase{false, "enabled", "DisableUnitFiles", disable.mid(0, 1), denied, "1 " + runs};
    }
    void setLogin()
    {
        QFETCH(LoginCase, c);
        fake_->setUnitFileState(unit, c.before);
        fake_->fail(c.failing, "org.freedesktop.DBus.Error.AccessDenied", "Access denied");
        QVERIFY(outcome(items_->mainApp()->registerItem()).value);
        const auto host = makeHost();
        QCOMPARE(outcome(host->setLogin(c.enable)).error, c.error.isEmpty() ? std::nullopt : std::optional(c.error));
        settle();
        QCOMPARE(fake_->calls(), c.calls);
        QVERIFY(!host->loginBusy());
        QCOMPARE(QStringLiteral("%1 ").arg(host->loginEnabled()) + host->loginDetail(), c.after);
        QCOMPARE(QFileInfo::exists(entryPath()), !c.enable); // the app's own entry goes when enabling
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
    // time), and the host follows the answers when they come.
    void slowManager()
    {
        fake_->setUnitFileState(unit, "enabled");
        fake_->hold(true);
        const auto host = makeHost(false);
        QTRY_COMPARE(fake_->hold(true), QStringList({"Subscribe", "GetUnitFileState"}));
        QVERIFY(!host->canRegister() && !host->agentManaged() && !host->agentStopped() && !host->loginEnabled());
        fake_->hold(false);
        settle();
        QVERIFY(host->agentManaged() && host->loginEnabled());
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

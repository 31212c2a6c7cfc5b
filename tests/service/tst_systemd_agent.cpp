// Start at sign-in on Linux: the login agent as a user unit of the per-user systemd
// manager (a fake one on the test's private bus), and the application's own login
// item as an autostart entry in the temporary home.
#include "fake_systemd.h"
#include "host_support.h"
#include "model_fixture.h"

#include "platform/autostart_entry.h"
#include "platform/launchctl.h"
#include "platform/login_items.h"
#include "platform/systemd_user.h"

#include <QDBusConnection>
#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

const QString unit = QStringLiteral("app.corvane.Corvane.service");
const QString available = QStringLiteral("Available in the installed app.");
const QString approval = QStringLiteral("Allow Corvane in System Settings → General → Login Items & Extensions.");
const QString unavailable = QStringLiteral("The installed app’s background service is unavailable.");
const QString runs = QStringLiteral("Runs in the background and reconnects automatically when you plug in.");

QStringList enableCalls(const QString &unitFile)
{
    return {"LinkUnitFiles " + unitFile, "EnableUnitFiles " + unit, "Reload", "ResetFailedUnit " + unit,
            "StartUnit " + unit + " replace"};
}

// An installed application's information keys, naming the agent's unit file.
QMap<QString, QString> agentInfo()
{
    auto info = AppBundle::defaultInfo();
    info.insert(QStringLiteral("CVServiceAgentPlist"), unit);
    return info;
}

} // namespace

class SystemdAgentTest : public QObject {
    Q_OBJECT

    FakeClock clock_{1000.0, QDateTime(QDate(2026, 3, 2), QTime(8, 7, 6), Qt::UTC)};
    FakeChildLauncher launcher_;
    InstalledApp prefix_;
    const AppBundle bundle_{prefix_.executable(), agentInfo()};
    std::unique_ptr<FakeSystemdManager> fake_;
    std::unique_ptr<SystemdUserManager> manager_;
    std::unique_ptr<SystemdLoginItemService> items_;
    std::unique_ptr<SystemdLaunchctl> launchctl_;

    QString unitFile() const
    {
        return QDir::cleanPath(QFileInfo(prefix_.executable()).absolutePath() + "/../share/corvane/systemd/" + unit);
    }
    QString entryPath() const { return qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/app.corvane.Corvane.desktop"; }

    std::shared_ptr<ServiceHost> makeHost()
    {
        return std::make_shared<ServiceHost>(
            ServiceHost::Platform{&launcher_, items_.get(), launchctl_.get(), &bundle_, &clock_});
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

    // What the switch offers for each unit file state, and today's texts without a
    // user manager or without the installed unit file.
    void status_data()
    {
        QTest::addColumn<QString>("state"); // empty: the manager knows no such unit file
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("onBus");
        QTest::addColumn<bool>("registrable");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("detail");
        QTest::newRow("enabled") << "enabled" << true << true << true << true << runs;
        QTest::newRow("enabled for this boot") << "enabled-runtime" << true << true << true << true << runs;
        QTest::newRow("disabled") << "disabled" << true << true << true << false << runs;
        QTest::newRow("no such unit") << "" << true << true << true << false << runs;
        QTest::newRow("linked only") << "linked" << true << true << true << false << runs;
        QTest::newRow("masked: the user has to unmask it") << "masked" << true << true << true << false << approval;
        QTest::newRow("bad unit file") << "bad" << true << true << true << false << unavailable;
        QTest::newRow("unit file missing from the app") << "enabled" << false << true << false << false << available;
        QTest::newRow("no user manager on the bus") << "enabled" << true << false << false << false << available;
    }
    void status()
    {
        QFETCH(QString, state);
        QFETCH(bool, installed);
        QFETCH(bool, onBus);
        QFETCH(bool, registrable);
        QFETCH(bool, enabled);
        QFETCH(QString, detail);
        fake_->setUnitFileState(unit, state.isEmpty() ? std::nullopt : std::optional(state));
        if (!installed)
            QVERIFY(QFile::remove(unitFile()));
        if (!onBus)
            fake_.reset();
        const auto host = makeHost();
        QCOMPARE(host->canRegister(), registrable);
        QCOMPARE(host->needsApproval(), registrable && state == "masked");
        host->refreshLogin();
        QCOMPARE(host->loginEnabled(), enabled);
        QCOMPARE(host->loginDetail(), detail);
        if (!registrable)
            QCOMPARE(outcome(host->setLogin(true)).error,
                     QStringLiteral("invalid: Use an installed app bundle to configure login startup."));
        if (fake_)
            QCOMPARE(fake_->calls(), QStringList());
    }

    // Turning start at sign-in on and off: the calls the manager receives, in order,
    // the texts afterwards, and the application's own autostart entry, which enabling
    // removes in every case.
    void setLogin_data()
    {
        QTest::addColumn<bool>("enable");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("failing"); // a method the manager answers with an error
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("detail");
        const QString link = "LinkUnitFiles " + unitFile();
        QTest::newRow("enable") << true << "" << "" << enableCalls(unitFile()) << "" << true << runs;
        QTest::newRow("enable a disabled unit") << true << "disabled" << "" << enableCalls(unitFile()) << "" << true << runs;
        QTest::newRow("already enabled: nothing called") << true << "enabled" << "" << QStringList() << "" << true << runs;
        QTest::newRow("enable a masked unit: refused, no link over the mask")
            << true << "masked" << "" << QStringList{"EnableUnitFiles " + unit}
            << "platform: Unit file app.corvane.Corvane.service is masked." << false << approval;
        QTest::newRow("the manager refuses to enable")
            << true << "" << "EnableUnitFiles" << QStringList{link, "EnableUnitFiles " + unit}
            << "platform: Access denied" << false << runs;
        QTest::newRow("disable") << false << "enabled" << "" << QStringList{"DisableUnitFiles " + unit, "Reload"} << ""
                                 << false << runs;
        QTest::newRow("disable a masked unit: the mask stays")
            << false << "masked" << "" << QStringList{"DisableUnitFiles " + unit, "Reload"} << "" << false << approval;
        QTest::newRow("disable, not registered") << false << "" << "" << QStringList() << "" << false << runs;
        QTest::newRow("the manager refuses to disable")
            << false << "enabled" << "DisableUnitFiles" << QStringList{"DisableUnitFiles " + unit}
            << "platform: Access denied" << true << runs;
    }
    void setLogin()
    {
        QFETCH(bool, enable);
        QFETCH(QString, before);
        QFETCH(QString, failing);
        QFETCH(QStringList, calls);
        QFETCH(QString, error);
        QFETCH(bool, enabled);
        QFETCH(QString, detail);
        fake_->setUnitFileState(unit, before.isEmpty() ? std::nullopt : std::optional(before));
        if (!failing.isEmpty())
            fake_->fail(failing, "org.freedesktop.DBus.Error.AccessDenied", "Access denied");
        QVERIFY(outcome(items_->mainApp()->registerItem()).value);
        const auto host = makeHost();
        QCOMPARE(outcome(host->setLogin(enable)).error, error.isEmpty() ? std::nullopt : std::optional(error));
        QCOMPARE(fake_->calls(), calls);
        QCOMPARE(host->loginBusy(), false);
        QCOMPARE(host->loginEnabled(), enabled);
        QCOMPARE(host->loginDetail(), detail);
        QCOMPARE(QFileInfo::exists(entryPath()), !enable);
    }

    // The model shows the manager's refusal and is free again.
    void modelShowsRefusal()
    {
        fake_->fail("EnableUnitFiles", "org.freedesktop.DBus.Error.AccessDenied", "Access denied");
        ModelFixture f;
        f.host = makeHost();
        AppModel &m = f.model();
        m.setConnected(true);
        m.setStarting(false);
        f.host->refreshLogin();
        f.client->always("quit", wire::done());
        f.client->queueError("status", ServiceError::unavailable("Connection refused."));
        f.client->always("status", wire::ok(wire::status({}, 3)));
        f.client->always("events", wire::ok(wire::events({}, 3)));
        QVERIFY(outcome(m.setStartAtLogin(true)).value);
        QCOMPARE(m.error(), std::optional<QString>("Couldn't change start at sign-in: Access denied"));
        QCOMPARE(f.host->loginBusy(), false);
        QCOMPARE(m.mutating(), false);
        QCOMPARE(f.host->loginEnabled(), false);
    }

    // "print": the unit counts as running only while it is active; an unloaded unit
    // and a manager that does not answer count as stopped, and a manager that did not
    // answer is left alone for a while.
    void agentStopped_data()
    {
        QTest::addColumn<QString>("active"); // empty: not loaded
        QTest::addColumn<bool>("answers");
        QTest::addColumn<bool>("stopped");
        QTest::newRow("active") << "active" << true << false;
        QTest::newRow("inactive") << "inactive" << true << true;
        QTest::newRow("failed") << "failed" << true << true;
        QTest::newRow("activating") << "activating" << true << true;
        QTest::newRow("not loaded") << "" << true << true;
        QTest::newRow("the manager does not answer") << "active" << false << true;
    }
    void agentStopped()
    {
        QFETCH(QString, active);
        QFETCH(bool, answers);
        QFETCH(bool, stopped);
        fake_->setUnitFileState(unit, "enabled");
        fake_->setActiveState(unit, active.isEmpty() ? std::nullopt : std::optional(active));
        if (!answers)
            fake_->fail("GetUnit");
        const auto host = makeHost();
        QVERIFY(host->agentManaged());
        QCOMPARE(host->agentStopped(), stopped);
        QCOMPARE(host->canRegister(), answers);
        clock_.advance(31);
        QVERIFY(host->canRegister());
    }

    // Repairing a stopped agent: a marker line in the service log, disabled, enabled
    // and started again, then kickstarted.
    void repairAgent_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("activeAfter");
        const QStringList again{"DisableUnitFiles " + unit, "Reload"};
        QTest::newRow("re-enabled and started")
            << "" << true << again + enableCalls(unitFile()) + QStringList{"ResetFailedUnit " + unit, "StartUnit " + unit + " replace"}
            << "active";
        QTest::newRow("the manager refuses the link")
            << "LinkUnitFiles" << false << again + QStringList{"LinkUnitFiles " + unitFile()} << "failed";
    }
    void repairAgent()
    {
        QFETCH(QString, failing);
        QFETCH(bool, result);
        QFETCH(QStringList, calls);
        QFETCH(QString, activeAfter);
        fake_->setUnitFileState(unit, "enabled");
        fake_->setActiveState(unit, "failed");
        if (!failing.isEmpty())
            fake_->fail(failing, "org.freedesktop.DBus.Error.AccessDenied", "Access denied");
        const auto host = makeHost();
        QCOMPARE(outcome(host->repairAgent()).value, result);
        QCOMPARE(fake_->calls(), calls);
        QCOMPARE(fake_->activeState(unit), std::optional(activeAfter));
        QCOMPARE(readFile(serviceLog()), "service output\n--- The background service couldn't start from sign-in; "
                                         "registering it again at " + ServiceHost::markerDate(clock_.now()).toUtf8() + " ---\n");
        QCOMPARE(host->loginEnabled(), result);
    }

    // The application's own login item in the temporary home.
    void autostartEntry()
    {
        const auto item = items_->mainApp();
        QCOMPARE(item->status(), LoginItemStatus::notRegistered);
        QVERIFY(outcome(item->registerItem()).value);
        QCOMPARE(readFile(entryPath()), "[Desktop Entry]\nType=Application\nName=Corvane\n"
                                        "Exec=env CV_AUTOSTART=1 " + QFile::encodeName(prefix_.executable())
                                            + " --background\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
        QCOMPARE(item->status(), LoginItemStatus::enabled);
        // Hidden by the user or the desktop: not registered.
        QVERIFY(writeFile(entryPath(), readFile(entryPath()) + "Hidden = true\n"));
        QCOMPARE(item->status(), LoginItemStatus::notRegistered);
        QVERIFY(writeFile(entryPath(), "[Other]\nHidden=true\n[Desktop Entry]\nExec=x\n"));
        QCOMPARE(item->status(), LoginItemStatus::enabled);
        QVERIFY(outcome(item->unregisterItem()).value);
        QVERIFY(!QFileInfo::exists(entryPath()));
        QVERIFY(outcome(item->unregisterItem()).value); // nothing left to remove
        // A launch from the entry: its variable is seen once and not passed on.
        qputenv(autostartVariable, "1");
        QVERIFY(launchedByAutostartEntry());
        QVERIFY(!qEnvironmentVariableIsSet(autostartVariable));
        QVERIFY(launchedByAutostartEntry());
    }

    // Program paths the desktop entry format has to quote.
    void execLine_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/usr/bin/corvane" << "env CV_AUTOSTART=1 /usr/bin/corvane --background";
        QTest::newRow("space") << "/opt/My Apps/corvane" << "env CV_AUTOSTART=1 \"/opt/My Apps/corvane\" --background";
        QTest::newRow("percent, unquoted") << "/opt/100%/corvane" << "env CV_AUTOSTART=1 /opt/100%%/corvane --background";
        QTest::newRow("dollar, quote, backslash, percent")
            << "/opt/a$b\"c\\d 5%/corvane" << "env CV_AUTOSTART=1 \"/opt/a\\\\$b\\\\\"c\\\\\\\\d 5%%/corvane\" --background";
    }
    void execLine()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QCOMPARE(AutostartEntry::execLine(program), exec);
    }
};

QTEST_GUILESS_MAIN(SystemdAgentTest)
#include "tst_systemd_agent.moc"

// Start at sign-in on Linux: the login agent as a user unit of a fake per-user systemd
// manager on the test's private bus, and the app's own autostart entry.
#include "fake_systemd.h"
#include "host_support.h"

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
const QString approval = QStringLiteral("Allow Corvane in System Settings → General → Login Items & Extensions.");
const QString runs = QStringLiteral("Runs in the background and reconnects automatically when you plug in.");
const QString denied = QStringLiteral("platform: Access denied");

QMap<QString, QString> agentInfo()
{
    auto info = AppBundle::defaultInfo();
    info.insert(QStringLiteral("CVServiceAgentPlist"), unit);
    return info;
}

} // namespace

class SystemdAgentTest;
using Tweak = std::function<void(SystemdAgentTest &)>;

Q_DECLARE_METATYPE(Tweak)

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
    QStringList enableCalls() const
    {
        return {"LinkUnitFiles " + unitFile(), "EnableUnitFiles " + unit, "Reload", "ResetFailedUnit " + unit,
                "StartUnit " + unit + " replace"};
    }
    std::shared_ptr<ServiceHost> makeHost()
    {
        return std::make_shared<ServiceHost>(
            ServiceHost::Platform{&launcher_, items_.get(), launchctl_.get(), &bundle_, &clock_});
    }
    void failing(const QString &method)
    {
        if (!method.isEmpty())
            fake_->fail(method, "org.freedesktop.DBus.Error.AccessDenied", "Access denied");
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
        QTest::addColumn<QString>("state");
        QTest::addColumn<Tweak>("setup");
        QTest::addColumn<QString>("expected"); // registrable, enabled, detail
        const Tweak none = [](SystemdAgentTest &) {};
        QTest::newRow("enabled") << "enabled" << none << "1 1 " + runs;
        QTest::newRow("enabled for this boot") << "enabled-runtime" << none << "1 1 " + runs;
        QTest::newRow("disabled") << "disabled" << none << "1 0 " + runs;
        QTest::newRow("no such unit") << "" << none << "1 0 " + runs;
        QTest::newRow("masked") << "masked" << none << "1 0 " + approval;
        QTest::newRow("bad") << "bad" << none << "1 0 The installed app’s background service is unavailable.";
        QTest::newRow("unit file missing") << "enabled" << Tweak([](SystemdAgentTest &t) { QFile::remove(t.unitFile()); })
                                           << "0 0 Available in the installed app.";
        QTest::newRow("no manager") << "enabled" << Tweak([](SystemdAgentTest &t) { t.fake_.reset(); })
                                    << "0 0 Available in the installed app.";
    }
    void status()
    {
        QFETCH(QString, state);
        QFETCH(Tweak, setup);
        QFETCH(QString, expected);
        fake_->setUnitFileState(unit, state.isEmpty() ? std::nullopt : std::optional(state));
        setup(*this);
        const auto host = makeHost();
        QCOMPARE(host->needsApproval(), state == "masked");
        host->refreshLogin();
        QCOMPARE(QStringLiteral("%1 %2 ").arg(host->canRegister()).arg(host->loginEnabled()) + host->loginDetail(), expected);
        if (!host->canRegister())
            QCOMPARE(outcome(host->setLogin(true)).error, "invalid: Use an installed app bundle to configure login startup.");
        if (fake_)
            QCOMPARE(fake_->calls(), QStringList());
    }

    // The calls the manager receives in order, the state after, and the app's own entry,
    // which enabling removes.
    void setLogin_data()
    {
        QTest::addColumn<bool>("enable");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("after"); // enabled, detail
        const QStringList disable{"DisableUnitFiles " + unit, "Reload"};
        QTest::newRow("enable") << true << "disabled" << "" << enableCalls() << "" << "1 " + runs;
        QTest::newRow("already enabled") << true << "enabled" << "" << QStringList() << "" << "1 " + runs;
        QTest::newRow("masked: no link over the mask") << true << "masked" << "" << QStringList{"EnableUnitFiles " + unit}
                                                       << "platform: Unit file app.corvane.Corvane.service is masked." << "0 " + approval;
        QTest::newRow("enable refused") << true << "" << "EnableUnitFiles"
                                        << QStringList{"LinkUnitFiles " + unitFile(), "EnableUnitFiles " + unit} << denied << "0 " + runs;
        QTest::newRow("disable") << false << "enabled" << "" << disable << "" << "0 " + runs;
        QTest::newRow("disable masked") << false << "masked" << "" << disable << "" << "0 " + approval;
        QTest::newRow("disable, not registered") << false << "" << "" << QStringList() << "" << "0 " + runs;
        QTest::newRow("disable refused") << false << "enabled" << "DisableUnitFiles" << disable.mid(0, 1) << denied << "1 " + runs;
    }
    void setLogin()
    {
        QFETCH(bool, enable);
        QFETCH(QString, before);
        QFETCH(QString, failing);
        QFETCH(QStringList, calls);
        QFETCH(QString, error);
        QFETCH(QString, after);
        fake_->setUnitFileState(unit, before.isEmpty() ? std::nullopt : std::optional(before));
        this->failing(failing);
        QVERIFY(outcome(items_->mainApp()->registerItem()).value);
        const auto host = makeHost();
        QCOMPARE(outcome(host->setLogin(enable)).error, error.isEmpty() ? std::nullopt : std::optional(error));
        QCOMPARE(fake_->calls(), calls);
        QCOMPARE(host->loginBusy(), false);
        QCOMPARE(QStringLiteral("%1 ").arg(host->loginEnabled()) + host->loginDetail(), after);
        QCOMPARE(QFileInfo::exists(entryPath()), !enable);
    }

    // Running only while active ("" for not loaded, none for no answer); a manager that
    // did not answer is left alone for a while.
    void agentStopped()
    {
        fake_->setUnitFileState(unit, "enabled");
        for (const char *active : {"activating", ""}) {
            fake_->setActiveState(unit, *active ? std::optional<QString>(active) : std::nullopt);
            QVERIFY(makeHost()->agentStopped());
        }
        fake_->setActiveState(unit, "active");
        QVERIFY(!makeHost()->agentStopped());
        fake_->fail("GetUnit");
        const auto host = makeHost();
        QVERIFY(host->agentManaged() && host->agentStopped() && !host->canRegister());
        clock_.advance(31);
        QVERIFY(host->canRegister());
    }

    // A marker in the service log, disabled, enabled and started again, then kickstarted.
    void repairAgent_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("activeAfter");
        const QStringList again{"DisableUnitFiles " + unit, "Reload"};
        QTest::newRow("repaired") << "" << again + enableCalls() + QStringList{"ResetFailedUnit " + unit, "StartUnit " + unit + " replace"}
                                  << "active";
        QTest::newRow("link refused") << "LinkUnitFiles" << again + QStringList{"LinkUnitFiles " + unitFile()} << "failed";
    }
    void repairAgent()
    {
        QFETCH(QString, failing);
        QFETCH(QStringList, calls);
        QFETCH(QString, activeAfter);
        fake_->setUnitFileState(unit, "enabled");
        fake_->setActiveState(unit, "failed");
        this->failing(failing);
        const auto host = makeHost();
        QCOMPARE(outcome(host->repairAgent()).value, failing.isEmpty());
        QCOMPARE(fake_->calls(), calls);
        QCOMPARE(fake_->activeState(unit), std::optional(activeAfter));
        QCOMPARE(readFile(serviceLog()), "service output\n--- The background service couldn't start from sign-in; "
                                         "registering it again at " + ServiceHost::markerDate(clock_.now()).toUtf8() + " ---\n");
    }

    void autostartEntry()
    {
        const auto item = items_->mainApp();
        QVERIFY(outcome(item->registerItem()).value);
        QCOMPARE(readFile(entryPath()), "[Desktop Entry]\nType=Application\nName=Corvane\n"
                                        "Exec=" + AutostartEntry::execLine(prefix_.executable()).toUtf8()
                                            + "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
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

// The launch: the "--events-since" option, which steps run for which options, and
// the subscriptions that take each value as it was set.

#include "../views/table.h"
#include "delegate_fixture.h"
#include "fake_status_item.h"

#include "fake_systemd.h"

#include "app/launch_options.h"
#include "app/status_menu.h"
#include "devtools/demo.h"
#include "platform/login_items.h"
#include "platform/systemd_user.h"
#include "platform/user_defaults.h"

#include <QAbstractButton>
#include <QDBusConnection>
#include <QMenu>

using namespace cv;
using namespace cv::test;
using Since = std::optional<std::uint64_t>;
Q_DECLARE_METATYPE(Since)

namespace {

// A launch whose polling task waits at its first pause for good.
void launch(DelegateFixture &f, const QStringList &arguments)
{
    f.model.clock.setAutoAdvance(false);
    f.delegate->applicationDidFinishLaunching(QStringList{QStringLiteral("/usr/bin/corvane")} + arguments);
}

// The computers of a status as "name mode mount", and its transfers and copies.
QStringList computers(const ServiceStatus &status)
{
    QStringList lines;
    for (const Peer &peer : status.peers)
        lines << peer.name + ' ' + peer.sharing.mode + ' ' + peer.mount.value_or("");
    return lines << QString("%1 %2").arg(status.transfers.size()).arg(status.copies.size());
}

// What is the user's own and a demo leaves alone: the settings file, and an installed
// copy whose service runs from sign-in under the per-user service manager (a fake one
// on the test's private bus, whose every call counts).
class UserState {
public:
    UserState()
    {
        const QString unit = InstalledApp::agentInfo().value("CVServiceAgentPlist");
        writeFile(*bundle_.resourcesFolder() + "/systemd/" + unit, "[Service]\n");
        started_ = systemd_.start();
        systemd_.setUnitFileState(unit, "enabled");
        settings_->setBool("showInMenuBar", false);
        settings_->setBool("notifyConnections", false);
        settings_->setString("lastReceiveFolder", config_.path());
        stored_ = readFile(settingsFile());
    }

    // The model's settings and service host are these.
    std::function<void(ModelFixture &)> parts()
    {
        return [this](ModelFixture &m) {
            m.bundle = bundle_;
            m.userDefaults = settings_;
            m.host = std::make_shared<ServiceHost>(ServiceHost::Platform{&m.launcher, &loginItems_, &m.launchctl, &m.bundle, &m.clock});
        };
    }

    bool ready() const { return started_ && !stored_.isEmpty(); }
    // Whether the settings file holds what it held at first.
    bool settingsKept() const { return readFile(settingsFile()) == stored_; }
    // Every call the manager received, once the questions asked so far are answered.
    QStringList managerCalls()
    {
        QTest::qWait(50);
        QCoro::waitFor(manager_.answered());
        return systemd_.received();
    }

private:
    QString settingsFile() const { return config_.filePath("Corvane.conf"); }

    InstalledApp installed_;
    const AppBundle bundle_ = installed_.bundle();
    FakeSystemdManager systemd_;
    SystemdUserManager manager_{QDBusConnection::sessionBus()};
    SystemdLoginItemService loginItems_{bundle_, manager_};
    const QTemporaryDir config_;
    std::shared_ptr<SettingsUserDefaults> settings_ = std::make_shared<SettingsUserDefaults>(settingsFile());
    QByteArray stored_;
    bool started_ = false;
};

} // namespace

class ShellLaunchTest : public QObject {
    Q_OBJECT
private slots:
    // The first "--events-since" counts; anything but an unsigned 64-bit number is ignored.
    void eventsSince()
    {
        const auto since = [](const QStringList &arguments) { return Since(cv::eventsSince(QStringList{"/usr/bin/corvane"} + arguments)); };
        QCOMPARE(since({"--events-since", "-1"}), Since());
        QCOMPARE(since({"--events-since", "18446744073709551615"}), Since(18446744073709551615ULL));
        QCOMPARE(since({"--events-since", "18446744073709551616"}), Since());
        QCOMPARE(since({"--events-since", "x", "--events-since", "9"}), Since());
    }

    void launchSteps_data()
    {
        columns<QStringList, bool, Since>("arguments", "window", "cursor"); // window: the main window is shown
        QTest::newRow("plain") << QStringList{} << true << Since();
        QTest::newRow("background, first --events-since counts")
            << QStringList{"--events-since", "42", "--background", "--events-since", "7"} << false << Since(42);
    }
    void launchSteps()
    {
        auto [arguments, window, cursor] = fetch<QStringList, bool, Since>("arguments", "window", "cursor");
        DelegateFixture f;
        ScopedEnv captures("CV_MAC_CAPTURE_DIR", "/nonexistent/captures");
        launch(f, arguments);
        QTest::qWait(50);
        // The main window shows once its height is fitted: on a busy machine that
        // takes longer than on an idle one.
        QTRY_COMPARE(f.delegate->visibleWindows(), window ? QList<QMainWindow *>{f.delegate->mainWindow.data()} : QList<QMainWindow *>{});
        QVERIFY(AppModelAccess::polling(f.appModel()).has_value());
        QCOMPARE(AppModelAccess::cursor(f.appModel()), cursor);
        // The capture run waits for a service's status.
        QVERIFY(!f.delegate->captureScheduled && f.appModel().stateChanged && !f.model.notifications->categories().isEmpty());
    }

    // Each value as it was set, handled on a later turn: "Show in menu bar" off and
    // on again makes a fresh item.
    void subscriptionsTakeEachValue()
    {
        int made = 0;
        DelegateFixture f;
        f.delegate->makeStatusItem = [&made] { ++made; return std::unique_ptr<StatusItem>(new FakeStatusItem); };
        f.appModel().setShowInMenuBar(true);
        launch(f, {QStringLiteral("--background")});
        f.appModel().setShowInMenuBar(false);
        f.appModel().setShowInMenuBar(true);
        QCOMPARE(made, 1);
        QTRY_COMPARE(made, 2);
        QVERIFY(f.delegate->statusMenu->statusItem());
    }

    // On an installed copy whose service runs from sign-in, every control of a demo
    // window (and every item of a menu it opens) acts on the demo or does nothing: no
    // request, no service started, the user's settings file as it was, and not one
    // call to the per-user service manager.
    void demoControlsReachNothing_data()
    {
        QTest::addColumn<QString>("state");
        for (const QString &state : Demo::states())
            QTest::newRow(qPrintable(state)) << state;
    }
    void demoControlsReachNothing()
    {
        QFETCH(QString, state);
        UserState user;
        QVERIFY(user.ready());
        DelegateFixture f(user.parts());
        launch(f, {"--demo", state});
        QMainWindow *window = Demo::isMainWindow(state) ? f.delegate->mainWindow.data()
                                                        : f.delegate->peerWindows.value(Demo::peerID()).data();
        QTRY_VERIFY(window && window->isVisible());
        int clicked = 0;
        for (const QPointer<QAbstractButton> button : window->findChildren<QAbstractButton *>()) {
            if (!button || !button->isVisible() || !button->isEnabled())
                continue;
            button->click();
            ++clicked;
            for (QWidget *popup : QApplication::topLevelWidgets()) {
                if (auto *menu = qobject_cast<QMenu *>(popup); menu && menu->isVisible()) {
                    for (QAction *action : menu->actions())
                        action->trigger();
                    menu->close();
                }
            }
        }
        f.delegate->applicationDidBecomeActive();
        QTest::qWait(50);
        QVERIFY(clicked > 2);
        QCOMPARE(f.model.client->requests, QList<QByteArray>());
        QVERIFY(f.model.launchctl.calls.isEmpty() && f.model.launcher.launches.isEmpty());
        QCOMPARE(computers(*f.appModel().status()), computers(Demo::status(state)));
        // No polling, and quitting never reaches the service.
        QVERIFY(!AppModelAccess::polling(f.appModel()));
        f.delegate->requestQuit();
        QTRY_COMPARE(f.exits, QList<int>{0});
        QCOMPARE(f.model.client->requests, QList<QByteArray>());
        QVERIFY(user.settingsKept());
        QCOMPARE(user.managerCalls(), QStringList());
    }

    // A reference rendering is a demo too: it draws the demo's own settings, and
    // nothing reaches the user's settings or the service manager.
    void renderReachesNothing()
    {
        UserState user;
        QVERIFY(user.ready());
        ScopedEnv pause("CV_MAC_CAPTURE_PAUSE_MS", "1");
        const QTemporaryDir folder;
        DelegateFixture f(user.parts());
        launch(f, {"--render", folder.path()});
        QVERIFY(f.appModel().notifyConnections());
        // Drawn so far: a computer window's states, then the main window's first (many
        // pictures: the bound only stops a run that is stuck).
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.filePath("corvane-main-light.png")), 30000);
        QVERIFY(user.settingsKept());
        QCOMPARE(user.managerCalls(), QStringList());
    }
};

QTEST_MAIN(ShellLaunchTest)
#include "tst_shell_launch.moc"

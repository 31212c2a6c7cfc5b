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
        QCOMPARE(f.delegate->visibleWindows(), window ? QList<QMainWindow *>{f.delegate->mainWindow.data()} : QList<QMainWindow *>{});
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
        InstalledApp installed;
        const AppBundle bundle = installed.bundle();
        const QString unit = InstalledApp::agentInfo().value("CVServiceAgentPlist");
        QVERIFY(writeFile(*bundle.resourcesFolder() + "/systemd/" + unit, "[Service]\n"));
        FakeSystemdManager systemd;
        QVERIFY(systemd.start());
        systemd.setUnitFileState(unit, "enabled");
        SystemdUserManager manager(QDBusConnection::sessionBus());
        SystemdLoginItemService loginItems(bundle, manager);
        const QTemporaryDir config;
        const QString settingsFile = config.filePath("Corvane.conf");
        auto settings = std::make_shared<SettingsUserDefaults>(settingsFile);
        settings->setBool("showInMenuBar", false);
        settings->setBool("notifyConnections", true);
        settings->setString("lastReceiveFolder", config.path());
        const QByteArray stored = readFile(settingsFile);
        QVERIFY(!stored.isEmpty());

        DelegateFixture f([&](ModelFixture &m) {
            m.bundle = bundle;
            m.userDefaults = settings;
            m.host = std::make_shared<ServiceHost>(ServiceHost::Platform{&m.launcher, &loginItems, &m.launchctl, &m.bundle, &m.clock});
        });
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
        QCoro::waitFor(manager.answered());
        QVERIFY(clicked > 2);
        QCOMPARE(f.model.client->requests, QList<QByteArray>());
        QVERIFY(f.model.launchctl.calls.isEmpty() && f.model.launcher.launches.isEmpty());
        QCOMPARE(computers(*f.appModel().status()), computers(Demo::status(state)));
        // No polling, and quitting never reaches the service.
        QVERIFY(!AppModelAccess::polling(f.appModel()));
        f.delegate->requestQuit();
        QTRY_COMPARE(f.exits, QList<int>{0});
        QCOMPARE(f.model.client->requests, QList<QByteArray>());
        QCOMPARE(readFile(settingsFile), stored);
        QCOMPARE(systemd.received(), QStringList());
    }
};

QTEST_MAIN(ShellLaunchTest)
#include "tst_shell_launch.moc"

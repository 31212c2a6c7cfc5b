// The launch: which steps run for which options, the subscriptions that take each
// value as it was set, and the real corvane from launch to quit on the stand-in.

#include "corvane_process.h"
#include "delegate_fixture.h"
#include "fake_install_system.h"
#include "fake_status_item.h"
#include "trace_capture.h"

#include "app/status_menu.h"
#include "devtools/demo.h"

#include <QAbstractButton>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>

#include <csignal>

using namespace cv;
using namespace cv::test;
using Since = std::optional<std::uint64_t>;
using Prepare = std::function<void(DelegateFixture &)>;
Q_DECLARE_METATYPE(Since)
Q_DECLARE_METATYPE(Prepare)

namespace {

const QString suppressed = QStringLiteral("background launch: initial window suppressed");
const QString capturing = QStringLiteral("live service state received; scheduling capture");
const QList<NotificationCategory> categories{{"CONNECTION", {}},
                                             {"CONNECTION_FILES", {{"OPEN_FILES", "Open files"}}},
                                             {"DELIVERY", {{"SHOW_IN_FOLDER", "Show in folder"}}}};

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

void stop(Corvane &app)
{
    ::kill(pid_t(app.process.processId()), SIGTERM);
}

} // namespace

class ShellLaunchTest : public QObject {
    Q_OBJECT
private slots:
    void launchSteps_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Prepare>("prepare");
        QTest::addColumn<QString>("window"); // "main", a computer's id, or none
        QTest::addColumn<bool>("started");   // the polling task runs
        QTest::addColumn<Since>("cursor");
        QTest::addColumn<QStringList>("traces");
        const Prepare none = [](DelegateFixture &) {};
        const QString peer = Demo::peerID();
        QTest::newRow("plain") << QStringList{} << none << "main" << true << Since() << QStringList{};
        QTest::newRow("background") << QStringList{"--background"} << none << "" << true << Since() << QStringList{suppressed};
        QTest::newRow("first --events-since counts") << QStringList{"--events-since", "42", "--background", "--events-since", "7"}
                                                     << none << "" << true << Since(42) << QStringList{suppressed};
        QTest::newRow("demo: choose") << QStringList{"--demo"} << none << peer << false << Since() << QStringList{capturing};
        QTest::newRow("demo main") << QStringList{"--demo", "main"} << none << "main" << false << Since() << QStringList{capturing};
        QTest::newRow("demo --background") << QStringList{"--demo", "--background"} << none << peer << false << Since()
                                           << QStringList{capturing};
        // Declined: only the menus, then the quit at once.
        QTest::newRow("move offered") << QStringList{} << Prepare([](DelegateFixture &f) {
            static FakeInstallSystem system;
            system.bundle = QStringLiteral("/nonexistent/Downloads/Corvane.app");
            f.model.alerts->answer = 1;
            f.delegate->installPlatform = {&system, f.model.alerts.get(), &f.model.clock, {}, [] { return false; }, {},
                                           "/nonexistent/Applications", "/nonexistent/home"};
        }) << "" << false << Since() << QStringList{"applicationShouldTerminate received; terminationInFlight=false",
                                                     "applicationWillTerminate"};
    }
    void launchSteps()
    {
        QFETCH(QStringList, arguments);
        QFETCH(Prepare, prepare);
        QFETCH(bool, started);
        DelegateFixture f;
        prepare(f);
        TraceCapture trace;
        launch(f, arguments);
        QTest::qWait(50);
        const auto shown = f.delegate->visibleWindows();
        QTEST(shown.isEmpty() ? QString() : shown.first() == f.delegate->mainWindow ? "main" : f.delegate->peerWindows.key(shown.first()),
              "window");
        QCOMPARE(AppModelAccess::polling(f.appModel()).has_value(), started);
        QTEST(AppModelAccess::cursor(f.appModel()), "cursor");
        QTEST(trace.texts(), "traces");
        if (f.delegate->mainWindow)
            QCOMPARE(f.delegate->mainWindow->menuBar()->actions().size(), 4);
        // Past the move offer: callbacks, categories; the service only without a
        // development mode.
        const bool moving = f.delegate->installing;
        QVERIFY(f.delegate->mainMenu);
        QCOMPARE(bool(f.appModel().stateChanged), !moving);
        QCOMPARE(f.model.notifications->categories(), moving ? QList<NotificationCategory>() : categories);
        QCOMPARE(f.exits, moving ? QList<int>{0} : QList<int>{});
        if (!started)
            QCOMPARE(f.model.client->requests, QList<QByteArray>());
    }

    void noCategoriesNorResponsesUnpackaged()
    {
        DelegateFixture f([](ModelFixture &m) { m.packaged = false; });
        launch(f, {QStringLiteral("--background")});
        QCOMPARE(f.model.notifications->categoryRegistrations(), 0);
        emit f.model.notifications->responseReceived({"c-p1", "default", {{"peer", "p1"}}});
        QTest::qWait(50);
        QVERIFY(f.delegate->peerWindows.isEmpty());
    }

    // Each value as it was set, handled on a later turn: two errors set in one turn
    // are both shown, "Show in menu bar" off and on again makes a fresh item.
    void subscriptionsTakeEachValue()
    {
        int made = 0;
        DelegateFixture f;
        f.delegate->makeStatusItem = [&made]() -> std::unique_ptr<StatusItem> {
            ++made;
            return std::make_unique<FakeStatusItem>();
        };
        f.appModel().setShowInMenuBar(true);
        launch(f, {QStringLiteral("--background")});
        f.appModel().setError(QStringLiteral("first"));
        f.appModel().setError(QStringLiteral("second"));
        QTRY_COMPARE(f.sheet(), std::optional<QString>(QStringLiteral("first")));
        f.answerSheet();
        QTRY_COMPARE(f.sheet(), std::optional<QString>(QStringLiteral("second")));
        f.appModel().setShowInMenuBar(false);
        f.appModel().setShowInMenuBar(true);
        QCOMPARE(made, 1);
        QTRY_COMPARE(made, 2);
        QVERIFY(f.delegate->statusMenu->statusItem());
    }

    // The real program from event 42 in the background, quit by SIGTERM through the
    // service's drain; a second SIGTERM meanwhile is refused.
    void backgroundLaunchToQuit()
    {
        Standin service; // further on than 42: a smaller sequence would lower the cursor
        const QJsonObject quit{{"reply", QJsonObject{{"ok", true}, {"result", QJsonObject()}}}, {"delay", 1.5}, {"quit", true}};
        service.setScript({{"lifetime", 60}, {"event_sequence", 50}, {"ops", QJsonObject{{"quit", quit}}}});
        Corvane app(service, {QStringLiteral("--background"), QStringLiteral("--events-since"), QStringLiteral("42")});
        QTRY_VERIFY_WITH_TIMEOUT(!requestsOf(service, "events").isEmpty(), 20000);
        QCOMPARE(requestsOf(service, "events").first().value("since").toInteger(), 42);
        QVERIFY2(app.traces().contains(suppressed), qPrintable(app.trace()));
        stop(app);
        QTRY_VERIFY_WITH_TIMEOUT(app.traces().contains("AppDelegate drain task started"), 10000);
        stop(app);
        QVERIFY2(app.process.waitForFinished(30000), qPrintable(app.trace()));
        QCOMPARE(app.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.process.exitCode(), 0);
        const QStringList traces = app.traces();
        const QString first = QStringLiteral("applicationShouldTerminate received; terminationInFlight=false");
        QCOMPARE(traces.mid(traces.indexOf(first)),
                 (QStringList{first, "AppDelegate drain task started",
                              "applicationShouldTerminate received; terminationInFlight=true",
                              "controller Quit completed; replying to AppKit allowTermination=true", "applicationWillTerminate"}));
        QCOMPARE(requestsOf(service, "quit").size(), 1);
    }

    // On an installed copy whose service runs from sign-in, every control of a demo
    // window (and every item of a menu it opens) acts on the demo or does nothing:
    // no request, nothing registered or unregistered, no service started.
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
        DelegateFixture f([&installed](ModelFixture &m) {
            m.bundle = installed.bundle();
            m.loginItems.agentItem->setStatus(LoginItemStatus::enabled);
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
        QTest::qWait(50);
        QVERIFY(clicked > 2);
        QCOMPARE(f.model.client->requests, QList<QByteArray>());
        QCOMPARE(f.model.loginItems.agentItem->registerCalls + f.model.loginItems.agentItem->unregisterCalls
                     + f.model.loginItems.appItem->registerCalls + f.model.loginItems.appItem->unregisterCalls, 0);
        QCOMPARE(f.model.launchctl.calls.size(), 0);
        QCOMPARE(f.model.launcher.launches.size(), 0);
        QCOMPARE(computers(*f.appModel().status()), computers(Demo::status(state)));
    }

    // Neither development mode reaches a service; "--render" wins over "--demo".
    void developmentModesSendNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("renders");
        QTest::newRow("demo") << QStringList{"--demo"} << false;
        QTest::newRow("render wins") << QStringList{"--demo", "main", "--render", "{folder}"} << true;
    }
    void developmentModesSendNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, renders);
        Standin service;
        QTemporaryDir folder;
        Corvane app(service, arguments.replaceInStrings("{folder}", folder.path()));
        // Long enough for a launch to reach its service, or for the first picture.
        QByteArray printed;
        QCOMPARE(QTest::qWaitFor([&] { return (printed += app.process.readAllStandardOutput()).contains("Captured "); }, 4000),
                 renders);
        QCOMPARE(printed.startsWith("Captured " + QFile::encodeName(folder.path()) + "/corvane-"), renders);
        stop(app);
        QVERIFY(app.process.waitForFinished(20000));
        QCOMPARE(app.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.process.exitCode(), 0);
        QCOMPARE(service.recorded(), QList<QByteArray>());
        QCOMPARE(service.startArguments(), QList<QStringList>());
    }
};

QTEST_MAIN(ShellLaunchTest)
#include "tst_shell_launch.moc"

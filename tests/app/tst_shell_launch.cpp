// The launch: which steps run for which options, the subscriptions that take each
// value as it was set, the notices' categories, and the real corvane from its
// launch to its quit against the stand-in service.

#include "corvane_process.h"
#include "delegate_fixture.h"
#include "fake_install_system.h"
#include "fake_status_item.h"
#include "trace_capture.h"

#include "app/status_menu.h"
#include "devtools/demo.h"

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

// A launch whose polling task waits at its first pause for good.
void launch(DelegateFixture &f, const QStringList &arguments)
{
    f.model.clock.setAutoAdvance(false);
    f.delegate->applicationDidFinishLaunching(QStringList{QStringLiteral("/usr/bin/corvane")} + arguments);
}

// The window on screen once the launch settled: "main", a computer's id, or "".
QString shownWindow(DelegateFixture &f)
{
    QTest::qWait(50);
    const auto visible = f.delegate->visibleWindows();
    if (visible.isEmpty())
        return {};
    return visible.first() == f.delegate->mainWindow ? QStringLiteral("main") : f.delegate->peerWindows.key(visible.first());
}

} // namespace

class ShellLaunchTest : public QObject {
    Q_OBJECT
private slots:
    void launchSteps_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Prepare>("prepare");
        QTest::addColumn<QString>("window");
        QTest::addColumn<bool>("started"); // the polling task runs
        QTest::addColumn<Since>("cursor");
        QTest::addColumn<QStringList>("traces");
        const Prepare none = [](DelegateFixture &) {};
        const QString demoPeer = Demo::peerID();
        QTest::newRow("plain") << QStringList{} << none << "main" << true << Since() << QStringList{};
        QTest::newRow("background") << QStringList{"--background"} << none << "" << true << Since() << QStringList{suppressed};
        QTest::newRow("first --events-since counts")
            << QStringList{"--events-since", "42", "--background", "--events-since", "7"} << none << "" << true
            << Since(42) << QStringList{suppressed};
        QTest::newRow("--events-since -1 ignored") << QStringList{"--events-since", "-1"} << none << "main" << true << Since()
                                                    << QStringList{};
        QTest::newRow("demo: choose") << QStringList{"--demo"} << none << demoPeer << false << Since() << QStringList{capturing};
        QTest::newRow("demo main") << QStringList{"--demo", "main"} << none << "main" << false << Since()
                                   << QStringList{capturing};
        QTest::newRow("demo takes --background as its state")
            << QStringList{"--demo", "--background"} << none << demoPeer << false << Since() << QStringList{capturing};
        // The move is offered and declined: only the menus, then the quit, at once.
        QTest::newRow("move offered") << QStringList{"--background"} << Prepare([](DelegateFixture &f) {
            static FakeInstallSystem system;
            system.bundle = QStringLiteral("/nonexistent/Downloads/Corvane.app");
            f.model.alerts->answer = 1;
            f.delegate->installPlatform = {&system, f.model.alerts.get(), &f.model.clock, {}, [] { return false; }, {},
                                           QStringLiteral("/nonexistent/Applications"), QStringLiteral("/nonexistent/home")};
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
        QTEST(shownWindow(f), "window");
        QCOMPARE(AppModelAccess::polling(f.appModel()).has_value(), started);
        QTEST(AppModelAccess::cursor(f.appModel()), "cursor");
        QTEST(trace.texts(), "traces");
        QVERIFY(f.delegate->mainMenu);
        // Callbacks, subscriptions and the service only past the move offer; the
        // development modes never reach the service.
        QCOMPARE(bool(f.appModel().stateChanged), !f.delegate->installing);
        QCOMPARE(f.exits, f.delegate->installing ? QList<int>{0} : QList<int>{});
        if (!started)
            QCOMPARE(f.model.client->requests, QList<QByteArray>());
        if (f.delegate->mainWindow) {
            QStringList menus;
            for (QAction *menu : f.delegate->mainWindow->menuBar()->actions())
                menus << menu->text();
            QCOMPARE(menus, (QStringList{"Corvane", "Edit", "Window", "Help"}));
        }
    }

    // Each error as it was set, also two in one turn: both reach the sheet in turn.
    void errorsSetInOneTurnAreBothShown()
    {
        DelegateFixture f;
        launch(f, {QStringLiteral("--background")});
        f.appModel().setError(QStringLiteral("first"));
        f.appModel().setError(QStringLiteral("second"));
        QTRY_COMPARE(f.sheet(), std::optional<QString>(QStringLiteral("first")));
        f.answerSheet();
        QTRY_COMPARE(f.sheet(), std::optional<QString>(QStringLiteral("second")));
    }

    // Each value of "Show in menu bar" as it was set, on a later turn.
    void menuBarSettingFollowsEachValue()
    {
        QList<FakeStatusItem *> made;
        DelegateFixture f;
        f.delegate->makeStatusItem = [&made] {
            auto item = std::make_unique<FakeStatusItem>();
            made << item.get();
            return item;
        };
        f.appModel().setShowInMenuBar(true);
        launch(f, {QStringLiteral("--background")});
        QTRY_COMPARE(made.size(), 1);
        StatusItem *first = f.delegate->statusMenu->statusItem();
        f.appModel().setShowInMenuBar(false);
        f.appModel().setShowInMenuBar(true);
        QCOMPARE(f.delegate->statusMenu->statusItem(), first); // not within the change
        QTRY_COMPARE(made.size(), 2); // removed, then made afresh
        QCOMPARE(f.delegate->statusMenu->statusItem(), made.last());
        f.appModel().setShowInMenuBar(false);
        QTRY_VERIFY(!f.delegate->statusMenu->statusItem());
    }

    void categoriesOnlyWhenPackaged_data()
    {
        QTest::addColumn<bool>("packaged");
        QTest::newRow("packaged") << true;
        QTest::newRow("build folder") << false;
    }
    void categoriesOnlyWhenPackaged()
    {
        QFETCH(bool, packaged);
        DelegateFixture f([packaged](ModelFixture &m) { m.packaged = packaged; });
        launch(f, {QStringLiteral("--background")});
        const QList<NotificationCategory> categories{
            {"CONNECTION", {}},
            {"CONNECTION_FILES", {{"OPEN_FILES", "Open files"}}},
            {"DELIVERY", {{"SHOW_IN_FOLDER", "Show in folder"}}},
        };
        QCOMPARE(f.model.notifications->categories(), packaged ? categories : QList<NotificationCategory>{});
        QCOMPARE(f.model.notifications->categoryRegistrations(), int(packaged));
        emit f.model.notifications->responseReceived({"c-p1", NotificationCenter::defaultActionIdentifier(), {{"peer", "p1"}}});
        QTest::qWait(50);
        QCOMPARE(f.delegate->peerWindows.keys(), packaged ? QStringList{"p1"} : QStringList{});
    }

    // The real program: launched in the background from event 42, then quit by
    // SIGTERM through the service's drain, a second SIGTERM refused meanwhile.
    void backgroundLaunchToQuit()
    {
        Standin service;
        // A service further on than 42: a smaller sequence would lower the cursor.
        service.setScript({{"lifetime", 60}, {"event_sequence", 50}, {"ops", QJsonObject{{"quit", QJsonObject{{"reply", QJsonObject{{"ok", true}, {"result", QJsonObject{}}}},
                                                             {"delay", 1.5}, {"quit", true}}}}}});
        Corvane app(service, {QStringLiteral("--background"), QStringLiteral("--events-since"), QStringLiteral("42")});
        QVERIFY(app.process.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!requestsOf(service, "events").isEmpty(), 20000);
        QCOMPARE(requestsOf(service, "events").first().value("since").toInteger(), 42);
        QVERIFY2(app.traces().contains(suppressed), qPrintable(app.trace()));
        ::kill(pid_t(app.process.processId()), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(app.traces().contains("AppDelegate drain task started"), 10000);
        ::kill(pid_t(app.process.processId()), SIGTERM);
        QVERIFY2(app.process.waitForFinished(30000), qPrintable(app.trace()));
        QCOMPARE(app.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.process.exitCode(), 0);
        const QStringList traces = app.traces();
        const QString first = QStringLiteral("applicationShouldTerminate received; terminationInFlight=false");
        QCOMPARE(traces.mid(traces.indexOf(first)),
                 (QStringList{first, "AppDelegate drain task started",
                              "applicationShouldTerminate received; terminationInFlight=true",
                              "controller Quit completed; replying to AppKit allowTermination=true",
                              "applicationWillTerminate"}));
        QCOMPARE(requestsOf(service, "quit").size(), 1);
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
        arguments.replaceInStrings("{folder}", folder.path());
        Corvane app(service, arguments);
        QVERIFY(app.process.waitForStarted(10000));
        QByteArray printed;
        // Long enough for a launch to reach its service, or for the first picture.
        const bool captured = QTest::qWaitFor(
            [&] { return (printed += app.process.readAllStandardOutput()).contains("Captured "); }, 4000);
        QCOMPARE(captured, renders);
        QCOMPARE(printed.startsWith("Captured " + QFile::encodeName(folder.path()) + "/corvane-"), renders);
        ::kill(pid_t(app.process.processId()), SIGTERM);
        QVERIFY(app.process.waitForFinished(20000));
        QCOMPARE(app.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.process.exitCode(), 0);
        QCOMPARE(service.recorded(), QList<QByteArray>());
        QCOMPARE(service.startArguments(), QList<QStringList>());
    }
};

QTEST_MAIN(ShellLaunchTest)
#include "tst_shell_launch.moc"

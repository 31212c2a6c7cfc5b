// The launch: the "--events-since" option, which steps run for which options, and
// the subscriptions that take each value as it was set.

#include "../views/table.h"
#include "delegate_fixture.h"
#include "fake_install_system.h"
#include "fake_status_item.h"
#include "test_files.h"

#include "app/launch_options.h"
#include "app/status_menu.h"
#include "devtools/demo.h"

#include <QMenuBar>

using namespace cv;
using namespace cv::test;
using Since = std::optional<std::uint64_t>;
using Prepare = std::function<void(DelegateFixture &)>;
Q_DECLARE_METATYPE(Since)
Q_DECLARE_METATYPE(Prepare)

namespace {

// A launch whose polling task waits at its first pause for good.
void launch(DelegateFixture &f, const QStringList &arguments)
{
    f.model.clock.setAutoAdvance(false);
    f.delegate->applicationDidFinishLaunching(QStringList{QStringLiteral("/usr/bin/corvane")} + arguments);
}

} // namespace

class ShellLaunchTest : public QObject {
    Q_OBJECT
private slots:
    // The first "--events-since" counts; anything but an unsigned 64-bit number is ignored.
    void eventsSince_data()
    {
        columns<QStringList, Since>("arguments", "expected"); // after the executable
        QTest::newRow("plus") << QStringList{"--background", "--events-since", "+7"} << Since(7);
        QTest::newRow("minus zero") << QStringList{"--events-since", "-0"} << Since(0);
        QTest::newRow("minus one") << QStringList{"--events-since", "-1"} << Since();
        QTest::newRow("word") << QStringList{"--events-since", "abc"} << Since();
        QTest::newRow("largest") << QStringList{"--events-since", "18446744073709551615"} << Since(18446744073709551615ULL);
        QTest::newRow("2^64") << QStringList{"--events-since", "18446744073709551616"} << Since();
        QTest::newRow("last argument") << QStringList{"--background", "--events-since"} << Since();
        QTest::newRow("bad first of two") << QStringList{"--events-since", "x", "--events-since", "9"} << Since();
    }
    void eventsSince()
    {
        auto [arguments, expected] = fetch<QStringList, Since>("arguments", "expected");
        QCOMPARE(Since(cv::eventsSince(QStringList{"/usr/bin/corvane"} + arguments)), expected);
    }

    void launchSteps_data()
    {
        // window: "main", a computer's id, or none; started: the polling task runs
        columns<QStringList, Prepare, QString, bool, Since>("arguments", "prepare", "window", "started", "cursor");
        const Prepare none = [](DelegateFixture &) {};
        QTest::newRow("plain") << QStringList{} << none << "main" << true << Since();
        QTest::newRow("background, first --events-since counts")
            << QStringList{"--events-since", "42", "--background", "--events-since", "7"} << none << "" << true << Since(42);
        QTest::newRow("demo: choose") << QStringList{"--demo"} << none << Demo::peerID() << false << Since();
        QTest::newRow("demo main") << QStringList{"--demo", "main"} << none << "main" << false << Since();
        // Declined: only the menus, then the quit at once.
        QTest::newRow("move offered") << QStringList{} << Prepare([](DelegateFixture &f) {
            static FakeInstallSystem system;
            system.bundle = QStringLiteral("/nonexistent/Downloads/Corvane.app");
            f.model.alerts->answer = 1;
            f.delegate->installPlatform = {&system, f.model.alerts.get(), &f.model.clock, {}, [] { return false; }, {},
                                           "/nonexistent/Applications", "/nonexistent/home"};
        }) << "" << false << Since();
    }
    void launchSteps()
    {
        auto [arguments, prepare, window, started, cursor] =
            fetch<QStringList, Prepare, QString, bool, Since>("arguments", "prepare", "window", "started", "cursor");
        DelegateFixture f;
        prepare(f);
        ScopedEnv captures("CV_MAC_CAPTURE_DIR", "/nonexistent/captures");
        launch(f, arguments);
        QTest::qWait(50);
        const auto shown = f.delegate->visibleWindows();
        QCOMPARE(shown.isEmpty() ? QString() : shown.first() == f.delegate->mainWindow ? "main" : f.delegate->peerWindows.key(shown.first()),
                 window);
        QCOMPARE(AppModelAccess::polling(f.appModel()).has_value(), started);
        QCOMPARE(AppModelAccess::cursor(f.appModel()), cursor);
        // A demo status starts the capture run at once; a service's has not come yet.
        QCOMPARE(f.delegate->captureScheduled, arguments.contains("--demo"));
        if (f.delegate->mainWindow)
            QCOMPARE(f.delegate->mainWindow->menuBar()->actions().size(), 4);
        // Past the move offer: callbacks, categories; the service only without a
        // development mode.
        const bool moving = f.delegate->installing;
        QVERIFY(f.delegate->mainMenu);
        QCOMPARE(bool(f.appModel().stateChanged), !moving);
        QCOMPARE(f.model.notifications->categories().isEmpty(), moving);
        QCOMPARE(f.exits, moving ? QList<int>{0} : QList<int>{});
        if (!started && !moving) { // a development mode quits without the service
            f.delegate->requestQuit();
            QTRY_COMPARE(f.exits, QList<int>{0});
        }
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
};

QTEST_MAIN(ShellLaunchTest)
#include "tst_shell_launch.moc"

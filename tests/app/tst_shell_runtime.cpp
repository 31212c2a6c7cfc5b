// The login-item test and the development trace (the runtime's termination
// handshake runs in every quit test of the delegate).

#include "app/app_launch_intent.h"
#include "platform/development_log.h"
#include "../views/table.h"

#include <QTest>

using namespace cv;
using namespace cv::test;
using Event = std::optional<LaunchEvent>;

namespace {

constexpr quint32 aevt = fourCharCode("aevt"), oapp = fourCharCode("oapp"), lgit = fourCharCode("lgit");

} // namespace

class ShellRuntimeTest : public QObject {
    Q_OBJECT
private slots:
    void loginItemLaunch_data()
    {
        columns<Event, bool>("event", "loginItem");
        QTest::newRow("no event") << Event() << false;
        QTest::newRow("login item") << Event(LaunchEvent{aevt, aevt, oapp, lgit}) << true;
        QTest::newRow("other code") << Event(LaunchEvent{aevt, aevt, oapp, fourCharCode("xxxx")}) << false;
    }
    void loginItemLaunch()
    {
        auto [event, loginItem] = fetch<Event, bool>("event", "loginItem");
        QCOMPARE(AppLaunchIntent::isLoginItemLaunch(event), loginItem);
    }

    void autostartEntryLaunchIsALoginItemLaunch()
    {
        qputenv("CV_AUTOSTART", "1"); // read once per process, here first
        QVERIFY(AppLaunchIntent::isLoginItemLaunch(AppLaunchIntent::currentEvent()));
    }

    // Plain decimal notation with the fewest digits that read back.
    void developmentTrace()
    {
        QCOMPARE(developmentLine(42, 1765000000.25, "x"), "Development lifecycle pid=42 wall=1765000000.25 x\n");
        QCOMPARE(developmentLine(42, 1e21, "x"), "Development lifecycle pid=42 wall=1000000000000000000000 x\n");
    }
};

QTEST_MAIN(ShellRuntimeTest)
#include "tst_shell_runtime.moc"

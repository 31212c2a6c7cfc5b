// The move into an Applications folder (never offered on Linux, where there is no
// bundle), on temporary folders with a fake system and the stand-in service: the
// rules that decide it, stopping a running copy, and the disk image's ejection.

#include "../views/table.h"
#include "app/install_location.h"
#include "fake_clock.h"
#include "fake_install_system.h"
#include "fake_workspace.h"
#include "outcome.h"
#include "service/service_client.h"
#include "standin.h"
#include "test_files.h"

#include <QJsonDocument>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace cv;
using namespace cv::test;
using Looks = QMap<qint64, int>;

namespace {

// Whether something accepts connections on the socket at `path`.
bool listening(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(name.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool accepted = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return accepted;
}

} // namespace

class ShellInstallTest : public QObject {
    Q_OBJECT

    // A root with "sys/Applications" (the system folder), "home/Applications" (the
    // user folder) and "home/Downloads".
    QTemporaryDir root;
    FakeInstallSystem fake;
    std::unique_ptr<FakeClock> clock;

    QString at(const QString &relative) const { return root.filePath(relative); }
    // `runtime`: the service's runtime folder (default: one without a service).
    InstallLocation::Platform platform(QString runtime = {})
    {
        fake.trashFolder = at("Trash");
        runtime = runtime.isEmpty() ? at("run") : runtime;
        return {.system = &fake, .clock = clock.get(), .client = [runtime] { return std::make_unique<ServiceClient>(runtime); },
                .developmentOverridden = [] { return false; }, .activate = {},
                .systemFolder = at("sys/Applications"), .userFolder = at("home/Applications"), .processId = 1};
    }

private slots:
    void init()
    {
        fake = FakeInstallSystem();
        clock = std::make_unique<FakeClock>();
        for (const char *folder : {"sys/Applications/Utilities/Corvane.app", "sys/ApplicationsOld", "home/Applications",
                                   "home/Downloads/Corvane.app", "run"})
            QVERIFY(QDir().mkpath(at(folder)));
        QFile::link(at("sys/Applications/Utilities/Corvane.app"), at("home/Downloads/Shortcut.app"));
    }
    void cleanup() { QVERIFY(QDir(root.path()).removeRecursively()); }

    void shouldMove_data()
    {
        columns<QString, bool>("bundle", "expected");
        QTest::newRow("downloaded") << "home/Downloads/Corvane.app" << true;
        QTest::newRow("link into the folder") << "home/Downloads/Shortcut.app" << false;
        QTest::newRow("sibling folder") << "sys/ApplicationsOld/Corvane.app" << true;
    }
    void shouldMove()
    {
        auto [bundle, expected] = fetch<QString, bool>("bundle", "expected");
        fake.bundle = at(bundle);
        QCOMPARE(InstallLocation::shouldMove({"/x/corvane"}, platform()), expected);
    }

    // Both folders hold a copy: the system's one is replaced while it can be.
    void destination()
    {
        QVERIFY(writeFile(at("home/Applications/Corvane.app/Contents/MacOS/Corvane"), "user"));
        QVERIFY(writeFile(at("sys/Applications/Corvane.app/Contents/MacOS/Corvane"), "system"));
        QCOMPARE(InstallLocation::destination(platform()), std::optional(at("sys/Applications")));
        fake.unwritable << at("sys/Applications");
        QCOMPARE(InstallLocation::destination(platform()), std::nullopt);
    }

    // Only "Move to Applications" moves (here towards a folder that cannot take the
    // copy, so the move ends in its failure alert); "Quit" and no answer just quit.
    void offer_data()
    {
        columns<int, QStringList>("answer", "shown");
        const QString offer = "Move Corvane to Applications?";
        QTest::newRow("Move to Applications") << 0 << QStringList{offer, "Couldn’t move Corvane to Applications"};
        QTest::newRow("Quit") << 1 << QStringList{offer};
        QTest::newRow("no answer") << int(Alerts::noChoice) << QStringList{offer};
    }
    void offer()
    {
        auto [answer, shown] = fetch<int, QStringList>("answer", "shown");
        FakeAlerts alerts;
        alerts.answer = answer;
        fake.bundle = at("home/Downloads/Corvane.app");
        QVERIFY(writeFile(at("sys/Applications/Corvane.app/Contents/MacOS/Corvane"), "system"));
        fake.unwritable << at("sys/Applications");
        InstallLocation::Platform p = platform();
        p.alerts = &alerts;
        int finished = 0;
        InstallLocation::run([&finished] { ++finished; }, p);
        QTRY_COMPARE_WITH_TIMEOUT(finished, 1, 20000);
        QStringList messages;
        for (const Alert &alert : alerts.shown)
            messages << alert.message;
        QCOMPARE(messages, shown);
    }

    // Looks 0.2 s apart, for at most 40 s for another copy; a refused quit stops the move.
    void stopRunningCopy_data()
    {
        // others: pid to looks until it ends (-1: never); pid 1 is this process
        columns<QByteArray, Looks, bool, QString>("script", "others", "quits", "error");
        QTest::newRow("quit, then wait until unavailable") << QByteArray(R"({"ops":{"quit":{"reply":{"ok":true,"result":{}},"quit":true,"quit_delay":0.05}}})")
                                                           << Looks{} << true << "";
        QTest::newRow("quit refused") << QByteArray(R"({"ops":{"quit":{"reply":{"ok":false,"error":"Transfers are running."}}}})") << Looks{}
                                      << true << "Couldn’t stop sharing safely: Transfers are running.";
        QTest::newRow("other copy never ends") << QByteArray("{}") << Looks{{4242, -1}} << false << "Quit the Corvane that’s already open, then try again.";
    }
    void stopRunningCopy()
    {
        auto [script, others, quits, error] = fetch<QByteArray, Looks, bool, QString>("script", "others", "quits", "error");
        Standin service;
        service.setScript(QJsonDocument::fromJson(script).object());
        QVERIFY(service.start());
        fake.others = others;
        clock->setPumpDelay(quits ? 10 : 0); // a stopping service gets real time to go
        QCOMPARE(outcome(InstallLocation::stopRunningCopy(platform(service.runtimeDir()))).error.value_or(QString()), error);
        QCOMPARE(service.recorded().join().count(R"("op":"quit")"), int(quits));
        QCOMPARE(fake.terminated, others.keys().mid(others.contains(1) ? 1 : 0));
        for (const double pause : clock->sleeps())
            QCOMPARE(pause, 0.2);
        // The stand-in serves on for a moment after its answer to the quit: the call
        // returns only once it has gone, however soon a busy machine looked.
        if (error.isEmpty())
            QVERIFY(!listening(service.socketPath()));
        QVERIFY(error.startsWith("Couldn’t") || error.isEmpty() || clock->sleeps().size() >= 200u);
    }

    // The copy that was launched goes to the Trash; a disk image is ejected once this
    // process has ended, its path an argument of its own, quoted in the script.
    void cleanUpOriginal()
    {
        QVERIFY(writeFile(at("home/Applications/Corvane.app/Contents/MacOS/Corvane"), "installed"));
        fake.bundle = at("home/Downloads/Corvane.app");
        fake.volume = QStringLiteral("/Volumes/Corvane \"$(touch x)\"");
        for (const bool diskImage : {false, true}) {
            fake.diskImage = diskImage;
            InstallLocation::cleanUpOriginal(at("home/Applications/Corvane.app"), platform());
            QCOMPARE(fake.trashed, QStringList{at("home/Downloads/Corvane.app")});
            QCOMPARE(readFile(at("home/Applications/Corvane.app/Contents/MacOS/Corvane")), QByteArray("installed"));
            const QStringList detach = fake.detached.value(0);
            QCOMPARE(detach.value(detach.size() - 1), diskImage ? *fake.volume : QString());
            QVERIFY(!diskImage || (detach.value(2).startsWith("while kill -0 1 ") && detach.value(2).contains("detach \"$1\"")));
        }
    }
};

QTEST_MAIN(ShellInstallTest)
#include "tst_shell_install.moc"

// The move into an Applications folder, on temporary folders with a fake system and
// the stand-in service: the rules that decide it, and everything that could lose the
// user's copy or replace files under a running service.

#include "../views/table.h"
#include "app/install_location.h"
#include "fake_clock.h"
#include "fake_install_system.h"
#include "outcome.h"
#include "service/service_client.h"
#include "standin.h"
#include "test_files.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;
using namespace cv::test;
using Looks = QMap<qint64, int>;

namespace {

const QString retry = QStringLiteral("Quit the Corvane that’s already open, then try again.");

QJsonObject json(const char *text) { return QJsonDocument::fromJson(text).object(); }

// The request ops in order, repeats of one op in a row counted once.
QStringList opsOf(const QList<QByteArray> &lines)
{
    QStringList ops;
    for (const QByteArray &line : lines) {
        const QString op = QJsonDocument::fromJson(line).object().value("op").toString();
        if (ops.isEmpty() || ops.last() != op)
            ops << op;
    }
    return ops;
}

} // namespace

class ShellInstallTest : public QObject {
    Q_OBJECT

    // A root with "sys/Applications" (the system folder), "home/Applications" (the
    // user folder), "home/Downloads" and "bin".
    QTemporaryDir root;
    test::FakeInstallSystem fake;
    std::unique_ptr<test::FakeClock> clock;

    QString at(const QString &relative) const { return root.filePath(relative); }
    void makeBundle(const QString &relative, const QByteArray &content)
    {
        QVERIFY(test::writeFile(at(relative + "/Contents/MacOS/Corvane"), content));
        QVERIFY(QFile::link("MacOS/Corvane", at(relative + "/Contents/Link")));
    }
    // `runtime`: the service's runtime folder (default: one without a service).
    InstallLocation::Platform platform(QString runtime = {})
    {
        fake.trashFolder = at("Trash");
        runtime = runtime.isEmpty() ? at("run") : runtime;
        return {.system = &fake, .clock = clock.get(),
                .client = [runtime] { return std::make_unique<ServiceClient>(runtime); },
                .developmentOverridden = [] { return false; }, .activate = {},
                .systemFolder = at("sys/Applications"), .userFolder = at("home/Applications"), .processId = 1};
    }

private slots:
    void init()
    {
        QVERIFY(root.isValid());
        fake = test::FakeInstallSystem();
        clock = std::make_unique<test::FakeClock>();
        QVERIFY(test::writeFile(at("bin/corvane.app"), "ELF"));
        for (const char *folder : {"sys/Applications/Utilities/Corvane.app", "sys/ApplicationsOld", "home/Applications",
                                   "home/Downloads/Corvane.app", "bin", "run"})
            QVERIFY(QDir().mkpath(at(folder)));
        QFile::link(at("home"), at("homelink"));
        QFile::link(at("sys/Applications/Utilities/Corvane.app"), at("home/Downloads/Shortcut.app"));
    }
    void cleanup() { QVERIFY(QDir(root.path()).removeRecursively()); }

    void shouldMove_data()
    {
        columns<QString, QStringList, bool, QString, bool>("bundle", "arguments", "overridden", "userFolder", "expected");
        QTest::newRow("executable named like a bundle") << "bin/corvane.app" << QStringList{} << false << "" << false;
        QTest::newRow("downloaded") << "home/Downloads/Corvane.app" << QStringList{} << false << "" << true;
        QTest::newRow("render") << "home/Downloads/Corvane.app" << QStringList{"--render"} << false << "" << false;
        QTest::newRow("development service") << "home/Downloads/Corvane.app" << QStringList{} << true << "" << false;
        QTest::newRow("any depth") << "sys/Applications/Utilities/Corvane.app" << QStringList{} << false << "" << false;
        QTest::newRow("link into the folder") << "home/Downloads/Shortcut.app" << QStringList{} << false << "" << false;
        QTest::newRow("home through a link") << "home/Applications/Corvane.app" << QStringList{} << false << "homelink/Applications" << false;
        QTest::newRow("sibling folder") << "sys/ApplicationsOld/Corvane.app" << QStringList{} << false << "" << true;
    }
    void shouldMove()
    {
        auto [bundle, arguments, overridden, userFolder, expected] =
            fetch<QString, QStringList, bool, QString, bool>("bundle", "arguments", "overridden", "userFolder", "expected");
        fake.bundle = at(bundle);
        auto p = platform();
        p.developmentOverridden = [overriddenCopy = overridden] { return overriddenCopy; };
        if (!userFolder.isEmpty())
            p.userFolder = at(userFolder);
        QCOMPARE(InstallLocation::shouldMove(QStringList{"/x/corvane"} + arguments, p), expected);
    }

    void destination_data()
    {
        columns<bool, bool, bool, QString>("userHasCopy", "systemHasCopy", "systemWritable", "expected");
        QTest::newRow("user copy replaced where it is") << true << false << true << "home/Applications";
        QTest::newRow("both copies, system writable") << true << true << true << "sys/Applications";
        QTest::newRow("system copy not replaceable") << true << true << false << "";
        QTest::newRow("system folder not writable") << false << false << false << "home/Applications";
    }
    void destination()
    {
        auto [userHasCopy, systemHasCopy, systemWritable, expected] =
            fetch<bool, bool, bool, QString>("userHasCopy", "systemHasCopy", "systemWritable", "expected");
        if (userHasCopy)
            makeBundle("home/Applications/Corvane.app", "user");
        if (systemHasCopy)
            makeBundle("sys/Applications/Corvane.app", "system");
        if (!systemWritable)
            fake.unwritable << at("sys/Applications");
        QCOMPARE(InstallLocation::destination(platform()), expected.isEmpty() ? std::nullopt : std::optional(at(expected)));
    }

    void install_data()
    {
        // installed: the executable at the target afterwards
        columns<QString, QString, QByteArray, int>("failing", "error", "installed", "trashed");
        QTest::newRow("replaces the old copy") << "" << "" << QByteArray("new") << 1;
        QTest::newRow("copy fails") << "copy" << "No space left on device" << QByteArray("old") << 0;
        QTest::newRow("trash fails: old copy stays") << "trash" << "Permission denied" << QByteArray("old") << 0;
        QTest::newRow("move fails: old copy in the Trash") << "move" << "Invalid cross-device link" << QByteArray() << 1;
    }
    void install()
    {
        auto [failing, error, installed, trashed] = fetch<QString, QString, QByteArray, int>("failing", "error", "installed", "trashed");
        makeBundle("home/Downloads/Corvane.app", "new");
        fake.bundle = at("home/Downloads/Corvane.app");
        fake.failing = failing;
        const QString folder = at("dest/Applications");
        makeBundle("dest/Applications/Corvane.app", "old");

        const auto out = test::outcome(InstallLocation::install(folder, platform()));
        QCOMPARE(out.error.value_or(QString()).section(": ", -1), error);
        QCOMPARE(out.value.value_or(QString()), error.isEmpty() ? folder + "/Corvane.app" : QString());
        // No staging copy is ever left behind.
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 installed.isEmpty() ? QStringList{} : QStringList{"Corvane.app"});
        QCOMPARE(test::readFile(folder + "/Corvane.app/Contents/MacOS/Corvane"), installed);
        QCOMPARE(QFileInfo(folder + "/Corvane.app/Contents/Link").symLinkTarget().isEmpty(), installed.isEmpty());
        QCOMPARE(fake.trashed.size(), trashed);
        QCOMPARE(test::readFile(at("Trash/1/Contents/MacOS/Corvane")), trashed ? QByteArray("old") : QByteArray());
    }

    void stopRunningCopy_data()
    {
        // others: pid to looks until it ends (-1: never); pid 1 is this process
        columns<QJsonObject, Looks, QStringList, QString>("script", "others", "ops", "error");
        QTest::newRow("unavailable: no quit") << json(R"({"refuse":"not_listening"})") << Looks{} << QStringList{} << "";
        QTest::newRow("quit, then wait until unavailable")
            << json(R"({"ops":{"quit":{"reply":{"ok":true,"result":{}},"quit":true,"quit_delay":0.05}}})") << Looks{}
            << QStringList{"status", "quit", "status"} << "";
        QTest::newRow("quit refused") << json(R"({"ops":{"quit":{"reply":{"ok":false,"error":"Transfers are running."}}}})")
            << Looks{} << QStringList{"status", "quit"} << "Couldn’t stop sharing safely: Transfers are running.";
        QTest::newRow("other copy ends, not this one") << json(R"({"refuse":"not_listening"})") << Looks{{1, -1}, {4242, 3}}
            << QStringList{} << "";
        QTest::newRow("other copy never ends") << json("{}") << Looks{{4242, -1}} << QStringList{} << retry;
    }
    void stopRunningCopy()
    {
        auto [script, others, ops, error] = fetch<QJsonObject, Looks, QStringList, QString>("script", "others", "ops", "error");
        test::Standin service;
        service.setScript(script);
        QVERIFY(service.start());
        fake.others = others;
        clock->setPumpDelay(ops.contains("quit") ? 10 : 0); // a stopping service gets real time to go

        const auto out = test::outcome(InstallLocation::stopRunningCopy(platform(service.runtimeDir())));
        QCOMPARE(out.error.value_or(QString()), error);
        // While the stand-in is still winding down, the waiting may probe more than once,
        // and a probe cut short by its exit is recorded without its op.
        QStringList recorded = opsOf(service.recorded());
        while (recorded.size() > ops.size() && ops.endsWith("status")
               && (recorded.last() == "status" || recorded.last().isEmpty()))
            recorded.removeLast();
        QCOMPARE(recorded, ops);
        QCOMPARE(fake.terminated, others.keys().mid(others.contains(1) ? 1 : 0));
        for (const double pause : clock->sleeps()) // the looks come 0.2 s apart
            QCOMPARE(pause, 0.2);
        if (error == retry) // the wait ran out: 40 s for a copy
            QVERIFY(clock->sleeps().size() >= 200u);
    }

    void cleanUpOriginal_data()
    {
        // original: the real location when translocated
        columns<QString, QString, bool, QString>("bundle", "original", "diskImage", "trashed");
        QTest::newRow("downloaded copy") << "home/Downloads/Corvane.app" << "" << false << "home/Downloads/Corvane.app";
        QTest::newRow("link to the installed copy") << "home/Downloads/Installed.app" << "" << false << "";
        QTest::newRow("translocated") << "tmp/AppTranslocation/Corvane.app" << "home/Downloads/Corvane.app" << false
                                      << "home/Downloads/Corvane.app";
        QTest::newRow("disk image") << "home/Downloads/Corvane.app" << "" << true << "";
    }
    void cleanUpOriginal()
    {
        auto [bundle, original, diskImage, trashed] = fetch<QString, QString, bool, QString>("bundle", "original", "diskImage", "trashed");
        makeBundle("home/Applications/Corvane.app", "installed");
        QVERIFY(QFile::link(at("home/Applications/Corvane.app"), at("home/Downloads/Installed.app")));
        fake.bundle = at(bundle);
        if (!original.isEmpty())
            fake.original = at(original);
        fake.diskImage = diskImage;
        fake.volume = QStringLiteral("/Volumes/Corvane \"$(touch x)\"");

        InstallLocation::cleanUpOriginal(at("home/Applications/Corvane.app"), platform());
        QCOMPARE(fake.trashed, trashed.isEmpty() ? QStringList{} : QStringList{at(trashed)});
        QCOMPARE(test::readFile(at("home/Applications/Corvane.app/Contents/MacOS/Corvane")), QByteArray("installed"));
        // Once this process has ended; the volume path is an argument of its own,
        // quoted in the script, never part of it.
        QCOMPARE(fake.detached.size(), int(diskImage));
        if (diskImage) {
            const QStringList detach = fake.detached.first();
            QCOMPARE(detach.last(), *fake.volume);
            QVERIFY2(detach.value(2).startsWith("while kill -0 1 ") && detach.value(2).contains("detach \"$1\""), qPrintable(detach.value(2)));
        }
    }
};

QTEST_MAIN(ShellInstallTest)
#include "tst_shell_install.moc"

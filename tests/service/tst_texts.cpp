#include "fake_volume_names.h"
#include "localization/localization.h"
#include "platform/volume_names.h"
#include "service/records.h"

#include <QDir>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <cstdint>
#include <limits>
#include <optional>

using namespace cv;


namespace {

constexpr quint64 maxU64 = std::numeric_limits<std::uint64_t>::max();
const QString nbsp = QStringLiteral("\u00A0");

Transfer transfer(QString state, QString name, std::uint64_t delivered, std::optional<std::uint64_t> skipped = {},
                  std::optional<QString> error = {})
{
    return Transfer{.id = "0f3c9a7e5b1d4c2a8e6f0b9d7c5a3e1f", .peer = "peer-a1", .state = std::move(state),
                    .name = std::move(name), .bytes = 1000, .total_bytes = 1000, .delivered_items = delivered,
                    .delivered_files = {}, .error = std::move(error), .seconds = {}, .skipped = skipped};
}

CopyJob copy(QString state, QString direction, QStringList destinations)
{
    return CopyJob{.id = "c1", .peer = "peer-a1", .direction = std::move(direction), .name = "Project",
                   .destinations = std::move(destinations), .state = std::move(state), .bytes = 0,
                   .total_bytes = 0, .files = 0, .total_files = 0, .scanned = true, .bits_per_second = 0};
}

QList<CopyProblem> problems(int count)
{
    QList<CopyProblem> items;
    for (int i = 1; i <= count; ++i)
        items.append({QStringLiteral("/Volumes/Bo/Archive/file %1").arg(i), QStringLiteral("Permission denied")});
    return items;
}

} // namespace

class TestTexts : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { Localization::reset(); }

    void byteCounts_data();
    void byteCounts();
    void transferResult_data();
    void transferResult();
    void transferSummary_data();
    void transferSummary();
    void transferActive_data();
    void transferActive();
    void transferResultPresence();
    void copySummary_data();
    void copySummary();
    void copyResultAndSpeed();
    void skippedList_data();
    void skippedList();
    void problemText();
    void shareTexts_data();
    void shareTexts();
    void receiveFolderName();
    void linkSpeed();
    void sentenceJoin();
    void serviceMessagesAreTranslated();
    void volumeNames_data();
    void volumeNames();
    void systemVolumeNames();
};

void TestTexts::byteCounts_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("39.8 MB") << quint64(39845888) << "39.8 MB";
    QTest::newRow("104.9 MB") << quint64(104857600) << "104.9 MB";
    QTest::newRow("2.7 GB") << quint64(2700000000) << "2.7 GB";
    QTest::newRow("4.2 GB") << quint64(4200000000) << "4.2 GB";
    QTest::newRow("1.23 GB") << quint64(1234567890) << "1.23 GB";
    QTest::newRow("zero") << quint64(0) << "Zero KB";
    QTest::newRow("one byte") << quint64(1) << "1 byte";
    QTest::newRow("bytes") << quint64(999) << "999 bytes";
}

void TestTexts::byteCounts()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(Localization::byteCount(bytes), text);
}

void TestTexts::transferResult_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<quint64>("files");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");

    QTest::newRow("under a tenth") << quint64(39845888) << quint64(1) << 0.05
                                   << "39.8 MB in under 0.1" + nbsp + "s · 6.4" + nbsp + "Gb/s";
    QTest::newRow("exactly a tenth") << quint64(104857600) << quint64(0) << 0.1
                                     << "104.9 MB in 0.1" + nbsp + "s · 8.4" + nbsp + "Gb/s";
    QTest::newRow("9.96 shows 10.0") << quint64(2700000000) << quint64(0) << 9.96
                                     << "2.7 GB in 10.0" + nbsp + "s · 2.2" + nbsp + "Gb/s";
    QTest::newRow("exactly 10") << quint64(4200000000) << quint64(1) << 10.0
                                << "4.2 GB in 10" + nbsp + "s · 3.4" + nbsp + "Gb/s";
    QTest::newRow("12.5 rounds up") << quint64(1234567890) << quint64(1) << 12.5
                                    << "1.23 GB in 13" + nbsp + "s · 790" + nbsp + "Mb/s";
    QTest::newRow("10.49 rounds down") << quint64(1234567890) << quint64(0) << 10.49
                                       << "1.23 GB in 10" + nbsp + "s · 942" + nbsp + "Mb/s";
    QTest::newRow("two files, no speed") << quint64(1234567890) << quint64(2) << 12.5
                                         << "2 files, 1.23 GB in 13" + nbsp + "s";
    QTest::newRow("many files, decimal time") << quint64(1000) << quint64(3) << 2.5
                                              << "3 files, 1 KB in 2.5" + nbsp + "s";
    QTest::newRow("grouped seconds") << quint64(1000) << quint64(1234) << 12345.5
                                     << "1,234 files, 1 KB in 12,346" + nbsp + "s";
    QTest::newRow("file count clamped") << quint64(1) << maxU64 << 0.05
                                        << "9,223,372,036,854,775,807 files, 1 byte in under 0.1" + nbsp + "s";
    QTest::newRow("byte count clamped") << maxU64 << quint64(2) << 20.0
                                        << "2 files, " + Localization::byteCount(9223372036854775807ull)
                                               + " in 20" + nbsp + "s";
}

void TestTexts::transferResult()
{
    QFETCH(quint64, bytes);
    QFETCH(quint64, files);
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(cv::transferResult(bytes, files, seconds), text);
}

void TestTexts::transferSummary_data()
{
    QTest::addColumn<Transfer>("transfer");
    QTest::addColumn<QString>("text");

    QTest::newRow("sent one named") << transfer("completed", "Holiday.mov", 1) << "Sent Holiday.mov.";
    QTest::newRow("sent one unnamed") << transfer("completed", "", 1) << "Sent 1 item.";
    QTest::newRow("sent several") << transfer("completed", "Holiday.mov", 3) << "Sent 3 items.";
    QTest::newRow("sent with skipped") << transfer("completed", "Photos", 3, 2)
                                       << "Sent 3 items. Skipped 2 links and special files.";
    QTest::newRow("sent with one skipped") << transfer("completed", "Photos", 1, 1)
                                           << "Sent Photos. Skipped 1 link or special file.";
    QTest::newRow("sent with skipped zero") << transfer("completed", "Photos", 3, 0) << "Sent 3 items.";
    QTest::newRow("sent nothing") << transfer("completed", "Photos", 0) << "Sent 0 items.";
    QTest::newRow("sent grouped") << transfer("completed", "Photos", 12345) << "Sent 12,345 items.";
    QTest::newRow("cancelled early") << transfer("cancelled", "Photos", 0) << "Cancelled. Nothing was delivered.";
    QTest::newRow("cancelled after one") << transfer("cancelled", "Photos", 1)
                                         << "Cancelled. 1 item was already delivered.";
    QTest::newRow("cancelled after many") << transfer("cancelled", "Photos", maxU64)
                                          << "Cancelled. 9,223,372,036,854,775,807 items were already delivered.";
    QTest::newRow("failed without error") << transfer("failed", "Photos", 0) << "Couldn't send files.";
    QTest::newRow("failed without error, delivered") << transfer("failed", "Photos", 2)
                                                     << "Couldn't send files. 2 items were already delivered.";
    QTest::newRow("failed gets a full stop") << transfer("failed", "Photos", 0, {}, "The disk is full")
                                             << "The disk is full.";
    QTest::newRow("failed keeps full stop") << transfer("failed", "Photos", 0, {}, "The disk is full.")
                                            << "The disk is full.";
    QTest::newRow("failed keeps exclamation") << transfer("failed", "Photos", 0, {}, "Stopped!") << "Stopped!";
    QTest::newRow("failed keeps question") << transfer("failed", "Photos", 0, {}, "Gone?") << "Gone?";
    QTest::newRow("failed keeps ellipsis") << transfer("failed", "Photos", 0, {}, "Lost the link…")
                                           << "Lost the link…";
    QTest::newRow("failed keeps ideographic stop") << transfer("failed", "Photos", 0, {}, "失敗しました。")
                                                   << "失敗しました。";
    QTest::newRow("failed three dots count as a stop") << transfer("failed", "Photos", 0, {}, "Wait...")
                                                       << "Wait...";
    QTest::newRow("failed with quote at end") << transfer("failed", "Photos", 0, {}, "Couldn’t open “a”")
                                              << "Couldn’t open “a”.";
    QTest::newRow("failed empty error") << transfer("failed", "Photos", 0, {}, "") << ".";
    QTest::newRow("failed, delivered") << transfer("failed", "Photos", 1, {}, "Link lost")
                                       << "Link lost. 1 item was already delivered.";
    QTest::newRow("reconciling") << transfer("reconciling", "Photos", 0) << "Checking whether the files arrived…";
    QTest::newRow("verifying") << transfer("verifying", "Photos", 0) << "Verifying Photos…";
    QTest::newRow("preparing") << transfer("preparing", "Photos", 0) << "Preparing files…";
    QTest::newRow("sending") << transfer("sending", "Photos", 0) << "Sending Photos…";
    QTest::newRow("unknown state") << transfer("paused", "Photos", 4) << "Sending Photos…";
    QTest::newRow("state case matters") << transfer("Completed", "Photos", 1) << "Sending Photos…";
}

void TestTexts::transferSummary()
{
    QFETCH(Transfer, transfer);
    QFETCH(QString, text);
    QCOMPARE(transfer.summary(), text);
}

void TestTexts::transferActive_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("active");
    for (const char *s : {"preparing", "sending", "verifying", "reconciling"})
        QTest::newRow(s) << QString(s) << true;
    for (const char *s : {"completed", "cancelled", "failed", "paused", "Sending", ""})
        QTest::newRow(*s ? s : "empty") << QString(s) << false;
}

void TestTexts::transferActive()
{
    QFETCH(QString, state);
    QFETCH(bool, active);
    QCOMPARE(transfer(state, "x", 0).active(), active);
}

void TestTexts::transferResultPresence()
{
    Transfer t = transfer("completed", "Holiday.mov", 1);
    t.bytes = 39845888;
    QVERIFY(!t.result()); // no seconds
    t.seconds = 0.0;
    QVERIFY(!t.result());
    t.seconds = -1.0;
    QVERIFY(!t.result());
    t.seconds = 0.05;
    QCOMPARE(t.result(), cv::transferResult(39845888, 0, 0.05)); // files absent count as 0
    t.delivered_files = 5;
    QCOMPARE(t.result(), QString("5 files, 39.8 MB in under 0.1" + nbsp + "s"));
    t.bytes = 0;
    QVERIFY(!t.result());
    t.bytes = 10;
    for (const char *state : {"sending", "failed", "cancelled", "verifying"}) {
        t.state = state;
        QVERIFY2(!t.result(), state);
    }
}

void TestTexts::copySummary_data()
{
    QTest::addColumn<CopyJob>("job");
    QTest::addColumn<QString>("text");

    const QStringList downloads{"/Users/ana/Downloads/Project", "/Users/ana/Downloads/Notes.txt"};
    CopyJob skipped = copy("done", "pull", downloads);
    skipped.skipped = 2;
    CopyJob skippedZero = copy("done", "pull", downloads);
    skippedZero.skipped = 0;
    CopyJob failed = copy("failed", "pull", downloads);
    failed.error = "Permission denied";

    QTest::newRow("pulled into Downloads") << copy("done", "pull", downloads) << "Copied Project to Downloads.";
    QTest::newRow("pulled with skipped") << skipped << "Copied Project to Downloads. Skipped 2 items.";
    QTest::newRow("pulled with skipped zero") << skippedZero << "Copied Project to Downloads.";
    QTest::newRow("pulled with trailing slash") << copy("done", "pull", {"/Users/ana/Desktop/Project/"})
                                                << "Copied Project to Desktop.";
    QTest::newRow("pulled without destinations") << copy("done", "pull", {}) << "Copied Project to this Mac.";
    QTest::newRow("pushed") << copy("done", "push", {"/Volumes/Bo/Archive/Project"})
                            << "Copied Project to the other computer.";
    QTest::newRow("direction case matters") << copy("done", "Pull", downloads)
                                            << "Copied Project to the other computer.";
    QTest::newRow("cancelled") << copy("cancelled", "pull", downloads)
                               << "Copy of Project cancelled. Nothing was left half-copied.";
    QTest::newRow("failed") << failed << "Couldn't copy Project: Permission denied";
    QTest::newRow("failed without error") << copy("failed", "push", {}) << "Couldn't copy Project: unknown error";
    QTest::newRow("copying into Downloads") << copy("copying", "pull", downloads) << "Copying Project to Downloads…";
    QTest::newRow("copying to this Mac") << copy("copying", "pull", {}) << "Copying Project to this Mac…";
    QTest::newRow("copying away") << copy("copying", "push", downloads) << "Copying Project to the other computer…";
    QTest::newRow("unknown state") << copy("queued", "pull", downloads) << "Copying Project to Downloads…";
}

void TestTexts::copySummary()
{
    QFETCH(CopyJob, job);
    QFETCH(QString, text);
    QCOMPARE(job.summary(), text);
    QCOMPARE(job.active(), job.state == "copying");
    QCOMPARE(job.pulled(), job.direction == "pull");
}

void TestTexts::copyResultAndSpeed()
{
    CopyJob job = copy("done", "pull", {"/Users/ana/Downloads/Project"});
    job.bytes = 2700000000;
    job.files = 3;
    job.bits_per_second = 8000000000;
    QCOMPARE(job.result(), QString("3 files, 2.7 GB in 2.7" + nbsp + "s"));
    QCOMPARE(job.speed(), QString("8.0" + nbsp + "Gb/s"));
    job.files = 1;
    QCOMPARE(job.result(), QString("2.7 GB in 2.7" + nbsp + "s · 8.0" + nbsp + "Gb/s"));
    job.bits_per_second = 0;
    QVERIFY(!job.result());
    QCOMPARE(job.speed(), QString("0" + nbsp + "Mb/s"));
    job.bits_per_second = 480000000;
    QCOMPARE(job.speed(), QString("480" + nbsp + "Mb/s"));
    job.bytes = 0;
    QVERIFY(!job.result());
    job.bytes = 10;
    job.state = "copying";
    QVERIFY(!job.result());
}

void TestTexts::skippedList_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("ellipsis");
    QTest::newRow("one") << 1 << 1 << false;
    QTest::newRow("twenty") << 20 << 20 << false;
    QTest::newRow("twenty-one") << 21 << 21 << true;
    QTest::newRow("hundred") << 100 << 21 << true;
}

void TestTexts::skippedList()
{
    QFETCH(int, count);
    QFETCH(int, lines);
    QFETCH(bool, ellipsis);

    CopyJob job = copy("done", "pull", {});
    job.skipped_items = problems(count);
    const std::optional<QString> list = job.skippedList();
    QVERIFY(list);
    QVERIFY(!list->endsWith('\n'));
    const QStringList split = list->split('\n');
    QCOMPARE(split.size(), lines);
    QCOMPARE(split.first(), QString("/Volumes/Bo/Archive/file 1: Permission denied"));
    QCOMPARE(split.last() == QString("…"), ellipsis);
    if (ellipsis)
        QCOMPARE(split.at(19), QString("/Volumes/Bo/Archive/file 20: Permission denied"));
}

void TestTexts::problemText()
{
    CopyJob job = copy("copying", "pull", {});
    QVERIFY(!job.problemText());
    job.skipped_items = QList<CopyProblem>{};
    QVERIFY(!job.skippedList()); // present but empty
    QCOMPARE(job.skippedNote(), QString());
    job.problem = CopyProblem{"/Volumes/Bo/Archive/old.db", "Input/output error"};
    QCOMPARE(job.problemText(), QString("Couldn't read /Volumes/Bo/Archive/old.db: Input/output error."));
    job.skipped = 1;
    QCOMPARE(job.skippedNote(), QString("Skipped 1 item."));
    job.skipped = maxU64;
    QCOMPARE(job.skippedNote(), QString("Skipped 9,223,372,036,854,775,807 items."));
}

void TestTexts::shareTexts_data()
{
    QTest::addColumn<Share>("share");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("summary");

    using L = Share::Location;
    QTest::newRow("two drives")
        << Share{.mode = "drive", .locations = QList<L>{{"/"}, {"/Volumes/Photos"}}} << false
        << "Startup and Photos" << "Sharing Startup and Photos · can make changes";
    QTest::newRow("three drives read-only")
        << Share{.mode = "drive", .access = "read_only",
                 .locations = QList<L>{{"/System/Volumes/Data"}, {"/Volumes/Photos"}, {"/media/ana/NO LABEL"}}}
        << true << "Startup, Photos and NO LABEL" << "Sharing Startup, Photos and NO LABEL · read-only";
    QTest::newRow("one drive in locations") << Share{.mode = "drive", .locations = QList<L>{{"/Volumes/Photos"}}}
                                            << false << "a folder" << "Sharing a folder · can make changes";
    QTest::newRow("drive by location") << Share{.mode = "drive", .location = L{"/"}, .access = "read_write"}
                                       << false << "Startup" << "Sharing Startup · can make changes";
    QTest::newRow("empty locations hide location")
        << Share{.mode = "drive", .location = L{"/"}, .locations = QList<L>{}} << false << "Startup"
        << "Sharing Startup · can make changes";
    QTest::newRow("folder") << Share{.mode = "folder", .location = L{"/Users/ana/Shared"}} << false << "Shared"
                            << "Sharing Shared · can make changes";
    QTest::newRow("folder read-only") << Share{.mode = "folder", .location = L{"/Users/ana/Shared"}, .access = "read_only"}
                                      << true << "Shared" << "Sharing Shared · read-only";
    QTest::newRow("folder other access") << Share{.mode = "folder", .location = L{"/Users/ana/Shared"}, .access = "READ_ONLY"}
                                         << false << "Shared" << "Sharing Shared · can make changes";
    QTest::newRow("folder without location") << Share{.mode = "folder"} << false << "a folder"
                                             << "Sharing a folder · can make changes";
    QTest::newRow("receive") << Share{.mode = "receive", .folder = L{"/Users/ana/In"}} << false << "Receive only"
                             << "Receive only";
    QTest::newRow("none") << Share::none() << false << "nothing" << "Not sharing anything";
    QTest::newRow("unknown mode") << Share{.mode = "mirror", .location = L{"/x"}} << false << "nothing"
                                  << "Not sharing anything";
}

void TestTexts::shareTexts()
{
    QFETCH(Share, share);
    QFETCH(bool, readOnly);
    QFETCH(QString, target);
    QFETCH(QString, summary);

    test::FakeVolumeNames names;
    names.startup = "Startup";
    names.labels.insert("/Volumes/Photos", "Photos");
    QCOMPARE(share.readOnly(), readOnly);
    QCOMPARE(share.target(), target);
    QCOMPARE(share.summary(), summary);
}

void TestTexts::receiveFolderName()
{
    test::FakeVolumeNames names;
    names.labels.insert("/media/ana/STICK", "Ana’s Stick");
    using L = Share::Location;
    QCOMPARE((Share{.mode = "receive", .folder = L{"/home/ana/Incoming"}}).receiveFolderName(), QString("Incoming"));
    QCOMPARE((Share{.mode = "receive", .folder = L{"/media/ana/STICK"}}).receiveFolderName(), QString("Ana’s Stick"));
    QCOMPARE((Share{.mode = "receive"}).receiveFolderName(), QString("Downloads"));
    QCOMPARE((Share{.mode = "folder", .folder = L{"/home/ana/Incoming"}}).receiveFolderName(), QString("Downloads"));
}

void TestTexts::linkSpeed()
{
    const LinkSpeed fast{40000000000, 38000000000};
    QCOMPARE(fast.summary(), QString("38.0" + nbsp + "Gb/s"));
    QCOMPARE(fast.detail(), QString("Sending 40.0" + nbsp + "Gb/s · Receiving 38.0" + nbsp + "Gb/s"));
    QCOMPARE((LinkSpeed{480000000, 40000000000}).summary(), QString("480" + nbsp + "Mb/s"));
    QCOMPARE(LinkSpeed::format(1000000000), QString("1.0" + nbsp + "Gb/s"));
    QCOMPARE(LinkSpeed::format(maxU64), QString("18,446,744,073.7" + nbsp + "Gb/s"));
}

void TestTexts::sentenceJoin()
{
    QCOMPARE(sentence("Sent 3 items.", ""), QString("Sent 3 items."));
    QCOMPARE(sentence("Sent 3 items.", "Skipped 1 item."), QString("Sent 3 items. Skipped 1 item."));
    QCOMPARE(sentence("", "Skipped 1 item."), QString(" Skipped 1 item."));
}

void TestTexts::serviceMessagesAreTranslated()
{
    // Service messages pass through the template translation; the joining text and
    // the application's own texts come from the catalog by their exact English key.
    Localization::install("de", QJsonObject{
        {"Disk full on {volume}", "Datenträger {volume} ist voll"},
        {"Permission denied", "Zugriff verweigert"},
        {"{sentence} {note}", "{note} — {sentence}"},
        {"Couldn't copy {name}: {reason}", "{name} konnte nicht kopiert werden: {reason}"},
        {"Couldn't read {path}: {reason}.", "{path} ist nicht lesbar: {reason}."},
        {"{seconds}\u00A0s", "{seconds}\u00A0Sek."},
    });
    QCOMPARE(transfer("failed", "Photos", 0, {}, "Disk full on Bo").summary(), QString("Datenträger Bo ist voll."));
    QCOMPARE(sentence("A.", "B."), QString("B. — A."));

    CopyJob job = copy("failed", "pull", {});
    job.error = "Permission denied";
    QCOMPARE(job.summary(), QString("Project konnte nicht kopiert werden: Zugriff verweigert"));
    job.problem = CopyProblem{"/a", "Permission denied"};
    QCOMPARE(job.problemText(), QString("/a ist nicht lesbar: Zugriff verweigert."));
    job.skipped_items = QList<CopyProblem>{{"/b", "Permission denied"}, {"/c", "Disk full on X"}};
    QCOMPARE(job.skippedList(), QString("/b: Zugriff verweigert\n/c: Datenträger X ist voll"));
    QCOMPARE(cv::transferResult(1000, 2, 12.0), QString("2 files, 1 KB in 12" + nbsp + "Sek."));
}

void TestTexts::volumeNames_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::newRow("startup") << "/" << "Startup" << "/";
    QTest::newRow("data volume") << "/System/Volumes/Data" << "Startup" << "/System/Volumes";
    QTest::newRow("volume root") << "/media/ana/PHOTOS" << "Photos 2024" << "/media/ana";
    QTest::newRow("volume root with slash") << "/media/ana/PHOTOS/" << "Photos 2024" << "/media/ana";
    QTest::newRow("folder on a volume") << "/media/ana/PHOTOS/Trips" << "Trips" << "/media/ana/PHOTOS";
    QTest::newRow("home folder") << "/home/ana/Shared" << "Shared" << "/home/ana";
    QTest::newRow("trailing slash") << "/home/ana/Shared/" << "Shared" << "/home/ana";
    QTest::newRow("top level") << "/srv" << "srv" << "/";
    QTest::newRow("relative") << "Shared" << "Shared" << "";
    QTest::newRow("empty") << "" << "" << "";
}

void TestTexts::volumeNames()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QFETCH(QString, parent);

    test::FakeVolumeNames names;
    names.startup = "Startup";
    names.labels.insert("/media/ana/PHOTOS", "Photos 2024");
    QCOMPARE(VolumeNames::current().displayName(path), name);
    QCOMPARE(VolumeNames::withoutLastComponent(path), parent);
}

void TestTexts::systemVolumeNames()
{
    // Without a substitute the system's volumes answer.
    const VolumeNames &system = VolumeNames::current();
    QVERIFY(!system.startupName().isEmpty());
    QCOMPARE(system.displayName("/"), system.startupName());
    QCOMPARE(system.displayName("/System/Volumes/Data"), system.startupName());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath("Shared Stuff"));
    QCOMPARE(system.displayName(dir.path() + "/Shared Stuff"), QString("Shared Stuff"));
    QCOMPARE(system.displayName("/no/such/folder/Zoë"), QString("Zoë"));
}

QTEST_GUILESS_MAIN(TestTexts)
#include "tst_texts.moc"

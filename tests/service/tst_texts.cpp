#include "fake_volume_names.h"
#include "localization/localization.h"
#include "service/records.h"

#include <QJsonObject>
#include <QTest>

#include <cstdint>
#include <limits>
#include <optional>

using namespace cv;

namespace {

constexpr quint64 maxU64 = std::numeric_limits<std::uint64_t>::max();
const QString nbsp = QStringLiteral("\u00A0");

Transfer transfer(QString state, std::uint64_t delivered, std::optional<QString> error = {},
                  std::optional<std::uint64_t> skipped = {}, QString name = "Photos")
{
    return Transfer{.id = "t1", .peer = "peer-a1", .state = std::move(state), .name = std::move(name), .bytes = 1000,
                    .total_bytes = 1000, .delivered_items = delivered, .error = std::move(error), .skipped = skipped};
}

CopyJob copy(QString state, QString direction, QStringList destinations = {}, std::optional<std::uint64_t> skipped = {},
             std::optional<QString> error = {})
{
    return CopyJob{.id = "c1", .peer = "peer-a1", .direction = std::move(direction), .name = "Project",
                   .destinations = std::move(destinations), .state = std::move(state), .bytes = 0, .total_bytes = 0,
                   .files = 0, .total_files = 0, .scanned = true, .bits_per_second = 0, .error = std::move(error),
                   .skipped = skipped};
}

} // namespace

class TestTexts : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { Localization::reset(); }

    void byteCounts()
    {
        // The sizes the views show most; the formatter's own rules are tested with it.
        const QList<std::pair<quint64, QString>> known{
            {39845888, "39.8 MB"}, {104857600, "104.9 MB"}, {2700000000, "2.7 GB"}, {4200000000, "4.2 GB"}, {1234567890, "1.23 GB"}};
        for (const auto &[bytes, text] : known)
            QCOMPARE(Localization::byteCount(bytes), text);
    }

    void transferResult_data()
    {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<quint64>("files");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");

        const auto row = [](const char *name, quint64 bytes, quint64 files, double seconds, const QString &text) {
            QTest::newRow(name) << bytes << files << seconds << QString(text).replace('_', nbsp);
        };
        row("under a tenth", 39845888, 1, 0.05, "39.8 MB in under 0.1_s · 6.4_Gb/s");
        row("exactly a tenth", 104857600, 0, 0.1, "104.9 MB in 0.1_s · 8.4_Gb/s");
        row("9.96 shows 10.0", 2700000000, 0, 9.96, "2.7 GB in 10.0_s · 2.2_Gb/s");
        row("exactly 10", 4200000000, 1, 10.0, "4.2 GB in 10_s · 3.4_Gb/s");
        row("12.5 rounds up", 1234567890, 1, 12.5, "1.23 GB in 13_s · 790_Mb/s");
        row("10.49 rounds down", 1234567890, 0, 10.49, "1.23 GB in 10_s · 942_Mb/s");
        row("two files, no speed", 1234567890, 2, 12.5, "2 files, 1.23 GB in 13_s");
        row("grouped seconds", 1000, 1234, 12345.5, "1,234 files, 1 KB in 12,346_s");
        row("file count clamped", 1, maxU64, 0.05, "9,223,372,036,854,775,807 files, 1 byte in under 0.1_s");
    }

    void transferResult()
    {
        QFETCH(quint64, bytes);
        QFETCH(quint64, files);
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(cv::transferResult(bytes, files, seconds), text);
    }

    void transferSummary_data()
    {
        QTest::addColumn<Transfer>("transfer");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("active");

        QTest::newRow("sent one named") << transfer("completed", 1, {}, {}, "Holiday.mov") << "Sent Holiday.mov." << false;
        QTest::newRow("sent one unnamed") << transfer("completed", 1, {}, {}, "") << "Sent 1 item." << false;
        QTest::newRow("sent with skipped") << transfer("completed", 3, {}, 2)
                                           << "Sent 3 items. Skipped 2 links and special files." << false;
        QTest::newRow("sent with one skipped") << transfer("completed", 1, {}, 1)
                                               << "Sent Photos. Skipped 1 link or special file." << false;
        QTest::newRow("sent with skipped zero") << transfer("completed", 3, {}, 0) << "Sent 3 items." << false;
        QTest::newRow("cancelled early") << transfer("cancelled", 0) << "Cancelled. Nothing was delivered." << false;
        QTest::newRow("cancelled after many")
            << transfer("cancelled", maxU64) << "Cancelled. 9,223,372,036,854,775,807 items were already delivered." << false;
        // A failure shows the service's reason as a sentence; the fallback keeps its plain apostrophe.
        QTest::newRow("failed without error") << transfer("failed", 0) << "Couldn't send files." << false;
        QTest::newRow("failed gets a full stop") << transfer("failed", 0, "The disk is full") << "The disk is full." << false;
        QTest::newRow("failed, delivered") << transfer("failed", 1, "Link lost") << "Link lost. 1 item was already delivered."
                                           << false;
        for (const char *ended : {"The disk is full.", "Stopped!", "Gone?", "Lost the link…", "失敗しました。"})
            QTest::newRow(ended) << transfer("failed", 0, QString(ended)) << QString(ended) << false;
        QTest::newRow("reconciling") << transfer("reconciling", 0) << "Checking whether the files arrived…" << true;
        QTest::newRow("verifying") << transfer("verifying", 0) << "Verifying Photos…" << true;
        QTest::newRow("preparing") << transfer("preparing", 0) << "Preparing files…" << true;
        QTest::newRow("sending") << transfer("sending", 0) << "Sending Photos…" << true;
        QTest::newRow("unknown state") << transfer("paused", 4) << "Sending Photos…" << false;
    }

    void transferSummary()
    {
        QFETCH(Transfer, transfer);
        QFETCH(QString, text);
        QFETCH(bool, active);
        QCOMPARE(transfer.summary(), text);
        QCOMPARE(transfer.active(), active);
    }

    void transferResultPresence()
    {
        Transfer t = transfer("completed", 1);
        t.bytes = 39845888;
        QVERIFY(!t.result()); // no seconds
        for (double seconds : {0.0, -1.0}) {
            t.seconds = seconds;
            QVERIFY(!t.result());
        }
        t.seconds = 0.05;
        QCOMPARE(t.result(), cv::transferResult(39845888, 0, 0.05)); // files absent count as 0
        t.delivered_files = 5;
        QCOMPARE(t.result(), QString("5 files, 39.8 MB in under 0.1" + nbsp + "s"));
        t.bytes = 0;
        QVERIFY(!t.result());
        t.bytes = 10;
        t.state = "verifying";
        QVERIFY(!t.result());
    }

    void copySummary_data()
    {
        QTest::addColumn<CopyJob>("job");
        QTest::addColumn<QString>("text");

        const QStringList downloads{"/Users/ana/Downloads/Project", "/Users/ana/Downloads/Notes.txt"};
        QTest::newRow("pulled into Downloads") << copy("done", "pull", downloads) << "Copied Project to Downloads.";
        QTest::newRow("pulled with skipped") << copy("done", "pull", downloads, 2) << "Copied Project to Downloads. Skipped 2 items.";
        QTest::newRow("pulled with skipped zero") << copy("done", "pull", downloads, 0) << "Copied Project to Downloads.";
        QTest::newRow("pulled with trailing slash") << copy("done", "pull", {"/Users/ana/Desktop/Project/"})
                                                    << "Copied Project to Desktop.";
        QTest::newRow("pulled without destinations") << copy("done", "pull") << "Copied Project to this Mac.";
        QTest::newRow("pushed") << copy("done", "push", downloads) << "Copied Project to the other computer.";
        QTest::newRow("cancelled") << copy("cancelled", "pull", downloads)
                                   << "Copy of Project cancelled. Nothing was left half-copied.";
        QTest::newRow("failed") << copy("failed", "pull", downloads, {}, "Permission denied") << "Couldn't copy Project: Permission denied";
        QTest::newRow("failed without error") << copy("failed", "push") << "Couldn't copy Project: unknown error";
        QTest::newRow("copying into Downloads") << copy("copying", "pull", downloads) << "Copying Project to Downloads…";
        QTest::newRow("copying to this Mac") << copy("copying", "pull") << "Copying Project to this Mac…";
        QTest::newRow("copying away") << copy("copying", "push", downloads) << "Copying Project to the other computer…";
        QTest::newRow("unknown state") << copy("queued", "pull", downloads) << "Copying Project to Downloads…";
    }

    void copySummary()
    {
        QFETCH(CopyJob, job);
        QFETCH(QString, text);
        QCOMPARE(job.summary(), text);
    }

    void copyResultAndSpeed()
    {
        CopyJob job = copy("done", "pull");
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
        job.bytes = 0;
        QVERIFY(!job.result());
        job.bytes = 10;
        job.state = "copying";
        QVERIFY(!job.result());
    }

    void skippedList_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("lines");
        QTest::newRow("one") << 1 << 1;
        QTest::newRow("twenty") << 20 << 20;
        QTest::newRow("twenty-one") << 21 << 21;
        QTest::newRow("hundred") << 100 << 21;
    }

    void skippedList()
    {
        QFETCH(int, count);
        QFETCH(int, lines);

        CopyJob job = copy("done", "pull");
        job.skipped_items.emplace();
        for (int i = 1; i <= count; ++i)
            job.skipped_items->append({QStringLiteral("/Bo/file %1").arg(i), QStringLiteral("Permission denied")});
        const QStringList split = job.skippedList().value_or("<absent>").split('\n');
        QCOMPARE(split.size(), lines);
        QCOMPARE(split.first(), QString("/Bo/file 1: Permission denied"));
        QCOMPARE(split.last(), count > 20 ? QString("…") : QStringLiteral("/Bo/file %1: Permission denied").arg(count));
    }

    void problemText()
    {
        CopyJob job = copy("copying", "pull");
        QVERIFY(!job.problemText());
        job.skipped_items = QList<CopyProblem>{};
        QVERIFY(!job.skippedList()); // present but empty
        QCOMPARE(job.skippedNote(), QString());
        job.problem = CopyProblem{"/Volumes/Bo/Archive/old.db", "Input/output error"};
        QCOMPARE(job.problemText(), QString("Couldn't read /Volumes/Bo/Archive/old.db: Input/output error."));
        job.skipped = maxU64;
        QCOMPARE(job.skippedNote(), QString("Skipped 9,223,372,036,854,775,807 items."));
    }

    void shareTexts_data()
    {
        QTest::addColumn<Share>("share");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("receiveFolderName");

        using L = Share::Location;
        QTest::newRow("two drives") << Share{.mode = "drive", .locations = QList<L>{{"/"}, {"/Volumes/Photos"}}} << false
                                    << "Startup and Photos" << "Sharing Startup and Photos · can make changes"
                                    << "Downloads";
        QTest::newRow("one drive in locations") << Share{.mode = "drive", .locations = QList<L>{{"/Volumes/Photos"}}}
                                                << false << "a folder" << "Sharing a folder · can make changes"
                                                << "Downloads";
        QTest::newRow("drive by location") << Share{.mode = "drive", .location = L{"/System/Volumes/Data"}} << false
                                           << "Startup" << "Sharing Startup · can make changes" << "Downloads";
        QTest::newRow("folder read-only")
            << Share{.mode = "folder", .location = L{"/Users/ana/Shared"}, .access = "read_only", .folder = L{"/in"}}
            << true << "Shared" << "Sharing Shared · read-only" << "Downloads";
        QTest::newRow("folder without location") << Share{.mode = "folder", .access = "read_write"} << false
                                                 << "a folder" << "Sharing a folder · can make changes" << "Downloads";
        QTest::newRow("receive") << Share{.mode = "receive", .folder = L{"/Users/ana/In"}} << false << "Receive only"
                                 << "Receive only" << "In";
        QTest::newRow("receive onto a volume") << Share{.mode = "receive", .folder = L{"/Volumes/Photos"}} << false
                                               << "Receive only" << "Receive only" << "Photos";
        QTest::newRow("receive without folder") << Share{.mode = "receive"} << false << "Receive only" << "Receive only"
                                                << "Downloads";
        QTest::newRow("none") << Share::none() << false << "nothing" << "Not sharing anything" << "Downloads";
        QTest::newRow("unknown mode") << Share{.mode = "mirror", .location = L{"/x"}} << false << "nothing"
                                      << "Not sharing anything" << "Downloads";
    }

    void shareTexts()
    {
        QFETCH(Share, share);
        QFETCH(bool, readOnly);
        QFETCH(QString, target);
        QFETCH(QString, summary);
        QFETCH(QString, receiveFolderName);

        test::FakeVolumeNames names;
        names.startup = "Startup";
        names.labels.insert("/Volumes/Photos", "Photos");
        QCOMPARE(share.readOnly(), readOnly);
        QCOMPARE(share.target(), target);
        QCOMPARE(share.summary(), summary);
        QCOMPARE(share.receiveFolderName(), receiveFolderName);
    }

    void linkSpeed()
    {
        const LinkSpeed fast{40000000000, 38000000000};
        QCOMPARE(fast.summary(), QString("38.0" + nbsp + "Gb/s"));
        QCOMPARE(fast.detail(), QString("Sending 40.0" + nbsp + "Gb/s · Receiving 38.0" + nbsp + "Gb/s"));
        QCOMPARE((LinkSpeed{480000000, 40000000000}).summary(), QString("480" + nbsp + "Mb/s"));
        QCOMPARE(LinkSpeed::format(maxU64), QString("18,446,744,073.7" + nbsp + "Gb/s"));
    }

    void serviceMessagesAreTranslated()
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
        QCOMPARE(transfer("failed", 0, "Disk full on Bo").summary(), QString("Datenträger Bo ist voll."));
        QCOMPARE(sentence("A.", "B."), QString("B. — A."));

        CopyJob job = copy("failed", "pull");
        job.error = "Permission denied";
        QCOMPARE(job.summary(), QString("Project konnte nicht kopiert werden: Zugriff verweigert"));
        job.problem = CopyProblem{"/a", "Permission denied"};
        QCOMPARE(job.problemText(), QString("/a ist nicht lesbar: Zugriff verweigert."));
        job.skipped_items = QList<CopyProblem>{{"/b", "Permission denied"}, {"/c", "Disk full on X"}};
        QCOMPARE(job.skippedList(), QString("/b: Zugriff verweigert\n/c: Datenträger X ist voll"));
        QCOMPARE(cv::transferResult(1000, 2, 12.0), QString("2 files, 1 KB in 12" + nbsp + "Sek."));
    }
};

QTEST_GUILESS_MAIN(TestTexts)
#include "tst_texts.moc"

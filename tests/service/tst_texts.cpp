// What the user sees of the records: transfer, copy, share and link texts.
#include "fake_volume_names.h"
#include "../views/table.h"
#include "localization/localization.h"
#include "service/records.h"

#include <QTest>


using namespace cv;
using namespace cv::test;

namespace {

using Text = std::function<QString()>;

// "_" stands for a no-break space.
QString nb(QString text) { return text.replace('_', QChar(0xA0)); }

Transfer transfer(QString state, std::uint64_t delivered, std::optional<QString> error = {},
                  std::optional<std::uint64_t> skipped = {}, QString name = "Photos")
{
    return Transfer{.id = "t1", .peer = "p", .state = std::move(state), .name = std::move(name), .bytes = 1000,
                    .total_bytes = 1000, .delivered_items = delivered, .error = std::move(error), .skipped = skipped};
}

CopyJob copy(QString state, QString direction, QStringList destinations = {}, std::optional<std::uint64_t> skipped = {},
             std::optional<QString> error = {})
{
    return CopyJob{.id = "c1", .peer = "p", .direction = std::move(direction), .name = "Project",
                   .destinations = std::move(destinations), .state = std::move(state), .bytes = 0, .total_bytes = 0,
                   .files = 0, .total_files = 0, .scanned = true, .bits_per_second = 0, .error = std::move(error),
                   .skipped = skipped};
}

// A transfer's summary, marked when the transfer counts as active.
Text summary(Transfer t) { return [t] { return t.summary() + (t.active() ? " [active]" : ""); }; }
Text summary(CopyJob c) { return [c] { return c.summary(); }; }
Text result(quint64 bytes, quint64 files, double seconds) { return [=] { return transferResult(bytes, files, seconds); }; }
Text shareTexts(Share s) { return [s] { return s.target() + " | " + s.summary() + " | " + s.receiveFolderName(); }; }

// The skipped list of a copy with `count` problems: its line count and last line.
Text skipped(int count)
{
    return [count] {
        CopyJob job = copy("done", "pull");
        job.skipped_items.emplace();
        for (int i = 1; i <= count; ++i)
            job.skipped_items->append({QStringLiteral("/f%1").arg(i), QStringLiteral("Permission denied")});
        const QStringList lines = job.skippedList().value_or("<absent>").split('\n');
        return QString::number(lines.size()) + " " + lines.last();
    };
}

} // namespace

class TestTexts : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { Localization::reset(); }

    void texts_data()
    {
        columns<Text, QString>("text", "expected");
        QTest::newRow("a tenth") << result(104857600, 0, 0.1) << nb("104.9 MB in 0.1_s · 8.4_Gb/s");
        // A result only for a finished transfer or copy with its time.
        QTest::newRow("transfer result") << Text([] {
            Transfer t = transfer("completed", 1);
            const bool none = !t.result();
            std::tie(t.seconds, t.delivered_files) = std::tuple(0.05, 5ull);
            return QString(none ? "" : "early ") + t.result().value_or("-");
        }) << nb("5 files, 1 KB in under 0.1_s");
        QTest::newRow("copy result") << Text([] {
            CopyJob job = copy("done", "pull");
            std::tie(job.bytes, job.files, job.bits_per_second) = std::tuple(2700000000ull, 1ull, 8000000000ull);
            const QString done = job.result().value_or("-");
            job.state = "copying";
            return done + (job.result() ? " copying" : "");
        }) << nb("2.7 GB in 2.7_s · 8.0_Gb/s");
        QTest::newRow("sent one named") << summary(transfer("completed", 1, {}, 0, "Holiday.mov")) << "Sent Holiday.mov.";
        QTest::newRow("sent, skipped") << summary(transfer("completed", 3, {}, 2)) << "Sent 3 items. Skipped 2 links and special files.";
        QTest::newRow("failed, delivered") << summary(transfer("failed", 1, "Link lost")) << "Link lost. 1 item was already delivered.";
        QTest::newRow("failed, ending in …") << summary(transfer("failed", 0, QString("Lost the link…"))) << "Lost the link…";
        QTest::newRow("verifying") << summary(transfer("verifying", 0)) << "Verifying Photos… [active]";
        const QStringList downloads{"/Users/ana/Downloads/Project", "/Users/ana/Downloads/Notes.txt"};
        QTest::newRow("pulled into Downloads") << summary(copy("done", "pull", downloads, 2)) << "Copied Project to Downloads. Skipped 2 items.";
        QTest::newRow("pulled into /") << summary(copy("done", "pull", {"/Project"})) << "Copied Project to /.";
        QTest::newRow("pulled, no destination") << summary(copy("done", "pull")) << "Copied Project to this computer.";
        QTest::newRow("pulling, no destination") << summary(copy("copying", "pull")) << "Copying Project to this computer…";
        QTest::newRow("copy failed without error") << summary(copy("failed", "push")) << "Couldn't copy Project: unknown error";
        QTest::newRow("twenty skipped") << skipped(20) << "20 /f20: Permission denied";
        QTest::newRow("twenty-one skipped") << skipped(21) << "21 …";
        using L = Share::Location;
        QTest::newRow("two drives") << shareTexts(Share{.mode = "drive", .locations = QList<L>{{"/"}, {"/Volumes/Photos"}}})
                                    << "Startup and Photos | Sharing Startup and Photos · can make changes | Downloads";
        QTest::newRow("folder read-only")
            << shareTexts(Share{.mode = "folder", .location = L{"/Users/ana/Shared"}, .access = "read_only", .folder = L{"/in"}})
            << "Shared | Sharing Shared · read-only | Downloads";
        QTest::newRow("receive onto a volume") << shareTexts(Share{.mode = "receive", .folder = L{"/Volumes/Photos"}})
                                               << "Receive only | Receive only | Photos";
        QTest::newRow("none") << shareTexts(Share::none()) << "nothing | Not sharing anything | Downloads";
        QTest::newRow("root disk, unlabelled or labelled")
            << Text([] { return VolumeNames::startupNameFor("") + " | " + VolumeNames::startupNameFor("Data"); }) << "File System | Data";
        QTest::newRow("link: the slower way") << Text([] { return LinkSpeed{40000000000, 38000000000}.summary(); }) << nb("38.0_Gb/s");
        QTest::newRow("link detail") << Text([] { return LinkSpeed{480000000, 40000000000}.detail(); })
                                     << nb("Sending 480_Mb/s · Receiving 40.0_Gb/s");
    }
    void texts()
    {
        auto [text, expected] = fetch<Text, QString>("text", "expected");
        test::FakeVolumeNames names;
        names.startup = "Startup";
        names.labels.insert("/Volumes/Photos", "Photos");
        QCOMPARE(text(), expected);
    }

    void serviceMessagesAreTranslated()
    {
        Localization::install("de", QJsonObject{
            {"Disk full on {volume}", "Datenträger {volume} ist voll"}, {"Permission denied", "Zugriff verweigert"},
            {"{sentence} {note}", "{note} — {sentence}"}, {"Couldn't copy {name}: {reason}", "{name} nicht kopiert: {reason}"},
            {"Couldn't read {path}: {reason}.", "{path} nicht lesbar: {reason}."}, {"{seconds}\u00A0s", "{seconds}\u00A0Sek."}});
        QCOMPARE(transfer("failed", 1, "Disk full on Bo").summary(), "1 item was already delivered. — Datenträger Bo ist voll.");
        CopyJob job = copy("failed", "pull", {}, {}, "Permission denied");
        job.problem = CopyProblem{"/a", "Permission denied"};
        job.skipped_items = QList<CopyProblem>{{"/b", "Permission denied"}, {"/c", "Disk full on X"}};
        QCOMPARE((QStringList{job.summary(), *job.problemText(), *job.skippedList(), cv::transferResult(1000, 2, 12.0)}),
                 (QStringList{"Project nicht kopiert: Zugriff verweigert", "/a nicht lesbar: Zugriff verweigert.",
                              "/b: Zugriff verweigert\n/c: Datenträger X ist voll", nb("2 files, 1 KB in 12_Sek.")}));
    }
};

QTEST_GUILESS_MAIN(TestTexts)
#include "tst_texts.moc"

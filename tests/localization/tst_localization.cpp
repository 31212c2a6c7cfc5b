// The language choice, text lookup, placeholders, plurals, service messages, number
// formats, and catalog files as a whole process finds them (through the probe).
#include "localization/localization.h"
#include "test_files.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <limits>
#include <thread>
#include <vector>

using namespace cv;
using namespace cv::test;

Q_DECLARE_METATYPE(cv::LValues)

namespace {

using Files = QMap<QString, QByteArray>;
using Setting = std::optional<QString>;
using Format = std::function<QString()>;

QJsonObject forms(std::initializer_list<std::pair<const char *, const char *>> entries)
{
    QJsonObject object;
    for (const auto &[category, text] : entries)
        object.insert(QString::fromUtf8(category), QString::fromUtf8(text));
    return object;
}

QString probeProgram() { return QStringLiteral(CV_LOCALIZATION_PROBE); }

// Copies the probe to `path` (creating folders), so it runs from that place.
bool placeProbe(const QString &path)
{
    return QDir().mkpath(QFileInfo(path).absolutePath()) && QFile::copy(probeProgram(), path)
        && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The probe's output lines, or none when it did not finish cleanly. Variables mapped
// to none are removed from the environment.
std::optional<QStringList> runProbe(const QString &program, const QStringList &commands, const QMap<QString, Setting> &environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = environment.constBegin(); it != environment.constEnd(); ++it)
        *it ? env.insert(it.key(), **it) : env.remove(it.key());
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, commands);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class LocalizationTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        Localization::install(QStringLiteral("en"), {});
        Localization::overrideRegion(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void cleanup()
    {
        qputenv("CV_LANGUAGE", "en");
        Localization::reset();
        Localization::overrideRegion(std::nullopt);
    }

    void match_data()
    {
        QTest::addColumn<QStringList>("tags");
        QTest::addColumn<QString>("language");
        QTest::newRow("pt_PT") << QStringList{"pt_PT"} << "pt-BR";
        QTest::newRow("zh-MO") << QStringList{"zh-MO"} << "zh-Hant";
        QTest::newRow("zh-Hans-HK: the region decides") << QStringList{"zh-Hans-HK"} << "zh-Hant";
        QTest::newRow("zh-CN") << QStringList{"zh-CN"} << "zh-Hans";
        QTest::newRow("nn-NO") << QStringList{"nn-NO"} << "nb";
        QTest::newRow("EN-gb before de") << QStringList{"EN-gb", "de"} << "en";
        QTest::newRow("unsupported, then fr-CA") << QStringList{"xx-YY", "-_-", "fr-CA"} << "fr";
        QTest::newRow("only unsupported") << QStringList{"ru-RU", "Hant"} << "en";
    }
    void match()
    {
        QFETCH(QStringList, tags);
        QFETCH(QString, language);
        QCOMPARE(Localization::match(tags), language);
    }

    // One search however many threads race for it; a changed variable counts after a reset.
    void chosenOnceFromTheEnvironment()
    {
        qputenv("CV_LANGUAGE", "fr");
        Localization::reset();
        const int before = Localization::catalogReads();
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&] { wrong += Localization::language() != QLatin1String("fr"); });
        for (auto &t : threads)
            t.join();
        QVERIFY(wrong == 0 && Localization::catalogReads() == before + 1);
        qputenv("CV_LANGUAGE", "de");
        QCOMPARE(Localization::language(), QStringLiteral("fr"));
        Localization::reset();
        QCOMPARE(Localization::language(), QStringLiteral("de"));
    }

    void text()
    {
        Localization::install("de", QJsonObject{{"Hello", "Hallo"}, {"{n} files", forms({{"one", "x"}})}, {"Number", 5}});
        QCOMPARE((QStringList{L("Hello"), L("hello"), L("{n} files"), L("Number")}), (QStringList{"Hallo", "hello", "{n} files", "Number"}));
    }

    void format_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<LValues>("values");
        QTest::addColumn<QString>("expected");
        QTest::newRow("int grouped, text not") << "{n} {t}" << LValues{{"n", 1234}, {"t", "1234"}} << "1,234 1234";
        QTest::newRow("smallest int") << "{n}" << LValues{{"n", std::numeric_limits<std::int64_t>::min()}} << "-9,223,372,036,854,775,808";
        QTest::newRow("largest unsigned") << "{n}" << LValues{{"n", std::numeric_limits<std::uint64_t>::max()}} << "9,223,372,036,854,775,807";
        QTest::newRow("doubles") << "{a} {b} {c}" << LValues{{"a", 1234.5}, {"b", 2.0}, {"c", -0.0}} << "1234.5 2.0 -0.0";
        QTest::newRow("exponents") << "{a} {b} {c} {d}" << LValues{{"a", 0.0001}, {"b", 0.00001}, {"c", 1e16}, {"d", 1.5e17}}
                                   << "0.0001 1e-05 10000000000000000.0 1.5e+17";
        QTest::newRow("Booleans, nan") << "{b}/{c} {x}" << LValues{{"b", true}, {"c", false}, {"x", std::numeric_limits<double>::quiet_NaN()}}
                                       << "true/false nan";
        QTest::newRow("missing name") << "{a} and {b} {a}" << LValues{{"a", "x"}} << "x and {b} x";
        QTest::newRow("stray braces") << "{{a} } {" << LValues{{"a", "x"}} << "{x } {";
        QTest::newRow("value not scanned again") << "{a}{b}" << LValues{{"a", "{b}"}, {"b", "x"}} << "{b}x";
    }
    void format()
    {
        QFETCH(QString, text);
        QFETCH(LValues, values);
        QFETCH(QString, expected);
        QCOMPARE(L(text, values), expected);
    }

    void plural_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QJsonValue>("entry"); // under the other form's key
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("expected");
        const QJsonObject fr = forms({{"one", "{n} fichier"}, {"other", "{n} fichiers"}});
        const QJsonObject pl = forms({{"one", "{n} plik"}, {"few", "{n} pliki"}, {"many", "{n} plików"}, {"other", "{n} pliku"}});
        QTest::newRow("en 1") << "en" << QJsonValue() << qint64(1) << "1 file";
        QTest::newRow("de -1") << "de" << QJsonValue() << qint64(-1) << "-1 files";
        QTest::newRow("fr 0") << "fr" << QJsonValue(fr) << qint64(0) << "0 fichier";
        QTest::newRow("fr 2") << "fr" << QJsonValue(fr) << qint64(2) << "2 fichiers";
        for (const auto &[count, text] : std::initializer_list<std::pair<qint64, const char *>>{
                 {1, "1 plik"}, {22, "22 pliki"}, {104, "104 pliki"}, {12, "12 plików"}, {112, "112 plików"}, {-2, "-2 plików"}})
            QTest::addRow("pl %lld", count) << "pl" << QJsonValue(pl) << count << text;
        QTest::newRow("pl without few: other") << "pl" << QJsonValue(forms({{"one", "{n} plik"}, {"other", "{n} pliku"}}))
                                               << qint64(3) << "3 pliku";
        QTest::newRow("pl neither: English") << "pl" << QJsonValue(forms({{"one", "{n} plik"}})) << qint64(3) << "3 files";
        QTest::newRow("ja 1 is other") << "ja" << QJsonValue(forms({{"one", "wrong"}, {"other", "{n} 個"}})) << qint64(1) << "1 個";
        QTest::newRow("a form not text: English") << "de" << QJsonValue(QJsonObject{{"one", "a"}, {"other", 3}}) << qint64(2) << "2 files";
    }
    void plural()
    {
        QFETCH(QString, language);
        QFETCH(QJsonValue, entry);
        QFETCH(qint64, count);
        QFETCH(QString, expected);
        Localization::install(language, QJsonObject{{"{n} files", entry}});
        QCOMPARE(Lp("{n} file", "{n} files", count), expected);
        QCOMPARE(Lp("A file from {f}", "{n} files from {f}", count == 1 ? 1 : 3, {{"n", "x"}, {"f", "Mac"}}),
                 count == 1 ? "A file from Mac" : "3 files from Mac"); // the count wins over a caller's "n"
    }

    void service_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");
        QTest::newRow("exact entry") << "Disk full" << "Datenträger voll";
        QTest::newRow("longer than an entry") << "Disk full!" << "Disk full!";
        QTest::newRow("reordered placeholders") << "Couldn’t copy a.txt to Desktop" << "Desktop: a.txt nicht kopiert";
        QTest::newRow("exact entry wins") << "Failed: disk full" << "Festplatte voll";
        QTest::newRow("template") << "Failed: timeout" << "Fehler: timeout";
        QTest::newRow("trailing text") << "Skipped 3 items today" << "Skipped 3 items today";
        QTest::newRow("empty capture") << "Failed: " << "Failed: ";
        QTest::newRow("text after a template without names") << "Wait { now" << "Wait { now";
        QTest::newRow("lone brace is literal") << "Size 4 {" << "Größe 4 {";
        QTest::newRow("plural entry is no template") << "3 files" << "3 files";
        QTest::newRow("first key in order wins") << "Error: failed" << "A failed";
    }
    void service()
    {
        QFETCH(QString, message);
        QFETCH(QString, expected);
        Localization::install("de", QJsonObject{
            {"Disk full", "Datenträger voll"}, {"Couldn’t copy {file} to {folder}", "{folder}: {file} nicht kopiert"},
            {"Failed: {reason}", "Fehler: {reason}"}, {"Failed: disk full", "Festplatte voll"},
            {"Skipped {n} items", "{n} übersprungen"}, {"{n} files", forms({{"one", "{n} Datei"}})},
            {"{y}: failed", "B {y}"}, {"Error: {x}", "A {x}"}, {"Size {n} {", "Größe {n} {"}, {"Wait {", "Warte {"}});
        QCOMPARE(Localization::service(message), expected);
    }

    void list_data()
    {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("translated");
        QTest::newRow("none") << QStringList{} << "" << "";
        QTest::newRow("one") << QStringList{"Mac"} << "Mac" << "Mac";
        QTest::newRow("two") << QStringList{"a", "b"} << "a and b" << "a und b";
        QTest::newRow("three, braces") << QStringList{"{last}", "b", "{items}"} << "{last}, b and {items}" << "{last}; b und {items}";
    }
    void list()
    {
        QFETCH(QStringList, items);
        QFETCH(QString, english);
        QFETCH(QString, translated);
        QCOMPARE(Localization::list(items), english);
        Localization::install("de", QJsonObject{{", ", "; "}, {"{items} and {last}", "{items} und {last}"}});
        QCOMPARE(Localization::list(items), translated);
    }

    // Units and digits are never translated, whatever the catalog says.
    void numbers_data()
    {
        QTest::addColumn<Format>("format");
        QTest::addColumn<QString>("expected");
        const auto speed = [](double v) { return Format([v] { return Localization::speed(v); }); };
        const auto decimal = [](double v, int p) { return Format([v, p] { return Localization::decimal(v, p); }); };
        const auto bytes = [](quint64 v) { return Format([v] { return Localization::byteCount(v); }); };
        QTest::newRow("0 b/s") << speed(0) << "0\u00A0Mb/s";
        QTest::newRow("999,999,999 b/s") << speed(999'999'999.0) << "1,000\u00A0Mb/s";
        QTest::newRow("1 Gb/s") << speed(1e9) << "1.0\u00A0Gb/s";
        QTest::newRow("1.25 Gb/s, tie to even") << speed(1.25e9) << "1.2\u00A0Gb/s";
        QTest::newRow("grouped, two places") << decimal(1234.5, 2) << "1,234.50";
        QTest::newRow("negative") << decimal(-1234.567, 1) << "-1,234.6";
        QTest::newRow("1.15 as written") << decimal(1.15, 1) << "1.2";
        QTest::newRow("1.45 tie to even") << decimal(1.45, 1) << "1.4";
        QTest::newRow("carry past grouping") << decimal(999.95, 1) << "1,000.0";
        QTest::newRow("0 bytes") << bytes(0) << "Zero KB";
        QTest::newRow("1 byte") << bytes(1) << "1 byte";
        QTest::newRow("999 bytes") << bytes(999) << "999 bytes";
        QTest::newRow("1,000 bytes") << bytes(1000) << "1 KB";
        QTest::newRow("1,500 rounds up") << bytes(1500) << "2 KB";
        QTest::newRow("999,999 moves up") << bytes(999'999) << "1 MB";
        QTest::newRow("1,005,000,000 half up") << bytes(1'005'000'000) << "1.01 GB";
        QTest::newRow("largest") << bytes(std::numeric_limits<quint64>::max()) << "18.45 EB";
    }
    void numbers()
    {
        QFETCH(Format, format);
        QFETCH(QString, expected);
        QCOMPARE(format(), expected);
        Localization::install("de", QJsonObject{{"\u00A0Gb/s", "x"}, {"Mb/s", "y"}, {"KB", "z"}});
        QCOMPARE(format(), expected);
    }

    // Integers follow the region, not the language; doubles are plain descriptions.
    void regions_data()
    {
        QTest::addColumn<QLocale>("region");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany)
                                << QStringList{"12.345 files", "9.223.372.036.854.775.807", "1.5", "1,23 GB"};
        QTest::newRow("Arabic, Egypt") << QLocale(QLocale::Arabic, QLocale::Egypt)
                                       << QStringList{"١٢٬٣٤٥ files", "٩٬٢٢٣٬٣٧٢٬٠٣٦٬٨٥٤٬٧٧٥٬٨٠٧", "1.5", "١٫٢٣ GB"};
    }
    void regions()
    {
        QFETCH(QLocale, region);
        QFETCH(QStringList, expected);
        Localization::install("de", {});
        Localization::overrideRegion(region);
        QCOMPARE((QStringList{Lp("{n} file", "{n} files", 12345), L("{n}", {{"n", std::numeric_limits<std::uint64_t>::max()}}),
                              L("{x}", {{"x", 1.5}}), Localization::byteCount(1'234'567'890)}),
                 expected);
    }

    void byteCountTranslatesItsWords()
    {
        Localization::install("fr", QJsonObject{{"Zero KB", "Zéro Ko"}, {"{n} bytes", forms({{"one", "{n} octet"}, {"other", "{n} octets"}})}});
        QCOMPARE((QStringList{Localization::byteCount(0), Localization::byteCount(1), Localization::byteCount(512)}),
                 (QStringList{"Zéro Ko", "1 octet", "512 octets"}));
    }

    // The real path: Qt reads the region from the environment of a fresh process.
    void systemRegion()
    {
        const auto lines = runProbe(probeProgram(), {"number=1234", "decimal=1234.5,2", "speed=40000000000", "bytes=1234567890"},
            {{"LANG", "de_DE.UTF-8"}, {"LC_ALL", std::nullopt}, {"LC_NUMERIC", std::nullopt}, {"CV_LANGUAGE", "en"}});
        QCOMPARE(lines.value_or(QStringList{"probe failed"}), (QStringList{"1.234", "1.234,50", "40,0\u00A0Gb/s", "1,23 GB"}));
    }

    void loadCatalog()
    {
        QTemporaryDir dir;
        const auto load = [&](const QByteArray &content) {
            writeFile(dir.filePath("de.json"), content);
            return Localization::loadCatalog(dir.filePath("de.json"));
        };
        QCOMPARE(load("{\"Hello\": }"), QJsonObject());
        QCOMPARE(load("[\"Hello\"]"), QJsonObject());
        QCOMPARE(load("{\"Couldn’t “{f}”\": \"„{f}“\", \"n\": 5}"), (QJsonObject{{"Couldn’t “{f}”", "„{f}“"}, {"n", 5}}));
        QCOMPARE(Localization::loadCatalog(dir.filePath("missing.json")), QJsonObject());
    }

    // The probe, placed in a build folder or an installed prefix with catalogs beside
    // it, prints its language, L("Hello") and how often it looked for or read a catalog.
    void process_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<Files>("files");
        QTest::addColumn<Setting>("cvLanguage");
        QTest::addColumn<Setting>("uiLanguages");
        QTest::addColumn<QString>("expected");
        const QByteArray hallo = R"({"Hello": "Hallo"})", bonjour = R"({"Hello": "Bonjour"})";
        const Setting none;
        QTest::newRow("beside the executable") << "build/probe" << Files{{"build/Resources/l10n/de.json", hallo}}
                                               << Setting("de") << none << "de Hallo 2";
        QTest::newRow("installed before beside") << "prefix/bin/corvane"
            << Files{{"prefix/share/corvane/l10n/de.json", R"({"Hello": "Hallo!"})"}, {"prefix/bin/Resources/l10n/de.json", hallo}}
            << Setting("de") << none << "de Hallo! 2";
        QTest::newRow("a build tree ignores share") << "build/bin/corvane-dev" << Files{{"build/share/corvane/l10n/de.json", hallo}}
                                                    << Setting("de") << none << "de Hello 1";
        // The language stays German (plural rules), the texts English.
        QTest::newRow("invalid JSON") << "build/probe" << Files{{"build/Resources/l10n/de.json", "{\"Hello\": ,}"}}
                                      << Setting("de") << none << "de Hello 2";
        // English reads no file, even with catalogs that would show; set counts even empty.
        const Files traps{{"build/Resources/l10n/en.json", bonjour}, {"build/Resources/l10n/fr.json", bonjour}};
        QTest::newRow("CV_LANGUAGE en-GB") << "build/probe" << traps << Setting("en-GB") << Setting("fr") << "en Hello 0";
        QTest::newRow("CV_LANGUAGE empty") << "build/probe" << traps << Setting("") << Setting("fr") << "en Hello 0";
        QTest::newRow("system English") << "build/probe" << traps << none << Setting("en_US") << "en Hello 0";
        QTest::newRow("unsupported, then French") << "build/probe" << traps << none << Setting("xx:fr_CA") << "fr Bonjour 2";
        QTest::newRow("packaged, no catalog for the choice") << "prefix/bin/corvane"
            << Files{{"prefix/share/corvane/l10n/fr.json", bonjour}} << none << Setting("pl") << "pl Hello 1";
    }
    void process()
    {
        QFETCH(QString, exe);
        QFETCH(Files, files);
        QFETCH(Setting, cvLanguage);
        QFETCH(Setting, uiLanguages);
        QFETCH(QString, expected);
        QTemporaryDir root;
        QVERIFY(placeProbe(root.filePath(exe)));
        for (auto it = files.constBegin(); it != files.constEnd(); ++it)
            QVERIFY(writeFile(root.filePath(it.key()), it.value()));
        const auto lines = runProbe(root.filePath(exe), {"language", "text=Hello", "reads"},
                                    {{"CV_LANGUAGE", cvLanguage}, {"LANGUAGE", uiLanguages}, {"LANG", "en_US.UTF-8"},
                                     {"LC_ALL", Setting()}, {"LC_MESSAGES", Setting()}});
        QCOMPARE(lines.value_or(QStringList{"probe failed"}).join(' '), expected);
    }
};

QTEST_GUILESS_MAIN(LocalizationTest)
#include "tst_localization.moc"

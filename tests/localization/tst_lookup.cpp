// The language choice, text lookup, placeholders, plurals and service messages.
#include "localization/localization.h"

#include <QJsonArray>
#include <QTest>

#include <atomic>
#include <limits>
#include <thread>
#include <vector>

using namespace cv;

Q_DECLARE_METATYPE(cv::LValues)

namespace {

const QString one = QStringLiteral("{n} file");
const QString other = QStringLiteral("{n} files");

QJsonObject forms(std::initializer_list<std::pair<const char *, const char *>> entries)
{
    QJsonObject object;
    for (const auto &[category, text] : entries)
        object.insert(QString::fromUtf8(category), QString::fromUtf8(text));
    return object;
}

} // namespace

class LookupTest : public QObject {
    Q_OBJECT
private slots:
    void init() { Localization::overrideRegion(QLocale(QLocale::English, QLocale::UnitedStates)); }
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
        QTest::newRow("zh-TW") << QStringList{"zh-TW"} << "zh-Hant";
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

    void chosenOnceFromTheEnvironment()
    {
        qputenv("CV_LANGUAGE", "fr");
        Localization::reset();
        const int before = Localization::catalogReads();
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i) {
            threads.emplace_back([&] {
                for (int k = 0; k < 200; ++k)
                    wrong += Localization::language() != QLatin1String("fr");
            });
        }
        for (auto &t : threads)
            t.join();
        QCOMPARE(wrong.load(), 0);
        QCOMPARE(Localization::catalogReads(), before + 1); // one search however many raced
        qputenv("CV_LANGUAGE", "de"); // counts only after a reset
        QCOMPARE(Localization::language(), QStringLiteral("fr"));
        Localization::reset();
        QCOMPARE(Localization::language(), QStringLiteral("de"));
    }

    void text_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("entry") << "Hello" << "Hallo";
        QTest::newRow("keys are exact") << "hello" << "hello";
        QTest::newRow("plural entry") << "{n} files" << "{n} files";
        QTest::newRow("number value") << "Number" << "Number";
    }
    void text()
    {
        QFETCH(QString, key);
        QFETCH(QString, expected);
        Localization::install("de", QJsonObject{{"Hello", "Hallo"}, {"{n} files", forms({{"one", "x"}})}, {"Number", 5}});
        QCOMPARE(L(key), expected);
    }

    void format_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<LValues>("values");
        QTest::addColumn<QString>("expected");
        const auto max = QStringLiteral("9,223,372,036,854,775,807");
        QTest::newRow("int grouped, text not") << "{n} {t}" << LValues{{"n", 1234}, {"t", "1234"}} << "1,234 1234";
        QTest::newRow("smallest int") << "{n}" << LValues{{"n", std::numeric_limits<std::int64_t>::min()}}
                                      << "-9,223,372,036,854,775,808";
        QTest::newRow("largest unsigned") << "{n}" << LValues{{"n", std::numeric_limits<std::uint64_t>::max()}} << max;
        QTest::newRow("doubles") << "{a} {b} {c}" << LValues{{"a", 1234.5}, {"b", 2.0}, {"c", -0.0}} << "1234.5 2.0 -0.0";
        QTest::newRow("exponents") << "{a} {b} {c} {d}" << LValues{{"a", 0.0001}, {"b", 0.00001}, {"c", 1e16}, {"d", 1.5e17}}
                                   << "0.0001 1e-05 10000000000000000.0 1.5e+17";
        QTest::newRow("Booleans, nan") << "{b}/{c} {x}"
                                       << LValues{{"b", true}, {"c", false}, {"x", std::numeric_limits<double>::quiet_NaN()}}
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
        const QJsonObject plNoFew = forms({{"one", "{n} plik"}, {"many", "{n} plików"}, {"other", "{n} pliku"}});
        const QJsonObject ja = forms({{"one", "wrong"}, {"other", "{n} 個"}});
        QTest::newRow("en 1") << "en" << QJsonValue() << qint64(1) << "1 file";
        QTest::newRow("en 1234") << "en" << QJsonValue() << qint64(1234) << "1,234 files";
        QTest::newRow("de -1") << "de" << QJsonValue() << qint64(-1) << "-1 files";
        QTest::newRow("fr 0") << "fr" << QJsonValue(fr) << qint64(0) << "0 fichier";
        QTest::newRow("fr 2") << "fr" << QJsonValue(fr) << qint64(2) << "2 fichiers";
        for (const auto &[count, text] : std::initializer_list<std::pair<qint64, const char *>>{
                 {1, "1 plik"}, {22, "22 pliki"}, {104, "104 pliki"}, {12, "12 plików"}, {112, "112 plików"}, {-2, "-2 plików"}})
            QTest::addRow("pl %lld", count) << "pl" << QJsonValue(pl) << count << text;
        QTest::newRow("pl without few: other") << "pl" << QJsonValue(plNoFew) << qint64(3) << "3 pliku";
        QTest::newRow("pl neither: English") << "pl" << QJsonValue(forms({{"one", "{n} plik"}})) << qint64(3) << "3 files";
        QTest::newRow("ja 1 is other") << "ja" << QJsonValue(ja) << qint64(1) << "1 個";
        QTest::newRow("a form not text: English") << "de" << QJsonValue(QJsonObject{{"one", "a"}, {"other", 3}}) << qint64(2)
                                                  << "2 files";
    }
    void plural()
    {
        QFETCH(QString, language);
        QFETCH(QJsonValue, entry);
        QFETCH(qint64, count);
        QFETCH(QString, expected);
        Localization::install(language, QJsonObject{{other, entry}});
        QCOMPARE(Lp(one, other, count), expected);
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
            {"Disk full", "Datenträger voll"},
            {"Couldn’t copy {file} to {folder}", "{folder}: {file} nicht kopiert"},
            {"Failed: {reason}", "Fehler: {reason}"},
            {"Failed: disk full", "Festplatte voll"},
            {"Skipped {n} items", "{n} übersprungen"},
            {"{n} files", forms({{"one", "{n} Datei"}})},
            {"{y}: failed", "B {y}"},
            {"Error: {x}", "A {x}"},
            {"Size {n} {", "Größe {n} {"},
            {"Wait {", "Warte {"},
        });
        QCOMPARE(Localization::service(message), expected);
    }
};

QTEST_GUILESS_MAIN(LookupTest)
#include "tst_lookup.moc"

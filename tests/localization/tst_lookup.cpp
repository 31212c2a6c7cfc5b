// The language choice, text lookup, placeholder filling, plurals and the translation
// of the service's messages.
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
    void init()
    {
        cleanup();
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
        QTest::newRow("zh-TW") << QStringList{"zh-TW"} << "zh-Hant";
        QTest::newRow("zh_Hant_HK") << QStringList{"zh_Hant_HK"} << "zh-Hant";
        QTest::newRow("zh-Hans-HK: the region decides") << QStringList{"zh-Hans-HK"} << "zh-Hant";
        QTest::newRow("zh-CN") << QStringList{"zh-CN"} << "zh-Hans";
        QTest::newRow("nn-NO") << QStringList{"nn-NO"} << "nb";
        QTest::newRow("EN-gb") << QStringList{"EN-gb"} << "en";
        QTest::newRow("es-419") << QStringList{"es-419"} << "es";
        QTest::newRow("unsupported then fr-CA") << QStringList{"xx-YY", "fr-CA"} << "fr";
        QTest::newRow("only unsupported") << QStringList{"xx", "ru-RU", "he"} << "en";
        QTest::newRow("en-US before de") << QStringList{"en-US", "de"} << "en";
        QTest::newRow("separators only, then de") << QStringList{"-_-", "de"} << "de";
        QTest::newRow("script is not a language") << QStringList{"Hant"} << "en";
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
        std::atomic<bool> go{false};
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i) {
            threads.emplace_back([&] {
                while (!go.load())
                    std::this_thread::yield();
                for (int k = 0; k < 200; ++k) {
                    if (Localization::language() != QLatin1String("fr")
                        || L(QStringLiteral("{a} of {b}"), {{"a", 1}, {"b", 2}}) != QLatin1String("1 of 2"))
                        ++wrong;
                }
            });
        }
        go = true;
        for (auto &t : threads)
            t.join();
        QCOMPARE(wrong.load(), 0);
        // One search for the French catalog, however many threads raced for it.
        QCOMPARE(Localization::catalogReads(), before + 1);
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
        QTest::newRow("missing") << "Missing" << "Missing";
        QTest::newRow("keys are exact") << "hello" << "hello";
        QTest::newRow("plural entry") << "{n} files" << "{n} files";
        QTest::newRow("number") << "Number" << "Number";
        QTest::newRow("list") << "List" << "List";
        QTest::newRow("null") << "Nothing" << "Nothing";
    }
    void text()
    {
        QFETCH(QString, key);
        QFETCH(QString, expected);
        Localization::install(QStringLiteral("de"), QJsonObject{
            {"Hello", "Hallo"},
            {"{n} files", forms({{"one", "{n} Datei"}, {"other", "{n} Dateien"}})},
            {"Number", 5},
            {"List", QJsonArray{"Liste"}},
            {"Nothing", QJsonValue::Null},
        });
        QCOMPARE(L(key), expected); // values that are not texts count as missing
    }

    void format_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<LValues>("values");
        QTest::addColumn<QString>("expected");
        const auto maxText = QStringLiteral("9,223,372,036,854,775,807");
        QTest::newRow("int grouped") << "{n} files" << LValues{{"n", 1234}} << "1,234 files";
        QTest::newRow("text not grouped") << "{n} files" << LValues{{"n", "1234"}} << "1234 files";
        QTest::newRow("smallest int") << "{n}" << LValues{{"n", std::numeric_limits<std::int64_t>::min()}}
                                      << "-9,223,372,036,854,775,808";
        QTest::newRow("unsigned above the largest signed")
            << "{n}" << LValues{{"n", std::uint64_t(1) << 63}} << maxText;
        QTest::newRow("largest unsigned") << "{n}" << LValues{{"n", std::numeric_limits<std::uint64_t>::max()}} << maxText;
        // Doubles as their shortest description, exponent from 1e-5 and 1e17 on.
        QTest::newRow("double not grouped") << "{x}" << LValues{{"x", 1234.5}} << "1234.5";
        QTest::newRow("whole double") << "{x}" << LValues{{"x", 2.0}} << "2.0";
        QTest::newRow("third") << "{x}" << LValues{{"x", 1.0 / 3.0}} << "0.3333333333333333";
        QTest::newRow("negative zero") << "{x}" << LValues{{"x", -0.0}} << "-0.0";
        QTest::newRow("small doubles") << "{x} {y}" << LValues{{"x", 0.0001}, {"y", 0.00001}} << "0.0001 1e-05";
        QTest::newRow("large doubles") << "{x} {y}" << LValues{{"x", 1e16}, {"y", 1.5e17}} << "10000000000000000.0 1.5e+17";
        QTest::newRow("not a number") << "{x}" << LValues{{"x", std::numeric_limits<double>::quiet_NaN()}} << "nan";
        QTest::newRow("Booleans") << "{b}/{c}" << LValues{{"b", true}, {"c", false}} << "true/false";
        QTest::newRow("missing name") << "{a} and {b}" << LValues{{"a", "x"}} << "x and {b}";
        QTest::newRow("lone brace") << "{a} {" << LValues{{"a", 1}} << "1 {";
        QTest::newRow("brace before placeholder") << "{{a}" << LValues{{"a", "x"}} << "{x";
        QTest::newRow("closing brace alone") << "a } {a} }" << LValues{{"a", "x"}} << "a } x }";
        QTest::newRow("value is not scanned again") << "{a}{b}" << LValues{{"a", "{b}"}, {"b", "x"}} << "{b}x";
        QTest::newRow("no values at all") << "{n} of {m} {" << LValues{} << "{n} of {m} {";
    }
    void format()
    {
        QFETCH(QString, text);
        QFETCH(LValues, values);
        QFETCH(QString, expected);
        QCOMPARE(L(text, values), expected);
    }

    void integersFollowRegionNotLanguage()
    {
        Localization::install(QStringLiteral("de"), {});
        QCOMPARE(L(QStringLiteral("{n}"), {{"n", 1234}}), QStringLiteral("1,234"));
        Localization::overrideRegion(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(L(QStringLiteral("{n}"), {{"n", std::numeric_limits<std::uint64_t>::max()}}),
                 QStringLiteral("9.223.372.036.854.775.807"));
        QCOMPARE(Lp(one, other, 12345), QStringLiteral("12.345 files"));
        // Doubles are plain descriptions, whatever the region.
        QCOMPARE(L(QStringLiteral("{x}"), {{"x", 1.5}}), QStringLiteral("1.5"));
    }

    void category_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("expected");
        for (const char *language : {"en", "de", "da", "es", "fi", "it", "nb", "nl", "sv", "tr"}) {
            QTest::addRow("%s 1", language) << language << qint64(1) << "one";
            QTest::addRow("%s 0", language) << language << qint64(0) << "other";
            QTest::addRow("%s -1", language) << language << qint64(-1) << "other";
        }
        for (const char *language : {"fr", "pt-BR"}) {
            for (qint64 count : {0, 1, -1})
                QTest::addRow("%s %lld", language, count) << language << count << "one";
            QTest::addRow("%s 2", language) << language << qint64(2) << "other";
        }
        for (qint64 count : {3, 122})
            QTest::addRow("pl %lld", count) << "pl" << count << "few";
        for (qint64 count : {14, 212, 101})
            QTest::addRow("pl %lld", count) << "pl" << count << "many";
        for (const char *language : {"ja", "ko", "zh-Hans", "zh-Hant"}) {
            for (qint64 count : {0, 1, 2})
                QTest::addRow("%s %lld", language, count) << language << count << "other";
        }
    }
    void category()
    {
        QFETCH(QString, language);
        QFETCH(qint64, count);
        QFETCH(QString, expected);
        QCOMPARE(Localization::category(count, language), expected);
    }

    void plural_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QJsonValue>("entry"); // under the other form's key
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("expected");
        const QJsonObject french = forms({{"one", "{n} fichier"}, {"other", "{n} fichiers"}});
        QTest::newRow("en 1") << "en" << QJsonValue() << qint64(1) << "1 file";
        QTest::newRow("en 0") << "en" << QJsonValue() << qint64(0) << "0 files";
        QTest::newRow("en 1234 grouped") << "en" << QJsonValue() << qint64(1234) << "1,234 files";
        QTest::newRow("fr 0 takes one") << "fr" << QJsonValue(french) << qint64(0) << "0 fichier";
        QTest::newRow("fr 2") << "fr" << QJsonValue(french) << qint64(2) << "2 fichiers";
        QTest::newRow("fr -2 takes one") << "fr" << QJsonValue(french) << qint64(-2) << "-2 fichier";

        const QJsonObject polish =
            forms({{"one", "{n} plik"}, {"few", "{n} pliki"}, {"many", "{n} plików"}, {"other", "{n} pliku"}});
        const std::pair<qint64, const char *> polishCases[] = {
            {1, "1 plik"},     {2, "2 pliki"},      {5, "5 plików"}, {12, "12 plików"}, {22, "22 pliki"},
            {104, "104 pliki"}, {112, "112 plików"}, {0, "0 plików"}, {-2, "-2 plików"},
        };
        for (const auto &[count, text] : polishCases)
            QTest::addRow("pl %lld", count) << "pl" << QJsonValue(polish) << count << text;
        const QJsonObject withoutFew = forms({{"one", "{n} plik"}, {"many", "{n} plików"}, {"other", "{n} pliku"}});
        QTest::newRow("pl without few: other") << "pl" << QJsonValue(withoutFew) << qint64(3) << "3 pliku";
        QTest::newRow("pl without few: many kept") << "pl" << QJsonValue(withoutFew) << qint64(5) << "5 plików";
        QTest::newRow("pl neither few nor other: English")
            << "pl" << QJsonValue(forms({{"one", "{n} plik"}})) << qint64(3) << "3 files";

        const QJsonObject japanese = forms({{"one", "wrong"}, {"other", "{n} 個のファイル"}});
        for (qint64 count : {0, 1, 21})
            QTest::addRow("ja %lld", count) << "ja" << QJsonValue(japanese) << count << QString::number(count) + " 個のファイル";

        QTest::newRow("empty object: English") << "de" << QJsonValue(QJsonObject()) << qint64(2) << "2 files";
        QTest::newRow("a form that is not text: English")
            << "de" << QJsonValue(QJsonObject{{"one", "{n} Datei"}, {"other", 3}}) << qint64(2) << "2 files";
        QTest::newRow("a plain string is no plural entry") << "de" << QJsonValue("{n} Dateien") << qint64(2) << "2 files";
    }
    void plural()
    {
        QFETCH(QString, language);
        QFETCH(QJsonValue, entry);
        QFETCH(qint64, count);
        QFETCH(QString, expected);
        Localization::install(language, QJsonObject{{other, entry}});
        QCOMPARE(Lp(one, other, count), expected);
    }

    void countReplacesCallersValue()
    {
        const QString from = QStringLiteral("Received {n} files from {from}");
        QCOMPARE(Lp(QStringLiteral("Received a file from {from}"), from, 3, {{"n", "many"}, {"from", "Mac"}}),
                 QStringLiteral("Received 3 files from Mac"));
        QCOMPARE(Lp(QStringLiteral("Received a file from {from}"), from, 1, {{"n", 99}, {"from", "Mac"}}),
                 QStringLiteral("Received a file from Mac"));
    }

    void service_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");
        QTest::newRow("exact entry") << "Disk full" << "Datenträger voll";
        QTest::newRow("longer than an exact entry") << "Disk full!" << "Disk full!";
        QTest::newRow("leading placeholder") << "12 items left" << "12 Elemente übrig";
        QTest::newRow("reordered placeholders") << "Couldn’t copy a.txt to Desktop"
                                                << "Desktop: a.txt konnte nicht kopiert werden";
        QTest::newRow("of, reordered") << "3 of 4 of 5" << "4 of 5 von 3";
        QTest::newRow("exact entry wins over template") << "Failed: disk full" << "Festplatte voll";
        QTest::newRow("template beside an exact entry") << "Failed: timeout" << "Fehler: timeout";
        QTest::newRow("exact entry with braces is not filled") << "Exact {x} key" << "Genauer Schlüssel {x}";
        QTest::newRow("digits kept as written") << "Skipped 1234 items" << "1234 Elemente übersprungen";
        QTest::newRow("trailing text: unchanged") << "Skipped 3 items today" << "Skipped 3 items today";
        QTest::newRow("empty capture: unchanged") << "Failed: " << "Failed: ";
        QTest::newRow("empty middle capture: unchanged") << " of 4" << " of 4";
        QTest::newRow("name used twice keeps the later") << "x-y" << "y!";
        QTest::newRow("lone brace is literal") << "Size 4 {" << "Größe 4 {";
        QTest::newRow("plural entry is no template") << "3 files" << "3 files";
        QTest::newRow("non-text value is no template") << "Code 7" << "Code 7";
        // Both "Error: {x}" and "{y}: failed" match; the key that sorts first wins.
        QTest::newRow("overlapping templates in key order") << "Error: failed" << "A failed";
        QTest::newRow("the other template") << "Disk: failed" << "B Disk";
    }
    void service()
    {
        QFETCH(QString, message);
        QFETCH(QString, expected);
        Localization::install(QStringLiteral("de"), QJsonObject{
            {"Disk full", "Datenträger voll"},
            {"Couldn’t copy {file} to {folder}", "{folder}: {file} konnte nicht kopiert werden"},
            {"{a} of {b}", "{b} von {a}"},
            {"Failed: {reason}", "Fehler: {reason}"},
            {"Failed: disk full", "Festplatte voll"},
            {"Exact {x} key", "Genauer Schlüssel {x}"},
            {"Skipped {n} items", "{n} Elemente übersprungen"},
            {"{n} files", forms({{"one", "{n} Datei"}, {"other", "{n} Dateien"}})},
            {"Code {c}", 7},
            {"{y}: failed", "B {y}"},
            {"Error: {x}", "A {x}"},
            {"{n} items left", "{n} Elemente übrig"},
            {"{a}-{a}", "{a}!"},
            {"Size {n} {", "Größe {n} {"},
        });
        QCOMPARE(Localization::service(message), expected);
    }
};

QTEST_GUILESS_MAIN(LookupTest)
#include "tst_lookup.moc"

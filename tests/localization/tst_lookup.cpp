// Language matching, the one-time choice, text lookup and placeholder filling.
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

QJsonObject germanCatalog()
{
    return QJsonObject{
        {QStringLiteral("Hello"), QStringLiteral("Hallo")},
        {QStringLiteral("Hello {name}"), QStringLiteral("Hallo {name}")},
        {QStringLiteral("{n} files"), QJsonObject{{QStringLiteral("one"), QStringLiteral("{n} Datei")},
                                                  {QStringLiteral("other"), QStringLiteral("{n} Dateien")}}},
        {QStringLiteral("Number"), 5},
        {QStringLiteral("List"), QJsonArray{QStringLiteral("Liste")}},
        {QStringLiteral("Nothing"), QJsonValue::Null},
        {QStringLiteral("Yes"), true},
    };
}

} // namespace

class LookupTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        qputenv("CV_LANGUAGE", "en");
        Localization::reset();
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
        QTest::newRow("pt-BR") << QStringList{"pt-BR"} << "pt-BR";
        QTest::newRow("pt") << QStringList{"pt"} << "pt-BR";
        QTest::newRow("zh-TW") << QStringList{"zh-TW"} << "zh-Hant";
        QTest::newRow("zh_Hant_HK") << QStringList{"zh_Hant_HK"} << "zh-Hant";
        QTest::newRow("zh-MO") << QStringList{"zh-MO"} << "zh-Hant";
        QTest::newRow("zh-Hans-HK") << QStringList{"zh-Hans-HK"} << "zh-Hant";
        QTest::newRow("zh-CN") << QStringList{"zh-CN"} << "zh-Hans";
        QTest::newRow("zh") << QStringList{"zh"} << "zh-Hans";
        QTest::newRow("nn-NO") << QStringList{"nn-NO"} << "nb";
        QTest::newRow("no") << QStringList{"no"} << "nb";
        QTest::newRow("nb_NO") << QStringList{"nb_NO"} << "nb";
        QTest::newRow("EN-gb") << QStringList{"EN-gb"} << "en";
        QTest::newRow("es-419") << QStringList{"es-419"} << "es";
        QTest::newRow("de-CH") << QStringList{"de-CH"} << "de";
        QTest::newRow("upper case FR") << QStringList{"FR"} << "fr";
        QTest::newRow("unsupported then fr-CA") << QStringList{"xx-YY", "fr-CA"} << "fr";
        QTest::newRow("only unsupported") << QStringList{"xx", "ru-RU", "he"} << "en";
        QTest::newRow("en-US before de") << QStringList{"en-US", "de"} << "en";
        QTest::newRow("empty tag") << QStringList{""} << "en";
        QTest::newRow("separators only, then de") << QStringList{"-_-", "de"} << "de";
        QTest::newRow("no tags") << QStringList{} << "en";
        QTest::newRow("script is not a language") << QStringList{"Hant"} << "en";
    }

    void match()
    {
        QFETCH(QStringList, tags);
        QFETCH(QString, language);
        QCOMPARE(Localization::match(tags), language);
    }

    void environment_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("language");
        QTest::newRow("pt_PT") << QByteArray("pt_PT") << "pt-BR";
        QTest::newRow("zh-TW") << QByteArray("zh-TW") << "zh-Hant";
        QTest::newRow("de") << QByteArray("de") << "de";
        QTest::newRow("empty") << QByteArray("") << "en";
        QTest::newRow("unsupported") << QByteArray("xx-YY") << "en";
    }

    void environment()
    {
        QFETCH(QByteArray, value);
        QFETCH(QString, language);
        qputenv("CV_LANGUAGE", value);
        QVERIFY(qEnvironmentVariableIsSet("CV_LANGUAGE"));
        Localization::reset();
        QCOMPARE(Localization::language(), language);
        // No catalog file exists for the test program: every text stays English.
        QCOMPARE(L(QStringLiteral("Hello")), QStringLiteral("Hello"));
    }

    void choiceIsKeptUntilReset()
    {
        qputenv("CV_LANGUAGE", "fr");
        Localization::reset();
        QCOMPARE(Localization::language(), QStringLiteral("fr"));
        qputenv("CV_LANGUAGE", "de");
        QCOMPARE(Localization::language(), QStringLiteral("fr"));
        Localization::reset();
        QCOMPARE(Localization::language(), QStringLiteral("de"));
    }

    void noFileForEnglish()
    {
        const int before = Localization::catalogReads();
        qputenv("CV_LANGUAGE", "EN-gb");
        Localization::reset();
        QCOMPARE(Localization::language(), QStringLiteral("en"));
        QCOMPARE(L(QStringLiteral("Hello")), QStringLiteral("Hello"));
        QCOMPARE(Lp(QStringLiteral("{n} file"), QStringLiteral("{n} files"), 2), QStringLiteral("2 files"));
        QCOMPARE(Localization::service(QStringLiteral("Disk full")), QStringLiteral("Disk full"));
        QCOMPARE(Localization::catalogReads(), before);

        // The counter does see the search made for any other language.
        qputenv("CV_LANGUAGE", "de");
        Localization::reset();
        QCOMPARE(Localization::language(), QStringLiteral("de"));
        QVERIFY(Localization::catalogReads() > before);
    }

    void chosenOnceAcrossThreads()
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
    }

    void text()
    {
        Localization::install(QStringLiteral("de"), germanCatalog());
        QCOMPARE(Localization::language(), QStringLiteral("de"));
        QCOMPARE(Localization::text(QStringLiteral("Hello")), QStringLiteral("Hallo"));
        QCOMPARE(Localization::text(QStringLiteral("Missing")), QStringLiteral("Missing"));
        // Values that are not texts count as missing.
        QCOMPARE(Localization::text(QStringLiteral("{n} files")), QStringLiteral("{n} files"));
        QCOMPARE(Localization::text(QStringLiteral("Number")), QStringLiteral("Number"));
        QCOMPARE(Localization::text(QStringLiteral("List")), QStringLiteral("List"));
        QCOMPARE(Localization::text(QStringLiteral("Nothing")), QStringLiteral("Nothing"));
        QCOMPARE(Localization::text(QStringLiteral("Yes")), QStringLiteral("Yes"));
        // Keys are exact: case and apostrophes matter.
        QCOMPARE(Localization::text(QStringLiteral("hello")), QStringLiteral("hello"));
        QCOMPARE(L(QStringLiteral("Hello {name}"), {{"name", "Ana"}}), QStringLiteral("Hallo Ana"));
        // Installing English again leaves every text as written.
        Localization::install(QStringLiteral("en"), {});
        QCOMPARE(L(QStringLiteral("Hello")), QStringLiteral("Hello"));
    }

    void format_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<LValues>("values");
        QTest::addColumn<QString>("expected");
        const auto maxText = QStringLiteral("9,223,372,036,854,775,807");
        QTest::newRow("int grouped") << "{n} files" << LValues{{"n", 1234}} << "1,234 files";
        QTest::newRow("text not grouped") << "{n} files" << LValues{{"n", "1234"}} << "1234 files";
        QTest::newRow("negative int") << "{n}" << LValues{{"n", -1234567}} << "-1,234,567";
        QTest::newRow("smallest int") << "{n}" << LValues{{"n", std::numeric_limits<std::int64_t>::min()}}
                                      << "-9,223,372,036,854,775,808";
        QTest::newRow("unsigned grouped") << "{n}" << LValues{{"n", std::uint64_t(5000)}} << "5,000";
        QTest::newRow("unsigned largest signed")
            << "{n}" << LValues{{"n", std::uint64_t(std::numeric_limits<std::int64_t>::max())}} << maxText;
        QTest::newRow("unsigned just above") << "{n}"
                                             << LValues{{"n", std::uint64_t(1) << 63}} << maxText;
        QTest::newRow("unsigned largest")
            << "{n}" << LValues{{"n", std::numeric_limits<std::uint64_t>::max()}} << maxText;
        QTest::newRow("double") << "{x}" << LValues{{"x", 1.5}} << "1.5";
        QTest::newRow("double not grouped") << "{x}" << LValues{{"x", 1234.5}} << "1234.5";
        QTest::newRow("whole double") << "{x}" << LValues{{"x", 2.0}} << "2.0";
        QTest::newRow("true") << "{b}" << LValues{{"b", true}} << "true";
        QTest::newRow("false") << "{b}" << LValues{{"b", false}} << "false";
        QTest::newRow("missing name") << "{a} and {b}" << LValues{{"a", "x"}} << "x and {b}";
        QTest::newRow("names are case-sensitive") << "{A}" << LValues{{"a", "x"}} << "{A}";
        QTest::newRow("lone brace") << "{a} {" << LValues{{"a", 1}} << "1 {";
        QTest::newRow("lone brace first") << "{ {a}" << LValues{{"a", 1}} << "{ 1";
        QTest::newRow("brace before placeholder") << "{{a}" << LValues{{"a", "x"}} << "{x";
        QTest::newRow("closing brace alone") << "a } {a} }" << LValues{{"a", "x"}} << "a } x }";
        QTest::newRow("empty name") << "<{}>" << LValues{{"", "x"}} << "<x>";
        QTest::newRow("value is not scanned again") << "{a}{b}" << LValues{{"a", "{b}"}, {"b", "x"}} << "{b}x";
        QTest::newRow("name used twice") << "{a}/{a}" << LValues{{"a", "x"}} << "x/x";
        QTest::newRow("typographic text kept") << "Couldn’t open “{f}”…" << LValues{{"f", "a"}}
                                               << "Couldn’t open “a”…";
        QTest::newRow("no values at all") << "{n} of {m} {" << LValues{} << "{n} of {m} {";
    }

    void format()
    {
        QFETCH(QString, text);
        QFETCH(LValues, values);
        QFETCH(QString, expected);
        QCOMPARE(Localization::format(text, values), expected);
        QCOMPARE(L(text, values), expected);
    }

    void describeDouble_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("1.5") << 1.5 << "1.5";
        QTest::newRow("2") << 2.0 << "2.0";
        QTest::newRow("0.1") << 0.1 << "0.1";
        QTest::newRow("100") << 100.0 << "100.0";
        QTest::newRow("third") << 1.0 / 3.0 << "0.3333333333333333";
        QTest::newRow("negative") << -2.5 << "-2.5";
        QTest::newRow("negative zero") << -0.0 << "-0.0";
        QTest::newRow("small decimal") << 0.0001 << "0.0001";
        QTest::newRow("smaller: exponent") << 0.00001 << "1e-05";
        QTest::newRow("large decimal") << 1e16 << "10000000000000000.0";
        QTest::newRow("larger: exponent") << 1e17 << "1e+17";
        QTest::newRow("exponent with fraction") << 1.5e300 << "1.5e+300";
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << "inf";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "nan";
    }

    void describeDouble()
    {
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(LValue(value).text(), expected);
    }

    void integersFollowRegionNotLanguage()
    {
        Localization::install(QStringLiteral("de"), germanCatalog());
        QCOMPARE(L(QStringLiteral("{n}"), {{"n", 1234}}), QStringLiteral("1,234"));
        Localization::install(QStringLiteral("en"), {});
        Localization::overrideRegion(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(L(QStringLiteral("{n}"), {{"n", 1234}}), QStringLiteral("1.234"));
        QCOMPARE(L(QStringLiteral("{n}"), {{"n", std::numeric_limits<std::uint64_t>::max()}}),
                 QStringLiteral("9.223.372.036.854.775.807"));
        // Doubles are plain descriptions, whatever the region.
        QCOMPARE(L(QStringLiteral("{x}"), {{"x", 1.5}}), QStringLiteral("1.5"));
    }
};

QTEST_GUILESS_MAIN(LookupTest)
#include "tst_lookup.moc"

// Lists, speeds, decimals and byte counts in set regions and, through a child
// process, in the system's own.
#include "localization/localization.h"
#include "probe_run.h"

#include <QTest>

#include <limits>

using namespace cv;

class FormatTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        Localization::install(QStringLiteral("en"), {});
        Localization::overrideRegion(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void cleanup()
    {
        Localization::reset();
        Localization::overrideRegion(std::nullopt);
    }

    void list_data()
    {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("translated");
        QTest::newRow("none") << QStringList{} << "" << "";
        QTest::newRow("one") << QStringList{"Mac"} << "Mac" << "Mac";
        QTest::newRow("two") << QStringList{"a", "b"} << "a and b" << "a und b";
        QTest::newRow("three, braces") << QStringList{"{last}", "b", "{items}"} << "{last}, b and {items}"
                                       << "{last}; b und {items}";
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

    void numbers_data()
    {
        QTest::addColumn<std::function<QString()>>("format");
        QTest::addColumn<QString>("expected");
        using F = std::function<QString()>;
        const auto speed = [](double v) { return F([v] { return Localization::speed(v); }); };
        const auto decimal = [](double v, int p) { return F([v, p] { return Localization::decimal(v, p); }); };
        const auto bytes = [](quint64 v) { return F([v] { return Localization::byteCount(v); }); };
        QTest::newRow("0 b/s") << speed(0) << "0\u00A0Mb/s";
        QTest::newRow("999,999,999 b/s") << speed(999'999'999.0) << "1,000\u00A0Mb/s";
        QTest::newRow("1 Gb/s") << speed(1e9) << "1.0\u00A0Gb/s";
        QTest::newRow("1.25 Gb/s, tie to even") << speed(1.25e9) << "1.2\u00A0Gb/s";
        QTest::newRow("9.96 Gb/s") << speed(9.96e9) << "10.0\u00A0Gb/s";
        QTest::newRow("grouped, two places") << decimal(1234.5, 2) << "1,234.50";
        QTest::newRow("negative") << decimal(-1234.567, 1) << "-1,234.6";
        QTest::newRow("1.15 as written") << decimal(1.15, 1) << "1.2";
        QTest::newRow("1.45 tie to even") << decimal(1.45, 1) << "1.4";
        QTest::newRow("3.5 tie to even") << decimal(3.5, 0) << "4";
        QTest::newRow("carry past grouping") << decimal(999.95, 1) << "1,000.0";
        QTest::newRow("0 bytes") << bytes(0) << "Zero KB";
        QTest::newRow("1 byte") << bytes(1) << "1 byte";
        QTest::newRow("999 bytes") << bytes(999) << "999 bytes";
        QTest::newRow("1,000 bytes") << bytes(1000) << "1 KB";
        QTest::newRow("1,500 rounds up") << bytes(1500) << "2 KB";
        QTest::newRow("999,999 moves up") << bytes(999'999) << "1 MB";
        QTest::newRow("39,845,888") << bytes(39'845'888) << "39.8 MB";
        QTest::newRow("1,005,000,000 half up") << bytes(1'005'000'000) << "1.01 GB";
        QTest::newRow("largest") << bytes(std::numeric_limits<quint64>::max()) << "18.45 EB";
    }
    void numbers()
    {
        QFETCH(std::function<QString()>, format);
        QFETCH(QString, expected);
        QCOMPARE(format(), expected);
        // Units and digits are never translated, whatever the catalog says.
        Localization::install("de", QJsonObject{{"\u00A0Gb/s", "x"}, {"Mb/s", "y"}, {"KB", "z"}});
        QCOMPARE(format(), expected);
    }

    void regions_data()
    {
        QTest::addColumn<QLocale>("region");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany)
                                << QStringList{"12.345 files", "9.223.372.036.854.775.807", "1.5", "1,23 GB"};
        // Arabic-Indic digits and separator, the fraction of a byte count included.
        QTest::newRow("Arabic, Egypt") << QLocale(QLocale::Arabic, QLocale::Egypt)
                                       << QStringList{"١٢٬٣٤٥ files", "٩٬٢٢٣٬٣٧٢٬٠٣٦٬٨٥٤٬٧٧٥٬٨٠٧", "1.5", "١٫٢٣ GB"};
    }
    void regions()
    {
        QFETCH(QLocale, region);
        QFETCH(QStringList, expected);
        Localization::install("de", {});
        Localization::overrideRegion(region);
        // Integers follow the region, not the language; doubles are plain descriptions.
        QCOMPARE((QStringList{Lp("{n} file", "{n} files", 12345), L("{n}", {{"n", std::numeric_limits<std::uint64_t>::max()}}),
                              L("{x}", {{"x", 1.5}}), Localization::byteCount(1'234'567'890)}),
                 expected);
    }

    void byteCountTranslatesItsWords()
    {
        Localization::install("fr", QJsonObject{{"Zero KB", "Zéro Ko"}, {"{n} bytes", QJsonObject{{"one", "{n} octet"},
                                                                                                  {"other", "{n} octets"}}}});
        QCOMPARE((QStringList{Localization::byteCount(0), Localization::byteCount(1), Localization::byteCount(512)}),
                 (QStringList{"Zéro Ko", "1 octet", "512 octets"}));
    }

    // The real path: Qt reads the region from the environment of a fresh process.
    void systemRegion()
    {
        const auto lines = test::runProbe(test::probeProgram(), {"number=1234", "decimal=1234.5,2", "speed=40000000000", "bytes=1234567890"},
            {{"LANG", "de_DE.UTF-8"}, {"LC_ALL", std::nullopt}, {"LC_NUMERIC", std::nullopt}, {"CV_LANGUAGE", "en"}});
        QCOMPARE(lines.value_or(QStringList{"probe failed"}), (QStringList{"1.234", "1.234,50", "40,0\u00A0Gb/s", "1,23 GB"}));
    }
};

QTEST_GUILESS_MAIN(FormatTest)
#include "tst_format.moc"

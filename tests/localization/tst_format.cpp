// Lists, speeds, decimals and byte counts, in the US region and, through the real
// system region of a child process, in a German one.
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
        qputenv("CV_LANGUAGE", "en");
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
        QTest::newRow("three") << QStringList{"a", "b", "c"} << "a, b and c" << "a; b und c";
        QTest::newRow("items with braces") << QStringList{"{last}", "{items}"} << "{last} and {items}"
                                           << "{last} und {items}";
    }
    void list()
    {
        QFETCH(QStringList, items);
        QFETCH(QString, english);
        QFETCH(QString, translated);
        QCOMPARE(Localization::list(items), english);
        Localization::install(QStringLiteral("de"), QJsonObject{{", ", "; "}, {"{items} and {last}", "{items} und {last}"}});
        QCOMPARE(Localization::list(items), translated);
    }

    void speed_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<QByteArray>("utf8");
        QTest::newRow("0") << 0.0 << QByteArray("0\xC2\xA0Mb/s");
        QTest::newRow("480,000,000") << 480e6 << QByteArray("480\xC2\xA0Mb/s");
        QTest::newRow("999,999,999 keeps Mb/s") << 999'999'999.0 << QByteArray("1,000\xC2\xA0Mb/s");
        QTest::newRow("1,000,000,000 inclusive") << 1e9 << QByteArray("1.0\xC2\xA0Gb/s");
        QTest::newRow("1,250,000,000 tie to even") << 1.25e9 << QByteArray("1.2\xC2\xA0Gb/s");
        QTest::newRow("40,000,000,000") << 40e9 << QByteArray("40.0\xC2\xA0Gb/s");
        QTest::newRow("1,234,000,000,000") << 1.234e12 << QByteArray("1,234.0\xC2\xA0Gb/s");
    }
    void speed()
    {
        QFETCH(double, rate);
        QFETCH(QByteArray, utf8);
        QCOMPARE(Localization::speed(rate).toUtf8(), utf8);
        // The unit is not translated, whatever the catalog says.
        Localization::install(QStringLiteral("de"), QJsonObject{{" Gb/s", "x"}, {"Mb/s", "y"}});
        QCOMPARE(Localization::speed(rate).toUtf8(), utf8);
    }

    void decimal_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("places");
        QTest::addColumn<QString>("expected");
        QTest::newRow("grouped, two places") << 1234.5 << 2 << "1,234.50";
        QTest::newRow("no places rounds") << 3.6 << 0 << "4";
        QTest::newRow("negative") << -1234.567 << 1 << "-1,234.6";
        // Rounded as written, ties to even: 1.15 is 1.1499999... in binary.
        QTest::newRow("1.15 as written") << 1.15 << 1 << "1.2";
        QTest::newRow("1.45 tie to even") << 1.45 << 1 << "1.4";
        QTest::newRow("2.5 tie to even") << 2.5 << 0 << "2";
        QTest::newRow("3.5 tie to even") << 3.5 << 0 << "4";
        QTest::newRow("carry past the grouping") << 999.95 << 1 << "1,000.0";
        QTest::newRow("half of a long value") << 123456.785 << 2 << "123,456.78";
    }
    void decimal()
    {
        QFETCH(double, value);
        QFETCH(int, places);
        QFETCH(QString, expected);
        QCOMPARE(Localization::decimal(value, places), expected);
    }

    void byteCount_data()
    {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0") << quint64(0) << "Zero KB";
        QTest::newRow("1") << quint64(1) << "1 byte";
        QTest::newRow("1,499") << quint64(1499) << "1 KB";
        QTest::newRow("1,500 rounds up") << quint64(1500) << "2 KB";
        QTest::newRow("999,999 moves up") << quint64(999'999) << "1 MB";
        QTest::newRow("39,845,888") << quint64(39'845'888) << "39.8 MB";
        QTest::newRow("1,234,567,890") << quint64(1'234'567'890) << "1.23 GB";
        QTest::newRow("1,005,000,000 half up") << quint64(1'005'000'000) << "1.01 GB";
        QTest::newRow("3,140,000,000,000") << quint64(3'140'000'000'000) << "3.14 TB";
        QTest::newRow("largest") << std::numeric_limits<quint64>::max() << "18.45 EB";
    }
    void byteCount()
    {
        QFETCH(quint64, bytes);
        QFETCH(QString, expected);
        QCOMPARE(Localization::byteCount(bytes), expected); // a plain space, unlike speeds
    }

    void byteCountTranslatesItsWords()
    {
        Localization::install(QStringLiteral("fr"), QJsonObject{
            {"Zero KB", "Zéro Ko"},
            {"{n} bytes", QJsonObject{{"one", "{n} octet"}, {"other", "{n} octets"}}},
        });
        QCOMPARE(Localization::byteCount(0), QStringLiteral("Zéro Ko"));
        QCOMPARE(Localization::byteCount(1), QStringLiteral("1 octet"));
        QCOMPARE(Localization::byteCount(512), QStringLiteral("512 octets"));
    }

    // The real path: Qt reads the region from the environment of a fresh process.
    void systemRegion_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("German") << "de_DE.UTF-8"
                                << QStringList{"1.234", "1.234,50", "40,0\u00A0Gb/s", "1.000\u00A0Mb/s", "1,23 GB", "en"};
        QTest::newRow("US") << "en_US.UTF-8"
                            << QStringList{"1,234", "1,234.50", "40.0\u00A0Gb/s", "1,000\u00A0Mb/s", "1.23 GB", "en"};
    }
    void systemRegion()
    {
        QFETCH(QString, lang);
        QFETCH(QStringList, expected);
        const QStringList commands{"number=1234",     "decimal=1234.5,2", "speed=40000000000",
                                   "speed=999999999", "bytes=1234567890", "language"};
        const auto lines = test::runProbe(test::probeProgram(), commands,
            {{"LANG", lang}, {"LC_ALL", std::nullopt}, {"LC_NUMERIC", std::nullopt}, {"LANGUAGE", std::nullopt},
             {"CV_LANGUAGE", QStringLiteral("en")}});
        QCOMPARE(lines.value_or(QStringList{"probe failed"}).join(" | "), expected.join(" | "));
    }
};

QTEST_GUILESS_MAIN(FormatTest)
#include "tst_format.moc"

// Translation of the English messages the service writes: exact entries and
// templates with captured parts.
#include "localization/localization.h"

#include <QTest>

using namespace cv;

using Captures = QMap<QString, QString>;
Q_DECLARE_METATYPE(Captures)

class ServiceTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        qputenv("CV_LANGUAGE", "en");
        Localization::reset();
    }

    void matchTemplate_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("matches");
        QTest::addColumn<Captures>("captures");
        QTest::newRow("first separator ends a value")
            << "{a} of {b}" << "3 of 4 of 5" << true << Captures{{"a", "3"}, {"b", "4 of 5"}};
        QTest::newRow("two parts") << "Couldn’t copy {file} to {folder}."
                                   << "Couldn’t copy a.txt to Desktop." << true
                                   << Captures{{"file", "a.txt"}, {"folder", "Desktop"}};
        QTest::newRow("leading placeholder") << "{n} items skipped" << "12 items skipped" << true
                                             << Captures{{"n", "12"}};
        QTest::newRow("trailing text") << "Couldn’t read {name}." << "Couldn’t read x. Try again" << false
                                       << Captures{};
        QTest::newRow("empty last capture") << "Missing {name}" << "Missing " << false << Captures{};
        QTest::newRow("empty middle capture") << "{a} of {b}" << " of 4" << false << Captures{};
        QTest::newRow("separator absent") << "{a} of {b}" << "3 from 4" << false << Captures{};
        QTest::newRow("prefix differs in case") << "copied {n}" << "Copied 3" << false << Captures{};
        QTest::newRow("prefix longer than message") << "Transfer failed: {why}" << "Transfer" << false
                                                    << Captures{};
        QTest::newRow("adjacent placeholders") << "{a}{b}" << "xy" << false << Captures{};
        QTest::newRow("name used twice keeps the later") << "{a}-{a}" << "x-y" << true << Captures{{"a", "y"}};
        QTest::newRow("no placeholder, same text") << "Disk full" << "Disk full" << true << Captures{};
        QTest::newRow("no placeholder, longer text") << "Disk full" << "Disk full!" << false << Captures{};
        QTest::newRow("lone brace is literal") << "Size {n} {" << "Size 4 {" << true << Captures{{"n", "4"}};
        QTest::newRow("lone brace only") << "Open { file" << "Open { file" << true << Captures{};
        QTest::newRow("capture keeps the service's digits") << "Skipped {n} items" << "Skipped 1234 items"
                                                             << true << Captures{{"n", "1234"}};
        QTest::newRow("capture with braces") << "Name: {x}" << "Name: {y}" << true << Captures{{"x", "{y}"}};
    }

    void matchTemplate()
    {
        QFETCH(QString, key);
        QFETCH(QString, message);
        QFETCH(bool, matches);
        QFETCH(Captures, captures);
        const auto result = Localization::matchTemplate(key, message);
        QCOMPARE(result.has_value(), matches);
        if (matches)
            QCOMPARE(*result, captures);
    }

    void translate_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");
        QTest::newRow("exact entry") << "Disk full" << "Datenträger voll";
        QTest::newRow("reordered placeholders") << "Couldn’t copy a.txt to Desktop"
                                                << "Desktop: a.txt konnte nicht kopiert werden";
        QTest::newRow("of, reordered") << "3 of 4 of 5" << "4 of 5 von 3";
        QTest::newRow("exact entry wins over template") << "Failed: disk full" << "Festplatte voll";
        QTest::newRow("template beside an exact entry") << "Failed: timeout" << "Fehler: timeout";
        QTest::newRow("exact entry with braces is not filled") << "Exact {x} key" << "Genauer Schlüssel {x}";
        QTest::newRow("digits kept as written") << "Skipped 1234 items" << "1234 Elemente übersprungen";
        QTest::newRow("trailing text: unchanged") << "Skipped 3 items today" << "Skipped 3 items today";
        QTest::newRow("empty capture: unchanged") << "Failed: " << "Failed: ";
        QTest::newRow("plural entry is no template") << "3 files" << "3 files";
        QTest::newRow("non-text value is no template") << "Code 7" << "Code 7";
        QTest::newRow("unknown: unchanged") << "Something odd happened" << "Something odd happened";
        QTest::newRow("empty message") << "" << "";
    }

    void translate()
    {
        QFETCH(QString, message);
        QFETCH(QString, expected);
        Localization::install(
            QStringLiteral("de"),
            QJsonObject{
                {QStringLiteral("Disk full"), QStringLiteral("Datenträger voll")},
                {QStringLiteral("Couldn’t copy {file} to {folder}"),
                 QStringLiteral("{folder}: {file} konnte nicht kopiert werden")},
                {QStringLiteral("{a} of {b}"), QStringLiteral("{b} von {a}")},
                {QStringLiteral("Failed: {reason}"), QStringLiteral("Fehler: {reason}")},
                {QStringLiteral("Failed: disk full"), QStringLiteral("Festplatte voll")},
                {QStringLiteral("Exact {x} key"), QStringLiteral("Genauer Schlüssel {x}")},
                {QStringLiteral("Skipped {n} items"), QStringLiteral("{n} Elemente übersprungen")},
                {QStringLiteral("{n} files"),
                 QJsonObject{{QStringLiteral("one"), QStringLiteral("{n} Datei")},
                             {QStringLiteral("other"), QStringLiteral("{n} Dateien")}}},
                {QStringLiteral("Code {c}"), 7},
            });
        QCOMPARE(Localization::service(message), expected);
    }

    void overlappingTemplatesInKeyOrder()
    {
        // Both templates match "Error: failed"; the one whose key sorts first wins,
        // whatever order the catalog lists them in.
        const QString a = QStringLiteral("Error: {x}");
        const QString b = QStringLiteral("{y}: failed");
        QVERIFY(a < b);
        for (int round = 0; round < 2; ++round) {
            QJsonObject catalog;
            if (round == 0) {
                catalog.insert(a, QStringLiteral("A {x}"));
                catalog.insert(b, QStringLiteral("B {y}"));
            } else {
                catalog.insert(b, QStringLiteral("B {y}"));
                catalog.insert(a, QStringLiteral("A {x}"));
            }
            Localization::install(QStringLiteral("fr"), catalog);
            QCOMPARE(Localization::service(QStringLiteral("Error: failed")), QStringLiteral("A failed"));
            QCOMPARE(Localization::service(QStringLiteral("Disk: failed")), QStringLiteral("B Disk"));
        }
    }

    void manyTemplates()
    {
        QJsonObject catalog;
        for (int i = 0; i < 300; ++i)
            catalog.insert(QStringLiteral("Problem %1 with {item}").arg(i), QStringLiteral("Problème %1 : {item}").arg(i));
        Localization::install(QStringLiteral("fr"), catalog);
        QCOMPARE(Localization::service(QStringLiteral("Problem 217 with a.txt")), QStringLiteral("Problème 217 : a.txt"));
        QCOMPARE(Localization::service(QStringLiteral("Problem 300 with a.txt")), QStringLiteral("Problem 300 with a.txt"));
    }

    void englishReturnsEveryMessage()
    {
        qputenv("CV_LANGUAGE", "en");
        Localization::reset();
        for (const char *message : {"Disk full", "3 of 4 of 5", "Failed: {reason}", "Skipped 1234 items"})
            QCOMPARE(Localization::service(QString::fromUtf8(message)), QString::fromUtf8(message));
    }
};

QTEST_GUILESS_MAIN(ServiceTest)
#include "tst_service.moc"

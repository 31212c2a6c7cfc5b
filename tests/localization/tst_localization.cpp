// The language choice, text lookup, placeholders, plurals, service messages, number
// formats and catalog files.
#include "localization/localization.h"
#include "../views/table.h"
#include "test_files.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QTest>

#include <limits>

using namespace cv;
using namespace cv::test;

namespace {

using Format = std::function<QString()>;

// Qt reads the system's languages once, when first asked: before any test runs.
const bool systemLanguages = qputenv("LANGUAGE", "xx:fr_CA");

QJsonObject forms(std::initializer_list<std::pair<const char *, const char *>> entries)
{
    QJsonObject object;
    for (const auto &[category, text] : entries)
        object.insert(QString::fromUtf8(category), QString::fromUtf8(text));
    return object;
}

Format plurals(std::initializer_list<qint64> counts)
{
    return [list = QList<qint64>(counts)] {
        QStringList out;
        for (const qint64 count : list)
            out << Lp("{n} file", "{n} files", count);
        return out.join('|');
    };
}

Format service(const char *message)
{
    return [text = QString::fromUtf8(message)] { return Localization::service(text); };
}

// The texts of a C++ source: its string literals, comments left out and literals that
// only white space separates joined, as the compiler joins them.
QStringList literals(const QString &code)
{
    QStringList found;
    bool joining = false; // only white space since the last literal
    const auto identifier = [&](qsizetype at) { return at >= 0 && (code.at(at).isLetterOrNumber() || code.at(at) == '_'); };
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i);
        if (code.mid(i, 2) == "//" || code.mid(i, 2) == "/*") { // counts as white space
            const bool line = code.at(i + 1) == '/';
            i = line ? code.indexOf('\n', i) : code.indexOf("*/", i + 2) + 1;
            if (i <= 0)
                break;
            continue;
        }
        if (c == '\'' && !identifier(i - 1)) { // not a digit separator
            for (++i; i < code.size() && code.at(i) != '\''; ++i)
                i += code.at(i) == '\\';
        } else if (c == '"') {
            QString text;
            if (i > 0 && code.at(i - 1) == 'R' && !identifier(i - 2)) {
                const qsizetype open = code.indexOf('(', i);
                const QString close = ')' + code.mid(i + 1, open - i - 1) + '"';
                const qsizetype end = code.indexOf(close, open);
                text = code.mid(open + 1, end - open - 1);
                i = end + close.size() - 1;
            } else {
                for (++i; i < code.size() && code.at(i) != '"'; ++i) {
                    const bool escaped = code.at(i) == '\\' && ++i < code.size();
                    text += escaped && QStringLiteral("ntr").contains(code.at(i)) ? QChar(' ') : code.at(i);
                }
            }
            if (joining)
                found.last() += text;
            else
                found << text;
            joining = true;
            continue;
        } else if (c.isSpace()) {
            continue;
        }
        joining = false;
    }
    return found;
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
        columns<QStringList, QString>("tags", "language");
        QTest::newRow("pt_PT") << QStringList{"pt_PT"} << "pt-BR";
        QTest::newRow("zh-MO") << QStringList{"zh-MO"} << "zh-Hant";
        QTest::newRow("zh-Hans-HK: the region decides") << QStringList{"zh-Hans-HK"} << "zh-Hant";
        QTest::newRow("nn-NO") << QStringList{"nn-NO"} << "nb";
        QTest::newRow("EN-gb before de") << QStringList{"EN-gb", "de"} << "en";
        QTest::newRow("unsupported, then fr-CA") << QStringList{"xx-YY", "-_-", "fr-CA"} << "fr";
    }
    void match()
    {
        auto [tags, language] = fetch<QStringList, QString>("tags", "language");
        QCOMPARE(Localization::match(tags), language);
    }

    // Chosen once until a reset; CV_LANGUAGE counts even when empty (English).
    void chosenFromTheEnvironment()
    {
        QVERIFY(systemLanguages);
        qunsetenv("CV_LANGUAGE");
        Localization::reset();
        QCOMPARE(Localization::language(), QStringLiteral("fr"));
        qputenv("CV_LANGUAGE", "");
        QCOMPARE(Localization::language(), QStringLiteral("fr"));
        Localization::reset();
        QCOMPARE(Localization::language(), QStringLiteral("en"));
    }

    void texts_data()
    {
        columns<QString, QJsonObject, Format, QString>("language", "catalog", "format", "expected");
        using U = std::uint64_t;
        const QJsonObject none;
        QTest::newRow("lookup") << "de" << QJsonObject{{"Hello", "Hallo"}, {"Number", 5}}
                                << Format([] { return L("Hello") + L("hello") + L("Number"); }) << "HallohelloNumber";
        QTest::newRow("values") << "en" << none << Format([] {
            return L("{n} {t} {u} {a} {b} {c} {d} {x}", {{"n", 1234}, {"t", "1234"}, {"u", std::numeric_limits<U>::max()},
                                                        {"a", 0.0001}, {"b", 0.00001}, {"c", -0.0}, {"d", 1.5e17}, {"x", true}});
        }) << "1,234 1234 9,223,372,036,854,775,807 0.0001 1e-05 -0.0 1.5e+17 true";
        QTest::newRow("missing names, braces") << "en" << none
            << Format([] { return L("{a} and {b} {a}{c} {", {{"a", "{c}"}, {"c", "x"}}); }) << "{c} and {b} {c}x {";
        // An inserted text keeps to its line; the sentence's own line feed stays.
        QTest::newRow("inserted texts on one line") << "en" << none
            << Format([] { return L("{a}:\n{b} {n}", {{"a", "x\ty"}, {"b", "p\r\nq"}, {"n", 2}}); }) << "x y:\np  q 2";
        // The isolation put around inserted texts (each item of a list, the list, a
        // service message's part) comes off; the marks a name holds itself stay.
        QTest::newRow("isolation taken off") << "en" << QJsonObject{{"Failed: {reason}", "Failed: {reason}"}} << Format([] {
            const QString name = QString::fromUtf8("דנה \u2066x\u2069 \u202Eabc");
            const QString shown = L("{names} failed: {error}", {{"names", Localization::list({name, "b"})},
                                                                 {"error", Localization::service(QString::fromUtf8("Failed: שלום"))}});
            return QString::number(shown.count(QChar(0x2068))) + ' ' + Localization::withoutIsolation(shown);
        }) << QString::fromUtf8("7 דנה \u2066x\u2069 \u202Eabc and b failed: Failed: שלום");
        const QJsonObject fr{{"{n} files", forms({{"one", "{n} fichier"}, {"other", "{n} fichiers"}})}};
        const QJsonObject pl{{"{n} files", forms({{"one", "{n} plik"}, {"few", "{n} pliki"}, {"many", "{n} plików"}, {"other", "-"}})}};
        QTest::newRow("en plural") << "en" << none << plurals({1, -1}) << "1 file|-1 files";
        QTest::newRow("fr plural") << "fr" << fr << plurals({0, 2}) << "0 fichier|2 fichiers";
        QTest::newRow("pl plural") << "pl" << pl << plurals({1, 22, 12, 112, 104}) << "1 plik|22 pliki|12 plików|112 plików|104 pliki";
        QTest::newRow("pl without few: other") << "pl" << QJsonObject{{"{n} files", forms({{"one", "-"}, {"other", "{n} pliku"}})}}
                                               << plurals({3}) << "3 pliku";
        QTest::newRow("a form not text: English") << "de" << QJsonObject{{"{n} files", QJsonObject{{"one", "a"}, {"other", 3}}}}
                                                  << plurals({2}) << "2 files";
        QTest::newRow("the count wins over a value") << "en" << none
            << Format([] { return Lp("A file from {f}", "{n} files from {f}", 3, {{"n", "x"}, {"f", "Mac"}}); }) << "3 files from Mac";
        const QJsonObject de{{"Disk full", "Datenträger voll"}, {"Couldn’t copy {file} to {folder}", "{folder}: {file} nicht kopiert"},
                             {"Failed: {reason}", "Fehler: {reason}"}, {"Failed: disk full", "Festplatte voll"},
                             {"Skipped {n} items", "{n} übersprungen"}, {"Size {n} {", "Größe {n} {"}, {"Wait {", "Warte {"}};
        QTest::newRow("service: exact") << "de" << de << service("Disk full") << "Datenträger voll";
        QTest::newRow("service: empty capture") << "de" << de << service("Failed: ") << "Failed: ";
        QTest::newRow("service: exact wins") << "de" << de << service("Failed: disk full") << "Festplatte voll";
        QTest::newRow("service: reordered") << "de" << de << service("Couldn’t copy a.txt to Desktop") << "Desktop: a.txt nicht kopiert";
        QTest::newRow("service: trailing text") << "de" << de << service("Skipped 3 items today") << "Skipped 3 items today";
        QTest::newRow("service: text after a template without names") << "de" << de << service("Wait { now") << "Wait { now";
        QTest::newRow("service: lone brace") << "de" << de << service("Size 4 {") << "Größe 4 {";
        const QJsonObject join{{", ", "; "}, {"{items} and {last}", "{items} und {last}"}};
        const auto list = [](QStringList items) { return Format([items] { return Localization::list(items); }); };
        QTest::newRow("list of two") << "en" << none << list({"a", "b"}) << "a and b";
        QTest::newRow("list of three") << "de" << join << list({"{last}", "b", "{items}"}) << "{last}; b und {items}";
        // Units and digits are never translated, whatever the catalog says.
        const QJsonObject units{{"\u00A0Gb/s", "x"}, {"Mb/s", "y"}, {"KB", "z"}, {"MB", "z"}, {"GB", "z"}};
        QTest::newRow("speeds") << "de" << units << Format([] {
            return Localization::speed(999'999'999.0) + '|' + Localization::speed(1e9) + '|' + Localization::speed(1.25e9);
        }) << "1,000\u00A0Mb/s|1.0\u00A0Gb/s|1.2\u00A0Gb/s";
        QTest::newRow("decimals") << "de" << units << Format([] {
            return QStringList{Localization::decimal(-1234.567, 1), Localization::decimal(1.15, 1), Localization::decimal(1.45, 1),
                               Localization::decimal(999.95, 1)}.join('|');
        }) << "-1,234.6|1.2|1.4|1,000.0";
        QTest::newRow("byte counts") << "de" << units << Format([] {
            QStringList out;
            for (const U bytes : {U(0), U(999), U(1000), U(1500), U(999'999), U(1'005'000'000), std::numeric_limits<U>::max()})
                out << Localization::byteCount(bytes);
            return out.join('|');
        }) << "Zero KB|999 bytes|1 KB|2 KB|1 MB|1.01 GB|18.45 EB";
        QTest::newRow("byte count words") << "fr" << QJsonObject{{"{n} bytes", forms({{"one", "{n} octet"}, {"other", "{n} octets"}})}}
                                          << Format([] { return Localization::byteCount(1) + '|' + Localization::byteCount(512); })
                                          << "1 octet|512 octets";
        // Integers follow the region, not the language; doubles are plain descriptions.
        QTest::newRow("Arabic region") << "de" << none << Format([] {
            Localization::overrideRegion(QLocale(QLocale::Arabic, QLocale::Egypt));
            return QStringList{Lp("{n} file", "{n} files", 12345), L("{x}", {{"x", 1.5}}), Localization::byteCount(1'234'567'890)}.join('|');
        }) << "١٢٬٣٤٥ files|1.5|١٫٢٣ GB";
    }
    void texts()
    {
        auto [language, catalog, format, expected] = fetch<QString, QJsonObject, Format, QString>("language", "catalog", "format", "expected");
        Localization::install(language, catalog);
        QCOMPARE(format(), expected);
    }

    // No text the application can show sends a Linux user to a Mac's places or programs
    // or calls this computer a Mac: every string literal of the code (so every English
    // catalog key it looks up) and every text resource. Only the demo's made-up data
    // may: the computer at the other end may well be a Mac. The service's messages and
    // their templates come from the service and the catalogs, not from this tree.
    void screenTextsNameNoMacPlaces()
    {
        static const QRegularExpression mac(R"(\b(Finder|macOS|Mac|Macintosh|System Settings|System Preferences|Login Items)\b)");
        const QMap<QString, QStringList> allowed{{"src/devtools/demo.cpp", {"Studio Mac", "Mac"}}};
        const QDir root(QStringLiteral(CV_SOURCE_DIR));
        QStringList offending;
        int scanned = 0;
        for (const char *folder : {"src", "resources"}) {
            QDirIterator files(root.filePath(QString::fromLatin1(folder)), QDir::Files, QDirIterator::Subdirectories);
            while (files.hasNext()) {
                const QString path = root.relativeFilePath(files.next());
                const QByteArray bytes = readFile(root.filePath(path));
                if (bytes.contains('\0'))
                    continue; // an image
                const QString text = QString::fromUtf8(bytes);
                const bool code = path.endsWith(".cpp") || path.endsWith(".h");
                for (const QString &shown : code ? literals(text) : QStringList{text}) {
                    ++scanned;
                    if (shown.contains(mac) && !allowed.value(path).contains(shown))
                        offending << path + ": " + shown;
                }
            }
        }
        QVERIFY(scanned > 1000);
        QVERIFY2(offending.isEmpty(), qPrintable(offending.join('\n')));
        QCOMPARE(literals("L(\"a \" /* \"no\" */ \"b\\\"\"); // \"no\"\nx('\"', 1'000, R\"x(c\")x\" \"d\")"),
                 (QStringList{"a b\"", "c\"d"}));
    }

    // An installed catalog comes before one in Resources beside the executable.
    void catalogFiles()
    {
        QTemporaryDir root;
        const auto at = [&](const char *path) { return root.filePath(QString::fromUtf8(path)); };
        QVERIFY(writeFile(at("build/Resources/l10n/de.json"), "{}") && writeFile(at("prefix/bin/Resources/l10n/de.json"), "{}")
                && writeFile(at("prefix/share/corvane/l10n/de.json"), "{\"Couldn’t “{f}”\": \"„{f}“\", \"n\": 5}")
                && writeFile(at("bad.json"), "{\"Hello\": }") && writeFile(at("array.json"), "[\"Hello\"]"));
        QCOMPARE(Localization::catalogFile("de", AppBundle(at("build/probe"), {})), at("build/Resources/l10n/de.json"));
        QCOMPARE(Localization::catalogFile("fr", AppBundle(at("build/probe"), {})), std::nullopt);
        const auto installed = Localization::catalogFile("de", AppBundle(at("prefix/bin/corvane"), {}));
        QCOMPARE(installed, at("prefix/share/corvane/l10n/de.json"));
        QCOMPARE(Localization::loadCatalog(*installed), (QJsonObject{{"Couldn’t “{f}”", "„{f}“"}, {"n", 5}}));
        QCOMPARE(Localization::loadCatalog(at("bad.json")), QJsonObject());
        QCOMPARE(Localization::loadCatalog(at("array.json")), QJsonObject());
    }
};

QTEST_GUILESS_MAIN(LocalizationTest)
#include "tst_localization.moc"

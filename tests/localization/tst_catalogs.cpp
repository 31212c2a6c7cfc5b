// Finding and reading catalog files, and the language choice of a whole process: the
// probe program is copied into temporary layouts (a build folder, an installed
// prefix) with catalogs of the test's own beside it.
#include "localization/localization.h"
#include "probe_run.h"

#include <QTemporaryDir>
#include <QTest>

using namespace cv;
using namespace cv::test;

using Files = QMap<QString, QByteArray>;
using Setting = std::optional<QString>;

class CatalogsTest : public QObject {
    Q_OBJECT
private slots:
    void loadCatalog_data()
    {
        QTest::addColumn<std::optional<QByteArray>>("content");
        QTest::addColumn<QJsonObject>("expected");
        QTest::newRow("missing file") << std::optional<QByteArray>() << QJsonObject();
        QTest::newRow("empty file") << std::optional<QByteArray>("") << QJsonObject();
        QTest::newRow("invalid JSON") << std::optional<QByteArray>("{\"Hello\": }") << QJsonObject();
        QTest::newRow("top level not an object") << std::optional<QByteArray>("[\"Hello\", \"Hallo\"]") << QJsonObject();
        QTest::newRow("object") << std::optional<QByteArray>("{\"Hello\": \"Hallo\", \"n\": 5}")
                                << QJsonObject{{"Hello", "Hallo"}, {"n", 5}};
        QTest::newRow("UTF-8 keys") << std::optional<QByteArray>("{\"Couldn’t open “{f}”…\": \"„{f}“…\"}")
                                    << QJsonObject{{QStringLiteral("Couldn’t open “{f}”…"), QStringLiteral("„{f}“…")}};
    }
    void loadCatalog()
    {
        QFETCH(std::optional<QByteArray>, content);
        QFETCH(QJsonObject, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("de.json"));
        QVERIFY(!content || writeFile(path, *content));
        QCOMPARE(Localization::loadCatalog(path), expected);
    }

    // A whole process: the probe prints its language, L("Hello") and how many times it
    // looked for a catalog file or read one.
    void process_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<Files>("files");
        QTest::addColumn<Setting>("cvLanguage");
        QTest::addColumn<Setting>("uiLanguages");
        QTest::addColumn<QStringList>("expected");
        const QByteArray hallo = R"({"Hello": "Hallo"})";
        const QByteArray bonjour = R"({"Hello": "Bonjour"})";
        const Setting none;
        QTest::newRow("beside the executable") << "build/probe" << Files{{"build/Resources/l10n/de.json", hallo}}
                                               << Setting("de") << none << QStringList{"de", "Hallo", "2"};
        QTest::newRow("installed before beside")
            << "prefix/bin/corvane"
            << Files{{"prefix/share/corvane/l10n/de.json", R"j({"Hello": "Hallo (installiert)"})j"},
                     {"prefix/bin/Resources/l10n/de.json", hallo}}
            << Setting("de") << none << QStringList{"de", "Hallo (installiert)", "2"};
        QTest::newRow("packaged, only beside")
            << "prefix/bin/corvane"
            << Files{{"prefix/share/corvane/l10n/fr.json", bonjour}, {"prefix/bin/Resources/l10n/de.json", hallo}}
            << Setting("de") << none << QStringList{"de", "Hallo", "2"};
        QTest::newRow("a build tree ignores share") << "build/bin/corvane-dev"
                                                    << Files{{"build/share/corvane/l10n/de.json", hallo}}
                                                    << Setting("de") << none << QStringList{"de", "Hello", "1"};
        // The language stays German (plural rules), the texts English.
        QTest::newRow("invalid JSON") << "build/probe" << Files{{"build/Resources/l10n/de.json", R"({"Hello": "Hallo",,})"}}
                                      << Setting("de") << none << QStringList{"de", "Hello", "2"};
        QTest::newRow("a value not a string")
            << "build/probe" << Files{{"build/Resources/l10n/de.json", R"({"Hello": ["Hallo"], "Yes": "Ja"})"}}
            << Setting("de") << none << QStringList{"de", "Hello", "2"};
        QTest::newRow("no catalog") << "build/probe" << Files{} << Setting("de") << none << QStringList{"de", "Hello", "1"};
        // English reads no file, even with catalogs that would show.
        const Files traps{{"build/Resources/l10n/en.json", bonjour}, {"build/Resources/l10n/fr.json", bonjour}};
        const QStringList english{"en", "Hello", "0"};
        QTest::newRow("CV_LANGUAGE en") << "build/probe" << traps << Setting("en") << none << english;
        QTest::newRow("CV_LANGUAGE en-GB") << "build/probe" << traps << Setting("en-GB") << Setting("fr") << english;
        QTest::newRow("CV_LANGUAGE empty") << "build/probe" << traps << Setting("") << Setting("fr") << english;
        QTest::newRow("CV_LANGUAGE unsupported") << "build/probe" << traps << Setting("xx") << Setting("fr") << english;
        QTest::newRow("system English") << "build/probe" << traps << none << Setting("en_US") << english;
        // Without CV_LANGUAGE: the system's languages, in a build tree or packaged.
        const QStringList french{"fr", "Bonjour", "2"};
        QTest::newRow("system French") << "build/probe" << traps << none << Setting("fr_FR") << french;
        QTest::newRow("unsupported, then French") << "build/probe" << traps << none << Setting("xx:fr_CA") << french;
        const Files installed{{"prefix/share/corvane/l10n/fr.json", bonjour}};
        QTest::newRow("packaged") << "prefix/bin/corvane" << installed << none << Setting("fr_CA:de") << french;
        QTest::newRow("packaged, no catalog for the choice")
            << "prefix/bin/corvane" << installed << none << Setting("pl") << QStringList{"pl", "Hello", "1"};
    }
    void process()
    {
        QFETCH(QString, exe);
        QFETCH(Files, files);
        QFETCH(Setting, cvLanguage);
        QFETCH(Setting, uiLanguages);
        QFETCH(QStringList, expected);
        QTemporaryDir root;
        const QString program = root.filePath(exe);
        QVERIFY(placeProbe(program));
        for (auto it = files.constBegin(); it != files.constEnd(); ++it)
            QVERIFY(writeFile(root.filePath(it.key()), it.value()));
        const auto lines = runProbe(program, {"language", "text=Hello", "reads"},
                                    {{"CV_LANGUAGE", cvLanguage}, {"LANGUAGE", uiLanguages},
                                     {"LANG", QStringLiteral("en_US.UTF-8")}, {"LC_ALL", Setting()}, {"LC_MESSAGES", Setting()}});
        QCOMPARE(lines.value_or(QStringList{"probe failed"}).join(" | "), expected.join(" | "));
    }
};

QTEST_GUILESS_MAIN(CatalogsTest)
#include "tst_catalogs.moc"

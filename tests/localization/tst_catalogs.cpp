// Finding and reading catalog files, and the language choice of a whole process:
// the probe program is copied into temporary layouts (a build folder, an installed
// prefix) with catalogs of the test's own beside it.
#include "localization/localization.h"
#include "platform/app_bundle.h"
#include "probe_run.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;

namespace {

using Env = QMap<QString, std::optional<QString>>;

// The test's own environment with the interface language and the system's
// preferred languages set as given.
Env languages(std::optional<QString> cvLanguage, std::optional<QString> uiLanguages)
{
    return {{"CV_LANGUAGE", cvLanguage},
            {"LANGUAGE", uiLanguages},
            {"LANG", QStringLiteral("en_US.UTF-8")},
            {"LC_ALL", std::nullopt},
            {"LC_MESSAGES", std::nullopt}};
}

} // namespace

class CatalogsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        qputenv("CV_LANGUAGE", "en");
        Localization::reset();
    }

    void loadCatalog_data()
    {
        QTest::addColumn<std::optional<QByteArray>>("content");
        QTest::addColumn<QJsonObject>("expected");
        QTest::newRow("missing file") << std::optional<QByteArray>() << QJsonObject();
        QTest::newRow("empty file") << std::optional<QByteArray>("") << QJsonObject();
        QTest::newRow("invalid JSON") << std::optional<QByteArray>("{\"Hello\": }") << QJsonObject();
        QTest::newRow("truncated") << std::optional<QByteArray>("{\"Hello\": \"Hallo\"") << QJsonObject();
        QTest::newRow("array") << std::optional<QByteArray>("[\"Hello\", \"Hallo\"]") << QJsonObject();
        QTest::newRow("string") << std::optional<QByteArray>("\"Hallo\"") << QJsonObject();
        QTest::newRow("object") << std::optional<QByteArray>("{\"Hello\": \"Hallo\", \"n\": 5}")
                                << QJsonObject{{"Hello", "Hallo"}, {"n", 5}};
        QTest::newRow("utf-8 keys") << std::optional<QByteArray>("{\"Couldn’t open “{f}”…\": \"„{f}“…\"}")
                                    << QJsonObject{{QStringLiteral("Couldn’t open “{f}”…"), QStringLiteral("„{f}“…")}};
    }

    void loadCatalog()
    {
        QFETCH(std::optional<QByteArray>, content);
        QFETCH(QJsonObject, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("de.json"));
        if (content)
            QVERIFY(test::writeFile(path, *content));
        QCOMPARE(Localization::loadCatalog(path), expected);
    }

    void loadCatalogOfAFolder()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("de.json"))));
        QCOMPARE(Localization::loadCatalog(dir.filePath(QStringLiteral("de.json"))), QJsonObject());
    }

    void catalogFile_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("expected");
        QTest::newRow("installed") << "prefix/bin/corvane" << QStringList{"prefix/share/corvane/l10n/de.json"}
                                   << "prefix/share/corvane/l10n/de.json";
        QTest::newRow("installed before beside")
            << "prefix/bin/corvane"
            << QStringList{"prefix/share/corvane/l10n/de.json", "prefix/bin/Resources/l10n/de.json"}
            << "prefix/share/corvane/l10n/de.json";
        QTest::newRow("packaged, only beside")
            << "prefix/bin/corvane"
            << QStringList{"prefix/share/corvane/l10n/fr.json", "prefix/bin/Resources/l10n/de.json"}
            << "prefix/bin/Resources/l10n/de.json";
        QTest::newRow("build tree, beside") << "build/src/app/corvane"
                                            << QStringList{"build/src/app/Resources/l10n/de.json"}
                                            << "build/src/app/Resources/l10n/de.json";
        QTest::newRow("build tree ignores share")
            << "build/bin/corvane-dev" << QStringList{"build/share/corvane/l10n/de.json"} << "";
        QTest::newRow("other language only") << "build/app" << QStringList{"build/Resources/l10n/fr.json"} << "";
        QTest::newRow("nothing") << "build/app" << QStringList{} << "";
    }

    void catalogFile()
    {
        QFETCH(QString, exe);
        QFETCH(QStringList, files);
        QFETCH(QString, expected);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QVERIFY(test::writeFile(root.filePath(exe), "#!/bin/sh\n"));
        for (const QString &file : files)
            QVERIFY(test::writeFile(root.filePath(file), "{}"));
        const AppBundle bundle(root.filePath(exe), AppBundle::defaultInfo());
        const auto found = Localization::catalogFile(QStringLiteral("de"), bundle);
        if (expected.isEmpty()) {
            QVERIFY(!found);
        } else {
            QVERIFY(found);
            QCOMPARE(QFileInfo(*found).canonicalFilePath(), QFileInfo(root.filePath(expected)).canonicalFilePath());
        }
    }

    void noExecutable()
    {
        const AppBundle bundle(QString(), {});
        QVERIFY(!Localization::catalogFile(QStringLiteral("de"), bundle));
    }

    void besideTheExecutable()
    {
        QTemporaryDir root;
        const QString program = root.filePath(QStringLiteral("build/probe"));
        QVERIFY(test::placeProbe(program));
        QVERIFY(test::writeFile(root.filePath(QStringLiteral("build/Resources/l10n/de.json")),
                                R"({"Hello": "Hallo", "{n} of {m}": "{n} von {m}"})"));
        const auto lines = test::runProbe(program, {"language", "text=Hello", "text=Bye"},
                                          languages(QStringLiteral("de"), std::nullopt));
        QVERIFY(lines);
        QCOMPARE(*lines, (QStringList{"de", "Hallo", "Bye"}));
    }

    void installedBeforeBeside()
    {
        QTemporaryDir root;
        const QString program = root.filePath(QStringLiteral("prefix/bin/corvane"));
        QVERIFY(test::placeProbe(program));
        const QString installed = root.filePath(QStringLiteral("prefix/share/corvane/l10n/de.json"));
        QVERIFY(test::writeFile(installed, R"j({"Hello": "Hallo (installiert)"})j"));
        QVERIFY(test::writeFile(root.filePath(QStringLiteral("prefix/bin/Resources/l10n/de.json")),
                                R"j({"Hello": "Hallo (daneben)"})j"));
        auto lines = test::runProbe(program, {"language", "text=Hello"}, languages(QStringLiteral("de"), std::nullopt));
        QVERIFY(lines);
        QCOMPARE(*lines, (QStringList{"de", "Hallo (installiert)"}));

        QVERIFY(QFile::remove(installed));
        lines = test::runProbe(program, {"language", "text=Hello"}, languages(QStringLiteral("de"), std::nullopt));
        QVERIFY(lines);
        QCOMPARE(*lines, (QStringList{"de", "Hallo (daneben)"}));
    }

    void brokenCatalogFallsBackToEnglish_data()
    {
        QTest::addColumn<std::optional<QByteArray>>("content");
        QTest::newRow("missing") << std::optional<QByteArray>();
        QTest::newRow("invalid JSON") << std::optional<QByteArray>("{\"Hello\": \"Hallo\",,}");
        QTest::newRow("array") << std::optional<QByteArray>("[{\"Hello\": \"Hallo\"}]");
        QTest::newRow("not a string") << std::optional<QByteArray>("{\"Hello\": [\"Hallo\"], \"Yes\": \"Ja\"}");
    }

    void brokenCatalogFallsBackToEnglish()
    {
        QFETCH(std::optional<QByteArray>, content);
        QTemporaryDir root;
        const QString program = root.filePath(QStringLiteral("build/probe"));
        QVERIFY(test::placeProbe(program));
        if (content)
            QVERIFY(test::writeFile(root.filePath(QStringLiteral("build/Resources/l10n/de.json")), *content));
        const auto lines = test::runProbe(program, {"language", "text=Hello"},
                                          languages(QStringLiteral("de"), std::nullopt));
        QVERIFY(lines);
        // The language stays German (plural rules), the texts English.
        QCOMPARE(*lines, (QStringList{"de", "Hello"}));
    }

    void englishReadsNoFile_data()
    {
        QTest::addColumn<std::optional<QString>>("cvLanguage");
        QTest::addColumn<std::optional<QString>>("uiLanguages");
        QTest::newRow("CV_LANGUAGE en") << std::optional<QString>("en") << std::optional<QString>();
        QTest::newRow("CV_LANGUAGE en-GB") << std::optional<QString>("en-GB") << std::optional<QString>("fr");
        QTest::newRow("CV_LANGUAGE empty, system French") << std::optional<QString>("") << std::optional<QString>("fr");
        QTest::newRow("CV_LANGUAGE unsupported, system French") << std::optional<QString>("xx")
                                                                << std::optional<QString>("fr");
        QTest::newRow("system English") << std::optional<QString>() << std::optional<QString>("en_US");
    }

    void englishReadsNoFile()
    {
        QFETCH(std::optional<QString>, cvLanguage);
        QFETCH(std::optional<QString>, uiLanguages);
        QTemporaryDir root;
        const QString program = root.filePath(QStringLiteral("build/probe"));
        QVERIFY(test::placeProbe(program));
        // Catalogs that would show if anything were read.
        for (const char *language : {"en", "fr"})
            QVERIFY(test::writeFile(root.filePath(QStringLiteral("build/Resources/l10n/%1.json").arg(language)),
                                    R"({"Hello": "Bonjour"})"));
        const auto lines = test::runProbe(program, {"language", "text=Hello", "reads"},
                                          languages(cvLanguage, uiLanguages));
        QVERIFY(lines);
        QCOMPARE(*lines, (QStringList{"en", "Hello", "0"}));
    }

    void systemLanguages_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QString>("catalog");
        QTest::addColumn<QString>("uiLanguages");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("hello");
        QTest::newRow("build tree, system French")
            << "build/probe" << "build/Resources/l10n/fr.json" << "fr_FR" << "fr" << "Bonjour";
        QTest::newRow("build tree, unsupported then French")
            << "build/probe" << "build/Resources/l10n/fr.json" << "xx:fr_CA" << "fr" << "Bonjour";
        QTest::newRow("packaged, user's languages")
            << "prefix/bin/corvane" << "prefix/share/corvane/l10n/fr.json" << "fr_CA:de" << "fr" << "Bonjour";
        QTest::newRow("packaged, no catalog for the choice")
            << "prefix/bin/corvane" << "prefix/share/corvane/l10n/fr.json" << "pl" << "pl" << "Hello";
    }

    void systemLanguages()
    {
        QFETCH(QString, exe);
        QFETCH(QString, catalog);
        QFETCH(QString, uiLanguages);
        QFETCH(QString, language);
        QFETCH(QString, hello);
        QTemporaryDir root;
        const QString program = root.filePath(exe);
        QVERIFY(test::placeProbe(program));
        QVERIFY(test::writeFile(root.filePath(catalog), R"({"Hello": "Bonjour"})"));
        const auto lines = test::runProbe(program, {"language", "text=Hello"}, languages(std::nullopt, uiLanguages));
        QVERIFY(lines);
        QCOMPARE(*lines, (QStringList{language, hello}));
    }
};

QTEST_GUILESS_MAIN(CatalogsTest)
#include "tst_catalogs.moc"

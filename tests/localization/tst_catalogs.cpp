// Finding and reading catalog files and the language choice of a whole process: the
// probe program is copied into a build folder or an installed prefix with catalogs
// of the test's own beside it.
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
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QJsonObject>("expected");
        QTest::newRow("invalid JSON") << QByteArray("{\"Hello\": }") << QJsonObject();
        QTest::newRow("not an object") << QByteArray("[\"Hello\"]") << QJsonObject();
        QTest::newRow("UTF-8 object") << QByteArray("{\"Couldn’t “{f}”\": \"„{f}“\", \"n\": 5}")
                                      << QJsonObject{{"Couldn’t “{f}”", "„{f}“"}, {"n", 5}};
    }
    void loadCatalog()
    {
        QFETCH(QByteArray, content);
        QFETCH(QJsonObject, expected);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("de.json"), content));
        QCOMPARE(Localization::loadCatalog(dir.filePath("de.json")), expected);
        QCOMPARE(Localization::loadCatalog(dir.filePath("missing.json")), QJsonObject());
    }

    // The probe prints its language, L("Hello") and how often it looked for or read a
    // catalog file.
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
        QTest::newRow("installed before beside")
            << "prefix/bin/corvane"
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
        QTest::newRow("packaged, no catalog for the choice")
            << "prefix/bin/corvane" << Files{{"prefix/share/corvane/l10n/fr.json", bonjour}} << none << Setting("pl")
            << "pl Hello 1";
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

QTEST_GUILESS_MAIN(CatalogsTest)
#include "tst_catalogs.moc"

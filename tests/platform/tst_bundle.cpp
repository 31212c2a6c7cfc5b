// Whether the program runs packaged, and where its resources are.
#include "platform/app_bundle.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;

class BundleTest : public QObject {
    Q_OBJECT
private slots:
    void packaged_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<bool>("packaged");
        QTest::newRow("installed prefix") << "prefix/bin/corvane" << true;
        QTest::newRow("build tree") << "build/src/app/corvane" << false;
        QTest::newRow("other name") << "prefix/bin/corvane-dev" << false;
    }

    void packaged()
    {
        QFETCH(QString, exe);
        QFETCH(bool, packaged);
        QTemporaryDir root;
        const QString exePath = root.filePath(exe);
        QVERIFY(QDir().mkpath(QFileInfo(exePath).absolutePath()) && test::writeFile(exePath, ""));
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("prefix/share/corvane/l10n"))));
        const AppBundle bundle(exePath, AppBundle::defaultInfo());
        QCOMPARE(bundle.packaged(), packaged);
        QCOMPARE(bundle.resourcesFolder().has_value(), packaged);
    }

    void resourceLookup()
    {
        QTemporaryDir root;
        const QString exePath = root.filePath(QStringLiteral("bin/corvane"));
        const QString de = root.filePath(QStringLiteral("share/corvane/l10n/de.json"));
        QVERIFY(test::writeFile(exePath, "") && test::writeFile(de, "{}"));
        const AppBundle bundle(exePath, {});
        const auto found = bundle.resource(QStringLiteral("de"), QStringLiteral("json"), QStringLiteral("l10n"));
        QVERIFY(found.has_value());
        QCOMPARE(QFileInfo(*found).canonicalFilePath(), QFileInfo(de).canonicalFilePath());
        QVERIFY(!bundle.resource(QStringLiteral("fr"), QStringLiteral("json"), QStringLiteral("l10n")));
    }
};

QTEST_GUILESS_MAIN(BundleTest)
#include "tst_bundle.moc"

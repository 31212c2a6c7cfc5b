// Whether the program runs packaged, and where its resources are.
#include "platform/app_bundle.h"

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
        QTest::addColumn<bool>("makeData");
        QTest::addColumn<bool>("packaged");
        QTest::newRow("installed prefix") << "prefix/bin/corvane" << true << true;
        QTest::newRow("build tree") << "build/src/app/corvane" << true << false;
        QTest::newRow("other name") << "prefix/bin/corvane-dev" << true << false;
    }

    void packaged()
    {
        QFETCH(QString, exe);
        QFETCH(bool, makeData);
        QFETCH(bool, packaged);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString exePath = root.filePath(exe);
        QVERIFY(QDir().mkpath(QFileInfo(exePath).absolutePath()));
        QFile f(exePath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        if (makeData)
            QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("prefix/share/corvane/l10n"))));
        const AppBundle bundle(exePath, AppBundle::defaultInfo());
        QCOMPARE(bundle.packaged(), packaged);
        QCOMPARE(bundle.executableFolder(), QFileInfo(exePath).absolutePath());
        QCOMPARE(bundle.resourcesFolder().has_value(), packaged);
    }

    void resourceLookup()
    {
        QTemporaryDir root;
        const QString exePath = root.filePath(QStringLiteral("bin/corvane"));
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("bin"))));
        QFile(exePath).open(QIODevice::WriteOnly);
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("share/corvane/l10n"))));
        QFile de(root.filePath(QStringLiteral("share/corvane/l10n/de.json")));
        QVERIFY(de.open(QIODevice::WriteOnly));
        de.write("{}");
        de.close();
        const AppBundle bundle(exePath, {});
        const auto found = bundle.resource(QStringLiteral("de"), QStringLiteral("json"), QStringLiteral("l10n"));
        QVERIFY(found.has_value());
        QCOMPARE(QFileInfo(*found).canonicalFilePath(), QFileInfo(de.fileName()).canonicalFilePath());
        QVERIFY(!bundle.resource(QStringLiteral("fr"), QStringLiteral("json"), QStringLiteral("l10n")));
    }
};

QTEST_GUILESS_MAIN(BundleTest)
#include "tst_bundle.moc"

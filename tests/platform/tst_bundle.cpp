// Whether the program runs packaged, and where its resources are.
#include "platform/app_bundle.h"
#include "test_files.h"

#include <QTest>

using namespace cv;

class BundleTest : public QObject {
    Q_OBJECT
private slots:
    void packaged()
    {
        QTemporaryDir root;
        const QString de = root.filePath("prefix/share/corvane/l10n/de.json");
        QVERIFY(test::writeFile(de, "{}"));
        for (const char *exe : {"prefix/bin/corvane", "build/src/app/corvane", "prefix/bin/corvane-dev"}) {
            const AppBundle bundle(root.filePath(exe), AppBundle::defaultInfo());
            const bool packaged = exe == QByteArray("prefix/bin/corvane");
            QCOMPARE(bundle.packaged(), packaged);
            QCOMPARE(bundle.resource("de", "json", "l10n").value_or(""), packaged ? de : "");
            QCOMPARE(bundle.resource("fr", "json", "l10n"), std::nullopt);
        }
    }
};

QTEST_GUILESS_MAIN(BundleTest)
#include "tst_bundle.moc"

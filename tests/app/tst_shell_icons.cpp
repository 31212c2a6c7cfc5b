// Where the application and status icons are taken from: an installed prefix's data
// folder first, then a "Resources" folder beside the executable.

#include "app/app_icons.h"
#include "platform/app_bundle.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;

// Files to lay out: "data/…" in the installed data folder, "beside/…" in the Resources
// folder beside the executable; the value is the colour of a square PNG of the file's
// size, or "junk" for a file no image reader takes.
using Files = QMap<QString, QString>;

class ShellIconsTest : public QObject {
    Q_OBJECT

private slots:
    void lookup_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<Files>("files");
        QTest::addColumn<QString>("appIcon"); // its colour; empty: the default stays
        QTest::addColumn<QList<int>>("status"); // pixel widths of the status icon's forms

        using F = Files;
        QTest::newRow("installed wins") << true << F{{"data/AppIcon.png", "red"}, {"beside/AppIcon.png", "lime"},
            {"data/StatusIconTemplate.png", "red"}, {"beside/StatusIconTemplate@2x.png", "lime"}} << "#ff0000" << QList<int>{18, 36};
        QTest::newRow("beside when not installed") << false << F{{"beside/AppIcon.png", "lime"},
            {"beside/StatusIconTemplate.png", "lime"}} << "#00ff00" << QList<int>{18};
        QTest::newRow("beside when the data folder lacks it") << true << F{{"beside/AppIcon.png", "lime"}} << "#00ff00" << QList<int>{};
        QTest::newRow("unreadable icns, png beside it") << true << F{{"data/AppIcon.icns", "junk"},
            {"data/AppIcon.png", "blue"}, {"beside/AppIcon.png", "lime"}} << "#0000ff" << QList<int>{};
        QTest::newRow("unreadable icns alone") << true << F{{"data/AppIcon.icns", "junk"}, {"beside/AppIcon.png", "lime"}} << "" << QList<int>{};
        QTest::newRow("only the 2x status file") << true << F{{"data/StatusIconTemplate@2x.png", "blue"}} << "" << QList<int>{36};
        QTest::newRow("unreadable files") << true << F{{"data/AppIcon.png", "junk"}, {"data/StatusIconTemplate.png", "junk"},
            {"data/StatusIconTemplate@2x.png", "junk"}} << "" << QList<int>{};
    }

    void lookup()
    {
        QFETCH(bool, installed);
        QFETCH(Files, files);
        QFETCH(QString, appIcon);
        QFETCH(QList<int>, status);

        QTemporaryDir root;
        const QString bin = root.filePath(installed ? QStringLiteral(CV_BINDIR) : QStringLiteral("build"));
        const QString folders[] = {root.filePath(QStringLiteral(CV_DATA_SUBDIR)), bin + QStringLiteral("/Resources")};
        for (const QString &folder : folders)
            QVERIFY(QDir().mkpath(folder));
        QFile exe(bin + QStringLiteral("/corvane"));
        QVERIFY(exe.open(QIODevice::WriteOnly));
        exe.close();
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            const QString path = (it.key().startsWith("data/") ? folders[0] : folders[1]) + '/' + it.key().section('/', 1);
            if (*it == QLatin1String("junk")) {
                QFile junk(path);
                QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("not an image") > 0);
                continue;
            }
            QImage image(it.key().contains("@2x") ? 36 : 18, it.key().contains("@2x") ? 36 : 18, QImage::Format_ARGB32);
            image.fill(QColor(*it));
            QVERIFY(image.save(path, "PNG"));
        }
        const AppBundle bundle(exe.fileName(), AppBundle::defaultInfo());
        QCOMPARE(bundle.packaged(), installed);

        QGuiApplication::setWindowIcon(QIcon());
        AppIcons::installApplicationIcon(bundle);
        const QIcon window = QGuiApplication::windowIcon();
        QCOMPARE(window.isNull() ? QString() : window.pixmap(16, 16).toImage().pixelColor(8, 8).name(), appIcon);
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("app.corvane.Corvane"));

        const QIcon icon = AppIcons::statusIcon(bundle);
        QList<int> widths;
        for (const QSize &size : icon.availableSizes())
            widths << size.width();
        QCOMPARE(widths, status);
        QCOMPARE(icon.isNull(), status.isEmpty());
        if (!icon.isNull()) // every form draws 18 points wide
            QCOMPARE(icon.pixmap(QSize(18, 18), 2.0).deviceIndependentSize(), QSizeF(18, 18));
    }
};

QTEST_MAIN(ShellIconsTest)
#include "tst_shell_icons.moc"

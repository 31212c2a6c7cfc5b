// Where the application and status icons come from (an installed prefix's data folder
// first, then a "Resources" folder beside the executable), the login-item launch and
// the development trace.

#include "../views/table.h"
#include "app/app_icons.h"
#include "app/app_launch_intent.h"
#include "platform/app_bundle.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

using namespace cv;
using namespace cv::test;

// Files to lay out: "data/…" in the installed data folder, "beside/…" in the Resources
// folder beside the executable; the value is the colour of a square PNG (36 pixels
// for a "@2x" name, else 18), or "junk" for a file no image reader takes.
using Files = QMap<QString, QString>;

class ShellIconsTest : public QObject {
    Q_OBJECT

private slots:
    void lookup_data()
    {
        // appIcon: its colour (empty: the default stays); status: pixel widths of the status icon's forms
        columns<bool, Files, QString, QList<int>>("installed", "files", "appIcon", "status");
        QTest::newRow("installed wins") << true << Files{{"data/AppIcon.png", "red"}, {"beside/AppIcon.png", "lime"},
            {"data/StatusIconTemplate.png", "red"}, {"beside/StatusIconTemplate@2x.png", "lime"}} << "#ff0000" << QList<int>{18, 36};
        QTest::newRow("not installed") << false << Files{{"beside/AppIcon.png", "lime"}, {"beside/StatusIconTemplate.png", "lime"}} << "#00ff00" << QList<int>{18};
        QTest::newRow("unreadable icns, png beside it") << true << Files{{"data/AppIcon.icns", "junk"},
            {"data/AppIcon.png", "blue"}, {"beside/AppIcon.png", "lime"}} << "#0000ff" << QList<int>{};
        QTest::newRow("only the 2x status file") << true << Files{{"data/StatusIconTemplate@2x.png", "blue"}} << "" << QList<int>{36};
    }

    void lookup()
    {
        auto [installed, files, appIcon, status] = fetch<bool, Files, QString, QList<int>>("installed", "files", "appIcon", "status");
        QTemporaryDir root;
        const QString bin = root.filePath(installed ? CV_BINDIR : "build"), data = root.filePath(CV_DATA_SUBDIR);
        QVERIFY(QDir().mkpath(data) && QDir().mkpath(bin + "/Resources"));
        QFile exe(bin + "/corvane");
        QVERIFY(exe.open(QIODevice::WriteOnly));
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            const QString name = it.key().section('/', 1), path = (it.key().startsWith("data/") ? data : bin + "/Resources") + '/' + name;
            QImage image(name.contains("@2x") ? 36 : 18, name.contains("@2x") ? 36 : 18, QImage::Format_ARGB32);
            image.fill(QColor(*it));
            QFile junk(path);
            QVERIFY(*it == "junk" ? junk.open(QIODevice::WriteOnly) && junk.write("not an image") > 0 : image.save(path, "PNG"));
        }
        const AppBundle bundle(exe.fileName(), AppBundle::defaultInfo());

        QGuiApplication::setWindowIcon(QIcon());
        AppIcons::installApplicationIcon(bundle);
        const QIcon window = QGuiApplication::windowIcon();
        QCOMPARE(window.isNull() ? QString() : window.pixmap(16, 16).toImage().pixelColor(8, 8).name(), appIcon);

        const QIcon icon = AppIcons::statusIcon(bundle);
        QList<int> widths;
        for (const QSize &size : icon.availableSizes())
            widths << size.width();
        QCOMPARE(widths, status);
        if (!icon.isNull()) // every form draws 18 points wide
            QCOMPARE(icon.pixmap(QSize(18, 18), 2.0).deviceIndependentSize(), QSizeF(18, 18));
    }

    void autostartEntryLaunchIsALoginItemLaunch()
    {
        qputenv("CV_AUTOSTART", "1"); // read once per process, here first
        QVERIFY(AppLaunchIntent::isLoginItemLaunch(AppLaunchIntent::currentEvent()));
    }

};

QTEST_MAIN(ShellIconsTest)
#include "tst_shell_icons.moc"

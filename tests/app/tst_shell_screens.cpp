// Windows on small screens: the frame of every new or cascaded window, title bar
// included, lies within the screen's available area, also when the window asks for
// more height than the screen has. The offscreen platform gets one screen of
// CV_TEST_SCREEN pixels ("WIDTHxHEIGHT", 1024x600 when unset), at whatever scale
// QT_SCALE_FACTOR asks for.

#include "../views/table.h"
#include "delegate_fixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>

using namespace cv;
using namespace cv::test;

namespace {

// A window manager's title bar, which the offscreen platform does not draw, is
// reckoned at 30 px; the platform's own frame margins count as they are.
constexpr int titleBar = 30;

QRect frameOf(const QWidget *window)
{
    QRect frame = window->frameGeometry();
    frame.setTop(std::min(frame.top(), window->geometry().top() - titleBar));
    return frame;
}

QString text(const QRect &rect)
{
    return QStringLiteral("%1,%2 %3x%4").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
}

} // namespace

class ShellScreensTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const QStringList size = qEnvironmentVariable("CV_TEST_SCREEN", QStringLiteral("1024x600")).split('x');
        const qreal scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble() : 1;
        QCOMPARE(QGuiApplication::primaryScreen()->geometry().size(), QSize(size[0].toInt(), size[1].toInt()) / scale);
    }

    // The main window alone, or that many computer windows, the ninth cascaded back
    // to the first place; each checked when first shown and once its height settled.
    void framesWithinTheScreen_data()
    {
        columns<int>("computers");
        QTest::newRow("main window") << 0;
        QTest::newRow("computer window") << 1;
        QTest::newRow("cascaded computer windows") << 9;
    }
    void framesWithinTheScreen()
    {
        auto [computers] = fetch<int>("computers");
        DelegateFixture f;
        f.delegate->configureMenus(); // the menu bar adds to the height, as in the application
        QList<QMainWindow *> windows;
        if (computers == 0)
            windows << f.shown();
        for (int i = 0; i < computers; ++i)
            windows << f.shown(QString::number(i));
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        const auto check = [&] {
            for (QMainWindow *window : std::as_const(windows)) {
                QVERIFY(window);
                QVERIFY2(available.contains(frameOf(window)),
                         qPrintable(text(frameOf(window)) + QStringLiteral(" on ") + text(available)));
            }
        };
        check();
        QTest::qWait(400); // fits after the first one animate for 0.22 s
        check();
    }
};

int main(int argc, char **argv)
{
    // The platform reads its screens from a file named in its arguments.
    const QStringList size = qEnvironmentVariable("CV_TEST_SCREEN", QStringLiteral("1024x600")).split('x');
    const QString path = QDir(QDir::tempPath()).filePath(QStringLiteral("screens.json"));
    QFile config(path);
    if (size.size() != 2 || !config.open(QIODevice::WriteOnly))
        return 1;
    const QJsonObject screen{{"name", "small"}, {"x", 0}, {"y", 0}, {"width", size[0].toInt()}, {"height", size[1].toInt()},
                             {"logicalDpi", 96}, {"logicalBaseDpi", 96}, {"dpr", 1}};
    config.write(QJsonDocument(QJsonObject{{"screens", QJsonArray{screen}}}).toJson());
    config.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + path.toLocal8Bit());
    QApplication app(argc, argv);
    ShellScreensTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shell_screens.moc"

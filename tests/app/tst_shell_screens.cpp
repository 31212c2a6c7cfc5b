// Windows on small screens and on two: a new window opens centred on the primary
// screen, a cascaded one on the screen of the one before it, and the frame of every
// window, title bar included, lies within its screen's available area, also when the
// window asks for more height than the screen has. The offscreen platform gets the
// screens CV_TEST_SCREEN lists, the primary first, each "WIDTHxHEIGHT" in pixels with
// "+X+Y" where it does not lie at the origin (one of 1024x600 when unset), at whatever
// scale QT_SCALE_FACTOR asks for.

#include "../views/table.h"
#include "delegate_fixture.h"
#include "views/window_placement.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
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

// The screens CV_TEST_SCREEN lists, in pixels; none when it cannot be read.
QList<QRect> listedScreens()
{
    static const QRegularExpression form(QStringLiteral("^(\\d+)x(\\d+)(?:\\+(\\d+)\\+(\\d+))?$"));
    QList<QRect> screens;
    for (const QString &one : qEnvironmentVariable("CV_TEST_SCREEN", QStringLiteral("1024x600")).split(',')) {
        const QRegularExpressionMatch match = form.match(one);
        if (!match.hasMatch())
            return {};
        screens << QRect(match.captured(3).toInt(), match.captured(4).toInt(), match.captured(1).toInt(),
                         match.captured(2).toInt());
    }
    return screens;
}

// Where the client area of a window not shown yet may lie on `screen`.
QRect clientAreaOn(const QScreen *screen)
{
    using namespace WindowPlacement;
    return screen->availableGeometry().adjusted(borderReserve, titleBarReserve, -borderReserve, -borderReserve);
}

} // namespace

class ShellScreensTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const QList<QRect> listed = listedScreens();
        const qreal scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble() : 1;
        QCOMPARE(QGuiApplication::screens().size(), listed.size());
        QCOMPARE(QGuiApplication::primaryScreen()->geometry(),
                 QRect(listed[0].topLeft() / scale, listed[0].size() / scale));
    }

    // The main window alone, or that many computer windows, the ninth cascaded back
    // to the first place; or the first moved to another screen before the others
    // open. Each is checked as built (centred, then moved by the cascade, within its
    // screen), when first shown and once its height settled.
    void framesWithinTheScreen_data()
    {
        columns<int, bool>("computers", "firstMoved");
        QTest::newRow("main window") << 0 << false;
        QTest::newRow("computer window") << 1 << false;
        QTest::newRow("cascaded computer windows") << 9 << false;
        QTest::newRow("cascaded after the first moved to another screen") << 3 << true;
    }
    void framesWithinTheScreen()
    {
        auto [computers, firstMoved] = fetch<int, bool>("computers", "firstMoved");
        const QList<QScreen *> screens = QGuiApplication::screens();
        if (firstMoved && screens.size() < 2)
            QSKIP("Needs a second screen.");
        QScreen *primary = QGuiApplication::primaryScreen();
        QScreen *other = firstMoved ? screens.at(1) : primary;
        DelegateFixture f;
        f.delegate->configureMenus(); // the menu bar adds to the height, as in the application

        struct Opened {
            QPointer<QMainWindow> window;
            QScreen *screen;
        };
        QList<Opened> windows;
        // Builds a window, checks where it was put before anything else moved it, and
        // waits until it is shown.
        const auto open = [&](const std::optional<QString> &id, QSize size, QScreen *screen, int offset) {
            id ? f.delegate->showPeer(*id) : f.delegate->showMain();
            QMainWindow *window = id ? f.delegate->peerWindows.value(*id).data() : f.delegate->mainWindow.data();
            QVERIFY(window);
            const QRect area = clientAreaOn(screen);
            QRect centred(QPoint(), size);
            centred.moveCenter(area.center());
            const QRect expected = WindowPlacement::keptWithin(centred.translated(offset, offset), area);
            QVERIFY2(window->geometry() == expected,
                     qPrintable(text(window->geometry()) + QStringLiteral(" for ") + text(expected)));
            QVERIFY(QTest::qWaitFor([window] { return window->isVisible(); }, 20000));
            windows << Opened{window, screen};
        };
        if (computers == 0)
            open(std::nullopt, QSize(580, 560), primary, 0);
        for (int i = 0; i < computers && !QTest::currentTestFailed(); ++i) {
            open(QString::number(i), QSize(640, 660), i == 0 ? primary : other, (i & 7) * 24);
            if (i == 0 && firstMoved) {
                QMainWindow *first = windows[0].window;
                QRect moved = first->geometry();
                moved.moveCenter(clientAreaOn(other).center());
                first->setGeometry(moved);
                QTRY_COMPARE(first->screen(), other);
                windows[0].screen = other;
            }
        }
        if (QTest::currentTestFailed())
            return;
        const auto check = [&] {
            for (const Opened &opened : std::as_const(windows)) {
                QVERIFY(opened.window);
                QCOMPARE(opened.window->screen(), opened.screen);
                const QRect available = opened.screen->availableGeometry();
                QVERIFY2(available.contains(frameOf(opened.window)),
                         qPrintable(text(frameOf(opened.window)) + QStringLiteral(" on ") + text(available)));
            }
        };
        check();
        QTest::qWait(400); // fits after the first one animate for 0.22 s
        check();
    }
};

int main(int argc, char **argv)
{
    // The platform reads its screens from a file named in its arguments; the first
    // one it adds, by name, is the primary.
    const QList<QRect> listed = listedScreens();
    const QString path = QDir(QDir::tempPath()).filePath(QStringLiteral("screens.json"));
    QFile config(path);
    if (listed.isEmpty() || !config.open(QIODevice::WriteOnly))
        return 1;
    QJsonArray screens;
    for (const QRect &screen : listed) {
        screens << QJsonObject{{"name", QString::number(screens.size() + 1)}, {"x", screen.x()}, {"y", screen.y()},
                               {"width", screen.width()}, {"height", screen.height()},
                               {"logicalDpi", 96}, {"logicalBaseDpi", 96}, {"dpr", 1}};
    }
    config.write(QJsonDocument(QJsonObject{{"screens", screens}}).toJson());
    config.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + path.toLocal8Bit());
    QApplication app(argc, argv);
    ShellScreensTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shell_screens.moc"

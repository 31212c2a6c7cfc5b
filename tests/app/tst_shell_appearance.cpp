// The look of the real corvane: started under a desktop portal on a private session
// bus, its demo window takes the theme in the desktop's colour scheme and follows
// the scheme live. Seen in the picture its own capture run takes.

#include "../views/table.h"
#include "fake_portal.h"

#include "views/theme.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;
using namespace cv::test;

class ShellAppearanceTest : public QObject {
    Q_OBJECT
private slots:
    // The portal answers the first value and signals the rest while the application
    // runs; the window is captured after the last one was followed.
    void followsTheDesktop_data()
    {
        // twist: "elsewhere", another namespace's "color-scheme" then says 2; "late
        // read", the answer to the first read (the first value) comes after the change.
        columns<QList<uint>, QString, bool>("schemes", "twist", "dark");
        QTest::newRow("no preference is light") << QList<uint>{0} << "" << false;
        QTest::newRow("prefer dark") << QList<uint>{1} << "" << true;
        QTest::newRow("prefer light after dark") << QList<uint>{1, 2} << "" << false;
        QTest::newRow("no preference after dark") << QList<uint>{1, 0} << "" << false;
        QTest::newRow("dark again") << QList<uint>{1, 2, 1} << "" << true;
        QTest::newRow("another namespace's setting") << QList<uint>{1} << "elsewhere" << true;
        QTest::newRow("a late first answer") << QList<uint>{1, 2} << "late read" << false;
    }
    void followsTheDesktop()
    {
        auto [schemes, twist, dark] = fetch<QList<uint>, QString, bool>("schemes", "twist", "dark");
        const bool late = twist == "late read";
        const QString last = QStringLiteral("desktop colour scheme %1: %2,")
                                 .arg(schemes.size() > 1 ? QStringLiteral("changed") : QStringLiteral("read"))
                                 .arg(schemes.last());
        const QString capturing = QStringLiteral("starting own-window capture for main");
        // How long a step may take (milliseconds): a bound for a stuck one, never a pace.
        constexpr int bound = 20000;
        // The capture comes a pause after the start. A busy machine can take longer than
        // that to show the window and follow the changes: a run whose capture came before
        // either is taken again with a longer pause, so load lengthens the test and never
        // decides it.
        QTemporaryDir capture;
        const QString picture = capture.filePath(QStringLiteral("main-window.png"));
        QString trace;
        for (int pause = 1000;; pause *= 4) {
            QVERIFY2(pause <= 16000, qPrintable(QStringLiteral("no capture after the last change:\n") + trace));
            trace.clear();
            QFile::remove(picture);
            FakePortal portal;
            portal.scheme = schemes.first();
            portal.holdRead = late;
            QVERIFY(portal.start());
            QProcess corvane;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("CV_MAC_CAPTURE_DIR"), capture.path());
            environment.insert(QStringLiteral("CV_MAC_CAPTURE_PAUSE_MS"), QString::number(pause));
            environment.insert(QStringLiteral("CV_MAC_QUIT_AFTER_CAPTURE"), QStringLiteral("1"));
            environment.insert(QStringLiteral("CV_MAC_RUNTIME_DIR"), capture.filePath(QStringLiteral("run")));
            corvane.setProcessEnvironment(environment);
            corvane.start(QStringLiteral(CORVANE_PATH), {QStringLiteral("--demo"), QStringLiteral("main")});
            const auto traced = [&](const QString &text) {
                trace += QString::fromUtf8(corvane.readAllStandardError());
                return trace.contains(text);
            };
            const auto ended = [&] { return corvane.state() == QProcess::NotRunning; };

            if (late)
                QVERIFY(QTest::qWaitFor([&] { return portal.readWaiting() || ended(); }, bound));
            for (qsizetype i = late ? 1 : 0; i < schemes.size() && !ended(); ++i) {
                if (i > 0)
                    portal.change(schemes[i]);
                const QString followed = QStringLiteral("desktop colour scheme %1: %2,")
                                             .arg(i == 0 ? QStringLiteral("read") : QStringLiteral("changed"))
                                             .arg(schemes[i]);
                QVERIFY2(QTest::qWaitFor([&] { return traced(followed) || ended(); }, bound), qPrintable(trace));
            }
            if (late && portal.readWaiting())
                portal.answerRead();
            if (twist == "elsewhere")
                portal.changeElsewhere(2);
            QVERIFY(QTest::qWaitFor(ended, pause + bound));
            traced({});
            QVERIFY2(trace.contains(capturing), qPrintable(trace));
            // Taken once shown, and after the last change.
            if (QFile::exists(picture) && trace.contains(last) && trace.lastIndexOf(last) < trace.indexOf(capturing))
                break;
        }

        // Below the last row of the form: the window's own background.
        const QImage image(picture);
        QVERIFY2(!image.isNull(), qPrintable(trace));
        const QColor background = image.pixelColor(2, image.height() - 3);
        const QColor expected = Theme::colors(dark ? Appearance::dark : Appearance::light).windowBackground;
        QCOMPARE(background.name(), expected.name());
    }
};

QTEST_GUILESS_MAIN(ShellAppearanceTest)
#include "tst_shell_appearance.moc"

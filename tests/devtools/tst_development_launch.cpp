// The development launches of the real application, end to end: "--render" and a
// capture run of "--demo". Registered only once the launch sequence hands both
// options to the development tools (see capture.cmake).

#include "devtools/demo.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;

namespace {

// Runs corvane with `arguments` and `environment` added, to its end; its standard output.
QString run(const QStringList &arguments, const QMap<QString, QString> &environment = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.insert(it.key(), it.value());
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(CV_CORVANE_PATH), arguments);
    if (!process.waitForFinished(120000))
        process.kill();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 ? QString::fromUtf8(process.readAllStandardOutput()) : "failed";
}

int brightness(const QImage &image) { return qGray(image.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0)); }

} // namespace

class TestDevelopmentLaunch : public QObject {
    Q_OBJECT

private slots:
    // Every demo state in both appearances, each picture announced with its real size.
    void render()
    {
        QTemporaryDir folder;
        const QStringList lines = run({"--render", folder.path()}).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 18);
        static const QRegularExpression captured(QStringLiteral("^Captured (/.+/corvane-(.+)\\.png): (\\d+)x(\\d+)$"));
        QMap<QString, QImage> images;
        for (const QString &line : lines) {
            const QRegularExpressionMatch match = captured.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            images.insert(match.captured(2), QImage(match.captured(1)));
            QCOMPARE(images[match.captured(2)].size(), QSize(match.captured(3).toInt(), match.captured(4).toInt()));
        }
        const QStringList states = Demo::states();
        for (int i = 0; i < states.size(); ++i) {
            for (int j = 0; j < i; ++j)
                QVERIFY2(images[states[i] + "-light"] != images[states[j] + "-light"], qPrintable(states[i] + " " + states[j]));
            QVERIFY2(brightness(images[states[i] + "-dark"]) < brightness(images[states[i] + "-light"]), qPrintable(states[i]));
        }
        QVERIFY(images["main-light"].width() >= 520);
        QCOMPARE(QDir(folder.path()).entryList({"*.png"}).size(), 18);
    }

    // A demo status starts the capture run: its report, the window's pictures and variants, then the quit.
    void captureRun()
    {
        QTemporaryDir folder;
        const QString captures = folder.filePath("captures"), peer = "peer-" + QString(12, 'a');
        QVERIFY(run({"--demo", "connected"}, {{"CV_MAC_RUNTIME_DIR", folder.filePath("run")}, {"CV_MAC_CAPTURE_DIR", captures},
                                              {"CV_MAC_QUIT_AFTER_CAPTURE", "1"}, {"CV_MAC_CAPTURE_VARIANTS", "1"}}) != "failed");
        QFile report(captures + "/view-geometry.txt");
        QVERIFY(report.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(report.readAll()).split('\n');
        QVERIFY(QRegularExpression("^pid=\\d+ screenCapturePreflight=(true|false) \\(informational; own-process capture does not "
                                   "require global Screen Recording access\\)$").match(lines[0]).hasMatch());
        QCOMPARE(lines.value(1), "*-window.png = exact-window capture; *-rendered.png = SwiftUI fallback, NOT a window capture; "
                                 "other PNGs = potentially incomplete AppKit bitmap caches.");
        QStringList written = QDir(captures).entryList({"*-window.png"});
        written.removeIf([](const QString &file) { return file.endsWith("-bottom-window.png"); });
        QCOMPARE(written, (QStringList{peer + "-dark-minimum-window.png", peer + "-dark-window.png", peer + "-light-minimum-window.png",
                                       peer + "-light-window.png", peer + "-window.png"}));
    }
};

QTEST_GUILESS_MAIN(TestDevelopmentLaunch)
#include "tst_development_launch.moc"

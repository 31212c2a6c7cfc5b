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

// Runs corvane with `arguments` and `environment` added, to its end.
QProcess *run(const QStringList &arguments, const QMap<QString, QString> &environment = {})
{
    auto *process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.insert(it.key(), it.value());
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(CV_CORVANE_PATH), arguments);
    if (!process->waitForFinished(120000))
        process->kill();
    return process;
}

int brightness(const QImage &image)
{
    const QImage small = image.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    int sum = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            sum += qGray(small.pixel(x, y));
    return sum / 256;
}

} // namespace

class TestDevelopmentLaunch : public QObject {
    Q_OBJECT

private slots:
    // Every demo state in both appearances, each picture announced with its real
    // size, the process ending by itself with status 0.
    void render()
    {
        QTemporaryDir folder;
        const QString pictures = folder.filePath("pictures");
        std::unique_ptr<QProcess> process(run({"--render", pictures}));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
        const QStringList lines = QString::fromUtf8(process->readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 18);
        static const QRegularExpression captured(QStringLiteral("^Captured (/.+\\.png): (\\d+)x(\\d+)$"));
        QMap<QString, QImage> images;
        for (const QString &line : lines) {
            const QRegularExpressionMatch match = captured.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            const QImage image(match.captured(1));
            QCOMPARE(image.size(), QSize(match.captured(2).toInt(), match.captured(3).toInt()));
            images.insert(QFileInfo(match.captured(1)).fileName(), image);
        }
        for (const char *appearance : {"light", "dark"}) {
            const QStringList states = Demo::states();
            for (int i = 0; i < states.size(); ++i)
                for (int j = 0; j < i; ++j)
                    QVERIFY2(images.value(QStringLiteral("corvane-%1-%2.png").arg(states[i], appearance))
                                 != images.value(QStringLiteral("corvane-%1-%2.png").arg(states[j], appearance)),
                             qPrintable(states[i] + " " + states[j]));
        }
        for (const QString &state : Demo::states()) {
            const QImage light = images.value("corvane-" + state + "-light.png");
            const QImage dark = images.value("corvane-" + state + "-dark.png");
            QVERIFY2(!light.isNull() && brightness(dark) < brightness(light), qPrintable(state));
        }
        QVERIFY(images.value("corvane-main-light.png").width() >= 520);
        QCOMPARE(QDir(pictures).entryList({"*.png"}).size(), 18);
    }

    // A demo status starts the capture run, which writes its report, the window's
    // pictures and its variants, and then quits through the ordinary termination.
    void captureRun()
    {
        const QString peer = "peer-" + QString(12, 'a');
        QStringList files{peer + "-window.png", peer + "-light-window.png", peer + "-dark-window.png",
                          peer + "-light-minimum-window.png", peer + "-dark-minimum-window.png"};
        QTemporaryDir folder;
        const QString captures = folder.filePath("captures");
        std::unique_ptr<QProcess> process(
            run({"--demo", "connected"},
                {{"CV_MAC_RUNTIME_DIR", folder.filePath("run")},
                 {"CV_MAC_CAPTURE_DIR", captures},
                 {"CV_MAC_QUIT_AFTER_CAPTURE", "1"},
                 {"CV_MAC_CAPTURE_VARIANTS", "1"}}));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
        QFile report(captures + "/view-geometry.txt");
        QVERIFY(report.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(report.readAll()).split('\n');
        QVERIFY(lines.size() > 2);
        QVERIFY(QRegularExpression("^pid=\\d+ screenCapturePreflight=(true|false) \\(informational; own-process "
                                   "capture does not require global Screen Recording access\\)$")
                    .match(lines[0])
                    .hasMatch());
        QCOMPARE(lines[1], "*-window.png = exact-window capture; *-rendered.png = SwiftUI fallback, NOT a window "
                           "capture; other PNGs = potentially incomplete AppKit bitmap caches.");
        QStringList written = QDir(captures).entryList({"*-window.png"});
        written.removeIf([](const QString &file) { return file.endsWith("-bottom-window.png"); });
        written.sort();
        files.sort();
        QCOMPARE(written, files);
    }
};

QTEST_GUILESS_MAIN(TestDevelopmentLaunch)
#include "tst_development_launch.moc"

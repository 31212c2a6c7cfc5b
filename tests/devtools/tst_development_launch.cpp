// The reference rendering of the real application, end to end, beside a stand-in
// service it must never reach. Registered only once the launch sequence hands
// "--render" to the development tools (see capture.cmake).

#include "standin.h"

#include "devtools/demo.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;

namespace {

// Runs corvane with `arguments` to its end; its standard output, or "failed".
QString run(const test::Standin &service, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment env = service.environment();
    env.insert("CV_MAC_SERVICE", test::Standin::executable());
    env.insert("CV_MAC_RUNTIME_DIR", service.runtimeDir());
    env.insert("CV_MAC_CAPTURE_PAUSE_MS", "50");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(CV_CORVANE_PATH), arguments);
    if (!process.waitForFinished(30000))
        process.kill();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 && service.recorded().isEmpty() && service.startArguments().isEmpty() ? QString::fromUtf8(process.readAllStandardOutput())
                                                                                         : "failed";
}

int brightness(const QImage &image) { return qGray(image.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0)); }

} // namespace

class TestDevelopmentLaunch : public QObject {
    Q_OBJECT

private slots:
    // Every demo state in both appearances, each picture announced with its real
    // size; "--render" wins over "--demo".
    void render()
    {
        test::Standin service;
        QTemporaryDir folder;
        const QStringList lines = run(service, {"--demo", "main", "--render", folder.path()}).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2 * Demo::states().size());
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
    }
};

QTEST_GUILESS_MAIN(TestDevelopmentLaunch)
#include "tst_development_launch.moc"

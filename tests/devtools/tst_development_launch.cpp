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

struct Run {
    bool ok = false; // ended with status 0, the service never touched
    QString out, err;
};

// Runs corvane with `arguments` in `folder` to its end: given up when it has printed
// nothing for 5 s. With a `home`, that is its home folder and XDG_STATE_HOME is unset.
Run run(const test::Standin &service, const QStringList &arguments, const QString &folder = {},
        const QString &home = {})
{
    QProcess process;
    QProcessEnvironment env = service.environment();
    if (!home.isEmpty()) {
        env.insert("HOME", home);
        env.remove("XDG_STATE_HOME");
    }
    env.insert("CV_MAC_SERVICE", test::Standin::executable());
    env.insert("CV_MAC_RUNTIME_DIR", service.runtimeDir());
    env.insert("CV_MAC_CAPTURE_PAUSE_MS", "50");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral(CV_CORVANE_PATH), arguments);
    Run result;
    while (!process.waitForFinished(30000)) {
        const QByteArray out = process.readAllStandardOutput(), err = process.readAllStandardError();
        if (out.isEmpty() && err.isEmpty()) {
            process.kill();
            process.waitForFinished(1000);
            break;
        }
        result.out += QString::fromUtf8(out);
        result.err += QString::fromUtf8(err);
    }
    result.out += QString::fromUtf8(process.readAllStandardOutput());
    result.err += QString::fromUtf8(process.readAllStandardError());
    result.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 && service.recorded().isEmpty()
        && service.startArguments().isEmpty();
    return result;
}

// The pixels alone, whatever format each picture was stored in.
bool samePixels(const QImage &a, const QImage &b)
{
    return a.convertToFormat(QImage::Format_ARGB32) == b.convertToFormat(QImage::Format_ARGB32);
}

int brightness(const QImage &image) { return qGray(image.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0)); }

} // namespace

class TestDevelopmentLaunch : public QObject {
    Q_OBJECT

private slots:
    // Every demo state in both appearances, each picture announced with its real
    // size; "--render" wins over "--demo". Nothing is asked of the offscreen platform
    // that it cannot do (raising windows, grabbing the keyboard for a menu). In a
    // fresh home it writes its log to the state folder and makes no other folder.
    void render()
    {
        test::Standin service;
        QTemporaryDir folder, home;
        const Run rendered = run(service, {"--demo", "main", "--render", folder.path()}, {}, home.path());
        QVERIFY2(rendered.ok, qPrintable(rendered.err));
        QVERIFY2(!rendered.err.contains("This plugin does not support"), qPrintable(rendered.err));
        const QStringList lines = rendered.out.split('\n', Qt::SkipEmptyParts);
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
                QVERIFY2(!samePixels(images[states[i] + "-light"], images[states[j] + "-light"]),
                         qPrintable(states[i] + " " + states[j]));
            QVERIFY2(brightness(images[states[i] + "-dark"]) < brightness(images[states[i] + "-light"]), qPrintable(states[i]));
        }
        const QStringList made = QDir(home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QVERIFY2(made == QStringList {".local"}, qPrintable(made.join(' ')));
        QVERIFY(QFileInfo(home.filePath(".local/state/Corvane/app.log")).isFile());
    }

    // Without a folder it draws into "reference" in the working directory; when that
    // cannot be made, every picture says why on standard error, and the run still
    // ends with status 0.
    void renderIntoAFolderThatCannotBeMade()
    {
        test::Standin service;
        QTemporaryDir folder;
        QVERIFY(QFile(folder.filePath("reference")).open(QIODevice::WriteOnly)); // a file in the way
        const Run rendered = run(service, {"--render"}, folder.path());
        QVERIFY2(rendered.ok, qPrintable(rendered.err));
        QCOMPARE(rendered.out, QString());
        const QStringList lines = rendered.err.split('\n').filter(".png: "); // among the platform's own warnings
        QVERIFY2(lines.size() == 2 * Demo::states().size(), qPrintable(rendered.err));
        for (const QString &line : lines)
            QVERIFY2(line.startsWith(folder.filePath("reference/corvane-")), qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(TestDevelopmentLaunch)
#include "tst_development_launch.moc"

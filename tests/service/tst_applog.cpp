// The application log: entries, banner, modes, rotation at launch, whole lines from
// many writers and the uncaught-exception entry. Child modes of this executable play
// the other processes.
#include "test_files.h"

#include "platform/app_bundle.h"
#include "service/diagnostics.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTest>

#include <stdexcept>
#include <thread>
#include <unistd.h>

using namespace cv;
using namespace cv::test;

namespace {

const AppBundle bundle(QStringLiteral("/nowhere/corvane"), AppBundle::defaultInfo());

QString appLog() { return Diagnostics::logFolder() + QStringLiteral("/app.log"); }
QString previousLog() { return Diagnostics::logFolder() + QStringLiteral("/app.1.log"); }

QStringList logLines()
{
    Diagnostics::flush();
    return QString::fromUtf8(readFile(appLog())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Runs this executable in child modes (childMain below) side by side to their ends:
// the sum of their exit statuses, 1000 for each that crashed (abort).
int runChildren(const QStringList &modes)
{
    std::vector<std::unique_ptr<QProcess>> processes;
    for (const QString &mode : modes) {
        auto &process = processes.emplace_back(std::make_unique<QProcess>());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CV_APPLOG_CHILD"), mode);
        process->setProcessEnvironment(environment);
        process->start(QCoreApplication::applicationFilePath(), {});
    }
    int sum = 0;
    for (auto &process : processes)
        sum += !process->waitForFinished(20000) ? -1 : process->exitStatus() == QProcess::CrashExit ? 1000 : process->exitCode();
    return sum;
}

} // namespace

class ApplogTest : public QObject {
    Q_OBJECT
private slots:
    // Must run first: before start() nothing has made the folder.
    void entriesBeforeStart()
    {
        Diagnostics::log(QStringLiteral("lost"));
        Diagnostics::flush();
        QVERIFY(!QFileInfo::exists(Diagnostics::logFolder()));
        // Once the folder exists, entries are written even before start(), as they are.
        QVERIFY(QDir().mkpath(Diagnostics::logFolder()));
        const QString text = QStringLiteral("Couldn’t reach “Studio” …\nsecond\\n");
        Diagnostics::log(text);
        Diagnostics::flush();
        const QByteArray bytes = readFile(appLog());
        QCOMPARE(bytes.mid(24), ' ' + text.toUtf8() + '\n');
        QCOMPARE(modeOf(appLog()), mode_t(0600));
        // The stamp is UTC: the same day and hour as now there.
        QCOMPARE(bytes.left(13), QDateTime::currentDateTimeUtc().toString("yyyy-MM-ddTHH").toLatin1());
    }

    void banner()
    {
        QVERIFY(QDir(QDir::homePath() + QStringLiteral("/Library")).removeRecursively());
        ::umask(022);
        QMap<QString, QString> info = AppBundle::defaultInfo();
        info.remove(QStringLiteral("CFBundleShortVersionString"));
        Diagnostics::start(AppBundle(QStringLiteral("/nowhere/corvane"), info));
        const QStringList written = logLines();
        QCOMPARE(modeOf(Diagnostics::logFolder()), mode_t(0700));
        QCOMPARE(modeOf(appLog()), mode_t(0600));
        QCOMPARE(written.size(), 1);
        QCOMPARE(written.first().mid(25), QStringLiteral("--- Corvane development started (%1, pid %2) ---")
                                              .arg(QSysInfo::prettyProductName()).arg(::getpid()));
    }

    // At 1 MiB the log moves to app.1.log (replacing it) and a new one starts.
    void rotation()
    {
        for (const int size : {1048575, 1048576}) {
            const bool rotated = size == 1048576;
            const QByteArray old = QByteArray(size - 1, 'x') + '\n';
            QVERIFY(writeFile(appLog(), old) && writeFile(previousLog(), "older\n"));
            QVERIFY(::chmod(QFile::encodeName(appLog()).constData(), 0644) == 0);
            Diagnostics::start(bundle);
            Diagnostics::flush();
            QCOMPARE(readFile(previousLog()), rotated ? old : QByteArray("older\n"));
            QCOMPARE(readFile(appLog()).startsWith(old), !rotated);
            QCOMPARE(modeOf(appLog()), mode_t(rotated ? 0600 : 0644)); // a log kept keeps its mode
        }
    }

    // Threads of this process and two other processes: every entry whole.
    void manyWritersWriteWholeLines()
    {
        QFile::remove(appLog());
        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t)
            workers.emplace_back([t] {
                for (int i = 0; i < 100; ++i)
                    Diagnostics::log(QStringLiteral("t%1 %2 ").arg(t).arg(i) + QString(300, 'p'));
            });
        QCOMPARE(runChildren({"write:a", "write:b"}), 0);
        for (auto &worker : workers)
            worker.join();
        const QStringList written = logLines();
        QCOMPARE(written.size(), 400 + 2 * (2000 + 1));
        const QRegularExpression whole(QStringLiteral("^\\S+Z (?:t\\d \\d+ p{300}|[ab] \\d+ q{200}|--- Corvane .* ---)$"));
        for (const QString &line : written)
            QVERIFY2(whole.match(line).hasMatch(), qPrintable(line.left(80)));
    }

    // The banner, then the exception entry, then its stack.
    void uncaughtException()
    {
        QFile::remove(appLog());
        QCOMPARE(runChildren({"throw-thread"}), 1000); // ended by abort
        const QStringList written = logLines();
        QVERIFY2(written.size() >= 3 && written.at(0).contains("--- Corvane "), qPrintable(written.join('\n')));
        QCOMPARE(written.at(1).mid(25), "UNCAUGHT std::logic_error: from a thread");
    }
};

// The child modes run without any Qt application object: logging must work there.
int main(int argc, char **argv)
{
    const QByteArray mode = qgetenv("CV_APPLOG_CHILD");
    if (mode.isEmpty()) {
        QCoreApplication app(argc, argv);
        ApplogTest test;
        return QTest::qExec(&test, argc, argv);
    }
    Diagnostics::start(bundle);
    if (mode == "throw-thread")
        std::thread([] { throw std::logic_error("from a thread"); }).join();
    for (int i = 0; mode.startsWith("write:") && i < 2000; ++i)
        Diagnostics::log(QString::fromLatin1(mode.mid(6)) + QStringLiteral(" %1 ").arg(i) + QString(200, 'q'));
    return 0; // left to the exit: queued entries are still written
}

#include "tst_applog.moc"

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

#include <memory>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace cv;
using namespace cv::test;

namespace {

const QRegularExpression stampPattern(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{3}Z "));

QString appLog() { return Diagnostics::logFolder() + QStringLiteral("/app.log"); }
QString previousLog() { return Diagnostics::logFolder() + QStringLiteral("/app.1.log"); }

QStringList logLines()
{
    Diagnostics::flush();
    return QString::fromUtf8(readFile(appLog())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

AppBundle bundleWithVersion(std::optional<QString> version)
{
    QMap<QString, QString> info = AppBundle::defaultInfo();
    info.remove(QStringLiteral("CFBundleShortVersionString"));
    if (version)
        info.insert(QStringLiteral("CFBundleShortVersionString"), *version);
    return AppBundle(QStringLiteral("/nowhere/corvane"), info);
}

// Starts this executable in one of its child modes (childMain below).
std::unique_ptr<QProcess> startChild(const QString &mode)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CV_APPLOG_CHILD"), mode);
    process->setProcessEnvironment(environment);
    process->start(QCoreApplication::applicationFilePath(), {});
    return process;
}

// Runs child modes side by side to their ends: the sum of their exit statuses, 1000
// for each that crashed (abort).
int runChildren(const QStringList &modes)
{
    std::vector<std::unique_ptr<QProcess>> processes;
    for (const QString &mode : modes)
        processes.push_back(startChild(mode));
    int sum = 0;
    for (auto &process : processes) {
        if (!process->waitForFinished(20000))
            return -1;
        sum += process->exitStatus() == QProcess::CrashExit ? 1000 : process->exitCode();
    }
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

    void banner_data()
    {
        QTest::addColumn<std::optional<QString>>("version");
        QTest::addColumn<QString>("name");
        QTest::newRow("version") << std::optional<QString>("4.5.6") << "4.5.6";
        QTest::newRow("no version") << std::optional<QString>() << "development";
    }
    void banner()
    {
        QFETCH(std::optional<QString>, version);
        QFETCH(QString, name);
        QVERIFY(QDir(QDir::homePath() + QStringLiteral("/Library")).removeRecursively());
        ::umask(022);
        Diagnostics::start(bundleWithVersion(version));
        const QStringList written = logLines();
        QCOMPARE(modeOf(Diagnostics::logFolder()), mode_t(0700));
        QCOMPARE(modeOf(QDir::homePath() + QStringLiteral("/Library/Logs")), mode_t(0700));
        QCOMPARE(modeOf(appLog()), mode_t(0600));
        QCOMPARE(written.size(), 1);
        QVERIFY(stampPattern.match(written.first()).hasMatch());
        QCOMPARE(written.first().mid(25), QStringLiteral("--- Corvane %1 started (%2, pid %3) ---")
                                              .arg(name, QSysInfo::prettyProductName()).arg(::getpid()));
    }

    void rotation_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("rotated");
        QTest::newRow("one byte under 1 MiB") << 1048575 << false;
        QTest::newRow("exactly 1 MiB, replacing app.1.log") << 1048576 << true;
    }
    void rotation()
    {
        QFETCH(int, size);
        QFETCH(bool, rotated);
        QByteArray old(size, 'x');
        old[size - 1] = '\n';
        QVERIFY(writeFile(appLog(), old) && writeFile(previousLog(), "older generation\n"));
        QVERIFY(::chmod(QFile::encodeName(appLog()).constData(), 0644) == 0);
        Diagnostics::start(bundleWithVersion(QStringLiteral("2.0")));
        Diagnostics::flush();
        const QByteArray current = readFile(appLog());
        QCOMPARE(readFile(previousLog()), rotated ? old : QByteArray("older generation\n"));
        QCOMPARE(current.startsWith(old), !rotated);
        QVERIFY(current.mid(rotated ? 0 : size).contains("--- Corvane 2.0 started ("));
        QCOMPARE(modeOf(appLog()), mode_t(rotated ? 0600 : 0644)); // a log kept keeps its mode
    }

    // Eight threads of this process, two processes: every entry whole, a thread's in order.
    void manyWritersWriteWholeLines()
    {
        QFile::remove(appLog());
        std::vector<std::thread> workers;
        for (int t = 0; t < 8; ++t) {
            workers.emplace_back([t] {
                for (int i = 0; i < 100; ++i)
                    Diagnostics::log(QStringLiteral("t%1 %2 ").arg(t).arg(i) + QString(300, 'p'));
            });
        }
        for (auto &worker : workers)
            worker.join();
        QCOMPARE(runChildren({"write:a", "write:b"}), 0);
        const QStringList written = logLines();
        QCOMPARE(written.size(), 800 + 2 * (2000 + 1));
        const QRegularExpression whole(QStringLiteral("^\\S+Z (?:t(\\d) (\\d+) p{300}|[ab] \\d+ q{200}|--- Corvane .* ---)$"));
        QList<int> next(8, 0);
        for (const QString &line : written) {
            const auto match = whole.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line.left(80)));
            if (match.hasCaptured(1))
                QCOMPARE(match.captured(2).toInt(), next[match.captured(1).toInt()]++);
        }
    }

    void entriesQueuedAtExitBeforeStartAreWritten()
    {
        QFile::remove(appLog());
        QFile::remove(previousLog());
        QCOMPARE(runChildren({"write-before-start"}), 0);
        const QStringList written = logLines();
        QCOMPARE(written.size(), 2000);
        QVERIFY(written.last().endsWith(QStringLiteral(" c 1999 ") + QString(200, QLatin1Char('q'))));
        QCOMPARE(QDir(Diagnostics::logFolder()).entryList(QDir::Files), QStringList{QStringLiteral("app.log")});
    }

    // The banner, then the exception entry, then its stack, one symbol a line.
    void uncaughtException()
    {
        QFile::remove(appLog());
        QCOMPARE(runChildren({"throw-thread"}), 1000); // ended by abort
        const QStringList written = logLines();
        QVERIFY2(written.size() >= 3, qPrintable(written.join('\n')));
        QVERIFY(written.at(0).contains(QStringLiteral("--- Corvane ")));
        QCOMPARE(written.at(1).mid(25), "UNCAUGHT std::logic_error: from a thread");
        QVERIFY(stampPattern.match(written.at(1)).hasMatch() && !stampPattern.match(written.at(2)).hasMatch());
    }
};

namespace {

// The child modes run without any Qt application object: logging must work there.
int childMain(const QByteArray &mode)
{
    const QString padding(200, QLatin1Char('q'));
    if (mode == "write-before-start") { // nothing but the writer has looked at the log's paths yet
        for (int i = 0; i < 2000; ++i)
            Diagnostics::log(QStringLiteral("c %1 ").arg(i) + padding);
        return 0;
    }
    Diagnostics::start(AppBundle(QStringLiteral("/nowhere/corvane"), AppBundle::defaultInfo()));
    if (mode == "throw-thread")
        std::thread([] { throw std::logic_error("from a thread"); }).join();
    for (int i = 0; mode.startsWith("write:") && i < 2000; ++i)
        Diagnostics::log(QString::fromLatin1(mode.mid(6)) + QStringLiteral(" %1 ").arg(i) + padding);
    return 0; // left to the exit: queued entries are still written
}

} // namespace

int main(int argc, char **argv)
{
    const QByteArray mode = qgetenv("CV_APPLOG_CHILD");
    if (!mode.isEmpty())
        return childMain(mode);
    QCoreApplication app(argc, argv);
    ApplogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_applog.moc"

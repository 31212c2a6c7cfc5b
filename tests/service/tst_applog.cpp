// The application log: entries, banner, modes, rotation at launch, whole lines from
// many writers (threads and processes) and the uncaught-exception entry. Child modes
// of this executable play the other processes.
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
    QString text = QString::fromUtf8(readFile(appLog()));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.split(QLatin1Char('\n'));
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

// Runs a child mode to its end: its exit status, 1000 when it crashed (abort).
int runChild(const QString &mode)
{
    const auto process = startChild(mode);
    if (!process->waitForFinished(20000)) {
        process->kill();
        process->waitForFinished();
        return -1;
    }
    return process->exitStatus() == QProcess::CrashExit ? 1000 : process->exitCode();
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
        QVERIFY(stampPattern.match(QString::fromUtf8(bytes)).hasMatch());
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
                                              .arg(name, QSysInfo::prettyProductName())
                                              .arg(::getpid()));
    }

    void rotation_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("earlier"); // an app.1.log is there
        QTest::addColumn<bool>("rotated");
        QTest::newRow("one byte under 1 MiB") << 1048575 << true << false;
        QTest::newRow("exactly 1 MiB, replacing app.1.log") << 1048576 << true << true;
    }
    void rotation()
    {
        QFETCH(int, size);
        QFETCH(bool, earlier);
        QFETCH(bool, rotated);
        QByteArray old(size, 'x');
        old[size - 1] = '\n';
        QVERIFY(writeFile(appLog(), old));
        QVERIFY(::chmod(QFile::encodeName(appLog()).constData(), 0644) == 0);
        QFile::remove(previousLog());
        if (earlier)
            QVERIFY(writeFile(previousLog(), "older generation\n"));

        Diagnostics::start(bundleWithVersion(QStringLiteral("2.0")));
        Diagnostics::flush();
        const QByteArray current = readFile(appLog());
        QCOMPARE(readFile(previousLog()), rotated ? old : QByteArray("older generation\n"));
        QCOMPARE(current.startsWith(old), !rotated);
        QVERIFY(current.mid(rotated ? 0 : size).contains("--- Corvane 2.0 started ("));
        QCOMPARE(modeOf(appLog()), mode_t(rotated ? 0600 : 0644)); // a log kept keeps its mode
    }

    void eightThreadsWriteWholeLines()
    {
        QFile::remove(appLog());
        constexpr int threads = 8;
        constexpr int perThread = 100;
        // Long lines make torn writes likely if entries were not written whole.
        const QString padding(300, QLatin1Char('p'));
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([t, &padding] {
                for (int i = 0; i < perThread; ++i)
                    Diagnostics::log(QStringLiteral("thread %1 line %2 ").arg(t).arg(i) + padding);
            });
        }
        for (auto &worker : workers)
            worker.join();
        const QStringList written = logLines();
        QCOMPARE(written.size(), threads * perThread);
        const QRegularExpression whole(QStringLiteral("^\\S+Z thread (\\d) line (\\d+) p{300}$"));
        QList<int> next(threads, 0);
        for (const QString &line : written) {
            const auto match = whole.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line.left(80)));
            // Each thread's entries arrive in its own call order.
            QCOMPARE(match.captured(2).toInt(), next[match.captured(1).toInt()]++);
        }
    }

    void twoProcessesNeverInterleave()
    {
        QFile::remove(appLog());
        const auto first = startChild(QStringLiteral("write:a"));
        const auto second = startChild(QStringLiteral("write:b"));
        for (QProcess *process : {first.get(), second.get()}) {
            QVERIFY(process->waitForFinished(20000));
            QCOMPARE(process->exitCode(), 0);
        }
        const QStringList written = logLines();
        QCOMPARE(written.size(), 2 * (2000 + 1));
        const QRegularExpression whole(QStringLiteral("^\\S+Z (?:[ab] \\d+ q{200}|--- Corvane .* ---)$"));
        for (const QString &line : written)
            QVERIFY2(whole.match(line).hasMatch(), qPrintable(line.left(80)));
    }

    void entriesQueuedAtExitBeforeStartAreWritten()
    {
        QFile::remove(appLog());
        QFile::remove(previousLog());
        QCOMPARE(runChild(QStringLiteral("write-before-start")), 0);
        const QStringList written = logLines();
        QCOMPARE(written.size(), 2000);
        QVERIFY(written.last().endsWith(QStringLiteral(" c 1999 ") + QString(200, QLatin1Char('q'))));
        QCOMPARE(QDir(Diagnostics::logFolder()).entryList(QDir::Files), QStringList{QStringLiteral("app.log")});
    }

    void uncaughtException_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("heading");
        QTest::newRow("std::runtime_error") << "throw" << "UNCAUGHT std::runtime_error: the reason";
        QTest::newRow("other thread") << "throw-thread" << "UNCAUGHT std::logic_error: from a thread";
    }
    void uncaughtException()
    {
        QFETCH(QString, mode);
        QFETCH(QString, heading);
        QFile::remove(appLog());
        QCOMPARE(runChild(mode), 1000); // ended by abort
        const QStringList written = logLines();
        // The banner, then the exception entry with its stack, one symbol a line.
        QVERIFY2(written.size() >= 3, qPrintable(written.join('\n')));
        QVERIFY(written.at(0).contains(QStringLiteral("--- Corvane ")));
        QCOMPARE(written.at(1).mid(25), heading);
        QVERIFY(stampPattern.match(written.at(1)).hasMatch());
        QVERIFY(!stampPattern.match(written.at(2)).hasMatch());
    }
};

namespace {

// The child modes run without any Qt application object: logging must work there.
int childMain(const QByteArray &mode)
{
    const QString padding(200, QLatin1Char('q'));
    if (mode == "write-before-start") {
        // Nothing but the writer has looked at the log's paths yet.
        for (int i = 0; i < 2000; ++i)
            Diagnostics::log(QStringLiteral("c %1 ").arg(i) + padding);
        return 0;
    }
    Diagnostics::start(AppBundle(QStringLiteral("/nowhere/corvane"), AppBundle::defaultInfo()));
    if (mode == "throw")
        throw std::runtime_error("the reason");
    if (mode == "throw-thread") {
        std::thread([] { throw std::logic_error("from a thread"); }).join();
        return 0;
    }
    if (mode.startsWith("write:")) {
        for (int i = 0; i < 2000; ++i)
            Diagnostics::log(QString::fromLatin1(mode.mid(6)) + QStringLiteral(" %1 ").arg(i) + padding);
        return 0; // left to the exit: queued entries are still written
    }
    return 2;
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

#include "platform/app_bundle.h"
#include "service/diagnostics.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTest>

#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace cv;

namespace {

const QRegularExpression stampPattern(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{3}Z "));

QString appLog() { return Diagnostics::logFolder() + QStringLiteral("/app.log"); }
QString previousLog() { return Diagnostics::logFolder() + QStringLiteral("/app.1.log"); }

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

mode_t modeOf(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

QStringList lines(const QByteArray &bytes)
{
    QString text = QString::fromUtf8(bytes);
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

} // namespace

class ApplogTest : public QObject {
    Q_OBJECT

private:
    // Runs this executable in one of its child modes; returns the wait status.
    static int runChild(const QString &mode, QByteArray *errorOutput = nullptr)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CV_APPLOG_CHILD"), mode);
        process.setProcessEnvironment(environment);
        process.start(QCoreApplication::applicationFilePath(), {});
        if (!process.waitForFinished(20000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        if (errorOutput)
            *errorOutput = process.readAllStandardError();
        return process.exitStatus() == QProcess::CrashExit ? 1000 : process.exitCode();
    }

private slots:
    // Must run first: before start() nothing has made the folder.
    void beforeStartWithoutFolderWritesNothing()
    {
        QVERIFY(!QFileInfo::exists(Diagnostics::logFolder()));
        Diagnostics::log(QStringLiteral("lost"));
        Diagnostics::flush();
        QVERIFY(!QFileInfo::exists(Diagnostics::logFolder()));
        QVERIFY(!QFileInfo::exists(appLog()));
    }

    void beforeStartWithFolderWrites()
    {
        QVERIFY(QDir().mkpath(Diagnostics::logFolder()));
        Diagnostics::log(QStringLiteral("early"));
        Diagnostics::flush();
        const QStringList written = lines(readAll(appLog()));
        QCOMPARE(written.size(), 1);
        QVERIFY(written.first().endsWith(QStringLiteral(" early")));
        QCOMPARE(modeOf(appLog()), mode_t(0600));
        QVERIFY(QDir(Diagnostics::logFolder()).removeRecursively());
        QVERIFY(QDir(QDir::homePath() + QStringLiteral("/Library/Logs")).removeRecursively());
    }

    void startCreatesFolderAndFileWithModes()
    {
        ::umask(022);
        Diagnostics::start(bundleWithVersion(QStringLiteral("4.5.6")));
        Diagnostics::flush();
        QCOMPARE(modeOf(Diagnostics::logFolder()), mode_t(0700));
        QCOMPARE(modeOf(QDir::homePath() + QStringLiteral("/Library/Logs")), mode_t(0700));
        QCOMPARE(modeOf(appLog()), mode_t(0600));
        const QStringList written = lines(readAll(appLog()));
        QCOMPARE(written.size(), 1);
        QVERIFY(stampPattern.match(written.first()).hasMatch());
        const QString expected = QStringLiteral("--- Corvane 4.5.6 started (") + QSysInfo::prettyProductName()
            + QStringLiteral(", pid ") + QString::number(::getpid()) + QStringLiteral(") ---");
        QCOMPARE(written.first().mid(25), expected);
    }

    void bannerWithoutVersionSaysDevelopment()
    {
        Diagnostics::start(bundleWithVersion(std::nullopt));
        Diagnostics::flush();
        const QStringList written = lines(readAll(appLog()));
        QVERIFY(written.last().mid(25).startsWith(QStringLiteral("--- Corvane development started (")));
        QVERIFY(written.last().endsWith(QStringLiteral(", pid ") + QString::number(::getpid())
                                        + QStringLiteral(") ---")));
    }

    void entryFormat_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QStringLiteral("hello world");
        QTest::newRow("empty") << QString();
        QTest::newRow("several lines") << QStringLiteral("first\nsecond\\n not escaped");
        QTest::newRow("non-ASCII") << QStringLiteral("Couldn’t reach “Studio” …");
    }

    void entryFormat()
    {
        QFETCH(QString, text);
        QFile::remove(appLog());
        Diagnostics::log(text);
        Diagnostics::flush();
        const QByteArray bytes = readAll(appLog());
        QVERIFY(bytes.endsWith('\n'));
        QVERIFY(stampPattern.match(QString::fromUtf8(bytes)).hasMatch());
        QCOMPARE(bytes.size(), 24 + 1 + text.toUtf8().size() + 1);
        QCOMPARE(bytes.mid(24), ' ' + text.toUtf8() + '\n');
        // The stamp is UTC and close to now.
        const QDateTime stamp = QDateTime::fromString(QString::fromLatin1(bytes.left(23)),
                                                      QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
        QVERIFY(stamp.isValid());
        const qint64 skew = QDateTime::currentDateTimeUtc().toMSecsSinceEpoch()
            - QDateTime(stamp.date(), stamp.time(), Qt::UTC).toMSecsSinceEpoch();
        QVERIFY2(skew >= 0 && skew < 5000, qPrintable(QString::number(skew)));
    }

    void entriesKeepCallOrder()
    {
        QFile::remove(appLog());
        for (int i = 0; i < 500; ++i)
            Diagnostics::log(QStringLiteral("entry %1").arg(i));
        Diagnostics::flush();
        const QStringList written = lines(readAll(appLog()));
        QCOMPARE(written.size(), 500);
        for (int i = 0; i < 500; ++i)
            QVERIFY(written.at(i).endsWith(QStringLiteral(" entry %1").arg(i)));
    }

    void existingFileKeepsMode()
    {
        QFile::remove(appLog());
        writeFile(appLog(), "old\n");
        QVERIFY(::chmod(QFile::encodeName(appLog()).constData(), 0644) == 0);
        Diagnostics::log(QStringLiteral("new"));
        Diagnostics::flush();
        QCOMPARE(modeOf(appLog()), mode_t(0644));
        QVERIFY(readAll(appLog()).startsWith("old\n"));
    }

    void missingFileIsRecreated()
    {
        QVERIFY(QFile::remove(appLog()));
        Diagnostics::log(QStringLiteral("again"));
        Diagnostics::flush();
        QCOMPARE(modeOf(appLog()), mode_t(0600));
        QCOMPARE(lines(readAll(appLog())).size(), 1);
    }

    void missingFolderLosesEntriesSilently()
    {
        QVERIFY(QDir(Diagnostics::logFolder()).removeRecursively());
        Diagnostics::log(QStringLiteral("nowhere"));
        Diagnostics::flush();
        QVERIFY(!QFileInfo::exists(Diagnostics::logFolder()));
        Diagnostics::start(bundleWithVersion(QStringLiteral("1")));
        Diagnostics::flush();
        QVERIFY(!readAll(appLog()).contains("nowhere"));
    }

    void rotation_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("rotated");
        QTest::newRow("one byte under 1 MiB") << 1048575 << false;
        QTest::newRow("exactly 1 MiB") << 1048576 << true;
        QTest::newRow("over 1 MiB") << 1048576 * 2 << true;
    }

    void rotation()
    {
        QFETCH(int, size);
        QFETCH(bool, rotated);
        QByteArray old(size, 'x');
        old[size - 1] = '\n';
        writeFile(appLog(), old);
        writeFile(previousLog(), "older generation\n");

        Diagnostics::start(bundleWithVersion(QStringLiteral("2.0")));
        Diagnostics::flush();

        const QByteArray current = readAll(appLog());
        if (rotated) {
            QCOMPARE(readAll(previousLog()), old);
            QCOMPARE(lines(current).size(), 1);
            QVERIFY(current.contains("--- Corvane 2.0 started ("));
            QCOMPARE(modeOf(appLog()), mode_t(0600));
        } else {
            QCOMPARE(readAll(previousLog()), QByteArray("older generation\n"));
            QVERIFY(current.startsWith(old));
            QVERIFY(current.mid(size).contains("--- Corvane 2.0 started ("));
        }
        const QStringList names = QDir(Diagnostics::logFolder()).entryList(QDir::Files);
        QVERIFY2(!names.contains(QStringLiteral("app.2.log")), qPrintable(names.join(',')));
    }

    void rotationWithoutEarlierGeneration()
    {
        QFile::remove(previousLog());
        writeFile(appLog(), QByteArray(1048576, 'y'));
        Diagnostics::start(bundleWithVersion(QStringLiteral("2.0")));
        Diagnostics::flush();
        QCOMPARE(QFileInfo(previousLog()).size(), 1048576);
        QCOMPARE(lines(readAll(appLog())).size(), 1);
    }

    void eightThreadsWriteWholeLines()
    {
        QFile::remove(appLog());
        constexpr int threads = 8;
        constexpr int perThread = 300;
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
        Diagnostics::flush();

        const QStringList written = lines(readAll(appLog()));
        QCOMPARE(written.size(), threads * perThread);
        const QRegularExpression whole(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{3}Z thread (\\d) line (\\d+) p{300}$"));
        QList<int> next(threads, 0);
        for (const QString &line : written) {
            const auto match = whole.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line.left(80)));
            const int t = match.captured(1).toInt();
            // Each thread's entries arrive in its own call order.
            QCOMPARE(match.captured(2).toInt(), next[t]);
            ++next[t];
        }
    }

    void twoProcessesNeverInterleave()
    {
        QFile::remove(appLog());
        QProcess first;
        QProcess second;
        for (auto [process, tag] : {std::pair {&first, "a"}, std::pair {&second, "b"}}) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("CV_APPLOG_CHILD"), QStringLiteral("write:") + QLatin1String(tag));
            process->setProcessEnvironment(environment);
            process->start(QCoreApplication::applicationFilePath(), {});
        }
        QVERIFY(first.waitForFinished(20000));
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(second.exitCode(), 0);

        const QStringList written = lines(readAll(appLog()));
        QCOMPARE(written.size(), 2 * (2000 + 1));
        const QRegularExpression whole(QStringLiteral("^\\S+Z (?:(?:[ab]) \\d+ q{200}|--- Corvane .* ---)$"));
        for (const QString &line : written)
            QVERIFY2(whole.match(line).hasMatch(), qPrintable(line.left(80)));
    }

    void entriesQueuedAtExitBeforeStartAreWritten()
    {
        QFile::remove(appLog());
        QFile::remove(previousLog());
        QCOMPARE(runChild(QStringLiteral("write-before-start")), 0);
        const QStringList written = lines(readAll(appLog()));
        QCOMPARE(written.size(), 2000);
        QVERIFY(written.last().endsWith(QStringLiteral(" c 1999 ") + QString(200, QLatin1Char('q'))));
        const QStringList names = QDir(Diagnostics::logFolder()).entryList(QDir::Files);
        QCOMPARE(names, QStringList {QStringLiteral("app.log")});
    }

    void uncaughtException_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("heading");
        QTest::newRow("std::runtime_error") << "throw" << "UNCAUGHT std::runtime_error: the reason";
        QTest::newRow("no reason") << "throw-int" << "UNCAUGHT int: ";
        QTest::newRow("other thread") << "throw-thread" << "UNCAUGHT std::logic_error: from a thread";
    }

    void uncaughtException()
    {
        QFETCH(QString, mode);
        QFETCH(QString, heading);
        QFile::remove(appLog());
        QCOMPARE(runChild(mode), 1000); // ended by abort
        const QByteArray bytes = readAll(appLog());
        const QStringList written = lines(bytes);
        // The banner, then the exception entry with its stack.
        QVERIFY2(written.size() >= 3, bytes.constData());
        QVERIFY(written.at(0).contains(QStringLiteral("--- Corvane ")));
        int at = -1;
        for (int i = 0; i < written.size() && at < 0; ++i) {
            if (written.at(i).mid(24).startsWith(QStringLiteral(" UNCAUGHT ")))
                at = i;
        }
        QVERIFY2(at > 0, bytes.constData());
        QVERIFY(stampPattern.match(written.at(at)).hasMatch());
        QCOMPARE(written.at(at).mid(25), heading);
        // Stack symbols follow, one per line, ending the entry.
        QVERIFY(at + 1 < written.size());
        QVERIFY(!stampPattern.match(written.at(at + 1)).hasMatch());
        QVERIFY(bytes.endsWith('\n'));
    }
};

namespace {

// The child modes run without any Qt application object: logging must work there.
int childMain(const QByteArray &mode)
{
    if (mode == "write-before-start") {
        // Nothing but the writer has looked at the log's paths yet.
        const QString padding(200, QLatin1Char('q'));
        for (int i = 0; i < 2000; ++i)
            Diagnostics::log(QStringLiteral("c %1 ").arg(i) + padding);
        return 0;
    }
    Diagnostics::start(AppBundle(QStringLiteral("/nowhere/corvane"), AppBundle::defaultInfo()));
    if (mode == "throw")
        throw std::runtime_error("the reason");
    if (mode == "throw-int")
        throw 7;
    if (mode == "throw-thread") {
        std::thread([] { throw std::logic_error("from a thread"); }).join();
        return 0;
    }
    if (mode.startsWith("write:")) {
        const QString tag = QString::fromLatin1(mode.mid(6));
        const QString padding(200, QLatin1Char('q'));
        for (int i = 0; i < 2000; ++i)
            Diagnostics::log(tag + QStringLiteral(" %1 ").arg(i) + padding);
        // Left to the exit: queued entries are still written.
        return 0;
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

// The application log: entries, banner, modes, rotation at launch and the
// uncaught-exception entry (this executable as a child playing the crashing process).
#include "test_files.h"
#include "../views/table.h"

#include "platform/app_bundle.h"
#include "service/diagnostics.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <optional>
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

// Runs this executable as a child in `mode` (main below): its exit status, 1000 when
// it crashed (abort).
// `environment` is the child's, this process's when empty; `output` receives its
// standard output.
int runChild(const QString &mode, QProcessEnvironment environment = {}, QByteArray *output = nullptr)
{
    QProcess process;
    if (environment.isEmpty())
        environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CV_APPLOG_CHILD"), mode);
    process.setProcessEnvironment(environment);
    process.start(QCoreApplication::applicationFilePath(), {});
    const bool finished = process.waitForFinished(20000);
    if (output)
        *output = process.readAllStandardOutput();
    return !finished ? -1 : process.exitStatus() == QProcess::CrashExit ? 1000 : process.exitCode();
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
        QVERIFY(QDir(Diagnostics::logFolder()).removeRecursively());
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

    // The banner, then the exception entry, then its stack.
    void uncaughtException()
    {
        QFile::remove(appLog());
        QCOMPARE(runChild("throw-thread"), 1000); // ended by abort
        const QStringList written = logLines();
        QVERIFY2(written.size() >= 3 && written.at(0).contains("--- Corvane "), qPrintable(written.join('\n')));
        QCOMPARE(written.at(1).mid(25), "UNCAUGHT std::logic_error: from a thread");
    }

    // The folder, as a started application in a fresh home makes it: "Corvane" (the
    // settings folder's name) in XDG_STATE_HOME when that is an absolute path, else
    // in ".local/state" of the home folder; nothing else appears in the home folder.
    void folder_data()
    {
        columns<std::optional<QString>, QString>("stateHome", "expected"); // "~" is the home folder
        QTest::newRow("no XDG_STATE_HOME") << std::optional<QString>() << "~/.local/state/Corvane";
        QTest::newRow("XDG_STATE_HOME") << std::optional<QString>("~/state/") << "~/state/Corvane";
        QTest::newRow("XDG_STATE_HOME empty") << std::optional<QString>("") << "~/.local/state/Corvane";
        QTest::newRow("XDG_STATE_HOME relative") << std::optional<QString>("state") << "~/.local/state/Corvane";
    }
    void folder()
    {
        auto [stateHome, expected] = fetch<std::optional<QString>, QString>("stateHome", "expected");
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.remove(QStringLiteral("XDG_STATE_HOME"));
        if (stateHome)
            environment.insert(QStringLiteral("XDG_STATE_HOME"), QString(*stateHome).replace('~', home.path()));
        QByteArray printed;
        QCOMPARE(runChild("folder", environment, &printed), 0);
        expected.replace('~', home.path());
        QCOMPARE(QString::fromLocal8Bit(printed), expected);
        QVERIFY(QFileInfo::exists(expected + QStringLiteral("/app.log")));
        QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList {expected.mid(home.path().size() + 1).section('/', 0, 0)});
    }
};

// The child runs without any Qt application object: logging must work there.
int main(int argc, char **argv)
{
    const QByteArray mode = qgetenv("CV_APPLOG_CHILD");
    if (mode.isEmpty()) {
        QCoreApplication app(argc, argv);
        ApplogTest test;
        return QTest::qExec(&test, argc, argv);
    }
    Diagnostics::start(bundle);
    if (mode == "folder") {
        Diagnostics::flush();
        std::fputs(qPrintable(Diagnostics::logFolder()), stdout);
        return 0;
    }
    std::thread([] { throw std::logic_error("from a thread"); }).join();
    return 0;
}

#include "tst_applog.moc"

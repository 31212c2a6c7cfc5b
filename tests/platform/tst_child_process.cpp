// Spawned children (their statuses, who reaps them, their streams and pipes) and
// the tools run for their output.
#include "platform/child_process.h"
#include "../views/table.h"
#include "platform/tool_runner.h"
#include "test_files.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace cv;
using namespace cv::test;

namespace {

std::unique_ptr<SpawnedProcess> shell(const QString &script, SpawnedProcess::Options options = {})
{
    return SpawnedProcess::spawn("/bin/sh", {"-c", script}, options);
}

// The bound only stops a child that does not end: a busy machine may start one late.
bool ended(Child &child, int ms = 20000) { return QTest::qWaitFor([&] { return !child.running(); }, ms); }

int openDescriptors() { return int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::System).size()); }

// Ends by pid whatever a failing case left running.
struct Reaper {
    std::vector<pid_t> pids;
    ~Reaper()
    {
        for (pid_t pid : pids)
            if (::waitpid(pid, nullptr, WNOHANG) == 0)
                ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
    }
};

// Descriptors this process holds without close-on-exec (a launcher's pipe, a high
// descriptor): a child gets descriptors 0 to 2 only all the same.
struct Inheritable {
    int ends[2];
    Inheritable() { QVERIFY(::pipe(ends) == 0 && ::dup2(ends[1], 100) == 100); }
    ~Inheritable() { ::close(ends[0]), ::close(ends[1]), ::close(100); }
    // A script naming those of them open in the shell.
    QString listOpen() const { return QStringLiteral("for fd in %1 %2 100; do [ -e /proc/$$/fd/$fd ] && echo open $fd >&2; done; ").arg(ends[0]).arg(ends[1]); }
};

// Whether a process still runs (a zombie waiting for its parent does not).
bool running(pid_t pid)
{
    const QByteArray line = test::readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    return line.contains(')') && !QByteArray("ZX").contains(line.mid(line.lastIndexOf(')') + 2, 1));
}

// The processes of this user still running whose environment holds `entry`
// ("NAME=value"): a process and whatever it started, however far it got.
QList<pid_t> runningWith(const QByteArray &entry)
{
    QList<pid_t> found;
    for (const QString &name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = pid_t(name.toLongLong(&number));
        if (number && pid != ::getpid() && test::readFile("/proc/" + name + "/environ").split('\0').contains(entry) && running(pid))
            found << pid;
    }
    return found;
}

} // namespace

class ChildProcessTest : public QObject {
    Q_OBJECT
private slots:
    // By a signal, even one this process ignores (the child starts with the default).
    void terminationStatus()
    {
        ::signal(SIGPIPE, SIG_IGN);
        for (const int signal : {SIGTERM, SIGPIPE}) {
            auto child = shell(QStringLiteral("kill -%1 $$; exit 0").arg(signal));
            Reaper reaper{{child->pid()}};
            QVERIFY(ended(*child));
            QCOMPARE(child->terminationStatus(), std::optional<int>(signal));
            QCOMPARE(child->wait(), signal);
        }
    }

    void reaping()
    {
        auto running = shell("exec sleep 100");
        auto elsewhere = shell("exit 0");
        Reaper reaper{{running->pid(), elsewhere->pid()}};
        QCOMPARE(running->terminationStatus(), std::nullopt);
        // Reaped by someone else: ended, how is unknown.
        QCOMPARE(::waitpid(elsewhere->pid(), nullptr, 0), elsewhere->pid());
        QVERIFY(!elsewhere->running());
        QCOMPARE(elsewhere->terminationStatus(), std::optional<int>(-1));
        QVERIFY(running->running());
    }

    // The service's launcher: output and errors to the log, arguments and
    // environment as given, and standard input closed even when ours is an open pipe.
    void launcherWiresStreams()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("service.log");
        QVERIFY(test::writeFile(path, "before\n"));
        int input[2];
        QVERIFY(::pipe(input) == 0);
        const int savedInput = ::dup(STDIN_FILENO);
        ::dup2(input[0], STDIN_FILENO);
        qputenv("CV_CHILD_TEST_VALUE", "inherited value");
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        Inheritable inherited;
        auto child = ChildLauncher::system().launch(
            "/bin/sh", {"-c", inherited.listOpen() + "cat; echo \"out $CV_CHILD_TEST_VALUE\"; echo err >&2; echo \"$0|$1\"", "first arg", ""}, fd);
        ::close(fd);
        ::dup2(savedInput, STDIN_FILENO);
        ::close(savedInput);
        Reaper reaper{{pid_t(child->pid())}};
        const bool done = ended(*child); // `cat` ends at all only on a closed input
        ::close(input[0]);
        ::close(input[1]);
        QVERIFY(done);
        QCOMPARE(test::readFile(path), QByteArray("before\nout inherited value\nerr\nfirst arg|\n"));
    }

    void pipesAreReadAndClosed()
    {
        Inheritable inherited;
        const int before = openDescriptors();
        {
            SpawnedProcess::Options options;
            options.input = SpawnedProcess::Stream::null;
            options.output = SpawnedProcess::Stream::pipe;
            options.error = SpawnedProcess::Stream::pipe;
            auto child = shell(inherited.listOpen() + "cat; head -c 200000 /dev/zero; printf err >&2; exit 6", options);
            Reaper reaper{{child->pid()}};
            QCOMPARE(child->readOutputToEnd().size(), 200000); // more than a pipe holds
            QCOMPARE(child->readErrorToEnd(), QByteArray("err"));
            QCOMPARE(openDescriptors(), before); // each pipe closed once read to its end
            QCOMPARE(child->wait(), 6);
        }
        QCOMPARE(openDescriptors(), before);
    }

    void output_data()
    {
        columns<QString, QString, QString>("program", "script", "output");
        QTest::newRow("standard output only") << "/bin/sh" << "printf 'one\\ntwo'; echo noise >&2; exit 3" << "one\ntwo";
        QTest::newRow("invalid UTF-8 replaced") << "/bin/sh" << "printf '\\377ok \\303\\251'" << QString(QChar(0xFFFD)) + "ok é";
        QTest::newRow("more than a pipe holds") << "/bin/sh" << "head -c 3000000 /dev/zero | tr '\\0' a" << QString(3000000, 'a');
        QTest::newRow("missing tool") << "/nonexistent/tool" << "" << "";
    }
    void output()
    {
        auto [program, script, output] = fetch<QString, QString, QString>("program", "script", "output");
        QCOMPARE(SystemToolRunner(10).run(program, {"-c", script}), output);
    }

    // Cut off at its time-out with what it started; what it wrote does not count. What
    // must end is found by a mark in its environment, which everything it starts
    // inherits, so the check holds wherever a busy machine let the script get to.
    void hungToolIsCutOff_data()
    {
        QTest::addColumn<QString>("script"); // %1: a file for the pid of what must end
        QTest::newRow("never ends") << "echo $$ > '%1'; echo partial; exec sleep 100";
        QTest::newRow("what the tool started") << "sleep 100 & echo $! > '%1'; wait";
        QTest::newRow("closes its output, then hangs") << "echo $$ > '%1'; echo early; exec >&-; exec sleep 100";
    }
    void hungToolIsCutOff()
    {
        QFETCH(QString, script);
        QTemporaryDir dir;
        const QByteArray mark = "CV_CUT_OFF_TEST=" + QFile::encodeName(dir.path());
        QElapsedTimer timer;
        timer.start();
        QString output;
        {
            ScopedEnv marked("CV_CUT_OFF_TEST", QFile::encodeName(dir.path()));
            output = SystemToolRunner(0.3).run("/bin/sh", {"-c", script.arg(dir.filePath("pid"))});
        }
        QCOMPARE(output, QString());
        // Far below the 100 s the script and what it started would run or hold the
        // output open: cut off, not waited out.
        QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
        QList<pid_t> left;
        const bool ended = QTest::qWaitFor([&] { return (left = runningWith(mark)).isEmpty(); }, 20000);
        for (const pid_t pid : std::as_const(left))
            ::kill(pid, SIGKILL); // leaves nothing behind
        QVERIFY(ended);
        // The script's own pid, where it got that far, was among them.
        const pid_t pid = pid_t(test::readFile(dir.filePath("pid")).trimmed().toLongLong());
        QVERIFY(pid <= 0 || !running(pid));
    }
};

QTEST_GUILESS_MAIN(ChildProcessTest)
#include "tst_child_process.moc"

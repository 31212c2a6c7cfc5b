// Spawned children: their statuses, who reaps them, their streams and pipes.
#include "platform/child_process.h"
#include "test_files.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace cv;

namespace {

std::unique_ptr<SpawnedProcess> shell(const QString &script, SpawnedProcess::Options options = {})
{
    return SpawnedProcess::spawn("/bin/sh", {"-c", script}, options);
}

bool ended(Child &child, int ms = 5000) { return QTest::qWaitFor([&] { return !child.running(); }, ms); }

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

} // namespace

class ChildProcessTest : public QObject {
    Q_OBJECT
private slots:
    void terminationStatus_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("status");
        QTest::newRow("killed by SIGTERM") << "kill -TERM $$" << int(SIGTERM);
        QTest::newRow("SIGPIPE, ignored here") << "kill -PIPE $$; exit 0" << int(SIGPIPE);
    }
    void terminationStatus()
    {
        QFETCH(QString, script);
        QFETCH(int, status);
        ::signal(SIGPIPE, SIG_IGN); // the child starts with the default handling all the same
        auto child = shell(script);
        Reaper reaper{{child->pid()}};
        QVERIFY(ended(*child));
        QCOMPARE(child->terminationStatus(), std::optional<int>(status));
        QCOMPARE(child->wait(), status);
    }

    void reaping()
    {
        auto running = shell("exec sleep 5");
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
        const bool done = ended(*child, 3000); // `cat` ends at once only on a closed input
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
};

QTEST_GUILESS_MAIN(ChildProcessTest)
#include "tst_child_process.moc"

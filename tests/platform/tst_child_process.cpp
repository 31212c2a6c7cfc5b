#include "platform/child_process.h"
#include "platform/platform_error.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace cv;

namespace {

std::unique_ptr<SpawnedProcess> shell(const QString &script, SpawnedProcess::Options options = {})
{
    return SpawnedProcess::spawn(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, options);
}

bool waitEnded(Child &child, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (child.running()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(2);
    }
    return true;
}

} // namespace

class ChildProcessTest : public QObject {
    Q_OBJECT

    std::vector<pid_t> leftovers_;

private slots:
    void cleanup()
    {
        for (pid_t pid : leftovers_) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
            }
        }
        leftovers_.clear();
    }

    void terminationStatus_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("status");
        QTest::newRow("success") << "exit 0" << 0;
        QTest::newRow("exit 3") << "exit 3" << 3;
        QTest::newRow("exit 255") << "exit 255" << 255;
        QTest::newRow("killed by SIGTERM") << "kill -TERM $$" << int(SIGTERM);
        QTest::newRow("killed by SIGKILL") << "kill -KILL $$" << int(SIGKILL);
    }

    void terminationStatus()
    {
        QFETCH(QString, script);
        QFETCH(int, status);
        auto child = shell(script);
        leftovers_.push_back(child->pid());
        QVERIFY(waitEnded(*child));
        QCOMPARE(child->terminationStatus(), std::optional<int>(status));
        QVERIFY(!child->running());
        QCOMPARE(child->wait(), status);
    }

    void runningChildIsNeitherWaitedForNorKilled()
    {
        auto child = shell(QStringLiteral("exec sleep 5"));
        const pid_t pid = child->pid();
        leftovers_.push_back(pid);
        QVERIFY(child->running());
        QCOMPARE(child->terminationStatus(), std::nullopt);
        // Destroying the object leaves the process running.
        child.reset();
        QThread::msleep(30);
        int status = 0;
        QCOMPARE(::waitpid(pid, &status, WNOHANG), 0);
        QCOMPARE(::kill(pid, SIGINT), 0);
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
    }

    void reapsOnlyItsOwnPid()
    {
        auto first = shell(QStringLiteral("exec sleep 0.2"));
        auto second = shell(QStringLiteral("exit 4"));
        leftovers_.push_back(first->pid());
        leftovers_.push_back(second->pid());
        const pid_t other = second->pid();
        QVERIFY(waitEnded(*first));
        // The second ended long ago, yet is still there for its own waiter.
        int status = 0;
        QCOMPARE(::waitpid(other, &status, 0), other);
        QCOMPARE(WEXITSTATUS(status), 4);
    }

    void launcherWiresStreams()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("service.log"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("before\n");
        }
        qputenv("CV_CHILD_TEST_VALUE", "inherited value");
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        QVERIFY(fd >= 0);
        // `cat` ends at once only when standard input is /dev/null.
        auto child = ChildLauncher::system().launch(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("cat; echo \"out $CV_CHILD_TEST_VALUE\"; echo err >&2; echo \"$0|$1\""),
             QStringLiteral("first arg"), QString()},
            fd);
        ::close(fd);
        leftovers_.push_back(child->pid());
        QVERIFY(waitEnded(*child, 5000));
        QCOMPARE(child->terminationStatus(), std::optional<int>(0));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("before\nout inherited value\nerr\nfirst arg|\n"));
        qunsetenv("CV_CHILD_TEST_VALUE");
    }

    void pipesAndNull()
    {
        SpawnedProcess::Options options;
        options.input = SpawnedProcess::Stream::null;
        options.output = SpawnedProcess::Stream::pipe;
        options.error = SpawnedProcess::Stream::pipe;
        auto child = shell(QStringLiteral("cat; printf out; printf err >&2; exit 6"), options);
        leftovers_.push_back(child->pid());
        QCOMPARE(child->readOutputToEnd(), QByteArray("out"));
        QCOMPARE(child->readErrorToEnd(), QByteArray("err"));
        QCOMPARE(child->wait(), 6);

        options.output = SpawnedProcess::Stream::null;
        auto quiet = shell(QStringLiteral("echo lost; head -c 200000 /dev/zero >&2"), options);
        leftovers_.push_back(quiet->pid());
        QCOMPARE(quiet->readOutputToEnd(), QByteArray());
        QCOMPARE(quiet->readErrorToEnd().size(), 200000);
        QCOMPARE(quiet->wait(), 0);
    }

    void launchFailures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("code");
        QTest::newRow("missing") << "missing" << ENOENT;
        QTest::newRow("not executable") << "plain" << EACCES;
    }

    void launchFailures()
    {
        QFETCH(QString, kind);
        QFETCH(int, code);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("program"));
        QFile file(path);
        if (kind == QLatin1String("plain"))
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n") > 0);
        file.close();
        try {
            auto child = ChildLauncher::system().launch(path, {}, STDERR_FILENO);
            leftovers_.push_back(child->pid());
            QFAIL("launched");
        } catch (const PlatformError &error) {
            QCOMPARE(error.code(), code);
            QVERIFY(error.message().startsWith(path + QStringLiteral(": ")));
        }
    }
};

QTEST_GUILESS_MAIN(ChildProcessTest)
#include "tst_child_process.moc"

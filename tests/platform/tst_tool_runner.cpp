#include "platform/tool_runner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtConcurrent>

#include <csignal>
#include <sys/types.h>

using namespace cv;

namespace {

const QString shell = QStringLiteral("/bin/sh");

// Whether a process still runs (a zombie waiting for its parent does not).
bool running(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close >= 0 && close + 2 < line.size() && line.at(close + 2) != 'Z' && line.at(close + 2) != 'X';
}

// Whether the process ends within the time; one that does not is ended here, so a
// failing test leaves nothing behind.
bool endsWithin(pid_t pid, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (running(pid)) {
        if (timer.elapsed() > milliseconds) {
            kill(pid, SIGKILL);
            return false;
        }
        QThread::msleep(10);
    }
    return true;
}

pid_t readPid(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return pid_t(file.readAll().trimmed().toLongLong());
}

} // namespace

class ToolRunnerTest : public QObject {
    Q_OBJECT
private slots:
    void returnsStandardOutputOnly()
    {
        SystemToolRunner runner(5);
        const QString output =
            runner.run(shell, {QStringLiteral("-c"), QStringLiteral("printf 'one\\ntwo'; echo noise >&2; exit 3")});
        QCOMPARE(output, QStringLiteral("one\ntwo"));
    }

    void replacesInvalidUtf8()
    {
        SystemToolRunner runner(5);
        const QString output = runner.run(shell, {QStringLiteral("-c"), QStringLiteral("printf '\\377ok \\303\\251'")});
        QCOMPARE(output, QString(QChar(0xFFFD)) + QStringLiteral("ok é"));
    }

    void passesArgumentsUnchanged()
    {
        SystemToolRunner runner(5);
        const QString output = runner.run(QStringLiteral("/bin/echo"), {QStringLiteral("a b"), QStringLiteral("$HOME")});
        QCOMPARE(output, QStringLiteral("a b $HOME\n"));
    }

    void missingToolGivesEmptyText()
    {
        SystemToolRunner runner(5);
        QCOMPARE(runner.run(QStringLiteral("/nonexistent/tool"), {}), QString());
    }

    void readsLargeOutputCompletely()
    {
        SystemToolRunner runner(10);
        const QString output =
            runner.run(shell, {QStringLiteral("-c"), QStringLiteral("head -c 3000000 /dev/zero | tr '\\0' a")});
        QCOMPARE(output.size(), 3000000);
        QVERIFY(output.startsWith(QStringLiteral("aaaa")));
    }

    void toolThatNeverEndsIsCutOff()
    {
        QTemporaryDir dir;
        const QString pidFile = dir.filePath(QStringLiteral("pid"));
        SystemToolRunner runner(0.3);
        QElapsedTimer timer;
        timer.start();
        // It writes some output first: what a cut-off tool wrote does not count.
        const QString output = runner.run(
            shell, {QStringLiteral("-c"), QStringLiteral("echo $$ > '%1'; echo partial; exec sleep 100").arg(pidFile)});
        QCOMPARE(output, QString());
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        const pid_t pid = readPid(pidFile);
        QVERIFY(pid > 0);
        QVERIFY(endsWithin(pid, 3000));
    }

    void plainSleepIsCutOff()
    {
        SystemToolRunner runner(0.2);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(runner.run(QStringLiteral("/bin/sleep"), {QStringLiteral("100")}), QString());
        QVERIFY(timer.elapsed() < 5000);
    }

    void whatTheToolStartedEndsWithIt()
    {
        QTemporaryDir dir;
        const QString pidFile = dir.filePath(QStringLiteral("pid"));
        SystemToolRunner runner(0.3);
        const QString output = runner.run(
            shell, {QStringLiteral("-c"), QStringLiteral("sleep 100 & echo $! > '%1'; wait").arg(pidFile)});
        QCOMPARE(output, QString());
        const pid_t pid = readPid(pidFile);
        QVERIFY(pid > 0);
        QVERIFY(endsWithin(pid, 3000));
    }

    void toolThatClosesOutputButHangsIsCutOff()
    {
        SystemToolRunner runner(0.3);
        QElapsedTimer timer;
        timer.start();
        const QString output =
            runner.run(shell, {QStringLiteral("-c"), QStringLiteral("echo early; exec >&-; exec sleep 100")});
        QCOMPARE(output, QString());
        QVERIFY(timer.elapsed() < 5000);
    }

    void runsInParallelFromSeveralThreads()
    {
        SystemToolRunner runner(10);
        QList<int> numbers;
        for (int i = 0; i < 12; ++i)
            numbers.append(i);
        const QList<QString> outputs = QtConcurrent::blockingMapped(numbers, [&runner](int number) {
            return runner.run(QStringLiteral("/bin/echo"), {QString::number(number)});
        });
        for (int i = 0; i < 12; ++i)
            QCOMPARE(outputs.at(i), QString::number(i) + QLatin1Char('\n'));
    }

    void defaultBoundIsTenSeconds()
    {
        QCOMPARE(SystemToolRunner().timeout(), 10.0);
        QCOMPARE(dynamic_cast<SystemToolRunner &>(ToolRunner::system()).timeout(), 10.0);
    }
};

QTEST_GUILESS_MAIN(ToolRunnerTest)
#include "tst_tool_runner.moc"

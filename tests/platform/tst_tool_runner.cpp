#include "platform/tool_runner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

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
    void output_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("output");
        QTest::newRow("standard output only") << shell << QStringList{"-c", "printf 'one\\ntwo'; echo noise >&2; exit 3"}
                                              << "one\ntwo";
        QTest::newRow("invalid UTF-8 replaced") << shell << QStringList{"-c", "printf '\\377ok \\303\\251'"}
                                                << QString(QChar(0xFFFD)) + QStringLiteral("ok é");
        QTest::newRow("missing tool") << "/nonexistent/tool" << QStringList{} << "";
    }

    void output()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, output);
        QCOMPARE(SystemToolRunner(5).run(program, arguments), output);
    }

    void readsLargeOutputCompletely()
    {
        const QString output =
            SystemToolRunner(10).run(shell, {QStringLiteral("-c"), QStringLiteral("head -c 3000000 /dev/zero | tr '\\0' a")});
        QCOMPARE(output.size(), 3000000);
        QVERIFY(output.startsWith(QStringLiteral("aaaa")));
    }

    void hungToolIsCutOff_data()
    {
        QTest::addColumn<QString>("script"); // %1: a file for the pid of what must end
        // What a cut-off tool wrote does not count.
        QTest::newRow("never ends") << "echo $$ > '%1'; echo partial; exec sleep 100";
        QTest::newRow("what the tool started") << "sleep 100 & echo $! > '%1'; wait";
        QTest::newRow("closes its output, then hangs") << "echo $$ > '%1'; echo early; exec >&-; exec sleep 100";
    }

    void hungToolIsCutOff()
    {
        QFETCH(QString, script);
        QTemporaryDir dir;
        const QString pidFile = dir.filePath(QStringLiteral("pid"));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(SystemToolRunner(0.3).run(shell, {QStringLiteral("-c"), script.arg(pidFile)}), QString());
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        const pid_t pid = readPid(pidFile);
        QVERIFY(pid > 0);
        QVERIFY(endsWithin(pid, 3000));
    }
};

QTEST_GUILESS_MAIN(ToolRunnerTest)
#include "tst_tool_runner.moc"

#include "platform/tool_runner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace cv;

namespace {

// Whether a process still runs (a zombie waiting for its parent does not).
bool running(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    const qsizetype close = line.lastIndexOf(')');
    return close >= 0 && close + 2 < line.size() && line.at(close + 2) != 'Z' && line.at(close + 2) != 'X';
}

} // namespace

class ToolRunnerTest : public QObject {
    Q_OBJECT
private slots:
    void output_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("output");
        QTest::newRow("standard output only") << "/bin/sh" << "printf 'one\\ntwo'; echo noise >&2; exit 3" << "one\ntwo";
        QTest::newRow("invalid UTF-8 replaced") << "/bin/sh" << "printf '\\377ok \\303\\251'" << QString(QChar(0xFFFD)) + "ok é";
        QTest::newRow("more than a pipe holds") << "/bin/sh" << "head -c 3000000 /dev/zero | tr '\\0' a" << QString(3000000, 'a');
        QTest::newRow("missing tool") << "/nonexistent/tool" << "" << "";
    }
    void output()
    {
        QFETCH(QString, program);
        QFETCH(QString, script);
        QFETCH(QString, output);
        QCOMPARE(SystemToolRunner(10).run(program, {"-c", script}), output);
    }

    // Cut off at its time-out with what it started; what it wrote does not count.
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
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(SystemToolRunner(0.3).run("/bin/sh", {"-c", script.arg(dir.filePath("pid"))}), QString());
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QFile file(dir.filePath("pid"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const pid_t pid = pid_t(file.readAll().trimmed().toLongLong());
        const bool ended = pid > 0 && QTest::qWaitFor([&] { return !running(pid); }, 3000);
        if (!ended && pid > 0)
            ::kill(pid, SIGKILL); // leaves nothing behind
        QVERIFY(ended);
    }
};

QTEST_GUILESS_MAIN(ToolRunnerTest)
#include "tst_tool_runner.moc"

#include "platform/autostart_entry.h"
#include "test_files.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

QChar charAt(const QString &text, qsizetype i) { return i < text.size() ? text[i] : QChar(); }

// The Exec value of a desktop entry read as a desktop does, strictly: the escapes
// of string values first, then arguments split on spaces, a quoted argument taking
// a backslash only before '"', '`', '$' and '\', an unquoted one no reserved
// character, and "%%" as the one field code. Empty when the value breaks a rule.
QStringList execArguments(const QString &value)
{
    QString line;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const qsizetype escape = value[i] == '\\' ? QStringLiteral("sntr\\").indexOf(charAt(value, ++i)) : -2;
        if (escape == -1)
            return {};
        line += escape < 0 ? value[i] : QStringLiteral(" \n\t\r\\")[escape];
    }
    QStringList arguments;
    for (qsizetype i = 0; i < line.size(); ++i) { // past the space after each argument
        QString argument;
        const bool quoted = line[i] == '"';
        for (i += quoted; i < line.size() && line[i] != QChar(quoted ? '"' : ' '); ++i) {
            const bool escaped = quoted && line[i] == '\\' && QLatin1String("\"`$\\").contains(charAt(line, i + 1));
            if (!escaped && QLatin1String(quoted ? "\\`$" : "\t\n\"'\\><~|&;$*?#()`").contains(line[i]))
                return {};
            argument += line[i += escaped];
        }
        if ((quoted && i++ == line.size()) || (i < line.size() && line[i] != ' '))
            return {}; // no closing quote, or no space after it
        if (argument.count('%') != 2 * argument.count(QStringLiteral("%%")))
            return {};
        arguments << argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    return arguments;
}

} // namespace

class AutostartEntryTest : public QObject {
    Q_OBJECT

private slots:
    // The entry starts the program, whatever its path holds, with the autostart
    // variable and "--background": one folder per shape the entry format tells apart.
    void startsTheProgram_data()
    {
        QTest::addColumn<QString>("folder");
        for (const char *shape : {"plain", "a b", "a\tb", "a\nb", "a\rb", "a\"b", "a'b", "a\\b", "a>b<c", "~a",
                                  "a|b", "a&b", "a;b", "$HOME", "a*b?", "#a", "(a)", "`a`", "100%", "%f", "a=b",
                                  "\\s\\n\\\\"})
            QTest::newRow(shape) << QString::fromUtf8(shape);
    }
    void startsTheProgram()
    {
        QFETCH(QString, folder);
        QTemporaryDir root;
        const QString program = root.filePath(folder + "/corvane");
        QVERIFY(QDir().mkpath(QFileInfo(program).path()));
        // Records the variable and the arguments beside the folder, wherever $0 is.
        QVERIFY(writeFile(program, "#!/bin/sh\nprintf '%s|%s' \"$CV_AUTOSTART\" \"$*\" > \"${0%/*}/../started\"\n"));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));

        const AutostartEntry entry(root.filePath("autostart"), "app.desktop", program);
        entry.write();
        QFile file(entry.path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString exec;
        for (const QString &line : QString::fromUtf8(file.readAll()).split('\n'))
            if (line.startsWith("Exec="))
                exec = line.mid(5);
        const QStringList arguments = execArguments(exec);
        QVERIFY2(!arguments.isEmpty(), qPrintable(exec));

        QProcess launch;
        launch.start(arguments.first(), arguments.mid(1));
        QVERIFY(launch.waitForFinished(20000));
        QCOMPARE(launch.readAllStandardError(), QByteArray());
        QCOMPARE(readFile(root.filePath("started")), QByteArray("1|--background"));
    }
};

QTEST_GUILESS_MAIN(AutostartEntryTest)
#include "tst_autostart_entry.moc"

#include "platform/autostart_entry.h"

#include "platform/platform_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>

namespace cv {

namespace {

// Characters that make the desktop entry format require an argument to be quoted.
bool reserved(QChar c)
{
    static const QString set = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    return set.contains(c);
}

// One argument of an Exec value, before the general escaping of string values.
QString quotedArgument(const QString &argument)
{
    QString out;
    bool quote = argument.isEmpty();
    for (const QChar c : argument) {
        quote = quote || reserved(c);
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
        // A lone percent sign would be read as a field code.
        if (c == QLatin1Char('%'))
            out += QLatin1Char('%');
    }
    // Every character escaped above is reserved, so an unquoted argument has only
    // its percent signs doubled.
    return quote ? QLatin1Char('"') + out + QLatin1Char('"') : out;
}

// The escaping every string value of a desktop entry gets (applied after the quoting).
QString escapedValue(const QString &value)
{
    QString out;
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

} // namespace

bool launchedByAutostartEntry()
{
    static const bool launched = [] {
        const bool set = qgetenv(autostartVariable) == "1";
        qunsetenv(autostartVariable);
        return set;
    }();
    return launched;
}

AutostartEntry::AutostartEntry(QString folder, QString fileName, QString program)
    : folder_(std::move(folder)), fileName_(std::move(fileName)), program_(std::move(program))
{
}

QString AutostartEntry::userFolder()
{
    // Honours XDG_CONFIG_HOME, else ~/.config.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
}

QString AutostartEntry::path() const { return QDir(folder_).filePath(fileName_); }

QString AutostartEntry::execLine(const QString &program)
{
    // Not env(1): it reads any operand holding "=" as one more assignment, and a
    // program path may hold one. The shell gets the path as its $0, a value it
    // never parses.
    const QString script = QStringLiteral("export %1=1; exec \"$0\" --background").arg(QLatin1String(autostartVariable));
    const QStringList arguments{QStringLiteral("/bin/sh"), QStringLiteral("-c"), script, program};
    QStringList quoted;
    for (const QString &argument : arguments)
        quoted << quotedArgument(argument);
    return escapedValue(quoted.join(QLatin1Char(' ')));
}

QString AutostartEntry::contents() const
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Corvane\n"
                          "Exec=%1\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execLine(program_));
}

bool AutostartEntry::registered() const
{
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inEntry)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0 && line.left(equals).trimmed() == QLatin1String("Hidden")
            && line.mid(equals + 1).trimmed() == QLatin1String("true"))
            return false;
    }
    return true;
}

void AutostartEntry::write() const
{
    if (!QDir().mkpath(folder_))
        throw PlatformError::fromErrno(errno ? errno : EACCES, folder_);
    QSaveFile file(path());
    const QByteArray text = contents().toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw PlatformError(EIO, path() + QStringLiteral(": ") + file.errorString());
}

void AutostartEntry::remove() const
{
    QFile file(path());
    if (!QFileInfo(path()).exists() && !QFileInfo(path()).isSymLink())
        return;
    if (!file.remove())
        throw PlatformError(EIO, path() + QStringLiteral(": ") + file.errorString());
}

} // namespace cv

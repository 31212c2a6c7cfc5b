#pragma once

// Runs the localisation probe (probe.cpp) as a child process, so a test can give it
// an environment, a region or a folder layout of its own.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

namespace cv::test {

inline QString probeProgram() { return QStringLiteral(CV_LOCALIZATION_PROBE); }

// Copies the probe to `path` (creating folders), so it runs from that place.
inline bool placeProbe(const QString &path)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile::remove(path);
    if (!QFile::copy(probeProgram(), path))
        return false;
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

inline bool writeFile(const QString &path, const QByteArray &content)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size();
}

// The probe's output lines, or none when it did not finish cleanly. Variables mapped
// to none are removed from the environment.
inline std::optional<QStringList> runProbe(const QString &program, const QStringList &commands,
                                           const QMap<QString, std::optional<QString>> &environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = environment.constBegin(); it != environment.constEnd(); ++it) {
        if (*it)
            env.insert(it.key(), **it);
        else
            env.remove(it.key());
    }
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, commands);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace cv::test

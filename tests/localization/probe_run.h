#pragma once

// Runs the localisation probe (probe.cpp) as a child process, so a test can give it
// an environment, a region or a folder layout of its own.

#include "test_files.h"

#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <optional>

namespace cv::test {

inline QString probeProgram() { return QStringLiteral(CV_LOCALIZATION_PROBE); }

// Copies the probe to `path` (creating folders), so it runs from that place.
inline bool placeProbe(const QString &path)
{
    return QDir().mkpath(QFileInfo(path).absolutePath()) && QFile::copy(probeProgram(), path)
        && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The probe's output lines, or none when it did not finish cleanly. Variables mapped
// to none are removed from the environment.
inline std::optional<QStringList> runProbe(const QString &program, const QStringList &commands,
                                           const QMap<QString, std::optional<QString>> &environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = environment.constBegin(); it != environment.constEnd(); ++it)
        *it ? env.insert(it.key(), **it) : env.remove(it.key());
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
    return QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace cv::test

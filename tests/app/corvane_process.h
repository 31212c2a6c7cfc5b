#pragma once

// The real corvane as a child process: in a process group of its own (as a terminal
// starts it), its development trace on standard error, its service the stand-in.
// Header only; the test defines CORVANE_PATH.

#include "standin.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <unistd.h>

namespace cv::test {

struct Corvane {
    Corvane(const Standin &service, const QStringList &arguments)
    {
        QProcessEnvironment environment = service.environment();
        environment.insert(QStringLiteral("CV_MAC_CAPTURE_DIR"), service.directory());
        environment.insert(QStringLiteral("CV_MAC_SERVICE"), Standin::executable());
        environment.insert(QStringLiteral("CV_MAC_RUNTIME_DIR"), service.runtimeDir());
        process.setProcessEnvironment(environment);
        process.setChildProcessModifier([] { ::setpgid(0, 0); });
        process.start(QStringLiteral(CORVANE_PATH), arguments);
    }
    ~Corvane()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    // Standard error so far.
    QString trace()
    {
        stderrText += QString::fromUtf8(process.readAllStandardError());
        return stderrText;
    }
    // The texts of the development trace lines so far, in order.
    QStringList traces()
    {
        QStringList texts;
        for (const QString &line : trace().split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("Development lifecycle pid=")))
                texts << line.mid(line.indexOf(QLatin1Char(' '), line.indexOf(QLatin1String("wall="))) + 1);
        return texts;
    }

    QProcess process;
    QString stderrText;
};

// The requests the stand-in received of `op`, decoded.
inline QList<QJsonObject> requestsOf(const Standin &service, const QString &op)
{
    QList<QJsonObject> found;
    for (const QByteArray &line : service.recorded()) {
        const QJsonObject request = QJsonDocument::fromJson(line).object();
        if (request.value(QStringLiteral("op")).toString() == op)
            found << request;
    }
    return found;
}

} // namespace cv::test

#include "standin.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QThread>

#include <csignal>

namespace cv::test {

Standin::Standin() : dir_(QDir::tempPath() + "/standin-XXXXXX")
{
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    setScript({});
}

Standin::~Standin()
{
    stop();
}

QString Standin::executable()
{
    return QStringLiteral(CV_STANDIN_PATH);
}

QString Standin::directory() const { return dir_.path(); }
QString Standin::runtimeDir() const { return dir_.path() + "/run"; }
QString Standin::socketPath() const { return runtimeDir() + "/control.sock"; }
QString Standin::scriptPath() const { return dir_.path() + "/script.json"; }
QString Standin::recordPath() const { return dir_.path() + "/record.txt"; }
QString Standin::argsPath() const { return dir_.path() + "/args.txt"; }

void Standin::setScript(const QJsonObject &script)
{
    QFile f(scriptPath());
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(QJsonDocument(script).toJson(QJsonDocument::Compact));
}

QProcessEnvironment Standin::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("CV_STANDIN_SCRIPT", scriptPath());
    env.insert("CV_STANDIN_RECORD", recordPath());
    env.insert("CV_STANDIN_ARGS", argsPath());
    return env;
}

void Standin::exportEnvironment(bool runtime) const
{
    qputenv("CV_STANDIN_SCRIPT", QFile::encodeName(scriptPath()));
    qputenv("CV_STANDIN_RECORD", QFile::encodeName(recordPath()));
    qputenv("CV_STANDIN_ARGS", QFile::encodeName(argsPath()));
    if (runtime)
        qputenv("CV_MAC_RUNTIME_DIR", QFile::encodeName(runtimeDir()));
}

bool Standin::start(const QStringList &args, bool waitForSocket, bool useRuntimeOption)
{
    stop();
    QFile::remove(socketPath());
    process_ = std::make_unique<QProcess>();
    process_->setProcessEnvironment(environment());
    QStringList all;
    if (useRuntimeOption)
        all << "--runtime-dir" << runtimeDir();
    all << args;
    process_->start(executable(), all);
    if (!process_->waitForStarted(5000))
        return false;
    return !waitForSocket || this->waitForSocket();
}

bool Standin::waitForSocket(double seconds) const
{
    QDeadlineTimer deadline(qint64(seconds * 1000));
    while (!QFileInfo::exists(socketPath())) {
        if (deadline.hasExpired() || !running())
            return false;
        QThread::msleep(5);
    }
    return true;
}

bool Standin::running() const
{
    return process_ && process_->state() != QProcess::NotRunning;
}

qint64 Standin::pid() const
{
    return process_ ? process_->processId() : 0;
}

QList<QByteArray> Standin::recorded() const
{
    QFile f(recordPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray all = f.readAll();
    if (all.endsWith('\n'))
        all.chop(1);
    else if (all.isEmpty())
        return {};
    return all.split('\n');
}

QList<QStringList> Standin::startArguments() const
{
    QList<QStringList> out;
    QFile f(argsPath());
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        QStringList args;
        for (const QJsonValue &v : QJsonDocument::fromJson(line).array())
            args << v.toString();
        out << args;
    }
    return out;
}

std::optional<int> Standin::waitForExit(double seconds)
{
    if (!process_)
        return std::nullopt;
    if (process_->state() != QProcess::NotRunning && !process_->waitForFinished(int(seconds * 1000)))
        return std::nullopt;
    collect();
    if (process_->exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return process_->exitCode();
}

void Standin::stop()
{
    if (!process_)
        return;
    if (process_->state() != QProcess::NotRunning) {
        ::kill(pid_t(process_->processId()), SIGTERM);
        if (!process_->waitForFinished(5000)) {
            process_->kill();
            process_->waitForFinished(5000);
        }
    }
    collect();
}

void Standin::collect()
{
    stdout_ += process_->readAllStandardOutput();
    stderr_ += process_->readAllStandardError();
}

} // namespace cv::test

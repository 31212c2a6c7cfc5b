#include "standin.h"
#include "test_files.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
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

Standin::~Standin() { stop(); }

void Standin::stop()
{
    if (process_ && process_->state() != QProcess::NotRunning) {
        ::kill(pid_t(process_->processId()), SIGTERM);
        if (!process_->waitForFinished(5000))
            process_->kill();
        process_->waitForFinished(5000);
    }
}

QString Standin::executable() { return QStringLiteral(CV_STANDIN_PATH); }

void Standin::setScript(const QJsonObject &script)
{
    QFile f(dir_.path() + "/script.json");
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(QJsonDocument(script).toJson(QJsonDocument::Compact));
}

void Standin::exportEnvironment(bool runtime) const
{
    qputenv("CV_STANDIN_DIR", QFile::encodeName(dir_.path()));
    qputenv("CV_MAC_SERVICE", QFile::encodeName(executable()));
    if (runtime)
        qputenv("CV_MAC_RUNTIME_DIR", QFile::encodeName(runtimeDir()));
}

QProcessEnvironment Standin::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CV_STANDIN_DIR"), dir_.path());
    return env;
}

bool Standin::start(bool waitForSocket)
{
    QFile::remove(socketPath());
    process_ = std::make_unique<QProcess>();
    process_->setProcessEnvironment(environment());
    process_->start(executable(), {"--runtime-dir", runtimeDir()});
    // Bounds for a stand-in that cannot start, never a pace: a busy machine may take
    // seconds to start a process.
    if (!process_->waitForStarted(20000))
        return false;
    QDeadlineTimer deadline(20000);
    while (waitForSocket && !QFileInfo::exists(socketPath())) {
        if (deadline.hasExpired() || process_->state() == QProcess::NotRunning)
            return false;
        QThread::msleep(5);
    }
    return true;
}

QList<QByteArray> Standin::recorded() const
{
    QByteArray all = readFile(dir_.path() + "/record.txt");
    if (all.isEmpty())
        return {};
    all.chop(1);
    return all.split('\n');
}

QList<QStringList> Standin::startArguments() const
{
    QList<QStringList> out;
    for (const QByteArray &line : readFile(dir_.path() + "/args.txt").split('\n')) {
        if (!line.isEmpty())
            out << QJsonDocument::fromJson(line).toVariant().toStringList();
    }
    return out;
}

} // namespace cv::test

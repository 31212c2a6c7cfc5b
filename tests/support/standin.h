#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace cv::test {

// Drives the cv-mac-service stand-in (tests/support/standin/main.cpp describes its
// script). Each instance owns a fresh temporary folder with the runtime directory,
// the script, the record of request lines and the record of start arguments. The
// child it starts is stopped and waited for on destruction.
class Standin {
public:
    Standin();
    ~Standin();
    Standin(const Standin &) = delete;
    Standin &operator=(const Standin &) = delete;

    // Path of the stand-in executable (named "cv-mac-service").
    static QString executable();

    QString directory() const;
    QString runtimeDir() const;   // <directory>/run, created
    QString socketPath() const;   // <runtime dir>/control.sock
    QString scriptPath() const;
    QString recordPath() const;
    QString argsPath() const;

    // Writes the script file; takes effect at the next start.
    void setScript(const QJsonObject &script);

    // The variables that hand the script and the record files to a stand-in.
    QProcessEnvironment environment() const;
    // Sets those variables in this process, for a stand-in that the code under test
    // starts itself. With `runtime`, CV_MAC_RUNTIME_DIR is set to runtimeDir() too.
    void exportEnvironment(bool runtime = true) const;

    // Starts the stand-in with "--runtime-dir" runtimeDir() followed by `args`
    // (with `useRuntimeOption` false, only `args`). With `waitForSocket`, returns once
    // the socket file exists (the stand-in creates it when it accepts or refuses as
    // scripted). Returns false when it did not start or the socket did not appear.
    bool start(const QStringList &args = {}, bool waitForSocket = true, bool useRuntimeOption = true);
    bool waitForSocket(double seconds = 5.0) const;
    bool running() const;
    qint64 pid() const;

    // The request lines received so far, one per accepted connection, without line feeds.
    QList<QByteArray> recorded() const;
    // The argument lists of every start so far.
    QList<QStringList> startArguments() const;

    // Waits for the child to end by itself; its exit status, or none while it runs
    // (or when it was killed by a signal).
    std::optional<int> waitForExit(double seconds = 5.0);
    // Asks the child to stop (SIGTERM) and waits for it.
    void stop();

    // The child's captured output, once it has ended.
    QByteArray standardOutput() const { return stdout_; }
    QByteArray standardError() const { return stderr_; }

private:
    void collect();

    QTemporaryDir dir_;
    std::unique_ptr<QProcess> process_;
    QByteArray stdout_;
    QByteArray stderr_;
};

} // namespace cv::test

#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace cv::test {

// Drives the cv-mac-service stand-in (tests/support/standin/main.cpp describes its
// script). Each instance owns a fresh folder with the runtime directory, the script
// and the records of request lines and start arguments; a child it started is
// stopped on destruction.
class Standin {
public:
    Standin();
    ~Standin();
    Standin(const Standin &) = delete;
    Standin &operator=(const Standin &) = delete;

    static QString executable(); // named "cv-mac-service"

    QString directory() const { return dir_.path(); }
    QString runtimeDir() const { return dir_.path() + "/run"; }
    QString socketPath() const { return runtimeDir() + "/control.sock"; }

    // Takes effect at the next start.
    void setScript(const QJsonObject &script);
    // Makes the stand-in the service the code under test starts (CV_MAC_SERVICE) and
    // hands it the script and the records; with `runtime`, CV_MAC_RUNTIME_DIR names
    // runtimeDir() too.
    void exportEnvironment(bool runtime = true) const;
    // This process's environment with the script and records named, for a process
    // that starts the stand-in itself.
    QProcessEnvironment environment() const;

    // Starts it with "--runtime-dir" runtimeDir(); with `waitForSocket`, true once the
    // socket file exists (it appears when connections are accepted or refused as
    // scripted).
    bool start(bool waitForSocket = true);
    // Ends a stand-in this object started, as the system would stop a service.
    void stop();

    // The request lines received, one per accepted connection, without line feeds.
    QList<QByteArray> recorded() const;
    // The argument lists of every start.
    QList<QStringList> startArguments() const;

private:
    QTemporaryDir dir_;
    std::unique_ptr<QProcess> process_;
};

} // namespace cv::test

#pragma once

#include <QByteArray>
#include <QException>
#include <QString>

namespace cv {

// A failure of the operating system (a file, a folder, a process launch), carried
// with the system's own text. Callers that pass it on leave it unchanged.
class PlatformError : public QException {
public:
    PlatformError(int code, QString message);

    // The error for `code` (an errno value), the system's text prefixed with
    // `context` and ": " when a context is given.
    static PlatformError fromErrno(int code, const QString &context = {});

    int code() const { return code_; }
    const QString &message() const { return message_; }

    const char *what() const noexcept override { return utf8_.constData(); }
    void raise() const override { throw *this; }
    PlatformError *clone() const override { return new PlatformError(*this); }

private:
    int code_;
    QString message_;
    QByteArray utf8_;
};

} // namespace cv

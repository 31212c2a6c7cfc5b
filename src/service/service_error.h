#pragma once

#include <QByteArray>
#include <QException>
#include <QString>

namespace cv {

// The one error of service work. Its message is the finished, user-facing text.
class ServiceError : public QException {
public:
    enum class Kind {
        unavailable, // the service is not running or cannot be reached
        invalid,     // every other failure of the link
        rejected,    // the service answered with "ok" false
    };

    ServiceError(Kind kind, QString message);

    static ServiceError unavailable(QString message) { return {Kind::unavailable, std::move(message)}; }
    static ServiceError invalid(QString message) { return {Kind::invalid, std::move(message)}; }
    static ServiceError rejected(QString message) { return {Kind::rejected, std::move(message)}; }

    Kind kind() const { return kind_; }
    // The message shown to the user, unchanged.
    const QString &message() const { return message_; }
    QString errorDescription() const { return message_; }
    // True for `unavailable` only: a service that is not running yet.
    bool isUnavailable() const { return kind_ == Kind::unavailable; }
    // The system's error number behind a failed socket call (its text is in the
    // message), or 0.
    int systemCode() const { return systemCode_; }
    ServiceError withSystemCode(int code) const
    {
        ServiceError copy(*this);
        copy.systemCode_ = code;
        return copy;
    }

    const char *what() const noexcept override { return utf8_.constData(); }
    void raise() const override { throw *this; }
    ServiceError *clone() const override { return new ServiceError(*this); }

    bool operator==(const ServiceError &other) const
    {
        return kind_ == other.kind_ && message_ == other.message_;
    }

private:
    Kind kind_;
    QString message_;
    QByteArray utf8_;
    int systemCode_ = 0;
};

} // namespace cv

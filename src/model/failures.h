#pragma once

#include <QException>
#include <QString>

#include <exception>

namespace cv {

// Thrown by a wait of the polling task that ended because the task was cancelled
// (only quitting cancels it).
class CancelledError : public QException {
public:
    const char *what() const noexcept override { return "The operation was cancelled."; }
    void raise() const override { throw *this; }
    CancelledError *clone() const override { return new CancelledError(*this); }
};

// Reading a caught failure of service work.
namespace failure {

// A ServiceError of the unavailable kind: the service is not running or cannot be reached.
bool unavailable(const std::exception_ptr &error);
// The service closed the connection in the middle of a request (reset, or a broken
// pipe): it is going away.
bool connectionLost(const std::exception_ptr &error);
// The time-out error of a request.
bool timedOut(const std::exception_ptr &error);
bool cancelled(const std::exception_ptr &error);
// The service manager went away in the middle of a change (it restarted), or was not
// there to take it: the change may go through once it is back.
bool managerAway(const std::exception_ptr &error);
// The text shown to the user: the message of a ServiceError or of a platform error,
// else the exception's own text.
QString describe(const std::exception_ptr &error);

} // namespace failure

} // namespace cv

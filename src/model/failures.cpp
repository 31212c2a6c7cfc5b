#include "model/failures.h"

#include "localization/localization.h"
#include "platform/platform_error.h"
#include "service/service_client.h"
#include "service/service_error.h"

#include <cerrno>

namespace cv::failure {

bool unavailable(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ServiceError &e) {
        return e.isUnavailable();
    } catch (...) {
        return false;
    }
}

bool connectionLost(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ServiceError &e) {
        return e.systemCode() == ECONNRESET || e.systemCode() == EPIPE;
    } catch (...) {
        return false;
    }
}

bool timedOut(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ServiceError &e) {
        return e == ServiceClient::timeoutError();
    } catch (...) {
        return false;
    }
}

bool cancelled(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const CancelledError &) {
        return true;
    } catch (...) {
        return false;
    }
}

bool managerAway(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const PlatformError &e) {
        return e.code() == ECONNRESET || e.code() == ENOENT;
    } catch (const ServiceError &e) {
        return e.isUnavailable();
    } catch (...) {
        return false;
    }
}

QString describe(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ServiceError &e) {
        return e.message();
    } catch (const PlatformError &e) {
        return e.message();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return L(QStringLiteral("The operation couldn’t be completed."));
    }
}

} // namespace cv::failure

#include "service/service_error.h"

namespace cv {

ServiceError::ServiceError(Kind kind, QString message)
    : kind_(kind), message_(std::move(message)), utf8_(message_.toUtf8())
{
}

} // namespace cv

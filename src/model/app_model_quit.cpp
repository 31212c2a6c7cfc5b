#include "model/app_model.h"

namespace cv {

// Filled in with the service-following logic.
QCoro::Task<bool> AppModel::quit()
{
    co_return false;
}

} // namespace cv

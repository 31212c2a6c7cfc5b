#include "model/app_model.h"

namespace cv {

// Filled in with the service-following logic.
void AppModel::start()
{
}

// Filled in with the service-following logic.
QCoro::Task<> AppModel::pollingBody()
{
    co_return;
}

// Filled in with the service-following logic.
QCoro::Task<> AppModel::refreshCable()
{
    co_return;
}

// Filled in with the service-following logic.
QCoro::Task<> AppModel::refreshLink()
{
    co_return;
}

} // namespace cv

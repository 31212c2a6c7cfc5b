#include "model/app_model.h"

namespace cv {

// Filled in with the service-following logic.
QCoro::Task<> AppModel::startServiceIfNeeded()
{
    co_return;
}

// Filled in with the service-following logic.
void AppModel::retryService()
{
}

// Filled in with the service-following logic.
QCoro::Task<> AppModel::stopService()
{
    co_return;
}

// Filled in with the service-following logic.
QCoro::Task<> AppModel::setStartAtLogin(bool on)
{
    Q_UNUSED(on);
    co_return;
}

// Filled in with the service-following logic.
QCoro::Task<> AppModel::startAtLoginByDefault()
{
    co_return;
}

} // namespace cv

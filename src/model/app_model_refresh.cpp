#include "model/app_model.h"

namespace cv {

// Filled in with the service-following logic.
void AppModel::replayEvents(std::uint64_t since)
{
    cursor_ = since;
}

// Filled in with the service-following logic.
QCoro::Task<> AppModel::refresh()
{
    co_return;
}

// Filled in with the service-following logic.
QCoro::Task<> AppModel::updateStatus(std::optional<double> deadline)
{
    Q_UNUSED(deadline);
    co_return;
}

} // namespace cv

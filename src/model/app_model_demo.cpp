#include "model/app_model.h"

namespace cv {

void AppModel::showDemo(ServiceStatus status)
{
    // Set first: nothing the views do from here on reaches a service.
    demo_ = true;
    setStatus(std::move(status));
    setConnected(true);
    setStarting(false);
    setServiceError(std::nullopt);
    if (stateChanged)
        stateChanged();
}

} // namespace cv

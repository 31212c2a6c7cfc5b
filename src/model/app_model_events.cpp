#include "model/app_model.h"

namespace cv {

// Filled in with the service-following logic.
void AppModel::handle(ServiceEvent event)
{
    Q_UNUSED(event);
}

} // namespace cv

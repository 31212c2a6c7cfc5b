#include "platform/updater.h"

namespace cv {

std::unique_ptr<Updater> startSystemUpdater(UpdaterDelegate &)
{
    return nullptr;
}

bool runsFromApplicationBundle()
{
    return false;
}

} // namespace cv

#include "app/app_launch_intent.h"

namespace cv {

bool AppLaunchIntent::isLoginItemLaunch(const std::optional<LaunchEvent> &event)
{
    if (!event)
        return false;
    const quint32 aevt = fourCharCode("aevt");
    return event->descriptorType == aevt && event->eventClass == aevt && event->eventID == fourCharCode("oapp")
        && event->propertyData == fourCharCode("lgit");
}

std::optional<LaunchEvent> AppLaunchIntent::currentEvent()
{
    return std::nullopt;
}

} // namespace cv

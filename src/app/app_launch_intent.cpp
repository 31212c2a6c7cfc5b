#include "app/app_launch_intent.h"

#include "platform/autostart_entry.h"

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
    // The desktop's counterpart of the login-item launch is the application's own
    // autostart entry; it is told to the login-item test as the event it stands for.
    if (!launchedByAutostartEntry())
        return std::nullopt;
    const quint32 aevt = fourCharCode("aevt");
    return LaunchEvent{aevt, aevt, fourCharCode("oapp"), fourCharCode("lgit")};
}

} // namespace cv

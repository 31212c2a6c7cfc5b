#pragma once

#include <QtGlobal>

#include <optional>

namespace cv {

// A four-character code as the platform's event manager writes them.
constexpr quint32 fourCharCode(const char (&code)[5])
{
    return (quint32(quint8(code[0])) << 24) | (quint32(quint8(code[1])) << 16) | (quint32(quint8(code[2])) << 8)
        | quint32(quint8(code[3]));
}

// The event that launched the application, as far as the login-item test reads it.
struct LaunchEvent {
    quint32 descriptorType = 0;
    quint32 eventClass = 0;
    quint32 eventID = 0;
    // The enumerated code of the property-data parameter ("prdt"); none when the
    // parameter is missing or not an enumeration.
    std::optional<quint32> propertyData;
};

// How the application was launched.
class AppLaunchIntent {
public:
    AppLaunchIntent() = delete;

    // True only for an open-application event ("aevt"/"oapp", of descriptor type
    // "aevt") whose property data is the login-item code "lgit".
    static bool isLoginItemLaunch(const std::optional<LaunchEvent> &event);

    // The event that launched this process. Linux desktops deliver no launch event;
    // a start by the application's own autostart entry is given as the login-item
    // event, any other launch has none.
    static std::optional<LaunchEvent> currentEvent();
};

} // namespace cv

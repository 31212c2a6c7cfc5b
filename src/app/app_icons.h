#pragma once

#include <QIcon>
#include <QString>

#include <optional>

namespace cv {

class AppBundle;

// Finds the application's icon files and turns them into the application icon and
// the status-area icon, both for the installed application (its data folder) and
// for the bare executable of a build folder (a "Resources" folder beside it).
class AppIcons {
public:
    AppIcons() = delete;

    // The file `name`.`extension`: the installed data folder first, else the
    // "Resources" folder beside the executable; none when neither holds it.
    static std::optional<QString> resource(const QString &name, const QString &extension,
                                           const AppBundle &bundle);

    // Names the desktop entry (window managers take the window icon from it) and sets
    // the application icon when an icon file can be found and read: "AppIcon.icns",
    // or "AppIcon.png" beside it (Qt reads no ".icns" without an extra plugin), or
    // "AppIcon.png" alone. Otherwise the default icon stays.
    static void installApplicationIcon();
    static void installApplicationIcon(const AppBundle &bundle);

    // The 18 by 18 point status icon from "StatusIconTemplate.png" and
    // "StatusIconTemplate@2x.png" (each file that can be read serves at its own pixel
    // density); a null icon when neither can.
    static QIcon statusIcon();
    static QIcon statusIcon(const AppBundle &bundle);
};

} // namespace cv

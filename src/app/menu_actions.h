#pragma once

#include <QString>

#include <functional>

namespace cv {

// What the main menu and the status menu ask of the application delegate. An empty
// callback leaves its item doing nothing, except where said otherwise.
struct MenuActions {
    // "Settings…" and "Open Corvane": the main window.
    std::function<void()> showMain{};
    // A computer's window, by computer id.
    std::function<void(const QString &)> showPeer{};
    // "Hide Corvane".
    std::function<void()> hide{};
    // "Quit Corvane".
    std::function<void()> requestQuit{};
    // "Save Diagnostics…"; empty: Diagnostics::save().
    std::function<void()> saveDiagnostics{};
    // "Check for Updates…", shown only when updates are available at all.
    std::function<void()> checkForUpdates{};
    // Whether the updater can check right now; empty: it can.
    std::function<bool()> canCheckForUpdates{};
};

} // namespace cv

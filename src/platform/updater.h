#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QString>

namespace cv {

// What a software-update framework asks of the application while it checks for,
// downloads and installs an update.
class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;

    // The feed address in force instead of the information key's, or none.
    virtual std::optional<QString> feedURLString() const = 0;
    // The framework wants to relaunch into an update; returning true holds the
    // relaunch until `relaunch` is called.
    virtual bool shouldPostponeRelaunchForUpdate(std::function<void()> relaunch) = 0;
    // The framework will install an update on quit; returning true holds the
    // installation until `installNow` is called.
    virtual bool willInstallUpdateOnQuit(std::function<void()> installNow) = 0;
    virtual bool supportsGentleScheduledUpdateReminders() const = 0;
    // The framework's own interface is about to show an update (or not).
    virtual void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate) = 0;
    // The framework's update session is over.
    virtual void standardUserDriverWillFinishUpdateSession() = 0;
};

// A running software-update framework.
class Updater {
public:
    virtual ~Updater() = default;

    virtual bool canCheckForUpdates() const = 0;
    // A check the user asked for; the framework shows its outcome itself.
    virtual void checkForUpdates() = 0;
};

// Starts the platform's update framework with `delegate`. Linux has no such framework
// (and installed programs are updated by the package manager): always none.
std::unique_ptr<Updater> startSystemUpdater(UpdaterDelegate &delegate);

// Whether the program runs from an application bundle (a folder named "*.app"). A
// Linux program, installed or not, never does.
bool runsFromApplicationBundle();

} // namespace cv

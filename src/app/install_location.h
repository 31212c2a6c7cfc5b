#pragma once

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace cv {

class Alerts;
class Clock;
class InstallSystem;
class ServiceClient;

// The parts the move works with; anything left empty is the real one.
struct InstallPlatform {
    InstallSystem *system = nullptr;                          // empty: InstallSystem::system()
    Alerts *alerts = nullptr;                                 // empty: Alerts::system()
    Clock *clock = nullptr;                                   // empty: Clock::system()
    std::function<std::unique_ptr<ServiceClient>()> client;   // empty: the default runtime directory
    std::function<bool()> developmentOverridden;              // empty: ServiceHost::developmentOverridden
    std::function<void()> activate;                           // brings the application to the front
    QString systemFolder;                                     // empty: "/Applications"
    QString userFolder;                                       // empty: "Applications" in the home folder
    qint64 processId = 0;                                     // 0: this process
};

// Offers to move an application that runs from outside an Applications folder (a
// download, a disk image, a translocated copy) into one, and does it: stops a running
// copy and the service, copies the bundle in through a staging copy, opens the new
// copy and disposes of the launched one. Keeps no state between launches. On Linux
// there is never an application bundle, so the move is never offered.
//
// The launch asks `shouldMove(arguments)`; when it is true, it installs only the
// menus and calls `run(finished)` with a `finished` that terminates the application.
// Main thread only.
class InstallLocation {
public:
    using Platform = InstallPlatform;

    static const QString bundleName; // "Corvane.app"

    // Whether the move is to be offered, given the process arguments.
    static bool shouldMove(const QStringList &arguments, const Platform &platform = {});
    // Shows the offer and, when accepted, starts the move. Calls `finished` exactly
    // once, at the end of whichever path is taken (declined, failed or done).
    static void run(std::function<void()> finished, Platform platform = {});

    // ---- The steps, for run and for tests

    // The folder to move into, none when no folder can take the copy.
    static std::optional<QString> destination(const Platform &platform = {});
    // Whether `bundle` lies inside either Applications folder, symbolic links and ".."
    // resolved on both sides.
    static bool inApplications(const QString &bundle, const Platform &platform = {});
    // Stops a running copy, places the new copy through a staging copy that is removed
    // on every way out, and returns the installed path. Throws.
    static QCoro::Task<QString> install(QString folder, Platform platform = {});
    // Ends other running copies, then asks the service to quit and waits until it no
    // longer answers. Only an unreachable service counts as not running or stopped.
    // Throws.
    static QCoro::Task<> stopRunningCopy(Platform platform = {});
    // Removes the quarantine mark from every item of the bundle tree.
    static void clearQuarantine(const QString &bundle, const Platform &platform = {});
    // Launches the installed copy as a new instance. Throws.
    static void open(const QString &bundle, const Platform &platform = {});
    // Disposes of the launched copy: detaches its disk image, or moves it to the Trash
    // when its folder is writable, but never when it is the `installed` copy itself.
    static void cleanUpOriginal(const QString &installed, const Platform &platform = {});
    // The arguments of "/bin/sh" that wait for process `pid` to end, then detach the
    // disk image at `volume`.
    static QStringList detachArguments(const QString &volume, qint64 pid);
    // Shows why the move failed and, once that alert is answered, calls `finished`.
    static QCoro::Task<> fail(QString reason, std::function<void()> finished, Platform platform = {});
    // The window shown while the move runs.
    static std::unique_ptr<QWidget> progressWindow();

    // `path` made absolute with every symbolic link and "." or ".." resolved, as far
    // as it exists; the rest is appended as written.
    static QString resolvedPath(const QString &path);

private:
    static QCoro::Task<> offerTask(std::function<void()> finished, Platform platform);
    static QCoro::Task<> moveTask(std::unique_ptr<QWidget> window, QString folder, std::function<void()> finished,
                                  Platform platform);
};

} // namespace cv

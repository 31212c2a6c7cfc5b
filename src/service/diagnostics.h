#pragma once

#include <QCoroTask>
#include <QDateTime>
#include <QString>

#include <optional>

namespace cv {

class Alerts;
class AppBundle;
class Clock;
class Workspace;

// The application log ("app.log" in the user's log folder) and the diagnostics
// archive. Only static members.
//
// Logging never fails and never blocks its caller: entries are written in the
// background by one writer thread, in the order of the calls, each entry with a
// single append so that no two writers (the writer thread, the uncaught-exception
// hook, another instance of the application) can overwrite or split each other's
// lines. It works before any Qt application object exists.
class Diagnostics {
public:
    Diagnostics() = delete;

    // The folder named as the settings folder is, in the user's state folder:
    // $XDG_STATE_HOME, else ~/.local/state (read from the environment once, on first
    // use).
    static QString logFolder();

    // Once, first thing at launch: creates the log folder (mode 0700), moves an
    // "app.log" of 1 MiB or more to "app.1.log", installs the uncaught-exception
    // hook and logs the start banner. Never fails.
    static void start();
    // The same with the application bundle whose version the banner names.
    static void start(const AppBundle &bundle);

    // Queues one entry: the UTC time stamp with milliseconds, a space, `text` and a
    // line feed. Callable from any thread; returns at once; never fails.
    static void log(const QString &text);

    // Blocks until every entry queued before the call is written (or dropped).
    static void flush();

    // The support address that the saved-archive alert names.
    static QString supportAddress();
    // The English support sentence of a saved archive, the catalog key of its
    // translations: "{file}" is its only placeholder, the address is written out.
    static QString supportSentence();

    // Starts saving a diagnostics archive and returns at once; the outcome is shown
    // in an alert later. Main thread.
    static void save();
    // The same with the given collaborators; completes once the alert was shown.
    static QCoro::Task<> save(Alerts *alerts, Workspace *workspace, Clock *clock);

    // The archive's full path for a save at `now`: "Corvane diagnostics yyyy-MM-dd
    // HHmm.zip" (local time) on the Desktop when it exists as a folder, else in the
    // home folder.
    static QString archivePath(const QDateTime &now);

    // Runs the service with "--diagnostics" and `archive` and waits for it
    // (blocking). None when it exited with status 0; otherwise the failure text: its
    // standard error trimmed, or why it could not be launched.
    static std::optional<QString> runService(const QString &binary, const QString &archive);
};

} // namespace cv

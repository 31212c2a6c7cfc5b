#pragma once

#include <QString>

namespace cv {

// The variable that the application's autostart entry sets on the program it starts
// ("CV_AUTOSTART=1"); nothing else sets it.
inline constexpr char autostartVariable[] = "CV_AUTOSTART";

// True when this process was started by the application's own autostart entry, the
// desktop's counterpart of a login-item launch (such a launch also carries
// "--background"). The first call reads the variable and removes it from the
// environment, so that nothing this application starts inherits it; every call
// answers the same. Call it early, before other threads run.
bool launchedByAutostartEntry();

// The application's own login item: a desktop entry in the user's autostart folder
// ($XDG_CONFIG_HOME/autostart, ~/.config/autostart by default) that the desktop runs
// at sign-in, starting the application with "--background".
class AutostartEntry {
public:
    // The entry `fileName` in `folder`, starting `program`.
    AutostartEntry(QString folder, QString fileName, QString program);

    // The user's autostart folder.
    static QString userFolder();

    QString path() const;

    // The entry exists and is not hidden ("Hidden=true" in its desktop entry group,
    // the way a user or a desktop turns an autostart entry off).
    bool registered() const;
    // Writes the entry (replacing what is there) in one step, creating the folder.
    // Throws PlatformError.
    void write() const;
    // Removes the entry; none there is no error. Throws PlatformError.
    void remove() const;

    // The entry's text.
    QString contents() const;
    // The Exec value: a shell sets the autostart variable and executes `program`
    // (quoted for the desktop entry format where needed) with "--background".
    static QString execLine(const QString &program);

private:
    QString folder_;
    QString fileName_;
    QString program_;
};

} // namespace cv

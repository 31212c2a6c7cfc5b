#pragma once

#include <QHash>
#include <QStringList>
#include <QUrl>

#include <QCoroTask>

#include <optional>

namespace cv {

// Settings panes the application may ask the system to open.
enum class SettingsPane {
    filesAndFolders, // privacy: files and folders
    notifications,
    loginItems,
};

// The desktop's file manager and URL handling.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Shows `paths` selected in the file manager. Never opens the files themselves:
    // when the file manager cannot select them, the folder holding the first one is
    // opened instead.
    virtual void reveal(const QStringList &paths) = 0;
    // Opens a URL, or a file or folder given as a file URL. Starts at once and
    // completes with false when nothing could open it: a file URL whose path does not
    // exist, or an opener that failed. Main thread; nobody has to wait for it.
    virtual QCoro::Task<bool> open(QUrl url) = 0;
    // Whether the desktop has a settings pane for `pane` that openSettings can open.
    // A control that would open a pane the desktop lacks is not offered.
    virtual bool hasSettings(SettingsPane pane) = 0;
    // Opens a pane of the system settings. False when there is no such pane or it
    // could not be opened.
    virtual bool openSettings(SettingsPane pane) = 0;

    static Workspace &system();
};

// The Linux workspace: reveals through org.freedesktop.FileManager1 on the session
// bus; opens a file URL with the desktop's opener, xdg-open found on PATH, followed to
// its exit (standard output and error are the application's), and any other URL, or
// any URL without that opener, through QDesktopServices. Settings panes are those of
// the desktop's own settings program: the desktops named in XDG_CURRENT_DESKTOP are
// tried in their order, and a pane exists when that desktop has it and its program
// is on PATH (GNOME Settings, KDE System Settings, the Xfce settings dialogs). No
// Linux desktop has a privacy pane that governs file access, so filesAndFolders
// never exists.
class DesktopWorkspace final : public Workspace {
public:
    // Reads XDG_CURRENT_DESKTOP and PATH once, here, and looks for the opener.
    DesktopWorkspace();

    void reveal(const QStringList &paths) override;
    QCoro::Task<bool> open(QUrl url) override;
    bool hasSettings(SettingsPane pane) override;
    // Starts the settings program detached, without a shell.
    bool openSettings(SettingsPane pane) override;

private:
    // A program found on PATH and its arguments.
    struct Command {
        QString program;
        QStringList arguments;
    };
    // The command that opens `pane`, looked up once (the search stats PATH's folders).
    std::optional<Command> settingsCommand(SettingsPane pane);
    std::optional<Command> lookUp(SettingsPane pane) const;

    QStringList desktops_;
    QStringList searchPaths_;
    QString opener_; // xdg-open, or none
    QHash<int, std::optional<Command>> commands_;
};

} // namespace cv

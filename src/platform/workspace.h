#pragma once

#include <QStringList>
#include <QUrl>

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
    // Opens a URL, or a folder given as a file URL. False when nothing could open it.
    virtual bool open(const QUrl &url) = 0;
    // Opens a pane of the system settings. False when there is no such pane (always,
    // on Linux).
    virtual bool openSettings(SettingsPane pane) = 0;

    static Workspace &system();
};

// The Linux workspace: reveals through org.freedesktop.FileManager1 on the session
// bus, opens through QDesktopServices.
class DesktopWorkspace final : public Workspace {
public:
    void reveal(const QStringList &paths) override;
    bool open(const QUrl &url) override;
    bool openSettings(SettingsPane pane) override;
};

} // namespace cv

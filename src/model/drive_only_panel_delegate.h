#pragma once

#include "platform/open_panels.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace cv {

// Keeps an open panel inside one folder tree, the other computer's mounted share:
// items outside it are shown disabled, and an item outside it that is typed in is
// refused with a sentence naming the computer.
class DriveOnlyPanelDelegate {
public:
    // `root` is standardised here; `computer` is the other computer's display name.
    DriveOnlyPanelDelegate(const QUrl &root, QString computer);

    const QUrl &root() const { return root_; }
    const QString &computer() const { return computer_; }

    // The root itself or anything below it. A folder beside the root whose name only
    // begins with the root's name is outside.
    bool inside(const QUrl &url) const;

    // Whether the panel lets the item be chosen.
    bool shouldEnable(const QUrl &url) const { return inside(url); }
    // Nothing for an item inside the root; the refusal for any other.
    std::optional<OpenPanelRefusal> validate(const QUrl &url) const;

    // Hands both checks to `panel`, which keeps this delegate alive with them.
    static void install(OpenPanel &panel, const QUrl &root, QString computer);

private:
    QUrl root_;
    QString rootPath_; // resolved; empty when the root cannot be resolved
    QString computer_;
};

// The path on this computer that a file URL names, as given. Empty for any other URL:
// another scheme, a file on another host, or a relative path.
QString localPath(const QUrl &url);
// A path as the file system names it: "." and ".." resolved (".." above the top stays
// at the top), duplicate and trailing slashes removed. Symbolic links are left alone.
QString standardizedPath(const QString &path);
// The standardised local path of a file URL (empty for any other URL).
QString standardizedPath(const QUrl &url);
// Whether `path` is `ancestor` or lies below it; both standardised.
bool isWithin(const QString &path, const QString &ancestor);
// Where a path really leads: standardised, then every symbolic link on the way
// followed. A part that does not exist yet is kept as written below the real folder
// that holds it. Empty when the path cannot be resolved (a dangling or looping link,
// a folder that cannot be read, a file used as a folder): such a path is inside
// nothing.
QString resolvedPath(const QString &path);
// Whether `path` leads to `ancestor` or below it, both resolved first. False when
// either cannot be resolved.
bool leadsWithin(const QString &path, const QString &ancestor);

} // namespace cv

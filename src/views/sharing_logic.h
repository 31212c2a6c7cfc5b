#pragma once

// The decisions of a computer window's sharing choice, without widgets: what each
// tile shows, what a tap, a drive checkbox, an option switch or a folder panel sends,
// and how paths are written. Every decision that sends something returns the
// "choose" call it would make; nothing here keeps state.

#include "platform/open_panels.h"

#include <QDir>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QFontMetrics;

namespace cv {

class AppModel;
struct Share;

// The three choices with a tile, in the order the tiles are shown. Their raw values
// are the share modes "drive", "folder" and "receive".
enum class SharingChoice { drive, folder, receive };

const QList<SharingChoice> &sharingChoices();
QString rawValue(SharingChoice choice);
// None for any other text, "none" included.
std::optional<SharingChoice> sharingChoiceFrom(const QString &raw);
QString sharingChoiceTitle(SharingChoice choice); // translated
QString sharingChoiceSymbol(SharingChoice choice);

// The window's Read-only and Remember switches, as they stand.
struct SharingOptions {
    bool readOnly = false;
    bool remember = false;
};

// One call of AppModel::choose, with its arguments.
struct ChooseCall {
    QString id;
    QString mode;
    std::optional<QString> path;
    std::optional<QStringList> paths;
    bool readOnly = false;
    bool remember = false;
    std::optional<QString> pairingCode;

    bool operator==(const ChooseCall &) const = default;

    void sendTo(AppModel &model) const;
};

// The computer's name as its window shows it: the connected computer's, else the
// remembered one's, else the name the window was opened with.
QString shownName(const AppModel &model, const QString &id, const QString &initialName);
// The connected computer's pairing code; none when it is not connected.
std::optional<QString> pairingCode(const AppModel &model, const QString &id);
// The service waits for a new choice because what was shared last time is gone: the
// computer is connected, needs a choice, reports an error and is remembered.
bool savedLocationMissing(const AppModel &model, const QString &id);

// Everything one tile shows.
struct SharingTileState {
    SharingChoice choice = SharingChoice::drive;
    QString title;       // translated
    QString symbol;
    QString description; // translated
    bool selected = false;
    bool enabled = true;
    QString tooltip;      // the tile's own: empty unless selected (no full stop)
    QString outerTooltip; // the receive tile's, while receiving is not offered
    QString accessibilityValue;
    QString accessibilityHint;
};
SharingTileState sharingTile(const AppModel &model, const QString &id, SharingChoice choice);

// What a tap on a tile does: nothing, a "choose" call, or the folder panel.
struct TileTap {
    std::optional<ChooseCall> call;
    bool pickFolder = false;

    bool operator==(const TileTap &) const = default;
};
TileTap tileTap(const AppModel &model, const QString &id, SharingChoice choice, SharingOptions options);

// The call for a drive checkbox turned `on` or off: the ticked drives in the order of
// the shareable drives, or mode "none" once the last is unticked.
ChooseCall driveToggle(const AppModel &model, const QString &id, const QString &drivePath, bool on,
                       SharingOptions options);

// The call that re-sends the current choice with new option values; none while
// nothing is shared or a choice is still pending.
std::optional<ChooseCall> optionsChange(const AppModel &model, const QString &id, SharingOptions options);

// The block under the tiles.
struct DriveRow {
    QString path;
    QString name; // shown as is
    bool external = false;
    bool checked = false;

    bool operator==(const DriveRow &) const = default;
};
struct SelectionDetail {
    enum class Kind { none, drives, receiveFolder, folder };
    Kind kind = Kind::none;
    QList<DriveRow> drives; // Kind::drives
    QString symbol;         // the folder rows
    QString title;          // the folder rows' first line
    QString pathLine;       // the folder rows' second line, home written as "~"
    bool enabled = true;    // checkboxes and "Change…": not while busy
};
SelectionDetail selectionDetail(const AppModel &model, const QString &id);

// The two switch rows.
struct OptionRowState {
    QString title;
    QString detail;
    bool enabled = true;
};
struct SharingOptionRows {
    OptionRowState readOnly;
    OptionRowState remember;
};
SharingOptionRows sharingOptionRows(const AppModel &model, const QString &id, const QString &initialName);

// A folder panel to show, with the pairing code read before it opens.
struct FolderPanelRequest {
    QString id;
    QString mode; // "folder" or "receive"
    QString prompt;
    QString message;
    std::optional<QString> startFolder;
    bool canCreateFolders = false;
    std::optional<QString> pairingCode;

    // The panel itself: one folder, no files.
    OpenPanel panel() const;
};
FolderPanelRequest folderPanel(const AppModel &model, const QString &id, const QString &initialName);
FolderPanelRequest receiveFolderPanel(const AppModel &model, const QString &id, const QString &initialName);
// The call once the user confirmed `path` in the panel of `request`.
ChooseCall panelChoice(const FolderPanelRequest &request, const QString &path, SharingOptions options);
// Remembers a chosen receive folder, then sends panelChoice().
void confirmFolderPanel(AppModel &model, const FolderPanelRequest &request, const QString &path,
                        SharingOptions options);

// `path` with the home folder written "~": only the home folder itself or a path
// under home + "/" ("/home/al2" is not "~2").
QString abbreviatedPath(const QString &path, const QString &home = QDir::homePath());
// The receive row's path line: the receive folder abbreviated, or "~/Downloads" as
// is when the share names none.
QString receiveFolderLine(const Share &share, const QString &home = QDir::homePath());
// A long path with its middle left out to fit `width` pixels.
QString elidedPath(const QString &path, const QFontMetrics &metrics, int width);

} // namespace cv

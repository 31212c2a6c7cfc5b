#include "views/sharing_logic.h"

#include "localization/localization.h"
#include "model/app_model.h"
#include "model/drives.h"

#include <QFontMetrics>

namespace cv {

namespace {

const QString driveMode = QStringLiteral("drive");
const QString folderMode = QStringLiteral("folder");
const QString receiveMode = QStringLiteral("receive");
const QString noneMode = QStringLiteral("none");

ChooseCall call(const AppModel &model, const QString &id, const QString &mode, std::optional<QString> path,
                std::optional<QStringList> paths, SharingOptions options)
{
    return {id, mode, std::move(path), std::move(paths), options.readOnly, options.remember, pairingCode(model, id)};
}

ChooseCall stopSharing(const AppModel &model, const QString &id, SharingOptions options)
{
    return call(model, id, noneMode, std::nullopt, std::nullopt, options);
}

QString named(const char *english, const QString &key, const QString &value)
{
    return L(QString::fromUtf8(english), {{key, value}});
}

} // namespace

const QList<SharingChoice> &sharingChoices()
{
    static const QList<SharingChoice> all{SharingChoice::drive, SharingChoice::folder, SharingChoice::receive};
    return all;
}

QString rawValue(SharingChoice choice)
{
    switch (choice) {
    case SharingChoice::drive:
        return driveMode;
    case SharingChoice::folder:
        return folderMode;
    case SharingChoice::receive:
        return receiveMode;
    }
    return {};
}

std::optional<SharingChoice> sharingChoiceFrom(const QString &raw)
{
    for (SharingChoice choice : sharingChoices()) {
        if (rawValue(choice) == raw)
            return choice;
    }
    return std::nullopt;
}

QString sharingChoiceTitle(SharingChoice choice)
{
    switch (choice) {
    case SharingChoice::drive:
        return L(QStringLiteral("Share drives"));
    case SharingChoice::folder:
        return L(QStringLiteral("Share a folder"));
    case SharingChoice::receive:
        return L(QStringLiteral("Receive only"));
    }
    return {};
}

QString sharingChoiceSymbol(SharingChoice choice)
{
    switch (choice) {
    case SharingChoice::drive:
        return QStringLiteral("internaldrive");
    case SharingChoice::folder:
        return QStringLiteral("folder");
    case SharingChoice::receive:
        return QStringLiteral("tray.and.arrow.down");
    }
    return {};
}

void ChooseCall::sendTo(AppModel &model) const { model.choose(id, mode, path, paths, readOnly, remember, pairingCode); }

QString shownName(const AppModel &model, const QString &id, const QString &initialName)
{
    if (const std::optional<Peer> peer = model.peer(id))
        return peer->name;
    if (const std::optional<RememberedPeer> remembered = model.remembered(id))
        return remembered->name;
    return initialName;
}

std::optional<QString> pairingCode(const AppModel &model, const QString &id)
{
    if (const std::optional<Peer> peer = model.peer(id))
        return peer->pairing_code;
    return std::nullopt;
}

bool savedLocationMissing(const AppModel &model, const QString &id)
{
    const std::optional<Peer> peer = model.peer(id);
    return peer && peer->choice_required && peer->error && model.remembered(id);
}

SharingTileState sharingTile(const AppModel &model, const QString &id, SharingChoice choice)
{
    const Share share = model.share(id);
    SharingTileState tile;
    tile.choice = choice;
    tile.title = sharingChoiceTitle(choice);
    tile.symbol = sharingChoiceSymbol(choice);
    tile.selected = share.mode == rawValue(choice);

    bool available = model.peer(id) || model.remembered(id);
    switch (choice) {
    case SharingChoice::drive:
        tile.description = model.drivesDescription(id);
        available = available && !model.shareableDrives().isEmpty();
        break;
    case SharingChoice::folder:
        if (share.mode == folderMode && share.path())
            tile.description = named("{name} appears on the other computer.", QStringLiteral("name"),
                                     Drives::displayName(*share.path()));
        else
            tile.description = L(QStringLiteral("Pick one folder. Nothing else is visible."));
        break;
    case SharingChoice::receive: {
        QString folder;
        if (share.mode == receiveMode)
            folder = share.receiveFolderName();
        else if (const std::optional<QString> fallback = model.defaultReceiveFolder())
            folder = Drives::displayName(*fallback);
        else
            folder = L(QStringLiteral("Downloads"));
        tile.description = named("Files go to {folder}. Yours stay private.", QStringLiteral("folder"), folder);
        available = available && model.receiveSupported();
        if (!model.receiveSupported())
            tile.outerTooltip = L(QStringLiteral("Receive only needs a newer version of Corvane on this computer."));
        break;
    }
    }
    tile.enabled = available && !model.busy();
    tile.tooltip = tile.selected ? L(QStringLiteral("Click again to stop sharing")) : QString();
    tile.accessibilityValue = tile.selected ? L(QStringLiteral("Current choice")) : QString();
    tile.accessibilityHint = tile.selected ? L(QStringLiteral("Click again to stop sharing.")) : tile.description;
    return tile;
}

TileTap tileTap(const AppModel &model, const QString &id, SharingChoice choice, SharingOptions options)
{
    if (model.busy())
        return {};
    if (model.share(id).mode == rawValue(choice))
        return {stopSharing(model, id, options)};
    switch (choice) {
    case SharingChoice::drive: {
        const QList<Drive> drives = model.shareableDrives();
        if (drives.isEmpty())
            return {};
        const QString first = drives.first().path;
        return {call(model, id, driveMode, first, QStringList{first}, options)};
    }
    case SharingChoice::folder:
        return {std::nullopt, true};
    case SharingChoice::receive:
        return {call(model, id, receiveMode, model.defaultReceiveFolder(), std::nullopt, options)};
    }
    return {};
}

ChooseCall driveToggle(const AppModel &model, const QString &id, const QString &drivePath, bool on,
                       SharingOptions options)
{
    QStringList edited = model.sharedDrives(id);
    if (on)
        edited.append(drivePath);
    else
        edited.removeAll(drivePath);
    // In the drives' own order, each once, whatever order they were ticked in; a
    // shared path that is no longer shareable drops out here.
    QStringList paths;
    for (const Drive &drive : model.shareableDrives()) {
        if (edited.contains(drive.path) && !paths.contains(drive.path))
            paths.append(drive.path);
    }
    if (paths.isEmpty())
        return stopSharing(model, id, options);
    return call(model, id, driveMode, paths.first(), paths, options);
}

std::optional<ChooseCall> optionsChange(const AppModel &model, const QString &id, SharingOptions options)
{
    const Share share = model.share(id);
    if (share.mode == noneMode)
        return std::nullopt;
    if (const std::optional<Peer> peer = model.peer(id); peer && peer->choice_required)
        return std::nullopt; // the next tile carries the new values
    const std::optional<QString> path = share.mode == receiveMode ? share.receiveFolder() : share.path();
    return call(model, id, share.mode, path, share.paths(), options);
}

SelectionDetail selectionDetail(const AppModel &model, const QString &id)
{
    const Share share = model.share(id);
    SelectionDetail detail;
    detail.enabled = !model.busy();
    if (share.mode == driveMode) {
        const QList<Drive> drives = model.shareableDrives();
        if (drives.size() < 2)
            return detail;
        const QStringList shared = model.sharedDrives(id);
        detail.kind = SelectionDetail::Kind::drives;
        for (const Drive &drive : drives)
            detail.drives.append({drive.path, drive.name, drive.external, shared.contains(drive.path)});
    } else if (share.mode == receiveMode) {
        detail.kind = SelectionDetail::Kind::receiveFolder;
        detail.symbol = QStringLiteral("tray.and.arrow.down");
        detail.title = named("Save received files to {folder}", QStringLiteral("folder"), share.receiveFolderName());
        detail.pathLine = receiveFolderLine(share);
    } else if (share.mode == folderMode && share.path()) {
        detail.kind = SelectionDetail::Kind::folder;
        detail.symbol = QStringLiteral("folder");
        detail.title = Drives::displayName(*share.path());
        detail.pathLine = abbreviatedPath(*share.path());
    }
    return detail;
}

SharingOptionRows sharingOptionRows(const AppModel &model, const QString &id, const QString &initialName)
{
    const bool receiving = model.share(id).mode == receiveMode;
    SharingOptionRows rows;
    rows.readOnly.title = L(QStringLiteral("Read-only"));
    rows.readOnly.detail = receiving
        ? L(QStringLiteral("Not used with Receive only: nothing of yours is shared."))
        : named("{name} can open and copy your files, but not change them.", QStringLiteral("name"),
                shownName(model, id, initialName));
    rows.readOnly.enabled = !model.busy() && !receiving;
    rows.remember.title = L(QStringLiteral("Remember this computer"));
    rows.remember.detail = L(QStringLiteral("Connect the same way next time, without asking."));
    rows.remember.enabled = !model.busy();
    return rows;
}

OpenPanel FolderPanelRequest::panel() const
{
    OpenPanel panel;
    panel.canChooseFiles = false;
    panel.canChooseDirectories = true;
    panel.allowsMultipleSelection = false;
    panel.prompt = prompt;
    panel.message = message;
    if (startFolder)
        panel.directoryURL = QUrl::fromLocalFile(*startFolder);
    return panel;
}

FolderPanelRequest folderPanel(const AppModel &model, const QString &id, const QString &initialName)
{
    FolderPanelRequest request;
    request.id = id;
    request.mode = folderMode;
    request.prompt = L(QStringLiteral("Share"));
    request.message =
        named("Choose the folder to share with {name}.", QStringLiteral("name"), shownName(model, id, initialName));
    request.pairingCode = pairingCode(model, id);
    return request;
}

FolderPanelRequest receiveFolderPanel(const AppModel &model, const QString &id, const QString &initialName)
{
    FolderPanelRequest request;
    request.id = id;
    request.mode = receiveMode;
    request.prompt = L(QStringLiteral("Choose"));
    request.message =
        named("Choose where files from {name} are saved.", QStringLiteral("name"), shownName(model, id, initialName));
    request.startFolder = model.share(id).receiveFolder().value_or(QDir::homePath() + QStringLiteral("/Downloads"));
    request.canCreateFolders = true;
    request.pairingCode = pairingCode(model, id);
    return request;
}

ChooseCall panelChoice(const FolderPanelRequest &request, const QString &path, SharingOptions options)
{
    return {request.id, request.mode, path, std::nullopt, options.readOnly, options.remember, request.pairingCode};
}

void confirmFolderPanel(AppModel &model, const FolderPanelRequest &request, const QString &path,
                        SharingOptions options)
{
    if (request.mode == receiveMode)
        model.setLastReceiveFolder(path);
    panelChoice(request, path, options).sendTo(model);
}

QString abbreviatedPath(const QString &path, const QString &givenHome)
{
    QString home = givenHome;
    while (home.size() > 1 && home.endsWith(QLatin1Char('/')))
        home.chop(1);
    // A home folder at the root would turn every path into "~".
    if (home.isEmpty() || home == QLatin1String("/"))
        return path;
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

QString receiveFolderLine(const Share &share, const QString &home)
{
    if (const std::optional<QString> folder = share.receiveFolder())
        return abbreviatedPath(*folder, home);
    return QStringLiteral("~/Downloads");
}

QString elidedPath(const QString &path, const QFontMetrics &metrics, int width)
{
    return metrics.elidedText(path, Qt::ElideMiddle, width);
}

} // namespace cv

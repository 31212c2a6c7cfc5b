#include "model/app_model.h"

#include "localization/localization.h"
#include "model/drive_only_panel_delegate.h"
#include "platform/open_panels.h"
#include "platform/volume_names.h"

#include <QDir>
#include <QStandardPaths>
#include <QTimer>
#include <QUuid>

namespace cv {

namespace {

// The id of a sending or a copy: a fresh UUID as 32 lowercase hexadecimal digits.
QString transferId()
{
    return QUuid::createUuid().toString(QUuid::Id128).toLower();
}

// The path of a file URL as it was given, without a trailing slash (the root keeps
// its own).
QString filePath(const QUrl &url)
{
    return VolumeNames::withoutTrailingSlashes(localPath(url));
}

bool allLocalFiles(const QList<QUrl> &urls)
{
    for (const QUrl &url : urls) {
        if (localPath(url).isEmpty())
            return false;
    }
    return true;
}

// A folder as a file URL that names a directory.
QUrl folderUrl(QString path)
{
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return QUrl::fromLocalFile(path);
}

// Whether a copy of `sources` into `destination` would copy something into itself,
// following symbolic links on both sides.
bool copiesIntoItself(const QStringList &sources, const QString &destination)
{
    for (const QString &source : sources) {
        if (leadsWithin(destination, source))
            return true;
    }
    return false;
}

} // namespace

QCoro::Task<> AppModel::pickFiles(QString id)
{
    if (!canSend(id) || busy())
        co_return;
    OpenPanel panel;
    panel.canChooseDirectories = true;
    panel.canChooseFiles = true;
    panel.allowsMultipleSelection = true;
    panel.prompt = L(QStringLiteral("Send"));
    panel.message = L(QStringLiteral("Send files and folders to {name}. Originals stay here."),
                      {{QStringLiteral("name"), name(id)}});
    QCoro::Task<std::optional<QList<QUrl>>> choice = alive(openPanels().run(std::move(panel)));
    const std::optional<QList<QUrl>> chosen = co_await std::move(choice);
    if (chosen)
        send(*chosen, std::move(id));
}

void AppModel::send(QList<QUrl> urls, QString id)
{
    if (!canSend(id) || busy()) {
        setError(L(QStringLiteral("This computer is no longer ready to receive files.")));
        return;
    }
    if (urls.isEmpty() || !allLocalFiles(urls)) {
        setError(L(QStringLiteral("Drop local files or folders to send them.")));
        return;
    }
    QStringList paths;
    for (const QUrl &url : urls)
        paths << filePath(url);
    run(Command{.op = QStringLiteral("send_files"), .peer = std::move(id), .id = transferId(), .paths = std::move(paths)});
}

bool AppModel::acceptDrop(QList<QUrl> items, QString peer)
{
    if ((!canSend(peer) && !canCopy(peer)) || busy() || items.isEmpty())
        return false;

    // The drop is taken now; what it becomes is decided in a later turn of the event
    // loop, from the state at that time.
    QTimer::singleShot(0, this, [this, items = std::move(items), peer = std::move(peer)] {
        QList<QUrl> urls;
        for (const QUrl &item : items) {
            if (item.isEmpty() || !item.isValid()) {
                setError(L(QStringLiteral("Couldn’t read the dropped file.")));
                return;
            }
            if (localPath(item).isEmpty()) {
                setError(L(QStringLiteral("Drop local files or folders to send them.")));
                return;
            }
            urls << item;
        }
        if (canSend(peer)) {
            send(std::move(urls), peer);
        } else if (canCopy(peer) && !busy()) {
            copyDropped(std::move(urls), peer);
        } else {
            // The computer left, or the service became busy, after the drop was taken:
            // say so rather than drop the files without a word.
            setError(L(QStringLiteral("This computer is no longer ready to receive files.")));
        }
    });
    return true;
}

void AppModel::copyDropped(QList<QUrl> urls, QString peerId)
{
    const std::optional<Peer> found = peer(peerId);
    if (!found || !found->mount)
        return;
    const QString mount = standardizedPath(*found->mount);

    // The share's own folder counts as coming from the other computer, like
    // everything below it. Where an item lies is where it really leads: a link into
    // the share is the share's own file.
    qsizetype fromMount = 0;
    QStringList sources;
    for (const QUrl &url : urls) {
        const QString path = standardizedPath(url);
        sources << path;
        if (leadsWithin(path, mount))
            ++fromMount;
    }

    if (fromMount == urls.size()) {
        const QUrl destination = downloadsFolder();
        if (copiesIntoItself(sources, standardizedPath(destination))) {
            setError(L(QStringLiteral("Drop items from one computer at a time.")));
            return;
        }
        copy(std::move(urls), destination, std::move(peerId));
        return;
    }
    if (fromMount > 0) {
        setError(L(QStringLiteral("Drop items from one computer at a time.")));
        return;
    }
    // A local folder that holds the mounted share holds the other computer's items
    // too; copying it into the share would copy the share into itself.
    if (copiesIntoItself(sources, mount)) {
        setError(L(QStringLiteral("Drop items from one computer at a time.")));
        return;
    }
    if (canCopyTo(peerId)) {
        copy(std::move(urls), folderUrl(mount), std::move(peerId));
        return;
    }
    setError(L(QStringLiteral("{name} shares its files read-only."), {{QStringLiteral("name"), name(peerId)}}));
}

QUrl AppModel::downloadsFolder() const
{
    QString path = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (path.isEmpty())
        path = QDir::homePath() + QStringLiteral("/Downloads");
    return folderUrl(path);
}

void AppModel::copy(QList<QUrl> urls, QUrl destination, QString peer)
{
    if (!canCopy(peer) || urls.isEmpty() || !allLocalFiles(urls))
        return;
    const QString target = standardizedPath(destination);
    if (target.isEmpty())
        return;
    QStringList sources;
    for (const QUrl &url : urls)
        sources << standardizedPath(url);
    // Never ask for a copy of a folder into itself.
    if (copiesIntoItself(sources, target))
        return;
    run(Command{.op = QStringLiteral("copy"), .id = transferId(), .sources = std::move(sources), .destination = target});
}

QCoro::Task<> AppModel::getFiles(QString id)
{
    if (!canCopy(id) || busy())
        co_return;
    const std::optional<Peer> found = peer(id);
    if (!found || !found->mount)
        co_return;
    const QString computer = name(id);
    OpenPanel panel;
    panel.canChooseDirectories = true;
    panel.canChooseFiles = true;
    panel.allowsMultipleSelection = true;
    panel.directoryURL = folderUrl(*found->mount);
    panel.prompt = L(QStringLiteral("Copy to Downloads"));
    panel.message = L(QStringLiteral("Choose files and folders on {name}. They’re copied to your Downloads folder at full speed."),
                      {{QStringLiteral("name"), computer}});
    DriveOnlyPanelDelegate::install(panel, QUrl::fromLocalFile(*found->mount), computer);
    QCoro::Task<std::optional<QList<QUrl>>> choice = alive(openPanels().run(std::move(panel)));
    const std::optional<QList<QUrl>> chosen = co_await std::move(choice);
    if (!chosen)
        co_return;
    // The panel stayed open while the service went on: files the user picked are
    // never dropped without a word.
    if (!canCopy(id) || busy()) {
        setError(L(QStringLiteral("This computer is no longer ready to receive files.")));
        co_return;
    }
    copy(*chosen, downloadsFolder(), std::move(id));
}

OpenPanels &AppModel::openPanels()
{
    return openPanels_ ? *openPanels_ : OpenPanels::system();
}

} // namespace cv

#include "platform/workspace.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>

namespace cv {

namespace {

void openFolderOf(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

} // namespace

void DesktopWorkspace::reveal(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    QStringList uris;
    for (const QString &path : paths)
        uris << QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);

    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString first = paths.first();
    if (!bus.isConnected()) {
        openFolderOf(first);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, first] {
        if (watcher->isError())
            openFolderOf(first);
        watcher->deleteLater();
    });
}

bool DesktopWorkspace::open(const QUrl &url) { return QDesktopServices::openUrl(url); }

bool DesktopWorkspace::openSettings(SettingsPane) { return false; }

Workspace &Workspace::system()
{
    static DesktopWorkspace workspace;
    return workspace;
}

} // namespace cv

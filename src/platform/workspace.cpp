#include "platform/workspace.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace cv {

namespace {

void openFolderOf(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

// A desktop's settings program that shows one pane.
struct PaneProgram {
    const char *desktop; // as XDG_CURRENT_DESKTOP names it
    SettingsPane pane;
    const char *program;
    const char *argument; // none when the program is the pane
};

// The login-items pane is the page that lists what starts at sign-in.
const PaneProgram panePrograms[] = {
    {"GNOME", SettingsPane::notifications, "gnome-control-center", "notifications"},
    {"GNOME", SettingsPane::loginItems, "gnome-control-center", "applications"},
    {"KDE", SettingsPane::notifications, "systemsettings", "kcm_notifications"},
    {"KDE", SettingsPane::loginItems, "systemsettings", "kcm_autostart"},
    {"XFCE", SettingsPane::notifications, "xfce4-notifyd-config", nullptr},
    {"XFCE", SettingsPane::loginItems, "xfce4-session-settings", nullptr},
};

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

DesktopWorkspace::DesktopWorkspace()
    : desktops_(QString::fromLocal8Bit(qgetenv("XDG_CURRENT_DESKTOP")).split(QLatin1Char(':'), Qt::SkipEmptyParts)),
      searchPaths_(QString::fromLocal8Bit(qgetenv("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts))
{
}

std::optional<DesktopWorkspace::Command> DesktopWorkspace::settingsCommand(SettingsPane pane)
{
    const int key = static_cast<int>(pane);
    auto found = commands_.constFind(key);
    if (found == commands_.constEnd())
        found = commands_.insert(key, lookUp(pane));
    return *found;
}

std::optional<DesktopWorkspace::Command> DesktopWorkspace::lookUp(SettingsPane pane) const
{
    // An empty search path would make the search fall back to the process's PATH.
    if (searchPaths_.isEmpty())
        return std::nullopt;
    for (const QString &desktop : desktops_) {
        for (const PaneProgram &entry : panePrograms) {
            if (entry.pane != pane || desktop != QLatin1String(entry.desktop))
                continue;
            const QString program = QStandardPaths::findExecutable(QString::fromLatin1(entry.program), searchPaths_);
            if (!program.isEmpty())
                return Command{program, entry.argument ? QStringList{QString::fromLatin1(entry.argument)} : QStringList{}};
        }
    }
    return std::nullopt;
}

bool DesktopWorkspace::hasSettings(SettingsPane pane) { return settingsCommand(pane).has_value(); }

bool DesktopWorkspace::openSettings(SettingsPane pane)
{
    const std::optional<Command> command = settingsCommand(pane);
    return command && QProcess::startDetached(command->program, command->arguments);
}

Workspace &Workspace::system()
{
    static DesktopWorkspace workspace;
    return workspace;
}

} // namespace cv

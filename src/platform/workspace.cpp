#include "platform/workspace.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QPromise>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>

#include <memory>

namespace cv {

namespace {

void openFolderOf(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

// Starts `opener` on `path`, its output and errors the application's own; true once
// it has exited with status 0, false once it failed, could not start or crashed. It is
// never killed: when the application quits first, it carries on.
QFuture<bool> runOpener(const QString &opener, const QString &path)
{
    auto promise = std::make_shared<QPromise<bool>>();
    promise->start();
    QFuture<bool> ended = promise->future();
    const auto settle = [promise](bool opened) {
        if (promise->future().isFinished())
            return;
        promise->addResult(opened);
        promise->finish();
    };
    auto *process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process, [process, settle](int code, QProcess::ExitStatus status) {
        settle(status == QProcess::NormalExit && code == 0);
        process->deleteLater();
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, settle](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return; // the end follows
        settle(false);
        process->deleteLater();
    });
    process->start(opener, {path});
    return ended;
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

QCoro::Task<bool> DesktopWorkspace::open(QUrl url)
{
    if (!url.isLocalFile())
        co_return QDesktopServices::openUrl(url);
    const QString path = url.toLocalFile();
    const QString opener = opener_;
    // Looked at off the main thread: a mounted share whose computer went away can
    // keep a look at it waiting.
    QFuture<bool> looked = QtConcurrent::run([path] { return QFileInfo::exists(path); });
    const bool exists = co_await looked;
    if (!exists)
        co_return false;
    if (opener.isEmpty())
        co_return QDesktopServices::openUrl(url);
    QFuture<bool> ended = runOpener(opener, path);
    co_return co_await ended;
}

DesktopWorkspace::DesktopWorkspace()
    : desktops_(QString::fromLocal8Bit(qgetenv("XDG_CURRENT_DESKTOP")).split(QLatin1Char(':'), Qt::SkipEmptyParts)),
      searchPaths_(QString::fromLocal8Bit(qgetenv("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts))
{
    // An empty search path would make the search fall back to the process's PATH.
    if (!searchPaths_.isEmpty())
        opener_ = QStandardPaths::findExecutable(QStringLiteral("xdg-open"), searchPaths_);
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

#include "app/install_location.h"

#include "localization/localization.h"
#include "model/failures.h"
#include "platform/alerts.h"
#include "platform/clock.h"
#include "platform/install_system.h"
#include "platform/platform_error.h"
#include "service/reply.h"
#include "service/service_client.h"
#include "service/service_host.h"
#include "views/widgets.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QUuid>
#include <QWidget>

#include <algorithm>
#include <unistd.h>

namespace cv {

const QString InstallLocation::bundleName = QStringLiteral("Corvane.app");

namespace {

// A failure of the move, its message a complete sentence for the user.
class Failure : public QException {
public:
    explicit Failure(QString message) : message_(std::move(message)), utf8_(message_.toUtf8()) {}
    const QString &message() const { return message_; }
    const char *what() const noexcept override { return utf8_.constData(); }
    void raise() const override { throw *this; }
    Failure *clone() const override { return new Failure(*this); }

private:
    QString message_;
    QByteArray utf8_;
};

constexpr double otherInstanceWait = 40.0; // seconds
constexpr double serviceStopWait = 10.0;   // seconds
constexpr double lookAgain = 0.2;          // seconds between looks
constexpr double probeDeadline = 1.0;      // seconds per "status" while waiting

InstallSystem &systemOf(const InstallPlatform &p) { return p.system ? *p.system : InstallSystem::system(); }
Alerts &alertsOf(const InstallPlatform &p) { return p.alerts ? *p.alerts : Alerts::system(); }
Clock &clockOf(const InstallPlatform &p) { return p.clock ? *p.clock : Clock::system(); }
qint64 pidOf(const InstallPlatform &p) { return p.processId ? p.processId : qint64(::getpid()); }

QString systemFolderOf(const InstallPlatform &p)
{
    return p.systemFolder.isEmpty() ? QStringLiteral("/Applications") : p.systemFolder;
}

QString userFolderOf(const InstallPlatform &p)
{
    return p.userFolder.isEmpty() ? QDir::homePath() + QStringLiteral("/Applications") : p.userFolder;
}

QString inside(const QString &folder, const QString &name) { return folder + QLatin1Char('/') + name; }

QString retryText() { return L("Quit the Corvane that’s already open, then try again."); }

QString describe(std::exception_ptr thrown)
{
    try {
        std::rethrow_exception(thrown);
    } catch (const Failure &e) {
        return e.message();
    } catch (...) {
        return failure::describe(thrown);
    }
}

// The extension of the last path component ("app" for ".../Corvane.app").
QString pathExtension(const QString &path)
{
    QString name = path;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.mid(dot + 1) : QString();
}

// Requests `op` with any result accepted; the error it failed with, if any.
QCoro::Task<std::optional<ServiceError>> ask(ServiceClient &client, QString op, std::optional<double> deadline)
{
    try {
        QCoro::Task<EmptyResult> request = client.request<EmptyResult>(Command{.op = op}, deadline);
        co_await std::move(request);
    } catch (const ServiceError &error) {
        co_return error;
    }
    co_return std::nullopt;
}

// Deletes the staging copy when the install ends, however it ends.
struct StagingRemoval {
    InstallSystem &system;
    QString path;
    ~StagingRemoval() { system.remove(path); }
};

} // namespace

QString InstallLocation::resolvedPath(const QString &path)
{
    const QString absolute = QDir::isAbsolutePath(path) ? path : inside(QDir::currentPath(), path);
    const QString canonical = QFileInfo(absolute).canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    // Not there (yet): resolve what exists above it and follow the rest as written.
    const qsizetype slash = absolute.lastIndexOf(QLatin1Char('/'));
    const QString parent = slash > 0 ? absolute.left(slash) : QStringLiteral("/");
    const QString name = absolute.mid(slash + 1);
    if (parent == absolute)
        return absolute;
    const QString base = resolvedPath(parent);
    if (name.isEmpty() || name == QLatin1String("."))
        return base;
    if (name == QLatin1String(".."))
        return QFileInfo(base).path();
    return base == QLatin1String("/") ? base + name : inside(base, name);
}

bool InstallLocation::shouldMove(const QStringList &arguments, const Platform &platform)
{
    // An application bundle is a folder: a lone executable is never one, whatever its
    // name.
    const QString bundle = systemOf(platform).bundlePath();
    if (pathExtension(bundle) != QLatin1String("app") || QFileInfo(bundle).isFile())
        return false;
    if (arguments.contains(QStringLiteral("--render")) || arguments.contains(QStringLiteral("--demo")))
        return false;
    const bool overridden = platform.developmentOverridden ? platform.developmentOverridden()
                                                           : ServiceHost::developmentOverridden();
    if (overridden)
        return false;
    return !inApplications(bundle, platform);
}

bool InstallLocation::inApplications(const QString &bundle, const Platform &platform)
{
    // Both sides resolved: a home folder reached through a link, or a bundle path
    // with "..", is still the same place.
    const QString path = resolvedPath(bundle);
    for (const QString &folder : {systemFolderOf(platform), userFolderOf(platform)}) {
        const QString root = resolvedPath(folder);
        if (path.startsWith(root == QLatin1String("/") ? root : root + QLatin1Char('/')))
            return true;
    }
    return false;
}

std::optional<QString> InstallLocation::destination(const Platform &platform)
{
    InstallSystem &system = systemOf(platform);
    const QString user = userFolderOf(platform);
    const QString shared = systemFolderOf(platform);
    const bool sharedHasCopy = system.exists(inside(shared, bundleName));
    if (system.exists(inside(user, bundleName)) && !sharedHasCopy)
        return user;
    if (system.isWritableFolder(shared))
        return shared;
    if (sharedHasCopy)
        return std::nullopt;
    return user;
}

void InstallLocation::run(std::function<void()> finished, Platform platform)
{
    // Runs on by itself; it owns everything it touches.
    QCoro::Task<> offering = offerTask(std::move(finished), std::move(platform));
    Q_UNUSED(offering);
}

QCoro::Task<> InstallLocation::offerTask(std::function<void()> finished, Platform platform)
{
    if (platform.activate)
        platform.activate();
    const std::optional<QString> folder = destination(platform);

    const QString sentence = L("Corvane needs to be in your Applications folder to start when you sign in and keep "
                               "sharing after you close its window.");
    Alert offer;
    offer.style = Alert::Style::warning;
    offer.message = L("Move Corvane to Applications?");
    offer.informative = sentence;
    if (folder && systemOf(platform).exists(inside(*folder, bundleName)))
        offer.informative = L("{sentence} {note}",
                              {{"sentence", sentence}, {"note", L("This replaces the copy that’s already there.")}});
    offer.buttons = {L("Move to Applications"), L("Quit")};
    QCoro::Task<int> answer = alertsOf(platform).run(std::move(offer));
    if (co_await std::move(answer) != 0) {
        finished();
        co_return;
    }
    if (!folder) {
        QCoro::Task<> failing = fail(L("You don’t have permission to replace the copy in Applications."),
                                     std::move(finished), std::move(platform));
        co_await std::move(failing);
        co_return;
    }
    std::unique_ptr<QWidget> window = progressWindow();
    window->show();
    window->raise();
    window->activateWindow();
    QCoro::Task<> moving = moveTask(std::move(window), *folder, std::move(finished), std::move(platform));
    co_await std::move(moving);
}

QCoro::Task<> InstallLocation::moveTask(std::unique_ptr<QWidget> window, QString folder,
                                        std::function<void()> finished, Platform platform)
{
    std::optional<QString> error;
    QString target;
    try {
        QCoro::Task<QString> installing = install(folder, platform);
        target = co_await std::move(installing);
        open(target, platform);
    } catch (...) {
        error = describe(std::current_exception());
    }
    if (error) {
        window->close();
        QCoro::Task<> failing = fail(*error, std::move(finished), std::move(platform));
        co_await std::move(failing);
        co_return;
    }
    cleanUpOriginal(target, platform);
    window->close();
    finished();
}

QCoro::Task<QString> InstallLocation::install(QString folder, Platform platform)
{
    InstallSystem &system = systemOf(platform);
    const QString target = inside(folder, bundleName);
    QCoro::Task<> stopping = stopRunningCopy(platform);
    co_await std::move(stopping);
    system.createFolders(folder);

    const StagingRemoval staging{system, inside(folder, QStringLiteral(".Corvane-")
                                                           + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
                                                           + QStringLiteral(".app"))};
    system.copyTree(system.bundlePath(), staging.path);
    clearQuarantine(staging.path, platform);
    // The old copy stays in place when it cannot be trashed; once trashed, a failed
    // move leaves it in the Trash, where the user can still get it back.
    if (system.exists(target))
        system.trash(target);
    system.move(staging.path, target);
    co_return target;
}

QCoro::Task<> InstallLocation::stopRunningCopy(Platform platform)
{
    InstallSystem &system = systemOf(platform);
    Clock &clock = clockOf(platform);

    QList<qint64> others;
    if (const std::optional<QString> identifier = system.bundleIdentifier()) {
        for (const qint64 pid : system.runningApplications(*identifier)) {
            if (pid == pidOf(platform))
                continue;
            system.terminateApplication(pid);
            others << pid;
        }
    }
    const QDateTime quitDeadline = clock.now().addMSecs(qint64(otherInstanceWait * 1000));
    while (std::any_of(others.begin(), others.end(), [&system](qint64 pid) { return !system.isTerminated(pid); })) {
        if (clock.now() >= quitDeadline)
            throw Failure(retryText());
        QCoro::Task<bool> pause = clock.sleep(lookAgain);
        co_await std::move(pause);
    }

    const std::unique_ptr<ServiceClient> client = platform.client ? platform.client() : std::make_unique<ServiceClient>();
    // Only a service that cannot be reached is not running: a busy, slow or garbled
    // answer still comes from a running service, whose files must not be replaced.
    QCoro::Task<std::optional<ServiceError>> probing = ask(*client, QStringLiteral("status"), std::nullopt);
    const std::optional<ServiceError> probe = co_await std::move(probing);
    if (probe && probe->isUnavailable())
        co_return;

    QCoro::Task<std::optional<ServiceError>> quitting = ask(*client, QStringLiteral("quit"), std::nullopt);
    const std::optional<ServiceError> quit = co_await std::move(quitting);
    if (quit)
        throw Failure(L("Couldn’t stop sharing safely: {error}", {{"error", Localization::service(quit->message())}}));

    const QDateTime stopDeadline = clock.now().addMSecs(qint64(serviceStopWait * 1000));
    for (;;) {
        QCoro::Task<std::optional<ServiceError>> looking
            = ask(*client, QStringLiteral("status"), client->clock().uptime() + probeDeadline);
        const std::optional<ServiceError> status = co_await std::move(looking);
        if (status && status->isUnavailable())
            co_return;
        if (clock.now() >= stopDeadline)
            throw Failure(retryText());
        QCoro::Task<bool> pause = clock.sleep(lookAgain);
        co_await std::move(pause);
    }
}

void InstallLocation::clearQuarantine(const QString &bundle, const Platform &platform)
{
    InstallSystem &system = systemOf(platform);
    system.removeQuarantine(bundle);
    for (const QString &item : system.enumerate(bundle))
        system.removeQuarantine(inside(bundle, item));
}

void InstallLocation::open(const QString &bundle, const Platform &platform)
{
    systemOf(platform).openApplication(bundle);
}

QStringList InstallLocation::detachArguments(const QString &volume, qint64 pid)
{
    // The volume path is an argument of its own ($1), never part of the script.
    const QString script = QStringLiteral("while kill -0 ") + QString::number(pid)
        + QStringLiteral(" 2>/dev/null; do sleep 0.2; done; ")
        + QStringLiteral("for i in 1 2 3 4 5 6 7 8 9 10; do /usr/bin/hdiutil detach \"$1\" -quiet && exit 0; sleep 0.5; done");
    return {QStringLiteral("-c"), script, QStringLiteral("eject"), volume};
}

void InstallLocation::cleanUpOriginal(const QString &installed, const Platform &platform)
{
    InstallSystem &system = systemOf(platform);
    const QString bundle = system.bundlePath();
    const QString launched = system.originalPath(bundle).value_or(bundle);

    const std::optional<QString> volume = system.volumePath(launched);
    if (volume && system.isDiskImage(*volume)) {
        system.startDetached(QStringLiteral("/bin/sh"), detachArguments(*volume, pidOf(platform)));
        return;
    }
    // The launched copy may be the installed one under another name (a link, "..").
    const QString real = resolvedPath(launched);
    const QString target = resolvedPath(installed);
    if (real == target || target.startsWith(real + QLatin1Char('/')))
        return;
    if (!system.isWritableFolder(QFileInfo(launched).absolutePath()))
        return;
    try {
        system.trash(launched);
    } catch (...) {
        // Best effort: the copy stays where it is.
    }
}

QCoro::Task<> InstallLocation::fail(QString reason, std::function<void()> finished, Platform platform)
{
    Alert alert;
    alert.style = Alert::Style::warning;
    alert.message = L("Couldn’t move Corvane to Applications");
    alert.informative = L("{sentence} {note}",
                          {{"sentence", reason},
                           {"note", L("Drag Corvane to the Applications folder in the file manager, then open it from there.")}});
    alert.buttons = {L("Quit")};
    QCoro::Task<int> answer = alertsOf(platform).run(std::move(alert));
    co_await std::move(answer);
    finished();
}

std::unique_ptr<QWidget> InstallLocation::progressWindow()
{
    auto window = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    window->setWindowTitle(QStringLiteral("Corvane"));
    auto *layout = new QHBoxLayout(window.get());
    layout->setSpacing(10);
    layout->setContentsMargins(24, 20, 24, 20);
    auto *spinner = new Spinner(Spinner::Size::small, window.get());
    auto *label = new QLabel(L("Moving Corvane to Applications…"), window.get());
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(spinner);
    layout->addWidget(label);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    window->adjustSize();
    if (const QScreen *screen = window->screen())
        window->move(screen->availableGeometry().center() - window->rect().center());
    return window;
}

} // namespace cv

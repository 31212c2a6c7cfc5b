#include "platform/launchctl.h"

#include "platform/platform_error.h"
#include "platform/systemd_user.h"

#include <cerrno>

namespace cv {

QCoro::Task<> Launchctl::kickstart(QString target, CancelToken)
{
    QStringList verbs;
    verbs.append(QStringLiteral("kickstart"));
    run(verbs, target, false);
    co_return;
}

QCoro::Task<> Launchctl::stop(QString target)
{
    run({QStringLiteral("kill"), QStringLiteral("SIGTERM")}, target, false);
    co_return;
}

bool Launchctl::told(const QString &, bool) { return true; }

bool Launchctl::startQueued(const QString &) { return false; }

bool Launchctl::stateComing(const QString &) { return false; }

Launchctl::Result SystemdLaunchctl::run(const QStringList &verbs, const QString &target, bool capture)
{
    if (verbs != QStringList{QStringLiteral("print")})
        throw PlatformError::fromErrno(ENOTSUP, verbs.join(QLatin1Char(' ')));
    if (!manager_.present())
        throw PlatformError::fromErrno(ENOENT, QStringLiteral("The user service manager"));
    if (!capture)
        return {};
    const std::optional<QString> state = manager_.activeState(target.section(QLatin1Char('/'), -1));
    if (!state)
        return {113, {}};
    const QString running = *state == QLatin1String("active") ? QStringLiteral("running") : QStringLiteral("not running");
    const QString output = QStringLiteral("%1 = {\n\tactive state = %2\n\tstate = %3\n}\n").arg(target, *state, running);
    return {0, output.toUtf8()};
}

bool SystemdLaunchctl::told(const QString &target, bool ask)
{
    return manager_.activeTold(target.section(QLatin1Char('/'), -1), ask);
}

bool SystemdLaunchctl::startQueued(const QString &target)
{
    return manager_.startQueued(target.section(QLatin1Char('/'), -1));
}

bool SystemdLaunchctl::stateComing(const QString &target)
{
    return manager_.activeComing(target.section(QLatin1Char('/'), -1));
}

QCoro::Task<> SystemdLaunchctl::kickstart(QString target, CancelToken callOff)
{
    if (!manager_.present())
        throw PlatformError::fromErrno(ENOENT, QStringLiteral("The user service manager"));
    QCoro::Task<> starting = manager_.startUnit(target.section(QLatin1Char('/'), -1), callOff);
    co_await std::move(starting);
}

QCoro::Task<> SystemdLaunchctl::stop(QString target)
{
    QCoro::Task<> stopping = manager_.stopUnit(target.section(QLatin1Char('/'), -1));
    co_await std::move(stopping);
}

Launchctl &Launchctl::system()
{
    static SystemdLaunchctl launchctl(SystemdUserManager::session());
    return launchctl;
}

} // namespace cv

#include "platform/launchctl.h"

#include "platform/platform_error.h"
#include "platform/systemd_user.h"

#include <cerrno>

namespace cv {

namespace {

// The manager's answer to what was only sent: nobody waits for it.
QCoro::Task<> unheeded(QCoro::Task<> asking)
{
    try {
        co_await std::move(asking);
    } catch (...) {
    }
}

} // namespace

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

Launchctl::Result SystemdLaunchctl::run(const QStringList &verbs, const QString &target, bool capture)
{
    const QString unit = target.section(QLatin1Char('/'), -1);
    const bool kickstart = verbs == QStringList{QStringLiteral("kickstart")};
    const bool kill = verbs == QStringList{QStringLiteral("kill"), QStringLiteral("SIGTERM")};
    if (!kickstart && !kill && verbs != QStringList{QStringLiteral("print")})
        throw PlatformError::fromErrno(ENOTSUP, verbs.join(QLatin1Char(' ')));
    // A stop goes even to a manager that has not answered lately: it takes its calls in
    // order, so the stop still reaches it after a start it has yet to carry out.
    if (!kill && !manager_.present())
        throw PlatformError::fromErrno(ENOENT, QStringLiteral("The user service manager"));

    // Sent; the manager's answers are not waited for.
    if (kickstart || kill) {
        QCoro::Task<> asking = unheeded(kickstart ? manager_.startUnit(unit) : manager_.stopUnit(unit));
        Q_UNUSED(asking);
        return {};
    }
    if (!capture)
        return {};
    const std::optional<QString> state = manager_.activeState(unit);
    if (!state)
        return {113, {}};
    const QString running = *state == QLatin1String("active") ? QStringLiteral("running") : QStringLiteral("not running");
    const QString output = QStringLiteral("%1 = {\n\tactive state = %2\n\tstate = %3\n}\n").arg(target, *state, running);
    return {0, output.toUtf8()};
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

#include "platform/launchctl.h"

#include "platform/platform_error.h"
#include "platform/systemd_user.h"

#include <cerrno>

namespace cv {

Launchctl::Result SystemdLaunchctl::run(const QStringList &verbs, const QString &target, bool capture)
{
    const QString unit = target.section(QLatin1Char('/'), -1);
    const bool kickstart = verbs == QStringList{QStringLiteral("kickstart")};
    if (!kickstart && verbs != QStringList{QStringLiteral("print")})
        throw PlatformError::fromErrno(ENOTSUP, verbs.join(QLatin1Char(' ')));
    if (!manager_.present())
        throw PlatformError::fromErrno(ENOENT, QStringLiteral("The user service manager"));

    if (kickstart) {
        manager_.startUnit(unit);
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

Launchctl &Launchctl::system()
{
    static SystemdLaunchctl launchctl(SystemdUserManager::session());
    return launchctl;
}

} // namespace cv

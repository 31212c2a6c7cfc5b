#include "platform/launchctl.h"

#include "platform/platform_error.h"

#include <cerrno>

namespace cv {

namespace {

class AbsentLaunchctl final : public Launchctl {
public:
    Result run(const QStringList &, const QString &, bool) override
    {
        throw PlatformError::fromErrno(ENOENT, QStringLiteral("launchctl"));
    }
};

} // namespace

Launchctl &Launchctl::system()
{
    static AbsentLaunchctl launchctl;
    return launchctl;
}

} // namespace cv

#include "fake_child.h"

#include "platform/platform_error.h"

#include <cerrno>

namespace cv::test {

std::unique_ptr<Child> FakeChildLauncher::launch(const QString &program, const QStringList &arguments, int)
{
    if (launchError)
        throw PlatformError(ENOEXEC, *launchError);
    auto state = std::make_shared<FakeChild::State>();
    state->pid = pid_t(4242 + launches.size());
    launches.append({program, arguments, state});
    return std::make_unique<FakeChild>(state);
}

} // namespace cv::test

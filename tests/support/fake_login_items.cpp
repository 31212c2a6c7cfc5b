#include "fake_login_items.h"

#include "platform/platform_error.h"

#include <QCoroSignal>

#include <cerrno>

namespace cv::test {

QCoro::Task<> FakeLoginItem::registerItem()
{
    ++registerCalls;
    if (registerError)
        throw PlatformError(EPERM, *registerError);
    status_ = statusAfterRegister;
    co_return;
}

QCoro::Task<> FakeLoginItem::unregisterItem()
{
    ++unregisterCalls;
    if (holdUnregister) {
        ++unregisterWaiting;
        co_await qCoro(this, &FakeLoginItem::released);
        --unregisterWaiting;
    }
    if (unregisterError)
        throw PlatformError(EPERM, *unregisterError);
    status_ = LoginItemStatus::notRegistered;
}

Launchctl::Result FakeLaunchctl::run(const QStringList &verbs, const QString &target, bool capture)
{
    calls.append({verbs, target, capture});
    if (launchError)
        throw PlatformError(ENOENT, *launchError);
    if (!capture)
        return {};
    return {status, output};
}

} // namespace cv::test

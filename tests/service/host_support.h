#pragma once

// Shared by the service-host and login-agent tests: the fakes a host runs on in an
// installed-looking prefix, made afresh for each case.

#include "fake_child.h"
#include "fake_clock.h"
#include "fake_login_items.h"
#include "outcome.h"
#include "test_files.h"

#include "platform/app_bundle.h"
#include "service/diagnostics.h"
#include "service/service_host.h"

#include <functional>
#include <memory>

namespace cv::test {

inline QString serviceLog() { return Diagnostics::logFolder() + QStringLiteral("/service.log"); }

struct HostWorld : InstalledApp {
    explicit HostWorld(const QDateTime &wall) : clock(1000.0, wall)
    {
        for (const char *name : {"CV_MAC_SERVICE", "CV_MAC_STATE_DIR", "CV_MAC_RUNTIME_DIR", "CV_MAC_MOUNT_ROOT",
                                 "CV_MAC_NFS_HELPER", "CV_STANDIN_DIR"})
            qunsetenv(name);
        // A case may have left a file in the folder's place.
        QDir(Diagnostics::logFolder()).removeRecursively();
        QFile::remove(Diagnostics::logFolder());
    }
    // A path under the prefix.
    QString inPrefix(const QString &path) const { return QFileInfo(executable()).absolutePath() + "/../" + path; }
    AppBundle bundleWith(QMap<QString, QString> info, bool packaged = true) const
    {
        return AppBundle(packaged ? executable() : QStringLiteral("/nowhere/corvane"), info);
    }

    // A host on the fakes, or (`real`) on the platform's launcher and login items.
    ServiceHost &host(bool real = false)
    {
        ServiceHost::Platform platform;
        if (!real) {
            platform.launcher = &launcher;
            platform.loginItems = &items;
            platform.launchctl = &launchctl;
        }
        platform.bundle = &bundle;
        platform.clock = &clock;
        host_ = std::make_unique<ServiceHost>(platform);
        return *host_;
    }
    // The host made last (made now if none was).
    ServiceHost &current() { return host_ ? *host_ : host(); }

    FakeLoginItem &agent() { return *items.agentItem; }
    FakeLoginItem &app() { return *items.appItem; }

    FakeClock clock;
    FakeChildLauncher launcher;
    FakeLoginItemService items;
    FakeLaunchctl launchctl;
    AppBundle bundle = bundleWith(agentInfo());

private:
    std::unique_ptr<ServiceHost> host_;
};

using Setup = std::function<void(HostWorld &)>;

} // namespace cv::test

Q_DECLARE_METATYPE(cv::test::Setup)

#pragma once

// Shared by the service-host and login-agent tests: the fakes a host runs on in an
// installed-looking prefix (<root>/bin/corvane beside <root>/share/corvane, with an
// executable cv-mac-service), made afresh for each case.

#include "fake_child.h"
#include "fake_clock.h"
#include "fake_login_items.h"
#include "outcome.h"
#include "test_files.h"

#include "platform/app_bundle.h"
#include "service/service_host.h"

#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace cv::test {

inline QString serviceLog() { return QDir::homePath() + QStringLiteral("/Library/Logs/Corvane/service.log"); }

struct HostWorld {
    explicit HostWorld(const QDateTime &wall) : clock(1000.0, wall)
    {
        for (const char *name : {"CV_MAC_SERVICE", "CV_MAC_STATE_DIR", "CV_MAC_RUNTIME_DIR", "CV_MAC_MOUNT_ROOT",
                                 "CV_MAC_NFS_HELPER", "CV_STANDIN_DIR"})
            qunsetenv(name);
        QDir(QDir::homePath() + QStringLiteral("/Library")).removeRecursively();
        QDir().mkpath(dir.filePath(QStringLiteral("prefix/share/corvane")));
        writeFile(dir.filePath(QStringLiteral("prefix/bin/corvane")), "");
        writeFile(service(), "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(service(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }

    QString service() const { return dir.filePath(QStringLiteral("prefix/bin/cv-mac-service")); }
    AppBundle bundleWith(QMap<QString, QString> info, bool packaged = true) const
    {
        return AppBundle(packaged ? dir.filePath(QStringLiteral("prefix/bin/corvane")) : QStringLiteral("/nowhere/corvane"), info);
    }
    // The information keys of a build naming its login agent.
    static QMap<QString, QString> agentInfo()
    {
        QMap<QString, QString> info = AppBundle::defaultInfo();
        info.insert(QStringLiteral("CVServiceAgentPlist"), QStringLiteral("app.corvane.Corvane.service.plist"));
        return info;
    }
    AppBundle packaged() const { return bundleWith(agentInfo()); }

    // A host on the fakes, or (`real`) on the platform's launcher and login items;
    // the clock is always the fake one. The bundle is `bundle` as set then.
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

    QTemporaryDir dir;
    FakeClock clock;
    FakeChildLauncher launcher;
    FakeLoginItemService items;
    FakeLaunchctl launchctl;
    AppBundle bundle = packaged();

private:
    std::unique_ptr<ServiceHost> host_;
};

using Setup = std::function<void(HostWorld &)>;

} // namespace cv::test

Q_DECLARE_METATYPE(cv::test::Setup)

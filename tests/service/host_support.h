#pragma once

// Shared by the service-host and login-agent tests: an installed-looking prefix, the
// fake platform pieces a host runs on, and the children a test starts.

#include "fake_child.h"
#include "fake_clock.h"
#include "fake_login_items.h"
#include "outcome.h"
#include "test_files.h"

#include "platform/app_bundle.h"
#include "service/service_host.h"

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <memory>
#include <sys/wait.h>
#include <vector>

namespace cv::test {

inline QString serviceLogFolder() { return QDir::homePath() + QStringLiteral("/Library/Logs/Corvane"); }
inline QString serviceLog() { return serviceLogFolder() + QStringLiteral("/service.log"); }

// An installed-looking prefix (<root>/bin/corvane beside <root>/share/corvane), so
// the bundle counts as packaged, with an executable cv-mac-service beside it.
class InstalledPrefix {
public:
    InstalledPrefix()
    {
        QDir().mkpath(dir_.filePath(QStringLiteral("prefix/share/corvane")));
        writeFile(executable(), "#!/bin/sh\n");
        writeFile(service(), "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(service(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QString executable() const { return dir_.filePath(QStringLiteral("prefix/bin/corvane")); }
    QString service() const { return dir_.filePath(QStringLiteral("prefix/bin/cv-mac-service")); }

    AppBundle bundle(bool agentPlist = true, bool identifier = true) const
    {
        QMap<QString, QString> info = AppBundle::defaultInfo();
        if (agentPlist)
            info.insert(QStringLiteral("CVServiceAgentPlist"), QStringLiteral("app.corvane.Corvane.service.plist"));
        if (!identifier)
            info.remove(QStringLiteral("CFBundleIdentifier"));
        return AppBundle(executable(), info);
    }

private:
    QTemporaryDir dir_;
};

// Waits until `done` says so (polling), at most `ms` milliseconds.
template<typename F>
bool waitUntil(F done, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
    return true;
}

// The fixture of both tests. reset() (from init()) clears the service variables,
// the fakes and the log folder; cleanup() ends, by pid, any child left running.
class HostFixture : public QObject {
protected:
    explicit HostFixture(const QDateTime &wall) : clock_(1000.0, wall) {}

    FakeClock clock_;
    FakeChildLauncher launcher_;
    FakeLoginItemService items_;
    FakeLaunchctl launchctl_;
    InstalledPrefix prefix_;
    const AppBundle packaged_ = prefix_.bundle(true);
    const AppBundle buildTree_{QStringLiteral("/nowhere/bin/corvane"), AppBundle::defaultInfo()};
    std::vector<pid_t> children_;

    FakeLoginItem &agent() { return *items_.agentItem; }
    FakeLoginItem &app() { return *items_.appItem; }

    // A host on the fakes, or (`real`) on the platform's own launcher, login items
    // and launchctl; the clock is always the fake one.
    std::unique_ptr<ServiceHost> makeHost(const AppBundle &bundle, bool real = false)
    {
        ServiceHost::Platform platform;
        if (!real) {
            platform.launcher = &launcher_;
            platform.loginItems = &items_;
            platform.launchctl = &launchctl_;
        }
        platform.bundle = &bundle;
        platform.clock = &clock_;
        return std::make_unique<ServiceHost>(platform);
    }

    static void clearServiceEnvironment()
    {
        for (const char *name : {"CV_MAC_SERVICE", "CV_MAC_STATE_DIR", "CV_MAC_RUNTIME_DIR", "CV_MAC_MOUNT_ROOT",
                                 "CV_MAC_NFS_HELPER", "CV_STANDIN_SCRIPT", "CV_STANDIN_RECORD", "CV_STANDIN_ARGS"})
            qunsetenv(name);
    }

    void reset()
    {
        clearServiceEnvironment();
        launcher_ = FakeChildLauncher();
        items_ = FakeLoginItemService();
        launchctl_ = FakeLaunchctl();
        QDir(QDir::homePath() + QStringLiteral("/Library")).removeRecursively();
    }

    void endChildren()
    {
        for (pid_t pid : children_) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
            }
        }
        children_.clear();
        clearServiceEnvironment();
    }
};

} // namespace cv::test

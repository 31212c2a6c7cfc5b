#include "platform/tool_runner.h"

#include "platform/child_process.h"

#include <QByteArray>

#include <chrono>
#include <thread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace cv {

namespace {

using SteadyClock = std::chrono::steady_clock;

int millisecondsUntil(SteadyClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return left.count() <= 0 ? 0 : int(std::min<long long>(left.count(), 60'000)) + 1;
}

// Collects the exit of an ended child. SIGKILL ends it at once unless it is stuck in
// the kernel; a stuck one is left to a detached waiter so the caller goes on.
void reap(pid_t pid)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const pid_t done = waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::thread([pid] {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

} // namespace

ToolRunner &ToolRunner::system()
{
    static SystemToolRunner runner;
    return runner;
}

SystemToolRunner::SystemToolRunner(double timeoutSeconds) : timeout_(timeoutSeconds) {}

QString SystemToolRunner::run(const QString &path, const QStringList &arguments)
{
    const auto deadline = SteadyClock::now()
        + std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(std::max(timeout_, 0.0)));

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return {};

    const ArgumentVector argv(path, arguments);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Nothing else this process inherited reaches the tool.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    // The tool gets a process group of its own, so ending it also ends whatever it
    // started; signal handling starts from the defaults whatever this process set.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);

    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv.program(), &actions, &attributes, argv.argv(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return {};
    }

    QByteArray output;
    bool timedOut = false;
    for (;;) {
        const int wait = millisecondsUntil(deadline);
        if (wait == 0) {
            timedOut = true;
            break;
        }
        pollfd readable{fds[0], POLLIN, 0};
        const int ready = poll(&readable, 1, wait);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        char buffer[65536];
        const ssize_t count = read(fds[0], buffer, sizeof buffer);
        if (count > 0)
            output.append(buffer, count);
        else if (count == 0 || (errno != EINTR && errno != EAGAIN))
            break;
    }
    close(fds[0]);

    // Standard output is closed; the tool still has until the deadline to exit.
    while (!timedOut) {
        const pid_t done = waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return QString::fromUtf8(output);
        if (millisecondsUntil(deadline) == 0)
            timedOut = true;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    reap(pid);
    return {};
}

} // namespace cv

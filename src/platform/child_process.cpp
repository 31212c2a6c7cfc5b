#include "platform/child_process.h"

#include "platform/platform_error.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace cv {

namespace {

QByteArray readToEnd(int &fd)
{
    QByteArray data;
    if (fd < 0)
        return data;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            data.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    ::close(fd);
    fd = -1;
    return data;
}

// Owns the file actions and attributes of one spawn and the parent's pipe ends.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    std::vector<int> closeAfter; // child's pipe ends, closed in the parent after the spawn
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        for (int fd : closeAfter)
            ::close(fd);
    }
};

} // namespace

ArgumentVector::ArgumentVector(const QString &program, const QStringList &arguments)
{
    storage_.reserve(size_t(arguments.size()) + 1);
    storage_.push_back(QFile::encodeName(program));
    for (const QString &argument : arguments)
        storage_.push_back(argument.toLocal8Bit());
    for (QByteArray &item : storage_)
        pointers_.push_back(item.data());
    pointers_.push_back(nullptr);
}

std::unique_ptr<SpawnedProcess> SpawnedProcess::spawn(const QString &program, const QStringList &arguments,
                                                      const Options &options)
{
    std::unique_ptr<SpawnedProcess> process(new SpawnedProcess);
    SpawnSetup setup;

    // The child starts with default signal handling and nothing blocked, whatever
    // this process changed for itself.
    sigset_t empty;
    sigemptyset(&empty);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    posix_spawnattr_setsigmask(&setup.attributes, &empty);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.ownProcessGroup) {
        posix_spawnattr_setpgroup(&setup.attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&setup.attributes, flags);

    if (options.input == Stream::null)
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    auto route = [&](Stream stream, int target, int descriptor, int &parentEnd) {
        switch (stream) {
        case Stream::inherit:
            break;
        case Stream::null:
            posix_spawn_file_actions_addopen(&setup.actions, target, "/dev/null", O_WRONLY, 0);
            break;
        case Stream::descriptor:
            posix_spawn_file_actions_adddup2(&setup.actions, descriptor, target);
            break;
        case Stream::pipe: {
            int ends[2];
            if (::pipe2(ends, O_CLOEXEC) != 0)
                throw PlatformError::fromErrno(errno, program);
            parentEnd = ends[0];
            setup.closeAfter.push_back(ends[1]);
            posix_spawn_file_actions_adddup2(&setup.actions, ends[1], target);
            break;
        }
        }
    };
    route(options.output, STDOUT_FILENO, options.outputDescriptor, process->outputPipe_);
    route(options.error, STDERR_FILENO, options.errorDescriptor, process->errorPipe_);
    // The child gets standard input, output and error only. Anything else this
    // process inherited without close-on-exec (a launcher's pipe, say) would stay open
    // in a long-lived child and could keep that launcher waiting.
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);

    const ArgumentVector argv(program, arguments);
    pid_t pid = -1;
    const int result = ::posix_spawn(&pid, argv.program(), &setup.actions, &setup.attributes, argv.argv(), environ);
    if (result != 0)
        throw PlatformError::fromErrno(result, program);
    process->pid_ = pid;
    return process;
}

SpawnedProcess::~SpawnedProcess()
{
    // The child keeps running; only our pipe ends are closed.
    if (outputPipe_ >= 0)
        ::close(outputPipe_);
    if (errorPipe_ >= 0)
        ::close(errorPipe_);
}

void SpawnedProcess::record(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        status_ = WEXITSTATUS(waitStatus);
    else if (WIFSIGNALED(waitStatus))
        status_ = WTERMSIG(waitStatus);
}

void SpawnedProcess::terminate()
{
    if (running())
        ::kill(pid_, SIGTERM);
}

bool SpawnedProcess::running()
{
    if (status_ || pid_ <= 0)
        return false;
    int waitStatus = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &waitStatus, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == pid_) {
        record(waitStatus);
        return !status_;
    }
    if (result < 0) {
        // Someone else reaped it: it has ended, how is unknown.
        status_ = -1;
        return false;
    }
    return true;
}

std::optional<int> SpawnedProcess::terminationStatus()
{
    if (running())
        return std::nullopt;
    return status_;
}

QByteArray SpawnedProcess::readOutputToEnd() { return readToEnd(outputPipe_); }
QByteArray SpawnedProcess::readErrorToEnd() { return readToEnd(errorPipe_); }

int SpawnedProcess::wait()
{
    while (!status_ && pid_ > 0) {
        int waitStatus = 0;
        const pid_t result = ::waitpid(pid_, &waitStatus, 0);
        if (result == pid_) {
            record(waitStatus);
        } else if (result < 0 && errno != EINTR) {
            status_ = -1;
        }
    }
    return status_.value_or(-1);
}

namespace {

class SystemChildLauncher final : public ChildLauncher {
public:
    std::unique_ptr<Child> launch(const QString &program, const QStringList &arguments,
                                  int outputDescriptor) override
    {
        SpawnedProcess::Options options;
        options.input = SpawnedProcess::Stream::null;
        options.output = SpawnedProcess::Stream::descriptor;
        options.error = SpawnedProcess::Stream::descriptor;
        options.outputDescriptor = outputDescriptor;
        options.errorDescriptor = outputDescriptor;
        options.ownProcessGroup = true;
        return SpawnedProcess::spawn(program, arguments, options);
    }
};

} // namespace

ChildLauncher &ChildLauncher::system()
{
    static SystemChildLauncher launcher;
    return launcher;
}

} // namespace cv

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

#include <sys/types.h>

namespace cv {

// A program path and its arguments as the argument vector of posix_spawn: encoded
// for the file system, ending with a null pointer, valid as long as this object.
class ArgumentVector {
public:
    ArgumentVector(const QString &program, const QStringList &arguments);
    ArgumentVector(const ArgumentVector &) = delete;
    ArgumentVector &operator=(const ArgumentVector &) = delete;

    const char *program() const { return pointers_.front(); }
    char *const *argv() const { return pointers_.data(); }

private:
    std::vector<QByteArray> storage_;
    std::vector<char *> pointers_;
};

// A process this application started. It is signalled only through terminate(), and
// never when this object goes away; whether it still runs is learned by waiting for
// its own pid only, without blocking.
class Child {
public:
    virtual ~Child() = default;

    virtual pid_t pid() const = 0;
    // False once the process has ended (it is then reaped).
    virtual bool running() = 0;
    // Once it has ended: its exit status, or the number of the signal that ended it.
    // Before that, none.
    virtual std::optional<int> terminationStatus() = 0;
    // Asks it to end (SIGTERM) while it has not been reaped.
    virtual void terminate() = 0;
};

// A real child process started with posix_spawn. The application's environment is
// inherited.
class SpawnedProcess final : public Child {
public:
    // Where one of the child's standard streams goes.
    enum class Stream {
        inherit,   // the application's own
        null,      // /dev/null
        pipe,      // a pipe whose other end this object reads (output and error only)
        descriptor // a descriptor of this process, duplicated into the child
    };

    struct Options {
        Stream input = Stream::inherit;
        Stream output = Stream::inherit;
        Stream error = Stream::inherit;
        int outputDescriptor = -1; // for Stream::descriptor
        int errorDescriptor = -1;  // for Stream::descriptor
        // In a process group of its own, so a terminal's Ctrl+C (sent to the whole
        // foreground group) reaches this application and not the child.
        bool ownProcessGroup = false;
    };

    // Starts `program` (a path; no search) with `arguments`. Throws PlatformError
    // when it cannot be started (missing, not executable, no resources).
    static std::unique_ptr<SpawnedProcess> spawn(const QString &program, const QStringList &arguments,
                                                 const Options &options);

    ~SpawnedProcess() override;

    pid_t pid() const override { return pid_; }
    bool running() override;
    std::optional<int> terminationStatus() override;
    void terminate() override;

    // Reads the output or error pipe to its end (blocking).
    QByteArray readOutputToEnd();
    QByteArray readErrorToEnd();
    // Blocks until the process ends; returns its termination status.
    int wait();

private:
    SpawnedProcess() = default;
    void record(int waitStatus);

    pid_t pid_ = -1;
    int outputPipe_ = -1;
    int errorPipe_ = -1;
    std::optional<int> status_;
};

// Starts the background service as a child: standard input from /dev/null,
// standard output and error both to `outputDescriptor` (an open file of the
// caller, which it may close afterwards), the environment inherited, in a process
// group of its own (the application stops it cleanly when it is interrupted).
class ChildLauncher {
public:
    virtual ~ChildLauncher() = default;
    // Throws PlatformError when the program cannot be started.
    virtual std::unique_ptr<Child> launch(const QString &program, const QStringList &arguments,
                                          int outputDescriptor) = 0;

    static ChildLauncher &system();
};

} // namespace cv

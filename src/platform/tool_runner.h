#pragma once

#include <QString>
#include <QStringList>

namespace cv {

// Runs a system tool and hands back what it wrote to standard output. Used by the
// probes, which run on a worker pool: implementations must be safe to call from
// several threads at once.
class ToolRunner {
public:
    virtual ~ToolRunner() = default;

    // Runs `path` with `arguments` and waits for it. Standard output is returned
    // decoded as UTF-8 (invalid bytes replaced); standard error goes to the null
    // device; the exit status is not looked at. A tool that cannot be started gives
    // the empty text. Blocking.
    virtual QString run(const QString &path, const QStringList &arguments) = 0;

    // The process-wide runner with the default time bound.
    static ToolRunner &system();
};

// Runs tools as child processes, each run bounded in time: a tool still running
// when the bound is reached is ended (with everything it started) and its output
// counts as empty, so a hung tool never holds up its caller for longer than that.
class SystemToolRunner final : public ToolRunner {
public:
    static constexpr double defaultTimeout = 10.0;

    explicit SystemToolRunner(double timeoutSeconds = defaultTimeout);

    QString run(const QString &path, const QStringList &arguments) override;

    double timeout() const { return timeout_; }

private:
    double timeout_;
};

} // namespace cv

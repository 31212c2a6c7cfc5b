#pragma once

#include "platform/child_process.h"
#include "platform/platform_error.h"

#include <QList>

#include <cerrno>
#include <csignal>
#include <memory>

namespace cv::test {

// A child whose state the test sets through the shared `State`.
class FakeChild final : public Child {
public:
    struct State {
        pid_t pid = 4242;
        bool running = true;
        int status = 0;
        bool terminated = false;
    };

    explicit FakeChild(std::shared_ptr<State> state) : state_(std::move(state)) {}
    pid_t pid() const override { return state_->pid; }
    bool running() override { return state_->running; }
    std::optional<int> terminationStatus() override { return state_->running ? std::nullopt : std::optional(state_->status); }
    // It ends at once.
    void terminate() override
    {
        if (state_->running)
            state_->terminated = true, state_->running = false, state_->status = SIGTERM;
    }

private:
    std::shared_ptr<State> state_;
};

// Records every launch and hands out fake children, or fails with `launchError`.
class FakeChildLauncher final : public ChildLauncher {
public:
    struct Launch {
        QString program;
        QStringList arguments;
        std::shared_ptr<FakeChild::State> state;
    };

    std::unique_ptr<Child> launch(const QString &program, const QStringList &arguments, int) override
    {
        if (launchError)
            throw PlatformError(ENOEXEC, *launchError);
        auto state = std::make_shared<FakeChild::State>(FakeChild::State{.pid = pid_t(4242 + launches.size())});
        launches.append({program, arguments, state});
        return std::make_unique<FakeChild>(state);
    }

    QList<Launch> launches;
    std::optional<QString> launchError;
};

} // namespace cv::test

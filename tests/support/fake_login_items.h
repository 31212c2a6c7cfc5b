#pragma once

#include "platform/launchctl.h"
#include "platform/login_items.h"
#include "platform/platform_error.h"

#include <QCoroSignal>

#include <QList>
#include <QObject>

#include <cerrno>
#include <coroutine>
#include <memory>
#include <optional>
#include <utility>

namespace cv::test {

// A login item with a scripted status. Registering makes it `statusAfterRegister`,
// unregistering makes it notRegistered, unless an error is scripted. With
// `holdUnregister`, an unregistering waits until release() is called.
class FakeLoginItem final : public QObject, public LoginItem {
    Q_OBJECT
public:
    explicit FakeLoginItem(LoginItemStatus status = LoginItemStatus::notRegistered) : status_(status) {}

    LoginItemStatus status() override { return status_; }
    QCoro::Task<> registerItem() override
    {
        ++registerCalls;
        if (registerError)
            throw PlatformError(EPERM, *registerError);
        status_ = statusAfterRegister;
        co_return;
    }
    QCoro::Task<> unregisterItem(CancelToken, CancelToken) override
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

    void setStatus(LoginItemStatus status) { status_ = status; }

    // Lets every held unregistering finish.
    void release() { emit released(); }

    LoginItemStatus statusAfterRegister = LoginItemStatus::enabled;
    std::optional<QString> registerError;
    std::optional<QString> unregisterError;
    bool holdUnregister = false;

    int registerCalls = 0;
    int unregisterCalls = 0;
    int unregisterWaiting = 0;

signals:
    void released();

private:
    LoginItemStatus status_;
};

// A login-item registry with one agent (for any plist name) and the application's
// own item.
class FakeLoginItemService final : public LoginItemService {
public:
    std::shared_ptr<LoginItem> agent(const QString &plistName) override
    {
        plistNames << plistName;
        return agentItem;
    }
    std::shared_ptr<LoginItem> mainApp() override { return appItem; }
    void openSettings() override {}

    std::shared_ptr<FakeLoginItem> agentItem = std::make_shared<FakeLoginItem>();
    std::shared_ptr<FakeLoginItem> appItem = std::make_shared<FakeLoginItem>();
    QStringList plistNames;
};

// A launchctl that records its calls and answers from a script.
class FakeLaunchctl final : public Launchctl {
public:
    struct Call {
        QStringList verbs;
        QString target;
        bool capture;
    };

    Result run(const QStringList &verbs, const QString &target, bool capture) override
    {
        calls.append({verbs, target, capture});
        if (launchError)
            throw PlatformError(ENOENT, *launchError);
        return capture ? Result{status, output} : Result{};
    }

    // Recorded as "kickstart"; answered at once with `kickstartError` as the manager's
    // refusal, or (`kickstartHeld`: a manager busy elsewhere) only by answerHeld().
    QCoro::Task<> kickstart(QString target, CancelToken = {}) override
    {
        QStringList verbs;
        verbs.append(QStringLiteral("kickstart"));
        run(verbs, target, false);
        std::optional<QString> refusal = kickstartError;
        if (kickstartHeld) {
            // Resumed only by answerHeld(), so never once the fake is gone.
            co_await Held{held_};
            refusal = heldRefusal_;
        }
        if (refusal)
            throw PlatformError(EIO, *refusal);
    }

    // Answers the kickstarts held so far at once, refused with `refusal` when set.
    void answerHeld(std::optional<QString> refusal)
    {
        heldRefusal_ = std::move(refusal);
        const QList<std::coroutine_handle<>> held = std::exchange(held_, {});
        for (const std::coroutine_handle<> handle : held)
            handle.resume();
    }

    QList<Call> calls;
    // When set, the launch fails with this text.
    std::optional<QString> launchError;
    bool kickstartHeld = false;
    std::optional<QString> kickstartError;
    // What "print" (any captured run) answers.
    int status = 0;
    QByteArray output;

private:
    struct Held {
        QList<std::coroutine_handle<>> &waiting;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) { waiting.append(handle); }
        void await_resume() const noexcept {}
    };
    QList<std::coroutine_handle<>> held_;
    std::optional<QString> heldRefusal_;
};

} // namespace cv::test

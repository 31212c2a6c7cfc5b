// Quitting: the quit request, the termination handshake with its drain.

#include "app/app_delegate.h"

#include "app/status_menu.h"
#include "platform/development_log.h"
#include "service/service_host.h"

#include <QCoroTimer>
#include <QMessageBox>
#include <QTimer>

namespace cv {

namespace {

QString flag(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

void AppDelegate::requestQuit()
{
    if (terminationScheduled || terminationInFlight)
        return;
    terminationScheduled = true;
    // On a later turn, outside any menu that is still tracking.
    QTimer::singleShot(0, this, &AppDelegate::terminateFromRunLoop);
}

void AppDelegate::terminateFromRunLoop()
{
    terminationScheduled = false;
    developmentLog(QStringLiteral("requesting ordinary NSApp.terminate from run-loop selector"));
    runtime_->terminate();
}

TerminateReply AppDelegate::applicationShouldTerminate()
{
    developmentLog(QStringLiteral("applicationShouldTerminate received; terminationInFlight=") + flag(terminationInFlight));
    if (terminationInFlight)
        return TerminateReply::cancel;
    // The development modes never started the service, so there is nothing to stop;
    // asking it to quit would stop the user's real service.
    if (leavingQuietly || installing || developmentMode_)
        return TerminateReply::now;
    terminationInFlight = true;
    drain(this);
    return TerminateReply::later;
}

QCoro::Task<> AppDelegate::drain(QPointer<AppDelegate> self)
{
    // The runtime holds the termination only once this answer has reached it.
    QCoro::Task<> hop = QCoro::sleepFor(std::chrono::milliseconds(0));
    co_await std::move(hop);
    if (!self)
        co_return;
    developmentLog(QStringLiteral("AppDelegate drain task started"));
    // A signal is never refused (the system is ending the application); Quit is, with
    // the reason on a sheet. A signal that came while a Quit drained ends it all the
    // same.
    QCoro::Task<bool> quitting = self->model->quit(self->runtime_ && self->runtime_->signalled());
    bool allow = co_await std::move(quitting);
    if (!self)
        co_return;
    if (!allow && self->runtime_ && self->runtime_->signalled()) {
        QCoro::Task<bool> again = self->model->quit(true);
        allow = co_await std::move(again);
        if (!self)
            co_return;
    }
    self->terminationInFlight = false;
    developmentLog(QStringLiteral("controller Quit completed; replying to AppKit allowTermination=") + flag(allow));
    if (self->runtime_)
        self->runtime_->replyToApplicationShouldTerminate(allow);
    // The refusal's text reached pendingError through the error subscription; the
    // sheet may show now that the drain is over.
    if (!allow)
        QTimer::singleShot(0, self, &AppDelegate::showPendingError);
}

void AppDelegate::applicationWillTerminate()
{
    developmentLog(QStringLiteral("applicationWillTerminate"));
}

bool AppDelegate::idleLeaveArmable() const
{
    // The status item counts as well as the setting: turning the setting off removes
    // the item only on a later turn.
    return model->host().agentManaged() && !model->showInMenuBar() && !(statusMenu && statusMenu->statusItem())
        && !terminationInFlight;
}

void AppDelegate::considerLeaving()
{
    if (idleCheck || !idleLeaveArmable())
        return;
    idleCheck = idleLeave(this);
    // A check that already ended (a clock that never waits) must not block the next.
    if (idleCheck->isReady())
        idleCheck.reset();
}

QCoro::Task<> AppDelegate::idleLeave(QPointer<AppDelegate> self)
{
    // A cancelled sleep counts as a finished one: the checks below decide.
    QCoro::Task<bool> pause = self->model->clock().sleep(5.0);
    co_await std::move(pause);
    if (!self)
        co_return;
    // Dropping the handle of a running task is safe: the task frees itself when it ends.
    self->idleCheck.reset();
    // A quit that is queued or draining decides on its own; leaving here would end
    // the application later without stopping the service.
    const bool leave = self->idleLeaveArmable() && !self->terminationScheduled && self->visibleWindows().isEmpty()
        && !self->model->hasPendingNotices() && !self->errorAlert && !self->pendingError && !self->model->mutating();
    if (!leave)
        co_return;
    developmentLog(QStringLiteral("nothing on screen: leaving; the service keeps running"));
    self->leavingQuietly = true;
    self->runtime_->terminate();
}

} // namespace cv

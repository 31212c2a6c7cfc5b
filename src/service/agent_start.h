#pragma once

#include "platform/clock.h"
#include "platform/lifetime.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <exception>

namespace cv {

class Launchctl;

// The start of the login agent's service that this application last asked of the
// service manager, from the asking to the manager's answer, and its call-off. The one
// place of the rule that keeps one owner of the service at every moment: a start that
// was called off is never asked again and its late answer counts for nothing; the
// call-off goes to the manager in order after the start, and one that finds the
// manager away reaches the next manager when it is there. Main thread only.
class AgentStart final : public QObject {
    Q_OBJECT

public:
    explicit AgentStart(Launchctl &launchctl, QObject *parent = nullptr);
    ~AgentStart() override;

    // Asks the manager to start the service of `target` and follows its answer; a
    // manager that cannot be asked counts as a refusal.
    void begin(const QString &target);
    // Calls off the start asked and not refused, if any: the manager is told to stop
    // the service. settled() is false until it has taken that on or is gone.
    void callOff(const QString &target);

    // Quitting: the start asked, if it waits for a manager that is away, is not sent
    // again to the one that comes back; it still counts as asked, so that calling it
    // off reaches that manager.
    void holdBack();

    // Completes once the start begun last is taken on; throws the manager's refusal
    // (a start that ran out of time included), or ECANCELED when it was called off.
    QCoro::Task<> answer();

    // Asked and not answered yet (or not answered in time: the manager may still carry
    // it out).
    bool pending() const { return state_ == State::pending; }
    // Asked and not refused: the manager may run the service because of it.
    bool asked() const { return state_ == State::pending || state_ == State::accepted; }
    // The manager's refusal of the start, or null.
    std::exception_ptr failure() const { return state_ == State::refused ? failure_ : nullptr; }
    // No call-off is under way.
    bool settled() const { return callingOff_ == 0; }

signals:
    // A call-off was settled.
    void callOffSettled();
    // The start begun last was answered or called off.
    void answered();

private:
    enum class State { none, pending, accepted, refused };
    // Begins a new start or call-off: whatever was followed before has no say.
    int nextTicket();
    // Leaves nothing asked.
    void forget();

    Launchctl &launchctl_;
    State state_ = State::none;
    std::exception_ptr failure_;
    int ticket_ = 0;
    CancelToken callOff_;
    int callingOff_ = 0;
    bool awaiting_ = false; // the start begun last has had no answer
    bool heldBack_ = false;
    Lifetime lifetime_;
};

} // namespace cv

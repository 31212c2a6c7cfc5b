#pragma once

#include <QStringList>

#include <memory>

class QThread;

namespace cv::test {

// The per-user systemd manager for tests, owning org.freedesktop.systemd1 on the
// session bus (cv_add_test(... DBUS)) through its own connection and thread. It refuses
// unknown methods and, with InvalidArgs, any call whose whole signature is not the
// method's. Linking makes a unit file "linked" (a known one only when forced), enabling
// "enabled" (not a masked one), each "-runtime" when asked; disabling removes a linked
// or enabled file; starting makes the unit "active", stopping a loaded one "inactive",
// resetting turns "failed" into "inactive". Once subscribed to, it signals UnitFilesChanged and the unit's
// PropertiesChanged, the test's own changes included. It records each call that
// changes something as "Method arg…" (lists spread, booleans as true/false).
class FakeSystemdManager {
public:
    FakeSystemdManager();
    ~FakeSystemdManager();

    // Takes the manager's name on the session bus. False when there is no bus.
    bool start();
    // Leaves the bus as a manager that exits does: what it has answered reaches the bus
    // first, then its name loses its owner and every question still pending (held and
    // caught ones included) is answered by the bus with NoReply, before it returns.
    // start() brings it back, answering at once, without subscribers, with the unit
    // states it had. `keepTaken`: it restarts instead, as one that keeps its queued
    // jobs does: the calls held by catchCall() or defer() are carried out first when
    // start() brings it back (their answers are lost all the same).
    void stop(bool keepTaken = false);

    // "" for none.
    void setUnitFileState(const QString &unit, const QString &state);
    void setActiveState(const QString &unit, const QString &state);
    // The next `count` starts of `unit` are taken on, and its service fails at once
    // ("failed"), as one that cannot run does.
    void breakStarts(const QString &unit, int count);

    // `method` (if any) answers with the error `name` and `message`; with an empty
    // name it does not answer at all (a hung manager).
    void fail(const QString &method, const QString &name = {}, const QString &message = {});
    // The calls a hung manager left unanswered run out of time now: their callers get
    // the bus's NoReply, as when their own bound passes, but at the moment the case
    // chooses rather than after some real time that load may stretch. Returns how
    // many there were.
    int expire();
    // Holds the answers back, or sends the held ones (false); returns the methods whose
    // answers are held, in order.
    QStringList hold(bool on);
    // Answers `method` (empty: every method without a delay of its own) `ms` real
    // milliseconds late; what it changes is changed at once. An answer still waiting
    // when the manager leaves the bus is lost with it.
    void delay(const QString &method, int ms);

    // Holds each call of `method` unprocessed (a manager busy elsewhere), and every
    // call that changes something after it (the manager takes those in order); reads
    // are answered meanwhile. release() processes and answers the held calls in order
    // and returns their methods; stop() drops them (the bus answers them).
    void defer(const QString &method);
    QStringList release();

    // Takes every call in order, one at a time, each the next of `turnsMs`
    // milliseconds after the one before it (a new list from its start, round again at
    // its end) on the time tell() gives: what it changes changes only then, and a call
    // still waiting when the manager leaves the bus is never carried out. A unit's
    // ActiveState set meanwhile is signalled at the next tell().
    void pace(const QList<int> &turnsMs);
    // Bounds, on the time tell() gives, how long a caller waits for the answer to a
    // question (GetUnitFileState, GetUnit, Get, Subscribe) and to any other call, as
    // the caller's own bus does (0: no bound): a call still waiting its turn, or held
    // by catchCall() or defer(), when its bound has passed since it came is answered
    // with the bus's NoReply; it is still carried out at its turn or release, and
    // its own answer is lost.
    void bound(int answerMs, int changeMs);
    // The manager's time for pace(), in milliseconds: it stands until told again. The
    // turns due by then are taken before it returns.
    void tell(qint64 ms);
    // The next time tell() would have something to do: a turn, a bound, a signal
    // (the largest qint64: nothing).
    qint64 nextMoment() const;
    // Holds the `nth` call of `method` ("*": of any method that changes something)
    // from now on (with `after`: counted from the first call of that method taken on
    // from now on), at its turn, unprocessed as defer() holds it, with every change
    // after it; caught() tells when it came, release() or refuse() lets it go. An
    // empty method disarms.
    void catchCall(const QString &method, int nth = 1, const QString &after = {});
    bool caught() const;
    // Answers the caught call with the error `name` and `message`, and processes what
    // waited behind it as release() does.
    void refuse(const QString &name, const QString &message);
    // Ends what fail() scripted for `method`.
    void pass(const QString &method);
    // What the manager holds now ("" for none).
    QString unitFileState(const QString &unit) const;
    QString activeState(const QString &unit) const;

    QStringList calls() const;
    // The method of every call received, reads and refused calls included, in order.
    QStringList received() const;
    // The method of every call as it reached the manager, before it waits its turn, in
    // order; a call of a method the manager does not have (refused at once) included,
    // so a test can place its own call among the application's.
    QStringList arrivals() const;

    class Handler;

private:
    std::unique_ptr<QThread> thread_;
    Handler *handler_ = nullptr;
};

} // namespace cv::test

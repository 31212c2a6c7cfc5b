#pragma once

#include "platform/clock.h"
#include "platform/lifetime.h"
#include "platform/platform_error.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>

#include <exception>
#include <map>
#include <optional>

namespace cv {

class Clock;

// How long the per-user systemd manager is waited for (see SystemdUserManager).
struct SystemdTimeouts {
    int answerMs = -1; // the bus's own limit for a call (25 s)
    int changeMs = 15000;
    double quietSeconds = 30;
};

// The per-user systemd manager ("systemd --user"), reached as org.freedesktop.systemd1
// on the session bus. Nothing here ever waits on the manager: the readers return the
// last answer kept, questions are asked in the background, and the kept answers follow
// the manager through its signals (its name's owner, UnitFilesChanged once subscribed,
// the unit's PropertiesChanged). `changed` tells when a kept answer changes.
//
// Every call is bounded in time: a question waits at most `answerMs`, a change at most
// `changeMs`. A slow answer is still an answer, kept when it comes: it is the decisions
// that depend on one that bound their wait, not the questions. A manager that let a
// call run out of time counts as absent for `quietSeconds` (on the clock; `changed`
// tells when that ends) or until another manager takes its name, and a question that
// failed is asked again only after that long. A manager that leaves the bus while a
// call waits (it restarts) did not run out of time: what it was asked is asked again
// when it is back. The first answer about a unit counts as a change.
// Failures are thrown as PlatformError with the manager's own message, or saying that
// the manager restarted (ECONNRESET) or is not answering (ETIMEDOUT). Main thread only.
class SystemdUserManager : public QObject {
    Q_OBJECT

public:
    using Timeouts = SystemdTimeouts;

    explicit SystemdUserManager(QDBusConnection bus, Timeouts timeouts = {}, Clock *clock = nullptr);
    ~SystemdUserManager() override;

    // The manager of this session's bus, connected at its first use.
    static SystemdUserManager &session();

    // A manager owns its name on the bus and has not failed to answer lately (one that
    // is being asked and has not answered yet is present); false until the bus has told.
    bool present();

    // The manager has told the unit file's state at least once (asked now if it never
    // was). That is all a decision about the unit needs; the unit's ActiveState may
    // come a little later.
    bool knows(const QString &unit);
    // What present() and knows() say about the unit is settled: the manager answered
    // about it, the bus told that no manager runs, or the manager let a question run
    // out of time. Not while the first answer is awaited, nor while a manager that was
    // there is away (it may be restarting). `changed` follows when it becomes so.
    bool told(const QString &unit);
    // A manager owns the name but is not answering: it let a call run out of time
    // lately, or the last question about the unit did.
    bool silent(const QString &unit);
    // The unit file's state ("enabled", "disabled", "masked", "linked", ...), or none
    // when the manager knows no unit file of that name or has not answered yet. Throws
    // the failure of the last question.
    std::optional<QString> unitFileState(const QString &unit);
    // The loaded unit's ActiveState ("active", "inactive", "failed", ...), or none
    // when the unit is not loaded or the manager has not answered yet. Throws as above.
    std::optional<QString> activeState(const QString &unit);
    // What activeState() reports is the present manager's word since the last start
    // of the unit it took on: a manager that came back (it restarted) or a start it
    // just took on leave the kept state stale until the unit is read again, and a
    // start it has yet to answer may change it at any moment. Asked now when it is
    // not (and not being asked), unless a start is awaited or `ask` is false.
    bool activeTold(const QString &unit, bool ask = true);
    // A start of the unit was asked and the manager has yet to come to it: it takes its
    // calls in order, and has not answered the one sent just before the start.
    bool startQueued(const QString &unit);
    // The manager, there, is reading the unit afresh (activeTold() is false until that
    // read is kept) and has yet to answer. Asks nothing.
    bool activeComing(const QString &unit);

    // Completes once every question asked so far is answered (or ran out of time).
    QCoro::Task<> answered();

    // Links the unit file at `path` into the user's unit folder (replacing a stale
    // link of the same name, never a mask), enables it and reloads the manager; the
    // unit file's state is read afresh before it completes (its ActiveState follows).
    // A link whose enable failed (or was cut off by a restart) is taken back; when that
    // cannot be done, the error says that the unit is still linked. Once `stop` is
    // cancelled, no further step begins (ECANCELED); a link made already is left for
    // the next launch to undo.
    // Once `hurry` is cancelled, the manager is neither reloaded nor read afresh: the
    // unit is enabled on disk, and the manager takes it on at its next start.
    QCoro::Task<> linkAndEnable(QString path, CancelToken stop = {}, CancelToken hurry = {});
    // Disables the unit, which also removes the link, and reloads the manager; read
    // afresh as above. Once `stop` is cancelled, no further step begins (ECANCELED)
    // and the re-read is not waited for. Once `hurry` is cancelled, the manager is
    // neither reloaded nor read afresh: a registration that follows at once does both.
    QCoro::Task<> disable(QString unit, CancelToken stop = {}, CancelToken hurry = {});
    // Asks the manager to start the unit, after clearing a failed state (a unit that
    // failed too often in a row is refused until then) unless the unit is known not
    // to be failed; a read of the unit under way is let finish first to know that
    // (the manager answers it before the start all the same). Completes once the manager
    // has taken the start on (queued its job); throws its refusal. A manager that
    // leaves the bus while the start waits (it restarts) is asked again once it is
    // back, if it is back within the change time-out (on the clock), unless `callOff`
    // was cancelled meanwhile: a start called off is never sent again (it then throws
    // ECANCELED).
    QCoro::Task<> startUnit(QString unit, CancelToken callOff = {});
    // Asks the manager to stop the unit; a start it has not carried out yet is
    // replaced, so the unit does not come up. Completes once the manager has taken
    // the stop on; throws its refusal (a unit it has not loaded is already stopped).
    // A manager that is away (or leaves before it answers) carries out nothing now:
    // the stop is sent to the next manager as soon as it is there, before anything
    // asked later, unless a start of the unit is asked first. It completes then, or
    // once the change time-out has passed (on the clock) without a manager coming
    // back, or at once when no manager was ever seen.
    QCoro::Task<> stopUnit(QString unit);

signals:
    void changed();
    void settled();
    // A read of a unit ended, its ActiveState kept or not.
    void readEnded();
    // The manager answered a question (any), or came on the bus: a manager that takes
    // its calls one at a time is at work even while the answer someone waits for is
    // still queued.
    void heard();

private slots:
    void unitPropertiesChanged(const QDBusMessage &signal);
    void unitFilesChanged();

private:
    // One answer about a unit: a value, none, or the failure of the question.
    struct Answer {
        std::optional<QString> value;
        std::optional<PlatformError> failure;
    };
    struct Snapshot {
        Answer file;   // the unit file's state
        Answer active; // the loaded unit's ActiveState
    };
    struct Unit {
        QString path;
        Snapshot kept;
        int asked = 0;      // reads started
        int fileRead = 0;   // the latest read whose unit file state is kept
        int activeRead = 0; // the latest read whose ActiveState is kept
        int freshFrom = 1;  // the first read whose ActiveState is told (activeTold)
        int reading = 0;    // reads under way
        int fileAwaited = 0; // of those, the ones whose unit file state has not come yet
        int changing = 0;   // changes under way, each read afresh once its last call is answered
        int starting = 0;   // starts asked and not answered yet
        bool readAgain = false; // it changed while a read was under way (readOnChange)
        bool owed = false;  // it changed while a change was under way
        int startsQueued = 0;   // starts sent whose turn has not come (startQueued)
        double retryAt = 0;
    };

    SystemdUserManager();
    QDBusConnection &bus();
    QDBusMessage managerCall(const QString &method) const;
    void follow();
    Unit &entryFor(const QString &name);
    void setOwner(bool present);
    QCoro::Task<> endQuiet(double until);
    const Snapshot &kept(const QString &unit);
    QCoro::Task<QDBusMessage> ask(QDBusMessage message, int timeoutMs);
    QCoro::Task<> askOwner();
    QCoro::Task<Answer> readFileState(QString unit);
    QCoro::Task<Answer> readActiveState(QString unit);
    bool keep(Unit &entry, int &read, Answer &kept, Answer next, int ticket, int owner);
    QCoro::Task<> refresh(QString unit);
    QCoro::Task<> keepActive(QString unit, QCoro::Task<Answer> reading, int ticket, int owner);
    // Waits while a read of the unit is under way, at most until `until` (on the
    // clock) or `callOff`.
    QCoro::Task<> readsEnded(QString unit, double until, CancelToken callOff);
    // The unit's kept ActiveState says that it has not failed.
    bool knownNotFailed(const QString &unit);
    // Reads the unit again, its kept ActiveState untold until that read is kept.
    void reread(const QString &unit);
    void readOnChange(const QString &unit);
    QCoro::Task<> reloadAndReread(QString unit, QCoro::Task<> changing, CancelToken stop = {}, CancelToken hurry = {});
    QCoro::Task<> linkAndEnableFile(QString path, QString unit, CancelToken stop);
    QCoro::Task<> unlink(QString unit, int owner, bool lost);
    QCoro::Task<bool> backAfter(int owner, CancelToken callOff = {});
    QCoro::Task<> oweStop(QString unit, int owner);
    QCoro::Task<> change(QDBusMessage message);
    QCoro::Task<QDBusMessage> send(QDBusMessage message);
    void done();

    std::optional<QDBusConnection> bus_;
    Timeouts timeouts_;
    Clock *clock_;
    double quietUntil_ = -1;
    bool following_ = false;
    bool owned_ = false;
    bool ownerTold_ = false; // the bus has said whether the name has an owner
    bool ownerSeen_ = false; // it had one at some time
    int ownerChanges_ = 0;
    int asking_ = 0;
    std::map<QString, Unit> units_;
    // Stops owed to the next manager (stopUnit).
    QStringList owedStops_;
    // Ends first thing in the destructor: an answer that comes later is dropped.
    Lifetime lifetime_;
};

} // namespace cv

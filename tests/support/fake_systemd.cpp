#include "fake_systemd.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFileInfo>
#include <QMap>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>

#include <limits>
#include <utility>

namespace cv::test {

namespace {

const QString managerName = QStringLiteral("org.freedesktop.systemd1");
const QString managerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString unitPrefix = QStringLiteral("/org/freedesktop/systemd1/unit/");
const QString manager = QStringLiteral("org.freedesktop.systemd1.Manager.");
const QString properties = QStringLiteral("org.freedesktop.DBus.Properties.");

// The methods the manager offers, by interface and name, with their signatures.
const QMap<QString, QString> signatures{
    {manager + "GetUnitFileState", "s"}, {manager + "GetUnit", "s"},         {manager + "LinkUnitFiles", "asbb"},
    {manager + "EnableUnitFiles", "asbb"}, {manager + "DisableUnitFiles", "asb"}, {manager + "StartUnit", "ss"},
    {manager + "ResetFailedUnit", "s"},  {manager + "Reload", ""},           {manager + "Subscribe", ""},
    {manager + "StopUnit", "ss"},
    {properties + "Get", "ss"},
};
// Calls that change nothing (a subscription only changes what is signalled).
const QStringList reads{"GetUnitFileState", "GetUnit", "Get", "Subscribe"};

void put(QMap<QString, QString> &map, const QString &key, const QString &value)
{
    value.isEmpty() ? void(map.remove(key)) : void(map.insert(key, value));
}

// The manager's object path escaping: every byte but ASCII letters and digits as _xx.
QString unitPath(const QString &unit)
{
    QString out = unitPrefix;
    for (const char c : unit.toUtf8()) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            out += QLatin1Char(c);
        else
            out += QStringLiteral("_%1").arg(uint(uchar(c)), 2, 16, QLatin1Char('0'));
    }
    return out;
}

// What the caller's bus answers when a call runs out of time.
QDBusMessage noReplyTo(const QDBusMessage &call)
{
    return call.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.NoReply"), QStringLiteral("Did not receive a reply."));
}

} // namespace

// A call on its way through the manager: when its turn comes (pace()), and when the
// caller's bus gives up waiting for its answer (bound()).

struct Call {
    QDBusMessage message;
    qint64 turn = 0;
    qint64 deadline = std::numeric_limits<qint64>::max();
    bool expired = false; // answered with NoReply: its own answer is lost
};

class FakeSystemdManager::Handler final : public QDBusVirtualObject {
public:
    mutable QMutex mutex;
    QString connectionName;
    QMap<QString, QString> files, active;
    QMap<QString, int> brokenStarts;
    QMap<QString, QPair<QString, QString>> failures;
    QStringList calls, received;
    bool subscribed = false, holding = false;
    struct Held {
        QString method;
        QDBusMessage answer, noReply; // noReply: what the caller gets once it expires
    };
    QList<Held> held;
    QMap<QString, int> delays;                 // method ("": any other), milliseconds

    QStringList arrived;
    QList<QDBusMessage> hung; // calls left unanswered (expire())
    QString introspect(const QString &) const override { return {}; }

    // pace(): the calls waiting their turn, on the time told by tell(); bound(): how
    // long a caller waits for an answer (0: no bound).
    QList<int> turns;
    int nextTurn = 0;
    qint64 now = 0, lastTurn = 0;
    QList<Call> paced;
    qint64 answerBound = 0, changeBound = 0;
    QStringList untold; // units whose ActiveState changed from outside since the last tell()
    // The first thing due by `now`: a turn, or else a call whose caller stopped
    // waiting before its turn. The turn first when both fall at the same time.
    Call *lateCall()
    {
        Call *late = nullptr;
        const qint64 turn = paced.isEmpty() ? std::numeric_limits<qint64>::max() : paced.first().turn;
        for (QList<Call> *calls : {&paced, &deferred}) {
            for (Call &call : *calls) {
                if (!call.expired && call.deadline <= now && call.deadline < turn && (!late || call.deadline < late->deadline))
                    late = &call;
            }
        }
        return late;
    }
    bool due() { return lateCall() || (!paced.isEmpty() && paced.first().turn <= now); }
    void takeTurns()
    {
        QMutexLocker lock(&mutex);
        while (due()) {
            if (Call *late = lateCall()) {
                // What the caller's bus answers when the call runs out of time.
                late->expired = true;
                send(noReplyTo(late->message));
            } else {
                process(paced.takeFirst());
            }
        }
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        QMutexLocker lock(&mutex);
        const QString method = message.member();
        arrived << method;
        // No method of the manager: refused at once, in the order it came.
        if (!signatures.contains(message.interface() + '.' + method)) {
            send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), "Unknown method " + method));
            return true;
        }
        Call call{message};
        if (const qint64 bound = reads.contains(method) ? answerBound : changeBound; bound > 0)
            call.deadline = now + bound;
        if (turns.isEmpty()) {
            process(call);
            return true;
        }
        lastTurn = std::max(lastTurn, now) + turns.at(nextTurn++ % turns.size());
        call.turn = lastTurn;
        paced.append(call);
        return true;
    }

    // Takes the call on, the mutex held.
    void process(const Call &call)
    {
        const QDBusMessage &message = call.message;
        const QString method = message.member();
        const auto signature = signatures.constFind(message.interface() + '.' + method);
        received << method;
        if (catches(call) || defers(call))
            return;
        QDBusMessage reply;
        if ((message.path() == managerPath) != signature.key().startsWith(manager))
            reply = message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), "Unknown method " + method);
        else if (message.signature() != *signature)
            reply = message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                             "Invalid arguments '" + message.signature() + "' to call " + method);
        else if (record(message); failures.contains(method)) {
            const auto failure = failures.constFind(method);
            if (failure->first.isEmpty()) {
                hung << message; // a hung manager
                return;
            }
            reply = message.createErrorReply(failure->first, failure->second);
        } else {
            reply = answer(message);
        }
        if (call.expired)
            return; // carried out, its answer lost
        if (const int ms = delays.value(method, delays.value(QString())); ms > 0) {
            // Its own child, so that stop() finds it.
            auto *timer = new QTimer(this);
            timer->setSingleShot(true);
            QObject::connect(timer, &QTimer::timeout, this, [this, timer, message, reply, connection = connectionName] {
                QMutexLocker later(&mutex);
                if (connection == connectionName) // else lost when the manager left
                    answerNow(message, reply);
                timer->deleteLater();
            });
            timer->start(ms);
        } else {
            answerNow(message, reply);
        }
    }
    void answerNow(const QDBusMessage &call, const QDBusMessage &reply)
    {
        holding ? void(held.append({call.member(), reply, noReplyTo(call)})) : send(reply);
    }

    // Held unprocessed, in order (FakeSystemdManager::defer); the caught call among them.
    QStringList deferring;
    QList<Call> deferred;
    QString catching, catchAfter;
    int catchLeft = 0;
    qsizetype caughtAt = -1;
    bool catches(const Call &call)
    {
        const QDBusMessage &message = call.message;
        const QString method = message.member();
        if (!catchAfter.isEmpty()) {
            catchAfter = catchAfter == method ? QString() : catchAfter;
            return false;
        }
        const bool matches = catching == method || (catching == QLatin1String("*") && !reads.contains(method));
        if (!matches || signatures.value(message.interface() + '.' + method, "-") != message.signature() || --catchLeft > 0)
            return false;
        catching.clear();
        record(message);
        caughtAt = deferred.size();
        deferred << call;
        return true;
    }
    bool defers(const Call &call)
    {
        const QDBusMessage &message = call.message;
        const QString method = message.member();
        const bool held = deferring.contains(method) || (!deferred.isEmpty() && !reads.contains(method));
        if (!held || signatures.value(message.interface() + '.' + method, "-") != message.signature())
            return false;
        record(message);
        deferred << call;
        return true;
    }
    // `refusal`: the caught call's error (name, message), if any. What changes is
    // changed even for a call whose caller gave up on it; only its answer is lost.
    QStringList processDeferred(const QPair<QString, QString> &refusal = {})
    {
        QStringList methods;
        for (qsizetype i = 0; i < deferred.size(); ++i) {
            const Call &call = deferred.at(i);
            const QDBusMessage &message = call.message;
            methods << message.member();
            const auto failure = failures.constFind(message.member());
            QDBusMessage reply;
            if (i == caughtAt && !refusal.first.isEmpty())
                reply = message.createErrorReply(refusal.first, refusal.second);
            else if (failure == failures.constEnd())
                reply = answer(message);
            else if (!failure->first.isEmpty())
                reply = message.createErrorReply(failure->first, failure->second);
            else if (!call.expired)
                hung << message;
            if (!call.expired && reply.type() != QDBusMessage::InvalidMessage)
                send(reply);
        }
        deferred.clear();
        caughtAt = -1;
        return methods;
    }

    // The calls a manager that restarted had taken on (stop(true)): carried out once it
    // is back, their answers lost with the one that left.
    QList<Call> kept;
    void carryOutKept()
    {
        for (const Call &call : std::exchange(kept, {})) {
            if (!failures.contains(call.message.member()))
                answer(call.message);
        }
    }

    void send(const QDBusMessage &message) const { QDBusConnection(connectionName).send(message); }
    void filesChanged() const
    {
        if (subscribed)
            send(QDBusMessage::createSignal(managerPath, manager.chopped(1), QStringLiteral("UnitFilesChanged")));
    }
    void activeChanged(const QString &unit) const
    {
        if (!subscribed || !active.contains(unit))
            return;
        QDBusMessage signal = QDBusMessage::createSignal(unitPath(unit), properties.chopped(1), QStringLiteral("PropertiesChanged"));
        signal << QStringLiteral("org.freedesktop.systemd1.Unit") << QVariantMap{{"ActiveState", active[unit]}} << QStringList();
        send(signal);
    }

private:
    void record(const QDBusMessage &message)
    {
        if (reads.contains(message.member()))
            return;
        QStringList line{message.member()};
        for (const QVariant &argument : message.arguments()) // a string counts as a list of one
            line << (argument.typeId() == QMetaType::Bool ? QStringList{argument.toBool() ? "true" : "false"} : argument.toStringList());
        calls << line.join(QLatin1Char(' '));
    }

    QDBusMessage answer(const QDBusMessage &message)
    {
        const QString method = message.member();
        const QVariantList args = message.arguments();
        const QString unit = QFileInfo(args.value(0).toStringList().value(0)).fileName();
        const QString state = files.value(unit);
        const QString runtime = args.value(1).toBool() ? QStringLiteral("-runtime") : QString();
        const auto error = [&](const char *name, const QString &text) { return message.createErrorReply(QLatin1String(name), text); };
        const auto filesNow = [&](const QString &now) {
            put(files, unit, now);
            filesChanged();
            return message.createReply();
        };
        const auto activeNow = [&](const char *now) {
            active[unit] = now;
            activeChanged(unit);
            return message.createReply();
        };
        if (state.isEmpty() && (method == "GetUnitFileState" || method == "EnableUnitFiles" || method == "StartUnit"))
            return error("org.freedesktop.DBus.Error.FileNotFound", "No such file or directory");
        if (state.startsWith(QLatin1String("masked")) && (method == "EnableUnitFiles" || method == "StartUnit"))
            return error("org.freedesktop.systemd1.UnitMasked", "Unit file " + unit + " is masked.");
        if (!active.contains(unit) && (method == "GetUnit" || method == "ResetFailedUnit"))
            return error("org.freedesktop.systemd1.NoSuchUnit", "Unit " + unit + " not loaded.");
        if (method == QLatin1String("GetUnitFileState"))
            return message.createReply(state);
        if (method == QLatin1String("LinkUnitFiles")) {
            if (!state.isEmpty() && !args.value(2).toBool())
                return error("org.freedesktop.DBus.Error.FileExists", "File exists");
            return filesNow(state.startsWith(QLatin1String("enabled")) ? state : "linked" + runtime);
        }
        if (method == QLatin1String("EnableUnitFiles"))
            return filesNow("enabled" + runtime);
        if (method == QLatin1String("DisableUnitFiles"))
            return filesNow(state == "enabled" + runtime || state == "linked" + runtime ? QString() : state);
        if (method == QLatin1String("Reload") || method == QLatin1String("Subscribe"))
            return subscribed = subscribed || method == QLatin1String("Subscribe"), message.createReply();
        if (method == QLatin1String("GetUnit"))
            return message.createReply(QVariant::fromValue(QDBusObjectPath(unitPath(unit))));
        if (method == QLatin1String("StartUnit")) {
            const bool breaks = brokenStarts.value(unit) > 0 && brokenStarts[unit]-- > 0;
            return activeNow(breaks ? "failed" : "active"),
                   message.createReply(QVariant::fromValue(QDBusObjectPath(managerPath + QStringLiteral("/job/1"))));
        }
        if (method == QLatin1String("ResetFailedUnit"))
            return active[unit] == QLatin1String("failed") ? activeNow("inactive") : message.createReply();
        if (method == QLatin1String("StopUnit")) {
            if (!active.contains(unit))
                return error("org.freedesktop.systemd1.NoSuchUnit", "Unit " + unit + " not loaded.");
            return activeNow("inactive"), message.createReply(QVariant::fromValue(QDBusObjectPath(managerPath + QStringLiteral("/job/2"))));
        }
        // Properties.Get
        for (auto it = active.constBegin(); it != active.constEnd(); ++it) {
            if (unitPath(it.key()) == message.path() && args.value(1).toString() == QLatin1String("ActiveState"))
                return message.createReply(QVariant::fromValue(QDBusVariant(it.value())));
        }
        return error("org.freedesktop.DBus.Error.UnknownObject", "Unknown object '" + message.path() + "'.");
    }
};

FakeSystemdManager::FakeSystemdManager() : thread_(std::make_unique<QThread>()), handler_(new Handler)
{
    handler_->moveToThread(thread_.get());
    thread_->start();
}

FakeSystemdManager::~FakeSystemdManager()
{
    stop();
    // A call that came in during the stop may have set a timer going again. Timers are
    // stopped on the handler's own thread, in the same turn as its last: deleted from
    // here, a running one could not be.
    QMetaObject::invokeMethod(
        handler_,
        [this] {
            for (QTimer *timer : handler_->findChildren<QTimer *>())
                timer->stop();
            thread_->quit();
        },
        Qt::BlockingQueuedConnection);
    thread_->wait();
    delete handler_;
}

bool FakeSystemdManager::start()
{
    static int counter = 0;
    handler_->connectionName = QStringLiteral("fake-systemd-%1").arg(++counter);
    bool started = false;
    // Registered from the handler's own thread, where the connection keeps its helpers.
    QMetaObject::invokeMethod(
        handler_,
        [this, &started] {
            {
                QMutexLocker lock(&handler_->mutex);
                handler_->carryOutKept();
            }
            QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, handler_->connectionName);
            started = bus.isConnected() && bus.registerVirtualObject(managerPath, handler_, QDBusConnection::SubPath)
                && bus.registerService(managerName);
        },
        Qt::BlockingQueuedConnection);
    return started;
}

void FakeSystemdManager::stop(bool keepTaken)
{
    QString name;
    {
        QMutexLocker lock(&handler_->mutex);
        name = std::exchange(handler_->connectionName, QString());
        handler_->held.clear();
        handler_->hung.clear(); // the bus answers them
        handler_->kept = keepTaken ? std::exchange(handler_->deferred, {}) : QList<Call>();
        handler_->deferred.clear();
        handler_->catching.clear();
        handler_->caughtAt = -1;
        handler_->holding = handler_->subscribed = false;
        handler_->paced.clear(); // never carried out
    }
    // Late answers still waiting are lost with the manager.
    QMetaObject::invokeMethod(
        handler_,
        [this] {
            qDeleteAll(handler_->findChildren<QTimer *>(Qt::FindDirectChildrenOnly));
        },
        Qt::BlockingQueuedConnection);
    if (name.isEmpty())
        return;
    // What it answered reaches the bus before it leaves: the bus answers this question
    // only after what was sent before it.
    QDBusConnection(name).call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                              QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
    // The bus itself takes the name back and answers what is pending. The name is
    // given up first and waited for, so that a manager started next owns it at once
    // rather than queued behind one that is still closing (which the code under test
    // would see as a manager restarting mid-question).
    const QString unique = QDBusConnection(name).baseService();
    QDBusConnection(name).unregisterObject(managerPath, QDBusConnection::UnregisterTree);
    QDBusConnection(name).unregisterService(managerName);
    QDBusConnection::disconnectFromBus(name);
    // Gone once the bus has dropped its connection: what the bus answered for it then
    // comes before anything the bus answers after this.
    QDBusConnection watch = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-systemd-watch"));
    for (int round = 0; round < 60000; ++round) {
        QDBusMessage question = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                               QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
        question << unique;
        const QDBusMessage owned = watch.call(question);
        if (owned.type() != QDBusMessage::ReplyMessage || !owned.arguments().value(0).toBool())
            break;
        QThread::msleep(1);
    }
}

void FakeSystemdManager::setUnitFileState(const QString &unit, const QString &state)
{
    QMutexLocker lock(&handler_->mutex);
    put(handler_->files, unit, state);
    handler_->filesChanged();
}

void FakeSystemdManager::setActiveState(const QString &unit, const QString &state)
{
    QMutexLocker lock(&handler_->mutex);
    put(handler_->active, unit, state);
    handler_->turns.isEmpty() ? handler_->activeChanged(unit) : void(handler_->untold << unit);
}

void FakeSystemdManager::breakStarts(const QString &unit, int count)
{
    QMutexLocker lock(&handler_->mutex);
    handler_->brokenStarts.insert(unit, count);
}

void FakeSystemdManager::fail(const QString &method, const QString &name, const QString &message)
{
    QMutexLocker lock(&handler_->mutex);
    handler_->failures.insert(method, {name, message}); // "" never matches a method
}

int FakeSystemdManager::expire()
{
    QMutexLocker lock(&handler_->mutex);
    Handler &h = *handler_;
    int count = 0;
    for (const QDBusMessage &call : std::exchange(h.hung, {}))
        h.send(noReplyTo(call)), ++count;
    // Held answers are lost; deferred calls are still carried out when released.
    for (const Handler::Held &answer : std::exchange(h.held, {}))
        h.send(answer.noReply), ++count;
    for (Call &call : h.deferred) {
        if (!call.expired)
            call.expired = true, h.send(noReplyTo(call.message)), ++count;
    }
    return count;
}

QStringList FakeSystemdManager::hold(bool on)
{
    QMutexLocker lock(&handler_->mutex);
    handler_->holding = on;
    QStringList methods;
    for (const auto &answer : std::as_const(handler_->held))
        on ? void(methods << answer.method) : handler_->send(answer.answer);
    if (!on)
        handler_->held.clear();
    return methods;
}

void FakeSystemdManager::delay(const QString &method, int ms)
{
    QMutexLocker lock(&handler_->mutex);
    handler_->delays.insert(method, ms);
}

void FakeSystemdManager::defer(const QString &method)
{
    QMutexLocker lock(&handler_->mutex);
    handler_->deferring << method;
}

QStringList FakeSystemdManager::release()
{
    QMutexLocker lock(&handler_->mutex);
    handler_->deferring.clear();
    return handler_->processDeferred();
}

void FakeSystemdManager::pace(const QList<int> &turnsMs)
{
    QMutexLocker lock(&handler_->mutex);
    handler_->turns = turnsMs;
    handler_->nextTurn = 0;
}

void FakeSystemdManager::bound(int answerMs, int changeMs)
{
    QMutexLocker lock(&handler_->mutex);
    handler_->answerBound = answerMs;
    handler_->changeBound = changeMs;
}

void FakeSystemdManager::tell(qint64 ms)
{
    QMutexLocker lock(&handler_->mutex);
    handler_->now = ms;
    for (const QString &unit : std::exchange(handler_->untold, {}))
        handler_->activeChanged(unit);
    const bool due = handler_->due();
    lock.unlock();
    if (due)
        QMetaObject::invokeMethod(handler_, [this] { handler_->takeTurns(); }, Qt::BlockingQueuedConnection);
}

qint64 FakeSystemdManager::nextMoment() const
{
    QMutexLocker lock(&handler_->mutex);
    qint64 next = handler_->untold.isEmpty() ? std::numeric_limits<qint64>::max() : handler_->now;
    next = std::min(next, handler_->paced.isEmpty() ? next : handler_->paced.first().turn);
    for (const QList<Call> *calls : {&handler_->paced, &handler_->deferred}) {
        for (const Call &call : *calls)
            next = call.expired ? next : std::min(next, call.deadline);
    }
    return next;
}

void FakeSystemdManager::catchCall(const QString &method, int nth, const QString &after)
{
    QMutexLocker lock(&handler_->mutex);
    handler_->catching = method;
    handler_->catchLeft = nth;
    handler_->catchAfter = method.isEmpty() ? QString() : after;
}

bool FakeSystemdManager::caught() const
{
    QMutexLocker lock(&handler_->mutex);
    return handler_->caughtAt >= 0;
}

void FakeSystemdManager::refuse(const QString &name, const QString &message)
{
    QMutexLocker lock(&handler_->mutex);
    handler_->deferring.clear();
    handler_->processDeferred({name, message});
}

void FakeSystemdManager::pass(const QString &method)
{
    QMutexLocker lock(&handler_->mutex);
    handler_->failures.remove(method);
}

QString FakeSystemdManager::unitFileState(const QString &unit) const
{
    QMutexLocker lock(&handler_->mutex);
    return handler_->files.value(unit);
}

QString FakeSystemdManager::activeState(const QString &unit) const
{
    QMutexLocker lock(&handler_->mutex);
    return handler_->active.value(unit);
}

QStringList FakeSystemdManager::calls() const
{
    QMutexLocker lock(&handler_->mutex);
    return handler_->calls;
}

QStringList FakeSystemdManager::received() const
{
    QMutexLocker lock(&handler_->mutex);
    return handler_->received;
}

QStringList FakeSystemdManager::arrivals() const
{
    QMutexLocker lock(&handler_->mutex);
    return handler_->arrived;
}

} // namespace cv::test

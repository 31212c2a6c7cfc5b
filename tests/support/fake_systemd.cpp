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
    {properties + "Get", "ss"},
};
// Calls that change nothing (a subscription only changes what is signalled).
const QStringList reads{"GetUnitFileState", "GetUnit", "Get", "Subscribe"};

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

} // namespace

class FakeSystemdManager::Handler final : public QDBusVirtualObject {
public:
    mutable QMutex mutex;
    QString connectionName;
    QMap<QString, QString> files;
    QMap<QString, QString> active;
    QMap<QString, QPair<QString, QString>> failures;
    QStringList calls;
    bool subscribed = false;
    bool holding = false;
    QList<QPair<QString, QDBusMessage>> held; // method, answer

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        QMutexLocker lock(&mutex);
        const QString method = message.member();
        const auto signature = signatures.constFind(message.interface() + '.' + method);
        QDBusMessage reply;
        if (signature == signatures.constEnd() || (message.path() == managerPath) != signature.key().startsWith(manager))
            reply = message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), "Unknown method " + method);
        else if (message.signature() != *signature)
            reply = message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                             "Invalid arguments '" + message.signature() + "' to call " + method);
        else if (const auto failure = failures.constFind(method); failure != failures.constEnd()) {
            record(message);
            if (failure->first.isEmpty())
                return true; // a hung manager
            reply = message.createErrorReply(failure->first, failure->second);
        } else {
            reply = answer(message);
        }
        holding ? void(held.append({method, reply})) : send(reply);
        return true;
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
        for (const QVariant &argument : message.arguments()) {
            if (argument.typeId() == QMetaType::Bool)
                line << (argument.toBool() ? "true" : "false");
            else
                line << argument.toStringList(); // a list, or a string as a list of one
        }
        calls << line.join(QLatin1Char(' '));
    }

    QDBusMessage answer(const QDBusMessage &message)
    {
        record(message);
        const QString method = message.member();
        const QVariantList args = message.arguments();
        const QString unit = QFileInfo(args.value(0).toStringList().value(0)).fileName();
        const QString state = files.value(unit);
        const QString runtime = args.value(1).toBool() ? QStringLiteral("-runtime") : QString();
        const auto error = [&](const char *name, const QString &text) { return message.createErrorReply(QLatin1String(name), text); };
        const auto noFile = [&] { return error("org.freedesktop.DBus.Error.FileNotFound", "No such file or directory"); };
        const auto notLoaded = [&] { return error("org.freedesktop.systemd1.NoSuchUnit", "Unit " + unit + " not loaded."); };
        const auto masked = [&] { return error("org.freedesktop.systemd1.UnitMasked", "Unit file " + unit + " is masked."); };
        const auto filesNow = [&](const QString &now) {
            now.isEmpty() ? void(files.remove(unit)) : void(files.insert(unit, now));
            filesChanged();
            return message.createReply();
        };
        const auto activeNow = [&](const QString &now) {
            active[unit] = now;
            activeChanged(unit);
        };
        if (method == QLatin1String("GetUnitFileState"))
            return state.isEmpty() ? noFile() : message.createReply(state);
        if (method == QLatin1String("LinkUnitFiles")) {
            if (!state.isEmpty() && !args.value(2).toBool())
                return error("org.freedesktop.DBus.Error.FileExists", "File exists");
            return filesNow(state.startsWith(QLatin1String("enabled")) ? state : "linked" + runtime);
        }
        if (method == QLatin1String("EnableUnitFiles")) {
            if (state.isEmpty())
                return noFile();
            if (state.startsWith(QLatin1String("masked")))
                return masked();
            return filesNow("enabled" + runtime);
        }
        if (method == QLatin1String("DisableUnitFiles"))
            return filesNow(state == "enabled" + runtime || state == "linked" + runtime ? QString() : state);
        if (method == QLatin1String("Reload") || method == QLatin1String("Subscribe")) {
            subscribed = subscribed || method == QLatin1String("Subscribe");
            return message.createReply();
        }
        if (method == QLatin1String("GetUnit"))
            return active.contains(unit) ? message.createReply(QVariant::fromValue(QDBusObjectPath(unitPath(unit)))) : notLoaded();
        if (method == QLatin1String("StartUnit")) {
            if (state.isEmpty())
                return noFile();
            if (state.startsWith(QLatin1String("masked")))
                return masked();
            activeNow(QStringLiteral("active"));
            return message.createReply(QVariant::fromValue(QDBusObjectPath(managerPath + QStringLiteral("/job/1"))));
        }
        if (method == QLatin1String("ResetFailedUnit")) {
            if (!active.contains(unit))
                return notLoaded();
            if (active[unit] == QLatin1String("failed"))
                activeNow(QStringLiteral("inactive"));
            return message.createReply();
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
    if (!handler_->connectionName.isEmpty()) {
        QDBusConnection bus(handler_->connectionName);
        bus.unregisterService(managerName);
        bus.unregisterObject(managerPath, QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(handler_->connectionName);
    }
    thread_->quit();
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
            QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, handler_->connectionName);
            started = bus.isConnected() && bus.registerVirtualObject(managerPath, handler_, QDBusConnection::SubPath)
                && bus.registerService(managerName);
        },
        Qt::BlockingQueuedConnection);
    return started;
}

void FakeSystemdManager::setUnitFileState(const QString &unit, std::optional<QString> state)
{
    QMutexLocker lock(&handler_->mutex);
    state ? void(handler_->files.insert(unit, *state)) : void(handler_->files.remove(unit));
    handler_->filesChanged();
}

void FakeSystemdManager::setActiveState(const QString &unit, std::optional<QString> state)
{
    QMutexLocker lock(&handler_->mutex);
    state ? void(handler_->active.insert(unit, *state)) : void(handler_->active.remove(unit));
    handler_->activeChanged(unit);
}

std::optional<QString> FakeSystemdManager::activeState(const QString &unit) const
{
    QMutexLocker lock(&handler_->mutex);
    const auto it = handler_->active.constFind(unit);
    return it == handler_->active.constEnd() ? std::nullopt : std::optional(*it);
}

void FakeSystemdManager::fail(const QString &method, const QString &name, const QString &message)
{
    QMutexLocker lock(&handler_->mutex);
    handler_->failures.insert(method, {name, message});
}

void FakeSystemdManager::hold()
{
    QMutexLocker lock(&handler_->mutex);
    handler_->holding = true;
}

void FakeSystemdManager::release()
{
    QMutexLocker lock(&handler_->mutex);
    handler_->holding = false;
    for (const auto &answer : std::exchange(handler_->held, {}))
        handler_->send(answer.second);
}

QStringList FakeSystemdManager::held() const
{
    QMutexLocker lock(&handler_->mutex);
    QStringList methods;
    for (const auto &answer : handler_->held)
        methods << answer.first;
    return methods;
}

QStringList FakeSystemdManager::calls() const
{
    QMutexLocker lock(&handler_->mutex);
    return handler_->calls;
}

} // namespace cv::test

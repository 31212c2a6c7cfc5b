#include "fake_systemd.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

namespace cv::test {

namespace {

const QString managerName = QStringLiteral("org.freedesktop.systemd1");
const QString managerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString unitPrefix = QStringLiteral("/org/freedesktop/systemd1/unit/");

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
    QMap<QString, QString> files;
    QMap<QString, QString> active;
    QMap<QString, QPair<QString, QString>> failures;
    QStringList calls;

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        QMutexLocker lock(&mutex);
        const QString method = message.member();
        if (const auto failure = failures.constFind(method); failure != failures.constEnd()) {
            record(message);
            if (!failure->first.isEmpty())
                connection.send(message.createErrorReply(failure->first, failure->second));
            return true; // no answer at all when the name is empty
        }
        connection.send(answer(message));
        return true;
    }

private:
    void record(const QDBusMessage &message)
    {
        static const QStringList reads{QStringLiteral("GetUnitFileState"), QStringLiteral("GetUnit"),
                                       QStringLiteral("Get")};
        if (reads.contains(message.member()))
            return;
        QStringList line{message.member()};
        for (const QVariant &argument : message.arguments()) {
            if (argument.typeId() == QMetaType::QStringList)
                line << argument.toStringList();
            else if (argument.typeId() == QMetaType::QString)
                line << argument.toString();
        }
        calls << line.join(QLatin1Char(' '));
    }

    QDBusMessage answer(const QDBusMessage &message)
    {
        record(message);
        const QString method = message.member();
        const QVariantList args = message.arguments();
        const QString first = args.value(0).typeId() == QMetaType::QStringList ? args.value(0).toStringList().value(0)
                                                                               : args.value(0).toString();
        const QString unit = QFileInfo(first).fileName();
        const QString state = files.value(unit);
        const auto error = [&](const char *name, const QString &text) { return message.createErrorReply(QLatin1String(name), text); };
        const auto noFile = [&] { return error("org.freedesktop.DBus.Error.FileNotFound", "No such file or directory"); };
        const auto notLoaded = [&] { return error("org.freedesktop.systemd1.NoSuchUnit", "Unit " + unit + " not loaded."); };
        const auto masked = [&] { return error("org.freedesktop.systemd1.UnitMasked", "Unit file " + unit + " is masked."); };
        if (method == QLatin1String("GetUnitFileState"))
            return state.isEmpty() ? noFile() : message.createReply(state);
        if (method == QLatin1String("LinkUnitFiles")) {
            if (state.startsWith(QLatin1String("masked")))
                return error("org.freedesktop.DBus.Error.FileExists", "File exists");
            if (state.isEmpty() || state == QLatin1String("disabled"))
                files[unit] = QStringLiteral("linked");
            return message.createReply(); // the list of changes is left out
        }
        if (method == QLatin1String("EnableUnitFiles")) {
            if (state.isEmpty())
                return noFile();
            if (state.startsWith(QLatin1String("masked")))
                return masked();
            files[unit] = QStringLiteral("enabled");
            return message.createReply(true);
        }
        if (method == QLatin1String("DisableUnitFiles")) {
            if (state == QLatin1String("enabled") || state == QLatin1String("linked"))
                files.remove(unit);
            return message.createReply();
        }
        if (method == QLatin1String("Reload"))
            return message.createReply();
        if (method == QLatin1String("GetUnit"))
            return active.contains(unit) ? message.createReply(QVariant::fromValue(QDBusObjectPath(unitPath(unit)))) : notLoaded();
        if (method == QLatin1String("StartUnit")) {
            if (state.isEmpty())
                return noFile();
            if (state.startsWith(QLatin1String("masked")))
                return masked();
            active[unit] = QStringLiteral("active");
            return message.createReply(QVariant::fromValue(QDBusObjectPath(managerPath + QStringLiteral("/job/1"))));
        }
        if (method == QLatin1String("ResetFailedUnit")) {
            if (!active.contains(unit))
                return notLoaded();
            if (active[unit] == QLatin1String("failed"))
                active[unit] = QStringLiteral("inactive");
            return message.createReply();
        }
        if (method == QLatin1String("Get") && message.path().startsWith(unitPrefix)
            && args.value(1).toString() == QLatin1String("ActiveState")) {
            for (auto it = active.constBegin(); it != active.constEnd(); ++it) {
                if (unitPath(it.key()) == message.path())
                    return message.createReply(QVariant::fromValue(QDBusVariant(it.value())));
            }
            return error("org.freedesktop.DBus.Error.UnknownObject", "Unknown object '" + message.path() + "'.");
        }
        return error("org.freedesktop.DBus.Error.UnknownMethod", "Unknown method " + method);
    }
};

FakeSystemdManager::FakeSystemdManager() : thread_(std::make_unique<QThread>()), handler_(new Handler)
{
    handler_->moveToThread(thread_.get());
    thread_->start();
}

FakeSystemdManager::~FakeSystemdManager()
{
    if (!connectionName_.isEmpty()) {
        QDBusConnection bus(connectionName_);
        bus.unregisterService(managerName);
        bus.unregisterObject(managerPath, QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(connectionName_);
    }
    thread_->quit();
    thread_->wait();
    delete handler_;
}

bool FakeSystemdManager::start()
{
    static int counter = 0;
    connectionName_ = QStringLiteral("fake-systemd-%1").arg(++counter);
    bool started = false;
    // Registered from the handler's own thread, where the connection keeps its helpers.
    QMetaObject::invokeMethod(
        handler_,
        [this, &started] {
            QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_);
            started = bus.isConnected() && bus.registerVirtualObject(managerPath, handler_, QDBusConnection::SubPath)
                && bus.registerService(managerName);
        },
        Qt::BlockingQueuedConnection);
    return started;
}

namespace {
void put(QMap<QString, QString> &map, const QString &key, const std::optional<QString> &value)
{
    value ? void(map.insert(key, *value)) : void(map.remove(key));
}
} // namespace

void FakeSystemdManager::setUnitFileState(const QString &unit, std::optional<QString> state)
{
    QMutexLocker lock(&handler_->mutex);
    put(handler_->files, unit, state);
}

void FakeSystemdManager::setActiveState(const QString &unit, std::optional<QString> state)
{
    QMutexLocker lock(&handler_->mutex);
    put(handler_->active, unit, state);
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

QStringList FakeSystemdManager::calls() const
{
    QMutexLocker lock(&handler_->mutex);
    return handler_->calls;
}

} // namespace cv::test

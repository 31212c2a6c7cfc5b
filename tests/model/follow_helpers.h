#pragma once

// Helpers shared by the tests of the model's following of the service.

#include "model_fixture.h"

#include "model/failures.h"

#include <QCoroTask>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <type_traits>

namespace cv::test {

// Runs a task of the model to its end (the fake clock moves on by itself meanwhile)
// and rethrows what it threw (QCoro::waitFor alone would wait forever).
template <typename T>
T run(QCoro::Task<T> task)
{
    std::conditional_t<std::is_void_v<T>, bool, T> result{};
    std::exception_ptr error;
    auto guarded = [](QCoro::Task<T> t, auto *out, std::exception_ptr *err) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>)
                co_await std::move(t);
            else
                *out = co_await std::move(t);
        } catch (...) {
            *err = std::current_exception();
        }
    };
    QCoro::Task<> wrapped = guarded(std::move(task), &result, &error);
    QCoro::waitFor(std::move(wrapped));
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return result;
}

// The message of the ServiceError a task threw, "cancelled" for a CancelledError,
// empty for none.
inline QString thrown(QCoro::Task<> task)
{
    try {
        run(std::move(task));
    } catch (const ServiceError &e) {
        return e.message();
    } catch (const CancelledError &) {
        return QStringLiteral("cancelled");
    }
    return {};
}

// After `seconds` of the fake clock, runs `action`. The clock must outlive the task.
inline QCoro::Task<> after(FakeClock &clock, double seconds, std::function<void()> action)
{
    QCoro::Task<bool> pause = clock.sleep(seconds);
    co_await std::move(pause);
    action();
}

// Lets queued work (and the fake clock's jumps) run for a moment of real time.
inline void settle(int milliseconds = 20)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// A service that answers every "status" and "events" at event number `sequence`.
inline void serveIdle(FakeServiceClient &client, std::uint64_t sequence)
{
    client.always(QStringLiteral("status"), wire::ok(wire::status({}, sequence)));
    client.always(QStringLiteral("events"), wire::ok(wire::events({}, sequence)));
}

// One event as the service sends it.
inline QJsonObject serviceEvent(const QString &name, const QString &peer, const QJsonObject &detail = {},
                                std::uint64_t sequence = 1)
{
    QJsonObject object{{QStringLiteral("sequence"), qint64(sequence)}, {QStringLiteral("event"), name},
                       {QStringLiteral("detail"), detail}};
    if (!peer.isNull())
        object.insert(QStringLiteral("peer"), peer);
    return object;
}

// Sets an environment variable for the life of the object (none: unsets it).
class ScopedEnv {
public:
    ScopedEnv(const char *name, std::optional<QByteArray> value) : name_(name)
    {
        if (qEnvironmentVariableIsSet(name))
            old_ = qgetenv(name);
        value ? void(qputenv(name, *value)) : void(qunsetenv(name));
    }
    ~ScopedEnv() { old_ ? void(qputenv(name_, *old_)) : void(qunsetenv(name_)); }

private:
    const char *name_;
    std::optional<QByteArray> old_;
};

// The development variables that keep start at sign-in from being offered.
inline bool developmentVariablesSet()
{
    for (const char *name : {"CV_MAC_SERVICE", "CV_MAC_STATE_DIR", "CV_MAC_RUNTIME_DIR", "CV_MAC_MOUNT_ROOT", "CV_MAC_NFS_HELPER"})
        if (qEnvironmentVariableIsSet(name))
            return true;
    return false;
}

// An installed application with a login agent, laid out as an installed prefix in a
// temporary folder: everything start at sign-in needs.
class InstalledBundle {
public:
    InstalledBundle()
    {
        QDir(dir_.path()).mkpath(QStringLiteral("bin"));
        QDir(dir_.path()).mkpath(QStringLiteral("share/corvane"));
        for (const char *name : {"corvane", "cv-mac-service"}) {
            QFile program(dir_.path() + QStringLiteral("/bin/") + QLatin1String(name));
            program.open(QIODevice::WriteOnly);
            program.write("#!/bin/sh\n");
            program.close();
            program.setPermissions(program.permissions() | QFileDevice::ExeOwner);
        }
    }

    AppBundle bundle() const
    {
        QMap<QString, QString> info = AppBundle::defaultInfo();
        info.insert(QStringLiteral("CVServiceAgentPlist"), QStringLiteral("cv.corvane.service.plist"));
        info.insert(QStringLiteral("CFBundleIdentifier"), QStringLiteral("cv.corvane"));
        return AppBundle(dir_.path() + QStringLiteral("/bin/corvane"), info);
    }

private:
    QTemporaryDir dir_;
};

} // namespace cv::test

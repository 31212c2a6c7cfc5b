#pragma once

// Helpers shared by the tests of the model's following of the service.

#include "model_fixture.h"

#include <QCoroTask>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace cv::test {

namespace detail {

inline QCoro::Task<> guarded(QCoro::Task<> task, std::exception_ptr *error)
{
    try {
        co_await std::move(task);
    } catch (...) {
        *error = std::current_exception();
    }
}

inline QCoro::Task<> guarded(QCoro::Task<bool> task, bool *result, std::exception_ptr *error)
{
    try {
        *result = co_await std::move(task);
    } catch (...) {
        *error = std::current_exception();
    }
}

} // namespace detail

// Runs a task of the model to its end (the fake clock moves on by itself meanwhile)
// and rethrows what it threw (QCoro::waitFor alone would wait forever).
inline void run(QCoro::Task<> task)
{
    std::exception_ptr error;
    QCoro::Task<> guarded = detail::guarded(std::move(task), &error);
    QCoro::waitFor(std::move(guarded));
    if (error)
        std::rethrow_exception(error);
}

inline bool run(QCoro::Task<bool> task)
{
    bool result = false;
    std::exception_ptr error;
    QCoro::Task<> guarded = detail::guarded(std::move(task), &result, &error);
    QCoro::waitFor(std::move(guarded));
    if (error)
        std::rethrow_exception(error);
    return result;
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

// One event as the service sends it.
inline QJsonObject serviceEvent(const QString &name, const QString &peer, const QJsonObject &detail = {},
                         std::uint64_t sequence = 1)
{
    QJsonObject object{{QStringLiteral("sequence"), qint64(sequence)}, {QStringLiteral("event"), name}};
    if (!peer.isNull())
        object.insert(QStringLiteral("peer"), peer);
    object.insert(QStringLiteral("detail"), detail);
    return object;
}

// Sets an environment variable for the life of the object (none: unsets it).
class ScopedEnv {
public:
    ScopedEnv(const char *name, std::optional<QByteArray> value) : name_(name)
    {
        if (qEnvironmentVariableIsSet(name))
            old_ = qgetenv(name);
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            qputenv(name_, *old_);
        else
            qunsetenv(name_);
    }

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

// An installed application with a login agent: everything start at sign-in needs.
// Lives in a temporary folder laid out as an installed prefix.
class InstalledBundle {
public:
    InstalledBundle()
    {
        QDir(dir_.path()).mkpath(QStringLiteral("bin"));
        QDir(dir_.path()).mkpath(QStringLiteral("share/corvane"));
        for (const QString &name : {QStringLiteral("corvane"), QStringLiteral("cv-mac-service")}) {
            QFile program(dir_.path() + QStringLiteral("/bin/") + name);
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

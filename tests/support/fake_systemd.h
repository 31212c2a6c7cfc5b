#pragma once

#include <QStringList>

#include <memory>
#include <optional>

class QThread;

namespace cv::test {

// A per-user systemd manager for tests: it owns org.freedesktop.systemd1 on the
// session bus (start the test under a private bus: cv_add_test(... DBUS)) through a
// connection of its own and answers on a thread of its own.
//
// It refuses, as the manager does, a call whose whole signature is not the method's
// (InvalidArgs) and an unknown method. It keeps unit file states ("enabled",
// "masked", ..., none for an unknown file) and the ActiveState of loaded units, and
// behaves like the manager for the calls the application makes: linking a file makes
// it "linked" (over an existing one only when forced), enabling makes it "enabled" (a
// masked file refuses), each "-runtime" when asked so; disabling removes a linked or
// enabled file and leaves a mask; starting makes the unit "active", resetting turns
// "failed" into "inactive". Once subscribed to, it signals UnitFilesChanged and the
// unit's PropertiesChanged, for the test's own changes as well. It records every call
// that changes something as one line, "Method arg…" (lists spread, booleans as
// true/false).
class FakeSystemdManager {
public:
    FakeSystemdManager();
    ~FakeSystemdManager();

    // Takes the manager's name on the session bus. False when there is no bus.
    bool start();

    void setUnitFileState(const QString &unit, std::optional<QString> state);
    void setActiveState(const QString &unit, std::optional<QString> state);
    std::optional<QString> activeState(const QString &unit) const;

    // `method` answers with the error `name` and `message`; with an empty name it
    // does not answer at all (a hung manager).
    void fail(const QString &method, const QString &name = {}, const QString &message = {});
    // Holds every answer back, until release() sends them.
    void hold();
    void release();
    // The methods whose answers are held, in order.
    QStringList held() const;

    QStringList calls() const;

    class Handler;

private:
    std::unique_ptr<QThread> thread_;
    Handler *handler_ = nullptr;
};

} // namespace cv::test

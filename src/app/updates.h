#pragma once

#include "platform/updater.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace cv {

class AppRuntime;
class UserDefaults;

// The parts Updates works with; anything left empty is the real one.
struct UpdatesPlatform {
    std::function<bool()> available;                                      // empty: Updates::available()
    std::function<std::unique_ptr<Updater>(UpdaterDelegate &)> startUpdater; // empty: the system's
    AppRuntime *runtime = nullptr;                                        // not owned; may stay empty
    UserDefaults *defaults = nullptr;                                     // empty: the standard settings
};

// Connects the application to the software-update framework: starts it once, answers
// its questions, and stops sharing before an update is installed. Linux has no such
// framework, so `available()` is false and no controller ever exists; a fake updater
// drives it in tests. Main thread only.
class Updates final : public QObject, public UpdaterDelegate {
    Q_OBJECT
public:
    using Platform = UpdatesPlatform;

    explicit Updates(Platform platform = {}, QObject *parent = nullptr);
    ~Updates() override;

    // Fields, in order.
    std::unique_ptr<Updater> controller;
    // Stops sharing before an update is installed; false holds the installation back.
    std::function<QCoro::Task<bool>()> stopService;
    // The application is about to quit for an update.
    std::function<void()> willQuitForUpdate;
    // Shows a finished, user-facing message.
    std::function<void(const QString &)> presentError;
    // The framework's update cycle has ended.
    std::function<void()> sessionEnded;

    // Whether updates can be offered at all: the program runs from an application
    // bundle, the information keys have "SUFeedURL", and no development override of
    // the service is present; asked afresh on every call.
    static bool available();

    // Creates and starts the controller when available; once.
    void start();
    bool canCheck() const;
    // The user's "Check for Updates…": comes to the front (also without a controller)
    // and asks the controller for a check.
    void checkForUpdates();

    // ---- What the framework asks

    // The user default "CVUpdateFeedURL" as stored (an empty text included), none
    // when it is not set or not a text.
    std::optional<QString> feedURLString() const override;
    bool shouldPostponeRelaunchForUpdate(std::function<void()> relaunch) override;
    bool willInstallUpdateOnQuit(std::function<void()> installNow) override;
    bool supportsGentleScheduledUpdateReminders() const override { return true; }
    void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate) override;
    void standardUserDriverWillFinishUpdateSession() override;

private:
    // Stops sharing, then lets the installation go on through `proceed`.
    static QCoro::Task<> install(QPointer<Updates> self, std::function<void()> proceed);
    void comeToFront();

    Platform platform_;
};

} // namespace cv

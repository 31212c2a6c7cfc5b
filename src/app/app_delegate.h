#pragma once

#include "app/updates.h"
#include "model/app_model.h"
#include "platform/notification_center.h"
#include "platform/app_runtime.h"

#include <QCoroTask>
#include <QHash>
#include <QImage>
#include <QList>
#include <QMap>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QMainWindow;
class QMessageBox;
class QWidget;

namespace cv {

class StatusItem;

// The one application delegate: owns the model, the update controller, the windows,
// the status item and the error sheet, answers the application runtime (termination,
// activation, reopening) and runs the launch. Main thread only.
class AppDelegate final : public QObject, public AppRuntimeDelegate {
    Q_OBJECT
public:
    // Draws a window's root view at a content size (pixels of one point each) and a
    // device pixel ratio; a null image once the view is gone.
    using Renderer = std::function<QImage(QSize, qreal)>;

    // `runtime` must outlive the delegate. The model is built from `modelParts` and
    // the update controller from `updatesPlatform` (empty parts: the real ones).
    explicit AppDelegate(AppRuntime &runtime, AppModelCollaborators modelParts = {},
                         Updates::Platform updatesPlatform = {}, QObject *parent = nullptr);
    ~AppDelegate() override;

    // ---- Fields, in order

    std::unique_ptr<AppModel> model;
    std::unique_ptr<Updates> updates;
    QPointer<QMainWindow> mainWindow;
    QMap<QString, QPointer<QMainWindow>> peerWindows; // computer id to its window
    QHash<const QWidget *, QPointer<QWidget>> contentHosts; // window to its root view
    QHash<const QWidget *, Renderer> contentRenderers;      // window to a renderer of its root view
    std::shared_ptr<StatusItem> statusItem;
    bool terminationInFlight = false;
    bool terminationScheduled = false;
    std::optional<QString> pendingError;
    QPointer<QMessageBox> errorAlert;
    QList<QMetaObject::Connection> subscriptions;
    bool captureScheduled = false;
    bool leavingQuietly = false;
    std::optional<QCoro::Task<>> idleCheck;
    bool installing = false;

    // ---- The runtime's questions

    // The launch, given the process arguments (the executable first).
    void applicationDidFinishLaunching(const QStringList &arguments);
    TerminateReply applicationShouldTerminate() override;
    void applicationWillTerminate() override;
    void applicationDidBecomeActive() override;
    // Fronts the main window, whatever else is visible; always true.
    bool applicationShouldHandleReopen(bool hasVisibleWindows) override;
    // Closing the last window never quits.
    static bool applicationShouldTerminateAfterLastWindowClosed() { return false; }

    // ---- Windows

    // Brings the main window to the front, building it first when needed.
    void showMain();
    // Brings the window of computer `id` to the front, building it first when needed.
    void showPeer(const QString &id);
    // A window around `view` (taken over), of content size `size`, registered in
    // contentHosts and contentRenderers. The title "Corvane" gives the main-window
    // look; any other the computer-window look.
    QMainWindow *makeWindow(const QString &title, QWidget *view, QSize size);
    // The main window (when present) and every computer window, those visible and
    // not minimised, in that order.
    QList<QMainWindow *> visibleWindows() const;

    // ---- Errors and notification responses

    // Makes `text` the pending error (after logging it) and tries to show it: the
    // model's errors and the update controller's arrive here.
    void presentError(const QString &text);
    // Shows the pending error in a sheet on the main window, unless a quit drain
    // runs or a sheet is already up.
    void showPendingError();
    // Follows the model's errors into the error sheet, and the responses to the
    // notices (the latter only for the packaged application, whose notices they are).
    void subscribeToErrorsAndResponses();
    // A click on a notice or one of its buttons: reveals the received files, opens
    // the computer's shared files, or brings up its window (the main window without
    // a computer). `completion` runs once that is done.
    void didReceiveNotificationResponse(const NotificationResponse &response, std::function<void()> completion = {});
    // How a notice that arrives while the application is in front is presented: in
    // the list and as a banner, without sound or badge.
    enum PresentationOption { presentBadge = 1, presentSound = 2, presentList = 8, presentBanner = 16 };
    static int willPresentNotification() { return presentList | presentBanner; }

    // ---- Quitting and idle leaving

    // The Quit command: queues one termination on a later turn of the event loop.
    void requestQuit();
    // The queued termination.
    void terminateFromRunLoop();
    // Arms the idle-leave check when the service runs as a login agent and nothing
    // keeps the application on screen.
    void considerLeaving();

    AppRuntime &runtime() const { return *runtime_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The action that makes the application regular, fronts the main window (no id)
    // or the window of computer `id`, looked up when it runs, and activates.
    std::function<void()> frontingAction(std::optional<QString> peerId);
    void windowWillClose(QWidget *closing);
    void registerContent(QMainWindow *window, QWidget *host);
    // The sheet's end: opens the privacy settings when asked, clears the model's
    // error when it is still `error`, and shows the next pending one.
    void errorSheetDone(QMessageBox *box, const QString &error, bool privacy, bool openSettings);
    // The conditions that arm the idle-leave check (and must still hold to leave).
    bool idleLeaveArmable() const;
    // Waits 5 s, then leaves quietly when nothing keeps the application.
    static QCoro::Task<> idleLeave(QPointer<AppDelegate> self);
    // Waits for the model to stop the service, then answers the held termination.
    static QCoro::Task<> drain(QPointer<AppDelegate> self);

    QPointer<AppRuntime> runtime_;
    // Launched with "--demo" or "--render": the service is never touched.
    bool developmentMode_ = false;
};

} // namespace cv

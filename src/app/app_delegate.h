#pragma once

#include "app/install_location.h"
#include "app/updates.h"
#include "devtools/development_host.h"
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

class MainMenu;
class StatusItem;
class StatusMenu;

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
    QPointer<QMainWindow> lastPeerWindow; // the computer window built last: the next cascades on its screen
    QHash<const QWidget *, QPointer<QWidget>> contentHosts; // window to its root view
    QHash<const QWidget *, Renderer> contentRenderers;      // window to a renderer of its root view
    // The main menu, shown in every window's menu bar, and the status-area item with
    // its menu (the item exists while "Show in menu bar" is on); both made by
    // configureMenus().
    std::unique_ptr<MainMenu> mainMenu;
    std::unique_ptr<StatusMenu> statusMenu;
    bool terminationInFlight = false;
    bool terminationScheduled = false;
    std::optional<QString> pendingError;
    QPointer<QMessageBox> errorAlert;
    QList<QMetaObject::Connection> subscriptions;
    bool captureScheduled = false;
    bool leavingQuietly = false;
    std::optional<QCoro::Task<>> idleCheck;
    bool installing = false;

    // ---- Parts tests replace; set before the launch

    // The move into the Applications folder; empty parts: the real ones.
    InstallLocation::Platform installPlatform;
    // Makes the status-area item; empty: the desktop's tray item.
    std::function<std::unique_ptr<StatusItem>()> makeStatusItem;

    // ---- The runtime's questions

    // The launch, given the process arguments (the executable first): the log, the
    // icon, the move offer, the options, the menus, the model's callbacks and the
    // subscriptions, then either a development mode or the update controller, the
    // polling task and the first window.
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
    // The two looks a window can have.
    enum class WindowKind { main, computer };
    // A window of look `kind` around `view` (taken over), of content size `size`,
    // registered in contentHosts and contentRenderers. The look never follows the
    // title: a computer may be named like the application.
    QMainWindow *makeWindow(WindowKind kind, const QString &title, QWidget *view, QSize size);
    // The main window (when present) and every computer window that is shown, in that
    // order. A minimised window is still the user's window and counts.
    QList<QMainWindow *> visibleWindows() const;

    // ---- Menus and status item

    // Builds the main menu once (every window built afterwards carries it) and the
    // status menu, then shows or hides the status item as "Show in menu bar" says.
    void configureMenus();
    // Creates (true) or removes (false) the status item; nothing before configureMenus().
    void updateStatusItem(bool show);
    // Brings the status menu up to date with the model.
    void rebuildStatusMenu();

    // ---- Development capture

    // Called at every model change: once the model holds a status and
    // CV_MAC_CAPTURE_DIR names an absolute folder, starts the one capture run.
    void scheduleDevelopmentCapture();

    // ---- Errors and notification responses

    // Makes `text` the pending error (after logging it) and tries to show it: the
    // model's errors and the update controller's arrive here.
    void presentError(const QString &text);
    // Shows the pending error in a sheet on the main window, unless a quit drain
    // runs or a sheet is already up.
    void showPendingError();
    // Follows the model's errors into the error sheet: each text as it was set, on a
    // later turn, so two errors set in one turn are both shown.
    void subscribeToErrors();
    // The packaged application's notices: registers their three categories and
    // answers clicks on them. Does nothing for a run from a build folder.
    void registerNotificationCategories();
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

    // ---- Windows closing

    // Follows every window of the application that closes (and every dialog that is
    // hidden, which Qt does instead of closing it) to set the activation policy.
    void observeWindowClosing();

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
    // "--render" and "--demo": the development modes, which end the launch before the
    // service is touched; false when neither is given.
    bool startDevelopmentMode(const QStringList &arguments);
    // The delegate as the development tools see it.
    DevelopmentHost developmentHost();
    // Launched with "--demo" or "--render": the service is never touched.
    bool developmentMode_ = false;
    bool observingWindows_ = false;
};

} // namespace cv

#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class QSocketNotifier;
class QWidget;

namespace cv {

// Whether the application shows itself as a regular application (a window of its
// own is on screen) or as a menu-bar accessory. Linux desktops have no Dock, so the
// policy is only recorded and announced; the values are the platform's.
enum class ActivationPolicy { regular = 0, accessory = 1, prohibited = 2 };

// The three answers to a termination request.
enum class TerminateReply { cancel = 0, now = 1, later = 2 };

// What the application runtime asks of the application.
class AppRuntimeDelegate {
public:
    virtual ~AppRuntimeDelegate() = default;

    // Asked by every termination request; `later` holds the process open until
    // replyToApplicationShouldTerminate().
    virtual TerminateReply applicationShouldTerminate() = 0;
    // The process is about to leave its event loop.
    virtual void applicationWillTerminate() = 0;
    // The application became the active one.
    virtual void applicationDidBecomeActive() = 0;
    // The user launched the application again while it runs.
    virtual bool applicationShouldHandleReopen(bool hasVisibleWindows) = 0;
};

// The shared application as the shell sees it: the activation policy, activating a
// window, the termination handshake, the activation hook, and the termination
// signals of the process (SIGTERM, SIGINT, SIGHUP: logging out, a terminal's Ctrl+C,
// a closed terminal), which end up as ordinary termination requests. Main thread only.
class AppRuntime final : public QObject {
    Q_OBJECT
public:
    explicit AppRuntime(QObject *parent = nullptr);
    ~AppRuntime() override;

    void setDelegate(AppRuntimeDelegate *delegate) { delegate_ = delegate; }

    ActivationPolicy activationPolicy() const { return policy_; }
    // Records the policy; announces a change. Returns true (every policy is accepted).
    bool setActivationPolicy(ActivationPolicy policy);

    // Brings `window` to the front and gives it the keyboard focus, restoring it
    // first when it is minimised; a hidden application comes back first (unhide()).
    void makeKeyAndOrderFront(QWidget *window);
    // Asks the window system to make this application the active one; a hidden
    // application comes back first (unhide()).
    void activateIgnoringOtherApps();
    // Hides the application: Linux desktops hide no application as a whole, so its
    // shown windows are minimised, and remembered until it comes back.
    void hide();
    // Brings back what hide() minimised: the windows still minimised are restored.
    void unhide();
    // Whether the window system keeps windows in a stacking order that raising and
    // grabs act on: not the offscreen platform of a reference rendering (or of the
    // tests), which has neither and warns on every request for them.
    static bool stacksWindows();

    // A termination request: asks the delegate and follows its answer. Now: tells
    // the delegate it will terminate, then leaves the event loop. Later: waits for
    // replyToApplicationShouldTerminate(). Cancel: goes on running.
    void terminate();
    // A termination the system asked for with a signal: a request the delegate must
    // not refuse (see signalled()).
    void terminateOnSignal();
    // A termination signal has arrived.
    bool signalled() const { return signalled_; }
    // The delegate's late answer to a termination request; ignored when none waits.
    void replyToApplicationShouldTerminate(bool shouldTerminate);
    // A termination answered `later` waits for its reply.
    bool terminationPending() const { return pending_; }
    // A termination is under way: it waits for its reply, or the event loop is left.
    bool quitting() const { return pending_ || terminated_; }

    // The activation hook: runs on every change of the application state to active
    // (and tests call it directly, since offscreen becomes active once and stays so).
    void becomeActive();
    // A second launch of the application asks this one to reopen.
    void reopen();

    // Routes SIGTERM, SIGINT and SIGHUP to terminateOnSignal() through a self-pipe, so the
    // handler itself only writes one byte. Once per process; false when the pipe or
    // the handlers could not be set up.
    bool installSignalHandlers();

    // Leaves the event loop with the given code; tests replace it.
    std::function<void(int)> exitLoop;

signals:
    void activationPolicyChanged(cv::ActivationPolicy policy);
    // activateIgnoringOtherApps() was asked.
    void activationRequested();
    void willTerminate();
    // quitting() changed: a termination began, or its reply refused it.
    void quittingChanged(bool quitting);

private:
    void finishTermination();
    // Announces quitting() when it differs from `before`.
    void announceQuitting(bool before);
    void onSignalPipe();

    AppRuntimeDelegate *delegate_ = nullptr;
    ActivationPolicy policy_ = ActivationPolicy::regular;
    bool pending_ = false;
    bool terminated_ = false;
    bool signalled_ = false;
    QSocketNotifier *signalNotifier_ = nullptr;
    QList<QPointer<QWidget>> hidden_; // minimised by hide()
};

} // namespace cv

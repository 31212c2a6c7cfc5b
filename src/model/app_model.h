#pragma once

#include "model/drives.h"
#include "platform/clock.h"
#include "platform/lifetime.h"
#include "service/command.h"
#include "service/records.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <QCoroTask>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QCollator;

namespace cv {

class Alerts;
class CableProbe;
class NotificationCenter;
class OpenPanels;
class ServiceClient;
class ServiceHost;
class UserDefaults;
class VolumeSource;
class Workspace;

// What the model works with. Anything left empty is the real one.
struct AppModelCollaborators {
    std::shared_ptr<ServiceClient> client; // empty: a client for the default runtime directory
    std::shared_ptr<ServiceHost> host;
    Clock *clock = nullptr; // empty: the system clock; not owned
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<NotificationCenter> notificationCenter;
    std::shared_ptr<CableProbe> cable; // the cable and link-kind probes
    std::shared_ptr<const VolumeSource> volumes; // the mounted volumes, for the drive list
    std::optional<bool> previewMultiDrive; // empty: as the environment says
    std::shared_ptr<Workspace> workspace;
    std::shared_ptr<Alerts> alerts;
    std::shared_ptr<OpenPanels> openPanels;
    std::optional<bool> packaged; // empty: whether this process runs installed
    std::function<void(const QString &)> log; // empty: the application log
};

// The one observable state object behind every window, the status menu and the
// notices: the last state of the service, the state of the application's own work,
// the user's settings, and the bookkeeping the polling loop, the events and the
// notices share. Main thread only.
//
// Published fields are Qt properties; each setter stores the value and then emits
// the field's change signal and `changed()`, on every set, also of an unchanged value.
//
// The definitions are spread over several files by area:
//   app_model.cpp             construction, fields, settings
//   app_model_queries.cpp     what the views ask
//   app_model_permission.cpp  notification permission
//   app_model_refresh.cpp     status refresh and the event cursor
//   app_model_startup.cpp     bringing the service up, retry, stop, start at sign-in
//   app_model_quit.cpp        quitting
//   app_model_events.cpp      service events
//   app_model_polling.cpp     the polling task and the probe schedule
//   app_model_commands.cpp    user commands
//   app_model_files.cpp       sending, copying and dropped files
//   app_model_notices.cpp     connection and delivery notices
//   app_model_demo.cpp        demo mode
class AppModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<cv::ServiceStatus> status READ status WRITE setStatus NOTIFY statusChanged)
    Q_PROPERTY(bool connected READ connected WRITE setConnected NOTIFY connectedChanged)
    Q_PROPERTY(bool starting READ starting WRITE setStarting NOTIFY startingChanged)
    Q_PROPERTY(bool mutating READ mutating WRITE setMutating NOTIFY mutatingChanged)
    Q_PROPERTY(std::optional<QString> error READ error WRITE setError NOTIFY errorChanged)
    Q_PROPERTY(std::optional<QString> serviceError READ serviceError WRITE setServiceError NOTIFY serviceErrorChanged)
    Q_PROPERTY(QString notificationsDetail READ notificationsDetail WRITE setNotificationsDetail NOTIFY notificationsDetailChanged)
    Q_PROPERTY(cv::AppModel::NotificationState notifications READ notifications WRITE setNotifications NOTIFY notificationsChanged)
    Q_PROPERTY(bool showInMenuBar READ showInMenuBar WRITE setShowInMenuBar NOTIFY showInMenuBarChanged)
    Q_PROPERTY(bool notifyConnections READ notifyConnections WRITE setNotifyConnections NOTIFY notifyConnectionsChanged)
    Q_PROPERTY(bool notifyFiles READ notifyFiles WRITE setNotifyFiles NOTIFY notifyFilesChanged)
    Q_PROPERTY(bool cablePlugged READ cablePlugged WRITE setCablePlugged NOTIFY cablePluggedChanged)
    Q_PROPERTY(std::optional<QString> linkKind READ linkKind WRITE setLinkKind NOTIFY linkKindChanged)
    Q_PROPERTY(Disconnected disconnected READ disconnected WRITE setDisconnected NOTIFY disconnectedChanged)
    Q_PROPERTY(std::optional<QString> lastReceiveFolder READ lastReceiveFolder WRITE setLastReceiveFolder NOTIFY lastReceiveFolderChanged)

public:
    // The notification permission, in this order.
    enum class NotificationState { unavailable, notDetermined, denied, allowed };
    Q_ENUM(NotificationState)

    // Computer id to computer name.
    using Disconnected = QMap<QString, QString>;

    // Received files gathered for one sending computer until its notice is due.
    struct PendingDelivery {
        QString name;
        std::uint64_t count = 0;
        QStringList paths;
        QDateTime until;
    };

    // When the shareable drives were last listed, and the list.
    struct DrivesCache {
        QDateTime listed;
        QList<Drive> drives;
    };

    using Collaborators = AppModelCollaborators;

    // The earliest time there is: every throttle and cache starts there.
    static QDateTime distantPast();

    explicit AppModel(Collaborators collaborators = {}, QObject *parent = nullptr);
    ~AppModel() override;

    // ---- Published fields, in declaration order

    const std::optional<ServiceStatus> &status() const { return status_; }
    void setStatus(std::optional<ServiceStatus> value);

    bool connected() const { return connected_; }
    void setConnected(bool value);

    bool starting() const { return starting_; }
    void setStarting(bool value);

    bool mutating() const { return mutating_; }
    void setMutating(bool value);

    const std::optional<QString> &error() const { return error_; }
    void setError(std::optional<QString> value);

    // Every new text is written to the application log.
    const std::optional<QString> &serviceError() const { return serviceError_; }
    void setServiceError(std::optional<QString> value);

    const QString &notificationsDetail() const { return notificationsDetail_; }
    void setNotificationsDetail(QString value);

    NotificationState notifications() const { return notifications_; }
    void setNotifications(NotificationState value);

    // Setting stores "showInMenuBar".
    bool showInMenuBar() const { return showInMenuBar_; }
    void setShowInMenuBar(bool value);

    // Setting stores "notifyConnections" and asks for permission when turned on
    // while it is not determined yet.
    bool notifyConnections() const { return notifyConnections_; }
    void setNotifyConnections(bool value);

    // As notifyConnections, with "notifyFiles".
    bool notifyFiles() const { return notifyFiles_; }
    void setNotifyFiles(bool value);

    bool cablePlugged() const { return cablePlugged_; }
    void setCablePlugged(bool value);

    const std::optional<QString> &linkKind() const { return linkKind_; }
    void setLinkKind(std::optional<QString> value);

    const Disconnected &disconnected() const { return disconnected_; }
    void setDisconnected(Disconnected value);

    // Setting stores "lastReceiveFolder"; none removes the key.
    const std::optional<QString> &lastReceiveFolder() const { return lastReceiveFolder_; }
    void setLastReceiveFolder(std::optional<QString> value);

    // ---- Fields the shell and the demo mode reach

    ServiceHost &host() const { return *host_; }
    ServiceClient &client() const { return *client_; }
    Clock &clock() const { return *clock_; }

    // Opens a computer's window by id; set by the shell, may stay empty.
    std::function<void(const QString &)> showPeer;
    // Asks the shell to rebuild the status menu and reconsider idle leaving.
    std::function<void()> stateChanged;

    // No command is sent to the service while demo mode is on.
    bool demo() const { return demo_; }
    void setDemo(bool value) { demo_ = value; }
    // Turns demo mode on for good and shows `status` as the connected service's.
    void showDemo(ServiceStatus status);
    // A demo or reference-rendering launch, before anything observes the model or its
    // host: demo mode goes on, the settings become the demo's own (in memory, from
    // their defaults: the user's are neither read nor written), and the host offers no
    // login agent, so nothing asks the service manager.
    void beginDemo();

    bool packaged() const { return packaged_; }

    // The notification centre the notices go to, and the desktop's workspace (made
    // on first use): the shell answers clicks on notices through them.
    NotificationCenter &notificationCenter() const { return *notificationCenter_; }
    Workspace &workspace();
    // The open panels of this model's platform, for the views' own folder choices.
    OpenPanels &openPanels();

    // ---- View queries

    // How computer names are ordered: case ignored, numbers by value, in the user's language.
    static QCollator nameCollator();
    QList<Peer> peers() const;
    QList<RememberedPeer> offline() const;
    bool busy() const;
    bool receiveSupported() const;
    std::optional<Peer> peer(const QString &id) const;
    std::optional<RememberedPeer> remembered(const QString &id) const;
    QString name(const QString &id) const;
    Share share(const QString &id) const;
    QList<Drive> shareableDrives() const;
    bool multiDrive() const;
    QStringList sharedDrives(const QString &id) const;
    QString drivesDescription(const QString &id) const;
    QString linkDescription(const QString &id) const;
    QString linkKindDescription(const QString &id) const;
    bool canCopy(const QString &id) const;
    bool canCopyTo(const QString &id) const;
    bool canSend(const QString &id) const;
    std::optional<QString> defaultReceiveFolder() const;
    bool hasPendingNotices() const;

    // ---- Following the service

    // Asks the next events from after `since`.
    void replayEvents(std::uint64_t since);
    // Events, status, event handling and due notices; never throws.
    QCoro::Task<> refresh();
    // The Retry button: a new start-up followed by a refresh.
    void retryService();
    // The start-at-sign-in switch.
    QCoro::Task<> setStartAtLogin(bool on);
    // Stops the service; true when the application may end. `signalled`: the system
    // ends the application (SIGTERM), which is never refused: after the bounded wait
    // the application's own child is stopped whatever the service answered.
    QCoro::Task<bool> quit(bool signalled = false);
    // Starts the polling task.
    void start();

    // ---- User commands

    void run(Command command);
    void choose(QString id, QString mode, std::optional<QString> path, std::optional<QStringList> paths,
                bool readOnly, bool remember, std::optional<QString> pairingCode);
    // Asks first; ends once the alert is answered. The caller need not wait.
    QCoro::Task<> forget(QString id);
    void resolveCopy(QString id, QString decision);
    bool canDismiss() const;
    void dismiss(QStringList ids);
    void openFiles(QString id);
    void showCopied(CopyJob job);
    static bool isPrivacyRefusal(const std::optional<QString> &message);
    void openPrivacySettings();
    // Whether the system has a privacy pane for file access (no Linux desktop has
    // one); the controls that would open it are offered only then.
    bool canOpenPrivacySettings() const;

    // ---- Files

    // Both end once their panel closed; the caller need not wait.
    QCoro::Task<> pickFiles(QString id);
    void send(QList<QUrl> urls, QString id);
    // The dropped items, one URL each; true when the drop is taken.
    bool acceptDrop(QList<QUrl> items, QString peer);
    void copyDropped(QList<QUrl> urls, QString peer);
    QUrl downloadsFolder() const;
    void copy(QList<QUrl> urls, QUrl destination, QString peer);
    QCoro::Task<> getFiles(QString id);

    // ---- Notification permission

    QCoro::Task<> refreshNotifications();
    void requestNotifications();

signals:
    void statusChanged();
    void connectedChanged();
    void startingChanged();
    void mutatingChanged();
    void errorChanged();
    void serviceErrorChanged();
    void notificationsDetailChanged();
    void notificationsChanged();
    void showInMenuBarChanged();
    void notifyConnectionsChanged();
    void notifyFilesChanged();
    void cablePluggedChanged();
    void linkKindChanged();
    void disconnectedChanged();
    void lastReceiveFolderChanged();
    // After any published field was set, and after a new drive list arrived.
    void changed();

private:
    friend struct AppModelAccess; // tests reach the private operations through it

    // Status half of a refresh; throws ServiceError.
    QCoro::Task<> updateStatus(std::optional<double> deadline);
    // The part of `run` that waits: the exchange, then the refresh that shows what the
    // command changed. Takes the model by a guarded pointer: it may go away meanwhile.
    static QCoro::Task<> perform(QPointer<AppModel> model, std::shared_ptr<ServiceClient> client, Command command);
    // Opens a computer's folder in the file manager; a failure is shown with `path`.
    // Nobody waits for it.
    QCoro::Task<> showFolder(QUrl folder, QString path);
    // Lists the volumes on the probe pool and keeps the drives for the view queries.
    QCoro::Task<> listDrives();
    // What `task` ends with, as long as this model lives; a model destroyed meanwhile
    // never resumes the coroutine that awaits it. Every wait of the model's coroutines
    // on something outside the model goes through here.
    template<class T>
    QCoro::Task<T> alive(QCoro::Task<T> task) const { return whileAlive(lifetime_.watch(), std::move(task)); }
    template<class T>
    QCoro::Task<T> alive(QFuture<T> future) const { return whileAlive(lifetime_.watch(), std::move(future)); }
    // `asChild`: a service that has to be started is started as a child process.
    // `startAsked`: the login agent's start was already asked (and taken on): the
    // start-up only waits for its service, replacing it as it replaces any start.
    QCoro::Task<> startServiceIfNeeded(bool asChild = false, bool startAsked = false);
    // How a change of start at sign-in ended: its failure, or null when it went
    // through, did not begin, or a quit ended it. (A task cannot carry a bare
    // exception_ptr as its value.)
    struct LoginChange {
        std::exception_ptr failure;
    };
    // Turns start at sign-in on or off (see setStartAtLogin); the failure is shown
    // unless the change is `automatic` (the first launch's).
    QCoro::Task<LoginChange> changeStartAtLogin(bool on, bool automatic);
    // The hand-over's stop of the running service, just before the agent's start; a
    // model gone by then stops nothing.
    static QCoro::Task<> stopForHandOver(QPointer<AppModel> model);
    // The exit text of the last child, unless it was stopped on purpose.
    std::optional<QString> childExit();
    // Throws ServiceError, or CancelledError when the polling task was cancelled.
    QCoro::Task<> stopService();
    QCoro::Task<> startAtLoginByDefault();
    void handle(ServiceEvent event);
    QCoro::Task<> flushNotifications();
    QCoro::Task<> notify(QString id, QString peer, QString title, QString body, QStringList paths);
    QCoro::Task<> pollingBody();
    QCoro::Task<> refreshCable();
    QCoro::Task<> refreshLink();

    // The platform pieces the commands and files use; made on first use.
    Alerts &alerts();
    UserDefaults &defaults() const { return *defaults_; }
    CableProbe &cable() const { return *cable_; }
    const VolumeSource &volumes() const { return *volumes_; }

    void published(void (AppModel::*signal)());
    // The four settings fields from the settings, as construction reads them.
    void readSettings();

    // Published fields and their companions, in declaration order.
    std::optional<ServiceStatus> status_;
    bool connected_ = false;
    bool starting_ = true;
    bool mutating_ = false;
    std::optional<QString> error_;
    std::optional<QString> serviceError_;
    QString notificationsDetail_;
    NotificationState notifications_ = NotificationState::unavailable;
    bool showInMenuBar_ = false;
    bool notifyConnections_ = true;
    bool notifyFiles_ = true;
    bool cablePlugged_ = false;
    std::optional<QString> linkKind_;
    QDateTime linkChecked_;
    Disconnected disconnected_;
    std::shared_ptr<ServiceHost> host_;
    std::shared_ptr<ServiceClient> client_;
    // showPeer and stateChanged are public above.
    std::optional<QCoro::Task<>> polling_;
    CancelToken pollingCancel_; // cancels the polling task's sleeps
    std::optional<std::uint64_t> cursor_;
    QMap<QString, QString> choiceShown_;      // computer id to pairing code
    QMap<QString, QDateTime> pendingReconnect_; // computer id to due time
    QMap<QString, PendingDelivery> pendingDeliveries_;
    bool quitting_ = false;
    // Cancelled when a quit begins, renewed when one is refused: from then on no
    // change of start at sign-in begins.
    CancelToken quitBegun_;
    bool refreshing_ = false;
    bool hasSeenService_ = false;
    // The service is down on purpose: start at sign-in hands it between the child
    // and the login agent.
    bool handingOver_ = false;
    // Cancelled by a quit: no further step of the hand-over begins.
    CancelToken handOverCallOff_;
    // The child stopped on purpose last (its launch, ServiceHost::childLaunches()):
    // its exit is no failure. Cleared once a later child is seen.
    std::optional<int> stoppedChild_;
    QDateTime cableChecked_;
    mutable DrivesCache drivesCache_;
    // Volume listings still running, and when (uptime) the newest of them began.
    mutable int drivesListings_ = 0;
    mutable double drivesListingBegan_ = 0;
    double drivesListedBegan_ = 0; // when the listing in the cache began
    // Status requests sent so far, and for each computer the user disconnected, how
    // many had been sent when the service answered the "disconnect" (none while it
    // has not answered). Only a status asked for after that answer may take the
    // computer off `disconnected`.
    std::uint64_t statusAsked_ = 0;
    QMap<QString, std::optional<std::uint64_t>> disconnectAnswered_;
    std::optional<QString> lastReceiveFolder_;
    bool demo_ = false;

    // Collaborators.
    Clock *clock_ = nullptr;
    std::shared_ptr<UserDefaults> defaults_;
    std::shared_ptr<NotificationCenter> notificationCenter_;
    std::shared_ptr<CableProbe> cable_;
    std::shared_ptr<const VolumeSource> volumes_;
    bool previewMultiDrive_ = false;
    std::shared_ptr<Workspace> workspace_;
    std::shared_ptr<Alerts> alerts_;
    std::shared_ptr<OpenPanels> openPanels_;
    bool packaged_ = false;
    std::function<void(const QString &)> log_;

    // Ends first thing in the destructor: see alive().
    Lifetime lifetime_;
};

} // namespace cv

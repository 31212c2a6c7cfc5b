#include "model/app_model.h"

#include "model/cable.h"
#include "model/drives.h"
#include "platform/app_bundle.h"
#include "platform/mounted_volumes.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "service/diagnostics.h"
#include "service/service_client.h"
#include "service/service_host.h"

#include <QTimeZone>

namespace cv {

namespace {

const QString showInMenuBarKey = QStringLiteral("showInMenuBar");
const QString notifyConnectionsKey = QStringLiteral("notifyConnections");
const QString notifyFilesKey = QStringLiteral("notifyFiles");
const QString lastReceiveFolderKey = QStringLiteral("lastReceiveFolder");

// A shared pointer that does not own the process-wide object it points to (a const
// one too).
template<class T>
std::shared_ptr<T> unowned(T &object)
{
    return std::shared_ptr<T>(std::shared_ptr<T>(), &object);
}

} // namespace

QDateTime AppModel::distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), QTimeZone::utc());
}

AppModel::AppModel(Collaborators collaborators, QObject *parent)
    : QObject(parent)
{
    clock_ = collaborators.clock ? collaborators.clock : &Clock::system();
    defaults_ = collaborators.defaults ? std::move(collaborators.defaults) : unowned(UserDefaults::standard());
    notificationCenter_ = collaborators.notificationCenter ? std::move(collaborators.notificationCenter)
                                                           : unowned(NotificationCenter::current());
    cable_ = collaborators.cable ? std::move(collaborators.cable) : unowned(Cable::system());
    volumes_ = collaborators.volumes ? std::move(collaborators.volumes) : unowned(VolumeSource::system());
    previewMultiDrive_ = collaborators.previewMultiDrive.value_or(Drives::previewMultiDrive());
    workspace_ = std::move(collaborators.workspace);
    alerts_ = std::move(collaborators.alerts);
    openPanels_ = std::move(collaborators.openPanels);
    packaged_ = collaborators.packaged.value_or(AppBundle::main().packaged());
    log_ = collaborators.log ? std::move(collaborators.log) : [](const QString &text) { Diagnostics::log(text); };

    // Fields in declaration order. Reading the settings writes nothing back and asks
    // for nothing; no observer runs during construction.
    readSettings();
    linkChecked_ = distantPast();
    host_ = collaborators.host ? std::move(collaborators.host) : std::make_shared<ServiceHost>();
    client_ = collaborators.client ? std::move(collaborators.client) : std::make_shared<ServiceClient>();
    cableChecked_ = distantPast();
    drivesCache_ = {distantPast(), {}};
}

void AppModel::readSettings()
{
    showInMenuBar_ = defaults_->boolValue(showInMenuBarKey);
    notifyConnections_ = defaults_->isBool(notifyConnectionsKey) ? defaults_->boolValue(notifyConnectionsKey) : true;
    notifyFiles_ = defaults_->isBool(notifyFilesKey) ? defaults_->boolValue(notifyFilesKey) : true;
    lastReceiveFolder_ = defaults_->string(lastReceiveFolderKey);
}

// Returns at once: the service is not stopped and no setting written. Work still in
// flight (a request to a hung service, a probe, a pause) ends on its own and never
// resumes this model; the polling task's pauses are woken so they end now.
AppModel::~AppModel()
{
    lifetime_.end();
    pollingCancel_.cancel();
}

void AppModel::published(void (AppModel::*signal)())
{
    emit(this->*signal)();
    emit changed();
}

void AppModel::setStatus(std::optional<ServiceStatus> value)
{
    status_ = std::move(value);
    published(&AppModel::statusChanged);
}

void AppModel::setConnected(bool value)
{
    connected_ = value;
    published(&AppModel::connectedChanged);
}

void AppModel::setStarting(bool value)
{
    starting_ = value;
    published(&AppModel::startingChanged);
}

void AppModel::setMutating(bool value)
{
    mutating_ = value;
    published(&AppModel::mutatingChanged);
}

void AppModel::setError(std::optional<QString> value)
{
    error_ = std::move(value);
    published(&AppModel::errorChanged);
}

void AppModel::setServiceError(std::optional<QString> value)
{
    const bool fresh = value && value != serviceError_;
    serviceError_ = std::move(value);
    if (fresh)
        log_(QStringLiteral("service unavailable: ") + *serviceError_);
    published(&AppModel::serviceErrorChanged);
}

void AppModel::setNotificationsDetail(QString value)
{
    notificationsDetail_ = std::move(value);
    published(&AppModel::notificationsDetailChanged);
}

void AppModel::setNotifications(NotificationState value)
{
    notifications_ = value;
    published(&AppModel::notificationsChanged);
}

void AppModel::setShowInMenuBar(bool value)
{
    showInMenuBar_ = value;
    defaults_->setBool(showInMenuBarKey, value);
    published(&AppModel::showInMenuBarChanged);
}

void AppModel::setNotifyConnections(bool value)
{
    notifyConnections_ = value;
    defaults_->setBool(notifyConnectionsKey, value);
    if (value && notifications_ == NotificationState::notDetermined)
        requestNotifications();
    published(&AppModel::notifyConnectionsChanged);
}

void AppModel::setNotifyFiles(bool value)
{
    notifyFiles_ = value;
    defaults_->setBool(notifyFilesKey, value);
    if (value && notifications_ == NotificationState::notDetermined)
        requestNotifications();
    published(&AppModel::notifyFilesChanged);
}

void AppModel::setCablePlugged(bool value)
{
    cablePlugged_ = value;
    published(&AppModel::cablePluggedChanged);
}

void AppModel::setLinkKind(std::optional<QString> value)
{
    linkKind_ = std::move(value);
    published(&AppModel::linkKindChanged);
}

void AppModel::setDisconnected(Disconnected value)
{
    disconnected_ = std::move(value);
    published(&AppModel::disconnectedChanged);
}

void AppModel::setLastReceiveFolder(std::optional<QString> value)
{
    lastReceiveFolder_ = std::move(value);
    if (lastReceiveFolder_)
        defaults_->setString(lastReceiveFolderKey, *lastReceiveFolder_);
    else
        defaults_->remove(lastReceiveFolderKey);
    published(&AppModel::lastReceiveFolderChanged);
}

} // namespace cv

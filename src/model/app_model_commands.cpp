#include "model/app_model.h"

#include "localization/localization.h"
#include "model/failures.h"
#include "platform/alerts.h"
#include "platform/workspace.h"
#include "service/reply.h"
#include "service/service_client.h"

#include <QFileInfo>
#include <QPointer>

#include <exception>

namespace cv {

namespace {

// At most this many activities are cleared by one "dismiss".
constexpr qsizetype dismissLimit = 256;

} // namespace

// Everything is passed by value; the model may go away while the exchange runs.
QCoro::Task<> AppModel::perform(QPointer<AppModel> model, std::shared_ptr<ServiceClient> client, Command command)
{
    const bool disconnecting = command.op == QLatin1String("disconnect") && command.peer;
    const QString peer = command.peer.value_or(QString());
    std::optional<QString> failure;
    try {
        QCoro::Task<EmptyResult> request = client->request<EmptyResult>(std::move(command));
        co_await std::move(request);
    } catch (...) {
        failure = failure::describe(std::current_exception());
    }
    if (!model)
        co_return;
    // From here on a status reply may show the computer connected again.
    if (disconnecting && model->disconnectAnswered_.contains(peer))
        model->disconnectAnswered_[peer] = model->statusAsked_;
    if (failure)
        model->setError(*failure);
    QCoro::Task<> refreshed = model->refresh();
    co_await std::move(refreshed);
    if (model)
        model->setMutating(false);
}

void AppModel::run(Command command)
{
    // The check and the flag below happen in one turn of the event loop, so a second
    // click before the reply is refused here.
    if (busy())
        return;
    if (demo_)
        return;

    if (command.op == QLatin1String("disconnect") && command.peer) {
        if (const std::optional<Peer> found = peer(*command.peer)) {
            Disconnected entries = disconnected_;
            entries.insert(*command.peer, found->name);
            disconnectAnswered_.insert(*command.peer, std::nullopt);
            setDisconnected(std::move(entries));
        }
    }
    if (command.op == QLatin1String("connect") && command.peer && disconnected_.contains(*command.peer)) {
        Disconnected entries = disconnected_;
        entries.remove(*command.peer);
        disconnectAnswered_.remove(*command.peer);
        setDisconnected(std::move(entries));
    }

    setMutating(true);
    perform(QPointer<AppModel>(this), client_, std::move(command));
}

void AppModel::choose(QString id, QString mode, std::optional<QString> path, std::optional<QStringList> paths,
                      bool readOnly, bool remember, std::optional<QString> pairingCode)
{
    // Only a service that shares several drives reads a list of them.
    std::optional<QStringList> drives;
    if (status_ && status_->capabilities.contains(QStringLiteral("multi_drive")) && mode == QLatin1String("drive")) {
        if (paths)
            drives = std::move(paths);
        else if (path)
            drives = QStringList{*path};
    }
    run(Command{
        .op = QStringLiteral("choose"),
        .peer = std::move(id),
        .mode = std::move(mode),
        .path = std::move(path),
        .read_only = readOnly,
        .remember = remember,
        .pairing_code = std::move(pairingCode),
        .paths = std::move(drives),
    });
}

QCoro::Task<> AppModel::forget(QString id)
{
    if (busy())
        co_return;
    Alert alert;
    alert.message = L(QStringLiteral("Forget {name}?"), {{QStringLiteral("name"), name(id)}});
    alert.informative = L(QStringLiteral("Its saved sharing choice will be removed and sharing will stop. "
                                         "You’ll confirm the computer again next time."));
    alert.buttons = QStringList{L(QStringLiteral("Forget")), L(QStringLiteral("Cancel"))};
    alert.style = Alert::Style::warning;
    alert.cancelButton = 1;
    // Only a click on "Forget" forgets; Escape, closing the alert or no answer at all
    // leave the computer as it is.
    QCoro::Task<int> answer = alive(alerts().run(std::move(alert)));
    if (co_await std::move(answer) != 0)
        co_return;
    run(Command{.op = QStringLiteral("forget"), .peer = std::move(id)});
}

void AppModel::resolveCopy(QString id, QString decision)
{
    run(Command{.op = QStringLiteral("resolve_copy"), .id = std::move(id), .decision = std::move(decision)});
}

bool AppModel::canDismiss() const
{
    return connected_ && status_ && status_->capabilities.contains(QStringLiteral("dismiss"));
}

void AppModel::dismiss(QStringList ids)
{
    if (!canDismiss() || ids.isEmpty())
        return;
    if (ids.size() > dismissLimit)
        ids = ids.first(dismissLimit);
    run(Command{.op = QStringLiteral("dismiss"), .ids = std::move(ids)});
}

void AppModel::openFiles(QString id)
{
    if (!connected_)
        return;
    const std::optional<Peer> found = peer(id);
    if (!found || !found->mount)
        return;
    QString folder = *found->mount;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    showFolder(QUrl::fromLocalFile(folder), *found->mount);
}

QCoro::Task<> AppModel::showFolder(QUrl folder, QString path)
{
    // Known only once the file manager had it, or failed: the folder may be missing.
    QCoro::Task<bool> opening = alive(workspace().open(std::move(folder)));
    if (!co_await std::move(opening))
        setError(L(QStringLiteral("The file manager could not open {path}."), {{QStringLiteral("path"), path}}));
}

void AppModel::showCopied(CopyJob job)
{
    QStringList existing;
    for (const QString &destination : job.destinations) {
        if (!destination.isEmpty() && QFileInfo::exists(destination))
            existing << destination;
    }
    if (!existing.isEmpty())
        workspace().reveal(existing);
}

bool AppModel::isPrivacyRefusal(const std::optional<QString> &message)
{
    if (!message)
        return false;
    return message->contains(QStringLiteral("Operation not permitted"))
        || message->contains(QStringLiteral("(os error 1)"));
}

void AppModel::openPrivacySettings()
{
    // There is nothing more to do when the system has no such pane.
    workspace().openSettings(SettingsPane::filesAndFolders);
}

bool AppModel::canOpenPrivacySettings() const
{
    return (workspace_ ? *workspace_ : Workspace::system()).hasSettings(SettingsPane::filesAndFolders);
}

Workspace &AppModel::workspace()
{
    return workspace_ ? *workspace_ : Workspace::system();
}

Alerts &AppModel::alerts()
{
    return alerts_ ? *alerts_ : Alerts::system();
}

} // namespace cv

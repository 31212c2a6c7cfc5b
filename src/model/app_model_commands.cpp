#include "model/app_model.h"

namespace cv {

// Filled in with the user commands.
void AppModel::run(Command command)
{
    Q_UNUSED(command);
}

// Filled in with the user commands.
void AppModel::choose(QString id, QString mode, std::optional<QString> path, std::optional<QStringList> paths,
                      bool readOnly, bool remember, std::optional<QString> pairingCode)
{
    Q_UNUSED(id);
    Q_UNUSED(mode);
    Q_UNUSED(path);
    Q_UNUSED(paths);
    Q_UNUSED(readOnly);
    Q_UNUSED(remember);
    Q_UNUSED(pairingCode);
}

// Filled in with the user commands.
void AppModel::forget(QString id)
{
    Q_UNUSED(id);
}

// Filled in with the user commands.
void AppModel::resolveCopy(QString id, QString decision)
{
    Q_UNUSED(id);
    Q_UNUSED(decision);
}

// Filled in with the user commands.
bool AppModel::canDismiss() const
{
    return false;
}

// Filled in with the user commands.
void AppModel::dismiss(QStringList ids)
{
    Q_UNUSED(ids);
}

// Filled in with the user commands.
void AppModel::openFiles(QString id)
{
    Q_UNUSED(id);
}

// Filled in with the user commands.
void AppModel::showCopied(CopyJob job)
{
    Q_UNUSED(job);
}

// Filled in with the user commands.
bool AppModel::isPrivacyRefusal(const std::optional<QString> &message)
{
    Q_UNUSED(message);
    return false;
}

// Filled in with the user commands.
void AppModel::openPrivacySettings()
{
}

// Filled in with the user commands: the system workspace unless one was given.
Workspace &AppModel::workspace()
{
    return *workspace_;
}

// Filled in with the user commands: the system alerts unless they were given.
Alerts &AppModel::alerts()
{
    return *alerts_;
}

} // namespace cv

#include "model/app_model.h"

namespace cv {

// Filled in with the connection and delivery notices.
QCoro::Task<> AppModel::flushNotifications()
{
    co_return;
}

// Filled in with the connection and delivery notices.
QCoro::Task<> AppModel::notify(QString id, QString peer, QString title, QString body, QStringList paths)
{
    Q_UNUSED(id);
    Q_UNUSED(peer);
    Q_UNUSED(title);
    Q_UNUSED(body);
    Q_UNUSED(paths);
    co_return;
}

} // namespace cv

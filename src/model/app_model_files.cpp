#include "model/app_model.h"

namespace cv {

// Filled in with the file sending and copying.
void AppModel::pickFiles(QString id)
{
    Q_UNUSED(id);
}

// Filled in with the file sending and copying.
void AppModel::send(QList<QUrl> urls, QString id)
{
    Q_UNUSED(urls);
    Q_UNUSED(id);
}

// Filled in with the file sending and copying.
bool AppModel::acceptDrop(QList<QUrl> items, QString peer)
{
    Q_UNUSED(items);
    Q_UNUSED(peer);
    return false;
}

// Filled in with the file sending and copying.
void AppModel::copyDropped(QList<QUrl> urls, QString peer)
{
    Q_UNUSED(urls);
    Q_UNUSED(peer);
}

// Filled in with the file sending and copying.
QUrl AppModel::downloadsFolder() const
{
    return {};
}

// Filled in with the file sending and copying.
void AppModel::copy(QList<QUrl> urls, QUrl destination, QString peer)
{
    Q_UNUSED(urls);
    Q_UNUSED(destination);
    Q_UNUSED(peer);
}

// Filled in with the file sending and copying.
void AppModel::getFiles(QString id)
{
    Q_UNUSED(id);
}

// Filled in with the file sending and copying: the system panels unless some were given.
OpenPanels &AppModel::openPanels()
{
    return *openPanels_;
}

} // namespace cv

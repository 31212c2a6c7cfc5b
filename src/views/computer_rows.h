#pragma once

#include <QList>
#include <QString>

#include <functional>

namespace cv {

class AppModel;

// One line of the main window's computer list; identified by `id`.
struct ComputerRowModel {
    QString id;
    QString name;          // shown as is
    QString summary;       // the status line under the name, shown as is
    bool online = false;   // connected now
    bool warning = false;  // the summary is a warning (orange)
    bool needsChoice = false;  // waits for this computer's sharing choice
    bool canReconnect = false; // the user disconnected it: the row offers "Reconnect"

    bool operator==(const ComputerRowModel &) const = default;
};

// The list of these records is MainView::rows().

// A computer's status dot and status line, as its row in the main window and its own
// window show them. Without a service connection the last status no longer says
// anything: no green dot and no live status, whatever the last status still holds,
// and the line reads "Status unavailable". With one, the dot is green while the
// computer is connected, and the line is `live()`.
struct LinkStatus {
    bool online = false;
    QString line;
};
LinkStatus linkStatus(const AppModel &model, const QString &id, const std::function<QString()> &live);

// What the list shows while it is empty: the status line, and whether a spinner
// goes with it.
struct EmptyComputersStatus {
    QString text;
    bool spinner = false;

    bool operator==(const EmptyComputersStatus &) const = default;
};
EmptyComputersStatus emptyComputersStatus(const AppModel &model, bool updateRequired);

} // namespace cv

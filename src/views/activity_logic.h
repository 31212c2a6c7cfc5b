#pragma once

// The activity list of a computer window without widgets: which sendings and copies
// it shows, and every text, bar value and button of a row.

#include "service/records.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <variant>

namespace cv {

class AppModel;

// The colour of a row's icon.
enum class ActivityTone { accent, green, orange, secondary };

// One row: a sending or a copy, identified by its record's id.
class Activity {
public:
    explicit Activity(Transfer transfer) : record_(std::move(transfer)) {}
    explicit Activity(CopyJob copy) : record_(std::move(copy)) {}

    // Exactly one of the two is set.
    const Transfer *transfer() const { return std::get_if<Transfer>(&record_); }
    const CopyJob *copy() const { return std::get_if<CopyJob>(&record_); }

    const QString &id() const;
    bool active() const;
    const QString &state() const;
    bool failed() const;
    bool succeeded() const; // "completed" or "done", for either kind
    QString title() const;
    bool incoming() const; // a copy to this computer
    QString icon() const;
    ActivityTone iconTone() const;
    // The title's tooltip as plain text: a copy's skipped items; none otherwise.
    std::optional<QString> titleTooltip() const;

    bool operator==(const Activity &other) const { return id() == other.id() && bool(copy()) == bool(other.copy()); }

private:
    std::variant<Transfer, CopyJob> record_;
};

// The rows for computer `peer`: every running entry, then at most five finished
// ones; sendings before copies, each kind latest first.
QList<Activity> activityFor(const std::optional<ServiceStatus> &status, const QString &peer);
// The ids of every finished entry of computer `peer`, in the status's order and
// without a limit: what "Clear" removes.
QStringList finishedIds(const std::optional<ServiceStatus> &status, const QString &peer);

// A byte count in the file style; counts above the largest signed 64-bit value are
// written as that value.
QString byteCountText(std::uint64_t bytes);

// The line under a row's title.
struct ActivityProgress {
    enum class Kind {
        none,          // nothing
        determinate,   // a bar at `fraction`, `caption` under it
        indeterminate, // a moving bar, no caption
        result,        // `caption` alone: a finished entry's result line
    };
    Kind kind = Kind::none;
    double fraction = 0; // 0 to 1; full when more bytes than the total went
    QString caption;

    bool operator==(const ActivityProgress &) const = default;
};
ActivityProgress activityProgress(const Activity &item);

// The question a copy waits on ("Couldn't read …"); none for everything else.
std::optional<QString> activityProblem(const Activity &item);

enum class ActivityButton { skip, skipAll, stop, cancel, showInFinder, openPrivacySettings, remove };

struct ActivityButtonState {
    ActivityButton button = ActivityButton::cancel;
    QString title;   // empty for the remove button, which shows `symbol`
    QString symbol;
    QString tooltip; // also the accessibility label of the remove button
    bool enabled = true;

    bool operator==(const ActivityButtonState &) const = default;
};
// The buttons of a row in order: Skip, Skip All and Stop while a copy waits on a
// problem (no Cancel then); else Cancel while it runs; else the finished ones.
QList<ActivityButtonState> activityButtons(const AppModel &model, const Activity &item);
// What a button does, for the row of computer `peer`.
void performActivityButton(AppModel &model, const QString &peer, const Activity &item, ActivityButton button);

// The list's header.
struct ActivityHeader {
    QString title;
    bool clearShown = false; // the service can dismiss and something is finished
    bool clearEnabled = false;
    QString clearTitle;
    QString clearTooltip;
};
ActivityHeader activityHeader(const AppModel &model, const QString &peer);
// "Clear": dismisses every finished entry of `peer` as the status stands now.
void clearFinished(AppModel &model, const QString &peer);

} // namespace cv

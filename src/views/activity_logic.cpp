#include "views/activity_logic.h"

#include "localization/localization.h"
#include "model/app_model.h"

#include <algorithm>
#include <limits>

namespace cv {

namespace {

// Finished entries shown at most; "Clear" still removes all of them.
constexpr qsizetype finishedShown = 5;

template<class Record>
void collect(const QList<Record> &records, const QString &peer, QList<Activity> &into)
{
    for (auto it = records.crbegin(); it != records.crend(); ++it) {
        if (it->peer == peer)
            into.append(Activity(*it));
    }
}

template<class Record>
void collectFinished(const QList<Record> &records, const QString &peer, QStringList &into)
{
    for (const Record &record : records) {
        if (record.peer == peer && !record.active())
            into.append(record.id);
    }
}

QString doneOfTotal(bool scanned, std::uint64_t done, std::uint64_t total)
{
    const LValues values{{QStringLiteral("done"), byteCountText(done)}, {QStringLiteral("total"), byteCountText(total)}};
    return scanned ? L(QStringLiteral("{done} of {total}"), values)
                   : L(QStringLiteral("{done} of at least {total}"), values);
}

ActivityProgress determinate(std::uint64_t bytes, std::uint64_t total, QString caption)
{
    // Only the bar stops at the total; the caption shows every byte that went.
    const double fraction = double(std::min(bytes, total)) / double(total);
    return {ActivityProgress::Kind::determinate, fraction, std::move(caption)};
}

ActivityButtonState button(ActivityButton which, const char *title, const char *tooltip, bool enabled)
{
    return {which, title ? L(QString::fromUtf8(title)) : QString(), {}, tooltip ? L(QString::fromUtf8(tooltip)) : QString(),
            enabled};
}

} // namespace

const QString &Activity::id() const
{
    return std::visit([](const auto &record) -> const QString & { return record.id; }, record_);
}

bool Activity::active() const
{
    return std::visit([](const auto &record) { return record.active(); }, record_);
}

const QString &Activity::state() const
{
    return std::visit([](const auto &record) -> const QString & { return record.state; }, record_);
}

bool Activity::failed() const { return state() == QLatin1String("failed"); }

bool Activity::succeeded() const
{
    return state() == QLatin1String("completed") || state() == QLatin1String("done");
}

QString Activity::title() const
{
    return std::visit([](const auto &record) { return record.summary(); }, record_);
}

bool Activity::incoming() const { return copy() && copy()->pulled(); }

QString Activity::icon() const
{
    if (active())
        return incoming() ? QStringLiteral("arrow.down.circle") : QStringLiteral("arrow.up.circle");
    if (succeeded())
        return QStringLiteral("checkmark.circle.fill");
    if (failed())
        return QStringLiteral("exclamationmark.circle.fill");
    return QStringLiteral("xmark.circle");
}

ActivityTone Activity::iconTone() const
{
    if (active())
        return ActivityTone::accent;
    if (succeeded())
        return ActivityTone::green;
    if (failed())
        return ActivityTone::orange;
    return ActivityTone::secondary;
}

std::optional<QString> Activity::titleTooltip() const
{
    if (const CopyJob *job = copy())
        return job->skippedList();
    return std::nullopt;
}

QList<Activity> activityFor(const std::optional<ServiceStatus> &status, const QString &peer)
{
    if (!status)
        return {};
    QList<Activity> all;
    collect(status->transfers, peer, all);
    collect(status->copies, peer, all);
    QList<Activity> shown;
    for (const Activity &item : all) {
        if (item.active())
            shown.append(item);
    }
    qsizetype finished = 0;
    for (const Activity &item : all) {
        if (!item.active() && finished++ < finishedShown)
            shown.append(item);
    }
    return shown;
}

QStringList finishedIds(const std::optional<ServiceStatus> &status, const QString &peer)
{
    QStringList ids;
    if (!status)
        return ids;
    collectFinished(status->transfers, peer, ids);
    collectFinished(status->copies, peer, ids);
    return ids;
}

QString byteCountText(std::uint64_t bytes)
{
    constexpr auto largest = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    return Localization::byteCount(std::min(bytes, largest));
}

ActivityProgress activityProgress(const Activity &item)
{
    using Kind = ActivityProgress::Kind;
    if (const CopyJob *job = item.copy()) {
        if (job->active()) {
            if (job->total_bytes == 0)
                return {Kind::indeterminate, 0, {}};
            return determinate(job->bytes, job->total_bytes,
                               doneOfTotal(job->scanned, job->bytes, job->total_bytes) + QStringLiteral(" · ")
                                   + job->speed());
        }
        if (const std::optional<QString> result = job->result())
            return {Kind::result, 0, *result};
        return {};
    }
    const Transfer &transfer = *item.transfer();
    if (transfer.active()) {
        if (transfer.state != QLatin1String("sending") || transfer.total_bytes == 0)
            return {Kind::indeterminate, 0, {}};
        return determinate(transfer.bytes, transfer.total_bytes,
                           doneOfTotal(true, transfer.bytes, transfer.total_bytes));
    }
    if (const std::optional<QString> result = transfer.result())
        return {Kind::result, 0, *result};
    return {};
}

std::optional<QString> activityProblem(const Activity &item)
{
    const CopyJob *job = item.copy();
    if (!job || !job->active() || !job->problem)
        return std::nullopt;
    return job->problemText();
}

QList<ActivityButtonState> activityButtons(const AppModel &model, const Activity &item)
{
    const bool idle = !model.busy();
    const CopyJob *job = item.copy();
    if (job && job->active() && job->problem) {
        return {
            button(ActivityButton::skip, "Skip", "Leave this item out and carry on", idle),
            button(ActivityButton::skipAll, "Skip All", "Leave out everything that can't be read, without asking again",
                   idle),
            button(ActivityButton::stop, "Stop", "Cancel the copy. Nothing is left half-copied", idle),
        };
    }
    if (item.active())
        return {button(ActivityButton::cancel, "Cancel", nullptr, idle)};

    QList<ActivityButtonState> buttons;
    if (job && job->state == QLatin1String("done") && job->pulled())
        buttons.append(button(ActivityButton::showInFinder, "Show in File Manager", nullptr, true));
    if (job && job->state == QLatin1String("failed") && AppModel::isPrivacyRefusal(job->error)
        && model.canOpenPrivacySettings())
        buttons.append(button(ActivityButton::openPrivacySettings, "Open Privacy Settings", nullptr, true));
    if (model.canDismiss()) {
        ActivityButtonState remove = button(ActivityButton::remove, nullptr, "Remove from list", idle);
        remove.symbol = QStringLiteral("xmark");
        buttons.append(remove);
    }
    return buttons;
}

void performActivityButton(AppModel &model, const QString &peer, const Activity &item, ActivityButton which)
{
    switch (which) {
    case ActivityButton::skip:
        model.resolveCopy(item.id(), QStringLiteral("skip"));
        break;
    case ActivityButton::skipAll:
        model.resolveCopy(item.id(), QStringLiteral("skip_all"));
        break;
    case ActivityButton::stop:
        model.resolveCopy(item.id(), QStringLiteral("stop"));
        break;
    case ActivityButton::cancel:
        // A copy is known to the service by its id alone.
        if (item.copy())
            model.run(Command{.op = QStringLiteral("cancel_copy"), .id = item.id()});
        else
            model.run(Command{.op = QStringLiteral("cancel_transfer"), .peer = peer, .id = item.id()});
        break;
    case ActivityButton::showInFinder:
        if (const CopyJob *job = item.copy())
            model.showCopied(*job);
        break;
    case ActivityButton::openPrivacySettings:
        model.openPrivacySettings();
        break;
    case ActivityButton::remove:
        model.dismiss({item.id()});
        break;
    }
}

ActivityHeader activityHeader(const AppModel &model, const QString &peer)
{
    ActivityHeader header;
    header.title = L(QStringLiteral("Transfers"));
    header.clearShown = model.canDismiss() && !finishedIds(model.status(), peer).isEmpty();
    header.clearEnabled = !model.busy();
    header.clearTitle = L(QStringLiteral("Clear"));
    header.clearTooltip = L(QStringLiteral("Remove finished transfers from this list"));
    return header;
}

void clearFinished(AppModel &model, const QString &peer) { model.dismiss(finishedIds(model.status(), peer)); }

} // namespace cv

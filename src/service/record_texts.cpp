// What the user sees of the service records. Every English text is a catalog key and
// must stay exactly as written, placeholders, ellipses (U+2026), middle dots and
// no-break spaces included.

#include "localization/localization.h"
#include "platform/volume_names.h"
#include "service/records.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace cv {
namespace {

constexpr std::int64_t largestCount = std::numeric_limits<std::int64_t>::max();

// Counts handed to plural lookup are signed; larger ones are shown as the largest.
std::int64_t clamped(std::uint64_t count)
{
    return count > std::uint64_t(largestCount) ? largestCount : std::int64_t(count);
}

QString displayName(const QString &path) { return VolumeNames::current().displayName(path); }

const QString separator = QStringLiteral(" · ");

QString deliveredNote(std::uint64_t deliveredItems)
{
    return Lp(QStringLiteral("{n} item was already delivered."),
              QStringLiteral("{n} items were already delivered."), clamped(deliveredItems));
}

QString failureReason(const std::optional<QString> &error)
{
    if (!error)
        return L(QStringLiteral("Couldn't send files."));
    QString reason = Localization::service(*error);
    static const QString endings[] = {QStringLiteral("."), QStringLiteral("!"), QStringLiteral("?"),
                                      QStringLiteral("\u3002"), QStringLiteral("\u2026")};
    for (const QString &ending : endings) {
        if (reason.endsWith(ending))
            return reason;
    }
    return reason + QLatin1Char('.');
}

QString timeText(double seconds)
{
    if (seconds < 0.1)
        return L(QStringLiteral("under {seconds}\u00A0s"), {{QStringLiteral("seconds"), Localization::decimal(0.1, 1)}});
    if (seconds < 10)
        return L(QStringLiteral("{seconds}\u00A0s"), {{QStringLiteral("seconds"), Localization::decimal(seconds, 1)}});
    // Whole seconds, halves away from zero; beyond the signed range the largest value.
    std::int64_t whole = largestCount;
    if (seconds < 9223372036854775807.0)
        whole = std::llround(seconds);
    return L(QStringLiteral("{seconds}\u00A0s"), {{QStringLiteral("seconds"), LValue(static_cast<long long>(whole))}});
}

} // namespace

// Share

bool Share::readOnly() const { return access && *access == QLatin1String("read_only"); }

QString Share::receiveFolderName() const
{
    if (const std::optional<QString> path = receiveFolder())
        return displayName(*path);
    return L(QStringLiteral("Downloads"));
}

QString Share::target() const
{
    const bool drive = mode == QLatin1String("drive");
    if (drive) {
        const QStringList all = paths();
        if (all.size() >= 2) {
            QStringList names;
            names.reserve(all.size());
            for (const QString &p : all)
                names.append(displayName(p));
            return Localization::list(names);
        }
    }
    if (!drive && mode != QLatin1String("folder")) {
        return mode == QLatin1String("receive") ? L(QStringLiteral("Receive only"))
                                                : L(QStringLiteral("nothing"));
    }
    if (location)
        return displayName(location->path);
    return L(QStringLiteral("a folder"));
}

QString Share::summary() const
{
    if (mode == QLatin1String("receive"))
        return L(QStringLiteral("Receive only"));
    if (mode == QLatin1String("folder") || mode == QLatin1String("drive")) {
        return L(QStringLiteral("Sharing {what}"), {{QStringLiteral("what"), target()}}) + separator
            + (readOnly() ? L(QStringLiteral("read-only")) : L(QStringLiteral("can make changes")));
    }
    return L(QStringLiteral("Not sharing anything"));
}

// LinkSpeed

QString LinkSpeed::summary() const
{
    return Localization::speed(double(std::min(to_peer_bps, from_peer_bps)));
}

QString LinkSpeed::detail() const
{
    return L(QStringLiteral("Sending {speed} · Receiving {received}"),
             {{QStringLiteral("speed"), Localization::speed(double(to_peer_bps))},
              {QStringLiteral("received"), Localization::speed(double(from_peer_bps))}});
}

QString LinkSpeed::format(std::uint64_t bitsPerSecond) { return Localization::speed(double(bitsPerSecond)); }

// Free functions

QString sentence(const QString &sentence, const QString &note)
{
    if (note.isEmpty())
        return sentence;
    return L(QStringLiteral("{sentence} {note}"),
             {{QStringLiteral("sentence"), sentence}, {QStringLiteral("note"), note}});
}

QString transferResult(std::uint64_t bytes, std::uint64_t files, double seconds)
{
    const QString time = timeText(seconds);
    const QString size = Localization::byteCount(std::uint64_t(clamped(bytes)));
    if (files <= 1) {
        const QString speed = Localization::speed(double(bytes) * 8.0 / seconds);
        return L(QStringLiteral("{size} in {time} · {speed}"),
                 {{QStringLiteral("size"), size}, {QStringLiteral("time"), time}, {QStringLiteral("speed"), speed}});
    }
    return Lp(QStringLiteral("{n} file, {size} in {time}"), QStringLiteral("{n} files, {size} in {time}"),
              clamped(files), {{QStringLiteral("size"), size}, {QStringLiteral("time"), time}});
}

// Transfer

bool Transfer::active() const
{
    return state == QLatin1String("preparing") || state == QLatin1String("sending")
        || state == QLatin1String("verifying") || state == QLatin1String("reconciling");
}

QString Transfer::summary() const
{
    if (state == QLatin1String("completed")) {
        const QString first = delivered_items == 1 && !name.isEmpty()
            ? L(QStringLiteral("Sent {name}."), {{QStringLiteral("name"), name}})
            : Lp(QStringLiteral("Sent {n} item."), QStringLiteral("Sent {n} items."), clamped(delivered_items));
        const QString note = skipped && *skipped != 0
            ? Lp(QStringLiteral("Skipped {n} link or special file."),
                 QStringLiteral("Skipped {n} links and special files."), clamped(*skipped))
            : QString();
        return sentence(first, note);
    }
    if (state == QLatin1String("cancelled")) {
        if (delivered_items != 0)
            return sentence(L(QStringLiteral("Cancelled.")), deliveredNote(delivered_items));
        return L(QStringLiteral("Cancelled. Nothing was delivered."));
    }
    if (state == QLatin1String("failed")) {
        const QString reason = failureReason(error);
        return delivered_items != 0 ? sentence(reason, deliveredNote(delivered_items)) : reason;
    }
    if (state == QLatin1String("reconciling"))
        return L(QStringLiteral("Checking whether the files arrived…"));
    if (state == QLatin1String("verifying"))
        return L(QStringLiteral("Verifying {name}…"), {{QStringLiteral("name"), name}});
    if (state == QLatin1String("preparing"))
        return L(QStringLiteral("Preparing files…"));
    return L(QStringLiteral("Sending {name}…"), {{QStringLiteral("name"), name}});
}

std::optional<QString> Transfer::result() const
{
    if (state != QLatin1String("completed") || !seconds || !(*seconds > 0) || bytes == 0)
        return std::nullopt;
    return transferResult(bytes, delivered_files.value_or(0), *seconds);
}

// CopyJob

bool CopyJob::active() const { return state == QLatin1String("copying"); }

bool CopyJob::pulled() const { return direction == QLatin1String("pull"); }

QString CopyJob::summary() const
{
    // The folder that receives a pulled copy: the parent of its first destination.
    QString folder;
    if (pulled() && !destinations.isEmpty())
        folder = VolumeNames::lastComponent(VolumeNames::withoutLastComponent(destinations.first()));
    const LValues values{{QStringLiteral("name"), name}, {QStringLiteral("folder"), folder}};

    if (state == QLatin1String("done")) {
        QString text;
        if (!folder.isEmpty())
            text = L(QStringLiteral("Copied {name} to {folder}."), values);
        else if (pulled())
            text = L(QStringLiteral("Copied {name} to this computer."), values);
        else
            text = L(QStringLiteral("Copied {name} to the other computer."), values);
        return sentence(text, skippedNote());
    }
    if (state == QLatin1String("cancelled"))
        return L(QStringLiteral("Copy of {name} cancelled. Nothing was left half-copied."), values);
    if (state == QLatin1String("failed")) {
        const QString reason = error ? Localization::service(*error) : L(QStringLiteral("unknown error"));
        return L(QStringLiteral("Couldn't copy {name}: {reason}"),
                 {{QStringLiteral("name"), name}, {QStringLiteral("reason"), reason}});
    }
    if (!folder.isEmpty())
        return L(QStringLiteral("Copying {name} to {folder}…"), values);
    if (pulled())
        return L(QStringLiteral("Copying {name} to this computer…"), values);
    return L(QStringLiteral("Copying {name} to the other computer…"), values);
}

QString CopyJob::skippedNote() const
{
    if (!skipped || *skipped == 0)
        return QString();
    return Lp(QStringLiteral("Skipped {n} item."), QStringLiteral("Skipped {n} items."), clamped(*skipped));
}

QString CopyJob::speed() const { return Localization::speed(double(bits_per_second)); }

std::optional<QString> CopyJob::result() const
{
    if (state != QLatin1String("done") || bits_per_second == 0 || bytes == 0)
        return std::nullopt;
    return transferResult(bytes, files, double(bytes) * 8.0 / double(bits_per_second));
}

std::optional<QString> CopyJob::skippedList() const
{
    if (!skipped_items || skipped_items->isEmpty())
        return std::nullopt;
    constexpr qsizetype shown = 20;
    QStringList lines;
    lines.reserve(shown + 1);
    for (qsizetype i = 0; i < skipped_items->size() && i < shown; ++i) {
        const CopyProblem &item = skipped_items->at(i);
        lines.append(item.path + QStringLiteral(": ") + Localization::service(item.reason));
    }
    if (skipped_items->size() > shown)
        lines.append(QStringLiteral("…"));
    return lines.join(QLatin1Char('\n'));
}

std::optional<QString> CopyJob::problemText() const
{
    if (!problem)
        return std::nullopt;
    return L(QStringLiteral("Couldn't read {path}: {reason}."),
             {{QStringLiteral("path"), problem->path},
              {QStringLiteral("reason"), Localization::service(problem->reason)}});
}

} // namespace cv

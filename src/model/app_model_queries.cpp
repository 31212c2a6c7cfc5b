#include "model/app_model.h"

#include "localization/localization.h"
#include "model/drives.h"
#include "platform/cable_probe.h"

#include <QCollator>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>

namespace cv {

namespace {

const QString receiveTransferCapability = QStringLiteral("receive_transfer");
const QString multiDriveCapability = QStringLiteral("multi_drive");
const QString fastCopyCapability = QStringLiteral("fast_copy");

// The drive list is listed again when it is older than this (wall clock).
constexpr qint64 drivesCacheMs = 5000;
// A volume listing running longer than this (seconds) counts as stuck.
constexpr double drivesListingLimit = 10.0;

// No mounted volume at all: the drives known before any listing ended.
class NoVolumes final : public VolumeSource {
public:
    QList<MountedVolume> mountedVolumes() const override { return {}; }
};

// A cable link's kind as the last probe found it; the kind is a name, not a text.
QString kindName(const std::optional<QString> &linkKind)
{
    return linkKind.value_or(QStringLiteral("Thunderbolt"));
}

} // namespace

// The comparison a file manager uses for file names: numbers by value, case
// ignored, in the user's language.
QCollator AppModel::nameCollator()
{
    // The C locale compares bytes, with neither numbers nor case rules.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator{locale};
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

QList<Peer> AppModel::peers() const
{
    if (!status_)
        return {};
    QList<Peer> list = status_->peers;
    const QCollator collator = nameCollator();
    std::stable_sort(list.begin(), list.end(), [&collator](const Peer &a, const Peer &b) {
        if (a.choice_required != b.choice_required)
            return a.choice_required;
        return collator.compare(a.name, b.name) < 0;
    });
    return list;
}

QList<RememberedPeer> AppModel::offline() const
{
    if (!status_)
        return {};
    QList<RememberedPeer> list;
    for (const RememberedPeer &remembered : status_->remembered_computers) {
        const bool connectedNow = std::any_of(status_->peers.cbegin(), status_->peers.cend(),
                                              [&remembered](const Peer &p) { return p.id == remembered.id; });
        if (!connectedNow)
            list.append(remembered);
    }
    const QCollator collator = nameCollator();
    std::stable_sort(list.begin(), list.end(), [&collator](const RememberedPeer &a, const RememberedPeer &b) {
        return collator.compare(a.name, b.name) < 0;
    });
    return list;
}

bool AppModel::busy() const
{
    return mutating_ || (status_ && status_->control_busy) || !connected_;
}

bool AppModel::receiveSupported() const
{
    return status_ && status_->capabilities.contains(receiveTransferCapability);
}

std::optional<Peer> AppModel::peer(const QString &id) const
{
    if (!status_)
        return std::nullopt;
    for (const Peer &p : status_->peers) {
        if (p.id == id)
            return p;
    }
    return std::nullopt;
}

std::optional<RememberedPeer> AppModel::remembered(const QString &id) const
{
    if (!status_)
        return std::nullopt;
    for (const RememberedPeer &r : status_->remembered_computers) {
        if (r.id == id)
            return r;
    }
    return std::nullopt;
}

QString AppModel::name(const QString &id) const
{
    if (const auto p = peer(id))
        return p->name;
    if (const auto r = remembered(id))
        return r->name;
    return L(QStringLiteral("Computer"));
}

Share AppModel::share(const QString &id) const
{
    if (const auto p = peer(id))
        return p->sharing;
    if (const auto r = remembered(id))
        return r->share;
    return Share::none();
}

QList<Drive> AppModel::shareableDrives() const
{
    // Listing the volumes queries every mount, the other computer's network share
    // too, which can block for minutes once its cable is pulled: the listing runs on
    // the probe pool and the views get the last list meanwhile. A listing that seems
    // stuck is not waited for: one more may start beside it, but never a third.
    const QDateTime now = clock_->now();
    const bool stale = drivesCache_.listed.msecsTo(now) > drivesCacheMs;
    const bool stuck = drivesListings_ == 1 && clock_->uptime() - drivesListingBegan_ > drivesListingLimit;
    if (stale && (drivesListings_ == 0 || stuck)) {
        QCoro::Task<> listing = const_cast<AppModel *>(this)->listDrives();
        Q_UNUSED(listing);
    }
    // Until the first listing ends: the startup disk (and the preview drives).
    const QList<Drive> drives =
        drivesCache_.drives.isEmpty() ? Drives::shareable(NoVolumes(), previewMultiDrive_) : drivesCache_.drives;
    if (multiDrive())
        return drives;
    return drives.mid(0, 1);
}

bool AppModel::multiDrive() const
{
    if (status_ && status_->capabilities.contains(multiDriveCapability))
        return true;
    return previewMultiDrive_;
}

QStringList AppModel::sharedDrives(const QString &id) const
{
    const Share current = share(id);
    if (current.mode == QLatin1String("drive"))
        return current.paths();
    // The drive proposed to a computer that does not share a drive yet.
    const QList<Drive> drives = shareableDrives();
    if (drives.isEmpty())
        return {};
    return {drives.first().path};
}

QString AppModel::drivesDescription(const QString &id) const
{
    QStringList names;
    for (const QString &path : sharedDrives(id))
        names.append(Drives::displayName(path));
    if (names.isEmpty())
        return L(QStringLiteral("No drives available to share."));
    if (names.size() == 1)
        return L(QStringLiteral("{name} appears on the other computer."), {{QStringLiteral("name"), names.first()}});
    return L(QStringLiteral("{names} appear on the other computer."),
             {{QStringLiteral("names"), Localization::list(names)}});
}

QString AppModel::linkDescription(const QString &id) const
{
    const auto p = peer(id);
    if (!p)
        return L(QStringLiteral("Not connected"));
    QString text = cable_->isThunderbolt(p->interface_index)
        ? L(QStringLiteral("Connected via {kind}"), {{QStringLiteral("kind"), kindName(linkKind_)}})
        : L(QStringLiteral("Connected"));
    if (p->link_speed)
        text += QStringLiteral(" · ") + p->link_speed->summary();
    return text;
}

QString AppModel::linkKindDescription(const QString &id) const
{
    const auto p = peer(id);
    if (!p)
        return L(QStringLiteral("Not connected"));
    if (cable_->isThunderbolt(p->interface_index))
        return kindName(linkKind_);
    return L(QStringLiteral("Cable"));
}

bool AppModel::canCopy(const QString &id) const
{
    if (!connected_ || !status_ || !status_->capabilities.contains(fastCopyCapability))
        return false;
    const auto p = peer(id);
    return p && p->mount.has_value();
}

bool AppModel::canCopyTo(const QString &id) const
{
    if (!canCopy(id))
        return false;
    const auto p = peer(id);
    return p && p->remote_share && !p->remote_share->read_only;
}

bool AppModel::canSend(const QString &id) const
{
    if (!connected_ || !receiveSupported())
        return false;
    const auto p = peer(id);
    return p && p->remote_receive && !p->choice_required;
}

std::optional<QString> AppModel::defaultReceiveFolder() const
{
    if (!lastReceiveFolder_ || lastReceiveFolder_->isEmpty())
        return std::nullopt;
    if (!QFileInfo(*lastReceiveFolder_).isDir())
        return std::nullopt;
    return lastReceiveFolder_;
}

bool AppModel::hasPendingNotices() const
{
    return !pendingReconnect_.isEmpty() || !pendingDeliveries_.isEmpty();
}

} // namespace cv

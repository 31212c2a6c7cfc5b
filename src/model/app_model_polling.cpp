#include "model/app_model.h"

#include "platform/cable_probe.h"
#include "service/service_host.h"

#include <QCoroFuture>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace cv {

namespace {

// The pause at the end of every pass; it never grows after failures.
constexpr double pollPause = 0.75;
// The probes run at most this often (wall clock).
constexpr qint64 cableProbeEveryMs = 3000;
constexpr qint64 linkProbeEveryMs = 30000;

// The cable and link probes run slow tools, and a volume listing can hang on a
// network share; their own pool keeps them from ever delaying a socket exchange. Never
// destroyed: its destruction would wait for a probe that hangs, and quitting must not.
QThreadPool *probePool()
{
    static QThreadPool *const pool = new QThreadPool;
    return pool;
}

// More than `ms` milliseconds (strictly) have passed from `since` to `now`. A wall
// clock set backwards counts as no time passed.
bool elapsed(const QDateTime &since, const QDateTime &now, qint64 ms)
{
    return since.msecsTo(now) > ms;
}

} // namespace

void AppModel::start()
{
    host().refreshLogin();
    // A task stored before is dropped without being cancelled; it runs on by itself.
    polling_.emplace(pollingBody());
}

QCoro::Task<> AppModel::pollingBody()
{
    QCoro::Task<> permission = refreshNotifications();
    co_await std::move(permission);
    QCoro::Task<> startUp = startServiceIfNeeded();
    co_await std::move(startUp);
    QCoro::Task<> signIn = startAtLoginByDefault();
    co_await std::move(signIn);

    // Until a quit cancels the task. While a quit is under way no pass begins; a quit
    // that is refused lets the passes go on. (Ending at the sight of `quitting` would
    // stop following the service for the rest of the run whenever a refused quit
    // took longer than a pass.)
    while (!pollingCancel_.cancelled()) {
        if (!quitting_) {
            QCoro::Task<> update = refresh();
            co_await std::move(update);
            QCoro::Task<> cableProbe = refreshCable();
            co_await std::move(cableProbe);
            QCoro::Task<> linkProbe = refreshLink();
            co_await std::move(linkProbe);
        }
        // A cancelled pause is ignored: the check above ends the loop.
        QCoro::Task<bool> pause = alive(clock().sleep(pollPause, pollingCancel_));
        co_await std::move(pause);
    }
}

QCoro::Task<> AppModel::refreshCable()
{
    // Only while it can matter: nothing connected, or a computer the user disconnected.
    const bool anyPeer = status_ && !status_->peers.isEmpty();
    if (anyPeer && disconnected_.isEmpty())
        co_return;
    const QDateTime now = clock().now();
    if (!elapsed(cableChecked_, now, cableProbeEveryMs))
        co_return;
    // Stamped before the probe, so a slow probe does not bring the next one closer.
    cableChecked_ = now;

    std::shared_ptr<CableProbe> probe = cable_;
    // Named, not a temporary inside the co_await: g++ 12 may destroy such a temporary twice.
    QCoro::Task<bool> probing = alive(QtConcurrent::run(probePool(), [probe] { return probe->plugged(); }));
    const bool plugged = co_await std::move(probing);
    setCablePlugged(plugged);
    // A disconnection is forgotten once the cable is gone.
    if (!plugged)
        setDisconnected({});
}

QCoro::Task<> AppModel::listDrives()
{
    ++drivesListings_;
    const double began = clock().uptime();
    drivesListingBegan_ = began;
    std::shared_ptr<const VolumeSource> source = volumes_;
    const bool preview = previewMultiDrive_;
    QCoro::Task<QList<Drive>> listing =
        alive(QtConcurrent::run(probePool(), [source, preview] { return Drives::shareable(*source, preview); }));
    QList<Drive> drives = co_await std::move(listing);
    --drivesListings_;
    // A listing that was stuck may end after a newer one: the newer list stays.
    if (began < drivesListedBegan_)
        co_return;
    drivesListedBegan_ = began;
    drivesCache_ = {clock().now(), std::move(drives)};
    emit changed();
}

QCoro::Task<> AppModel::refreshLink()
{
    if (!status_ || status_->peers.isEmpty())
        co_return;
    const QDateTime now = clock().now();
    if (!elapsed(linkChecked_, now, linkProbeEveryMs))
        co_return;
    linkChecked_ = now;

    std::shared_ptr<CableProbe> probe = cable_;
    QCoro::Task<std::optional<QString>> probing =
        alive(QtConcurrent::run(probePool(), [probe] { return probe->networkingKind(); }));
    std::optional<QString> kind = co_await std::move(probing);
    setLinkKind(std::move(kind));
}

} // namespace cv

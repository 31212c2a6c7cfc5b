// One computer window taking a poll's status, beside one idle polling pass, in the
// same run and interleaved. The window (a PeerView in a shown top-level window, as
// the shell makes it) shows a computer with 50 sendings and 50 copies under way.
// Each turn a model polls a minimal server whose status differs only in the byte
// counts of those 100 rows; the status it decoded is then given to the window's
// model the way a poll stores it (status, connected, no service error), then the
// same status again. The poll runs on a model of its own so that its nested event
// loop cannot run the window's redraw, which is measured apart. A third model makes
// the idle pass of bench_polling (about 2 KiB of status) against the same server. The server is a separate process, so the CPU time of this process
// (getrusage) is the application's own. Under QT_QPA_PLATFORM=offscreen (set when
// unset), pinned to one CPU.
//
//   ./build/bench/bench_view_update --benchmark_repetitions=5 --benchmark_min_time=2
//
// Counters, per turn, CPU microseconds unless named _wall_us (medians):
//   idle_cpu_us      one idle polling pass (bench_polling's pass_cpu_us)
//   update_cpu_us    the window's share of a moving status: from storing it in the
//                    model until the window has laid out and repainted
//   fetch_cpu_us     the poll that brought that status (request, decoding, model)
//   update_ratio     update_cpu_us / idle_cpu_us (target: at most 10)
//   poll_update_ratio (fetch + update) / idle
//   update_paints, update_layouts        paint events and layout requests of one moving update
//   unchanged_cpu_us, unchanged_paints, unchanged_layouts   the same for an unchanged status
//                                        (target: no paint, no layout)
//
// BM_SkippedItems sets windows side by side, each with its own poll and server
// status, taking turns: the same 100 rows (plain_), the same rows where each of the
// 50 copies carries 20 skipped items, listed in its title's tooltip (skipped_), and
// the plain rows where the first copy's 20 skipped items have paths of 1,000 and
// 4,000 characters (path1k_, path4k_). Per window: update_cpu_us, unchanged_cpu_us
// and the paints and layouts as above; for the others also
//   update_ratio, unchanged_ratio   against the plain window's (target for skipped_:
//                                   at most 3 for both, and still no paint and no
//                                   layout for an unchanged status)

#include "bench_socket.h"
#include "poll_status.h"
#include "model/app_model.h"
#include "service/service_client.h"
#include "views/activity_list.h"
#include "views/peer_view.h"
#include "views/window_height.h"

#include <QAbstractAnimation>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QCoroTask>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>

namespace {

using bench::processCpu;
using bench::wallNow;

const QString peerId = QStringLiteral("9d2f4a61c3e84b0f");
constexpr int rowsOfEach = 50;

// What the copies of a moving status carry besides their byte counts.
enum class Rows { plain, skipped, paths1k, paths4k };
constexpr int rowKinds = 4;

// Which status the server answers: the idle one, or one of the two moving ones of a
// kind of rows.
constexpr int idle = 0;
int moving(Rows rows, int turn) { return 1 + 2 * int(rows) + turn % 2; }

QTemporaryDir *g_dir = nullptr;
std::atomic<int> *g_served = nullptr; // shared with the server process
QByteArray g_replies[1 + 2 * rowKinds];

QByteArray socketPath() { return QFile::encodeName(g_dir->path() + "/control.sock"); }

// `count` items a copy skipped, their paths `length` characters long (about 60 when 0).
QJsonArray skippedItems(int index, int count, int length)
{
    QJsonArray items;
    for (int k = 0; k < count; ++k) {
        QString path = QStringLiteral("/home/ada/Pictures/Camera roll %1/DCIM/").arg(index);
        while (path.size() < length - 14)
            path += QStringLiteral("Archive %1 of the trip/").arg(path.size());
        path += QStringLiteral("IMG_%1.HEIC").arg(4200 + k);
        items.append(QJsonObject{{"path", path}, {"reason", "Permission denied (os error 13)"}});
    }
    return items;
}

QJsonObject copy(int index, qint64 bytes, Rows rows)
{
    QJsonObject job{
        {"id", QStringLiteral("c%1").arg(index, 31, 10, QLatin1Char('0'))},
        {"peer", peerId},
        {"direction", index % 2 ? "pull" : "push"},
        {"name", QStringLiteral("Camera roll %1").arg(index)},
        {"destinations", QJsonArray{QStringLiteral("/home/ada/Downloads/Camera roll %1").arg(index)}},
        {"state", "copying"},
        {"bytes", bytes},
        {"total_bytes", 42'949'672'960LL},
        {"files", 1200},
        {"total_files", 4000},
        {"scanned", true},
        {"bits_per_second", 14'200'000'000LL},
    };
    const int length = rows == Rows::paths1k ? 1000 : rows == Rows::paths4k ? 4000 : 0;
    if (rows == Rows::skipped || (length > 0 && index == 0)) {
        job["skipped"] = 20;
        job["skipped_items"] = skippedItems(index, 20, length);
    }
    return job;
}

// The busy computer's status; `turn` moves every byte count and nothing else.
QByteArray movingReply(int turn, Rows rows = Rows::plain)
{
    QJsonArray transfers, copies;
    for (int i = 0; i < rowsOfEach; ++i) {
        const qint64 moved = qint64(turn) * 7'340'032LL * (i + 1);
        transfers.append(bench::transfer(QStringLiteral("t%1").arg(i, 31, 10, QLatin1Char('0')), peerId, "sending",
                                         QStringLiteral("Interview footage, reel %1").arg(i),
                                         1'073'741'824LL + 13'421'772LL * i + moved));
        copies.append(copy(i, 2'147'483'648LL + 26'843'545LL * i + moved, rows));
    }
    const QJsonObject status{
        {"api_version", 1},
        {"version", "1.4.2"},
        {"computer_id", "5f1c0e7a9b2d4c61a8e3f0b7d2c94e15"},
        {"name", "Ada’s Workstation"},
        {"capabilities", QJsonArray{"receive_transfer", "multi_drive", "fast_copy", "dismiss"}},
        {"control_busy", false},
        {"connection_issues", QJsonArray{}},
        {"peers", QJsonArray{bench::peer(peerId, "Studio Mac", 17)}},
        {"remembered_computers", QJsonArray{}},
        {"transfers", transfers},
        {"copies", copies},
        {"event_sequence", 4711},
    };
    return R"({"ok":true,"result":)" + QJsonDocument(status).toJson(QJsonDocument::Compact) + "}\n";
}

// The server, in a child process that ends with this one.
pid_t startServer(const QByteArray &path)
{
    const int fd = bench::listenAt(path);
    if (fd < 0) {
        std::perror("bench server");
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        static const std::atomic<bool> never{false};
        bench::serve(fd,
                     [](const QByteArray &line) {
                         return line.contains("\"events\"") ? bench::eventsReply : g_replies[g_served->load()];
                     },
                     never);
        ::_exit(0);
    }
    ::close(fd);
    return pid;
}

std::unique_ptr<cv::AppModel> makeModel()
{
    cv::AppModelCollaborators parts;
    parts.client = std::make_shared<cv::ServiceClient>(g_dir->path());
    parts.packaged = false;
    parts.previewMultiDrive = false;
    parts.log = [](const QString &) {};
    return std::make_unique<cv::AppModel>(std::move(parts));
}

// Counts the paint events and layout requests of one window's widgets.
class EventCounter final : public QObject {
public:
    explicit EventCounter(QWidget *window = nullptr) : window_(window) { qApp->installEventFilter(this); }
    ~EventCounter() override { qApp->removeEventFilter(this); }
    int paints = 0;
    int layouts = 0;
    // Counts `window`'s from now on.
    void reset(QWidget *window = nullptr)
    {
        paints = layouts = 0;
        if (window)
            window_ = window;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if ((type == QEvent::Paint || type == QEvent::LayoutRequest) && watched->isWidgetType() && window_) {
            auto *widget = static_cast<QWidget *>(watched);
            if (widget == window_ || window_->isAncestorOf(widget))
                ++(type == QEvent::Paint ? paints : layouts);
        }
        return false;
    }

private:
    QWidget *window_;
};

// Runs the event loop until the redraw, the layout and the repaint it causes are done:
// posted events (the coalesced redraw's zero timer, layout requests, update requests)
// are handled in a few turns; the extra turns find nothing left.
void untilRepainted()
{
    for (int turn = 0; turn < 4; ++turn) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents();
    }
}

// Runs the event loop until `done` holds once the posted events are handled, or a
// minute has passed (a bound for a stalled window, never a pace: a busy machine only
// takes longer); whether it came to hold.
template<class Done>
bool settle(Done done)
{
    QElapsedTimer timer;
    timer.start();
    QTimer tick; // wakes the wait below while nothing else happens
    tick.start(10);
    for (;;) {
        QCoreApplication::sendPostedEvents();
        if (done())
            return true;
        if (timer.elapsed() > 60'000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

// No animation of `window` (its height, its scrolling) is running.
bool atRest(const QWidget &window)
{
    const QList<QAbstractAnimation *> animations = window.findChildren<QAbstractAnimation *>();
    return std::none_of(animations.begin(), animations.end(),
                        [](const QAbstractAnimation *a) { return a->state() == QAbstractAnimation::Running; });
}

// One computer window showing a moving status of `rows`, with the model that polls
// it and the model the window shows, and what its turns measured.
struct ShownWindow {
    explicit ShownWindow(Rows kind) : rows(kind) {}

    // Polls the first status, shows the window as the shell makes it and waits until
    // it has settled; an error message when it could not.
    const char *open()
    {
        g_served->store(moving(rows, 0));
        // The first refresh sets the event cursor; every later one makes both requests.
        QCoro::waitFor(poll->refresh());
        QCoro::waitFor(poll->refresh());
        deliver();
        if (!poll->connected())
            return "a model did not reach the server";
        auto *height = new cv::WindowHeight(460, 920);
        view = new cv::PeerView(*shown, peerId, shown->name(peerId), height);
        window.setWindowTitle(shown->name(peerId));
        window.resize(640, 660);
        window.setCentralWidget(view);
        height->setParent(&window);
        height->setWindow(&window);
        height->showAfterFitting([this] { window.show(); });
        // Shown, fitted, its rows listed and every animation over.
        const bool settled = settle([this] {
            return window.isVisible() && window.windowHandle() && window.windowHandle()->isExposed()
                && view->activityList()->rows().size() == 2 * rowsOfEach && atRest(window);
        });
        if (!window.isVisible() || !window.windowHandle() || !window.windowHandle()->isExposed())
            return "the window was not shown";
        if (view->activityList()->rows().size() != 2 * rowsOfEach)
            return "the window does not list the 100 rows";
        if (!settled)
            return "the window did not come to rest";
        return nullptr;
    }

    // What a poll stores (the window's model makes no requests of its own).
    void deliver()
    {
        shown->setStatus(poll->status());
        shown->setConnected(true);
        shown->setServiceError(std::nullopt);
    }

    // A status that moves every row: the poll, then the window's share; then the
    // same status again.
    void turn(int number, EventCounter &counter)
    {
        g_served->store(moving(rows, number));
        double c0 = processCpu();
        QCoro::waitFor(poll->refresh());
        double c1 = processCpu();
        counter.reset(&window);
        const double w0 = wallNow();
        deliver();
        untilRepainted();
        const double c2 = processCpu(), w2 = wallNow();
        fetchCpu.push_back(c1 - c0);
        updateCpu.push_back(c2 - c1);
        updateWall.push_back(w2 - w0);
        updatePaints += counter.paints;
        updateLayouts += counter.layouts;

        QCoro::waitFor(poll->refresh());
        c1 = processCpu();
        counter.reset(&window);
        deliver();
        untilRepainted();
        unchangedCpu.push_back(processCpu() - c1);
        unchangedPaints += counter.paints;
        unchangedLayouts += counter.layouts;
    }

    double updateUs() const { return bench::median(updateCpu) * 1e6; }
    double unchangedUs() const { return bench::median(unchangedCpu) * 1e6; }

    // The counters of this window, named with `prefix`; with `plain`, its ratios to it.
    void report(benchmark::State &state, const std::string &prefix, const ShownWindow *plain = nullptr) const
    {
        const double n = double(state.iterations());
        state.counters[prefix + "update_cpu_us"] = updateUs();
        state.counters[prefix + "update_paints"] = updatePaints / n;
        state.counters[prefix + "update_layouts"] = updateLayouts / n;
        state.counters[prefix + "unchanged_cpu_us"] = unchangedUs();
        state.counters[prefix + "unchanged_paints"] = unchangedPaints / n;
        state.counters[prefix + "unchanged_layouts"] = unchangedLayouts / n;
        if (plain) {
            state.counters[prefix + "update_ratio"] = plain->updateUs() > 0 ? updateUs() / plain->updateUs() : 0;
            state.counters[prefix + "unchanged_ratio"] = plain->unchangedUs() > 0 ? unchangedUs() / plain->unchangedUs() : 0;
        }
    }

    Rows rows;
    std::unique_ptr<cv::AppModel> poll = makeModel();
    std::unique_ptr<cv::AppModel> shown = makeModel();
    QMainWindow window;
    cv::PeerView *view = nullptr;
    std::vector<double> fetchCpu, updateCpu, updateWall, unchangedCpu;
    int updatePaints = 0, updateLayouts = 0, unchangedPaints = 0, unchangedLayouts = 0;
};

void BM_ViewUpdate(benchmark::State &state)
{
    g_served->store(idle);
    std::unique_ptr<cv::AppModel> idleModel = makeModel();
    // The first refresh sets the event cursor; every later one makes both requests.
    QCoro::waitFor(idleModel->refresh());
    if (!idleModel->connected()) {
        state.SkipWithError("the models did not reach the server");
        return;
    }
    ShownWindow busy(Rows::plain);
    if (const char *error = busy.open()) {
        state.SkipWithError(error);
        return;
    }

    EventCounter counter;
    std::vector<double> idleCpu, idleWall;
    int turn = 0;
    for (auto _ : state) {
        // One idle polling pass.
        g_served->store(idle);
        const double w0 = wallNow(), c0 = processCpu();
        QCoro::waitFor(idleModel->refresh());
        const double c1 = processCpu(), w1 = wallNow();
        idleCpu.push_back(c1 - c0);
        idleWall.push_back(w1 - w0);

        busy.turn(++turn, counter);
    }
    if (!idleModel->connected() || !busy.poll->connected()) {
        state.SkipWithError("a model lost the server");
        return;
    }
    if (busy.updatePaints == 0) {
        state.SkipWithError("a moving status repainted nothing");
        return;
    }

    const double idleUs = bench::median(idleCpu) * 1e6, updateUs = busy.updateUs();
    const double fetchUs = bench::median(busy.fetchCpu) * 1e6;
    state.counters["idle_cpu_us"] = idleUs;
    state.counters["idle_wall_us"] = bench::median(idleWall) * 1e6;
    state.counters["fetch_cpu_us"] = fetchUs;
    state.counters["update_wall_us"] = bench::median(busy.updateWall) * 1e6;
    state.counters["update_ratio"] = idleUs > 0 ? updateUs / idleUs : 0;
    state.counters["poll_update_ratio"] = idleUs > 0 ? (fetchUs + updateUs) / idleUs : 0;
    busy.report(state, "");
    state.counters["status_bytes"] = double(g_replies[moving(Rows::plain, 0)].size());
}
BENCHMARK(BM_ViewUpdate)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_SkippedItems(benchmark::State &state)
{
    ShownWindow plain(Rows::plain), skipped(Rows::skipped), paths1k(Rows::paths1k), paths4k(Rows::paths4k);
    const std::pair<ShownWindow *, const char *> windows[] = {
        {&plain, "plain_"}, {&skipped, "skipped_"}, {&paths1k, "path1k_"}, {&paths4k, "path4k_"}};
    for (const auto &[window, name] : windows) {
        if (const char *error = window->open()) {
            state.SkipWithError(error);
            return;
        }
    }
    // The skipped items are in the copies' tooltips.
    const QList<cv::ActivityRow *> rows = skipped.view->activityList()->rows();
    if (rows.last()->title()->toolTip().count(QStringLiteral("IMG_42")) != 20) {
        state.SkipWithError("a copy's tooltip does not list its skipped items");
        return;
    }

    EventCounter counter;
    int turn = 0;
    for (auto _ : state) {
        ++turn;
        for (const auto &[window, name] : windows)
            window->turn(turn, counter);
    }
    for (const auto &[window, name] : windows) {
        if (!window->poll->connected()) {
            state.SkipWithError("a model lost the server");
            return;
        }
        if (window->updatePaints == 0) {
            state.SkipWithError("a moving status repainted nothing");
            return;
        }
        window->report(state, name, window == &plain ? nullptr : &plain);
    }
    state.counters["skipped_status_bytes"] = double(g_replies[moving(Rows::skipped, 0)].size());
}
BENCHMARK(BM_SkippedItems)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    bench::pinToOneCpu();
    QApplication app(argc, argv);
    QTemporaryDir dir(QDir::tempPath() + "/bench-XXXXXX");
    g_dir = &dir;
    void *shared = ::mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
        std::perror("bench shared memory");
        return 1;
    }
    g_served = new (shared) std::atomic<int>(idle);
    g_replies[idle] = bench::statusReply();
    for (int kind = 0; kind < rowKinds; ++kind) {
        for (int turn : {0, 1})
            g_replies[moving(Rows(kind), turn)] = movingReply(turn, Rows(kind));
    }
    const pid_t server = startServer(socketPath());
    if (server < 0)
        return 1;

    return bench::runAndStop(argc, argv, server);
}

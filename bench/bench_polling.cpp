// The idle polling pass: one AppModel::refresh() ("events" answered with no events,
// then a status of about 2 KiB with two computers and three transfers) against a
// minimal server, beside the two bare round trips of the smallest blocking client
// asking the same, in the same run. The server is a separate process, so the CPU
// time of this process (getrusage) is the application's own: the main thread's
// coroutines, the hop to the socket pool and back, encoding and decoding. Both
// processes are pinned to one CPU.
//
//   ./build/bench/bench_polling --benchmark_repetitions=5 --benchmark_min_time=2
//
// Counters: pass_cpu_us and bare_cpu_us (two round trips) are CPU microseconds per
// pass, cpu_ratio their quotient, idle_core_pct the share of one core that polling
// takes at its 750 ms pause (plus the pass's own time).

#include "bench_socket.h"
#include "poll_status.h"
#include "model/app_model.h"
#include "service/service_client.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QCoroTask>

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

using bench::eventsReply;
using bench::eventsRequest;
using bench::processCpu;
using bench::statusReply;
using bench::statusRequest;
using bench::wallNow;

constexpr double pollPause = 0.75;

QTemporaryDir *g_dir = nullptr;
QByteArray g_status;

QByteArray socketPath() { return QFile::encodeName(g_dir->path() + "/control.sock"); }

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
        bench::serve(fd, [](const QByteArray &line) { return line.contains("\"events\"") ? eventsReply : g_status; },
                     never);
        ::_exit(0);
    }
    ::close(fd);
    return pid;
}

void BM_IdlePass(benchmark::State &state)
{
    cv::AppModelCollaborators parts;
    parts.client = std::make_shared<cv::ServiceClient>(g_dir->path());
    parts.packaged = false;
    parts.previewMultiDrive = false;
    parts.log = [](const QString &) {};
    cv::AppModel model(std::move(parts));
    // The first refresh sets the event cursor; every later one makes both requests.
    QCoro::waitFor(model.refresh());
    if (!model.connected()) {
        state.SkipWithError("the model did not reach the server");
        return;
    }
    const QByteArray path = socketPath();

    double passCpu = 0, bareCpu = 0, passWall = 0;
    std::vector<double> passWalls;
    bool passFirst = true;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == passFirst) {
                const double w0 = wallNow();
                const double c0 = processCpu();
                QCoro::waitFor(model.refresh());
                const double c1 = processCpu();
                const double w1 = wallNow();
                passCpu += c1 - c0;
                passWall += w1 - w0;
                passWalls.push_back(w1 - w0);
            } else {
                const double c0 = processCpu();
                const QByteArray events = bench::minimalExchange(path, eventsRequest);
                const QByteArray status = bench::minimalExchange(path, statusRequest);
                const double c1 = processCpu();
                benchmark::DoNotOptimize(events.size() + status.size());
                bareCpu += c1 - c0;
            }
        }
        passFirst = !passFirst;
    }
    if (!model.connected())
        state.SkipWithError(model.serviceError().value_or(QString()).toUtf8().constData());

    const double n = double(state.iterations());
    const double pass = passCpu / n, bare = bareCpu / n;
    state.counters["pass_cpu_us"] = pass * 1e6;
    state.counters["bare_cpu_us"] = bare * 1e6;
    state.counters["cpu_ratio"] = bare > 0 ? pass / bare : 0;
    state.counters["pass_wall_us"] = bench::median(passWalls) * 1e6;
    state.counters["idle_core_pct"] = 100.0 * pass / (pollPause + passWall / n);
    state.counters["status_bytes"] = double(g_status.size());
}
BENCHMARK(BM_IdlePass)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    bench::pinToOneCpu();
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QDir::tempPath() + "/bench-XXXXXX");
    g_dir = &dir;
    g_status = statusReply();
    const pid_t server = startServer(socketPath());
    if (server < 0)
        return 1;

    return bench::runAndStop(argc, argv, server);
}

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

constexpr double pollPause = 0.75;

QJsonObject peer(const QString &id, const QString &name, int index)
{
    return {
        {"id", id},
        {"name", name},
        {"interface_index", index},
        {"link_speed", QJsonObject{{"to_peer_bps", 38'500'000'000LL}, {"from_peer_bps", 37'900'000'000LL}}},
        {"pairing_code", "482913"},
        {"choice_required", false},
        {"sharing", QJsonObject{{"mode", "folder"}, {"location", QJsonObject{{"path", "/home/ada/Projects/Shared"}}}, {"access", "read_only"}}},
        {"remote_receive", true},
        {"remote_share", QJsonObject{{"label", name + " — Documents"}, {"read_only", false}}},
        {"mount", "/run/user/1000/corvane/mounts/" + id},
        {"error", QJsonValue::Null},
        {"ejected", false},
    };
}

QJsonObject transfer(const QString &id, const QString &peerId, const QString &state, const QString &name, qint64 bytes)
{
    return {
        {"id", id},
        {"peer", peerId},
        {"state", state},
        {"name", name},
        {"bytes", bytes},
        {"total_bytes", 8'589'934'592LL},
        {"delivered_items", 12},
        {"delivered_files", 12},
        {"seconds", 4.25},
        {"skipped", 0},
        {"error", QJsonValue::Null},
    };
}

QByteArray statusReply()
{
    const QJsonObject status{
        {"api_version", 1},
        {"version", "1.4.2"},
        {"computer_id", "5f1c0e7a9b2d4c61a8e3f0b7d2c94e15"},
        {"name", "Ada’s Workstation"},
        {"capabilities", QJsonArray{"receive_transfer", "multi_drive", "fast_copy", "dismiss"}},
        {"control_busy", false},
        {"connection_issues", QJsonArray{}},
        {"peers", QJsonArray{peer("9d2f4a61c3e84b0f", "Studio Mac", 17), peer("0b7e5c19a4d2f683", "Travel Laptop", 18)}},
        {"remembered_computers", QJsonArray{}},
        {"transfers",
         QJsonArray{transfer("3c9e1f0a7b6d4e2f9a8c5b1d0e7f6a3b", "9d2f4a61c3e84b0f", "sending", "Holiday photos from the coast", 2'147'483'648LL),
                    transfer("8a1b2c3d4e5f60718293a4b5c6d7e8f9", "9d2f4a61c3e84b0f", "completed", "Quarterly report (final, reviewed).pdf", 8'589'934'592LL),
                    transfer("f0e1d2c3b4a5968778695a4b3c2d1e0f", "0b7e5c19a4d2f683", "verifying", "Interview footage, day two", 6'442'450'944LL)}},
        {"copies", QJsonArray{}},
        {"event_sequence", 4711},
    };
    return R"({"ok":true,"result":)" + QJsonDocument(status).toJson(QJsonDocument::Compact) + "}\n";
}

const QByteArray eventsReply = R"({"ok":true,"result":{"events":[],"sequence":4711,"resync_required":false}})" "\n";
const QByteArray eventsRequest = R"({"op":"events","since":4711})" "\n";
const QByteArray statusRequest = R"({"op":"status"})" "\n";

QTemporaryDir *g_dir = nullptr;
QByteArray g_status;

QByteArray socketPath() { return QFile::encodeName(g_dir->path() + "/control.sock"); }

double processCpu()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double wallNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
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

    benchmark::Initialize(&argc, argv);
    int status = 0;
    if (!benchmark::ReportUnrecognizedArguments(argc, argv)) {
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    } else {
        status = 1;
    }
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    return status;
}

// Round trip over the control socket: ServiceClient's blocking exchange against a
// minimal hand-written blocking client, interleaved request by request, and the full
// `request` path (thread hop and decoding included). A minimal blocking server runs
// in this process: accept, read one line, write a canned reply of about 2 KiB, close.
// Everything is pinned to one CPU, since unpinned latencies jump between clusters.
//
//   ./build/bench/bench_roundtrip --benchmark_repetitions=5 --benchmark_min_time=2

#include "bench_socket.h"
#include "service/service_client.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QCoroTask>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const QByteArray requestLine = "{\"op\":\"status\"}\n";

QByteArray cannedReply()
{
    QByteArray reply = R"({"ok":true,"result":{"pad":")";
    reply += QByteArray(2048 - reply.size() - 4, 'x');
    reply += "\"}}\n";
    return reply;
}

class Server {
public:
    explicit Server(QByteArray path) : path_(std::move(path)), reply_(cannedReply())
    {
        fd_ = bench::listenAt(path_);
        if (fd_ < 0)
            std::perror("bench server");
        thread_ = std::thread([this] { bench::serve(fd_, [this](const QByteArray &) { return reply_; }, stop_); });
    }
    ~Server()
    {
        stop_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
        ::unlink(path_.constData());
    }

private:
    QByteArray path_;
    QByteArray reply_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

using bench::minimalExchange;
using bench::median;

double wallNow()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double cpuNow()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

QTemporaryDir *g_dir = nullptr;

QString runtimeDir()
{
    return g_dir->path();
}

QByteArray socketPath()
{
    return QFile::encodeName(runtimeDir() + "/control.sock");
}

// Both clients in one loop, alternating which goes first, each request timed on its own.
void BM_ExchangeVersusMinimal(benchmark::State &state)
{
    const cv::ServiceClient client(runtimeDir());
    const QByteArray path = socketPath();
    std::vector<double> exchangeWall, exchangeCpu, minimalWall, minimalCpu;
    bool exchangeFirst = true;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool useExchange = (turn == 0) == exchangeFirst;
            const double w0 = wallNow();
            const double c0 = cpuNow();
            const QByteArray reply = useExchange ? client.exchange(requestLine, std::nullopt)
                                                 : minimalExchange(path, requestLine);
            const double c1 = cpuNow();
            const double w1 = wallNow();
            benchmark::DoNotOptimize(reply.size());
            if (reply.size() != 2048)
                state.SkipWithError("short reply");
            (useExchange ? exchangeWall : minimalWall).push_back(w1 - w0);
            (useExchange ? exchangeCpu : minimalCpu).push_back(c1 - c0);
        }
        exchangeFirst = !exchangeFirst;
    }
    const double ew = median(exchangeWall), mw = median(minimalWall);
    const double ec = median(exchangeCpu), mc = median(minimalCpu);
    state.counters["exchange_us"] = ew * 1e6;
    state.counters["minimal_us"] = mw * 1e6;
    state.counters["time_ratio"] = mw > 0 ? ew / mw : 0;
    state.counters["exchange_cpu_us"] = ec * 1e6;
    state.counters["minimal_cpu_us"] = mc * 1e6;
    state.counters["cpu_ratio"] = mc > 0 ? ec / mc : 0;
}
BENCHMARK(BM_ExchangeVersusMinimal)->UseRealTime();

void BM_Exchange(benchmark::State &state)
{
    const cv::ServiceClient client(runtimeDir());
    for (auto _ : state)
        benchmark::DoNotOptimize(client.exchange(requestLine, std::nullopt));
}
BENCHMARK(BM_Exchange)->UseRealTime();

void BM_Minimal(benchmark::State &state)
{
    const QByteArray path = socketPath();
    for (auto _ : state)
        benchmark::DoNotOptimize(minimalExchange(path, requestLine));
}
BENCHMARK(BM_Minimal)->UseRealTime();

QCoro::Task<int> requests(cv::ServiceClient &client, benchmark::State &state)
{
    int done = 0;
    for (auto _ : state) {
        try {
            QCoro::Task<cv::EmptyResult> task = client.request<cv::EmptyResult>(cv::Command{.op = "status"});
            const cv::EmptyResult result = co_await std::move(task);
            benchmark::DoNotOptimize(result);
            ++done;
        } catch (const std::exception &e) {
            // Ends the loop at its next check.
            state.SkipWithError(e.what());
        }
    }
    co_return done;
}

// The whole path a caller sees: encode, hop to the pool, exchange, resume, decode.
void BM_Request(benchmark::State &state)
{
    cv::ServiceClient client(runtimeDir());
    benchmark::DoNotOptimize(QCoro::waitFor(requests(client, state)));
}
BENCHMARK(BM_Request)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    // One CPU for the whole process (threads made later inherit it).
    bench::pinToOneCpu();

    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QDir::tempPath() + "/bench-XXXXXX");
    g_dir = &dir;
    Server server(socketPath());

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

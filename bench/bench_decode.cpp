// Decoding of status replies: our full decode into records beside simdjson's parse
// alone (the limit) and QJsonDocument's parse (what a plain Qt program would use),
// over generated documents of about 2 KiB, 100 KiB and 1 MiB. After the runs it
// prints, per size, how our decode compares with both.
#include "service/decode_error.h"
#include "service/records.h"

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>

#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#ifndef CV_BENCH_DATA
#define CV_BENCH_DATA ""
#endif

namespace {

struct Document {
    const char *label;
    const char *file;
};
const Document documents[] = {{"2KiB", "status-2k.json"}, {"100KiB", "status-100k.json"}, {"1MiB", "status-1m.json"}};

const QByteArray &bytes(int index)
{
    static std::vector<QByteArray> loaded = [] {
        std::vector<QByteArray> all;
        for (const Document &d : documents) {
            QFile file(QStringLiteral(CV_BENCH_DATA "/") + QLatin1String(d.file));
            all.push_back(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
        }
        return all;
    }();
    return loaded.at(std::size_t(index));
}

bool ready(benchmark::State &state, const QByteArray &json)
{
    if (json.isEmpty()) {
        state.SkipWithError("generated documents missing (run bench/gen_status.py)");
        return false;
    }
    return true;
}

void decodeStatus(benchmark::State &state)
{
    const QByteArray &json = bytes(int(state.range(0)));
    if (!ready(state, json))
        return;
    const std::string_view view(json.constData(), std::size_t(json.size()));
    for (auto _ : state) {
        cv::ServiceStatus status = cv::decode<cv::ServiceStatus>(view);
        benchmark::DoNotOptimize(status);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * json.size());
}

void simdjsonParse(benchmark::State &state)
{
    const QByteArray &json = bytes(int(state.range(0)));
    if (!ready(state, json))
        return;
    simdjson::dom::parser parser;
    for (auto _ : state) {
        simdjson::dom::element root;
        const auto error = parser.parse(json.constData(), std::size_t(json.size())).get(root);
        benchmark::DoNotOptimize(error);
        benchmark::DoNotOptimize(root);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * json.size());
}

void qjsonParse(benchmark::State &state)
{
    const QByteArray &json = bytes(int(state.range(0)));
    if (!ready(state, json))
        return;
    for (auto _ : state) {
        QJsonDocument document = QJsonDocument::fromJson(json);
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * json.size());
}

void sizes(benchmark::internal::Benchmark *b)
{
    for (int i = 0; i < int(std::size(documents)); ++i)
        b->Arg(i);
}

// A status with about a megabyte of unknown keys of one length ahead of its own: our
// decode beside simdjson's parse of the same document ("ratio"; comparing every key
// with every other one once made it seconds).
QByteArray manyKeys()
{
    QByteArray json = "{";
    for (int i = 0; i < 100000; ++i)
        json += "\"" + QByteArray::number(100000 + i) + "\":0,";
    return json + R"("api_version":1,"version":"1.0","computer_id":"id","name":"","peers":[],)"
                  R"("remembered_computers":[],"event_sequence":0})";
}

void decodeManyKeys(benchmark::State &state)
{
    const QByteArray json = manyKeys();
    const std::string_view view(json.constData(), std::size_t(json.size()));
    simdjson::dom::parser parser;
    double ours = 0, parse = 0;
    for (auto _ : state) {
        const auto a = std::chrono::steady_clock::now();
        cv::ServiceStatus status = cv::decode<cv::ServiceStatus>(view);
        const auto b = std::chrono::steady_clock::now();
        simdjson::dom::element root;
        const auto error = parser.parse(json.constData(), std::size_t(json.size())).get(root);
        const auto c = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(error);
        ours += std::chrono::duration<double>(b - a).count();
        parse += std::chrono::duration<double>(c - b).count();
    }
    state.counters["ratio"] = parse > 0 ? ours / parse : 0;
}

// The peak memory growth (MiB) while a megabyte-long list of elements that fail at
// once is decoded: it must fail without first making a record for every element.
void peakOfLongBadList(benchmark::State &state)
{
    QByteArray objects = "[{}";
    while (objects.size() < 1000000)
        objects += ",{}";
    const QByteArray json = R"({"api_version":1,"version":"1.0","computer_id":"id","name":"","peers":[],"copies":)"
        + objects + R"(],"remembered_computers":[],"event_sequence":0})";
    const auto peakKiB = [] {
        QFile status("/proc/self/status");
        status.open(QIODevice::ReadOnly);
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toDouble();
        return -1.0;
    };
    double grown = 0;
    for (auto _ : state) {
        QFile refs("/proc/self/clear_refs");
        if (!refs.open(QIODevice::WriteOnly) || refs.write("5") != 1) {
            state.SkipWithError("the peak memory cannot be reset here");
            return;
        }
        refs.close();
        const double before = peakKiB();
        try {
            cv::decode<cv::ServiceStatus>(std::string_view(json.constData(), std::size_t(json.size())));
            state.SkipWithError("the bad list decoded");
            return;
        } catch (const cv::DecodeError &) {
        }
        grown = std::max(grown, (peakKiB() - before) / 1024);
    }
    state.counters["peak_MiB"] = grown;
}

BENCHMARK(decodeManyKeys)->Iterations(3);
BENCHMARK(peakOfLongBadList)->Iterations(3);
BENCHMARK(decodeStatus)->Apply(sizes);
BENCHMARK(simdjsonParse)->Apply(sizes);
BENCHMARK(qjsonParse)->Apply(sizes);

// Prints as usual and keeps each run's time per iteration for the closing comparison.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        // With repetitions the median stands for the run; otherwise the last run.
        for (const Run &run : runs) {
            if (run.error_occurred)
                continue;
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !medians_.count(run.run_name.str()))
                times_[run.run_name.str()] = run.GetAdjustedRealTime();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                medians_.insert(run.run_name.str());
                times_[run.run_name.str()] = run.GetAdjustedRealTime();
            }
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\n%-8s %12s %12s %12s %14s %14s\n", "size", "decode MB/s", "simdjson", "QJson",
                    "vs QJson", "vs simdjson");
        for (int i = 0; i < int(std::size(documents)); ++i) {
            const std::string arg = '/' + std::to_string(i);
            const double ours = time("decodeStatus" + arg);
            const double simd = time("simdjsonParse" + arg);
            const double qt = time("qjsonParse" + arg);
            if (ours <= 0 || simd <= 0 || qt <= 0)
                continue;
            // Times are per iteration in the same unit; bytes per second from them.
            const double megabytes = double(bytes(i).size()) / 1e6;
            const double unit = 1e9; // nanoseconds
            std::printf("%-8s %12.0f %12.0f %12.0f %13.2fx %13.2fx\n", documents[i].label,
                        megabytes / (ours / unit), megabytes / (simd / unit), megabytes / (qt / unit), qt / ours,
                        ours / simd);
        }
        std::printf("(vs QJson: how many times faster our decode is than QJsonDocument's parse alone;\n"
                    " vs simdjson: how many times slower it is than simdjson's parse alone)\n");
    }

private:
    double time(const std::string &name) const
    {
        const auto it = times_.find(name);
        return it == times_.end() ? 0 : it->second;
    }

    std::map<std::string, double> times_;
    std::set<std::string> medians_;
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

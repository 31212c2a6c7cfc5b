#pragma once

// The idle polling pass's records and reply lines, shared by the benchmarks that
// measure a polling pass: a status of about 2 KiB with two computers and three
// transfers, "events" answered with no events, and the process's CPU and wall clocks.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <sys/resource.h>

namespace bench {

inline QJsonObject peer(const QString &id, const QString &name, int index)
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

inline QJsonObject transfer(const QString &id, const QString &peerId, const QString &state, const QString &name, qint64 bytes)
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

inline QByteArray statusReply()
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

inline const QByteArray eventsReply = R"({"ok":true,"result":{"events":[],"sequence":4711,"resync_required":false}})" "\n";
inline const QByteArray eventsRequest = R"({"op":"events","since":4711})" "\n";
inline const QByteArray statusRequest = R"({"op":"status"})" "\n";

inline double processCpu()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

inline double wallNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Runs the benchmarks named on the command line, then stops the bench server.
inline int runAndStop(int argc, char **argv, pid_t server)
{
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

} // namespace bench

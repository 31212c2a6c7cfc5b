// Launch: the built corvane, started against the stand-in service (a status with two
// computers), until its main window has been painted once, beside a minimal Qt
// Widgets program that shows one empty window; both offscreen, interleaved in one
// run, in turn going first. Then the resident memory of each (VmRSS) once it has
// settled for a second.
//
// "Painted once" is the same signal for both programs: Qt's own widget painting log
// (category qt.widgets.painting), whose first "Flushing" line is written right after
// a top-level window's first paint has reached its surface.
//
//   ./build/bench/bench_launch --benchmark_min_time=10
//
// Counters: app_paint_ms and minimal_paint_ms (medians from the start of the process),
// paint_ratio their quotient; app_rss_mb and minimal_rss_mb (medians once at rest),
// rss_ratio their quotient. The targets are ratios of at most 1.5.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "poll_status.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr double paintLimit = 15.0; // seconds before a launch counts as failed
constexpr double settle = 1.0;      // seconds after the first paint before reading memory
const QByteArray paintedLine = "qt.widgets.painting: Flushing ";

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A child process with its standard error on a pipe.
struct Child {
    pid_t pid = -1;
    int errors = -1;
};

Child spawn(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program));
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    const qsizetype argc = qsizetype(storage.size());
    for (const QString &entry : environment.toStringList())
        storage.push_back(entry.toLocal8Bit());
    std::vector<char *> argv, envp;
    for (qsizetype i = 0; i < qsizetype(storage.size()); ++i)
        (i < argc ? argv : envp).push_back(storage[size_t(i)].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(fds[1], 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return {};
    }
    return {pid, fds[0]};
}

// Reads the child's standard error until `until` (seconds of now()) or its end;
// returns as soon as a line starting with `marker` is complete, when one is given.
bool readUntil(const Child &child, double until, const QByteArray &marker = {})
{
    QByteArray pending;
    char buffer[65536];
    for (;;) {
        const double left = until - now();
        if (left <= 0)
            return false;
        pollfd entry{child.errors, POLLIN, 0};
        if (::poll(&entry, 1, int(left * 1000) + 1) <= 0)
            continue;
        const ssize_t n = ::read(child.errors, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        if (marker.isEmpty())
            continue;
        pending.append(buffer, n);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            if (pending.startsWith(marker))
                return true;
            pending.remove(0, end + 1);
        }
    }
}

// Resident memory in MiB from /proc/<pid>/status; 0 when it cannot be read.
double residentMiB(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

void finish(Child &child)
{
    if (child.pid > 0) {
        ::kill(child.pid, SIGKILL);
        ::waitpid(child.pid, nullptr, 0);
    }
    if (child.errors >= 0)
        ::close(child.errors);
    child = {};
}

struct Setup {
    QTemporaryDir dir;
    QProcessEnvironment common;
    QProcessEnvironment app;
    Child service;
    QString error;

    Setup()
    {
        const QString home = dir.filePath("home"), run = dir.filePath("run");
        QDir().mkpath(home);
        QDir().mkpath(run);
        QDir().mkpath(dir.filePath("xdg"));
        QFile::setPermissions(dir.filePath("xdg"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

        common = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "CV_MAC_CAPTURE_DIR",
                                 "CV_MAC_STATE_DIR", "CV_MAC_MOUNT_ROOT", "CV_MAC_NFS_HELPER", "QT_LOGGING_CONF"})
            common.remove(name);
        common.insert("QT_QPA_PLATFORM", "offscreen");
        common.insert("QT_LOGGING_RULES", "qt.widgets.painting=true");
        common.insert("QT_MESSAGE_PATTERN", "%{category}: %{message}");
        common.insert("HOME", home);
        common.insert("XDG_RUNTIME_DIR", dir.filePath("xdg"));
        common.insert("XDG_CONFIG_HOME", home + "/.config");
        common.insert("XDG_DATA_HOME", home + "/.local/share");
        common.insert("XDG_CACHE_HOME", home + "/.cache");
        common.insert("CV_LANGUAGE", "en");
        common.insert("LANG", "en_US.UTF-8");

        const QString standin = QStringLiteral(CV_STANDIN_PATH);
        if (standin.isEmpty()) {
            error = "the stand-in service is built with the tests only";
            return;
        }
        const QJsonObject script{{"status", QJsonObject{
            {"name", "Ada’s Workstation"},
            {"capabilities", QJsonArray{"receive_transfer", "multi_drive", "fast_copy", "dismiss"}},
            {"peers", QJsonArray{bench::peer("9d2f4a61c3e84b0f", "Studio Mac", 17), bench::peer("0b7e5c19a4d2f683", "Travel Laptop", 18)}},
        }}};
        QFile file(dir.filePath("script.json"));
        if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(script).toJson()) <= 0) {
            error = "cannot write the stand-in script";
            return;
        }
        file.close();
        app = common;
        app.insert("CV_MAC_RUNTIME_DIR", run);
        app.insert("CV_MAC_SERVICE", standin);
        app.insert("CV_STANDIN_SCRIPT", file.fileName());
        service = spawn(standin, {"--runtime-dir", run}, app);
        const double until = now() + 5;
        while (!QFile::exists(run + "/control.sock") && now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!QFile::exists(run + "/control.sock"))
            error = "the stand-in service did not start";
    }
    ~Setup() { finish(service); }
};

Setup *g_setup = nullptr;

void BM_Launch(benchmark::State &state)
{
    if (!g_setup->error.isEmpty()) {
        state.SkipWithError(g_setup->error.toUtf8().constData());
        return;
    }
    std::vector<double> paint[2], rss[2]; // [0] corvane, [1] the minimal program
    bool appFirst = true;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const int which = (turn == 0) == appFirst ? 0 : 1;
            const double start = now();
            Child child = which == 0 ? spawn(QStringLiteral(CV_CORVANE_PATH), {}, g_setup->app)
                                     : spawn(QStringLiteral(CV_MINIMAL_WINDOW_PATH), {}, g_setup->common);
            if (child.pid < 0 || !readUntil(child, start + paintLimit, paintedLine)) {
                finish(child);
                state.SkipWithError(which == 0 ? "corvane ended or hung before painting a window"
                                               : "the minimal program did not paint");
                return;
            }
            paint[which].push_back(now() - start);
            // Keeps draining the log, so a full pipe never holds the program back.
            readUntil(child, now() + settle);
            rss[which].push_back(residentMiB(child.pid));
            finish(child);
        }
        appFirst = !appFirst;
    }
    const double appPaint = median(paint[0]), minimalPaint = median(paint[1]);
    const double appRss = median(rss[0]), minimalRss = median(rss[1]);
    state.counters["app_paint_ms"] = appPaint * 1e3;
    state.counters["minimal_paint_ms"] = minimalPaint * 1e3;
    state.counters["paint_ratio"] = minimalPaint > 0 ? appPaint / minimalPaint : 0;
    state.counters["app_rss_mb"] = appRss;
    state.counters["minimal_rss_mb"] = minimalRss;
    state.counters["rss_ratio"] = minimalRss > 0 ? appRss / minimalRss : 0;
}
BENCHMARK(BM_Launch)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    ::signal(SIGPIPE, SIG_IGN);
    benchmark::Initialize(&argc, argv);
    Setup setup;
    g_setup = &setup;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

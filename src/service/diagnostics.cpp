#include "service/diagnostics.h"

#include "localization/localization.h"
#include "platform/alerts.h"
#include "platform/app_bundle.h"
#include "platform/child_process.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/platform_error.h"
#include "platform/user_defaults.h"
#include "platform/workspace.h"
#include "service/service_host.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <QCoroFuture>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <deque>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <time.h>
#include <typeinfo>
#include <unistd.h>

namespace cv {

namespace {

constexpr off_t rotationSize = 1048576;

const char supportMail[] = "support@corvane.app";

// The user's state folder: XDG_STATE_HOME when it names an absolute path (any other
// value is to be ignored), else ".local/state" in the home folder.
QString stateHome()
{
    const QString value = qEnvironmentVariable("XDG_STATE_HOME");
    if (QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::homePath() + QStringLiteral("/.local/state");
}

// The paths, fixed on first use. Kept as plain bytes so that the writer thread and
// the terminate hook need nothing but the C library. Never destroyed: the writer
// still uses them while the process runs its exit handlers.
struct LogPaths {
    QString folder;
    std::string appLog;
    std::string previousLog;
};

const LogPaths &paths()
{
    static const LogPaths *const value = [] {
        auto *p = new LogPaths;
        p->folder = stateHome() + QLatin1Char('/') + SettingsUserDefaults::folderName();
        p->appLog = QFile::encodeName(p->folder + QStringLiteral("/app.log")).toStdString();
        p->previousLog = QFile::encodeName(p->folder + QStringLiteral("/app.1.log")).toStdString();
        return p;
    }();
    return *value;
}

// "2026-01-31T14:05:09.123Z"
std::string timeStamp()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    tm utc {};
    gmtime_r(&now.tv_sec, &utc);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  int(now.tv_nsec / 1000000));
    return buffer;
}

// Writes one entry on the calling thread. The file is created with mode 0600 when
// missing (the folder is not); every failure drops the entry silently.
void append(const std::string &text)
{
    std::string entry = timeStamp();
    entry.reserve(entry.size() + text.size() + 2);
    entry += ' ';
    entry += text;
    entry += '\n';

    const std::string &path = paths().appLog;
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::fchmod(fd, 0600);
    else
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return;
    files::writeOnce(fd, entry.data(), entry.size());
    ::close(fd);
}

// The one serial writer. Never destroyed, so that entries logged while the
// process shuts down find it still there.
class Writer {
public:
    void post(std::string text)
    {
        std::unique_lock lock(mutex_);
        if (!started_) {
            started_ = true;
            try {
                std::thread([this] { run(); }).detach();
                std::atexit([] { writer().drain(std::chrono::seconds(2)); });
            } catch (...) {
                failed_ = true;
            }
        }
        if (failed_) {
            lock.unlock();
            append(text);
            return;
        }
        queue_.push_back(std::move(text));
        ++posted_;
        wake_.notify_one();
    }

    void drain(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex_);
        const std::uint64_t target = posted_;
        done_.wait_for(lock, limit, [&] { return written_ >= target; });
    }

    static Writer &writer()
    {
        static Writer *instance = new Writer;
        return *instance;
    }

private:
    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return !queue_.empty(); });
            std::string text = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            append(text);
            lock.lock();
            ++written_;
            done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<std::string> queue_;
    std::uint64_t posted_ = 0;
    std::uint64_t written_ = 0;
    bool started_ = false;
    bool failed_ = false;
};

std::string demangle(const char *name)
{
    if (!name)
        return "unknown";
    int status = 0;
    char *readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string result = (status == 0 && readable) ? readable : name;
    std::free(readable);
    return result;
}

std::terminate_handler previousHandler = nullptr;

// Writes the uncaught exception to the log on the failing thread, bypassing the
// writer so the entry is on disk before the process ends, then lets it end.
[[noreturn]] void onTerminate()
{
    if (std::exception_ptr current = std::current_exception()) {
        // Entries queued before the failure go first, so none is lost to the abort.
        Writer::writer().drain(std::chrono::seconds(1));
        std::string type;
        std::string reason;
        try {
            std::rethrow_exception(current);
        } catch (const std::exception &error) {
            type = demangle(typeid(error).name());
            reason = error.what() ? error.what() : "";
        } catch (...) {
            const std::type_info *info = abi::__cxa_current_exception_type();
            type = demangle(info ? info->name() : nullptr);
        }
        std::string text = "UNCAUGHT " + type + ": " + reason + "\n";
        void *frames[128];
        const int count = ::backtrace(frames, 128);
        if (char **symbols = ::backtrace_symbols(frames, count)) {
            for (int i = 0; i < count; ++i) {
                if (i > 0)
                    text += '\n';
                text += symbols[i];
            }
            std::free(symbols);
        }
        append(text);
    }
    if (previousHandler)
        previousHandler();
    std::abort();
}

QString banner(const AppBundle &bundle)
{
    const QString version = bundle.info(QStringLiteral("CFBundleShortVersionString"))
                                .value_or(QStringLiteral("development"));
    return QStringLiteral("--- Corvane ") + version + QStringLiteral(" started (")
        + QSysInfo::prettyProductName() + QStringLiteral(", pid ") + QString::number(::getpid())
        + QStringLiteral(") ---");
}

} // namespace

QString Diagnostics::logFolder() { return paths().folder; }

void Diagnostics::start() { start(AppBundle::main()); }

void Diagnostics::start(const AppBundle &bundle)
{
    try {
        files::makeFolders(paths().folder, 0700);
    } catch (...) {
    }

    struct stat info {};
    if (::stat(paths().appLog.c_str(), &info) == 0 && info.st_size >= rotationSize) {
        ::unlink(paths().previousLog.c_str());
        ::rename(paths().appLog.c_str(), paths().previousLog.c_str());
    }

    const std::terminate_handler earlier = std::set_terminate(onTerminate);
    if (earlier != onTerminate)
        previousHandler = earlier;

    log(banner(bundle));
}

void Diagnostics::log(const QString &text)
{
    try {
        Writer::writer().post(text.toUtf8().toStdString());
    } catch (...) {
        // Out of memory: the entry is lost, the caller never learns of it.
    }
}

void Diagnostics::flush() { Writer::writer().drain(std::chrono::hours(1)); }

QString Diagnostics::supportAddress() { return QString::fromLatin1(supportMail); }

QString Diagnostics::supportSentence()
{
    return QStringLiteral("Please email {file} to support@corvane.app and tell us what happened. "
                          "The archive includes the names of computers and files that "
                          "Corvane has used. Nothing is sent automatically.");
}

QString Diagnostics::archivePath(const QDateTime &now)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    const QString name = QStringLiteral("Corvane diagnostics ")
        + now.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HHmm")) + QStringLiteral(".zip");
    return QDir(folder).filePath(name);
}

std::optional<QString> Diagnostics::runService(const QString &binary, const QString &archive)
{
    try {
        SpawnedProcess::Options options;
        options.output = SpawnedProcess::Stream::null;
        options.error = SpawnedProcess::Stream::pipe;
        auto process = SpawnedProcess::spawn(binary, {QStringLiteral("--diagnostics"), archive}, options);
        // Read to the end first, so a talkative service never stalls on a full pipe.
        const QByteArray error = process->readErrorToEnd();
        if (process->wait() == 0)
            return std::nullopt;
        return QString::fromUtf8(error).trimmed();
    } catch (const PlatformError &error) {
        return error.message();
    } catch (const std::exception &error) {
        return QString::fromLocal8Bit(error.what());
    }
}

void Diagnostics::save()
{
    // The task runs on by itself; its frame goes when it completes.
    save(&Alerts::system(), &Workspace::system(), &Clock::system());
}

QCoro::Task<> Diagnostics::save(Alerts *alerts, Workspace *workspace, Clock *clock)
{
    const QString archive = archivePath(clock->now());
    log(QStringLiteral("saving diagnostics to ") + archive);
    const QString binary = ServiceHost::binaryPath();

    // The future is a named variable: g++ 12 destroys temporaries of a co_await
    // expression twice (the lambda's copies of the paths, here).
    QFuture<std::optional<QString>> work = QtConcurrent::run(
        QThreadPool::globalInstance(), [binary, archive] { return runService(binary, archive); });
    const std::optional<QString> failure = co_await work;

    Alert alert;
    alert.buttons.append(L(QStringLiteral("OK")));
    if (failure) {
        log(QStringLiteral("diagnostics failed: ") + *failure);
        alert.message = L(QStringLiteral("Couldn't save diagnostics"));
        alert.informative = *failure;
    } else {
        alert.message = L(QStringLiteral("Diagnostics saved"));
        // One text with the file as its only placeholder: catalogs are keyed by it,
        // address included.
        alert.informative = L(supportSentence(), {{QStringLiteral("file"), QFileInfo(archive).fileName()}});
        workspace->reveal(QStringList {archive});
    }
    QCoro::Task<int> answer = alerts->run(std::move(alert));
    co_await std::move(answer);
}

} // namespace cv

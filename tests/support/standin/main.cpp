// cv-mac-service stand-in for tests.
//
// Plays the background service on "control.sock" in its runtime directory
// ("--runtime-dir", else CV_MAC_RUNTIME_DIR, else /tmp/cv-<euid>): one request line
// per connection, at most one reply. CV_STANDIN_DIR names a folder holding its script
// ("script.json", optional) and receiving "record.txt" (each request line as received,
// a connection that ends early records what it sent) and "args.txt" (per start, the
// arguments as a JSON array). A child started by the code under test inherits it.
//
// Options: "--state-dir", "--runtime-dir", "--mount-root", "--nfs-helper" (each with a
// value) and "--diagnostics <path>"; any other ends it with status 64. It exits when
// its parent goes away, and on SIGTERM/SIGINT (removing the socket file).
//
// Script (every key optional):
// {
//   "stdout": "text", "stderr": "text",  written at start
//   "exit_at_start": 3,                  exit at once with this status
//   "refuse": "no_socket" | "not_listening" | "full_backlog",
//   "refuse_for": 1.5,                   seconds; then listen normally
//   "lifetime": 120,                     exit after this many seconds
//   "status": {...},                     keys merged into the built-in status result
//   "event_sequence": 0,                 newest event number before any below
//   "events": [ {"event": "delivered", "peer": "p1", "detail": {...},
//                "sequence": 7,          optional; else the previous number + 1
//                "after_requests": 2} ], visible once that many requests were served
//   "ops": { "<op>": step | [step, ...] },  steps used in turn, the last repeats
//   "diagnostics": {"archive": "text", "status": 0, "stderr": "text", "delay": 0.5}
// }
// A step: "reply": {...} (one compact JSON line), or "raw": "bytes" (as given), or
// "size": n (a valid envelope padded to n bytes, line feed included); "newline": false
// (no final line feed), "trailing": "bytes" (after it), "chunks": n and "chunk_delay": s
// (split over n writes s apart), "delay": s (before answering), "close": true (no
// reply), "silent": true (never answer; keep the connection until the peer closes).
// Built-in answers: "status" a status record with the current event sequence,
// "events" the visible events after "since", "quit" an empty result and exit 0, any
// other op {"ok":true,"result":{}}.

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

char g_socketPath[sizeof(sockaddr_un::sun_path)] = {};

void onTerminate(int)
{
    if (g_socketPath[0])
        ::unlink(g_socketPath);
    ::_exit(0);
}

void writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += n;
    }
}

void appendToFile(const QString &path, const QByteArray &line)
{
    if (path.isEmpty())
        return;
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    writeAll(fd, line + '\n');
    ::close(fd);
}

int millis(double seconds)
{
    return seconds <= 0 ? 0 : int(seconds * 1000.0 + 0.5);
}

struct Plan {
    QList<QByteArray> writes;
    double delay = 0;
    double chunkDelay = 0.005;
    bool close = false;
    bool silent = false;
    bool quit = false;
};

class Service;

// One accepted connection: read the request line, then carry out its plan.
class Connection : public QObject {
public:
    Connection(Service *service, int fd);
    ~Connection() override;

private:
    void onReadable();
    void lineDone(const QByteArray &line, bool complete);
    void writeNext();
    void onWritable();
    void finish();
    void watchForClose();

    Service *service_;
    int fd_;
    QByteArray in_;
    bool haveLine_ = false;
    Plan plan_;
    int next_ = 0;
    qsizetype offset_ = 0;
    std::unique_ptr<QSocketNotifier> reader_;
    std::unique_ptr<QSocketNotifier> writer_;
};

class Service : public QObject {
public:
    Service(QJsonObject script, QString runtimeDir, QString record)
        : script_(std::move(script)), runtimeDir_(std::move(runtimeDir)), record_(std::move(record))
    {
        sequence_ = quint64(script_.value("event_sequence").toDouble(0));
        quint64 last = sequence_;
        for (const QJsonValue &v : script_.value("events").toArray()) {
            QJsonObject e = v.toObject();
            addEvent(e, last);
        }
    }

    bool start()
    {
        ::mkdir(QFile::encodeName(runtimeDir_).constData(), 0700);
        socketPath_ = QFile::encodeName(runtimeDir_ + "/control.sock");
        if (size_t(socketPath_.size()) >= sizeof(g_socketPath)) {
            std::fprintf(stderr, "cv-mac-service stand-in: socket path too long\n");
            return false;
        }
        std::memcpy(g_socketPath, socketPath_.constData(), size_t(socketPath_.size()) + 1);
        ::unlink(socketPath_.constData());

        const QString refuse = script_.value("refuse").toString();
        if (refuse == "no_socket" || refuse == "not_listening" || refuse == "full_backlog") {
            refusing_ = refuse;
            if (refuse != "no_socket" && !bindAndMaybeListen(refuse == "full_backlog"))
                return false;
            if (script_.contains("refuse_for"))
                QTimer::singleShot(millis(script_.value("refuse_for").toDouble()), this, [this] { stopRefusing(); });
            return true;
        }
        return bindAndMaybeListen(true) && startAccepting();
    }

    void record(const QByteArray &line) { appendToFile(record_, line); }

    Plan plan(const QByteArray &line)
    {
        const QJsonObject request = QJsonDocument::fromJson(line).object();
        const QString op = request.value("op").toString();
        ++served_;

        QJsonObject step;
        const QJsonValue entry = script_.value("ops").toObject().value(op);
        if (entry.isArray()) {
            const QJsonArray steps = entry.toArray();
            const int i = opCounts_[op]++;
            if (!steps.isEmpty())
                step = steps.at(std::min<qsizetype>(i, steps.size() - 1)).toObject();
        } else if (entry.isObject()) {
            step = entry.toObject();
        } else {
            step = builtIn(op, request);
        }

        Plan p;
        p.delay = step.value("delay").toDouble(0);
        p.chunkDelay = step.value("chunk_delay").toDouble(0.005);
        p.close = step.value("close").toBool(false);
        p.silent = step.value("silent").toBool(false);
        p.quit = op == "quit" && !entry.isArray() && !entry.isObject();

        QByteArray bytes;
        const bool newline = step.value("newline").toBool(true);
        if (step.contains("raw")) {
            bytes = step.value("raw").toString().toUtf8();
        } else if (step.contains("size")) {
            bytes = padded(qsizetype(step.value("size").toDouble()));
            if (!newline)
                bytes.chop(1);
        } else if (step.contains("reply")) {
            bytes = jsonBytes(step.value("reply"));
            if (newline)
                bytes += '\n';
        }
        bytes += step.value("trailing").toString().toUtf8();

        const int chunks = std::max(1, step.value("chunks").toInt(1));
        if (chunks == 1 || bytes.size() <= 1) {
            p.writes.append(bytes);
        } else {
            const qsizetype per = std::max<qsizetype>(1, (bytes.size() + chunks - 1) / chunks);
            for (qsizetype at = 0; at < bytes.size(); at += per)
                p.writes.append(bytes.mid(at, per));
        }
        return p;
    }

    void after(const Plan &p)
    {
        if (p.quit) {
            stopListening();
            QCoreApplication::exit(0);
        }
    }

    void stopListening()
    {
        acceptor_.reset();
        if (listenFd_ >= 0) {
            ::close(listenFd_);
            listenFd_ = -1;
        }
        if (fillerFd_ >= 0) {
            ::close(fillerFd_);
            fillerFd_ = -1;
        }
        if (!socketPath_.isEmpty())
            ::unlink(socketPath_.constData());
        g_socketPath[0] = 0;
    }

private:
    static QByteArray jsonBytes(const QJsonValue &v)
    {
        if (v.isObject())
            return QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact);
        if (v.isArray())
            return QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact);
        // A bare scalar: wrap and strip the array brackets.
        QByteArray a = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
        return a.mid(1, a.size() - 2);
    }

    static QByteArray padded(qsizetype size)
    {
        const QByteArray head = R"({"ok":true,"result":{"pad":")";
        const QByteArray tail = "\"}}\n";
        QByteArray out = head;
        const qsizetype fill = size - head.size() - tail.size();
        if (fill > 0)
            out += QByteArray(fill, 'x');
        out += tail;
        return out;
    }

    void addEvent(QJsonObject e, quint64 &last)
    {
        if (e.contains("sequence"))
            last = quint64(e.value("sequence").toDouble());
        else
            last += 1;
        e["sequence"] = double(last);
        if (!e.contains("detail"))
            e["detail"] = QJsonObject();
        events_.append(e);
    }

    bool visible(const QJsonObject &e) const
    {
        return served_ > quint64(e.value("after_requests").toDouble(0));
    }

    quint64 currentSequence() const
    {
        quint64 m = sequence_;
        for (const QJsonObject &e : events_)
            if (visible(e))
                m = std::max(m, quint64(e.value("sequence").toDouble()));
        return m;
    }

    QJsonObject builtIn(const QString &op, const QJsonObject &request)
    {
        QJsonObject result;
        if (op == "status") {
            result = QJsonObject{
                {"api_version", 1},
                {"version", "0.0-standin"},
                {"computer_id", "standin-computer"},
                {"name", "Stand-in"},
                {"capabilities", QJsonArray()},
                {"control_busy", false},
                {"connection_issues", QJsonArray()},
                {"peers", QJsonArray()},
                {"remembered_computers", QJsonArray()},
                {"transfers", QJsonArray()},
                {"copies", QJsonArray()},
            };
            const QJsonObject extra = script_.value("status").toObject();
            for (auto it = extra.begin(); it != extra.end(); ++it)
                result[it.key()] = it.value();
            if (!extra.contains("event_sequence"))
                result["event_sequence"] = double(currentSequence());
        } else if (op == "events") {
            const quint64 since = quint64(request.value("since").toDouble(0));
            QJsonArray list;
            for (QJsonObject e : events_) {
                if (!visible(e) || quint64(e.value("sequence").toDouble()) <= since)
                    continue;
                e.remove("after_requests");
                list.append(e);
            }
            result = QJsonObject{{"events", list},
                                 {"sequence", double(std::max(since, currentSequence()))},
                                 {"resync_required", false}};
        }
        return QJsonObject{{"reply", QJsonObject{{"ok", true}, {"result", result}}}};
    }

    bool bindAndMaybeListen(bool listenNow)
    {
        listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (listenFd_ < 0) {
            std::perror("cv-mac-service stand-in: socket");
            return false;
        }
        // Bind under a temporary name and rename into place once listening, so the
        // socket file appears only when connections can be made (or refused as
        // scripted).
        const QByteArray temp = socketPath_ + ".tmp";
        ::unlink(temp.constData());
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, temp.constData(), size_t(std::min<qsizetype>(temp.size(), sizeof(addr.sun_path) - 1)));
        if (::bind(listenFd_, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
            std::perror("cv-mac-service stand-in: bind");
            return false;
        }
        const bool full = refusing_ == "full_backlog";
        if (listenNow && ::listen(listenFd_, full ? 0 : 64) != 0) {
            std::perror("cv-mac-service stand-in: listen");
            return false;
        }
        if (full) {
            // Fill the backlog of one with a connection of our own that is never
            // accepted; further connects fail with EAGAIN.
            fillerFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            ::connect(fillerFd_, reinterpret_cast<sockaddr *>(&addr), sizeof(addr));
        }
        if (::rename(temp.constData(), socketPath_.constData()) != 0) {
            std::perror("cv-mac-service stand-in: rename");
            return false;
        }
        return true;
    }

    bool startAccepting()
    {
        acceptor_ = std::make_unique<QSocketNotifier>(listenFd_, QSocketNotifier::Read);
        QObject::connect(acceptor_.get(), &QSocketNotifier::activated, this, [this] {
            for (;;) {
                const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd < 0)
                    return;
                new Connection(this, fd);
            }
        });
        return true;
    }

    void stopRefusing()
    {
        if (refusing_ == "no_socket") {
            refusing_.clear();
            if (!bindAndMaybeListen(true))
                QCoreApplication::exit(70);
        } else if (refusing_ == "not_listening") {
            refusing_.clear();
            ::listen(listenFd_, 64);
        } else if (refusing_ == "full_backlog") {
            refusing_.clear();
            ::close(fillerFd_);
            fillerFd_ = -1;
            // Drop the filler's pending connection, then serve normally.
            const int pending = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (pending >= 0)
                ::close(pending);
            ::listen(listenFd_, 64);
        }
        startAccepting();
    }

    QJsonObject script_;
    QString runtimeDir_;
    QString record_;
    QByteArray socketPath_;
    QString refusing_;
    int listenFd_ = -1;
    int fillerFd_ = -1;
    std::unique_ptr<QSocketNotifier> acceptor_;
    quint64 served_ = 0;
    quint64 sequence_ = 0;
    QList<QJsonObject> events_;
    QHash<QString, int> opCounts_;
};

Connection::Connection(Service *service, int fd) : QObject(service), service_(service), fd_(fd)
{
    reader_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(reader_.get(), &QSocketNotifier::activated, this, [this] { onReadable(); });
}

Connection::~Connection()
{
    reader_.reset();
    writer_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

void Connection::onReadable()
{
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        if (n <= 0) {
            if (haveLine_) {
                // The peer closed the connection we kept open without answering.
                finish();
            } else {
                reader_->setEnabled(false);
                lineDone(in_, false);
            }
            return;
        }
        if (haveLine_)
            continue; // anything after the request line is ignored
        in_.append(buf, n);
        const qsizetype lf = in_.indexOf('\n');
        if (lf >= 0) {
            in_.truncate(lf);
            haveLine_ = true;
            reader_->setEnabled(false);
            lineDone(in_, true);
            return;
        }
    }
}

void Connection::lineDone(const QByteArray &line, bool complete)
{
    haveLine_ = true;
    service_->record(line);
    if (!complete) {
        deleteLater();
        return;
    }
    plan_ = service_->plan(line);
    if (plan_.silent) {
        watchForClose();
        return;
    }
    if (plan_.close) {
        finish();
        return;
    }
    QTimer::singleShot(millis(plan_.delay), this, [this] { writeNext(); });
}

void Connection::watchForClose()
{
    // Keep the connection open and notice when the peer closes it.
    reader_->setEnabled(true);
}

void Connection::writeNext()
{
    while (next_ < plan_.writes.size()) {
        const QByteArray &chunk = plan_.writes.at(next_);
        while (offset_ < chunk.size()) {
            const ssize_t n = ::send(fd_, chunk.constData() + offset_, size_t(chunk.size() - offset_), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN) {
                if (!writer_) {
                    writer_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
                    QObject::connect(writer_.get(), &QSocketNotifier::activated, this, [this] { onWritable(); });
                }
                writer_->setEnabled(true);
                return;
            }
            if (n <= 0) {
                finish(); // the peer gave up
                return;
            }
            offset_ += n;
        }
        ++next_;
        offset_ = 0;
        if (next_ < plan_.writes.size() && plan_.chunkDelay > 0) {
            QTimer::singleShot(millis(plan_.chunkDelay), this, [this] { writeNext(); });
            return;
        }
    }
    finish();
}

void Connection::onWritable()
{
    writer_->setEnabled(false);
    writeNext();
}

void Connection::finish()
{
    // The notifiers go with the connection later; they may be signalling right now.
    if (reader_)
        reader_->setEnabled(false);
    if (writer_)
        writer_->setEnabled(false);
    ::close(fd_);
    fd_ = -1;
    const Plan plan = plan_;
    Service *service = service_;
    deleteLater();
    service->after(plan);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    QStringList args = app.arguments().mid(1);
    const QString dir = qEnvironmentVariable("CV_STANDIN_DIR");
    const auto inDir = [&dir](const char *name) { return dir.isEmpty() ? QString() : dir + "/" + name; };
    appendToFile(inDir("args.txt"), QJsonDocument(QJsonArray::fromStringList(args)).toJson(QJsonDocument::Compact));

    QString runtimeDir;
    QString diagnostics;
    bool diagnose = false;
    static const QStringList valued{"--state-dir", "--runtime-dir", "--mount-root", "--nfs-helper", "--diagnostics"};
    for (int i = 0; i < args.size(); ++i) {
        if (!valued.contains(args[i]) || i + 1 >= args.size()) {
            std::fprintf(stderr, "cv-mac-service stand-in: unknown option %s\n", qPrintable(args[i]));
            return 64;
        }
        if (args[i] == "--runtime-dir")
            runtimeDir = args[i + 1];
        if (args[i] == "--diagnostics") {
            diagnose = true;
            diagnostics = args[i + 1];
        }
        ++i;
    }

    QJsonObject script;
    QFile scriptFile(inDir("script.json"));
    if (scriptFile.open(QIODevice::ReadOnly))
        script = QJsonDocument::fromJson(scriptFile.readAll()).object();

    writeAll(STDOUT_FILENO, script.value("stdout").toString().toUtf8());
    writeAll(STDERR_FILENO, script.value("stderr").toString().toUtf8());
    if (script.contains("exit_at_start"))
        return script.value("exit_at_start").toInt();

    if (diagnose) {
        const QJsonObject d = script.value("diagnostics").toObject();
        if (d.contains("delay"))
            ::usleep(useconds_t(millis(d.value("delay").toDouble()) * 1000));
        const int status = d.value("status").toInt(0);
        if (status != 0) {
            writeAll(STDERR_FILENO, d.value("stderr").toString().toUtf8());
            return status;
        }
        QFile out(diagnostics);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(diagnostics));
            return 73;
        }
        out.write(d.value("archive").toString("cv-mac-service stand-in diagnostics\n").toUtf8());
        return 0;
    }

    if (runtimeDir.isNull())
        runtimeDir = qEnvironmentVariableIsSet("CV_MAC_RUNTIME_DIR")
                         ? qEnvironmentVariable("CV_MAC_RUNTIME_DIR")
                         : QStringLiteral("/tmp/cv-%1").arg(::geteuid());

    struct sigaction sa{};
    sa.sa_handler = onTerminate;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);

    Service service(script, runtimeDir, inDir("record.txt"));
    if (!service.start()) {
        service.stopListening();
        return 71;
    }

    // Never outlive the test that started us.
    const pid_t parent = ::getppid();
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, &app, [parent] {
        if (::getppid() != parent)
            QCoreApplication::exit(0);
    });
    watchdog.start(200);
    QTimer::singleShot(millis(script.value("lifetime").toDouble(120)), &app, [] { QCoreApplication::exit(0); });

    const int status = app.exec();
    service.stopListening();
    return status;
}

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
//   "refuse": "no_socket" | "full_backlog",
//   "refuse_for": 1.5,                   seconds; then listen normally
//   "lifetime": 120,                     exit after this many seconds
//   "status": {...},                     keys merged into the built-in status result
//   "event_sequence": 0,                 the newest event number
//   "ops": { "<op>": step | [step, ...] },  steps used in turn, the last repeats
//   "diagnostics": {"archive": "text", "status": 0, "stderr": "text", "delay": 0.5,
//                   "release": "path"}   (no answer until that file exists, a minute at most)
// }
// A step: "reply": {...} (one compact JSON line), or "size": n (a valid envelope
// padded to n bytes, line feed included); "newline": false (no final line feed),
// "chunks": n (split over n writes 5 ms apart), "delay": s (before answering), "silent": true (never answer; keep the connection until the peer closes),
// "quit": true (exit 0 after the reply, as the built-in "quit" does), "quit_delay": s
// (still serving for s seconds before that exit), "linger": s (the socket closed and
// removed at once, before the reply, and the exit s seconds after the reply).
// Built-in answers: "status" a status record with the current event sequence,
// "events" no events, "quit" an empty result and exit 0, any
// other op {"ok":true,"result":{}}.

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QJsonObject script;
QString folder; // CV_STANDIN_DIR
char socketPath[sizeof(sockaddr_un::sun_path)] = {};
QHash<QString, int> opCounts;
QLocalServer *listening = nullptr;

void append(const char *file, const QByteArray &line)
{
    QFile f(folder + "/" + file);
    if (!folder.isEmpty() && f.open(QIODevice::WriteOnly | QIODevice::Append))
        f.write(line + '\n');
}

int ms(double seconds) { return seconds <= 0 ? 0 : int(seconds * 1000.0 + 0.5); }

void onTerminate(int)
{
    ::unlink(socketPath);
    ::_exit(0);
}

quint64 currentSequence() { return quint64(script.value("event_sequence").toDouble(0)); }

QJsonObject builtIn(const QString &op, const QJsonObject &request)
{
    QJsonObject result;
    if (op == "status") {
        result = QJsonObject{{"api_version", 1}, {"version", "0.0-standin"}, {"computer_id", "standin-computer"},
                             {"name", "Stand-in"}, {"capabilities", QJsonArray()}, {"control_busy", false},
                             {"connection_issues", QJsonArray()}, {"peers", QJsonArray()},
                             {"remembered_computers", QJsonArray()}, {"transfers", QJsonArray()},
                             {"copies", QJsonArray()}, {"event_sequence", double(currentSequence())}};
        const QJsonObject extra = script.value("status").toObject();
        for (auto it = extra.begin(); it != extra.end(); ++it)
            result[it.key()] = it.value();
    } else if (op == "events") {
        const quint64 since = quint64(request.value("since").toDouble(0));
        result = QJsonObject{{"events", QJsonArray()}, {"sequence", double(std::max(since, currentSequence()))},
                             {"resync_required", false}};
    }
    return QJsonObject{{"reply", QJsonObject{{"ok", true}, {"result", result}}}};
}

QByteArray replyBytes(const QJsonObject &step)
{
    const bool newline = step.value("newline").toBool(true);
    QByteArray bytes;
    if (step.contains("size")) {
        const QByteArray head = R"({"ok":true,"result":{"pad":")", tail = "\"}}\n";
        const qsizetype fill = qsizetype(step.value("size").toDouble()) - head.size() - tail.size();
        bytes = head + QByteArray(std::max<qsizetype>(0, fill), 'x') + (newline ? tail : tail.chopped(1));
    } else if (step.contains("reply")) {
        bytes = QJsonDocument(step.value("reply").toObject()).toJson(QJsonDocument::Compact) + (newline ? "\n" : "");
    }
    return bytes;
}

// Writes the parts `gap` milliseconds apart, then closes once all is written (and,
// after the built-in "quit", exits).
void writeParts(QLocalSocket *socket, QList<QByteArray> parts, int gap, int quitAfter, int linger)
{
    if (!parts.isEmpty()) {
        socket->write(parts.takeFirst());
        socket->flush();
        if (!parts.isEmpty()) {
            QTimer::singleShot(gap, socket, [=] { writeParts(socket, parts, gap, quitAfter, linger); });
            return;
        }
    }
    if (quitAfter >= 0) {
        socket->waitForBytesWritten(2000);
        QTimer::singleShot(quitAfter + linger, qApp, [] {
            ::unlink(socketPath);
            QCoreApplication::exit(0);
        });
    }
    socket->disconnectFromServer();
}

void answer(QLocalSocket *socket, const QByteArray &line)
{
    const QJsonObject request = QJsonDocument::fromJson(line).object();
    const QString op = request.value("op").toString();
    const QJsonValue entry = script.value("ops").toObject().value(op);
    const QJsonArray steps = entry.isArray() ? entry.toArray() : QJsonArray{entry};
    const QJsonValue chosen = steps.at(std::min<qsizetype>(opCounts[op]++, steps.size() - 1));
    const QJsonObject step = chosen.isObject() ? chosen.toObject() : builtIn(op, request);
    if (step.value("silent").toBool())
        return; // kept open until the peer closes
    const QByteArray bytes = replyBytes(step);
    const int chunks = std::max(1, step.value("chunks").toInt(1));
    QList<QByteArray> parts;
    for (qsizetype at = 0, per = std::max<qsizetype>(1, (bytes.size() + chunks - 1) / chunks); at < bytes.size(); at += per)
        parts.append(bytes.mid(at, per));
    const bool quit = (op == "quit" && !chosen.isObject()) || step.value("quit").toBool();
    const int quitAfter = quit ? ms(step.value("quit_delay").toDouble()) : -1;
    const int linger = quit ? ms(step.value("linger").toDouble()) : 0;
    if (linger > 0) {
        listening->close();
        ::unlink(socketPath);
    }
    QTimer::singleShot(ms(step.value("delay").toDouble()), socket, [=] { writeParts(socket, parts, 5, quitAfter, linger); });
}

void serve(QLocalSocket *socket)
{
    auto received = std::make_shared<QByteArray>();
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, received] {
        const QByteArray bytes = socket->readAll();
        if (received->endsWith('\n'))
            return; // anything after the request line is ignored
        received->append(bytes);
        const qsizetype lf = received->indexOf('\n');
        if (lf >= 0) {
            received->truncate(lf + 1);
            append("record.txt", received->chopped(1));
            answer(socket, received->chopped(1));
        }
    });
    QObject::connect(socket, &QLocalSocket::disconnected, socket, [socket, received] {
        if (!received->endsWith('\n'))
            append("record.txt", *received + socket->readAll());
        socket->deleteLater();
    });
}

// The listening socket, bound under a temporary name and renamed into place, so the
// file appears only once connections are accepted or refused as scripted. A full
// backlog is filled by a connection of our own (`filler`) that is never accepted.
int bindSocket(const QString &runtimeDir, const QString &refuse, int &filler)
{
    ::mkdir(QFile::encodeName(runtimeDir).constData(), 0700);
    const QByteArray path = QFile::encodeName(runtimeDir + "/control.sock"), temp = path + ".tmp";
    if (size_t(temp.size()) >= sizeof(socketPath))
        return -1;
    std::memcpy(socketPath, path.constData(), size_t(path.size()) + 1);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, temp.constData(), size_t(temp.size()));
    ::unlink(temp.constData());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto *raw = reinterpret_cast<sockaddr *>(&address);
    if (fd < 0 || ::bind(fd, raw, sizeof address) != 0
        || ::listen(fd, refuse == "full_backlog" ? 0 : 64) != 0)
        return -1;
    if (refuse == "full_backlog") {
        filler = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ::connect(filler, raw, sizeof address);
    }
    return ::rename(temp.constData(), path.constData()) == 0 ? fd : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    folder = qEnvironmentVariable("CV_STANDIN_DIR");
    append("args.txt", QJsonDocument(QJsonArray::fromStringList(args)).toJson(QJsonDocument::Compact));

    QString runtimeDir = qEnvironmentVariableIsSet("CV_MAC_RUNTIME_DIR") ? qEnvironmentVariable("CV_MAC_RUNTIME_DIR")
                                                                         : QStringLiteral("/tmp/cv-%1").arg(::geteuid());
    QString diagnostics;
    static const QStringList valued{"--state-dir", "--runtime-dir", "--mount-root", "--nfs-helper", "--diagnostics"};
    for (qsizetype i = 0; i < args.size(); i += 2) {
        if (!valued.contains(args[i]) || i + 1 >= args.size()) {
            std::fprintf(stderr, "cv-mac-service stand-in: unknown option %s\n", qPrintable(args[i]));
            return 64;
        }
        if (args[i] == "--runtime-dir")
            runtimeDir = args[i + 1];
        if (args[i] == "--diagnostics")
            diagnostics = args[i + 1];
    }

    QFile scriptFile(folder + "/script.json");
    if (!folder.isEmpty() && scriptFile.open(QIODevice::ReadOnly))
        script = QJsonDocument::fromJson(scriptFile.readAll()).object();
    std::fputs(script.value("stdout").toString().toUtf8().constData(), stdout);
    std::fflush(stdout);
    std::fputs(script.value("stderr").toString().toUtf8().constData(), stderr);
    if (script.contains("exit_at_start"))
        return script.value("exit_at_start").toInt();

    if (!diagnostics.isNull()) {
        const QJsonObject d = script.value("diagnostics").toObject();
        ::usleep(useconds_t(ms(d.value("delay").toDouble()) * 1000));
        const QString release = d.value("release").toString();
        for (int waited = 0; !release.isEmpty() && !QFile::exists(release) && waited < 60000; waited += 5)
            ::usleep(5000);
        if (const int status = d.value("status").toInt(0)) {
            std::fputs(d.value("stderr").toString().toUtf8().constData(), stderr);
            return status;
        }
        QFile out(diagnostics);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 73;
        out.write(d.value("archive").toString("cv-mac-service stand-in diagnostics\n").toUtf8());
        return 0;
    }

    struct sigaction sa {};
    sa.sa_handler = onTerminate;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);

    const QString refuse = script.value("refuse").toString();
    int filler = -1;
    int fd = refuse == "no_socket" ? -1 : bindSocket(runtimeDir, refuse, filler);
    if (refuse != "no_socket" && fd < 0)
        return 71;
    QLocalServer server;
    listening = &server;
    QObject::connect(&server, &QLocalServer::newConnection, &server, [&server] {
        while (QLocalSocket *socket = server.nextPendingConnection())
            serve(socket);
    });
    const auto listen = [&] {
        if (fd < 0 && (fd = bindSocket(runtimeDir, QString(), filler)) < 0)
            QCoreApplication::exit(71);
        if (filler >= 0) { // drop the filler and its pending connection
            ::close(filler);
            ::close(::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC));
        }
        ::listen(fd, 64);
        server.listen(fd);
    };
    if (refuse.isEmpty())
        listen();
    else if (script.contains("refuse_for"))
        QTimer::singleShot(ms(script.value("refuse_for").toDouble()), &app, listen);

    // Never outlive the test that started us.
    const pid_t parent = ::getppid();
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, &app, [parent] {
        if (::getppid() != parent)
            QCoreApplication::exit(0);
    });
    watchdog.start(200);
    QTimer::singleShot(ms(script.value("lifetime").toDouble(120)), &app, [] { QCoreApplication::exit(0); });
    const int status = app.exec();
    ::unlink(socketPath);
    return status;
}

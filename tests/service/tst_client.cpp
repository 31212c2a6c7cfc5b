// ServiceClient against the stand-in service: framing, limits, waits, peer check,
// error texts and descriptor hygiene.
#include "fake_clock.h"
#include "outcome.h"
#include "standin.h"

#include "localization/localization.h"
#include "service/records.h"
#include "service/service_client.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

using namespace cv;
using namespace cv::test;

using Error = std::optional<QString>;

namespace {

const QString timedOut = "invalid: The service request timed out. Its outcome will be checked before another action.";
const QString closedEarly = "invalid: The background service closed before completing its response.";
const QByteArray statusLine = "{\"op\":\"status\"}\n";

template<class T = EmptyResult>
Outcome<T> ask(ServiceClient &client, Command command, std::optional<double> deadline = {})
{
    return outcome(client.request<T>(std::move(command), deadline));
}

Error failure(ServiceClient &client, std::optional<double> deadline = {})
{
    return ask(client, Command{.op = "status"}, deadline).error;
}

QJsonObject okReply() { return QJsonObject{{"ok", true}, {"result", QJsonObject{}}}; }

QJsonObject script(const QString &op, const QJsonValue &steps) { return {{"ops", QJsonObject{{op, steps}}}}; }

bool serving(Standin &s, const QJsonObject &script, bool waitForSocket = true)
{
    s.setScript(script);
    return s.start({}, waitForSocket);
}

// Every open descriptor with what it refers to. Wake-up descriptors of thread event
// loops come and go with the client's pool threads and are left out.
QStringList openDescriptors()
{
    QStringList out;
    for (const QString &fd : QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
        const QString target = QFile::symLinkTarget("/proc/self/fd/" + fd);
        if (!target.isEmpty() && !target.endsWith("anon_inode:[eventfd]"))
            out << fd + " -> " + target;
    }
    out.sort();
    return out;
}

// Answers canned bytes instead of using a socket; moves the fake clock meanwhile.
class CannedClient : public ServiceClient {
public:
    explicit CannedClient(FakeClock &clock)
        : ServiceClient(QStringLiteral("/nonexistent"), currentUid(), 2.0, 35.0, clock), fake(clock)
    {
    }
    FakeClock &fake;
    QByteArray answer = "{\"ok\":true,\"result\":{}}\n";
    double takes = 0;
    QList<QByteArray> lines;

protected:
    QCoro::Task<QByteArray> send(QByteArray requestLine, std::optional<double>) override
    {
        lines << requestLine;
        fake.advance(takes);
        QByteArray copy = answer; // g++ 12 moves from a member named in co_return
        co_return copy;
    }
};

} // namespace

class ClientTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { Localization::reset(); }

    void socketPath()
    {
        const auto pathWith = [](const char *variable) {
            variable ? qputenv("CV_MAC_RUNTIME_DIR", variable) : qunsetenv("CV_MAC_RUNTIME_DIR");
            return ServiceClient().socketPath();
        };
        QCOMPARE(pathWith("/run/x"), "/run/x/control.sock");
        QCOMPARE(pathWith(""), "/control.sock");
        QCOMPARE(pathWith(nullptr), QStringLiteral("/tmp/cv-%1/control.sock").arg(::geteuid()));
    }

    void requestLimit()
    {
        Standin s;
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        const qsizetype base = Command{.op = "send_files", .paths = QStringList{QString()}}.encode().size() + 1;
        const auto sized = [&](qsizetype bytes) {
            return Command{.op = "send_files", .paths = QStringList{QString(bytes - base, 'a')}};
        };
        QCOMPARE(sized(16384).encode().size() + 1, 16384);
        QCOMPARE(ask(client, sized(16384)).error, Error());
        QCOMPARE(ask(client, sized(16385)).error, "invalid: The file selection is too large for one request.");
        QTest::qWait(50); // lets a stray connection, had there been one, reach the record
        QCOMPARE(s.recorded(), QList<QByteArray>{sized(16384).encode()});
    }

    void pathLimitComesBeforeTheSocket_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("expected");
        // With no descriptor left, creating the socket fails: the message shows which
        // check came first.
        QTest::newRow("103 bytes") << 103 << "invalid: Create control socket: Too many open files.";
        QTest::newRow("104 bytes") << 104
                                   << "invalid: The control socket path is too long. Choose a shorter runtime directory.";
    }
    void pathLimitComesBeforeTheSocket()
    {
        QFETCH(int, length);
        QFETCH(QString, expected);
        ServiceClient client("/nonexistent-" + QString(length - 13 - 13, 'd'));
        QCOMPARE(client.socketPath().toUtf8().size(), length);
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        const int lowestFree = ::dup(0);
        QVERIFY(lowestFree >= 0);
        ::close(lowestFree);
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(lowestFree);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        const Error error = errorOf([&] { client.exchange(statusLine, std::nullopt); });
        ::setrlimit(RLIMIT_NOFILE, &saved);
        QCOMPARE(error, expected);
    }

    // Waits for the connection (a full backlog) and for the reply, with and without a
    // deadline, measured in real time.
    void waits_data()
    {
        QTest::addColumn<QJsonObject>("script");
        QTest::addColumn<double>("connectWait");
        QTest::addColumn<double>("ioWait");
        QTest::addColumn<double>("deadline"); // seconds from now; negative: none
        QTest::addColumn<QString>("expected"); // empty: success
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        const QJsonObject silent = script("status", QJsonObject{{"silent", true}});
        const QJsonObject backlog{{"refuse", "full_backlog"}};
        QTest::newRow("1 s deadline, silent service") << silent << 2.0 << 35.0 << 1.0 << timedOut << 950 << 1600;
        QTest::newRow("no deadline: the I/O wait") << silent << 2.0 << 0.3 << -1.0 << timedOut << 280 << 1200;
        QTest::newRow("slow reply within the wait")
            << script("status", QJsonObject{{"reply", okReply()}, {"delay", 0.2}}) << 2.0 << 1.0 << 0.8 << QString()
            << 180 << 1000;
        QTest::newRow("full backlog: the connect wait") << backlog << 0.3 << 35.0 << -1.0 << timedOut << 280 << 1500;
        QTest::newRow("full backlog: a sooner deadline") << backlog << 2.0 << 35.0 << 0.2 << timedOut << 180 << 1200;
        QJsonObject draining = backlog;
        draining.insert("refuse_for", 0.3);
        QTest::newRow("full backlog that drains") << draining << 2.0 << 35.0 << -1.0 << QString() << 0 << 1900;
    }
    void waits()
    {
        QFETCH(QJsonObject, script);
        QFETCH(double, connectWait);
        QFETCH(double, ioWait);
        QFETCH(double, deadline);
        QFETCH(QString, expected);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        Standin s;
        QVERIFY(serving(s, script));
        ServiceClient client(s.runtimeDir(), ServiceClient::currentUid(), connectWait, ioWait);
        QElapsedTimer t;
        t.start();
        const Error error = failure(client, deadline < 0 ? std::nullopt
                                                         : std::optional(Clock::system().uptime() + deadline));
        QCOMPARE(error, expected.isEmpty() ? Error() : Error(expected));
        QVERIFY2(t.elapsed() >= minMs && t.elapsed() < maxMs, QByteArray::number(t.elapsed()));
        if (!error)
            QCOMPARE(s.recorded(), QList<QByteArray>{statusLine.chopped(1)});
    }

    void passedDeadlineMakesNoConnection()
    {
        Standin s;
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        const double now = Clock::system().uptime();
        QCOMPARE(failure(client, now), timedOut);
        QCOMPARE(errorOf([&] { client.exchange(statusLine, now - 1); }), timedOut);
        QTest::qWait(50);
        QVERIFY(s.recorded().isEmpty());
    }

    void foreignOwnerIsRefusedAfterConnecting()
    {
        Standin s;
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir(), ::geteuid() + 1);
        QCOMPARE(failure(client), "invalid: The control socket does not belong to this user.");
        // The connection was made and closed without a request.
        QTRY_COMPARE(s.recorded(), QList<QByteArray>{QByteArray()});
    }

    void replySplitOverManyWrites()
    {
        const QString name(6000, QChar(u'é'));
        const QJsonObject status{{"api_version", 1}, {"version", "1.0"}, {"computer_id", "c1"},
                                 {"name", name}, {"peers", QJsonArray()},
                                 {"remembered_computers", QJsonArray()}, {"event_sequence", 5}};
        Standin s;
        QVERIFY(serving(s, script("status", QJsonObject{{"reply", QJsonObject{{"ok", true}, {"result", status}}},
                                                        {"chunks", 60}, {"chunk_delay", 0.002}})));
        ServiceClient client(s.runtimeDir());
        const Outcome<ServiceStatus> out = ask<ServiceStatus>(client, Command{.op = "status"});
        QCOMPARE(out.error, Error());
        QCOMPARE(out.value->name, name);
        QCOMPARE(out.value->event_sequence, std::uint64_t(5));
    }

    void replySizeLimit()
    {
        Standin s;
        QVERIFY(serving(s, script("status", QJsonArray{QJsonObject{{"size", 1048576}}, QJsonObject{{"size", 1048577}}})));
        ServiceClient client(s.runtimeDir());
        const QByteArray line = client.exchange(statusLine, std::nullopt); // the whole line, line feed included
        QCOMPARE(line.size(), 1048576);
        QVERIFY(line.endsWith("\"}}\n"));
        QCOMPARE(failure(client), "invalid: The service response exceeded the size limit.");
    }

    // Connections refused and replies cut short, each ending in its own error.
    void failures_data()
    {
        QTest::addColumn<QJsonObject>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no socket file") << QJsonObject{{"refuse", "no_socket"}}
                                        << "unavailable: The background service is unavailable: No such file or directory.";
        QTest::newRow("not listening") << QJsonObject{{"refuse", "not_listening"}}
                                       << "unavailable: The background service is unavailable: Connection refused.";
        QTest::newRow("no line feed") << script("status", QJsonObject{{"reply", okReply()}, {"newline", false}})
                                      << closedEarly;
        QTest::newRow("empty reply") << script("status", QJsonObject{{"close", true}}) << closedEarly;
        QTest::newRow("bytes after the line feed")
            << script("status", QJsonObject{{"reply", okReply()}, {"trailing", "{}"}}) << closedEarly;
        QTest::newRow("ends mid-line after a pause")
            << script("status", QJsonObject{{"raw", "{\"ok\":true,"}, {"chunks", 3}, {"chunk_delay", 0.02}})
            << closedEarly;
    }
    void failures()
    {
        QFETCH(QJsonObject, script);
        QFETCH(QString, expected);
        Standin s;
        QVERIFY(serving(s, script, script.value("refuse") != "no_socket"));
        ServiceClient client(s.runtimeDir());
        QCOMPARE(failure(client), expected);
    }

    void replyAfterTheDeadlineIsATimeOut()
    {
        FakeClock clock(1000.0);
        CannedClient client(clock);
        client.takes = 1.0;
        QCOMPARE(ask(client, Command{.op = "eject"}, 1000.5).error, timedOut);
        QCOMPARE(client.lines.size(), 1);
        client.takes = 0.2;
        QCOMPARE(ask(client, Command{.op = "eject"}, clock.uptime() + 0.5).error, Error());
        client.takes = 0.5; // a deadline reached exactly counts as passed
        QCOMPARE(ask(client, Command{.op = "eject"}, clock.uptime() + 0.5).error, timedOut);
    }

    // The envelope as the client reports it, service texts through a test catalog.
    void replies_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("expected"); // empty: success
        QTest::newRow("success") << QByteArray("{\"x\":1,\"ok\":true,\"result\":[]}\n") << "";
        QTest::newRow("no result") << QByteArray("{\"ok\":true,\"result\":null}\n")
                                   << "invalid: The background service returned no result.";
        QTest::newRow("not JSON") << QByteArray("hello\n")
                                  << "invalid: The background service returned an invalid API response: ";
        QTest::newRow("rejected without error") << QByteArray("{\"ok\":false}\n")
                                                << "rejected: Der Dienst hat die Anfrage abgelehnt.";
        QTest::newRow("exact entry") << QByteArray("{\"ok\":false,\"error\":\"Drive is busy.\",\"result\":{}}\n")
                                     << "rejected: Das Laufwerk ist belegt.";
        QTest::newRow("template") << QByteArray("{\"ok\":false,\"error\":\"Computer Anna is not connected.\"}\n")
                                  << "rejected: Der Computer Anna ist nicht verbunden.";
        QTest::newRow("unknown stays English") << QByteArray("{\"ok\":false,\"error\":\"Something odd.\"}\n")
                                               << "rejected: Something odd.";
    }
    void replies()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, expected);
        Localization::install("de", QJsonObject{
            {"The background service rejected the request.", "Der Dienst hat die Anfrage abgelehnt."},
            {"Drive is busy.", "Das Laufwerk ist belegt."},
            {"Computer {name} is not connected.", "Der Computer {name} ist nicht verbunden."},
        });
        FakeClock clock;
        CannedClient client(clock);
        client.answer = answer;
        const Error error = failure(client);
        QCOMPARE(client.lines, QList<QByteArray>{statusLine});
        if (expected.endsWith(": ")) // followed by the decoder's own description
            QVERIFY2(error && error->startsWith(expected) && error->size() > expected.size(), qPrintable(*error));
        else
            QCOMPARE(error, expected.isEmpty() ? Error() : Error(expected));
    }

    void requestsRunSideBySide()
    {
        Standin s;
        QVERIFY(serving(s, script("status", QJsonObject{{"reply", okReply()}, {"delay", 0.3}})));
        ServiceClient client(s.runtimeDir());
        QElapsedTimer t;
        t.start();
        // Three at once, each answered after 0.3 s: together well under three times that.
        auto all = [](ServiceClient &c) -> QCoro::Task<int> {
            std::vector<QCoro::Task<Outcome<EmptyResult>>> tasks;
            for (int i = 0; i < 3; ++i)
                tasks.push_back(capture(c.request<EmptyResult>(Command{.op = "status"})));
            int succeeded = 0;
            for (auto &task : tasks)
                succeeded += (co_await std::move(task)).value.has_value();
            co_return succeeded;
        };
        QCOMPARE(QCoro::waitFor(all(client)), 3);
        QVERIFY2(t.elapsed() < 800, QByteArray::number(t.elapsed()));
        QCOMPARE(s.recorded().size(), 3);
    }

    void noDescriptorLeaks()
    {
        Standin s;
        QVERIFY(serving(s, QJsonObject{{"ops", QJsonObject{
            {"eject", QJsonObject{{"close", true}}},
            {"mount", QJsonObject{{"size", 1048577}}},
            {"forget", QJsonObject{{"reply", okReply()}, {"newline", false}}},
            {"connect", QJsonObject{{"silent", true}}},
            {"disconnect", QJsonObject{{"reply", QJsonObject{{"ok", false}}}}},
            {"dismiss", QJsonObject{{"raw", "garbage\n"}}},
        }}}));
        ServiceClient client(s.runtimeDir(), ServiceClient::currentUid(), 2.0, 0.2);
        ServiceClient foreign(s.runtimeDir(), ::geteuid() + 1);
        ServiceClient missing(s.directory() + "/elsewhere");
        ServiceClient tooLong("/" + QString(100, 'x'));
        QCOMPARE(failure(client), Error()); // the pool's thread exists before the first snapshot

        const QStringList before = openDescriptors();
        int failures = 0;
        for (int round = 0; round < 3; ++round) {
            for (const char *op : {"status", "eject", "mount", "forget", "connect", "disconnect", "dismiss"})
                failures += ask(client, Command{.op = op}).error ? 1 : 0;
            for (ServiceClient *other : {&foreign, &missing, &tooLong})
                failures += failure(*other) ? 1 : 0;
            failures += errorOf([&] { client.exchange(statusLine, std::nullopt); }) ? 1 : 0;
            failures += errorOf([&] { client.exchange("{\"op\":\"eject\"}\n", std::nullopt); }) ? 1 : 0;
        }
        QCOMPARE(failures, 3 * 10);
        QCOMPARE(openDescriptors(), before);
    }
};

QTEST_GUILESS_MAIN(ClientTest)
#include "tst_client.moc"

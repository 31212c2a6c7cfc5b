// ServiceClient against the stand-in service: framing, limits, waits, the peer check,
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
const QJsonObject okReply{{"ok", true}, {"result", QJsonObject{}}};

Error failure(ServiceClient &client, std::optional<double> deadline = {}, const QString &op = "status")
{
    return outcome(client.request<EmptyResult>(Command{.op = op}, deadline)).error;
}

QJsonObject status(const QJsonObject &step) { return {{"ops", QJsonObject{{"status", step}}}}; }

// Open descriptors and what they refer to, without the event loops' wake-ups.
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
    explicit CannedClient(FakeClock &clock) : ServiceClient("/nonexistent", currentUid(), 2.0, 35.0, clock), fake(clock) {}
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
        qputenv("CV_MAC_RUNTIME_DIR", "/run/x");
        QCOMPARE(ServiceClient().socketPath(), "/run/x/control.sock");
        qunsetenv("CV_MAC_RUNTIME_DIR");
        QCOMPARE(ServiceClient().socketPath(), QStringLiteral("/tmp/cv-%1/control.sock").arg(::geteuid()));
    }

    void requestLimit()
    {
        Standin s;
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        const auto sized = [](qsizetype bytes) { // the request line, line feed included, of this size
            const qsizetype base = Command{.op = "send_files", .paths = QStringList{QString()}}.encode().size() + 1;
            return Command{.op = "send_files", .paths = QStringList{QString(bytes - base, 'a')}};
        };
        QCOMPARE(outcome(client.request<EmptyResult>(sized(16384))).error, Error());
        QCOMPARE(outcome(client.request<EmptyResult>(sized(16385))).error,
                 "invalid: The file selection is too large for one request.");
        QTest::qWait(50); // lets a stray connection, had there been one, reach the record
        QCOMPARE(s.recorded(), QList<QByteArray>{sized(16384).encode()});
    }

    void pathLimitComesBeforeTheSocket_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("expected");
        // With no descriptor left, creating the socket fails: the message shows which check came first.
        QTest::newRow("103 bytes") << 103 << "invalid: Create control socket: Too many open files.";
        QTest::newRow("104 bytes") << 104 << "invalid: The control socket path is too long. Choose a shorter runtime directory.";
    }
    void pathLimitComesBeforeTheSocket()
    {
        QFETCH(int, length);
        QFETCH(QString, expected);
        ServiceClient client("/nonexistent-" + QString(length - 26, 'd'));
        QCOMPARE(client.socketPath().toUtf8().size(), length);
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        const int lowestFree = ::dup(0);
        ::close(lowestFree);
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(lowestFree);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        const Error error = errorOf([&] { client.exchange(statusLine, std::nullopt); });
        ::setrlimit(RLIMIT_NOFILE, &saved);
        QCOMPARE(error, expected);
    }

    // Waits for the connection (a full backlog) and the reply, in real time.
    void waits_data()
    {
        QTest::addColumn<QJsonObject>("script");
        QTest::addColumn<double>("connectWait");
        QTest::addColumn<double>("ioWait");
        QTest::addColumn<double>("deadline"); // seconds from now; negative: none
        QTest::addColumn<QString>("expected"); // empty: success
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        const QJsonObject silent = status({{"silent", true}});
        const QJsonObject backlog{{"refuse", "full_backlog"}};
        QTest::newRow("1 s deadline, silent service") << silent << 2.0 << 35.0 << 1.0 << timedOut << 950 << 1600;
        QTest::newRow("no deadline: the I/O wait") << silent << 2.0 << 0.3 << -1.0 << timedOut << 280 << 1200;
        QTest::newRow("slow reply within the wait") << status({{"reply", okReply}, {"delay", 0.2}}) << 2.0 << 1.0 << 0.8
                                                    << "" << 180 << 1000;
        QTest::newRow("full backlog: the connect wait") << backlog << 0.3 << 35.0 << -1.0 << timedOut << 280 << 1500;
        QTest::newRow("full backlog: a sooner deadline") << backlog << 2.0 << 35.0 << 0.2 << timedOut << 180 << 1200;
        // Connects in short steps: well within the 2 s wait once a slot frees at 0.3 s.
        QTest::newRow("full backlog that drains") << QJsonObject{{"refuse", "full_backlog"}, {"refuse_for", 0.3}} << 2.0
                                                  << 35.0 << -1.0 << "" << 250 << 800;
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
        s.setScript(script);
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir(), ServiceClient::currentUid(), connectWait, ioWait);
        QElapsedTimer t;
        t.start();
        const Error error = failure(client, deadline < 0 ? std::nullopt : std::optional(Clock::system().uptime() + deadline));
        QCOMPARE(error, expected.isEmpty() ? Error() : Error(expected));
        QVERIFY2(t.elapsed() >= minMs && t.elapsed() < maxMs, QByteArray::number(t.elapsed()));
        QCOMPARE(s.recorded(), expected.isEmpty() || script.contains("ops") ? QList<QByteArray>{statusLine.chopped(1)}
                                                                            : QList<QByteArray>{});
    }

    void passedDeadlineMakesNoConnection()
    {
        Standin s;
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        QCOMPARE(failure(client, Clock::system().uptime()), timedOut);
        QTest::qWait(50);
        QVERIFY(s.recorded().isEmpty());
    }

    // Connections refused, foreign or cut short, each ending in its own error.
    void failures_data()
    {
        QTest::addColumn<QJsonObject>("script");
        QTest::addColumn<uid_t>("owner");
        QTest::addColumn<QString>("expected");
        const uid_t me = ::geteuid();
        QTest::newRow("no socket file") << QJsonObject{{"refuse", "no_socket"}} << me
                                        << "unavailable: The background service is unavailable: No such file or directory.";
        QTest::newRow("not listening") << QJsonObject{{"refuse", "not_listening"}} << me
                                       << "unavailable: The background service is unavailable: Connection refused.";
        QTest::newRow("another user's socket") << QJsonObject() << me + 1
                                               << "invalid: The control socket does not belong to this user.";
        QTest::newRow("no line feed") << status({{"reply", okReply}, {"newline", false}}) << me << closedEarly;
        QTest::newRow("closed") << status({{"close", true}}) << me << closedEarly;
        QTest::newRow("bytes after the line feed") << status({{"reply", okReply}, {"trailing", "{}"}}) << me << closedEarly;
        QTest::newRow("ends mid-line after a pause")
            << status({{"raw", "{\"ok\":true,"}, {"chunks", 3}, {"chunk_delay", 0.02}}) << me << closedEarly;
        QTest::newRow("one byte over the size limit") << status({{"size", 1048577}}) << me
                                                      << "invalid: The service response exceeded the size limit.";
        QTest::newRow("at the size limit, over many writes") << status({{"size", 1048576}, {"chunks", 60}}) << me << "";
    }
    void failures()
    {
        QFETCH(QJsonObject, script);
        QFETCH(uid_t, owner);
        QFETCH(QString, expected);
        Standin s;
        s.setScript(script);
        QVERIFY(s.start(script.value("refuse") != "no_socket"));
        ServiceClient client(s.runtimeDir(), owner);
        QCOMPARE(failure(client), expected.isEmpty() ? Error() : Error(expected));
        if (owner != ::geteuid()) // connected, then closed without a request
            QTRY_COMPARE(s.recorded(), QList<QByteArray>{QByteArray()});
    }

    void replyAfterTheDeadlineIsATimeOut()
    {
        FakeClock clock(1000.0);
        CannedClient client(clock);
        client.takes = 1.0;
        QCOMPARE(failure(client, 1000.5), timedOut);
        client.takes = 0.2;
        QCOMPARE(failure(client, clock.uptime() + 0.5), Error());
        client.takes = 0.5; // a deadline reached exactly counts as passed
        QCOMPARE(failure(client, clock.uptime() + 0.5), timedOut);
        QCOMPARE(client.lines.size(), 3);
    }

    // The envelope as the client reports it, service texts through a test catalog.
    void replies_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("expected"); // empty: success
        QTest::newRow("success") << QByteArray("{\"x\":1,\"ok\":true,\"result\":[]}\n") << "";
        QTest::newRow("no result") << QByteArray("{\"ok\":true,\"result\":null}\n")
                                   << "invalid: The background service returned no result.";
        QTest::newRow("not JSON") << QByteArray("[1]\n")
                                  << "invalid: The background service returned an invalid API response: expected an object, found a list";
        QTest::newRow("rejected without error") << QByteArray("{\"ok\":false}\n") << "rejected: Der Dienst lehnte ab.";
        QTest::newRow("template") << QByteArray("{\"ok\":false,\"error\":\"Computer Anna is not connected.\"}\n")
                                  << "rejected: Anna ist nicht verbunden.";
        QTest::newRow("unknown stays English") << QByteArray("{\"ok\":false,\"error\":\"Odd.\"}\n") << "rejected: Odd.";
    }
    void replies()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, expected);
        Localization::install("de", QJsonObject{{"The background service rejected the request.", "Der Dienst lehnte ab."},
                                                {"Computer {name} is not connected.", "{name} ist nicht verbunden."}});
        FakeClock clock;
        CannedClient client(clock);
        client.answer = answer;
        QCOMPARE(failure(client), expected.isEmpty() ? Error() : Error(expected));
        QCOMPARE(client.lines, QList<QByteArray>{statusLine});
    }

    void requestsRunSideBySide()
    {
        Standin s;
        s.setScript(status({{"reply", okReply}, {"delay", 0.3}}));
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        QElapsedTimer t;
        t.start();
        auto all = [](ServiceClient &c) -> QCoro::Task<int> { // three at once, each answered after 0.3 s
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
    }

    void noDescriptorLeaks()
    {
        Standin s;
        s.setScript(QJsonObject{{"ops", QJsonObject{{"eject", QJsonObject{{"close", true}}},
                                                    {"mount", QJsonObject{{"size", 1048577}}},
                                                    {"connect", QJsonObject{{"silent", true}}},
                                                    {"dismiss", QJsonObject{{"raw", "garbage\n"}}}}}});
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir(), ServiceClient::currentUid(), 2.0, 0.2);
        ServiceClient foreign(s.runtimeDir(), ::geteuid() + 1);
        ServiceClient missing(s.directory() + "/elsewhere");
        ServiceClient tooLong("/" + QString(100, 'x'));
        QCOMPARE(failure(client), Error()); // the pool's thread exists before the first snapshot
        const QStringList before = openDescriptors();
        int failures = 0;
        for (const char *op : {"eject", "mount", "connect", "dismiss"})
            failures += failure(client, {}, op).has_value();
        for (ServiceClient *other : {&foreign, &missing, &tooLong})
            failures += failure(*other).has_value();
        QCOMPARE(failures, 7);
        QCOMPARE(openDescriptors(), before);
    }
};

QTEST_GUILESS_MAIN(ClientTest)
#include "tst_client.moc"

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
Error expectedError(const QString &text) { return text.isEmpty() ? Error() : Error(text); }

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

// A request's waits (seconds; a negative deadline: none) and its error after so many ms.
struct Wait {
    QJsonObject script;
    double connect, io, deadline;
    QString expected;
    int minMs, maxMs;
};

} // namespace

Q_DECLARE_METATYPE(Wait)

class ClientTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { Localization::reset(); }

    void socketPath()
    {
        QCOMPARE(ServiceClient().socketPath(), QStringLiteral("/tmp/cv-%1/control.sock").arg(::geteuid()));
        qputenv("CV_MAC_RUNTIME_DIR", "/run/x");
        QCOMPARE(ServiceClient().socketPath(), "/run/x/control.sock");
        qunsetenv("CV_MAC_RUNTIME_DIR");
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

    // With no descriptor left, creating the socket fails: the message shows which check came first.
    void pathLimitComesBeforeTheSocket_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("expected");
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
        QTest::addColumn<Wait>("wait");
        const QJsonObject silent = status({{"silent", true}}), backlog{{"refuse", "full_backlog"}};
        QTest::newRow("1 s deadline, silent service") << Wait{silent, 2.0, 35.0, 1.0, timedOut, 950, 1600};
        QTest::newRow("no deadline: the I/O wait") << Wait{silent, 2.0, 0.3, -1.0, timedOut, 280, 1200};
        QTest::newRow("deadline already passed") << Wait{silent, 2.0, 35.0, 0.0, timedOut, 0, 300};
        QTest::newRow("full backlog: the connect wait") << Wait{backlog, 0.3, 35.0, -1.0, timedOut, 280, 1500};
        QTest::newRow("full backlog: a sooner deadline") << Wait{backlog, 2.0, 35.0, 0.2, timedOut, 180, 1200};
        // Connects in short steps: well within the 2 s wait once a slot frees at 0.3 s.
        QTest::newRow("full backlog that drains") << Wait{{{"refuse", "full_backlog"}, {"refuse_for", 0.3}}, 2.0, 35.0, -1.0, "", 250, 800};
    }
    void waits()
    {
        QFETCH(Wait, wait);
        Standin s;
        s.setScript(wait.script);
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir(), ServiceClient::currentUid(), wait.connect, wait.io);
        QElapsedTimer t;
        t.start();
        QCOMPARE(failure(client, wait.deadline < 0 ? std::nullopt : std::optional(Clock::system().uptime() + wait.deadline)),
                 expectedError(wait.expected));
        QVERIFY2(t.elapsed() >= wait.minMs && t.elapsed() < wait.maxMs, QByteArray::number(t.elapsed()));
        QTest::qWait(50);
        const bool sent = (wait.expected.isEmpty() || wait.script.contains("ops")) && wait.deadline != 0.0;
        QCOMPARE(s.recorded(), sent ? QList<QByteArray>{statusLine.chopped(1)} : QList<QByteArray>{});
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
        QTest::newRow("another user's socket") << QJsonObject() << me + 1 << "invalid: The control socket does not belong to this user.";
        QTest::newRow("no line feed") << status({{"reply", okReply}, {"newline", false}}) << me << closedEarly;
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
        QCOMPARE(failure(client), expectedError(expected));
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
    }

    // The envelope as the client reports it, service texts through a test catalog.
    void replies_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("expected"); // empty: success
        QTest::newRow("success") << QByteArray("{\"x\":1,\"ok\":true,\"result\":[]}\n") << "";
        QTest::newRow("no result") << QByteArray("{\"ok\":true,\"result\":null}\n") << "invalid: The background service returned no result.";
        QTest::newRow("not JSON") << QByteArray("[1]\n")
                                  << "invalid: The background service returned an invalid API response: expected an object, found a list";
        QTest::newRow("rejected without error") << QByteArray("{\"ok\":false}\n") << "rejected: Der Dienst lehnte ab.";
        QTest::newRow("template") << QByteArray("{\"ok\":false,\"error\":\"Computer Anna is not connected.\"}\n")
                                  << "rejected: Anna ist nicht verbunden.";
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
        QCOMPARE(failure(client), expectedError(expected));
        QCOMPARE(client.lines, QList<QByteArray>{statusLine});
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

    // Destroying the client returns at once, not when the hung service's 20 s wait runs
    // out; the exchange ending later is dropped, never resumed on the freed client.
    void destroyedClientDropsItsExchange()
    {
        Standin standin;
        standin.setScript(QJsonObject{{"ops", QJsonObject{{"status", QJsonObject{{"silent", true}}}}}, {"lifetime", 60}});
        QVERIFY(standin.start());
        auto client = std::make_unique<ServiceClient>(standin.runtimeDir(), ServiceClient::currentUid(), 2.0, 20.0);
        std::optional<Outcome<ServiceStatus>> ended;
        auto waiting = [](ServiceClient &c, std::optional<Outcome<ServiceStatus>> &out) -> QCoro::Task<> {
            QCoro::Task<Outcome<ServiceStatus>> request = capture(c.request<ServiceStatus>(Command{.op = "status"}));
            out = co_await std::move(request);
        };
        QCoro::Task<> task = waiting(*client, ended);
        QTRY_COMPARE(standin.recorded().size(), 1);
        QElapsedTimer destroying;
        destroying.start();
        client.reset();
        QVERIFY2(destroying.elapsed() < 10000, "the destructor waited for the exchange");
        standin.stop();
        QTest::qWait(300);
        QVERIFY(!ended);
    }
};

QTEST_GUILESS_MAIN(ClientTest)
#include "tst_client.moc"

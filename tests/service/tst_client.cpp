// ServiceClient against the stand-in service: framing, limits, waits, the peer check,
// error texts and descriptor hygiene.
#include "fake_clock.h"
#include "../views/table.h"
#include "outcome.h"
#include "standin.h"

#include "localization/localization.h"
#include "service/records.h"
#include "service/service_client.h"

#include <QElapsedTimer>
#include <QTest>

#include <unistd.h>

using namespace cv;
using namespace cv::test;

using Error = std::optional<QString>;

namespace {

const QString timedOut = "invalid: The service request timed out. Its outcome will be checked before another action.";
const QByteArray statusLine = "{\"op\":\"status\"}\n";

Error failure(ServiceClient &client, std::optional<double> deadline = {}, const QString &op = "status")
{
    return outcome(client.request<EmptyResult>(Command{.op = op}, deadline)).error;
}
Error expectedError(const QString &text) { return text.isEmpty() ? Error() : Error(text); }

QJsonObject status(const QJsonObject &step) { return {{"ops", QJsonObject{{"status", step}}}}; }

// Answers canned bytes instead of using a socket; moves the fake clock meanwhile.
class CannedClient : public ServiceClient {
public:
    explicit CannedClient(FakeClock &clock) : ServiceClient("/nonexistent", currentUid(), 2.0, 3.0, clock), fake(clock) {}
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

// A request to the scripted stand-in: its waits (seconds; a negative deadline: none),
// its error after at least and within less than so many ms, and the lines the
// stand-in received.
struct Exchange {
    QJsonObject script;
    double connect, io, deadline;
    QString expected;
    int minMs, maxMs;
    QList<QByteArray> received;
    uid_t owner = ::geteuid();
};

} // namespace

Q_DECLARE_METATYPE(Exchange)

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
        // The limit leaves room for the path's NUL.
        const auto failureAt = [](int length) { return failure(*std::make_unique<ServiceClient>("/nonexistent-" + QString(length - 26, 'd'))); };
        QCOMPARE(failureAt(103), "unavailable: The background service is unavailable: No such file or directory.");
        QCOMPARE(failureAt(104), "invalid: The control socket path is too long. Choose a shorter runtime directory.");
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
        QCOMPARE(outcome(client.request<EmptyResult>(sized(16385))).error, "invalid: The file selection is too large for one request.");
        QTest::qWait(50); // lets a stray connection, had there been one, reach the record
        QCOMPARE(s.recorded(), QList<QByteArray>{sized(16384).encode()});
    }

    // Waits (a full backlog, a silent service) in real time; connections refused,
    // foreign or cut short.
    void exchanges_data()
    {
        QTest::addColumn<Exchange>("exchange");
        const QJsonObject silent = status({{"silent", true}}), backlog{{"refuse", "full_backlog"}}, ok{{"ok", true}, {"result", QJsonObject{}}};
        const QList<QByteArray> sent{statusLine.chopped(1)}, none;
        const QString closedEarly = "invalid: The background service closed before completing its response.";
        // Every wait not under test is a minute, and a wait under test (0.2 s) must end
        // well before 20 s: far apart, so a busy machine cannot blur which wait ended
        // the request.
        QTest::newRow("deadline, silent service") << Exchange{silent, 60.0, 60.0, 0.2, timedOut, 180, 20000, sent};
        QTest::newRow("no deadline: the I/O wait") << Exchange{silent, 60.0, 0.2, -1.0, timedOut, 180, 20000, sent};
        QTest::newRow("full backlog: the connect wait") << Exchange{backlog, 0.2, 60.0, -1.0, timedOut, 180, 20000, none};
        // Connects in short steps once a slot frees at 0.2 s, long before its wait runs out.
        QTest::newRow("full backlog that drains")
            << Exchange{{{"refuse", "full_backlog"}, {"refuse_for", 0.2}}, 60.0, 60.0, -1.0, "", 150, 20000, sent};
        QTest::newRow("no socket file") << Exchange{{{"refuse", "no_socket"}}, 60.0, 60.0, -1,
            "unavailable: The background service is unavailable: No such file or directory.", 0, 20000, none};
        // Connected, then closed without a request.
        QTest::newRow("another user's socket")
            << Exchange{{}, 60.0, 60.0, -1, "invalid: The control socket does not belong to this user.", 0, 20000, {""}, ::geteuid() + 1};
        QTest::newRow("no line feed") << Exchange{status({{"reply", ok}, {"newline", false}}), 60.0, 60.0, -1, closedEarly, 0, 20000, sent};
        QTest::newRow("one byte over the size limit")
            << Exchange{status({{"size", 1048577}}), 60.0, 60.0, -1, "invalid: The service response exceeded the size limit.", 0, 20000, sent};
        QTest::newRow("at the size limit, over many writes") << Exchange{status({{"size", 1048576}, {"chunks", 60}}), 60.0, 60.0, -1, "", 0, 20000, sent};
    }
    void exchanges()
    {
        QFETCH(Exchange, exchange);
        Standin s;
        s.setScript(exchange.script);
        // A refusal for a while lasts from the stand-in's start: the wait for its end
        // is judged from before that start, which a busy machine may take long to
        // reach; every other wait from the request on.
        QElapsedTimer sinceStart;
        sinceStart.start();
        QVERIFY(s.start(exchange.script.value("refuse") != "no_socket"));
        ServiceClient client(s.runtimeDir(), exchange.owner, exchange.connect, exchange.io);
        QElapsedTimer t;
        t.start();
        QCOMPARE(failure(client, exchange.deadline < 0 ? std::nullopt : std::optional(Clock::system().uptime() + exchange.deadline)),
                 expectedError(exchange.expected));
        const qint64 waited = exchange.script.contains("refuse_for") ? sinceStart.elapsed() : t.elapsed();
        QVERIFY2(waited >= exchange.minMs && t.elapsed() < exchange.maxMs, QByteArray::number(t.elapsed()));
        QTest::qWait(50);
        QTRY_COMPARE(s.recorded(), exchange.received);
    }

    // The envelope as the client reports it, service texts through a test catalog; a
    // reply that took until the deadline or past it is a time-out.
    void replies_data()
    {
        // seconds, with a deadline 0.5 s ahead (takes)
        // empty: success (expected)
        columns<QByteArray, double, QString>("answer", "takes", "expected");
        const QByteArray ok = "{\"x\":1,\"ok\":true,\"result\":[]}\n";
        QTest::newRow("success") << ok << 0.4 << "";
        QTest::newRow("the deadline reached") << ok << 0.5 << timedOut;
        QTest::newRow("ok not a Bool") << QByteArray("{\"ok\":\"true\",\"result\":{}}\n") << 0.0
                                       << "invalid: The background service returned an invalid API response: ok: expected a Boolean, found a string";
        QTest::newRow("rejected without error") << QByteArray("{\"ok\":false}\n") << 0.0 << "rejected: Der Dienst lehnte ab.";
        QTest::newRow("template") << QByteArray("{\"ok\":false,\"error\":\"Computer Anna is not connected.\"}\n") << 0.0
                                  << "rejected: Anna ist nicht verbunden.";
    }
    void replies()
    {
        auto [answer, takes, expected] = fetch<QByteArray, double, QString>("answer", "takes", "expected");
        Localization::install("de", QJsonObject{{"The background service rejected the request.", "Der Dienst lehnte ab."},
                                                {"Computer {name} is not connected.", "{name} ist nicht verbunden."}});
        FakeClock clock(1000.0);
        CannedClient client(clock);
        client.answer = answer;
        client.takes = takes;
        QCOMPARE(failure(client, 1000.5), expectedError(expected));
        QCOMPARE(client.lines, QList<QByteArray>{statusLine});
    }

    // Destroying the client returns at once, not when the hung service's wait runs
    // out; the exchange ending later is dropped, never resumed on the freed client.
    void destroyedClientDropsItsExchange()
    {
        Standin standin;
        standin.setScript(QJsonObject{{"ops", QJsonObject{{"status", QJsonObject{{"silent", true}}}}}, {"lifetime", 60}});
        QVERIFY(standin.start());
        // The hung exchange's wait is a minute: a destructor that waited for it could
        // not pass for one that returned at once, however busy the machine.
        auto client = std::make_unique<ServiceClient>(standin.runtimeDir(), ServiceClient::currentUid(), 60.0, 60.0);
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
        QVERIFY2(destroying.elapsed() < 20000, "the destructor waited for the exchange");
        standin.stop();
        QTest::qWait(100);
        QVERIFY(!ended);
    }
};

QTEST_GUILESS_MAIN(ClientTest)
#include "tst_client.moc"

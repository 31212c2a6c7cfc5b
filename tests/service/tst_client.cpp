// ServiceClient against the stand-in service: framing, limits, waits, peer check,
// error texts and descriptor hygiene.
#include "fake_clock.h"
#include "standin.h"

#include "localization/localization.h"
#include "service/records.h"
#include "service/service_client.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTest>

#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>

using namespace cv;
using cv::test::FakeClock;
using cv::test::Standin;

namespace {

const QString timedOut = "The service request timed out. Its outcome will be checked before another action.";
const QString closedEarly = "The background service closed before completing its response.";

template<class T>
struct Outcome {
    std::optional<T> value;
    std::optional<ServiceError> error;
    QString message() const { return error ? error->message() : QStringLiteral("<no error>"); }
};

// QCoro::waitFor does not carry exceptions out; this does.
template<class T>
QCoro::Task<Outcome<T>> capture(QCoro::Task<T> task)
{
    Outcome<T> out;
    try {
        out.value = co_await std::move(task);
    } catch (const ServiceError &e) {
        out.error = e;
    }
    co_return out;
}

template<class T = EmptyResult>
Outcome<T> ask(ServiceClient &client, Command command, std::optional<double> deadline = {})
{
    return QCoro::waitFor(capture(client.request<T>(std::move(command), deadline)));
}

Outcome<QByteArray> exchange(const ServiceClient &client, const QByteArray &line, std::optional<double> deadline = {})
{
    Outcome<QByteArray> out;
    try {
        out.value = client.exchange(line, deadline);
    } catch (const ServiceError &e) {
        out.error = e;
    }
    return out;
}

QJsonObject reply(const QJsonValue &result)
{
    return QJsonObject{{"ok", true}, {"result", result}};
}

QJsonObject script(const QString &op, const QJsonValue &steps)
{
    return QJsonObject{{"ops", QJsonObject{{op, steps}}}};
}

// Every open descriptor with what it refers to. Wake-up descriptors of thread event
// loops come and go with the client's pool threads and are left out; so is the
// descriptor of the listing itself, gone by the time it is read.
QStringList openDescriptors()
{
    QStringList out;
    const QStringList fds = QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System);
    for (const QString &fd : fds) {
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
    QByteArray answer;
    double takes = 0;
    QList<QByteArray> lines;

protected:
    QCoro::Task<QByteArray> send(QByteArray requestLine, std::optional<double>) override
    {
        lines << requestLine;
        fake.advance(takes);
        // A copy: g++ 12 moves from a member named in co_return.
        QByteArray copy = answer;
        co_return copy;
    }
};

} // namespace

class ClientTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        Localization::reset();
    }

    void socketPathRule_data()
    {
        QTest::addColumn<bool>("set");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("variable") << true << QByteArray("/run/x") << "/run/x/control.sock";
        QTest::newRow("empty variable") << true << QByteArray() << "/control.sock";
        QTest::newRow("unset") << false << QByteArray()
                               << QStringLiteral("/tmp/cv-%1/control.sock").arg(::geteuid());
    }
    void socketPathRule()
    {
        QFETCH(bool, set);
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);
        if (set)
            qputenv("CV_MAC_RUNTIME_DIR", value);
        else
            qunsetenv("CV_MAC_RUNTIME_DIR");
        QCOMPARE(ServiceClient().socketPath(), expected);
        qunsetenv("CV_MAC_RUNTIME_DIR");
        QCOMPARE(ServiceClient(QStringLiteral("/a/b")).socketPath(), "/a/b/control.sock");
    }

    void sendsTheEncodedCommandAsOneLine()
    {
        Standin s;
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        const Command command{.op = "eject", .peer = "peer-1"};
        const Outcome<EmptyResult> out = ask(client, command);
        QVERIFY2(out.value, qPrintable(out.message()));
        QCOMPARE(s.recorded(), QList<QByteArray>{command.encode()});
    }

    // The stand-in's own status and events decode as the records the model asks for.
    void statusAndEventsFromTheStandin()
    {
        Standin s;
        s.setScript(QJsonObject{
            {"event_sequence", 90},
            {"events", QJsonArray{QJsonObject{{"event", "delivered"}, {"peer", "p1"},
                                              {"detail", QJsonObject{{"files", 3}}}}}}});
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        const Outcome<ServiceStatus> status = ask<ServiceStatus>(client, Command{.op = "status"});
        QVERIFY2(status.value, qPrintable(status.message()));
        QCOMPARE(status.value->api_version, 1);
        QCOMPARE(status.value->event_sequence, std::uint64_t(91));

        const Outcome<std::optional<EventBatch>> batch =
            ask<std::optional<EventBatch>>(client, Command{.op = "events", .since = 90});
        QVERIFY2(batch.value && *batch.value, qPrintable(batch.message()));
        const EventBatch &events = **batch.value;
        QCOMPARE(events.sequence, std::uint64_t(91));
        QCOMPARE(events.events.size(), 1);
        QCOMPARE(events.events[0].event, "delivered");
        QCOMPARE(events.events[0].detail.files, std::optional<std::uint64_t>(3));
        QCOMPARE(s.recorded().last(), "{\"op\":\"events\",\"since\":90}");
    }

    void requestLimit()
    {
        Standin s;
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        const qsizetype base = Command{.op = "send_files", .paths = QStringList{QString()}}.encode().size() + 1;
        const Command atLimit{.op = "send_files", .paths = QStringList{QString(16384 - base, 'a')}};
        QCOMPARE(atLimit.encode().size() + 1, 16384);
        const Outcome<EmptyResult> ok = ask(client, atLimit);
        QVERIFY2(ok.value, qPrintable(ok.message()));

        const Command over{.op = "send_files", .paths = QStringList{QString(16384 - base + 1, 'a')}};
        const Outcome<EmptyResult> refused = ask(client, over);
        QVERIFY(refused.error);
        QCOMPARE(refused.error->kind(), ServiceError::Kind::invalid);
        QCOMPARE(refused.message(), "The file selection is too large for one request.");
        // Let a stray connection, had there been one, reach the record.
        QTest::qWait(50);
        const QList<QByteArray> lines = s.recorded();
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.first().size(), 16383);
        QCOMPARE(lines.first(), atLimit.encode());
    }

    void pathLimitComesBeforeTheSocket_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("expected");
        // With no descriptor left, creating the socket fails: the message shows which
        // check came first.
        QTest::newRow("103 bytes") << 103 << "Create control socket: Too many open files.";
        QTest::newRow("104 bytes") << 104 << "The control socket path is too long. Choose a shorter runtime directory.";
    }
    void pathLimitComesBeforeTheSocket()
    {
        QFETCH(int, length);
        QFETCH(QString, expected);
        const QString dir = "/nonexistent-" + QString(length - 13 - 13, 'd');
        ServiceClient client(dir);
        QCOMPARE(client.socketPath().toUtf8().size(), length);

        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        const int lowestFree = ::dup(0);
        QVERIFY(lowestFree >= 0);
        ::close(lowestFree);
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(lowestFree);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        const Outcome<QByteArray> out = exchange(client, "{\"op\":\"status\"}\n");
        ::setrlimit(RLIMIT_NOFILE, &saved);

        QVERIFY(out.error);
        QCOMPARE(out.error->kind(), ServiceError::Kind::invalid);
        QCOMPARE(out.message(), expected);
    }

    void pathOf103BytesReachesTheConnect()
    {
        const QString dir = "/nonexistent-" + QString(103 - 13 - 13, 'd');
        ServiceClient client(dir);
        const Outcome<EmptyResult> out = ask(client, Command{.op = "status"});
        QVERIFY(out.error);
        QCOMPARE(out.message(), "The background service is unavailable: No such file or directory.");
    }

    void refusedConnections_data()
    {
        QTest::addColumn<QString>("refuse");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no socket file") << "no_socket"
                                        << "The background service is unavailable: No such file or directory.";
        QTest::newRow("not listening") << "not_listening"
                                       << "The background service is unavailable: Connection refused.";
    }
    void refusedConnections()
    {
        QFETCH(QString, refuse);
        QFETCH(QString, expected);
        Standin s;
        s.setScript(QJsonObject{{"refuse", refuse}});
        QVERIFY(s.start({}, refuse != "no_socket"));
        ServiceClient client(s.runtimeDir());
        const Outcome<EmptyResult> out = ask(client, Command{.op = "status"});
        QVERIFY(out.error);
        QVERIFY(out.error->isUnavailable());
        QCOMPARE(out.message(), expected);
    }

    void fullBacklogEndsWithTheTimeOut()
    {
        Standin s;
        s.setScript(QJsonObject{{"refuse", "full_backlog"}});
        QVERIFY(s.start());

        ServiceClient shortWait(s.runtimeDir(), ServiceClient::currentUid(), 0.3);
        QElapsedTimer t;
        t.start();
        Outcome<EmptyResult> out = ask(shortWait, Command{.op = "status"});
        QCOMPARE(out.message(), timedOut);
        QCOMPARE(out.error->kind(), ServiceError::Kind::invalid);
        QVERIFY2(t.elapsed() >= 280 && t.elapsed() < 1500, QByteArray::number(t.elapsed()));

        // A deadline sooner than the connect wait ends it sooner.
        ServiceClient client(s.runtimeDir());
        t.restart();
        out = ask(client, Command{.op = "status"}, Clock::system().uptime() + 0.2);
        QCOMPARE(out.message(), timedOut);
        QVERIFY2(t.elapsed() >= 180 && t.elapsed() < 1200, QByteArray::number(t.elapsed()));
    }

    void fullBacklogThatDrainsIsRetried()
    {
        Standin s;
        s.setScript(QJsonObject{{"refuse", "full_backlog"}, {"refuse_for", 0.3}});
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        const Outcome<EmptyResult> out = ask(client, Command{.op = "status"});
        QVERIFY2(out.value, qPrintable(out.message()));
        QCOMPARE(s.recorded(), QList<QByteArray>{"{\"op\":\"status\"}"});
    }

    void foreignOwnerIsRefusedAfterConnecting()
    {
        Standin s;
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir(), ::geteuid() + 1);
        const Outcome<EmptyResult> out = ask(client, Command{.op = "status"});
        QVERIFY(out.error);
        QCOMPARE(out.error->kind(), ServiceError::Kind::invalid);
        QCOMPARE(out.message(), "The control socket does not belong to this user.");
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
        s.setScript(script("status", QJsonObject{{"reply", reply(status)}, {"chunks", 60}, {"chunk_delay", 0.002}}));
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        const Outcome<ServiceStatus> out = ask<ServiceStatus>(client, Command{.op = "status"});
        QVERIFY2(out.value, qPrintable(out.message()));
        QCOMPARE(out.value->name, name);
        QCOMPARE(out.value->event_sequence, std::uint64_t(5));
    }

    void replySizeLimit()
    {
        Standin s;
        s.setScript(script("status", QJsonArray{QJsonObject{{"size", 1048576}}, QJsonObject{{"size", 1048577}}}));
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        const Outcome<EmptyResult> exact = ask(client, Command{.op = "status"});
        QVERIFY2(exact.value, qPrintable(exact.message()));
        const Outcome<EmptyResult> over = ask(client, Command{.op = "status"});
        QVERIFY(over.error);
        QCOMPARE(over.error->kind(), ServiceError::Kind::invalid);
        QCOMPARE(over.message(), "The service response exceeded the size limit.");
    }

    void exchangeReturnsTheReplyWithItsLineFeed()
    {
        Standin s;
        s.setScript(script("status", QJsonObject{{"size", 1048576}}));
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        const Outcome<QByteArray> out = exchange(client, "{\"op\":\"status\"}\n");
        QVERIFY2(out.value, qPrintable(out.message()));
        QCOMPARE(out.value->size(), 1048576);
        QVERIFY(out.value->endsWith("\"}}\n"));
    }

    void incompleteReplies_data()
    {
        QTest::addColumn<QJsonObject>("step");
        const QJsonObject ok = reply(QJsonObject{});
        QTest::newRow("no line feed") << QJsonObject{{"reply", ok}, {"newline", false}};
        QTest::newRow("empty reply") << QJsonObject{{"close", true}};
        QTest::newRow("bytes after the line feed") << QJsonObject{{"reply", ok}, {"trailing", "{}"}};
        QTest::newRow("ends mid-line after a pause")
            << QJsonObject{{"raw", "{\"ok\":true,"}, {"chunks", 3}, {"chunk_delay", 0.02}};
    }
    void incompleteReplies()
    {
        QFETCH(QJsonObject, step);
        Standin s;
        s.setScript(script("status", step));
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        const Outcome<EmptyResult> out = ask(client, Command{.op = "status"});
        QVERIFY(out.error);
        QCOMPARE(out.error->kind(), ServiceError::Kind::invalid);
        QCOMPARE(out.message(), closedEarly);
    }

    void deadlineAgainstASilentService()
    {
        Standin s;
        s.setScript(script("status", QJsonObject{{"silent", true}}));
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        QElapsedTimer t;
        t.start();
        const Outcome<EmptyResult> out = ask(client, Command{.op = "status"}, Clock::system().uptime() + 1.0);
        const qint64 ms = t.elapsed();
        QCOMPARE(out.message(), timedOut);
        QCOMPARE(out.error->kind(), ServiceError::Kind::invalid);
        QVERIFY2(ms >= 950 && ms < 1600, QByteArray::number(ms));
    }

    void ioWaitWithoutDeadline()
    {
        Standin s;
        s.setScript(script("status", QJsonObject{{"silent", true}}));
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir(), ServiceClient::currentUid(), 2.0, 0.3);
        QElapsedTimer t;
        t.start();
        const Outcome<EmptyResult> out = ask(client, Command{.op = "status"});
        QCOMPARE(out.message(), timedOut);
        QVERIFY2(t.elapsed() >= 280 && t.elapsed() < 1200, QByteArray::number(t.elapsed()));
    }

    void slowReplyWithinTheWaitSucceeds()
    {
        Standin s;
        s.setScript(script("status", QJsonObject{{"reply", reply(QJsonObject{})}, {"delay", 0.2}}));
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir(), ServiceClient::currentUid(), 2.0, 1.0);
        const Outcome<EmptyResult> out = ask(client, Command{.op = "status"}, Clock::system().uptime() + 0.8);
        QVERIFY2(out.value, qPrintable(out.message()));
    }

    void passedDeadlineMakesNoConnection()
    {
        Standin s;
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        const double now = Clock::system().uptime();
        QCOMPARE(ask(client, Command{.op = "status"}, now).message(), timedOut);
        QCOMPARE(exchange(client, "{\"op\":\"status\"}\n", now - 1).message(), timedOut);
        QTest::qWait(50);
        QVERIFY(s.recorded().isEmpty());
    }

    void replyAfterTheDeadlineIsATimeOut()
    {
        FakeClock clock(1000.0);
        CannedClient client(clock);
        client.answer = "{\"ok\":true,\"result\":{}}\n";
        client.takes = 1.0;
        Outcome<EmptyResult> out = ask(client, Command{.op = "eject"}, 1000.5);
        QCOMPARE(out.message(), timedOut);
        QCOMPARE(client.lines.size(), 1);

        client.takes = 0.2;
        out = ask(client, Command{.op = "eject"}, clock.uptime() + 0.5);
        QVERIFY2(out.value, qPrintable(out.message()));
        // A deadline reached exactly counts as passed.
        client.takes = 0.5;
        out = ask(client, Command{.op = "eject"}, clock.uptime() + 0.5);
        QCOMPARE(out.message(), timedOut);
    }

    void decodingOfTheEnvelope_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("kind"); // -1: success
        QTest::addColumn<QString>("message");
        const int invalid = int(ServiceError::Kind::invalid);
        const int rejected = int(ServiceError::Kind::rejected);
        const QString invalidApi = "The background service returned an invalid API response: ";
        QTest::newRow("empty object") << QByteArray("{\"ok\":true,\"result\":{}}\n") << -1 << QString();
        QTest::newRow("array result") << QByteArray("{\"ok\":true,\"result\":[]}\n") << -1 << QString();
        QTest::newRow("other keys") << QByteArray("{\"x\":1,\"ok\":true,\"result\":7}\n") << -1 << QString();
        QTest::newRow("no result") << QByteArray("{\"ok\":true}\n") << invalid
                                   << "The background service returned no result.";
        QTest::newRow("null result") << QByteArray("{\"ok\":true,\"result\":null}\n") << invalid
                                     << "The background service returned no result.";
        QTest::newRow("rejected without text") << QByteArray("{\"ok\":false}\n") << rejected
                                               << "The background service rejected the request.";
        QTest::newRow("rejected with text and result")
            << QByteArray("{\"ok\":false,\"error\":\"Drive is busy.\",\"result\":{}}\n") << rejected << "Drive is busy.";
        QTest::newRow("not JSON") << QByteArray("hello\n") << invalid << invalidApi;
        QTest::newRow("no ok") << QByteArray("{\"result\":{}}\n") << invalid << invalidApi;
        QTest::newRow("ok not Boolean") << QByteArray("{\"ok\":1,\"result\":{}}\n") << invalid << invalidApi;
        QTest::newRow("error not text") << QByteArray("{\"ok\":false,\"error\":3}\n") << invalid << invalidApi;
    }
    void decodingOfTheEnvelope()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, kind);
        QFETCH(QString, message);
        FakeClock clock;
        CannedClient client(clock);
        client.answer = answer;
        const Outcome<EmptyResult> out = ask(client, Command{.op = "status"});
        QCOMPARE(client.lines, QList<QByteArray>{"{\"op\":\"status\"}\n"});
        if (kind < 0) {
            QVERIFY2(out.value, qPrintable(out.message()));
            return;
        }
        QVERIFY(out.error);
        QCOMPARE(int(out.error->kind()), kind);
        if (message.endsWith(": "))
            QVERIFY2(out.message().startsWith(message) && out.message().size() > message.size(),
                     qPrintable(out.message()));
        else
            QCOMPARE(out.message(), message);
    }

    void rejectionIsTranslated_data()
    {
        QTest::addColumn<QJsonObject>("answer");
        QTest::addColumn<QString>("expected");
        QTest::newRow("without error") << QJsonObject{{"ok", false}} << "Der Dienst hat die Anfrage abgelehnt.";
        QTest::newRow("exact entry") << QJsonObject{{"ok", false}, {"error", "Drive is busy."}}
                                     << "Das Laufwerk ist belegt.";
        QTest::newRow("template") << QJsonObject{{"ok", false}, {"error", "Computer Anna is not connected."}}
                                  << "Der Computer Anna ist nicht verbunden.";
        QTest::newRow("unknown stays English") << QJsonObject{{"ok", false}, {"error", "Something odd."}}
                                               << "Something odd.";
    }
    void rejectionIsTranslated()
    {
        QFETCH(QJsonObject, answer);
        QFETCH(QString, expected);
        Localization::install("de", QJsonObject{
            {"The background service rejected the request.", "Der Dienst hat die Anfrage abgelehnt."},
            {"Drive is busy.", "Das Laufwerk ist belegt."},
            {"Computer {name} is not connected.", "Der Computer {name} ist nicht verbunden."},
        });
        Standin s;
        s.setScript(script("disconnect", QJsonObject{{"reply", answer}}));
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        const Outcome<EmptyResult> out = ask(client, Command{.op = "disconnect", .peer = "anna"});
        QVERIFY(out.error);
        QCOMPARE(out.error->kind(), ServiceError::Kind::rejected);
        QVERIFY(!out.error->isUnavailable());
        QCOMPARE(out.message(), expected);
    }

    void requestsRunSideBySide()
    {
        Standin s;
        s.setScript(script("status", QJsonObject{{"reply", reply(QJsonObject{})}, {"delay", 0.3}}));
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir());
        QElapsedTimer t;
        t.start();
        auto all = [](ServiceClient &c) -> QCoro::Task<int> {
            auto a = capture(c.request<EmptyResult>(Command{.op = "status"}));
            auto b = capture(c.request<EmptyResult>(Command{.op = "status"}));
            auto d = capture(c.request<EmptyResult>(Command{.op = "status"}));
            const Outcome<EmptyResult> first = co_await std::move(a);
            const Outcome<EmptyResult> second = co_await std::move(b);
            const Outcome<EmptyResult> third = co_await std::move(d);
            co_return int(first.value.has_value()) + int(second.value.has_value()) + int(third.value.has_value());
        };
        QCOMPARE(QCoro::waitFor(all(client)), 3);
        QVERIFY2(t.elapsed() < 800, QByteArray::number(t.elapsed()));
        QCOMPARE(s.recorded().size(), 3);
    }

    void noDescriptorLeaks()
    {
        Standin s;
        s.setScript(QJsonObject{{"ops", QJsonObject{
            {"eject", QJsonObject{{"close", true}}},
            {"mount", QJsonObject{{"size", 1048577}}},
            {"forget", QJsonObject{{"reply", reply(QJsonObject{})}, {"newline", false}}},
            {"connect", QJsonObject{{"silent", true}}},
            {"disconnect", QJsonObject{{"reply", QJsonObject{{"ok", false}}}}},
            {"dismiss", QJsonObject{{"raw", "garbage\n"}}},
        }}});
        QVERIFY(s.start());
        ServiceClient client(s.runtimeDir(), ServiceClient::currentUid(), 2.0, 0.2);
        ServiceClient foreign(s.runtimeDir(), ::geteuid() + 1);
        ServiceClient missing(s.directory() + "/elsewhere");
        ServiceClient tooLong("/" + QString(100, 'x'));
        // The pool's thread exists before the first snapshot.
        QVERIFY(ask(client, Command{.op = "status"}).value);

        const QStringList before = openDescriptors();
        int failures = 0;
        for (int round = 0; round < 3; ++round) {
            for (const char *op : {"status", "eject", "mount", "forget", "connect", "disconnect", "dismiss"}) {
                if (ask(client, Command{.op = op}).error)
                    ++failures;
            }
            failures += ask(foreign, Command{.op = "status"}).error ? 1 : 0;
            failures += ask(missing, Command{.op = "status"}).error ? 1 : 0;
            failures += ask(tooLong, Command{.op = "status"}).error ? 1 : 0;
            failures += exchange(client, "{\"op\":\"status\"}\n").error ? 1 : 0;
            failures += exchange(client, "{\"op\":\"eject\"}\n").error ? 1 : 0;
        }
        QCOMPARE(failures, 3 * 10);
        QCOMPARE(openDescriptors(), before);
    }
};

QTEST_GUILESS_MAIN(ClientTest)
#include "tst_client.moc"

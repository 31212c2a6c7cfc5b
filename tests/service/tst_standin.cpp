// The stand-in service behaves as its script says; other tests rely on it.
#include "standin.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using cv::test::Standin;

namespace {

struct Raw {
    int connectErrno = 0;      // errno of a failed connect, else 0
    QList<QByteArray> reads;   // every read's bytes, in order
    QByteArray all() const { return reads.join(); }
};

// A plain blocking client: connect, send `line`, read until the service closes.
Raw talk(const QString &path, const QByteArray &line, int timeoutMs = 5000)
{
    Raw r;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(path);
    std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
        r.connectErrno = errno;
        ::close(fd);
        return r;
    }
    ::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL);
    QElapsedTimer t;
    t.start();
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        const int left = timeoutMs - int(t.elapsed());
        if (left <= 0 || ::poll(&pfd, 1, left) <= 0)
            break;
        char buf[65536];
        const ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n <= 0)
            break;
        r.reads.append(QByteArray(buf, n));
    }
    ::close(fd);
    return r;
}

QJsonObject json(const QByteArray &bytes)
{
    return QJsonDocument::fromJson(bytes).object();
}

} // namespace

class StandinTest : public QObject {
    Q_OBJECT
private slots:
    void defaultStatusCarriesEventSequence()
    {
        Standin s;
        s.setScript(QJsonObject{{"event_sequence", 41}});
        QVERIFY(s.start());
        const Raw r = talk(s.socketPath(), "{\"op\":\"status\"}\n");
        QVERIFY(r.all().endsWith("}\n"));
        const QJsonObject reply = json(r.all());
        QCOMPARE(reply.value("ok").toBool(), true);
        const QJsonObject status = reply.value("result").toObject();
        QCOMPARE(status.value("api_version").toInt(), 1);
        QCOMPARE(status.value("event_sequence").toInt(), 41);
        QVERIFY(status.value("peers").isArray());
        QCOMPARE(s.recorded(), QList<QByteArray>{"{\"op\":\"status\"}"});
    }

    void stepsAreUsedInTurnAndTheLastRepeats()
    {
        Standin s;
        s.setScript(QJsonObject{{"ops", QJsonObject{{"eject", QJsonArray{
            QJsonObject{{"reply", QJsonObject{{"ok", false}, {"error", "first"}}}},
            QJsonObject{{"reply", QJsonObject{{"ok", true}, {"result", QJsonObject{}}}}}}}}}});
        QVERIFY(s.start());
        QCOMPARE(json(talk(s.socketPath(), "{\"op\":\"eject\"}\n").all()).value("error").toString(), "first");
        QCOMPARE(json(talk(s.socketPath(), "{\"op\":\"eject\"}\n").all()).value("ok").toBool(), true);
        QCOMPARE(json(talk(s.socketPath(), "{\"op\":\"eject\"}\n").all()).value("ok").toBool(), true);
        // Ops without an entry get an empty result.
        QCOMPARE(talk(s.socketPath(), "{\"op\":\"forget\",\"peer\":\"p\"}\n").all(), "{\"ok\":true,\"result\":{}}\n");
        QCOMPARE(s.recorded().size(), 4);
        QCOMPARE(s.recorded().last(), "{\"op\":\"forget\",\"peer\":\"p\"}");
    }

    void shapesOfReplies_data()
    {
        QTest::addColumn<QJsonObject>("step");
        QTest::addColumn<QByteArray>("expected");
        const QJsonObject ok{{"ok", true}, {"result", QJsonObject{}}};
        QTest::newRow("raw") << QJsonObject{{"raw", "abc"}} << QByteArray("abc");
        QTest::newRow("no newline") << QJsonObject{{"reply", ok}, {"newline", false}}
                                    << QByteArray("{\"ok\":true,\"result\":{}}");
        QTest::newRow("trailing") << QJsonObject{{"reply", ok}, {"trailing", "xy"}}
                                  << QByteArray("{\"ok\":true,\"result\":{}}\nxy");
        QTest::newRow("close") << QJsonObject{{"close", true}} << QByteArray();
        QTest::newRow("delayed") << QJsonObject{{"reply", ok}, {"delay", 0.05}}
                                 << QByteArray("{\"ok\":true,\"result\":{}}\n");
    }
    void shapesOfReplies()
    {
        QFETCH(QJsonObject, step);
        QFETCH(QByteArray, expected);
        Standin s;
        s.setScript(QJsonObject{{"ops", QJsonObject{{"status", step}}}});
        QVERIFY(s.start());
        QCOMPARE(talk(s.socketPath(), "{\"op\":\"status\"}\n").all(), expected);
    }

    void sizedReplyIsExactAndValid()
    {
        Standin s;
        s.setScript(QJsonObject{{"ops", QJsonObject{{"status", QJsonObject{{"size", 1048576}}}}}});
        QVERIFY(s.start());
        const QByteArray all = talk(s.socketPath(), "{\"op\":\"status\"}\n").all();
        QCOMPARE(all.size(), 1048576);
        QVERIFY(all.endsWith('\n'));
        QCOMPARE(json(all).value("ok").toBool(), true);
    }

    void splitReplyArrivesInSeveralReads()
    {
        Standin s;
        s.setScript(QJsonObject{{"ops", QJsonObject{{"status", QJsonObject{
            {"reply", QJsonObject{{"ok", true}, {"result", QJsonObject{{"a", "0123456789"}}}}},
            {"chunks", 8}, {"chunk_delay", 0.01}}}}}});
        QVERIFY(s.start());
        const Raw r = talk(s.socketPath(), "{\"op\":\"status\"}\n");
        QVERIFY2(r.reads.size() >= 4, QByteArray::number(r.reads.size()));
        QCOMPARE(json(r.all()).value("result").toObject().value("a").toString(), "0123456789");
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("error");
        QTest::newRow("not listening") << "not_listening" << int(ECONNREFUSED);
        QTest::newRow("full backlog") << "full_backlog" << int(EAGAIN);
    }
    void refusals()
    {
        QFETCH(QString, mode);
        QFETCH(int, error);
        Standin s;
        s.setScript(QJsonObject{{"refuse", mode}, {"refuse_for", 0.3}});
        QVERIFY(s.start());
        QCOMPARE(talk(s.socketPath(), "{\"op\":\"status\"}\n").connectErrno, error);
        // After the refusal period it serves normally.
        QTest::qWait(400);
        QCOMPARE(json(talk(s.socketPath(), "{\"op\":\"status\"}\n").all()).value("ok").toBool(), true);
        QCOMPARE(s.recorded(), QList<QByteArray>{"{\"op\":\"status\"}"});
    }

    void noSocketUntilTheRefusalEnds()
    {
        Standin s;
        s.setScript(QJsonObject{{"refuse", "no_socket"}, {"refuse_for", 0.2}});
        QVERIFY(s.start({}, false));
        QTest::qWait(50);
        QVERIFY(!QFileInfo::exists(s.socketPath()));
        QVERIFY(s.waitForSocket());
        QCOMPARE(json(talk(s.socketPath(), "{\"op\":\"status\"}\n").all()).value("ok").toBool(), true);
    }

    void quitAnswersThenStops()
    {
        Standin s;
        QVERIFY(s.start());
        QCOMPARE(talk(s.socketPath(), "{\"op\":\"quit\"}\n").all(), "{\"ok\":true,\"result\":{}}\n");
        QCOMPARE(s.waitForExit(), std::optional<int>(0));
        QVERIFY(!QFileInfo::exists(s.socketPath()));
    }

    void exitsAfterRequestsWithStatus()
    {
        Standin s;
        s.setScript(QJsonObject{{"exit_after", 2}, {"exit_status", 7}});
        QVERIFY(s.start());
        talk(s.socketPath(), "{\"op\":\"status\"}\n");
        QVERIFY(s.running());
        QCOMPARE(json(talk(s.socketPath(), "{\"op\":\"status\"}\n").all()).value("ok").toBool(), true);
        QCOMPARE(s.waitForExit(), std::optional<int>(7));
    }

    void exitAtStartWritesOutput()
    {
        Standin s;
        s.setScript(QJsonObject{{"exit_at_start", 3}, {"stdout", "out text\n"}, {"stderr", "err text\n"}});
        QVERIFY(s.start({"--state-dir", "/x"}, false));
        QCOMPARE(s.waitForExit(), std::optional<int>(3));
        QCOMPARE(s.standardOutput(), "out text\n");
        QCOMPARE(s.standardError(), "err text\n");
        QCOMPARE(s.startArguments().value(0),
                 (QStringList{"--runtime-dir", s.runtimeDir(), "--state-dir", "/x"}));
    }

    void unknownOptionIsRefused()
    {
        Standin s;
        QVERIFY(s.start({"--bogus", "1"}, false));
        QCOMPARE(s.waitForExit(), std::optional<int>(64));
    }

    void diagnostics()
    {
        Standin s;
        const QString archive = s.directory() + "/out.zip";
        s.setScript(QJsonObject{{"diagnostics", QJsonObject{{"archive", "ARCHIVE"}}}});
        QVERIFY(s.start({"--diagnostics", archive}, false, false));
        QCOMPARE(s.waitForExit(), std::optional<int>(0));
        QFile f(archive);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), "ARCHIVE");

        s.setScript(QJsonObject{{"diagnostics", QJsonObject{{"status", 2}, {"stderr", "no space\n"}}}});
        QVERIFY(s.start({"--diagnostics", s.directory() + "/other.zip"}, false, false));
        QCOMPARE(s.waitForExit(), std::optional<int>(2));
        QVERIFY(s.standardError().endsWith("no space\n"));
        QVERIFY(!QFileInfo::exists(s.directory() + "/other.zip"));
    }

    void eventsBecomeVisibleAndAreNumbered()
    {
        Standin s;
        s.setScript(QJsonObject{
            {"event_sequence", 10},
            {"events", QJsonArray{QJsonObject{{"event", "connected"}, {"peer", "p1"}},
                                  QJsonObject{{"event", "delivered"}, {"peer", "p1"}, {"after_requests", 1}}}},
            {"ops", QJsonObject{{"send_files", QJsonObject{
                {"reply", QJsonObject{{"ok", true}, {"result", QJsonObject{}}}},
                {"emit", QJsonArray{QJsonObject{{"event", "transfer_finished"}}}}}}}}});
        QVERIFY(s.start());
        // First request: only the first event is visible.
        QJsonObject batch = json(talk(s.socketPath(), "{\"op\":\"events\",\"since\":10}\n").all()).value("result").toObject();
        QCOMPARE(batch.value("sequence").toInt(), 11);
        QCOMPARE(batch.value("events").toArray().size(), 1);
        QCOMPARE(batch.value("events").toArray().at(0).toObject().value("sequence").toInt(), 11);
        QCOMPARE(batch.value("resync_required").toBool(true), false);
        talk(s.socketPath(), "{\"op\":\"send_files\"}\n");
        batch = json(talk(s.socketPath(), "{\"op\":\"events\",\"since\":11}\n").all()).value("result").toObject();
        QCOMPARE(batch.value("sequence").toInt(), 13);
        const QJsonArray events = batch.value("events").toArray();
        QCOMPARE(events.size(), 2);
        QCOMPARE(events.at(0).toObject().value("event").toString(), "delivered");
        QCOMPARE(events.at(1).toObject().value("event").toString(), "transfer_finished");
        QVERIFY(!events.at(0).toObject().contains("after_requests"));
        QCOMPARE(json(talk(s.socketPath(), "{\"op\":\"status\"}\n").all())
                     .value("result").toObject().value("event_sequence").toInt(), 13);
    }

    void silentKeepsTheConnectionOpen()
    {
        Standin s;
        s.setScript(QJsonObject{{"ops", QJsonObject{{"status", QJsonObject{{"silent", true}}}}}});
        QVERIFY(s.start());
        QElapsedTimer t;
        t.start();
        QVERIFY(talk(s.socketPath(), "{\"op\":\"status\"}\n", 300).reads.isEmpty());
        QVERIFY(t.elapsed() >= 290);
        QVERIFY(s.running());
    }

    void stopRemovesTheSocket()
    {
        Standin s;
        QVERIFY(s.start());
        s.stop();
        QVERIFY(!s.running());
        QVERIFY(!QFileInfo::exists(s.socketPath()));
    }
};

QTEST_GUILESS_MAIN(StandinTest)
#include "tst_standin.moc"

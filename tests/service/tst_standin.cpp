// The stand-in service behaves as its script says; other tests rely on it. Talked to
// with a plain socket, so that a fault of the client cannot hide one of the stand-in.
// The shapes of replies and the refusals are checked through the client's tests,
// which fail when the stand-in does not produce them.
#include "standin.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTest>

#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using cv::test::Standin;

namespace {

struct Raw {
    QList<QByteArray> reads; // every read's bytes, in order
    QByteArray all() const { return reads.join(); }
};

// Connects, sends `line` and reads until the service closes (at most 5 s).
Raw talk(const Standin &s, const QByteArray &line)
{
    Raw r;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(s.socketPath());
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0)
        ::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL);
    QElapsedTimer t;
    t.start();
    char buf[65536];
    for (pollfd pfd{fd, POLLIN, 0}; t.elapsed() < 5000 && ::poll(&pfd, 1, int(5000 - t.elapsed())) > 0;) {
        const ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n <= 0)
            break;
        r.reads.append(QByteArray(buf, n));
    }
    ::close(fd);
    return r;
}

QJsonObject reply(const Standin &s, const QByteArray &line)
{
    return QJsonDocument::fromJson(talk(s, line + '\n').all()).object();
}

const QByteArray okLine = "{\"ok\":true,\"result\":{}}\n";

} // namespace

class StandinTest : public QObject {
    Q_OBJECT
private slots:
    void statusAndScriptedSteps()
    {
        Standin s;
        s.setScript(QJsonObject{{"event_sequence", 41}, {"ops", QJsonObject{{"eject", QJsonArray{
            QJsonObject{{"reply", QJsonObject{{"ok", false}, {"error", "first"}}}},
            QJsonObject{{"reply", QJsonObject{{"ok", true}, {"result", QJsonObject{}}}}}}}}}});
        QVERIFY(s.start());
        const QJsonObject status = reply(s, "{\"op\":\"status\"}").value("result").toObject();
        QCOMPARE(status.value("api_version").toInt(), 1);
        QCOMPARE(status.value("event_sequence").toInt(), 41);
        QVERIFY(status.value("peers").isArray());
        // Steps are used in turn and the last repeats; ops without an entry get an empty result.
        QCOMPARE(reply(s, "{\"op\":\"eject\"}").value("error").toString(), "first");
        QCOMPARE(reply(s, "{\"op\":\"eject\"}").value("ok").toBool(), true);
        QCOMPARE(reply(s, "{\"op\":\"eject\"}").value("ok").toBool(), true);
        QCOMPARE(talk(s, "{\"op\":\"forget\",\"peer\":\"p\"}\n").all(), okLine);
        const QList<QByteArray> recorded = s.recorded();
        QCOMPARE(recorded.size(), 5);
        QCOMPARE(recorded.first(), "{\"op\":\"status\"}");
        QCOMPARE(recorded.last(), "{\"op\":\"forget\",\"peer\":\"p\"}");
    }

    void splitReplyArrivesInSeveralReads()
    {
        Standin s;
        s.setScript(QJsonObject{{"ops", QJsonObject{{"status", QJsonObject{
            {"reply", QJsonObject{{"ok", true}, {"result", QJsonObject{{"a", "0123456789"}}}}},
            {"chunks", 8}, {"chunk_delay", 0.01}}}}}});
        QVERIFY(s.start());
        const Raw r = talk(s, "{\"op\":\"status\"}\n");
        QVERIFY2(r.reads.size() >= 4, QByteArray::number(r.reads.size()));
        QCOMPARE(QJsonDocument::fromJson(r.all()).object().value("result").toObject().value("a").toString(),
                 "0123456789");
    }

    void quitAnswersThenStops()
    {
        Standin s;
        QVERIFY(s.start());
        QCOMPARE(talk(s, "{\"op\":\"quit\"}\n").all(), okLine);
        QCOMPARE(s.waitForExit(), std::optional<int>(0));
        QVERIFY(!QFileInfo::exists(s.socketPath()));
    }

    void exits()
    {
        Standin s;
        s.setScript(QJsonObject{{"exit_after", 2}, {"exit_status", 7}});
        QVERIFY(s.start());
        talk(s, "{\"op\":\"status\"}\n");
        QVERIFY(s.running());
        QCOMPARE(reply(s, "{\"op\":\"status\"}").value("ok").toBool(), true);
        QCOMPARE(s.waitForExit(), std::optional<int>(7));

        s.setScript(QJsonObject{{"exit_at_start", 3}, {"stdout", "out text\n"}, {"stderr", "err text\n"}});
        QVERIFY(s.start({"--state-dir", "/x"}, false));
        QCOMPARE(s.waitForExit(), std::optional<int>(3));
        QCOMPARE(s.standardOutput(), "out text\n");
        QCOMPARE(s.standardError(), "err text\n");
        QCOMPARE(s.startArguments().last(), (QStringList{"--runtime-dir", s.runtimeDir(), "--state-dir", "/x"}));

        QVERIFY(s.start({"--bogus", "1"}, false)); // not an option of the service
        QCOMPARE(s.waitForExit(), std::optional<int>(64));
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
        QJsonObject batch = reply(s, "{\"op\":\"events\",\"since\":10}").value("result").toObject();
        QCOMPARE(batch.value("sequence").toInt(), 11);
        QCOMPARE(batch.value("events").toArray().size(), 1);
        QCOMPARE(batch.value("events").toArray().at(0).toObject().value("sequence").toInt(), 11);
        QCOMPARE(batch.value("resync_required").toBool(true), false);
        talk(s, "{\"op\":\"send_files\"}\n");
        batch = reply(s, "{\"op\":\"events\",\"since\":11}").value("result").toObject();
        QCOMPARE(batch.value("sequence").toInt(), 13);
        const QJsonArray events = batch.value("events").toArray();
        QCOMPARE(events.size(), 2);
        QCOMPARE(events.at(0).toObject().value("event").toString(), "delivered");
        QCOMPARE(events.at(1).toObject().value("event").toString(), "transfer_finished");
        QVERIFY(!events.at(0).toObject().contains("after_requests"));
        QCOMPARE(reply(s, "{\"op\":\"status\"}").value("result").toObject().value("event_sequence").toInt(), 13);
    }
};

QTEST_GUILESS_MAIN(StandinTest)
#include "tst_standin.moc"

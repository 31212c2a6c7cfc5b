// Request lines as sent and reply envelopes as read.
#include "service/command.h"
#include "service/reply.h"

#include <QTest>

#include <cstdint>
#include <limits>

using namespace cv;

Q_DECLARE_METATYPE(cv::Command)

class TestEnvelope : public QObject {
    Q_OBJECT

private slots:
    void commandEncoding_data(); // outside the class: moc misreads raw strings with escapes
    void commandEncoding()
    {
        QFETCH(Command, command);
        QFETCH(QByteArray, json);
        QCOMPARE(command.encode(), json);
    }

    // ok, whether a result is present (any but null), and the error; or the failing key.
    void replies_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reading");
        QTest::newRow("false result") << QByteArray(R"({"id":17,"ok":true,"trace":{"x":[null]},"result":false})") << "ok result";
        QTest::newRow("null result") << QByteArray(R"({"ok":true,"result":null})") << "ok";
        QTest::newRow("rejection") << QByteArray(R"({"ok":false,"error":"Couldn’t eject “Ana”."})") << "failed error=Couldn’t eject “Ana”.";
        QTest::newRow("null error") << QByteArray(R"({"ok":false,"error":null})") << "failed";
        QTest::newRow("missing ok") << QByteArray(R"({"result":{}})") << "bad ok";
        QTest::newRow("string ok") << QByteArray(R"({"ok":"true","result":{}})") << "bad ok";
        QTest::newRow("error not a string") << QByteArray(R"({"ok":false,"error":42})") << "bad error";
        QTest::newRow("not an object") << QByteArray(R"([{"ok":true}])") << "bad ";
        QTest::newRow("not JSON") << QByteArray(R"({"ok":true,)") << "bad ";
        QTest::newRow("invalid UTF-8") << QByteArray("{\"ok\":true,\"error\":\"\xff\"}") << "bad ";
    }
    void replies()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, reading);
        try {
            const Reply<EmptyResult> reply = decodeReply<EmptyResult>(json.toStdString());
            QCOMPARE(QString(reply.ok ? "ok" : "failed") + (reply.result ? " result" : "") + (reply.error ? " error=" + *reply.error : ""),
                     reading);
        } catch (const DecodeError &error) {
            QCOMPARE("bad " + error.path(), reading);
            QCOMPARE(error.description(), error.path().isEmpty() ? error.problem() : error.path() + ": " + error.problem());
        }
    }
};

void TestEnvelope::commandEncoding_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("since maximal") << Command{.op = "events", .since = std::numeric_limits<std::uint64_t>::max()}
                                   << QByteArray(R"({"op":"events","since":18446744073709551615})");
    QTest::newRow("every field in order, false written")
        << Command{.op = "x", .peer = "p", .since = 7, .mode = "drive", .path = "/", .read_only = true, .remember = false,
                   .pairing_code = "c", .id = "i", .paths = QStringList{"/a", "/b"}, .sources = QStringList{"/s"},
                   .destination = "/d", .ids = QStringList{"1", "2"}, .decision = "skip_all"}
        << QByteArray(R"({"op":"x","peer":"p","since":7,"mode":"drive","path":"/","read_only":true,)"
                      R"("remember":false,"pairing_code":"c","id":"i","paths":["/a","/b"],"sources":["/s"],)"
                      R"("destination":"/d","ids":["1","2"],"decision":"skip_all"})");
    QTest::newRow("empty list is still written") << Command{.op = "dismiss", .ids = QStringList{}} << QByteArray(R"({"op":"dismiss","ids":[]})");
    QTest::newRow("escapes")
        << Command{.op = "send_files", .paths = QStringList{QString::fromUtf8("/tmp/say \"hi\"\\now"), QString::fromUtf8("a\nb\tc\rd\be\ff"),
                                                           QString(QChar(0x01)) + QChar(0x1f) + QChar(0x7f)}}
        << QByteArray(R"({"op":"send_files","paths":["/tmp/say \"hi\"\\now",)" R"("a\nb\tc\rd\be\ff","\u0001\u001f)" "\x7f" R"("]})");
    QTest::newRow("non-ASCII stays UTF-8") << Command{.op = "forget", .peer = QString::fromUtf8("Zoë’s Mac · 東京 🚀")}
        << QByteArray("{\"op\":\"forget\",\"peer\":\"Zo\xc3\xab\xe2\x80\x99s Mac \xc2\xb7 \xe6\x9d\xb1\xe4\xba\xac \xf0\x9f\x9a\x80\"}");
}

QTEST_GUILESS_MAIN(TestEnvelope)
#include "tst_envelope.moc"

// Request lines as sent and reply envelopes as read.
#include "service/command.h"
#include "service/reply.h"

#include <QTest>

using namespace cv;

class TestEnvelope : public QObject {
    Q_OBJECT

private slots:
    void commands(); // outside the class: moc misreads raw strings with escapes

    // ok, whether a result is present (any but null), and the error; or the failing key.
    void replies_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reading");
        QTest::newRow("false result") << QByteArray(R"({"id":17,"ok":true,"trace":{"x":[null]},"result":false})") << "ok result";
        QTest::newRow("null result") << QByteArray(R"({"ok":true,"result":null})") << "ok";
        QTest::newRow("rejection") << QByteArray(R"({"ok":false,"error":"Couldn’t eject “Ana”."})") << "failed error=Couldn’t eject “Ana”.";
        QTest::newRow("string ok") << QByteArray(R"({"ok":"true","result":{}})") << "bad ok";
        QTest::newRow("error not a string") << QByteArray(R"({"ok":false,"error":42})") << "bad error";
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
        }
    }
};

void TestEnvelope::commands()
{
    const Command every{.op = "x", .peer = "p", .since = 18446744073709551615u, .mode = "drive", .path = "/", .read_only = true,
                        .remember = false, .pairing_code = "c", .id = "i", .paths = QStringList{"/a", "/b"},
                        .sources = QStringList{}, .destination = "/d", .ids = QStringList{"1"}, .decision = "skip_all"};
    QCOMPARE(every.encode(), QByteArray(R"({"op":"x","peer":"p","since":18446744073709551615,"mode":"drive","path":"/",)"
                                        R"("read_only":true,"remember":false,"pairing_code":"c","id":"i","paths":["/a","/b"],)"
                                        R"("sources":[],"destination":"/d","ids":["1"],"decision":"skip_all"})"));
    const QString texts[] = {"say \"hi\"\\ a\nb\tc\rd\be\ff", QString(QChar(0x1f)) + QChar(0x7f) + "·東"};
    const Command send{.op = "send_files", .paths = QStringList(std::begin(texts), std::end(texts))};
    QCOMPARE(send.encode(), QByteArray("{\"op\":\"send_files\",\"paths\":[\"say \\\"hi\\\"\\\\ a\\nb\\tc\\rd\\be\\ff\","
                                       "\"\\u001f\x7f\xc2\xb7\xe6\x9d\xb1\"]}"));
}

QTEST_GUILESS_MAIN(TestEnvelope)
#include "tst_envelope.moc"

#include "service/command.h"
#include "service/reply.h"
#include "service/service_error.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <cstdint>
#include <limits>

using namespace cv;

Q_DECLARE_METATYPE(cv::Command)

class TestEnvelope : public QObject {
    Q_OBJECT

private slots:
    void commandEncoding_data();
    void commandEncoding();
    void escapedTextsReadBack();
    void emptyResultReplies_data();
    void emptyResultReplies();
    void badReplies_data();
    void badReplies();
    void serviceErrorKinds();
};

void TestEnvelope::commandEncoding_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<QByteArray>("json");

    QTest::newRow("op only") << Command{.op = "status"} << QByteArray(R"({"op":"status"})");
    QTest::newRow("peer") << Command{.op = "eject", .peer = "C0FFEE-42"}
                          << QByteArray(R"({"op":"eject","peer":"C0FFEE-42"})");
    QTest::newRow("since zero") << Command{.op = "events", .since = 0}
                                << QByteArray(R"({"op":"events","since":0})");
    QTest::newRow("since above signed range")
        << Command{.op = "events", .since = std::uint64_t(9223372036854775808ull)}
        << QByteArray(R"({"op":"events","since":9223372036854775808})");
    QTest::newRow("since maximal")
        << Command{.op = "events", .since = std::numeric_limits<std::uint64_t>::max()}
        << QByteArray(R"({"op":"events","since":18446744073709551615})");
    QTest::newRow("false flags are written")
        << Command{.op = "choose", .peer = "p1", .mode = "folder", .path = "/Users/ana/Shared",
                   .read_only = false, .remember = false, .pairing_code = "8F3A"}
        << QByteArray(R"({"op":"choose","peer":"p1","mode":"folder","path":"/Users/ana/Shared",)"
                      R"("read_only":false,"remember":false,"pairing_code":"8F3A"})");
    QTest::newRow("every field in order")
        << Command{.op = "x", .peer = "p", .since = 7, .mode = "drive", .path = "/",
                   .read_only = true, .remember = true, .pairing_code = "c", .id = "i",
                   .paths = QStringList{"/a", "/b"}, .sources = QStringList{"/s"},
                   .destination = "/d", .ids = QStringList{"1", "2"}, .decision = "skip_all"}
        << QByteArray(R"({"op":"x","peer":"p","since":7,"mode":"drive","path":"/","read_only":true,)"
                      R"("remember":true,"pairing_code":"c","id":"i","paths":["/a","/b"],"sources":["/s"],)"
                      R"("destination":"/d","ids":["1","2"],"decision":"skip_all"})");
    QTest::newRow("empty list is still written")
        << Command{.op = "dismiss", .ids = QStringList{}} << QByteArray(R"({"op":"dismiss","ids":[]})");
    QTest::newRow("copy without peer")
        << Command{.op = "copy", .id = "0123456789abcdef0123456789abcdef",
                   .sources = QStringList{"/Volumes/Ana/Photos"}, .destination = "/home/bo/Downloads"}
        << QByteArray(R"({"op":"copy","id":"0123456789abcdef0123456789abcdef",)"
                      R"("sources":["/Volumes/Ana/Photos"],"destination":"/home/bo/Downloads"})");
    QTest::newRow("escapes")
        << Command{.op = "send_files", .paths = QStringList{
                       QString::fromUtf8("/tmp/say \"hi\"\\now"),
                       QString::fromUtf8("a\nb\tc\rd\be\ff"),
                       QString(QChar(0x01)) + QChar(0x1f) + QChar(0x7f)}}
        << QByteArray(R"({"op":"send_files","paths":["/tmp/say \"hi\"\\now",)"
                      R"("a\nb\tc\rd\be\ff","\u0001\u001f)" "\x7f" R"("]})");
    QTest::newRow("non-ASCII stays UTF-8")
        << Command{.op = "forget", .peer = QString::fromUtf8("Zoë’s Mac · 東京 🚀")}
        << QByteArray("{\"op\":\"forget\",\"peer\":\"Zo\xc3\xab\xe2\x80\x99s Mac \xc2\xb7 "
                      "\xe6\x9d\xb1\xe4\xba\xac \xf0\x9f\x9a\x80\"}");
}

void TestEnvelope::commandEncoding()
{
    QFETCH(Command, command);
    QFETCH(QByteArray, json);
    QCOMPARE(command.encode(), json);
}

void TestEnvelope::escapedTextsReadBack()
{
    // Every character from U+0000 to U+00FF and a few beyond survives a JSON reader.
    QString text;
    for (char16_t c = 0; c < 0x100; ++c)
        text.append(QChar(c));
    text.append(QString::fromUtf8("…’\u2028😀"));
    const QByteArray encoded = Command{.op = "mount", .path = text}.encode();
    QVERIFY(!encoded.contains('\n'));
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(encoded, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(doc.object().value("path").toString(), text);
    QCOMPARE(doc.object().size(), 2);
}

void TestEnvelope::emptyResultReplies_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("hasResult");
    QTest::addColumn<QString>("error");

    const QString none = QString(); // null: no error
    QTest::newRow("empty object") << QByteArray(R"({"ok":true,"result":{}})") << true << true << none;
    QTest::newRow("empty list") << QByteArray(R"({"ok":true,"result":[]})") << true << true << none;
    QTest::newRow("string") << QByteArray(R"({"ok":true,"result":"done"})") << true << true << none;
    QTest::newRow("number") << QByteArray(R"({"ok":true,"result":0})") << true << true << none;
    QTest::newRow("false") << QByteArray(R"({"ok":true,"result":false})") << true << true << none;
    QTest::newRow("object with content")
        << QByteArray(R"({"ok":true,"result":{"api_version":1,"peers":[1,2]}})") << true << true << none;
    QTest::newRow("null result") << QByteArray(R"({"ok":true,"result":null})") << true << false << none;
    QTest::newRow("missing result") << QByteArray(R"({"ok":true})") << true << false << none;
    QTest::newRow("rejection with result")
        << QByteArray(R"({"ok":false,"error":"Peer is not connected.","result":{}})") << false << true
        << QStringLiteral("Peer is not connected.");
    QTest::newRow("rejection")
        << QByteArray(R"({"ok":false,"error":"Couldn’t eject “Ana”."})") << false << false
        << QString::fromUtf8("Couldn’t eject “Ana”.");
    QTest::newRow("null error") << QByteArray(R"({"ok":false,"error":null})") << false << false << none;
    QTest::newRow("other keys ignored")
        << QByteArray(R"({"id":17,"ok":true,"trace":{"x":[null]},"result":{},"extra":"y"})") << true
        << true << none;
    QTest::newRow("whitespace around")
        << QByteArray(" \t{ \"ok\" : true , \"result\" : { } }\r\n") << true << true << none;
}

void TestEnvelope::emptyResultReplies()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, ok);
    QFETCH(bool, hasResult);
    QFETCH(QString, error);

    const Reply<EmptyResult> reply = decodeReply<EmptyResult>(json.toStdString());
    QCOMPARE(reply.ok, ok);
    QCOMPARE(reply.result.has_value(), hasResult);
    QCOMPARE(reply.error.has_value(), !error.isNull());
    if (reply.error)
        QCOMPARE(*reply.error, error);
}

void TestEnvelope::badReplies_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("path");

    QTest::newRow("missing ok") << QByteArray(R"({"result":{}})") << "ok";
    QTest::newRow("null ok") << QByteArray(R"({"ok":null,"result":{}})") << "ok";
    QTest::newRow("string ok") << QByteArray(R"({"ok":"true","result":{}})") << "ok";
    QTest::newRow("number ok") << QByteArray(R"({"ok":1})") << "ok";
    QTest::newRow("error not a string") << QByteArray(R"({"ok":false,"error":42})") << "error";
    QTest::newRow("not an object") << QByteArray(R"([{"ok":true}])") << "";
    QTest::newRow("not JSON") << QByteArray(R"({"ok":true,)") << "";
    QTest::newRow("two documents") << QByteArray(R"({"ok":true} {"ok":true})") << "";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("invalid UTF-8") << QByteArray("{\"ok\":true,\"error\":\"\xff\"}") << "";
}

void TestEnvelope::badReplies()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, path);
    try {
        decodeReply<EmptyResult>(std::string_view(json.constData(), std::size_t(json.size())));
        QFAIL("decoding succeeded");
    } catch (const DecodeError &error) {
        QCOMPARE(error.path(), path);
        QVERIFY(!error.problem().isEmpty());
        QVERIFY(error.description().endsWith(error.problem()));
        if (!path.isEmpty())
            QVERIFY(error.description().startsWith(path + ": "));
    }
}

void TestEnvelope::serviceErrorKinds()
{
    const ServiceError unavailable = ServiceError::unavailable("Couldn’t connect to the background service.");
    const ServiceError invalid = ServiceError::invalid("The service took too long to answer.");
    const ServiceError rejected = ServiceError::rejected("Peer is busy.");
    QVERIFY(unavailable.isUnavailable());
    QVERIFY(!invalid.isUnavailable());
    QVERIFY(!rejected.isUnavailable());
    QCOMPARE(unavailable.errorDescription(), QString("Couldn’t connect to the background service."));
    QCOMPARE(QString::fromUtf8(rejected.what()), QString("Peer is busy."));
    try {
        ServiceError::unavailable("gone").raise();
        QFAIL("not thrown");
    } catch (const ServiceError &error) {
        QVERIFY(error.isUnavailable());
        QCOMPARE(error.message(), QString("gone"));
    }
}

QTEST_GUILESS_MAIN(TestEnvelope)
#include "tst_envelope.moc"

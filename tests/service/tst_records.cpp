// Decoding the service's records: defaults, limits of every number kind, the key path
// of the first failure, repeated keys, shared short texts and event batches.
#include "service/records.h"
#include "service/reply.h"

#include <QTest>

#include <cstdint>
#include <limits>

using namespace cv;

// A status with every kind of record and keys this application does not know (in
// its own file: moc misreads raw strings with escapes).
extern const char *const fullJson;

namespace {

const char *const minimalStatus =
    R"({"api_version":1,"version":"1.0","computer_id":"id","name":"","peers":[],"remembered_computers":[],"event_sequence":0})";

QByteArray replaced(const char *base, const QByteArray &from, const QByteArray &to)
{
    QByteArray json(base);
    const qsizetype at = json.indexOf(from);
    if (at < 0)
        qFatal("fixture text not found: %s", from.constData());
    return json.replace(at, from.size(), to);
}

std::string_view view(const QByteArray &bytes) { return {bytes.constData(), std::size_t(bytes.size())}; }

ServiceStatus status(const QByteArray &json) { return decode<ServiceStatus>(view(json)); }

// The failing key path (with `description`, the whole description), or "<decoded>".
template<class F>
QString failure(F decoding, bool description = false)
{
    try {
        decoding();
        return QStringLiteral("<decoded>");
    } catch (const DecodeError &error) {
        return description ? error.description() : error.path();
    }
}
QString failure(const QByteArray &json, bool description = false)
{
    return failure([&] { status(json); }, description);
}

// The minimal status with `extra` keys ahead of its own.
QByteArray minimalWith(const QByteArray &extra) { return replaced(minimalStatus, "{", "{" + extra + ","); }
// The minimal status remembering one computer with this share.
QByteArray withShare(const QByteArray &share)
{
    return replaced(minimalStatus, R"("remembered_computers":[])", R"("remembered_computers":[{"id":"p","name":"n","share":)" + share + "}]");
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private slots:
    void defaults()
    {
        const ServiceStatus s = status(minimalWith(R"("capabilities":null,"control_busy":null,"connection_issues":null,)"
                                                   R"("transfers":null,"copies":null)"));
        QVERIFY(s.capabilities.isEmpty() && !s.control_busy && s.connection_issues.isEmpty());
        QVERIFY(s.transfers.isEmpty() && s.copies.isEmpty() && s.peers.isEmpty());
    }

    void fullStatus()
    {
        const ServiceStatus s = decode<ServiceStatus>(fullJson);
        QCOMPARE(s.name, QString("Ana’s MacBook Pro"));
        QCOMPARE(s.capabilities, (QStringList{"receive_transfer", "fast_copy", "multi_drive"}));
        QCOMPARE(s.event_sequence, std::numeric_limits<std::uint64_t>::max());
        const Peer &bo = s.peers[0];
        QCOMPARE((QStringList{bo.id, bo.pairing_code, bo.sharing.access.value_or(""), bo.mount.value_or("")}),
                 (QStringList{"peer-a1", "5KQ2-77", "read_write", "/Volumes/Bo’s Documents"}));
        QVERIFY(bo.interface_index == 14u && bo.link_speed == (LinkSpeed{40000000000, 38000000000}));
        QVERIFY(!bo.choice_required && bo.remote_receive && !bo.ejected && !bo.error);
        QVERIFY(bo.remote_share && bo.remote_share->read_only && bo.remote_share->label == "Bo’s Documents");
        const Peer &studio = s.peers[1];
        QCOMPARE(studio.name, QString::fromUtf8("Studio \"Mac\" \\ 東京"));
        QCOMPARE(studio.interface_index, std::numeric_limits<std::uint32_t>::max());
        QVERIFY(!studio.link_speed && !studio.remote_share && studio.choice_required && studio.ejected);
        QVERIFY(!studio.remote_receive); // null reads as false
        QCOMPARE(studio.error, QString("Couldn’t mount the shared folder."));
        QCOMPARE(s.remembered_computers.at(0).name, QString::fromUtf8("Old Mini \xF0\x9F\x9A\x80")); // surrogate pair
        const Transfer &sent = s.transfers.at(0);
        QVERIFY(sent.state == "completed" && sent.bytes == 39845888 && sent.delivered_files == 1u && sent.seconds == 0.42);
        const CopyJob &copy = s.copies.at(0);
        QCOMPARE(copy.destinations, QStringList{"/Volumes/Bo/Archive"});
        QVERIFY(copy.bits_per_second == 8000000000 && copy.skipped == 3u && copy.scanned && !copy.error);
        QVERIFY(copy.skipped_items && copy.skipped_items->size() == 2 && copy.problem && copy.problem->path == "/d");
        // An update issue reads its numbers; another kind nothing more, not even keys that would be invalid.
        const ConnectionIssue &update = s.connection_issues[0];
        QVERIFY(update.updateRequired() && update.interface_index == 14u && update.peer_protocol == 2u);
        QVERIFY(update.required_protocol == 3u && update.message == "The other Mac needs a newer Corvane.");
        QVERIFY(!s.connection_issues[1].updateRequired() && !s.connection_issues[1].interface_index);
        QVERIFY(s.connectionUpdateRequired());
        QVERIFY(!status(minimalWith(R"("connection_issues":[{"kind":"Update_Required"}])")).connectionUpdateRequired());
    }

    // Every number kind at and beyond its limits, as integer and as floating point.
    void numbers_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("expected"); // the value read, or the failing path
        QTest::newRow("u64 just above signed") << QByteArray("event_sequence") << QByteArray("9223372036854775808") << "9223372036854775808";
        QTest::newRow("u64 whole in floating point") << QByteArray("event_sequence") << QByteArray("42.0") << "42";
        QTest::newRow("u64 negative") << QByteArray("event_sequence") << QByteArray("-1") << "event_sequence";
        QTest::newRow("u64 fraction") << QByteArray("event_sequence") << QByteArray("1.5") << "event_sequence";
        QTest::newRow("u64 2^64 in floating point") << QByteArray("event_sequence") << QByteArray("1.8446744073709551616e19") << "event_sequence";
        QTest::newRow("u64 text") << QByteArray("event_sequence") << QByteArray("\"12\"") << "event_sequence";
        QTest::newRow("i64 2^63 in floating point") << QByteArray("api_version") << QByteArray("9.223372036854775808e18") << "api_version";
        QTest::newRow("i64 beyond signed") << QByteArray("api_version") << QByteArray("9223372036854775808") << "api_version";
        QTest::newRow("i64 -2^63 in floating point") << QByteArray("api_version") << QByteArray("-9.223372036854775808e18")
                                                     << "-9223372036854775808";
        QTest::newRow("u32 2^32") << QByteArray("peers") << QByteArray(R"([{"id":"p","name":"n","interface_index":4294967296}])")
                                  << "peers[0].interface_index";
    }
    void numbers()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);
        QByteArray json(minimalStatus);
        const qsizetype at = json.indexOf("\"" + key + "\":") + key.size() + 3;
        const qsizetype comma = json.indexOf(',', at);
        json.replace(at, (comma < 0 ? json.indexOf('}', at) : comma) - at, value); // the key's own value
        try {
            const ServiceStatus s = status(json);
            QCOMPARE(key == "api_version" ? QString::number(s.api_version) : QString::number(s.event_sequence), expected);
        } catch (const DecodeError &error) {
            QCOMPARE(error.path(), expected);
        }
    }

    void badStatus_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("path");
        auto row = [](const char *name, const QByteArray &from, const QByteArray &to, const char *path) {
            QTest::newRow(name) << replaced(fullJson, from, to) << QString(path);
        };
        row("peers missing", R"("peers": [)", R"("peerz": [)", "peers");
        row("capabilities holding a number", R"("fast_copy", "multi_drive")", R"("fast_copy", 2)", "capabilities[2]");
        row("peer without ejected", R"(, "ejected": true)", "", "peers[1].ejected");
        row("peer null", R"("peers": [)", R"("peers": [null, )", "peers[0]");
        row("location path missing", R"({"path": "/Volumes/Photos", "uuid": "x"})", R"({"uuid": "x"})",
            "peers[0].sharing.locations[1].path");
        row("transfer seconds text", R"("seconds": 0.42)", R"("seconds": "0.42")", "transfers[0].seconds");
        row("deep copy problem", R"("reason": "Name too long")", R"("reason": null)", "copies[0].skipped_items[1].reason");
        row("update without its protocol", R"("required_protocol": 3,)", "", "connection_issues[0].required_protocol");
        // Keys are judged in the record's order, not the document's.
        row("earliest failing field of a peer", R"("name": "Bo’s iMac", "interface_index": 14,)",
            R"("name": 1, "interface_index": -14,)", "peers[0].name");
        // Text that is not UTF-8, raw or escaped, fails the whole document.
        row("truncated sequence", "Old Mini", "Old \xC3 Mini", "");
        row("escaped lone surrogate", "Old Mini", "Old \\ud800 Mini", "");
        // Nesting under an unread key is passed over; too deep for the parser fails.
        const auto nested = [](int depth) { return "{\"x\":" + QByteArray(depth, '[') + QByteArray(depth, ']') + ","; };
        row("unread deep nesting", "{", nested(500), "<decoded>");
        row("too deep nesting", "{", nested(200000), "");
    }
    void badStatus()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, path);
        QCOMPARE(failure(json), path);
    }

    void repeatedKeyKeepsLastValue()
    {
        QCOMPARE(status(replaced(minimalStatus, R"("name":"")", R"("name":"first","name":"last")")).name, QString("last"));
        // Also when the earlier value is invalid, in an object with many keys.
        QByteArray many = R"({"mode":3,)";
        for (int i = 0; i < 40; ++i)
            many += "\"k" + QByteArray::number(i) + "\":0,";
        QVERIFY(status(withShare(many + R"("mode":"none"})")).remembered_computers.at(0).share == Share::none());
    }

    // Short texts that recur are shared between records; each still reads back as written.
    void recurringTexts()
    {
        QStringList values{"", "a", "b", "ab", "é", "東京", "sending", "sending ", "Sending", QString(63, 'x'), QString(64, 'x')};
        for (int i = 0; i < 300; ++i)
            values.append(QStringLiteral("peer-%1").arg(i % 150));
        QByteArray transfers;
        for (const QString &v : values) {
            const QByteArray text = "\"" + v.toUtf8() + "\"";
            transfers += R"({"id":"t","peer":)" + text + R"(,"state":)" + text
                + R"(,"name":"n","bytes":0,"total_bytes":0,"delivered_items":0},)";
        }
        transfers.chop(1);
        const ServiceStatus s = status(minimalWith("\"transfers\":[" + transfers + "]"));
        for (qsizetype i = 0; i < values.size(); ++i)
            QVERIFY(s.transfers[i].peer == values[i] && s.transfers[i].state == values[i]);
    }

    void sharePaths_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reading"); // paths | path | receiveFolder, "-" for absent
        QTest::newRow("location only") << QByteArray(R"({"mode":"folder","location":{"path":"/S"}})") << "/S | /S | -";
        QTest::newRow("empty locations hide location") << QByteArray(R"({"mode":"drive","location":{"path":"/"},"locations":[]})")
                                                       << " | / | -";
        QTest::newRow("locations win")
            << QByteArray(R"({"mode":"drive","location":{"path":"/"},"locations":[{"path":"/B"},{"path":"/A"}]})") << "/B,/A | / | -";
        QTest::newRow("receive folder") << QByteArray(R"({"mode":"receive","folder":{"path":"/In"}})") << " | - | /In";
        QTest::newRow("folder mode with folder") << QByteArray(R"({"mode":"folder","folder":{"path":"/In"}})") << " | - | -";
    }
    void sharePaths()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, reading);
        const Share share = status(withShare(json)).remembered_computers.at(0).share;
        QCOMPARE(share.paths().join(',') + " | " + share.path().value_or("-") + " | " + share.receiveFolder().value_or("-"),
                 reading);
    }

    void events()
    {
        const char *const json = R"({"events": [
            {"sequence": 9223372036854775808, "event": "delivered", "peer": "p1",
             "detail": {"name": "Holiday.mov", "files": 1, "notification_required": true}, "time": "today"},
            {"sequence": 9223372036854775809, "event": "delivery_failed", "peer": null, "detail": {"error": "Disk full"}}],
          "sequence": 9223372036854775810, "resync_required": false})";
        const EventBatch batch = decode<EventBatch>(json);
        QVERIFY(batch.sequence == 9223372036854775810ull && !batch.resync_required && batch.events.size() == 2);
        const ServiceEvent &delivered = batch.events[0], &failed = batch.events[1];
        QVERIFY(delivered.sequence == 9223372036854775808ull && delivered.peer == "p1" && delivered.detail.name == "Holiday.mov");
        QVERIFY(delivered.detail.files == 1u && delivered.detail.notification_required == true);
        QVERIFY(!failed.peer && failed.detail.error == "Disk full" && !failed.detail.files);
        QCOMPARE(failure([&] { decode<EventBatch>(replaced(json, R"(, "detail": {"error": "Disk full"})", "").constData()); }),
                 QString("events[1].detail"));
        // "events" asks for an optional batch: null and missing are both absent.
        for (const char *reply : {R"({"ok":true,"result":null})", R"({"ok":true})"})
            QVERIFY(!decodeReply<std::optional<EventBatch>>(reply).result);
        // A nested failure names its path inside "result".
        const QByteArray statusReply = R"({"ok":true,"result":)" + replaced(fullJson, R"(, "ejected": true)", "") + "}";
        QCOMPARE(failure([&] { decodeReply<ServiceStatus>(view(statusReply)); }), QString("result.peers[1].ejected"));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"

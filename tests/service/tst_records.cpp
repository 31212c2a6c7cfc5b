// Decoding the service's records: defaults, limits of every number kind, the key path
// of the first failure, repeated keys, shared short texts and event batches.
#include "service/records.h"
#include "../views/table.h"
#include "service/reply.h"

#include <QTest>

#include <cstdint>
#include <limits>

using namespace cv;
using namespace cv::test;

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


// The minimal status remembering one computer with this share.
QByteArray withShare(const QByteArray &share)
{
    return replaced(minimalStatus, R"("remembered_computers":[])", R"("remembered_computers":[{"id":"p","name":"n","share":)" + share + "}]");
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private slots:
    void fullStatus()
    {
        const ServiceStatus s = decode<ServiceStatus>(fullJson);
        QCOMPARE(s.capabilities, (QStringList{"receive_transfer", "fast_copy", "multi_drive"}));
        const Peer &bo = s.peers[0], &studio = s.peers[1];
        QCOMPARE((QStringList{bo.name, bo.pairing_code, bo.sharing.access.value_or(""), bo.mount.value_or(""), studio.name}),
                 (QStringList{"Bo’s iMac", "5KQ2-77", "read_write", "/Volumes/Bo’s Documents", QString::fromUtf8("Studio \"Mac\" \\ 東京")}));
        QVERIFY(bo.interface_index == 14u && bo.link_speed == (LinkSpeed{40000000000, 38000000000}) && bo.remote_receive);
        QVERIFY(bo.remote_share && bo.remote_share->read_only && !studio.remote_receive && studio.ejected);
        QCOMPARE(studio.error, QString("Couldn’t mount."));
        QCOMPARE(s.remembered_computers.at(0).name, QString::fromUtf8("Old Mini \xF0\x9F\x9A\x80")); // surrogate pair
        QVERIFY(s.transfers.at(0).seconds == 0.42 && s.copies.at(0).skipped_items->size() == 2 && s.copies.at(0).problem);
        // An update issue reads its numbers; another kind nothing more, not even keys that would be invalid.
        const ConnectionIssue &update = s.connection_issues[0];
        QVERIFY(update.updateRequired() && update.peer_protocol == 2u && update.required_protocol == 3u && s.connectionUpdateRequired());
        QVERIFY(!s.connection_issues[1].updateRequired() && !s.connection_issues[1].interface_index);
    }

    // The api_version and event_sequence read, or the failing key path.
    void decoding_data()
    {
        columns<QByteArray, QString>("json", "expected");
        const auto row = [](const char *name, const char *base, const QByteArray &from, const QByteArray &to, const char *expected) {
            QTest::newRow(name) << replaced(base, from, to) << QString(expected);
        };
        const auto sequence = [&](const char *name, const char *value, const char *expected) {
            row(name, minimalStatus, "\"event_sequence\":0", "\"event_sequence\":" + QByteArray(value), expected);
        };
        const auto version = [&](const char *name, const char *value, const char *expected) {
            row(name, minimalStatus, "\"api_version\":1", "\"api_version\":" + QByteArray(value), expected);
        };
        row("null lists", minimalStatus, "{", R"({"capabilities":null,"connection_issues":null,"transfers":null,"copies":null,)", "1 0");
        sequence("u64 just above signed", "9223372036854775808", "1 9223372036854775808");
        sequence("u64 whole in floating point", "42.0", "1 42");
        sequence("u64 negative", "-1", "event_sequence");
        sequence("u64 fraction", "1.5", "event_sequence");
        sequence("u64 2^64 in floating point", "1.8446744073709551616e19", "event_sequence");
        version("i64 2^63 in floating point", "9.223372036854775808e18", "api_version");
        version("i64 -2^63 in floating point", "-9.223372036854775808e18", "-9223372036854775808 0");
        row("u32 2^32", minimalStatus, R"("peers":[])", R"("peers":[{"id":"p","name":"n","interface_index":4294967296}])",
            "peers[0].interface_index");
        row("peers missing", fullJson, R"("peers": [)", R"("peerz": [)", "peers");
        row("capabilities holding a number", fullJson, R"("fast_copy", "multi_drive")", R"("fast_copy", 2)", "capabilities[2]");
        row("peer null", fullJson, R"("peers": [)", R"("peers": [null, )", "peers[0]");
        row("update without its protocol", fullJson, R"(, "required_protocol": 3)", "", "connection_issues[0].required_protocol");
        // Keys are judged in the record's order, not the document's.
        row("earliest failing field of a peer", fullJson, R"("name": "Bo’s iMac", "interface_index": 14,)",
            R"("name": 1, "interface_index": -14,)", "peers[0].name");
        // Text that is not UTF-8 and nesting too deep for the parser fail the whole document.
        row("truncated sequence", fullJson, "Old Mini", "Old \xC3 Mini", "");
        row("too deep nesting", fullJson, "{", "{\"x\":" + QByteArray(200000, '[') + QByteArray(200000, ']') + ",", "");
    }
    void decoding()
    {
        auto [json, expected] = fetch<QByteArray, QString>("json", "expected");
        try {
            const ServiceStatus s = status(json);
            QCOMPARE(QString::number(s.api_version) + ' ' + QString::number(s.event_sequence), expected);
        } catch (const DecodeError &error) {
            QCOMPARE(error.path(), expected);
        }
    }

    void sharePaths_data()
    {
        // paths | path | receiveFolder, "-" for absent (reading)
        columns<QByteArray, QString>("json", "reading");
        QTest::newRow("location only") << QByteArray(R"({"mode":"folder","location":{"path":"/S"}})") << "/S | /S | -";
        QTest::newRow("empty locations hide location") << QByteArray(R"({"mode":"drive","location":{"path":"/"},"locations":[]})")
                                                       << " | / | -";
        QTest::newRow("locations win")
            << QByteArray(R"({"mode":"drive","location":{"path":"/"},"locations":[{"path":"/B"},{"path":"/A"}]})") << "/B,/A | / | -";
        QTest::newRow("receive folder") << QByteArray(R"({"mode":"receive","folder":{"path":"/In"}})") << " | - | /In";
        QTest::newRow("a repeated key: the last value") << QByteArray(R"({"mode":3,"location":7,"mode":"folder","location":{"path":"/S"}})")
                                                       << "/S | /S | -";
        QTest::newRow("folder mode with folder") << QByteArray(R"({"mode":"folder","folder":{"path":"/In"}})") << " | - | -";
    }
    void sharePaths()
    {
        auto [json, reading] = fetch<QByteArray, QString>("json", "reading");
        const Share share = status(withShare(json)).remembered_computers.at(0).share;
        QCOMPARE(share.paths().join(',') + " | " + share.path().value_or("-") + " | " + share.receiveFolder().value_or("-"),
                 reading);
    }

    void events()
    {
        const char *const json = R"({"events": [{"sequence": 9223372036854775808, "event": "delivered", "peer": "p1",
            "detail": {"name": "Holiday.mov", "files": 1, "notification_required": true}, "time": "today"}],
          "sequence": 9223372036854775810, "resync_required": false})";
        const EventBatch batch = decode<EventBatch>(json);
        const ServiceEvent &delivered = batch.events.at(0);
        QVERIFY(batch.sequence == 9223372036854775810ull && delivered.sequence == 9223372036854775808ull && delivered.peer == "p1");
        QVERIFY(delivered.detail.name == "Holiday.mov" && delivered.detail.files == 1u && delivered.detail.notification_required == true);
        // "events" asks for an optional batch: null and missing are both absent.
        for (const char *reply : {R"({"ok":true,"result":null})", R"({"ok":true})"})
            QVERIFY(!decodeReply<std::optional<EventBatch>>(reply).result);
        // A nested failure names its path inside "result".
        const QByteArray statusReply = R"({"ok":true,"result":)" + replaced(fullJson, R"(, "ejected": true)", "") + "}";
        try {
            decodeReply<ServiceStatus>(view(statusReply));
            QFAIL("decoded");
        } catch (const DecodeError &error) {
            QCOMPARE(error.path(), QString("result.peers[1].ejected"));
        }
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"

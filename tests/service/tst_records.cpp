#include "service/records.h"
#include "service/reply.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QtConcurrent/QtConcurrentRun>

#include <cstdint>
#include <limits>

using namespace cv;

// A status as the service writes it, with every kind of record and a few keys this
// application does not know (in its own file: moc misreads raw strings with escapes).
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

// Decodes `json` as T and returns the failing key path (or the whole description), or "<decoded>".
template<class T>
QString failure(const QByteArray &json, bool description = false)
{
    try {
        decode<T>(view(json));
        return QStringLiteral("<decoded>");
    } catch (const DecodeError &error) {
        return description ? error.description() : error.path();
    }
}

// The minimal status with `text` in place of its empty `key` list.
ServiceStatus statusWith(const char *key, const QByteArray &text)
{
    const QByteArray empty = "\"" + QByteArray(key) + "\":[]";
    return decode<ServiceStatus>(view(replaced(minimalStatus, empty, "\"" + QByteArray(key) + "\":" + text)));
}

// Shares arrive inside a remembered computer.
Share shareOf(const QByteArray &json)
{
    return statusWith("remembered_computers", R"([{"id":"p","name":"n","share":)" + json + "}]")
        .remembered_computers.at(0)
        .share;
}

// The process's peak resident memory in KiB since the last `resetPeakMemory`, or -1.
long peakMemory()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

bool resetPeakMemory()
{
    QFile refs("/proc/self/clear_refs");
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private slots:
    void minimalStatusTakesDefaults_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("keys missing") << QByteArray(minimalStatus);
        QTest::newRow("keys null") << replaced(minimalStatus, R"("peers")",
                                               R"("capabilities":null,"control_busy":null,"connection_issues":null,)"
                                               R"("transfers":null,"copies":null,"peers")");
    }

    void minimalStatusTakesDefaults()
    {
        QFETCH(QByteArray, json);
        const ServiceStatus status = decode<ServiceStatus>(view(json));
        QCOMPARE(status.api_version, 1);
        QCOMPARE(status.version, QString("1.0"));
        QCOMPARE(status.computer_id, QString("id"));
        QVERIFY(status.name.isEmpty() && status.capabilities.isEmpty() && !status.control_busy);
        QVERIFY(status.connection_issues.isEmpty() && status.peers.isEmpty() && status.remembered_computers.isEmpty());
        QVERIFY(status.transfers.isEmpty() && status.copies.isEmpty());
        QCOMPARE(status.event_sequence, 0u);
    }

    void fullStatus()
    {
        const ServiceStatus status = decode<ServiceStatus>(fullJson);
        QCOMPARE(status.name, QString("Ana’s MacBook Pro"));
        QCOMPARE(status.capabilities, (QStringList{"receive_transfer", "fast_copy", "multi_drive"}));
        QCOMPARE(status.event_sequence, std::numeric_limits<std::uint64_t>::max());
        QCOMPARE(status.peers.size(), 2);

        const Peer &bo = status.peers[0];
        QCOMPARE((QStringList{bo.id, bo.pairing_code, bo.sharing.access.value_or(""), bo.mount.value_or("")}),
                 (QStringList{"peer-a1", "5KQ2-77", "read_write", "/Volumes/Bo’s Documents"}));
        QCOMPARE(bo.interface_index, 14u);
        QVERIFY(bo.link_speed == (LinkSpeed{40000000000, 38000000000}));
        QVERIFY(!bo.choice_required && bo.remote_receive && !bo.ejected && !bo.error);
        QCOMPARE(bo.sharing.paths(), (QStringList{"/", "/Volumes/Photos"}));
        QVERIFY(bo.remote_share && bo.remote_share->read_only && bo.remote_share->label == "Bo’s Documents");

        const Peer &studio = status.peers[1];
        QCOMPARE(studio.name, QString::fromUtf8("Studio \"Mac\" \\ 東京"));
        QCOMPARE(studio.interface_index, std::numeric_limits<std::uint32_t>::max());
        QVERIFY(!studio.link_speed && !studio.remote_share && !studio.mount && studio.choice_required && studio.ejected);
        QVERIFY(!studio.remote_receive); // null reads as false, and so does a missing key:
        QVERIFY(!decode<ServiceStatus>(view(replaced(fullJson, R"("remote_receive": null, )", ""))).peers[1].remote_receive);
        QCOMPARE(studio.error, QString("Couldn’t mount the shared folder."));
        QCOMPARE(studio.sharing.receiveFolder(), QString("/Users/ana/Incoming"));

        // An escaped surrogate pair reads as the one character it stands for.
        QCOMPARE(status.remembered_computers.at(0).name, QString::fromUtf8("Old Mini \xF0\x9F\x9A\x80"));
        QCOMPARE(status.remembered_computers.at(0).share.path(), QString("/Users/ana/Shared"));

        const Transfer &sent = status.transfers.at(0);
        QCOMPARE(sent.state, QString("completed"));
        QVERIFY(sent.bytes == 39845888 && sent.delivered_files == 1u && sent.seconds == 0.42 && sent.skipped == 0u);

        const CopyJob &copy = status.copies.at(0);
        QCOMPARE(copy.destinations, QStringList{"/Volumes/Bo/Archive"});
        QVERIFY(copy.bits_per_second == 8000000000 && copy.skipped == 3u && copy.scanned && !copy.error);
        QVERIFY(copy.skipped_items && copy.skipped_items->size() == 2 && copy.problem && copy.problem->path == "/d");
        QCOMPARE(copy.skipped_items->at(1).reason, QString("Name too long"));
    }

    void connectionIssues()
    {
        const ServiceStatus status = decode<ServiceStatus>(fullJson);
        QCOMPARE(status.connection_issues.size(), 2);
        const ConnectionIssue &update = status.connection_issues[0];
        QVERIFY(update.updateRequired());
        QCOMPARE(update.interface_index, 14u);
        QCOMPARE(update.peer_protocol, 2u);
        QCOMPARE(update.required_protocol, 3u);
        QCOMPARE(update.message, QString("The other Mac needs a newer Corvane."));

        // Another kind reads nothing more, not even keys that would be invalid.
        const ConnectionIssue &other = status.connection_issues[1];
        QCOMPARE(other.kind, QString("link_down"));
        QVERIFY(!other.updateRequired());
        QVERIFY(!other.interface_index && !other.peer_protocol && !other.required_protocol && !other.message);

        // The flag finds an update issue wherever it stands in the list, and only that kind.
        QVERIFY(statusWith("peers", R"([],"connection_issues":[{"kind":"a"},{"kind":"update_required",)"
                                    R"("interface_index":0,"peer_protocol":0,"required_protocol":0,"message":""}])")
                    .connectionUpdateRequired());
        QVERIFY(!statusWith("peers", R"([],"connection_issues":[{"kind":"Update_Required"}])").connectionUpdateRequired());
    }

    void eventSequence_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<quint64>("expected");

        QTest::newRow("just above signed") << QByteArray("9223372036854775808") << true << quint64(9223372036854775808ull);
        QTest::newRow("largest") << QByteArray("18446744073709551615") << true << quint64(18446744073709551615ull);
        QTest::newRow("whole with fraction digits") << QByteArray("42.0") << true << quint64(42);
        QTest::newRow("negative") << QByteArray("-1") << false << quint64(0);
        QTest::newRow("fraction") << QByteArray("1.5") << false << quint64(0);
        QTest::newRow("too large") << QByteArray("18446744073709551616") << false << quint64(0);
        QTest::newRow("too large as exponent") << QByteArray("2e19") << false << quint64(0);
        QTest::newRow("text") << QByteArray("\"12\"") << false << quint64(0);
        QTest::newRow("null") << QByteArray("null") << false << quint64(0);
    }

    void eventSequence()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, decodes);
        QFETCH(quint64, expected);

        const QByteArray json = replaced(minimalStatus, R"("event_sequence":0)", "\"event_sequence\":" + value);
        try {
            const ServiceStatus status = decode<ServiceStatus>(view(json));
            QVERIFY(decodes);
            QCOMPARE(status.event_sequence, expected);
        } catch (const DecodeError &error) {
            QVERIFY2(!decodes, qPrintable(error.description()));
            // A number beyond every integer fails in the parser itself; the rest name the key.
            if (value != "18446744073709551616")
                QCOMPARE(error.path(), QString("event_sequence"));
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
        row("peers null", R"("peers": [)", R"("peers": null, "former_peers": [)", "peers");
        row("api_version text", R"("api_version": 1)", R"("api_version": "1")", "api_version");
        row("api_version beyond signed", R"("api_version": 1)", R"("api_version": 9223372036854775808)", "api_version");
        row("capabilities holding a number", R"("fast_copy", "multi_drive")", R"("fast_copy", 2)", "capabilities[2]");
        row("capabilities not a list", R"(["receive_transfer", "fast_copy", "multi_drive"])", "\"x\"", "capabilities");
        row("control_busy text", R"("control_busy": false)", R"("control_busy": "no")", "control_busy");
        row("interface_index of 2^32", R"("Bo’s iMac", "interface_index": 14,)",
            R"("Bo’s iMac", "interface_index": 4294967296,)", "peers[0].interface_index");
        row("peer without ejected", R"(, "ejected": true)", "", "peers[1].ejected");
        row("peer null", R"("peers": [)", R"("peers": [null, )", "peers[0]");
        row("share mode number", R"({"mode": "receive")", R"({"mode": 3)", "peers[1].sharing.mode");
        row("location path missing", R"({"path": "/Volumes/Photos", "uuid": "x"})", R"({"uuid": "x"})",
            "peers[0].sharing.locations[1].path");
        row("link speed negative", R"("from_peer_bps": 38000000000)", R"("from_peer_bps": -1)",
            "peers[0].link_speed.from_peer_bps");
        row("transfer seconds text", R"("seconds": 0.42)", R"("seconds": "0.42")", "transfers[0].seconds");
        row("deep copy problem", R"("reason": "Name too long")", R"("reason": null)", "copies[0].skipped_items[1].reason");
        row("update without message", R"("message": "The)", R"("note": "The)", "connection_issues[0].message");
        // Keys are judged in the record's order, not the document's: the first one that fails is named.
        QTest::newRow("first failing key in record order")
            << QByteArray(R"({"event_sequence":-1,"peers":[],"version":1,"computer_id":"id","name":"","api_version":1})")
            << "version";
        row("earliest failing field of a peer", R"("name": "Bo’s iMac", "interface_index": 14,)",
            R"("name": 1, "interface_index": -14,)", "peers[0].name");
        // Text that is not UTF-8, raw or escaped, fails the whole document.
        row("truncated sequence", "Old Mini", "Old \xC3 Mini", "");
        row("encoded surrogate", "Old Mini", "Old \xED\xA0\x80 Mini", "");
        row("escaped lone surrogate", "Old Mini", "Old \\ud800 Mini", "");
        // Nesting under a key that no record reads is passed over; nesting too deep for
        // the parser fails the document instead of exhausting the stack.
        const auto nested = [](int depth) { return "{\"x\":" + QByteArray(depth, '[') + QByteArray(depth, ']') + ","; };
        row("unread deep nesting", "{", nested(500), "<decoded>");
        row("too deep nesting", "{", nested(200000), "");
    }

    void badStatus()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, path);
        QCOMPARE(failure<ServiceStatus>(json), path);
    }

    void errorDescriptions()
    {
        QCOMPARE(failure<ServiceStatus>(replaced(fullJson, R"({"mode": "receive")", R"({"mode": 3)"), true),
                 QString("peers[1].sharing.mode: expected a string, found 3"));
        QCOMPARE(failure<ServiceStatus>(replaced(minimalStatus, R"("event_sequence":0)", R"("event_sequence":-1)"), true),
                 QString("event_sequence: -1 is out of range for an unsigned integer"));
    }

    void repeatedKeyKeepsLastValue()
    {
        // Whichever order the keys come in, a key written twice reads its last value.
        QCOMPARE(decode<ServiceStatus>(view(replaced(minimalStatus, R"("name":"")", R"("name":"first","name":"last")"))).name,
                 QString("last"));
        const QByteArray scattered = replaced(minimalStatus, R"("name":"")", R"("name":"last")");
        QCOMPARE(decode<ServiceStatus>(view(replaced(scattered.constData(), "{", R"({"name":"first",)"))).name,
                 QString("last"));

        // Also when the earlier value is invalid, and in objects with many keys.
        QByteArray many = R"({"mode":3,)";
        for (int i = 0; i < 40; ++i)
            many += "\"k" + QByteArray::number(i) + "\":0,";
        QVERIFY(shareOf(many + R"("mode":"none"})") == Share::none());
    }

    void objectWithManyKeys()
    {
        // About a megabyte of unknown keys of one length ahead of the status's own keys:
        // reading it takes milliseconds, so a second is far beyond it (comparing every key
        // with every other one took seconds).
        QByteArray keys;
        for (int i = 0; i < 100000; ++i)
            keys += "\"" + QByteArray::number(100000 + i) + "\":0,";
        const QByteArray json = replaced(minimalStatus, "{", "{" + keys);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(decode<ServiceStatus>(view(json)).version, QString("1.0"));
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QStringLiteral("%1 ms").arg(timer.elapsed())));
    }

    void longListOfBadElements()
    {
        // About a megabyte, the largest reply the client takes, of elements that fail at
        // once: the list must fail without first making a record for every element.
        QByteArray objects = "[{}";
        while (objects.size() < 1000000)
            objects += ",{}";
        const QByteArray json = replaced(minimalStatus, R"("peers":[])", R"("peers":[],"copies":)" + objects + "]");
        if (!resetPeakMemory())
            QSKIP("the peak memory of this process cannot be measured here");
        const long before = peakMemory();
        QCOMPARE(failure<ServiceStatus>(json), QString("copies[0].id"));
        const long grownMegabytes = (peakMemory() - before) / 1024;
        QVERIFY2(grownMegabytes < 48, qPrintable(QStringLiteral("grew by %1 MB").arg(grownMegabytes)));
    }

    void longListOfGoodElements()
    {
        // More elements than are made ahead of reading them: every one is read.
        QByteArray capabilities = R"(["c0")";
        for (int i = 1; i < 60000; ++i)
            capabilities += ",\"c" + QByteArray::number(i) + "\"";
        const ServiceStatus status = statusWith("peers", R"([],"capabilities":)" + capabilities + "]");
        QCOMPARE(status.capabilities.size(), 60000);
        QCOMPARE(status.capabilities.last(), QString("c59999"));
    }

    void recurringTexts()
    {
        // Short texts that recur are shared between records; each must still read back as
        // written, whatever collides in between (lengths 1 to 64, non-ASCII, empty).
        QStringList values{"", "a", "b", "ab", "ba", "é", "東京", "sending", "sending ", "Sending",
                           QString(62, QLatin1Char('x')), QString(63, QLatin1Char('x')), QString(64, QLatin1Char('x'))};
        for (int i = 0; i < 300; ++i)
            values.append(QStringLiteral("peer-%1").arg(i % 150));
        QByteArray transfers = "[";
        for (const QString &v : values) {
            const QByteArray text = "\"" + v.toUtf8() + "\"";
            transfers += R"({"id":"t","peer":)" + text + R"(,"state":)" + text
                + R"(,"name":"n","bytes":0,"total_bytes":0,"delivered_items":0},)";
        }
        transfers.back() = ']';
        for (int round = 0; round < 2; ++round) {
            const ServiceStatus status = statusWith("peers", R"([],"transfers":)" + transfers);
            QCOMPARE(status.transfers.size(), values.size());
            for (qsizetype i = 0; i < values.size(); ++i) {
                QCOMPARE(status.transfers[i].peer, values[i]);
                QCOMPARE(status.transfers[i].state, values[i]);
            }
        }
    }

    void sharePaths_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reading"); // paths | path | receiveFolder, "-" for absent

        QTest::newRow("location only") << QByteArray(R"({"mode":"folder","location":{"path":"/Shared"}})")
                                       << "/Shared | /Shared | -";
        QTest::newRow("empty locations hide location")
            << QByteArray(R"({"mode":"drive","location":{"path":"/"},"locations":[]})") << " | / | -";
        QTest::newRow("locations win")
            << QByteArray(R"({"mode":"drive","location":{"path":"/"},"locations":[{"path":"/B"},{"path":"/A"}]})")
            << "/B,/A | / | -";
        QTest::newRow("nothing") << QByteArray(R"({"mode":"none"})") << " | - | -";
        QTest::newRow("receive folder") << QByteArray(R"({"mode":"receive","folder":{"path":"/In"}})") << " | - | /In";
        QTest::newRow("receive without folder") << QByteArray(R"({"mode":"receive"})") << " | - | -";
        QTest::newRow("folder mode with folder") << QByteArray(R"({"mode":"folder","folder":{"path":"/In"}})") << " | - | -";
    }

    void sharePaths()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, reading);
        const Share share = shareOf(json);
        QCOMPARE(share.paths().join(',') + " | " + share.path().value_or("-") + " | " + share.receiveFolder().value_or("-"),
                 reading);
    }

    void shareEquality()
    {
        QCOMPARE(Share::none().mode, QString("none"));
        QVERIFY(Share::none() == shareOf(R"({"mode":"none"})"));
        QVERIFY(Share::none() == shareOf(R"({"mode":"none","location":null,"locations":null,"unknown":1})"));
        QVERIFY(Share::none() != shareOf(R"({"mode":"none","locations":[]})"));
        QVERIFY(Share::none() != shareOf(R"({"mode":"none","access":"read_write"})"));
        QVERIFY(shareOf(R"({"mode":"drive","locations":[{"path":"/a"},{"path":"/b"}]})")
                != shareOf(R"({"mode":"drive","locations":[{"path":"/b"},{"path":"/a"}]})"));
        QVERIFY(shareOf(R"({"mode":"drive","locations":[{"path":"/a"}]})")
                != shareOf(R"({"mode":"drive","location":{"path":"/a"}})"));
        QVERIFY((Share{.mode = "folder", .location = Share::Location{"/x"}, .access = "read_only"})
                == shareOf(R"({"access":"read_only","location":{"path":"/x"},"mode":"folder"})"));
    }

    void events()
    {
        const char *const json = R"({"events": [
            {"sequence": 9223372036854775808, "event": "delivered", "peer": "peer-a1",
             "detail": {"name": "Holiday.mov", "path": "/x", "files": 1, "notification_required": true}, "time": "today"},
            {"sequence": 9223372036854775809, "event": "delivery_failed", "peer": null, "detail": {"error": "Disk full"}}],
          "sequence": 9223372036854775810, "resync_required": false})";
        const EventBatch batch = decode<EventBatch>(json);
        QVERIFY(batch.sequence == 9223372036854775810ull && !batch.resync_required);
        QCOMPARE(batch.events.size(), 2);
        const ServiceEvent &delivered = batch.events[0];
        const ServiceEvent &failed = batch.events[1];
        QCOMPARE(delivered.sequence, 9223372036854775808ull);
        QCOMPARE((QStringList{delivered.event, delivered.peer.value_or(""), delivered.detail.name.value_or(""),
                              failed.detail.error.value_or("")}),
                 (QStringList{"delivered", "peer-a1", "Holiday.mov", "Disk full"}));
        QVERIFY(delivered.detail.files == 1u && delivered.detail.notification_required == true);
        QVERIFY(!failed.peer && !failed.detail.files && !failed.detail.name);

        QCOMPARE(failure<EventBatch>(replaced(json, R"(, "detail": {"error": "Disk full"})", "")), QString("events[1].detail"));
        QCOMPARE(failure<EventBatch>(replaced(json, R"("files": 1)", R"("files": true)")), QString("events[0].detail.files"));
        QCOMPARE(failure<EventBatch>(replaced(json, R"("resync_required": false)", "\"x\": 1")), QString("resync_required"));
        QVERIFY(!decode<std::optional<EventBatch>>("null").has_value());
    }

    void replies()
    {
        // "events" asks for an optional batch: null and missing are both absent.
        for (const char *json : {R"({"ok":true,"result":null})", R"({"ok":true})"}) {
            const Reply<std::optional<EventBatch>> reply = decodeReply<std::optional<EventBatch>>(json);
            QVERIFY(reply.ok && !reply.result);
        }
        const auto batch = decodeReply<std::optional<EventBatch>>(
            R"({"ok":true,"result":{"events":[],"sequence":5,"resync_required":true}})");
        QVERIFY(batch.result && *batch.result && (*batch.result)->resync_required);
        QCOMPARE((*batch.result)->sequence, 5u);

        const QByteArray statusReply = QByteArray(R"({"ok":true,"result":)") + fullJson + "}";
        const Reply<ServiceStatus> status = decodeReply<ServiceStatus>(view(statusReply));
        QVERIFY(status.ok && status.result && !status.error);
        QCOMPARE(status.result->peers.size(), 2);
        QVERIFY(!decodeReply<ServiceStatus>(R"({"ok":false,"error":"busy"})").result);

        // A nested failure fails the whole reply and names its path inside "result".
        try {
            decodeReply<ServiceStatus>(view(replaced(statusReply.constData(), R"(, "ejected": true)", "")));
            QFAIL("decoded");
        } catch (const DecodeError &error) {
            QCOMPARE(error.path(), QString("result.peers[1].ejected"));
        }
    }

    void decodingOnOtherThreads()
    {
        // Each thread has its own parser; decoded values own their texts.
        auto work = [] {
            std::uint64_t sum = 0;
            for (int i = 0; i < 50; ++i)
                sum += decode<ServiceStatus>(fullJson).peers.size();
            return sum;
        };
        auto a = QtConcurrent::run(work);
        auto b = QtConcurrent::run(work);
        const ServiceStatus first = decode<ServiceStatus>(fullJson);
        QCOMPARE(decode<ServiceStatus>(minimalStatus).version, QString("1.0"));
        QCOMPARE(first.peers[1].name, QString::fromUtf8("Studio \"Mac\" \\ 東京"));
        QCOMPARE(a.result() + b.result(), 200u);
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"

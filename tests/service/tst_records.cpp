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

QByteArray jsonText(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string_view view(const QByteArray &bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
}

// Decodes `json` as T and returns the failing key path, or "<decoded>".
template<class T>
QString failingPath(const QByteArray &json)
{
    try {
        decode<T>(view(json));
        return QStringLiteral("<decoded>");
    } catch (const DecodeError &error) {
        return error.path();
    }
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
    void minimalStatusTakesDefaults();
    void optionalKeysNull();
    void fullStatus();
    void connectionIssues();
    void eventSequence_data();
    void eventSequence();
    void badStatus_data();
    void badStatus();
    void errorDescriptionNamesKeyAndProblem();
    void keysInAnyOrder();
    void repeatedKeyKeepsLastValue();
    void objectWithManyKeys();
    void deepNesting();
    void malformedText();
    void longListOfBadElements_data();
    void longListOfBadElements();
    void longListOfGoodElements();
    void recurringTexts();
    void sharePaths_data();
    void sharePaths();
    void shareEquality();
    void events();
    void replies();
    void decodingOnOtherThreads();
};

void TestRecords::minimalStatusTakesDefaults()
{
    const ServiceStatus status = decode<ServiceStatus>(minimalStatus);
    QCOMPARE(status.api_version, 1);
    QCOMPARE(status.version, QString("1.0"));
    QCOMPARE(status.computer_id, QString("id"));
    QCOMPARE(status.name, QString(""));
    QVERIFY(status.capabilities.isEmpty());
    QVERIFY(!status.control_busy);
    QVERIFY(status.connection_issues.isEmpty());
    QVERIFY(status.peers.isEmpty());
    QVERIFY(status.remembered_computers.isEmpty());
    QVERIFY(status.transfers.isEmpty());
    QVERIFY(status.copies.isEmpty());
    QCOMPARE(status.event_sequence, 0u);
    QVERIFY(!status.connectionUpdateRequired());
}

void TestRecords::optionalKeysNull()
{
    const ServiceStatus status = decode<ServiceStatus>(
        R"({"api_version":1,"version":"1.0","computer_id":"id","name":"Mac","capabilities":null,)"
        R"("control_busy":null,"connection_issues":null,"peers":[],"remembered_computers":[],)"
        R"("transfers":null,"copies":null,"event_sequence":12})");
    QVERIFY(status.capabilities.isEmpty());
    QVERIFY(!status.control_busy);
    QVERIFY(status.connection_issues.isEmpty());
    QVERIFY(status.transfers.isEmpty());
    QVERIFY(status.copies.isEmpty());
    QCOMPARE(status.event_sequence, 12u);
}

void TestRecords::fullStatus()
{
    const ServiceStatus status = decode<ServiceStatus>(fullJson);
    QCOMPARE(status.name, QString("Ana’s MacBook Pro"));
    QCOMPARE(status.capabilities, (QStringList{"receive_transfer", "fast_copy", "multi_drive", "dismiss"}));
    QCOMPARE(status.event_sequence, std::numeric_limits<std::uint64_t>::max());
    QCOMPARE(status.peers.size(), 2);

    const Peer &bo = status.peers[0];
    QCOMPARE(bo.id, QString("peer-a1"));
    QCOMPARE(bo.interface_index, 14u);
    QVERIFY(bo.link_speed.has_value());
    QCOMPARE(bo.link_speed->to_peer_bps, 40000000000u);
    QCOMPARE(bo.link_speed->from_peer_bps, 38000000000u);
    QCOMPARE(bo.pairing_code, QString("5KQ2-77"));
    QVERIFY(!bo.choice_required);
    QCOMPARE(bo.sharing.mode, QString("drive"));
    QCOMPARE(bo.sharing.paths(), (QStringList{"/", "/Volumes/Photos"}));
    QCOMPARE(bo.sharing.access, QString("read_write"));
    QVERIFY(bo.remote_receive);
    QVERIFY(bo.remote_share.has_value());
    QCOMPARE(bo.remote_share->label, QString("Bo’s Documents"));
    QVERIFY(bo.remote_share->read_only);
    QCOMPARE(bo.mount, QString("/Volumes/Bo’s Documents"));
    QVERIFY(!bo.ejected);
    QVERIFY(!bo.error.has_value());

    const Peer &studio = status.peers[1];
    QCOMPARE(studio.name, QString::fromUtf8("Studio \"Mac\" \\ 東京"));
    QCOMPARE(studio.interface_index, std::numeric_limits<std::uint32_t>::max());
    QVERIFY(!studio.link_speed.has_value());
    QCOMPARE(studio.pairing_code, QString(""));
    QVERIFY(studio.choice_required);
    QVERIFY(!studio.remote_receive); // null reads as false, and so does a missing key:
    QVERIFY(!decode<ServiceStatus>(view(replaced(fullJson, R"("remote_receive": null, )", ""))).peers[1].remote_receive);
    QVERIFY(!studio.remote_share.has_value());
    QVERIFY(!studio.mount.has_value());
    QVERIFY(studio.ejected);
    QCOMPARE(studio.error, QString("Couldn’t mount the shared folder."));
    QCOMPARE(studio.sharing.receiveFolder(), QString("/Users/ana/Incoming"));

    QCOMPARE(status.remembered_computers.size(), 1);
    QCOMPARE(status.remembered_computers[0].share.path(), QString("/Users/ana/Shared"));
    QCOMPARE(status.remembered_computers[0].share.access, QString("read_only"));

    QCOMPARE(status.transfers.size(), 2);
    const Transfer &sent = status.transfers[0];
    QCOMPARE(sent.state, QString("completed"));
    QCOMPARE(sent.bytes, 39845888u);
    QCOMPARE(sent.delivered_files, 1u);
    QCOMPARE(sent.seconds, 0.42);
    QCOMPARE(sent.skipped, 0u);
    QVERIFY(!sent.error.has_value());
    const Transfer &sending = status.transfers[1];
    QVERIFY(!sending.delivered_files.has_value());
    QVERIFY(!sending.seconds.has_value());
    QVERIFY(!sending.skipped.has_value());

    QCOMPARE(status.copies.size(), 2);
    const CopyJob &done = status.copies[0];
    QCOMPARE(done.destinations, QStringList{"/Users/ana/Downloads/Project"});
    QCOMPARE(done.bits_per_second, 8000000000u);
    QVERIFY(done.scanned);
    QVERIFY(!done.skipped_items.has_value());
    QVERIFY(!done.problem.has_value());
    const CopyJob &copying = status.copies[1];
    QCOMPARE(copying.skipped, 3u);
    QVERIFY(copying.skipped_items.has_value());
    QCOMPARE(copying.skipped_items->size(), 3);
    QCOMPARE(copying.skipped_items->at(2).path, QString("/c"));
    QCOMPARE(copying.skipped_items->at(2).reason, QString("Name too long"));
    QVERIFY(copying.problem.has_value());
    QCOMPARE(copying.problem->reason, QString("Input/output error"));
}

void TestRecords::connectionIssues()
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
    QVERIFY(!other.updateRequired());
    QCOMPARE(other.kind, QString("link_down"));
    QVERIFY(!other.interface_index && !other.peer_protocol && !other.required_protocol && !other.message);

    const ServiceStatus valid = decode<ServiceStatus>(view(replaced(
        fullJson, R"("interface_index": 4294967296, "peer_protocol": -1, "message": 7)",
        R"("interface_index": 3, "peer_protocol": 1, "required_protocol": 2, "message": "x")")));
    QVERIFY(!valid.connection_issues[1].interface_index && !valid.connection_issues[1].message);
    QVERIFY(valid.connectionUpdateRequired());

    // The flag finds an update issue wherever it stands in the list.
    const ServiceStatus last = decode<ServiceStatus>(view(replaced(
        minimalStatus, R"("peers":[])",
        R"("connection_issues":[{"kind":"a"},{"kind":"b"},{"kind":"update_required","interface_index":0,)"
        R"("peer_protocol":0,"required_protocol":0,"message":""}],"peers":[])")));
    QVERIFY(last.connectionUpdateRequired());
    const ServiceStatus none = decode<ServiceStatus>(view(replaced(
        minimalStatus, R"("peers":[])", R"("connection_issues":[{"kind":"Update_Required"}],"peers":[])")));
    QVERIFY(!none.connectionUpdateRequired());
}

void TestRecords::eventSequence_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("decodes");
    QTest::addColumn<quint64>("expected");

    QTest::newRow("zero") << QByteArray("0") << true << quint64(0);
    QTest::newRow("largest signed") << QByteArray("9223372036854775807") << true
                                    << quint64(9223372036854775807ull);
    QTest::newRow("just above signed") << QByteArray("9223372036854775808") << true
                                       << quint64(9223372036854775808ull);
    QTest::newRow("largest") << QByteArray("18446744073709551615") << true
                             << quint64(18446744073709551615ull);
    QTest::newRow("whole with fraction digits") << QByteArray("42.0") << true << quint64(42);
    QTest::newRow("negative") << QByteArray("-1") << false << quint64(0);
    QTest::newRow("fraction") << QByteArray("1.5") << false << quint64(0);
    QTest::newRow("too large") << QByteArray("18446744073709551616") << false << quint64(0);
    QTest::newRow("too large as exponent") << QByteArray("2e19") << false << quint64(0);
    QTest::newRow("text") << QByteArray("\"12\"") << false << quint64(0);
    QTest::newRow("Boolean") << QByteArray("true") << false << quint64(0);
    QTest::newRow("null") << QByteArray("null") << false << quint64(0);
}

void TestRecords::eventSequence()
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

void TestRecords::badStatus_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("path");

    auto row = [](const char *name, const QByteArray &from, const QByteArray &to, const char *path) {
        QTest::newRow(name) << replaced(fullJson, from, to) << QString(path);
    };
    row("unchanged", "", "", "<decoded>");
    row("peers missing", R"("peers": [)", R"("peerz": [)", "peers");
    row("peers null", R"("peers": [)", R"("peers": null, "former_peers": [)", "peers");
    row("api_version text", R"("api_version": 1)", R"("api_version": "1")", "api_version");
    row("api_version beyond signed", R"("api_version": 1)", R"("api_version": 9223372036854775808)",
        "api_version");
    row("capabilities holding a number", R"("fast_copy", "multi_drive")", R"("fast_copy", 2)",
        "capabilities[2]");
    row("capabilities not a list", R"(["receive_transfer", "fast_copy", "multi_drive", "dismiss"])",
        R"("receive_transfer")", "capabilities");
    row("control_busy text", R"("control_busy": false)", R"("control_busy": "no")", "control_busy");
    row("interface_index of 2^32", R"("Bo’s iMac", "interface_index": 14,)", R"("Bo’s iMac", "interface_index": 4294967296,)",
        "peers[0].interface_index");
    row("interface_index negative", R"("interface_index": 4294967295)", R"("interface_index": -3)",
        "peers[1].interface_index");
    row("peer without ejected", R"(, "ejected": true)", "", "peers[1].ejected");
    row("peer with ejected null", R"("ejected": true)", R"("ejected": null)", "peers[1].ejected");
    row("peer null", R"("peers": [)", R"("peers": [null, )", "peers[0]");
    row("share mode missing", R"({"mode": "receive", "folder")", R"({"folder")", "peers[1].sharing.mode");
    row("share mode number", R"({"mode": "receive")", R"({"mode": 3)", "peers[1].sharing.mode");
    row("location path missing", R"({"path": "/Volumes/Photos", "uuid": "x"})", R"({"uuid": "x"})",
        "peers[0].sharing.locations[1].path");
    row("link speed negative", R"("from_peer_bps": 38000000000)", R"("from_peer_bps": -1)",
        "peers[0].link_speed.from_peer_bps");
    row("remote share label missing", R"({"label": "Bo’s Documents", )", "{", "peers[0].remote_share.label");
    row("remote_receive text", R"("remote_receive": true)", R"("remote_receive": "true")",
        "peers[0].remote_receive");
    row("remembered share path", R"({"path": "/Users/ana/Shared"})", R"({"path": 5})",
        "remembered_computers[0].share.location.path");
    row("transfer seconds text", R"("seconds": 0.42)", R"("seconds": "0.42")", "transfers[0].seconds");
    row("transfer bytes fraction", R"("bytes": 1024)", R"("bytes": 1024.5)", "transfers[1].bytes");
    row("deep copy problem", R"({"path": "/c", "reason": "Name too long"})", R"({"path": "/c", "reason": null})",
        "copies[1].skipped_items[2].reason");
    row("copy problem not an object", R"("problem": {"path": "/d", "reason": "Input/output error"})",
        R"("problem": "/d")", "copies[1].problem");
    row("destinations holding null", R"(["/Volumes/Bo/Archive"])", R"(["/Volumes/Bo/Archive", null])",
        "copies[1].destinations[1]");
    row("update without message", R"(,
     "message": "The other Mac needs a newer Corvane.")", "", "connection_issues[0].message");
    row("update with protocol 2^32", R"("peer_protocol": 2)", R"("peer_protocol": 4294967296)",
        "connection_issues[0].peer_protocol");
    row("event_sequence missing", R"("event_sequence": 18446744073709551615)", R"("sequence": 1)",
        "event_sequence");
    row("earliest failing field of a peer", R"("name": "Bo’s iMac", "interface_index": 14,)",
        R"("name": 1, "interface_index": -14,)", "peers[0].name");
}

void TestRecords::badStatus()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, path);
    QCOMPARE(failingPath<ServiceStatus>(json), path);
}

void TestRecords::errorDescriptionNamesKeyAndProblem()
{
    const QByteArray json = replaced(fullJson, R"({"mode": "receive")", R"({"mode": 3)");
    try {
        decode<ServiceStatus>(view(json));
        QFAIL("decoded");
    } catch (const DecodeError &error) {
        QCOMPARE(error.description(), QString("peers[1].sharing.mode: expected a string, found 3"));
    }
    try {
        decode<ServiceStatus>(view(replaced(minimalStatus, R"("event_sequence":0)", R"("event_sequence":-1)")));
        QFAIL("decoded");
    } catch (const DecodeError &error) {
        QCOMPARE(error.description(), QString("event_sequence: -1 is out of range for an unsigned integer"));
    }
    try {
        decode<ServiceStatus>(view(replaced(minimalStatus, R"(,"event_sequence":0)", "")));
        QFAIL("decoded");
    } catch (const DecodeError &error) {
        QCOMPARE(error.description(), QString("event_sequence: required key is missing"));
    }
}

void TestRecords::keysInAnyOrder()
{
    // Keys are judged in the record's order, not the document's.
    QCOMPARE(failingPath<ServiceStatus>(R"({"event_sequence":-1,"remembered_computers":[],"peers":[],"name":"",)"
                                        R"("computer_id":"id","version":1,"api_version":1})"),
             QString("version"));

    // A peer written backwards, with many unknown keys mixed in, reads like one in order.
    const QStringList fields{R"("id":"p1")", R"("name":"Bo")", R"("interface_index":7)",
                             R"("link_speed":{"from_peer_bps":2,"to_peer_bps":1})", R"("pairing_code":"c")",
                             R"("choice_required":true)", R"("sharing":{"folder":{"path":"/in"},"mode":"receive"})",
                             R"("remote_receive":true)", R"("remote_share":{"read_only":false,"label":"L"})",
                             R"("mount":"/m")", R"("ejected":true)", R"("error":"e")"};
    QStringList backwards;
    for (qsizetype i = fields.size() - 1; i >= 0; --i) {
        backwards.append(fields.at(i));
        for (int k = 0; k < 3; ++k)
            backwards.append(QStringLiteral("\"x%1_%2\":[%1,{\"id\":null}]").arg(i).arg(k));
    }
    QCOMPARE(backwards.size(), 48);
    for (const QStringList &order : {fields, backwards}) {
        const QByteArray json = replaced(minimalStatus, R"("peers":[])",
                                         "\"peers\":[{" + order.join(',').toUtf8() + "}]");
        const Peer peer = decode<ServiceStatus>(view(json)).peers.at(0);
        QCOMPARE(peer.id, QString("p1"));
        QCOMPARE(peer.name, QString("Bo"));
        QCOMPARE(peer.interface_index, 7u);
        QVERIFY(peer.link_speed == (LinkSpeed{1, 2}));
        QCOMPARE(peer.pairing_code, QString("c"));
        QVERIFY(peer.choice_required);
        QCOMPARE(peer.sharing.receiveFolder(), QString("/in"));
        QVERIFY(peer.remote_receive);
        QCOMPARE(peer.remote_share->label, QString("L"));
        QVERIFY(!peer.remote_share->read_only);
        QCOMPARE(peer.mount, QString("/m"));
        QVERIFY(peer.ejected);
        QCOMPARE(peer.error, QString("e"));
    }
}

void TestRecords::repeatedKeyKeepsLastValue()
{
    // Whichever order the keys come in, a key written twice reads its last value.
    const QByteArray ordered = replaced(minimalStatus, R"("name":"")", R"("name":"first","name":"last")");
    const QByteArray scattered = replaced(replaced(minimalStatus, R"("name":"")", R"("name":"last")").constData(),
                                          "{", R"({"name":"first",)");
    QCOMPARE(decode<ServiceStatus>(view(ordered)).name, QString("last"));
    QCOMPARE(decode<ServiceStatus>(view(scattered)).name, QString("last"));

    // Also when the earlier value is invalid, and in objects with many keys.
    QString many = R"({"mode":3,)";
    for (int i = 0; i < 40; ++i)
        many += QStringLiteral("\"k%1\":%1,").arg(i);
    many += R"("mode":"none"})";
    const QByteArray status = replaced(minimalStatus, R"("remembered_computers":[])",
                                       R"("remembered_computers":[{"id":"p","name":"n","share":)" + many.toUtf8() + "}]");
    QVERIFY(decode<ServiceStatus>(view(status)).remembered_computers.at(0).share == Share::none());
}

void TestRecords::objectWithManyKeys()
{
    // About a megabyte of unknown keys of one length ahead of the status's own keys:
    // reading it takes milliseconds, so a second is far beyond it (comparing every key
    // with every other one took seconds).
    QByteArray keys;
    for (int i = 0; i < 100000; ++i)
        keys += "\"" + QByteArray::number(100000 + i) + "\":0,";
    const QByteArray json = replaced(minimalStatus, "{", "{" + keys);
    QVERIFY(json.size() > 1000000);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(decode<ServiceStatus>(view(json)).version, QString("1.0"));
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QStringLiteral("%1 ms").arg(timer.elapsed())));
}

void TestRecords::deepNesting()
{
    // Nesting under a key that no record reads is passed over; nesting too deep for
    // the parser fails the document instead of exhausting the stack.
    auto nested = [](int depth) {
        return "\"x\":" + QByteArray(depth, '[') + QByteArray(depth, ']') + ",";
    };
    const QByteArray fine = replaced(minimalStatus, "{", "{" + nested(500));
    QCOMPARE(failingPath<ServiceStatus>(fine), QString("<decoded>"));
    const QByteArray tooDeep = replaced(minimalStatus, "{", "{" + nested(200000));
    QCOMPARE(failingPath<ServiceStatus>(tooDeep), QString(""));
}

void TestRecords::malformedText()
{
    // Text that is not UTF-8, raw or escaped, fails the whole document.
    QCOMPARE(failingPath<ServiceStatus>(replaced(fullJson, "Old Mini", "Old \xC3 Mini")), QString(""));
    QCOMPARE(failingPath<ServiceStatus>(replaced(fullJson, "Old Mini", "Old \xED\xA0\x80 Mini")), QString(""));
    QCOMPARE(failingPath<ServiceStatus>(replaced(fullJson, "Old Mini", "Old \\ud800 Mini")), QString(""));
    QCOMPARE(decode<ServiceStatus>(view(replaced(fullJson, "Old Mini", "Old \\ud83d\\ude80 Mini")))
                 .remembered_computers.at(0).name,
             QString::fromUtf8("Old \xF0\x9F\x9A\x80 Mini"));
}

void TestRecords::longListOfBadElements_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("path");

    // About a megabyte, the largest reply the client takes, of elements that fail at once.
    QByteArray numbers = "1";
    QByteArray objects = "{}";
    while (numbers.size() < 1000000)
        numbers += ",1";
    while (objects.size() < 1000000)
        objects += ",{}";
    QTest::newRow("numbers as peers") << R"("peers":[)" + numbers + "]" << "peers[0]";
    QTest::newRow("empty objects as copies") << R"("peers":[],"copies":[)" + objects + "]" << "copies[0].id";
}

void TestRecords::longListOfBadElements()
{
    QFETCH(QByteArray, list);
    QFETCH(QString, path);

    // The list must fail without first making a record for every element.
    const QByteArray json = replaced(minimalStatus, R"("peers":[])", list);
    if (!resetPeakMemory())
        QSKIP("the peak memory of this process cannot be measured here");
    const long before = peakMemory();
    QCOMPARE(failingPath<ServiceStatus>(json), path);
    const long grownMegabytes = (peakMemory() - before) / 1024;
    QVERIFY2(grownMegabytes < 48, qPrintable(QStringLiteral("grew by %1 MB").arg(grownMegabytes)));
}

void TestRecords::longListOfGoodElements()
{
    // More elements than are made ahead of reading them: every one is read.
    QByteArray capabilities;
    for (int i = 0; i < 60000; ++i)
        capabilities += (i ? ",\"c" : "\"c") + QByteArray::number(i) + "\"";
    const ServiceStatus status = decode<ServiceStatus>(view(
        replaced(minimalStatus, R"("peers":[])", R"("capabilities":[)" + capabilities + R"(],"peers":[])")));
    QCOMPARE(status.capabilities.size(), 60000);
    QCOMPARE(status.capabilities.first(), QString("c0"));
    QCOMPARE(status.capabilities.last(), QString("c59999"));
}

void TestRecords::recurringTexts()
{
    // Short texts that recur are shared between records; each must still read back as
    // written, whatever collides in between (lengths 1 to 64, non-ASCII, empty).
    QStringList values{"", "a", "b", "ab", "ba", "é", "東京", "sending", "sending ", "Sending",
                       QString(62, QLatin1Char('x')), QString(63, QLatin1Char('x')), QString(64, QLatin1Char('x'))};
    for (int i = 0; i < 300; ++i)
        values.append(QStringLiteral("peer-%1").arg(i % 150));
    QByteArray transfers;
    for (const QString &v : values) {
        const QByteArray text = jsonText(v);
        transfers += (transfers.isEmpty() ? "" : ",") + QByteArray(R"({"id":"t","peer":)") + text
            + R"(,"state":)" + text + R"(,"name":"n","bytes":0,"total_bytes":0,"delivered_items":0,"error":)"
            + text + "}";
    }
    for (int round = 0; round < 2; ++round) {
        const ServiceStatus status = decode<ServiceStatus>(
            view(replaced(minimalStatus, R"("event_sequence")", R"("transfers":[)" + transfers + R"(],"event_sequence")")));
        QCOMPARE(status.transfers.size(), values.size());
        for (qsizetype i = 0; i < values.size(); ++i) {
            QCOMPARE(status.transfers[i].peer, values[i]);
            QCOMPARE(status.transfers[i].state, values[i]);
            QCOMPARE(status.transfers[i].error, values[i]);
        }
    }
}

void TestRecords::sharePaths_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("receiveFolder");

    const QString none; // null: absent
    QTest::newRow("location only") << QByteArray(R"({"mode":"folder","location":{"path":"/Users/ana/Shared"}})")
                                   << QStringList{"/Users/ana/Shared"} << QString("/Users/ana/Shared") << none;
    QTest::newRow("empty locations hide location")
        << QByteArray(R"({"mode":"drive","location":{"path":"/"},"locations":[]})") << QStringList{}
        << QString("/") << none;
    QTest::newRow("locations win")
        << QByteArray(R"({"mode":"drive","location":{"path":"/"},"locations":[{"path":"/Volumes/B"},{"path":"/Volumes/A"}]})")
        << QStringList{"/Volumes/B", "/Volumes/A"} << QString("/") << none;
    QTest::newRow("nothing") << QByteArray(R"({"mode":"none"})") << QStringList{} << none << none;
    QTest::newRow("receive folder") << QByteArray(R"({"mode":"receive","folder":{"path":"/Users/ana/In"}})")
                                    << QStringList{} << none << QString("/Users/ana/In");
    QTest::newRow("receive without folder") << QByteArray(R"({"mode":"receive"})") << QStringList{} << none << none;
    QTest::newRow("folder mode with folder")
        << QByteArray(R"({"mode":"folder","folder":{"path":"/Users/ana/In"}})") << QStringList{} << none << none;
}

void TestRecords::sharePaths()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, paths);
    QFETCH(QString, path);
    QFETCH(QString, receiveFolder);

    // Shares arrive inside a remembered computer.
    const QByteArray status = replaced(minimalStatus, R"("remembered_computers":[])",
                                       R"("remembered_computers":[{"id":"p","name":"n","share":)" + json + "}]");
    const Share share = decode<ServiceStatus>(view(status)).remembered_computers.at(0).share;
    QCOMPARE(share.paths(), paths);
    QCOMPARE(share.path().has_value(), !path.isNull());
    if (share.path())
        QCOMPARE(*share.path(), path);
    QCOMPARE(share.receiveFolder().has_value(), !receiveFolder.isNull());
    if (share.receiveFolder())
        QCOMPARE(*share.receiveFolder(), receiveFolder);
}

void TestRecords::shareEquality()
{
    auto shareOf = [](const char *json) {
        const QByteArray status = replaced(minimalStatus, R"("remembered_computers":[])",
                                           QByteArray(R"("remembered_computers":[{"id":"p","name":"n","share":)") + json + "}]");
        return decode<ServiceStatus>(view(status)).remembered_computers.at(0).share;
    };
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
    QVERIFY((LinkSpeed{1, 2}) == (LinkSpeed{1, 2}));
    QVERIFY((LinkSpeed{1, 2}) != (LinkSpeed{2, 1}));
}

void TestRecords::events()
{
    const QByteArray json = R"({
      "events": [
        {"sequence": 9223372036854775808, "event": "delivered", "peer": "peer-a1",
         "detail": {"name": "Holiday.mov", "path": "/Users/ana/Downloads/Holiday.mov", "files": 1,
                    "notification_required": true}, "time": "2026-12-06T10:00:00Z"},
        {"sequence": 9223372036854775809, "event": "delivery_failed", "peer": null,
         "detail": {"error": "Disk full", "files": null}},
        {"sequence": 9223372036854775810, "event": "remembered_action_applied", "detail": {}}
      ],
      "sequence": 9223372036854775810,
      "resync_required": false
    })";
    const EventBatch batch = decode<EventBatch>(view(json));
    QCOMPARE(batch.sequence, 9223372036854775810ull);
    QVERIFY(!batch.resync_required);
    QCOMPARE(batch.events.size(), 3);
    QCOMPARE(batch.events[0].sequence, 9223372036854775808ull);
    QCOMPARE(batch.events[0].peer, QString("peer-a1"));
    QCOMPARE(batch.events[0].detail.name, QString("Holiday.mov"));
    QCOMPARE(batch.events[0].detail.files, 1u);
    QCOMPARE(batch.events[0].detail.notification_required, true);
    QVERIFY(!batch.events[0].detail.error);
    QVERIFY(!batch.events[1].peer);
    QCOMPARE(batch.events[1].detail.error, QString("Disk full"));
    QVERIFY(!batch.events[1].detail.files);
    QVERIFY(!batch.events[2].detail.name && !batch.events[2].detail.path && !batch.events[2].detail.notification_required);

    QCOMPARE(failingPath<EventBatch>(replaced(json.constData(), R"(, "detail": {})", "")), QString("events[2].detail"));
    QCOMPARE(failingPath<EventBatch>(replaced(json.constData(), R"("files": 1)", R"("files": true)")),
             QString("events[0].detail.files"));
    QCOMPARE(failingPath<EventBatch>(replaced(json.constData(), R"("resync_required": false)", "\"x\": 1")),
             QString("resync_required"));
    QCOMPARE(failingPath<EventBatch>(R"({"events":[],"sequence":1,"resync_required":true})"), QString("<decoded>"));
    QVERIFY(!decode<std::optional<EventBatch>>("null").has_value());
}

void TestRecords::replies()
{
    // "events" asks for an optional batch: null and missing are both absent.
    for (const char *json : {R"({"ok":true,"result":null})", R"({"ok":true})"}) {
        const Reply<std::optional<EventBatch>> reply = decodeReply<std::optional<EventBatch>>(json);
        QVERIFY(reply.ok);
        QVERIFY(!reply.result.has_value());
    }
    const auto batch = decodeReply<std::optional<EventBatch>>(
        R"({"ok":true,"result":{"events":[],"sequence":5,"resync_required":true}})");
    QVERIFY(batch.result.has_value() && batch.result->has_value());
    QCOMPARE((*batch.result)->sequence, 5u);
    QVERIFY((*batch.result)->resync_required);

    const QByteArray statusReply = QByteArray(R"({"ok":true,"result":)") + fullJson + "}";
    const Reply<ServiceStatus> status = decodeReply<ServiceStatus>(view(statusReply));
    QVERIFY(status.ok && status.result && !status.error);
    QCOMPARE(status.result->peers.size(), 2);

    // A nested failure fails the whole reply and names its path inside "result".
    const QByteArray broken = replaced(statusReply.constData(), R"(, "ejected": true)", "");
    try {
        decodeReply<ServiceStatus>(view(broken));
        QFAIL("decoded");
    } catch (const DecodeError &error) {
        QCOMPARE(error.path(), QString("result.peers[1].ejected"));
    }
    QVERIFY(!decodeReply<ServiceStatus>(R"({"ok":false,"error":"busy"})").result);
}

void TestRecords::decodingOnOtherThreads()
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
    const ServiceStatus second = decode<ServiceStatus>(minimalStatus);
    QCOMPARE(first.peers[1].name, QString::fromUtf8("Studio \"Mac\" \\ 東京"));
    QCOMPARE(second.version, QString("1.0"));
    QCOMPARE(a.result() + b.result(), 200u);
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"

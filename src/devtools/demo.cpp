#include "devtools/demo.h"

#include "platform/cable_probe.h"
#include "service/decoding.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdint>

namespace cv::Demo {

namespace {

const QString mainState = QStringLiteral("main");
const QString emptyState = QStringLiteral("empty");

// Any twelve hexadecimal digits will do: nothing is ever sent with it.
const QString pairingCode = QStringLiteral("4f7a19c2e08b");

QString repeated(char letter) { return QString(64, QLatin1Char(letter)); }

QJsonObject remembered(const QString &id, const QString &name, const QJsonObject &share)
{
    return {{"id", id}, {"name", name}, {"share", share}};
}

QJsonObject share(const char *mode, const std::optional<QString> &path = std::nullopt, const char *access = nullptr)
{
    QJsonObject object{{"mode", mode}};
    if (path)
        object.insert("location", QJsonObject{{"path", *path}});
    if (access)
        object.insert("access", access);
    return object;
}

struct PeerShape {
    bool choiceRequired = false;
    QJsonObject sharing;
    bool receiveMode = false; // the other side takes files: no remote share
    bool mounted = false;
};

QJsonObject demoPeer(const QString &id, const QString &name, const PeerShape &shape)
{
    QJsonObject peer{
        {"id", id},
        {"name", name},
        {"interface_index", qint64(demoInterfaceIndex)},
        {"link_speed", QJsonObject{{"to_peer_bps", qint64(20'900'000'000)}, {"from_peer_bps", qint64(20'400'000'000)}}},
        {"pairing_code", pairingCode},
        {"choice_required", shape.choiceRequired},
        {"sharing", shape.sharing},
        {"remote_receive", shape.receiveMode},
        {"ejected", false},
    };
    if (!shape.receiveMode)
        peer.insert("remote_share", QJsonObject{{"label", "Projects"}, {"read_only", false}});
    if (shape.mounted)
        peer.insert("mount", "/Volumes/Windows Desktop");
    return peer;
}

} // namespace

const QString &peerID()
{
    static const QString id = repeated('a');
    return id;
}

const QStringList &states()
{
    static const QStringList names{"choose", "connected", "folder",  "main",     "empty",
                                   "receive", "sending",  "copying", "peer-menu"};
    return names;
}

bool isMainWindow(const QString &state) { return state == mainState || state == emptyState; }

QJsonObject statusObject(const QString &state)
{
    const QString home = QDir::homePath();
    const QJsonObject drive = share("drive", QStringLiteral("/"), "read_write");
    const QJsonObject folder = share("folder", home + QStringLiteral("/Projects"), "read_write");
    const QJsonObject readOnlyFolder = share("folder", home + QStringLiteral("/Projects"), "read_only");
    const QJsonObject receive = share("receive");
    const QJsonObject none = share("none");
    const QString desktop = QStringLiteral("Windows Desktop");

    QJsonArray peers;
    QJsonArray rememberedComputers;
    auto connectedWith = [&](const QJsonObject &sharing, const QJsonObject &kept) {
        peers.append(demoPeer(peerID(), desktop, {.sharing = sharing, .mounted = true}));
        rememberedComputers.append(remembered(peerID(), desktop, kept));
    };
    if (state == QLatin1String("choose")) {
        peers.append(demoPeer(peerID(), desktop, {.choiceRequired = true, .sharing = none}));
        rememberedComputers.append(remembered(peerID(), desktop, none));
    } else if (state == QLatin1String("connected") || state == QLatin1String("copying")
               || state == QLatin1String("peer-menu")) {
        connectedWith(drive, drive);
    } else if (state == QLatin1String("folder")) {
        connectedWith(folder, folder);
    } else if (state == mainState) {
        peers.append(demoPeer(repeated('c'), QStringLiteral("Studio Mac"), {.choiceRequired = true, .sharing = none}));
        connectedWith(drive, drive);
        rememberedComputers.append(remembered(repeated('d'), QStringLiteral("Old ThinkPad"), readOnlyFolder));
    } else if (state == emptyState) {
        // Nobody there.
    } else if (state == QLatin1String("receive") || state == QLatin1String("sending")) {
        peers.append(demoPeer(peerID(), desktop, {.sharing = receive, .receiveMode = true}));
    } else {
        peers.append(demoPeer(peerID(), desktop, {.choiceRequired = true, .sharing = none}));
    }

    QJsonArray transfers;
    if (state == QLatin1String("sending")) {
        transfers.append(QJsonObject{{"id", "demo"},
                                     {"peer", peerID()},
                                     {"state", "sending"},
                                     {"name", "Holiday photos"},
                                     {"bytes", qint64(39'845'888)},
                                     {"total_bytes", qint64(104'857'600)},
                                     {"delivered_items", 0}});
    }
    QJsonArray copies;
    if (state == QLatin1String("copying")) {
        copies.append(QJsonObject{{"id", "democopy"},
                                  {"peer", peerID()},
                                  {"direction", "pull"},
                                  {"name", "Holiday photos"},
                                  {"destinations", QJsonArray{home + QStringLiteral("/Downloads/Holiday photos")}},
                                  {"state", "copying"},
                                  {"bytes", qint64(2'700'000'000)},
                                  {"total_bytes", qint64(4'200'000'000)},
                                  {"files", 812},
                                  {"total_files", 1260},
                                  {"scanned", true},
                                  {"bits_per_second", qint64(14'200'000'000)}});
    }

    return {{"api_version", 1},
            {"version", "1.0.0"},
            {"computer_id", repeated('b')},
            {"name", "Mac"},
            {"capabilities", QJsonArray{"receive_transfer", "fast_copy"}},
            {"control_busy", false},
            {"connection_issues", QJsonArray{}},
            {"peers", peers},
            {"remembered_computers", rememberedComputers},
            {"transfers", transfers},
            {"copies", copies},
            {"event_sequence", 0}};
}

ServiceStatus status(const QString &state)
{
    const QByteArray json = QJsonDocument(statusObject(state)).toJson(QJsonDocument::Compact);
    // Built above with every key of the right type, so it always decodes; a failure
    // here is a mistake in this file and is left to end the program loudly.
    return decode<ServiceStatus>(std::string_view(json.constData(), std::size_t(json.size())));
}

} // namespace cv::Demo

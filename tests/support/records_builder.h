#pragma once

// The service's records as it sends them, for every test: statuses, computers,
// shares, transfers, events and reply lines, in JSON of the real shape
// (every required key present), with defaults a test changes by chained calls:
//
//   status({.peers = {peer("p1").named("Studio Mac").mounted("/Volumes/x")},
//           .capabilities = {"fast_copy"}})
//
// and the same records decoded by the application's own decoder.

#include "service/records.h"
#include "service/reply.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstdint>

namespace cv::test {

// A JSON object built up by chained calls that each return a changed copy.
template<class Self>
struct JsonRecord : QJsonObject {
    Self with(const QString &key, const QJsonValue &value) const
    {
        Self copy = static_cast<const Self &>(*this);
        copy.insert(key, value);
        return copy;
    }
};

// This computer's sharing choice for a peer, or a remembered one.
namespace share {
inline QJsonObject none() { return {{"mode", "none"}}; }
inline QJsonObject folder(const QString &path) { return {{"mode", "folder"}, {"location", QJsonObject{{"path", path}}}}; }
inline QJsonObject receive(const QString &folder) { return {{"mode", "receive"}, {"folder", QJsonObject{{"path", folder}}}}; }
// One drive ("location"), or several ("locations") when given a list.
inline QJsonObject drive(const QString &path) { return {{"mode", "drive"}, {"location", QJsonObject{{"path", path}}}}; }
inline QJsonObject drives(const QStringList &paths)
{
    QJsonArray locations;
    for (const QString &path : paths)
        locations.append(QJsonObject{{"path", path}});
    return {{"mode", "drive"}, {"locations", locations}};
}
} // namespace share

// A connected computer: named after its id, on interface 7, sharing nothing with it,
// offering nothing, pairing code "111111".
struct PeerJson : JsonRecord<PeerJson> {
    PeerJson named(const QString &name) const { return with("name", name); }
    PeerJson mounted(const QString &path) const { return with("mount", path); }
    // It accepts files from this computer.
    PeerJson receiving(bool on = true) const { return with("remote_receive", on); }
    // It shares a folder or drive with this computer.
    PeerJson offering(bool readOnly = false) const
    {
        return with("remote_share", QJsonObject{{"label", value("name")}, {"read_only", readOnly}});
    }
    // It waits for this computer's sharing choice.
    PeerJson choosing(const QString &code = QStringLiteral("111111")) const
    {
        return with("choice_required", true).with("pairing_code", code);
    }
    PeerJson sharing(const QJsonObject &choice) const { return with("sharing", choice); }
    PeerJson failed(const QString &error) const { return with("error", error); }
    PeerJson on(std::int64_t interfaceIndex) const { return with("interface_index", qint64(interfaceIndex)); }
    PeerJson linked(std::uint64_t toPeer, std::uint64_t fromPeer) const
    {
        return with("link_speed", QJsonObject{{"to_peer_bps", qint64(toPeer)}, {"from_peer_bps", qint64(fromPeer)}});
    }
};

inline PeerJson peer(const QString &id)
{
    return PeerJson{}
        .with("id", id)
        .with("name", id)
        .with("interface_index", 7)
        .with("pairing_code", "111111")
        .with("choice_required", false)
        .with("sharing", share::none())
        .with("ejected", false);
}

// A remembered computer, named after its id, sharing nothing.
struct RememberedJson : JsonRecord<RememberedJson> {
    RememberedJson named(const QString &name) const { return with("name", name); }
    RememberedJson sharing(const QJsonObject &choice) const { return with("share", choice); }
};

inline RememberedJson remembered(const QString &id)
{
    return RememberedJson{}.with("id", id).with("name", id).with("share", share::none());
}

// A sending of files to `peer`, under way with nothing sent yet.
inline QJsonObject transfer(const QString &id, const QString &peer = QStringLiteral("p1"))
{
    return {{"id", id}, {"peer", peer}, {"state", "sending"}, {"name", "Report.pdf"}, {"bytes", 0}, {"total_bytes", 1000}, {"delivered_items", 0}};
}

// A status of API version 1.
struct StatusSpec {
    QJsonArray peers{};
    QJsonArray remembered{};
    QStringList capabilities{};
    std::uint64_t sequence = 0;
    bool busy = false;
    QJsonArray transfers{};
    QJsonArray copies{};
    std::int64_t api = 1;
};

inline QJsonObject status(const StatusSpec &s = {})
{
    return {{"api_version", qint64(s.api)}, {"version", "1.0.0"}, {"computer_id", "this-computer"},
            {"name", "This Computer"}, {"capabilities", QJsonArray::fromStringList(s.capabilities)},
            {"control_busy", s.busy}, {"peers", s.peers}, {"remembered_computers", s.remembered},
            {"transfers", s.transfers}, {"copies", s.copies}, {"event_sequence", qint64(s.sequence)}};
}

// One event; `peer` null leaves the key out.
inline QJsonObject serviceEvent(const QString &name, const QString &peer = QStringLiteral("p1"), const QJsonObject &detail = {},
                         std::uint64_t sequence = 1)
{
    QJsonObject object{{"sequence", qint64(sequence)}, {"event", name}, {"detail", detail}};
    if (!peer.isNull())
        object.insert("peer", peer);
    return object;
}

// The result of "events".
inline QJsonObject events(const QJsonArray &list, std::uint64_t sequence, bool resyncRequired = false)
{
    return {{"events", list}, {"sequence", qint64(sequence)}, {"resync_required", resyncRequired}};
}

// Reply lines, each with its line feed: a result, an empty result, a refusal.
inline QByteArray reply(const QJsonValue &result = QJsonObject{})
{
    return QJsonDocument(QJsonObject{{"ok", true}, {"result", result}}).toJson(QJsonDocument::Compact) + '\n';
}

inline QByteArray refusal(const QString &error)
{
    return QJsonDocument(QJsonObject{{"ok", false}, {"error", error}}).toJson(QJsonDocument::Compact) + '\n';
}

// The records above through the application's own decoder.
template<class T>
T decoded(const QJsonObject &result)
{
    const QByteArray line = reply(result);
    return *decodeReply<T>(std::string_view(line.constData(), size_t(line.size() - 1))).result;
}

inline ServiceStatus decodedStatus(const QJsonObject &s) { return decoded<ServiceStatus>(s); }
inline ServiceEvent decodedEvent(const QJsonObject &e) { return decoded<EventBatch>(events({e}, 1)).events.at(0); }

} // namespace cv::test

// Decoding of the service records. Keys are read in the order the records list them,
// so the first key that fails is the one reported.

#include "service/json_decoding.h"
#include "service/records.h"

namespace cv::json {

template<>
struct Value<Share::Location> {
    static void read(Element e, Share::Location &out)
    {
        Fields o(e);
        required(o, "path", out.path);
    }
};

template<>
struct Value<Share> {
    static void read(Element e, Share &out)
    {
        Fields o(e);
        required(o, "mode", out.mode, readRepeatedText);
        optional(o, "location", out.location);
        optional(o, "access", out.access, readRepeatedText);
        optional(o, "locations", out.locations);
        optional(o, "folder", out.folder);
    }
};

template<>
struct Value<RemoteShare> {
    static void read(Element e, RemoteShare &out)
    {
        Fields o(e);
        required(o, "label", out.label);
        required(o, "read_only", out.read_only);
    }
};

template<>
struct Value<LinkSpeed> {
    static void read(Element e, LinkSpeed &out)
    {
        Fields o(e);
        required(o, "to_peer_bps", out.to_peer_bps);
        required(o, "from_peer_bps", out.from_peer_bps);
    }
};

template<>
struct Value<Peer> {
    static void read(Element e, Peer &out)
    {
        Fields o(e);
        required(o, "id", out.id);
        required(o, "name", out.name);
        required(o, "interface_index", out.interface_index);
        optional(o, "link_speed", out.link_speed);
        required(o, "pairing_code", out.pairing_code);
        required(o, "choice_required", out.choice_required);
        required(o, "sharing", out.sharing);
        defaulted(o, "remote_receive", out.remote_receive);
        optional(o, "remote_share", out.remote_share);
        optional(o, "mount", out.mount);
        required(o, "ejected", out.ejected);
        optional(o, "error", out.error, readRepeatedText);
    }
};

template<>
struct Value<RememberedPeer> {
    static void read(Element e, RememberedPeer &out)
    {
        Fields o(e);
        required(o, "id", out.id);
        required(o, "name", out.name);
        required(o, "share", out.share);
    }
};

template<>
struct Value<Transfer> {
    static void read(Element e, Transfer &out)
    {
        Fields o(e);
        required(o, "id", out.id);
        required(o, "peer", out.peer, readRepeatedText);
        required(o, "state", out.state, readRepeatedText);
        required(o, "name", out.name);
        required(o, "bytes", out.bytes);
        required(o, "total_bytes", out.total_bytes);
        required(o, "delivered_items", out.delivered_items);
        optional(o, "delivered_files", out.delivered_files);
        optional(o, "error", out.error, readRepeatedText);
        optional(o, "seconds", out.seconds);
        optional(o, "skipped", out.skipped);
    }
};

template<>
struct Value<CopyProblem> {
    static void read(Element e, CopyProblem &out)
    {
        Fields o(e);
        required(o, "path", out.path);
        required(o, "reason", out.reason, readRepeatedText);
    }
};

template<>
struct Value<CopyJob> {
    static void read(Element e, CopyJob &out)
    {
        Fields o(e);
        required(o, "id", out.id);
        required(o, "peer", out.peer, readRepeatedText);
        required(o, "direction", out.direction, readRepeatedText);
        required(o, "name", out.name);
        required(o, "destinations", out.destinations);
        required(o, "state", out.state, readRepeatedText);
        required(o, "bytes", out.bytes);
        required(o, "total_bytes", out.total_bytes);
        required(o, "files", out.files);
        required(o, "total_files", out.total_files);
        required(o, "scanned", out.scanned);
        required(o, "bits_per_second", out.bits_per_second);
        optional(o, "error", out.error, readRepeatedText);
        optional(o, "skipped", out.skipped);
        optional(o, "skipped_items", out.skipped_items);
        optional(o, "problem", out.problem);
    }
};

template<>
struct Value<ConnectionIssue> {
    static void read(Element e, ConnectionIssue &out)
    {
        Fields o(e);
        required(o, "kind", out.kind, readRepeatedText);
        // Other kinds carry nothing this application reads, whatever else the object holds.
        if (!out.updateRequired())
            return;
        required(o, "interface_index", out.interface_index.emplace());
        required(o, "peer_protocol", out.peer_protocol.emplace());
        required(o, "required_protocol", out.required_protocol.emplace());
        required(o, "message", out.message.emplace());
    }
};

template<>
struct Value<ServiceStatus> {
    static void read(Element e, ServiceStatus &out)
    {
        Fields o(e);
        required(o, "api_version", out.api_version);
        required(o, "version", out.version);
        required(o, "computer_id", out.computer_id);
        required(o, "name", out.name);
        defaulted(o, "capabilities", out.capabilities);
        defaulted(o, "control_busy", out.control_busy);
        defaulted(o, "connection_issues", out.connection_issues);
        required(o, "peers", out.peers);
        required(o, "remembered_computers", out.remembered_computers);
        defaulted(o, "transfers", out.transfers);
        defaulted(o, "copies", out.copies);
        required(o, "event_sequence", out.event_sequence);
    }
};

template<>
struct Value<ServiceEvent::Detail> {
    static void read(Element e, ServiceEvent::Detail &out)
    {
        Fields o(e);
        optional(o, "name", out.name);
        optional(o, "path", out.path);
        optional(o, "error", out.error, readRepeatedText);
        optional(o, "files", out.files);
        optional(o, "notification_required", out.notification_required);
    }
};

template<>
struct Value<ServiceEvent> {
    static void read(Element e, ServiceEvent &out)
    {
        Fields o(e);
        required(o, "sequence", out.sequence);
        required(o, "event", out.event, readRepeatedText);
        optional(o, "peer", out.peer);
        required(o, "detail", out.detail);
    }
};

template<>
struct Value<EventBatch> {
    static void read(Element e, EventBatch &out)
    {
        Fields o(e);
        required(o, "events", out.events);
        required(o, "sequence", out.sequence);
        required(o, "resync_required", out.resync_required);
    }
};

} // namespace cv::json

namespace cv {

template ServiceStatus decode<ServiceStatus>(std::string_view);
template EventBatch decode<EventBatch>(std::string_view);
template std::optional<EventBatch> decode<std::optional<EventBatch>>(std::string_view);
template Reply<ServiceStatus> decodeReply<ServiceStatus>(std::string_view);
template Reply<EventBatch> decodeReply<EventBatch>(std::string_view);
template Reply<std::optional<EventBatch>> decodeReply<std::optional<EventBatch>>(std::string_view);

} // namespace cv

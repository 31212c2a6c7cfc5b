#pragma once

// The service's status and events as the application reads them. Records are only
// decoded (see decoding.h), never encoded; field names are the service's JSON keys.
// A field that may be missing is std::optional unless its default is an empty list
// or false, which are held as plain values.

#include "service/decoding.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace cv {

// A sharing choice: this computer's share for one peer, or a remembered choice.
struct Share {
    // One absolute path on this computer.
    struct Location {
        // No default member initialiser: with one, clang cannot default-construct a
        // Location until Share is complete, and the decoder's optional::emplace needs to.
        QString path;

        bool operator==(const Location &) const = default;
    };

    QString mode{}; // "drive", "folder", "receive" or "none"
    std::optional<Location> location{}; // the one shared drive or folder
    std::optional<QString> access{}; // "read_only"; anything else is writable
    std::optional<QList<Location>> locations{}; // several drives; absent differs from empty
    std::optional<Location> folder{}; // where received files go, in "receive" mode

    // Field by field; an absent field equals only an absent one.
    bool operator==(const Share &) const = default;

    // Mode "none" and nothing else.
    static Share none();

    // The path of `location`.
    std::optional<QString> path() const;
    // Every path of `locations` when present (possibly none), else the path of
    // `location` when present, else none.
    QStringList paths() const;
    // The path of `folder` in "receive" mode only.
    std::optional<QString> receiveFolder() const;

    // Display texts.
    bool readOnly() const;
    QString receiveFolderName() const;
    QString target() const;
    QString summary() const;
};

// What the other computer shares with this one.
struct RemoteShare {
    QString label{};
    bool read_only = false;
};

// Link rates in bits per second.
struct LinkSpeed {
    std::uint64_t to_peer_bps = 0;
    std::uint64_t from_peer_bps = 0;

    bool operator==(const LinkSpeed &) const = default;

    // The slower direction.
    QString summary() const;
    // Both directions.
    QString detail() const;
    static QString format(std::uint64_t bitsPerSecond);
};

// A computer connected now; identified by `id`.
struct Peer {
    QString id{};
    QString name{};
    std::uint32_t interface_index = 0;
    std::optional<LinkSpeed> link_speed{};
    QString pairing_code{}; // opaque; sent back with "choose", never shown
    bool choice_required = false;
    Share sharing{};
    bool remote_receive = false;
    std::optional<RemoteShare> remote_share{};
    std::optional<QString> mount{};
    bool ejected = false;
    std::optional<QString> error{};
};

// A computer whose sharing choice the service keeps; identified by `id`.
struct RememberedPeer {
    QString id{};
    QString name{};
    Share share{};
};

// One sending of files to another computer; identified by `id`.
struct Transfer {
    QString id{};
    QString peer{};
    QString state{}; // "preparing", "sending", "verifying", "reconciling", "completed", "cancelled", "failed"
    QString name{};
    std::uint64_t bytes = 0;
    std::uint64_t total_bytes = 0;
    std::uint64_t delivered_items = 0;
    std::optional<std::uint64_t> delivered_files{};
    std::optional<QString> error{};
    std::optional<double> seconds{};
    std::optional<std::uint64_t> skipped{};

    // Display texts.
    bool active() const;
    QString summary() const;
    std::optional<QString> result() const;
};

// One item a copy could not read, with the service's message.
struct CopyProblem {
    QString path{};
    QString reason{};
};

// One copy between this computer and another; identified by `id`.
struct CopyJob {
    QString id{};
    QString peer{};
    QString direction{}; // "pull": to this computer; anything else: to the other one
    QString name{};
    QStringList destinations{};
    QString state{}; // "copying", "done", "cancelled", "failed"
    std::uint64_t bytes = 0;
    std::uint64_t total_bytes = 0;
    std::uint64_t files = 0;
    std::uint64_t total_files = 0;
    bool scanned = false;
    std::uint64_t bits_per_second = 0;
    std::optional<QString> error{};
    std::optional<std::uint64_t> skipped{};
    std::optional<QList<CopyProblem>> skipped_items{};
    std::optional<CopyProblem> problem{}; // waits for the user's decision

    // Display texts.
    bool active() const;
    bool pulled() const;
    QString summary() const;
    QString skippedNote() const;
    QString speed() const;
    std::optional<QString> result() const;
    std::optional<QString> skippedList() const;
    std::optional<QString> problemText() const;
};

// A cable connection that cannot be used. The four optional fields are read only
// for "update_required".
struct ConnectionIssue {
    QString kind{};
    std::optional<std::uint32_t> interface_index{};
    std::optional<std::uint32_t> peer_protocol{};
    std::optional<std::uint32_t> required_protocol{};
    std::optional<QString> message{};

    bool updateRequired() const;
};

// The result of "status": the service's whole state.
struct ServiceStatus {
    std::int64_t api_version = 0;
    QString version{};
    QString computer_id{};
    QString name{};
    QStringList capabilities{};
    bool control_busy = false;
    QList<ConnectionIssue> connection_issues{};
    QList<Peer> peers{};
    QList<RememberedPeer> remembered_computers{};
    QList<Transfer> transfers{};
    QList<CopyJob> copies{};
    std::uint64_t event_sequence = 0;

    bool connectionUpdateRequired() const;
};

// One numbered event.
struct ServiceEvent {
    struct Detail {
        std::optional<QString> name{};
        std::optional<QString> path{};
        std::optional<QString> error{};
        std::optional<std::uint64_t> files{};
        std::optional<bool> notification_required{};
    };

    std::uint64_t sequence = 0;
    QString event{}; // "remembered_action_applied", "delivered", "delivery_failed", ...
    std::optional<QString> peer{};
    Detail detail{};
};

// The result of "events": the events after the requested cursor.
struct EventBatch {
    QList<ServiceEvent> events{};
    std::uint64_t sequence = 0; // the cursor for the next request
    bool resync_required = false;
};

// The sentence alone when the note is empty, else both through "{sentence} {note}".
QString sentence(const QString &sentence, const QString &note);
// The result line of a finished send or copy: size, time and speed.
QString transferResult(std::uint64_t bytes, std::uint64_t files, double seconds);

} // namespace cv

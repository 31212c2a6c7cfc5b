#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace cv {

// One request to the service. Only `op` is required; a field left absent is not
// sent at all. Built with designated initialisers, e.g.
//   Command{.op = "eject", .peer = peerId}
struct Command {
    QString op{};
    std::optional<QString> peer{};
    std::optional<std::uint64_t> since{};
    std::optional<QString> mode{};
    std::optional<QString> path{};
    std::optional<bool> read_only{};
    std::optional<bool> remember{};
    std::optional<QString> pairing_code{};
    std::optional<QString> id{};
    std::optional<QStringList> paths{};
    std::optional<QStringList> sources{};
    std::optional<QString> destination{};
    std::optional<QStringList> ids{};
    std::optional<QString> decision{};

    // One flat JSON object in UTF-8, without a line feed: "op" first, then every
    // present field in the order above. Absent fields are left out, never null.
    QByteArray encode() const;

    bool operator==(const Command &) const = default;
};

} // namespace cv

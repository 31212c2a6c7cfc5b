#pragma once

#include <QStringList>

#include <optional>

namespace cv {

// The event sequence to replay from: the value after the first "--events-since" in
// the process arguments, when it is an unsigned 64-bit decimal number (an optional
// "+", then digits only, no overflow; a "-" only before zero). A missing or
// unparsable value gives none; a later "--events-since" is not looked at.
std::optional<quint64> eventsSince(const QStringList &arguments);

// "--demo" or "--render" is among the process arguments: a development mode, which
// never touches the service.
bool developmentLaunch(const QStringList &arguments);

} // namespace cv

#pragma once

// The spellings the window tests were first written with, on top of the shared
// record builder and model fixture.

#include "model_fixture.h"

#include <QJsonDocument>

namespace cv::test {

// A connected computer with what it offers this one.
inline QJsonObject offeringPeer(const QString &id, const QString &name, bool remoteReceive,
                                const std::optional<QString> &mount = std::nullopt,
                                std::optional<bool> remoteReadOnly = std::nullopt)
{
    auto made = peer(id).named(name).receiving(remoteReceive);
    if (mount)
        made = made.mounted(*mount);
    if (remoteReadOnly)
        made = made.offering(*remoteReadOnly);
    return made;
}

inline void installStatus(AppModel &model, const QJsonObject &status) { install(model, status); }

// The op of a request line.
inline QString opOf(const QByteArray &line)
{
    return QJsonDocument::fromJson(line).object().value(QStringLiteral("op")).toString();
}

} // namespace cv::test

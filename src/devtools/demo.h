#pragma once

#include "service/records.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace cv::Demo {

// Made-up service states, shown without a service: "--demo NAME" shows one, and the
// reference rendering goes through all of them.

// The id of the demo computer "Windows Desktop": 64 letters "a".
const QString &peerID();
// The state names, in the order of reference rendering.
const QStringList &states();
// "main" and "empty" are shown in the main window; every other name in the demo
// computer's window.
bool isMainWindow(const QString &state);

// The status of a state as the service would send it. Any other name gives the
// "choose" computer without a remembered one.
QJsonObject statusObject(const QString &state);
// statusObject(state) decoded the way a status reply is. Never fails.
ServiceStatus status(const QString &state);

} // namespace cv::Demo

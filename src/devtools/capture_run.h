#pragma once

#include "devtools/development_host.h"

#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <QCoroTask>

namespace cv {

// The development capture run, driven by the environment. Once the model holds a
// status and CV_MAC_CAPTURE_DIR is an absolute folder, it waits 3 s, then writes
// each window's geometry into "view-geometry.txt" in that folder, captures each
// window into PNG files there (falling back to the window's renderer), and may add
// the variants (CV_MAC_CAPTURE_VARIANTS=1), close the windows
// (CV_MAC_CLOSE_WINDOWS_AFTER_CAPTURE=1) or quit (CV_MAC_QUIT_AFTER_CAPTURE=1).
// CV_MAC_CAPTURE_OPEN_PEERS=1 opens every connected computer's window first, and
// CV_MAC_CAPTURE_ONLY ("peer" or "main") hides the other kind of window.
// Every text here is an English development text.

// Called at every state change the model reports: starts the one run of the
// process when the conditions above hold, else does nothing.
void scheduleDevelopmentCapture(const DevelopmentHost &host);

// The run itself on the folder `directory`.
QCoro::Task<> developmentCaptureRun(DevelopmentHost host, QString directory);

// The window in light and dark, at its frame and at its minimum size (then also
// scrolled to the bottom where content overflows), each picture written into
// `directory`; the window is put back as it was afterwards: appearance, geometry,
// scroll positions and its height fitting. Never throws; returns the report lines.
QCoro::Task<QStringList> captureDevelopmentVariants(DevelopmentHost host, QPointer<QWidget> window, QString name,
                                                    QString directory);

// Scrolls every overflowing scroll area of the window's root view to its bottom,
// captures the window into "NAME-bottom-window.png" and scrolls them back. Never
// throws; returns the report lines.
QCoro::Task<QStringList> captureDevelopmentScrollBottom(DevelopmentHost host, QPointer<QWidget> window, QString name,
                                                        QString directory);

// The report's forms of a rectangle "{{x, y}, {w, h}}" and a size "{w, h}".
QString rectText(const QRect &rect);
QString sizeText(const QSize &size);
// A widget's class name without namespaces.
QString typeName(const QWidget *widget);

} // namespace cv

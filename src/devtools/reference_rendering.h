#pragma once

#include "devtools/development_host.h"

#include <QString>

#include <QCoroTask>

namespace cv {

// Before the application object exists: a "--render" launch always draws on the
// offscreen platform, where a window taller than the screen is drawn whole.
void prepareDevelopmentProcess(int argc, char **argv);

// Renders every demo state, light then dark, into "corvane-STATE-APPEARANCE.png" in
// `directory` (made when missing; relative to the working directory), printing
// "Captured PATH: WxH" for each picture written and one error line on standard
// error for each that failed. Then closes the windows and leaves the event loop
// with status 0, standard output flushed.
QCoro::Task<> renderReference(DevelopmentHost host, QString directory);

} // namespace cv

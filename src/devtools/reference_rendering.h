#pragma once

#include "devtools/development_host.h"

#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <optional>

namespace cv {

// The two development launch options, as the launch sequence reads them: "--render"
// [folder] wins over "--demo" [state]; each takes the argument after its first
// occurrence unchanged (even one that begins with "--"), else "reference" or
// "choose".
struct DevelopmentLaunch {
    enum class Mode { render, demo };
    Mode mode;
    QString argument;
};
std::optional<DevelopmentLaunch> developmentLaunch(const QStringList &arguments);

// Before the application object exists: a "--render" launch always draws on the
// offscreen platform, where a window taller than the screen is drawn whole.
void prepareDevelopmentProcess(int argc, char **argv);

// Starts what the development options among `arguments` ask for: the reference
// rendering, or the demo state in its window. False when there is neither; true
// when the launch must end here, without the service.
bool startDevelopmentLaunch(const DevelopmentHost &host, const QStringList &arguments);

// Renders every demo state, light then dark, into "corvane-STATE-APPEARANCE.png" in
// `directory` (made when missing; relative to the working directory), printing
// "Captured PATH: WxH" for each picture written and one error line on standard
// error for each that failed. Then closes the windows and leaves the event loop
// with status 0, standard output flushed.
QCoro::Task<> renderReference(DevelopmentHost host, QString directory);

} // namespace cv

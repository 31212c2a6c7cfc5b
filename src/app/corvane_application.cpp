#include "app/corvane_application.h"

#include "app/app_delegate.h"
#include "devtools/reference_rendering.h"
#include "platform/app_bundle.h"
#include "platform/app_runtime.h"
#include "platform/autostart_entry.h"
#include "platform/development_log.h"
#include "platform/single_instance.h"
#include "views/theme.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace cv {

namespace {

// "--demo" and "--render" run beside anything else; so does every process when the
// session has no bus.
bool runsOnItsOwn(const QStringList &arguments)
{
    return arguments.contains(QStringLiteral("--demo")) || arguments.contains(QStringLiteral("--render"));
}

} // namespace

int CorvaneApplication::main(int argc, char **argv)
{
    // Read (and cleared, so no child inherits it) before any other thread runs.
    launchedByAutostartEntry();
    // A reference rendering always draws offscreen, whatever the session offers.
    prepareDevelopmentProcess(argc, argv);
    QApplication app(argc, argv);
    // Closing the last window never quits: idle leaving is the only automatic exit.
    QApplication::setQuitOnLastWindowClosed(AppDelegate::applicationShouldTerminateAfterLastWindowClosed());
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    const QStringList arguments = QApplication::arguments();

    // One copy per user session: a second plain launch reopens the first and ends, or
    // waits for a first that is quitting to end and carries on in its place.
    std::unique_ptr<SingleInstance> instance;
    if (!runsOnItsOwn(arguments)) {
        const QString identifier = AppBundle::main().bundleIdentifier().value_or(QStringLiteral("app.corvane.Corvane"));
        instance = std::make_unique<SingleInstance>(SingleInstance::busName(identifier));
        switch (instance->claim()) {
        case SingleInstance::Claim::reopened:
            return 0;
        case SingleInstance::Claim::unanswered:
            std::fprintf(stderr, "Corvane is already running but does not answer.\n");
            return 1;
        case SingleInstance::Claim::quitting:
            std::fprintf(stderr, "Corvane is still quitting; start it again once it has ended.\n");
            return 1;
        case SingleInstance::Claim::owner:
        case SingleInstance::Claim::standalone:
            break;
        }
    }

    // The look before the first window. A reference rendering draws each appearance
    // in turn and must not follow the desktop meanwhile.
    Theme::install(app, !arguments.contains(QStringLiteral("--render")));

    AppRuntime runtime;
    runtime.setActivationPolicy(ActivationPolicy::accessory);
    auto delegate = std::make_unique<AppDelegate>(runtime);
    runtime.setDelegate(delegate.get());
    runtime.installSignalHandlers();
    if (instance) {
        QObject::connect(instance.get(), &SingleInstance::reopenRequested, &runtime, [&runtime] {
            developmentLog(QStringLiteral("second launch: reopening"));
            runtime.reopen();
        });
        // From the termination's start until the process ends, a later launch waits
        // for this one to end instead of reopening it.
        QObject::connect(&runtime, &AppRuntime::quittingChanged, instance.get(), &SingleInstance::setQuitting);
    }

    QTimer::singleShot(0, delegate.get(), [&delegate, arguments] { delegate->applicationDidFinishLaunching(arguments); });
    QApplication::exec();
    runtime.setDelegate(nullptr);
    delegate.reset();
    return 0;
}

} // namespace cv

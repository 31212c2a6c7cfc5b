#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace cv {

// The system's service manager tool ("launchctl"): runs the given verbs on one
// service target. Linux has no such tool; its implementation reports that it
// cannot be launched.
class Launchctl {
public:
    struct Result {
        int status = 0;    // the exit status (0 without capture: it is not awaited)
        QByteArray output; // standard output (empty without capture)
    };

    virtual ~Launchctl() = default;

    // Runs the tool with `verbs` followed by `target` as its last argument, standard
    // error discarded. With `capture`, reads its standard output to the end and waits
    // for it to exit; without, returns right after the launch. Throws PlatformError
    // when the tool cannot be launched.
    virtual Result run(const QStringList &verbs, const QString &target, bool capture) = 0;

    static Launchctl &system();
};

} // namespace cv

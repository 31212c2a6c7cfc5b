#pragma once

#include <QString>

namespace cv {

// The development trace: only while CV_MAC_CAPTURE_DIR is present in the environment
// (any value), writes to standard error one line
//   "Development lifecycle pid=<pid> wall=<seconds since 1970> <text>"
// with a single write, so lines of several threads or processes never interleave.
// Does nothing otherwise; never fails the caller.
void developmentLog(const QString &text);

// The line developmentLog writes for `text` at `wallSeconds`, without checking the
// environment; `wall=` is the shortest plain decimal that reads back as the same
// number (never an exponent).
QByteArray developmentLine(qint64 pid, double wallSeconds, const QString &text);

} // namespace cv

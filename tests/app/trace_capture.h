#pragma once

// Standard error of this process while the object lives, with the development trace
// on (or off). Header only.

#include <QByteArray>
#include <QTemporaryFile>

#include <unistd.h>

namespace cv::test {

class TraceCapture {
public:
    explicit TraceCapture(bool tracing = true)
    {
        tracing ? void(qputenv("CV_MAC_CAPTURE_DIR", "/tmp")) : void(qunsetenv("CV_MAC_CAPTURE_DIR"));
        file_.open();
        saved_ = ::dup(STDERR_FILENO);
        ::dup2(file_.handle(), STDERR_FILENO);
    }
    ~TraceCapture() { written(); }

    // Everything written so far; ends the capture.
    QByteArray written()
    {
        if (saved_ >= 0) {
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
            saved_ = -1;
            qunsetenv("CV_MAC_CAPTURE_DIR");
        }
        file_.seek(0);
        return file_.readAll();
    }
    // The texts of the trace lines, without "Development lifecycle pid=… wall=… ".
    QStringList texts()
    {
        QStringList list;
        for (const QByteArray &line : written().split('\n'))
            if (line.startsWith("Development lifecycle pid="))
                list << QString::fromUtf8(line.mid(line.indexOf(' ', line.indexOf("wall=")) + 1));
        return list;
    }

private:
    QTemporaryFile file_;
    int saved_ = -1;
};

} // namespace cv::test

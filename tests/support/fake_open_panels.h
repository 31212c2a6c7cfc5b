#pragma once

#include "platform/open_panels.h"

#include <QList>
#include <QObject>
#include <QUrl>

#include <QCoroSignal>
#include <QCoroTask>

#include <functional>
#include <optional>

namespace cv::test {

// Open panels that are recorded instead of shown. Each answers `answer` (none: the
// user cancelled), or what `respond` makes of the panel when it is set: at once, or
// while `hold` is set only when the test calls close(), so that things can happen
// while a panel is open.
class FakeOpenPanels final : public QObject, public OpenPanels {
    Q_OBJECT
public:
    QCoro::Task<std::optional<QList<QUrl>>> run(OpenPanel panel) override
    {
        shown << panel;
        if (hold) {
            ++open;
            co_await qCoro(this, &FakeOpenPanels::closing);
            --open;
        }
        co_return respond ? respond(panel) : answer;
    }

    // Answers every panel that is open.
    void close() { emit closing(); }

    QList<OpenPanel> shown;
    std::optional<QList<QUrl>> answer;
    std::function<std::optional<QList<QUrl>>(const OpenPanel &)> respond;
    bool hold = false;
    int open = 0; // held panels not answered yet

signals:
    void closing();
};

} // namespace cv::test

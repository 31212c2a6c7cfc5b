#pragma once

#include "platform/open_panels.h"

#include <QList>
#include <QUrl>

#include <functional>
#include <optional>

namespace cv::test {

// Open panels that are recorded instead of shown. Each run answers `answer` (none:
// the user cancelled), or what `respond` makes of the panel when it is set.
class FakeOpenPanels final : public OpenPanels {
public:
    std::optional<QList<QUrl>> run(const OpenPanel &panel) override
    {
        shown << panel;
        if (respond)
            return respond(panel);
        return answer;
    }

    QList<OpenPanel> shown;
    std::optional<QList<QUrl>> answer;
    std::function<std::optional<QList<QUrl>>(const OpenPanel &)> respond;
};

} // namespace cv::test

#pragma once

#include "platform/cable_probe.h"

#include <QSet>

#include <atomic>
#include <mutex>

namespace cv::test {

// A cable probe answering what a test sets; counts its probes. Index rules as the
// real probes: the demo index is a cable link, 0 never is.
class FakeCableProbe final : public CableProbe {
public:
    bool isThunderbolt(std::uint32_t interfaceIndex) const override;
    bool plugged() override;
    std::optional<QString> networkingKind() override;

    void setPlugged(bool plugged);
    void setKind(std::optional<QString> kind);
    void setThunderboltIndexes(QSet<std::uint32_t> indexes);

    int pluggedProbes() const { return pluggedProbes_; }
    int kindProbes() const { return kindProbes_; }

private:
    mutable std::mutex mutex_;
    bool plugged_ = false;
    std::optional<QString> kind_;
    QSet<std::uint32_t> thunderboltIndexes_;
    std::atomic<int> pluggedProbes_{0};
    std::atomic<int> kindProbes_{0};
};

} // namespace cv::test

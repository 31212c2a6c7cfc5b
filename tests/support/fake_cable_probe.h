#pragma once

#include "platform/cable_probe.h"

#include <QSet>

#include <atomic>
#include <mutex>

namespace cv::test {

// A cable probe answering what a test sets (probes may run on other threads); counts
// its probes. Index rules as the real probes: the demo index is a cable link, 0 never is.
class FakeCableProbe final : public CableProbe {
public:
    bool isThunderbolt(std::uint32_t index) const override
    {
        const std::lock_guard lock(mutex_);
        return index == demoInterfaceIndex || (index != 0 && thunderboltIndexes_.contains(index));
    }
    bool plugged() override { return ++pluggedProbes_, plugged_.load(); }
    std::optional<QString> networkingKind() override
    {
        ++kindProbes_;
        const std::lock_guard lock(mutex_);
        return kind_;
    }
    void setPlugged(bool plugged) { plugged_ = plugged; }
    void setKind(std::optional<QString> kind) { const std::lock_guard lock(mutex_); kind_ = std::move(kind); }
    void setThunderboltIndexes(QSet<std::uint32_t> indexes) 
    {
        const std::lock_guard lock(mutex_);
        thunderboltIndexes_ = std::move(indexes);
    }
    int pluggedProbes() const { return pluggedProbes_; }
    int kindProbes() const { return kindProbes_; }

private:
    mutable std::mutex mutex_;
    std::atomic<bool> plugged_ = false;
    std::optional<QString> kind_;
    QSet<std::uint32_t> thunderboltIndexes_;
    std::atomic<int> pluggedProbes_{0}, kindProbes_{0};
};

} // namespace cv::test

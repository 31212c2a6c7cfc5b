#include "fake_cable_probe.h"

namespace cv::test {

bool FakeCableProbe::isThunderbolt(std::uint32_t interfaceIndex) const
{
    if (interfaceIndex == demoInterfaceIndex)
        return true;
    if (interfaceIndex == 0)
        return false;
    const std::lock_guard lock(mutex_);
    return thunderboltIndexes_.contains(interfaceIndex);
}

bool FakeCableProbe::plugged()
{
    ++pluggedProbes_;
    const std::lock_guard lock(mutex_);
    return plugged_;
}

std::optional<QString> FakeCableProbe::networkingKind()
{
    ++kindProbes_;
    const std::lock_guard lock(mutex_);
    return kind_;
}

void FakeCableProbe::setPlugged(bool plugged)
{
    const std::lock_guard lock(mutex_);
    plugged_ = plugged;
}

void FakeCableProbe::setKind(std::optional<QString> kind)
{
    const std::lock_guard lock(mutex_);
    kind_ = std::move(kind);
}

void FakeCableProbe::setThunderboltIndexes(QSet<std::uint32_t> indexes)
{
    const std::lock_guard lock(mutex_);
    thunderboltIndexes_ = std::move(indexes);
}

} // namespace cv::test

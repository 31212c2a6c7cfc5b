#include "fake_user_defaults.h"

namespace cv::test {

std::optional<QVariant> FakeUserDefaults::value(const QString &key) const
{
    const auto it = stored_.constFind(key);
    if (it == stored_.constEnd())
        return std::nullopt;
    return QVariant(*it);
}

void FakeUserDefaults::setString(const QString &key, const QString &value)
{
    stored_.insert(key, value);
    writes_.append(QStringLiteral("set %1=%2").arg(key, value));
}

void FakeUserDefaults::remove(const QString &key)
{
    stored_.remove(key);
    writes_.append(QStringLiteral("remove %1").arg(key));
}

} // namespace cv::test

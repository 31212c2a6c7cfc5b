#include "fake_user_defaults.h"

namespace cv::test {

std::optional<QVariant> FakeUserDefaults::value(const QString &key) const
{
    const auto it = stored_.constFind(key);
    if (it == stored_.constEnd())
        return std::nullopt;
    return QVariant(*it);
}

bool FakeUserDefaults::isBool(const QString &key) const
{
    const auto stored = value(key);
    return stored && isBoolValue(*stored);
}

bool FakeUserDefaults::boolValue(const QString &key) const
{
    return isBool(key) && stored_.value(key) == QLatin1String("true");
}

std::optional<QString> FakeUserDefaults::string(const QString &key) const
{
    const auto it = stored_.constFind(key);
    if (it == stored_.constEnd())
        return std::nullopt;
    return *it;
}

void FakeUserDefaults::setBool(const QString &key, bool value)
{
    setString(key, value ? QStringLiteral("true") : QStringLiteral("false"));
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

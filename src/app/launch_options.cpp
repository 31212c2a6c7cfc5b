#include "app/launch_options.h"

#include <limits>

namespace cv {

namespace {

std::optional<quint64> unsignedDecimal(QStringView text)
{
    bool negative = false;
    if (text.startsWith(QLatin1Char('+')) || text.startsWith(QLatin1Char('-'))) {
        negative = text.front() == QLatin1Char('-');
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    constexpr quint64 largest = std::numeric_limits<quint64>::max();
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        const auto digit = quint64(c.unicode() - '0');
        if (value > (largest - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (negative && value != 0)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<quint64> eventsSince(const QStringList &arguments)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--events-since"));
    if (at < 0 || at + 1 >= arguments.size())
        return std::nullopt;
    return unsignedDecimal(arguments.at(at + 1));
}

bool developmentLaunch(const QStringList &arguments)
{
    return arguments.contains(QStringLiteral("--demo")) || arguments.contains(QStringLiteral("--render"));
}

} // namespace cv

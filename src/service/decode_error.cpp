#include "service/decode_error.h"

namespace cv {

DecodeError::DecodeError(QString problem) : problem_(std::move(problem)) {}

QString DecodeError::path() const
{
    QString result;
    for (auto it = reversed_.rbegin(); it != reversed_.rend(); ++it) {
        if (!result.isEmpty() && !it->starts_with('['))
            result.append(QLatin1Char('.'));
        result.append(QString::fromStdString(*it));
    }
    return result;
}

QString DecodeError::description() const
{
    const QString where = path();
    return where.isEmpty() ? problem_ : where + QStringLiteral(": ") + problem_;
}

const char *DecodeError::what() const noexcept
{
    what_ = description().toStdString();
    return what_.c_str();
}

void DecodeError::prependKey(std::string_view key) { reversed_.emplace_back(key); }

void DecodeError::prependIndex(std::size_t index)
{
    reversed_.push_back('[' + std::to_string(index) + ']');
}

} // namespace cv

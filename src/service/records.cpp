#include "service/records.h"

namespace cv {

Share Share::none() { return Share{.mode = QStringLiteral("none")}; }

std::optional<QString> Share::path() const
{
    if (location)
        return location->path;
    return std::nullopt;
}

QStringList Share::paths() const
{
    QStringList result;
    if (locations) {
        result.reserve(locations->size());
        for (const Location &l : *locations)
            result.append(l.path);
    } else if (location) {
        result.append(location->path);
    }
    return result;
}

std::optional<QString> Share::receiveFolder() const
{
    if (mode == QLatin1String("receive") && folder)
        return folder->path;
    return std::nullopt;
}

bool ConnectionIssue::updateRequired() const { return kind == QLatin1String("update_required"); }

bool ServiceStatus::connectionUpdateRequired() const
{
    for (const ConnectionIssue &issue : connection_issues) {
        if (issue.updateRequired())
            return true;
    }
    return false;
}

} // namespace cv

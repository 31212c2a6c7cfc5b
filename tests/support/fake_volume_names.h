#pragma once

#include "platform/volume_names.h"

#include <QDir>
#include <QMap>
#include <QString>

namespace cv::test {

// Volume names for tests: while one exists, `VolumeNames::current()` is this one.
// Paths listed in `labels` are volume roots with that label; every other path is
// named by its last component, as on the system.
class FakeVolumeNames final : public VolumeNames {
public:
    FakeVolumeNames() { VolumeNames::substitute(this); }
    ~FakeVolumeNames() override { VolumeNames::substitute(nullptr); }
    FakeVolumeNames(const FakeVolumeNames &) = delete;
    FakeVolumeNames &operator=(const FakeVolumeNames &) = delete;

    QString startup = QStringLiteral("Macintosh HD");
    QMap<QString, QString> labels;

    QString startupName() const override { return startup; }

protected:
    std::optional<QString> volumeLabel(const QString &path) const override
    {
        const auto it = labels.constFind(QDir::cleanPath(path));
        if (it == labels.constEnd())
            return std::nullopt;
        return *it;
    }
};

} // namespace cv::test

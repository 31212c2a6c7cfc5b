#pragma once

#include "platform/user_defaults.h"

#include <QMap>
#include <QStringList>

namespace cv::test {

// Settings held in memory, with the same Bool rule as the real ones: a Bool is
// stored as the text "true" or "false", so setString("true") reads back as a Bool,
// as it does from the settings file. Counts every write so a test can check that
// reading wrote nothing.
class FakeUserDefaults final : public UserDefaults {
public:
    FakeUserDefaults() = default;
    // Starts with these stored texts (no write is counted for them).
    explicit FakeUserDefaults(QMap<QString, QString> stored) : stored_(std::move(stored)) {}

    std::optional<QVariant> value(const QString &key) const override
    {
        return stored_.contains(key) ? std::optional(QVariant(stored_[key])) : std::nullopt;
    }
    void setString(const QString &key, const QString &value) override
    {
        stored_.insert(key, value);
        writes_ << QStringLiteral("set %1=%2").arg(key, value);
    }
    void remove(const QString &key) override
    {
        stored_.remove(key);
        writes_ << QStringLiteral("remove ") + key;
    }

    const QMap<QString, QString> &stored() const { return stored_; }
    // Every set or remove, in order, as "set key=text" or "remove key".
    const QStringList &writes() const { return writes_; }

private:
    QMap<QString, QString> stored_;
    QStringList writes_;
};

} // namespace cv::test

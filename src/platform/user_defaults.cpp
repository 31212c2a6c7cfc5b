#include "platform/user_defaults.h"

#include <QSettings>

namespace cv {

namespace {

const QString kTrue = QStringLiteral("true");
const QString kFalse = QStringLiteral("false");

// The Bool rule applied to a stored value.
bool isBoolValue(const QVariant &stored)
{
    // Only text counts: a value QSettings read back as a list or a typed variant is
    // not a Bool even when it would convert to one.
    if (stored.typeId() != QMetaType::QString)
        return false;
    const QString text = stored.toString();
    return text == kTrue || text == kFalse;
}

} // namespace

bool UserDefaults::isBool(const QString &key) const
{
    const auto stored = value(key);
    return stored && isBoolValue(*stored);
}

bool UserDefaults::boolValue(const QString &key) const
{
    const auto stored = value(key);
    return stored && isBoolValue(*stored) && stored->toString() == kTrue;
}

std::optional<QString> UserDefaults::string(const QString &key) const
{
    const auto stored = value(key);
    if (!stored || stored->typeId() != QMetaType::QString)
        return std::nullopt;
    return stored->toString();
}

void UserDefaults::setBool(const QString &key, bool value)
{
    setString(key, value ? kTrue : kFalse);
}

UserDefaults &UserDefaults::standard()
{
    static SettingsUserDefaults defaults;
    return defaults;
}

SettingsUserDefaults::SettingsUserDefaults()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, folderName(),
                                            QStringLiteral("Corvane")))
{
}

SettingsUserDefaults::SettingsUserDefaults(const QString &path)
    : settings_(std::make_unique<QSettings>(path, QSettings::NativeFormat))
{
}

SettingsUserDefaults::~SettingsUserDefaults() = default;

QString SettingsUserDefaults::folderName() { return QStringLiteral("Corvane"); }

QString SettingsUserDefaults::fileName() const { return settings_->fileName(); }

std::optional<QVariant> SettingsUserDefaults::value(const QString &key) const
{
    if (!settings_->contains(key))
        return std::nullopt;
    return settings_->value(key);
}

void SettingsUserDefaults::setString(const QString &key, const QString &value)
{
    settings_->setValue(key, value);
    settings_->sync();
}

void SettingsUserDefaults::remove(const QString &key)
{
    settings_->remove(key);
    settings_->sync();
}

} // namespace cv

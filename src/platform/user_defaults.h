#pragma once

#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

class QSettings;

namespace cv {

// The user's settings: a flat table of keys to stored text. Reading never writes;
// only the setters and remove() change what is stored.
//
// A stored value is a Bool only when its stored text is exactly "true" or "false";
// "yes", "1" or "TRUE" are text, not Bools.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    // The stored value of `key`, none when the key is absent.
    virtual std::optional<QVariant> value(const QString &key) const = 0;
    virtual void setString(const QString &key, const QString &value) = 0;
    virtual void remove(const QString &key) = 0;

    // The rules below are the same for every store.

    // True when `key` holds a Bool (see above).
    bool isBool(const QString &key) const;
    // The Bool under `key`; false when absent or not a Bool.
    bool boolValue(const QString &key) const;
    // The text under `key`; none when absent or not text.
    std::optional<QString> string(const QString &key) const;
    // Stored as the text itself, so the value reads back the same way before and
    // after the store is written out.
    void setBool(const QString &key, bool value);

    // The process-wide settings of the application (main thread only).
    static UserDefaults &standard();
};

// The settings file of the application through QSettings in the native format: the
// organisation and application names are both "Corvane", so the file lives at
// $XDG_CONFIG_HOME/Corvane/Corvane.conf (~/.config when the variable is unset).
// Each set is written out at once.
class SettingsUserDefaults final : public UserDefaults {
public:
    SettingsUserDefaults();
    // Settings kept in the file at `path` instead (same format).
    explicit SettingsUserDefaults(const QString &path);
    ~SettingsUserDefaults() override;

    // The name of the folder the settings file is in (the organisation's name), which
    // other per-user folders of the application take too.
    static QString folderName();

    // The file the settings are stored in (it exists only once something was set).
    QString fileName() const;

    std::optional<QVariant> value(const QString &key) const override;
    void setString(const QString &key, const QString &value) override;
    void remove(const QString &key) override;

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace cv

#pragma once

#include <QMap>
#include <QString>

#include <optional>

namespace cv {

// Where the application runs from and what it knows about itself: the Linux stand-in
// for the application bundle. The application is "packaged" when it runs from an
// installed prefix (<prefix>/bin/corvane beside <prefix>/share/corvane/); a build
// tree is not packaged.
class AppBundle {
public:
    // `executablePath` is the running program; `info` the information keys.
    AppBundle(QString executablePath, QMap<QString, QString> info);

    // The running process's bundle: the information keys every build carries, and
    // "CVServiceAgentPlist" naming the login agent's unit file.
    static const AppBundle &main();

    // The information keys every build carries (without the login agent's).
    static QMap<QString, QString> defaultInfo();

    QString executablePath() const { return executablePath_; }
    QString executableFolder() const;

    bool packaged() const;

    // The installed data folder (<prefix>/share/corvane) when packaged, else none.
    std::optional<QString> resourcesFolder() const;

    // A resource file `name`.`extension` in `subdirectory` of the installed data
    // folder, when the file exists.
    std::optional<QString> resource(const QString &name, const QString &extension,
                                    const QString &subdirectory = {}) const;

    // An information key ("CFBundleShortVersionString", "CVServiceAgentPlist", ...).
    std::optional<QString> info(const QString &key) const;

    std::optional<QString> bundleIdentifier() const { return info(QStringLiteral("CFBundleIdentifier")); }
    QString version() const { return info(QStringLiteral("CFBundleShortVersionString")).value_or(QString()); }

private:
    QString executablePath_;
    QMap<QString, QString> info_;
};

} // namespace cv

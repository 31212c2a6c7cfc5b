#include "platform/app_bundle.h"

#include <QDir>
#include <QFileInfo>

namespace cv {

namespace {

QString runningExecutable()
{
    // /proc/self/exe works before any Qt application object exists.
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return exe.isEmpty() ? QString() : QFileInfo(exe).canonicalFilePath();
}

} // namespace

AppBundle::AppBundle(QString executablePath, QMap<QString, QString> info)
    : executablePath_(std::move(executablePath)), info_(std::move(info))
{
}

const AppBundle &AppBundle::main()
{
    static const AppBundle bundle(runningExecutable(), [] {
        QMap<QString, QString> info = defaultInfo();
        // The login agent's unit file, installed under systemd/ in the data folder.
        info.insert(QStringLiteral("CVServiceAgentPlist"), QStringLiteral(CV_SERVICE_UNIT));
        return info;
    }());
    return bundle;
}

QMap<QString, QString> AppBundle::defaultInfo()
{
    return {
        {QStringLiteral("CFBundleShortVersionString"), QStringLiteral(CV_VERSION)},
        {QStringLiteral("CFBundleIdentifier"), QStringLiteral("app.corvane.Corvane")},
        {QStringLiteral("CFBundleName"), QStringLiteral("Corvane")},
    };
}

QString AppBundle::executableFolder() const
{
    if (executablePath_.isEmpty())
        return {};
    return QFileInfo(executablePath_).absolutePath();
}

bool AppBundle::packaged() const
{
    if (executablePath_.isEmpty())
        return false;
    const QFileInfo exe(executablePath_);
    if (exe.fileName() != QLatin1String("corvane"))
        return false;
    QDir bin = exe.absoluteDir();
    if (bin.dirName() != QLatin1String(CV_BINDIR))
        return false;
    QDir prefix = bin;
    if (!prefix.cdUp())
        return false;
    return QFileInfo(prefix.filePath(QStringLiteral(CV_DATA_SUBDIR))).isDir();
}

std::optional<QString> AppBundle::resourcesFolder() const
{
    if (!packaged())
        return std::nullopt;
    QDir prefix = QFileInfo(executablePath_).absoluteDir();
    prefix.cdUp();
    return QDir::cleanPath(prefix.filePath(QStringLiteral(CV_DATA_SUBDIR)));
}

std::optional<QString> AppBundle::resource(const QString &name, const QString &extension,
                                           const QString &subdirectory) const
{
    const auto folder = resourcesFolder();
    if (!folder)
        return std::nullopt;
    QString path = *folder;
    if (!subdirectory.isEmpty())
        path += QLatin1Char('/') + subdirectory;
    path += QLatin1Char('/') + name;
    if (!extension.isEmpty())
        path += QLatin1Char('.') + extension;
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    return path;
}

std::optional<QString> AppBundle::info(const QString &key) const
{
    const auto it = info_.constFind(key);
    if (it == info_.constEnd())
        return std::nullopt;
    return *it;
}

} // namespace cv

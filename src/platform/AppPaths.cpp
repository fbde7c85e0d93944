#include "platform/AppPaths.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace orvanta {

namespace {

QString withoutTrailingSlash(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

bool usableBase(const QString& base, const QString& folderName) {
    const QString folder = base + QLatin1Char('/') + folderName;
    QFileInfo info(folder);
    if (info.isDir())
        return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
    return ::access(QFile::encodeName(base).constData(), W_OK | X_OK) == 0;
}

} // namespace

QString userAppDataFolder() {
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return withoutTrailingSlash(xdg);
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty())
        return {};
    return withoutTrailingSlash(home) + QStringLiteral("/.local/share");
}

QString commonAppDataFolder(const QString& folderName) {
    const QString env = qEnvironmentVariable("ORVANTA_APPDATA");
    if (!env.isEmpty())
        return withoutTrailingSlash(QDir(env).absolutePath());
    if (usableBase(QStringLiteral("/var/lib"), folderName))
        return QStringLiteral("/var/lib");
    return userAppDataFolder();
}

QString programFilePath() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

} // namespace orvanta

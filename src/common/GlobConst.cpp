#include "common/GlobConst.h"

#include "platform/AppPaths.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFileInfo>

QString DataFolder;
QString IniFileName;

QString GetAppDataFolder(bool Common) {
    const QString base =
        Common ? orvanta::commonAppDataFolder(kDataFolderName) : orvanta::userAppDataFolder();
    if (base.isEmpty())
        return {};
    if (!QDir().mkpath(base))
        return {};
    return base;
}

QString IniNameForProgram(const QString& programFile) {
    const QString name = QFileInfo(programFile).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    return stem + QStringLiteral(".ini");
}

TInitResult InitGlobConst(const QString& programFile) {
    DataFolder.clear();
    IniFileName.clear();
    const QString base = GetAppDataFolder(true);
    if (base.isEmpty())
        return TInitResult::NoBase;
    DataFolder = base + QLatin1Char('/') + kDataFolderName + QLatin1Char('/');
    if (!QDir().mkpath(DataFolder))
        return TInitResult::CannotCreate; // DataFolder kept for the message; caller clears it
    const QString program = programFile.isEmpty() ? orvanta::programFilePath() : programFile;
    IniFileName = DataFolder + IniNameForProgram(program);
    return TInitResult::Ok;
}

bool DeleteFolderTree(const QString& Path, bool Recursive) {
    return orvanta::removeFolderTree(Path, Recursive);
}

bool GetFileVersion(const QString& FileName, int& Major, int& Minor, int& Release, int& Build) {
    Major = Minor = Release = Build = 0;
    const QString self = orvanta::programFilePath();
    if (self.isEmpty() || QFileInfo(FileName).canonicalFilePath() != self)
        return false;
    Major = ORVANTA_VERSION_MAJOR;
    Minor = ORVANTA_VERSION_MINOR;
    Release = ORVANTA_VERSION_PATCH;
    Build = ORVANTA_VERSION_TWEAK;
    return true;
}

QString GetAppVersionString() {
    int major = 0, minor = 0, release = 0, build = 0;
    GetFileVersion(orvanta::programFilePath(), major, minor, release, build);
    return QStringLiteral("%1.%2.%3 build %4").arg(major).arg(minor).arg(release).arg(build);
}

void ExtractToken(QString& S, const QString& Delimiters, bool SkipTrailing, QString& Token) {
    Token.clear();
    qsizetype i = 0;
    const qsizetype n = S.size();
    while (i < n && Delimiters.contains(S.at(i)))
        ++i;
    const qsizetype start = i;
    while (i < n && !Delimiters.contains(S.at(i)))
        ++i;
    Token = S.mid(start, i - start);
    if (SkipTrailing)
        while (i < n && Delimiters.contains(S.at(i)))
            ++i;
    S.remove(0, i);
}

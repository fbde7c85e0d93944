#include "core/VersionUtils.h"

#include "common/FormatSettings.h"
#include "common/GlobConst.h"

void TVersion::Zero() {
    Major = Minor = Version = Build = -1;
}

bool TVersion::IsZero() const {
    return Major == -1 && Minor == -1 && Version == -1 && Build == -1;
}

bool TVersion::Equal(const TVersion& v) const {
    return Major == v.Major && Minor == v.Minor && Version == v.Version && Build == v.Build;
}

bool TVersion::NewerThan(const TVersion& v) const {
    const int mine[] = {Major, Minor, Version, Build};
    const int theirs[] = {v.Major, v.Minor, v.Version, v.Build};
    for (int i = 0; i < 4; ++i)
        if (mine[i] != theirs[i])
            return mine[i] > theirs[i];
    return false;
}

bool TVersion::ParseStr(const QString& s) {
    Zero();
    QString rest = s;
    int* fields[] = {&Major, &Minor, &Version, &Build};
    for (int* field : fields) {
        QString token;
        ExtractToken(rest, QStringLiteral("."), false, token);
        int value = -1;
        if (!TryStrToInt(token, value))
            value = -1;
        *field = value;
    }
    return !IsZero();
}

QString TVersion::VersionStr() const {
    return QStringLiteral("%1.%2.%3.%4").arg(Major).arg(Minor).arg(Version).arg(Build);
}

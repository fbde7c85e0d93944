#include "ui/AlertSettings.h"

#include "core/IniFile.h"

#include <algorithm>

namespace {

const QString kSection = QStringLiteral("Alerts");

} // namespace

TAlertSettings LoadAlertSettings(const QString& iniFileName) {
    const TIniFile ini(iniFileName);
    const TAlertSettings defaults;
    TAlertSettings s;
    s.Sound = ini.ReadBool(kSection, QStringLiteral("Sound"), defaults.Sound);
    s.RepeatSeconds = std::clamp(
        ini.ReadInteger(kSection, QStringLiteral("RepeatSeconds"), defaults.RepeatSeconds), 0,
        TAlertSettings::kMaxRepeatSeconds);
    s.Notify = ini.ReadBool(kSection, QStringLiteral("Notify"), defaults.Notify);
    s.OfflineAlertSeconds =
        std::clamp(ini.ReadInteger(kSection, QStringLiteral("OfflineAlertSeconds"),
                                   defaults.OfflineAlertSeconds),
                   0, TAlertSettings::kMaxOfflineAlertSeconds);
    return s;
}

void SaveAlertSettings(const TAlertSettings& s, const QString& iniFileName) {
    TIniFile ini(iniFileName);
    ini.WriteBool(kSection, QStringLiteral("Sound"), s.Sound);
    ini.WriteInteger(kSection, QStringLiteral("RepeatSeconds"), s.RepeatSeconds);
    ini.WriteBool(kSection, QStringLiteral("Notify"), s.Notify);
    ini.WriteInteger(kSection, QStringLiteral("OfflineAlertSeconds"), s.OfflineAlertSeconds);
    ini.UpdateFile();
}

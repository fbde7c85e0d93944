#include "board/DashboardSettings.h"

#include "core/IniFile.h"

TDashboardSettings DashboardSettings;

namespace {

const QString kBoardSection = QStringLiteral("DashBoard");
const QString kColorSection = QStringLiteral("Colors");

struct ColorKey {
    const char* key;
    TColor TDashboardSettings::*field;
};

// In the order the file lists them.
const ColorKey kColorKeys[] = {
    {"CellFrame", &TDashboardSettings::CellFrame},
    {"EmptyB", &TDashboardSettings::EmptyB},
    {"EmptyF", &TDashboardSettings::EmptyF},
    {"IdleB", &TDashboardSettings::IdleB},
    {"IdleF", &TDashboardSettings::IdleF},
    {"BusyB", &TDashboardSettings::BusyB},
    {"BusyF", &TDashboardSettings::BusyF},
    {"OrdFinishB", &TDashboardSettings::OrdFinishB},
    {"OrdFinishF", &TDashboardSettings::OrdFinishF},
    {"DiscB", &TDashboardSettings::DiscB},
    {"DiscF", &TDashboardSettings::DiscF},
    {"OffB", &TDashboardSettings::OffB},
    {"OffF", &TDashboardSettings::OffF},
};

} // namespace

void LoadDashboardSettings(const QString& iniFileName) {
    const TIniFile ini(iniFileName);
    const TDashboardSettings defaults;
    TDashboardSettings s;
    s.ShowOnStartup =
        ini.ReadBool(kBoardSection, QStringLiteral("ShowOnStartup"), defaults.ShowOnStartup);
    s.Fullscreen = ini.ReadBool(kBoardSection, QStringLiteral("Fullscreen"), defaults.Fullscreen);
    s.Monitor = ini.ReadInteger(kBoardSection, QStringLiteral("Monitor"), defaults.Monitor);
    for (const ColorKey& c : kColorKeys)
        s.*c.field = ini.ReadInteger(kColorSection, QString::fromLatin1(c.key), defaults.*c.field);
    DashboardSettings = s;
}

void SaveDashboardSettings(const QString& iniFileName) {
    TIniFile ini(iniFileName);
    const TDashboardSettings& s = DashboardSettings;
    ini.WriteBool(kBoardSection, QStringLiteral("ShowOnStartup"), s.ShowOnStartup);
    ini.WriteBool(kBoardSection, QStringLiteral("Fullscreen"), s.Fullscreen);
    ini.WriteInteger(kBoardSection, QStringLiteral("Monitor"), s.Monitor);
    for (const ColorKey& c : kColorKeys)
        ini.WriteInteger(kColorSection, QString::fromLatin1(c.key), s.*c.field);
    ini.UpdateFile();
}

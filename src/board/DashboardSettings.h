#pragma once

#include <QString>

#include <cstdint>

// A colour as the settings store it: red in the lowest byte, then green, then blue, the
// top byte 0. A value whose top byte is all ones names a system colour by the index in
// its lowest byte and is resolved against the current palette when drawn.
using TColor = std::int32_t;

constexpr TColor RGBColor(int red, int green, int blue) {
    return TColor((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}

// System colour number index (0 scroll bar .. 30 menu bar) as a stored colour.
constexpr TColor SystemColor(int index) {
    return TColor(std::uint32_t(0xFF000000u) | std::uint32_t(index & 0xFF));
}

constexpr bool IsSystemColor(TColor color) {
    return (std::uint32_t(color) & 0xFF000000u) == 0xFF000000u;
}

// The board's placement and colours; process-wide, main thread only.
struct TDashboardSettings {
    bool ShowOnStartup = false;
    bool Fullscreen = false;
    int Monitor = 0; // 0-based in QGuiApplication::screens() order; -1 for none

    TColor CellFrame = RGBColor(128, 128, 128);
    TColor EmptyB = RGBColor(255, 255, 255);
    TColor EmptyF = RGBColor(255, 255, 255);
    TColor IdleB = RGBColor(0, 128, 0);
    TColor IdleF = RGBColor(255, 255, 255);
    TColor BusyB = RGBColor(0, 0, 255);
    TColor BusyF = RGBColor(255, 255, 255);
    TColor OrdFinishB = RGBColor(255, 255, 0);
    TColor OrdFinishF = RGBColor(0, 0, 0);
    TColor DiscB = RGBColor(255, 0, 0);
    TColor DiscF = RGBColor(0, 0, 0);
    TColor OffB = RGBColor(192, 192, 192);
    TColor OffF = RGBColor(0, 0, 0);

    bool operator==(const TDashboardSettings&) const = default;
};

extern TDashboardSettings DashboardSettings;

// Reads sections "DashBoard" and "Colors"; a missing key keeps its built-in default.
void LoadDashboardSettings(const QString& iniFileName);
// Writes all sixteen keys and saves the file; throws orvanta::Exception when the file
// cannot be written (the file on disk is then unchanged).
void SaveDashboardSettings(const QString& iniFileName);

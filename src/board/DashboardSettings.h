#pragma once

#include "common/Color.h"

#include <QString>

#include <cstdint>

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

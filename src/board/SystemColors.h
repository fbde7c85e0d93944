#pragma once

#include "board/DashboardSettings.h"

#include <QColor>
#include <QPalette>
#include <QString>

// The Windows system colour numbers the settings may name, and the palette role that
// stands in for each on this desktop.
struct TSystemColorInfo {
    int index;               // COLOR_* number, 0 .. 30
    const char* identName;   // the Windows name, "clBtnFace"
    const char* displayName; // what the operator reads, UTF-8
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// Every known system colour, in index order (number 25 has no colour and is missing).
const TSystemColorInfo* SystemColorTable(int* count);
const TSystemColorInfo* FindSystemColor(int index);

// The colour to draw with: a plain colour as it is, a system colour through the palette
// (the application's when none is given). An unknown system index gives black, as the
// system does for a number it does not know.
QColor ColorToQColor(TColor color, const QPalette& palette);
QColor ColorToQColor(TColor color);

// The stored form of a drawn colour (never a system colour).
TColor QColorToColor(const QColor& color);

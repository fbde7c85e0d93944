#pragma once

#include <QString>

// How the console calls the operator: section "Alerts" of the configuration file.
struct TAlertSettings {
    static constexpr int kMaxRepeatSeconds = 3600;
    static constexpr int kMaxOfflineAlertSeconds = 86400;

    bool Sound = true;            // a short sound with every order reminder
    int RepeatSeconds = 20;       // reminder period while an order waits; 0 = once
    bool Notify = true;           // desktop notifications (or the tray's message)
    int OfflineAlertSeconds = 60; // a kiosk silent this long is reported; 0 = never

    bool operator==(const TAlertSettings&) const = default;
};

// Reads section "Alerts"; a missing key keeps its default, a number out of range is
// brought into it (a hand-edited -5 means "once", not a timer gone wild).
TAlertSettings LoadAlertSettings(const QString& iniFileName);
// Writes the four keys and saves the file; throws orvanta::Exception when the file
// cannot be written (the file on disk is then unchanged).
void SaveAlertSettings(const TAlertSettings& settings, const QString& iniFileName);

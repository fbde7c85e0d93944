#pragma once

#include <QString>

namespace orvanta {

// The machine-wide application-data base: $ORVANTA_APPDATA when set; else /var/lib when
// <base>/<folderName> there exists and is writable or can be created; else the per-user
// folder. Empty when none can be had. No trailing slash.
QString commonAppDataFolder(const QString& folderName);

// $XDG_DATA_HOME, default ~/.local/share; empty without a home folder.
QString userAppDataFolder();

// Absolute path of the running program file (/proc/self/exe).
QString programFilePath();

} // namespace orvanta

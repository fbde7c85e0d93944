#pragma once

#include <QString>

// Process-wide paths, set once by InitGlobConst before any window exists.
extern QString DataFolder;  // ends with "/"; empty when no data folder could be had
extern QString IniFileName; // DataFolder + program file name with ".ini"

inline const QString kDataFolderName = QStringLiteral("Selvane");
inline const QString kApplicationTitle = QStringLiteral("Удаленное управление Orvanta");

// What process initialisation found; main.cpp shows the box for CannotCreate.
enum class TInitResult { Ok, NoBase, CannotCreate };

// Fixes DataFolder and IniFileName. programFile defaults to the running program.
TInitResult InitGlobConst(const QString& programFile = {});

// The folder for common (machine) or per-user data; created when missing. Empty when
// the system cannot supply one.
QString GetAppDataFolder(bool Common);

// "Console" gives "Console.ini", "Console.exe" gives "Console.ini".
QString IniNameForProgram(const QString& programFile);

// Deletes every entry of Path (hidden and read-only ones too) and, with Recursive,
// every subfolder; then the folder itself. A symbolic link is removed, never followed.
bool DeleteFolderTree(const QString& Path, bool Recursive);

// The version compiled into the program. False, and zeros, for any other file.
bool GetFileVersion(const QString& FileName, int& Major, int& Minor, int& Release, int& Build);
QString GetAppVersionString();

// Cuts the first token off S: delimiters before it are skipped, the token runs to the
// next delimiter; with SkipTrailing the delimiters after it are removed too.
void ExtractToken(QString& S, const QString& Delimiters, bool SkipTrailing, QString& Token);

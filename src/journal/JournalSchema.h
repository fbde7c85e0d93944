#pragma once

#include <QString>
#include <QStringList>

class QSqlDatabase;

// The journal file's tables. A file says its version in PRAGMA user_version; a new file
// is made with the first version's script and brought forward by the same migrations
// an old file goes through, so every file of a given version has the same shape
// whatever its age.
class JournalSchema {
public:
    static constexpr int kCurrentVersion = 3;

    // The first version exactly as it was shipped. Never edit it: files made by it exist.
    static QStringList version1();
    // The statements that take a file from version - 1 to version.
    static QStringList migrationTo(int version);
    // The steps that set where a file made at madeMs (since 1970) starts numbering.
    static QStringList firstNumbers(qint64 madeMs);

    // Brings the file of db to kCurrentVersion in one transaction. False, with the
    // reason in error, when a statement fails or the file is newer than this program.
    static bool upgrade(QSqlDatabase& db, QString& error);
    static int version(QSqlDatabase& db);
};

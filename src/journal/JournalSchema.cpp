#include "journal/JournalSchema.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

// Times are milliseconds since 1970 UTC: they sort and compare as numbers, and a change
// of the machine's time zone does not move a single row.
QStringList JournalSchema::version1() {
    return {
        QStringLiteral("CREATE TABLE orders ("
                       " id INTEGER PRIMARY KEY,"
                       " kiosk TEXT NOT NULL,"
                       " address TEXT NOT NULL,"
                       " opened INTEGER NOT NULL,"
                       " sum REAL NOT NULL,"
                       " order_name TEXT NOT NULL,"
                       " invoice TEXT NOT NULL,"
                       " document TEXT NOT NULL,"
                       " decision TEXT NOT NULL,"
                       " decided INTEGER,"
                       " wait_s REAL)"),
        QStringLiteral("CREATE TABLE prints ("
                       " id INTEGER PRIMARY KEY,"
                       " order_id INTEGER NOT NULL REFERENCES orders(id) ON DELETE CASCADE,"
                       " at INTEGER NOT NULL,"
                       " printer_type INTEGER NOT NULL,"
                       " connection TEXT NOT NULL,"
                       " printed INTEGER NOT NULL,"
                       " outcome TEXT NOT NULL)"),
        QStringLiteral("CREATE TABLE events ("
                       " id INTEGER PRIMARY KEY,"
                       " at INTEGER NOT NULL,"
                       " kiosk TEXT NOT NULL,"
                       " kind TEXT NOT NULL,"
                       " text TEXT NOT NULL)"),
    };
}

QStringList JournalSchema::migrationTo(int version) {
    switch (version) {
    case 2:
        // Version 2: the console that took the order (several consoles may share a
        // kiosk fleet), and the indexes the period lists, the pruning and the print
        // counts read by; without them every page scans the whole file.
        return {
            QStringLiteral("ALTER TABLE orders ADD COLUMN console TEXT NOT NULL DEFAULT ''"),
            QStringLiteral("CREATE INDEX orders_opened ON orders(opened, id)"),
            QStringLiteral("CREATE INDEX prints_order ON prints(order_id)"),
            QStringLiteral("CREATE INDEX events_at ON events(at)"),
        };
    case 3: {
        // Version 3: every row written or changed leaves its name in changes, in the
        // order of writing, so that a forwarder can hand the rows on to a shared journal
        // later, in that order, whatever happened between. The rows already in the file
        // are named first: a console that starts sharing shares its past as well.
        QStringList steps{
            QStringLiteral("CREATE TABLE changes ("
                           " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
                           " tbl TEXT NOT NULL,"
                           " row_id INTEGER NOT NULL)"),
        };
        for (const QString& table :
             {QStringLiteral("orders"), QStringLiteral("prints"), QStringLiteral("events")}) {
            steps << QStringLiteral("INSERT INTO changes (tbl, row_id)"
                                    " SELECT '%1', id FROM %1 ORDER BY id")
                         .arg(table);
            for (const QString& when : {QStringLiteral("INSERT"), QStringLiteral("UPDATE")})
                steps << QStringLiteral("CREATE TRIGGER %1_%2 AFTER %3 ON %1 BEGIN"
                                        " INSERT INTO changes (tbl, row_id) VALUES ('%1', NEW.id);"
                                        " END")
                             .arg(table, when.toLower(), when);
        }
        return steps;
    }
    default:
        return {};
    }
}

// A new file numbers its changes, and with them its rows (JournalWriter numbers each row
// above the last change), from a point set by the moment the file is made: a thousand a
// millisecond since 1970, some 1.8e15 today, still exact in a double. A console whose file
// went bad, or was taken away, starts a new one; were it to count from 1 again, a shared
// journal would take its new rows for the old rows of the same numbers, and its changes
// for changes long delivered. An earlier file would need a thousand changes for every
// millisecond of its life to reach the numbers of a later one.
QStringList JournalSchema::firstNumbers(qint64 madeMs) {
    return {
        QStringLiteral("DELETE FROM sqlite_sequence WHERE name = 'changes'"),
        QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES ('changes', %1)")
            .arg(madeMs * 1000),
    };
}

int JournalSchema::version(QSqlDatabase& db) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return -1;
    return query.value(0).toInt();
}

bool JournalSchema::upgrade(QSqlDatabase& db, QString& error) {
    QSqlQuery query(db);
    const int from = version(db);
    if (from < 0) {
        error = query.lastError().text();
        if (error.isEmpty())
            error = db.lastError().text();
        return false;
    }
    if (from > kCurrentVersion) {
        error = QStringLiteral("файл журнала сделан более новой версией программы (%1)").arg(from);
        return false;
    }
    if (from == kCurrentVersion)
        return true;
    if (!db.transaction()) {
        error = db.lastError().text();
        return false;
    }
    QStringList steps = from == 0 ? version1() : QStringList{};
    for (int v = std::max(from, 1) + 1; v <= kCurrentVersion; ++v)
        steps += migrationTo(v);
    if (from == 0)
        steps += firstNumbers(QDateTime::currentMSecsSinceEpoch());
    steps += QStringLiteral("PRAGMA user_version = %1").arg(kCurrentVersion);
    for (const QString& step : steps) {
        if (!query.exec(step)) {
            error = query.lastError().text();
            query.finish();
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        error = db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

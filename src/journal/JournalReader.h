#pragma once

#include "journal/JournalEvent.h"
#include "journal/JournalQuery.h"
#include "journal/JournalRecord.h"
#include "journal/JournalSource.h"
#include "journal/JournalTotals.h"

#include <QList>
#include <QString>

#include <functional>

// Reads the journal through a connection of its own, read-only, beside the journal's
// writer: the file is in WAL mode, so a reader sees the last committed orders and holds
// no writer up. A reader belongs to the thread that made it (so does its connection).
class JournalReader {
public:
    explicit JournalReader(const QString& folder);
    // The journal of source: the shared PostgreSQL journal of every console when
    // source.shared(), the same queries as on the file (the tables have the same columns).
    explicit JournalReader(const JournalSource& source);
    ~JournalReader();
    JournalReader(const JournalReader&) = delete;
    JournalReader& operator=(const JournalReader&) = delete;

    // False, with the reason in lastError, when the file cannot be read.
    bool open();
    QString lastError() const { return m_lastError; }

    // Up to limit orders of the query, newest first, with their prints. The next page:
    // the same query with after set to the last row's cursor.
    QList<JournalRecord> orders(const JournalQuery& query, int limit);
    static JournalCursor cursorOf(const JournalRecord& record);

    // Every order of the query, newest first, without prints, invoice and document
    // (printedCount is filled), one at a time: a year of orders never sits in memory at once. False
    // on a read error. goOn, when given, is asked after every kEachStep rows with the rows so
    // far; false ends the reading there (not an error: forEach returns true).
    static constexpr qint64 kEachStep = 500;
    bool forEach(const JournalQuery& query, const std::function<void(const JournalRecord&)>& row,
                 const std::function<bool(qint64 rowsSoFar)>& goOn = {});

    // Counts, sums and waits of the orders opened in [from, to), and each kiosk's
    // availability in that period (up to now), also of kiosks without orders.
    JournalSummary totals(const QDateTime& from, const QDateTime& to);

    // The time of the first order or connection event; invalid when there is none (then,
    // or on a read error, lastError says which).
    QDateTime firstTime();

    // The connection events in [from, to), oldest first.
    QList<JournalEvent> events(const QDateTime& from, const QDateTime& to);

private:
    QString m_fileName;
    JournalSource m_source;
    QString m_connection;
    QString m_lastError;
};

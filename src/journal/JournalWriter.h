#pragma once

#include "journal/OrderJournal.h"

#include <QString>

#include <unordered_map>
#include <vector>

class QSqlError;
class QSqlQuery;

// The worker's side of OrderJournal: its own connection to the file, and which row each
// handle became. Lives and dies on the worker thread, like its connection.
class JournalWriter {
public:
    JournalWriter(QString connection, QString fileName, int keepDays);
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    // Opens the file when it is not open: made 0600 if new, put aside if bad, brought to
    // the current schema, pruned.
    bool ensureOpen();
    // Writes the entries in one transaction: all of them or, on failure, none.
    bool write(const std::vector<OrderJournal::Entry>& entries);

    // Set when the file found had to be put aside; the owner tells it once and clears it.
    QString aside;
    // Why the last step failed, in the database's words, and whether the disk was full.
    QString lastDetail;
    bool lastDiskFull = false;

private:
    bool fail(const QSqlError& error);
    bool failWith(const QString& detail);
    void close();
    bool openFile(bool& corrupt);
    bool exec(QSqlQuery& query, const QString& text);

    bool insertOrder(const JournalRecord& record, qint64& id);
    bool updateOrder(qint64 id, JournalDecision decision, const QDateTime& decided,
                     double waitSeconds);
    bool insertPrint(qint64 id, const JournalPrint& print);
    bool insertEvent(const JournalEvent& event);
    bool orderExists(qint64 id);
    bool prune();

    QString m_connection;
    QString m_fileName;
    int m_keepDays;
    bool m_open = false;
    std::unordered_map<OrderJournal::Handle, qint64> m_rows;
};

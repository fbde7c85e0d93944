#pragma once

#include "PostgresSupport.h"

#include "journal/JournalRecord.h"
#include "journal/JournalSource.h"

#include <QList>
#include <QString>

// A journal shared by consoles on a PostgreSQL server of the test's own, filled the way
// the consoles fill it: each writes its own file, and its forwarder hands the rows on.
class SharedJournal {
public:
    SharedJournal() = default;
    // Lets the orders go if a test ended while it held them.
    ~SharedJournal() { releaseOrders(); }
    SharedJournal(const SharedJournal&) = delete;
    SharedJournal& operator=(const SharedJournal&) = delete;

    // False when the machine has no server programs; error() says why.
    bool available() const { return m_server.available(); }
    // Starts the server with an empty journal database; false with the reason in error().
    bool start();
    QString error() const { return m_error.isEmpty() ? m_server.error() : m_error; }
    journaltest::PostgresServer& server() { return m_server; }
    QString database() const { return QStringLiteral("journal"); }

    // The [Journal] settings of console.
    JournalSource source(const QString& console) const;
    // The orders, opened (and decided when they are), as console with the data folder
    // folder; true once they are in its file and on the server.
    bool record(const QString& folder, const QString& console, const QList<JournalRecord>& orders);

    // Takes the orders table in a transaction of a connection of the test's own, as a
    // session that holds it long: every read of it waits until releaseOrders (or the
    // reader's statement timeout). False with the reason in error().
    bool holdOrders();
    void releaseOrders();

private:
    journaltest::PostgresServer m_server;
    QString m_error;
    bool m_holding = false;
};

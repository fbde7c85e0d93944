#pragma once

#include "journal/JournalSource.h"
#include "journal/JournalWorker.h"

#include <QString>

#include <condition_variable>
#include <cstdint>

struct JournalForwarderOptions {
    // How often the local journal is looked at without a wake, and how soon a server
    // that could not be reached is tried again.
    int intervalMs = 1000;
    // Changes handed on in one transaction of the server.
    int batch = 500;
};

// Hands the rows of this console's journal (<folder>/journal.sqlite) on to the shared
// PostgreSQL journal of source, in the order they were written and each once.
//
// Every row is written to the local file first (OrderJournal); the file names each
// written or changed row in its changes table. A worker thread of the forwarder, with
// its own connections to the file and to the server, reads the changes after the last
// delivered one, and in one transaction of the server upserts those rows' current state
// keyed by (console, local_id) and moves this console's delivered_seq on. The delivered
// seq lives on the server and is read at every connect: a crash after the commit can
// never deliver a change twice, and the upsert makes a repeat harmless anyway.
//
// While the server cannot be reached the rows wait in the file. The loss is told once
// ("журнал на сервере недоступен: ...") and the return once ("журнал на сервере снова
// доступен").
//
// Wiring: make one beside the OrderJournal when source.shared(), and hand the journal's
// writes on to wake():
//   journal.setWrittenHandler([f = forwarder.get()] { f->wake(); });
class JournalForwarder : private JournalWorker {
public:
    // onFailure runs on the main thread (through the dispatcher) with the text for the
    // status bar.
    JournalForwarder(const QString& folder, JournalSource source,
                     JournalForwarderOptions options = {}, FailureHandler onFailure = {});
    // Ends the worker after the round it is in; what is not delivered waits in the file
    // for the next start.
    ~JournalForwarder();
    JournalForwarder(const JournalForwarder&) = delete;
    JournalForwarder& operator=(const JournalForwarder&) = delete;

    // Something was written: look now rather than at the next interval. Any thread.
    void wake();

    // Waits up to ms for every change in the file at the call to be on the server. For
    // tests and the end of the program.
    bool flush(int ms);
    // True while the last round with the server succeeded.
    bool healthy() const;
    // The last change of the file that is on the server.
    qint64 deliveredSeq() const;

private:
    void run();

    QString m_fileName;
    JournalSource m_source;
    JournalForwarderOptions m_options;
    QString m_connection;

    std::condition_variable m_delivered;
    bool m_woken = false;
    bool m_healthy = false;
    qint64 m_deliveredSeq = 0;
    std::uint64_t m_asked = 0;    // flushes asked for
    std::uint64_t m_answered = 0; // flushes that a round found nothing left for
};

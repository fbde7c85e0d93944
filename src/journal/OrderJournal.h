#pragma once

#include "journal/JournalEvent.h"
#include "journal/JournalRecord.h"
#include "journal/JournalWorker.h"

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <variant>

struct JournalOptions {
    // The two numbers in the order a caller writes them: {keepDays, retryMs}.
    JournalOptions(int days = 400, int retry = 2000)
        : keepDays(days)
        , retryMs(retry) {}

    int keepDays;
    // How soon a journal that could not write tries again (a full disk freed, a folder
    // mounted again).
    int retryMs;
    // The order's name from its document (/order/name), found on the journal's thread
    // for a row opened without one: reading a large order is no work for the operator's
    // thread. Unset, the name stays as given.
    std::function<QString(const QString& document)> orderName;
};

// The journal of every order window, in <folder>/journal.sqlite.
//
// Recording never holds up the operator: every call of the main thread only queues and
// returns, and a worker thread of the journal, with its own connection to the file,
// writes what is queued. When writing fails (a full disk, a file that went bad) the
// queued rows stay in memory and are written again every retryMs; the failure is told
// once, in Russian for the status bar, until writing works again.
//
// The file is in WAL mode, so a list or a CSV export reads it through another connection
// (JournalReader) while the console writes. It is 0600: order documents say what
// customers bought.
class OrderJournal : private JournalWorker {
public:
    using Handle = std::uint64_t;

    static QString fileName(const QString& folder);

    // onFailure runs on the main thread (through the dispatcher) with the text for the
    // status bar: once per failure, and once when a bad file was put aside.
    explicit OrderJournal(const QString& folder, JournalOptions options = {},
                          FailureHandler onFailure = {});
    // Writes what is still queued (one attempt), then ends the worker.
    ~OrderJournal();
    OrderJournal(const OrderJournal&) = delete;
    OrderJournal& operator=(const OrderJournal&) = delete;

    // Runs on the journal's worker thread after every batch it wrote, so that a
    // JournalForwarder hands the rows on at once; it must only wake, never wait.
    void setWrittenHandler(std::function<void()> handler);

    // An order window opened: its row is written with decision open. The handle names
    // the row in the calls that follow.
    Handle orderOpened(const JournalRecord& record);
    // The operator decided (or the window went otherwise).
    void orderDecided(Handle handle, JournalDecision decision, const QDateTime& decided,
                      double waitSeconds);
    void orderPrinted(Handle handle, const JournalPrint& print);
    // A receipt printed again from the journal for an order of any run, by its row; a row
    // pruned meanwhile takes nothing.
    void reprinted(qint64 rowId, const JournalPrint& print);
    void kioskEvent(const JournalEvent& event);
    // Deletes rows older than keepDays; the console asks daily, and the journal does at
    // every start.
    void prune();

    // Waits up to ms for everything queued before the call to be in the file. For tests,
    // helpers and the end of the program; the console's windows never wait on it.
    bool flush(int ms);
    // True while the last attempt to write succeeded.
    bool healthy() const;
    std::size_t queued() const;

    // What the main thread hands the worker, in order.
    struct OpenedEntry {
        Handle handle;
        JournalRecord record;
    };
    struct DecidedEntry {
        Handle handle;
        JournalDecision decision;
        QDateTime decided;
        double waitSeconds;
    };
    struct PrintedEntry {
        Handle handle;
        JournalPrint print;
    };
    struct ReprintedEntry {
        qint64 rowId;
        JournalPrint print;
    };
    struct PruneEntry {};
    using Entry = std::variant<OpenedEntry, DecidedEntry, PrintedEntry, ReprintedEntry,
                               JournalEvent, PruneEntry>;

private:
    void enqueue(Entry entry);
    void run();

    QString m_fileName;
    JournalOptions m_options;
    QString m_connection;

    std::condition_variable m_written; // flush: the queue moved on
    std::deque<Entry> m_queue;
    std::uint64_t m_enqueued = 0; // entries ever queued
    std::uint64_t m_done = 0;     // entries ever written
    bool m_healthy = true;
    bool m_tried = false; // the worker has tried the file once
    Handle m_nextHandle = 1;
    std::function<void()> m_writtenHandler;
};

#pragma once

#include "journal/JournalEvent.h"
#include "journal/JournalForwarder.h"
#include "journal/JournalRecord.h"
#include "journal/OrderJournal.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <memory>

class QTimer;
class TDeviceItem;
struct ReceiptOutcome;
enum TThreadState : int;

// What the console writes into the order journal: the order windows, their decisions
// and receipts, and the kiosks' connections. It owns the journal of the data folder and
// only queues into it, so the operator never waits for the disk; the console's end
// waits a bounded moment for what is queued.
//
// Settings, section [Journal] of the ini file: KeepDays (400), how long orders are kept;
// Console (the host name), the name this console's rows carry; Driver=QPSQL with Host,
// Port, Database, User and PasswordFile: every row is also handed on to that shared
// PostgreSQL journal, in order and once, whenever the server can be reached.
class JournalRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultKeepDays = 400;
    static constexpr int kExitFlushMs = 3000;
    static constexpr int kPruneIntervalMs = 24 * 60 * 60 * 1000;

    // An empty folder records nothing: without a data folder there is nowhere to keep it.
    JournalRecorder(const QString& folder, const QString& iniFileName, QObject* parent = nullptr);
    ~JournalRecorder() override;

    bool enabled() const { return m_journal != nullptr; }
    QString console() const { return m_console; }
    int keepDays() const { return m_keepDays; }

    // The window of the device's payment opened now; 0 when nothing is recorded. The
    // handle names the order in the calls below.
    OrderJournal::Handle orderOpened(TDeviceItem& device);
    void orderDecided(OrderJournal::Handle handle, JournalDecision decision, double waitSeconds);
    // A receipt shown in the preview window: shown, not printed.
    void receiptShown(OrderJournal::Handle handle, const QString& printer);
    // A receipt given to the spooler as job; recorded when the job ends, also when its
    // window is gone by then.
    void receiptStarted(OrderJournal::Handle handle, int job);
    // A receipt printed again from the journal's list for the order of row rowId, given to
    // the spooler as job; recorded with that order when the job ends. Job 0: shown in the
    // preview window on printer, recorded at once as shown, not printed.
    void reprintStarted(qint64 rowId, int job, const QString& printer);
    // A state change the main window heard: connected, lost, version refused.
    void kioskState(const TDeviceItem& device, TThreadState state);
    void kioskRemoved(const TDeviceItem* device);
    // Waits up to ms for what is queued to be in the file; true when it is.
    bool flush(int ms);

    // The text of /order/name of an order document; empty when there is none or the
    // document does not parse.
    static QString orderName(const QString& document);

signals:
    // The journal cannot write (or put a bad file aside), in words for the operator; said
    // once for each failure.
    void failed(const QString& text);

private:
    void receiptFinished(int job, const ReceiptOutcome& outcome);
    void recordEvent(const TDeviceItem& device, JournalEventKind kind, const QString& text);

    // Declared before the journal: the journal's worker wakes the forwarder, so the
    // journal goes first.
    std::unique_ptr<JournalForwarder> m_forwarder;
    std::unique_ptr<OrderJournal> m_journal;
    QString m_console;
    int m_keepDays = kDefaultKeepDays;
    QTimer* m_prune = nullptr;
    struct PendingReceipt {
        OrderJournal::Handle handle = 0;
        int printerType = 0;
        qint64 rowId = 0; // a reprint from the list: the order's row instead of a handle
    };
    QHash<int, PendingReceipt> m_receipts;
    QHash<const TDeviceItem*, bool> m_linked; // kiosks whose connection was recorded as up
};

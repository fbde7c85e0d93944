#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// How a receipt that left the console ended.
struct ReceiptOutcome {
    bool ok = false;
    bool cancelled = false; // stopped by the operator; the paper was fed and cut
    QString printer;        // the printer's name for the operator
    QString error;          // why it failed, for the error box
    QStringList warnings;   // printed, but the operator should know (paper running low, ...)
    QString status;         // the printer's state afterwards in words; empty when unknown
    // Whether the window that asked for the receipt still exists; when it does not, someone
    // else has to tell the operator about a failure.
    bool ownerAlive = false;
};

// What the worker reports back from sending one receipt.
struct ReceiptDelivery {
    QStringList warnings;
    QString status;
    bool cancelled = false;
};

// What a sending step may look at while it runs on the worker thread.
class ReceiptProgress {
public:
    virtual ~ReceiptProgress() = default;
    virtual void report(qint64 sent, qint64 total) = 0;
    virtual const std::atomic<bool>& cancelRequested() const = 0;
};

// Sends composed receipts to their printers from a worker thread, one after another in
// the order they were given. The receipt is composed on the main thread (it takes well under
// a millisecond); the bytes take as long as the printer needs, and the operator's windows,
// the list and the board stay usable meanwhile. A job does not belong to the window that
// started it: closing that window never stops or corrupts a receipt under way.
class ReceiptSpooler : public QObject {
    Q_OBJECT
public:
    // Runs on the worker: sends one receipt. Throws orvanta::Exception (or any
    // std::exception) with the text for the operator when it fails. Must not touch the
    // process-wide print settings, which the main thread may change meanwhile: everything it
    // needs is captured when it is made.
    using Send = std::function<ReceiptDelivery(ReceiptProgress&)>;

    // The console's spooler, made on first use and owned by the application object.
    static ReceiptSpooler& instance();

    explicit ReceiptSpooler(QObject* parent = nullptr);
    // Sends what is still queued (every send is bounded in time) and stops the worker: a
    // receipt the operator asked for is never dropped because the console ends.
    ~ReceiptSpooler() override;

    // Queues a receipt for printer; owner is the window that asked for it. Returns the
    // job's number (never 0).
    int submit(const QString& printer, Send send, QObject* owner = nullptr);
    // Asks the job to stop: one not yet started is dropped, one under way stops sending and
    // cuts the paper. Unknown or finished jobs are ignored.
    void cancel(int job);
    // Whether any job is queued or under way.
    bool busy() const;
    // Pumps events until nothing is left or ms passed; true when idle.
    bool waitForIdle(int ms);

signals:
    // From the main thread, at most a few times per percent.
    void progress(int job, qint64 sent, qint64 total);
    void finished(int job, const ReceiptOutcome& outcome);

private:
    struct Job;
    void run();
    void finish(const std::shared_ptr<Job>& job, ReceiptOutcome outcome);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::shared_ptr<Job>> m_queue;
    std::shared_ptr<Job> m_current;
    int m_nextId = 1;
    int m_unfinished = 0; // touched on the main thread only
    bool m_stopping = false;
    std::thread m_worker;
};

Q_DECLARE_METATYPE(ReceiptOutcome)

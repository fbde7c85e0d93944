#include "journal/OrderJournal.h"

#include "journal/JournalWriter.h"

#include <QFileInfo>

#include <chrono>
#include <vector>

namespace {

// One batch is one transaction: a burst of orders costs one sync of the file, not one
// each, and a batch that fails leaves nothing half-written.
constexpr std::size_t kBatch = 256;

QString failureText(const JournalWriter& writer) {
    if (writer.lastDiskFull)
        return QStringLiteral("Журнал заказов не записывается: нет места на диске. "
                              "Заказы принимаются, записи ждут в памяти.");
    return QStringLiteral("Журнал заказов не записывается (%1). "
                          "Заказы принимаются, записи ждут в памяти.")
        .arg(writer.lastDetail);
}

} // namespace

QString OrderJournal::fileName(const QString& folder) {
    QString name = folder;
    if (!name.isEmpty() && !name.endsWith(QLatin1Char('/')))
        name += QLatin1Char('/');
    return name + QStringLiteral("journal.sqlite");
}

OrderJournal::OrderJournal(const QString& folder, JournalOptions options, FailureHandler onFailure)
    : JournalWorker(std::move(onFailure))
    , m_fileName(fileName(folder))
    , m_options(std::move(options))
    , m_connection(
          QStringLiteral("orvanta-journal-%1").arg(reinterpret_cast<quintptr>(this), 0, 16)) {
    start([this] { run(); });
}

OrderJournal::~OrderJournal() {
    stop();
}

void OrderJournal::setWrittenHandler(std::function<void()> handler) {
    std::lock_guard lock(m_mutex);
    m_writtenHandler = std::move(handler);
}

void OrderJournal::enqueue(Entry entry) {
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        // The worker sleeps only on an empty queue: a queue that had entries already woke
        // it. Waking a thread is a system call, and on a virtual machine one that costs
        // the operator's thread a good part of a millisecond now and then.
        wake = m_queue.empty();
        m_queue.push_back(std::move(entry));
        ++m_enqueued;
    }
    if (wake)
        m_wake.notify_one();
}

OrderJournal::Handle OrderJournal::orderOpened(const JournalRecord& record) {
    Handle handle = 0;
    {
        std::lock_guard lock(m_mutex);
        handle = m_nextHandle++;
    }
    enqueue(OpenedEntry{handle, record});
    return handle;
}

void OrderJournal::orderDecided(Handle handle, JournalDecision decision, const QDateTime& decided,
                                double waitSeconds) {
    enqueue(DecidedEntry{handle, decision, decided, waitSeconds});
}

void OrderJournal::orderPrinted(Handle handle, const JournalPrint& print) {
    enqueue(PrintedEntry{handle, print});
}

void OrderJournal::reprinted(qint64 rowId, const JournalPrint& print) {
    enqueue(ReprintedEntry{rowId, print});
}

void OrderJournal::kioskEvent(const JournalEvent& event) {
    enqueue(event);
}

void OrderJournal::prune() {
    enqueue(PruneEntry{});
}

bool OrderJournal::flush(int ms) {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_enqueued;
    return m_written.wait_for(lock, std::chrono::milliseconds(ms),
                              [&] { return m_tried && m_done >= target && m_healthy; });
}

bool OrderJournal::healthy() const {
    std::lock_guard lock(m_mutex);
    return m_healthy;
}

std::size_t OrderJournal::queued() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

void OrderJournal::run() {
    JournalWriter writer(m_connection, m_fileName, m_options.keepDays);
    bool reported = false;
    bool ok = true;
    std::vector<Entry> batch;
    for (bool first = true;; first = false) {
        bool stopping = false;
        batch.clear();
        {
            std::unique_lock lock(m_mutex);
            if (!first) {
                if (m_healthy)
                    m_wake.wait(lock, [&] { return m_stop || !m_queue.empty(); });
                else
                    m_wake.wait_for(lock, std::chrono::milliseconds(m_options.retryMs),
                                    [&] { return m_stop; });
            }
            stopping = m_stop;
            for (std::size_t i = 0; i < m_queue.size() && i < kBatch; ++i)
                batch.push_back(m_queue[i]);
        }
        if (m_options.orderName)
            for (Entry& entry : batch)
                if (auto* opened = std::get_if<OpenedEntry>(&entry);
                    opened && opened->record.orderName.isEmpty())
                    opened->record.orderName = m_options.orderName(opened->record.document);
        if (!first && batch.empty() && stopping)
            break;
        ok = writer.ensureOpen() && (batch.empty() || writer.write(batch));
        if (!writer.aside.isEmpty()) {
            report(QStringLiteral("Файл журнала заказов был повреждён и отложен как %1; "
                                  "начат новый журнал.")
                       .arg(QFileInfo(writer.aside).fileName()));
            writer.aside.clear();
        }
        {
            std::lock_guard lock(m_mutex);
            if (ok) {
                m_queue.erase(m_queue.begin(), m_queue.begin() + std::ptrdiff_t(batch.size()));
                m_done += batch.size();
            }
            m_healthy = ok;
            m_tried = true;
        }
        m_written.notify_all();
        if (ok && !batch.empty()) {
            std::function<void()> written;
            {
                std::lock_guard lock(m_mutex);
                written = m_writtenHandler;
            }
            if (written)
                written();
        }
        if (ok) {
            reported = false;
        } else if (!reported) {
            report(failureText(writer));
            reported = true;
        }
        if (stopping && (!ok || batch.empty()))
            break;
    }
}

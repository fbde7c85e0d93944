#include "printing/ReceiptSpooler.h"

#include "platform/Error.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

struct ReceiptSpooler::Job {
    int id = 0;
    QString printer;
    Send send;
    QPointer<QObject> owner; // main thread only
    std::atomic<bool> cancel{false};
};

namespace {

// Hands the worker's progress to the main thread, no more often than the shown figure
// can change: a receipt of a few kilobytes in 256-byte pieces would otherwise flood the
// event queue for nothing.
class PostedProgress : public ReceiptProgress {
public:
    PostedProgress(ReceiptSpooler* spooler, int job, const std::atomic<bool>& cancel)
        : m_spooler(spooler)
        , m_job(job)
        , m_cancel(cancel) {}

    void report(qint64 sent, qint64 total) override {
        const int permille = total > 0 ? static_cast<int>(sent * 1000 / total) : 1000;
        if (permille == m_lastPermille)
            return;
        m_lastPermille = permille;
        QMetaObject::invokeMethod(
            m_spooler,
            [spooler = m_spooler, job = m_job, sent, total] {
                emit spooler->progress(job, sent, total);
            },
            Qt::QueuedConnection);
    }
    const std::atomic<bool>& cancelRequested() const override { return m_cancel; }

private:
    ReceiptSpooler* m_spooler;
    int m_job;
    const std::atomic<bool>& m_cancel;
    int m_lastPermille = -1;
};

} // namespace

ReceiptSpooler& ReceiptSpooler::instance() {
    // A child of the application object: it is gone, with its worker joined, before the
    // application's own state is torn down.
    static QPointer<ReceiptSpooler> spooler;
    if (!spooler)
        spooler = new ReceiptSpooler(QCoreApplication::instance());
    return *spooler;
}

ReceiptSpooler::ReceiptSpooler(QObject* parent)
    : QObject(parent) {
    qRegisterMetaType<ReceiptOutcome>();
    m_worker = std::thread([this] { run(); });
}

ReceiptSpooler::~ReceiptSpooler() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

int ReceiptSpooler::submit(const QString& printer, Send send, QObject* owner) {
    auto job = std::make_shared<Job>();
    job->printer = printer;
    job->send = std::move(send);
    job->owner = owner;
    {
        const std::lock_guard lock(m_mutex);
        job->id = m_nextId++;
        m_queue.push_back(job);
    }
    ++m_unfinished;
    m_wake.notify_one();
    return job->id;
}

void ReceiptSpooler::cancel(int job) {
    const std::lock_guard lock(m_mutex);
    if (m_current && m_current->id == job) {
        m_current->cancel = true;
        return;
    }
    for (const auto& queued : m_queue) {
        if (queued->id == job)
            queued->cancel = true;
    }
}

bool ReceiptSpooler::busy() const {
    return m_unfinished > 0;
}

bool ReceiptSpooler::waitForIdle(int ms) {
    const QDeadlineTimer deadline(ms);
    while (busy() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return !busy();
}

void ReceiptSpooler::run() {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return; // stopping, and everything asked for has been sent
            job = m_queue.front();
            m_queue.pop_front();
            m_current = job;
        }

        ReceiptOutcome outcome;
        outcome.printer = job->printer;
        if (job->cancel) {
            // Never started: nothing reached the printer, so there is nothing to cut.
            outcome.cancelled = true;
        } else {
            PostedProgress progress(this, job->id, job->cancel);
            try {
                const ReceiptDelivery delivery = job->send(progress);
                outcome.ok = !delivery.cancelled;
                outcome.cancelled = delivery.cancelled;
                outcome.warnings = delivery.warnings;
                outcome.status = delivery.status;
            } catch (const orvanta::Exception& e) {
                outcome.error = e.message();
            } catch (const std::exception& e) {
                outcome.error = QString::fromLocal8Bit(e.what());
            } catch (...) {
                outcome.error = QStringLiteral("Неизвестная ошибка печати");
            }
        }
        {
            const std::lock_guard lock(m_mutex);
            m_current.reset();
        }
        QMetaObject::invokeMethod(
            this, [this, job, outcome] { finish(job, outcome); }, Qt::QueuedConnection);
    }
}

void ReceiptSpooler::finish(const std::shared_ptr<Job>& job, ReceiptOutcome outcome) {
    outcome.ownerAlive = !job->owner.isNull();
    --m_unfinished;
    emit finished(job->id, outcome);
}

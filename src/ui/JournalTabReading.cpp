#include "ui/JournalTab.h"

#include "journal/JournalReader.h"
#include "ui/JournalModel.h"
#include "ui/JournalTotalsView.h"

#include <QComboBox>
#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QThread>
#include <QWaitCondition>

#include <deque>
#include <memory>

// The tab's reading: every read of the journal goes to one thread of the tab, in order,
// and its answer comes back through the event loop.

namespace {

// The row in folder's own file of an order of the shared journal, read through local (a
// reader of that file); 0 when it has none there.
qint64 localRowOf(JournalReader& local, const JournalRecord& record) {
    // The shared row knows its console but not its row in that console's file; the order
    // is found there by its kiosk and the millisecond it opened, which the forwarder
    // copies as they are.
    JournalQuery query;
    query.from = record.opened;
    query.to = record.opened.addMSecs(1);
    query.kiosk = record.kiosk;
    const QList<JournalRecord> rows = local.orders(query, 2);
    return rows.size() == 1 ? rows.constFirst().id : 0;
}

} // namespace

// What the tab and its reading thread share. The thread takes the tasks in order and
// answers the tab through tab, under lock: the tab's end clears it and the queue before
// it lets the thread go, so a thread still held by the journal never reaches a tab that
// is gone. The readers are the thread's own (a connection belongs to the thread that
// made it) and only it touches them.
struct TJournalTab::Reading {
    QString folder;
    JournalSource source;
    QMutex lock;
    QWaitCondition wake;
    std::deque<std::function<void(Reading&)>> tasks; // under lock
    bool stop = false;                               // under lock
    TJournalTab* tab = nullptr;                      // under lock
    QPointer<QThread> thread;
    std::unique_ptr<JournalReader> reader; // the journal of the tab
    std::unique_ptr<JournalReader> local;  // this console's file, beside a shared journal

    // Runs done with the tab on the tab's thread, unless the tab has ended.
    void answer(std::function<void(TJournalTab*)> done) {
        QMutexLocker locker(&lock);
        if (TJournalTab* to = tab)
            QMetaObject::invokeMethod(
                to, [to, done = std::move(done)] { done(to); }, Qt::QueuedConnection);
    }
    // The tab's reader, made on first use; open() tells whether it reads.
    JournalReader& journal() {
        if (!reader)
            reader = readerOf(folder, source);
        return *reader;
    }
    void run() {
        for (;;) {
            std::function<void(Reading&)> task;
            {
                QMutexLocker locker(&lock);
                while (!stop && tasks.empty())
                    wake.wait(&lock);
                if (stop)
                    break;
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            task(*this);
        }
        reader.reset();
        local.reset();
    }
};

// The period's totals and the first page of its list, read as one request: a journal
// that cannot be read is tried once, not once for each.
struct TJournalTab::PeriodAnswer {
    quint64 generation = 0;
    quint64 ticket = 0; // of the first page in the model
    bool renewed = false;
    JournalQuery query;
    JournalSummary summary;
    QList<JournalRecord> rows;
    QString error;
};

std::unique_ptr<JournalReader> TJournalTab::readerOf(const QString& folder,
                                                     const JournalSource& source) {
    return source.shared() ? std::make_unique<JournalReader>(source)
                           : std::make_unique<JournalReader>(folder);
}

void TJournalTab::readPeriod(bool renew) {
    if (renew) {
        m_renew = false;
        m_connecting = true;
    }
    showEmpty(m_connecting ? QStringLiteral("Соединение с общим журналом заказов…")
                           : QStringLiteral("Чтение журнала заказов…"));
    PeriodAnswer asked;
    asked.generation = ++m_generation;
    asked.query = currentQuery();
    asked.ticket = m_model->setQuery(asked.query, false);
    asked.renewed = renew;
    m_periodAsked = asked.generation;
    read([asked](Reading& r) mutable {
        if (asked.renewed)
            r.reader.reset();
        JournalReader& reader = r.journal();
        if (!reader.open()) {
            asked.error = reader.lastError();
        } else {
            asked.summary = reader.totals(asked.query.from, asked.query.to);
            if (reader.lastError().isEmpty())
                asked.rows = reader.orders(asked.query, JournalModel::kPageSize);
            asked.error = reader.lastError();
        }
        r.answer([asked = std::move(asked)](TJournalTab* tab) { tab->periodRead(asked); });
    });
}

void TJournalTab::periodRead(const PeriodAnswer& answer) {
    if (answer.renewed)
        m_connecting = false;
    if (answer.generation != m_periodAsked)
        return;
    m_periodAsked = 0;
    if (!answer.error.isEmpty()) {
        showUnreadable(answer.error);
        return;
    }
    m_readable = true;
    QStringList kiosks;
    for (const JournalTotals& t : answer.summary.kiosks)
        kiosks << t.kiosk;
    fillKiosks(kiosks);
    const JournalQuery& query = answer.query;
    frmJournalTotals->setSummary(
        answer.summary,
        QStringLiteral("%1 — %2").arg(query.from.toString(QStringLiteral("dd.MM.yyyy")),
                                      query.to.addDays(-1).toString(QStringLiteral("dd.MM.yyyy"))));
    pageRead(answer.ticket, answer.rows, QString());
}

void TJournalTab::askPage(const JournalQuery& page, quint64 ticket) {
    read([page, ticket](Reading& r) {
        JournalReader& reader = r.journal();
        QList<JournalRecord> rows;
        QString error;
        if (!reader.open()) {
            error = reader.lastError();
        } else {
            rows = reader.orders(page, JournalModel::kPageSize);
            error = reader.lastError();
        }
        r.answer([ticket, rows = std::move(rows), error](TJournalTab* tab) {
            tab->pageRead(ticket, rows, error);
        });
    });
}

void TJournalTab::pageRead(quint64 ticket, const QList<JournalRecord>& rows, const QString& error) {
    const bool first = m_model->rowCount() == 0;
    if (!m_model->addPage(ticket, rows, !error.isEmpty()))
        return;
    if (!first)
        return;
    if (!error.isEmpty()) {
        showUnreadable(error);
    } else if (rows.isEmpty()) {
        lblJournalEmpty->setText(QStringLiteral("Заказов с такими условиями нет"));
        lblJournalEmpty->show();
    } else {
        lblJournalEmpty->hide();
    }
}

void TJournalTab::read(std::function<void(Reading&)> task) {
    if (!m_reading) {
        auto reading = std::make_shared<Reading>();
        reading->folder = m_folder;
        reading->source = m_source;
        reading->tab = this;
        QThread* thread = QThread::create([reading] { reading->run(); });
        reading->thread = thread;
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        m_reading = reading;
        thread->start();
    }
    QMutexLocker locker(&m_reading->lock);
    m_reading->tasks.push_back(std::move(task));
    m_reading->wake.wakeOne();
}

void TJournalTab::endReading() {
    if (!m_reading)
        return;
    {
        QMutexLocker locker(&m_reading->lock);
        m_reading->tab = nullptr;
        m_reading->tasks.clear();
        m_reading->stop = true;
        m_reading->wake.wakeAll();
    }
    // A read under way has the driver's connection in hand; the program's end must not
    // pull the database layer away from under it. A server that holds it up gives it up
    // within its timeouts; one that does not (a name that never resolves) is left to the
    // process, and never reaches the tab.
    if (m_reading->thread && m_reading->thread->isRunning())
        m_reading->thread->wait(QDeadlineTimer(kEndWaitMs));
    m_reading.reset();
}

void TJournalTab::showUnreadable(const QString& reason) {
    // The connection may be what failed: the next Refresh makes a new one.
    m_renew = true;
    showEmpty(unreadableText(reason));
}

QString TJournalTab::unreadableText(const QString& reason) const {
    if (m_source.shared())
        return QStringLiteral("Общий журнал заказов на сервере %1:%2 не читается: %3")
            .arg(m_source.host)
            .arg(m_source.port)
            .arg(reason);
    return QStringLiteral("Журнал заказов не читается: %1").arg(reason);
}

void TJournalTab::lookUpCopyRow(const JournalRecord& record) {
    const quint64 asked = m_copyAsked = ++m_generation;
    read([asked, record](Reading& r) {
        if (!r.local)
            r.local = std::make_unique<JournalReader>(r.folder);
        const qint64 row = localRowOf(*r.local, record);
        r.answer([asked, record, row](TJournalTab* tab) {
            if (asked != tab->m_copyAsked)
                return;
            tab->m_copyAsked = 0;
            tab->reprint(record, row);
        });
    });
}

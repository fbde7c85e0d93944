#include "SharedJournalSupport.h"

#include "journal/JournalForwarder.h"
#include "journal/OrderJournal.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <memory>

namespace {

const QString kHolder = QStringLiteral("sharedjournal-holder");

} // namespace

bool SharedJournal::start() {
    return m_server.start() && m_server.createDatabase(database());
}

JournalSource SharedJournal::source(const QString& console) const {
    return m_server.source(database(), console);
}

bool SharedJournal::record(const QString& folder, const QString& console,
                           const QList<JournalRecord>& orders) {
    // The forwarder outlives the journal, whose worker wakes it.
    std::unique_ptr<JournalForwarder> forwarder;
    auto journal = std::make_unique<OrderJournal>(folder);
    forwarder = std::make_unique<JournalForwarder>(folder, source(console),
                                                   JournalForwarderOptions{100, 500});
    journal->setWrittenHandler([f = forwarder.get()] { f->wake(); });
    for (JournalRecord r : orders) {
        r.console = console;
        const OrderJournal::Handle handle = journal->orderOpened(r);
        if (r.decision != JournalDecision::Open)
            journal->orderDecided(handle, r.decision, r.decided, r.waitSeconds);
    }
    if (!journal->flush(10000)) {
        m_error = QStringLiteral("the orders of %1 did not reach its file").arg(console);
        return false;
    }
    if (!forwarder->flush(20000)) {
        m_error = QStringLiteral("the orders of %1 did not reach the server").arg(console);
        return false;
    }
    journal.reset();
    return true;
}

bool SharedJournal::holdOrders() {
    const JournalSource s = source(QStringLiteral("holder"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(s.driver, kHolder);
        db.setHostName(s.host);
        db.setPort(s.port);
        db.setDatabaseName(s.database);
        db.setUserName(s.user);
        if (!db.open() || !db.transaction()) {
            m_error = db.lastError().text();
        } else {
            QSqlQuery lock(db);
            if (lock.exec(QStringLiteral("LOCK TABLE orders IN ACCESS EXCLUSIVE MODE"))) {
                m_holding = true;
                return true;
            }
            m_error = lock.lastError().text();
            db.rollback();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(kHolder);
    return false;
}

void SharedJournal::releaseOrders() {
    if (!m_holding)
        return;
    m_holding = false;
    {
        QSqlDatabase db = QSqlDatabase::database(kHolder, false);
        db.rollback();
        db.close();
    }
    QSqlDatabase::removeDatabase(kHolder);
}

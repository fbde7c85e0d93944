#include "journal/JournalForwarder.h"

#include "journal/OrderJournal.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

constexpr int kSharedVersion = 1;
// Two consoles starting together must not both create the tables: the second waits on
// this lock of the server, then finds them made.
constexpr qint64 kSchemaLock = 0x6f7276616e7461; // "orvanta"

// The shared tables: the local tables' columns under the same names, so that the
// reader's queries run on both, and the console and its local row id as the key.
const QStringList kSharedSchema{
    QStringLiteral("CREATE TABLE IF NOT EXISTS journal_schema (version INTEGER NOT NULL)"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS orders ("
                   " id BIGSERIAL PRIMARY KEY,"
                   " console TEXT NOT NULL,"
                   " local_id BIGINT NOT NULL,"
                   " kiosk TEXT NOT NULL,"
                   " address TEXT NOT NULL,"
                   " opened BIGINT NOT NULL,"
                   " sum DOUBLE PRECISION NOT NULL,"
                   " order_name TEXT NOT NULL,"
                   " invoice TEXT NOT NULL,"
                   " document TEXT NOT NULL,"
                   " decision TEXT NOT NULL,"
                   " decided BIGINT,"
                   " wait_s DOUBLE PRECISION,"
                   " UNIQUE (console, local_id))"),
    QStringLiteral("CREATE INDEX IF NOT EXISTS orders_opened ON orders(opened, id)"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS prints ("
                   " id BIGSERIAL PRIMARY KEY,"
                   " order_id BIGINT NOT NULL REFERENCES orders(id) ON DELETE CASCADE,"
                   " console TEXT NOT NULL,"
                   " local_id BIGINT NOT NULL,"
                   " at BIGINT NOT NULL,"
                   " printer_type INTEGER NOT NULL,"
                   " connection TEXT NOT NULL,"
                   " printed INTEGER NOT NULL,"
                   " outcome TEXT NOT NULL,"
                   " UNIQUE (console, local_id))"),
    QStringLiteral("CREATE INDEX IF NOT EXISTS prints_order ON prints(order_id)"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS events ("
                   " id BIGSERIAL PRIMARY KEY,"
                   " console TEXT NOT NULL,"
                   " local_id BIGINT NOT NULL,"
                   " at BIGINT NOT NULL,"
                   " kiosk TEXT NOT NULL,"
                   " kind TEXT NOT NULL,"
                   " text TEXT NOT NULL,"
                   " UNIQUE (console, local_id))"),
    QStringLiteral("CREATE INDEX IF NOT EXISTS events_at ON events(at)"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS journal_consoles ("
                   " console TEXT PRIMARY KEY,"
                   " delivered_seq BIGINT NOT NULL)"),
};

// The columns of each local table handed on, in the order of the upserts' values.
const QString kOrderColumns = QStringLiteral(
    "kiosk, address, opened, sum, order_name, invoice, document, decision, decided, wait_s");
const QString kPrintColumns =
    QStringLiteral("order_id, at, printer_type, connection, printed, outcome");
const QString kEventColumns = QStringLiteral("at, kiosk, kind, text");

// Parameters in a SELECT list have no column to take a type from; the casts give them one.
const QString kUpsertOrder = QStringLiteral(
    "INSERT INTO orders (console, local_id, kiosk, address, opened, sum, order_name, invoice,"
    " document, decision, decided, wait_s) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
    " ON CONFLICT (console, local_id) DO UPDATE SET kiosk = EXCLUDED.kiosk,"
    " address = EXCLUDED.address, opened = EXCLUDED.opened, sum = EXCLUDED.sum,"
    " order_name = EXCLUDED.order_name, invoice = EXCLUDED.invoice,"
    " document = EXCLUDED.document, decision = EXCLUDED.decision,"
    " decided = EXCLUDED.decided, wait_s = EXCLUDED.wait_s");
const QString kUpsertPrint = QStringLiteral(
    "INSERT INTO prints (order_id, console, local_id, at, printer_type, connection, printed,"
    " outcome) SELECT o.id, ?::text, ?::bigint, ?::bigint, ?::integer, ?::text, ?::integer,"
    " ?::text FROM orders o WHERE o.console = ?::text AND o.local_id = ?::bigint"
    " ON CONFLICT (console, local_id) DO UPDATE SET order_id = EXCLUDED.order_id,"
    " at = EXCLUDED.at, printer_type = EXCLUDED.printer_type,"
    " connection = EXCLUDED.connection, printed = EXCLUDED.printed,"
    " outcome = EXCLUDED.outcome");
const QString kUpsertEvent = QStringLiteral(
    "INSERT INTO events (console, local_id, at, kiosk, kind, text) VALUES (?, ?, ?, ?, ?, ?)"
    " ON CONFLICT (console, local_id) DO UPDATE SET at = EXCLUDED.at,"
    " kiosk = EXCLUDED.kiosk, kind = EXCLUDED.kind, text = EXCLUDED.text");

// One change with the current state of its row.
struct Change {
    qint64 seq = 0;
    QString table;
    qint64 rowId = 0;
    QVariantList values; // empty: the row is gone (pruned) and there is nothing to hand on
};

QString reasonOf(const QSqlError& error) {
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.simplified();
}

bool openLocal(const QString& connection, const QString& fileName, QString& error) {
    QSqlDatabase db = QSqlDatabase::contains(connection)
                          ? QSqlDatabase::database(connection, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    if (db.isOpen())
        return true;
    // The console's journal makes the file; the forwarder only reads it and, once rows
    // are delivered, forgets their changes.
    if (!QFileInfo::exists(fileName)) {
        error = QStringLiteral("журнала заказов ещё нет");
        return false;
    }
    db.setDatabaseName(fileName);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
        error = reasonOf(db.lastError());
        return false;
    }
    return true;
}

// The changes after seq with their rows' state now, read in one snapshot of the file.
bool readChanges(const QString& connection, qint64 after, int limit, std::vector<Change>& out,
                 QString& error) {
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    if (!db.transaction()) {
        error = reasonOf(db.lastError());
        return false;
    }
    bool ok = true;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral(
            "SELECT seq, tbl, row_id FROM changes WHERE seq > ? ORDER BY seq LIMIT ?"));
        q.addBindValue(after);
        q.addBindValue(limit);
        if (!q.exec()) {
            error = reasonOf(q.lastError());
            ok = false;
        }
        while (ok && q.next())
            out.push_back(
                {q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toLongLong(), {}});
    }
    QSqlQuery row(db);
    row.setForwardOnly(true);
    for (Change& change : out) {
        if (!ok)
            break;
        const QString& columns = change.table == QStringLiteral("orders")   ? kOrderColumns
                                 : change.table == QStringLiteral("prints") ? kPrintColumns
                                 : change.table == QStringLiteral("events") ? kEventColumns
                                                                            : QString();
        if (columns.isEmpty())
            continue;
        row.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE id = ?").arg(columns, change.table));
        row.addBindValue(change.rowId);
        if (!row.exec()) {
            error = reasonOf(row.lastError());
            ok = false;
            break;
        }
        if (row.next())
            for (int i = 0; i < columns.count(QLatin1Char(',')) + 1; ++i)
                change.values << row.value(i);
        row.finish();
    }
    db.commit();
    return ok;
}

// Connects, makes the shared tables when missing and reads how far this console got.
bool connectServer(const QString& connection, const JournalSource& source, qint64& delivered,
                   QString& error) {
    if (!source.error.isEmpty()) {
        error = source.error;
        return false;
    }
    QSqlDatabase db = QSqlDatabase::contains(connection)
                          ? QSqlDatabase::database(connection, false)
                          : QSqlDatabase::addDatabase(source.driver, connection);
    if (!db.isValid()) {
        error = JournalSource::missingDriverText();
        return false;
    }
    db.close();
    source.configure(db);
    if (!db.open()) {
        error = reasonOf(db.lastError());
        return false;
    }
    const auto failed = [&](const QSqlError& e) {
        error = reasonOf(e);
        db.rollback();
        db.close();
        return false;
    };
    if (!db.transaction())
        return failed(db.lastError());
    QSqlQuery q(db);
    // "already exists, skipping" at every connect says nothing to anyone.
    if (!q.exec(QStringLiteral("SET LOCAL client_min_messages TO warning")) ||
        !q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLock)))
        return failed(q.lastError());
    for (const QString& step : kSharedSchema)
        if (!q.exec(step))
            return failed(q.lastError());
    if (!q.exec(QStringLiteral("INSERT INTO journal_schema (version) SELECT %1"
                               " WHERE NOT EXISTS (SELECT 1 FROM journal_schema)")
                    .arg(kSharedVersion)) ||
        !q.exec(QStringLiteral("SELECT MAX(version) FROM journal_schema")))
        return failed(q.lastError());
    if (q.next() && q.value(0).toInt() > kSharedVersion) {
        error = QStringLiteral("общий журнал сделан более новой версией программы (%1)")
                    .arg(q.value(0).toInt());
        q.finish();
        db.rollback();
        db.close();
        return false;
    }
    q.finish();
    q.prepare(QStringLiteral("SELECT delivered_seq FROM journal_consoles WHERE console = ?"));
    q.addBindValue(source.console);
    if (!q.exec())
        return failed(q.lastError());
    delivered = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    if (!db.commit())
        return failed(db.lastError());
    return true;
}

// The rows of changes and how far this console got, in one transaction of the server.
bool deliver(const QString& connection, const QString& console, const std::vector<Change>& changes,
             QString& error) {
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    const auto failed = [&](const QSqlError& e) {
        error = reasonOf(e);
        // A server gone away has closed the connection, and with it the transaction.
        if (db.isOpen())
            db.rollback();
        return false;
    };
    if (!db.transaction())
        return failed(db.lastError());
    QSqlQuery order(db);
    QSqlQuery print(db);
    QSqlQuery event(db);
    if (!order.prepare(kUpsertOrder) || !print.prepare(kUpsertPrint) ||
        !event.prepare(kUpsertEvent))
        return failed(order.lastError().isValid()   ? order.lastError()
                      : print.lastError().isValid() ? print.lastError()
                                                    : event.lastError());
    for (const Change& change : changes) {
        if (change.values.isEmpty())
            continue;
        QSqlQuery* q = nullptr;
        if (change.table == QStringLiteral("orders")) {
            q = &order;
            q->addBindValue(console);
            q->addBindValue(change.rowId);
            for (const QVariant& value : change.values)
                q->addBindValue(value);
        } else if (change.table == QStringLiteral("prints")) {
            // The print points at the shared row of its order: the order's change came
            // before it, so that row is there (an order pruned meanwhile takes nothing).
            q = &print;
            q->addBindValue(console);
            q->addBindValue(change.rowId);
            for (int i = 1; i < change.values.size(); ++i)
                q->addBindValue(change.values[i]);
            q->addBindValue(console);
            q->addBindValue(change.values[0]);
        } else {
            q = &event;
            q->addBindValue(console);
            q->addBindValue(change.rowId);
            for (const QVariant& value : change.values)
                q->addBindValue(value);
        }
        if (!q->exec())
            return failed(q->lastError());
    }
    QSqlQuery seq(db);
    seq.prepare(QStringLiteral(
        "INSERT INTO journal_consoles (console, delivered_seq) VALUES (?, ?)"
        " ON CONFLICT (console) DO UPDATE SET delivered_seq = EXCLUDED.delivered_seq"));
    seq.addBindValue(console);
    seq.addBindValue(changes.back().seq);
    if (!seq.exec())
        return failed(seq.lastError());
    if (!db.commit())
        return failed(db.lastError());
    return true;
}

// The delivered changes are on the server for good; the file need not name them again.
void forget(const QString& connection, qint64 delivered) {
    QSqlQuery q(QSqlDatabase::database(connection, false));
    q.prepare(QStringLiteral("DELETE FROM changes WHERE seq <= ?"));
    q.addBindValue(delivered);
    [[maybe_unused]] const bool pruned = q.exec(); // a busy file is pruned next round
}

void closeConnection(const QString& connection) {
    if (QSqlDatabase::contains(connection)) {
        QSqlDatabase::database(connection, false).close();
        QSqlDatabase::removeDatabase(connection);
    }
}

} // namespace

JournalForwarder::JournalForwarder(const QString& folder, JournalSource source,
                                   JournalForwarderOptions options, FailureHandler onFailure)
    : JournalWorker(std::move(onFailure))
    , m_fileName(OrderJournal::fileName(folder))
    , m_source(std::move(source))
    , m_options(options)
    , m_connection(QStringLiteral("orvanta-journal-forwarder-%1")
                       .arg(reinterpret_cast<quintptr>(this), 0, 16)) {
    start([this] { run(); });
}

JournalForwarder::~JournalForwarder() {
    stop();
}

void JournalForwarder::wake() {
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_wake.notify_one();
}

bool JournalForwarder::flush(int ms) {
    std::unique_lock lock(m_mutex);
    const std::uint64_t ticket = ++m_asked;
    m_woken = true;
    m_wake.notify_one();
    return m_delivered.wait_for(lock, std::chrono::milliseconds(ms),
                                [&] { return m_answered >= ticket; });
}

bool JournalForwarder::healthy() const {
    std::lock_guard lock(m_mutex);
    return m_healthy;
}

qint64 JournalForwarder::deliveredSeq() const {
    std::lock_guard lock(m_mutex);
    return m_deliveredSeq;
}

void JournalForwarder::run() {
    const QString local = m_connection + QStringLiteral("-local");
    const QString server = m_connection + QStringLiteral("-server");
    bool connected = false;
    bool down = false; // the loss was told, the return not yet
    qint64 delivered = 0;
    // Unhealthy before the report is posted: whoever reads the report sees it so.
    const auto lost = [&](const QString& error) {
        {
            std::lock_guard lock(m_mutex);
            m_healthy = false;
        }
        if (!down)
            report(QStringLiteral("журнал на сервере недоступен: %1").arg(error));
        down = true;
    };
    for (bool first = true;; first = false) {
        std::uint64_t asked = 0;
        {
            std::unique_lock lock(m_mutex);
            if (!first)
                m_wake.wait_for(lock, std::chrono::milliseconds(m_options.intervalMs),
                                [&] { return m_stop || m_woken; });
            if (m_stop)
                break;
            m_woken = false;
            asked = m_asked;
        }
        // Rounds until the file has nothing more, or something fails.
        for (;;) {
            QString error;
            if (!connected) {
                connected = connectServer(server, m_source, delivered, error);
                if (!connected) {
                    lost(error);
                    break;
                }
            }
            std::vector<Change> changes;
            QString localError;
            const bool haveFile = QFileInfo::exists(m_fileName);
            if (haveFile && (!openLocal(local, m_fileName, localError) ||
                             !readChanges(local, delivered, m_options.batch, changes, localError)))
                break; // the console's journal reports its own file; try next round
            if (!changes.empty() && !deliver(server, m_source.console, changes, error)) {
                QSqlDatabase::database(server, false).close();
                connected = false;
                lost(error);
                break;
            }
            if (!changes.empty())
                delivered = changes.back().seq;
            if (haveFile)
                forget(local, delivered);
            {
                std::lock_guard lock(m_mutex);
                m_healthy = true;
                m_deliveredSeq = delivered;
                if (changes.empty())
                    m_answered = std::max(m_answered, asked);
            }
            m_delivered.notify_all();
            if (down)
                report(QStringLiteral("журнал на сервере снова доступен"));
            down = false;
            if (changes.empty())
                break;
            std::lock_guard lock(m_mutex);
            if (m_stop)
                break;
        }
    }
    closeConnection(local);
    closeConnection(server);
}

#include "journal/JournalWriter.h"

#include "journal/JournalSchema.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cerrno>
#include <cstring>
#include <type_traits>
#include <variant>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A new row takes a number above the last change's (the triggers of the schema write
// one for every row): numbers never given twice in a file, even once rows are pruned,
// and above those of any earlier file of this console (JournalSchema::firstNumbers). And
// above the table's own last number: a file of before the changes numbered its rows
// alone.
QString nextNumber(const QString& table) {
    return QStringLiteral("(SELECT MAX(COALESCE((SELECT seq FROM sqlite_sequence"
                          " WHERE name = 'changes'), 0), COALESCE((SELECT MAX(id) FROM %1), 0))"
                          " + 1)")
        .arg(table);
}

// SQLite's result codes as the driver hands them on.
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteNotADatabase = 26;

int nativeCode(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? code : -1;
}

// The driver gives no code for a failed COMMIT, only SQLite's message, whose wording
// for these results is fixed (sqlite3ErrStr).
bool isCorruption(const QSqlError& error) {
    const int code = nativeCode(error);
    return code == kSqliteCorrupt || code == kSqliteNotADatabase ||
           error.databaseText().contains(QStringLiteral("malformed")) ||
           error.databaseText().contains(QStringLiteral("not a database"));
}

bool isDiskFull(const QSqlError& error) {
    return nativeCode(error) == kSqliteFull ||
           error.databaseText().contains(QStringLiteral("disk is full"));
}

QVariant timeValue(const QDateTime& time) {
    return time.isValid() ? QVariant(time.toMSecsSinceEpoch()) : QVariant();
}

// Makes the file before SQLite does, so that it is born 0600 (SQLite would make it as the
// umask says) and the -wal and -shm files SQLite adds take its mode.
bool createPrivateFile(const QString& fileName, QString& error) {
    const QByteArray path = QFile::encodeName(fileName);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = QString::fromLocal8Bit(::strerror(errno));
        return false;
    }
    const bool ok = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    if (!ok)
        error = QString::fromLocal8Bit(::strerror(errno));
    return ok;
}

// A file whose first bytes are not SQLite's is no journal, whatever SQLite would make
// of it later; an empty file is a journal not yet begun.
bool hasSqliteHeader(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return true; // unreadable is a failure to retry, not a reason to move it aside
    if (file.size() == 0)
        return true;
    return file.read(16) == QByteArray("SQLite format 3\0", 16);
}

QString asideName(const QString& fileName) {
    const QString base = fileName + QStringLiteral(".corrupt-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = base;
    for (int n = 2; QFile::exists(name); ++n)
        name = base + QLatin1Char('-') + QString::number(n);
    return name;
}

} // namespace

JournalWriter::JournalWriter(QString connection, QString fileName, int keepDays)
    : m_connection(std::move(connection))
    , m_fileName(std::move(fileName))
    , m_keepDays(keepDays) {}

JournalWriter::~JournalWriter() {
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool JournalWriter::fail(const QSqlError& error) {
    // The database's words say what happened ("database or disk is full"); the
    // driver's only which step failed.
    lastDetail = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    lastDiskFull = isDiskFull(error);
    // A file that went bad under us is checked (and put aside) by the next open.
    if (isCorruption(error))
        close();
    return false;
}

bool JournalWriter::failWith(const QString& detail) {
    lastDetail = detail;
    lastDiskFull = false;
    return false;
}

void JournalWriter::close() {
    QSqlDatabase::database(m_connection, false).close();
    m_open = false;
}

bool JournalWriter::exec(QSqlQuery& query, const QString& text) {
    return query.exec(text) || fail(query.lastError());
}

bool JournalWriter::openFile(bool& corrupt) {
    corrupt = false;
    QString error;
    if (!QDir().mkpath(QFileInfo(m_fileName).absolutePath()))
        return failWith(QStringLiteral("нет папки %1").arg(QFileInfo(m_fileName).absolutePath()));
    if (!createPrivateFile(m_fileName, error))
        return failWith(error);
    if (!hasSqliteHeader(m_fileName)) {
        corrupt = true;
        return false;
    }
    QSqlDatabase db = QSqlDatabase::contains(m_connection)
                          ? QSqlDatabase::database(m_connection, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    if (!db.isValid())
        return failWith(QStringLiteral("нет драйвера SQLite"));
    db.setDatabaseName(m_fileName);
    // A reader's moment of checkpointing must not fail a write.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        return fail(db.lastError());
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA quick_check"))) {
        if (isCorruption(query.lastError())) {
            corrupt = true;
            query.finish();
            db.close();
            return false;
        }
        return fail(query.lastError());
    }
    if (!query.next() || query.value(0).toString() != QStringLiteral("ok")) {
        corrupt = true;
        query.finish();
        db.close();
        return false;
    }
    query.finish();
    // WAL: readers see the last committed state while the console writes. FULL: a
    // committed order survives a power cut too, not only a crash of the program; the
    // sync costs the worker, never the operator.
    if (!exec(query, QStringLiteral("PRAGMA journal_mode=WAL")))
        return false;
    if (!query.next() || query.value(0).toString() != QStringLiteral("wal"))
        return failWith(QStringLiteral("файл журнала не переходит в режим WAL"));
    query.finish();
    if (!exec(query, QStringLiteral("PRAGMA synchronous=FULL")) ||
        !exec(query, QStringLiteral("PRAGMA foreign_keys=ON")))
        return false;
    QString schemaError;
    if (!JournalSchema::upgrade(db, schemaError))
        return failWith(schemaError);
    for (const char* suffix : {"-wal", "-shm"})
        ::chmod(QFile::encodeName(m_fileName + QLatin1String(suffix)).constData(), 0600);
    m_open = true;
    return prune();
}

bool JournalWriter::ensureOpen() {
    if (m_open)
        return true;
    bool corrupt = false;
    if (openFile(corrupt))
        return true;
    if (!corrupt)
        return false;
    // The orders of a bad file cannot be had back by the console; keep the file for
    // whoever can, and go on with a new one so that today's orders are kept.
    const QString name = asideName(m_fileName);
    if (!QFile::rename(m_fileName, name))
        return failWith(QStringLiteral("повреждённый файл журнала не переименовывается"));
    if (QFile::exists(m_fileName + QStringLiteral("-wal")))
        QFile::rename(m_fileName + QStringLiteral("-wal"), name + QStringLiteral("-wal"));
    QFile::remove(m_fileName + QStringLiteral("-shm"));
    aside = name;
    m_rows.clear();
    return openFile(corrupt) ||
           (corrupt && failWith(QStringLiteral("новый файл журнала повреждён")));
}

bool JournalWriter::insertOrder(const JournalRecord& r, qint64& id) {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    // COALESCE: a null QString binds as NULL, and an empty order name is still a name.
    query.prepare(
        QStringLiteral(
            "INSERT INTO orders (id, console, kiosk, address, opened, sum, order_name, invoice,"
            " document, decision, decided, wait_s) VALUES (%1, COALESCE(?, ''), COALESCE(?, ''),"
            " COALESCE(?, ''), ?, ?, COALESCE(?, ''), COALESCE(?, ''), COALESCE(?, ''), ?, ?, ?)")
            .arg(nextNumber(QStringLiteral("orders"))));
    query.addBindValue(r.console);
    query.addBindValue(r.kiosk);
    query.addBindValue(r.address);
    query.addBindValue(r.opened.isValid() ? r.opened.toMSecsSinceEpoch()
                                          : QDateTime::currentMSecsSinceEpoch());
    query.addBindValue(r.sum);
    query.addBindValue(r.orderName);
    query.addBindValue(r.invoice);
    query.addBindValue(r.document);
    query.addBindValue(journalDecisionWord(r.decision));
    query.addBindValue(timeValue(r.decided));
    query.addBindValue(r.waitSeconds >= 0 ? QVariant(r.waitSeconds) : QVariant());
    if (!query.exec())
        return fail(query.lastError());
    id = query.lastInsertId().toLongLong();
    return true;
}

bool JournalWriter::updateOrder(qint64 id, JournalDecision decision, const QDateTime& decided,
                                double waitSeconds) {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("UPDATE orders SET decision = ?, decided = ?, wait_s = ?"
                                 " WHERE id = ?"));
    const bool open = decision == JournalDecision::Open;
    query.addBindValue(journalDecisionWord(decision));
    query.addBindValue(open ? QVariant() : timeValue(decided));
    query.addBindValue(open || waitSeconds < 0 ? QVariant() : QVariant(waitSeconds));
    query.addBindValue(id);
    return query.exec() || fail(query.lastError());
}

bool JournalWriter::insertPrint(qint64 id, const JournalPrint& p) {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(
        QStringLiteral(
            "INSERT INTO prints (id, order_id, at, printer_type, connection, printed, outcome)"
            " VALUES (%1, ?, ?, ?, COALESCE(?, ''), ?, COALESCE(?, ''))")
            .arg(nextNumber(QStringLiteral("prints"))));
    query.addBindValue(id);
    query.addBindValue(p.at.isValid() ? p.at.toMSecsSinceEpoch()
                                      : QDateTime::currentMSecsSinceEpoch());
    query.addBindValue(p.printerType);
    query.addBindValue(p.connection);
    query.addBindValue(p.printed ? 1 : 0);
    query.addBindValue(p.outcome);
    return query.exec() || fail(query.lastError());
}

bool JournalWriter::orderExists(qint64 id) {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("SELECT 1 FROM orders WHERE id = ?"));
    query.addBindValue(id);
    return query.exec() && query.next();
}

bool JournalWriter::insertEvent(const JournalEvent& e) {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("INSERT INTO events (id, at, kiosk, kind, text)"
                                 " VALUES (%1, ?, COALESCE(?, ''), ?, COALESCE(?, ''))")
                      .arg(nextNumber(QStringLiteral("events"))));
    query.addBindValue(e.at.isValid() ? e.at.toMSecsSinceEpoch()
                                      : QDateTime::currentMSecsSinceEpoch());
    query.addBindValue(e.kiosk);
    query.addBindValue(journalEventWord(e.kind));
    query.addBindValue(e.text);
    return query.exec() || fail(query.lastError());
}

bool JournalWriter::prune() {
    const qint64 cutoff =
        QDateTime::currentMSecsSinceEpoch() - qint64(m_keepDays) * 24 * 60 * 60 * 1000;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    const QStringList steps{
        QStringLiteral("DELETE FROM prints WHERE order_id IN"
                       " (SELECT id FROM orders WHERE opened < :cutoff)"),
        QStringLiteral("DELETE FROM orders WHERE opened < :cutoff"),
        QStringLiteral("DELETE FROM events WHERE at < :cutoff"),
    };
    for (const QString& step : steps) {
        query.prepare(step);
        query.bindValue(QStringLiteral(":cutoff"), cutoff);
        if (!query.exec())
            return fail(query.lastError());
    }
    return true;
}

bool JournalWriter::write(const std::vector<OrderJournal::Entry>& entries) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return fail(db.lastError());
    // Handles become rows only when the transaction holds: a batch written again after
    // a failure must not find the rows of its first attempt.
    std::unordered_map<OrderJournal::Handle, qint64> staged;
    const auto rowOf = [&](OrderJournal::Handle handle) -> qint64 {
        if (const auto it = staged.find(handle); it != staged.end())
            return it->second;
        if (const auto it = m_rows.find(handle); it != m_rows.end())
            return it->second;
        return 0; // a row of a file put aside since
    };
    bool ok = true;
    for (const auto& entry : entries) {
        ok = std::visit(
            [&](const auto& e) -> bool {
                using T = std::decay_t<decltype(e)>;
                if constexpr (std::is_same_v<T, OrderJournal::OpenedEntry>) {
                    qint64 id = 0;
                    if (!insertOrder(e.record, id))
                        return false;
                    staged[e.handle] = id;
                    return true;
                } else if constexpr (std::is_same_v<T, OrderJournal::DecidedEntry>) {
                    const qint64 id = rowOf(e.handle);
                    return id == 0 || updateOrder(id, e.decision, e.decided, e.waitSeconds);
                } else if constexpr (std::is_same_v<T, OrderJournal::PrintedEntry>) {
                    const qint64 id = rowOf(e.handle);
                    return id == 0 || insertPrint(id, e.print);
                } else if constexpr (std::is_same_v<T, OrderJournal::ReprintedEntry>) {
                    // The row may have been pruned since the list showed it; a print of
                    // nothing is dropped rather than failing the whole batch forever.
                    return !orderExists(e.rowId) || insertPrint(e.rowId, e.print);
                } else if constexpr (std::is_same_v<T, JournalEvent>) {
                    return insertEvent(e);
                } else {
                    return prune();
                }
            },
            entry);
        if (!ok)
            break;
    }
    if (ok && !db.commit())
        ok = fail(db.lastError());
    if (!ok) {
        db.rollback();
        return false;
    }
    m_rows.merge(staged);
    return true;
}

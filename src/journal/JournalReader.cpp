#include "journal/JournalReader.h"

#include "journal/OrderJournal.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <map>
#include <vector>

namespace {

// The list's and the export's columns: the same, without the invoice and the document,
// which are most of a row's bytes and which neither shows (the CSV of a year of orders
// read them all for nothing).
const QString kListColumns =
    QStringLiteral("o.id, o.console, o.kiosk, o.address, o.opened, o.sum, o.order_name, '',"
                   " '', o.decision, o.decided, o.wait_s,"
                   " (SELECT COUNT(*) FROM prints p WHERE p.order_id = o.id AND p.printed = 1)");

const QString kColumns =
    QStringLiteral("o.id, o.console, o.kiosk, o.address, o.opened, o.sum, o.order_name, o.invoice,"
                   " o.document, o.decision, o.decided, o.wait_s,"
                   " (SELECT COUNT(*) FROM prints p WHERE p.order_id = o.id AND p.printed = 1)");

// In UTC: a local time would ask the zone for every row read, and whoever shows a time
// turns it to local time anyway.
QDateTime timeOf(const QVariant& value) {
    return value.isNull() ? QDateTime()
                          : QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

JournalRecord recordOf(const QSqlQuery& q) {
    JournalRecord r;
    r.id = q.value(0).toLongLong();
    r.console = q.value(1).toString();
    r.kiosk = q.value(2).toString();
    r.address = q.value(3).toString();
    r.opened = timeOf(q.value(4));
    r.sum = q.value(5).toDouble();
    r.orderName = q.value(6).toString();
    r.invoice = q.value(7).toString();
    r.document = q.value(8).toString();
    r.decision = journalDecisionFromWord(q.value(9).toString()).value_or(JournalDecision::Open);
    r.decided = timeOf(q.value(10));
    r.waitSeconds = q.value(11).isNull() ? -1 : q.value(11).toDouble();
    r.printedCount = q.value(12).toInt();
    return r;
}

// The WHERE of a query, its values bound in the same order.
QString whereOf(const JournalQuery& query, QVariantList& values) {
    QStringList parts;
    if (query.from.isValid()) {
        parts << QStringLiteral("o.opened >= ?");
        values << query.from.toMSecsSinceEpoch();
    }
    if (query.to.isValid()) {
        parts << QStringLiteral("o.opened < ?");
        values << query.to.toMSecsSinceEpoch();
    }
    if (!query.kiosk.isEmpty()) {
        parts << QStringLiteral("o.kiosk = ?");
        values << query.kiosk;
    }
    if (query.decision) {
        parts << QStringLiteral("o.decision = ?");
        values << journalDecisionWord(*query.decision);
    }
    if (query.after) {
        parts << QStringLiteral("(o.opened < ? OR (o.opened = ? AND o.id < ?))");
        values << query.after->openedMs << query.after->openedMs << query.after->id;
    }
    return parts.isEmpty() ? QString()
                           : QStringLiteral(" WHERE ") + parts.join(QStringLiteral(" AND "));
}

// Prepares, binds and runs sql, with the reason of whichever step failed in error. A
// statement the server gives up on (its time out) fails already at the preparing; run
// unchecked, the driver would then execute a statement that is not there and report a
// syntax error instead of the reason.
bool run(QSqlQuery& q, const QString& sql, const QVariantList& values, QString& error) {
    if (!q.prepare(sql)) {
        error = q.lastError().text();
        return false;
    }
    for (const QVariant& value : values)
        q.addBindValue(value);
    if (!q.exec()) {
        error = q.lastError().text();
        return false;
    }
    return true;
}

double median(std::vector<double>& values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

JournalReader::JournalReader(const QString& folder)
    : m_fileName(OrderJournal::fileName(folder))
    , m_connection(QStringLiteral("orvanta-journal-reader-%1")
                       .arg(reinterpret_cast<quintptr>(this), 0, 16)) {}

JournalReader::JournalReader(const JournalSource& source)
    : m_source(source)
    , m_connection(QStringLiteral("orvanta-journal-reader-%1")
                       .arg(reinterpret_cast<quintptr>(this), 0, 16)) {}

JournalReader::~JournalReader() {
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool JournalReader::open() {
    const bool shared = m_source.shared();
    QSqlDatabase db = QSqlDatabase::contains(m_connection)
                          ? QSqlDatabase::database(m_connection, false)
                          : QSqlDatabase::addDatabase(
                                shared ? m_source.driver : QStringLiteral("QSQLITE"), m_connection);
    if (db.isOpen())
        return true;
    if (shared) {
        if (!m_source.error.isEmpty()) {
            m_lastError = m_source.error;
            return false;
        }
        if (!db.isValid()) {
            m_lastError = JournalSource::missingDriverText();
            return false;
        }
        m_source.configure(db);
        if (!db.open()) {
            m_lastError = db.lastError().text();
            return false;
        }
        return true;
    }
    if (!QFileInfo::exists(m_fileName)) {
        m_lastError = QStringLiteral("журнала заказов ещё нет");
        return false;
    }
    db.setDatabaseName(m_fileName);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
        m_lastError = db.lastError().text();
        return false;
    }
    return true;
}

QDateTime JournalReader::firstTime() {
    if (!open())
        return {};
    m_lastError.clear();
    QDateTime first;
    for (const QString& sql : {QStringLiteral("SELECT MIN(opened) FROM orders"),
                               QStringLiteral("SELECT MIN(at) FROM events")}) {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        if (!q.exec(sql) || !q.next()) {
            m_lastError = q.lastError().text();
            return {};
        }
        if (q.value(0).isNull())
            continue;
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(q.value(0).toLongLong());
        if (!first.isValid() || at < first)
            first = at;
    }
    return first;
}

JournalCursor JournalReader::cursorOf(const JournalRecord& record) {
    return {record.opened.toMSecsSinceEpoch(), record.id};
}

bool JournalReader::forEach(const JournalQuery& query,
                            const std::function<void(const JournalRecord&)>& row,
                            const std::function<bool(qint64 rowsSoFar)>& goOn) {
    if (!open())
        return false;
    m_lastError.clear();
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    QVariantList values;
    const QString where = whereOf(query, values);
    if (!run(q,
             QStringLiteral("SELECT ") + kListColumns + QStringLiteral(" FROM orders o") + where +
                 QStringLiteral(" ORDER BY o.opened DESC, o.id DESC"),
             values, m_lastError))
        return false;
    qint64 rows = 0;
    while (q.next()) {
        row(recordOf(q));
        if (++rows % kEachStep == 0 && goOn && !goOn(rows))
            break;
    }
    return true;
}

QList<JournalRecord> JournalReader::orders(const JournalQuery& query, int limit) {
    QList<JournalRecord> result;
    if (!open() || limit <= 0)
        return result;
    m_lastError.clear(); // the error of a read before is no error of this one
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        QVariantList values;
        const QString where = whereOf(query, values);
        values << limit;
        if (!run(q,
                 QStringLiteral("SELECT ") + kColumns + QStringLiteral(" FROM orders o") + where +
                     QStringLiteral(" ORDER BY o.opened DESC, o.id DESC LIMIT ?"),
                 values, m_lastError))
            return result;
        while (q.next())
            result << recordOf(q);
    }
    QSqlQuery p(db);
    p.setForwardOnly(true);
    if (!p.prepare(QStringLiteral("SELECT at, printer_type, connection, printed, outcome"
                                  " FROM prints WHERE order_id = ? ORDER BY at, id"))) {
        m_lastError = p.lastError().text();
        return {};
    }
    for (JournalRecord& r : result) {
        p.addBindValue(r.id);
        if (!p.exec()) {
            m_lastError = p.lastError().text();
            return {};
        }
        while (p.next())
            r.prints << JournalPrint{QDateTime::fromMSecsSinceEpoch(p.value(0).toLongLong()),
                                     p.value(1).toInt(), p.value(2).toString(),
                                     p.value(3).toInt() != 0, p.value(4).toString()};
        p.finish();
    }
    return result;
}

JournalSummary JournalReader::totals(const QDateTime& from, const QDateTime& to) {
    JournalSummary summary;
    if (!open())
        return summary;
    m_lastError.clear();
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!run(q,
             QStringLiteral("SELECT kiosk, decision, sum, wait_s FROM orders"
                            " WHERE opened >= ? AND opened < ?"),
             {from.toMSecsSinceEpoch(), to.toMSecsSinceEpoch()}, m_lastError))
        return summary;
    std::map<QString, JournalTotals> kiosks;
    std::map<QString, std::vector<double>> waits;
    std::vector<double> allWaits;
    const auto add = [](JournalTotals& t, JournalDecision decision, double sum,
                        const QVariant& wait) {
        JournalDecisionTotal& d = t.byDecision[decision];
        ++d.count;
        d.sum += sum;
        ++t.count;
        t.sum += sum;
        if (!wait.isNull()) {
            ++t.decided;
            t.longestWait = std::max(t.longestWait, wait.toDouble());
        }
    };
    while (q.next()) {
        const QString kiosk = q.value(0).toString();
        const JournalDecision decision =
            journalDecisionFromWord(q.value(1).toString()).value_or(JournalDecision::Open);
        const double sum = q.value(2).toDouble();
        const QVariant wait = q.value(3);
        JournalTotals& t = kiosks[kiosk];
        t.kiosk = kiosk;
        add(t, decision, sum, wait);
        add(summary.all, decision, sum, wait);
        if (!wait.isNull()) {
            waits[kiosk].push_back(wait.toDouble());
            allWaits.push_back(wait.toDouble());
        }
    }
    summary.all.medianWait = median(allWaits);

    // Availability from the connection events: the state at the start is the last event
    // before it; the part of the period still to come is no part of it.
    const qint64 start = from.toMSecsSinceEpoch();
    const qint64 end = std::min(to.toMSecsSinceEpoch(), QDateTime::currentMSecsSinceEpoch());
    if (end > start) {
        QSqlQuery e(QSqlDatabase::database(m_connection, false));
        e.setForwardOnly(true);
        if (!run(e,
                 QStringLiteral(
                     "SELECT kiosk, kind, at FROM events WHERE at < ? ORDER BY kiosk, at, id"),
                 {end}, m_lastError))
            return summary;
        struct Walk {
            bool connected = false;
            qint64 since = 0;
            qint64 up = 0;
        };
        std::map<QString, Walk> walks;
        while (e.next()) {
            const QString kiosk = e.value(0).toString();
            const qint64 at = std::clamp(e.value(2).toLongLong(), start, end);
            auto [it, fresh] = walks.try_emplace(kiosk, Walk{false, start, 0});
            Walk& w = it->second;
            if (w.connected)
                w.up += at - w.since;
            w.since = at;
            w.connected =
                journalEventFromWord(e.value(1).toString()) == JournalEventKind::Connected;
        }
        double shares = 0;
        int known = 0;
        for (auto& [kiosk, w] : walks) {
            if (w.connected)
                w.up += end - w.since;
            JournalTotals& t = kiosks[kiosk];
            t.kiosk = kiosk;
            t.availability = static_cast<double>(w.up) / static_cast<double>(end - start);
            shares += t.availability;
            ++known;
        }
        if (known > 0)
            summary.all.availability = shares / known;
    }
    for (auto& [kiosk, t] : kiosks) {
        t.medianWait = median(waits[kiosk]);
        summary.kiosks << t;
    }
    return summary;
}

QList<JournalEvent> JournalReader::events(const QDateTime& from, const QDateTime& to) {
    QList<JournalEvent> result;
    if (!open())
        return result;
    m_lastError.clear();
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!run(q,
             QStringLiteral("SELECT at, kiosk, kind, text FROM events"
                            " WHERE at >= ? AND at < ? ORDER BY at, id"),
             {from.toMSecsSinceEpoch(), to.toMSecsSinceEpoch()}, m_lastError))
        return result;
    while (q.next())
        result << JournalEvent{
            QDateTime::fromMSecsSinceEpoch(q.value(0).toLongLong()), q.value(1).toString(),
            journalEventFromWord(q.value(2).toString()).value_or(JournalEventKind::Connected),
            q.value(3).toString()};
    return result;
}

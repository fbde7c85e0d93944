// The order journal's figures: what recording one payment costs the operator's thread
// (the calls made when an order window opens and when it is decided, with a 50-line
// order; the journal's own calls, and the console's recorder around them), the journal
// tab opening on a journal of 1 000 000 orders and the next page as the list scrolls,
// "Итоги" over 100 000 orders, and the CSV of all 1 000 000.
//
// The big journal takes a while to make, so it stays in the benchmark's build folder
// (journal_data/ beside the program) and is made again only when the file's schema
// version is not this program's, its row count is off, or its newest orders are not of
// today (the tab opens on today's orders).
#include "journal/JournalCsv.h"
#include "journal/JournalEvent.h"
#include "journal/JournalForwarder.h"
#include "journal/JournalQuery.h"
#include "journal/JournalReader.h"
#include "journal/JournalRecord.h"
#include "journal/JournalSchema.h"
#include "journal/OrderJournal.h"
#include "kiosk/ClientThread.h"
#include "ui/JournalModel.h"
#include "ui/JournalRecorder.h"
#include "ui/JournalTab.h"

#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariant>

#include <benchmark/benchmark.h>

#ifdef ORVANTA_BENCH_POSTGRES
#include "PostgresSupport.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr qint64 kBigRows = 1000000;
constexpr qint64 kTotalsRows = 100000;
// A fleet of 100 kiosks taking about 100 orders a day each: a million orders is 100 days.
constexpr int kKiosks = 100;
constexpr int kDays = 100;

// Rows of the big journal carry a short order: a million 50-line documents would be
// several gigabytes on the disk, and the lists, totals and CSV read the same columns
// whatever their length.
QString shortDocument(qint64 n, double sum) {
    return QStringLiteral("<order><name>%1</name><invoice><item><shortname>Капучино</shortname>"
                          "<value>1</value><price>%2</price><totalprice>%2</totalprice></item>"
                          "<price>%2</price></invoice></order>")
        .arg(n)
        .arg(sum, 0, 'f', 2);
}

// Writes into nothing, counting the bytes: the CSV's figure is the reading and the
// formatting, not the disk.
class DiscardDevice : public QIODevice {
public:
    DiscardDevice() { open(QIODevice::WriteOnly); }
    qint64 written() const { return m_written; }

protected:
    qint64 readData(char* /*data*/, qint64 /*max*/) override { return -1; }
    qint64 writeData(const char* /*data*/, qint64 length) override {
        m_written += length;
        return length;
    }

private:
    qint64 m_written = 0;
};

QString dataFolder(const QString& name) {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/journal_data/") + name;
}

struct BigJournal {
    QString folder;
    bool ok = false;
    QString error;
    double madeSeconds = 0; // 0 when the file of an earlier run was taken
};

// The file of an earlier run is taken when it has this program's schema, every row, and
// orders of today.
bool usable(const QString& fileName, qint64 rows) {
    if (!QFile::exists(fileName))
        return false;
    const QString name = QStringLiteral("bench-check");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(fileName);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open() && JournalSchema::version(db) == JournalSchema::kCurrentVersion) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("SELECT COUNT(*), MAX(opened) FROM orders")) && q.next())
                ok = q.value(0).toLongLong() == rows &&
                     QDateTime::fromMSecsSinceEpoch(q.value(1).toLongLong()).date() ==
                         QDate::currentDate();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

JournalDecision decisionOf(qint64 i) {
    switch (i % 100) {
    case 0:
        return JournalDecision::Closed;
    case 1:
    case 2:
        return JournalDecision::Ended;
    case 3:
    case 4:
    case 5:
    case 6:
        return JournalDecision::Returned;
    default:
        return i % 100 < 15 ? JournalDecision::Cancelled : JournalDecision::Confirmed;
    }
}

bool execAll(QSqlDatabase& db, const QStringList& statements, QString& error) {
    QSqlQuery q(db);
    for (const QString& statement : statements)
        if (!q.exec(statement)) {
            error = statement + QStringLiteral(": ") + q.lastError().text();
            return false;
        }
    return true;
}

// The orders of the last kDays days up to now, oldest first, each kiosk in turn; a
// confirmed order has its receipt printed; each kiosk loses its connection for five
// minutes once a day.
bool fill(QSqlDatabase& db, qint64 rows, QString& error) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 start = now - qint64(kDays) * 24 * 3600 * 1000;
    const qint64 step = (now - start) / rows;
    if (!db.transaction()) {
        error = db.lastError().text();
        return false;
    }
    QSqlQuery order(db);
    order.prepare(QStringLiteral(
        "INSERT INTO orders (console, kiosk, address, opened, sum, order_name, invoice,"
        " document, decision, decided, wait_s) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    QSqlQuery print(db);
    print.prepare(QStringLiteral(
        "INSERT INTO prints (order_id, at, printer_type, connection, printed, outcome)"
        " VALUES (?, ?, ?, ?, 1, '')"));
    QStringList kiosks;
    QStringList addresses;
    for (int k = 0; k < kKiosks; ++k) {
        kiosks << QStringLiteral("Киоск %1").arg(k + 1);
        addresses << QStringLiteral("192.168.%1.%2").arg(k / 200).arg(k % 200 + 10);
    }
    const QString console = QStringLiteral("Касса 1");
    const QString printer = QStringLiteral("192.168.0.40:9100");
    const QString invoice = QStringLiteral("Капучино  1 x %1 = %1\r\nИтого: %1");
    for (qint64 i = 0; i < rows; ++i) {
        const qint64 opened = start + i * step;
        const double sum = 100 + double((i * 37) % 4900);
        const JournalDecision decision = decisionOf(i);
        const double wait = 5 + double((i * 13) % 120);
        const qint64 decided = opened + qint64(wait * 1000);
        const QString amount = QString::number(sum, 'f', 2);
        order.bindValue(0, console);
        order.bindValue(1, kiosks[int(i % kKiosks)]);
        order.bindValue(2, addresses[int(i % kKiosks)]);
        order.bindValue(3, opened);
        order.bindValue(4, sum);
        order.bindValue(5, QString::number(i + 1));
        order.bindValue(6, invoice.arg(amount));
        order.bindValue(7, shortDocument(i + 1, sum));
        order.bindValue(8, journalDecisionWord(decision));
        order.bindValue(9, decided);
        order.bindValue(10, wait);
        if (!order.exec()) {
            error = order.lastError().text();
            db.rollback();
            return false;
        }
        if (decision == JournalDecision::Confirmed) {
            print.bindValue(0, order.lastInsertId());
            print.bindValue(1, decided + 2000);
            print.bindValue(2, 2);
            print.bindValue(3, printer);
            if (!print.exec()) {
                error = print.lastError().text();
                db.rollback();
                return false;
            }
        }
    }
    QSqlQuery event(db);
    event.prepare(
        QStringLiteral("INSERT INTO events (at, kiosk, kind, text) VALUES (?, ?, ?, '')"));
    const auto addEvent = [&](qint64 at, const QString& kiosk, JournalEventKind kind) {
        event.bindValue(0, at);
        event.bindValue(1, kiosk);
        event.bindValue(2, journalEventWord(kind));
        return event.exec();
    };
    for (int k = 0; k < kKiosks; ++k) {
        bool ok = addEvent(start - 60000, kiosks[k], JournalEventKind::Connected);
        for (int d = 0; ok && d < kDays; ++d) {
            const qint64 lost = start + qint64(d) * 24 * 3600 * 1000 + qint64(k) * 60000;
            ok = addEvent(lost, kiosks[k], JournalEventKind::Lost) &&
                 addEvent(lost + 5 * 60000, kiosks[k], JournalEventKind::Connected);
        }
        if (!ok) {
            error = event.lastError().text();
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        error = db.lastError().text();
        return false;
    }
    return true;
}

// Makes the file with the journal's own tables and fills it through one prepared
// statement in one transaction, without syncing: a few seconds instead of the
// minutes a row at a time would take. It ends in WAL mode, as the console leaves it.
BigJournal makeJournal(const QString& folder, qint64 rows) {
    BigJournal result;
    result.folder = folder;
    const QString fileName = OrderJournal::fileName(result.folder);
    if (usable(fileName, rows)) {
        result.ok = true;
        return result;
    }
    QDir().mkpath(result.folder);
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(fileName + suffix);
    QElapsedTimer clock;
    clock.start();
    const QString connection = QStringLiteral("bench-make");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(fileName);
        if (!db.open()) {
            result.error = db.lastError().text();
        } else if (execAll(db,
                           {QStringLiteral("PRAGMA journal_mode = OFF"),
                            QStringLiteral("PRAGMA synchronous = OFF"),
                            QStringLiteral("PRAGMA cache_size = -200000")},
                           result.error) &&
                   JournalSchema::upgrade(db, result.error) && fill(db, rows, result.error) &&
                   execAll(db,
                           {QStringLiteral("ANALYZE"), QStringLiteral("PRAGMA journal_mode = WAL")},
                           result.error)) {
            result.ok = true;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    result.madeSeconds = clock.elapsed() / 1000.0;
    if (result.ok)
        std::fprintf(stderr, "journal of %lld orders made in %.1f s: %s\n",
                     static_cast<long long>(rows), result.madeSeconds, qPrintable(fileName));
    return result;
}

const BigJournal& millionOrders() {
    static const BigJournal journal =
        makeJournal(dataFolder(QStringLiteral("orders_1000000")), kBigRows);
    return journal;
}

bool haveMillion(benchmark::State& state) {
    const BigJournal& journal = millionOrders();
    if (!journal.ok)
        state.SkipWithError(qPrintable(QStringLiteral("journal not made: ") + journal.error));
    return journal.ok;
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// One payment as the console records it: the order window opens (its row with the
// order document and invoice), the operator decides, the receipt comes out. Argument 0:
// the journal's worker has written the previous payment (a console at an ordinary pace);
// 1: payments back to back, so the worker writes while the next one is queued.
void recordPayment(benchmark::State& state) {
    const bool backToBack = state.range(0) == 1;
    QTemporaryDir dir;
    OrderJournal journal(dir.path());
    JournalRecord base;
    base.console = QStringLiteral("Касса 1");
    base.kiosk = QStringLiteral("Киоск №1");
    base.address = QStringLiteral("192.168.0.17");
    base.sum = 14700;
    base.orderName = QStringLiteral("125");
    base.invoice = bench::fiftyLineInvoice();
    base.document = bench::fiftyLineDocument();
    JournalPrint print;
    print.printerType = 2;
    print.connection = QStringLiteral("192.168.0.40:9100");
    print.printed = true;
    double longest = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        JournalRecord record = base;
        record.opened = QDateTime::currentDateTime();
        const OrderJournal::Handle handle = journal.orderOpened(record);
        const QDateTime decided = QDateTime::currentDateTime();
        journal.orderDecided(handle, JournalDecision::Confirmed, decided, 12.5);
        print.at = decided;
        journal.orderPrinted(handle, print);
        const double took = msSince(start);
        state.SetIterationTime(took / 1000.0);
        longest = std::max(longest, took);
        if (!backToBack && !journal.flush(10000)) {
            state.SkipWithError("the journal did not write");
            break;
        }
    }
    if (!journal.flush(60000) || !journal.healthy())
        state.SkipWithError("the journal did not write everything");
    state.counters["max_ms"] = longest;
    state.counters["document_bytes"] = static_cast<double>(base.document.toUtf8().size());
}

// The same payment through the console's recorder, as the order window calls it: the
// row is made from the kiosk's record (its lock taken; the order's name is read from the
// document later, on the journal's thread), then the decision and one receipt (shown in
// the preview, which records its print at once; a printed one is recorded the same way
// when the spooler ends it). Beside the wall time, the thread's own CPU time: on a busy
// two-core machine the longest wall time is mostly the thread waiting for a core.
void recordPaymentRecorder(benchmark::State& state) {
    const bool backToBack = state.range(0) == 1;
    QTemporaryDir dir;
    JournalRecorder recorder(dir.path(), QString());
    auto device = TDeviceItem::Create(QStringLiteral("192.168.0.17"), 4001);
    device->Name = QStringLiteral("Киоск №1");
    {
        TDeviceLock lock(*device);
        device->OrderBilled = 14700;
        device->Invoice = bench::fiftyLineInvoice();
        device->OrderXML = bench::fiftyLineDocument();
    }
    const QString printer = QStringLiteral("Окно просмотра");
    const auto threadCpuMs = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
    };
    std::vector<double> took;
    double cpuLongest = 0;
    for (auto _ : state) {
        const double cpuStart = threadCpuMs();
        const auto start = std::chrono::steady_clock::now();
        const OrderJournal::Handle handle = recorder.orderOpened(*device);
        recorder.orderDecided(handle, JournalDecision::Confirmed, 12.5);
        recorder.receiptShown(handle, printer);
        took.push_back(msSince(start));
        cpuLongest = std::max(cpuLongest, threadCpuMs() - cpuStart);
        state.SetIterationTime(took.back() / 1000.0);
        if (handle == 0) {
            state.SkipWithError("the recorder recorded nothing");
            break;
        }
        if (!backToBack && !recorder.flush(10000)) {
            state.SkipWithError("the journal did not write");
            break;
        }
    }
    if (!recorder.flush(60000))
        state.SkipWithError("the journal did not write everything");
    std::sort(took.begin(), took.end());
    if (!took.empty()) {
        state.counters["p99_ms"] = took[took.size() * 99 / 100];
        state.counters["max_ms"] = took.back();
    }
    state.counters["cpu_max_ms"] = cpuLongest;
}

// Runs the event loop until the tab's answers of the journal have come (they are read on
// a thread of the tab); false when they have not within a minute.
bool untilRead(const TJournalTab& tab) {
    const auto start = std::chrono::steady_clock::now();
    // Sleeps until an event comes (the answer is one); the tick only checks the bound.
    QTimer tick;
    tick.start(100);
    while (tab.isReading()) {
        if (msSince(start) > 60000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    QCoreApplication::processEvents();
    return true;
}

// The tab made and shown until its first page is on the screen, as when the operator
// first opens "Журнал заказов". Each iteration opens the file anew, as a new tab does.
void journalTabOpen(benchmark::State& state) {
    if (!haveMillion(state))
        return;
    const QString folder = millionOrders().folder;
    double longest = 0;
    int firstPage = 0;
    qint64 inPeriod = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        auto tab = std::make_unique<TJournalTab>(folder);
        tab->resize(1200, 800);
        tab->show();
        if (!untilRead(*tab)) {
            state.SkipWithError("the first page never came");
            break;
        }
        const double took = msSince(start);
        state.SetIterationTime(took / 1000.0);
        longest = std::max(longest, took);
        firstPage = tab->model()->rowCount();
        if (inPeriod == 0) {
            JournalReader reader(folder);
            const JournalQuery query = tab->currentQuery();
            inPeriod = reader.totals(query.from, query.to).all.count;
        }
        tab.reset();
    }
    state.counters["max_ms"] = longest;
    state.counters["first_page_rows"] = firstPage;
    state.counters["orders_in_period"] = static_cast<double>(inPeriod);
}

// The next page as the list scrolls down: the model reads it after the last row and the
// view takes the new rows in. (The view asks for it when scrolled to the end; here it is
// asked directly, so that every iteration is exactly one page.)
void journalTabScroll(benchmark::State& state) {
    if (!haveMillion(state))
        return;
    auto tab = std::make_unique<TJournalTab>(millionOrders().folder);
    tab->resize(1200, 800);
    tab->show();
    if (!untilRead(*tab)) {
        state.SkipWithError("the first page never came");
        return;
    }
    JournalModel* model = tab->model();
    double longest = 0;
    for (auto _ : state) {
        if (!model->canFetchMore()) {
            // The period's end: the list starts over, outside the figure.
            model->setQuery(tab->currentQuery());
            if (!untilRead(*tab)) {
                state.SkipWithError("the first page never came");
                break;
            }
        }
        const auto start = std::chrono::steady_clock::now();
        const int before = model->rowCount();
        model->fetchMore();
        if (!untilRead(*tab)) {
            state.SkipWithError("the page never came");
            break;
        }
        const double took = msSince(start);
        state.SetIterationTime(took / 1000.0);
        longest = std::max(longest, took);
        if (model->rowCount() <= before) {
            state.SkipWithError("no page came");
            break;
        }
    }
    state.counters["max_ms"] = longest;
    state.counters["page_rows"] = JournalModel::kPageSize;
    state.counters["rows_listed"] = model->rowCount();
}

// "Итоги" of the period of the newest 100 000 orders of the million.
void totals100k(benchmark::State& state) {
    if (!haveMillion(state))
        return;
    JournalReader reader(millionOrders().folder);
    if (!reader.open()) {
        state.SkipWithError(qPrintable(reader.lastError()));
        return;
    }
    QDateTime from;
    {
        // The 100 000th newest order's time starts the period.
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-period"));
        db.setDatabaseName(OrderJournal::fileName(millionOrders().folder));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            q.prepare(
                QStringLiteral("SELECT opened FROM orders ORDER BY opened DESC, id DESC LIMIT 1"
                               " OFFSET ?"));
            q.addBindValue(kTotalsRows - 1);
            if (q.exec() && q.next())
                from = QDateTime::fromMSecsSinceEpoch(q.value(0).toLongLong());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-period"));
    if (!from.isValid()) {
        state.SkipWithError("the period could not be found");
        return;
    }
    const QDateTime to = QDateTime::currentDateTime().addSecs(60);
    double longest = 0;
    int counted = 0;
    int kiosks = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const JournalSummary summary = reader.totals(from, to);
        const double took = msSince(start);
        state.SetIterationTime(took / 1000.0);
        longest = std::max(longest, took);
        counted = summary.all.count;
        kiosks = static_cast<int>(summary.kiosks.size());
    }
    state.counters["max_ms"] = longest;
    state.counters["orders"] = counted;
    state.counters["kiosks"] = kiosks;
}

// The CSV of every order of the million, into a device that keeps nothing.
void csvMillion(benchmark::State& state) {
    if (!haveMillion(state))
        return;
    JournalReader reader(millionOrders().folder);
    JournalQuery query;
    query.from = QDateTime::currentDateTime().addDays(-kDays - 1);
    query.to = QDateTime::currentDateTime().addDays(1);
    qint64 bytes = 0;
    for (auto _ : state) {
        DiscardDevice out;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = JournalCsv::write(reader, query, out);
        state.SetIterationTime(msSince(start) / 1000.0);
        if (!ok) {
            state.SkipWithError(qPrintable(reader.lastError()));
            break;
        }
        bytes = out.written();
    }
    state.counters["orders"] = static_cast<double>(kBigRows);
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["orders_per_s"] = benchmark::Counter(
        static_cast<double>(kBigRows), benchmark::Counter::kIsIterationInvariantRate);
}

#ifdef ORVANTA_BENCH_POSTGRES
// Rows per second handed on to a shared PostgreSQL journal over loopback: a local journal
// of 20 000 orders (with their prints and the kiosks' connection events), all of it not
// yet delivered, from the forwarder's start until the server has every change.
void rowsToPostgres(benchmark::State& state) {
    constexpr qint64 kRows = 20000;
    journaltest::PostgresServer server;
    if (!server.available() || !server.start()) {
        state.SkipWithError(qPrintable(QStringLiteral("no PostgreSQL: ") + server.error()));
        return;
    }
    QTemporaryDir dir;
    const BigJournal local = makeJournal(dir.path(), kRows);
    if (!local.ok) {
        state.SkipWithError(qPrintable(local.error));
        return;
    }
    qint64 changes = 0;
    {
        const QString name = QStringLiteral("bench-changes");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(OrderJournal::fileName(local.folder));
            QSqlQuery q(db);
            if (db.open() && q.exec(QStringLiteral("SELECT COUNT(*) FROM changes")) && q.next())
                changes = q.value(0).toLongLong();
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    int database = 0;
    for (auto _ : state) {
        // Each round starts with an empty shared journal, so that every change travels.
        const QString name = QStringLiteral("journal%1").arg(++database);
        if (!server.createDatabase(name)) {
            state.SkipWithError(qPrintable(server.error()));
            break;
        }
        const auto start = std::chrono::steady_clock::now();
        JournalForwarder forwarder(local.folder, server.source(name, QStringLiteral("Касса 1")));
        forwarder.wake();
        const bool delivered = forwarder.flush(600000);
        state.SetIterationTime(msSince(start) / 1000.0);
        if (!delivered) {
            state.SkipWithError("the forwarder did not deliver everything");
            break;
        }
    }
    state.counters["changes"] = static_cast<double>(changes);
    state.counters["rows_per_s"] = benchmark::Counter(
        static_cast<double>(changes), benchmark::Counter::kIsIterationInvariantRate);
}
#endif

} // namespace

BENCHMARK(recordPayment)
    ->ArgName("back_to_back")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(2000)
    ->UseManualTime();
BENCHMARK(recordPaymentRecorder)
    ->ArgName("back_to_back")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(2000)
    ->UseManualTime();
BENCHMARK(journalTabOpen)->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();
BENCHMARK(journalTabScroll)->Unit(benchmark::kMillisecond)->Iterations(20)->UseManualTime();
BENCHMARK(totals100k)->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();
BENCHMARK(csvMillion)->Unit(benchmark::kMillisecond)->Iterations(2)->UseManualTime();
#ifdef ORVANTA_BENCH_POSTGRES
BENCHMARK(rowsToPostgres)->Unit(benchmark::kMillisecond)->Iterations(2)->UseManualTime();
#endif

int main(int argc, char** argv) {
    return bench::runConsoleBenchmarks(argc, argv);
}

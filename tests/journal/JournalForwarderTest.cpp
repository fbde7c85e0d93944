#include "journal/JournalForwarder.h"
#include "JournalSupport.h"
#include "PostgresSupport.h"
#include "TestUtil.h"
#include "journal/JournalReader.h"
#include "journal/OrderJournal.h"

#include <QFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

#include <sys/stat.h>

namespace {

// NULL stays NULL: a decision not made is no decision at 0.
QString shown(const QVariant& value) {
    return value.isNull() ? QStringLiteral("NULL") : value.toString();
}

using journaltest::now;
using journaltest::PostgresServer;
using journaltest::Reports;

const QString kDatabase = QStringLiteral("journal");

// One console: its own data folder and journal, and the forwarder to the shared journal,
// woken by every write as the console wires it.
struct Console {
    Console(const PostgresServer& server, const QString& name)
        : source(server.source(kDatabase, name)) {
        start();
    }

    // The journal and its forwarder, as the console makes them at its start.
    void start() {
        journal = std::make_unique<OrderJournal>(dir.path(), JournalOptions{}, reports.handler());
        forwarder = std::make_unique<JournalForwarder>(
            dir.path(), source, JournalForwarderOptions{100, 7}, reports.handler());
        journal->setWrittenHandler([f = forwarder.get()] { f->wake(); });
    }
    void stop() {
        journal.reset();
        forwarder.reset();
    }

    // Order n: opened, printed, decided (every third left open), and a kiosk event.
    void write(int n) {
        JournalRecord r = journaltest::record(n % 3 + 1, now());
        r.orderName = QStringLiteral("N-%1").arg(n);
        const OrderJournal::Handle handle = journal->orderOpened(r);
        journal->orderPrinted(handle, {now(), 1, QStringLiteral("COM1"), n % 2 == 0,
                                       n % 2 ? QStringLiteral("нет бумаги") : QString()});
        if (n % 3)
            journal->orderDecided(handle, JournalDecision::Confirmed, now(), n);
        journal->kioskEvent(
            {now(), r.kiosk, n % 2 ? JournalEventKind::Lost : JournalEventKind::Connected, {}});
    }

    QTemporaryDir dir;
    Reports reports;
    JournalSource source;
    std::unique_ptr<OrderJournal> journal;
    std::unique_ptr<JournalForwarder> forwarder;
};

class JournalForwarderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_server.available())
            GTEST_SKIP() << m_server.error().toStdString();
        ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
        ASSERT_TRUE(m_server.createDatabase(kDatabase)) << m_server.error().toStdString();
    }

    QList<QVariantList> select(const QString& sql) const { return m_server.select(kDatabase, sql); }
    qint64 count(const QString& sql) const { return select(sql).value(0).value(0).toLongLong(); }

    // Both consoles' journals and forwarders have everything written so far on the
    // server.
    static void settle(Console& a, Console& b) {
        for (Console* c : {&a, &b}) {
            ASSERT_TRUE(c->journal->flush(10000));
            ASSERT_TRUE(c->forwarder->flush(20000));
        }
    }

    // Every local row of console is on the server once, with its state, in the order it
    // was written. thisFileOnly: the server may have rows of an earlier file of the
    // console too, numbered below this file's.
    void expectDelivered(Console& c, const QString& name, bool thisFileOnly = false) {
        const QString file = OrderJournal::fileName(c.dir.path());
        struct Table {
            const char* table;
            const char* columns;
        };
        for (const Table& t :
             {Table{"orders", "id, kiosk, opened, sum, order_name, decision, decided, wait_s"},
              Table{"prints", "id, at, printer_type, connection, printed, outcome"},
              Table{"events", "id, at, kiosk, kind, text"}}) {
            const QString columns = QString::fromLatin1(t.columns);
            const QString table = QString::fromLatin1(t.table);
            const QList<QVariantList> local = journaltest::select(
                file, QStringLiteral("SELECT %1 FROM %2 ORDER BY id").arg(columns, table));
            ASSERT_FALSE(local.isEmpty()) << t.table;
            const qint64 first = thisFileOnly ? local[0][0].toLongLong() : 0;
            // The shared row's own id is the order of arrival.
            const QList<QVariantList> shared =
                select(QStringLiteral("SELECT %1 FROM %2 WHERE console = '%3' AND local_id >= %4"
                                      " ORDER BY id")
                           .arg(QString(columns).replace(QStringLiteral("id,"),
                                                         QStringLiteral("local_id,")),
                                table, name)
                           .arg(first));
            ASSERT_EQ(shared.size(), local.size()) << t.table << " of " << name.toStdString();
            for (int i = 0; i < local.size(); ++i)
                for (int j = 0; j < local[i].size(); ++j)
                    EXPECT_EQ(shown(shared[i][j]), shown(local[i][j]))
                        << t.table << " row " << i << " column " << j << " of "
                        << name.toStdString();
        }
        // Each print belongs to the shared row of its own order.
        EXPECT_EQ(
            count(QStringLiteral("SELECT COUNT(*) FROM prints p JOIN orders o ON"
                                 " o.id = p.order_id WHERE p.console = '%1' AND"
                                 " o.console = '%1'")
                      .arg(name)),
            count(QStringLiteral("SELECT COUNT(*) FROM prints WHERE console = '%1'").arg(name)));
        // Delivered changes are forgotten by the file.
        EXPECT_EQ(journaltest::select(file, QStringLiteral("SELECT COUNT(*) FROM changes"))
                      .value(0)
                      .value(0)
                      .toInt(),
                  0);
    }

    PostgresServer m_server;
};

TEST_F(JournalForwarderTest, TwoConsolesRowsArriveOnceWithTheirConsole) {
    Console a(m_server, QStringLiteral("Касса 1"));
    Console b(m_server, QStringLiteral("Касса 2"));
    for (int n = 0; n < 12; ++n)
        (n % 2 ? a : b).write(n);
    settle(a, b);
    expectDelivered(a, QStringLiteral("Касса 1"));
    expectDelivered(b, QStringLiteral("Касса 2"));
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM orders")), 12);
    EXPECT_EQ(count(QStringLiteral("SELECT delivered_seq FROM journal_consoles"
                                   " WHERE console = 'Касса 1'")),
              a.forwarder->deliveredSeq());
    EXPECT_TRUE(a.reports.texts.isEmpty()) << a.reports.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(b.reports.texts.isEmpty()) << b.reports.texts.join(QLatin1Char('|')).toStdString();
}

TEST_F(JournalForwarderTest, AServerAwayMeanwhileGetsEveryRowOnceInOrderWhenBack) {
    Console a(m_server, QStringLiteral("Касса 1"));
    Console b(m_server, QStringLiteral("Касса 2"));
    for (int n = 0; n < 6; ++n)
        (n % 2 ? a : b).write(n);
    settle(a, b);

    ASSERT_TRUE(m_server.stop()) << m_server.error().toStdString();
    for (int n = 6; n < 40; ++n)
        (n % 2 ? a : b).write(n);
    for (Console* c : {&a, &b}) {
        ASSERT_TRUE(c->journal->flush(10000));
        ASSERT_TRUE(testutil::waitUntil([&] { return !c->reports.texts.isEmpty(); }, 20000));
        EXPECT_FALSE(c->forwarder->healthy());
    }
    testutil::pump(500); // more rounds against the stopped server tell nothing more
    ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
    settle(a, b);
    testutil::pump(200);

    expectDelivered(a, QStringLiteral("Касса 1"));
    expectDelivered(b, QStringLiteral("Касса 2"));
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM orders")), 40);
    for (Console* c : {&a, &b}) {
        ASSERT_EQ(c->reports.texts.size(), 2)
            << c->reports.texts.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(
            c->reports.texts[0].startsWith(QStringLiteral("журнал на сервере недоступен: ")))
            << c->reports.texts[0].toStdString();
        EXPECT_GT(c->reports.texts[0].size(), 30);
        EXPECT_EQ(c->reports.texts[1], QStringLiteral("журнал на сервере снова доступен"));
        EXPECT_TRUE(c->forwarder->healthy());
    }
}

TEST_F(JournalForwarderTest, AForwarderStartedAgainGoesOnWhereTheServerSaysItStopped) {
    Console a(m_server, QStringLiteral("Касса 1"));
    Console b(m_server, QStringLiteral("Касса 2"));
    for (int n = 0; n < 8; ++n)
        (n % 2 ? a : b).write(n);
    settle(a, b);
    // A new forwarder knows nothing but what the server keeps.
    a.forwarder = std::make_unique<JournalForwarder>(
        a.dir.path(), m_server.source(kDatabase, QStringLiteral("Касса 1")),
        JournalForwarderOptions{100, 500});
    a.journal->setWrittenHandler([f = a.forwarder.get()] { f->wake(); });
    for (int n = 8; n < 14; ++n)
        a.write(n);
    settle(a, b);
    expectDelivered(a, QStringLiteral("Касса 1"));
    expectDelivered(b, QStringLiteral("Касса 2"));
}

// A console whose file went bad starts a new one; the new file's rows must neither land
// on the shared rows of the old file (the same console, the same row numbers) nor wait
// behind the old file's delivered position.
TEST_F(JournalForwarderTest, ANewLocalFileKeepsTheSharedRowsOfTheOldOne) {
    Console a(m_server, QStringLiteral("Касса 1"));
    Console b(m_server, QStringLiteral("Касса 2"));
    for (int n = 0; n < 6; ++n)
        a.write(n);
    b.write(100);
    settle(a, b);

    a.stop();
    const QString file = OrderJournal::fileName(a.dir.path());
    for (const char* suffix : {"-wal", "-shm"})
        QFile::remove(file + QLatin1String(suffix));
    testutil::writeFile(file, QByteArray("this is not a journal any more").repeated(200));
    a.start();
    for (int n = 6; n < 10; ++n)
        a.write(n);
    settle(a, b);

    ASSERT_TRUE(testutil::waitUntil([&] { return !a.reports.texts.isEmpty(); }, 5000));
    EXPECT_TRUE(a.reports.texts[0].contains(QStringLiteral("повреждён")))
        << a.reports.texts.join(QLatin1Char('|')).toStdString();
    QStringList names;
    for (const QVariantList& row :
         select(QStringLiteral("SELECT order_name FROM orders WHERE console = 'Касса 1'"
                               " ORDER BY order_name")))
        names << row.value(0).toString();
    EXPECT_EQ(names,
              (QStringList{QStringLiteral("N-0"), QStringLiteral("N-1"), QStringLiteral("N-2"),
                           QStringLiteral("N-3"), QStringLiteral("N-4"), QStringLiteral("N-5"),
                           QStringLiteral("N-6"), QStringLiteral("N-7"), QStringLiteral("N-8"),
                           QStringLiteral("N-9")}));
    // The new file's rows and their prints and events all arrived, each once.
    expectDelivered(a, QStringLiteral("Касса 1"), true);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM prints WHERE console = 'Касса 1'")), 10);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM events WHERE console = 'Касса 1'")), 10);
}

// A table another session holds locked keeps a read waiting on the server: the server
// gives the statement up and the reader says why, rather than holding the window that
// asked for good; once the lock is gone the same reader reads again.
TEST_F(JournalForwarderTest, AReadTheServerHoldsUpIsGivenUp) {
    Console a(m_server, QStringLiteral("Касса 1"));
    Console b(m_server, QStringLiteral("Касса 2"));
    a.write(1);
    b.write(2);
    settle(a, b);

    JournalSource source = m_server.source(kDatabase, QStringLiteral("Касса 1"));
    const QString name = QStringLiteral("journaltest-locker");
    {
        QSqlDatabase locker = QSqlDatabase::addDatabase(source.driver, name);
        locker.setHostName(source.host);
        locker.setPort(source.port);
        locker.setDatabaseName(source.database);
        locker.setUserName(source.user);
        ASSERT_TRUE(locker.open()) << locker.lastError().text().toStdString();
        ASSERT_TRUE(locker.transaction());
        QSqlQuery lock(locker);
        ASSERT_TRUE(lock.exec(QStringLiteral("LOCK TABLE orders IN ACCESS EXCLUSIVE MODE")))
            << lock.lastError().text().toStdString();

        source.statementTimeoutMs = 300;
        JournalReader reader(source);
        ASSERT_TRUE(reader.open()) << reader.lastError().toStdString();
        EXPECT_TRUE(reader.orders({}, 10).isEmpty());
        EXPECT_TRUE(reader.lastError().contains(QStringLiteral("statement timeout")))
            << reader.lastError().toStdString();

        locker.rollback();
        EXPECT_EQ(reader.orders({}, 10).size(), 2);
        EXPECT_TRUE(reader.lastError().isEmpty()) << reader.lastError().toStdString();
        locker.close();
    }
    QSqlDatabase::removeDatabase(name);
}

TEST_F(JournalForwarderTest, TheReaderPagesAndTotalsTheSharedJournalOfBothConsoles) {
    Console a(m_server, QStringLiteral("Касса 1"));
    Console b(m_server, QStringLiteral("Касса 2"));
    for (int n = 0; n < 17; ++n)
        (n % 3 ? a : b).write(n);
    settle(a, b);

    JournalReader shared(m_server.source(kDatabase, QStringLiteral("Касса 1")));
    JournalReader localA(a.dir.path());
    JournalReader localB(b.dir.path());

    QList<JournalRecord> paged;
    JournalQuery query;
    for (;;) {
        const QList<JournalRecord> page = shared.orders(query, 4);
        ASSERT_TRUE(shared.lastError().isEmpty()) << shared.lastError().toStdString();
        if (page.isEmpty())
            break;
        paged << page;
        query.after = JournalReader::cursorOf(page.back());
    }
    ASSERT_EQ(paged.size(), 17);
    QSet<qint64> ids;
    QMap<QString, int> perConsole;
    int printed = 0;
    for (int i = 0; i < paged.size(); ++i) {
        ids.insert(paged[i].id);
        ++perConsole[paged[i].console];
        printed += paged[i].printedCount;
        EXPECT_EQ(paged[i].prints.size(), 1);
        if (i > 0) {
            EXPECT_GE(paged[i - 1].opened, paged[i].opened);
        }
    }
    EXPECT_EQ(ids.size(), 17);
    EXPECT_EQ(perConsole.value(QStringLiteral("Касса 1")), 11);
    EXPECT_EQ(perConsole.value(QStringLiteral("Касса 2")), 6);
    EXPECT_EQ(printed, 9); // the even orders printed

    int each = 0;
    ASSERT_TRUE(shared.forEach({}, [&](const JournalRecord&) { ++each; }))
        << shared.lastError().toStdString();
    EXPECT_EQ(each, 17);

    const QDateTime from = now().addDays(-1);
    const QDateTime to = now().addDays(1);
    const JournalSummary all = shared.totals(from, to);
    ASSERT_TRUE(shared.lastError().isEmpty()) << shared.lastError().toStdString();
    const JournalSummary one = localA.totals(from, to);
    const JournalSummary two = localB.totals(from, to);
    EXPECT_EQ(all.all.count, 17);
    EXPECT_EQ(all.all.count, one.all.count + two.all.count);
    EXPECT_DOUBLE_EQ(all.all.sum, one.all.sum + two.all.sum);
    EXPECT_EQ(all.all.decided, one.all.decided + two.all.decided);
    EXPECT_EQ(all.kiosks.size(), 3);
    EXPECT_EQ(shared.events(from, to).size(), 17);
}

// --- the password file -------------------------------------------------------------

struct PasswordCase {
    const char* name;
    mode_t mode;
    bool refused;
};

class PasswordFileTest : public ::testing::TestWithParam<PasswordCase> {};

TEST_P(PasswordFileTest, OnlyAFileOfItsOwnerAloneIsRead) {
    QTemporaryDir dir;
    const QString password = dir.filePath(QStringLiteral("journal.password"));
    testutil::writeFile(password, "секрет-1\n");
    ASSERT_EQ(::chmod(QFile::encodeName(password).constData(), GetParam().mode), 0);
    const QString ini = dir.filePath(QStringLiteral("console.ini"));
    testutil::writeFile(ini, QStringLiteral("[Journal]\nDriver=QPSQL\nHost=db.local\nPort=6543\n"
                                            "Database=orvanta\nUser=kassa\nPasswordFile=%1\n"
                                            "Console=Касса 3\n")
                                 .arg(password)
                                 .toUtf8());

    const JournalSource source = JournalSource::fromIni(ini);
    EXPECT_TRUE(source.shared());
    EXPECT_EQ(source.host, QStringLiteral("db.local"));
    EXPECT_EQ(source.port, 6543);
    EXPECT_EQ(source.database, QStringLiteral("orvanta"));
    EXPECT_EQ(source.user, QStringLiteral("kassa"));
    EXPECT_EQ(source.console, QStringLiteral("Касса 3"));
    if (GetParam().refused) {
        EXPECT_TRUE(source.password.isEmpty());
        EXPECT_TRUE(source.error.contains(QStringLiteral("доступен не только владельцу")))
            << source.error.toStdString();
        EXPECT_TRUE(source.error.contains(password));
        // Nothing reads a journal with it: the reader says why.
        JournalReader reader(source);
        EXPECT_FALSE(reader.open());
        EXPECT_EQ(reader.lastError(), source.error);
    } else {
        EXPECT_EQ(source.password, QStringLiteral("секрет-1"));
        EXPECT_TRUE(source.error.isEmpty()) << source.error.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, PasswordFileTest,
                         ::testing::Values(PasswordCase{"Owner", 0600, false},
                                           PasswordCase{"OwnerReadOnly", 0400, false},
                                           PasswordCase{"Group", 0640, true},
                                           PasswordCase{"Others", 0604, true},
                                           PasswordCase{"Everyone", 0644, true}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(JournalSourceTest, WithoutTheSectionTheJournalIsTheLocalFile) {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("console.ini"));
    testutil::writeFile(ini, "[Main]\nX=1\n");
    const JournalSource source = JournalSource::fromIni(ini);
    EXPECT_FALSE(source.shared());
    EXPECT_EQ(source.driver, QStringLiteral("QSQLITE"));
    EXPECT_EQ(source.port, 5432);
    EXPECT_FALSE(source.console.isEmpty());
    EXPECT_TRUE(source.error.isEmpty());
}

} // namespace

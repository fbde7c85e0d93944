#include "journal/OrderJournal.h"
#include "JournalSupport.h"
#include "TestUtil.h"
#include "journal/JournalReader.h"
#include "journal/JournalSchema.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>

namespace {

using journaltest::now;
using journaltest::record;
using journaltest::Reports;
using journaltest::select;

JournalQuery everything() {
    return {};
}

// --- written at open, updated at the decision -------------------------------------

class DecisionTest : public ::testing::TestWithParam<JournalDecision> {};

TEST_P(DecisionTest, RecordReadsBackWhole) {
    QTemporaryDir dir;
    OrderJournal journal(dir.path());
    const QString file = OrderJournal::fileName(dir.path());
    JournalRecord r = record(3, now().addSecs(-60));
    const OrderJournal::Handle handle = journal.orderOpened(r);
    ASSERT_TRUE(journal.flush(10000));

    // The row is there before anyone decided, as open.
    auto rows = select(file, QStringLiteral("SELECT decision, decided, wait_s FROM orders"));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0][0].toString(), QStringLiteral("open"));
    EXPECT_TRUE(rows[0][1].isNull());
    EXPECT_TRUE(rows[0][2].isNull());

    const JournalPrint failed{r.opened.addSecs(5), 3, QStringLiteral("192.168.0.40:9100"), false,
                              QStringLiteral("нет бумаги")};
    const JournalPrint printed{r.opened.addSecs(9), 0, QStringLiteral("Receipts"), true, {}};
    journal.orderPrinted(handle, failed);
    journal.orderPrinted(handle, printed);
    const QDateTime decided = r.opened.addMSecs(12345);
    journal.orderDecided(handle, GetParam(), decided, 12.345);
    journal.kioskEvent({r.opened.addSecs(20), r.kiosk, JournalEventKind::Lost,
                        QStringLiteral("Соединение разорвано")});
    ASSERT_TRUE(journal.flush(10000));

    JournalReader reader(dir.path());
    const QList<JournalRecord> read = reader.orders(everything(), 10);
    ASSERT_EQ(read.size(), 1) << reader.lastError().toStdString();
    const JournalRecord& got = read[0];
    EXPECT_GT(got.id, 0);
    EXPECT_EQ(got.console, r.console);
    EXPECT_EQ(got.kiosk, r.kiosk);
    EXPECT_EQ(got.address, r.address);
    EXPECT_EQ(got.opened, r.opened);
    EXPECT_DOUBLE_EQ(got.sum, r.sum);
    EXPECT_EQ(got.orderName, r.orderName);
    EXPECT_EQ(got.invoice, r.invoice);
    EXPECT_EQ(got.document, r.document);
    EXPECT_EQ(got.decision, GetParam());
    if (GetParam() == JournalDecision::Open) {
        EXPECT_FALSE(got.decided.isValid());
        EXPECT_LT(got.waitSeconds, 0);
    } else {
        EXPECT_EQ(got.decided, decided);
        EXPECT_DOUBLE_EQ(got.waitSeconds, 12.345);
    }
    EXPECT_EQ(got.printedCount, 1);
    ASSERT_EQ(got.prints.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const JournalPrint& want = i == 0 ? failed : printed;
        EXPECT_EQ(got.prints[i].at, want.at);
        EXPECT_EQ(got.prints[i].printerType, want.printerType);
        EXPECT_EQ(got.prints[i].connection, want.connection);
        EXPECT_EQ(got.prints[i].printed, want.printed);
        EXPECT_EQ(got.prints[i].outcome, want.outcome);
    }
    rows = select(file, QStringLiteral("SELECT at, kiosk, kind, text FROM events"));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0][0].toLongLong(), r.opened.addSecs(20).toMSecsSinceEpoch());
    EXPECT_EQ(rows[0][1].toString(), r.kiosk);
    EXPECT_EQ(rows[0][2].toString(), QStringLiteral("lost"));
    EXPECT_EQ(rows[0][3].toString(), QStringLiteral("Соединение разорвано"));
}

INSTANTIATE_TEST_SUITE_P(Decisions, DecisionTest,
                         ::testing::Values(JournalDecision::Confirmed, JournalDecision::Cancelled,
                                           JournalDecision::Returned, JournalDecision::Ended,
                                           JournalDecision::Closed, JournalDecision::Open),
                         [](const auto& p) { return journalDecisionWord(p.param).toStdString(); });

TEST(OrderJournal, EventKindsAreStoredAsTheirWords) {
    QTemporaryDir dir;
    OrderJournal journal(dir.path());
    const struct {
        JournalEventKind kind;
        const char* word;
    } cases[] = {{JournalEventKind::Connected, "connected"},
                 {JournalEventKind::Lost, "lost"},
                 {JournalEventKind::Refused, "refused"}};
    for (const auto& c : cases)
        journal.kioskEvent({now(), QStringLiteral("Киоск 1"), c.kind, QString::fromUtf8(c.word)});
    ASSERT_TRUE(journal.flush(10000));
    const auto rows = select(OrderJournal::fileName(dir.path()),
                             QStringLiteral("SELECT kind, text FROM events ORDER BY id"));
    ASSERT_EQ(rows.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[i][0].toString(), QString::fromUtf8(cases[i].word));
        EXPECT_EQ(rows[i][1].toString(), QString::fromUtf8(cases[i].word));
    }
}

// --- WAL: read while the journal writes ------------------------------------------

TEST(OrderJournal, AnotherConnectionReadsWhileTheJournalWrites) {
    QTemporaryDir dir;
    OrderJournal journal(dir.path());
    for (int n = 1; n <= 10; ++n)
        journal.orderOpened(record(n, now().addSecs(-n)));
    ASSERT_TRUE(journal.flush(10000));
    EXPECT_EQ(select(OrderJournal::fileName(dir.path()), QStringLiteral("PRAGMA journal_mode"))
                  .value(0)
                  .value(0)
                  .toString(),
              QStringLiteral("wal"));

    JournalReader reader(dir.path());
    int seen = 0;
    bool writtenMeanwhile = false;
    // The reader holds its read open over the whole walk; in WAL mode the journal's
    // commits go through meanwhile (a rollback journal would keep them waiting for the
    // reader), and the reader keeps seeing the state it began with.
    ASSERT_TRUE(reader.forEach(everything(), [&](const JournalRecord&) {
        if (seen++ == 0) {
            for (int n = 11; n <= 15; ++n)
                journal.orderOpened(record(n, now()));
            writtenMeanwhile = journal.flush(4000);
        }
    })) << reader.lastError().toStdString();
    EXPECT_TRUE(writtenMeanwhile);
    EXPECT_EQ(seen, 10);
    EXPECT_EQ(reader.orders(everything(), 100).size(), 15);
}

// --- the file is the owner's only ------------------------------------------------

class FileModeTest : public ::testing::TestWithParam<mode_t> {};

TEST_P(FileModeTest, FileAndItsWalAre0600) {
    QTemporaryDir dir;
    const mode_t old = ::umask(GetParam());
    {
        OrderJournal journal(dir.path());
        journal.orderOpened(record(1, now()));
        ASSERT_TRUE(journal.flush(10000));
        for (const char* suffix : {"", "-wal", "-shm"}) {
            struct stat st {};
            const QString name = OrderJournal::fileName(dir.path()) + QLatin1String(suffix);
            ASSERT_EQ(::stat(QFile::encodeName(name).constData(), &st), 0) << suffix;
            EXPECT_EQ(st.st_mode & 07777, mode_t(0600)) << suffix;
        }
    }
    ::umask(old);
}

INSTANTIATE_TEST_SUITE_P(Umasks, FileModeTest, ::testing::Values(mode_t(0), mode_t(022)));

// --- schema versions -------------------------------------------------------------

QStringList schemaOf(const QString& file) {
    QStringList shape;
    for (const QVariantList& row :
         select(file, QStringLiteral("SELECT type, name, sql FROM sqlite_master ORDER BY name")))
        shape << row[0].toString() + QLatin1Char(' ') + row[1].toString() + QLatin1Char(' ') +
                     row[2].toString();
    return shape;
}

TEST(OrderJournal, AVersion1FileOpensInTheCurrentVersionWithItsRows) {
    QTemporaryDir dir;
    QTemporaryDir fresh;
    const QString file = OrderJournal::fileName(dir.path());
    const qint64 opened = now().addDays(-1).toMSecsSinceEpoch();
    QStringList script = JournalSchema::version1();
    script << QStringLiteral("PRAGMA user_version = 1")
           << QStringLiteral("INSERT INTO orders (id, kiosk, address, opened, sum, order_name,"
                             " invoice, document, decision, decided, wait_s) VALUES"
                             " (7, 'Киоск 2', '10.0.0.2:5000', %1, 730, 'Б-7', 'счёт', '<o/>',"
                             " 'confirmed', %2, 8.5),"
                             " (8, 'Киоск 3', '10.0.0.3:5000', %3, 15, '', '', '', 'open',"
                             " NULL, NULL)")
                  .arg(opened)
                  .arg(opened + 8500)
                  .arg(opened + 60000)
           << QStringLiteral("INSERT INTO prints (order_id, at, printer_type, connection,"
                             " printed, outcome) VALUES (7, %1, 3, 'COM1', 1, '')")
                  .arg(opened + 9000)
           << QStringLiteral("INSERT INTO events (at, kiosk, kind, text) VALUES"
                             " (%1, 'Киоск 2', 'connected', '')")
                  .arg(opened);
    journaltest::execute(file, script);
    ASSERT_EQ(select(file, QStringLiteral("PRAGMA user_version")).value(0).value(0).toInt(), 1);

    {
        OrderJournal journal(dir.path());
        JournalRecord r = record(4, now());
        r.console = QStringLiteral("Касса 2");
        journal.orderOpened(r);
        ASSERT_TRUE(journal.flush(10000));
        OrderJournal made(fresh.path());
        ASSERT_TRUE(made.flush(10000));
    }
    EXPECT_EQ(select(file, QStringLiteral("PRAGMA user_version")).value(0).value(0).toInt(),
              JournalSchema::kCurrentVersion);
    // Brought forward, the old file has the shape of a file made new, and the lists
    // read it by the index on opened.
    EXPECT_EQ(schemaOf(file), schemaOf(OrderJournal::fileName(fresh.path())));
    EXPECT_EQ(select(file, QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type ="
                                          " 'index' AND name = 'orders_opened'"))
                  .value(0)
                  .value(0)
                  .toInt(),
              1);

    JournalReader reader(dir.path());
    const QList<JournalRecord> rows = reader.orders(everything(), 10);
    ASSERT_EQ(rows.size(), 3) << reader.lastError().toStdString();
    EXPECT_EQ(rows[0].console, QStringLiteral("Касса 2"));
    EXPECT_EQ(rows[1].id, 8);
    EXPECT_EQ(rows[1].console, QString());
    EXPECT_EQ(rows[1].decision, JournalDecision::Open);
    EXPECT_EQ(rows[2].id, 7);
    EXPECT_EQ(rows[2].kiosk, QStringLiteral("Киоск 2"));
    EXPECT_EQ(rows[2].orderName, QStringLiteral("Б-7"));
    EXPECT_DOUBLE_EQ(rows[2].sum, 730);
    EXPECT_EQ(rows[2].decision, JournalDecision::Confirmed);
    EXPECT_DOUBLE_EQ(rows[2].waitSeconds, 8.5);
    EXPECT_EQ(rows[2].printedCount, 1);
    EXPECT_EQ(select(file, QStringLiteral("SELECT COUNT(*) FROM events")).value(0).value(0), 1);
    // The rows the old file had are named for sharing before the one written since.
    QStringList changes;
    for (const QVariantList& row :
         select(file, QStringLiteral("SELECT tbl, row_id FROM changes ORDER BY seq")))
        changes << row[0].toString() + QLatin1Char(' ') + row[1].toString();
    EXPECT_EQ(changes, (QStringList{QStringLiteral("orders 7"), QStringLiteral("orders 8"),
                                    QStringLiteral("prints 1"), QStringLiteral("events 1"),
                                    QStringLiteral("orders 9")}));
}

TEST(OrderJournal, EveryWriteAndChangeIsNamedInChangesInTheOrderOfWriting) {
    QTemporaryDir dir;
    {
        OrderJournal journal(dir.path());
        const OrderJournal::Handle a = journal.orderOpened(record(1, now()));
        const OrderJournal::Handle b = journal.orderOpened(record(2, now()));
        journal.kioskEvent({now(), QStringLiteral("Киоск 1"), JournalEventKind::Connected, {}});
        journal.orderDecided(b, JournalDecision::Confirmed, now(), 3);
        journal.orderPrinted(b, {now(), 1, QStringLiteral("COM1"), true, {}});
        journal.orderDecided(a, JournalDecision::Cancelled, now(), 5);
        ASSERT_TRUE(journal.flush(10000));
    }
    const QString file = OrderJournal::fileName(dir.path());
    const auto idOf = [&](const char* sql) {
        return QStringLiteral(" ") +
               select(file, QString::fromLatin1(sql)).value(0).value(0).toString();
    };
    const QString a = QStringLiteral("orders") + idOf("SELECT MIN(id) FROM orders");
    const QString b = QStringLiteral("orders") + idOf("SELECT MAX(id) FROM orders");
    const QString event = QStringLiteral("events") + idOf("SELECT id FROM events");
    const QString print = QStringLiteral("prints") + idOf("SELECT id FROM prints");
    QStringList changes;
    for (const QVariantList& row :
         select(file, QStringLiteral("SELECT tbl, row_id FROM changes ORDER BY seq")))
        changes << row[0].toString() + QLatin1Char(' ') + row[1].toString();
    EXPECT_EQ(changes, (QStringList{a, b, event, b, print, a}));
}

// Row numbers are never given twice: not after the rows are pruned, and not by a new file
// that follows one put aside (a shared journal knows the console's rows by them).
TEST(OrderJournal, RowNumbersAreNeverGivenAgain) {
    QTemporaryDir dir;
    const QString file = OrderJournal::fileName(dir.path());
    const auto ids = [&] {
        QList<qint64> out;
        for (const char* table : {"orders", "prints", "events"})
            for (const QVariantList& row :
                 select(file, QStringLiteral("SELECT id FROM %1").arg(QString::fromLatin1(table))))
                out << row.value(0).toLongLong();
        return out;
    };
    const auto writeSome = [&](int days) {
        OrderJournal journal(dir.path(), {days, 50});
        for (int n = 1; n <= 3; ++n) {
            const OrderJournal::Handle h = journal.orderOpened(record(n, now()));
            journal.orderPrinted(h, {now(), 1, QStringLiteral("COM1"), true, {}});
            journal.kioskEvent({now(), QStringLiteral("Киоск 1"), JournalEventKind::Lost, {}});
        }
        EXPECT_TRUE(journal.flush(10000));
    };
    writeSome(400);
    QList<qint64> seen = ids();
    ASSERT_EQ(seen.size(), 9);

    // Everything pruned: an old journal's rows, kept one day, at a start a year later.
    journaltest::execute(file, {QStringLiteral("UPDATE orders SET opened = opened - 31536000000"),
                                QStringLiteral("UPDATE events SET at = at - 31536000000")});
    writeSome(1);
    QList<qint64> fresh = ids();
    ASSERT_EQ(fresh.size(), 9);
    for (qint64 id : fresh)
        EXPECT_FALSE(seen.contains(id)) << id;
    seen << fresh;

    // The file goes bad and a new one begins.
    for (const char* suffix : {"-wal", "-shm"})
        QFile::remove(file + QLatin1String(suffix));
    testutil::writeFile(file, QByteArray("not a journal").repeated(300));
    writeSome(400);
    fresh = ids();
    ASSERT_EQ(fresh.size(), 9);
    for (qint64 id : fresh)
        EXPECT_GT(id, *std::max_element(seen.begin(), seen.end()));
}

TEST(OrderJournal, AFileOfANewerProgramIsLeftAloneAndReported) {
    QTemporaryDir dir;
    const QString file = OrderJournal::fileName(dir.path());
    journaltest::execute(file, JournalSchema::version1()
                                   << QStringLiteral("PRAGMA user_version = 99"));
    Reports reports;
    OrderJournal journal(dir.path(), {400, 50}, reports.handler());
    journal.orderOpened(record(1, now()));
    ASSERT_TRUE(testutil::waitUntil([&] { return !reports.texts.isEmpty(); }, 10000));
    EXPECT_TRUE(reports.texts[0].contains(QStringLiteral("более новой версией")))
        << reports.texts[0].toStdString();
    EXPECT_EQ(select(file, QStringLiteral("PRAGMA user_version")).value(0).value(0).toInt(), 99);
    EXPECT_EQ(journal.queued(), 1u);
}

// --- a bad file at start ----------------------------------------------------------

struct CorruptCase {
    const char* name;
    QByteArray bytes;
};

class CorruptTest : public ::testing::TestWithParam<CorruptCase> {};

TEST_P(CorruptTest, IsPutAsideAndANewJournalBegins) {
    QTemporaryDir dir;
    const QString file = OrderJournal::fileName(dir.path());
    testutil::writeFile(file, GetParam().bytes);
    Reports reports;
    {
        OrderJournal journal(dir.path(), {}, reports.handler());
        journal.orderOpened(record(1, now()));
        ASSERT_TRUE(journal.flush(10000));
        journal.orderOpened(record(2, now()));
        ASSERT_TRUE(journal.flush(10000));
        ASSERT_TRUE(testutil::waitUntil([&] { return !reports.texts.isEmpty(); }, 10000));
        testutil::pump(200);
    }
    ASSERT_EQ(reports.texts.size(), 1) << reports.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(reports.texts[0].contains(QStringLiteral("повреждён")));

    const QStringList aside =
        QDir(dir.path())
            .entryList({QStringLiteral("journal.sqlite.corrupt-*")}, QDir::Files, QDir::Name);
    ASSERT_EQ(aside.size(), 1) << aside.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^journal\\.sqlite\\.corrupt-\\d{8}-\\d{6}$"))
                    .match(aside[0])
                    .hasMatch())
        << aside[0].toStdString();
    EXPECT_TRUE(reports.texts[0].contains(aside[0]));
    EXPECT_EQ(testutil::readFile(dir.filePath(aside[0])), GetParam().bytes);

    JournalReader reader(dir.path());
    EXPECT_EQ(reader.orders(everything(), 10).size(), 2) << reader.lastError().toStdString();
    EXPECT_EQ(select(file, QStringLiteral("PRAGMA quick_check")).value(0).value(0).toString(),
              QStringLiteral("ok"));
}

QByteArray garbage(int size, char seed) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + seed * 7) ^ (i >> 3));
    return bytes;
}

QByteArray headerThenGarbage() {
    // SQLite's own first 16 bytes, then pages of nonsense: passes a look at the magic,
    // only SQLite can tell it is no database.
    return QByteArray("SQLite format 3\0", 16) + garbage(8192, 5);
}

INSTANTIATE_TEST_SUITE_P(Files, CorruptTest,
                         ::testing::Values(CorruptCase{"Garbage", garbage(4096, 1)},
                                           CorruptCase{"SqliteHeaderThenGarbage",
                                                       headerThenGarbage()},
                                           CorruptCase{"Text", QByteArray("not a journal\n")}),
                         [](const auto& p) { return std::string(p.param.name); });

// --- a full disk ------------------------------------------------------------------

TEST(OrderJournal, AFullDiskIsReportedOnceAndTheQueuedRowsArriveOnceThereIsRoom) {
    QTemporaryDir dir;
    const QString mountPoint = dir.filePath(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    journaltest::Tmpfs tmpfs(mountPoint, QStringLiteral("1m"));
    if (!tmpfs.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << tmpfs.error().toStdString();

    Reports reports;
    OrderJournal journal(mountPoint, {400, 50}, reports.handler());
    ASSERT_TRUE(journal.flush(10000));
    const QString filler = mountPoint + QStringLiteral("/filler");
    ASSERT_GT(journaltest::fillUp(filler), 0);

    QList<JournalRecord> sent;
    for (int n = 1; n <= 5; ++n) {
        JournalRecord r = record(n, now().addSecs(n));
        r.document = QString(50000, QLatin1Char('a' + n));
        const OrderJournal::Handle handle = journal.orderOpened(r);
        journal.orderDecided(handle, JournalDecision::Confirmed, r.opened.addSecs(3), 3);
        r.decision = JournalDecision::Confirmed;
        sent << r;
    }
    ASSERT_TRUE(testutil::waitUntil([&] { return !reports.texts.isEmpty(); }, 10000));
    EXPECT_TRUE(reports.texts[0].contains(QStringLiteral("нет места")))
        << reports.texts[0].toStdString();
    // Several retries fail meanwhile; the operator hears of it once.
    testutil::pump(500);
    EXPECT_FALSE(journal.healthy());
    EXPECT_EQ(journal.queued(), 10u);
    EXPECT_EQ(reports.texts.size(), 1);

    ASSERT_TRUE(QFile::remove(filler));
    ASSERT_TRUE(journal.flush(20000));
    EXPECT_TRUE(journal.healthy());
    EXPECT_EQ(reports.texts.size(), 1);

    JournalReader reader(mountPoint);
    const QList<JournalRecord> got = reader.orders(everything(), 10);
    ASSERT_EQ(got.size(), 5) << reader.lastError().toStdString();
    for (int i = 0; i < 5; ++i) {
        const JournalRecord& want = sent[4 - i];
        EXPECT_EQ(got[i].orderName, want.orderName);
        EXPECT_EQ(got[i].document, want.document);
        EXPECT_EQ(got[i].decision, JournalDecision::Confirmed);
    }
}

// --- killed in the middle of a burst ----------------------------------------------

class KilledTest : public ::testing::TestWithParam<int> {};

TEST_P(KilledTest, EveryOrderReportedWrittenIsInTheFileAfterKill9) {
    QTemporaryDir dir;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(testutil::binaryPath(QStringLiteral("tests/journal/journal-burst")),
                {dir.path(), QStringLiteral("100")});
    ASSERT_TRUE(child.waitForStarted(10000)) << child.errorString().toStdString();
    QByteArray out;
    const auto written = [&] { return out.count("written "); };
    while (written() < GetParam() && child.state() == QProcess::Running) {
        child.waitForReadyRead(1000);
        out += child.readAllStandardOutput();
    }
    ASSERT_GE(written(), GetParam()) << out.toStdString();
    child.kill(); // SIGKILL: no destructor, no last write
    ASSERT_TRUE(child.waitForFinished(10000));
    out += child.readAllStandardOutput();
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit) << "finished before it was killed";

    QList<int> reported;
    for (const QByteArray& line : out.split('\n'))
        if (line.startsWith("written "))
            reported << line.mid(8).toInt();
    ASSERT_GE(reported.size(), GetParam());

    const QString file = OrderJournal::fileName(dir.path());
    EXPECT_EQ(select(file, QStringLiteral("PRAGMA quick_check")).value(0).value(0).toString(),
              QStringLiteral("ok"));
    Reports reports;
    {
        OrderJournal journal(dir.path(), {}, reports.handler());
        ASSERT_TRUE(journal.flush(10000));
        testutil::pump(100);
    }
    EXPECT_TRUE(reports.texts.isEmpty()) << reports.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("*.corrupt-*")}).isEmpty());

    QHash<QString, QVariantList> rows;
    for (const QVariantList& row :
         select(file, QStringLiteral("SELECT o.order_name, o.decision, (SELECT COUNT(*) FROM"
                                     " prints p WHERE p.order_id = o.id) FROM orders o")))
        rows.insert(row[0].toString(), row);
    for (int n : reported) {
        const QString name = QStringLiteral("burst-%1").arg(n);
        ASSERT_TRUE(rows.contains(name)) << name.toStdString();
        EXPECT_EQ(rows[name][1].toString(), QStringLiteral("confirmed")) << n;
        EXPECT_EQ(rows[name][2].toInt(), 1) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(KillPoints, KilledTest, ::testing::Values(1, 30, 70));

// --- keeping keepDays days ----------------------------------------------------------

struct AgeCase {
    int ageDays;
    bool kept;
};

class PruneTest : public ::testing::TestWithParam<AgeCase> {};

TEST_P(PruneTest, RowsOlderThanKeepDaysGoAtOpenAndWhenAsked) {
    const QDateTime opened = now().addDays(-GetParam().ageDays);
    const qsizetype expected = GetParam().kept ? 1 : 0;
    const auto count = [](const QString& file, const char* table) {
        return select(file, QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table)))
            .value(0)
            .value(0)
            .toInt();
    };

    // At open: written by a journal that keeps longer, opened by one that keeps 400 days.
    QTemporaryDir atOpen;
    const QString file = OrderJournal::fileName(atOpen.path());
    {
        OrderJournal journal(atOpen.path(), {100000, 2000});
        const auto handle = journal.orderOpened(record(1, opened));
        journal.orderPrinted(handle, {opened, 3, QStringLiteral("COM1"), true, {}});
        journal.kioskEvent({opened, QStringLiteral("Киоск 1"), JournalEventKind::Refused, {}});
        ASSERT_TRUE(journal.flush(10000));
        ASSERT_EQ(count(file, "orders"), 1);
    }
    {
        OrderJournal journal(atOpen.path());
        ASSERT_TRUE(journal.flush(10000));
    }
    EXPECT_EQ(count(file, "orders"), expected);
    EXPECT_EQ(count(file, "prints"), expected);
    EXPECT_EQ(count(file, "events"), expected);

    // When asked: the console runs for days, so rows age while it is open.
    QTemporaryDir asked;
    const QString askedFile = OrderJournal::fileName(asked.path());
    OrderJournal journal(asked.path());
    ASSERT_TRUE(journal.flush(10000));
    journal.orderOpened(record(1, opened));
    journal.kioskEvent({opened, QStringLiteral("Киоск 1"), JournalEventKind::Refused, {}});
    ASSERT_TRUE(journal.flush(10000));
    ASSERT_EQ(count(askedFile, "orders"), 1);
    journal.prune();
    ASSERT_TRUE(journal.flush(10000));
    EXPECT_EQ(count(askedFile, "orders"), expected);
    EXPECT_EQ(count(askedFile, "events"), expected);
}

INSTANTIATE_TEST_SUITE_P(Ages, PruneTest,
                         ::testing::Values(AgeCase{0, true}, AgeCase{399, true},
                                           AgeCase{401, false}, AgeCase{900, false}));

} // namespace

#include "journal/JournalCsv.h"
#include "JournalSupport.h"
#include "TestUtil.h"
#include "journal/JournalReader.h"
#include "journal/OrderJournal.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTimeZone>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

// A known journal in a zone with summer time: four orders of two kiosks, one of them
// decided across the spring change of clocks, one still open, names that need quoting.
class KnownJournal : public ::testing::Test {
protected:
    void SetUp() override {
        // Far longer than the rows' age: the test must not change when the year turns.
        OrderJournal journal(m_dir.path(), {1000000, 2000});
        const auto at = [](int month, int day, int h, int m, int s) {
            return QDateTime(QDate(2026, month, day), QTime(h, m, s));
        };
        struct Row {
            QString kiosk;
            QDateTime opened;
            QString name;
            double sum;
            JournalDecision decision;
            double wait;
            QList<bool> prints;
        };
        const Row rows[] = {
            {QStringLiteral("Киоск 1"),
             at(1, 15, 10, 0, 0),
             QStringLiteral("A-1"),
             250,
             JournalDecision::Confirmed,
             12.5,
             {false, true}},
            {QStringLiteral("Киоск 2"),
             at(3, 29, 1, 59, 50),
             QString(),
             99.999,
             JournalDecision::Returned,
             15,
             {}},
            {QStringLiteral("Киоск 2"),
             at(7, 1, 12, 30, 0),
             QStringLiteral("Заказ \"Большой\", 2"),
             1234.5,
             JournalDecision::Cancelled,
             30.25,
             {}},
            {QStringLiteral("Киоск 1"),
             at(7, 2, 8, 0, 0),
             QStringLiteral("строка\nвторая"),
             0.1 + 0.2,
             JournalDecision::Open,
             -1,
             {true, true}},
        };
        for (const Row& row : rows) {
            JournalRecord r = journaltest::record(1, row.opened);
            r.kiosk = row.kiosk;
            r.orderName = row.name;
            r.sum = row.sum;
            const auto handle = journal.orderOpened(r);
            for (bool printed : row.prints)
                journal.orderPrinted(handle,
                                     {row.opened.addSecs(1), 3, QStringLiteral("COM1"), printed,
                                      printed ? QString() : QStringLiteral("нет бумаги")});
            if (row.decision != JournalDecision::Open)
                journal.orderDecided(handle, row.decision,
                                     row.opened.addMSecs(qint64(row.wait * 1000)), row.wait);
        }
        ASSERT_TRUE(journal.flush(10000));
    }

    testutil::ScopedTimeZone m_zone{"Europe/Berlin"};
    QTemporaryDir m_dir;
};

TEST_F(KnownJournal, CsvByteForByte) {
    JournalReader reader(m_dir.path());
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(JournalCsv::write(reader, {}, buffer)) << reader.lastError().toStdString();
    const QByteArray expected =
        "opened,kiosk,order,sum,decision,decided,wait_s,prints\r\n"
        "2026-07-02T08:00:00+02:00,Киоск 1,\"строка\nвторая\",0.30,open,,,2\r\n"
        "2026-07-01T12:30:00+02:00,Киоск 2,\"Заказ \"\"Большой\"\", 2\",1234.50,cancelled,"
        "2026-07-01T12:30:30+02:00,30.25,0\r\n"
        "2026-03-29T01:59:50+01:00,Киоск 2,,100.00,returned,2026-03-29T03:00:05+02:00,15.00,0\r\n"
        "2026-01-15T10:00:00+01:00,Киоск 1,A-1,250.00,confirmed,2026-01-15T10:00:12+01:00,"
        "12.50,1\r\n";
    EXPECT_EQ(buffer.data().toStdString(), expected.toStdString());
}

TEST_F(KnownJournal, CsvOfOneKioskAndPeriod) {
    JournalReader reader(m_dir.path());
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    JournalQuery query;
    query.kiosk = QStringLiteral("Киоск 2");
    query.from = QDateTime(QDate(2026, 3, 1), QTime(0, 0));
    query.to = QDateTime(QDate(2026, 7, 1), QTime(12, 30));
    ASSERT_TRUE(JournalCsv::write(reader, query, buffer));
    EXPECT_EQ(buffer.data().toStdString(),
              std::string("opened,kiosk,order,sum,decision,decided,wait_s,prints\r\n"
                          "2026-03-29T01:59:50+01:00,Киоск 2,,100.00,returned,"
                          "2026-03-29T03:00:05+02:00,15.00,0\r\n"));
}

// The hook hears how far the file is every step and at the end, and stops it between
// rows: a stopped file ends after the rows told, not after reading the rest.
TEST(JournalCsv, ProgressIsToldAndStopsTheWritingBetweenRows) {
    QTemporaryDir dir;
    const int count = 2 * JournalReader::kEachStep + 200;
    {
        OrderJournal journal(dir.path());
        const QDateTime start = journaltest::now().addDays(-1);
        for (int i = 0; i < count; ++i)
            journal.orderOpened(journaltest::record(i % 3, start.addSecs(i)));
        ASSERT_TRUE(journal.flush(30000));
    }
    JournalReader reader(dir.path());
    QBuffer whole;
    whole.open(QIODevice::WriteOnly);
    ASSERT_TRUE(JournalCsv::write(reader, {}, whole));
    const qint64 step = JournalReader::kEachStep;

    const struct {
        const char* name;
        qint64 stopAt; // the first count the hook says false to; 0: never
        bool whole;
        QList<qint64> told;
        qint64 lines; // of orders in the file
    } cases[] = {
        {"to the end", 0, true, {step, 2 * step, count}, count},
        {"stopped at the first step", step, false, {step}, step},
        {"stopped at the second", 2 * step, false, {step, 2 * step}, 2 * step},
        {"stopped after the last row", count, false, {step, 2 * step, count}, count},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QList<qint64> told;
        const bool written = JournalCsv::write(reader, {}, out, [&](qint64 rows) {
            told << rows;
            return rows != c.stopAt;
        });
        EXPECT_EQ(written, c.whole);
        EXPECT_TRUE(reader.lastError().isEmpty()) << "a stop is no read error";
        EXPECT_EQ(told, c.told);
        EXPECT_EQ(out.data().count('\n'), c.lines + 1);
        EXPECT_TRUE(whole.data().startsWith(out.data())) << "the same rows as without a hook";
    }
}

TEST(JournalCsv, FieldsAreQuotedWhereRfc4180AsksIt) {
    const struct {
        QString in;
        QByteArray out;
    } cases[] = {
        {QStringLiteral("plain"), "plain"},
        {QString(), ""},
        {QStringLiteral("a,b"), "\"a,b\""},
        {QStringLiteral("say \"hi\""), "\"say \"\"hi\"\"\""},
        {QStringLiteral("two\nlines"), "\"two\nlines\""},
        {QStringLiteral("cr\rhere"), "\"cr\rhere\""},
        {QStringLiteral("Киоск;1"), "Киоск;1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JournalCsv::field(c.in).toStdString(), c.out.toStdString()) << c.in.toStdString();
}

// The offset is the venue's own in every zone: west of Greenwich, off the whole hour,
// and nought (where "Z" would say UTC, not the venue's clock).
TEST(JournalCsv, TimesCarryTheZonesOffset) {
    const struct {
        const char* zone;
        QByteArray opened;
    } cases[] = {
        {"Europe/London", "2026-01-15T09:00:00+00:00"},
        {"America/St_Johns", "2026-01-15T05:30:00-03:30"},
        {"Asia/Kathmandu", "2026-01-15T14:45:00+05:45"},
        {"MSK-3", "2026-01-15T12:00:00+03:00"},
    };
    for (const auto& c : cases) {
        testutil::ScopedTimeZone zone(c.zone);
        JournalRecord r =
            journaltest::record(1, QDateTime(QDate(2026, 1, 15), QTime(9, 0), Qt::UTC));
        r.decision = JournalDecision::Open;
        const QByteArray line = JournalCsv::line(r);
        EXPECT_TRUE(line.startsWith(c.opened + ',')) << c.zone << ": " << line.toStdString();
    }
}

struct TotalsCase {
    const char* name;
    QDate from, to;
    // kiosk 1, kiosk 2, all: count, sum, decided, median, longest
    struct Expect {
        int count;
        double sum;
        int decided;
        double median;
        double longest;
    } kiosk1, kiosk2, all;
    int kiosks;
};

class TotalsTest : public KnownJournal, public ::testing::WithParamInterface<TotalsCase> {};

TEST_P(TotalsTest, PerKioskAndInAll) {
    const TotalsCase& c = GetParam();
    JournalReader reader(m_dir.path());
    const JournalSummary s =
        reader.totals(QDateTime(c.from, QTime(0, 0)), QDateTime(c.to, QTime(0, 0)));
    ASSERT_EQ(s.kiosks.size(), c.kiosks) << reader.lastError().toStdString();
    const auto check = [&](const JournalTotals& t, const TotalsCase::Expect& e, const char* who) {
        EXPECT_EQ(t.count, e.count) << who;
        EXPECT_NEAR(t.sum, e.sum, 1e-9) << who;
        EXPECT_EQ(t.decided, e.decided) << who;
        EXPECT_DOUBLE_EQ(t.medianWait, e.median) << who;
        EXPECT_DOUBLE_EQ(t.longestWait, e.longest) << who;
        int byDecision = 0;
        for (const auto& [decision, total] : t.byDecision)
            byDecision += total.count;
        EXPECT_EQ(byDecision, e.count) << who;
    };
    for (const JournalTotals& t : s.kiosks)
        check(t, t.kiosk == QStringLiteral("Киоск 1") ? c.kiosk1 : c.kiosk2,
              t.kiosk.toStdString().c_str());
    check(s.all, c.all, "all");
    EXPECT_TRUE(s.all.kiosk.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Periods, TotalsTest,
    ::testing::Values(TotalsCase{"Year",
                                 QDate(2026, 1, 1),
                                 QDate(2027, 1, 1),
                                 {2, 250 + 0.1 + 0.2, 1, 12.5, 12.5},
                                 {2, 99.999 + 1234.5, 2, (15 + 30.25) / 2, 30.25},
                                 {4, 250 + 0.1 + 0.2 + 99.999 + 1234.5, 3, 15, 30.25},
                                 2},
                      TotalsCase{"July",
                                 QDate(2026, 7, 1),
                                 QDate(2026, 8, 1),
                                 {1, 0.1 + 0.2, 0, 0, 0},
                                 {1, 1234.5, 1, 30.25, 30.25},
                                 {2, 0.1 + 0.2 + 1234.5, 1, 30.25, 30.25},
                                 2},
                      TotalsCase{"January",
                                 QDate(2026, 1, 1),
                                 QDate(2026, 2, 1),
                                 {1, 250, 1, 12.5, 12.5},
                                 {},
                                 {1, 250, 1, 12.5, 12.5},
                                 1},
                      TotalsCase{"Empty", QDate(2025, 1, 1), QDate(2025, 12, 1), {}, {}, {}, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(KnownJournal, TotalsByDecision) {
    JournalReader reader(m_dir.path());
    const JournalSummary s =
        reader.totals(QDateTime(QDate(2026, 1, 1), QTime()), QDateTime(QDate(2027, 1, 1), QTime()));
    const struct {
        JournalDecision decision;
        int count;
        double sum;
    } cases[] = {{JournalDecision::Confirmed, 1, 250},
                 {JournalDecision::Returned, 1, 99.999},
                 {JournalDecision::Cancelled, 1, 1234.5},
                 {JournalDecision::Open, 1, 0.1 + 0.2}};
    for (const auto& c : cases) {
        ASSERT_TRUE(s.all.byDecision.count(c.decision))
            << journalDecisionWord(c.decision).toStdString();
        EXPECT_EQ(s.all.byDecision.at(c.decision).count, c.count);
        EXPECT_DOUBLE_EQ(s.all.byDecision.at(c.decision).sum, c.sum);
    }
    EXPECT_EQ(s.all.byDecision.size(), 4u);
}

} // namespace

namespace {

TEST_F(KnownJournal, SummaryCsvByteForByte) {
    JournalReader reader(m_dir.path());
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(JournalCsv::writeSummary(reader, QDateTime(QDate(2026, 1, 1), QTime(0, 0)),
                                         QDateTime(QDate(2027, 1, 1), QTime(0, 0)), buffer))
        << reader.lastError().toStdString();
    const QByteArray expected =
        "kiosk,orders,sum,confirmed,confirmed_sum,cancelled,cancelled_sum,returned,returned_sum,"
        "ended,ended_sum,closed,closed_sum,open,open_sum,median_wait_s,longest_wait_s,"
        "availability_pct\r\n"
        "Киоск 1,2,250.30,1,250.00,0,0.00,0,0.00,0,0.00,0,0.00,1,0.30,12.50,12.50,\r\n"
        "Киоск 2,2,1334.50,0,0.00,1,1234.50,1,100.00,0,0.00,0,0.00,0,0.00,22.63,30.25,\r\n"
        "Все киоски,4,1584.80,1,250.00,1,1234.50,1,100.00,0,0.00,0,0.00,1,0.30,15.00,30.25,\r\n";
    EXPECT_EQ(buffer.data().toStdString(), expected.toStdString());
}

// Availability is the share of the period a kiosk was connected, from its connection
// events: the state at the start is that of the last event before it, and the part of
// the period still to come does not count.
TEST(JournalAvailability, FromTheConnectionEvents) {
    testutil::ScopedTimeZone zone{"UTC"};
    QTemporaryDir dir;
    const QDateTime day(QDate(2026, 5, 4), QTime(0, 0), Qt::UTC);
    const auto at = [&](int h) { return day.addSecs(h * 3600); };
    using K = JournalEventKind;
    const struct {
        const char* kiosk;
        QList<std::pair<int, K>> events; // hour of the day (negative: the day before), kind
        double expected;                 // share of 00:00 to 10:00; below 0: not known
    } cases[] = {
        {"connected before, lost at 5", {{-1, K::Connected}, {5, K::Lost}}, 0.5},
        {"on and off", {{2, K::Connected}, {3, K::Lost}, {8, K::Connected}}, 0.3},
        {"refused only", {{4, K::Refused}}, 0.0},
        {"lost before the period", {{-3, K::Connected}, {-2, K::Lost}}, 0.0},
        {"no events, an order", {}, -1},
    };
    {
        OrderJournal journal(dir.path(), {1000000, 2000});
        for (const auto& c : cases) {
            for (const auto& [hour, kind] : c.events)
                journal.kioskEvent({at(hour), QString::fromUtf8(c.kiosk), kind, QString()});
            if (c.events.isEmpty()) {
                JournalRecord r = journaltest::record(1, at(6));
                r.kiosk = QString::fromUtf8(c.kiosk);
                journal.orderOpened(r);
            }
        }
        ASSERT_TRUE(journal.flush(10000));
    }
    JournalReader reader(dir.path());
    const JournalSummary s = reader.totals(at(0), at(10));
    ASSERT_EQ(s.kiosks.size(), std::size(cases)) << reader.lastError().toStdString();
    double known = 0;
    int count = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kiosk);
        const auto t = std::find_if(s.kiosks.cbegin(), s.kiosks.cend(), [&](const auto& k) {
            return k.kiosk == QString::fromUtf8(c.kiosk);
        });
        ASSERT_NE(t, s.kiosks.cend());
        EXPECT_NEAR(t->availability, c.expected, 1e-9);
        if (c.expected >= 0) {
            known += c.expected;
            ++count;
        }
    }
    EXPECT_NEAR(s.all.availability, known / count, 1e-9);

    // A period that reaches into the future counts only up to now.
    {
        OrderJournal journal(dir.path(), {1000000, 2000});
        journal.kioskEvent({QDateTime::currentDateTimeUtc().addSecs(-7200),
                            QStringLiteral("сейчас"), K::Connected, QString()});
        ASSERT_TRUE(journal.flush(10000));
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const JournalSummary current = reader.totals(now.addSecs(-3600), now.addSecs(3600));
    const auto t = std::find_if(current.kiosks.cbegin(), current.kiosks.cend(),
                                [](const auto& k) { return k.kiosk == QStringLiteral("сейчас"); });
    ASSERT_NE(t, current.kiosks.cend());
    EXPECT_GT(t->availability, 0.99);

    const QList<JournalEvent> events = reader.events(at(0), at(10));
    QStringList seen;
    for (const JournalEvent& e : events)
        seen << QStringLiteral("%1 %2 %3")
                    .arg(e.at.time().hour())
                    .arg(e.kiosk, journalEventWord(e.kind));
    EXPECT_EQ(seen,
              (QStringList{"2 on and off connected", "3 on and off lost", "4 refused only refused",
                           "5 connected before, lost at 5 lost", "8 on and off connected"}));
}

// A receipt printed again from the list is recorded with the order of its row; a row
// pruned meanwhile takes nothing, and the journal goes on writing.
TEST(JournalReprint, GoesToItsRowAndAGoneRowTakesNothing) {
    QTemporaryDir dir;
    OrderJournal journal(dir.path(), {1000000, 2000});
    const QDateTime opened = QDateTime::currentDateTime().addSecs(-60);
    journal.orderOpened(journaltest::record(1, opened));
    ASSERT_TRUE(journal.flush(10000));
    JournalReader reader(dir.path());
    const QList<JournalRecord> rows = reader.orders({}, 10);
    ASSERT_EQ(rows.size(), 1);
    journal.reprinted(rows[0].id, {opened.addSecs(30), 3, QStringLiteral("экран"), true, {}});
    journal.reprinted(rows[0].id + 1000, {opened.addSecs(31), 3, QStringLiteral("COM1"), true, {}});
    journal.orderOpened(journaltest::record(2, opened.addSecs(40)));
    ASSERT_TRUE(journal.flush(10000));
    EXPECT_TRUE(journal.healthy());
    const QList<JournalRecord> after = reader.orders({}, 10);
    ASSERT_EQ(after.size(), 2);
    EXPECT_EQ(after[1].id, rows[0].id);
    ASSERT_EQ(after[1].prints.size(), 1);
    EXPECT_EQ(after[1].prints[0].connection, QStringLiteral("экран"));
    EXPECT_EQ(after[1].printedCount, 1);
}

} // namespace

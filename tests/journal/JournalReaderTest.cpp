#include "journal/JournalReader.h"
#include "JournalSupport.h"
#include "journal/OrderJournal.h"

#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// 23 orders of three kiosks, three at a time opened in the same millisecond, so that
// pages have to tell rows apart by id as well.
class PagedTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        OrderJournal journal(m_dir.path());
        const QDateTime base =
            QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch()).addDays(-3);
        for (int n = 0; n < 23; ++n) {
            JournalRecord r = journaltest::record(n % 3 + 1, base.addSecs(n / 3));
            r.orderName = QStringLiteral("P-%1").arg(n);
            const auto handle = journal.orderOpened(r);
            journal.orderDecided(handle,
                                 n % 2 ? JournalDecision::Confirmed : JournalDecision::Cancelled,
                                 r.opened.addSecs(1), 1);
        }
        ASSERT_TRUE(journal.flush(10000));
    }
    QTemporaryDir m_dir;
};

TEST_P(PagedTest, EveryRowExactlyOnceNewestFirst) {
    JournalReader reader(m_dir.path());
    QList<JournalRecord> all;
    ASSERT_TRUE(reader.forEach({}, [&](const JournalRecord& r) { all << r; }))
        << reader.lastError().toStdString();
    ASSERT_EQ(all.size(), 23);

    QList<qint64> paged;
    JournalQuery query;
    for (int pages = 0; pages < 100; ++pages) {
        const QList<JournalRecord> page = reader.orders(query, GetParam());
        ASSERT_LE(page.size(), GetParam());
        if (page.isEmpty())
            break;
        for (const JournalRecord& r : page)
            paged << r.id;
        query.after = JournalReader::cursorOf(page.last());
    }
    ASSERT_EQ(paged.size(), 23);
    EXPECT_EQ(QSet<qint64>(paged.begin(), paged.end()).size(), 23);
    for (int i = 0; i < 23; ++i)
        EXPECT_EQ(paged[i], all[i].id) << i;
    for (int i = 1; i < 23; ++i) {
        const bool newerFirst = all[i - 1].opened > all[i].opened ||
                                (all[i - 1].opened == all[i].opened && all[i - 1].id > all[i].id);
        EXPECT_TRUE(newerFirst) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(PageSizes, PagedTest, ::testing::Values(1, 2, 3, 5, 22, 23, 100));

TEST(JournalReader, FiltersByKioskDecisionAndPeriod) {
    QTemporaryDir dir;
    const QDateTime base =
        QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch()).addDays(-3);
    {
        OrderJournal journal(dir.path());
        for (int n = 0; n < 12; ++n) {
            const auto handle =
                journal.orderOpened(journaltest::record(n % 3 + 1, base.addSecs(n)));
            if (n % 4)
                journal.orderDecided(handle, JournalDecision::Confirmed, base.addSecs(n + 1), 1);
        }
        ASSERT_TRUE(journal.flush(10000));
    }
    const struct {
        const char* name;
        JournalQuery query;
        int count;
    } cases[] = {
        {"all", {}, 12},
        {"kiosk", {{}, {}, QStringLiteral("Киоск 2"), {}, {}}, 4},
        {"decision open", {{}, {}, {}, JournalDecision::Open, {}}, 3},
        {"kiosk and decision", {{}, {}, QStringLiteral("Киоск 1"), JournalDecision::Open, {}}, 1},
        {"kiosk and confirmed",
         {{}, {}, QStringLiteral("Киоск 2"), JournalDecision::Confirmed, {}},
         3},
        {"period [2, 6)", {base.addSecs(2), base.addSecs(6), {}, {}, {}}, 4},
        {"empty period", {base.addSecs(6), base.addSecs(6), {}, {}, {}}, 0},
        {"no such kiosk", {{}, {}, QStringLiteral("Киоск 9"), {}, {}}, 0},
    };
    JournalReader reader(dir.path());
    for (const auto& c : cases) {
        const QList<JournalRecord> rows = reader.orders(c.query, 100);
        EXPECT_EQ(rows.size(), c.count) << c.name;
        for (const JournalRecord& r : rows) {
            if (!c.query.kiosk.isEmpty()) {
                EXPECT_EQ(r.kiosk, c.query.kiosk) << c.name;
            }
            if (c.query.decision) {
                EXPECT_EQ(r.decision, *c.query.decision) << c.name;
            }
            if (c.query.from.isValid()) {
                EXPECT_TRUE(r.opened >= c.query.from && r.opened < c.query.to) << c.name;
            }
        }
    }
}

TEST(JournalReader, ANotYetMadeJournalSaysSo) {
    QTemporaryDir dir;
    JournalReader reader(dir.path());
    EXPECT_FALSE(reader.open());
    EXPECT_FALSE(reader.lastError().isEmpty());
    EXPECT_TRUE(reader.orders({}, 10).isEmpty());
}

} // namespace

#include "JournalSupport.h"
#include "LoopbackPrinterSupport.h"
#include "PrintSettingsSupport.h"
#include "SharedJournalSupport.h"
#include "TestUtil.h"
#include "UiTestSupport.h"

#include "journal/JournalCsv.h"
#include "journal/JournalReader.h"
#include "journal/OrderJournal.h"
#include "printing/PrintSettings.h"
#include "printing/ReceiptSpooler.h"
#include "ui/JournalModel.h"
#include "ui/JournalTab.h"
#include "ui/JournalTotalsView.h"

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace {

// A Wednesday afternoon: "Эта неделя" is Monday 7 to Sunday 13 December.
const QDate kToday(2026, 12, 9);
QDateTime at(const QDate& day, int hour, int minute = 0) {
    return QDateTime(day, QTime(hour, minute));
}
QDateTime now() {
    return at(kToday, 15);
}

struct Order {
    QString name;
    QString kiosk;
    QDateTime opened;
    double sum = 0;
    JournalDecision decision = JournalDecision::Open;
    double wait = -1;
    QList<JournalPrint> prints = {};
    QString document = {};
};

// The journal's row of an order of console "Касса 1", without its prints.
JournalRecord recordOf(const Order& o) {
    JournalRecord r;
    r.console = QStringLiteral("Касса 1");
    r.kiosk = o.kiosk;
    r.address = QStringLiteral("127.0.0.1:5000");
    r.opened = o.opened;
    r.sum = o.sum;
    r.orderName = o.name;
    r.invoice = QStringLiteral("Заказ %1\nКофе        1 x %2").arg(o.name).arg(o.sum, 0, 'f', 2);
    r.document = o.document.isEmpty() ? QStringLiteral("<order><name>%1</name></order>").arg(o.name)
                                      : o.document;
    r.decision = o.decision;
    r.decided = o.decision == JournalDecision::Open ? QDateTime()
                                                    : o.opened.addMSecs(qint64(o.wait * 1000));
    r.waitSeconds = o.wait;
    return r;
}

// Writes the orders through the console's own journal and waits until they are in the file.
void record(const QString& folder, const QList<Order>& orders,
            const QList<JournalEvent>& events = {}) {
    OrderJournal journal(folder);
    for (const JournalEvent& e : events)
        journal.kioskEvent(e);
    for (const Order& o : orders) {
        const JournalRecord r = recordOf(o);
        const OrderJournal::Handle h = journal.orderOpened(r);
        if (r.decision != JournalDecision::Open)
            journal.orderDecided(h, r.decision, r.decided, r.waitSeconds);
        for (const JournalPrint& p : o.prints)
            journal.orderPrinted(h, p);
    }
    ASSERT_TRUE(journal.flush(10000));
}

// The texts of a row of the totals in the given columns.
QStringList totalsRow(const TJournalTab& tab, int row, const QList<int>& columns) {
    const QTableWidget* t = tab.frmJournalTotals->tblJournalTotals;
    QStringList cells;
    for (const int column : columns)
        cells << (t->item(row, column) ? t->item(row, column)->text() : QStringLiteral("(none)"));
    return cells;
}

// The week of kToday and around it, a known mix of kiosks and decisions.
QList<Order> week() {
    const QDate monday = kToday.addDays(-2);
    return {
        {"a", "Киоск 1", at(kToday, 10), 100.5, JournalDecision::Confirmed, 30},
        {"b", "Киоск 2", at(kToday, 11), 200, JournalDecision::Cancelled, 90},
        {"c", "Киоск 1", at(kToday, 12), 50.25},
        {"d", "Киоск 2", at(kToday.addDays(-1), 9), 300, JournalDecision::Confirmed, 60},
        {"e", "Киоск 1", at(monday, 10), 70, JournalDecision::Returned, 10},
        {"f", "Киоск 3", at(monday.addDays(-1), 23, 59), 10, JournalDecision::Ended, 5},
        {"g", "Киоск 1", at(QDate(2026, 11, 20), 8), 20, JournalDecision::Closed, 120},
    };
}

QStringList names(const JournalModel& model) {
    QStringList out;
    for (int row = 0; row < model.rowCount(); ++row)
        out << model.data(model.index(row, JournalModel::colOrder)).toString();
    return out;
}

// Waits until the tab has no answer of the journal to wait for: its reads come back
// through the event loop.
::testing::AssertionResult settled(const TJournalTab& tab) {
    if (testutil::waitUntil([&] { return !tab.isReading(); }, 20000))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the journal's answer never came; the list says: "
                                         << tab.lblJournalEmpty->text().toStdString();
}

void choose(QComboBox* box, const QString& text) {
    const int index = box->findText(text);
    ASSERT_GE(index, 0) << text.toStdString() << " is not in " << box->objectName().toStdString();
    box->setCurrentIndex(index);
}

class JournalTabTest : public ::testing::Test {
protected:
    std::unique_ptr<TJournalTab> openTab() {
        auto tab = std::make_unique<TJournalTab>(m_dir.path());
        tab->setClock(now);
        tab->Refresh();
        tab->resize(1000, 600);
        tab->show();
        EXPECT_TRUE(settled(*tab));
        return tab;
    }
    void select(TJournalTab& tab, const QString& name) {
        const QStringList rows = names(*tab.model());
        const int row = static_cast<int>(rows.indexOf(name));
        ASSERT_GE(row, 0) << name.toStdString();
        tab.lvJournal->selectionModel()->setCurrentIndex(tab.model()->index(row, 0),
                                                         QItemSelectionModel::ClearAndSelect |
                                                             QItemSelectionModel::Rows);
    }

    // Clicks "Сохранить CSV" and waits for the export's end, which comes by the event loop.
    static void saveCsv(TJournalTab& tab) {
        QSignalSpy finished(&tab, &TJournalTab::csvFinished);
        tab.btnJournalCsv->click();
        EXPECT_TRUE(finished.wait(20000)) << "the export never ended";
    }
    // count orders in the week of kToday, the newest at 10:00 today, the rest 10 s apart
    // before it: written as one statement, far quicker than through the console's journal.
    void recordMany(int count) {
        record(m_dir.path(), {{"seed", "Киоск 1", at(kToday, 10), 1}});
        journaltest::execute(
            OrderJournal::fileName(m_dir.path()),
            {QStringLiteral(
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1)"
                 " INSERT INTO orders (console, kiosk, address, opened, sum, order_name, invoice,"
                 " document, decision, decided, wait_s)"
                 " SELECT console, kiosk, address, opened - i * 10000, sum + i,"
                 " order_name || '-' || i, invoice, document, decision, decided, wait_s"
                 " FROM orders, n")
                 .arg(count - 1)});
    }

    QTemporaryDir m_dir;
};

TEST_F(JournalTabTest, AJournalNotYetWrittenIsAnEmptyListNotAnError) {
    auto tab = openTab();
    EXPECT_EQ(tab->objectName(), QStringLiteral("tshJournal"));
    EXPECT_EQ(tab->model()->rowCount(), 0);
    EXPECT_TRUE(tab->lblJournalEmpty->isVisible());
    EXPECT_EQ(tab->lblJournalEmpty->text(), QStringLiteral("Журнал пока пуст"));
    EXPECT_FALSE(tab->btnJournalReprint->isEnabled());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // The first order of the console makes the file; the next refresh shows it.
    record(m_dir.path(), {{"a", "Киоск 1", at(kToday, 10), 5}});
    tab->Refresh();
    ASSERT_TRUE(settled(*tab));
    EXPECT_EQ(names(*tab->model()), QStringList{"a"});
    EXPECT_FALSE(tab->lblJournalEmpty->isVisible());
}

TEST_F(JournalTabTest, WithoutADataFolderThereIsNoJournalToRead) {
    // A journal in the folder the console was started from is not the console's.
    const QString started = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    record(m_dir.path(), {{"a", "Киоск 1", at(kToday, 10), 5}});
    TJournalTab tab{QString()};
    tab.setClock(now);
    tab.Refresh();
    QDir::setCurrent(started);
    EXPECT_EQ(tab.model()->rowCount(), 0);
    EXPECT_EQ(tab.lblJournalEmpty->text(),
              QStringLiteral("Журнал заказов не ведётся: нет папки данных"));
}

TEST_F(JournalTabTest, FiltersGiveTheirOrdersNewestFirst) {
    record(m_dir.path(), week());
    auto tab = openTab();
    const struct {
        const char* name;
        TJournalTab::Period period;
        QDate from, to; // for pdCustom
        QString kiosk;  // empty: all
        QString decision;
        QStringList rows;
    } cases[] = {
        {"today", TJournalTab::pdToday, {}, {}, "", "", {"c", "b", "a"}},
        {"today, one kiosk", TJournalTab::pdToday, {}, {}, "Киоск 1", "", {"c", "a"}},
        {"today, confirmed", TJournalTab::pdToday, {}, {}, "", "Исполнен", {"a"}},
        {"today, open", TJournalTab::pdToday, {}, {}, "", "Открыт", {"c"}},
        {"today, one kiosk cancelled", TJournalTab::pdToday, {}, {}, "Киоск 1", "Отменён", {}},
        {"yesterday", TJournalTab::pdYesterday, {}, {}, "", "", {"d"}},
        {"this week from Monday",
         TJournalTab::pdThisWeek,
         {},
         {},
         "",
         "",
         {"c", "b", "a", "d", "e"}},
        {"this week, returned", TJournalTab::pdThisWeek, {}, {}, "", "Возврат в заказ", {"e"}},
        {"this week, one kiosk", TJournalTab::pdThisWeek, {}, {}, "Киоск 2", "", {"b", "d"}},
        {"days", TJournalTab::pdCustom, QDate(2026, 11, 1), QDate(2026, 12, 6), "", "", {"f", "g"}},
        {"days the wrong way round",
         TJournalTab::pdCustom,
         QDate(2026, 12, 6),
         QDate(2026, 11, 1),
         "",
         "",
         {"f", "g"}},
        {"one day", TJournalTab::pdCustom, QDate(2026, 11, 20), QDate(2026, 11, 20), "", "", {"g"}},
        {"days, ended",
         TJournalTab::pdCustom,
         QDate(2026, 11, 1),
         QDate(2026, 12, 31),
         "",
         "Завершён киоском",
         {"f"}},
        {"days, closed",
         TJournalTab::pdCustom,
         QDate(2026, 11, 1),
         QDate(2026, 12, 31),
         "Киоск 1",
         "Закрыт",
         {"g"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tab->cbxJournalKiosk->setCurrentIndex(0);
        tab->cbxJournalDecision->setCurrentIndex(0);
        if (c.period == TJournalTab::pdCustom) {
            tab->dtpJournalFrom->setDate(c.from);
            tab->dtpJournalTo->setDate(c.to);
        }
        tab->cmbJournalPeriod->setCurrentIndex(c.period);
        EXPECT_EQ(tab->dtpJournalFrom->isEnabled(), c.period == TJournalTab::pdCustom);
        // The kiosks offered come with the period's answer.
        ASSERT_TRUE(settled(*tab));
        if (!c.kiosk.isEmpty())
            choose(tab->cbxJournalKiosk, c.kiosk);
        if (!c.decision.isEmpty())
            choose(tab->cbxJournalDecision, c.decision);
        ASSERT_TRUE(settled(*tab));
        EXPECT_EQ(names(*tab->model()), c.rows);
        EXPECT_EQ(tab->lblJournalEmpty->isVisible(), c.rows.isEmpty());
    }

    // The kiosks offered are those of the period.
    tab->cbxJournalKiosk->setCurrentIndex(0);
    tab->cbxJournalDecision->setCurrentIndex(0);
    tab->cmbJournalPeriod->setCurrentIndex(TJournalTab::pdYesterday);
    ASSERT_TRUE(settled(*tab));
    QStringList kiosks;
    for (int i = 0; i < tab->cbxJournalKiosk->count(); ++i)
        kiosks << tab->cbxJournalKiosk->itemText(i);
    EXPECT_EQ(kiosks, (QStringList{"Все киоски", "Киоск 2"}));
}

TEST_F(JournalTabTest, ColumnsSayWhenWhereWhatAndHowLong) {
    record(m_dir.path(),
           {{"A-17",
             "Киоск 2",
             at(kToday, 11, 5),
             1234.5,
             JournalDecision::Cancelled,
             754.4,
             {{at(kToday, 11, 6), 3, "COM1", true, ""}, {at(kToday, 11, 7), 3, "COM1", true, ""}}},
            {"A-18", "Киоск 1", at(kToday, 11, 30), 7}});
    auto tab = openTab();
    const JournalModel& m = *tab->model();
    ASSERT_EQ(m.rowCount(), 2);
    QStringList headers;
    for (int c = 0; c < m.columnCount(); ++c)
        headers << m.headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headers,
              (QStringList{"Открыт", "Киоск", "Заказ", "Сумма", "Решение", "Ожидание", "Чеков"}));
    const auto text = [&](int row) {
        QStringList cells;
        for (int c = 0; c < m.columnCount(); ++c)
            cells << m.data(m.index(row, c)).toString();
        return cells;
    };
    EXPECT_EQ(text(0),
              (QStringList{"09.12.2026 11:30:00", "Киоск 1", "A-18", "7.00", "Открыт", "", "0"}));
    EXPECT_EQ(text(1), (QStringList{"09.12.2026 11:05:00", "Киоск 2", "A-17", "1234.50", "Отменён",
                                    "12:34", "2"}));
    EXPECT_EQ(JournalModel::waitText(3599.6), QStringLiteral("60:00"));
    EXPECT_EQ(JournalModel::waitText(0), QStringLiteral("00:00"));
}

TEST_F(JournalTabTest, PagesFollowTheScrollAndGiveEveryRowOnce) {
    QList<Order> orders;
    for (int i = 0; i < 450; ++i)
        orders.append({QString::number(i), "Киоск 1", at(kToday, 0).addSecs(60 * i), 1});
    record(m_dir.path(), orders);
    auto tab = openTab();
    JournalModel& m = *tab->model();
    EXPECT_EQ(m.rowCount(), JournalModel::kPageSize);
    EXPECT_TRUE(m.canFetchMore());

    // A page on its way is asked once, however often the view asks meanwhile.
    m.fetchMore();
    EXPECT_TRUE(m.pending());
    EXPECT_FALSE(m.canFetchMore());
    m.fetchMore();
    ASSERT_TRUE(settled(*tab));
    EXPECT_EQ(m.rowCount(), 2 * JournalModel::kPageSize);

    // Orders written while the operator scrolls are newer than the list: the pages go on
    // after the last row read, and neither repeat nor skip one.
    QList<Order> later;
    for (int i = 0; i < 5; ++i)
        later.append({QStringLiteral("new %1").arg(i), "Киоск 1", at(kToday, 14, i), 1});
    record(m_dir.path(), later);

    for (int i = 0; i < 20 && m.canFetchMore(); ++i) {
        tab->lvJournal->scrollToBottom();
        testutil::pump(20);
        ASSERT_TRUE(settled(*tab));
    }
    EXPECT_FALSE(m.canFetchMore());
    ASSERT_EQ(m.rowCount(), 450);
    QSet<qint64> ids;
    for (int row = 0; row < m.rowCount(); ++row) {
        ids.insert(m.record(row).id);
        EXPECT_EQ(m.record(row).orderName, QString::number(449 - row)) << row;
    }
    EXPECT_EQ(ids.size(), 450);

    tab->Refresh();
    ASSERT_TRUE(settled(*tab));
    EXPECT_EQ(names(m).mid(0, 5), (QStringList{"new 4", "new 3", "new 2", "new 1", "new 0"}));
}

TEST_F(JournalTabTest, TheChosenOrderShowsItsInvoiceAndPrints) {
    record(m_dir.path(), {{"a",
                           "Киоск 1",
                           at(kToday, 10),
                           100,
                           JournalDecision::Confirmed,
                           30,
                           {{at(kToday, 10, 1), 3, "192.168.0.40:9100", true, ""},
                            {at(kToday, 10, 2), 3, "COM1", false, "Нет бумаги"},
                            {at(kToday, 10, 3), 0, "", false, ""}}},
                          {"b", "Киоск 2", at(kToday, 11), 200, JournalDecision::Cancelled, 5}});
    auto tab = openTab();
    EXPECT_TRUE(tab->memJournalInvoice->isReadOnly());
    EXPECT_TRUE(tab->memJournalInvoice->toPlainText().isEmpty());
    EXPECT_FALSE(tab->btnJournalReprint->isEnabled());

    select(*tab, "a");
    EXPECT_EQ(tab->memJournalInvoice->toPlainText(),
              QStringLiteral("Заказ a\nКофе        1 x 100.00"));
    ASSERT_EQ(tab->lvJournalPrints->topLevelItemCount(), 3);
    const struct {
        QString time, printer, outcome;
    } prints[] = {
        {"09.12.2026 10:01:00", "192.168.0.40:9100", "Напечатан"},
        {"09.12.2026 10:02:00", "COM1", "Нет бумаги"},
        {"09.12.2026 10:03:00", "Принтер страниц", "Не напечатан"},
    };
    for (int i = 0; i < 3; ++i) {
        const QTreeWidgetItem* item = tab->lvJournalPrints->topLevelItem(i);
        EXPECT_EQ(item->text(0), prints[i].time) << i;
        EXPECT_EQ(item->text(1), prints[i].printer) << i;
        EXPECT_EQ(item->text(2), prints[i].outcome) << i;
    }
    EXPECT_TRUE(tab->btnJournalReprint->isEnabled());

    select(*tab, "b");
    EXPECT_EQ(tab->memJournalInvoice->toPlainText(),
              QStringLiteral("Заказ b\nКофе        1 x 200.00"));
    EXPECT_EQ(tab->lvJournalPrints->topLevelItemCount(), 0);

    // A new list forgets the choice rather than showing an order that is not in it, at once
    // and when its rows have come.
    tab->cmbJournalPeriod->setCurrentIndex(TJournalTab::pdYesterday);
    EXPECT_TRUE(tab->memJournalInvoice->toPlainText().isEmpty());
    EXPECT_FALSE(tab->btnJournalReprint->isEnabled());
    ASSERT_TRUE(settled(*tab));
    EXPECT_TRUE(tab->memJournalInvoice->toPlainText().isEmpty());
    EXPECT_FALSE(tab->btnJournalReprint->isEnabled());
}

TEST_F(JournalTabTest, SaveCsvWritesTheListOrTheTotalsShown) {
    record(m_dir.path(), week());
    auto tab = openTab();
    QTemporaryDir out;
    QString suggested;
    QString path;
    tab->setFileNameAsker([&](QWidget*, const QString& name) {
        suggested = name;
        return path;
    });
    tab->cmbJournalPeriod->setCurrentIndex(TJournalTab::pdThisWeek);
    ASSERT_TRUE(settled(*tab));
    choose(tab->cbxJournalKiosk, "Киоск 1");
    ASSERT_TRUE(settled(*tab));

    path = out.filePath("list.csv");
    saveCsv(*tab);
    EXPECT_EQ(suggested, QStringLiteral("журнал-2026-12-07-2026-12-13.csv"));
    JournalReader reader(m_dir.path());
    QBuffer expected;
    expected.open(QIODevice::WriteOnly);
    ASSERT_TRUE(JournalCsv::write(reader, tab->currentQuery(), expected));
    const QByteArray written = testutil::readFile(path);
    EXPECT_EQ(written, expected.data());
    EXPECT_EQ(written.count('\n'), 4) << "the header and the three orders of Киоск 1";
    EXPECT_EQ(tab->lblJournalCsv->text(),
              QStringLiteral("Сохранено: %1 (3 заказа)").arg(QFileInfo(path).fileName()));
    EXPECT_EQ(tab->lblJournalCsv->toolTip(), path);

    // The operator changed their mind: nothing is written.
    path.clear();
    suggested.clear();
    tab->btnJournalCsv->click();
    EXPECT_FALSE(suggested.isEmpty()) << "asked";
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files), QStringList{"list.csv"});

    tab->pgcJournal->setCurrentWidget(tab->tshJournalTotals);
    path = out.filePath("totals.csv");
    saveCsv(*tab);
    EXPECT_EQ(suggested, QStringLiteral("итоги-2026-12-07-2026-12-13.csv"));
    QBuffer summary;
    summary.open(QIODevice::WriteOnly);
    ASSERT_TRUE(JournalCsv::writeSummary(reader, at(QDate(2026, 12, 7), 0),
                                         at(QDate(2026, 12, 14), 0), summary));
    const QByteArray totals = testutil::readFile(path);
    EXPECT_EQ(totals, summary.data());
    // Every kiosk of the week, not only the one the list shows.
    EXPECT_EQ(totals.count('\n'), 4) << totals.constData();
    EXPECT_TRUE(totals.contains(
        "\r\nВсе киоски,5,720.75,2,400.50,1,200.00,1,70.00,0,0.00,0,0.00,1,50.25,45.00,90.00,"))
        << totals.constData();

    // A folder that cannot take the file: the operator is told, nothing is left behind.
    path = out.filePath("missing/list.csv");
    tab->pgcJournal->setCurrentWidget(tab->tshJournalOrders);
    QString text;
    QString title;
    AnswerMessageBox(QMessageBox::Ok, &text, &title);
    saveCsv(*tab);
    testutil::pump(100);
    EXPECT_EQ(title, QStringLiteral("Ошибка"));
    EXPECT_TRUE(text.startsWith(QStringLiteral("Не удалось сохранить файл\n") + path))
        << text.toStdString();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(tab->btnJournalCsv->isEnabled());
}

// A year of a big venue takes seconds: the window must go on meanwhile and say how far
// the file is.
TEST_F(JournalTabTest, SaveCsvWritesOffTheWindowsThreadAndSaysHowFar) {
    const int count = 20000;
    recordMany(count);
    auto tab = openTab();
    tab->cmbJournalPeriod->setCurrentIndex(TJournalTab::pdThisWeek);
    QTemporaryDir out;
    const QString path = out.filePath("list.csv");
    tab->setFileNameAsker([&](QWidget*, const QString&) { return path; });
    QList<qint64> steps;
    QStringList shown;
    QObject::connect(tab.get(), &TJournalTab::csvProgress, tab.get(), [&](qint64 rows) {
        steps << rows;
        shown << tab->lblJournalCsv->text();
    });
    QSignalSpy finished(tab.get(), &TJournalTab::csvFinished);

    tab->btnJournalCsv->click();
    // The click is back before the file is: the rest comes through the event loop.
    EXPECT_EQ(finished.count(), 0);
    EXPECT_FALSE(tab->btnJournalCsv->isEnabled()) << "one export at a time";
    EXPECT_TRUE(tab->btnJournalCsvStop->isVisible());
    EXPECT_TRUE(tab->lblJournalCsv->text().startsWith(QStringLiteral("Сохранение CSV")));
    EXPECT_FALSE(QFile::exists(path));
    ASSERT_TRUE(finished.wait(20000));

    ASSERT_FALSE(steps.isEmpty()) << "no progress reached the window before the end";
    EXPECT_TRUE(std::is_sorted(steps.cbegin(), steps.cend()));
    EXPECT_GT(steps.constFirst(), 0);
    EXPECT_EQ(steps.constLast(), count);
    const QRegularExpression progress(
        QStringLiteral("^Сохранение CSV: [0-9\u00a0]+ заказ(|а|ов)…$"));
    for (const QString& text : shown)
        EXPECT_TRUE(progress.match(text).hasMatch()) << text.toStdString();
    EXPECT_EQ(
        tab->lblJournalCsv->text(),
        QStringLiteral("Сохранено: %1 (20\u00a0000 заказов)").arg(QFileInfo(path).fileName()));
    EXPECT_TRUE(tab->btnJournalCsv->isEnabled());
    EXPECT_FALSE(tab->btnJournalCsvStop->isVisible());

    JournalReader reader(m_dir.path());
    QBuffer expected;
    expected.open(QIODevice::WriteOnly);
    ASSERT_TRUE(JournalCsv::write(reader, tab->currentQuery(), expected));
    EXPECT_EQ(expected.data().count('\n'), count + 1);
    EXPECT_TRUE(testutil::readFile(path) == expected.data()) << "not the file JournalCsv writes";
}

// Stopped, or ended with the tab: no half file, and a file of the same name as it was.
TEST_F(JournalTabTest, AStoppedExportLeavesNoFileBehind) {
    recordMany(20000);
    const struct {
        const char* name;
        bool closeTab;     // the console ends instead of "Остановить"
        QByteArray before; // the file already there; empty: none
    } cases[] = {
        {"stopped, new file", false, {}},
        {"stopped, file there", false, "an older export\r\n"},
        {"tab closed, file there", true, "an older export\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir out;
        const QString path = out.filePath("list.csv");
        if (!c.before.isEmpty())
            testutil::writeFile(path, c.before);
        auto tab = openTab();
        tab->cmbJournalPeriod->setCurrentIndex(TJournalTab::pdThisWeek);
        tab->setFileNameAsker([&](QWidget*, const QString&) { return path; });
        QSignalSpy finished(tab.get(), &TJournalTab::csvFinished);
        tab->btnJournalCsv->click();
        if (c.closeTab) {
            tab.reset(); // waits for the export
            testutil::pump(50);
        } else {
            tab->btnJournalCsvStop->click();
            ASSERT_TRUE(finished.wait(20000));
            EXPECT_EQ(tab->lblJournalCsv->text(), QStringLiteral("Сохранение CSV остановлено"));
            EXPECT_TRUE(tab->btnJournalCsv->isEnabled());
        }
        EXPECT_EQ(QFile::exists(path), !c.before.isEmpty());
        if (!c.before.isEmpty()) {
            EXPECT_TRUE(testutil::readFile(path) == c.before) << "the older file was replaced";
        }
        const QStringList left = QDir(out.path()).entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(left, c.before.isEmpty() ? QStringList() : QStringList{"list.csv"});
    }
}

TEST_F(JournalTabTest, TotalsPerKioskAndForAll) {
    record(m_dir.path(), week());
    auto tab = openTab();
    tab->cmbJournalPeriod->setCurrentIndex(TJournalTab::pdThisWeek);
    ASSERT_TRUE(settled(*tab));
    const QTableWidget* t = tab->frmJournalTotals->tblJournalTotals;
    // Decisions in the table's order: confirmed, cancelled, returned, ended, closed, open.
    const struct {
        QString kiosk, orders, sum;
        QStringList byDecision; // count and sum of each
        QString median, longest;
    } rows[] = {
        {"Киоск 1",
         "3",
         "220.75",
         {"1", "100.50", "0", "0.00", "1", "70.00", "0", "0.00", "0", "0.00", "1", "50.25"},
         "00:20",
         "00:30"},
        {"Киоск 2",
         "2",
         "500.00",
         {"1", "300.00", "1", "200.00", "0", "0.00", "0", "0.00", "0", "0.00", "0", "0.00"},
         "01:15",
         "01:30"},
        {"Все киоски",
         "5",
         "720.75",
         {"2", "400.50", "1", "200.00", "1", "70.00", "0", "0.00", "0", "0.00", "1", "50.25"},
         "00:45",
         "01:30"},
    };
    ASSERT_EQ(t->rowCount(), 3);
    ASSERT_EQ(t->columnCount(), TJournalTotalsView::availabilityColumn() + 1);
    EXPECT_EQ(t->horizontalHeaderItem(TJournalTotalsView::availabilityColumn())->text(),
              QStringLiteral("Доступность"));
    QList<int> columns;
    for (int c = 0; c < t->columnCount(); ++c)
        columns << c;
    for (int r = 0; r < 3; ++r)
        // No connection event in the journal: no availability tells.
        EXPECT_EQ(totalsRow(*tab, r, columns),
                  QStringList({rows[r].kiosk, rows[r].orders, rows[r].sum}) + rows[r].byDecision +
                      QStringList({rows[r].median, rows[r].longest, QStringLiteral("—")}));

    // Another period, other kiosks and waits.
    tab->cmbJournalPeriod->setCurrentIndex(TJournalTab::pdToday);
    ASSERT_TRUE(settled(*tab));
    EXPECT_EQ(t->rowCount(), 3) << "two kiosks today and the row of all";
}

TEST_F(JournalTabTest, TotalsShowHowMuchOfThePeriodEachKioskWasConnected) {
    const QDate day(2026, 11, 20);
    record(m_dir.path(), {{"g", "Киоск 1", at(day, 8), 20, JournalDecision::Closed, 120}},
           {{at(day, 0), "Киоск 1", JournalEventKind::Connected, ""},
            {at(day, 12), "Киоск 1", JournalEventKind::Lost, ""},
            // Connected the day before and never lost: the whole day, without an order.
            {at(day.addDays(-1), 22), "Киоск 4", JournalEventKind::Connected, ""}});
    auto tab = openTab();
    tab->dtpJournalFrom->setDate(day);
    tab->dtpJournalTo->setDate(day);
    tab->cmbJournalPeriod->setCurrentIndex(TJournalTab::pdCustom);
    ASSERT_TRUE(settled(*tab));
    const QTableWidget* t = tab->frmJournalTotals->tblJournalTotals;
    const struct {
        QString kiosk, orders, longest, availability;
    } rows[] = {
        {"Киоск 1", "1", "02:00", "50.0 %"},
        {"Киоск 4", "0", "", "100.0 %"},
        {"Все киоски", "1", "02:00", "75.0 %"},
    };
    ASSERT_EQ(t->rowCount(), 3);
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(
            totalsRow(*tab, r,
                      {TJournalTotalsView::colKiosk, TJournalTotalsView::colOrders,
                       TJournalTotalsView::longestColumn(),
                       TJournalTotalsView::availabilityColumn()}),
            (QStringList{rows[r].kiosk, rows[r].orders, rows[r].longest, rows[r].availability}));
}

// "Печать копии" goes the way of "Печать" in an order window: the screen shows the receipt,
// a printer gets a job the main window records, a document that does not parse is said.
TEST_F(JournalTabTest, ReprintGoesThroughTheCurrentPrinter) {
    const QString sample = QString::fromUtf8(testutil::readFile(
        testutil::sourcePath(QStringLiteral("tools/kiosk-sim/samples/order.xml"))));
    record(m_dir.path(),
           {{"good", "Киоск 1", at(kToday, 10), 100, JournalDecision::Confirmed, 3, {}, sample},
            {"bad",
             "Киоск 1",
             at(kToday, 11),
             100,
             JournalDecision::Confirmed,
             3,
             {},
             "<order><name>1"}});

    LoopbackPrinter printer;

    const struct {
        const char* name;
        int connection;
        QString order;
        bool preview;
        bool told;     // the main window is told, to record the copy
        bool job;      // a receipt of the spooler
        QString error; // the start of the error box
    } cases[] = {
        {"screen", ecScreen, "good", true, true, false, ""},
        {"network printer", ecNetwork, "good", false, true, true, ""},
        {"a document that does not parse", ecNetwork, "bad", false, false, false,
         "Документ заказа не читается"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testutil::SavedPrintSettings saved;
        TempIni ini;
        printer.use(c.connection);

        auto tab = openTab();
        std::optional<std::tuple<qint64, int, QString>> started;
        tab->onReprintStarted = [&](qint64 row, int job, const QString& name) {
            started.emplace(row, job, name);
        };
        select(*tab, c.order);
        const qint64 id = tab->selectedRecord()->id;
        const QWidgetList tops = QApplication::topLevelWidgets();
        const QSet<QWidget*> before(tops.cbegin(), tops.cend());
        QString text;
        if (!c.error.isEmpty())
            AnswerMessageBox(QMessageBox::Ok, &text);
        tab->btnJournalReprint->click();
        testutil::pump(100);

        if (c.error.isEmpty())
            EXPECT_TRUE(text.isEmpty()) << text.toStdString();
        else
            EXPECT_TRUE(text.startsWith(c.error)) << text.toStdString();
        QWidget* preview = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (!before.contains(top) && top->objectName() == QStringLiteral("frmReceiptPreview"))
                preview = top;
        EXPECT_EQ(preview != nullptr, c.preview);
        delete preview;
        ASSERT_EQ(started.has_value(), c.told);
        if (c.told) {
            EXPECT_EQ(std::get<0>(*started), id);
            EXPECT_EQ(std::get<1>(*started) > 0, c.job);
        }
        if (c.job) {
            EXPECT_EQ(std::get<2>(*started), printer.name());
            EXPECT_TRUE(ReceiptSpooler::instance().waitForIdle(10000));
            EXPECT_TRUE(testutil::waitUntil([&] { return !printer.received.isEmpty(); }, 5000));
        }
        EXPECT_EQ(printer.received.isEmpty(), !c.job) << printer.received.size();
    }
}

// The shared journal: the orders of both consoles with their console, read when asked;
// a server that is away is said in the list's place and read again by "Обновить"; a copy
// of this console's order is recorded with it, another console's is only printed.
TEST_F(JournalTabTest, TheSharedJournalListsEveryConsoleAndSaysWhenTheServerIsAway) {
    SharedJournal shared;
    if (!shared.available())
        GTEST_SKIP() << shared.error().toStdString();
    ASSERT_TRUE(shared.start()) << shared.error().toStdString();
    QTemporaryDir other;
    ASSERT_TRUE(shared.record(m_dir.path(), QStringLiteral("Касса 1"),
                              {recordOf({"own", "Киоск 1", at(kToday, 10), 10})}))
        << shared.error().toStdString();
    ASSERT_TRUE(shared.record(other.path(), QStringLiteral("Касса 2"),
                              {recordOf({"theirs", "Киоск 1", at(kToday, 11), 20})}))
        << shared.error().toStdString();

    TJournalTab tab(m_dir.path(), shared.source(QStringLiteral("Касса 1")));
    tab.setClock(now);
    EXPECT_EQ(tab.model()->rowCount(), 0) << "the server is asked only when the tab is";
    const JournalModel& m = *tab.model();
    tab.btnJournalRefresh->click();
    ASSERT_TRUE(testutil::waitUntil([&] { return m.rowCount() == 2; }, 10000))
        << tab.lblJournalEmpty->text().toStdString();
    ASSERT_EQ(names(m), (QStringList{"theirs", "own"}));
    ASSERT_EQ(m.columnCount(), JournalModel::colCount);
    EXPECT_EQ(m.headerData(JournalModel::colConsole, Qt::Horizontal).toString(),
              QStringLiteral("Касса"));
    EXPECT_EQ(m.data(m.index(0, JournalModel::colConsole)).toString(), QStringLiteral("Касса 2"));
    EXPECT_EQ(m.data(m.index(1, JournalModel::colConsole)).toString(), QStringLiteral("Касса 1"));

    // Copies: this console's order is recorded with its row of this console's file.
    JournalReader local(m_dir.path());
    const QList<JournalRecord> localRows = local.orders(JournalQuery{}, 10);
    ASSERT_EQ(localRows.size(), 1);
    LoopbackPrinter printer;
    testutil::SavedPrintSettings saved;
    TempIni ini;
    printer.use(ecNetwork);
    const struct {
        QString order;
        std::optional<qint64> recordedRow;
    } copies[] = {
        {QStringLiteral("own"), localRows.constFirst().id},
        {QStringLiteral("theirs"), std::nullopt},
    };
    for (const auto& c : copies) {
        SCOPED_TRACE(c.order.toStdString());
        std::optional<qint64> recorded;
        tab.onReprintStarted = [&](qint64 row, int, const QString&) { recorded = row; };
        select(tab, c.order);
        printer.received.clear();
        tab.btnJournalReprint->click();
        EXPECT_TRUE(ReceiptSpooler::instance().waitForIdle(10000));
        EXPECT_TRUE(testutil::waitUntil([&] { return !printer.received.isEmpty(); }, 5000));
        EXPECT_EQ(recorded, c.recordedRow);
        EXPECT_TRUE(tab.lblJournalPrintState->text().startsWith(QStringLiteral("Печать копии: ")))
            << tab.lblJournalPrintState->text().toStdString();
    }

    // Gone while connected: the next read says so; a new connection is tried off the
    // window's thread and says so too.
    const QString unreadable = QStringLiteral("Общий журнал заказов на сервере 127.0.0.1:");
    ASSERT_TRUE(shared.server().stop()) << shared.error().toStdString();
    for (const char* attempt : {"the connection it had", "a new connection"}) {
        SCOPED_TRACE(attempt);
        tab.btnJournalRefresh->click();
        EXPECT_EQ(m.rowCount(), 0);
        EXPECT_TRUE(tab.lblJournalEmpty->isVisibleTo(&tab));
        EXPECT_TRUE(testutil::waitUntil(
            [&] { return tab.lblJournalEmpty->text().startsWith(unreadable); }, 10000))
            << tab.lblJournalEmpty->text().toStdString();
    }

    ASSERT_TRUE(shared.server().start()) << shared.error().toStdString();
    tab.btnJournalRefresh->click();
    EXPECT_EQ(tab.lblJournalEmpty->text(), QStringLiteral("Соединение с общим журналом заказов…"));
    EXPECT_TRUE(testutil::waitUntil([&] { return m.rowCount() == 2; }, 10000))
        << tab.lblJournalEmpty->text().toStdString();
    EXPECT_EQ(names(m), (QStringList{"theirs", "own"}));
    EXPECT_FALSE(tab.lblJournalEmpty->isVisibleTo(&tab));
}

// A read the server holds up (another session has the orders table locked) holds up the
// tab's reading thread, not the window: the event loop goes on, the list says it is being
// read, and the rows come when the server lets them. An answer asked for a period the
// operator has left meanwhile is never shown.
TEST_F(JournalTabTest, AReadTheServerHoldsUpLeavesTheWindowFreeAndAStaleAnswerUnshown) {
    SharedJournal shared;
    if (!shared.available())
        GTEST_SKIP() << shared.error().toStdString();
    ASSERT_TRUE(shared.start()) << shared.error().toStdString();
    ASSERT_TRUE(shared.record(m_dir.path(), QStringLiteral("Касса 1"),
                              {recordOf({"today", "Киоск 1", at(kToday, 10), 10}),
                               recordOf({"yesterday", "Киоск 2", at(kToday.addDays(-1), 10), 20})}))
        << shared.error().toStdString();

    TJournalTab tab(m_dir.path(), shared.source(QStringLiteral("Касса 1")));
    tab.setClock(now);
    const JournalModel& m = *tab.model();
    // Every name the list has shown since the last clear.
    QStringList shown;
    QObject::connect(&m, &QAbstractItemModel::rowsInserted, &tab,
                     [&](const QModelIndex&, int first, int last) {
                         for (int row = first; row <= last; ++row)
                             shown << m.record(row).orderName;
                     });
    tab.btnJournalRefresh->click();
    ASSERT_TRUE(settled(tab));
    ASSERT_EQ(names(m), QStringList{"today"});

    const QString reading = QStringLiteral("Чтение журнала заказов…");
    const struct {
        const char* name;
        bool leavePeriod; // the operator turns to "Вчера" while the read is held up
        QStringList rows;
    } cases[] = {
        {"the same period", false, {"today"}},
        {"another period meanwhile", true, {"yesterday"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tab.cmbJournalPeriod->setCurrentIndex(TJournalTab::pdToday);
        ASSERT_TRUE(settled(tab));
        ASSERT_TRUE(shared.holdOrders()) << shared.error().toStdString();
        shown.clear();
        tab.btnJournalRefresh->click();
        EXPECT_EQ(tab.lblJournalEmpty->text(), reading);
        bool fired = false;
        QTimer::singleShot(0, &tab, [&] { fired = true; });
        EXPECT_TRUE(testutil::waitUntil([&] { return fired; }, 5000))
            << "the window's thread waits with the read";
        // The server still holds the read: it has not come.
        EXPECT_TRUE(tab.isReading());
        EXPECT_EQ(tab.lblJournalEmpty->text(), reading);
        EXPECT_EQ(m.rowCount(), 0);
        if (c.leavePeriod) {
            tab.cmbJournalPeriod->setCurrentIndex(TJournalTab::pdYesterday);
            EXPECT_EQ(tab.lblJournalEmpty->text(), reading);
        }
        shared.releaseOrders();
        ASSERT_TRUE(settled(tab));
        EXPECT_EQ(names(m), c.rows);
        EXPECT_EQ(shown, c.rows) << "rows of another period reached the list";
        EXPECT_FALSE(tab.lblJournalEmpty->isVisibleTo(&tab));
        QStringList kiosks;
        for (int i = 1; i < tab.cbxJournalKiosk->count(); ++i)
            kiosks << tab.cbxJournalKiosk->itemText(i);
        EXPECT_EQ(kiosks, QStringList{c.leavePeriod ? "Киоск 2" : "Киоск 1"})
            << "the totals of another period reached the tab";
    }
}

// A server that takes the connection and never answers: the connection is tried off the
// window's thread, so the list says so at once, and the failure when the try gives up.
TEST_F(JournalTabTest, ASharedJournalThatDoesNotAnswerIsTriedOffTheWindowsThread) {
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    JournalSource source;
    source.driver = QStringLiteral("QPSQL");
    source.host = QStringLiteral("127.0.0.1");
    source.port = silent.serverPort();
    source.database = QStringLiteral("journal");
    source.user = QStringLiteral("postgres");
    source.console = QStringLiteral("Касса 1");
    TJournalTab tab(m_dir.path(), source);
    tab.setClock(now);
    tab.btnJournalRefresh->click();
    EXPECT_EQ(tab.lblJournalEmpty->text(), QStringLiteral("Соединение с общим журналом заказов…"));
    const QString unreadable =
        QStringLiteral("Общий журнал заказов на сервере 127.0.0.1:%1 не читается: ")
            .arg(silent.serverPort());
    EXPECT_TRUE(testutil::waitUntil(
        [&] { return tab.lblJournalEmpty->text().startsWith(unreadable); }, 20000))
        << tab.lblJournalEmpty->text().toStdString();
    EXPECT_EQ(tab.model()->rowCount(), 0);
}

} // namespace

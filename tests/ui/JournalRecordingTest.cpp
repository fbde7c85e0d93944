// The console records every order window, its end and its receipts, and the kiosks'
// connections, into the journal of its data folder; read back here as the journal's
// readers read it, over kiosks on loopback.
#include "ConsoleProcessSupport.h"
#include "KioskSimSupport.h"
#include "LoopbackPrinterSupport.h"
#include "PrintSettingsSupport.h"
#include "TestUtil.h"
#include "UiTestSupport.h"

#include "common/GlobConst.h"
#include "journal/JournalReader.h"
#include "journal/OrderJournal.h"
#include "kiosk/ClientThread.h"
#include "printing/PrintSettings.h"
#include "printing/ReceiptSpooler.h"
#include "ui/JournalModel.h"
#include "ui/JournalRecorder.h"
#include "ui/JournalTab.h"
#include "ui/MainForm.h"
#include "ui/OrderConfirm.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlQuery>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>

using testutil::waitUntil;

namespace {

const QByteArray kOrderXml = "<order><name>Заказ 125</name><sum>1234.5</sum></order>";

// The sample order of the simulator as a kiosk sends it: one line, with its breaks and
// percent signs escaped.
QByteArray sampleOrderLine() {
    QByteArray xml = testutil::readFile(
        testutil::sourcePath(QStringLiteral("tools/kiosk-sim/samples/order.xml")));
    xml.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A");
    return xml;
}

// The main window over kiosks on loopback, with a data folder of its own so that the
// journal is a real file of the test.
class JournalRecording : public ::testing::Test {
public: // the cases of a table drive the fixture
    void SetUp() override {
        ASSERT_TRUE(data.isValid());
        oldDataFolder = DataFolder;
        DataFolder = data.path() + QLatin1Char('/');
    }
    void TearDown() override {
        w.reset();
        DataFolder = oldDataFolder;
    }

    void start(int kioskCount) {
        QList<int> ports;
        for (int i = 0; i < kioskCount; ++i) {
            kiosks.push_back(std::make_unique<FakeKiosk>());
            ports << kiosks.back()->Port();
        }
        ini.WriteDevices(ports);
        // The name the rows of this console carry, from the ini file.
        testutil::writeFile(ini.Path(),
                            ini.Read().toUtf8() + "[Journal]\nConsole=Касса 1\nKeepDays=30\n");
        w = std::make_unique<TfrmMain>();
        w->timDelayedStart->stop();
        for (int i = 0; i < kioskCount; ++i)
            ASSERT_TRUE(waitUntil([&] { return kiosks[i]->Count("GET_WORK_STATE") == 1; }, 8000))
                << i;
    }

    TfrmOrderConfirm* pay(int i, const QByteArray& sum, const QByteArray& xml = kOrderXml) {
        kiosks[i]->Send("ORDER_SUM=" + sum);
        kiosks[i]->Send("INVOICE=Борщ 1 x 250.00%0D%0AЧай 2 x 40.00");
        kiosks[i]->Send("ORDER_XML=" + xml);
        kiosks[i]->Send("PAY_BLOCK");
        const TDeviceItem* device = w->Devices()[i].get();
        waitUntil([&] { return w->OrderWindowOf(device) != nullptr; });
        return w->OrderWindowOf(device);
    }

    void key(QWidget* target, Qt::Key k) {
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
    }

    // Every order of the journal, oldest first.
    QList<JournalRecord> orders() {
        JournalReader reader(data.path());
        EXPECT_TRUE(reader.open()) << reader.lastError().toStdString();
        QList<JournalRecord> rows = reader.orders(JournalQuery{}, 100);
        std::reverse(rows.begin(), rows.end());
        return rows;
    }

    // The connection events as "kiosk kind text", oldest first, through a connection of
    // the test's own.
    QStringList events() {
        QStringList out;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                        QStringLiteral("recording-test"));
            db.setDatabaseName(OrderJournal::fileName(data.path()));
            EXPECT_TRUE(db.open());
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(QStringLiteral("SELECT kiosk, kind, text FROM events ORDER BY id")));
            while (q.next())
                out << q.value(0).toString() + QLatin1Char(' ') + q.value(1).toString() +
                           QLatin1Char(' ') + q.value(2).toString();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("recording-test"));
        return out;
    }

    void flush() { ASSERT_TRUE(w->Journal()->flush(5000)); }

    QTemporaryDir data;
    QString oldDataFolder;
    TempIni ini;
    std::vector<std::unique_ptr<FakeKiosk>> kiosks;
    std::unique_ptr<TfrmMain> w;
};

TEST_F(JournalRecording, EachDecisionWithItsSumOrderNameAndWait) {
    start(1);
    ASSERT_TRUE(w->Journal()->enabled());
    EXPECT_EQ(w->Journal()->console(), QStringLiteral("Касса 1"));
    EXPECT_EQ(w->Journal()->keepDays(), 30);
    const struct {
        const char* how;
        QByteArray sum;
        std::function<void(JournalRecording&, TfrmOrderConfirm*)> end;
        JournalDecision decision;
    } cases[] = {
        {"Enter", "100.5",
         [](JournalRecording& t, TfrmOrderConfirm* win) { t.key(win->memInvoice, Qt::Key_Return); },
         JournalDecision::Confirmed},
        {"Esc", "200",
         [](JournalRecording& t, TfrmOrderConfirm* win) { t.key(win->memInvoice, Qt::Key_Escape); },
         JournalDecision::Cancelled},
        {"Исполнить заказ", "300.25",
         [](JournalRecording&, TfrmOrderConfirm* win) { win->btnAccept->click(); },
         JournalDecision::Confirmed},
        {"Отменить заказ", "400",
         [](JournalRecording&, TfrmOrderConfirm* win) { win->btnDeny->click(); },
         JournalDecision::Cancelled},
        {"Вернуться в заказ", "500",
         [](JournalRecording&, TfrmOrderConfirm* win) { win->btnResumeOrder->click(); },
         JournalDecision::Returned},
        {"PAY_END", "600",
         [](JournalRecording& t, TfrmOrderConfirm*) { t.kiosks[0]->Send("PAY_END"); },
         JournalDecision::Ended},
    };
    const TDeviceItem* device = w->Devices()[0].get();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        TfrmOrderConfirm* window = pay(0, c.sum);
        ASSERT_NE(window, nullptr);
        testutil::pump(300); // the customer waits a moment
        c.end(*this, window);
        ASSERT_TRUE(waitUntil([&] { return w->OrderWindowOf(device) == nullptr; }));
    }
    flush();
    const QList<JournalRecord> rows = orders();
    ASSERT_EQ(rows.size(), std::size(cases));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const JournalRecord& r = rows[i];
        SCOPED_TRACE(cases[i].how);
        EXPECT_EQ(r.decision, cases[i].decision);
        EXPECT_DOUBLE_EQ(r.sum, cases[i].sum.toDouble());
        EXPECT_EQ(r.orderName, QStringLiteral("Заказ 125"));
        EXPECT_EQ(r.document, QString::fromUtf8(kOrderXml));
        EXPECT_EQ(r.invoice, QStringLiteral("Борщ 1 x 250.00\r\nЧай 2 x 40.00"));
        EXPECT_EQ(r.kiosk, QStringLiteral("Киоск 1"));
        EXPECT_EQ(r.address, QStringLiteral("127.0.0.1:%1").arg(kiosks[0]->Port()));
        EXPECT_EQ(r.console, QStringLiteral("Касса 1"));
        EXPECT_GE(r.waitSeconds, 0.3);
        EXPECT_TRUE(r.decided.isValid());
        EXPECT_GE(r.opened.msecsTo(r.decided), 300);
        // The wait is the window's own, with its fractions, not whole seconds.
        EXPECT_NEAR(r.waitSeconds, r.opened.msecsTo(r.decided) / 1000.0, 0.2);
    }
}

TEST_F(JournalRecording, WindowsThatGoWithoutADecisionAreClosed) {
    start(3);
    TfrmOrderConfirm* lostWindow = pay(0, "10");
    TfrmOrderConfirm* deletedWindow = pay(1, "20");
    ASSERT_NE(pay(2, "30"), nullptr);
    ASSERT_NE(lostWindow, nullptr);
    ASSERT_NE(deletedWindow, nullptr);

    // A state change: the kiosk's connection goes.
    kiosks[0]->Shutdown();
    ASSERT_TRUE(waitUntil([&] { return w->OrderWindowOf(w->Devices()[0].get()) == nullptr; }));

    // The kiosk deleted: its window stays, inert; Enter in it afterwards is no decision.
    w->mnuRestoreClick();
    w->FillList();
    w->lvDevices->setCurrentItem(w->lvDevices->topLevelItem(1));
    AnswerMessageBox(QMessageBox::Yes);
    w->actDeviceDelete->trigger();
    ASSERT_EQ(w->Devices().Count(), 2);
    testutil::pump(200);
    key(deletedWindow->memInvoice, Qt::Key_Return);

    // The console ends with the third window open.
    w->mnuExitClick();
    w.reset(); // its end waits for the journal

    const QList<JournalRecord> rows = orders();
    ASSERT_EQ(rows.size(), 3);
    const QStringList kiosksOf{QStringLiteral("Киоск 1"), QStringLiteral("Киоск 2"),
                               QStringLiteral("Киоск 3")};
    for (qsizetype i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].kiosk, kiosksOf[i]);
        EXPECT_EQ(rows[i].decision, JournalDecision::Closed);
        EXPECT_TRUE(rows[i].decided.isValid());
        EXPECT_GE(rows[i].waitSeconds, 0.0);
    }
    EXPECT_EQ(kiosks[1]->Count("ORDER_CONFIRM"), 0);
}

TEST_F(JournalRecording, ConnectionsComeAndGo) {
    start(1);
    kiosks[0]->Shutdown();
    ASSERT_TRUE(waitUntil([&] {
        const TThreadState s = w->Devices()[0]->ThreadState();
        return s == tsError || s == tsDisconnected || s == tsConnecting;
    }));
    testutil::pump(500); // the failed retries that follow are no new losses
    flush();
    const QStringList got = events();
    ASSERT_EQ(got.size(), 2) << got.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(got[0], QStringLiteral("Киоск 1 connected "));
    EXPECT_TRUE(got[1].startsWith(QStringLiteral("Киоск 1 lost "))) << got[1].toStdString();
    EXPECT_GT(got[1].size(), QStringLiteral("Киоск 1 lost ").size()) << "the reason is kept";
}

TEST_F(JournalRecording, AKioskDisabledByTheOperatorIsNotLost) {
    start(1);
    w->mnuRestoreClick();
    w->FillList();
    w->lvDevices->setCurrentItem(w->lvDevices->topLevelItem(0));
    w->actDeviceDisable->trigger();
    ASSERT_TRUE(waitUntil([&] {
        return !w->Devices()[0]->ThreadTerminating() &&
               w->Devices()[0]->ThreadState() == tsSuspended;
    }));
    testutil::pump(300);
    flush();
    EXPECT_EQ(events(), QStringList{QStringLiteral("Киоск 1 connected ")});
}

TEST_F(JournalRecording, AJournalThatCannotWriteIsToldOnce) {
    // A plain file where the journal's folder should be.
    testutil::writeFile(data.filePath(QStringLiteral("blocked")), "not a folder");
    DataFolder = data.filePath(QStringLiteral("blocked")) + QLatin1Char('/');
    start(1);
    // The journal finds out at its first try, while the kiosk connects.
    const QString told = QStringLiteral("Журнал заказов не записывается");
    ASSERT_TRUE(waitUntil([&] { return w->StatusBar->currentMessage().startsWith(told); }, 8000))
        << w->StatusBar->currentMessage().toStdString();
    QSignalSpy failures(w->Journal(), &JournalRecorder::failed);
    TfrmOrderConfirm* window = pay(0, "100");
    ASSERT_NE(window, nullptr);
    key(window->memInvoice, Qt::Key_Return);
    EXPECT_TRUE(waitUntil([&] { return kiosks[0]->Count("ORDER_CONFIRM") == 1; }, 4000))
        << "the order goes on regardless";
    // The journal tries again every two seconds; the operator heard of it once.
    testutil::pump(4500);
    EXPECT_EQ(failures.count(), 0);
    EXPECT_FALSE(w->Journal()->flush(100)) << "the rows wait in memory";
}

TEST_F(JournalRecording, AVersionRefusedIsRecorded) {
    FakeKiosk old(QStringLiteral("Kiosk 13.9.0.0"));
    ini.WriteDevices({old.Port()});
    w = std::make_unique<TfrmMain>();
    w->timDelayedStart->stop();
    ASSERT_TRUE(
        waitUntil([&] { return w->Devices()[0]->ThreadState() == tsObsoleteVersion; }, 8000));
    flush();
    const QStringList got = events();
    ASSERT_EQ(got.size(), 1) << got.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(got[0], QStringLiteral("Киоск 1 refused 13.9.0.0"));
}

// The console program itself, ended by a signal with order windows open: their rows say
// closed, written before the process is gone.
TEST(JournalRecordingProgram, OrderWindowsOpenAtASignalAreClosed) {
    const struct {
        const char* name;
        int signal;
    } cases[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KioskSim sim;
        ASSERT_TRUE(sim.start(1));
        ConsoleProcess console;
        ASSERT_TRUE(console.Start(sim.ports())) << console.Error().toStdString();
        ASSERT_TRUE(console.OpenOrderWindows(sim, {250})) << console.Error().toStdString();
        ASSERT_TRUE(console.SignalAndWait(c.signal, 5000));
        EXPECT_EQ(console.Process().exitCode(), 0);

        JournalReader reader(console.DataFolder());
        ASSERT_TRUE(reader.open()) << reader.lastError().toStdString();
        const QList<JournalRecord> rows = reader.orders(JournalQuery{}, 10);
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows[0].decision, JournalDecision::Closed);
        EXPECT_DOUBLE_EQ(rows[0].sum, 250);
        EXPECT_EQ(rows[0].orderName, QStringLiteral("125"));
        EXPECT_GE(rows[0].waitSeconds, 0.0);
    }
}

TEST_F(JournalRecording, ReceiptsPrintedAndShownAreRecorded) {
    testutil::SavedPrintSettings saved;
    start(1);
    LoopbackPrinter printer;
    ASSERT_TRUE(printer.server.isListening());

    TfrmOrderConfirm* window = pay(0, "730", sampleOrderLine());
    ASSERT_NE(window, nullptr);

    // On the network printer: printed, where to.
    printer.use(ecNetwork);
    window->btnPrint->click();
    ASSERT_TRUE(ReceiptSpooler::instance().waitForIdle(10000));
    ASSERT_TRUE(waitUntil([&] { return window->PrintJob() == 0; }));
    EXPECT_FALSE(printer.received.isEmpty());

    // On the screen: shown, not printed.
    EscPosConnection = ecScreen;
    window->btnPrint->click();
    testutil::pump(200);
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top != window && top != w.get() && top->isVisible() &&
            top->objectName() != QStringLiteral("frmOrderConfirm"))
            top->close();

    key(window->memInvoice, Qt::Key_Return);
    flush();
    const QList<JournalRecord> rows = orders();
    ASSERT_EQ(rows.size(), 1);
    const JournalRecord& r = rows[0];
    EXPECT_EQ(r.orderName, QStringLiteral("125"));
    EXPECT_EQ(r.decision, JournalDecision::Confirmed);
    EXPECT_EQ(r.printedCount, 1);
    ASSERT_EQ(r.prints.size(), 2);
    EXPECT_TRUE(r.prints[0].printed);
    EXPECT_EQ(r.prints[0].printerType, 3);
    EXPECT_EQ(r.prints[0].connection, printer.name());
    EXPECT_TRUE(r.prints[0].outcome.isEmpty()) << r.prints[0].outcome.toStdString();
    EXPECT_FALSE(r.prints[1].printed);
    EXPECT_EQ(r.prints[1].outcome, QStringLiteral("Чек открыт в окне просмотра"));
    EXPECT_TRUE(r.prints[0].at.isValid());
    EXPECT_LE(r.prints[0].at, r.prints[1].at);
}

TEST(JournalRecorderTest, OrderNameOfTheDocument) {
    const struct {
        const char* document;
        const char* name;
    } cases[] = {
        {"<order><name>125</name></order>", "125"},
        {"<order><kiosk><name>Киоск</name></kiosk><name> A-7 </name></order>", "A-7"},
        {"<order><kiosk><name>Киоск</name></kiosk></order>", ""},
        {"<order><name>1", ""},
        {"", ""},
        {"<other><name>9</name></other>", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JournalRecorder::orderName(QString::fromUtf8(c.document)),
                  QString::fromUtf8(c.name))
            << c.document;
}

TEST(JournalRecorderTest, WithoutADataFolderNothingIsRecorded) {
    JournalRecorder recorder{QString(), QString()};
    EXPECT_FALSE(recorder.enabled());
    EXPECT_EQ(recorder.keepDays(), JournalRecorder::kDefaultKeepDays);
    auto device = TDeviceItem::Create(QStringLiteral("127.0.0.1"), 1);
    EXPECT_EQ(recorder.orderOpened(*device), 0u);
    EXPECT_TRUE(recorder.flush(100));
}

} // namespace

// The journal is a tab of the main window beside the kiosks; a copy printed there from an
// order of the list is recorded with that order.
TEST_F(JournalRecording, ACopyPrintedFromTheJournalTabIsRecordedWithItsOrder) {
    testutil::SavedPrintSettings saved;
    start(1);
    LoopbackPrinter printer;
    ASSERT_TRUE(printer.server.isListening());
    printer.use(ecNetwork);

    TfrmOrderConfirm* window = pay(0, "730", sampleOrderLine());
    ASSERT_NE(window, nullptr);
    key(window->memInvoice, Qt::Key_Return);
    flush();

    ASSERT_EQ(w->PageControl->tabText(1), QStringLiteral("Журнал заказов"));
    w->PageControl->setCurrentIndex(1); // turning to it reads the journal
    TJournalTab* tab = w->tshJournal;
    ASSERT_TRUE(waitUntil([&] { return tab->model()->rowCount() == 1; }));
    tab->lvJournal->selectRow(0);
    ASSERT_NE(tab->selectedRecord(), nullptr);
    tab->btnJournalReprint->click();
    ASSERT_TRUE(ReceiptSpooler::instance().waitForIdle(10000));
    ASSERT_TRUE(waitUntil([&] { return !printer.received.isEmpty(); }));
    testutil::pump(100); // the job's end reaches the recorder
    flush();

    // On the screen: the copy shown in the preview is recorded as shown, not printed.
    EscPosConnection = ecScreen;
    tab->btnJournalReprint->click();
    testutil::pump(200);
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top != w.get() && top->isVisible())
            top->close();
    flush();

    const QList<JournalRecord> rows = orders();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].decision, JournalDecision::Confirmed);
    ASSERT_EQ(rows[0].prints.size(), 2);
    EXPECT_TRUE(rows[0].prints[0].printed);
    EXPECT_EQ(rows[0].prints[0].connection, printer.name());
    EXPECT_FALSE(rows[0].prints[1].printed);
    EXPECT_EQ(rows[0].prints[1].outcome, QStringLiteral("Чек открыт в окне просмотра"));
    EXPECT_EQ(rows[0].printedCount, 1);
}

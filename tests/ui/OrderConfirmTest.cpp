#include "PrintSettingsSupport.h"
#include "TestUtil.h"
#include "UiTestSupport.h"
#include "printing/PrintSettings.h"

#include "kiosk/ClientThread.h"
#include "ui/MainForm.h"
#include "ui/OrderConfirm.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cups/cups.h>

using testutil::waitUntil;

TEST(OrderConfirmTest, SumTextRoundsKopecksHalvesToEven) {
    struct Case {
        double sum;
        const char* text;
    } cases[] = {
        {250, "Сумма заказа: 250 руб. 00 коп."},
        {99.99, "Сумма заказа: 99 руб. 99 коп."},
        {1234.5, "Сумма заказа: 1234 руб. 50 коп."},
        {-1, "Сумма заказа: -1 руб. 00 коп."},
        {0, "Сумма заказа: 0 руб. 00 коп."},
        // 0.125 and 2.625 are exact in binary: the half goes to the even neighbour.
        {0.125, "Сумма заказа: 0 руб. 12 коп."},
        {0.375, "Сумма заказа: 0 руб. 38 коп."},
        {2.625, "Сумма заказа: 2 руб. 62 коп."},
        {0.05, "Сумма заказа: 0 руб. 05 коп."},
        // A fraction that rounds to a whole rouble carries into the roubles.
        {12.996, "Сумма заказа: 13 руб. 00 коп."},
        {-2.5, "Сумма заказа: -2 руб. -50 коп."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OrderSumText(c.sum), QString::fromUtf8(c.text)) << c.sum;
}

TEST(OrderConfirmTest, ResumeButtonNeedsVersion630OrNewer) {
    struct Case {
        const char* version;
        bool enabled;
    } cases[] = {
        {"", false}, {"6.2.9.9", false}, {"6.3.0.0", true}, {"6.3.0.1", true}, {"14.2.0.7", true}};
    QWidget owner;
    for (const Case& c : cases) {
        auto device = TDeviceItem::Create();
        device->Name = QStringLiteral("Киоск");
        device->SetVersionStr(QString::fromLatin1(c.version));
        auto* w = new TfrmOrderConfirm(&owner);
        w->SetDevice(device);
        w->PrepareForShow();
        EXPECT_EQ(w->btnResumeOrder->isEnabled(), c.enabled) << c.version;
        EXPECT_EQ(w->windowTitle(), QStringLiteral("Киоск - подтверждение заказа"));
        delete w;
    }
}

TEST(OrderConfirmTest, ButtonsNeverTakeTheFocusAndPrintWithoutAnOrderDocumentSaysWhyOnEscPos) {
    QWidget owner;
    auto device = TDeviceItem::Create();
    auto* w = new TfrmOrderConfirm(&owner);
    w->SetDevice(device);
    w->PrepareForShow();
    for (QPushButton* b : {w->btnAccept, w->btnPrint, w->btnResumeOrder, w->btnDeny})
        EXPECT_EQ(b->focusPolicy(), Qt::NoFocus) << b->objectName().toStdString();
    EXPECT_TRUE(w->memInvoice->isReadOnly());

    // The ESC/POS printer prints only from an order document: without one, nothing is
    // printed, and the operator is told why.
    testutil::SavedPrintSettings saved;
    PrinterType = 3;
    PrintSettingsConfigured = true;
    QString text;
    AnswerMessageBox(QMessageBox::Ok, &text);
    w->btnPrint->click();
    testutil::pump(300);
    EXPECT_EQ(text, QStringLiteral("Киоск не прислал документ заказа: печатать нечего"));
    EXPECT_EQ(w->PrintJob(), 0);
    EXPECT_TRUE(device->PendingCommands().empty()) << "printing queues nothing";
    delete w;
}

// The main window over kiosks on loopback, each connected and its version accepted.
class OrderWindowLink : public ::testing::Test {
protected:
    void start(int kioskCount) {
        QList<int> ports;
        for (int i = 0; i < kioskCount; ++i) {
            kiosks.push_back(std::make_unique<FakeKiosk>());
            ports << kiosks.back()->Port();
        }
        ini.WriteDevices(ports);
        w = std::make_unique<TfrmMain>();
        w->timDelayedStart->stop();
        for (int i = 0; i < kioskCount; ++i) {
            // Connected, and the work-state question answered, so that a decision
            // goes out at the next quiet second.
            ASSERT_TRUE(waitUntil([&] { return kiosks[i]->Count("GET_WORK_STATE") == 1; }, 8000))
                << i;
        }
    }

    // Sends an order and PAY_BLOCK from kiosk i; returns its window.
    TfrmOrderConfirm* pay(int i, const QByteArray& sum = "1234.5") {
        kiosks[i]->Send("ORDER_SUM=" + sum);
        kiosks[i]->Send("INVOICE=Борщ 1 x 250.00%0D%0AЧай 2 x 40.00");
        kiosks[i]->Send("PAY_BLOCK");
        const TDeviceItem* device = w->Devices()[i].get();
        waitUntil([&] { return w->OrderWindowOf(device) != nullptr; });
        return w->OrderWindowOf(device);
    }

    void key(QWidget* target, Qt::Key k) {
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
    }

    TempIni ini;
    std::vector<std::unique_ptr<FakeKiosk>> kiosks;
    std::unique_ptr<TfrmMain> w;
};

TEST_F(OrderWindowLink, PayBlockOpensOneWindowWithTheOrder) {
    start(1);
    TfrmOrderConfirm* window = pay(0);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(w->isVisible()) << "the main window stays hidden";
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Киоск 1 - подтверждение заказа"));
    EXPECT_EQ(window->lblTitle->text(), QStringLiteral("Сумма заказа: 1234 руб. 50 коп."));
    EXPECT_EQ(window->memInvoice->toPlainText(), QStringLiteral("Борщ 1 x 250.00\nЧай 2 x 40.00"));
    EXPECT_TRUE(window->btnResumeOrder->isEnabled());

    kiosks[0]->Send("PAY_BLOCK");
    testutil::pump(300);
    EXPECT_EQ(w->OrderWindows().size(), 1);
    EXPECT_EQ(w->OrderWindowOf(w->Devices()[0].get()), window);
}

TEST_F(OrderWindowLink, DecisionsReachTheKioskAndCloseTheWindow) {
    start(1);
    struct Case {
        const char* how;
        QByteArray word;
    } cases[] = {{"Enter", "ORDER_CONFIRM"},
                 {"Esc", "ORDER_CANCEL"},
                 {"resume", "ORDER_RETURN"},
                 {"accept button", "ORDER_CONFIRM"},
                 {"deny button", "ORDER_CANCEL"}};
    for (const Case& c : cases) {
        TfrmOrderConfirm* window = pay(0);
        ASSERT_NE(window, nullptr) << c.how;
        const int before = kiosks[0]->Count(c.word);
        const QString how = QString::fromLatin1(c.how);
        if (how == "Enter")
            key(window->memInvoice, Qt::Key_Return);
        else if (how == "Esc")
            key(window->memInvoice, Qt::Key_Escape);
        else if (how == "resume")
            window->btnResumeOrder->click();
        else if (how == "accept button")
            window->btnAccept->click();
        else
            window->btnDeny->click();
        EXPECT_EQ(w->OrderWindows().size(), 0) << c.how << ": the window closes at once";
        EXPECT_TRUE(waitUntil([&] { return kiosks[0]->Count(c.word) == before + 1; }, 4000))
            << c.how;
        kiosks[0]->Send("PAY_END");
        testutil::pump(50);
    }
}

// A key held down from the order before, or a keyboard that repeats: the repeats reach
// the next order's window as presses. Only a fresh press decides, wherever the repeat
// lands: on the invoice (which has the keyboard), on the window, or on one of its buttons.
TEST_F(OrderWindowLink, HeldKeyDecidesNothingUntilPressedAfresh) {
    start(1);
    enum Target { tInvoice, tWindow, tAccept, tDeny, tResume };
    const struct {
        const char* name;
        Qt::Key key;
        Target target;
        QByteArray word; // what the fresh press sends
    } cases[] = {
        {"Return on the invoice", Qt::Key_Return, tInvoice, "ORDER_CONFIRM"},
        {"keypad Enter on the invoice", Qt::Key_Enter, tInvoice, "ORDER_CONFIRM"},
        {"Esc on the invoice", Qt::Key_Escape, tInvoice, "ORDER_CANCEL"},
        {"Return on the window", Qt::Key_Return, tWindow, "ORDER_CONFIRM"},
        {"Esc on the window", Qt::Key_Escape, tWindow, "ORDER_CANCEL"},
        // A button that reacted to Enter or Space itself would click on a repeat.
        {"Return on the accept button", Qt::Key_Return, tAccept, "ORDER_CONFIRM"},
        {"Space on the accept button", Qt::Key_Space, tAccept, ""},
        {"Esc on the deny button", Qt::Key_Escape, tDeny, "ORDER_CANCEL"},
        {"Space on the resume button", Qt::Key_Space, tResume, ""},
    };
    const QList<QByteArray> decisions = {"ORDER_CONFIRM", "ORDER_CANCEL", "ORDER_RETURN"};
    auto sent = [&](const QByteArray& word) { return kiosks[0]->Count(word); };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TfrmOrderConfirm* window = pay(0);
        ASSERT_NE(window, nullptr);
        QWidget* target = c.target == tInvoice  ? static_cast<QWidget*>(window->memInvoice)
                          : c.target == tWindow ? static_cast<QWidget*>(window)
                          : c.target == tAccept ? static_cast<QWidget*>(window->btnAccept)
                          : c.target == tDeny   ? static_cast<QWidget*>(window->btnDeny)
                                                : static_cast<QWidget*>(window->btnResumeOrder);
        for (QPushButton* b :
             {window->btnAccept, window->btnPrint, window->btnResumeOrder, window->btnDeny}) {
            EXPECT_FALSE(b->autoDefault()) << b->objectName().toStdString();
            EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
        }
        QList<int> before;
        for (const QByteArray& word : decisions)
            before << sent(word);

        QPointer<TfrmOrderConfirm> alive(window);
        for (int i = 0; i < 3; ++i) {
            QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier, QString(), true);
            QApplication::sendEvent(target, &press);
            QKeyEvent release(QEvent::KeyRelease, c.key, Qt::NoModifier, QString(), true);
            QApplication::sendEvent(target, &release);
        }
        ASSERT_TRUE(alive) << "a repeated key closed the window";
        ASSERT_EQ(w->OrderWindows().size(), 1) << "a repeated key closed the window";
        EXPECT_TRUE(w->Devices()[0]->PendingCommands().empty())
            << "a repeated key queued a decision";
        // A decision goes out at the kiosk's next quiet second.
        testutil::pump(1300);
        for (int i = 0; i < decisions.size(); ++i)
            EXPECT_EQ(sent(decisions[i]), before[i]) << decisions[i].constData();

        // A fresh press of a deciding key decides, once.
        if (c.word.isEmpty()) {
            key(window->memInvoice, Qt::Key_Return);
        } else {
            QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier);
            QApplication::sendEvent(target, &press);
        }
        const QByteArray word = c.word.isEmpty() ? QByteArray("ORDER_CONFIRM") : c.word;
        EXPECT_TRUE(w->OrderWindows().isEmpty()) << "the fresh press did not decide";
        const auto wordIndex = decisions.indexOf(word);
        EXPECT_TRUE(waitUntil([&] { return sent(word) == before[wordIndex] + 1; }, 4000));
        testutil::pump(300);
        for (int i = 0; i < decisions.size(); ++i)
            EXPECT_EQ(sent(decisions[i]), before[i] + (i == wordIndex ? 1 : 0))
                << decisions[i].constData();
        kiosks[0]->Send("PAY_END");
        testutil::pump(50);
    }
}

TEST_F(OrderWindowLink, CloseBoxKeepsTheWindowAndKeepAliveFollowsIt) {
    start(1);
    TfrmOrderConfirm* window = pay(0);
    ASSERT_NE(window, nullptr);
    const qint64 opened = kiosks[0]->Elapsed();
    window->close();
    EXPECT_TRUE(window->isVisible());

    // The line is quiet: about one KEEP_ALIVE a second while the window is open.
    testutil::pump(3600);
    ASSERT_EQ(w->OrderWindows().size(), 1);
    int keepAlives = 0;
    for (const auto& r : kiosks[0]->Lines()) {
        EXPECT_TRUE(r.line == "KEEP_ALIVE" || r.ms < opened)
            << "sent while open: " << r.line.constData();
        if (r.line == "KEEP_ALIVE")
            ++keepAlives;
    }
    EXPECT_GE(keepAlives, 2);
    EXPECT_LE(keepAlives, 4);

    // PAY_END removes it; the keep-alives stop.
    kiosks[0]->Send("PAY_END");
    ASSERT_TRUE(waitUntil([&] { return w->OrderWindows().isEmpty(); }));
    testutil::pump(1200); // one that was requested just before may still go out
    const int afterClose = kiosks[0]->Count("KEEP_ALIVE");
    testutil::pump(2500);
    EXPECT_EQ(kiosks[0]->Count("KEEP_ALIVE"), afterClose);
}

TEST_F(OrderWindowLink, StateOtherThanConnectedClosesTheWindow) {
    start(1);
    struct Case {
        QByteArray line;
    } cases[] = {{"SESSION_START"}, {"SESSION_STOP"}, {"ORDERING_FINISH"}};
    for (const Case& c : cases) {
        ASSERT_NE(pay(0), nullptr) << c.line.constData();
        // The state that the message announces counts: tsConnected keeps the window.
        w->WMKioskState(w->Devices()[0], tsConnected);
        ASSERT_EQ(w->OrderWindows().size(), 1);
        kiosks[0]->Send(c.line);
        EXPECT_TRUE(waitUntil([&] { return w->OrderWindows().isEmpty(); })) << c.line.constData();
    }
    EXPECT_EQ(kiosks[0]->Count("ORDER_CONFIRM") + kiosks[0]->Count("ORDER_CANCEL"), 0)
        << "forced closes send nothing";

    // A lost connection closes it too.
    ASSERT_NE(pay(0), nullptr);
    kiosks[0]->Shutdown();
    EXPECT_TRUE(waitUntil([&] { return w->OrderWindows().isEmpty(); }));
}

TEST_F(OrderWindowLink, TwoKiosksHaveWindowsAtOnceAndPayEndClosesOnlyItsOwn) {
    start(2);
    TfrmOrderConfirm* first = pay(0, "250");
    TfrmOrderConfirm* second = pay(1, "99.99");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(second->lblTitle->text(), QStringLiteral("Сумма заказа: 99 руб. 99 коп."));

    kiosks[0]->Send("PAY_END");
    ASSERT_TRUE(waitUntil([&] { return w->OrderWindowOf(w->Devices()[0].get()) == nullptr; }));
    EXPECT_EQ(w->OrderWindowOf(w->Devices()[1].get()), second);
    key(second->memInvoice, Qt::Key_Return);
    EXPECT_TRUE(waitUntil([&] { return kiosks[1]->Count("ORDER_CONFIRM") == 1; }, 4000));
    EXPECT_EQ(kiosks[0]->Count("ORDER_CONFIRM"), 0);
}

TEST_F(OrderWindowLink, DeletedKioskLeavesItsWindowHarmless) {
    start(1);
    TfrmOrderConfirm* window = pay(0);
    ASSERT_NE(window, nullptr);
    const std::weak_ptr<TDeviceItem> device = w->Devices()[0];
    w->mnuRestoreClick();
    w->FillList(); // the list fills when the window shows; it stays hidden here
    w->lvDevices->setCurrentItem(w->lvDevices->topLevelItem(0));
    AnswerMessageBox(QMessageBox::Yes);
    w->actDeviceDelete->trigger();
    ASSERT_EQ(w->Devices().Count(), 0);

    // The thread stops and the record goes; the window outlives both.
    EXPECT_TRUE(waitUntil([&] { return device.expired(); }));
    testutil::pump(1200); // the keep-alive timer runs on a record that is gone
    key(window->memInvoice, Qt::Key_Return);
    EXPECT_TRUE(w->OrderWindows().isEmpty());
    EXPECT_EQ(kiosks[0]->Count("ORDER_CONFIRM"), 0);
}

// ---- Several things at once: boxes of the console, several windows, the desktop's font

namespace {

// Input as the window system delivers it: Qt drops it for a window that a modal box
// blocks, exactly as it does for the operator's keyboard and mouse.
void pressEnter(TfrmOrderConfirm* window) {
    QTest::keyClick(window->windowHandle(), Qt::Key_Return);
}
void clickAccept(TfrmOrderConfirm* window) {
    const QPoint centre = window->btnAccept->mapTo(window, window->btnAccept->rect().center());
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, centre);
}

} // namespace

TEST_F(OrderWindowLink, OrderWindowsStayUsableWhileABoxOfTheConsoleIsOpen) {
    testutil::SavedPrintSettings saved;
    start(1);
    w->FillList(); // the list fills when the window shows; it stays hidden here
    w->lvDevices->setCurrentItem(w->lvDevices->topLevelItem(0));
    const struct {
        const char* box;
        QAction* opens;
    } boxes[] = {{"About", w->mnuAbout},
                 {"device properties", w->actDevicePops},
                 {"print settings", w->actOptionsPrinter}};
    const struct {
        const char* how;
        void (*decide)(TfrmOrderConfirm*);
    } ways[] = {{"Enter", pressEnter}, {"click", clickAccept}};
    for (const auto& b : boxes)
        for (const auto& way : ways) {
            SCOPED_TRACE(std::string(b.box) + ", " + way.how);
            TfrmOrderConfirm* window = pay(0);
            ASSERT_NE(window, nullptr);
            const int before = kiosks[0]->Count("ORDER_CONFIRM");
            bool boxSeen = false;
            bool decided = false;
            // The box runs its own event loop: the decision is made from inside it.
            QTimer::singleShot(300, [&] {
                QWidget* box = QApplication::activeModalWidget();
                boxSeen = box && box->isVisible();
                way.decide(window);
                decided = waitUntil([&] { return w->OrderWindows().isEmpty(); }, 2000);
                if (auto* dialog = qobject_cast<QDialog*>(box))
                    dialog->reject();
            });
            b.opens->trigger();
            EXPECT_TRUE(boxSeen) << "the box was not open";
            EXPECT_TRUE(decided) << "the order window did not take the decision";
            EXPECT_TRUE(
                waitUntil([&] { return kiosks[0]->Count("ORDER_CONFIRM") == before + 1; }, 4000));
            kiosks[0]->Send("PAY_END");
            testutil::pump(50);
        }
}

TEST_F(OrderWindowLink, ExitEndsEverythingOpenAndDecidesNothing) {
    start(2);
    ASSERT_NE(pay(0), nullptr);
    ASSERT_NE(pay(1), nullptr);
    // As the program does: the end of the main window ends the application's loops.
    QObject::connect(
        w.get(), &TfrmMain::closedForGood, qApp, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    QTimer::singleShot(0, w.get(), [this] { w->mnuAbout->trigger(); });
    QTimer::singleShot(300, w.get(), [this] {
        EXPECT_NE(QApplication::activeModalWidget(), nullptr) << "the About box is open";
        w->mnuExit->trigger();
    });
    // Should the exit not go through, the run fails here instead of hanging.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    watchdog.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 0) << "the exit was held up";
    EXPECT_TRUE(w->OrderWindows().isEmpty());
    w.reset();
    testutil::pump(1500);
    for (const auto& kiosk : kiosks)
        for (const char* word : {"ORDER_CONFIRM", "ORDER_CANCEL", "ORDER_RETURN"})
            EXPECT_EQ(kiosk->Count(word), 0) << word;
}

TEST_F(OrderWindowLink, NewWindowsAreCentredCascadedAndLeaveTheKeyboardToTheOperator) {
    start(3);
    TfrmOrderConfirm* first = pay(0);
    ASSERT_NE(first, nullptr);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    // Centred up to what a window frame adds.
    EXPECT_LE(std::abs(first->frameGeometry().center().x() - area.center().x()), 16);
    EXPECT_LE(std::abs(first->frameGeometry().center().y() - area.center().y()), 16);
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == first; }, 2000))
        << "a window that nobody works in takes the keyboard";

    TfrmOrderConfirm* second = pay(1);
    TfrmOrderConfirm* third = pay(2);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(third, nullptr);
    testutil::pump(300);
    EXPECT_EQ(QApplication::activeWindow(), first)
        << "the operator's window keeps the keyboard when another order arrives";
    const QList<TfrmOrderConfirm*> windows = {first, second, third};
    for (int i = 0; i < windows.size(); ++i) {
        EXPECT_TRUE(area.contains(windows[i]->frameGeometry())) << i;
        for (int j = 0; j < i; ++j)
            EXPECT_NE(windows[i]->pos(), windows[j]->pos()) << i << " hides " << j;
    }
}

TEST(OrderConfirmTest, CaptionsFitTheirControlsAtTheDefaultFontAndScaled) {
    QWidget owner;
    TfrmOrderConfirm window(&owner);
    const QSize size = window.size();
    for (const double scale : {1.0, 1.25}) {
        SCOPED_TRACE(scale);
        QFont font = QApplication::font();
        font.setPointSizeF(font.pointSizeF() * scale);
        window.setFont(font);
        EXPECT_EQ(window.size(), size) << "the window keeps its size";
        for (QPushButton* b :
             {window.btnAccept, window.btnPrint, window.btnResumeOrder, window.btnDeny}) {
            const QFontMetrics fm(b->font());
            EXPECT_LT(fm.horizontalAdvance(b->text()), b->width()) << b->objectName().toStdString();
            EXPECT_LT(fm.height(), b->height()) << b->objectName().toStdString();
            EXPECT_TRUE(window.rect().contains(b->geometry())) << b->objectName().toStdString();
        }
        // The buttons do not run into each other.
        EXPECT_LT(window.btnAccept->geometry().right(), window.btnPrint->geometry().left());
        EXPECT_LT(window.btnPrint->geometry().right(), window.btnDeny->geometry().left());
        const QFontMetrics title(window.lblTitle->font());
        EXPECT_LE(title.height(), window.lblTitle->height());
        EXPECT_LE(title.horizontalAdvance(OrderSumText(123456789.99)), window.lblTitle->width());
    }
}

TEST(OrderConfirmTest, ShowsHowLongTheCustomerHasWaited) {
    QWidget owner;
    TfrmOrderConfirm window(&owner);
    EXPECT_EQ(window.lblWaiting->text(), QStringLiteral("00:00"));
    // Updated every second, with the window's keep-alive.
    EXPECT_TRUE(
        waitUntil([&] { return window.lblWaiting->text() == QStringLiteral("00:02"); }, 4000))
        << window.lblWaiting->text().toStdString();
    EXPECT_GE(window.WaitingSeconds(), 2);
    EXPECT_FALSE(window.lblWaiting->geometry().intersects(window.memInvoice->geometry()));
}

// What "Печать" does before anything is printed, when there is nothing it may print to or
// nothing to print: it asks for the print settings, or says why in the error box; the
// screen connection shows the receipt instead of sending it.
TEST(OrderConfirmTest, PrintCommandAsksOrSaysWhyBeforePrinting) {
    const QString sample = QString::fromUtf8(testutil::readFile(
        testutil::sourcePath(QStringLiteral("tools/kiosk-sim/samples/order.xml"))));
    QTemporaryDir nowhere;
    const QByteArray noServer = nowhere.filePath(QStringLiteral("no-cupsd.sock")).toUtf8();
    const struct {
        const char* name;
        bool configured;
        int type;
        int connection;
        QString orderXml;
        const char* server; // empty: the machine's own
        QString said;       // the box, or "settings" for the print settings dialog
        QString state;      // the window's print line afterwards
    } cases[] = {
        {"never configured: no printing by guess", false, 3, ecSerial, sample, "",
         QStringLiteral("settings"), QString()},
        {"a document that does not parse", true, 3, ecSerial, QStringLiteral("<order><name>1"), "",
         QStringLiteral("Документ заказа не читается, чек не напечатан (строка 1, позиция "),
         QString()},
        {"the print service does not answer", true, 0, ecSerial, sample, noServer.constData(),
         QStringLiteral("Служба печати CUPS не отвечает"), QString()},
        {"the screen shows the receipt", true, 3, ecScreen, sample, "", QString(),
         QStringLiteral("Чек открыт в окне просмотра")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testutil::SavedPrintSettings saved;
        TempIni ini;
        PrintSettingsConfigured = c.configured;
        PrinterType = c.type;
        EscPosConnection = c.connection;
        const QByteArray server = cupsServer();
        if (*c.server)
            cupsSetServer(c.server);
        auto device = TDeviceItem::Create();
        {
            TDeviceLock lock(*device);
            device->OrderXML = c.orderXml;
        }
        QWidget owner;
        auto* w = new TfrmOrderConfirm(&owner);
        w->SetDevice(device);
        w->PrepareForShow();

        QString said;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                said = box->text();
                box->accept();
            } else if (auto* dialog = qobject_cast<QDialog*>(modal);
                       dialog && modal->objectName() == QStringLiteral("frmPrint")) {
                said = QStringLiteral("settings");
                dialog->reject();
            }
        });
        answer.start(20);
        const QWidgetList tops = QApplication::topLevelWidgets();
        const QSet<QWidget*> before(tops.cbegin(), tops.cend());
        w->btnPrint->click();
        testutil::pump(300);
        answer.stop();
        cupsSetServer(server.constData());

        EXPECT_TRUE(said.startsWith(c.said)) << said.toStdString();
        EXPECT_EQ(said.isEmpty(), c.said.isEmpty()) << said.toStdString();
        EXPECT_EQ(w->lblPrintState->text(), c.state);
        EXPECT_EQ(w->PrintJob(), 0) << "nothing went to a printer";
        QWidget* preview = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (!before.contains(top) && top->objectName() == QStringLiteral("frmReceiptPreview"))
                preview = top;
        EXPECT_EQ(preview != nullptr, c.connection == ecScreen);
        delete preview;
        delete w;
    }
}

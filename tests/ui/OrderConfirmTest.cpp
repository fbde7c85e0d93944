#include "PrintSettingsSupport.h"
#include "TestUtil.h"
#include "UiTestSupport.h"
#include "printing/PrintSettings.h"

#include "ui/MainForm.h"
#include "ui/OrderConfirm.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

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

TEST(OrderConfirmTest, ButtonsNeverTakeTheFocusAndPrintWithoutAnOrderDocumentDoesNothingOnEscPos) {
    QWidget owner;
    auto device = TDeviceItem::Create();
    auto* w = new TfrmOrderConfirm(&owner);
    w->SetDevice(device);
    w->PrepareForShow();
    for (QPushButton* b : {w->btnAccept, w->btnPrint, w->btnResumeOrder, w->btnDeny})
        EXPECT_EQ(b->focusPolicy(), Qt::NoFocus) << b->objectName().toStdString();
    EXPECT_TRUE(w->memInvoice->isReadOnly());

    // The ESC/POS printer prints only from an order document: without one, nothing is
    // printed and nothing is shown.
    testutil::SavedPrintSettings saved;
    PrinterType = 3;
    QString text;
    AnswerMessageBox(QMessageBox::Ok, &text);
    w->btnPrint->click();
    testutil::pump(300);
    EXPECT_TRUE(text.isEmpty()) << text.toStdString();
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

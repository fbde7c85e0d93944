#include "SessionBusSupport.h"
#include "TestUtil.h"
#include "UiTestSupport.h"

#include "kiosk/ClientThread.h"
#include "ui/AlertOptions.h"
#include "ui/AlertSettings.h"
#include "ui/CanberraSound.h"
#include "ui/DesktopNotifications.h"
#include "ui/OrderAlerts.h"
#include "ui/TrayIcon.h"

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using testutil::waitUntil;

namespace {

// Names alone are enough: the alerts read a record's name and enabled flag only.
std::shared_ptr<TDeviceItem> kiosk(const char* name, bool enabled = true) {
    auto device = TDeviceItem::Create();
    device->Name = QString::fromUtf8(name);
    device->SetEnabled(enabled);
    return device;
}

TAlertSettings quick() {
    TAlertSettings s;
    s.RepeatSeconds = 1;
    s.OfflineAlertSeconds = 1;
    return s;
}

} // namespace

// One bus with dunst on it for the whole program: starting them takes a moment, and
// each test reads only the calls made after it began.
class OrderAlertsBusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_bus = new TestSessionBus;
        if (!s_bus->Start(&s_why) || !s_bus->StartNotificationService(&s_why)) {
            delete s_bus;
            s_bus = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete s_bus;
        s_bus = nullptr;
    }

    void SetUp() override {
        if (!s_bus)
            GTEST_SKIP() << "no session bus with a notification service here: "
                         << s_why.toStdString();
        // Calls of the previous test may still be on their way to the monitor.
        ASSERT_TRUE(s_bus->Sync());
        m_seen = static_cast<int>(s_bus->Notifications().size());
        m_closed = static_cast<int>(s_bus->CloseCalls().size());
        auto notifications = std::make_unique<DesktopNotifications>(
            s_bus->Connect(QStringLiteral("alerts%1").arg(++s_connections)));
        auto sound = std::make_unique<CanberraSound>();
        m_sink = notifications.get();
        m_sound = sound.get();
        m_alerts =
            std::make_unique<TOrderAlerts>(&m_tray, std::move(notifications), std::move(sound));
        m_alerts->Apply(quick());
    }

    void TearDown() override {
        m_alerts.reset();
        // Whatever a test left on screen is withdrawn with the alerts.
        if (s_bus) {
            EXPECT_TRUE(waitUntil([] { return s_bus->Displayed() == 0; }));
        }
    }

    // The calls this test made, as the bus carried them.
    QList<TestSessionBus::NotifyCall> calls() const { return s_bus->Notifications().mid(m_seen); }
    QList<quint32> closes() const { return s_bus->CloseCalls().mid(m_closed); }
    bool waitCalls(int n, int ms = 5000) const {
        return waitUntil([&] { return calls().size() >= n; }, ms);
    }

    static inline TestSessionBus* s_bus = nullptr;
    static inline QString s_why;
    static inline int s_connections = 0;

    TTrayIcon m_tray;
    DesktopNotifications* m_sink = nullptr;
    CanberraSound* m_sound = nullptr;
    std::unique_ptr<TOrderAlerts> m_alerts;
    int m_seen = 0;
    int m_closed = 0;
};

TEST_F(OrderAlertsBusTest, WaitingOrderIsAnnouncedRepeatedInOneBubbleAndStopsWhenClosed) {
    auto device = kiosk("Киоск 1");
    m_alerts->OrderWindowOpened(*device, 1234.5);

    ASSERT_TRUE(waitCalls(1));
    const QString text = QStringLiteral("Киоск 1: заказ на 1234 руб. 50 коп. ждёт подтверждения");
    EXPECT_EQ(calls()[0].summary, text);
    EXPECT_EQ(calls()[0].appName, QStringLiteral("orvanta-console"));
    EXPECT_EQ(calls()[0].replacesId, 0u);
    EXPECT_EQ(calls()[0].urgency, 2);
    EXPECT_TRUE(m_tray.OrderWaiting());

    // RepeatSeconds = 1: two reminders within a few seconds, each replacing the bubble
    // dunst gave the first one, so dunst shows one bubble, not three.
    ASSERT_TRUE(waitCalls(3));
    const quint32 id = m_sink->Id(QStringLiteral("orders"));
    ASSERT_NE(id, 0u);
    for (const auto& call : calls().mid(1)) {
        EXPECT_EQ(call.summary, text);
        EXPECT_EQ(call.replacesId, id);
    }
    EXPECT_EQ(s_bus->Displayed(), 1);

    // Every notice came with a sound request; libcanberra's answer is recorded whatever
    // it was (a machine without a sound server refuses, which is fine here).
    const int sounds = m_sound->Requests();
    EXPECT_GE(sounds, 3);
    EXPECT_LE(sounds, static_cast<int>(calls().size()));
    std::cout << "libcanberra: " << sounds << " requests, last result " << m_sound->LastResult()
              << " " << m_sound->LastError().toStdString() << "\n";

    m_alerts->OrderWindowClosed(device.get(), false);
    EXPECT_FALSE(m_tray.OrderWaiting());
    ASSERT_TRUE(waitUntil([&] { return closes().contains(id); }));
    EXPECT_TRUE(waitUntil([] { return s_bus->Displayed() == 0; }));
    const auto sent = calls().size();
    testutil::pump(2500);
    EXPECT_EQ(calls().size(), sent) << "reminders went on after the window closed";
    EXPECT_EQ(m_sound->Requests(), sounds);
}

TEST_F(OrderAlertsBusTest, SeveralOrdersShareOneReminderUntilTheLastCloses) {
    auto a = kiosk("Киоск 1");
    auto b = kiosk("Киоск 2");
    m_alerts->OrderWindowOpened(*a, 250);
    ASSERT_TRUE(waitCalls(1));
    m_alerts->OrderWindowOpened(*b, 99.99);
    ASSERT_TRUE(waitCalls(2));
    EXPECT_EQ(calls()[1].summary,
              QStringLiteral("Киоск 2: заказ на 99 руб. 99 коп. ждёт подтверждения"));
    EXPECT_EQ(calls()[1].body, QStringLiteral("Ждут также:\nКиоск 1: заказ на 250 руб. 00 коп."));

    ASSERT_TRUE(waitCalls(3));
    EXPECT_EQ(calls()[2].summary, QStringLiteral("Ждут подтверждения: 2 заказа"));
    EXPECT_EQ(calls()[2].body, QStringLiteral("Киоск 1: заказ на 250 руб. 00 коп.\n"
                                              "Киоск 2: заказ на 99 руб. 99 коп."));
    EXPECT_EQ(s_bus->Displayed(), 1);

    // One decided: the other still waits, and the reminder is about it alone.
    m_alerts->OrderWindowClosed(a.get(), false);
    EXPECT_TRUE(m_tray.OrderWaiting());
    const int before = static_cast<int>(calls().size());
    ASSERT_TRUE(waitCalls(before + 1));
    EXPECT_EQ(calls().last().summary,
              QStringLiteral("Киоск 2: заказ на 99 руб. 99 коп. ждёт подтверждения"));
    EXPECT_TRUE(closes().isEmpty());

    m_alerts->OrderWindowClosed(b.get(), false);
    EXPECT_FALSE(m_tray.OrderWaiting());
    EXPECT_EQ(m_alerts->WaitingOrders(), 0);
    EXPECT_TRUE(waitUntil([&] { return closes().size() == 1; }));
}

TEST_F(OrderAlertsBusTest, WindowClosedByLostConnectionSaysTheOrderWasNotConfirmed) {
    auto device = kiosk("Киоск 3");
    m_alerts->OrderWindowOpened(*device, 1234.5);
    ASSERT_TRUE(waitCalls(1));
    m_alerts->OrderWindowClosed(device.get(), true);
    ASSERT_TRUE(waitCalls(2));
    EXPECT_EQ(calls()[1].summary, QStringLiteral("Киоск 3: связь потеряна во время оплаты, "
                                                 "заказ на 1234 руб. 50 коп. не подтверждён"));
    EXPECT_EQ(calls()[1].urgency, 1);
    // A separate notice: the order reminder itself is withdrawn.
    EXPECT_TRUE(waitUntil([&] { return closes().size() == 1; }));
    EXPECT_FALSE(m_tray.OrderWaiting());
    // An ordinary decision says nothing more.
    m_alerts->OrderWindowOpened(*device, 10);
    m_alerts->OrderWindowClosed(device.get(), false);
    testutil::pump(1500);
    EXPECT_EQ(calls().size(), 3);
}

TEST_F(OrderAlertsBusTest, KioskSilentPastTheLimitIsReportedOnceAndItsReturnToo) {
    auto lost = kiosk("Киоск 1");
    auto brief = kiosk("Киоск 2");
    auto disabled = kiosk("Киоск 3", false);
    auto removed = kiosk("Киоск 4");

    const QTime before = QTime::currentTime();
    m_alerts->KioskStateChanged(*lost, tsDisconnected);
    const QTime after = QTime::currentTime();
    m_alerts->KioskStateChanged(*brief, tsConnecting);
    m_alerts->KioskStateChanged(*disabled, tsSuspended);
    m_alerts->KioskStateChanged(*removed, tsError);
    // Reconnect attempts change the state without ending the silence.
    testutil::pump(300);
    m_alerts->KioskStateChanged(*lost, tsConnecting);
    m_alerts->KioskStateChanged(*lost, tsError);
    m_alerts->KioskStateChanged(*brief, tsWorkingIdle); // back well within the limit
    m_alerts->KioskRemoved(removed.get());

    ASSERT_TRUE(waitCalls(1));
    testutil::pump(2500); // past the limit more than twice over: still one notice
    ASSERT_EQ(calls().size(), 1);
    const QString summary = calls()[0].summary;
    EXPECT_TRUE(summary == QStringLiteral("Киоск 1: нет связи с ") + before.toString(u"hh:mm") ||
                summary == QStringLiteral("Киоск 1: нет связи с ") + after.toString(u"hh:mm"))
        << summary.toStdString();

    m_alerts->KioskStateChanged(*lost, tsWaitingVersion); // connected, not yet answering
    m_alerts->KioskStateChanged(*lost, tsWorkingIdle);
    ASSERT_TRUE(waitCalls(2));
    EXPECT_EQ(calls()[1].summary, QStringLiteral("Киоск 1: связь восстановлена"));
    // The return replaces the kiosk's "нет связи" bubble.
    EXPECT_EQ(
        calls()[1].replacesId,
        m_sink->Id(QStringLiteral("kiosk:%1").arg(reinterpret_cast<quintptr>(lost.get()), 0, 16)));
    EXPECT_NE(calls()[1].replacesId, 0u);
    testutil::pump(1500);
    EXPECT_EQ(calls().size(), 2);
    EXPECT_EQ(m_sound->Requests(), 0) << "a silent kiosk is not a waiting customer";
}

TEST_F(OrderAlertsBusTest, SettingsTurnSoundAndNotificationsOff) {
    struct Case {
        bool sound;
        bool notify;
    } cases[] = {{false, true}, {true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sound ? "notifications off" : "sound off");
        TAlertSettings s = quick();
        s.Sound = c.sound;
        s.Notify = c.notify;
        s.RepeatSeconds = 0; // once
        m_alerts->Apply(s);
        const int calls0 = static_cast<int>(calls().size());
        const int sounds0 = m_sound->Requests();
        auto device = kiosk("Киоск 1");
        m_alerts->OrderWindowOpened(*device, 5);
        testutil::pump(1500);
        EXPECT_EQ(calls().size() - calls0, c.notify ? 1 : 0);
        EXPECT_EQ(m_sound->Requests() - sounds0, c.sound ? 1 : 0);
        EXPECT_TRUE(m_tray.OrderWaiting()); // the icon tells in any case
        m_alerts->OrderWindowClosed(device.get(), false);
    }
}

// Where the desktop has no notification service, or no session bus at all, the
// operator still hears of the order: from the tray icon.
TEST(OrderAlertsTest, WithoutNotificationServiceTheTrayTellsTheOperator) {
    TestSessionBus bare; // a bus with no notification service on it
    QString why;
    if (!bare.Start(&why))
        GTEST_SKIP() << why.toStdString();

    struct Case {
        const char* name;
        QDBusConnection bus;
    } cases[] = {
        {"bus without service", bare.Connect(QStringLiteral("bare"))},
        {"no bus", QDBusConnection(QStringLiteral("never connected"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TTrayIcon tray;
        auto sink = std::make_unique<DesktopNotifications>(c.bus);
        DesktopNotifications* notifications = sink.get();
        TOrderAlerts alerts(&tray, std::move(sink), std::make_unique<CanberraSound>());
        TAlertSettings s = quick();
        s.Sound = false;
        alerts.Apply(s);
        QSignalSpy spy(&alerts, &TOrderAlerts::notified);
        auto device = kiosk("Киоск 1");
        alerts.OrderWindowOpened(*device, 250);
        ASSERT_TRUE(waitUntil([&] {
            for (const auto& args : spy)
                if (!args.at(2).toBool())
                    return true;
            return false;
        }));
        const auto& fallback = *std::find_if(spy.cbegin(), spy.cend(),
                                             [](const auto& args) { return !args.at(2).toBool(); });
        EXPECT_EQ(fallback.at(0).toString(),
                  QStringLiteral("Киоск 1: заказ на 250 руб. 00 коп. ждёт подтверждения"));
        EXPECT_EQ(notifications->Delivered(), 0);
    }
    EXPECT_TRUE(bare.Notifications().size() == 1) << "the call reached the bare bus once";
}

TEST(OrderAlertsTest, OrdersWaitTextCountsInRussian) {
    struct Case {
        int count;
        const char* text;
    } cases[] = {{2, "Ждут подтверждения: 2 заказа"},    {4, "Ждут подтверждения: 4 заказа"},
                 {5, "Ждут подтверждения: 5 заказов"},   {11, "Ждут подтверждения: 11 заказов"},
                 {14, "Ждут подтверждения: 14 заказов"}, {21, "Ждут подтверждения: 21 заказ"},
                 {22, "Ждут подтверждения: 22 заказа"},  {112, "Ждут подтверждения: 112 заказов"}};
    for (const Case& c : cases)
        EXPECT_EQ(TOrderAlerts::OrdersWaitText(c.count), QString::fromUtf8(c.text));
}

TEST(OrderAlertsTest, StatesThatCountAsReachable) {
    const TThreadState reachable[] = {tsConnected, tsWorkingIdle, tsWorkingOrder,
                                      tsOrderingFinished};
    const TThreadState unreachable[] = {tsSuspended,      tsWaiting, tsConnecting,
                                        tsDisconnected,   tsError,   tsWaitingVersion,
                                        tsObsoleteVersion};
    for (TThreadState s : reachable)
        EXPECT_TRUE(TOrderAlerts::Reachable(s)) << s;
    for (TThreadState s : unreachable)
        EXPECT_FALSE(TOrderAlerts::Reachable(s)) << s;
}

// The connection picture must not push the "order waits" image away: the main window
// sets it every second.
TEST(TrayIconTest, OrderWaitingImageStaysUntilCleared) {
    TTrayIcon tray;
    QList<QIcon> icons;
    for (int i = 0; i < 3; ++i)
        icons << QIcon(QStringLiteral(":/icons/tray-%1.svg").arg(i));
    tray.SetIconList(icons);
    tray.SetIconIndex(1);
    EXPECT_EQ(tray.ShownIcon().cacheKey(), icons[1].cacheKey());

    tray.SetOrderWaiting(true);
    const QIcon waiting = tray.ShownIcon();
    EXPECT_FALSE(waiting.pixmap(16, 16).isNull()) << "tray-order.svg is missing or unreadable";
    for (const QIcon& icon : icons)
        EXPECT_NE(waiting.cacheKey(), icon.cacheKey());
    tray.SetIconIndex(2);
    EXPECT_EQ(tray.ShownIcon().cacheKey(), waiting.cacheKey());

    tray.SetOrderWaiting(false);
    EXPECT_EQ(tray.ShownIcon().cacheKey(), icons[2].cacheKey());
}

TEST(AlertSettingsTest, DefaultsRoundTripAndRange) {
    TempIni ini;
    EXPECT_EQ(LoadAlertSettings(ini.Path()), TAlertSettings{}) << "no file: defaults";
    const TAlertSettings defaults;
    EXPECT_TRUE(defaults.Sound);
    EXPECT_EQ(defaults.RepeatSeconds, 20);
    EXPECT_TRUE(defaults.Notify);
    EXPECT_EQ(defaults.OfflineAlertSeconds, 60);

    testutil::writeFile(ini.Path(), "[Printing]\nPort=3\n");
    TAlertSettings s;
    s.Sound = false;
    s.RepeatSeconds = 0;
    s.Notify = false;
    s.OfflineAlertSeconds = 300;
    SaveAlertSettings(s, ini.Path());
    EXPECT_EQ(LoadAlertSettings(ini.Path()), s);
    EXPECT_TRUE(testutil::inOrder(ini.Read(),
                                  {QStringLiteral("[Printing]"), QStringLiteral("Port=3"),
                                   QStringLiteral("[Alerts]"), QStringLiteral("Sound=0"),
                                   QStringLiteral("RepeatSeconds=0"), QStringLiteral("Notify=0"),
                                   QStringLiteral("OfflineAlertSeconds=300")}));

    // Hand-edited values out of range are brought into it.
    struct Case {
        const char* text;
        int repeat;
        int offline;
    } cases[] = {{"RepeatSeconds=-5\nOfflineAlertSeconds=-1\n", 0, 0},
                 {"RepeatSeconds=999999\nOfflineAlertSeconds=999999\n",
                  TAlertSettings::kMaxRepeatSeconds, TAlertSettings::kMaxOfflineAlertSeconds}};
    for (const Case& c : cases) {
        testutil::writeFile(ini.Path(), QByteArray("[alerts]\n") + c.text);
        const TAlertSettings read = LoadAlertSettings(ini.Path());
        EXPECT_EQ(read.RepeatSeconds, c.repeat) << c.text;
        EXPECT_EQ(read.OfflineAlertSeconds, c.offline) << c.text;
    }
}

TEST(AlertOptionsTest, DialogIsWindowModalEditsAndSaves) {
    TempIni ini;
    TAlertSettings stored;
    stored.RepeatSeconds = 30;
    SaveAlertSettings(stored, ini.Path());

    QWidget owner;
    owner.show();
    int appliedCount = 0;
    TAlertSettings applied;
    QPointer<TfrmAlertOptions> dialog = ShowAlertOptions(&owner, [&](const TAlertSettings& s) {
        ++appliedCount;
        applied = s;
    });
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isVisible()) << "shown without a nested event loop";
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Оповещения"));

    auto* chkSound = dialog->findChild<QCheckBox*>(QStringLiteral("chkSound"));
    auto* chkNotify = dialog->findChild<QCheckBox*>(QStringLiteral("chkNotify"));
    auto* spnRepeat = dialog->findChild<QSpinBox*>(QStringLiteral("spnRepeat"));
    auto* spnOffline = dialog->findChild<QSpinBox*>(QStringLiteral("spnOffline"));
    auto* btnOK = dialog->findChild<QPushButton*>(QStringLiteral("btnOK"));
    ASSERT_TRUE(chkSound && chkNotify && spnRepeat && spnOffline && btnOK);
    EXPECT_TRUE(chkSound->isChecked());
    EXPECT_EQ(spnRepeat->value(), 30);
    EXPECT_EQ(spnOffline->value(), 60);

    QTest::mouseClick(chkSound, Qt::LeftButton);
    spnRepeat->setFocus();
    spnRepeat->selectAll();
    QTest::keyClicks(spnRepeat, QStringLiteral("5"));
    spnOffline->setFocus();
    spnOffline->selectAll();
    QTest::keyClick(spnOffline, Qt::Key_Backspace);
    QTest::keyClicks(spnOffline, QStringLiteral("0"));
    QTest::mouseClick(btnOK, Qt::LeftButton);

    EXPECT_TRUE(waitUntil([&] { return dialog.isNull(); })) << "deletes itself when closed";
    TAlertSettings expected;
    expected.Sound = false;
    expected.RepeatSeconds = 5;
    expected.OfflineAlertSeconds = 0;
    EXPECT_EQ(appliedCount, 1);
    EXPECT_EQ(applied, expected);
    EXPECT_EQ(LoadAlertSettings(ini.Path()), expected);
}

TEST(AlertOptionsTest, CancelKeepsTheFileAndAFailedSaveKeepsTheDialog) {
    TempIni ini;
    QWidget owner;
    owner.show();
    int appliedCount = 0;
    auto count = [&](const TAlertSettings&) { ++appliedCount; };

    QPointer<TfrmAlertOptions> cancelled = ShowAlertOptions(&owner, ini.Path(), count);
    cancelled->chkNotify->setChecked(false);
    QTest::mouseClick(cancelled->btnCancel, Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return cancelled.isNull(); }));
    EXPECT_FALSE(QFileInfo::exists(ini.Path()));

    // A folder that is a file: no one, root included, can write there.
    const QString blocker = QFileInfo(ini.Path()).absolutePath() + QStringLiteral("/blocker");
    testutil::writeFile(blocker, "x");
    QPointer<TfrmAlertOptions> failing =
        ShowAlertOptions(&owner, blocker + QStringLiteral("/Console.ini"), count);
    QTest::mouseClick(failing->btnOK, Qt::LeftButton);
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        box = failing->findChild<QMessageBox*>(QStringLiteral("msgSaveError"));
        return box && box->isVisible();
    }));
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(failing->isVisible());
    EXPECT_EQ(appliedCount, 0);
    box->accept();
    failing->reject();
    EXPECT_TRUE(waitUntil([&] { return failing.isNull(); }));
}

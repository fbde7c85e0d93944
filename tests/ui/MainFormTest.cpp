#include "TestUtil.h"
#include "UiTestSupport.h"

#include "common/GlobConst.h"
#include "journal/OrderJournal.h"
#include "ui/DeviceProps.h"
#include "ui/KioskLog.h"
#include "ui/MainForm.h"
#include "ui/OrderAlerts.h"
#include "ui/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

using testutil::waitUntil;

namespace {

// The main window over the test's configuration. The start-up question is only
// asked in the tests about it.
std::unique_ptr<TfrmMain> makeMain(bool keepStartQuestion = false) {
    auto w = std::make_unique<TfrmMain>();
    if (!keepStartQuestion)
        w->timDelayedStart->stop();
    return w;
}

QTreeWidgetItem* rowOf(TfrmMain& w, int deviceIndex) {
    return TfrmMain::ItemByData(w.lvDevices, w.Devices()[deviceIndex].get());
}

bool rowHasIcon(TfrmMain& w, QTreeWidgetItem* row, int index) {
    return row && row->icon(0).cacheKey() == w.ilListIcons.value(index).cacheKey();
}

void selectDevice(TfrmMain& w, int deviceIndex) {
    QTreeWidgetItem* row = rowOf(w, deviceIndex);
    ASSERT_NE(row, nullptr);
    w.lvDevices->setCurrentItem(row);
}

} // namespace

TEST(MainFormTest, ComponentsCarryTheirNamesCaptionsAndHints) {
    TempIni ini;
    auto w = makeMain();

    EXPECT_EQ(w->windowTitle(), QStringLiteral("Управление киосками и терминалами"));
    EXPECT_FALSE(w->isVisible()) << "the console starts hidden";
    for (const char* name : {"tbMain",
                             "btnAdd",
                             "BtnRemove",
                             "btnDisable",
                             "btnEnable",
                             "btnProperties",
                             "btnInvoicePrintSetup",
                             "pnlFilter",
                             "cbxFilter",
                             "btnDashboard",
                             "PageControl",
                             "tshKiosks",
                             "tshLog",
                             "memLog",
                             "lvDevices",
                             "StatusBar",
                             "mnuDevicePopup",
                             "mnuTrayPopup",
                             "popOptions",
                             "timTray",
                             "timDelayedStart"})
        EXPECT_NE(w->findChild<QObject*>(QLatin1String(name)), nullptr) << name;

    struct ActionCase {
        QAction* action;
        const char* name;
        QString caption;
        QString hint;
        bool visible;
    } actions[] = {
        {w->actDeviceEnable, "actDeviceEnable", "Разрешить", "Разрешить управление терминалом",
         false},
        {w->actDeviceDisable, "actDeviceDisable", "Запретить", "Запретить управление терминалом",
         false},
        {w->actDevicePops, "actDevicePops", "Свойства...", "Изменить свойства...", true},
        {w->actDeviceDelete, "actDeviceDelete", "Удалить", "Удалить терминал", true},
        {w->actDeviceNew, "actDeviceNew", "Добавить...", "Добавить терминал...", true},
        {w->actShowDashboard, "actShowDashboard", "Инфоэкран", "Показать информационное табло",
         true},
        {w->actOptionsPrinter, "actOptionsPrinter", "Настройки принтера чеков...", "", true},
        {w->actOptionsDashboard, "actOptionsDashboard", "Настройка информационного табло...", "",
         true},
    };
    for (const auto& c : actions) {
        EXPECT_EQ(c.action->objectName(), QLatin1String(c.name));
        EXPECT_EQ(c.action->text(), c.caption) << c.name;
        EXPECT_EQ(c.action->statusTip(), c.hint) << c.name;
        EXPECT_EQ(c.action->isVisible(), c.visible) << c.name;
    }
    EXPECT_TRUE(w->actDeviceNew->isEnabled());
    EXPECT_FALSE(w->actDevicePops->isEnabled()) << "nothing is selected at start";
    EXPECT_FALSE(w->actDeviceDelete->isEnabled());

    // Tool buttons: the button follows its action, the images are 48 x 48.
    EXPECT_EQ(w->btnAdd->defaultAction(), w->actDeviceNew);
    EXPECT_EQ(w->btnProperties->defaultAction(), w->actDevicePops);
    EXPECT_EQ(w->btnDashboard->defaultAction(), w->actShowDashboard);
    EXPECT_EQ(w->btnAdd->iconSize(), QSize(48, 48));
    EXPECT_EQ(w->btnAdd->size(), QSize(55, 54));
    EXPECT_EQ(w->btnInvoicePrintSetup->toolTip(), QStringLiteral("Настройки"));
    EXPECT_EQ(w->btnInvoicePrintSetup->menu(), w->popOptions);

    EXPECT_EQ(w->cbxFilter->count(), 2);
    EXPECT_EQ(w->cbxFilter->itemText(0), QStringLiteral("Все"));
    EXPECT_EQ(w->cbxFilter->itemText(1), QStringLiteral("Только разрешенные"));
    EXPECT_EQ(w->cbxFilter->currentIndex(), 0);

    EXPECT_TRUE(w->PageControl->isTabVisible(w->PageControl->indexOf(w->tshLog)));
    EXPECT_TRUE(w->PageControl->isTabVisible(w->PageControl->indexOf(w->tshKiosks)));

    const QStringList headers{"Название", "Адрес", "Статус", "Версия программы", "Связь"};
    const int widths[] = {180, 120, 130, 200, 220};
    ASSERT_EQ(w->lvDevices->columnCount(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(w->lvDevices->headerItem()->text(i), headers[i]);
        EXPECT_EQ(w->lvDevices->columnWidth(i), widths[i]);
    }
    EXPECT_FALSE(w->lvDevices->rootIsDecorated());
    EXPECT_EQ(w->lvDevices->selectionBehavior(), QAbstractItemView::SelectRows);

    EXPECT_EQ(w->mnuDevicePopup->defaultAction(), w->actDevicePops);
    EXPECT_EQ(w->mnuTrayPopup->defaultAction(), w->mnuRestore);
    QStringList trayItems;
    for (QAction* a : w->mnuTrayPopup->actions())
        trayItems << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(trayItems, (QStringList{"Восстановить", "-", "Информационное табло", "-",
                                      "О программе", "Выход"}));

    EXPECT_EQ(w->Tray()->Hint(), kApplicationTitle);
    EXPECT_EQ(w->Tray()->PopupMenu(), w->mnuTrayPopup);
    EXPECT_EQ(w->timTray->interval(), 1000);

    // Hints reach the status bar.
    w->actDeviceNew->showStatusText(w->btnAdd);
    EXPECT_EQ(w->StatusBar->currentMessage(), QStringLiteral("Добавить терминал..."));
}

TEST(MainFormTest, DeviceActionsFollowTheSelectedDevice) {
    FakeKiosk kiosk;
    TempIni ini;
    // 0 enabled and connected, 1 disabled, 2 disabled (made into a stopping one below).
    ini.WriteDevices({kiosk.Port(), testutil::freePort(), testutil::freePort()}, {1, 2});
    auto w = makeMain();
    w->mnuRestoreClick();
    ASSERT_TRUE(waitUntil([&] { return w->Devices()[0]->ThreadState() == tsConnected; }));

    // A thread started for a disabled kiosk polls every 200 ms; stopped then, it ends
    // without a state of its own and counts as stopping until its end is handled on
    // this thread, so no event may be pumped between the stop and the checks.
    auto stopping = w->Devices()[2];
    stopping->ResumeThread();
    ASSERT_TRUE(waitUntil([&] { return stopping->ThreadState() == tsWaiting; }));
    stopping->DestroyThread(false);
    stopping->SetEnabled(true);
    ASSERT_TRUE(stopping->ThreadTerminating());

    struct Case {
        int device;
        bool enableOn;
        bool disableOn;
    } cases[] = {{0, false, true}, {1, true, false}, {2, false, false}};
    for (const Case& c : cases) {
        w->UpdateDeviceActions(w->Devices()[c.device].get());
        EXPECT_EQ(w->actDeviceEnable->isEnabled(), c.enableOn) << c.device;
        EXPECT_EQ(w->actDeviceEnable->isVisible(), c.enableOn) << c.device;
        EXPECT_EQ(w->actDeviceDisable->isEnabled(), c.disableOn) << c.device;
        EXPECT_EQ(w->actDeviceDisable->isVisible(), c.disableOn) << c.device;
        EXPECT_TRUE(w->actDevicePops->isEnabled());
        EXPECT_TRUE(w->actDeviceDelete->isEnabled());
        // The tool bar shows exactly what the actions offer (once it has laid out;
        // only its own layout request is run, so the stopping thread stays unhandled).
        QCoreApplication::sendPostedEvents(w->tbMain, QEvent::LayoutRequest);
        EXPECT_EQ(w->btnEnable->isVisibleTo(w.get()), c.enableOn) << c.device;
        EXPECT_EQ(w->btnDisable->isVisibleTo(w.get()), c.disableOn) << c.device;
    }

    // The stopping kiosk's row: icon 3 and the stopping status.
    w->UpdateItem(stopping);
    EXPECT_TRUE(rowHasIcon(*w, rowOf(*w, 2), 3));
    EXPECT_EQ(rowOf(*w, 2)->text(2), QStringLiteral("Остановка"));

    // Without a device the four actions are disabled and keep their visibility.
    w->UpdateDeviceActions(w->Devices()[1].get());
    w->UpdateDeviceActions(nullptr);
    EXPECT_FALSE(w->actDeviceEnable->isEnabled());
    EXPECT_TRUE(w->actDeviceEnable->isVisible());
    EXPECT_FALSE(w->actDevicePops->isEnabled());
    EXPECT_FALSE(w->actDeviceDelete->isEnabled());

    // Once the stop has been handled the kiosk is an ordinary enabled one again.
    ASSERT_TRUE(waitUntil([&] { return !stopping->ThreadTerminating(); }));
}

TEST(MainFormTest, FilterShowsOnlyEnabledKiosksAndDisablingDropsTheRowAtOnce) {
    TempIni ini;
    ini.WriteDevices({testutil::freePort(), testutil::freePort(), testutil::freePort()}, {1});
    auto w = makeMain();
    w->mnuRestoreClick();
    EXPECT_EQ(w->lvDevices->topLevelItemCount(), 3);

    w->cbxFilter->setCurrentIndex(1);
    ASSERT_EQ(w->lvDevices->topLevelItemCount(), 2);
    EXPECT_EQ(rowOf(*w, 1), nullptr);

    selectDevice(*w, 2);
    w->actDeviceDisable->trigger();
    EXPECT_EQ(w->lvDevices->topLevelItemCount(), 1);
    EXPECT_EQ(rowOf(*w, 2), nullptr);
    EXPECT_FALSE(w->Devices()[2]->Enabled());
    EXPECT_TRUE(ini.Read().contains(QStringLiteral("[DeviceList2]\nEnabled=0")) ||
                ini.Read().contains(QStringLiteral("[DeviceList2]\r\nEnabled=0")))
        << ini.Read().toStdString();

    w->cbxFilter->setCurrentIndex(0);
    EXPECT_EQ(w->lvDevices->topLevelItemCount(), 3);
    selectDevice(*w, 2);
    // Offered again once its thread has stopped; the row follows by itself.
    EXPECT_TRUE(waitUntil([&] { return w->actDeviceEnable->isEnabled(); }));
    EXPECT_TRUE(rowHasIcon(*w, rowOf(*w, 2), 0));
    EXPECT_EQ(rowOf(*w, 2)->text(2), QStringLiteral("Выключен"));
}

TEST(MainFormTest, RowShowsTheKioskStateVersionAndAddress) {
    FakeKiosk kiosk;
    FakeKiosk oldKiosk(QStringLiteral("Kiosk 13.9.0.0"));
    TempIni ini;
    ini.WriteDevices({kiosk.Port(), oldKiosk.Port(), testutil::freePort()}, {2});
    auto w = makeMain();
    w->mnuRestoreClick();
    QTreeWidgetItem* row = rowOf(*w, 0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(0), QStringLiteral("Киоск 1"));
    EXPECT_EQ(row->text(1), QStringLiteral("127.0.0.1 : %1").arg(kiosk.Port()));
    EXPECT_EQ(row->text(3), QStringLiteral("н/д"));

    ASSERT_TRUE(waitUntil([&] { return row->text(2) == QStringLiteral("Соединен"); }));
    EXPECT_EQ(row->text(3), QStringLiteral("14.2.0.7"));
    EXPECT_TRUE(rowHasIcon(*w, row, 4));

    struct Case {
        QByteArray line;
        QString status;
        int icon;
    } cases[] = {
        {"SESSION_START", "Оформление заказа", 5},
        {"ORDERING_FINISH", "Заказ завершен", 6},
        {"SESSION_STOP", "Ожидание заказа", 4},
    };
    for (const Case& c : cases) {
        kiosk.Send(c.line);
        EXPECT_TRUE(waitUntil([&] { return row->text(2) == c.status; })) << c.line.constData();
        EXPECT_TRUE(rowHasIcon(*w, row, c.icon)) << c.line.constData();
    }

    QTreeWidgetItem* oldRow = rowOf(*w, 1);
    EXPECT_TRUE(
        waitUntil([&] { return oldRow->text(2) == QStringLiteral("Версия не поддерживается"); }));
    EXPECT_TRUE(rowHasIcon(*w, oldRow, 3));

    EXPECT_EQ(rowOf(*w, 2)->text(2), QStringLiteral("Выключен"));
    EXPECT_EQ(rowOf(*w, 2)->text(3), QStringLiteral("н/д"));
    EXPECT_TRUE(rowHasIcon(*w, rowOf(*w, 2), 0));

    // The link's health: since when, in the column and in the row's tool tip.
    EXPECT_TRUE(row->text(TfrmMain::kHealthColumn).startsWith(QStringLiteral("на связи с ")))
        << row->text(TfrmMain::kHealthColumn).toStdString();
    EXPECT_TRUE(row->toolTip(0).contains(QStringLiteral("Последняя строка от киоска: ")));
    EXPECT_FALSE(row->toolTip(0).contains(QStringLiteral("Последняя строка от киоска: нет")));

    // A kiosk that goes away is an error until it comes back.
    kiosk.Shutdown();
    EXPECT_TRUE(waitUntil([&] { return row->text(2) == QStringLiteral("Ошибка связи"); }));
    EXPECT_TRUE(rowHasIcon(*w, row, 3));
    EXPECT_TRUE(row->text(TfrmMain::kHealthColumn).startsWith(QStringLiteral("нет связи: ")))
        << row->text(TfrmMain::kHealthColumn).toStdString();
    EXPECT_TRUE(row->toolTip(0).contains(QStringLiteral("Потерь связи за 24 часа: 1")))
        << row->toolTip(0).toStdString();

    // The operator can hide the column from the header's menu.
    QAction* showHealth = w->lvDevices->findChild<QAction*>(QStringLiteral("actShowHealthColumn"));
    ASSERT_NE(showHealth, nullptr);
    showHealth->trigger();
    EXPECT_TRUE(w->lvDevices->isColumnHidden(TfrmMain::kHealthColumn));
}

// A restart keeps the column "Связь": the losses of the last 24 hours and the last error
// come back from the journal of the data folder.
TEST(MainFormTest, HealthColumnKeepsTheLastDaysLossesFromTheJournalAfterARestart) {
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    const struct Restore {
        QString folder = DataFolder;
        ~Restore() { DataFolder = folder; }
    } restore;
    DataFolder = data.path() + QLatin1Char('/');
    const QDateTime now = QDateTime::currentDateTime();
    const auto ago = [&](int minutes) { return now.addSecs(-60 * minutes); };
    const QString k1 = QStringLiteral("Киоск 1");
    const QString k2 = QStringLiteral("Киоск 2");
    {
        OrderJournal journal(data.path());
        for (const JournalEvent& e : {
                 JournalEvent{ago(26 * 60), k1, JournalEventKind::Lost, QStringLiteral("старая")},
                 JournalEvent{ago(120), k1, JournalEventKind::Lost, QStringLiteral("Timed out")},
                 JournalEvent{ago(119), k1, JournalEventKind::Connected, {}},
                 JournalEvent{ago(60), k1, JournalEventKind::Lost,
                              QStringLiteral("Connection reset by peer")},
                 JournalEvent{ago(50), k1, JournalEventKind::Connected, {}},
                 JournalEvent{ago(30), k2, JournalEventKind::Refused, QStringLiteral("13.9.0.0")},
                 JournalEvent{ago(10), QStringLiteral("Киоск удалённый"), JournalEventKind::Lost,
                              QStringLiteral("Timed out")},
             })
            journal.kioskEvent(e);
        ASSERT_TRUE(journal.flush(5000));
    }
    TempIni ini;
    // Disabled: no attempt of this run writes over what the journal said.
    ini.WriteDevices({testutil::freePort(), testutil::freePort(), testutil::freePort()}, {0, 1, 2});
    auto w = makeMain();
    w->mnuRestoreClick();
    const struct {
        int device;
        QString column;
    } cases[] = {
        {0, QStringLiteral("нет связи: Connection reset by peer, потерь за сутки: 2")},
        {1, QStringLiteral("нет связи: версия киоска не поддерживается: 13.9.0.0, потерь за "
                           "сутки: 0")},
        {2, QStringLiteral("потерь за сутки: 0")},
    };
    for (const auto& c : cases) {
        QTreeWidgetItem* row = rowOf(*w, c.device);
        ASSERT_NE(row, nullptr) << c.device;
        EXPECT_EQ(row->text(TfrmMain::kHealthColumn), c.column) << c.device;
    }
    EXPECT_TRUE(rowOf(*w, 0)->toolTip(0).contains(QStringLiteral("Потерь связи за 24 часа: 2")))
        << rowOf(*w, 0)->toolTip(0).toStdString();
}

TEST(MainFormTest, LogPageKeepsTheTraceOfEveryKioskWithAFilter) {
    FakeKiosk first, second;
    TempIni ini;
    ini.WriteDevices({first.Port(), second.Port()});
    auto w = makeMain();
    w->mnuRestoreClick();
    w->PageControl->setCurrentWidget(w->tshLog);
    ASSERT_TRUE(waitUntil([&] {
        const QString text = w->memLog->toPlainText();
        return text.contains(QStringLiteral("Киоск 1  Version OK")) &&
               text.contains(QStringLiteral("Киоск 2  Version OK"));
    })) << w->memLog->toPlainText().toStdString();

    ASSERT_EQ(w->cbxLogKiosk->count(), 3);
    EXPECT_EQ(w->cbxLogKiosk->itemText(0), QStringLiteral("Все киоски"));
    w->cbxLogKiosk->setCurrentIndex(2);
    EXPECT_FALSE(w->memLog->toPlainText().contains(QStringLiteral("Киоск 1")));
    EXPECT_TRUE(w->memLog->toPlainText().contains(QStringLiteral("Киоск 2  Version OK")));

    // Only the last lines are kept, however long the console runs.
    for (int i = 0; i < TKioskLog::kMaxLines + 50; ++i)
        w->Log()->Add(QStringLiteral("Киоск 2"), QStringLiteral("line %1").arg(i));
    EXPECT_EQ(w->Log()->Count(), TKioskLog::kMaxLines);
    w->Log()->Rebuild();
    EXPECT_EQ(w->memLog->blockCount(), TKioskLog::kMaxLines);
    EXPECT_TRUE(w->memLog->toPlainText().endsWith(
        QStringLiteral("line %1").arg(TKioskLog::kMaxLines + 49)));
}

TEST(MainFormTest, ANewAddressInThePropertiesReconnectsAtOnce) {
    FakeKiosk oldPlace, newPlace;
    TempIni ini;
    ini.WriteDevices({oldPlace.Port()});
    auto w = makeMain();
    ASSERT_TRUE(waitUntil([&] { return oldPlace.Count("GET_WORK_STATE") == 1; }, 8000));
    TfrmDeviceProps dialog(w.get());
    dialog.GetProperties(*w->Devices()[0]);
    dialog.edtPort->setValue(newPlace.Port());
    dialog.ApplyProperties(*w->Devices()[0]);
    // The old connection stands for good otherwise: only a reconnect reaches the new one.
    EXPECT_TRUE(waitUntil([&] { return newPlace.Count("GET_WORK_STATE") == 1; }, 8000));
}

TEST(MainFormTest, PropertiesWarnOfASecondRecordForTheSameKiosk) {
    TempIni ini;
    ini.WriteDevices({5001, 5002});
    auto w = makeMain();
    TfrmDeviceProps dialog(w.get());
    dialog.SetOtherDevices(w->Devices(), w->Devices()[1].get());
    dialog.GetProperties(*w->Devices()[1]);
    // The same place as "Киоск 1": a warning, and No keeps the dialog open.
    dialog.edtPort->setValue(5001);
    QString text;
    AnswerMessageBox(QMessageBox::No, &text);
    EXPECT_FALSE(dialog.FormCloseQuery());
    EXPECT_TRUE(text.contains(QStringLiteral("Киоск 1"))) << text.toStdString();
    AnswerMessageBox(QMessageBox::Yes);
    EXPECT_TRUE(dialog.FormCloseQuery()) << "the operator may insist";
    // Its own place is no conflict.
    dialog.edtPort->setValue(5002);
    text.clear();
    AnswerMessageBox(QMessageBox::No, &text, nullptr, 300);
    EXPECT_TRUE(dialog.FormCloseQuery());
    EXPECT_TRUE(text.isEmpty());
}

TEST(MainFormTest, AnOrderWindowRaisesTheAlertsUntilItCloses) {
    FakeKiosk kiosk;
    TempIni ini;
    ini.WriteDevices({kiosk.Port()});
    auto w = makeMain();
    ASSERT_TRUE(waitUntil([&] { return kiosk.Count("GET_WORK_STATE") == 1; }, 8000));
    kiosk.Send("ORDER_SUM=250");
    kiosk.Send("PAY_BLOCK");
    ASSERT_TRUE(waitUntil([&] { return w->Alerts()->WaitingOrders() == 1; }));
    EXPECT_TRUE(w->Tray()->OrderWaiting());
    kiosk.Send("PAY_END");
    ASSERT_TRUE(waitUntil([&] { return w->Alerts()->WaitingOrders() == 0; }));
    EXPECT_FALSE(w->Tray()->OrderWaiting());

    // The kiosk goes away in the middle of the next payment: the operator is told why
    // the window vanished.
    QStringList told;
    QObject::connect(w->Alerts(), &TOrderAlerts::notified,
                     [&](const QString& summary, const QString& body) { told << summary + body; });
    kiosk.Send("ORDER_SUM=250");
    kiosk.Send("PAY_BLOCK");
    ASSERT_TRUE(waitUntil([&] { return w->Alerts()->WaitingOrders() == 1; }));
    kiosk.Shutdown();
    EXPECT_TRUE(waitUntil([&] {
        return told.join(QLatin1Char('|'))
            .contains(TOrderAlerts::PaymentLostText(QStringLiteral("Киоск 1"), 250));
    })) << told.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(w->Alerts()->WaitingOrders(), 0);
}

TEST(MainFormTest, TrayImageCountsConnectedAgainstEnabledKiosks) {
    FakeKiosk kiosk;
    TempIni ini;
    ini.WriteDevices({kiosk.Port(), testutil::freePort()});
    auto w = makeMain();
    auto trayIndex = [&] {
        w->timTrayTimer();
        return w->Tray()->IconIndex();
    };
    EXPECT_EQ(trayIndex(), 0) << "nothing connected";
    ASSERT_TRUE(waitUntil([&] { return w->Devices()[0]->ThreadState() == tsConnected; }));
    EXPECT_EQ(trayIndex(), 1) << "one of two enabled kiosks connected";

    w->Devices()[1]->DestroyThread(false);
    w->Devices()[1]->SetEnabled(false);
    EXPECT_EQ(trayIndex(), 2) << "every enabled kiosk connected";

    // Disabled without stopping the thread: still connected, none enabled.
    w->Devices()[0]->SetEnabled(false);
    EXPECT_EQ(trayIndex(), 2);

    kiosk.Shutdown();
    ASSERT_TRUE(waitUntil([&] { return w->Devices()[0]->ThreadState() != tsConnected; }));
    EXPECT_EQ(trayIndex(), 0);
}

TEST(MainFormTest, DeleteAsksAndRemovesOnlyOnYes) {
    TempIni ini;
    ini.WriteDevices({testutil::freePort(), testutil::freePort()});
    auto w = makeMain();
    w->mnuRestoreClick();
    selectDevice(*w, 0);

    QString text, title;
    AnswerMessageBox(QMessageBox::No, &text, &title);
    w->actDeviceDelete->trigger();
    EXPECT_EQ(title, QStringLiteral("Удаление"));
    EXPECT_EQ(text, QStringLiteral("Удалить терминал \"Киоск 1\"?"));
    EXPECT_EQ(w->Devices().Count(), 2);

    const std::weak_ptr<TDeviceItem> gone = w->Devices()[0];
    AnswerMessageBox(QMessageBox::Yes);
    w->actDeviceDelete->trigger();
    ASSERT_EQ(w->Devices().Count(), 1);
    EXPECT_EQ(w->Devices()[0]->Name, QStringLiteral("Киоск 2"));
    EXPECT_EQ(w->lvDevices->topLevelItemCount(), 1);
    EXPECT_TRUE(ini.Read().contains(QStringLiteral("Count=1")));
    // Its thread stops and the record goes once the thread has ended.
    EXPECT_TRUE(waitUntil([&] { return gone.expired(); }));
}

TEST(MainFormTest, StartUpQuestionWhenNoKioskIsConfigured) {
    {
        TempIni ini;
        auto w = makeMain(true);
        QString text, title;
        AnswerMessageBox(QMessageBox::No, &text, &title);
        ASSERT_TRUE(waitUntil([&] { return !text.isEmpty(); }, 4000));
        EXPECT_EQ(title, QStringLiteral("Сообщение"));
        EXPECT_EQ(text,
                  QStringLiteral(
                      "Программа не настроена для связи ни с одним терминалом. Хотите добавить "
                      "терминал сейчас?"));
        EXPECT_FALSE(w->isVisible());
        EXPECT_FALSE(w->timDelayedStart->isActive());
    }
    {
        TempIni ini;
        auto w = makeMain(true);
        AnswerMessageBox(QMessageBox::Yes);
        bool dialogSeen = false;
        bool windowShownMeanwhile = false;
        auto* poll = new QTimer(w.get());
        QObject::connect(poll, &QTimer::timeout, [&] {
            if (auto* d = qobject_cast<TfrmDeviceProps*>(QApplication::activeModalWidget())) {
                dialogSeen = true;
                windowShownMeanwhile = w->isVisible();
                EXPECT_EQ(d->edtPort->value(), TfrmDeviceProps::kPortInitial);
                d->reject();
            }
        });
        poll->start(20);
        ASSERT_TRUE(waitUntil([&] { return dialogSeen; }, 5000));
        EXPECT_TRUE(windowShownMeanwhile);
        EXPECT_EQ(w->Devices().Count(), 0) << "cancel adds nothing";
    }
    {
        TempIni ini;
        ini.WriteDevices({testutil::freePort()});
        auto w = makeMain(true);
        testutil::pump(1500);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr)
            << "no question with a kiosk configured";
    }
}

TEST(MainFormTest, CloseOnlyHidesAndExitEndsTheProgram) {
    TempIni ini;
    auto w = makeMain();
    int ended = 0;
    QObject::connect(w.get(), &TfrmMain::closedForGood, [&] { ++ended; });
    w->mnuRestoreClick();
    ASSERT_TRUE(w->isVisible());
    w->close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(ended, 0);
    w->mnuRestoreClick();
    EXPECT_TRUE(w->isVisible());
    w->mnuExit->trigger();
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(w->DoExit());
}

TEST(MainFormTest, TrayDoubleClickRestoresAndAboutNamesTheVersion) {
    TempIni ini;
    auto w = makeMain();
    w->Tray()->DoubleClick();
    EXPECT_TRUE(w->isVisible());

    QString text, title;
    AnswerMessageBox(QMessageBox::Ok, &text, &title);
    w->mnuAbout->trigger();
    EXPECT_EQ(title, QStringLiteral("О программе"));
    EXPECT_EQ(text, QStringLiteral("\"Управление киосками и терминалами\" версия %1")
                        .arg(GetAppVersionString()));
}

TEST(MainFormTest, WithoutANotificationAreaTheWindowComesUp) {
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "this desktop has a notification area";
    TempIni ini;
    auto w = makeMain();
    w->Tray()->SetFallbackDelay(300);
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(waitUntil([&] { return w->isVisible(); }, 3000));
}

TEST(MainFormTest, FailedSaveIsShownAndTheConsoleGoesOn) {
    TempIni ini;
    ini.WriteDevices({testutil::freePort()});
    auto w = makeMain();
    w->mnuRestoreClick();
    selectDevice(*w, 0);
    IniFileName = ini.Path() + QStringLiteral(".missing/Console.ini");
    QString text, title;
    AnswerMessageBox(QMessageBox::Ok, &text, &title);
    w->actDeviceDisable->trigger();
    EXPECT_EQ(title, QStringLiteral("Ошибка"));
    EXPECT_FALSE(text.isEmpty());
    EXPECT_FALSE(w->Devices()[0]->Enabled()) << "the change stands in memory";
}

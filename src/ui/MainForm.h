#pragma once

#include "kiosk/ClientThread.h"
#include "kiosk/KioskObserver.h"

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <memory>

class QAction;
class QComboBox;
class QMenu;
class QPlainTextEdit;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class JournalRecorder;
class TJournalTab;
class TfrmOrderConfirm;
class TKioskLog;
class TOrderAlerts;
class TTrayIcon;
struct ReceiptOutcome;

// The console's main window: owner of the kiosk list, its connection threads, the
// notification-area icon and the order windows. Created hidden; closing it hides
// it, only "Выход" ends the program.
class TfrmMain : public QMainWindow, public IKioskObserver {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Configuration.
    void LoadIni();
    void SaveIni();

    // The list view.
    void FillList();
    void AddItem(const std::shared_ptr<TDeviceItem>& DeviceItem, bool DoUpdate);
    void RemoveItem(const TDeviceItem* DeviceItem);
    void UpdateItem(const std::shared_ptr<TDeviceItem>& DeviceItem);
    static QTreeWidgetItem* ItemByData(QTreeWidget* ListView, const TDeviceItem* Data);
    std::shared_ptr<TDeviceItem> GetSelectedDevice() const;
    void UpdateDeviceActions(const TDeviceItem* aDevice);

    // The rules behind the list and the icon, for the board and for tests.
    static int DeviceImageIndex(const TDeviceItem& device);
    static QString DeviceAddressText(const TDeviceItem& device);
    static QString DeviceVersionText(const TDeviceItem& device);
    static int TrayImageIndex(const TDeviceItemList& devices);
    // The health of a kiosk's link in a few words (the list's column "Связь") and in
    // full (the row's tool tip).
    static QString DeviceHealthText(const TDeviceItem& device);
    static QString DeviceHealthHint(const TDeviceItem& device);
    static constexpr int kHealthColumn = 4;

    // Order windows.
    void CloseOrderWindow(const std::shared_ptr<TDeviceItem>& DeviceItem, TThreadState state);
    QList<TfrmOrderConfirm*> OrderWindows() const;
    TfrmOrderConfirm* OrderWindowOf(const TDeviceItem* device) const;
    // Whether the operator is at work in an order window (or a box of one).
    bool IsOrderWindowActive() const;

    // Kiosk link notifications (main thread).
    void WMKioskState(const std::shared_ptr<TDeviceItem>& device, TThreadState state) override;
    void WMKioskPayBlock(const std::shared_ptr<TDeviceItem>& device) override;
    void WMKioskPayEnd(const std::shared_ptr<TDeviceItem>& device) override;
    void AddLogLine(const std::shared_ptr<TDeviceItem>& device, const QString& line) override;

    // Handlers.
    void actDeviceEnableExecute();
    void actDeviceDisableExecute();
    void actDevicePopsExecute();
    void actDeviceNewExecute();
    void actDeviceDeleteExecute();
    void actShowDashboardExecute();
    void actOptionsPrinterExecute();
    void actOptionsDashboardExecute();
    void actOptionsAlertsExecute();
    void timTrayTimer();
    void timDelayedStartTimer();
    void mnuRestoreClick();
    void mnuExitClick();
    void mnuAboutClick();
    void ApplicationEventsHint(const QString& hint);

    TDeviceItemList& Devices() { return FDevices; }
    TTrayIcon* Tray() const { return TrayIcon; }
    TOrderAlerts* Alerts() const { return FAlerts; }
    TKioskLog* Log() const { return FLog; }
    JournalRecorder* Journal() const { return FJournal; }
    bool DoExit() const { return FDoExit; }

    // Components, named as the window declares them.
    QToolBar* tbMain = nullptr;
    QToolButton* btnAdd = nullptr;
    QToolButton* BtnRemove = nullptr;
    QToolButton* btnDisable = nullptr;
    QToolButton* btnEnable = nullptr;
    QToolButton* btnProperties = nullptr;
    QToolButton* btnInvoicePrintSetup = nullptr;
    QWidget* pnlFilter = nullptr;
    QComboBox* cbxFilter = nullptr;
    QToolButton* btnDashboard = nullptr;
    QTabWidget* PageControl = nullptr;
    QWidget* tshKiosks = nullptr;
    QWidget* tshLog = nullptr;
    TJournalTab* tshJournal = nullptr; // "Журнал заказов"
    QPlainTextEdit* memLog = nullptr;
    QComboBox* cbxLogKiosk = nullptr;
    QTreeWidget* lvDevices = nullptr;
    QStatusBar* StatusBar = nullptr;
    QMenu* mnuDevicePopup = nullptr;
    QMenu* mnuTrayPopup = nullptr;
    QAction* mnuRestore = nullptr;
    QAction* mnuDashboard = nullptr;
    QAction* mnuAbout = nullptr;
    QAction* mnuExit = nullptr;
    QMenu* popOptions = nullptr;
    QTimer* timTray = nullptr;
    QTimer* timDelayedStart = nullptr;

    QAction* actDeviceEnable = nullptr;
    QAction* actDeviceDisable = nullptr;
    QAction* actDevicePops = nullptr;
    QAction* actDeviceDelete = nullptr;
    QAction* actDeviceNew = nullptr;
    QAction* actShowDashboard = nullptr;
    QAction* actOptionsPrinter = nullptr;
    QAction* actOptionsDashboard = nullptr;
    QAction* actOptionsAlerts = nullptr;

    QList<QIcon> ilListIcons;
    QList<QIcon> imgTrayIcons;
    QList<QIcon> ilToolbarIcons;

signals:
    // "Выход" went through: the program is to end.
    void closedForGood();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void createActions();
    void createToolBar();
    void createCentral();
    void createMenus();
    void FormCreate();
    void UpdateDashboard();
    void AdaptDashboard();
    void cbxFilterChange();

    // The losses of the last 24 hours and the last error of each kiosk, from the journal
    // of the last run, so that a restart does not wipe the column "Связь".
    void seedDeviceHealth();

    void PlaceOrderWindow(TfrmOrderConfirm* window) const;
    // Every receipt's end, in the status bar; what the operator must act on also in the
    // tray, and a failure whose order window is gone in a box, since no one else can say it.
    void receiptFinished(int job, const ReceiptOutcome& outcome);

    TDeviceItemList FDevices;
    // The order windows are windows of their own, not children of this one: a box one
    // of them opens then blocks only that window, never this one or the others.
    QList<QPointer<TfrmOrderConfirm>> FOrderWindows;
    TTrayIcon* TrayIcon = nullptr;
    TOrderAlerts* FAlerts = nullptr;
    TKioskLog* FLog = nullptr;
    JournalRecorder* FJournal = nullptr;
    bool FDoExit = false;
    bool FCentred = false;
    bool FClosedForGood = false;
};

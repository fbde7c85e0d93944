// Construction of the main window: components, actions, menus, the tray and the
// start-up sequence. The device handling lives in MainFormDevices.cpp.
#include "ui/MainForm.h"
#include "ui/AlertOptions.h"
#include "ui/AlertSettings.h"
#include "ui/Boxes.h"
#include "ui/JournalRecorder.h"
#include "ui/JournalTab.h"
#include "ui/KioskLog.h"
#include "ui/OrderAlerts.h"

#include "board/Dashboard.h"
#include "board/DashboardOptions.h"
#include "board/DashboardSettings.h"
#include "common/GlobConst.h"
#include "journal/JournalSource.h"
#include "platform/Error.h"
#include "printing/PrintDialog.h"
#include "printing/PrintSettings.h"
#include "printing/ReceiptSpooler.h"
#include "ui/OrderConfirm.h"
#include "ui/TrayIcon.h"
#include "ui/WindowFont.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QList<QIcon> loadIcons(const QString& prefix, int count) {
    QList<QIcon> icons;
    for (int i = 0; i < count; ++i)
        icons.append(QIcon(QStringLiteral(":/icons/%1-%2.svg").arg(prefix).arg(i)));
    return icons;
}

QAction* makeAction(QObject* owner, const char* name, const QString& caption, const QString& hint) {
    auto* a = new QAction(caption, owner);
    a->setObjectName(QLatin1String(name));
    if (!hint.isEmpty()) {
        a->setToolTip(hint);
        a->setStatusTip(hint);
    } else {
        // Without a hint of its own the tool tip would repeat the caption.
        a->setToolTip(QString());
    }
    return a;
}

} // namespace

TfrmMain::TfrmMain(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Управление киосками и терминалами"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    resize(654, 383);

    ilListIcons = loadIcons(QStringLiteral("list"), 7);
    imgTrayIcons = loadIcons(QStringLiteral("tray"), 3);
    ilToolbarIcons = loadIcons(QStringLiteral("toolbar"), 7);

    createActions();
    createMenus();
    createToolBar();
    createCentral();

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    setStatusBar(StatusBar);

    timTray = new QTimer(this);
    timTray->setObjectName(QStringLiteral("timTray"));
    timTray->setInterval(1000);
    connect(timTray, &QTimer::timeout, this, &TfrmMain::timTrayTimer);

    timDelayedStart = new QTimer(this);
    timDelayedStart->setObjectName(QStringLiteral("timDelayedStart"));
    timDelayedStart->setInterval(1000);
    connect(timDelayedStart, &QTimer::timeout, this, &TfrmMain::timDelayedStartTimer);

    SetKioskObserver(this);
    FormCreate();

    timTray->start();
    timDelayedStart->start();
}

TfrmMain::~TfrmMain() {
    if (KioskObserver() == this)
        SetKioskObserver(nullptr);
    timTray->stop();
    timDelayedStart->stop();
    // The board and the order windows first: they refer to the devices, not the
    // other way round.
    if (TfrmDashboard* board = Dashboard(); board && board->parent() == this)
        delete board;
    for (const QPointer<TfrmOrderConfirm>& window : std::as_const(FOrderWindows))
        delete window.data();
    FOrderWindows.clear();
    // After the order windows, whose ends it records; its end waits a bounded moment
    // for the file.
    delete FJournal;
    FJournal = nullptr;
    delete FAlerts; // it shows through the tray icon
    FAlerts = nullptr;
    delete TrayIcon;
    TrayIcon = nullptr;
    FDevices.Clear();
}

void TfrmMain::createActions() {
    actDeviceEnable = makeAction(this, "actDeviceEnable", QStringLiteral("Разрешить"),
                                 QStringLiteral("Разрешить управление терминалом"));
    actDeviceEnable->setIcon(ilToolbarIcons.value(4));
    actDeviceEnable->setVisible(false);
    connect(actDeviceEnable, &QAction::triggered, this, &TfrmMain::actDeviceEnableExecute);

    actDeviceDisable = makeAction(this, "actDeviceDisable", QStringLiteral("Запретить"),
                                  QStringLiteral("Запретить управление терминалом"));
    actDeviceDisable->setIcon(ilToolbarIcons.value(3));
    actDeviceDisable->setVisible(false);
    connect(actDeviceDisable, &QAction::triggered, this, &TfrmMain::actDeviceDisableExecute);

    actDevicePops = makeAction(this, "actDevicePops", QStringLiteral("Свойства..."),
                               QStringLiteral("Изменить свойства..."));
    actDevicePops->setIcon(ilToolbarIcons.value(2));
    connect(actDevicePops, &QAction::triggered, this, &TfrmMain::actDevicePopsExecute);

    actDeviceDelete = makeAction(this, "actDeviceDelete", QStringLiteral("Удалить"),
                                 QStringLiteral("Удалить терминал"));
    actDeviceDelete->setIcon(ilToolbarIcons.value(1));
    connect(actDeviceDelete, &QAction::triggered, this, &TfrmMain::actDeviceDeleteExecute);

    actDeviceNew = makeAction(this, "actDeviceNew", QStringLiteral("Добавить..."),
                              QStringLiteral("Добавить терминал..."));
    actDeviceNew->setIcon(ilToolbarIcons.value(0));
    connect(actDeviceNew, &QAction::triggered, this, &TfrmMain::actDeviceNewExecute);

    actShowDashboard = makeAction(this, "actShowDashboard", QStringLiteral("Инфоэкран"),
                                  QStringLiteral("Показать информационное табло"));
    actShowDashboard->setIcon(ilToolbarIcons.value(6));
    connect(actShowDashboard, &QAction::triggered, this, &TfrmMain::actShowDashboardExecute);

    actOptionsPrinter =
        makeAction(this, "actOptionsPrinter", QStringLiteral("Настройки принтера чеков..."), {});
    connect(actOptionsPrinter, &QAction::triggered, this, &TfrmMain::actOptionsPrinterExecute);

    actOptionsDashboard = makeAction(this, "actOptionsDashboard",
                                     QStringLiteral("Настройка информационного табло..."), {});
    connect(actOptionsDashboard, &QAction::triggered, this, &TfrmMain::actOptionsDashboardExecute);

    actOptionsAlerts = makeAction(this, "actOptionsAlerts", QStringLiteral("Оповещения..."), {});
    connect(actOptionsAlerts, &QAction::triggered, this, &TfrmMain::actOptionsAlertsExecute);

    // The actions act from anywhere in the window (their shortcuts, the menus).
    addActions({actDeviceEnable, actDeviceDisable, actDevicePops, actDeviceDelete, actDeviceNew,
                actShowDashboard, actOptionsPrinter, actOptionsDashboard, actOptionsAlerts});
}

void TfrmMain::createMenus() {
    mnuDevicePopup = new QMenu(this);
    mnuDevicePopup->setObjectName(QStringLiteral("mnuDevicePopup"));
    mnuDevicePopup->addAction(actDeviceEnable);
    mnuDevicePopup->addAction(actDeviceDisable);
    mnuDevicePopup->addSeparator();
    mnuDevicePopup->addAction(actDeviceNew);
    mnuDevicePopup->addSeparator();
    mnuDevicePopup->addAction(actDeviceDelete);
    mnuDevicePopup->addSeparator();
    mnuDevicePopup->addAction(actDevicePops);
    // The default item is drawn bold by the style.
    mnuDevicePopup->setDefaultAction(actDevicePops);

    mnuTrayPopup = new QMenu(this);
    mnuTrayPopup->setObjectName(QStringLiteral("mnuTrayPopup"));
    mnuRestore = mnuTrayPopup->addAction(QStringLiteral("Восстановить"));
    mnuRestore->setObjectName(QStringLiteral("mnuRestore"));
    connect(mnuRestore, &QAction::triggered, this, &TfrmMain::mnuRestoreClick);
    mnuTrayPopup->setDefaultAction(mnuRestore);
    mnuTrayPopup->addSeparator();
    // The same command as the tool button, under the caption the menu gives it.
    mnuDashboard = mnuTrayPopup->addAction(QStringLiteral("Информационное табло"));
    mnuDashboard->setObjectName(QStringLiteral("mnuDashboard"));
    mnuDashboard->setStatusTip(actShowDashboard->statusTip());
    connect(mnuDashboard, &QAction::triggered, actShowDashboard, &QAction::trigger);
    connect(actShowDashboard, &QAction::changed, mnuDashboard, [this] {
        mnuDashboard->setEnabled(actShowDashboard->isEnabled());
        mnuDashboard->setVisible(actShowDashboard->isVisible());
    });
    mnuTrayPopup->addSeparator();
    mnuAbout = mnuTrayPopup->addAction(QStringLiteral("О программе"));
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
    connect(mnuAbout, &QAction::triggered, this, &TfrmMain::mnuAboutClick);
    mnuExit = mnuTrayPopup->addAction(QStringLiteral("Выход"));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));
    connect(mnuExit, &QAction::triggered, this, &TfrmMain::mnuExitClick);

    popOptions = new QMenu(this);
    popOptions->setObjectName(QStringLiteral("popOptions"));
    popOptions->addAction(actOptionsPrinter);
    popOptions->addAction(actOptionsDashboard);
    popOptions->addAction(actOptionsAlerts);
}

void TfrmMain::createToolBar() {
    tbMain = new QToolBar(this);
    tbMain->setObjectName(QStringLiteral("tbMain"));
    tbMain->setMovable(false);
    tbMain->setFloatable(false);
    tbMain->setIconSize(QSize(48, 48));
    tbMain->setToolButtonStyle(Qt::ToolButtonIconOnly);
    tbMain->toggleViewAction()->setVisible(false);
    addToolBar(Qt::TopToolBarArea, tbMain);

    auto button = [this](const char* name, QAction* action) {
        auto* b = new QToolButton(tbMain);
        b->setObjectName(QLatin1String(name));
        b->setFixedSize(55, 54);
        b->setIconSize(QSize(48, 48));
        b->setAutoRaise(true);
        if (action)
            b->setDefaultAction(action);
        // The tool bar's own action keeps the button's place; the button follows its
        // action's visibility, so the tool bar must follow too.
        QAction* slot = tbMain->addWidget(b);
        if (action) {
            slot->setVisible(action->isVisible());
            connect(action, &QAction::changed, slot,
                    [slot, action] { slot->setVisible(action->isVisible()); });
        }
        return b;
    };

    btnAdd = button("btnAdd", actDeviceNew);
    BtnRemove = button("BtnRemove", actDeviceDelete);
    tbMain->addSeparator();
    btnDisable = button("btnDisable", actDeviceDisable);
    btnEnable = button("btnEnable", actDeviceEnable);
    btnProperties = button("btnProperties", actDevicePops);
    tbMain->addSeparator();

    btnInvoicePrintSetup = button("btnInvoicePrintSetup", nullptr);
    btnInvoicePrintSetup->setText(QStringLiteral("Настройка"));
    btnInvoicePrintSetup->setToolTip(QStringLiteral("Настройки"));
    btnInvoicePrintSetup->setStatusTip(QStringLiteral("Настройки"));
    btnInvoicePrintSetup->setIcon(ilToolbarIcons.value(5));
    btnInvoicePrintSetup->setMenu(popOptions);
    btnInvoicePrintSetup->setPopupMode(QToolButton::InstantPopup);
    tbMain->addSeparator();

    pnlFilter = new QWidget(tbMain);
    pnlFilter->setObjectName(QStringLiteral("pnlFilter"));
    auto* filterLayout = new QHBoxLayout(pnlFilter);
    filterLayout->setContentsMargins(4, 0, 4, 0);
    cbxFilter = new QComboBox(pnlFilter);
    cbxFilter->setObjectName(QStringLiteral("cbxFilter"));
    cbxFilter->addItems({QStringLiteral("Все"), QStringLiteral("Только разрешенные")});
    cbxFilter->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    filterLayout->addWidget(cbxFilter);
    tbMain->addWidget(pnlFilter);
    tbMain->addSeparator();

    btnDashboard = button("btnDashboard", actShowDashboard);
}

void TfrmMain::createCentral() {
    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));

    tshKiosks = new QWidget(PageControl);
    tshKiosks->setObjectName(QStringLiteral("tshKiosks"));
    auto* kiosksLayout = new QVBoxLayout(tshKiosks);
    kiosksLayout->setContentsMargins(2, 2, 2, 2);
    lvDevices = new QTreeWidget(tshKiosks);
    lvDevices->setObjectName(QStringLiteral("lvDevices"));
    lvDevices->setColumnCount(5);
    lvDevices->setHeaderLabels({QStringLiteral("Название"), QStringLiteral("Адрес"),
                                QStringLiteral("Статус"), QStringLiteral("Версия программы"),
                                QStringLiteral("Связь")});
    lvDevices->setColumnWidth(0, 180);
    lvDevices->setColumnWidth(1, 120);
    lvDevices->setColumnWidth(2, 130);
    lvDevices->setColumnWidth(3, 200);
    lvDevices->setColumnWidth(kHealthColumn, 220);
    // The operator hides or shows the health column from the header's menu.
    lvDevices->header()->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* showHealth = new QAction(QStringLiteral("Показывать столбец \"Связь\""), lvDevices);
    showHealth->setObjectName(QStringLiteral("actShowHealthColumn"));
    showHealth->setCheckable(true);
    showHealth->setChecked(true);
    connect(showHealth, &QAction::toggled, lvDevices,
            [this](bool on) { lvDevices->setColumnHidden(kHealthColumn, !on); });
    lvDevices->header()->addAction(showHealth);
    lvDevices->setRootIsDecorated(false);
    lvDevices->setItemsExpandable(false);
    lvDevices->setUniformRowHeights(true);
    lvDevices->setSelectionMode(QAbstractItemView::SingleSelection);
    lvDevices->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvDevices->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvDevices->setIconSize(QSize(16, 16));
    lvDevices->setAllColumnsShowFocus(true);
    lvDevices->setContextMenuPolicy(Qt::CustomContextMenu);
    {
        // The selected row stays as visible when the list loses the focus.
        QPalette pal = lvDevices->palette();
        pal.setColor(QPalette::Inactive, QPalette::Highlight,
                     pal.color(QPalette::Active, QPalette::Highlight));
        pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     pal.color(QPalette::Active, QPalette::HighlightedText));
        lvDevices->setPalette(pal);
    }
    kiosksLayout->addWidget(lvDevices);
    PageControl->addTab(tshKiosks, QStringLiteral("Киоски и терминалы"));

    tshLog = new QWidget(PageControl);
    tshLog->setObjectName(QStringLiteral("tshLog"));
    auto* logLayout = new QVBoxLayout(tshLog);
    auto* logFilterRow = new QHBoxLayout();
    logFilterRow->addWidget(new QLabel(QStringLiteral("Киоск:"), tshLog));
    cbxLogKiosk = new QComboBox(tshLog);
    cbxLogKiosk->setObjectName(QStringLiteral("cbxLogKiosk"));
    cbxLogKiosk->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    logFilterRow->addWidget(cbxLogKiosk);
    logFilterRow->addStretch();
    logLayout->addLayout(logFilterRow);
    memLog = new QPlainTextEdit(tshLog);
    memLog->setObjectName(QStringLiteral("memLog"));
    memLog->setReadOnly(true);
    logLayout->addWidget(memLog);
    PageControl->addTab(tshLog, QStringLiteral("Лог работы"));

    setCentralWidget(PageControl);

    connect(lvDevices, &QTreeWidget::itemClicked, this,
            [this] { UpdateDeviceActions(GetSelectedDevice().get()); });
    connect(lvDevices, &QTreeWidget::itemSelectionChanged, this,
            [this] { UpdateDeviceActions(GetSelectedDevice().get()); });
    connect(lvDevices, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (GetSelectedDevice())
            actDevicePopsExecute();
    });
    connect(lvDevices, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        UpdateDeviceActions(GetSelectedDevice().get());
        mnuDevicePopup->popup(lvDevices->viewport()->mapToGlobal(pos));
    });
}

void TfrmMain::FormCreate() {
    ApplyWindowFont(this);
    FLog = new TKioskLog(memLog, cbxLogKiosk, this);
    connect(PageControl, &QTabWidget::currentChanged, this, [this] {
        if (PageControl->currentWidget() == tshLog)
            FLog->Rebuild();
    });
    cbxFilter->setCurrentIndex(0);
    connect(cbxFilter, &QComboBox::currentIndexChanged, this, &TfrmMain::cbxFilterChange);

    TrayIcon = new TTrayIcon();
    TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    TrayIcon->SetPopupMenu(mnuTrayPopup);
    TrayIcon->SetHint(kApplicationTitle);
    TrayIcon->SetShowHint(true);
    TrayIcon->SetIconList(imgTrayIcons);
    timTrayTimer();
    TrayIcon->SetIconVisible(true);
    // Without a notification area the window is the only way in.
    connect(TrayIcon, &TTrayIcon::trayUnavailable, this, &TfrmMain::mnuRestoreClick);
    FAlerts = new TOrderAlerts(TrayIcon, this);
    FAlerts->Apply(LoadAlertSettings(IniFileName));
    connect(&ReceiptSpooler::instance(), &ReceiptSpooler::finished, this,
            &TfrmMain::receiptFinished);

    // Before the kiosks start: their first connections are recorded too. Without a data
    // folder nothing is recorded.
    FJournal = new JournalRecorder(DataFolder, IniFileName, this);
    connect(FJournal, &JournalRecorder::failed, this, [this](const QString& text) {
        StatusBar->showMessage(text);
        if (TrayIcon)
            TrayIcon->ShowMessage(QStringLiteral("Журнал заказов"), text);
    });

    // The journal beside the kiosks: read when the operator turns to it, so that the list
    // shows the orders of a minute ago; a copy printed there is recorded with its order.
    // With [Journal] Driver=QPSQL it is the shared journal of every console, and only
    // then is the server asked.
    tshJournal = new TJournalTab(
        DataFolder, DataFolder.isEmpty() ? JournalSource{} : JournalSource::fromIni(IniFileName),
        PageControl);
    PageControl->insertTab(1, tshJournal, QStringLiteral("Журнал заказов"));
    tshJournal->onReprintStarted = [this](qint64 rowId, int job, const QString& printer) {
        FJournal->reprintStarted(rowId, job, printer);
    };
    connect(PageControl, &QTabWidget::currentChanged, this, [this] {
        if (PageControl->currentWidget() == tshJournal)
            tshJournal->Refresh();
    });

    LoadIni();
    // Before the threads start: what they meet from now on is newer than the journal.
    seedDeviceHealth();
    LoadPrintSettings(IniFileName, kPrintSettingsSection);
    for (const auto& device : FDevices)
        if (device->Enabled())
            device->ResumeThread();
    UpdateDeviceActions(nullptr);
    if (DashboardSettings.ShowOnStartup)
        actShowDashboardExecute();
}

bool TfrmMain::event(QEvent* e) {
    if (e->type() == QEvent::StatusTip) {
        ApplicationEventsHint(static_cast<QStatusTipEvent*>(e)->tip());
        return true;
    }
    return QMainWindow::event(e);
}

void TfrmMain::receiptFinished(int /*job*/, const ReceiptOutcome& outcome) {
    constexpr int kShownMs = 15000;
    if (outcome.ok) {
        StatusBar->showMessage(QStringLiteral("Чек напечатан: %1").arg(outcome.printer), kShownMs);
        if (!outcome.warnings.isEmpty() && TrayIcon)
            TrayIcon->ShowMessage(QStringLiteral("Чек напечатан: %1").arg(outcome.printer),
                                  outcome.warnings.join(QLatin1Char('\n')));
        return;
    }
    if (outcome.cancelled) {
        StatusBar->showMessage(QStringLiteral("Печать чека остановлена: %1").arg(outcome.printer),
                               kShownMs);
        return;
    }
    StatusBar->showMessage(QStringLiteral("Чек не напечатан: %1").arg(outcome.error));
    if (outcome.ownerAlive)
        return; // the order window tells it over itself
    if (TrayIcon)
        TrayIcon->ShowMessage(QStringLiteral("Чек не напечатан"), outcome.error);
    showMessageBox(this, QMessageBox::Critical, QStringLiteral("Ошибка"), outcome.error);
}

void TfrmMain::ApplicationEventsHint(const QString& hint) {
    StatusBar->showMessage(hint);
}

void TfrmMain::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!FCentred) {
        FCentred = true;
        if (QScreen* s = screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(s->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    FillList();
}

void TfrmMain::closeEvent(QCloseEvent* e) {
    if (!FDoExit) {
        e->ignore();
        hide();
        return;
    }
    e->accept();
    if (!FClosedForGood) {
        FClosedForGood = true;
        emit closedForGood();
    }
}

void TfrmMain::timTrayTimer() {
    if (TrayIcon)
        TrayIcon->SetIconIndex(TrayImageIndex(FDevices));
}

void TfrmMain::timDelayedStartTimer() {
    timDelayedStart->stop();
    if (FDevices.Count() != 0)
        return;
    // The main window has never been shown: the question stands on its own in the middle
    // of the screen rather than over the hidden window's corner.
    QPointer<QMessageBox> box = new QMessageBox(
        QMessageBox::Question, QStringLiteral("Сообщение"),
        QStringLiteral("Программа не настроена для связи ни с одним терминалом. Хотите "
                       "добавить терминал сейчас?"),
        QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QStringLiteral("msgDelayedStart"));
    centreOnScreen(*box, screenOf(this));
    const int answer = execWindowModal(*box);
    delete box.data();
    if (answer == QMessageBox::Yes) {
        mnuRestoreClick();
        actDeviceNew->trigger();
    }
}

void TfrmMain::mnuRestoreClick() {
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void TfrmMain::mnuExitClick() {
    if (FClosedForGood)
        return;
    FDoExit = true;
    // The order windows go with the console and tell their kiosks nothing: a customer's
    // order is neither confirmed nor cancelled by the console ending.
    for (TfrmOrderConfirm* window : OrderWindows())
        window->ForceClose();
    close();
    // However the window system treats a close of a hidden window, the program ends.
    if (!FClosedForGood) {
        FClosedForGood = true;
        emit closedForGood();
    }
}

void TfrmMain::mnuAboutClick() {
    showMessageBox(this, QMessageBox::Information, QStringLiteral("О программе"),
                   QStringLiteral("\"%1\" версия %2").arg(windowTitle(), GetAppVersionString()));
}

void TfrmMain::actShowDashboardExecute() {
    ShowDashboard(this, &FDevices);
}

void TfrmMain::actOptionsDashboardExecute() {
    ExecuteDashboardOptions(this, IniFileName);
}

void TfrmMain::actOptionsPrinterExecute() {
    try {
        ExecutePrintOptions(this, IniFileName);
    } catch (const orvanta::Exception& e) {
        showMessageBox(this, QMessageBox::Critical, QStringLiteral("Ошибка"), e.message());
    }
}

void TfrmMain::actOptionsAlertsExecute() {
    ShowAlertOptions(this, [this](const TAlertSettings& settings) { FAlerts->Apply(settings); });
}

void TfrmMain::UpdateDashboard() {
    ::UpdateDashboard();
}

void TfrmMain::AdaptDashboard() {
    ::AdaptDashboard();
}

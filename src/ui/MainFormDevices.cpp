// The main window's device handling: the list view, the device commands, the
// configuration and the kiosk link's notifications with the order windows.
#include "board/Dashboard.h"
#include "ui/Boxes.h"
#include "ui/MainForm.h"

#include "common/GlobConst.h"
#include "core/IniFile.h"
#include "journal/JournalReader.h"
#include "platform/Error.h"
#include "ui/DeviceProps.h"
#include "ui/JournalRecorder.h"
#include "ui/KioskLog.h"
#include "ui/OrderAlerts.h"
#include "ui/OrderConfirm.h"
#include "ui/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHash>
#include <QMessageBox>
#include <QScreen>
#include <QTreeWidget>

namespace {
constexpr int kDeviceRole = Qt::UserRole;
const QString kDeviceListSection = QStringLiteral("DeviceList");
} // namespace

// ---- Configuration

void TfrmMain::LoadIni() {
    TIniFile ini(IniFileName);
    FDevices.LoadFromIni(ini, kDeviceListSection);
}

void TfrmMain::seedDeviceHealth() {
    if (DataFolder.isEmpty() || !FJournal || !FJournal->enabled())
        return;
    // Only the events of one day, found through the index on their time: a journal of a
    // year opens the console as fast as one of a day.
    JournalReader reader(DataFolder);
    if (!reader.open())
        return; // no journal yet: there is nothing to remember
    const QDateTime now = QDateTime::currentDateTimeUtc();
    struct Seed {
        QList<QDateTime> losses;
        QString lastError;
    };
    QHash<QString, Seed> seeds;
    for (const JournalEvent& event : reader.events(now.addDays(-1), now.addMSecs(1))) {
        switch (event.kind) {
        case JournalEventKind::Lost:
            seeds[event.kiosk].losses << event.at;
            seeds[event.kiosk].lastError = event.text;
            break;
        case JournalEventKind::Refused:
            // Refused is no loss; its text is the kiosk's version.
            seeds[event.kiosk].lastError =
                QStringLiteral("версия киоска не поддерживается: %1").arg(event.text);
            break;
        case JournalEventKind::Connected:
            break;
        }
    }
    for (const auto& device : FDevices) {
        const auto seed = seeds.constFind(device->Name);
        if (seed != seeds.cend())
            device->SeedHealth(seed->losses, seed->lastError);
    }
}

void TfrmMain::SaveIni() {
    try {
        TIniFile ini(IniFileName);
        FDevices.SaveToIni(ini, kDeviceListSection);
        ini.UpdateFile();
    } catch (const orvanta::Exception& e) {
        // The list in memory is still right; the operator learns that the file is not.
        showMessageBox(this, QMessageBox::Critical, QStringLiteral("Ошибка"), e.message());
    }
}

// ---- Rules of the list and the icon

int TfrmMain::DeviceImageIndex(const TDeviceItem& device) {
    const bool terminating = device.ThreadTerminating();
    if (!device.Enabled() && !terminating)
        return 0;
    if (terminating)
        return 3;
    switch (device.ThreadState()) {
    case tsSuspended:
        return 1;
    case tsWaiting:
    case tsWaitingVersion:
        return 2;
    case tsConnecting:
    case tsError:
    case tsObsoleteVersion:
        return 3;
    case tsConnected:
    case tsWorkingIdle:
        return 4;
    case tsDisconnected:
        return 0;
    case tsWorkingOrder:
        return 5;
    case tsOrderingFinished:
        return 6;
    }
    return 0;
}

QString TfrmMain::DeviceAddressText(const TDeviceItem& device) {
    return device.Address() + QStringLiteral(" : ") + QString::number(device.Port());
}

QString TfrmMain::DeviceVersionText(const TDeviceItem& device) {
    const TVersion version = device.Version();
    return version.IsZero() ? QStringLiteral("н/д") : version.VersionStr();
}

int TfrmMain::TrayImageIndex(const TDeviceItemList& devices) {
    int connected = 0;
    int enabled = 0;
    for (const auto& device : devices) {
        const TThreadState state = device->ThreadState();
        if (state == tsConnected || state == tsWorkingIdle || state == tsWorkingOrder)
            ++connected;
        if (device->Enabled())
            ++enabled;
    }
    if (connected == 0)
        return 0;
    return connected < enabled ? 1 : 2;
}

// ---- The list view

void TfrmMain::FillList() {
    const std::shared_ptr<TDeviceItem> selected = GetSelectedDevice();
    lvDevices->setUpdatesEnabled(false);
    lvDevices->clear();
    const bool onlyEnabled = cbxFilter->currentIndex() == 1;
    for (const auto& device : FDevices)
        if (!onlyEnabled || device->Enabled())
            AddItem(device, true);
    // Keep the operator's row selected across a rebuild where it is still listed.
    if (selected)
        if (QTreeWidgetItem* row = ItemByData(lvDevices, selected.get()))
            lvDevices->setCurrentItem(row);
    lvDevices->setUpdatesEnabled(true);
    QStringList names;
    for (const auto& device : FDevices)
        names.append(device->Name);
    FLog->SetKiosks(names);
}

void TfrmMain::AddItem(const std::shared_ptr<TDeviceItem>& DeviceItem, bool DoUpdate) {
    auto* row = new QTreeWidgetItem(lvDevices);
    row->setData(0, kDeviceRole, QVariant::fromValue(reinterpret_cast<quintptr>(DeviceItem.get())));
    if (DoUpdate)
        UpdateItem(DeviceItem);
}

void TfrmMain::RemoveItem(const TDeviceItem* DeviceItem) {
    delete ItemByData(lvDevices, DeviceItem);
}

QTreeWidgetItem* TfrmMain::ItemByData(QTreeWidget* ListView, const TDeviceItem* Data) {
    const auto key = reinterpret_cast<quintptr>(Data);
    for (int i = 0; i < ListView->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = ListView->topLevelItem(i);
        if (row->data(0, kDeviceRole).value<quintptr>() == key)
            return row;
    }
    return nullptr;
}

std::shared_ptr<TDeviceItem> TfrmMain::GetSelectedDevice() const {
    const QList<QTreeWidgetItem*> rows = lvDevices->selectedItems();
    if (rows.isEmpty())
        return nullptr;
    // The row only names the record; the list says whether it still exists.
    const auto* data =
        reinterpret_cast<const TDeviceItem*>(rows.first()->data(0, kDeviceRole).value<quintptr>());
    const int index = FDevices.IndexOf(data);
    return index >= 0 ? FDevices[index] : nullptr;
}

void TfrmMain::UpdateItem(const std::shared_ptr<TDeviceItem>& DeviceItem) {
    if (!DeviceItem) {
        UpdateDashboard();
        return;
    }
    // Only the device's own cell: a storm of state changes from many kiosks then costs
    // a fraction of whole-board repaints, and every cell still shows its last state.
    ::UpdateDashboard(DeviceItem.get());
    if (GetSelectedDevice() == DeviceItem)
        UpdateDeviceActions(DeviceItem.get());
    QTreeWidgetItem* row = ItemByData(lvDevices, DeviceItem.get());
    if (!row)
        return;
    const TDeviceItem& device = *DeviceItem;
    row->setIcon(0, ilListIcons.value(DeviceImageIndex(device)));
    row->setText(0, device.Name);
    row->setText(1, DeviceAddressText(device));
    row->setText(2, device.GetStatusString());
    row->setText(3, DeviceVersionText(device));
    row->setText(kHealthColumn, DeviceHealthText(device));
    const QString hint = DeviceHealthHint(device);
    for (int column = 0; column < lvDevices->columnCount(); ++column)
        row->setToolTip(column, hint);
}

QString TfrmMain::DeviceHealthText(const TDeviceItem& device) {
    const TDeviceHealth health = device.Health();
    const QString losses = QStringLiteral("потерь за сутки: %1").arg(health.lossesLast24h);
    if (health.connectedSince.isValid())
        return QStringLiteral("на связи с %1, %2")
            .arg(health.connectedSince.toString(QStringLiteral("dd.MM hh:mm")), losses);
    if (!health.lastError.isEmpty())
        return QStringLiteral("нет связи: %1, %2").arg(health.lastError, losses);
    return losses;
}

QString TfrmMain::DeviceHealthHint(const TDeviceItem& device) {
    const TDeviceHealth health = device.Health();
    const QString never = QStringLiteral("нет");
    const QString format = QStringLiteral("dd.MM.yyyy hh:mm:ss");
    return QStringLiteral("%1\nНа связи с: %2\nПоследняя строка от киоска: %3\n"
                          "Потерь связи за 24 часа: %4\nПоследняя ошибка: %5")
        .arg(device.Name,
             health.connectedSince.isValid() ? health.connectedSince.toString(format) : never,
             health.lastLineAt.isValid() ? health.lastLineAt.toString(format) : never)
        .arg(health.lossesLast24h)
        .arg(health.lastError.isEmpty() ? never : health.lastError);
}

void TfrmMain::UpdateDeviceActions(const TDeviceItem* aDevice) {
    if (!aDevice) {
        for (QAction* a : {actDeviceEnable, actDeviceDisable, actDevicePops, actDeviceDelete})
            a->setEnabled(false);
        return;
    }
    const bool terminating = aDevice->ThreadTerminating();
    const bool enabled = aDevice->Enabled();
    const bool canEnable = !enabled && !terminating;
    const bool canDisable = enabled && !terminating;
    // Visibility first: Qt keeps a hidden action disabled whatever it is told.
    actDeviceEnable->setVisible(canEnable);
    actDeviceEnable->setEnabled(canEnable);
    actDeviceDisable->setVisible(canDisable);
    actDeviceDisable->setEnabled(canDisable);
    actDevicePops->setEnabled(true);
    actDeviceDelete->setEnabled(true);
}

void TfrmMain::cbxFilterChange() {
    FillList();
    UpdateDeviceActions(GetSelectedDevice().get());
}

// ---- Device commands

void TfrmMain::actDeviceEnableExecute() {
    const auto device = GetSelectedDevice();
    if (!device)
        return;
    device->SetEnabled(true);
    SaveIni();
    device->ResumeThread();
    UpdateDeviceActions(device.get());
    AdaptDashboard();
}

void TfrmMain::actDeviceDisableExecute() {
    const auto device = GetSelectedDevice();
    if (!device)
        return;
    device->DestroyThread(false);
    device->SetEnabled(false);
    SaveIni();
    UpdateItem(device);
    if (cbxFilter->currentIndex() > 0)
        FillList();
    UpdateDeviceActions(GetSelectedDevice().get());
    AdaptDashboard();
}

void TfrmMain::actDevicePopsExecute() {
    const auto device = GetSelectedDevice();
    if (!device)
        return;
    TfrmDeviceProps dialog(this);
    dialog.GetProperties(*device);
    dialog.SetOtherDevices(FDevices, device.get());
    centreOnScreen(dialog, screenOf(this));
    if (execWindowModal(dialog) != QDialog::Accepted)
        return;
    // The record may have left the list while the dialog was open.
    if (!FDevices.Contains(device.get()))
        return;
    dialog.ApplyProperties(*device);
    UpdateItem(device);
    SaveIni();
}

void TfrmMain::actDeviceNewExecute() {
    TfrmDeviceProps dialog(this);
    dialog.SetOtherDevices(FDevices, nullptr);
    centreOnScreen(dialog, screenOf(this));
    if (execWindowModal(dialog) != QDialog::Accepted)
        return;
    auto device = TDeviceItem::Create(QString(), 0);
    device->SetEnabled(true);
    FDevices.Add(device);
    dialog.ApplyProperties(*device);
    SaveIni();
    device->ResumeThread();
    AddItem(device, true);
    AdaptDashboard();
}

void TfrmMain::actDeviceDeleteExecute() {
    const auto device = GetSelectedDevice();
    if (!device)
        return;
    const auto answer = showMessageBox(this, QMessageBox::Question, QStringLiteral("Удаление"),
                                       QStringLiteral("Удалить терминал \"%1\"?").arg(device->Name),
                                       QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes || !FDevices.Contains(device.get()))
        return;
    RemoveItem(device.get());
    // Its order window stays, inert; for the journal the order ended here.
    for (TfrmOrderConfirm* window : OrderWindows())
        if (window->IsForDevice(device.get()))
            window->RecordEnd(JournalDecision::Closed);
    FJournal->kioskRemoved(device.get());
    FAlerts->KioskRemoved(device.get());
    FDevices.Remove(device.get());
    SaveIni();
    UpdateDeviceActions(GetSelectedDevice().get());
    AdaptDashboard();
}

// ---- Kiosk link notifications

void TfrmMain::WMKioskState(const std::shared_ptr<TDeviceItem>& device, TThreadState state) {
    if (!device || !FDevices.Contains(device.get())) {
        UpdateDashboard();
        return;
    }
    UpdateItem(device);
    FAlerts->KioskStateChanged(*device, state);
    FJournal->kioskState(*device, state);
    CloseOrderWindow(device, state);
}

void TfrmMain::WMKioskPayBlock(const std::shared_ptr<TDeviceItem>& device) {
    if (!device || !FDevices.Contains(device.get()))
        return;
    if (OrderWindowOf(device.get()))
        return;
    // An operator at work in another order window keeps the keyboard: an Enter meant for
    // that kiosk's order must not confirm this one, which popped up a moment before.
    const bool operatorBusy = IsOrderWindowActive();
    const QPointer<QWidget> operatorWindow = QApplication::activeWindow();
    auto* window = new TfrmOrderConfirm(nullptr);
    FOrderWindows.removeIf([](const QPointer<TfrmOrderConfirm>& w) { return w.isNull(); });
    FOrderWindows.append(window);
    window->SetDevice(device);
    window->PrepareForShow();
    // Only queued: the row is written by the journal's own thread.
    window->SetJournal(FJournal, FJournal->orderOpened(*device));
    // However the window goes (a decision, PAY_END, its kiosk lost, the exit), the
    // reminders for it stop; a kiosk lost during the payment is told as such.
    const TDeviceItem* key = device.get();
    connect(window, &QObject::destroyed, this, [this, key, lost = window->LostFlag()] {
        if (FAlerts)
            FAlerts->OrderWindowClosed(key, *lost);
    });
    PlaceOrderWindow(window);
    window->setAttribute(Qt::WA_ShowWithoutActivating, operatorBusy);
    window->show();
    double sum = 0;
    {
        TDeviceLock lock(*device);
        sum = device->OrderBilled;
    }
    FAlerts->OrderWindowOpened(*device, sum);
    if (!operatorBusy) {
        window->raise();
        window->activateWindow();
    } else {
        window->KeepKeyboardWith(operatorWindow);
    }
}

bool TfrmMain::IsOrderWindowActive() const {
    for (const QWidget* w = QApplication::activeWindow(); w; w = w->parentWidget())
        if (qobject_cast<const TfrmOrderConfirm*>(w))
            return true;
    return false;
}

void TfrmMain::PlaceOrderWindow(TfrmOrderConfirm* window) const {
    // Centred on the screen the operator looks at; each further open window a step down
    // and to the right, so that none hides another completely.
    constexpr int kStep = 32;
    QScreen* screen = screenOf(this);
    if (!screen)
        return;
    centreOnScreen(*window, screen);
    const QRect area = screen->availableGeometry();
    const int others = static_cast<int>(OrderWindows().size()) - 1;
    const int room =
        std::max(1, std::min(area.width() - window->width(), area.height() - window->height()) /
                        (2 * kStep));
    const int step = (others % (room + 1)) * kStep;
    window->move(window->pos() + QPoint(step, step));
}

void TfrmMain::WMKioskPayEnd(const std::shared_ptr<TDeviceItem>& device) {
    if (!device || !FDevices.Contains(device.get()))
        return;
    for (TfrmOrderConfirm* window : OrderWindows())
        if (window->IsForDevice(device.get())) {
            window->RecordEnd(JournalDecision::Ended);
            delete window;
        }
}

void TfrmMain::AddLogLine(const std::shared_ptr<TDeviceItem>& device, const QString& line) {
    FLog->Add(device ? device->Name : QString(), line);
}

void TfrmMain::CloseOrderWindow(const std::shared_ptr<TDeviceItem>& DeviceItem,
                                TThreadState state) {
    if (state == tsConnected)
        return;
    const QList<TfrmOrderConfirm*> windows = OrderWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if ((*it)->IsForDevice(DeviceItem.get())) {
            *(*it)->LostFlag() = !TOrderAlerts::Reachable(state);
            (*it)->ForceClose();
        }
}

QList<TfrmOrderConfirm*> TfrmMain::OrderWindows() const {
    QList<TfrmOrderConfirm*> open;
    for (const QPointer<TfrmOrderConfirm>& window : FOrderWindows)
        if (window && !window->IsClosed())
            open.append(window.data());
    return open;
}

TfrmOrderConfirm* TfrmMain::OrderWindowOf(const TDeviceItem* device) const {
    for (TfrmOrderConfirm* window : OrderWindows())
        if (window->IsForDevice(device))
            return window;
    return nullptr;
}

#include "kiosk/ClientThread.h"

#include "core/IniFile.h"
#include "platform/MainThread.h"

#include <algorithm>
#include <chrono>

namespace {
IKioskObserver* g_observer = nullptr;
}

void SetKioskObserver(IKioskObserver* observer) {
    g_observer = observer;
}

IKioskObserver* KioskObserver() {
    return g_observer;
}

std::uint32_t TickCount() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// ---- TDeviceItem

std::shared_ptr<TDeviceItem> TDeviceItem::Create(const QString& aAddress, int aPort) {
    std::shared_ptr<TDeviceItem> item(new TDeviceItem);
    item->Name = aAddress;
    item->FAddress = aAddress;
    item->FPort = aPort;
    item->CreateThread();
    return item;
}

TDeviceItem::~TDeviceItem() {
    // By now no running thread refers to this record (it would hold a reference);
    // what is left is at most a suspended thread that never ran.
    FSocketThread.reset();
}

void TDeviceItem::AddKioskCommand(TKioskCommand aCommand) {
    std::lock_guard lock(FCriticalSection);
    FKioskCommands.push_back(aCommand);
}

void TDeviceItem::SetKioskAlive() {
    std::lock_guard lock(FCriticalSection);
    FKioskAlive = true;
}

std::vector<TKioskCommand> TDeviceItem::PendingCommands() {
    std::lock_guard lock(FCriticalSection);
    return {FKioskCommands.begin(), FKioskCommands.end()};
}

bool TDeviceItem::KioskAliveRequested() {
    std::lock_guard lock(FCriticalSection);
    return FKioskAlive;
}

QString TDeviceItem::Address() const {
    std::lock_guard lock(FCriticalSection);
    return FAddress;
}

void TDeviceItem::SetAddress(const QString& value) {
    {
        std::lock_guard lock(FCriticalSection);
        if (FAddress == value)
            return;
        FAddress = value;
    }
    PlaceChanged();
}

int TDeviceItem::Port() const {
    std::lock_guard lock(FCriticalSection);
    return FPort;
}

void TDeviceItem::SetPort(int value) {
    {
        std::lock_guard lock(FCriticalSection);
        if (FPort == value)
            return;
        FPort = value;
    }
    PlaceChanged();
}

void TDeviceItem::SetPlace(const QString& address, int port) {
    {
        std::lock_guard lock(FCriticalSection);
        if (FAddress == address && FPort == port)
            return;
        FAddress = address;
        FPort = port;
    }
    PlaceChanged();
}

void TDeviceItem::PlaceChanged() {
    // The thread reads the place at each attempt; a connection to the old place would
    // otherwise stand until it drops, while the list already shows the new one.
    if (FSocketThread && !FSocketThread->Suspended())
        FSocketThread->RequestReconnect();
}

TDeviceHealth TDeviceItem::Health() const {
    std::lock_guard lock(FCriticalSection);
    TDeviceHealth health;
    health.connectedSince = FConnectedSince;
    health.lastLineAt = FLastLineAt;
    health.lastError = FLastError;
    const auto since = std::chrono::steady_clock::now() - std::chrono::hours(24);
    health.lossesLast24h = static_cast<int>(
        std::count_if(FLosses.begin(), FLosses.end(), [&](auto at) { return at >= since; }));
    return health;
}

void TDeviceItem::SeedHealth(const QList<QDateTime>& losses, const QString& lastError) {
    using namespace std::chrono;
    // The losses are counted on the steady clock: each journal time becomes the same
    // distance before now on it.
    const auto steadyNow = steady_clock::now();
    const qint64 wallNow = QDateTime::currentMSecsSinceEpoch();
    const qint64 day = duration_cast<milliseconds>(hours(24)).count();
    std::lock_guard lock(FCriticalSection);
    for (const QDateTime& at : losses) {
        if (!at.isValid())
            continue;
        const qint64 ago = std::max<qint64>(0, wallNow - at.toMSecsSinceEpoch());
        if (ago <= day)
            FLosses.push_back(steadyNow - milliseconds(ago));
    }
    std::sort(FLosses.begin(), FLosses.end());
    if (FLastError.isEmpty())
        FLastError = lastError;
}

TVersion TDeviceItem::Version() const {
    std::lock_guard lock(FCriticalSection);
    return FVersion;
}

QString TDeviceItem::VersionStr() const {
    std::lock_guard lock(FCriticalSection);
    return FVersion.VersionStr();
}

void TDeviceItem::SetVersionStr(const QString& value) {
    std::lock_guard lock(FCriticalSection);
    FVersion.ParseStr(value);
}

QString TDeviceItem::GetStatusString() const {
    if (!Enabled())
        return QStringLiteral("Выключен");
    if (ThreadTerminating())
        return QStringLiteral("Остановка");
    switch (ThreadState()) {
    case tsSuspended:
        return QStringLiteral("Остановлен");
    case tsWaiting:
        return QStringLiteral("Ожидание");
    case tsConnecting:
        return QStringLiteral("Соединение");
    case tsConnected:
        return QStringLiteral("Соединен");
    case tsDisconnected:
        return QStringLiteral("Разъединен");
    case tsWorkingIdle:
        return QStringLiteral("Ожидание заказа");
    case tsWorkingOrder:
        return QStringLiteral("Оформление заказа");
    case tsOrderingFinished:
        return QStringLiteral("Заказ завершен");
    case tsError:
        return QStringLiteral("Ошибка связи");
    case tsWaitingVersion:
        return QStringLiteral("Определение версии");
    case tsObsoleteVersion:
        return QStringLiteral("Версия не поддерживается");
    }
    return {};
}

void TDeviceItem::LoadFromIni(const TIniFile& ini, const QString& section) {
    SetEnabled(ini.ReadBool(section, QStringLiteral("Enabled"), Enabled()));
    Name = ini.ReadString(section, QStringLiteral("Name"), Name);
    SetAddress(ini.ReadString(section, QStringLiteral("Address"), Address()));
    SetPort(ini.ReadInteger(section, QStringLiteral("Port"), Port()));
}

void TDeviceItem::SaveToIni(TIniFile& ini, const QString& section) const {
    ini.WriteBool(section, QStringLiteral("Enabled"), Enabled());
    ini.WriteString(section, QStringLiteral("Name"), Name);
    ini.WriteString(section, QStringLiteral("Address"), Address());
    ini.WriteInteger(section, QStringLiteral("Port"), Port());
}

TThreadState TDeviceItem::ThreadState() const {
    return FSocketThread ? FSocketThread->ThreadState() : tsSuspended;
}

bool TDeviceItem::ThreadTerminating() const {
    return FSocketThread && !FSocketThread->Suspended() && FSocketThread->Terminated() &&
           FSocketThread->ThreadState() != tsSuspended;
}

void TDeviceItem::CreateThread() {
    auto thread = std::make_shared<TSocketThread>(shared_from_this());
    std::weak_ptr<TDeviceItem> self = weak_from_this();
    std::weak_ptr<TSocketThread> weakThread = thread;
    // Runs on the main thread once the thread's loop has ended. The task that runs it
    // holds the thread object; the record may be gone by then.
    thread->OnTerminate = [self, weakThread] {
        auto item = self.lock();
        auto ended = weakThread.lock();
        if (item && ended)
            item->ThreadTerminate(ended);
    };
    FSocketThread = std::move(thread);
}

void TDeviceItem::ResumeThread() {
    if (FReleased || !FSocketThread)
        return;
    if (FSocketThread->Suspended()) {
        FSocketThread->Resume();
        return;
    }
    // The old thread is still on its way out: start its successor as soon as it ends,
    // or the kiosk would stay enabled without a connection.
    if (FSocketThread->Terminated())
        FResumePending = true;
}

void TDeviceItem::DestroyThread(bool /*DoWait*/) {
    // The record's shared ownership keeps it valid for a stopping thread, so there is
    // never a reason to block the main thread here, whatever DoWait says.
    FResumePending = false;
    if (!FSocketThread || FSocketThread->Suspended())
        return;
    FSocketThread->Abort();
    FSocketThread->MegaTerminate();
}

void TDeviceItem::Release() {
    FReleased = true;
    DestroyThread(true);
}

void TDeviceItem::ThreadTerminate(const std::shared_ptr<TSocketThread>& ended) {
    if (FReleased || FSocketThread != ended)
        return;
    FSocketThread.reset();
    CreateThread();
    const bool resume = FResumePending && Enabled();
    FResumePending = false;
    if (resume)
        FSocketThread->Resume();
    // A thread stopped before it connected ends without a state message of its own;
    // tell the main window that the record now has a suspended thread.
    if (auto* observer = KioskObserver())
        observer->WMKioskState(shared_from_this(), ThreadState());
}

// ---- TDeviceItemList

TDeviceItemList::~TDeviceItemList() {
    Clear();
}

void TDeviceItemList::SetDeviceItem(int index, std::shared_ptr<TDeviceItem> value) {
    auto& slot = m_items.at(index);
    if (slot && slot != value)
        slot->Release();
    slot = std::move(value);
}

int TDeviceItemList::Add(std::shared_ptr<TDeviceItem> item) {
    m_items.push_back(std::move(item));
    return Count() - 1;
}

void TDeviceItemList::Delete(int index) {
    auto item = m_items.at(index);
    m_items.erase(m_items.begin() + index);
    if (item)
        item->Release();
}

int TDeviceItemList::IndexOf(const TDeviceItem* item) const {
    for (int i = 0; i < Count(); ++i)
        if (m_items[i].get() == item)
            return i;
    return -1;
}

bool TDeviceItemList::Remove(const TDeviceItem* item) {
    const int index = IndexOf(item);
    if (index < 0)
        return false;
    Delete(index);
    return true;
}

void TDeviceItemList::Clear() {
    auto items = std::move(m_items);
    m_items.clear();
    for (auto& item : items)
        if (item)
            item->Release();
}

void TDeviceItemList::LoadFromIni(const TIniFile& ini, const QString& sectionPrefix) {
    Clear();
    // A damaged or hand-edited Count must not make the console build records until memory
    // runs out; no venue comes near this many kiosks.
    const int count =
        std::min(ini.ReadInteger(sectionPrefix, QStringLiteral("Count"), -1), kMaxDevices);
    for (int i = 0; i < count; ++i) {
        auto item = TDeviceItem::Create(QString(), 0);
        Add(item);
        item->LoadFromIni(ini, sectionPrefix + QString::number(i));
    }
}

void TDeviceItemList::SaveToIni(TIniFile& ini, const QString& sectionPrefix) const {
    ini.WriteInteger(sectionPrefix, QStringLiteral("Count"), Count());
    for (int i = 0; i < Count(); ++i)
        m_items[i]->SaveToIni(ini, sectionPrefix + QString::number(i));
}

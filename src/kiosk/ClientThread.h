#pragma once

#include "core/MegaThread.h"
#include "core/VersionUtils.h"
#include "kiosk/KioskObserver.h"
#include "kiosk/KioskProtocol.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

class TIniFile;
class TSocketThread;
namespace orvanta {
class TcpClient;
}

// The connection state of one kiosk.
enum TThreadState : int {
    tsSuspended,
    tsWaiting,
    tsConnecting,
    tsConnected,
    tsDisconnected,
    tsWorkingIdle,
    tsWorkingOrder,
    tsOrderingFinished,
    tsError,
    tsWaitingVersion,
    tsObsoleteVersion,
};

// Timing of the connection thread, in milliseconds.
namespace KioskTiming {
inline constexpr int EnabledPoll = 200;
inline constexpr int Quiet = 1000; // quiet period and stream time-out
inline constexpr int ReadSize = 1023;
inline constexpr int ErrorRetry = 3000;
inline constexpr int ObsoleteRetry = 5000;
inline constexpr std::uint32_t CommandGiveUp = 10000;
} // namespace KioskTiming

// The oldest kiosk program the console talks to is anything newer than this.
inline const TVersion kMinKioskVersion{QStringLiteral("14.0.0.0")};

// Everything the console knows about one kiosk. Shared between the main thread and
// the kiosk's connection thread; the record lives until its last thread has ended.
//
// The main thread owns Name; the settings Enabled, Address and Port may be changed by
// the main thread at any time and are read by the connection thread at each attempt.
// The order data (OrderBilled, OrderXML, Invoice) and the command queue are guarded by
// the record's lock: take Lock()/Unlock() (or a TDeviceLock) around reads of them.
class TDeviceItem : public std::enable_shared_from_this<TDeviceItem> {
public:
    static std::shared_ptr<TDeviceItem> Create(const QString& aAddress = {}, int aPort = 0);
    ~TDeviceItem();
    TDeviceItem(const TDeviceItem&) = delete;
    TDeviceItem& operator=(const TDeviceItem&) = delete;

    // The record's lock; re-entrant.
    void Lock() { FCriticalSection.lock(); }
    void Unlock() { FCriticalSection.unlock(); }
    std::recursive_mutex& Mutex() { return FCriticalSection; }

    void AddKioskCommand(TKioskCommand aCommand);
    void SetKioskAlive();
    // Copies of the queue and the keep-alive request, for tests and diagnostics.
    std::vector<TKioskCommand> PendingCommands();
    bool KioskAliveRequested();

    QString GetStatusString() const;

    void LoadFromIni(const TIniFile& ini, const QString& section);
    void SaveToIni(TIniFile& ini, const QString& section) const;

    // Settings.
    bool Enabled() const { return FEnabled.load(); }
    void SetEnabled(bool value) { FEnabled.store(value); }
    QString Address() const;
    void SetAddress(const QString& value);
    int Port() const;
    void SetPort(int value);
    QString Name; // main thread only

    // Order data, under the lock.
    double OrderBilled = 0;
    QString OrderXML;
    QString Invoice;

    // The kiosk's program version; zero while none is known.
    TVersion Version() const;
    QString VersionStr() const;
    void SetVersionStr(const QString& value);

    // Thread operations; main thread only.
    TThreadState ThreadState() const;
    bool ThreadTerminating() const;
    void ResumeThread();
    void DestroyThread(bool DoWait);
    std::shared_ptr<TSocketThread> SocketThread() const { return FSocketThread; }

    // Stops the thread for good and ignores its end; the list calls this when the
    // record leaves it.
    void Release();

private:
    friend class TSocketThread;
    TDeviceItem() = default;
    void CreateThread();
    void ThreadTerminate(const std::shared_ptr<TSocketThread>& ended);

    std::shared_ptr<TSocketThread> FSocketThread;
    mutable std::recursive_mutex FCriticalSection;
    std::deque<TKioskCommand> FKioskCommands;
    bool FCommandFlag = false;      // connection thread; reset under the lock
    std::uint32_t FCommandTick = 0; // connection thread; reset under the lock
    bool FKioskAlive = false;
    TVersion FVersion;
    std::atomic<bool> FEnabled{true};
    QString FAddress;
    int FPort = 0;
    bool FReleased = false;      // main thread
    bool FResumePending = false; // main thread: enabled again while the old thread stopped
};

// Scoped lock of a device record.
class TDeviceLock {
public:
    explicit TDeviceLock(TDeviceItem& item)
        : m_item(item) {
        m_item.Lock();
    }
    ~TDeviceLock() { m_item.Unlock(); }
    TDeviceLock(const TDeviceLock&) = delete;
    TDeviceLock& operator=(const TDeviceLock&) = delete;

private:
    TDeviceItem& m_item;
};

// The owning, ordered list of all kiosks. Removing a record stops its thread.
class TDeviceItemList {
public:
    // The most records a configuration file can make.
    static constexpr int kMaxDevices = 10000;

    TDeviceItemList() = default;
    ~TDeviceItemList();
    TDeviceItemList(const TDeviceItemList&) = delete;
    TDeviceItemList& operator=(const TDeviceItemList&) = delete;

    int Count() const { return static_cast<int>(m_items.size()); }
    const std::shared_ptr<TDeviceItem>& GetDeviceItem(int index) const { return m_items.at(index); }
    void SetDeviceItem(int index, std::shared_ptr<TDeviceItem> value);
    const std::shared_ptr<TDeviceItem>& operator[](int index) const { return m_items.at(index); }

    int Add(std::shared_ptr<TDeviceItem> item);
    void Delete(int index);
    bool Remove(const TDeviceItem* item);
    int IndexOf(const TDeviceItem* item) const;
    bool Contains(const TDeviceItem* item) const { return IndexOf(item) >= 0; }
    void Clear();

    void LoadFromIni(const TIniFile& ini, const QString& sectionPrefix);
    void SaveToIni(TIniFile& ini, const QString& sectionPrefix) const;

    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    std::vector<std::shared_ptr<TDeviceItem>> m_items;
};

// The worker that keeps one kiosk connected: connects, checks the version, reads the
// kiosk's lines and, in quiet moments, sends the queued commands and keep-alives;
// reconnects by itself after every failure.
class TSocketThread : public TMegaThread {
public:
    explicit TSocketThread(const std::shared_ptr<TDeviceItem>& aDeviceItem);
    ~TSocketThread() override;

    const char* ClassName() const override { return "TSocketThread"; }
    TThreadState ThreadState() const { return FThreadState.load(); }
    // Closes the connection from another thread and wakes every wait of this thread.
    void Abort() override;

protected:
    void Execute() override;

private:
    template <typename Call> void PostToObserver(Call call);
    void SetThreadState(TThreadState state, bool notify = true);
    void NotifyMainWindow(TThreadState state);
    void AddLog(const QString& text);
    void SendLine(const QByteArray& word);
    QByteArray ReadChunk();
    void ExchangeStep(TDeviceItem& item);
    void ProcessKioskLine(TDeviceItem& item, const QByteArray& line);
    void ProcessDecodedLine(TDeviceItem& item, const QString& line);
    void VersionCheck(TDeviceItem& item, const QString& value);

    std::weak_ptr<TDeviceItem> DeviceItem;
    std::unique_ptr<orvanta::TcpClient> FClientSocket;
    std::atomic<TThreadState> FThreadState{tsSuspended};
    TLineBuffer FInBuffer;
    bool FBreakWork = false;
};

// The millisecond tick of the connection threads, unsigned 32 bit (wraps).
std::uint32_t TickCount();

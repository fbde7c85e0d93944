#pragma once

#include "core/MegaThread.h"
#include "core/VersionUtils.h"
#include "kiosk/KioskObserver.h"
#include "kiosk/KioskProtocol.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
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
// A kiosk whose connections keep ending right after they open (it serves another
// console, or two records point at it) is not hammered: from the third such drop
// within DropWindow the next attempt waits 1 s, then 2 s, 4 s ... up to DropBackoffMax.
// A connection "lasts" once the version was accepted and it stood for ConnectionLasts;
// such a connection forgets the drops. The first reconnect after a drop stays immediate.
inline constexpr int DropWindow = 60000;
inline constexpr int DropsBeforeBackoff = 3;
inline constexpr int DropBackoffFirst = 1000;
inline constexpr int DropBackoffMax = 30000;
inline constexpr int ConnectionLasts = 10000;
} // namespace KioskTiming

// How a kiosk's link has been doing, for the operator. A copy, taken under the record's
// lock; times are UTC.
struct TDeviceHealth {
    QDateTime connectedSince; // when the current connection was made; invalid when none stands
    QDateTime lastLineAt;     // when the kiosk's last line came in; invalid before the first
    int lossesLast24h = 0;    // connections that ended other than by the console, last 24 hours
    QString lastError;        // the text of the last failed attempt or lost connection
};

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
    int Port() const;
    // Main thread. A new address or port ends the current connection (or the wait before
    // the next attempt), and the thread connects to the new place at once; setting the
    // value it already has changes nothing.
    void SetAddress(const QString& value);
    void SetPort(int value);
    // Both at once, so that a move to another address and port makes one new attempt
    // instead of a stray one at the new address with the old port.
    void SetPlace(const QString& address, int port);

    // The link's health figures; any thread.
    TDeviceHealth Health() const;
    // At the start, from the journal of the last run: the times of the connections lost
    // in the last 24 hours and the last error, so that a restart does not forget them.
    // Losses older than 24 hours are left out and the others age out as live ones do; an
    // error the link has met meanwhile is newer and stays.
    void SeedHealth(const QList<QDateTime>& losses, const QString& lastError);
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
    void PlaceChanged();
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
    // Health, under the lock; written by the connection thread.
    QDateTime FConnectedSince;
    QDateTime FLastLineAt;
    std::deque<std::chrono::steady_clock::time_point> FLosses; // within the last 24 hours
    QString FLastError;
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
    // Closes the connection from another thread and wakes every wait of this thread;
    // a stop request that no later wait can swallow.
    void Abort() override;
    void MegaTerminate() override;
    // Any thread: end the current connection, or the wait before the next attempt, and
    // connect again at once (the kiosk's address or port changed).
    void RequestReconnect();

protected:
    void Execute() override;

private:
    bool StopRequested();
    void TakeFreshClient();
    // One connection attempt and, when it stands, the whole connection. Returns how
    // long to wait before the next attempt; never throws.
    int ConnectionAttempt(TDeviceItem& item);
    int Attempt(TDeviceItem& item);
    int ConnectionEnded(TDeviceItem& item, std::chrono::steady_clock::time_point connectedAt,
                        const QString& cause);
    // Waits ms before the next attempt. False when a stop was requested.
    bool RetryWait(int ms);
    QString Where() const;
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
    const void* FDeviceKey; // the record's address, for merging its state notifications
    // Replaced by this thread only, under FWakeMutex, after a reconnect request; read by
    // other threads under that lock.
    std::unique_ptr<orvanta::TcpClient> FClientSocket;
    std::atomic<TThreadState> FThreadState{tsSuspended};
    TLineBuffer FInBuffer;
    bool FBreakWork = false;
    bool FVersionAccepted = false; // this connection
    QString FHost;                 // the place of the current attempt, for the system log
    int FPort = 0;
    QString FLastFailure; // the last failed attempt's text, logged once per change
    std::deque<std::chrono::steady_clock::time_point> FDrops; // connections that did not last

    // Stop and reconnect requests: never reset by a wait, so none is lost between a
    // check and the wait that follows.
    std::mutex FWakeMutex;
    std::condition_variable FWakeCv;
    bool FStopRequested = false;
    bool FReconnectRequested = false;
};

// Points of a connection attempt where a test can step in: make an attempt fail in a
// way no kiosk can, or stop the thread at an exact moment. Production leaves the hook
// empty; it is a plain function pointer so that setting it is one atomic store.
enum class TLinkPoint {
    Attempt,   // a connection attempt begins, before the connection is opened
    RetryWait, // the thread is about to wait before its next attempt
};
using TLinkHook = void (*)(TSocketThread& thread, TLinkPoint point);
void SetLinkTestHook(TLinkHook hook);

// The millisecond tick of the connection threads, unsigned 32 bit (wraps).
std::uint32_t TickCount();

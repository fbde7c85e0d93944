#include "kiosk/ClientThread.h"

#include "common/GlobConst.h"
#include "platform/Error.h"
#include "platform/MainThread.h"
#include "platform/SystemLog.h"
#include "platform/TcpClient.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace {

// Trace lines are handed over for a sink that drops them; a megabyte order document
// need not travel there whole.
constexpr qsizetype kMaxLogLine = 4096;

// One exchange step takes at most this much; a kiosk that never pauses is read on in
// the next step, and the line-length guard gets to look in between.
constexpr int kMaxChunk = 1 << 20;

std::atomic<TLinkHook> g_linkHook{nullptr};

void linkPoint(TSocketThread& thread, TLinkPoint point) {
    if (auto hook = g_linkHook.load())
        hook(thread, point);
}

// A task for the main thread that calls the observer about a record. It holds the record
// weakly: a notification about a record that has left the list by the time it runs is
// dropped, never dereferenced.
template <typename Call>
std::function<void()> ObserverTask(const std::weak_ptr<TDeviceItem>& device, Call call) {
    return [device, call = std::move(call)] {
        auto item = device.lock();
        auto* observer = KioskObserver();
        if (item && observer)
            call(*observer, item);
    };
}

void installDropReporter() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        orvanta::MainThreadDispatcher::instance().setDropReporter([](std::size_t count) {
            if (auto* observer = KioskObserver())
                observer->KioskTraceDropped(count);
        });
    });
}

} // namespace

void SetLinkTestHook(TLinkHook hook) {
    g_linkHook.store(hook);
}

template <typename Call> void TSocketThread::PostToObserver(Call call) {
    orvanta::MainThreadDispatcher::instance().postOrdered(
        FDeviceKey, ObserverTask(DeviceItem, std::move(call)));
}

TSocketThread::TSocketThread(const std::shared_ptr<TDeviceItem>& aDeviceItem)
    : DeviceItem(aDeviceItem)
    , FDeviceKey(aDeviceItem.get())
    , FClientSocket(std::make_unique<orvanta::TcpClient>()) {
    installDropReporter();
}

TSocketThread::~TSocketThread() = default;

void TSocketThread::Abort() {
    {
        std::lock_guard lock(FWakeMutex);
        FStopRequested = true;
        FClientSocket->Interrupt();
    }
    FWakeCv.notify_all();
}

void TSocketThread::MegaTerminate() {
    TMegaThread::MegaTerminate();
    {
        std::lock_guard lock(FWakeMutex);
        FStopRequested = true;
    }
    FWakeCv.notify_all();
}

void TSocketThread::RequestReconnect() {
    {
        std::lock_guard lock(FWakeMutex);
        FReconnectRequested = true;
        FClientSocket->Interrupt();
    }
    FWakeCv.notify_all();
}

bool TSocketThread::StopRequested() {
    std::lock_guard lock(FWakeMutex);
    return FStopRequested || Terminated();
}

void TSocketThread::TakeFreshClient() {
    // An interrupted client stays interrupted; after a reconnect request the next attempt
    // needs a new one. After a stop it stays as it is, so the stop is never undone.
    std::lock_guard lock(FWakeMutex);
    if (!FReconnectRequested)
        return;
    FReconnectRequested = false;
    if (!FStopRequested && FClientSocket->Interrupted())
        FClientSocket = std::make_unique<orvanta::TcpClient>();
}

bool TSocketThread::RetryWait(int ms) {
    linkPoint(*this, TLinkPoint::RetryWait);
    std::unique_lock lock(FWakeMutex);
    // Unlike MegaSleep, nothing here resets a request: a stop that came while the thread
    // was connecting ends this wait at once instead of after its full time.
    FWakeCv.wait_for(lock, std::chrono::milliseconds(ms),
                     [this] { return FStopRequested || Terminated() || FReconnectRequested; });
    return !FStopRequested && !Terminated();
}

QString TSocketThread::Where() const {
    return QStringLiteral("Kiosk %1:%2").arg(FHost).arg(FPort);
}

void TSocketThread::SetThreadState(TThreadState state, bool notify) {
    if (FThreadState.exchange(state) == state)
        return;
    if (notify)
        NotifyMainWindow(state);
}

void TSocketThread::NotifyMainWindow(TThreadState state) {
    // A busy main thread gets the latest state of this kiosk, not every step on the way;
    // but a state other than tsConnected closes an order window, so such a state is never
    // merged into a later tsConnected.
    orvanta::MainThreadDispatcher::instance().postLatest(
        FDeviceKey,
        ObserverTask(DeviceItem,
                     [state](IKioskObserver& observer, const std::shared_ptr<TDeviceItem>& item) {
                         observer.WMKioskState(item, state);
                     }),
        state != tsConnected);
}

void TSocketThread::AddLog(const QString& text) {
    QString line =
        text.size() > kMaxLogLine ? text.left(kMaxLogLine) + QStringLiteral("...") : text;
    orvanta::MainThreadDispatcher::instance().postTrace(ObserverTask(
        DeviceItem, [line = std::move(line)](IKioskObserver& observer,
                                             const std::shared_ptr<TDeviceItem>& item) {
            observer.AddLogLine(item, line);
        }));
}

void TSocketThread::SendLine(const QByteArray& word) {
    const QByteArray bytes = word + "\r\n";
    // A short or timed-out write is not repeated; the line counts as sent.
    FClientSocket->Write(bytes.constData(), static_cast<int>(bytes.size()), KioskTiming::Quiet);
    AddLog(QStringLiteral("Server <--- ") + QString::fromLatin1(word));
}

QByteArray TSocketThread::ReadChunk() {
    QByteArray chunk;
    char buffer[KioskTiming::ReadSize];
    int timeout = KioskTiming::Quiet;
    while (true) {
        const int n = FClientSocket->Read(buffer, KioskTiming::ReadSize, timeout);
        if (n <= 0)
            break;
        // A zero byte ends the data of the read it arrives in.
        const void* zero = std::memchr(buffer, 0, static_cast<std::size_t>(n));
        const int keep = zero ? static_cast<int>(static_cast<const char*>(zero) - buffer) : n;
        chunk.append(buffer, keep);
        if (Terminated())
            throw orvanta::Exception(QStringLiteral("Cancelled"));
        if (n < KioskTiming::ReadSize || chunk.size() >= kMaxChunk)
            break;
        // The rest of a full read is taken only if it is there already: waiting a whole
        // time-out for bytes that may never come would stall every reply by a second.
        timeout = 0;
    }
    return chunk;
}

void TSocketThread::Execute() {
    auto item = DeviceItem.lock();
    if (!item)
        return;

    SetThreadState(tsWaiting);
    AddLog(QStringLiteral("Thread started"));
    while (!item->Enabled() && !StopRequested())
        std::this_thread::sleep_for(std::chrono::milliseconds(KioskTiming::EnabledPoll));
    if (StopRequested())
        return;

    while (!StopRequested() && item->Enabled()) {
        TakeFreshClient();
        const int wait = ConnectionAttempt(*item);
        if (wait > 0 && !RetryWait(wait))
            break;
    }

    AddLog(QStringLiteral("Thread stopped"));
    SetThreadState(tsSuspended);
}

int TSocketThread::ConnectionAttempt(TDeviceItem& item) {
    // One kiosk must never end the console: whatever escapes an attempt (out of memory,
    // a fault in a library) makes it a failed attempt like any other.
    QString text;
    try {
        return Attempt(item);
    } catch (const std::exception& e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("unknown exception");
    }
    try {
        FClientSocket->Close();
        {
            TDeviceLock lock(item);
            item.FConnectedSince = QDateTime();
            item.FLastError = text;
        }
        SetErrorMessage(text);
        SetThreadState(tsError);
        AddLog(QStringLiteral("Error : ") + text);
        orvanta::systemLog(orvanta::LogPriority::Error,
                           Where() + QStringLiteral(": exception in the connection: ") + text);
    } catch (...) {
        // Out of memory even for the report: the retry below is all that is left.
        FThreadState.store(tsError);
    }
    return KioskTiming::ErrorRetry;
}

int TSocketThread::Attempt(TDeviceItem& item) {
    SetThreadState(tsConnecting);
    FClientSocket->Close();
    FHost = item.Address();
    FPort = item.Port();
    FClientSocket->SetHost(FHost);
    FClientSocket->SetPort(FPort);
    linkPoint(*this, TLinkPoint::Attempt);
    try {
        FClientSocket->Open();
    } catch (const orvanta::Exception& e) {
        if (FClientSocket->Interrupted())
            return 0; // a stop or a new address cut it short; the loop decides
        // The figures first: whoever hears of tsError may read them at once.
        {
            TDeviceLock lock(item);
            item.FLastError = e.message();
        }
        SetErrorMessage(e.message());
        SetThreadState(tsError);
        AddLog(QStringLiteral("Error : ") + e.message());
        // A kiosk that is down would fill the log every three seconds: one entry per
        // change of the reason.
        if (e.message() != FLastFailure)
            orvanta::systemLog(orvanta::LogPriority::Warning,
                               Where() + QStringLiteral(": connection failed: ") + e.message());
        FLastFailure = e.message();
        return KioskTiming::ErrorRetry;
    }
    if (!FClientSocket->Connected()) {
        SetThreadState(tsError);
        return KioskTiming::ErrorRetry;
    }

    const auto connectedAt = std::chrono::steady_clock::now();
    FLastFailure.clear();
    {
        TDeviceLock lock(item);
        item.FConnectedSince = QDateTime::currentDateTimeUtc();
    }
    SetThreadState(tsWaitingVersion);
    AddLog(QStringLiteral("Connected, checking version"));
    {
        TDeviceLock lock(item);
        item.FKioskCommands.clear();
        item.FCommandFlag = false;
        item.FCommandTick = 0;
        item.FKioskCommands.push_back(kcGetVersion);
        item.FKioskAlive = false;
        item.FVersion.Zero();
    }
    orvanta::systemLog(orvanta::LogPriority::Info, Where() + QStringLiteral(": connected"));
    FInBuffer.Clear();
    FBreakWork = false;
    FVersionAccepted = false;

    QString cause;
    while (!FBreakWork) {
        // A stop request ends a standing connection at once, quiet or not. Checked
        // without an exception: a thousand threads stopping together would otherwise
        // queue up on the unwinder's lock.
        if (Terminated() || FClientSocket->Interrupted()) {
            cause =
                Terminated() ? QStringLiteral("Cancelled") : QStringLiteral("Connection closed");
            AddLog(QStringLiteral("Error : ") + cause);
            FBreakWork = true;
            break;
        }
        try {
            ExchangeStep(item);
        } catch (const orvanta::Exception& e) {
            cause = e.message();
            AddLog(QStringLiteral("Error : ") + cause);
            FBreakWork = true;
        }
    }
    FClientSocket->Close();
    return ConnectionEnded(item, connectedAt, cause);
}

int TSocketThread::ConnectionEnded(TDeviceItem& item,
                                   std::chrono::steady_clock::time_point connectedAt,
                                   const QString& cause) {
    using namespace std::chrono;
    const auto now = steady_clock::now();
    // Ended by the console itself: a stop, or the kiosk's new address.
    const bool byConsole = FClientSocket->Interrupted() || Terminated();
    const bool refused = FThreadState.load() == tsObsoleteVersion;
    {
        TDeviceLock lock(item);
        item.FConnectedSince = QDateTime();
        if (!byConsole && !refused) {
            item.FLosses.push_back(now);
            while (!item.FLosses.empty() && now - item.FLosses.front() > hours(24))
                item.FLosses.pop_front();
            item.FLastError = cause;
        }
    }
    if (refused)
        return KioskTiming::ObsoleteRetry; // the state stays while it waits
    SetThreadState(tsDisconnected);
    if (byConsole)
        return 0;
    orvanta::systemLog(orvanta::LogPriority::Warning,
                       Where() + QStringLiteral(": connection lost: ") + cause);

    if (FVersionAccepted && now - connectedAt >= milliseconds(KioskTiming::ConnectionLasts)) {
        FDrops.clear();
        return 0;
    }
    FDrops.push_back(now);
    while (now - FDrops.front() > milliseconds(KioskTiming::DropWindow))
        FDrops.pop_front();
    const int drops = static_cast<int>(FDrops.size());
    if (drops < KioskTiming::DropsBeforeBackoff)
        return 0;
    const int doublings = std::min(drops - KioskTiming::DropsBeforeBackoff, 5);
    return std::min(KioskTiming::DropBackoffFirst << doublings, KioskTiming::DropBackoffMax);
}

void TSocketThread::ExchangeStep(TDeviceItem& item) {
    if (!FClientSocket->WaitForData(KioskTiming::Quiet)) {
        if (FClientSocket->Interrupted())
            return; // woken by a stop; the loop ends the connection
        // Quiet step: decide under the lock, write after it, so the main thread never
        // waits on this record's lock while a slow kiosk takes a line.
        QByteArray command;
        bool keepAlive = false;
        {
            TDeviceLock lock(item);
            const bool queueWasEmpty = item.FKioskCommands.empty();
            if (!queueWasEmpty && !item.FCommandFlag) {
                command = KioskCommandWord(item.FKioskCommands.front());
                item.FKioskCommands.pop_front();
                item.FCommandFlag = true;
                item.FCommandTick = TickCount();
            }
            // A keep-alive waits for a step that starts with an empty queue, so a waiting
            // command always goes out first.
            if (queueWasEmpty && item.FKioskAlive) {
                keepAlive = true;
                item.FKioskAlive = false;
            }
            // An unanswered command is given up; the commands behind it keep their order.
            if (item.FCommandFlag && command.isEmpty() &&
                static_cast<std::uint32_t>(TickCount() - item.FCommandTick) >
                    KioskTiming::CommandGiveUp)
                item.FCommandFlag = false;
        }
        if (!command.isEmpty())
            SendLine(command);
        if (keepAlive)
            SendLine(KioskCommandWord(kcKeepAlive));
        return;
    }

    const QByteArray chunk = ReadChunk();
    if (chunk.isEmpty())
        throw orvanta::Exception(QStringLiteral("Disconnected by zero length data"));
    FInBuffer.Append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
    bool gotLine = false;
    while (!FBreakWork) {
        auto line = FInBuffer.ExtractLine();
        if (!line)
            break;
        if (line->isEmpty())
            continue;
        if (!gotLine) {
            gotLine = true;
            TDeviceLock lock(item);
            item.FLastLineAt = QDateTime::currentDateTimeUtc();
        }
        ProcessKioskLine(item, *line);
    }
    if (!FBreakWork && FInBuffer.Overlong())
        throw orvanta::Exception(QStringLiteral("Line too long"));
    item.FCommandFlag = false; // any data from the kiosk answers the outstanding command
}

void TSocketThread::ProcessKioskLine(TDeviceItem& item, const QByteArray& line) {
    const QStringList lines = DecodeKioskLine(line);
    // The trace is cut while it is put together: a line of many megabytes (an order
    // document) is never copied whole just to be shortened afterwards.
    QString trace = QStringLiteral("Server ---> ");
    const qsizetype limit = kMaxLogLine + 1; // one more, so that AddLog marks the cut
    for (qsizetype i = 0; i < lines.size() && trace.size() < limit; ++i) {
        if (i > 0)
            trace += QLatin1Char(' ');
        trace += QStringView(lines[i]).left(limit - trace.size());
    }
    AddLog(trace);
    for (const QString& decoded : lines) {
        if (FBreakWork)
            break;
        ProcessDecodedLine(item, decoded);
    }
}

void TSocketThread::ProcessDecodedLine(TDeviceItem& item, const QString& line) {
    const TKioskLine match = MatchKioskLine(line);
    switch (match.Kind) {
    case TKioskLineKind::Version:
        VersionCheck(item, match.Value);
        break;
    case TKioskLineKind::OrderSum: {
        const double sum = ParseOrderSum(match.Value);
        TDeviceLock lock(item);
        item.OrderBilled = sum;
        break;
    }
    case TKioskLineKind::OrderXml: {
        const QString text = PercentDecode(match.Value); // throws before the field changes
        TDeviceLock lock(item);
        item.OrderXML = text;
        break;
    }
    case TKioskLineKind::Invoice: {
        const QString text = PercentDecode(match.Value);
        TDeviceLock lock(item);
        item.Invoice = text;
        break;
    }
    case TKioskLineKind::PayBlock: {
        PostToObserver([](IKioskObserver& observer, const std::shared_ptr<TDeviceItem>& device) {
            observer.WMKioskPayBlock(device);
        });
        break;
    }
    case TKioskLineKind::PayEnd: {
        {
            TDeviceLock lock(item);
            item.OrderBilled = -1;
            item.Invoice.clear();
        }
        PostToObserver([](IKioskObserver& observer, const std::shared_ptr<TDeviceItem>& device) {
            observer.WMKioskPayEnd(device);
        });
        break;
    }
    case TKioskLineKind::SessionStart:
        SetThreadState(tsWorkingOrder);
        break;
    case TKioskLineKind::SessionStop:
        SetThreadState(tsWorkingIdle);
        break;
    case TKioskLineKind::OrderingFinish:
        SetThreadState(tsOrderingFinished);
        break;
    case TKioskLineKind::Ignored:
        break;
    }
}

void TSocketThread::VersionCheck(TDeviceItem& item, const QString& value) {
    bool accepted = false;
    {
        TDeviceLock lock(item);
        QString rest = value;
        QString word;
        ExtractToken(rest, QStringLiteral(" "), false, word); // the program's name
        item.FVersion.ParseStr(rest);
        accepted = item.FVersion.NewerThan(kMinKioskVersion);
        if (accepted) {
            FVersionAccepted = true;
            AddLog(QStringLiteral("Version OK"));
            SetThreadState(tsConnected);
            item.AddKioskCommand(kcGetWorkState);
        } else {
            AddLog(QStringLiteral("Version is obsolete"));
            SetThreadState(tsObsoleteVersion);
        }
    }
    if (accepted) {
        NotifyMainWindow(FThreadState.load());
    } else {
        FBreakWork = true;
        orvanta::systemLog(orvanta::LogPriority::Warning,
                           Where() + QStringLiteral(": version refused: ") + value.left(80));
    }
}

#include "kiosk/ClientThread.h"

#include "common/GlobConst.h"
#include "platform/Error.h"
#include "platform/MainThread.h"
#include "platform/TcpClient.h"

#include <cstring>
#include <thread>

namespace {

// Trace lines are handed over for a sink that drops them; a megabyte order document
// need not travel there whole.
constexpr qsizetype kMaxLogLine = 4096;

// One exchange step takes at most this much; a kiosk that never pauses is read on in
// the next step, and the line-length guard gets to look in between.
constexpr int kMaxChunk = 1 << 20;

} // namespace

template <typename Call> void TSocketThread::PostToObserver(Call call) {
    // The task holds the record weakly: a notification about a record that has left the
    // list by the time it runs is dropped, never dereferenced.
    std::weak_ptr<TDeviceItem> weak = DeviceItem;
    orvanta::MainThreadDispatcher::instance().post([weak, call = std::move(call)] {
        auto item = weak.lock();
        auto* observer = KioskObserver();
        if (item && observer)
            call(*observer, item);
    });
}

TSocketThread::TSocketThread(const std::shared_ptr<TDeviceItem>& aDeviceItem)
    : DeviceItem(aDeviceItem)
    , FClientSocket(std::make_unique<orvanta::TcpClient>()) {}

TSocketThread::~TSocketThread() = default;

void TSocketThread::Abort() {
    FClientSocket->Interrupt();
}

void TSocketThread::SetThreadState(TThreadState state, bool notify) {
    if (FThreadState.exchange(state) == state)
        return;
    if (notify)
        NotifyMainWindow(state);
}

void TSocketThread::NotifyMainWindow(TThreadState state) {
    PostToObserver([state](IKioskObserver& observer, const std::shared_ptr<TDeviceItem>& item) {
        observer.WMKioskState(item, state);
    });
}

void TSocketThread::AddLog(const QString& text) {
    QString line =
        text.size() > kMaxLogLine ? text.left(kMaxLogLine) + QStringLiteral("...") : text;
    PostToObserver([line = std::move(line)](IKioskObserver& observer,
                                            const std::shared_ptr<TDeviceItem>& item) {
        observer.AddLogLine(item, line);
    });
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
    while (!item->Enabled() && !Terminated())
        std::this_thread::sleep_for(std::chrono::milliseconds(KioskTiming::EnabledPoll));
    if (Terminated())
        return;

    // Abort comes just before the stop request: a connection closed by it ends the loop
    // too, or the thread could start one more attempt and a full retry wait before it
    // sees the request.
    while (!Terminated() && item->Enabled() && !FClientSocket->Interrupted()) {
        SetThreadState(tsConnecting);
        FClientSocket->Close();
        FClientSocket->SetHost(item->Address());
        FClientSocket->SetPort(item->Port());
        try {
            FClientSocket->Open();
        } catch (const orvanta::Exception& e) {
            SetErrorMessage(e.message());
            SetThreadState(tsError);
            AddLog(QStringLiteral("Error : ") + e.message());
            if (!MegaSleep(KioskTiming::ErrorRetry))
                break;
            continue;
        }
        if (!FClientSocket->Connected()) {
            SetThreadState(tsError);
            if (!MegaSleep(KioskTiming::ErrorRetry))
                break;
            continue;
        }

        SetThreadState(tsWaitingVersion);
        AddLog(QStringLiteral("Connected, checking version"));
        {
            TDeviceLock lock(*item);
            item->FKioskCommands.clear();
            item->FCommandFlag = false;
            item->FCommandTick = 0;
            item->FKioskCommands.push_back(kcGetVersion);
            item->FKioskAlive = false;
            item->FVersion.Zero();
        }
        FInBuffer.Clear();
        FBreakWork = false;

        while (!FBreakWork) {
            // A stop request ends a standing connection at once, quiet or not. Checked
            // without an exception: a thousand threads stopping together would otherwise
            // queue up on the unwinder's lock.
            if (Terminated() || FClientSocket->Interrupted()) {
                AddLog(QStringLiteral("Error : ") + (Terminated()
                                                         ? QStringLiteral("Cancelled")
                                                         : QStringLiteral("Connection closed")));
                FBreakWork = true;
                break;
            }
            try {
                ExchangeStep(*item);
            } catch (const orvanta::Exception& e) {
                AddLog(QStringLiteral("Error : ") + e.message());
                FBreakWork = true;
            }
        }

        FClientSocket->Close();
        if (FThreadState.load() == tsObsoleteVersion) {
            if (!MegaSleep(KioskTiming::ObsoleteRetry))
                break;
        } else {
            SetThreadState(tsDisconnected);
        }
    }

    AddLog(QStringLiteral("Thread stopped"));
    SetThreadState(tsSuspended);
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
    while (!FBreakWork) {
        auto line = FInBuffer.ExtractLine();
        if (!line)
            break;
        if (line->isEmpty())
            continue;
        ProcessKioskLine(item, *line);
    }
    if (!FBreakWork && FInBuffer.Overlong())
        throw orvanta::Exception(QStringLiteral("Line too long"));
    item.FCommandFlag = false; // any data from the kiosk answers the outstanding command
}

void TSocketThread::ProcessKioskLine(TDeviceItem& item, const QByteArray& line) {
    const QStringList lines = DecodeKioskLine(line);
    AddLog(QStringLiteral("Server ---> ") + lines.join(QLatin1Char(' ')));
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
            AddLog(QStringLiteral("Version OK"));
            SetThreadState(tsConnected);
            item.AddKioskCommand(kcGetWorkState);
        } else {
            AddLog(QStringLiteral("Version is obsolete"));
            SetThreadState(tsObsoleteVersion);
        }
    }
    if (accepted)
        NotifyMainWindow(FThreadState.load());
    else
        FBreakWork = true;
}

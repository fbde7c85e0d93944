#pragma once

#include <QString>

#include <cstddef>
#include <memory>

class TDeviceItem;
enum TThreadState : int;

// What the kiosk link tells the main thread. Connection threads post these through
// the main-thread dispatcher and never wait for them; each call runs on the main
// thread, in the order the thread posted them. A notification carries the state it
// announces, so a handler sees the same state the thread had at that moment.
class IKioskObserver {
public:
    virtual ~IKioskObserver() = default;

    // Every change of a connection thread's state, and once more after a version was
    // accepted; also when a stopped thread has been replaced by a fresh suspended one.
    virtual void WMKioskState(const std::shared_ptr<TDeviceItem>& device, TThreadState state) = 0;
    // A "PAY_BLOCK" line came in.
    virtual void WMKioskPayBlock(const std::shared_ptr<TDeviceItem>& device) = 0;
    // A "PAY_END" line came in, after the sum and invoice were cleared.
    virtual void WMKioskPayEnd(const std::shared_ptr<TDeviceItem>& device) = 0;
    // The connection threads' trace lines.
    virtual void AddLogLine(const std::shared_ptr<TDeviceItem>& device, const QString& line) = 0;
    // Trace lines dropped because the main thread fell behind (their queue is capped);
    // called once, after the rest of the queue has been handled. By default the count
    // becomes one trace line without a device.
    virtual void KioskTraceDropped(std::size_t count) {
        AddLogLine(nullptr, QStringLiteral("%1 trace lines dropped").arg(count));
    }
};

// The process-wide observer; set and read on the main thread only. Notifications that
// arrive while none is set, or for a device that no longer exists, are dropped.
void SetKioskObserver(IKioskObserver* observer);
IKioskObserver* KioskObserver();

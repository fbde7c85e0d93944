#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <unordered_map>

namespace orvanta {

// The one way worker threads reach the main thread. Workers post tasks and never
// wait for them, so a busy main thread (a modal dialog, a slow receipt printer) never
// holds up a kiosk connection, and no worker can be stuck waiting on the main thread
// while it holds a device lock.
//
// The queue is our own (a std::mutex, visible to ThreadSanitizer); the event loop is
// only told that there is work, through the waker.
//
// The queue stays bounded while the main thread is busy: trace lines beyond
// kMaxPendingTraces are dropped and counted, and a sender's "latest value" tasks (a
// kiosk's state) replace the one still waiting instead of piling up. Everything else
// (payments, the end of a thread) is never dropped or merged.
class MainThreadDispatcher {
public:
    using Task = std::function<void()>;
    static constexpr std::size_t kMaxPendingTraces = 1000;
    // Latest-value tasks are merged only once this many tasks wait: a main thread that
    // keeps up sees every step, one that fell behind only what still matters.
    static constexpr std::size_t kMergeAbove = 64;

    static MainThreadDispatcher& instance();

    // Called from any thread when the queue goes from empty to non-empty.
    void setWaker(std::function<void()> waker);
    // Runs on the main thread at the end of a drain that follows dropped traces, with
    // their number.
    void setDropReporter(std::function<void(std::size_t)> reporter);

    // Queues a task for the main thread. False (and the task is dropped) once closed.
    bool post(Task task);
    // As post, and ends key's run of mergeable tasks: a later postLatest for key never
    // replaces a task queued before this one, so the two keep their order.
    bool postOrdered(const void* key, Task task);
    // A task that only the latest value matters for. While kMergeAbove or more tasks
    // wait, it replaces key's task still waiting behind the last postOrdered of key, unless that
    // one is sticky and this one is not: a sticky task (a change the receiver must see) survives
    // until a later sticky task takes its place, and a non-sticky one then queues after it.
    bool postLatest(const void* key, Task task, bool sticky);
    // A trace line: dropped and counted while kMaxPendingTraces of them wait.
    bool postTrace(Task task);

    // Runs every task queued so far, in order. Main thread only.
    std::size_t drain();

    // Waits up to ms milliseconds for a task, then drains. For loops without Qt.
    std::size_t waitAndDrain(int ms);

    // Refuses further tasks and drops pending ones; used at program exit.
    void close();
    bool closed() const;
    std::size_t pending() const;

private:
    MainThreadDispatcher() = default;

    struct Entry {
        Task task;
        bool sticky = false;
    };
    bool push(Entry entry); // under m_mutex; true when the waker must be called

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Entry> m_tasks;
    std::uint64_t m_frontSeq = 0;                            // sequence number of m_tasks.front()
    std::unordered_map<const void*, std::uint64_t> m_latest; // key -> its mergeable task
    std::size_t m_pendingTraces = 0;
    std::size_t m_droppedTraces = 0;
    std::function<void()> m_waker;
    std::function<void(std::size_t)> m_dropReporter;
    bool m_closed = false;
    bool m_wakePending = false;
};

// Connects the dispatcher to the running Qt event loop of QCoreApplication.
void installQtDispatcherWaker();

} // namespace orvanta

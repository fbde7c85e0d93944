#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace orvanta {

// The one way worker threads reach the main thread. Workers post tasks and never
// wait for them, so a busy main thread (a modal dialog, a slow receipt printer) never
// holds up a kiosk connection, and no worker can be stuck waiting on the main thread
// while it holds a device lock.
//
// The queue is our own (a std::mutex, visible to ThreadSanitizer); the event loop is
// only told that there is work, through the waker.
class MainThreadDispatcher {
public:
    using Task = std::function<void()>;

    static MainThreadDispatcher& instance();

    // Called from any thread when the queue goes from empty to non-empty.
    void setWaker(std::function<void()> waker);

    // Queues a task for the main thread. False (and the task is dropped) once closed.
    bool post(Task task);

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

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Task> m_tasks;
    std::function<void()> m_waker;
    bool m_closed = false;
    bool m_wakePending = false;
};

// Connects the dispatcher to the running Qt event loop of QCoreApplication.
void installQtDispatcherWaker();

} // namespace orvanta

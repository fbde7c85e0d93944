#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <utility>

namespace orvanta {

MainThreadDispatcher& MainThreadDispatcher::instance() {
    // Never destroyed: a worker that ends during static destruction may still post.
    static auto* dispatcher = new MainThreadDispatcher;
    return *dispatcher;
}

void MainThreadDispatcher::setWaker(std::function<void()> waker) {
    std::lock_guard lock(m_mutex);
    m_waker = std::move(waker);
}

void MainThreadDispatcher::setDropReporter(std::function<void(std::size_t)> reporter) {
    std::lock_guard lock(m_mutex);
    m_dropReporter = std::move(reporter);
}

bool MainThreadDispatcher::push(Entry entry) {
    m_tasks.push_back(std::move(entry));
    if (m_wakePending)
        return false;
    m_wakePending = true;
    return true;
}

bool MainThreadDispatcher::post(Task task) {
    std::function<void()> wake;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        if (push({std::move(task)}))
            wake = m_waker;
    }
    m_cv.notify_all();
    if (wake)
        wake();
    return true;
}

bool MainThreadDispatcher::postOrdered(const void* key, Task task) {
    std::function<void()> wake;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        m_latest.erase(key);
        if (push({std::move(task)}))
            wake = m_waker;
    }
    m_cv.notify_all();
    if (wake)
        wake();
    return true;
}

bool MainThreadDispatcher::postLatest(const void* key, Task task, bool sticky) {
    std::function<void()> wake;
    Task replaced; // freed outside the lock: its captures may hold the last reference
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        const auto it = m_latest.find(key);
        if (it != m_latest.end() && m_tasks.size() >= kMergeAbove) {
            Entry& waiting = m_tasks[static_cast<std::size_t>(it->second - m_frontSeq)];
            if (!waiting.sticky || sticky) {
                replaced = std::exchange(waiting.task, std::move(task));
                waiting.sticky = sticky;
                return true;
            }
        }
        m_latest[key] = m_frontSeq + m_tasks.size();
        if (push({std::move(task), sticky}))
            wake = m_waker;
    }
    m_cv.notify_all();
    if (wake)
        wake();
    return true;
}

bool MainThreadDispatcher::postTrace(Task task) {
    std::function<void()> wake;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        if (m_pendingTraces >= kMaxPendingTraces) {
            ++m_droppedTraces;
            return false;
        }
        ++m_pendingTraces;
        if (push({std::move(task)}))
            wake = m_waker;
    }
    m_cv.notify_all();
    if (wake)
        wake();
    return true;
}

std::size_t MainThreadDispatcher::drain() {
    std::deque<Entry> batch;
    std::size_t dropped = 0;
    std::function<void(std::size_t)> reporter;
    {
        std::lock_guard lock(m_mutex);
        batch.swap(m_tasks);
        m_frontSeq += batch.size();
        m_latest.clear();
        m_pendingTraces = 0;
        dropped = std::exchange(m_droppedTraces, 0);
        if (dropped > 0)
            reporter = m_dropReporter;
        m_wakePending = false;
    }
    for (auto& entry : batch)
        entry.task();
    if (reporter)
        reporter(dropped);
    return batch.size();
}

std::size_t MainThreadDispatcher::waitAndDrain(int ms) {
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !m_tasks.empty(); });
    }
    return drain();
}

void MainThreadDispatcher::close() {
    std::deque<Entry> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        dropped.swap(m_tasks);
        m_frontSeq += dropped.size();
        m_latest.clear();
        m_pendingTraces = 0;
        m_droppedTraces = 0;
        m_wakePending = false;
    }
    m_cv.notify_all();
    // Dropped outside the lock: a task's captures may release the last reference to a
    // thread or device object.
}

bool MainThreadDispatcher::closed() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

std::size_t MainThreadDispatcher::pending() const {
    std::lock_guard lock(m_mutex);
    return m_tasks.size();
}

void installQtDispatcherWaker() {
    // An eventfd watched by the event loop carries the wake-up: nothing is allocated on a
    // worker and freed on the main thread, and ThreadSanitizer sees the hand-over.
    static int wakeFd = -1;
    static QSocketNotifier* notifier = nullptr;
    if (wakeFd < 0)
        wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (!notifier && QCoreApplication::instance()) {
        notifier = new QSocketNotifier(wakeFd, QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, [] {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wakeFd, &count, sizeof count);
            MainThreadDispatcher::instance().drain();
        });
        QObject::connect(QCoreApplication::instance(), &QObject::destroyed,
                         [] { notifier = nullptr; });
    }
    MainThreadDispatcher::instance().setWaker([] {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
    });
    // Anything posted before the loop was connected.
    if (MainThreadDispatcher::instance().pending() > 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
    }
}

} // namespace orvanta

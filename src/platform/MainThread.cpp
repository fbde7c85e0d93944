#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

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

bool MainThreadDispatcher::post(Task task) {
    std::function<void()> wake;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        m_tasks.push_back(std::move(task));
        if (!m_wakePending) {
            m_wakePending = true;
            wake = m_waker;
        }
    }
    m_cv.notify_all();
    if (wake)
        wake();
    return true;
}

std::size_t MainThreadDispatcher::drain() {
    std::deque<Task> batch;
    {
        std::lock_guard lock(m_mutex);
        batch.swap(m_tasks);
        m_wakePending = false;
    }
    for (auto& task : batch)
        task();
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
    std::deque<Task> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        dropped.swap(m_tasks);
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

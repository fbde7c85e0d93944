#include "core/MegaThread.h"

#include "platform/MainThread.h"

#include <chrono>
#include <thread>

namespace {

std::atomic<std::uint64_t> g_nextThreadId{1};

// Counts running thread bodies; never destroyed, so a thread that ends during
// program exit still finds it.
struct LiveCounter {
    std::mutex mutex;
    std::condition_variable cv;
    int count = 0;
};

LiveCounter& liveCounter() {
    static auto* counter = new LiveCounter;
    return *counter;
}

} // namespace

void TEvent::Set() {
    {
        std::lock_guard lock(m_mutex);
        m_set = true;
    }
    m_cv.notify_all();
}

void TEvent::Reset() {
    std::lock_guard lock(m_mutex);
    m_set = false;
}

bool TEvent::WaitFor(int ms) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms),
                         [this] { return m_set; });
}

TMegaThread::TMegaThread()
    : m_threadId(g_nextThreadId.fetch_add(1)) {
    m_terminateEvent.Reset();
}

TMegaThread::~TMegaThread() = default;

QString TMegaThread::TerminateEventName() const {
    return QString::fromLatin1(ClassName()) + QString::number(m_threadId) +
           QStringLiteral("_TerminateEvent");
}

void TMegaThread::Resume() {
    bool expected = false;
    if (!m_started.compare_exchange_strong(expected, true))
        return;
    {
        auto& counter = liveCounter();
        std::lock_guard lock(counter.mutex);
        ++counter.count;
    }
    std::thread(&TMegaThread::Run, shared_from_this()).detach();
}

void TMegaThread::Run(std::shared_ptr<TMegaThread> self) {
    self->Execute();
    {
        std::lock_guard lock(self->m_stateMutex);
        self->m_finished.store(true);
    }
    self->m_finishedCv.notify_all();
    if (self->OnTerminate) {
        // The task keeps the object alive until the handler has run on the main thread.
        orvanta::MainThreadDispatcher::instance().post([self] {
            if (self->OnTerminate)
                self->OnTerminate();
        });
    }
    self.reset();
    auto& counter = liveCounter();
    {
        std::lock_guard lock(counter.mutex);
        --counter.count;
    }
    counter.cv.notify_all();
}

void TMegaThread::MegaTerminate() {
    Terminate();
    m_terminateEvent.Set();
}

bool TMegaThread::MegaSleep(int ms) {
    m_terminateEvent.Reset();
    return !m_terminateEvent.WaitFor(ms);
}

QString TMegaThread::ErrorMessage() const {
    std::lock_guard lock(m_stateMutex);
    return m_errorMessage;
}

void TMegaThread::SetErrorMessage(const QString& text) {
    std::lock_guard lock(m_stateMutex);
    m_errorMessage = text;
}

bool TMegaThread::WaitForFinish(int ms) {
    if (!m_started.load())
        return true;
    std::unique_lock lock(m_stateMutex);
    return m_finishedCv.wait_for(lock, std::chrono::milliseconds(ms),
                                 [this] { return m_finished.load(); });
}

int TMegaThread::LiveThreads() {
    auto& counter = liveCounter();
    std::lock_guard lock(counter.mutex);
    return counter.count;
}

bool TMegaThread::WaitForAllThreads(int ms) {
    auto& counter = liveCounter();
    std::unique_lock lock(counter.mutex);
    return counter.cv.wait_for(lock, std::chrono::milliseconds(ms),
                               [&] { return counter.count == 0; });
}

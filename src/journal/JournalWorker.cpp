#include "journal/JournalWorker.h"

#include "platform/MainThread.h"

JournalWorker::JournalWorker(FailureHandler onFailure)
    : m_onFailure(std::move(onFailure))
    , m_alive(std::make_shared<bool>(true)) {}

JournalWorker::~JournalWorker() {
    // The part's destructor stopped it already; this only keeps a thread from running
    // on past its object if one ever did not.
    stop();
}

void JournalWorker::start(std::function<void()> body) {
    m_thread = std::thread(std::move(body));
}

void JournalWorker::stop() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
    *m_alive = false;
}

void JournalWorker::report(const QString& text) const {
    if (!m_onFailure)
        return;
    orvanta::MainThreadDispatcher::instance().post([alive = m_alive, handler = m_onFailure, text] {
        if (*alive)
            handler(text);
    });
}

#pragma once

#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// The thread of a part of the journal that works on its own: the writer of the file, the
// forwarder to a shared server. The part starts it once it is whole and stops it before
// anything of the part goes; what goes wrong on the thread is told on the main thread,
// through the handler given at construction, and never after the part is gone.
//
// The handler is given with the part, not set later: the thread may fail at its very
// first try, and a handler set after that would never hear of it.
class JournalWorker {
public:
    using FailureHandler = std::function<void(const QString&)>;

    JournalWorker(const JournalWorker&) = delete;
    JournalWorker& operator=(const JournalWorker&) = delete;

protected:
    explicit JournalWorker(FailureHandler onFailure);
    ~JournalWorker();

    // The last line of the part's constructor: body runs on the thread until it sees
    // m_stop.
    void start(std::function<void()> body);
    // The first line of the part's destructor: sets m_stop, wakes the thread and waits
    // for it. Once it returns no report of the thread reaches the handler.
    void stop();
    // From the thread: the text for the status bar, on the main thread.
    void report(const QString& text) const;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake; // the thread: work, or the end
    bool m_stop = false;            // under m_mutex

private:
    const FailureHandler m_onFailure;
    std::shared_ptr<bool> m_alive; // main thread only: the part still exists
    std::thread m_thread;
};

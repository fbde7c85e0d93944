#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

// A manual-reset event with a timed wait.
class TEvent {
public:
    void Set();
    void Reset();
    // True when the event was set within ms milliseconds.
    bool WaitFor(int ms);

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_set = false;
};

// Base of the worker threads: created suspended, started by Resume, asked to stop by
// MegaTerminate, which also cuts a MegaSleep short.
//
// Objects are shared: the running thread keeps its own object alive until its
// OnTerminate has run on the main thread, so nothing frees a thread under its feet.
// Threads are detached; LiveThreads and WaitForAllThreads tell when all have ended.
class TMegaThread : public std::enable_shared_from_this<TMegaThread> {
public:
    // Only suspended creation: a thread started from the constructor would run before
    // the descendant's part of the object exists.
    TMegaThread();
    virtual ~TMegaThread();

    TMegaThread(const TMegaThread&) = delete;
    TMegaThread& operator=(const TMegaThread&) = delete;

    void Resume();
    bool Suspended() const { return !m_started.load(); }
    bool Finished() const { return m_finished.load(); }

    void Terminate() { m_terminated.store(true); }
    bool Terminated() const { return m_terminated.load(); }

    virtual void Abort() {}
    // Terminate, then set the event. Returns at once.
    virtual void MegaTerminate();
    // Resets the event, then waits up to ms for it. True when the time ran out.
    virtual bool MegaSleep(int ms);

    // Runs on the main thread (through the dispatcher) after Execute has returned.
    std::function<void()> OnTerminate;

    std::uint64_t ThreadID() const { return m_threadId; }
    QString TerminateEventName() const;
    virtual const char* ClassName() const { return "TMegaThread"; }

    QString ErrorMessage() const;

    // Waits up to ms for Execute to have returned. True when it has (or never started).
    bool WaitForFinish(int ms);

    static int LiveThreads();
    static bool WaitForAllThreads(int ms);

protected:
    virtual void Execute() = 0;
    void SetErrorMessage(const QString& text);

private:
    static void Run(std::shared_ptr<TMegaThread> self);

    std::atomic<bool> m_started{false};
    std::atomic<bool> m_terminated{false};
    std::atomic<bool> m_finished{false};
    TEvent m_terminateEvent;
    std::uint64_t m_threadId;

    mutable std::mutex m_stateMutex;
    std::condition_variable m_finishedCv;
    QString m_errorMessage;
};

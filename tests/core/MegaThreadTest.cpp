// The worker base: a stop request cuts a sleep short, but only one that arrives during it.
#include "core/MegaThread.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using namespace std::chrono;

namespace {

class SleepingThread : public TMegaThread {
public:
    explicit SleepingThread(int ms, int busyMs = 0)
        : m_ms(ms)
        , m_busyMs(busyMs) {}
    std::atomic<int> result{-1};
    std::atomic<long long> sleptMs{0};
    std::atomic<bool> busy{false};
    std::atomic<bool> terminatedAfter{false};

protected:
    void Execute() override {
        if (m_busyMs > 0) {
            busy = true;
            const auto until = steady_clock::now() + milliseconds(m_busyMs);
            while (steady_clock::now() < until)
                std::this_thread::yield();
        }
        const auto t0 = steady_clock::now();
        result = MegaSleep(m_ms) ? 1 : 0;
        sleptMs = duration_cast<milliseconds>(steady_clock::now() - t0).count();
        terminatedAfter = Terminated();
    }

private:
    int m_ms;
    int m_busyMs;
};

TEST(MegaThread, TerminateDuringASleepEndsItAtOnce) {
    auto t = std::make_shared<SleepingThread>(5000);
    t->Resume();
    std::this_thread::sleep_for(milliseconds(200));
    t->MegaTerminate();
    ASSERT_TRUE(t->WaitForFinish(2000));
    EXPECT_EQ(t->result, 0);
    EXPECT_LT(t->sleptMs, 1000);
}

TEST(MegaThread, SleepWithoutARequestRunsItsFullTime) {
    auto t = std::make_shared<SleepingThread>(3000);
    t->Resume();
    ASSERT_TRUE(t->WaitForFinish(6000));
    EXPECT_EQ(t->result, 1);
    EXPECT_GE(t->sleptMs, 2990);
}

TEST(MegaThread, RequestBeforeTheSleepDoesNotShortenIt) {
    auto t = std::make_shared<SleepingThread>(5000, 300);
    t->Resume();
    while (!t->busy)
        std::this_thread::yield();
    t->MegaTerminate(); // while the worker is busy, not sleeping
    ASSERT_TRUE(t->WaitForFinish(8000));
    EXPECT_EQ(t->result, 1);
    EXPECT_GE(t->sleptMs, 4990);
    EXPECT_TRUE(t->terminatedAfter);
}

TEST(MegaThread, OnTerminateRunsOnTheMainThreadAndNamesTheEvent) {
    auto t = std::make_shared<SleepingThread>(0);
    EXPECT_TRUE(t->Suspended());
    EXPECT_EQ(t->TerminateEventName(),
              QStringLiteral("TMegaThread%1_TerminateEvent").arg(t->ThreadID()));
    std::atomic<bool> ran{false};
    const auto mainThread = std::this_thread::get_id();
    bool onMain = false;
    t->OnTerminate = [&] {
        ran = true;
        onMain = std::this_thread::get_id() == mainThread;
    };
    t->Resume();
    EXPECT_FALSE(t->Suspended());
    ASSERT_TRUE(testutil::waitUntil([&] { return ran.load(); }, 3000));
    EXPECT_TRUE(onMain);
    EXPECT_TRUE(TMegaThread::WaitForAllThreads(2000));
}

} // namespace

// The main-thread queue while the main thread does not drain it: what is kept, what is
// merged, what is dropped and counted.
#include "platform/MainThread.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using orvanta::MainThreadDispatcher;

class Dispatcher : public ::testing::Test {
protected:
    void SetUp() override {
        d.drain();
        d.setDropReporter([this](std::size_t n) { dropReports.push_back(n); });
    }
    void TearDown() override {
        d.drain();
        d.setDropReporter({});
    }

    // Fills the queue up to the merge threshold with tasks that are never merged.
    void fillToMergeThreshold() {
        while (d.pending() < MainThreadDispatcher::kMergeAbove)
            d.post([this] { ran.push_back("filler"); });
    }
    std::vector<std::string> ranWithoutFillers() const {
        std::vector<std::string> out;
        for (const auto& r : ran)
            if (r != "filler")
                out.push_back(r);
        return out;
    }
    auto record(std::string what) {
        return [this, what] { ran.push_back(what); };
    }

    MainThreadDispatcher& d = MainThreadDispatcher::instance();
    std::vector<std::string> ran;
    std::vector<std::size_t> dropReports;
    const int keyA = 0, keyB = 0;
};

TEST_F(Dispatcher, TracesBeyondTheCapAreDroppedAndTheirCountReportedOnceAfterTheDrain) {
    const std::size_t extra = 250;
    for (std::size_t i = 0; i < MainThreadDispatcher::kMaxPendingTraces + extra; ++i)
        d.postTrace(record("trace"));
    d.post(record("payment")); // never dropped, also past the cap
    EXPECT_EQ(d.pending(), MainThreadDispatcher::kMaxPendingTraces + 1);
    d.drain();
    EXPECT_EQ(ran.size(), MainThreadDispatcher::kMaxPendingTraces + 1);
    EXPECT_EQ(ran.back(), "payment");
    EXPECT_EQ(dropReports, std::vector<std::size_t>{extra});
    // After the drain the cap starts afresh and nothing more is reported.
    d.postTrace(record("trace"));
    d.drain();
    EXPECT_EQ(dropReports.size(), 1u);
    EXPECT_EQ(ran.size(), MainThreadDispatcher::kMaxPendingTraces + 2);
}

TEST_F(Dispatcher, LatestValuesMergeOnlyWhileTheQueueIsLong) {
    d.postLatest(&keyA, record("a1"), true);
    d.postLatest(&keyA, record("a2"), true);
    d.drain();
    EXPECT_EQ(ranWithoutFillers(), (std::vector<std::string>{"a1", "a2"}));
}

// sticky stands for "the receiver must see it" (a kiosk state that closes an order
// window); a later non-sticky value never takes its place.
TEST_F(Dispatcher, MergingKeepsStickyValuesOrderAndOtherKeys) {
    struct Post {
        const int* key;
        std::string name;
        bool sticky;
        bool ordered; // postOrdered (a payment) instead of postLatest
    };
    struct Case {
        const char* title;
        std::vector<Post> posts;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"latest of a run wins",
         {{&keyA, "a1", false, false}, {&keyA, "a2", false, false}, {&keyA, "a3", true, false}},
         {"a3"}},
        {"a sticky value survives a later non-sticky one",
         {{&keyA, "lost", true, false}, {&keyA, "connected", false, false}},
         {"lost", "connected"}},
        {"and a later sticky one replaces it, then merges on",
         {{&keyA, "lost", true, false},
          {&keyA, "connected", false, false},
          {&keyA, "connected2", false, false},
          {&keyA, "lost2", true, false}},
         {"lost", "lost2"}},
        {"nothing merges across an ordered task of the key",
         {{&keyA, "before", false, false},
          {&keyA, "payblock", false, true},
          {&keyA, "after", false, false},
          {&keyA, "after2", false, false}},
         {"before", "payblock", "after2"}},
        {"keys merge apart",
         {{&keyA, "a1", false, false}, {&keyB, "b1", false, false}, {&keyA, "a2", false, false}},
         {"a2", "b1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        ran.clear();
        fillToMergeThreshold();
        for (const auto& p : c.posts) {
            if (p.ordered)
                d.postOrdered(p.key, record(p.name));
            else
                d.postLatest(p.key, record(p.name), p.sticky);
        }
        d.drain();
        EXPECT_EQ(ranWithoutFillers(), c.expected);
    }
}

} // namespace

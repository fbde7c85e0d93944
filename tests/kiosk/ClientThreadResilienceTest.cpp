// The connection thread when things go wrong around it: exceptions inside an attempt,
// kiosks that hang up at once, a kiosk that moved, a main thread that does not drain.
#include "FakeKioskSupport.h"
#include "LinkRecorderSupport.h"
#include "TestUtil.h"

#include "kiosk/ClientThread.h"
#include "platform/MainThread.h"
#include "platform/SystemLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <new>
#include <stdexcept>
#include <thread>

using namespace std::chrono;
using testutil::waitUntil;

namespace {

class Resilience : public ::testing::Test {
protected:
    void TearDown() override {
        SetLinkTestHook(nullptr);
        for (auto& device : devices)
            releaseAndWait(*device);
    }

    std::shared_ptr<TDeviceItem> start(int port) {
        auto device = makeDevice(port);
        devices.push_back(device);
        device->ResumeThread();
        return device;
    }

    LinkRecorder rec;
    std::vector<std::shared_ptr<TDeviceItem>> devices;
};

// What the hook throws at the first attempt of a thread.
std::atomic<int> g_throwKind{0};
std::atomic<int> g_attempts{0};

TEST_F(Resilience, AnyExceptionInAnAttemptIsAConnectionErrorAndTheThreadRetries) {
    struct Case {
        int kind;
        QString logged;
    };
    const Case cases[] = {{1, QStringLiteral("Error : std::bad_alloc")},
                          {2, QStringLiteral("Error : boom in the attempt")},
                          {3, QStringLiteral("Error : unknown exception")}};
    FakeKiosk kiosk;
    kiosk.autoVersion(kGoodVersion);
    SetLinkTestHook([](TSocketThread&, TLinkPoint point) {
        if (point != TLinkPoint::Attempt || g_attempts.fetch_add(1) != 0)
            return;
        switch (g_throwKind.load()) {
        case 1:
            throw std::bad_alloc();
        case 2:
            throw std::runtime_error("boom in the attempt");
        default:
            throw 42;
        }
    });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged.toStdString());
        g_throwKind = c.kind;
        g_attempts = 0;
        rec.states.clear();
        rec.logs.clear();
        const int before = kiosk.connections();
        auto device = start(kiosk.port());
        ASSERT_TRUE(rec.waitForState(tsError, 3000));
        EXPECT_TRUE(rec.waitForLog(c.logged, 1000));
        EXPECT_EQ(device->SocketThread()->ErrorMessage(), c.logged.mid(8));
        // The usual retry follows, and this time the kiosk is reached.
        ASSERT_TRUE(kiosk.waitForConnections(before + 1, 5000));
        EXPECT_TRUE(rec.waitForState(tsConnected, 3000));
        device->Release();
        waitUntil([&] { return device->SocketThread()->Finished(); }, 2000);
    }
}

// A kiosk that takes every connection and closes it at once (it serves another console):
// the thread backs off instead of reconnecting as fast as the machine allows.
TEST_F(Resilience, KioskThatHangsUpAtOnceIsRetriedWithGrowingPauses) {
    ClosingPeer peer;
    auto device = start(peer.port());
    testutil::pump(8000);
    const auto times = peer.connectTimes();
    // Nominal: three at once, then after 1, 2 and 4 seconds (about 0, 0, 0, 1, 3, 7 s).
    ASSERT_GE(times.size(), 4u);
    EXPECT_LE(times.size(), 9u);
    EXPECT_LT(msBetween(times[0], times[1]), 1000); // the first reconnect stays immediate
    if (times.size() >= 6) {
        EXPECT_GE(msBetween(times[4], times[5]), 3000);
    }
    EXPECT_TRUE(rec.sawState(tsDisconnected));

    // A stop during a pause ends it at once.
    testutil::pump(300);
    const auto t0 = steady_clock::now();
    ASSERT_TRUE(stopAndWait(*device, 5000));
    EXPECT_LT(msBetween(t0, steady_clock::now()), 1500);
}

// Drops that lie behind a connection which lasted (version accepted, ten seconds up)
// no longer count: the next hang-up is answered at once again.
TEST_F(Resilience, ConnectionThatLastsForgetsEarlierDrops) {
    FakeKiosk kiosk;
    kiosk.autoVersion(kGoodVersion);
    start(kiosk.port());
    steady_clock::time_point droppedAt;
    for (int n = 1; n <= 3; ++n) {
        ASSERT_TRUE(kiosk.waitForConnections(n, 5000));
        ASSERT_TRUE(kiosk.waitForLine("GET_VERSION", 3000, n));
        testutil::pump(100);
        droppedAt = steady_clock::now();
        kiosk.drop();
    }
    // The third quick drop: the next attempt waits a second.
    ASSERT_TRUE(kiosk.waitForConnections(4, 4000));
    EXPECT_GE(msBetween(droppedAt, kiosk.lastConnectAt()), 800);
    ASSERT_TRUE(rec.waitForState(tsConnected, 3000));
    testutil::pump(KioskTiming::ConnectionLasts + 500);
    droppedAt = steady_clock::now();
    kiosk.drop();
    ASSERT_TRUE(kiosk.waitForConnections(5, 4000));
    EXPECT_LT(msBetween(droppedAt, kiosk.lastConnectAt()), 800); // not the 2 s of a fourth drop
}

// The operator moved the kiosk to another port: the console follows at once.
TEST_F(Resilience, ChangedPortMovesTheConnectionAtOnce) {
    FakeKiosk oldPlace, newPlace;
    oldPlace.autoVersion(kGoodVersion);
    newPlace.autoVersion(kGoodVersion);
    auto device = start(oldPlace.port());
    ASSERT_TRUE(rec.waitForState(tsConnected, 5000));
    ASSERT_TRUE(oldPlace.clientConnected());

    const auto t0 = steady_clock::now();
    device->SetPort(newPlace.port());
    ASSERT_TRUE(newPlace.waitForConnections(1, 2500));
    EXPECT_LT(msBetween(t0, newPlace.lastConnectAt()), 2000);
    EXPECT_TRUE(oldPlace.waitForDisconnect(1000));
    EXPECT_TRUE(waitUntil(
        [&] { return device->ThreadState() == tsConnected && rec.stateCount(tsConnected) >= 3; },
        3000));
    EXPECT_EQ(oldPlace.connections(), 1);
    // Setting the same port again is no change and keeps the connection.
    device->SetPort(newPlace.port());
    testutil::pump(500);
    EXPECT_EQ(newPlace.connections(), 1);
    EXPECT_TRUE(newPlace.clientConnected());

    // Address and port together: back to the first kiosk, by one attempt.
    const int statesBefore = rec.stateCount(tsConnecting);
    device->SetPlace(QStringLiteral("localhost"), oldPlace.port());
    ASSERT_TRUE(oldPlace.waitForConnections(2, 2500));
    EXPECT_TRUE(newPlace.waitForDisconnect(1000));
    EXPECT_TRUE(waitUntil([&] { return device->ThreadState() == tsConnected; }, 3000));
    EXPECT_EQ(rec.stateCount(tsConnecting), statesBefore + 1);
    EXPECT_FALSE(rec.sawState(tsError));
}

// Every notification per device in the order the main thread got it, and the dropped
// trace counts.
class OrderedRecorder : public LinkRecorder {
public:
    void WMKioskState(const std::shared_ptr<TDeviceItem>& device, TThreadState state) override {
        LinkRecorder::WMKioskState(device, state);
        events[device.get()].push_back(QString::number(state));
    }
    void WMKioskPayBlock(const std::shared_ptr<TDeviceItem>& device) override {
        LinkRecorder::WMKioskPayBlock(device);
        events[device.get()].push_back(QStringLiteral("block"));
    }
    void WMKioskPayEnd(const std::shared_ptr<TDeviceItem>& device) override {
        LinkRecorder::WMKioskPayEnd(device);
        events[device.get()].push_back(QStringLiteral("end"));
    }
    void KioskTraceDropped(std::size_t count) override { dropped.push_back(count); }

    int countOf(TDeviceItem* device, const QString& what) const {
        const auto it = events.find(device);
        return it == events.end()
                   ? 0
                   : static_cast<int>(std::count(it->second.begin(), it->second.end(), what));
    }
    std::map<TDeviceItem*, QStringList> events;
    std::vector<std::size_t> dropped;
};

// The operator sits in a modal box while kiosks flood the link: the queue to the main
// thread stays bounded, yet every payment arrives, a lost connection after a payment is
// still seen, and each kiosk's last state is right.
TEST(MainThreadBusy, QueueStaysBoundedAndKeepsWhatMatters) {
    constexpr int kKiosks = 4;
    constexpr int kPayments = 4; // of each kind per kiosk
    OrderedRecorder rec;
    std::vector<std::unique_ptr<FakeKiosk>> kiosks;
    std::vector<std::shared_ptr<TDeviceItem>> devices;
    for (int i = 0; i < kKiosks; ++i) {
        kiosks.push_back(std::make_unique<FakeKiosk>());
        kiosks[i]->autoVersion(kGoodVersion);
        devices.push_back(makeDevice(kiosks[i]->port()));
        devices[i]->ResumeThread();
    }
    for (int i = 0; i < kKiosks; ++i)
        ASSERT_TRUE(kiosks[i]->waitForLine("GET_WORK_STATE", 6000));
    testutil::pump(200);

    // From here the main thread drains nothing until the box closes.
    auto& dispatcher = orvanta::MainThreadDispatcher::instance();
    std::size_t most = 0;
    const auto watch = [&](int ms) {
        const auto until = steady_clock::now() + milliseconds(ms);
        while (steady_clock::now() < until) {
            most = std::max(most, dispatcher.pending());
            std::this_thread::sleep_for(milliseconds(20));
        }
    };
    for (int i = 0; i < kKiosks; ++i) {
        QByteArray flood;
        for (int p = 0; p < kPayments; ++p) {
            for (int n = 0; n < 400; ++n)
                flood += n % 2 ? "SESSION_STOP\r\n" : "SESSION_START\r\n";
            flood += "PAY_BLOCK\r\nPAY_END\r\n";
        }
        // Kiosk 0 ends on an open payment; the others on an idle kiosk.
        flood += i == 0 ? "PAY_BLOCK\r\n" : "SESSION_STOP\r\n";
        kiosks[i]->send(flood);
    }
    watch(1500);
    // Kiosk 0 hangs up and takes the console back at once: its order window must close
    // although the link is connected again by the time the main thread looks.
    kiosks[0]->drop();
    ASSERT_TRUE(kiosks[0]->waitForConnections(2, 3000));
    ASSERT_TRUE(kiosks[0]->waitForLine("GET_VERSION", 3000, 2));
    watch(800);

    using orvanta::MainThreadDispatcher;
    const std::size_t bound = MainThreadDispatcher::kMaxPendingTraces +
                              MainThreadDispatcher::kMergeAbove +
                              static_cast<std::size_t>(kKiosks * (2 * kPayments + 1) * 3) + 50;
    EXPECT_LE(most, bound);
    EXPECT_GT(most, MainThreadDispatcher::kMaxPendingTraces / 2); // it did fill up

    ASSERT_TRUE(waitUntil(
        [&] {
            return devices[0]->ThreadState() == tsConnected &&
                   rec.countOf(devices[0].get(), QString::number(tsConnected)) >= 2;
        },
        5000));
    testutil::pump(300);
    ASSERT_FALSE(rec.dropped.empty());
    EXPECT_GT(rec.dropped.front(), 0u);
    for (int i = 0; i < kKiosks; ++i) {
        SCOPED_TRACE(i);
        TDeviceItem* d = devices[i].get();
        EXPECT_EQ(rec.countOf(d, QStringLiteral("block")), kPayments + (i == 0 ? 1 : 0));
        EXPECT_EQ(rec.countOf(d, QStringLiteral("end")), kPayments);
        ASSERT_FALSE(rec.states.empty());
        TThreadState last = tsSuspended;
        for (const auto& st : rec.states)
            if (st.device == d)
                last = st.state;
        EXPECT_EQ(last, d->ThreadState());
    }
    EXPECT_EQ(devices[1]->ThreadState(), tsWorkingIdle);
    // After kiosk 0's last PAY_BLOCK a state other than tsConnected came, then tsConnected.
    const QStringList& seen0 = rec.events[devices[0].get()];
    const auto lastBlock = seen0.lastIndexOf(QStringLiteral("block"));
    ASSERT_GE(lastBlock, 0);
    bool leftConnected = false;
    for (qsizetype k = lastBlock + 1; k < seen0.size(); ++k)
        leftConnected |= seen0[k] != QString::number(tsConnected);
    EXPECT_TRUE(leftConnected) << seen0.mid(lastBlock).join(QLatin1Char(' ')).toStdString();

    for (auto& device : devices)
        device->Release();
    waitUntil([&] { return TMegaThread::LiveThreads() == 0; }, 3000);
}

// What the link tells about itself: when it connected, when the kiosk last spoke, how
// often connections were lost, and why the last one failed.
TEST_F(Resilience, HealthFiguresFollowTheConnection) {
    FakeKiosk kiosk;
    kiosk.autoVersion(kGoodVersion);
    auto device = makeDevice(kiosk.port());
    devices.push_back(device);
    const TDeviceHealth fresh = device->Health();
    EXPECT_FALSE(fresh.connectedSince.isValid());
    EXPECT_FALSE(fresh.lastLineAt.isValid());
    EXPECT_EQ(fresh.lossesLast24h, 0);
    EXPECT_TRUE(fresh.lastError.isEmpty());

    const auto before = QDateTime::currentDateTimeUtc();
    device->ResumeThread();
    ASSERT_TRUE(rec.waitForState(tsConnected, 5000));
    TDeviceHealth h = device->Health();
    ASSERT_TRUE(h.connectedSince.isValid());
    EXPECT_GE(h.connectedSince, before.addMSecs(-5));
    EXPECT_LE(h.connectedSince, QDateTime::currentDateTimeUtc());
    ASSERT_TRUE(h.lastLineAt.isValid()); // the version line
    EXPECT_GE(h.lastLineAt, h.connectedSince);

    testutil::pump(300);
    const auto lineSent = QDateTime::currentDateTimeUtc();
    kiosk.sendLine("SESSION_START");
    ASSERT_TRUE(waitUntil([&] { return device->ThreadState() == tsWorkingOrder; }));
    EXPECT_GE(device->Health().lastLineAt, lineSent.addMSecs(-5));

    // The kiosk hangs up: one loss, and a new connection with a new time.
    const auto firstConnection = h.connectedSince;
    testutil::pump(50);
    kiosk.drop();
    ASSERT_TRUE(kiosk.waitForConnections(2, 3000));
    ASSERT_TRUE(waitUntil([&] { return device->Health().connectedSince > firstConnection; }));
    h = device->Health();
    EXPECT_EQ(h.lossesLast24h, 1);
    EXPECT_EQ(h.lastError, QStringLiteral("Disconnected by zero length data"));

    // Moved to a place where nobody listens: the console ended that connection itself,
    // so no loss, but the refusal's text and no connection.
    rec.states.clear();
    device->SetPort(testutil::freePort());
    ASSERT_TRUE(rec.waitForState(tsError, 4000));
    h = device->Health();
    EXPECT_FALSE(h.connectedSince.isValid());
    EXPECT_EQ(h.lossesLast24h, 1);
    EXPECT_TRUE(h.lastError.startsWith(QStringLiteral("Connection refused")))
        << h.lastError.toStdString();

    // Nor is a stop.
    FakeKiosk other;
    other.autoVersion(kGoodVersion);
    device->SetPort(other.port());
    ASSERT_TRUE(rec.waitForState(tsConnected, 5000));
    ASSERT_TRUE(stopAndWait(*device));
    EXPECT_EQ(device->Health().lossesLast24h, 1);
    EXPECT_FALSE(device->Health().connectedSince.isValid());
}

// Why a kiosk went red stays in the system log; what a customer ordered never goes there.
TEST_F(Resilience, ConnectionEventsGoToTheSystemLogButNoOrderContents) {
    struct Entry {
        orvanta::LogPriority priority;
        QString text;
    };
    std::mutex mutex;
    std::vector<Entry> logged;
    orvanta::setSystemLogSink([&](orvanta::LogPriority priority, const QString& text) {
        std::lock_guard lock(mutex);
        logged.push_back({priority, text});
    });
    const auto entries = [&] {
        std::lock_guard lock(mutex);
        return logged;
    };
    const auto has = [&](orvanta::LogPriority priority, const QString& piece) {
        for (const auto& e : entries())
            if (e.priority == priority && e.text.contains(piece))
                return true;
        return false;
    };

    FakeKiosk kiosk;
    kiosk.autoVersion(kGoodVersion);
    auto device = start(kiosk.port());
    ASSERT_TRUE(rec.waitForState(tsConnected, 5000));
    const QString where = QStringLiteral("127.0.0.1:%1").arg(kiosk.port());
    EXPECT_TRUE(has(orvanta::LogPriority::Info, where + QStringLiteral(": connected")));

    // A whole payment, then a document with a broken escape that ends the connection.
    kiosk.sendLine("ORDER_SUM=98765.43");
    kiosk.sendLine("INVOICE=Secret%20invoice%20Kofe");
    kiosk.sendLine("ORDER_XML=<order secret=\"42\"/>");
    kiosk.sendLine("PAY_BLOCK");
    kiosk.sendLine("PAY_END");
    ASSERT_TRUE(waitUntil([&] { return rec.payEnds.size() == 1; }, 3000));
    kiosk.sendLine("ORDER_XML=<order secret=\"43\"/>%2");
    ASSERT_TRUE(rec.waitForState(tsDisconnected, 3000));
    EXPECT_TRUE(waitUntil(
        [&] {
            return has(orvanta::LogPriority::Warning,
                       QStringLiteral("connection lost: Invalid escape"));
        },
        2000));

    // A refused version and an exception inside an attempt.
    FakeKiosk oldKiosk;
    oldKiosk.autoVersion("VERSION=Kiosk 13.1.0.0");
    start(oldKiosk.port());
    ASSERT_TRUE(rec.waitForState(tsObsoleteVersion, 5000));
    // The refusal is logged after the state is announced: wait for it.
    EXPECT_TRUE(waitUntil(
        [&] {
            return has(orvanta::LogPriority::Warning,
                       QStringLiteral("version refused: Kiosk 13.1.0.0"));
        },
        2000));
    g_attempts = 0;
    g_throwKind = 2;
    SetLinkTestHook([](TSocketThread&, TLinkPoint point) {
        if (point == TLinkPoint::Attempt && g_attempts.fetch_add(1) == 0)
            throw std::runtime_error("boom in the attempt");
    });
    FakeKiosk third;
    start(third.port());
    EXPECT_TRUE(waitUntil(
        [&] { return has(orvanta::LogPriority::Error, QStringLiteral("boom in the attempt")); },
        3000));
    orvanta::setSystemLogSink({});

    ASSERT_FALSE(entries().empty());
    for (const auto& e : entries()) {
        for (const char* secret : {"98765", "Secret", "secret", "Kofe", "<order"})
            EXPECT_FALSE(e.text.contains(QLatin1String(secret))) << e.text.toStdString();
    }
}

} // namespace

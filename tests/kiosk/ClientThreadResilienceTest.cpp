// The connection thread when things go wrong around it: exceptions inside an attempt,
// kiosks that hang up at once, a kiosk that moved, a main thread that does not drain.
#include "FakeKioskSupport.h"
#include "LinkRecorderSupport.h"
#include "TestUtil.h"

#include "kiosk/ClientThread.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

using namespace std::chrono;
using testutil::waitUntil;

namespace {

long long msBetween(steady_clock::time_point a, steady_clock::time_point b) {
    return duration_cast<milliseconds>(b - a).count();
}

const QByteArray kGoodVersion = "VERSION=Kiosk 14.2.0.7";

class Resilience : public ::testing::Test {
protected:
    void TearDown() override {
        SetLinkTestHook(nullptr);
        for (auto& device : devices) {
            device->Release();
            waitUntil(
                [&] {
                    return device->SocketThread()->Suspended() ||
                           device->SocketThread()->Finished();
                },
                3000);
        }
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
}

} // namespace

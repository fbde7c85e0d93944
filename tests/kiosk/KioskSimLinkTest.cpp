// The kiosk link against the kiosk simulator: a whole payment, and many kiosks that
// come and go while the console starts and stops them.
#include "KioskSimSupport.h"
#include "LinkRecorderSupport.h"
#include "TestUtil.h"

#include "kiosk/ClientThread.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

using testutil::waitUntil;

namespace {

TEST(KioskSimLink, WholePaymentFromSessionToConfirmation) {
    KioskSim sim;
    ASSERT_TRUE(sim.start(1));
    LinkRecorder rec;
    TDeviceItemList list;
    auto device = makeDevice(sim.ports()[0]);
    list.Add(device);
    device->ResumeThread();
    ASSERT_TRUE(rec.waitForState(tsWorkingIdle, 6000)); // version, then the work state
    EXPECT_EQ(device->VersionStr(), QStringLiteral("14.2.0.7"));

    sim.command(QStringLiteral("start"));
    ASSERT_TRUE(waitUntil([&] { return device->ThreadState() == tsWorkingOrder; }));
    sim.command(QStringLiteral("pay 730.00"));
    ASSERT_TRUE(waitUntil([&] { return rec.payBlocks.size() == 1; }));
    EXPECT_DOUBLE_EQ(rec.payBlocks[0].sum, 730.0);
    EXPECT_FALSE(rec.payBlocks[0].invoice.isEmpty());
    EXPECT_TRUE(rec.payBlocks[0].xml.contains(QStringLiteral("<order")));
    EXPECT_TRUE(
        rec.payBlocks[0].invoice.contains(QLatin1Char('\n'))); // line breaks survive the escaping

    // While the operator decides, keep-alives reach the kiosk in quiet moments.
    device->SetKioskAlive();
    ASSERT_TRUE(sim.waitForOutput(QStringLiteral("KEEP_ALIVE"), 4000));
    device->AddKioskCommand(kcConfirmOrder);
    ASSERT_TRUE(sim.waitForOutput(QStringLiteral("ORDER_CONFIRM"), 4000));
    ASSERT_TRUE(waitUntil([&] { return rec.payEnds.size() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return device->ThreadState() == tsWorkingIdle; }));
    TDeviceLock lock(*device);
    EXPECT_EQ(device->OrderBilled, -1);
}

// Two records that point at the same kiosk take the connection from each other (the
// kiosk serves the newest console). That must stay a slow tug of war, not a storm of
// reconnects that eats a core.
TEST(KioskSimLink, TwoRecordsForOneKioskDoNotStormIt) {
    KioskSim sim;
    ASSERT_TRUE(sim.start(1, {QStringLiteral("--quiet")}));
    LinkRecorder rec;
    TDeviceItemList list;
    for (int i = 0; i < 2; ++i) {
        auto device = makeDevice(sim.ports()[0]);
        list.Add(device);
        device->ResumeThread();
    }
    testutil::pump(8000);
    const int connects = rec.logCount(QStringLiteral("Connected, checking version"));
    EXPECT_GE(connects, 3); // both did get through
    EXPECT_LE(connects, 60) << "reconnect storm";
}

// Under ThreadSanitizer this is the race, leak and deadlock check of the link.
TEST(KioskSimLink, HundredKiosksStartStopAndFreeWhileTheyDropAndReturn) {
    constexpr int kCount = 100;
    KioskSim sim;
    ASSERT_TRUE(sim.start(kCount, {QStringLiteral("--quiet")}));
    LinkRecorder rec;
    auto list = std::make_unique<TDeviceItemList>();
    for (int i = 0; i < kCount; ++i) {
        auto device = makeDevice(sim.ports()[static_cast<std::size_t>(i)]);
        list->Add(device);
        device->ResumeThread();
    }
    auto connected = [&] {
        int n = 0;
        for (const auto& d : *list)
            n += d->ThreadState() == tsWorkingIdle;
        return n;
    };
    ASSERT_TRUE(waitUntil([&] { return connected() == kCount; }, 30000)) << connected();

    auto* random = QRandomGenerator::global();
    for (int round = 0; round < 3; ++round) {
        sim.command(QStringLiteral("1-50 drop"));
        sim.command(QStringLiteral("51-60 offline"));
        for (int i = 0; i < 20; ++i) {
            const int index = static_cast<int>(random->bounded(list->Count()));
            auto& device = (*list)[index];
            if (device->Enabled()) {
                device->DestroyThread(false);
                device->SetEnabled(false);
            } else {
                device->SetEnabled(true);
                device->ResumeThread();
            }
            device->AddKioskCommand(kcGetWorkState);
            device->SetKioskAlive();
        }
        testutil::pump(700);
        sim.command(QStringLiteral("51-60 online"));
        list->Delete(static_cast<int>(random->bounded(list->Count())));
        testutil::pump(700);
    }

    // Exit: free the whole list with every thread in whatever state it is.
    const auto t0 = std::chrono::steady_clock::now();
    list.reset();
    EXPECT_TRUE(TMegaThread::WaitForAllThreads(2000))
        << TMegaThread::LiveThreads() << " threads left";
    EXPECT_LT(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count(),
        2500);
    testutil::pump(100); // the last notifications find their records gone and are dropped
}

} // namespace

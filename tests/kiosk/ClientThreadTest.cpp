// The connection thread against a kiosk on loopback whose every line the test controls.
#include "FakeKioskSupport.h"
#include "LinkRecorderSupport.h"
#include "TestUtil.h"

#include "kiosk/ClientThread.h"

#include <gtest/gtest.h>

using namespace std::chrono;
using testutil::waitUntil;

namespace {

class ConnectionThread : public ::testing::Test {
protected:
    void TearDown() override {
        SetLinkTestHook(nullptr);
        if (device)
            releaseAndWait(*device);
    }

    void start() {
        device = makeDevice(kiosk.port());
        device->ResumeThread();
    }

    // Connects and gets the version accepted.
    void connectAccepted() {
        kiosk.autoVersion(kGoodVersion);
        start();
        ASSERT_TRUE(rec.waitForState(tsConnected, 5000));
    }

    LinkRecorder rec;
    FakeKiosk kiosk;
    std::shared_ptr<TDeviceItem> device;
};

TEST_F(ConnectionThread, AsksVersionOnceAfterTheFirstQuietSecondAndWaitsForIt) {
    start();
    ASSERT_TRUE(kiosk.waitForConnections(1));
    ASSERT_TRUE(kiosk.waitForLine("GET_VERSION", 4000));
    EXPECT_GE(msBetween(kiosk.lastConnectAt(), kiosk.received().front().at), 900);
    // A kiosk that never answers: the question is not asked again.
    testutil::pump(2500);
    EXPECT_EQ(kiosk.count("GET_VERSION"), 1);
    EXPECT_EQ(device->ThreadState(), tsWaitingVersion);
    EXPECT_EQ(device->GetStatusString(), QStringLiteral("Определение версии"));
    EXPECT_TRUE(rec.hasLog(QStringLiteral("Connected, checking version")));
}

TEST_F(ConnectionThread, AcceptedVersionIsAnnouncedTwiceThenWorkStateIsAsked) {
    connectAccepted();
    ASSERT_TRUE(kiosk.waitForLine("GET_WORK_STATE", 4000));
    EXPECT_TRUE(waitUntil([&] { return rec.stateCount(tsConnected) == 2; }, 1000));
    EXPECT_EQ(device->VersionStr(), QStringLiteral("14.2.0.7"));
    EXPECT_TRUE(rec.hasLog(QStringLiteral("Version OK")));

    const std::vector<TThreadState> expected = {tsWaiting, tsConnecting, tsWaitingVersion,
                                                tsConnected, tsConnected};
    EXPECT_EQ(rec.stateSequence(), expected);

    struct Report {
        QByteArray line;
        TThreadState state;
    };
    const Report reports[] = {{"SESSION_START", tsWorkingOrder},
                              {"ordering_finish", tsOrderingFinished},
                              {"Session_Stop", tsWorkingIdle}};
    for (const auto& r : reports) {
        kiosk.sendLine(r.line);
        EXPECT_TRUE(waitUntil([&] { return device->ThreadState() == r.state; }, 3000))
            << r.line.constData();
    }
    // A report of the current state changes nothing and is not announced again.
    const auto before = rec.states.size();
    kiosk.sendLine("SESSION_STOP");
    testutil::pump(300);
    EXPECT_EQ(rec.states.size(), before);
}

TEST_F(ConnectionThread, RefusedVersionClosesAndRetriesAfterFiveSeconds) {
    kiosk.autoVersion("VERSION=Kiosk 14.0.0.0");
    start();
    ASSERT_TRUE(rec.waitForState(tsObsoleteVersion, 5000));
    EXPECT_TRUE(kiosk.waitForDisconnect(2000));
    EXPECT_EQ(device->GetStatusString(), QStringLiteral("Версия не поддерживается"));
    EXPECT_TRUE(rec.hasLog(QStringLiteral("Version is obsolete")));
    ASSERT_TRUE(kiosk.waitForConnections(2, 9000));
    const auto times = kiosk.connectTimes();
    const auto refusedAt = rec.states.back().at;
    EXPECT_GE(msBetween(refusedAt, times[1]), 4500);
    EXPECT_FALSE(rec.sawState(tsDisconnected)); // the state stays while it waits
}

TEST_F(ConnectionThread, LinesAfterARefusedVersionInTheSameReadAreNotProcessed) {
    start();
    ASSERT_TRUE(kiosk.waitForLine("GET_VERSION", 4000));
    kiosk.send("VERSION=14.2.0.7\r\nSESSION_START\r\n"); // no program name: empty version
    ASSERT_TRUE(rec.waitForState(tsObsoleteVersion, 3000));
    testutil::pump(300);
    EXPECT_FALSE(rec.sawState(tsWorkingOrder));
}

TEST_F(ConnectionThread, KioskThatClosesIsReconnectedAtOnceAndRefusalRetriesEveryThreeSeconds) {
    connectAccepted();
    kiosk.drop();
    ASSERT_TRUE(rec.waitForState(tsDisconnected, 3000));
    EXPECT_TRUE(rec.waitForLog(QStringLiteral("Error : Disconnected by zero length data"), 1000));
    ASSERT_TRUE(kiosk.waitForConnections(2, 2000));
    EXPECT_LT(msBetween(rec.states.back().at, kiosk.lastConnectAt()), 1000);

    // Now the kiosk stops accepting: every attempt fails, three seconds apart.
    kiosk.stopListening();
    kiosk.drop();
    ASSERT_TRUE(rec.waitForState(tsError, 4000));
    EXPECT_EQ(device->GetStatusString(), QStringLiteral("Ошибка связи"));
    EXPECT_FALSE(device->SocketThread()->ErrorMessage().isEmpty());
    ASSERT_TRUE(waitUntil([&] { return rec.stateCount(tsError) >= 2; }, 6000));
    std::vector<steady_clock::time_point> errors;
    for (const auto& s : rec.states)
        if (s.state == tsError)
            errors.push_back(s.at);
    EXPECT_GE(msBetween(errors[0], errors[1]), 2900);
}

TEST_F(ConnectionThread, CommandsGoOneAtATimeAfterAQuietSecondAndAnyDataAnswersThem) {
    connectAccepted();
    ASSERT_TRUE(kiosk.waitForLine("GET_WORK_STATE", 4000));
    kiosk.sendLine("SESSION_START");
    ASSERT_TRUE(waitUntil([&] { return device->ThreadState() == tsWorkingOrder; }));

    device->AddKioskCommand(kcConfirmOrder);
    device->AddKioskCommand(kcCancelOrder);
    ASSERT_TRUE(kiosk.waitForLine("ORDER_CONFIRM", 3000));
    // Outstanding: the second waits for an answer.
    testutil::pump(2500);
    EXPECT_EQ(kiosk.count("ORDER_CANCEL"), 0);
    const auto answeredAt = steady_clock::now();
    kiosk.sendLine("whatever");
    ASSERT_TRUE(kiosk.waitForLine("ORDER_CANCEL", 3000));
    EXPECT_GE(msBetween(answeredAt, kiosk.received().back().at), 900);
}

TEST_F(ConnectionThread, NothingIsSentWhileDataKeepsArriving) {
    connectAccepted();
    ASSERT_TRUE(kiosk.waitForLine("GET_WORK_STATE", 4000));
    device->AddKioskCommand(kcConfirmOrder);
    for (int i = 0; i < 6; ++i) {
        kiosk.sendLine("SESSION_START");
        testutil::pump(400);
    }
    EXPECT_EQ(kiosk.count("ORDER_CONFIRM"), 0);
    EXPECT_TRUE(kiosk.waitForLine("ORDER_CONFIRM", 3000));
}

TEST_F(ConnectionThread, UnansweredCommandIsGivenUpAfterTenSecondsAndTheQueueKeepsItsOrder) {
    connectAccepted();
    ASSERT_TRUE(kiosk.waitForLine("GET_WORK_STATE", 4000)); // never answered
    device->AddKioskCommand(kcConfirmOrder);
    device->AddKioskCommand(kcReturnToOrder);
    ASSERT_TRUE(kiosk.waitForLine("ORDER_CONFIRM", 15000));
    ASSERT_TRUE(kiosk.waitForLine("ORDER_RETURN", 15000));
    std::vector<QByteArray> order;
    steady_clock::time_point workState, confirm;
    for (const auto& r : kiosk.received()) {
        order.push_back(r.line);
        if (r.line == "GET_WORK_STATE")
            workState = r.at;
        if (r.line == "ORDER_CONFIRM")
            confirm = r.at;
    }
    const std::vector<QByteArray> expected = {"GET_VERSION", "GET_WORK_STATE", "ORDER_CONFIRM",
                                              "ORDER_RETURN"};
    EXPECT_EQ(order, expected);
    EXPECT_GE(msBetween(workState, confirm), 10000);
}

TEST_F(ConnectionThread, KeepAliveWaitsForAnEmptyQueue) {
    connectAccepted();
    ASSERT_TRUE(kiosk.waitForLine("GET_WORK_STATE", 4000));
    kiosk.sendLine("SESSION_STOP");
    ASSERT_TRUE(waitUntil([&] { return device->ThreadState() == tsWorkingIdle; }));
    device->AddKioskCommand(kcCancelOrder);
    device->SetKioskAlive();
    ASSERT_TRUE(kiosk.waitForLine("ORDER_CANCEL", 3000));
    ASSERT_TRUE(kiosk.waitForLine("KEEP_ALIVE", 3000));
    const auto lines = kiosk.received();
    EXPECT_EQ(lines[lines.size() - 2].line, QByteArray("ORDER_CANCEL"));
    EXPECT_GE(msBetween(lines[lines.size() - 2].at, lines.back().at), 900);
    // One request, one keep-alive.
    testutil::pump(2200);
    EXPECT_EQ(kiosk.count("KEEP_ALIVE"), 1);
}

TEST_F(ConnectionThread, OrderDataAndPaymentEvents) {
    connectAccepted();
    kiosk.sendLine("order_sum=12.50");
    kiosk.sendLine("INVOICE=line 1%0D%0Aline 2 \xD0\x9A\xD0\xBE\xD1\x84\xD0\xB5");
    kiosk.sendLine("ORDER_XML=a%25b%0D%0Ac");
    kiosk.sendLine("pay_block");
    ASSERT_TRUE(waitUntil([&] { return rec.payBlocks.size() == 1; }, 3000));
    EXPECT_DOUBLE_EQ(rec.payBlocks[0].sum, 12.5);
    EXPECT_EQ(rec.payBlocks[0].invoice, QStringLiteral("line 1\r\nline 2 Кофе"));
    EXPECT_EQ(rec.payBlocks[0].xml, QStringLiteral("a%b\r\nc"));

    kiosk.sendLine("PAY_END");
    ASSERT_TRUE(waitUntil([&] { return rec.payEnds.size() == 1; }, 3000));
    TDeviceLock lock(*device);
    EXPECT_EQ(device->OrderBilled, -1);
    EXPECT_TRUE(device->Invoice.isEmpty());
    EXPECT_EQ(device->OrderXML, QStringLiteral("a%b\r\nc")); // kept until the next document
}

TEST_F(ConnectionThread, MalformedEscapeEndsTheConnectionAndKeepsTheField) {
    connectAccepted();
    kiosk.sendLine("ORDER_XML=first");
    ASSERT_TRUE(waitUntil([&] {
        TDeviceLock l(*device);
        return device->OrderXML == QStringLiteral("first");
    }));
    kiosk.send("ORDER_XML=bad%2\r\nSESSION_START\r\n");
    ASSERT_TRUE(rec.waitForState(tsDisconnected, 3000));
    EXPECT_FALSE(rec.sawState(tsWorkingOrder));
    TDeviceLock lock(*device);
    EXPECT_EQ(device->OrderXML, QStringLiteral("first"));
}

TEST_F(ConnectionThread, EndlessLineIsCutOffInsteadOfFillingMemory) {
    connectAccepted();
    const QByteArray block(1 << 20, 'x');
    for (int i = 0; i < 17 && kiosk.clientConnected(); ++i)
        kiosk.send(block);
    ASSERT_TRUE(rec.waitForLog(QStringLiteral("Error : Line too long"), 10000));
    EXPECT_TRUE(rec.waitForState(tsDisconnected, 3000));
}

TEST_F(ConnectionThread, LineSplitAcrossReadsIsProcessedOnceWhenComplete) {
    connectAccepted();
    kiosk.send("SESSION_ST");
    testutil::pump(300);
    EXPECT_FALSE(rec.sawState(tsWorkingOrder));
    kiosk.send("ART\r\n\r\nORDERING_FINISH\r\n");
    ASSERT_TRUE(rec.waitForState(tsOrderingFinished, 3000));
    const auto seq = rec.stateSequence();
    EXPECT_EQ(std::count(seq.begin(), seq.end(), tsWorkingOrder), 1);
}

// A stop must end every wait of the thread at once.
TEST_F(ConnectionThread, StopDuringTheErrorWaitEndsAtOnce) {
    kiosk.stopListening();
    start();
    ASSERT_TRUE(rec.waitForState(tsError, 3000));
    testutil::pump(200);
    const auto t0 = steady_clock::now();
    ASSERT_TRUE(stopAndWait(*device, 2000));
    EXPECT_LT(msBetween(t0, steady_clock::now()), 1000);
    EXPECT_TRUE(rec.hasLog(QStringLiteral("Thread stopped")));
    EXPECT_TRUE(rec.sawState(tsSuspended));
    EXPECT_EQ(device->ThreadState(), tsSuspended);
}

TEST_F(ConnectionThread, StopDuringTheObsoleteWaitEndsAtOnce) {
    kiosk.autoVersion("VERSION=Kiosk 13.9.99.99");
    start();
    ASSERT_TRUE(rec.waitForState(tsObsoleteVersion, 5000));
    testutil::pump(300);
    const auto t0 = steady_clock::now();
    ASSERT_TRUE(stopAndWait(*device, 2000));
    EXPECT_LT(msBetween(t0, steady_clock::now()), 1000);
    EXPECT_TRUE(rec.hasLog(QStringLiteral("Thread stopped")));
}

TEST_F(ConnectionThread, StopDuringAPendingConnectEndsWithinASecond) {
    UnansweringPeer peer;
    if (peer.port() == 0)
        GTEST_SKIP() << "this kernel answers connections despite a full accept queue";
    device = makeDevice(peer.port());
    device->ResumeThread();
    ASSERT_TRUE(rec.waitForState(tsConnecting, 3000));
    testutil::pump(300);
    ASSERT_EQ(device->ThreadState(), tsConnecting);
    const auto t0 = steady_clock::now();
    ASSERT_TRUE(stopAndWait(*device, 8000));
    EXPECT_LT(msBetween(t0, steady_clock::now()), 1500);
    EXPECT_TRUE(rec.waitForLog(QStringLiteral("Thread stopped"), 1000));
}

// A stop that lands between the end of a connection and the wait before the next
// attempt: the wait must not swallow it. The hook stops the thread at that exact point.
std::atomic<steady_clock::rep> g_stoppedAt{0};

TEST_F(ConnectionThread, StopJustBeforeARetryWaitEndsWithinASecond) {
    struct Case {
        const char* name;
        QByteArray version; // empty: the kiosk refuses connections
    };
    const Case cases[] = {{"refused version", "VERSION=Kiosk 13.0.0.0"},
                          {"refused connection", {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeKiosk peer;
        if (c.version.isEmpty())
            peer.stopListening();
        else
            peer.autoVersion(c.version);
        g_stoppedAt = 0;
        SetLinkTestHook([](TSocketThread& thread, TLinkPoint point) {
            if (point != TLinkPoint::RetryWait || g_stoppedAt.load() != 0)
                return;
            g_stoppedAt = steady_clock::now().time_since_epoch().count();
            thread.Abort();
            thread.MegaTerminate();
        });
        auto dev = makeDevice(peer.port());
        dev->ResumeThread();
        const auto thread = dev->SocketThread();
        ASSERT_TRUE(waitUntil([&] { return g_stoppedAt.load() != 0; }, 5000));
        ASSERT_TRUE(thread->WaitForFinish(6000));
        const steady_clock::time_point stoppedAt{steady_clock::duration{g_stoppedAt.load()}};
        EXPECT_LT(msBetween(stoppedAt, steady_clock::now()), 1500);
        SetLinkTestHook(nullptr);
        dev->Release();
        testutil::pump(50);
    }
}

TEST_F(ConnectionThread, StopDuringAQuietConnectionEndsAtOnce) {
    connectAccepted();
    testutil::pump(300);
    const auto t0 = steady_clock::now();
    EXPECT_TRUE(device->ThreadTerminating() == false);
    device->DestroyThread(false);
    EXPECT_TRUE(device->ThreadTerminating());
    EXPECT_EQ(device->GetStatusString(), QStringLiteral("Остановка"));
    ASSERT_TRUE(waitUntil(
        [&] { return device->ThreadState() == tsSuspended && !device->ThreadTerminating(); },
        2000));
    EXPECT_LT(msBetween(t0, steady_clock::now()), 1000);
    EXPECT_TRUE(kiosk.waitForDisconnect(1000));
    EXPECT_TRUE(rec.waitForLog(QStringLiteral("Thread stopped"), 1000));
}

TEST_F(ConnectionThread, DisabledKioskWaitsWithoutConnectingAndStopsWithoutTrace) {
    device = makeDevice(kiosk.port());
    device->SetEnabled(false);
    device->ResumeThread();
    ASSERT_TRUE(rec.waitForState(tsWaiting, 2000));
    testutil::pump(700);
    EXPECT_EQ(kiosk.connections(), 0);
    EXPECT_EQ(device->GetStatusString(), QStringLiteral("Выключен"));
    ASSERT_TRUE(stopAndWait(*device, 2000));
    EXPECT_FALSE(rec.hasLog(QStringLiteral("Thread stopped")));
    EXPECT_FALSE(rec.sawState(tsConnecting));
    EXPECT_EQ(device->ThreadState(), tsSuspended);
}

TEST_F(ConnectionThread, EnablingAgainWhileTheOldThreadStopsStartsTheNextOne) {
    connectAccepted();
    device->DestroyThread(false);
    device->SetEnabled(false);
    // The operator enables the kiosk again before the old thread has been replaced.
    device->SetEnabled(true);
    device->ResumeThread();
    // The successor starts on the main thread, once the old thread has ended.
    ASSERT_TRUE(waitUntil([&] { return kiosk.connections() >= 2; }, 5000));
    EXPECT_FALSE(device->SocketThread()->Suspended());
}

TEST_F(ConnectionThread, UnresolvableHostIsAConnectionError) {
    device = makeDevice(1, QStringLiteral("no-such-host.invalid"));
    device->ResumeThread();
    ASSERT_TRUE(rec.waitForState(tsError, 8000));
    EXPECT_TRUE(
        device->SocketThread()->ErrorMessage().contains(QStringLiteral("no-such-host.invalid")));
}

TEST_F(ConnectionThread, RecordOutlivesItsStoppingThread) {
    connectAccepted();
    std::weak_ptr<TDeviceItem> weak = device;
    const auto thread = device->SocketThread();
    device->Release();
    device.reset(); // the list's reference is gone; the thread still runs
    ASSERT_TRUE(thread->WaitForFinish(2000));
    EXPECT_TRUE(waitUntil([&] { return weak.expired(); }, 2000));
}

// The journal's losses of the last run seed the figures at the start: only those of the
// last 24 hours count, and whatever the link meets afterwards adds to them.
TEST_F(ConnectionThread, SeededHealthCountsTheLastDayAndLiveLossesAddToIt) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const struct {
        const char* what;
        QList<QDateTime> losses;
        int counted;
    } cases[] = {
        {"none", {}, 0},
        {"within the day", {now.addSecs(-60), now.addSecs(-23 * 3600)}, 2},
        {"older than a day", {now.addSecs(-25 * 3600), now.addDays(-30)}, 0},
        {"mixed and out of order",
         {now.addSecs(-3600), now.addSecs(-26 * 3600), now.addSecs(-7200)},
         2},
        {"a clock ahead of this one", {now.addSecs(120)}, 1},
        {"an invalid time", {QDateTime()}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto fresh = makeDevice(testutil::freePort());
        fresh->SeedHealth(c.losses, QStringLiteral("Connection reset by peer"));
        EXPECT_EQ(fresh->Health().lossesLast24h, c.counted);
        EXPECT_EQ(fresh->Health().lastError, QStringLiteral("Connection reset by peer"));
        EXPECT_FALSE(fresh->Health().connectedSince.isValid());
    }

    connectAccepted();
    device->SeedHealth({now.addSecs(-7200)}, QStringLiteral("Connection reset by peer"));
    EXPECT_EQ(device->Health().lossesLast24h, 1);
    kiosk.drop();
    ASSERT_TRUE(kiosk.waitForConnections(2, 3000));
    ASSERT_TRUE(waitUntil([&] { return device->Health().lossesLast24h == 2; }));
    EXPECT_EQ(device->Health().lastError, QStringLiteral("Disconnected by zero length data"));
    // A later seed never hides the error the link met itself.
    device->SeedHealth({}, QStringLiteral("Connection reset by peer"));
    EXPECT_EQ(device->Health().lastError, QStringLiteral("Disconnected by zero length data"));
}

} // namespace

// The console program ends in order whatever is open: the signals a desktop session, a
// service manager or a terminal send end it like its own exit command, within the two
// seconds an operator waits, and no order window that goes with it decides anything.
#include "ConsoleProcessSupport.h"
#include "KioskSimSupport.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(ConsoleExit, SignalsEndTheConsoleInOrderWithOrderWindowsOpen) {
    const struct {
        const char* name;
        int signal;
    } cases[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KioskSim sim;
        ASSERT_TRUE(sim.start(2));
        ConsoleProcess console;
        ASSERT_TRUE(console.Start(sim.ports())) << console.Error().toStdString();
        // Both kiosks connected and paying: an order window open for each.
        ASSERT_TRUE(console.OpenOrderWindows(sim, {250, 300})) << console.Error().toStdString();

        qint64 took = 0;
        ASSERT_TRUE(console.SignalAndWait(c.signal, 5000, &took))
            << "the console ignored " << c.name;
        // Ended by its own exit path, not killed by the signal's default action.
        EXPECT_EQ(console.Process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(console.Process().exitCode(), 0);
        EXPECT_LT(took, 2500) << "ms to end";
        testutil::pump(200);
        for (const char* word : {"ORDER_CONFIRM", "ORDER_CANCEL", "ORDER_RETURN"})
            EXPECT_FALSE(sim.output().contains(QLatin1String(word))) << word;
    }
}

} // namespace

// The console program ends in order whatever is open: the signals a desktop session, a
// service manager or a terminal send end it like its own exit command, within the two
// seconds an operator waits, and no order window that goes with it decides anything.
#include "KioskSimSupport.h"
#include "TestUtil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(ConsoleExit, SignalsEndTheConsoleInOrderWithOrderWindowsOpen) {
    const QString program = testutil::binaryPath(QStringLiteral("src/main/orvanta-console"));
    ASSERT_TRUE(QFile::exists(program)) << program.toStdString();
    const struct {
        const char* name;
        int signal;
    } cases[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KioskSim sim;
        ASSERT_TRUE(sim.start(2));
        QTemporaryDir dir;
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("Selvane")));
        QByteArray ini = "[DeviceList]\nCount=2\n";
        for (int i = 0; i < 2; ++i)
            ini += "[DeviceList" + QByteArray::number(i) + "]\nEnabled=1\nName=Киоск " +
                   QByteArray::number(i + 1) +
                   "\nAddress=127.0.0.1\nPort=" + QByteArray::number(sim.ports()[i]) + "\n";
        testutil::writeFile(dir.filePath(QStringLiteral("Selvane/orvanta-console.ini")), ini);

        QProcess console;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORVANTA_APPDATA"), dir.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        console.setProcessEnvironment(env);
        console.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        console.start(program, {});
        ASSERT_TRUE(console.waitForStarted());

        // Both kiosks connected and paying: an order window open for each, which keeps
        // its quiet line alive once a second.
        const QRegularExpression workState(QStringLiteral("recv GET_WORK_STATE"));
        ASSERT_TRUE(testutil::waitUntil([&] { return sim.output().count(workState) >= 2; }, 10000));
        sim.command(QStringLiteral("1-2 start"));
        sim.command(QStringLiteral("1 pay 250"));
        sim.command(QStringLiteral("2 pay 300"));
        const QRegularExpression keepAlive(QStringLiteral("\\[(\\d)\\] recv KEEP_ALIVE"));
        ASSERT_TRUE(testutil::waitUntil(
            [&] {
                QSet<QString> kiosks;
                for (auto it = keepAlive.globalMatch(sim.output()); it.hasNext();)
                    kiosks.insert(it.next().captured(1));
                return kiosks.size() == 2;
            },
            10000))
            << sim.output().toStdString();

        QElapsedTimer clock;
        clock.start();
        ASSERT_EQ(::kill(static_cast<pid_t>(console.processId()), c.signal), 0);
        const bool ended = console.waitForFinished(5000);
        const qint64 took = clock.elapsed();
        ASSERT_TRUE(ended) << "the console ignored " << c.name;
        // Ended by its own exit path, not killed by the signal's default action.
        EXPECT_EQ(console.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(console.exitCode(), 0);
        EXPECT_LT(took, 2500) << "ms to end";
        testutil::pump(200);
        for (const char* word : {"ORDER_CONFIRM", "ORDER_CANCEL", "ORDER_RETURN"})
            EXPECT_FALSE(sim.output().contains(QLatin1String(word))) << word;
    }
}

} // namespace

#include "TestUtil.h"

#include "ui/SingleInstance.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using testutil::waitUntil;

TEST(SingleInstanceTest, SecondStartOfTheSameIniAsksTheFirstAndYields) {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Console.ini"));
    TSingleInstance first(ini);
    ASSERT_TRUE(first.TryBecomePrimary());
    int activations = 0;
    QObject::connect(&first, &TSingleInstance::activationRequested, [&] { ++activations; });

    TSingleInstance second(ini);
    EXPECT_FALSE(second.TryBecomePrimary());
    EXPECT_TRUE(waitUntil([&] { return activations == 1; }));

    // Another configuration file is another console.
    TSingleInstance other(dir.filePath(QStringLiteral("Other.ini")));
    EXPECT_TRUE(other.TryBecomePrimary());
    EXPECT_NE(TSingleInstance::ServerName(ini),
              TSingleInstance::ServerName(dir.filePath("Other.ini")));
}

TEST(SingleInstanceTest, SocketLeftByACrashedConsoleIsTakenOver) {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Console.ini"));
    // A socket file without anyone listening, as a killed console leaves it.
    {
        QLocalServer stale;
        stale.setSocketOptions(QLocalServer::UserAccessOption);
        ASSERT_TRUE(stale.listen(TSingleInstance::ServerName(ini)));
        const QString path = stale.fullServerName();
        stale.close();
        QFile(path).open(QIODevice::WriteOnly); // leave the name taken
    }
    TSingleInstance console(ini);
    EXPECT_TRUE(console.TryBecomePrimary());
    EXPECT_TRUE(console.IsPrimary());
}

// The program itself: a second start of the same file ends at once; a copy under
// another name keeps running.
TEST(SingleInstanceTest, ConsoleProgramRunsOncePerProgramFile) {
    const QString program = testutil::binaryPath(QStringLiteral("src/main/orvanta-console"));
    ASSERT_TRUE(QFile::exists(program)) << program.toStdString();
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVANTA_APPDATA"), dir.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QString copy = dir.filePath(QStringLiteral("OtherConsole"));
    ASSERT_TRUE(QFile::copy(program, copy));

    auto start = [&](const QString& file) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->setProgram(file);
        p->start();
        EXPECT_TRUE(p->waitForStarted());
        return p;
    };
    auto first = start(program);
    // Running: it has written nothing yet and listens once its window exists.
    testutil::pump(1500);
    ASSERT_EQ(first->state(), QProcess::Running);

    auto second = start(program);
    EXPECT_TRUE(second->waitForFinished(5000)) << "a second console of the same ini must leave";
    EXPECT_EQ(second->exitCode(), 0);

    auto other = start(copy);
    EXPECT_FALSE(other->waitForFinished(1500)) << "a copy under another name runs on its own";
    EXPECT_EQ(first->state(), QProcess::Running);

    for (auto* p : {first.get(), other.get()}) {
        p->terminate();
        p->waitForFinished(5000);
    }
}

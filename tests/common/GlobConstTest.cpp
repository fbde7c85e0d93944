// Paths, the token cutter and the folder delete on real folders.
#include "common/GlobConst.h"

#include "TestUtil.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(ExtractToken, CutsTokensAndSkipsDelimiterRuns) {
    struct Case {
        QString s;
        QString delimiters;
        bool skipTrailing;
        QString token;
        QString rest;
    } cases[] = {
        {QStringLiteral("14.2.0.1"), QStringLiteral("."), false, QStringLiteral("14"),
         QStringLiteral(".2.0.1")},
        {QStringLiteral(".2.0.1"), QStringLiteral("."), false, QStringLiteral("2"),
         QStringLiteral(".0.1")},
        {QStringLiteral("  abc  def"), QStringLiteral(" "), false, QStringLiteral("abc"),
         QStringLiteral("  def")},
        {QStringLiteral("  abc  def"), QStringLiteral(" "), true, QStringLiteral("abc"),
         QStringLiteral("def")},
        {QString(), QStringLiteral(" "), false, QString(), QString()},
        {QStringLiteral("   "), QStringLiteral(" "), true, QString(), QString()},
        {QStringLiteral("a,b;c"), QStringLiteral(",;"), true, QStringLiteral("a"),
         QStringLiteral("b;c")},
        {QStringLiteral("---"), QStringLiteral("-"), false, QString(), QString()},
        {QStringLiteral("a-b"), QString(), false, QStringLiteral("a-b"), QString()},
        // The date-time reader relies on the stopping delimiter staying: it is the zone's sign.
        {QStringLiteral("T10:30:00+03:00"), QStringLiteral("TZ+-"), false,
         QStringLiteral("10:30:00"), QStringLiteral("+03:00")},
        {QStringLiteral(" \t x y"), QStringLiteral(" \t"), false, QStringLiteral("x"),
         QStringLiteral(" y")},
        // Delimiters are case-sensitive: a lower-case x does not stop at X.
        {QStringLiteral("aXbxc"), QStringLiteral("x"), false, QStringLiteral("aXb"),
         QStringLiteral("xc")},
    };
    for (const auto& c : cases) {
        QString s = c.s;
        QString token = QStringLiteral("junk");
        ExtractToken(s, c.delimiters, c.skipTrailing, token);
        EXPECT_EQ(token, c.token) << c.s.toStdString();
        EXPECT_EQ(s, c.rest) << c.s.toStdString();
    }
}

TEST(GlobConst, DataFolderAndIniNameFollowTheProgramFile) {
    QTemporaryDir base;
    qputenv("ORVANTA_APPDATA", base.path().toUtf8());
    ASSERT_EQ(InitGlobConst(QStringLiteral("/opt/x/Other.exe")), TInitResult::Ok);
    EXPECT_EQ(DataFolder, base.path() + QStringLiteral("/Selvane/"));
    EXPECT_TRUE(QDir(DataFolder).exists());
    EXPECT_EQ(IniFileName, DataFolder + QStringLiteral("Other.ini"));
    InitGlobConst(QStringLiteral("/usr/bin/orvanta-console"));
    EXPECT_EQ(IniFileName, DataFolder + QStringLiteral("orvanta-console.ini"));

    // A data folder that cannot be made: the base is a file.
    testutil::writeFile(base.filePath(QStringLiteral("file")), "x");
    qputenv("ORVANTA_APPDATA", base.filePath(QStringLiteral("file")).toUtf8());
    EXPECT_NE(InitGlobConst(QStringLiteral("/usr/bin/c")), TInitResult::Ok);
    EXPECT_TRUE(IniFileName.isEmpty());
    qunsetenv("ORVANTA_APPDATA");
}

TEST(GlobConst, DeleteFolderTreeTakesHiddenAndReadOnlyEntriesButNeverFollowsLinks) {
    QTemporaryDir root;
    const QString tree = root.filePath(QStringLiteral("tree/"));
    const QString outside = root.filePath(QStringLiteral("outside"));
    ASSERT_TRUE(QDir().mkpath(tree + QStringLiteral("sub/.hidden")));
    ASSERT_TRUE(QDir().mkpath(outside));
    testutil::writeFile(outside + QStringLiteral("/precious"), "keep");
    testutil::writeFile(tree + QStringLiteral(".ini"), "a");
    testutil::writeFile(tree + QStringLiteral("sub/.hidden/f"), "b");
    testutil::writeFile(tree + QStringLiteral("ro"), "c");
    ::chmod(QFile::encodeName(tree + QStringLiteral("ro")).constData(), 0444);
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(),
                        QFile::encodeName(tree + QStringLiteral("link")).constData()),
              0);

    EXPECT_FALSE(DeleteFolderTree(tree, false)); // the subfolder stays, so the folder does
    EXPECT_TRUE(QDir(tree + QStringLiteral("sub")).exists());
    EXPECT_TRUE(DeleteFolderTree(tree, true));
    EXPECT_FALSE(QDir(tree).exists());
    EXPECT_EQ(testutil::readFile(outside + QStringLiteral("/precious")), QByteArray("keep"));
    EXPECT_FALSE(DeleteFolderTree(QString(), true));
}

TEST(GlobConst, VersionTextOfTheRunningProgram) {
    int a, b, c, d;
    EXPECT_FALSE(GetFileVersion(QStringLiteral("/bin/sh"), a, b, c, d));
    EXPECT_EQ(a + b + c + d, 0);
    // The test program is built with the project's version too.
    EXPECT_TRUE(GetAppVersionString().contains(QStringLiteral(" build ")));
    EXPECT_NE(GetAppVersionString(), QStringLiteral("0.0.0 build 0"));
}

#ifdef ORVANTA_HAVE_CONSOLE
// The console's uninstall run, on the real program.
TEST(ConsoleProgram, UninstallRemovesTheDataFolderWhateverTheCase) {
    const QString program = testutil::binaryPath(QStringLiteral("src/main/orvanta-console"));
    ASSERT_TRUE(QFile::exists(program)) << program.toStdString();
    for (const char* word : {"uninstall", "UNINSTALL", "Uninstall"}) {
        QTemporaryDir base;
        const QString data = base.filePath(QStringLiteral("Selvane"));
        QDir().mkpath(data + QStringLiteral("/sub"));
        testutil::writeFile(data + QStringLiteral("/orvanta-console.ini"),
                            "[DeviceList]\nCount=0\n");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORVANTA_APPDATA"), base.path());
        p.setProcessEnvironment(env);
        p.start(program, {QString::fromLatin1(word)});
        ASSERT_TRUE(p.waitForFinished(10000)) << word;
        EXPECT_EQ(p.exitCode(), 0) << word;
        EXPECT_FALSE(QDir(data).exists()) << word;
    }
    // Without the folder: made during initialisation, then removed, silently.
    QTemporaryDir base;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVANTA_APPDATA"), base.path());
    p.setProcessEnvironment(env);
    p.start(program, {QStringLiteral("uninstall")});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_FALSE(QDir(base.filePath(QStringLiteral("Selvane"))).exists());
    EXPECT_TRUE(p.readAllStandardError().isEmpty());
}
#endif

} // namespace

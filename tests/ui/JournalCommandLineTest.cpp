// "orvanta-console journal": the journal of the data folder as CSV on standard output,
// from the built program, without a display, in a time zone of the test's choosing.
#include "SharedJournalSupport.h"
#include "TestUtil.h"

#include "journal/JournalCsv.h"
#include "journal/JournalReader.h"
#include "journal/OrderJournal.h"

#include <QBuffer>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

QDateTime utc(int day, int hour, int minute, int second = 0) {
    return QDateTime(QDate(2026, 3, day), QTime(hour, minute, second), Qt::UTC);
}

JournalRecord order(const QString& kiosk, const QDateTime& opened, double sum,
                    const QString& name) {
    JournalRecord r;
    r.console = QStringLiteral("Касса 1");
    r.kiosk = kiosk;
    r.address = QStringLiteral("127.0.0.1:5000");
    r.opened = opened;
    r.sum = sum;
    r.orderName = name;
    r.invoice = QStringLiteral("Борщ 1 x 250.00");
    r.document = QStringLiteral("<order><name>%1</name></order>").arg(name);
    return r;
}

struct ConsoleRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// The program over the data folder appData, in Moscow time (UTC+3 all year), with no
// display of any kind.
ConsoleRun console(const QString& appData, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVANTA_APPDATA"), appData);
    env.insert(QStringLiteral("TZ"), QStringLiteral("MSK-3"));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    p.setProcessEnvironment(env);
    p.start(testutil::binaryPath(QStringLiteral("src/main/orvanta-console")),
            QStringList{QStringLiteral("journal")} + args);
    ConsoleRun run;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    return run;
}

class JournalCommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("Selvane")));
        folder = dir.filePath(QStringLiteral("Selvane"));
    }

    // Three orders over three days of Moscow time; the last opens on 3 March in Moscow
    // but on 2 March in UTC, so the days must be the venue's.
    void fill() {
        OrderJournal journal(folder);
        const auto a =
            journal.orderOpened(order(QStringLiteral("Киоск 1"), utc(1, 7, 0), 250, "125"));
        journal.orderDecided(a, JournalDecision::Confirmed, utc(1, 7, 0, 12), 12.5);
        journal.orderPrinted(a, JournalPrint{utc(1, 7, 0, 5), 3, QStringLiteral("COM1"), true, {}});
        journal.orderPrinted(a, JournalPrint{utc(1, 7, 0, 8), 3, QStringLiteral("COM1"), false,
                                             QStringLiteral("нет бумаги")});
        const auto b = journal.orderOpened(order(QStringLiteral("Киоск 2, зал"), utc(2, 20, 30),
                                                 99.99, QStringLiteral("Заказ \"7\"")));
        journal.orderDecided(b, JournalDecision::Cancelled, utc(2, 20, 30, 3), 3.25);
        journal.orderOpened(order(QStringLiteral("Киоск 1"), utc(2, 21, 30), 730, QString()));
        ASSERT_TRUE(journal.flush(5000));
    }

    QTemporaryDir dir;
    QString folder;
};

const QByteArray kHeader = "opened,kiosk,order,sum,decision,decided,wait_s,prints\r\n";
const QByteArray kA = "2026-03-01T10:00:00+03:00,Киоск 1,125,250.00,confirmed,"
                      "2026-03-01T10:00:12+03:00,12.50,1\r\n";
const QByteArray kB = "2026-03-02T23:30:00+03:00,\"Киоск 2, зал\",\"Заказ \"\"7\"\"\",99.99,"
                      "cancelled,2026-03-02T23:30:03+03:00,3.25,0\r\n";
const QByteArray kC = "2026-03-03T00:30:00+03:00,Киоск 1,,730.00,open,,,0\r\n";

TEST_F(JournalCommandLine, CsvOfThePeriodNewestFirst) {
    fill();
    const struct {
        QStringList args;
        QByteArray out;
    } cases[] = {
        {{"--csv"}, kHeader + kC + kB + kA},
        {{"--csv", "--from", "2026-03-02"}, kHeader + kC + kB},
        {{"--csv", "--to", "2026-03-02"}, kHeader + kB + kA},
        {{"--from", "2026-03-02", "--to", "2026-03-02", "--csv"}, kHeader + kB},
        {{"--csv", "--from", "2026-03-01", "--to", "2026-03-01"}, kHeader + kA},
        {{"--csv", "--from", "2026-03-04"}, kHeader},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const ConsoleRun run = console(dir.path(), c.args);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(run.out, c.out);
        EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    }
}

TEST_F(JournalCommandLine, SummaryOfThePeriodInTheVenuesDays) {
    fill();
    // The expected totals from the journal's own reader over the same local days.
    testutil::ScopedTimeZone zone("MSK-3");
    const auto expected = [&](const QDate& first, const QDate& last) {
        JournalReader reader(folder);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        EXPECT_TRUE(JournalCsv::writeSummary(reader, first.startOfDay(),
                                             last.addDays(1).startOfDay(), buffer));
        return buffer.data();
    };
    const struct {
        QStringList args;
        QDate first, last;
        int kioskLines;
    } cases[] = {
        {{"--summary", "--from", "2026-03-02", "--to", "2026-03-02"},
         {2026, 3, 2},
         {2026, 3, 2},
         1},
        {{"--summary", "--to", "2026-03-02", "--from", "2026-03-01"},
         {2026, 3, 1},
         {2026, 3, 2},
         2},
        {{"--summary", "--from", "2026-03-03", "--to", "2026-03-03"},
         {2026, 3, 3},
         {2026, 3, 3},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const ConsoleRun run = console(dir.path(), c.args);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(run.out, expected(c.first, c.last));
        EXPECT_EQ(run.out.count("\r\n"), 1 + c.kioskLines + 1);
    }

    // The whole journal: every order in "Все киоски".
    const ConsoleRun all = console(dir.path(), {"--summary"});
    EXPECT_EQ(all.exitCode, 0) << all.err.toStdString();
    EXPECT_TRUE(all.out.startsWith(JournalCsv::summaryHeader()));
    EXPECT_TRUE(all.out.contains("\r\nВсе киоски,3,1079.99,")) << all.out.toStdString();
    EXPECT_EQ(all.out.count("\r\n"), 4) << all.out.toStdString();
}

TEST_F(JournalCommandLine, WrongArgumentsAndUnreadableJournalsExitWith2) {
    fill();
    const struct {
        QStringList args;
        const char* says;
    } wrong[] = {
        {{"--csv", "--from", "2026-02-30"}, "2026-02-30"},
        {{"--csv", "--to", "03.03.2026"}, "03.03.2026"},
        {{"--csv", "--from"}, "--from"},
        {{"--from", "2026-03-01"}, "--csv"},
        {{"--csv", "--summary"}, "--csv"},
        {{"--csv", "--all"}, "--all"},
        {{"--csv", "--from", "2026-03-03", "--to", "2026-03-02"}, "--from"},
    };
    for (const auto& c : wrong) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const ConsoleRun run = console(dir.path(), c.args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(c.says)) << run.err.toStdString();
    }
}

TEST_F(JournalCommandLine, AJournalThatCannotBeReadExitsWith2) {
    const struct {
        const char* what;
        QByteArray file; // empty: no journal at all
    } cases[] = {
        {"no journal", {}},
        {"not SQLite", QByteArray("this is no database, only text\n").repeated(200)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString file = OrderJournal::fileName(folder);
        QFile::remove(file);
        if (!c.file.isEmpty())
            testutil::writeFile(file, c.file);
        for (const char* command : {"--csv", "--summary"}) {
            const ConsoleRun run = console(dir.path(), {command});
            EXPECT_EQ(run.exitCode, 2) << command;
            EXPECT_TRUE(run.out.isEmpty()) << command << run.out.toStdString();
            EXPECT_FALSE(run.err.isEmpty()) << command;
        }
    }
}

// With [Journal] Driver=QPSQL in the console's ini the command reads the shared journal:
// the orders of every console, and a server that is away is an error, never the file.
TEST(JournalCommandLineShared, ReadsEveryConsolesOrdersFromTheServer) {
    SharedJournal shared;
    if (!shared.available())
        GTEST_SKIP() << shared.error().toStdString();
    ASSERT_TRUE(shared.start()) << shared.error().toStdString();
    QTemporaryDir appData;
    QTemporaryDir other;
    ASSERT_TRUE(QDir(appData.path()).mkpath(QStringLiteral("Selvane")));
    const QString folder = appData.filePath(QStringLiteral("Selvane"));
    ASSERT_TRUE(shared.record(folder, QStringLiteral("Касса 1"),
                              {order(QStringLiteral("Киоск 1"), utc(1, 7, 0), 250, "125")}))
        << shared.error().toStdString();
    ASSERT_TRUE(shared.record(other.path(), QStringLiteral("Касса 2"),
                              {order(QStringLiteral("Киоск 7"), utc(1, 8, 0), 99.99, "126")}))
        << shared.error().toStdString();
    const JournalSource source = shared.source(QStringLiteral("Касса 1"));
    testutil::writeFile(folder + QStringLiteral("/orvanta-console.ini"),
                        QStringLiteral("[Journal]\nDriver=QPSQL\nHost=%1\nPort=%2\nDatabase=%3\n"
                                       "User=%4\nConsole=Касса 1\n")
                            .arg(source.host)
                            .arg(source.port)
                            .arg(source.database, source.user)
                            .toUtf8());

    const ConsoleRun csv = console(appData.path(), {"--csv"});
    EXPECT_EQ(csv.exitCode, 0) << csv.err.toStdString();
    EXPECT_EQ(csv.out, kHeader + "2026-03-01T11:00:00+03:00,Киоск 7,126,99.99,open,,,0\r\n" +
                           "2026-03-01T10:00:00+03:00,Киоск 1,125,250.00,open,,,0\r\n");
    const ConsoleRun summary = console(appData.path(), {"--summary"});
    EXPECT_EQ(summary.exitCode, 0) << summary.err.toStdString();
    EXPECT_TRUE(summary.out.contains("\r\nВсе киоски,2,349.99,")) << summary.out.toStdString();

    ASSERT_TRUE(shared.server().stop()) << shared.error().toStdString();
    for (const char* command : {"--csv", "--summary"}) {
        const ConsoleRun run = console(appData.path(), {command});
        EXPECT_EQ(run.exitCode, 2) << command;
        EXPECT_TRUE(run.out.isEmpty()) << command << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("общий журнал на сервере %1:%2")
                                         .arg(source.host)
                                         .arg(source.port)
                                         .toUtf8()))
            << command << run.err.toStdString();
    }
}

} // namespace

// The kiosk simulator is the console's counterpart in the kiosk link tests and the demo,
// so its side of the protocol is checked here over a plain socket, without the console.
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int WaitMs = 10000;

QString simProgram();

// A console stand-in: one TCP connection that reads CR LF lines.
class LineClient {
public:
    LineClient() = default;
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;
    ~LineClient() { close(); }

    bool connectTo(int port) {
        close();
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(quint16(port));
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close();
            return false;
        }
        return true;
    }

    void close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_buffer.clear();
        m_eof = false;
    }

    void sendLine(const QByteArray& line) {
        const QByteArray bytes = line + "\r\n";
        ASSERT_EQ(::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL),
                  ssize_t(bytes.size()));
    }

    // The next line without its CR LF; none when the time runs out or the peer closes.
    std::optional<QByteArray> readLine(int ms = WaitMs) {
        if (!fill([this] { return m_buffer.contains("\r\n"); }, ms))
            return std::nullopt;
        const qsizetype end = m_buffer.indexOf("\r\n");
        const QByteArray line = m_buffer.first(end);
        m_buffer.remove(0, end + 2);
        return line;
    }

    QByteArray readBytes(qsizetype count, int ms = WaitMs) {
        fill([this, count] { return m_buffer.size() >= count; }, ms);
        const QByteArray bytes = m_buffer.first(qMin(count, m_buffer.size()));
        m_buffer.remove(0, bytes.size());
        return bytes;
    }

    // True when the peer closes the connection within ms (data before the end is kept).
    bool waitClosed(int ms = WaitMs) {
        fill([] { return false; }, ms);
        return m_eof;
    }

    // Whatever arrives within ms, for checks that nothing does.
    QByteArray drain(int ms) {
        fill([] { return false; }, ms);
        return std::exchange(m_buffer, {});
    }

private:
    template <typename Done> bool fill(Done done, int ms) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (m_eof || left.count() <= 0)
                return false;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0)
                continue;
            char chunk[65536];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                m_eof = true;
            else
                m_buffer.append(chunk, n);
        }
        return true;
    }

    int m_fd = -1;
    QByteArray m_buffer;
    bool m_eof = false;
};

// One kiosk-sim process; its standard output is searched for lines as they come.
class SimProcess {
public:
    ~SimProcess() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Starts the simulator and waits for its ready line; the kiosks' ports are read from
    // the output, so that the system can choose them (--port 0).
    bool start(const QStringList& args, const QString& workingDir = QString()) {
        const QString program = simProgram();
        if (!QFile::exists(program)) {
            ADD_FAILURE() << "kiosk-sim is not built: " << program.toStdString();
            return false;
        }
        m_process.setWorkingDirectory(workingDir);
        m_process.start(program, args);
        if (!m_process.waitForStarted(WaitMs))
            return false;
        const auto ready = expect(QStringLiteral("ready: "));
        if (!ready)
            return false;
        static const QRegularExpression listening(
            QStringLiteral("\\[(\\d+)\\] listening on 127\\.0\\.0\\.1:(\\d+)"));
        for (auto it = listening.globalMatch(m_output); it.hasNext();) {
            const auto m = it.next();
            m_ports[m.captured(1).toInt()] = m.captured(2).toInt();
        }
        return true;
    }

    int port(int kiosk) const { return m_ports.at(kiosk); }

    // QProcess writes from its event loop or its waits; the tests poll the socket instead,
    // so the command is pushed into the pipe at once.
    void command(const QByteArray& line) {
        m_process.write(line + '\n');
        m_process.waitForBytesWritten(WaitMs);
    }

    // The first output line matching pattern after the previous match; the search goes on
    // after it, so that a step never matches the line of an earlier one.
    std::optional<QString> expect(const QString& pattern, int ms = WaitMs) {
        const QRegularExpression re(QStringLiteral("^.*") + pattern + QStringLiteral(".*$"),
                                    QRegularExpression::MultilineOption);
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (true) {
            const auto m = re.match(m_output, m_searchFrom);
            if (m.hasMatch()) {
                m_searchFrom = m.capturedEnd();
                return m.captured();
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || m_process.state() == QProcess::NotRunning) {
                ADD_FAILURE() << "no output line matches " << pattern.toStdString() << "\noutput:\n"
                              << m_output.toStdString();
                return std::nullopt;
            }
            if (m_process.waitForReadyRead(int(qMin<qint64>(left.count(), 100))))
                m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        }
    }

    // A command followed by an echo mark that is waited for: the simulator has carried
    // out the command before the test goes on with the socket, which is another channel.
    bool run(const QByteArray& line) {
        command(line);
        command("echo done: " + line);
        return expect(QStringLiteral(" done: ") +
                      QRegularExpression::escape(QString::fromUtf8(line)) + QStringLiteral("$"))
            .has_value();
    }

    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QString m_output;
    qsizetype m_searchFrom = 0;
    std::map<int, int> m_ports;
};

// The console's decoding of an escaped value, written independently of the simulator.
QString percentDecode(const QByteArray& value) {
    const QString text = QString::fromUtf8(value);
    QString out;
    const auto hex = [](QChar c) {
        return c.isDigit() || QStringLiteral("abcdefABCDEF").contains(c);
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 2 < text.size() && hex(text[i + 1]) && hex(text[i + 2])) {
            out += QChar(text.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

QString simProgram() {
    if (!qEnvironmentVariableIsEmpty("ORVANTA_BINARY_DIR"))
        return testutil::binaryPath(QStringLiteral("tools/kiosk-sim/kiosk-sim"));
    // Run by hand from its build folder (tests/kiosk) without the ctest environment.
    return QCoreApplication::applicationDirPath() +
           QStringLiteral("/../../tools/kiosk-sim/kiosk-sim");
}

// A sample as the simulator ships it (compiled in), so that the check holds for the
// binary under test, not for a file next to it.
QString sampleText(const char* name) {
    QProcess sim;
    sim.start(simProgram(), {"--sample", name});
    if (!sim.waitForFinished(WaitMs) || sim.exitCode() != 0) {
        ADD_FAILURE() << "kiosk-sim --sample " << name << " failed";
        return {};
    }
    return QString::fromUtf8(sim.readAllStandardOutput());
}

TEST(KioskSim, AnswersTheConsoleAndTracesEveryLine) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--port", "0", "--version", "Kiosk 14.9.1.2"}));
    LineClient console;
    ASSERT_TRUE(console.connectTo(sim.port(1)));

    // Lines that get no answer are followed by one that does: a stray answer would show
    // up as the first line read for that step.
    struct Step {
        const char* customer; // command on the simulator's standard input
        const char* sent;     // line the console sends
        std::vector<QByteArray> answers;
    };
    const Step steps[] = {
        {nullptr, "GET_VERSION", {"VERSION=Kiosk 14.9.1.2"}},
        {nullptr, "GET_WORK_STATE", {"SESSION_STOP"}},
        {"start", nullptr, {"SESSION_START"}},
        {nullptr, "GET_WORK_STATE", {"SESSION_START"}},
        {"finish", nullptr, {"ORDERING_FINISH"}},
        {nullptr, "GET_WORK_STATE", {"ORDERING_FINISH"}},
        {nullptr, "ORDER_RETURN", {"PAY_END", "SESSION_START"}},
        {nullptr, "GET_WORK_STATE", {"SESSION_START"}},
        {nullptr, "ORDER_CANCEL", {"PAY_END", "SESSION_STOP"}},
        {"finish", nullptr, {"ORDERING_FINISH"}},
        {nullptr, "ORDER_CONFIRM", {"PAY_END", "SESSION_STOP"}},
        {nullptr, "KEEP_ALIVE", {}},
        {nullptr, "get_version", {}},
        {nullptr, "GET_VERSION ", {}},
        {nullptr, "GET_WORK_STATE", {"SESSION_STOP"}},
        {"end", nullptr, {"PAY_END"}},
        {"version Kiosk 13.0.0.0", nullptr, {}},
        {nullptr, "GET_VERSION", {"VERSION=Kiosk 13.0.0.0"}},
    };
    for (const Step& step : steps) {
        const QString what = QString::fromLatin1(step.customer ? step.customer : step.sent);
        SCOPED_TRACE(what.toStdString());
        if (step.customer) {
            ASSERT_TRUE(sim.run(step.customer));
        }
        if (step.sent) {
            console.sendLine(step.sent);
            // Timestamp, kiosk number and the line exactly as received.
            ASSERT_TRUE(sim.expect(QStringLiteral("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[1\\] recv ") +
                                   QRegularExpression::escape(QString::fromLatin1(step.sent)) +
                                   QStringLiteral("$")));
        }
        for (const QByteArray& answer : step.answers)
            EXPECT_EQ(console.readLine(), answer);
    }
}

TEST(KioskSim, PayEscapesControlCharactersAndPercentOnly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // CR, LF, "%", a tab, a C0 and a C1 control must be escaped; Cyrillic, "№" and "é"
    // travel as UTF-8, or the console would decode them into Latin-1 characters.
    testutil::writeFile(
        dir.filePath("order.xml"),
        QString::fromUtf8("<order>\r\n<name>50%</name>\t\x01Жé\u0085№\n</order>").toUtf8());
    testutil::writeFile(dir.filePath("invoice.txt"), QByteArray("Чек\r\n100%"));
    testutil::writeFile(dir.filePath("latin1.txt"), QByteArray("caf\xe9"));

    SimProcess sim;
    ASSERT_TRUE(sim.start({"--port", "0"}, dir.path()));
    LineClient console;
    ASSERT_TRUE(console.connectTo(sim.port(1)));
    ASSERT_TRUE(sim.expect(QStringLiteral("\\[1\\] connected from")));

    // File names relative to the working folder; the sum goes out as written.
    sim.command("pay 12,50 order.xml invoice.txt");
    EXPECT_EQ(console.readLine(), QByteArray("ORDER_SUM=12,50"));
    EXPECT_EQ(console.readLine(), QString::fromUtf8("INVOICE=Чек%0D%0A100%25").toUtf8());
    EXPECT_EQ(console.readLine(),
              QString::fromUtf8("ORDER_XML=<order>%0D%0A<name>50%25</name>%09%01Жé%85№%0A</order>")
                  .toUtf8());
    EXPECT_EQ(console.readLine(), QByteArray("PAY_BLOCK"));

    // A file that is not UTF-8 is refused rather than sent with replacement characters.
    sim.command("pay 1 latin1.txt");
    ASSERT_TRUE(sim.expect(QStringLiteral("error: pay: .*latin1.txt is not UTF-8")));
    sim.command("pay 2 missing.xml");
    ASSERT_TRUE(sim.expect(QStringLiteral("error: pay: .*missing.xml")));
    EXPECT_TRUE(console.drain(200).isEmpty());

    // Without files: the shipped samples, compiled in, decoding to the files' text.
    sim.command("pay");
    EXPECT_EQ(console.readLine(), QByteArray("ORDER_SUM=730.00"));
    const auto invoice = console.readLine();
    const auto order = console.readLine();
    ASSERT_TRUE(invoice && order);
    EXPECT_EQ(console.readLine(), QByteArray("PAY_BLOCK"));
    ASSERT_TRUE(invoice->startsWith("INVOICE=") && order->startsWith("ORDER_XML="));
    for (const QByteArray* line : {&*invoice, &*order}) {
        EXPECT_FALSE(line->contains('\n') || line->contains('\r') || line->contains('\0'));
        QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
        utf8(*line);
        EXPECT_FALSE(utf8.hasError());
    }
    EXPECT_EQ(percentDecode(invoice->sliced(8)), sampleText("invoice"));
    EXPECT_EQ(percentDecode(order->sliced(10)), sampleText("order"));
}

// The sample order is what demos print: it must carry every kind of line and add up.
TEST(KioskSim, SampleOrderIsCompleteAndAddsUp) {
    QXmlStreamReader xml(sampleText("order"));
    std::map<QString, QString> values; // path -> text of the elements outside the items
    std::vector<std::map<QString, QString>> items;
    QStringList path;
    QString text;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            path.append(xml.name().toString());
            text.clear();
            if (path.join('/') == QLatin1String("order/invoice/item"))
                items.emplace_back();
        } else if (xml.isCharacters()) {
            text += xml.text();
        } else if (xml.isEndElement()) {
            if (path.size() == 4 && path[2] == QLatin1String("item"))
                items.back()[path[3]] = text;
            else
                values[path.join('/')] = text;
            path.removeLast();
            text.clear();
        }
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();

    const auto number = [](const QString& s) { return s.toDouble(); };
    int dividers = 0, texts = 0, discounted = 0, cyrillic = 0;
    double total = 0;
    for (auto& item : items) {
        const QString type = item["type"].toUpper();
        if (type == QLatin1String("DIV")) {
            ++dividers;
        } else if (type == QLatin1String("TEXT")) {
            texts += item["text"].isEmpty() ? 0 : 1;
        } else {
            const double full = number(item["value"]) * number(item["price"]);
            total += number(item["totalprice"]);
            discounted += number(item["totalprice"]) < full ? 1 : 0;
            cyrillic += item["shortname"].contains(QRegularExpression("[А-Яа-я]")) ? 1 : 0;
        }
    }
    EXPECT_GE(dividers, 1);
    EXPECT_GE(texts, 1);
    EXPECT_GE(discounted, 1);
    EXPECT_GE(cyrillic, 1);
    const double adjustment = number(values["order/invoice/adjustment"]);
    const double price = number(values["order/invoice/price"]);
    EXPECT_GT(adjustment, 0);
    EXPECT_DOUBLE_EQ(total + adjustment, price);
    EXPECT_DOUBLE_EQ(number(values["order/invoice/payed"]) - price,
                     number(values["order/invoice/change"]));
    EXPECT_TRUE(values["order/invoice/header"].contains('\n'));
    EXPECT_TRUE(values["order/invoice/footer"].contains('\n'));
    EXPECT_TRUE(QRegularExpression("T\\d\\d:\\d\\d:\\d\\d([+-]\\d\\d:\\d\\d|Z)$")
                    .match(values["order/datetime"])
                    .hasMatch());
    for (const char* key :
         {"order/name", "order/kiosk/name", "order/kiosk/organization/name",
          "order/kiosk/organization/inn", "order/shipment/shortname", "order/shipment/address"})
        EXPECT_FALSE(values[key].isEmpty()) << key;
}

TEST(KioskSim, CommandsNameTheirKiosks) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--port", "0", "--count", "3"}));
    LineClient consoles[3];
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(consoles[i].connectTo(sim.port(i + 1)));
        ASSERT_TRUE(sim.expect(QStringLiteral("\\[%1\\] connected from").arg(i + 1)));
    }

    consoles[1].sendLine("GET_VERSION");
    ASSERT_TRUE(sim.expect(QStringLiteral("\\[2\\] recv GET_VERSION$")));
    EXPECT_EQ(consoles[1].readLine(), QByteArray("VERSION=Kiosk 14.2.0.7"));

    sim.command("2 start");
    sim.command("2-3 send B");
    sim.command("all send C");
    sim.command("send D"); // no number: every kiosk
    const std::vector<QByteArray> expected[3] = {
        {"C", "D"}, {"SESSION_START", "B", "C", "D"}, {"B", "C", "D"}};
    for (int i = 0; i < 3; ++i) {
        for (const QByteArray& line : expected[i])
            EXPECT_EQ(consoles[i].readLine(), line) << "kiosk " << i + 1;
    }

    sim.command("4 start");
    EXPECT_TRUE(sim.expect(QStringLiteral("error: 4 start: no kiosk 4")));
    sim.command("2 sleep 10");
    EXPECT_TRUE(sim.expect(QStringLiteral("error: .*sleep takes no kiosk number")));
}

TEST(KioskSim, DropSilentOfflineAndReplacedConnections) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--port", "0"}));
    const int port = sim.port(1);
    LineClient console;
    ASSERT_TRUE(console.connectTo(port));

    ASSERT_TRUE(sim.run("silent"));
    console.sendLine("GET_VERSION");
    ASSERT_TRUE(sim.expect(QStringLiteral("\\[1\\] recv GET_VERSION$")));
    console.sendLine("ORDER_CONFIRM");
    ASSERT_TRUE(sim.expect(QStringLiteral("\\[1\\] recv ORDER_CONFIRM$")));
    EXPECT_TRUE(console.drain(300).isEmpty());
    ASSERT_TRUE(sim.run("talk"));
    console.sendLine("GET_WORK_STATE");
    EXPECT_EQ(console.readLine(), QByteArray("SESSION_STOP"));

    // drop: what was sent before it still arrives, then the end of the connection; the
    // kiosk keeps listening.
    sim.command("send LAST");
    sim.command("drop");
    EXPECT_EQ(console.readLine(), QByteArray("LAST"));
    EXPECT_TRUE(console.waitClosed());
    ASSERT_TRUE(sim.expect(QStringLiteral("\\[1\\] disconnected")));
    ASSERT_TRUE(console.connectTo(port));
    console.sendLine("GET_VERSION");
    EXPECT_EQ(console.readLine(), QByteArray("VERSION=Kiosk 14.2.0.7"));

    // A second connection is served and the first one closed.
    LineClient second;
    ASSERT_TRUE(second.connectTo(port));
    EXPECT_TRUE(console.waitClosed());
    second.sendLine("GET_VERSION");
    EXPECT_EQ(second.readLine(), QByteArray("VERSION=Kiosk 14.2.0.7"));

    sim.command("offline");
    EXPECT_TRUE(second.waitClosed());
    ASSERT_TRUE(sim.expect(QStringLiteral("\\[1\\] offline")));
    EXPECT_FALSE(console.connectTo(port));
    sim.command("online");
    ASSERT_TRUE(sim.expect(QStringLiteral("\\[1\\] listening on 127\\.0\\.0\\.1:%1").arg(port)));
    ASSERT_TRUE(console.connectTo(port));
    console.sendLine("GET_WORK_STATE");
    EXPECT_EQ(console.readLine(), QByteArray("SESSION_STOP"));
}

TEST(KioskSim, RawSendWriteAndFloodPutExactBytesOnTheLine) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--port", "0"}));
    LineClient console;
    ASSERT_TRUE(console.connectTo(sim.port(1)));
    ASSERT_TRUE(sim.expect(QStringLiteral("\\[1\\] connected from")));

    sim.command("send a\\x00b\\xFF\\\\%zz pay_block ");
    sim.command("write PAY_");
    sim.command("write BLOCK\\r\\nX\\nY\\r\\n");
    sim.command("send");
    EXPECT_EQ(console.readLine(), QByteArray("a\0b\xff\\%zz pay_block ", 19));
    EXPECT_EQ(console.readLine(), QByteArray("PAY_BLOCK"));
    EXPECT_EQ(console.readLine(), QByteArray("X\nY"));
    EXPECT_EQ(console.readLine(), QByteArray(""));

    sim.command("send \\q");
    EXPECT_TRUE(sim.expect(QStringLiteral("error: send \\\\q: unknown escape")));

    // A line without end far beyond any sane size, then a normal line.
    sim.command("flood 16M");
    sim.command("send END");
    const qsizetype size = 16 * 1024 * 1024;
    const QByteArray flood = console.readBytes(size);
    ASSERT_EQ(flood.size(), size);
    EXPECT_EQ(flood.count('x'), size);
    EXPECT_EQ(console.readLine(), QByteArray("END"));
}

TEST(KioskSim, ScriptPlaysACustomerAndQuits) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString script = dir.filePath("customer.txt");
    const QString log = dir.filePath("sim.log");
    testutil::writeFile(script, "# one customer\n"
                                "wait-connected 10000\n"
                                "start\n"
                                "wait-recv ORDER_RETURN|ORDER_CONFIRM 10000\n"
                                "echo confirmed\n"
                                "quit\n");
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--port", "0", "--script", script, "--log", log}));
    LineClient console;
    ASSERT_TRUE(console.connectTo(sim.port(1)));
    EXPECT_EQ(console.readLine(), QByteArray("SESSION_START"));
    // Only one of the words waited for releases the script.
    console.sendLine("KEEP_ALIVE");
    ASSERT_TRUE(sim.expect(QStringLiteral("\\[1\\] recv KEEP_ALIVE$")));
    EXPECT_FALSE(console.waitClosed(300));
    console.sendLine("ORDER_CONFIRM");
    EXPECT_EQ(console.readLine(), QByteArray("PAY_END"));
    EXPECT_EQ(console.readLine(), QByteArray("SESSION_STOP"));
    EXPECT_TRUE(sim.expect(QStringLiteral(" confirmed$")));
    EXPECT_TRUE(console.waitClosed());
    ASSERT_TRUE(sim.process().waitForFinished(WaitMs));
    EXPECT_EQ(sim.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.process().exitCode(), 0);
    const QString logged = QString::fromUtf8(testutil::readFile(log));
    EXPECT_TRUE(logged.contains("[1] recv ORDER_CONFIRM")) << logged.toStdString();

    // A faulty script is refused before any kiosk listens, naming file and line.
    testutil::writeFile(script, "start\n2 start\nfly\n");
    QProcess bad;
    bad.start(simProgram(), {"--port", "0", "--script", script});
    ASSERT_TRUE(bad.waitForFinished(WaitMs));
    EXPECT_EQ(bad.exitCode(), 2);
    const QString errors = QString::fromUtf8(bad.readAllStandardError());
    EXPECT_TRUE(errors.contains("customer.txt:2: no kiosk 2")) << errors.toStdString();
    EXPECT_TRUE(errors.contains("customer.txt:3: unknown command")) << errors.toStdString();
    EXPECT_FALSE(bad.readAllStandardOutput().contains("listening"));
}

} // namespace

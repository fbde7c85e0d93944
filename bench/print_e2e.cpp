// "Печать" in an order window to the printer, for an order of 50 sale lines:
//  - printToQueue: from the print command to the job being listed by the print server
//    (a cupsd of the benchmark's own, one raw queue that prints into /dev/null);
//  - printToSerial: from the print command to the last byte of the receipt arriving at
//    the far end of a socat serial line pair;
//  - printToNetwork: from the print command to the last byte of the receipt arriving at a
//    network printer on loopback that answers the status queries (DLE EOT 1, 2, 4).
// What a status query costs, on an open connection to a printer that answers and to one
// that stays silent (statusAnswering, statusSilent), and a receipt of a few bytes to each
// (tinyReceiptAnswering, tinyReceiptSilent: connect, ask, send, ask again, close).
// How long the operator's thread is held per receipt: StartOrderReceipt composes on it and
// hands the bytes to the spooler (mainThreadNetwork; mainThreadSlowPrinter, while the
// worker is busy with a printer that takes about 6 KB a second). The goal is under 5 ms
// whatever the printer; "max_ms" is the longest single call.
// Needs cupsd/lpadmin and socat; a part whose tool is missing is skipped with a message.
#include "common/FormatSettings.h"
#include "common/GlobConst.h"
#include "kiosk/ClientThread.h"
#include "platform/Error.h"
#include "printing/EscPosPrinter.h"
#include "printing/EscPosRoute.h"
#include "printing/OrderDocument.h"
#include "printing/PrintSettings.h"
#include "printing/PrinterFactory.h"
#include "printing/PrinterStatus.h"
#include "printing/ReceiptPrint.h"
#include "printing/ReceiptSpooler.h"
#include "printing/XMLUtils.h"
#include "ui/OrderConfirm.h"

#include "support/BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <cups/cups.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString findTool(const QString& name) {
    return QStandardPaths::findExecutable(
        name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin")});
}

// Waits as the operator's thread does: its events (the spooler's progress and outcome)
// are handled meanwhile, so that they do not pile up over the iterations.
bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents();
        QThread::usleep(200);
    }
    return true;
}

// The receipt of the 50-line order as the ESC/POS printer gets it, composed without a port.
QByteArray fiftyLineStream() {
    auto document = CreateXMLDocument();
    document->LoadXML(bench::fiftyLineDocument());
    auto output = std::make_unique<MemoryEscPosOutput>();
    MemoryEscPosOutput* memory = output.get();
    TESCPOSPrinter printer(std::move(output));
    PrintOrderDocument(&printer, document.get());
    return memory->data();
}

// Tells the status queries (DLE EOT 1, 2, 4) in what a printer receives from the receipt's
// own bytes, across reads.
class QueryFilter {
public:
    // Feeds bytes; returns how many of them belong to the receipt and counts the queries
    // completed.
    long long feed(const char* data, qsizetype size) {
        long long receipt = 0;
        for (qsizetype i = 0; i < size; ++i)
            receipt += take(static_cast<quint8>(data[i]));
        return receipt;
    }
    // What is held at the end of a connection belongs to the receipt after all.
    long long flush() { return std::exchange(m_held, 0); }
    int takeQueries() { return std::exchange(m_queries, 0); }

private:
    long long take(quint8 byte) {
        if (m_held == 2 && (byte == 1 || byte == 2 || byte == 4)) {
            m_held = 0;
            ++m_queries;
            return 0;
        }
        if (m_held == 1 && byte == 0x04) {
            m_held = 2;
            return 0;
        }
        const long long released = std::exchange(m_held, 0);
        if (byte == 0x10) {
            m_held = 1;
            return released;
        }
        return released + 1;
    }

    long long m_held = 0; // 0, 1: DLE seen, 2: DLE EOT seen
    int m_queries = 0;
};

// How fast a printer takes what it is sent.
struct PrinterPace {
    int chunk = 65536; // bytes per read
    int pauseMs = 0;   // between reads
};

// A network receipt printer on 127.0.0.1: takes one connection at a time and reads all of
// it; one that answers sends a healthy status byte (0x12: online, cover shut, paper in) for
// every DLE EOT query. A slow one reads chunk bytes every pauseMs, and its small receive
// buffer makes the console's writes wait as they would for a printer's full buffer.
class LoopbackPrinter {
public:
    explicit LoopbackPrinter(bool answers, PrinterPace pace = {})
        : m_answers(answers)
        , m_pace(pace) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listener < 0)
            return;
        const int one = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (m_pace.pauseMs > 0) {
            // Taken over by every accepted connection.
            const int small = 4096;
            ::setsockopt(m_listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 8) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ::close(m_listener);
            m_listener = -1;
            return;
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }

    ~LoopbackPrinter() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listener >= 0)
            ::close(m_listener);
    }

    LoopbackPrinter(const LoopbackPrinter&) = delete;
    LoopbackPrinter& operator=(const LoopbackPrinter&) = delete;

    bool listening() const { return m_port > 0; }
    int port() const { return m_port; }
    // Bytes of receipts received, the status queries not counted.
    long long receiptBytes() const { return m_receipt.load(); }
    long long queries() const { return m_queries.load(); }
    long long connections() const { return m_connections.load(); }

private:
    void serve() {
        while (!m_stop) {
            pollfd pfd{m_listener, POLLIN, 0};
            if (::poll(&pfd, 1, 10) <= 0)
                continue;
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            ++m_connections;
            serveConnection(client);
            ::close(client);
        }
    }

    void serveConnection(int client) {
        QueryFilter filter;
        std::vector<char> buffer(static_cast<size_t>(m_pace.chunk));
        while (!m_stop) {
            pollfd pfd{client, POLLIN, 0};
            if (::poll(&pfd, 1, 10) <= 0)
                continue;
            const ssize_t n = ::read(client, buffer.data(), buffer.size());
            if (n <= 0)
                break;
            m_receipt += filter.feed(buffer.data(), n);
            const int asked = filter.takeQueries();
            m_queries += asked;
            if (m_answers)
                for (int i = 0; i < asked; ++i) {
                    const char healthy = 0x12;
                    if (::write(client, &healthy, 1) != 1)
                        break;
                }
            if (m_pace.pauseMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(m_pace.pauseMs));
        }
        m_receipt += filter.flush();
    }

    const bool m_answers;
    const PrinterPace m_pace;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<long long> m_receipt{0};
    std::atomic<long long> m_queries{0};
    std::atomic<long long> m_connections{0};
    std::thread m_thread;
};

// The ESC/POS printer on the network at port of 127.0.0.1, asked for its status.
void useNetworkPrinter(int port) {
    PrinterType = 3;
    EscPosConnection = ecNetwork;
    EscPosHost = QStringLiteral("127.0.0.1");
    EscPosPort = port;
    EscPosStatus = true;
    PrintSettingsConfigured = true;
}

// A name never asked before, so that a silent printer is asked in every iteration: the
// console stops asking one after two unanswered queries.
QString freshStatusKey() {
    static int n = 0;
    return QStringLiteral("bench-printer-%1").arg(++n);
}

// A print scheduler in a temporary folder with one raw queue "Receipt".
class PrintServer {
public:
    ~PrintServer() {
        if (m_cupsd.state() != QProcess::NotRunning) {
            m_cupsd.terminate();
            if (!m_cupsd.waitForFinished(5000))
                m_cupsd.kill();
            m_cupsd.waitForFinished(2000);
        }
    }

    QString start() {
        for (const char* tool : {"cupsd", "lpadmin"})
            if (findTool(QString::fromLatin1(tool)).isEmpty())
                return QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool));
        const QString root = m_dir.path();
        QFile::setPermissions(root, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                        QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                        QFileDevice::ExeOther);
        for (const char* sub : {"spool", "tmp", "cache", "state", "logs", "bin"})
            QDir(root).mkpath(QString::fromLatin1(sub));
        for (const char* sub : {"filter", "backend", "daemon", "cgi-bin", "monitor", "notifier"})
            QFile::link(QStringLiteral("/usr/lib/cups/") + QString::fromLatin1(sub),
                        root + QStringLiteral("/bin/") + QString::fromLatin1(sub));
        const QString socket = root + QStringLiteral("/cups.sock");
        writeText(root + QStringLiteral("/cups-files.conf"),
                  QStringLiteral("ServerRoot %1\nRequestRoot %1/spool\nTempDir %1/tmp\n"
                                 "CacheDir %1/cache\nStateDir %1/state\nServerBin %1/bin\n"
                                 "DataDir /usr/share/cups\nErrorLog %1/logs/error_log\n"
                                 "AccessLog %1/logs/access_log\nPageLog %1/logs/page_log\n"
                                 "FileDevice Yes\n")
                      .arg(root));
        writeText(root + QStringLiteral("/cupsd.conf"),
                  QStringLiteral("Listen %1\nLogLevel warn\nWebInterface No\nBrowsing No\n"
                                 "DefaultAuthType None\nMaxJobs 0\nPreserveJobHistory Yes\n"
                                 "<Location />\nOrder allow,deny\nAllow all\n</Location>\n"
                                 "<Policy default>\n<Limit All>\nOrder deny,allow\n</Limit>\n"
                                 "</Policy>\n")
                      .arg(socket));
        m_cupsd.start(findTool(QStringLiteral("cupsd")),
                      {QStringLiteral("-f"), QStringLiteral("-c"),
                       root + QStringLiteral("/cupsd.conf"), QStringLiteral("-s"),
                       root + QStringLiteral("/cups-files.conf")});
        if (!m_cupsd.waitForStarted(5000))
            return QStringLiteral("cupsd did not start");
        qputenv("CUPS_SERVER", socket.toUtf8());
        cupsSetServer(socket.toUtf8().constData());
        const bool up = waitFor(
            [&] {
                http_t* http = httpConnect2(socket.toUtf8().constData(), 0, nullptr, AF_LOCAL,
                                            HTTP_ENCRYPTION_NEVER, 1, 200, nullptr);
                if (http)
                    httpClose(http);
                return http != nullptr || m_cupsd.state() != QProcess::Running;
            },
            10000);
        if (!up || m_cupsd.state() != QProcess::Running)
            return QStringLiteral("cupsd did not come up");
        QProcess lpadmin;
        lpadmin.start(findTool(QStringLiteral("lpadmin")),
                      {QStringLiteral("-p"), QStringLiteral("Receipt"), QStringLiteral("-E"),
                       QStringLiteral("-v"), QStringLiteral("file:///dev/null")});
        if (!lpadmin.waitForFinished(20000) || lpadmin.exitCode() != 0)
            return QStringLiteral("lpadmin failed");
        return {};
    }

    static int jobCount() {
        cups_job_t* list = nullptr;
        const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &list, "Receipt", 0, CUPS_WHICHJOBS_ALL);
        cupsFreeJobs(count, list);
        return count;
    }

private:
    static void writeText(const QString& path, const QString& text) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(text.toUtf8());
    }

    QTemporaryDir m_dir;
    QProcess m_cupsd;
};

// The order window of one kiosk record that holds the order, without a kiosk link.
struct OrderWindow {
    OrderWindow() {
        device->Name = QStringLiteral("Киоск 1");
        device->OrderXML = bench::fiftyLineDocument();
        window->SetDevice(device);
        window->PrepareForShow();
    }
    std::shared_ptr<TDeviceItem> device = TDeviceItem::Create();
    std::unique_ptr<TfrmOrderConfirm> window = std::make_unique<TfrmOrderConfirm>(nullptr);
};

void printToQueue(benchmark::State& state) {
    PrintServer server;
    const QString missing = server.start();
    if (!missing.isEmpty()) {
        state.SkipWithError(missing.toUtf8().constData());
        return;
    }
    PrinterType = 0;
    PrintSettingsConfigured = true;
    PrinterName = QStringLiteral("Receipt");
    PrinterFontName = QStringLiteral("DejaVu Sans");
    PrinterFontSize = 10;
    OrderWindow order;
    for (auto _ : state) {
        const int before = PrintServer::jobCount();
        order.window->btnPrintClick(order.window->btnPrint);
        if (!waitFor([&] { return PrintServer::jobCount() > before; }, 10000)) {
            state.SkipWithError("the job did not reach the queue");
            return;
        }
    }
    ReceiptSpooler::instance().waitForIdle(10000);
}

void printToSerial(benchmark::State& state) {
    if (findTool(QStringLiteral("socat")).isEmpty()) {
        state.SkipWithError("socat is not installed");
        return;
    }
    QTemporaryDir dir;
    QProcess socat;
    const QString a = dir.filePath(QStringLiteral("a")), b = dir.filePath(QStringLiteral("b"));
    socat.start(findTool(QStringLiteral("socat")), {QStringLiteral("pty,raw,echo=0,link=") + a,
                                                    QStringLiteral("pty,raw,echo=0,link=") + b});
    if (!waitFor([&] { return QFileInfo::exists(a) && QFileInfo::exists(b); }, 5000)) {
        state.SkipWithError("socat did not make the pair");
        return;
    }
    QDir(dir.path()).mkpath(QStringLiteral("data/dosdevices"));
    DataFolder = dir.filePath(QStringLiteral("data")) + QLatin1Char('/');
    QFile::link(a, DataFolder + QStringLiteral("dosdevices/com7"));
    PrinterType = 3;
    EscPosConnection = ecSerial;
    ComPort = 7;
    ComRate = 115200;
    // The far end of the pair never answers, and the console stops asking such a printer
    // after two receipts: asking nothing is its steady state.
    EscPosStatus = false;
    PrintSettingsConfigured = true;

    // What one receipt sends, composed without a port.
    const qsizetype receiptBytes = fiftyLineStream().size();

    const int fd = ::open(QFile::encodeName(b).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    std::atomic<long long> received{0};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        char buffer[65536];
        while (!stop) {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 10) > 0) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n > 0)
                    received += n;
            }
        }
    });
    OrderWindow order;
    for (auto _ : state) {
        const long long target = received + receiptBytes;
        order.window->btnPrintClick(order.window->btnPrint);
        if (!waitFor([&] { return received >= target; }, 10000)) {
            state.SkipWithError("the receipt did not arrive");
            break;
        }
    }
    state.counters["bytes"] = static_cast<double>(receiptBytes);
    ReceiptSpooler::instance().waitForIdle(10000);
    stop = true;
    reader.join();
    ::close(fd);
    socat.terminate();
    socat.waitForFinished(3000);
}

void printToNetwork(benchmark::State& state) {
    LoopbackPrinter printer(true);
    if (!printer.listening()) {
        state.SkipWithError("no loopback listener");
        return;
    }
    const QByteArray stream = fiftyLineStream();
    // The printer counts the receipt's bytes apart from the queries; a receipt that held
    // a query's bytes itself would never add up.
    QueryFilter check;
    if (check.feed(stream.constData(), stream.size()) + check.flush() != stream.size()) {
        state.SkipWithError("the receipt holds bytes of a status query");
        return;
    }
    useNetworkPrinter(printer.port());
    OrderWindow order;
    for (auto _ : state) {
        const long long target = printer.receiptBytes() + stream.size();
        order.window->btnPrintClick(order.window->btnPrint);
        if (!waitFor([&] { return printer.receiptBytes() >= target; }, 10000)) {
            state.SkipWithError("the receipt did not arrive");
            break;
        }
        state.PauseTiming();
        // The status asked after the receipt and the outcome, outside the figure.
        ReceiptSpooler::instance().waitForIdle(10000);
        state.ResumeTiming();
    }
    state.counters["bytes"] = static_cast<double>(stream.size());
    state.counters["queries"] = benchmark::Counter(static_cast<double>(printer.queries()),
                                                   benchmark::Counter::kAvgIterations);
}

// DLE EOT 1, 2 and 4 on a connection that stays open, as the worker asks before a receipt.
void statusQuery(benchmark::State& state, bool answers) {
    LoopbackPrinter printer(answers);
    NetworkEscPosOutput output(QStringLiteral("127.0.0.1"), printer.port());
    try {
        output.open();
    } catch (const orvanta::Exception& e) {
        state.SkipWithError(e.message().toUtf8().constData());
        return;
    }
    int known = 0;
    for (auto _ : state) {
        const EscPosPrinterStatus status = queryEscPosStatus(output, freshStatusKey());
        known += status.answered ? 1 : 0;
    }
    output.close();
    state.counters["answered"] = benchmark::Counter(known, benchmark::Counter::kAvgIterations);
}

void statusAnswering(benchmark::State& state) {
    statusQuery(state, true);
}

void statusSilent(benchmark::State& state) {
    statusQuery(state, false);
}

// A receipt of a few bytes delivered as the worker delivers every receipt. A silent
// printer gets a port of its own in every iteration: it is a printer never asked before.
void tinyReceipt(benchmark::State& state, bool answers) {
    const QByteArray stream("\x1b@tiny\r\n", 8);
    const std::atomic<bool> cancel{false};
    std::unique_ptr<LoopbackPrinter> printer;
    int known = 0;
    for (auto _ : state) {
        if (!printer || !answers) {
            state.PauseTiming();
            printer.reset();
            printer = std::make_unique<LoopbackPrinter>(answers);
            state.ResumeTiming();
        }
        EscPosRoute route;
        route.connection = ecNetwork;
        route.host = QStringLiteral("127.0.0.1");
        route.port = printer->port();
        route.askStatus = true;
        try {
            const EscPosDeliveryResult result = deliverEscPos(route, stream, {}, {}, cancel);
            known += result.status == QStringLiteral("в порядке") ? 1 : 0;
        } catch (const orvanta::Exception& e) {
            state.SkipWithError(e.message().toUtf8().constData());
            break;
        }
    }
    state.counters["answered"] = benchmark::Counter(known, benchmark::Counter::kAvgIterations);
}

void tinyReceiptAnswering(benchmark::State& state) {
    tinyReceipt(state, true);
}

void tinyReceiptSilent(benchmark::State& state) {
    tinyReceipt(state, false);
}

// The time StartOrderReceipt holds the operator's thread: composing the receipt and handing
// it to the spooler. With a slow printer the worker is in the middle of an earlier receipt
// while the next one is composed.
void mainThread(benchmark::State& state, bool slow) {
    LoopbackPrinter printer(true, slow ? PrinterPace{64, 10} : PrinterPace{});
    if (!printer.listening()) {
        state.SkipWithError("no loopback listener");
        return;
    }
    useNetworkPrinter(printer.port());
    auto document = CreateXMLDocument();
    document->SetAsync(false);
    document->LoadXML(bench::fiftyLineDocument());
    QObject owner;
    ReceiptSpooler& spooler = ReceiptSpooler::instance();
    double longest = 0;
    for (auto _ : state) {
        if (slow) {
            // An earlier receipt under way: its first bytes have reached the printer.
            const long long before = printer.receiptBytes();
            StartOrderReceipt(*document, &owner);
            if (!waitFor([&] { return printer.receiptBytes() > before; }, 10000)) {
                state.SkipWithError("the earlier receipt did not start");
                break;
            }
        }
        const auto start = std::chrono::steady_clock::now();
        const ReceiptStart started = StartOrderReceipt(*document, &owner);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        longest = std::max(longest, took.count());
        if (started.job == 0) {
            state.SkipWithError("no job was started");
            break;
        }
        if (!spooler.waitForIdle(30000)) {
            state.SkipWithError("the printer did not take the receipts");
            break;
        }
    }
    state.counters["max_ms"] = longest * 1000.0;
}

void mainThreadNetwork(benchmark::State& state) {
    mainThread(state, false);
}

void mainThreadSlowPrinter(benchmark::State& state) {
    mainThread(state, true);
}

} // namespace

BENCHMARK(printToQueue)->Unit(benchmark::kMillisecond)->Iterations(30)->UseRealTime();
BENCHMARK(printToSerial)->Unit(benchmark::kMillisecond)->Iterations(30)->UseRealTime();
BENCHMARK(printToNetwork)->Unit(benchmark::kMillisecond)->Iterations(30)->UseRealTime();
BENCHMARK(statusAnswering)->Unit(benchmark::kMillisecond)->Iterations(100)->UseRealTime();
BENCHMARK(statusSilent)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(tinyReceiptAnswering)->Unit(benchmark::kMillisecond)->Iterations(100)->UseRealTime();
BENCHMARK(tinyReceiptSilent)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(mainThreadNetwork)->Unit(benchmark::kMillisecond)->Iterations(30)->UseManualTime();
BENCHMARK(mainThreadSlowPrinter)->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InitFormatSettings(QLocale(QLocale::Russian, QLocale::Russia));
    BarCodeOrder = true;
    BarCodePrice = true;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

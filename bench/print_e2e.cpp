// "Печать" in an order window to the printer, for an order of 50 sale lines:
//  - printToQueue: from the print command to the job being listed by the print server
//    (a cupsd of the benchmark's own, one raw queue that prints into /dev/null);
//  - printToSerial: from the print command to the last byte of the receipt arriving at
//    the far end of a socat serial line pair.
// Needs cupsd/lpadmin and socat; a part whose tool is missing is skipped with a message.
#include "common/FormatSettings.h"
#include "common/GlobConst.h"
#include "kiosk/ClientThread.h"
#include "printing/EscPosPrinter.h"
#include "printing/OrderDocument.h"
#include "printing/PrintSettings.h"
#include "printing/PrinterFactory.h"
#include "printing/XMLUtils.h"
#include "ui/OrderConfirm.h"

#include <benchmark/benchmark.h>

#include <QApplication>
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

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

#include <cups/cups.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kLines = 50;

QString fiftyLineOrder() {
    QString xml = QStringLiteral("<order><name>125</name><datetime>2024-03-15T13:45:10+03:00"
                                 "</datetime><kiosk><name>Киоск №1</name><organization><name>"
                                 "ООО «Ромашка»</name><inn>7701234567</inn></organization>"
                                 "</kiosk><invoice><header>Кафе «Ромашка»\nДобро пожаловать!"
                                 "</header>");
    for (int i = 0; i < kLines; ++i)
        xml += QStringLiteral("<item><shortname>Капучино большой %1</shortname><value>2</value>"
                              "<price>150.00</price><totalprice>%2</totalprice></item>")
                   .arg(i)
                   .arg(i % 5 ? 300 : 270);
    return xml + QStringLiteral("<price>14700.00</price><payed>15000</payed><change>300</change>"
                                "<footer>Спасибо за покупку!</footer></invoice></order>");
}

QString findTool(const QString& name) {
    return QStandardPaths::findExecutable(
        name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin")});
}

bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QThread::usleep(200);
    }
    return true;
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
        device->OrderXML = fiftyLineOrder();
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
    ComPort = 7;
    ComRate = 115200;

    // What one receipt sends, composed without a port.
    qsizetype receiptBytes = 0;
    {
        auto document = CreateXMLDocument();
        document->LoadXML(fiftyLineOrder());
        auto output = std::make_unique<MemoryEscPosOutput>();
        MemoryEscPosOutput* memory = output.get();
        TESCPOSPrinter printer(std::move(output));
        PrintOrderDocument(&printer, document.get());
        receiptBytes = memory->data().size();
    }

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
    stop = true;
    reader.join();
    ::close(fd);
    socat.terminate();
    socat.waitForFinished(3000);
}

} // namespace

BENCHMARK(printToQueue)->Unit(benchmark::kMillisecond)->Iterations(30)->UseRealTime();
BENCHMARK(printToSerial)->Unit(benchmark::kMillisecond)->Iterations(30)->UseRealTime();

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

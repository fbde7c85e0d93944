// The console's figures: start-up until the tray icon is up, PAY_BLOCK to a visible
// order window with 100 kiosks connected (with and without the order journal recording),
// the idle CPU of the whole console with 500 connected kiosks and its window shown, and
// the exit time.
//
// The kiosks run in this process on their own thread (QTcpServer), so the console's
// threads and event loop are measured as they are in the real program.
#include "common/GlobConst.h"
#include "core/MegaThread.h"
#include "journal/OrderJournal.h"
#include "platform/MainThread.h"
#include "ui/MainForm.h"
#include "ui/OrderAlerts.h"
#include "ui/OrderConfirm.h"
#include "ui/TrayIcon.h"

#include "support/BenchSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace {

void pumpUntil(const std::function<bool()>& pred, int ms) {
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        orvanta::MainThreadDispatcher::instance().drain();
        if (!pred())
            orvanta::MainThreadDispatcher::instance().waitAndDrain(1);
    }
}

// Many kiosks on loopback, served from one thread: they answer GET_VERSION and
// every other command except KEEP_ALIVE.
class KioskFarm : public QObject {
public:
    explicit KioskFarm(int count) {
        moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            this,
            [this, count] {
                for (int i = 0; i < count; ++i) {
                    auto* server = new QTcpServer(this);
                    server->listen(QHostAddress::LocalHost, 0);
                    m_ports.push_back(server->serverPort());
                    m_peers.push_back(nullptr);
                    connect(server, &QTcpServer::newConnection, this, [this, server, i] {
                        QTcpSocket* s = server->nextPendingConnection();
                        m_peers[i] = s;
                        connect(s, &QTcpSocket::readyRead, s, [s] {
                            while (s->canReadLine()) {
                                const QByteArray line = s->readLine().trimmed();
                                if (line == "GET_VERSION")
                                    s->write("VERSION=Kiosk 14.2.0.7\r\n");
                                else if (line != "KEEP_ALIVE")
                                    s->write("ACK\r\n");
                            }
                        });
                    });
                }
            },
            Qt::BlockingQueuedConnection);
    }
    ~KioskFarm() override {
        QMetaObject::invokeMethod(
            this, [this] { qDeleteAll(findChildren<QTcpServer*>()); },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    const std::vector<int>& Ports() const { return m_ports; }
    void Send(int i, const QByteArray& line) {
        QMetaObject::invokeMethod(this, [this, i, line] {
            if (QTcpSocket* s = m_peers[i]) {
                s->write(line + "\r\n");
                s->flush();
            }
        });
    }

private:
    QThread m_thread;
    std::vector<int> m_ports;
    std::vector<QTcpSocket*> m_peers;
};

void writeIni(const QString& path, const std::vector<int>& ports) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    QByteArray text = "[DeviceList]\nCount=" + QByteArray::number(int(ports.size())) + "\n";
    for (size_t i = 0; i < ports.size(); ++i)
        text += "[DeviceList" + QByteArray::number(int(i)) + "]\nEnabled=1\nName=K" +
                QByteArray::number(int(i)) +
                "\nAddress=127.0.0.1\nPort=" + QByteArray::number(ports[i]) + "\n";
    f.write(text);
}

int connectedCount(TfrmMain& w) {
    int n = 0;
    for (const auto& d : w.Devices())
        n += d->ThreadState() == tsConnected;
    return n;
}

double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Start-up: the window's creation until its tray icon has been made visible and
// the first pass of the event loop has run; then the exit, measured apart.
void BM_StartupToTray(benchmark::State& state) {
    const int kiosks = static_cast<int>(state.range(0));
    KioskFarm farm(kiosks);
    QTemporaryDir dir;
    IniFileName = dir.filePath("Console.ini");
    writeIni(IniFileName, farm.Ports());
    double exitMs = 0;
    for (auto _ : state) {
        auto w = std::make_unique<TfrmMain>();
        w->timDelayedStart->stop();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(w->Tray()->IconVisible());
        state.PauseTiming();
        pumpUntil([&] { return connectedCount(*w) == kiosks; }, 20000);
        QElapsedTimer t;
        t.start();
        w.reset();
        const double destroyMs = t.elapsed();
        TMegaThread::WaitForAllThreads(2000);
        exitMs = std::max<double>(exitMs, t.elapsed());
        state.counters["destroy_ms"] = destroyMs;
        state.counters["left_after_2s"] = TMegaThread::LiveThreads();
        TMegaThread::WaitForAllThreads(10000);
        pumpUntil([] { return false; }, 50);
        state.ResumeTiming();
    }
    state.counters["exit_ms_max"] = exitMs;
}
BENCHMARK(BM_StartupToTray)
    ->Arg(0)
    ->Arg(500)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// PAY_BLOCK on the wire until the order window is visible (notification 0), or until the
// operator has been told: the desktop notification, or the tray's message where the
// session has no notification service (notification 1). 100 kiosks connected. With
// journal 1 the console has a data folder, so the order journal records every window as
// it opens and ends, as at a venue; with 0 it has none and records nothing.
void BM_PayBlockTo(benchmark::State& state) {
    constexpr int kKiosks = 100;
    const bool untilNotified = state.range(0) == 1;
    const bool recording = state.range(1) == 1;
    KioskFarm farm(kKiosks);
    QTemporaryDir dir;
    IniFileName = dir.filePath("Console.ini");
    writeIni(IniFileName, farm.Ports());
    // The console records when it has a data folder (see TfrmMain's JournalRecorder).
    const QString savedDataFolder = DataFolder;
    DataFolder = recording ? dir.path() + QLatin1Char('/') : QString();
    auto w = std::make_unique<TfrmMain>();
    w->timDelayedStart->stop();
    pumpUntil([&] { return connectedCount(*w) == kKiosks; }, 20000);
    if (connectedCount(*w) != kKiosks) {
        state.SkipWithError("kiosks did not connect");
        DataFolder = savedDataFolder;
        return;
    }
    int notices = 0;
    QObject::connect(w->Alerts(), &TOrderAlerts::notified, [&] { ++notices; });
    std::vector<double> took;
    int k = 0;
    for (auto _ : state) {
        const int i = k++ % kKiosks;
        const TDeviceItem* device = w->Devices()[i].get();
        const int before = notices;
        QElapsedTimer clock;
        clock.start();
        farm.Send(i, "ORDER_SUM=250\r\nINVOICE=Tea%0D%0ACake\r\nPAY_BLOCK");
        pumpUntil(
            [&] {
                if (untilNotified)
                    return notices > before;
                TfrmOrderConfirm* o = w->OrderWindowOf(device);
                return o && o->isVisible();
            },
            5000);
        took.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        state.PauseTiming();
        farm.Send(i, "PAY_END");
        pumpUntil([&] { return w->OrderWindowOf(device) == nullptr; }, 5000);
        state.ResumeTiming();
    }
    if (recording) {
        // Every window's row and end is in the file, or the figure measured no journal.
        if (!w->Journal()->flush(10000) || !QFile::exists(OrderJournal::fileName(DataFolder)))
            state.SkipWithError("the journal recorded nothing");
    }
    w.reset();
    TMegaThread::WaitForAllThreads(2000);
    DataFolder = savedDataFolder;
    if (!took.empty()) {
        std::sort(took.begin(), took.end());
        state.counters["median_ms"] = took[took.size() / 2];
        state.counters["max_ms"] = took.back();
    }
}
BENCHMARK(BM_PayBlockTo)
    ->ArgNames({"notification", "journal"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50)
    ->UseRealTime();

// CPU of the whole process over 10 s with 500 connected kiosks and the window shown;
// argument 1: with the log page in front, so every trace line reaches the screen.
void BM_IdleCpu500(benchmark::State& state) {
    constexpr int kKiosks = 500;
    KioskFarm farm(kKiosks);
    QTemporaryDir dir;
    IniFileName = dir.filePath("Console.ini");
    writeIni(IniFileName, farm.Ports());
    auto w = std::make_unique<TfrmMain>();
    w->timDelayedStart->stop();
    w->mnuRestoreClick();
    if (state.range(0) == 1)
        w->PageControl->setCurrentWidget(w->tshLog);
    pumpUntil([&] { return connectedCount(*w) == kKiosks; }, 30000);
    pumpUntil([] { return false; }, 3000); // the work-state questions are answered
    for (auto _ : state) {
        const double cpu0 = processCpuSeconds();
        QElapsedTimer t;
        t.start();
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        const double wall = t.elapsed() / 1000.0;
        state.counters["cpu_percent_of_core"] = 100.0 * (processCpuSeconds() - cpu0) / wall;
        state.counters["connected"] = connectedCount(*w);
    }
    w.reset();
    TMegaThread::WaitForAllThreads(2000);
}
BENCHMARK(BM_IdleCpu500)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return bench::runConsoleBenchmarks(argc, argv);
}

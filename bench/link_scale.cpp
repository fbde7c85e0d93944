// Scale of the kiosk link: N kiosks served by kiosk-sim on loopback.
//   link_scale [COUNT...] [--idle SECONDS]      (defaults: 100 500 1000, 30 s)
// For each count: time until every kiosk has been connected (version accepted), the CPU
// share of one core over the idle period, the peak RSS, and the time to stop them all.
#include "core/MegaThread.h"
#include "kiosk/ClientThread.h"
#include "platform/MainThread.h"
#include "platform/ProcessLimits.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <set>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using Clock = std::chrono::steady_clock;

namespace {

struct Counter : IKioskObserver {
    std::set<TDeviceItem*> connected;
    void WMKioskState(const std::shared_ptr<TDeviceItem>& d, TThreadState s) override {
        // While the main thread lags, a kiosk's states merge: tsConnected may arrive only
        // as the work state the kiosk reported right after it.
        if (s == tsConnected || s == tsWorkingIdle || s == tsWorkingOrder ||
            s == tsOrderingFinished)
            connected.insert(d.get());
    }
    void WMKioskPayBlock(const std::shared_ptr<TDeviceItem>&) override {}
    void WMKioskPayEnd(const std::shared_ptr<TDeviceItem>&) override {}
    void AddLogLine(const std::shared_ptr<TDeviceItem>&, const QString&) override {}
};

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void pumpFor(std::chrono::milliseconds ms) {
    const auto until = Clock::now() + ms;
    while (Clock::now() < until)
        orvanta::MainThreadDispatcher::instance().waitAndDrain(20);
}

struct Sim {
    pid_t pid = -1;
    int in = -1, out = -1;
    std::vector<int> ports;

    bool start(const QString& program, int count) {
        const QByteArray prog = program.toLocal8Bit();
        QList<QByteArray> args = {prog,     "--port", "0", "--count", QByteArray::number(count),
                                  "--quiet"};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int ip[2], op[2];
        if (::pipe2(ip, O_CLOEXEC) || ::pipe2(op, O_CLOEXEC))
            return false;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, ip[0], 0);
        posix_spawn_file_actions_adddup2(&fa, op[1], 1);
        if (::posix_spawn(&pid, prog.constData(), &fa, nullptr, argv.data(), environ) != 0)
            return false;
        ::close(ip[0]);
        ::close(op[1]);
        in = ip[1];
        out = op[0];
        QByteArray text;
        char buf[65536];
        while (!text.contains("ready:")) {
            const ssize_t n = ::read(out, buf, sizeof buf);
            if (n <= 0)
                return false;
            text.append(buf, static_cast<int>(n));
        }
        ::fcntl(out, F_SETFL, O_NONBLOCK);
        static const QRegularExpression re(QStringLiteral(R"(\[(\d+)\] listening on [^:]+:(\d+))"));
        ports.assign(static_cast<std::size_t>(count), 0);
        auto it = re.globalMatch(QString::fromUtf8(text));
        while (it.hasNext()) {
            const auto m = it.next();
            ports[static_cast<std::size_t>(m.captured(1).toInt() - 1)] = m.captured(2).toInt();
        }
        return true;
    }
    void drainOutput() {
        char buf[65536];
        while (::read(out, buf, sizeof buf) > 0) {
        }
    }
    ~Sim() {
        if (pid > 0) {
            [[maybe_unused]] auto n = ::write(in, "quit\n", 5);
            ::kill(pid, SIGTERM);
            int st;
            ::waitpid(pid, &st, 0);
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    orvanta::raiseOpenFileLimit();
    QList<int> counts;
    int idleSeconds = 30;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--idle") && i + 1 < args.size())
            idleSeconds = args[++i].toInt();
        else
            counts << args[i].toInt();
    }
    if (counts.isEmpty())
        counts = {100, 500, 1000};
    const QString sim =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/kiosk-sim/kiosk-sim");

    std::printf("%8s %12s %10s %10s %10s\n", "kiosks", "connect ms", "idle CPU%", "RSS MB",
                "stop ms");
    for (int count : counts) {
        Sim s;
        if (!s.start(sim, count)) {
            std::fprintf(stderr, "kiosk-sim did not start for %d kiosks\n", count);
            return 1;
        }
        Counter counter;
        SetKioskObserver(&counter);
        auto list = std::make_unique<TDeviceItemList>();
        const auto t0 = Clock::now();
        for (int i = 0; i < count; ++i) {
            auto d = TDeviceItem::Create();
            d->SetAddress(QStringLiteral("127.0.0.1"));
            d->SetPort(s.ports[static_cast<std::size_t>(i)]);
            list->Add(d);
            d->ResumeThread();
        }
        while (static_cast<int>(counter.connected.size()) < count &&
               Clock::now() - t0 < std::chrono::seconds(60)) {
            orvanta::MainThreadDispatcher::instance().waitAndDrain(5);
            s.drainOutput();
        }
        const auto connectMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
        pumpFor(std::chrono::milliseconds(3000)); // the work-state exchange settles
        const double c0 = cpuSeconds();
        const auto w0 = Clock::now();
        for (int sec = 0; sec < idleSeconds; ++sec) {
            pumpFor(std::chrono::milliseconds(1000));
            s.drainOutput();
        }
        const double idleShare =
            (cpuSeconds() - c0) / std::chrono::duration<double>(Clock::now() - w0).count() * 100.0;
        rusage u{};
        ::getrusage(RUSAGE_SELF, &u);
        const auto s0 = Clock::now();
        list.reset();
        const bool stopped = TMegaThread::WaitForAllThreads(10000);
        const auto stopMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - s0).count();
        orvanta::MainThreadDispatcher::instance().drain();
        SetKioskObserver(nullptr);
        std::printf("%8d %12lld %10.2f %10.1f %10lld%s\n", count, static_cast<long long>(connectMs),
                    idleShare, u.ru_maxrss / 1024.0, static_cast<long long>(stopMs),
                    stopped ? "" : " (threads left)");
        std::fflush(stdout);
    }
    return 0;
}

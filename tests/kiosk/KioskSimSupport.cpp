#include "KioskSimSupport.h"

#include "TestUtil.h"

#include <QRegularExpression>

#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

bool KioskSim::start(int count, const QStringList& extraArgs) {
    const QByteArray program =
        testutil::binaryPath(QStringLiteral("tools/kiosk-sim/kiosk-sim")).toLocal8Bit();
    QList<QByteArray> args = {program, "--port", "0", "--count", QByteArray::number(count)};
    for (const QString& a : extraArgs)
        args << a.toLocal8Bit();
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int inPipe[2], outPipe[2];
    if (::pipe2(inPipe, O_CLOEXEC) != 0 || ::pipe2(outPipe, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 2);
    const int rc =
        ::posix_spawn(&m_pid, program.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    m_in = inPipe[1];
    m_out = outPipe[0];
    ::fcntl(m_out, F_SETFL, O_NONBLOCK);
    if (rc != 0) {
        m_pid = -1;
        return false;
    }
    if (!waitForOutput(QStringLiteral("ready:"), 10000))
        return false;
    static const QRegularExpression listening(
        QStringLiteral(R"(\[(\d+)\] listening on [^:]+:(\d+))"));
    m_ports.assign(static_cast<std::size_t>(count), 0);
    auto it = listening.globalMatch(output());
    while (it.hasNext()) {
        const auto m = it.next();
        const int kiosk = m.captured(1).toInt();
        if (kiosk >= 1 && kiosk <= count)
            m_ports[static_cast<std::size_t>(kiosk - 1)] = m.captured(2).toInt();
    }
    for (int port : m_ports)
        if (port == 0)
            return false;
    return true;
}

KioskSim::~KioskSim() {
    if (m_pid > 0) {
        command(QStringLiteral("quit"));
        int status = 0;
        bool ended = false;
        for (int i = 0; i < 40 && !ended; ++i) {
            ended = ::waitpid(m_pid, &status, WNOHANG) == m_pid;
            if (!ended)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!ended) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
        }
    }
    if (m_in >= 0)
        ::close(m_in);
    if (m_out >= 0)
        ::close(m_out);
}

void KioskSim::command(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    [[maybe_unused]] auto n = ::write(m_in, bytes.constData(), static_cast<size_t>(bytes.size()));
}

QString KioskSim::output() {
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(m_out, buffer, sizeof buffer)) > 0)
        m_output.append(buffer, static_cast<int>(n));
    return QString::fromUtf8(m_output);
}

bool KioskSim::waitForOutput(const QString& text, int ms) {
    return testutil::waitUntil([&] { return output().contains(text); }, ms);
}

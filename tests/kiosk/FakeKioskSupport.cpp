#include "FakeKioskSupport.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

FakeKiosk::FakeKiosk() {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    ::listen(m_listenFd, 16);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread(&FakeKiosk::run, this);
}

FakeKiosk::~FakeKiosk() {
    m_stop = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(m_wakeFd, &one, sizeof one);
    m_thread.join();
    std::lock_guard lock(m_mutex);
    if (m_clientFd >= 0)
        ::close(m_clientFd);
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    ::close(m_wakeFd);
}

void FakeKiosk::run() {
    QByteArray buffer;
    while (!m_stop) {
        pollfd fds[3];
        int n = 0;
        fds[n++] = {m_wakeFd, POLLIN, 0};
        int listenFd, clientFd;
        {
            std::lock_guard lock(m_mutex);
            listenFd = m_listening ? m_listenFd : -1;
            clientFd = m_clientFd;
        }
        fds[n++] = {listenFd, POLLIN, 0};
        fds[n++] = {clientFd, POLLIN, 0};
        if (::poll(fds, n, 50) <= 0)
            continue;
        if (fds[0].revents) {
            std::uint64_t v;
            [[maybe_unused]] auto r = ::read(m_wakeFd, &v, sizeof v);
        }
        if (listenFd >= 0 && (fds[1].revents & POLLIN)) {
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                std::lock_guard lock(m_mutex);
                if (m_clientFd >= 0)
                    ::close(m_clientFd); // one console at a time: the newer one wins
                m_clientFd = fd;
                ++m_connections;
                m_connectTimes.push_back(Clock::now());
                buffer.clear();
                m_cv.notify_all();
                continue;
            }
        }
        if (clientFd >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            char chunk[4096];
            const ssize_t got = ::recv(clientFd, chunk, sizeof chunk, 0);
            std::lock_guard lock(m_mutex);
            if (got <= 0) {
                if (m_clientFd == clientFd) {
                    ::close(m_clientFd);
                    m_clientFd = -1;
                }
                m_cv.notify_all();
                continue;
            }
            buffer.append(chunk, static_cast<int>(got));
            qsizetype at;
            while ((at = buffer.indexOf("\r\n")) >= 0) {
                const QByteArray line = buffer.left(at);
                buffer.remove(0, at + 2);
                m_received.push_back({Clock::now(), line});
                if (line == "GET_VERSION" && !m_autoVersion.isEmpty()) {
                    const QByteArray reply = m_autoVersion + "\r\n";
                    [[maybe_unused]] auto w =
                        ::send(m_clientFd, reply.constData(), reply.size(), MSG_NOSIGNAL);
                }
            }
            m_cv.notify_all();
        }
    }
}

bool FakeKiosk::waitForConnections(int count, int ms) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(ms),
                         [&] { return m_connections >= count; });
}

int FakeKiosk::connections() const {
    std::lock_guard lock(m_mutex);
    return m_connections;
}

FakeKiosk::Clock::time_point FakeKiosk::lastConnectAt() const {
    std::lock_guard lock(m_mutex);
    return m_connectTimes.empty() ? Clock::time_point{} : m_connectTimes.back();
}

std::vector<FakeKiosk::Clock::time_point> FakeKiosk::connectTimes() const {
    std::lock_guard lock(m_mutex);
    return m_connectTimes;
}

void FakeKiosk::send(const QByteArray& bytes) {
    std::lock_guard lock(m_mutex);
    if (m_clientFd < 0)
        return;
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(m_clientFd, bytes.constData() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += n;
    }
}

void FakeKiosk::drop() {
    std::lock_guard lock(m_mutex);
    if (m_clientFd >= 0) {
        ::close(m_clientFd);
        m_clientFd = -1;
    }
}

void FakeKiosk::stopListening() {
    std::lock_guard lock(m_mutex);
    m_listening = false;
    ::close(m_listenFd);
    m_listenFd = -1;
}

void FakeKiosk::autoVersion(const QByteArray& versionLine) {
    std::lock_guard lock(m_mutex);
    m_autoVersion = versionLine;
}

std::vector<FakeKiosk::Received> FakeKiosk::received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

int FakeKiosk::count(const QByteArray& line) const {
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (const auto& r : m_received)
        n += r.line == line;
    return n;
}

bool FakeKiosk::waitForLine(const QByteArray& line, int ms, int count) const {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] {
        int n = 0;
        for (const auto& r : m_received)
            n += r.line == line;
        return n >= count;
    });
}

bool FakeKiosk::waitForDisconnect(int ms) const {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_clientFd < 0; });
}

bool FakeKiosk::clientConnected() const {
    std::lock_guard lock(m_mutex);
    return m_clientFd >= 0;
}

namespace {

int listenOnLoopback(int backlog, int* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    *port = ntohs(addr.sin_port);
    ::listen(fd, backlog);
    return fd;
}

} // namespace

UnansweringPeer::UnansweringPeer() {
    int port = 0;
    m_listenFd = listenOnLoopback(0, &port);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    // Fill the accept queue until an attempt stays pending.
    for (int i = 0; i < 8; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        m_fillers.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Prove it: one more attempt must still be pending after a moment.
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    pollfd pfd{probe, POLLOUT, 0};
    const bool answered = ::poll(&pfd, 1, 300) > 0;
    ::close(probe);
    m_port = answered ? 0 : port;
}

UnansweringPeer::~UnansweringPeer() {
    for (int fd : m_fillers)
        ::close(fd);
    ::close(m_listenFd);
}

ClosingPeer::ClosingPeer() {
    m_listenFd = listenOnLoopback(64, &m_port);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread(&ClosingPeer::run, this);
}

ClosingPeer::~ClosingPeer() {
    m_stop = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(m_wakeFd, &one, sizeof one);
    m_thread.join();
    ::close(m_listenFd);
    ::close(m_wakeFd);
}

void ClosingPeer::run() {
    while (!m_stop) {
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_listenFd, POLLIN, 0}};
        if (::poll(fds, 2, 100) <= 0 || !(fds[1].revents & POLLIN))
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard lock(m_mutex);
            m_connectTimes.push_back(Clock::now());
        }
        ::close(fd);
    }
}

std::vector<ClosingPeer::Clock::time_point> ClosingPeer::connectTimes() const {
    std::lock_guard lock(m_mutex);
    return m_connectTimes;
}

#include "platform/TcpClient.h"

#include "platform/Error.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvanta {

namespace {

QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

using Deadline = std::chrono::steady_clock::time_point;

Deadline deadlineIn(int ms) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

// Milliseconds left until the deadline, 0 once it has passed: a wait bounded by it.
int msUntil(Deadline deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A kiosk that lost power never closes its end; keep-alive probes notice it within
// about 20 seconds, and unacknowledged writes give up after as long.
void tuneSocket(int fd) {
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    int idle = 10, interval = 3, count = 3;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    unsigned int userTimeout = 20000;
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

} // namespace

TcpClient::TcpClient()
    : m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TcpClient::~TcpClient() {
    Close();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

bool TcpClient::Connected() const {
    if (m_fd < 0 || m_interrupted.load())
        return false;
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    return ::getpeername(m_fd, reinterpret_cast<sockaddr*>(&peer), &len) == 0;
}

void TcpClient::Close() {
    std::lock_guard lock(m_fdMutex);
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void TcpClient::Interrupt() {
    m_interrupted.store(true);
    {
        std::lock_guard lock(m_fdMutex);
        if (m_fd >= 0)
            ::shutdown(m_fd, SHUT_RDWR);
    }
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(m_wakeFd, &one, sizeof one);
    }
}

void TcpClient::throwIfUnusable() const {
    if (m_interrupted.load())
        throw Exception(QStringLiteral("Connection closed"));
    if (m_fd < 0)
        throw Exception(QStringLiteral("Not connected"));
}

TcpClient::Wait TcpClient::waitFor(short events, int ms) {
    pollfd fds[2] = {{m_fd, events, 0}, {m_wakeFd, POLLIN, 0}};
    const auto deadline = deadlineIn(ms);
    while (true) {
        if (m_interrupted.load())
            return Wait::Woken;
        const int left = msUntil(deadline);
        const int rc = ::poll(fds, 2, left);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            throw Exception(QStringLiteral("poll: %1").arg(errnoText(errno)));
        }
        if (fds[1].revents)
            return Wait::Woken;
        if (rc > 0 && fds[0].revents)
            return Wait::Ready;
        // poll ran its time out (one call per quiet second is all an idle kiosk costs)
        if (rc == 0 || left <= 0)
            return Wait::Timeout;
    }
}

void TcpClient::Open() {
    Close();
    m_openError = OpenError::Other;
    if (m_interrupted.load())
        throw Exception(QStringLiteral("Connection closed"));
    const QByteArray host = m_host.toUtf8();
    const QByteArray service = QByteArray::number(m_port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int gai = ::getaddrinfo(host.constData(), service.constData(), &hints, &found);
    if (gai != 0 || !found) {
        m_openError = OpenError::HostNotFound;
        throw Exception(QStringLiteral("Host not found: %1 (%2)")
                            .arg(m_host, QString::fromLocal8Bit(::gai_strerror(gai))));
    }

    const auto deadline = deadlineIn(m_connectTimeoutMs);
    QString lastError;
    for (addrinfo* ai = found; ai; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                                ai->ai_protocol);
        if (fd < 0) {
            lastError = errnoText(errno);
            continue;
        }
        {
            std::lock_guard lock(m_fdMutex);
            m_fd = fd;
        }
        tuneSocket(fd);
        if (m_sendBuffer > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &m_sendBuffer, sizeof m_sendBuffer);
        int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            const Wait w = waitFor(POLLOUT, msUntil(deadline));
            if (w == Wait::Woken) {
                ::freeaddrinfo(found);
                Close();
                throw Exception(QStringLiteral("Connection closed"));
            }
            if (w == Wait::Timeout) {
                lastError = QStringLiteral("Connection timed out");
                m_openError = OpenError::TimedOut;
                Close();
                break;
            }
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            rc = err == 0 ? 0 : -1;
            errno = err;
        }
        if (rc == 0) {
            ::freeaddrinfo(found);
            m_openError = OpenError::None;
            return;
        }
        const bool refused = errno == ECONNREFUSED;
        m_openError = refused              ? OpenError::Refused
                      : errno == ETIMEDOUT ? OpenError::TimedOut
                                           : OpenError::Other;
        lastError = refused ? QStringLiteral("Connection refused") : errnoText(errno);
        Close();
    }
    ::freeaddrinfo(found);
    throw Exception(QStringLiteral("%1: %2:%3").arg(lastError, m_host).arg(m_port));
}

bool TcpClient::WaitForData(int ms) {
    throwIfUnusable();
    // Woken by Interrupt: no data; the caller sees Interrupted().
    return waitFor(POLLIN, ms) == Wait::Ready;
}

int TcpClient::Read(char* buffer, int count, int ms) {
    throwIfUnusable();
    const Wait w = waitFor(POLLIN, ms);
    if (w == Wait::Woken)
        throw Exception(QStringLiteral("Connection closed"));
    if (w == Wait::Timeout)
        return 0;
    while (true) {
        const ssize_t n = ::recv(m_fd, buffer, static_cast<size_t>(count), MSG_DONTWAIT);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        throw Exception(QStringLiteral("Read error: %1").arg(errnoText(errno)));
    }
}

int TcpClient::Write(const char* data, int count, int ms) {
    throwIfUnusable();
    const auto deadline = deadlineIn(ms);
    int written = 0;
    while (written < count) {
        const ssize_t n = ::send(m_fd, data + written, static_cast<size_t>(count - written),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            written += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            throw Exception(QStringLiteral("Write error: %1").arg(errnoText(errno)));
        const int left = msUntil(deadline);
        if (left <= 0)
            break;
        const Wait w = waitFor(POLLOUT, left);
        if (w == Wait::Woken)
            throw Exception(QStringLiteral("Connection closed"));
        if (w == Wait::Timeout)
            break;
    }
    return written;
}

} // namespace orvanta

#include "platform/DeviceIo.h"

#include <cerrno>
#include <chrono>

#include <poll.h>
#include <unistd.h>

namespace orvanta {

qsizetype readWithin(int fd, char* buffer, qsizetype max, int timeoutMs) {
    if (fd < 0 || max <= 0)
        return 0;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        const ssize_t n = ::read(fd, buffer, static_cast<size_t>(max));
        if (n > 0)
            return n;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return 0;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return 0;
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (pfd.revents & (POLLERR | POLLNVAL)))
            return 0;
        if (!(pfd.revents & POLLIN))
            return 0; // hung up with nothing left to read
    }
}

} // namespace orvanta

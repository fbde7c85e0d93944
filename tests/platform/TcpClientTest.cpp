// The TCP client's failures and its cross-thread wake-up, on loopback.
#include "platform/TcpClient.h"
#include "platform/Error.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono;

namespace {

// A listener that never accepts, with its queue filled: the next connection attempt
// gets no answer at all, like a kiosk that vanished from the network.
class Unanswering {
public:
    Unanswering() {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        ::listen(m_listen, 0);
        // Fill the accept queue until an attempt stays pending.
        for (int i = 0; i < 8; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            m_fillers.push_back(fd);
        }
        std::this_thread::sleep_for(milliseconds(100));
    }
    ~Unanswering() {
        for (int fd : m_fillers)
            ::close(fd);
        ::close(m_listen);
    }
    int port = 0;

private:
    int m_listen = -1;
    std::vector<int> m_fillers;
};

QString openError(const QString& host, int port) {
    orvanta::TcpClient client;
    client.SetHost(host);
    client.SetPort(port);
    try {
        client.Open();
    } catch (const orvanta::Exception& e) {
        return e.message();
    }
    return {};
}

TEST(TcpClient, OpenFailuresCarryReadableTexts) {
    const int closedPort = testutil::freePort();
    EXPECT_TRUE(openError(QStringLiteral("127.0.0.1"), closedPort)
                    .startsWith(QStringLiteral("Connection refused")));
    EXPECT_TRUE(openError(QStringLiteral("no-such-host.invalid"), 80)
                    .startsWith(QStringLiteral("Host not found")));
}

TEST(TcpClient, OpenGivesUpWhenNoConnectionStandsWithinFiveSeconds) {
    Unanswering peer;
    const auto t0 = steady_clock::now();
    const QString error = openError(QStringLiteral("127.0.0.1"), peer.port);
    const auto took = duration_cast<milliseconds>(steady_clock::now() - t0).count();
    if (error.isEmpty())
        GTEST_SKIP() << "this kernel answered the connection despite the full queue";
    EXPECT_TRUE(error.startsWith(QStringLiteral("Connection timed out"))) << error.toStdString();
    EXPECT_GE(took, 4900);
}

TEST(TcpClient, InterruptFromAnotherThreadWakesConnectAndWait) {
    Unanswering peer;
    orvanta::TcpClient client;
    client.SetHost(QStringLiteral("127.0.0.1"));
    client.SetPort(peer.port);
    std::thread stopper([&] {
        std::this_thread::sleep_for(milliseconds(300));
        client.Interrupt();
    });
    const auto t0 = steady_clock::now();
    EXPECT_THROW(client.Open(), orvanta::Exception);
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - t0).count(), 2000);
    stopper.join();
    EXPECT_TRUE(client.Interrupted());
    // An interrupted client stays unusable: no wait can spin on it.
    EXPECT_THROW(client.WaitForData(1000), orvanta::Exception);
}

} // namespace

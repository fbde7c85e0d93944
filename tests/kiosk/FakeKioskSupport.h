#pragma once

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// A kiosk on loopback under the test's exact control: it accepts one console
// connection at a time, records every line it receives with the time it came, and
// sends whatever the test tells it to.
class FakeKiosk {
public:
    using Clock = std::chrono::steady_clock;
    struct Received {
        Clock::time_point at;
        QByteArray line;
    };

    FakeKiosk();
    ~FakeKiosk();

    int port() const { return m_port; }

    bool waitForConnections(int count, int ms = 5000);
    int connections() const;
    Clock::time_point lastConnectAt() const;
    std::vector<Clock::time_point> connectTimes() const;

    // Raw bytes to the current connection.
    void send(const QByteArray& bytes);
    void sendLine(const QByteArray& line) { send(line + "\r\n"); }
    // Close the current connection (the kiosk hangs up).
    void drop();
    // Stop accepting: further attempts are refused.
    void stopListening();
    // Answer "GET_VERSION" by itself with this version line.
    void autoVersion(const QByteArray& versionLine);

    std::vector<Received> received() const;
    int count(const QByteArray& line) const;
    // Waits until line has been received count times in all.
    bool waitForLine(const QByteArray& line, int ms = 5000, int count = 1) const;
    bool waitForDisconnect(int ms = 5000) const;
    bool clientConnected() const;

private:
    void run();

    int m_listenFd = -1;
    int m_wakeFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    int m_clientFd = -1;
    int m_connections = 0;
    std::vector<Clock::time_point> m_connectTimes;
    std::vector<Received> m_received;
    QByteArray m_autoVersion;
    bool m_listening = true;
};

// A listener that never accepts, with its queue filled: a connection attempt to it gets
// no answer at all, like a kiosk that vanished from the network. Skip the test when
// port() is 0 (the kernel answered despite the full queue).
class UnansweringPeer {
public:
    UnansweringPeer();
    ~UnansweringPeer();
    UnansweringPeer(const UnansweringPeer&) = delete;
    UnansweringPeer& operator=(const UnansweringPeer&) = delete;
    int port() const { return m_port; }

private:
    int m_listenFd = -1;
    int m_port = 0;
    std::vector<int> m_fillers;
};

// A kiosk that takes a console's connection and closes it at once, as one that already
// serves another console does; it counts the connections and their times.
class ClosingPeer {
public:
    using Clock = std::chrono::steady_clock;
    ClosingPeer();
    ~ClosingPeer();
    ClosingPeer(const ClosingPeer&) = delete;
    ClosingPeer& operator=(const ClosingPeer&) = delete;
    int port() const { return m_port; }
    std::vector<Clock::time_point> connectTimes() const;

private:
    void run();
    int m_listenFd = -1;
    int m_wakeFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<Clock::time_point> m_connectTimes;
};

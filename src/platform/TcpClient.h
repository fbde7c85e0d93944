#pragma once

#include <QString>

#include <atomic>
#include <mutex>

namespace orvanta {

// A blocking TCP client with time-outs, built on poll(). Every wait also watches a
// wake descriptor, so Interrupt from another thread ends any wait at once: connecting,
// waiting for data, reading or writing. An interrupted client stays interrupted.
class TcpClient {
public:
    static constexpr int kConnectTimeoutMs = 5000;

    // Why the last Open failed, for callers that word the failure themselves.
    enum class OpenError { None, HostNotFound, Refused, TimedOut, Other };

    TcpClient();
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    void SetHost(const QString& host) { m_host = host; }
    void SetPort(int port) { m_port = port; }
    // How long Open waits for a connection; kConnectTimeoutMs unless set.
    void SetConnectTimeout(int ms) { m_connectTimeoutMs = ms; }
    // The socket's send buffer in bytes (the kernel doubles it); 0 leaves the system's,
    // which grows to megabytes. A small one keeps what was written close to what the
    // peer took.
    void SetSendBuffer(int bytes) { m_sendBuffer = bytes; }

    // Connects; throws orvanta::Exception with a readable text when the host cannot be
    // resolved, the connection is refused, or none stands within the connect time-out.
    void Open();
    OpenError LastOpenError() const { return m_openError; }
    // Closes the descriptor. Owner thread only.
    void Close();
    bool Active() const { return m_fd >= 0; }
    bool Connected() const;

    // Any thread: shuts the connection down and wakes every wait.
    void Interrupt();
    bool Interrupted() const { return m_interrupted.load(); }

    // True when bytes or the end of the connection can be read within ms; false on
    // time-out or when Interrupt woke it (then Interrupted() is true). Throws when the
    // client was already closed or interrupted, so that a loop never spins on a dead socket.
    bool WaitForData(int ms);
    // Up to count bytes within ms; 0 when none came in time or the peer has closed.
    // Throws on a socket error.
    int Read(char* buffer, int count, int ms);
    // Writes within ms; returns the bytes written (0 on time-out). Throws on error.
    int Write(const char* data, int count, int ms);

private:
    enum class Wait { Ready, Timeout, Woken };
    Wait waitFor(short events, int ms);
    void throwIfUnusable() const;

    QString m_host;
    int m_port = 0;
    int m_sendBuffer = 0;
    int m_connectTimeoutMs = kConnectTimeoutMs;
    OpenError m_openError = OpenError::None;
    int m_fd = -1;
    int m_wakeFd = -1;
    std::atomic<bool> m_interrupted{false};
    std::mutex m_fdMutex; // guards shutdown() from another thread against close()
};

} // namespace orvanta

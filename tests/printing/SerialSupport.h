#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>

namespace testutil {

// A pair of connected pseudo terminals made by socat: what is written to one end can
// be read from the other, as through a null-modem cable between two serial ports.
class SocatPair {
public:
    ~SocatPair();

    static bool available(); // socat is installed

    // Makes the links dir/a and dir/b; false when socat did not come up.
    bool start(const QString& dir);
    // Ends socat: both ends go away, writes to them fail.
    void stop();

    const QString& endA() const { return m_a; }
    const QString& endB() const { return m_b; }

private:
    QProcess m_socat;
    QString m_a;
    QString m_b;
};

// Reads everything that arrives at a serial device, in a thread of its own, so that the
// writer never fills the line's buffer.
class SerialCapture {
public:
    ~SerialCapture();

    bool start(const QString& device);
    // Waits until nothing arrived for quietMs (or maxMs passed), ends the thread and
    // returns all bytes read.
    QByteArray finish(int quietMs = 300, int maxMs = 10000);

private:
    void run();

    int m_fd = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<long long> m_lastByteMs{0};
    std::mutex m_mutex;
    QByteArray m_data;
};

// Whether the npos ESC/POS decoder (an npm package that scripts/install-deps installs
// once under tests/printing/npos) and Node.js are here; *why says what is missing.
bool nposDecoderInstalled(QString* why);

// The ESC/POS commands of a stream as the npos decoder names them, with text decoded as
// code page 866; empty with *why when the decoder fails. dir takes a temporary file.
QStringList nposDecode(const QByteArray& stream, const QString& dir, QString* why);

} // namespace testutil

#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

namespace orvanta {

// Device of the serial port COMn: DataFolder/dosdevices/comN when that link exists (the
// convention of Windows compatibility layers), else /dev/ttyS(n-1) for 1..32,
// /dev/ttyUSB(n-33) for 33..64, /dev/ttyACM(n-65) for 65..96. Empty for any other n.
// dataFolder ends with "/" or is empty.
QString serialPortDevice(int number, const QString& dataFolder);

struct SerialPortInfo {
    int number = 0; // n of COMn
    QString device;
};

// The ports whose device exists, by number, for a port choice in the settings.
QList<SerialPortInfo> availableSerialPorts(const QString& dataFolder);

// A serial port for writing a byte stream: raw 8 data bits, no parity, one stop bit.
// Not copyable; closes itself when destroyed.
class SerialPort {
public:
    enum class OpenResult {
        Opened,
        CannotOpen,      // no such device, busy, no permission
        CannotConfigure, // not a serial device, or the speed is not supported
        CannotPurge,     // the queues could not be cleared
    };

    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens device exclusively, sets the line and clears both queues. A port already
    // open is closed first. On failure the port is closed.
    OpenResult open(const QString& device, int baudRate);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    // A write of n bytes gives up after multiplier * n + constant milliseconds.
    void setWriteTimeouts(int multiplierMs, int constantMs);

    // Writes data within the time bound; returns the number of bytes written, which is
    // less than data.size() when the bound ran out or the device failed.
    qsizetype write(QByteArrayView data);

    // Waits up to timeoutMs for input and reads up to max bytes of it; 0 when nothing
    // came in time or the port is closed or failed. For the answers of a printer.
    qsizetype read(char* buffer, qsizetype max, int timeoutMs);
    // Drops what arrived and was not read, so the next read sees only a fresh answer.
    void discardInput();

private:
    int m_fd = -1;
    int m_writeMultiplierMs = 2;
    int m_writeConstantMs = 50;
};

} // namespace orvanta

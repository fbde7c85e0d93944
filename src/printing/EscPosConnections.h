#pragma once

#include "platform/SerialPort.h"
#include "platform/TcpClient.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// The ways the bytes of an ESC/POS receipt leave the console. The stream is the same on
// every one of them; an output is opened for one receipt and closed after it.

// "Принтер <name>: <cause>", the form of every message about a receipt printer.
QString escPosPrinterMessage(const QString& printerName, const QString& cause);

// Where the bytes of an ESC/POS printer go while one receipt prints.
class EscPosOutput {
public:
    virtual ~EscPosOutput() = default;
    // Throws orvanta::Exception with a message for the operator when it cannot open.
    virtual void open() = 0;
    // Ends the receipt. An output that sends on close (a spooler job) throws
    // orvanta::Exception when that fails; the output is closed all the same.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Returns the number of bytes taken; fewer than given means the device failed.
    virtual qsizetype write(QByteArrayView bytes) = 0;

    // The printer as the operator knows it: "COM1", "USB /dev/usb/lp0", "192.168.0.40:9100".
    virtual QString displayName() const = 0;
    // Tells one printer from another for what the console remembers about it; two
    // outputs to the same printer over the same way have the same key.
    virtual QString statusKey() const { return displayName(); }
    // The message of a write that took fewer bytes than given.
    virtual QString writeFailure() const;
    // The title of the job of the check being printed, for outputs that make jobs.
    virtual void setJobTitle(const QString& /*title*/) {}

    // Whether the printer can answer over this output.
    virtual bool bidirectional() const { return false; }
    // Throws away what arrived unread, sends request and waits up to timeoutMs for one
    // byte of answer. Empty when nothing came in time, or the output cannot answer.
    std::optional<quint8> exchange(QByteArrayView request, int timeoutMs);

protected:
    // For bidirectional outputs: unread input is dropped; read waits up to timeoutMs for
    // at least one byte and returns how many it read (0: none, or the line is gone).
    virtual void discardInput() {}
    virtual qsizetype read(char* /*buffer*/, qsizetype /*max*/, int /*timeoutMs*/) { return 0; }
};

// A serial port, COMn of the print settings at its rate, opened anew for every receipt.
class SerialEscPosOutput : public EscPosOutput {
public:
    // The port of the print settings (ComPort, ComRate), as they are when it opens.
    SerialEscPosOutput() = default;
    // COMcomPort on device at baudRate.
    SerialEscPosOutput(int comPort, const QString& device, int baudRate);

    void open() override;
    void close() override;
    bool isOpen() const override;
    qsizetype write(QByteArrayView bytes) override;
    QString displayName() const override;
    QString statusKey() const override;
    QString writeFailure() const override;
    bool bidirectional() const override { return true; }

protected:
    void discardInput() override;
    qsizetype read(char* buffer, qsizetype max, int timeoutMs) override;

private:
    struct Line {
        int comPort;
        QString device;
        int baudRate;
    };
    Line line() const;

    std::optional<Line> m_line; // empty: the print settings decide
    orvanta::SerialPort m_port;
};

// The device file of a USB printer (/dev/usb/lpN of the usblp driver), which answers
// status queries on the same file.
class UsbEscPosOutput : public EscPosOutput {
public:
    explicit UsbEscPosOutput(QString device);
    ~UsbEscPosOutput() override;
    UsbEscPosOutput(const UsbEscPosOutput&) = delete;
    UsbEscPosOutput& operator=(const UsbEscPosOutput&) = delete;

    void open() override;
    void close() override;
    bool isOpen() const override { return m_fd >= 0; }
    qsizetype write(QByteArrayView bytes) override;
    QString displayName() const override;
    QString writeFailure() const override;
    bool bidirectional() const override { return true; }

    // The message for a device file that open() failed on with err.
    static QString openFailure(const QString& device, int err);

protected:
    void discardInput() override;
    qsizetype read(char* buffer, qsizetype max, int timeoutMs) override;

private:
    QString m_device;
    int m_fd = -1;
    int m_writeError = 0; // errno of the last failed write; 0 for a time-out
};

// A network printer's raw port (9100 by custom).
class NetworkEscPosOutput : public EscPosOutput {
public:
    static constexpr int kConnectTimeoutMs = 3000;
    static constexpr int kSendBufferBytes = 4096;

    NetworkEscPosOutput(QString host, int port);

    void open() override;
    void close() override;
    bool isOpen() const override { return m_client.Active(); }
    qsizetype write(QByteArrayView bytes) override;
    QString displayName() const override;
    QString writeFailure() const override;
    bool bidirectional() const override { return true; }

protected:
    void discardInput() override;
    qsizetype read(char* buffer, qsizetype max, int timeoutMs) override;

private:
    QString m_host;
    int m_port;
    orvanta::TcpClient m_client;
    QString m_failure;
};

// A CUPS queue that passes the stream to the printer unchanged. The bytes of a receipt
// are collected and become one raw job when it closes: a receipt split into jobs could
// be torn apart by another job between them.
class CupsRawEscPosOutput : public EscPosOutput {
public:
    explicit CupsRawEscPosOutput(QString queue);

    void open() override;
    void close() override;
    bool isOpen() const override { return m_open; }
    qsizetype write(QByteArrayView bytes) override;
    QString displayName() const override;
    void setJobTitle(const QString& title) override { m_title = title; }

private:
    QString m_queue;
    QString m_title;
    QByteArray m_data;
    bool m_open = false;
};

// Collects the stream in memory: what a receipt sends, without a printer (a preview,
// a dump to a file, measuring the composition, a receipt a worker sends later).
class MemoryEscPosOutput : public EscPosOutput {
public:
    void open() override { m_open = true; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    qsizetype write(QByteArrayView bytes) override;
    QString displayName() const override;

    const QByteArray& data() const { return m_data; }
    void clear() { m_data.clear(); }

private:
    QByteArray m_data;
    bool m_open = false;
};

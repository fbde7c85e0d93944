#pragma once

#include "printing/EscPosConnections.h"
#include "printing/PrintSettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

// How the bytes of the ESC/POS printer leave, taken from the print settings at one
// moment: a value that a worker thread can hold while the settings change under it.
struct EscPosRoute {
    TEscPosConnection connection = ecSerial;
    int comPort = 1;  // serial: n of COMn
    QString device;   // serial: the port's device; USB: the printer's device file
    int baudRate = 0; // serial
    QString host;     // network
    int port = 9100;  // network
    QString queue;    // CUPS raw
    bool askStatus = true;
    QString jobTitle; // CUPS raw: the title of the job ("Чек " + order name)

    // The print settings as they are now (main thread).
    static EscPosRoute fromSettings();

    // The printer for messages: "COM1", "USB /dev/usb/lp0", "192.168.0.40:9100",
    // "очередь CUPS «Чеки»", "экран".
    QString name() const;
    // Tells this printer from every other in what the console remembers about it (the
    // status memo); a change of any setting of the route makes a different key.
    QString key() const;
    // A new, closed output to this printer; the screen gets a MemoryEscPosOutput.
    std::unique_ptr<EscPosOutput> makeOutput() const;
};

struct EscPosDeliveryResult {
    QStringList warnings; // paper near end, a problem found after the receipt
    QString status;       // the printer's state in words at the end ("в порядке", ...)
    bool cancelled = false;
    qint64 sent = 0; // bytes of the stream sent, the abort tail not counted
};

// Sends a composed receipt to the printer of route: opens its output, asks its status
// (when route.askStatus and the output can answer) and refuses before sending anything
// when the printer is out of paper, its cover is open or it is offline; then writes
// stream in chunks of kEscPosChunk bytes, calling progress(sent, total) after each. When
// cancel becomes true it stops, writes abortTail (TESCPOSPrinter::abortTail: feed, cut
// and end of job) and reports cancelled. Asks the status again and closes. Throws
// orvanta::Exception with a message naming the printer on any failure. Any thread:
// everything it needs is in its arguments.
inline constexpr qsizetype kEscPosChunk = 256;
EscPosDeliveryResult deliverEscPos(const EscPosRoute& route, const QByteArray& stream,
                                   const QByteArray& abortTail,
                                   const std::function<void(qint64 sent, qint64 total)>& progress,
                                   const std::atomic<bool>& cancel);

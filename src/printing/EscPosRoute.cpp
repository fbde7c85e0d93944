#include "printing/EscPosRoute.h"

#include "common/GlobConst.h"
#include "platform/Error.h"
#include "printing/PrinterStatus.h"

using orvanta::Exception;

EscPosRoute EscPosRoute::fromSettings() {
    EscPosRoute r;
    switch (EscPosConnection) {
    case ecUsb:
    case ecNetwork:
    case ecCupsRaw:
    case ecScreen:
        r.connection = static_cast<TEscPosConnection>(EscPosConnection);
        break;
    default:
        r.connection = ecSerial;
        break;
    }
    r.comPort = ComPort;
    r.baudRate = ComRate;
    r.device =
        r.connection == ecUsb ? EscPosDevice : orvanta::serialPortDevice(ComPort, DataFolder);
    r.host = EscPosHost;
    r.port = EscPosPort;
    r.queue = EscPosQueue;
    r.askStatus = EscPosStatus;
    return r;
}

std::unique_ptr<EscPosOutput> EscPosRoute::makeOutput() const {
    std::unique_ptr<EscPosOutput> out;
    switch (connection) {
    case ecUsb:
        out = std::make_unique<UsbEscPosOutput>(device);
        break;
    case ecNetwork:
        out = std::make_unique<NetworkEscPosOutput>(host, port);
        break;
    case ecCupsRaw:
        out = std::make_unique<CupsRawEscPosOutput>(queue);
        break;
    case ecScreen:
        out = std::make_unique<MemoryEscPosOutput>();
        break;
    case ecSerial:
        out = std::make_unique<SerialEscPosOutput>(comPort, device, baudRate);
        break;
    }
    out->setJobTitle(jobTitle);
    return out;
}

QString EscPosRoute::name() const {
    return makeOutput()->displayName();
}

QString EscPosRoute::key() const {
    return makeOutput()->statusKey();
}

namespace {

void closeQuietly(EscPosOutput& out) {
    try {
        out.close();
    } catch (const Exception&) {
        // The failure that got us here is the one to report.
    }
}

// Writes bytes whole or throws the output's account of why it could not.
void writeAll(EscPosOutput& out, QByteArrayView bytes) {
    if (out.write(bytes) < bytes.size())
        throw Exception(out.writeFailure());
}

} // namespace

EscPosDeliveryResult deliverEscPos(const EscPosRoute& route, const QByteArray& stream,
                                   const QByteArray& abortTail,
                                   const std::function<void(qint64 sent, qint64 total)>& progress,
                                   const std::atomic<bool>& cancel) {
    const std::unique_ptr<EscPosOutput> out = route.makeOutput();
    const QString name = out->displayName();
    const QString key = out->statusKey();
    EscPosDeliveryResult result;
    out->open();
    try {
        EscPosPrinterStatus before;
        if (route.askStatus)
            before = queryEscPosStatus(*out, key);
        // Refused before the first byte: a receipt sent into a printer that cannot print
        // it is lost while the operator believes it printed.
        if (before.blocksPrinting())
            throw Exception(escPosPrinterMessage(name, before.problem()));
        if (before.answered && !before.problem().isEmpty())
            result.warnings << escPosPrinterMessage(name, before.problem());

        const qint64 total = stream.size();
        while (result.sent < total) {
            if (cancel.load()) {
                result.cancelled = true;
                break;
            }
            const qsizetype n = std::min<qint64>(kEscPosChunk, total - result.sent);
            writeAll(*out, QByteArrayView(stream).sliced(result.sent, n));
            result.sent += n;
            if (progress)
                progress(result.sent, total);
        }
        if (result.cancelled && !abortTail.isEmpty())
            writeAll(*out, abortTail);

        EscPosPrinterStatus after;
        if (route.askStatus)
            after = queryEscPosStatus(*out, key);
        const QString problem = after.problem();
        if (!problem.isEmpty() && problem != before.problem())
            result.warnings << escPosPrinterMessage(name,
                                                    QStringLiteral("после чека — ") + problem);
        result.status = after.words();
    } catch (...) {
        closeQuietly(*out);
        throw;
    }
    out->close();
    return result;
}

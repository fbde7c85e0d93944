#include "printing/ReceiptPrint.h"

#include "platform/Error.h"
#include "platform/Spooler.h"
#include "printing/EscPosConnections.h"
#include "printing/EscPosPrinter.h"
#include "printing/EscPosRoute.h"
#include "printing/OrderDocument.h"
#include "printing/PrintDialog.h"
#include "printing/PrintSettings.h"
#include "printing/PrinterFactory.h"
#include "printing/ReceiptPreview.h"
#include "printing/ReceiptSpooler.h"
#include "printing/WindowsPrinter.h"
#include "printing/XMLUtils.h"

#include <QFile>
#include <QPointer>
#include <QWidget>

#include <memory>

using orvanta::Exception;

namespace {

QString receiptTitle(const TXMLDocument& document) {
    return QStringLiteral("Чек ") + GetXPathText(document, QStringLiteral("/order/name")).trimmed();
}

// A finished page job goes to the print server from the worker; the server's answer is
// all there is to wait for, so the progress is one step.
ReceiptStart spoolPageJob(std::unique_ptr<TPrintJob> finished, QObject* owner) {
    std::shared_ptr<TPrintJob> job = std::move(finished);
    ReceiptStart start;
    start.printer = job->printer();
    start.job = ReceiptSpooler::instance().submit(
        start.printer,
        [job](ReceiptProgress& progress) {
            progress.report(0, 1);
            job->submit();
            progress.report(1, 1);
            return ReceiptDelivery{};
        },
        owner);
    return start;
}

ReceiptStart startEscPos(const TXMLDocument& document, QObject* owner) {
    // The route is taken now: the settings may change before the worker gets to it.
    EscPosRoute route = EscPosRoute::fromSettings();
    route.jobTitle = receiptTitle(document);
    auto output = std::make_unique<MemoryEscPosOutput>();
    const MemoryEscPosOutput* memory = output.get();
    TESCPOSPrinter printer(std::move(output));
    PrintOrderDocument(&printer, &document);

    ReceiptStart start;
    start.printer = route.name();
    start.warnings = printer.Warnings();
    const QByteArray stream = memory->data();
    if (stream.isEmpty())
        return start;
    if (route.connection == ecScreen) {
        TReceiptPreview::showStream(stream, route.jobTitle);
        return start;
    }
    const QByteArray tail = TESCPOSPrinter::abortTail();
    start.job = ReceiptSpooler::instance().submit(
        start.printer,
        [route, stream, tail](ReceiptProgress& progress) {
            const EscPosDeliveryResult result = deliverEscPos(
                route, stream, tail,
                [&progress](qint64 sent, qint64 total) { progress.report(sent, total); },
                progress.cancelRequested());
            return ReceiptDelivery{result.warnings, result.status, result.cancelled};
        },
        owner);
    return start;
}

ReceiptStart startPage(const TXMLDocument& document, QObject* owner) {
    TWindowsInvoicePrinter printer;
    std::unique_ptr<TPrintJob> finished;
    printer.SetSubmitter(
        [&finished](std::unique_ptr<TPrintJob> job) { finished = std::move(job); });
    PrintOrderDocument(&printer, &document);
    if (!finished)
        return {};
    ReceiptStart start = spoolPageJob(std::move(finished), owner);
    start.warnings = printer.Warnings();
    return start;
}

// Whether the page printer of the settings can be printed to as it stands. The print
// service not answering is said as it is: the printer is probably still there.
bool pagePrinterInstalled() {
    if (!orvanta::PrintServiceAnswers())
        throw Exception(QStringLiteral("Служба печати CUPS не отвечает"));
    return !orvanta::FindInstalledPrinter(PrinterName).isEmpty();
}

} // namespace

ReceiptStart StartOrderReceipt(const TXMLDocument& document, QObject* owner) {
    switch (PrinterType) {
    case 0:
        return startPage(document, owner);
    case 3:
        return startEscPos(document, owner);
    default:
        throw Exception(QStringLiteral("Невозможно открыть принтер"));
    }
}

ReceiptStart StartInvoiceText(const QStringList& lines, QObject* owner) {
    return spoolPageJob(ComposeInvoiceText(lines), owner);
}

std::optional<ReceiptStart> RunPrintCommand(QWidget* owner, const QString& iniFileName,
                                            const QString& orderXml,
                                            const QStringList& invoiceLines) {
    const QPointer<QWidget> self(owner);
    // The dialog may outlive its owner (an order window closed by the end of the payment).
    auto askForSettings = [&] { return ExecutePrintDialog(owner, iniFileName) && self; };

    if (!PrintSettingsConfigured && !askForSettings())
        return std::nullopt;

    if (!orderXml.isEmpty() || PrinterType != 0) {
        if (orderXml.isEmpty())
            throw Exception(QStringLiteral("Киоск не прислал документ заказа: печатать нечего"));
        auto document = CreateXMLDocument();
        document->SetAsync(false);
        document->LoadXML(orderXml);
        if (document->ParseErrorCode() != 0)
            throw Exception(QStringLiteral("Документ заказа не читается, чек не напечатан (%1)")
                                .arg(document->ParseErrorReason()));
        if (PrinterType != 0 && PrinterType != 3) {
            if (!askForSettings())
                return std::nullopt;
            if (PrinterType != 0 && PrinterType != 3)
                throw Exception(QStringLiteral("Невозможно открыть принтер"));
        }
        // A page printer that is gone is asked for, never replaced behind the operator's back.
        if (PrinterType == 0 && !pagePrinterInstalled() && !askForSettings())
            return std::nullopt;
        return StartOrderReceipt(*document, owner);
    }

    if (!pagePrinterInstalled() && !askForSettings())
        return std::nullopt;
    return StartInvoiceText(invoiceLines, owner);
}

QString SampleOrderXml() {
    QFile file(QStringLiteral(":/orvanta/order.xml"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

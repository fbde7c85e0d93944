#include "printing/PrinterFactory.h"

#include "printing/EscPosPrinter.h"
#include "printing/PrintSettings.h"
#include "printing/WindowsPrinter.h"

#include <QFontMetrics>
#include <QPainter>

std::unique_ptr<TInvoicePrinter> InvoicePrinter;

void CreateInvoicePrinter() {
    switch (PrinterType) {
    case 0:
        InvoicePrinter = std::make_unique<TWindowsInvoicePrinter>();
        break;
    case 3:
        // The connection as the settings say now; a change of them makes a new printer.
        InvoicePrinter = std::make_unique<TESCPOSPrinter>(EscPosRoute::fromSettings());
        break;
    default:
        break;
    }
}

void FreeInvoicePrinter() {
    // Out of the global before it dies, so a destructor that looks at InvoicePrinter
    // never sees a half-destroyed object.
    const std::unique_ptr<TInvoicePrinter> printer = std::move(InvoicePrinter);
}

std::unique_ptr<TPrintJob> ComposeInvoiceText(const QStringList& lines) {
    auto job = std::make_unique<TPrintJob>(orvanta::SelectPrinter(PrinterName),
                                           QStringLiteral("Печать чека"));
    QFont font(PrinterFontName);
    font.setPointSize(std::max(1, PrinterFontSize));
    const QFontMetrics metrics(font, job->metricsDevice());
    // the cell height of the line, as a device context measures the alphabet in it
    const int h = std::max(1, metrics
                                  .size(0, QStringLiteral("QWERTYUIOPASDFGHJKLZXCVBNM"
                                                          "qwertyuiopasdfghjklzxcvbnm"))
                                  .height());
    const int x = job->pageWidth() / 15;
    int y = 3 * h;
    // The document has its page even when there is nothing to print on it.
    job->painter().setFont(font);
    for (const QString& line : lines) {
        QPainter& painter = job->painter();
        // (x, y) is the top of the line's cell; Qt draws text on its baseline
        painter.drawText(x, y + metrics.ascent(), line);
        y += h;
        if (job->pageHeight() - y < 2 * h) {
            job->endPage();
            job->painter();
            y = 3 * h;
        }
    }
    // Pages are closed here, on the composing thread; the job holds only bytes after this
    // and may be submitted from any thread.
    job->finishComposing();
    return job;
}

void PrintInvoiceText(const QStringList& lines) {
    ComposeInvoiceText(lines)->submit();
}

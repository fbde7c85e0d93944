#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QObject;
class QWidget;
class TXMLDocument;

// A receipt that was composed and has left the operator's hands.
struct ReceiptStart {
    int job = 0;          // its job on ReceiptSpooler::instance(); 0 when it was only shown
    QString printer;      // the printer's name for the operator
    QStringList warnings; // found while composing (a barcode left out, ...)
};

// Composes the receipt of an order document with the current print settings on the
// calling thread (the main thread; it takes well under a millisecond) and hands the result
// to the spooler, which sends it from its worker. With the ESC/POS screen connection the
// receipt is shown in a preview window instead. Only PrinterType 0 and 3 make a printer.
// Throws orvanta::Exception when composing fails (no page printer at all, the print
// service not answering, ...); a failure while sending arrives with the job's outcome.
// owner is the window whose receipt it is (see ReceiptSpooler::submit).
ReceiptStart StartOrderReceipt(const TXMLDocument& document, QObject* owner);

// The plain-text invoice on the page printer PrinterName, composed here and sent from
// the spooler's worker.
ReceiptStart StartInvoiceText(const QStringList& lines, QObject* owner);

// The print command of an order window: asks for the print settings first where the
// console has no printer it may print to — settings never made (the defaults would write
// to a serial port with nothing attached), a printer type that makes none, a page printer
// that is gone —, then composes and starts the receipt. An order document is printed
// through the receipt printer; without one, the page printer prints the invoice text.
// Returns nothing when the operator cancelled a dialog or owner went away meanwhile.
// Throws orvanta::Exception with the text for the error box: an order document that does
// not parse (and why), no printer after the dialog, the print service not answering.
std::optional<ReceiptStart> RunPrintCommand(QWidget* owner, const QString& iniFileName,
                                            const QString& orderXml,
                                            const QStringList& invoiceLines);

// The console's sample order (the one the kiosk simulator sends), for a test print.
QString SampleOrderXml();

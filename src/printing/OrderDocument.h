#pragma once

class TInvoicePrinter;
class TXMLDocument;

// Prints one receipt from the order document a kiosk sent: opens a sale check with the
// order's header values, prints the item lines (dividers, text lines, sales with their
// discount or surcharge), the price adjustment and the shipment line, and closes the
// check with the order's sums.
//
// The printer is passed in rather than taken from the process-wide printer object, so
// that the composition can be driven on any printer; the print command passes the one
// it created. Nothing happens when the printer or the document is missing, or when the
// document holds no element at all.
//
// A document prints the same whether the kiosk wrote it compact or indented: every value
// is read without the blanks (space, tab, CR, LF) around it, and the header and the footer
// keep their inner lines but lose the blank first and last lines and the indentation
// common to their lines.
//
// Values that are missing or do not read take their defaults and are not errors. A
// failure while reading the header values or inside OpenCheck propagates as it is; a
// failure after the check was opened cancels the check first and then propagates.
void PrintOrderDocument(TInvoicePrinter* printer, const TXMLDocument* document);

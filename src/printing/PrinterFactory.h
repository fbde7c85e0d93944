#pragma once

#include "printing/InvoicePrinter.h"
#include "printing/WindowsPrinter.h"

#include <QStringList>

#include <memory>

// The printer object of one print run: empty between runs, filled by CreateInvoicePrinter,
// emptied by FreeInvoicePrinter, which every run ends with, also after a failure.
extern std::unique_ptr<TInvoicePrinter> InvoicePrinter;

// PrinterType 0 makes the page printer, 3 the ESC/POS printer; any other type makes
// nothing and leaves InvoicePrinter as it is.
void CreateInvoicePrinter();
// Takes the object out of InvoicePrinter first, then destroys it.
void FreeInvoicePrinter();

// Prints the plain-text invoice line by line on the page printer of PrinterName (the
// default queue when it is not installed), in the receipt font, page after page, as one
// job titled "Печать чека". Lines are printed as they are, neither wrapped nor cut. Throws
// orvanta::Exception when the server has no queue or refuses the job.
void PrintInvoiceText(const QStringList& lines);
// The same job, composed but not handed to the server: for sending from another thread.
std::unique_ptr<TPrintJob> ComposeInvoiceText(const QStringList& lines);

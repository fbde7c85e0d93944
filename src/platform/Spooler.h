#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The print spooler: the queues of the print server (CUPS_SERVER or the local scheduler)
// and the submission of jobs made of raw and page documents, through libcups.
namespace orvanta {

// Document formats of a job.
extern const char* const kSpoolRawFormat; // bytes passed to the printer unchanged
extern const char* const kSpoolPdfFormat; // pages

struct SpoolDocument {
    QByteArray format;
    QByteArray data;
};

// The queues of the server, by name; instances of a queue are not listed, since a
// receipt always goes to the queue itself.
QStringList InstalledPrinters();
// The server's default queue; empty when none is set.
QString DefaultPrinterName();
// The installed queue called name, whatever the letter case (queue names are not case
// sensitive to CUPS); empty when there is none.
QString FindInstalledPrinter(const QString& name);
// The queue a job for name goes to: that queue when installed, else the default one, else
// the first one (a server without a default is common on Linux, while Windows always has
// one). Throws orvanta::Exception when the server has no queue at all, or "Служба печати
// CUPS не отвечает" when there is no server to ask.
QString SelectPrinter(const QString& name);

// Whether the print server answers at all: an empty list of queues is either a server
// without queues or no server, and the operator has to be told which.
bool PrintServiceAnswers();

// What the server says about one queue, for a job that must go to exactly that queue.
enum class QueueState {
    Accepting,    // the queue is there and takes jobs
    NotAccepting, // there, but rejecting jobs (an administrator's cupsreject, a disabled queue)
    Missing,      // the server answered and has no such queue
    NoService,    // the server did not answer
};
QueueState QueueStatus(const QString& name);

// Hands one job of documents to printer, in order. A queue that cannot take several
// documents in one job gets one job per document, submitted in order, which the queue
// keeps. Throws orvanta::Exception naming the queue when the server refuses or does not
// answer; then nothing of the job stays queued.
void SubmitJob(const QString& printer, const QString& title, const QList<SpoolDocument>& documents);

} // namespace orvanta

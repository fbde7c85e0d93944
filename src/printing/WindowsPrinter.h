#pragma once

#include "platform/Spooler.h"
#include "printing/InvoicePrinter.h"

#include <QBuffer>
#include <QByteArray>
#include <QFont>
#include <QList>
#include <QPageLayout>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QPainter;
class QPaintDevice;
class QPdfWriter;

// One job for a CUPS queue, built completely in memory and handed to the server only by
// submit(). Pages are drawn with a QPainter into PDF; raw control bytes are kept as raw
// documents in the order they were sent, so the job reaches the queue as
// raw, PDF, raw ... exactly as it was made. A job destroyed without submit() leaves
// nothing at all on the queue, which is how an abandoned receipt is cancelled.
//
// Composing (painter, endPage, sendRaw, the measures) belongs to the thread that made the
// job. Once finishComposing() has run there, the job holds nothing but bytes, and submit()
// and the destructor may run on any one other thread.
class TPrintJob {
public:
    // printer must be an installed queue (see orvanta::SelectPrinter).
    TPrintJob(const QString& printer, const QString& title);
    ~TPrintJob();
    TPrintJob(const TPrintJob&) = delete;
    TPrintJob& operator=(const TPrintJob&) = delete;

    const QString& printer() const { return m_printer; }
    int resolution() const { return m_resolution; }
    int pageWidth() const { return m_pageWidth; }
    int pageHeight() const { return m_pageHeight; }
    // A device with the page's resolution for measuring text before anything is drawn.
    QPaintDevice* metricsDevice() const;

    // The painter of the current page; starts the page (and the page document) on first use.
    QPainter& painter();
    // Ends the current page; the next drawing starts a new one. A page with nothing drawn
    // on it is never produced, so ending pages twice makes no empty sheet.
    void endPage();
    // Passes bytes to the printer at this point of the job, unchanged.
    void sendRaw(const QByteArray& bytes);

    using Document = orvanta::SpoolDocument;
    // The documents made so far, pages closed; mainly for looking at a job without a server.
    QList<Document> documents();

    // Ends composing on the composing thread: closes the pages into their document and
    // lets go of the painter, the page writer and the measuring device, which are tied to
    // this thread. Nothing can be drawn or measured afterwards.
    void finishComposing();

    // Hands the job to the server. Throws orvanta::Exception naming the queue when the
    // server refuses it; then nothing of it stays queued.
    void submit();

private:
    void closePages();

    QString m_printer;
    QString m_title;
    QPageLayout m_layout;
    int m_resolution = 300;
    int m_pageWidth = 0;
    int m_pageHeight = 0;
    std::unique_ptr<QBuffer> m_metricsBuffer;
    std::unique_ptr<QPdfWriter> m_metrics;
    QList<Document> m_documents;
    std::unique_ptr<QBuffer> m_pageBuffer;
    std::unique_ptr<QPdfWriter> m_writer;
    std::unique_ptr<QPainter> m_painter;
    bool m_pageEnded = false;
};

// The receipt on a page printer of the print server: text drawn in the receipt font on
// pages of the queue's default size at its resolution, the control codes of the print
// settings passed through as raw bytes around the page (start and logo before it, cut and
// end of job after it). The whole receipt is one job, submitted when the check closes.
class TWindowsInvoicePrinter : public TReceiptLayoutPrinter {
public:
    TWindowsInvoicePrinter();
    ~TWindowsInvoicePrinter() override;

    int PrinterPixelsPerInch(bool Horizontal) const;
    int MMToPixels(double Millimetres) const;

protected:
    void CalcTabs() override;
    int TextWidth(const QString& Text) override;
    int TextHeight(const QString& Text) override;

public:
    void PrintFont(const QString& FontName, int FontSize, TFontStyles FontStyle) override;
    void PrintText(const QString& Text, int x1, int x2, bool RightJust, bool Ln) override;
    void PrintLogo() override;
    void PrintDiv() override;
    void PrintBarCode(const QString& Text) override;
    void PaperFeed(int Units) override;
    void PaperCut(bool Full) override;
    void OpenCheck(TInvoiceCheckType CheckType, const QString& Title, const QString& Header,
                   const QString& OrderName, const TKioskInfo& Kiosk,
                   const TOrganizationInfo& Organization, TDateTime DateTime) override;
    void CloseCheck(const QString& Text, const QString& Footer, double TotalPrice, double Summ,
                    double Discount, double Change, const QString& Address) override;
    void CancelCheck() override;

    // The queue of the job in progress; empty between receipts.
    QString JobPrinter() const;

    using TSubmitter = std::function<void(std::unique_ptr<TPrintJob>)>;
    // When set, the finished receipt's job goes to Submitter instead of to the server, so
    // that a worker thread can submit it while the operator's thread goes on; the job is
    // finished composing (TPrintJob::finishComposing) before it is handed over. An empty
    // Submitter makes the printer submit its jobs itself again.
    void SetSubmitter(TSubmitter Submitter);

private:
    void BeginJob(const QString& Title);
    void EndJob();
    void AbortJob();
    void SendCodes(const QString& CodeText);
    // Starts a new page first when Height pixels from the current position pass the page.
    void EnsureRoom(int Height);
    TPrintJob& job();

    std::unique_ptr<TPrintJob> FJob;
    QFont FFont;
    TSubmitter FSubmitter;
    bool FLineOpen = false; // a text without Ln was placed: the next one shares its line
};

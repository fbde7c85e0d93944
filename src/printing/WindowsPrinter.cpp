#include "printing/WindowsPrinter.h"

#include "platform/CodePages.h"
#include "platform/Error.h"
#include "printing/Barcode.h"
#include "printing/BarcodeCanvas.h"
#include "printing/PrintSettings.h"

#include <QFontMetrics>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------------------------------

TPrintJob::TPrintJob(const QString& printer, const QString& title)
    : m_printer(printer)
    , m_title(title) {
    // The queue's own page size and resolution; a raw queue has no driver to tell them, and
    // then Qt's defaults (A4) stand.
    const QPrinterInfo info = QPrinterInfo::printerInfo(printer);
    if (!info.isNull()) {
        QPrinter probe(info, QPrinter::HighResolution);
        m_layout = probe.pageLayout();
        m_resolution = probe.resolution();
        // QPrinter starts on the locale's paper whatever the queue's driver says; the
        // receipt goes on the paper the queue is set up for.
        const QPageSize paper = info.defaultPageSize();
        if (paper.isValid())
            m_layout.setPageSize(paper, m_layout.minimumMargins());
    }
    if (!m_layout.isValid())
        m_layout = QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF());
    if (m_resolution <= 0)
        m_resolution = 300;

    m_metricsBuffer = std::make_unique<QBuffer>();
    m_metricsBuffer->open(QIODevice::WriteOnly);
    m_metrics = std::make_unique<QPdfWriter>(m_metricsBuffer.get());
    m_metrics->setResolution(m_resolution);
    m_metrics->setPageLayout(m_layout);
    m_pageWidth = m_metrics->width();
    m_pageHeight = m_metrics->height();
}

TPrintJob::~TPrintJob() {
    if (m_painter && m_painter->isActive())
        m_painter->end();
}

QPaintDevice* TPrintJob::metricsDevice() const {
    return m_metrics.get();
}

QPainter& TPrintJob::painter() {
    if (!m_painter) {
        m_pageBuffer = std::make_unique<QBuffer>();
        m_pageBuffer->open(QIODevice::WriteOnly);
        m_writer = std::make_unique<QPdfWriter>(m_pageBuffer.get());
        m_writer->setResolution(m_resolution);
        m_writer->setPageLayout(m_layout);
        m_writer->setTitle(m_title);
        m_writer->setCreator(QStringLiteral("Orvanta"));
        m_painter = std::make_unique<QPainter>();
        if (!m_painter->begin(m_writer.get())) {
            m_painter.reset();
            throw orvanta::Exception(
                QStringLiteral("Не удалось начать страницу для принтера \"%1\"").arg(m_printer));
        }
        m_pageEnded = false;
    } else if (m_pageEnded) {
        m_writer->newPage();
        m_pageEnded = false;
    }
    return *m_painter;
}

void TPrintJob::endPage() {
    if (m_painter)
        m_pageEnded = true;
}

void TPrintJob::sendRaw(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    // A PDF cannot carry printer bytes inside a page: the pages drawn so far become a
    // document of their own, and drawing after this goes onto a new page.
    closePages();
    if (!m_documents.isEmpty() && m_documents.last().format == orvanta::kSpoolRawFormat)
        m_documents.last().data.append(bytes);
    else
        m_documents.append({orvanta::kSpoolRawFormat, bytes});
}

QList<TPrintJob::Document> TPrintJob::documents() {
    closePages();
    return m_documents;
}

void TPrintJob::closePages() {
    if (!m_painter)
        return;
    m_painter->end();
    m_documents.append({orvanta::kSpoolPdfFormat, m_pageBuffer->data()});
    m_painter.reset();
    m_writer.reset();
    m_pageBuffer.reset();
    m_pageEnded = false;
}

void TPrintJob::finishComposing() {
    closePages();
    m_metrics.reset();
    m_metricsBuffer.reset();
}

void TPrintJob::submit() {
    orvanta::SubmitJob(m_printer, m_title, documents());
}

// ---------------------------------------------------------------------------------------

TWindowsInvoicePrinter::TWindowsInvoicePrinter() {
    FName = PrinterName;
}

TWindowsInvoicePrinter::~TWindowsInvoicePrinter() = default;

QString TWindowsInvoicePrinter::JobPrinter() const {
    return FJob ? FJob->printer() : QString();
}

void TWindowsInvoicePrinter::SetSubmitter(TSubmitter Submitter) {
    FSubmitter = std::move(Submitter);
}

TPrintJob& TWindowsInvoicePrinter::job() {
    if (!FJob)
        throw orvanta::Exception(QStringLiteral("Документ печати не начат"));
    return *FJob;
}

int TWindowsInvoicePrinter::PrinterPixelsPerInch(bool Horizontal) const {
    Q_UNUSED(Horizontal); // the PDF page has one resolution for both directions
    return FJob ? FJob->resolution() : 0;
}

int TWindowsInvoicePrinter::MMToPixels(double Millimetres) const {
    // nearbyint rounds halves to even in the default rounding mode
    return static_cast<int>(std::nearbyint(PrinterPixelsPerInch(false) * Millimetres / 25.4));
}

void TWindowsInvoicePrinter::CalcTabs() {
    const int w = TextWidth(QStringLiteral("0"));
    FTab2 = FWidth - 10 * w;
    FTab1 = FWidth - 17 * w;
}

int TWindowsInvoicePrinter::TextWidth(const QString& Text) {
    if (!FJob)
        return QFontMetrics(FFont).horizontalAdvance(Text);
    return QFontMetrics(FFont, FJob->metricsDevice()).horizontalAdvance(Text);
}

int TWindowsInvoicePrinter::TextHeight(const QString& Text) {
    // The height of the line box the text is drawn in, measured as PrintText measures,
    // so that a line of one text moves the position by exactly this much.
    const QString text = Text.isEmpty() ? QStringLiteral(" ") : Text;
    const QRect unbounded(0, 0, 1 << 24, 1 << 24);
    const int flags = Qt::AlignLeft | Qt::AlignTop;
    if (!FJob)
        return QFontMetrics(FFont).boundingRect(unbounded, flags, text).height();
    return QFontMetrics(FFont, FJob->metricsDevice()).boundingRect(unbounded, flags, text).height();
}

void TWindowsInvoicePrinter::PrintFont(const QString& FontName, int FontSize,
                                       TFontStyles FontStyle) {
    QFont font(FontName);
    // QFont ignores a size below 1 with a warning; keep the smallest printable one instead
    font.setPointSize(std::max(1, FontSize));
    font.setBold(FontStyle.testFlag(fsBold));
    font.setItalic(FontStyle.testFlag(fsItalic));
    font.setUnderline(FontStyle.testFlag(fsUnderline));
    font.setStrikeOut(FontStyle.testFlag(fsStrikeOut));
    FFont = font;
}

void TWindowsInvoicePrinter::PrintText(const QString& Text, int x1, int x2, bool RightJust,
                                       bool Ln) {
    TPrintJob& j = job();
    const QString text = Text.isEmpty() ? QStringLiteral(" ") : Text;
    const int flags = Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop;
    const QFontMetrics metrics(FFont, j.metricsDevice());
    // The first text of a line decides whether the line still fits; the texts after it
    // share its line, on whichever page that is.
    if (!FLineOpen) {
        const QRect unbounded(x1, 0, std::max(0, x2 - x1), 1 << 24);
        EnsureRoom(metrics.boundingRect(unbounded, flags, text).height());
    }
    FLineOpen = !Ln;
    const QRect span(x1, FPos.y(), std::max(0, x2 - x1), std::max(0, FHeight - FPos.y()));
    QRect r = metrics.boundingRect(span, flags, text);
    r.moveTop(FPos.y());
    r.moveLeft(x1);
    if (RightJust)
        r.translate(x2 - (r.left() + r.width()), 0);
    QPainter& painter = j.painter();
    painter.setFont(FFont);
    // A pixel of slack so that rounding between measuring and drawing never wraps a line
    // that was measured as fitting.
    painter.drawText(QRectF(r).adjusted(0, 0, 1, 0), flags, text);
    if (Ln)
        FPos.setY(r.top() + r.height());
}

void TWindowsInvoicePrinter::PrintLogo() {
    SendCodes(Code3);
}

void TWindowsInvoicePrinter::PrintDiv() {
    const int h = TextHeight(QStringLiteral("Hy"));
    EnsureRoom(h);
    QPainter& painter = job().painter();
    painter.save();
    painter.setPen(QPen());
    painter.drawLine(1, FPos.y() + h / 2, FWidth - 2, FPos.y() + h / 2);
    painter.restore();
    FPos.ry() += h;
}

void TWindowsInvoicePrinter::PrintBarCode(const QString& Text) {
    // A barcode that cannot be drawn is left out: the receipt is still worth printing.
    try {
        TBarcodeImage barcode;
        barcode.SetTyp(bcCode128A);
        barcode.SetText(orvanta::toCp1251(Text));
        barcode.SetHeight(3 * TextHeight(QStringLiteral("0")));
        // A barcode is never split: it goes whole onto a new page when it does not fit.
        EnsureRoom(barcode.Height());
        barcode.SetLeft(FPos.x());
        barcode.SetTop(FPos.y());
        barcode.SetWidth(std::min(MMToPixels(80), FWidth));
        QPainter& painter = job().painter();
        painter.save();
        {
            TQPainterCanvas canvas(painter);
            barcode.DrawBarcode(canvas);
        }
        painter.restore();
        FPos.setX(0);
        FPos.ry() += barcode.Height();
    } catch (...) {
    }
}

void TWindowsInvoicePrinter::EnsureRoom(int Height) {
    // Nothing is drawn below the page: what does not fit goes on at the top of a new page,
    // so a receipt longer than the page loses none of its end. A line taller than a whole
    // page is drawn at the top of one all the same rather than pushed on from page to page.
    if (FPos.y() > 0 && FPos.y() + Height > FHeight) {
        job().endPage();
        FPos.setY(0);
    }
}

void TWindowsInvoicePrinter::PaperFeed(int Units) {
    FPos.ry() += Units;
}

void TWindowsInvoicePrinter::PaperCut(bool Full) {
    Q_UNUSED(Full);
    TPrintJob& j = job();
    j.endPage();
    if (!Code4.isEmpty()) {
        SendCodes(Code4);
        j.endPage();
    }
    FPos.setY(0);
}

void TWindowsInvoicePrinter::OpenCheck(TInvoiceCheckType CheckType, const QString& Title,
                                       const QString& Header, const QString& OrderName,
                                       const TKioskInfo& Kiosk,
                                       const TOrganizationInfo& Organization, TDateTime DateTime) {
    TInvoicePrinter::OpenCheck(CheckType, Title, Header, OrderName, Kiosk, Organization, DateTime);
    BeginJob(Title);
    try {
        PrintHeader(Title, Header, OrderName, Kiosk, Organization, DateTime);
        if (CheckType != ctInfoText)
            printColumnTitles(QStringLiteral("Цена"));
    } catch (...) {
        AbortJob();
        throw;
    }
}

void TWindowsInvoicePrinter::CloseCheck(const QString& Text, const QString& Footer,
                                        double TotalPrice, double Summ, double Discount,
                                        double Change, const QString& Address) {
    if (TotalPrice != 0) {
        // the footer stays in this font: the total and the footer close the receipt together
        PrintFont(PrinterFontName, PrinterFontSize + 2, {fsBold});
        printTotalLine(TotalPrice);
    }
    printPriceBarCode(TotalPrice);
    PrintFooter(Footer);
    EndJob();
    TInvoicePrinter::CloseCheck(Text, Footer, TotalPrice, Summ, Discount, Change, Address);
}

void TWindowsInvoicePrinter::CancelCheck() {
    AbortJob();
    TInvoicePrinter::CancelCheck();
}

void TWindowsInvoicePrinter::BeginJob(const QString& Title) {
    FJob.reset();
    FJob = std::make_unique<TPrintJob>(orvanta::SelectPrinter(PrinterName), Title);
    FHeight = FJob->pageHeight();
    FWidth = FJob->pageWidth();
    FPos = QPoint(0, 0);
    FLineOpen = false;
    PrintFont(PrinterFontName, PrinterFontSize, {});
    CalcTabs();
    SendCodes(Code1);
    PrintLogo();
}

void TWindowsInvoicePrinter::EndJob() {
    TPrintJob& j = job();
    if (!Code4.isEmpty()) {
        j.endPage();
        SendCodes(Code4);
    }
    SendCodes(Code2);
    // The job leaves this object before it is submitted: a refused job is gone either way,
    // and the CancelCheck that follows the failure finds nothing left to cancel.
    std::unique_ptr<TPrintJob> finished = std::move(FJob);
    if (FSubmitter) {
        // The QPainter, the PDF writers and their buffers are QObjects of this thread.
        // They are closed and dropped here, so the job that leaves holds only the
        // documents' bytes and can be submitted and destroyed on another thread.
        finished->finishComposing();
        FSubmitter(std::move(finished));
        return;
    }
    finished->submit();
}

void TWindowsInvoicePrinter::AbortJob() {
    // Nothing of the job has reached the server yet, so dropping it is the whole cancel.
    FJob.reset();
}

void TWindowsInvoicePrinter::SendCodes(const QString& CodeText) {
    if (CodeText.isEmpty())
        return;
    const std::optional<QByteArray> bytes = DecodeCodeText(CodeText);
    if (!bytes)
        return;
    job().sendRaw(*bytes);
}

#include "CupsSupport.h"
#include "PrintSettingsSupport.h"
#include "TestUtil.h"

#include "platform/Error.h"
#include "printing/OrderDocument.h"
#include "printing/PrintSettings.h"
#include "printing/PrinterFactory.h"
#include "printing/WindowsPrinter.h"
#include "printing/XMLUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSizeF>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using testutil::CupsServer;
using testutil::runTool;

using SavedSettings = testutil::SavedPrintSettings;

QByteArray decoded(const QString& codeText) {
    return DecodeCodeText(codeText).value_or(QByteArray());
}

// The text of a PDF, or empty when pdftotext is missing or fails.
QString pdfText(const QString& pdfFile) {
    return QString::fromUtf8(runTool(QStringLiteral("pdftotext"), {pdfFile, QStringLiteral("-")}));
}

// The text in the order it was drawn, page after page, rather than column by column.
QString pdfDrawnText(const QString& pdfFile) {
    return QString::fromUtf8(runTool(QStringLiteral("pdftotext"),
                                     {QStringLiteral("-raw"), pdfFile, QStringLiteral("-")}));
}

int pdfPages(const QString& pdfFile) {
    const QString info = QString::fromUtf8(runTool(QStringLiteral("pdfinfo"), {pdfFile}));
    for (const QString& line : info.split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral("Pages:")))
            return line.mid(6).trimmed().toInt();
    }
    return -1;
}

struct PdfWord {
    QString text;
    double xMin = 0;
    double xMax = 0;
};

// The words of a PDF with their horizontal extent in points, in reading order.
QList<PdfWord> pdfWords(const QString& pdfFile) {
    const QString html = QString::fromUtf8(runTool(
        QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdfFile, QStringLiteral("-")}));
    static const QRegularExpression word(QStringLiteral(
        "<word xMin=\"([0-9.]+)\" yMin=\"[0-9.]+\" xMax=\"([0-9.]+)\"[^>]*>([^<]*)</word>"));
    QList<PdfWord> words;
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        words.append({m.captured(3), m.captured(1).toDouble(), m.captured(2).toDouble()});
    }
    return words;
}

// What zbarimg reads from every page of the PDF, one symbol a line.
QStringList pdfBarcodes(const QString& pdfFile, const QString& dir) {
    const QString prefix = dir + QStringLiteral("/page");
    runTool(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QStringLiteral("200"), QStringLiteral("-png"), pdfFile, prefix});
    QStringList symbols;
    const QStringList pages =
        QDir(dir).entryList({QStringLiteral("page*.png")}, QDir::Files, QDir::Name);
    for (const QString& page : pages) {
        const QString out = QString::fromUtf8(
            runTool(QStringLiteral("zbarimg"), {QStringLiteral("-q"), QStringLiteral("--raw"),
                                                dir + QLatin1Char('/') + page}));
        for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            symbols << line.trimmed();
    }
    return symbols;
}

class WindowsPrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        const QString missing = CupsServer::missingTools();
        if (!missing.isEmpty())
            GTEST_SKIP() << missing.toStdString();
        ASSERT_TRUE(m_cups.start()) << m_cups.error().toStdString();
        PrinterType = 0;
        PrinterFontName = QStringLiteral("DejaVu Sans");
        PrinterFontSize = 10;
        BarCodeOrder = false;
        BarCodePrice = false;
    }

    bool havePoppler() const {
        return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty() &&
               !QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty() &&
               !QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty();
    }

    // A receipt as the order document prints it: header, items, a long line, total, footer.
    static void printReceipt(TWindowsInvoicePrinter& printer) {
        TKioskInfo kiosk;
        kiosk.Name = QStringLiteral("Киоск у входа");
        TOrganizationInfo organization;
        organization.Name = QStringLiteral("ООО Ромашка");
        printer.OpenCheck(ctSale, QStringLiteral("Чек 12345"), QStringLiteral("Добро пожаловать"),
                          QStringLiteral("12345"), kiosk, organization, 0);
        printer.PrintDiv();
        printer.Sale(QStringLiteral("Кофе"), 1, 2, 50, 0, 0, 0, 0);
        printer.Sale(QStringLiteral("Очень длинное название блюда, которое никак не помещается "
                                    "в колонку описания и переносится по словам на новые строки"),
                     1, 1, 10, 0, 0, 0, 0);
        printer.Discount(QString(), 10);
        printer.PrintDiv();
        printer.CloseCheck(QStringLiteral("12345"), QStringLiteral("Спасибо за покупку"), 100, 100,
                           0, 0, QString());
    }

    SavedSettings m_saved;
    CupsServer m_cups;
};

} // namespace

// The receipt reaches the queue as one job: start and logo codes, the page, then the cut and
// end codes, all byte for byte; the page holds the receipt's lines in order and barcodes
// that read back. Code texts the decoder rejects and empty ones leave no bytes.
TEST_F(WindowsPrinterTest, ReceiptJobCarriesCodesAroundThePage) {
    if (!havePoppler())
        GTEST_SKIP() << "pdftotext/pdfinfo/pdftoppm missing (Debian package poppler-utils)";
    ASSERT_TRUE(m_cups.addQueue(QStringLiteral("Receipt"), true)) << m_cups.error().toStdString();
    const struct {
        const char* name;
        QString code1, code2, code3, code4;
        bool barcodes;
    } cases[] = {
        {"all codes", QStringLiteral("<1B>t<07><1B><33><08>"), QStringLiteral("<1B>d<03>"),
         QStringLiteral("<1C>p<01><00>"), QStringLiteral("<1D>V<42><08>"), true},
        {"no cut, bad logo", QStringLiteral("<1B>@"), QString(), QStringLiteral("<ZZ>"), QString(),
         false},
    };
    int jobs = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(m_cups.captureFile(QStringLiteral("Receipt")));
        PrinterName = QStringLiteral("Receipt");
        Code1 = c.code1;
        Code2 = c.code2;
        Code3 = c.code3;
        Code4 = c.code4;
        BarCodeOrder = c.barcodes;
        BarCodePrice = c.barcodes;
        TWindowsInvoicePrinter printer;
        ASSERT_NO_THROW(printReceipt(printer));
        ++jobs;
        ASSERT_TRUE(m_cups.waitIdle());

        const QByteArray data = m_cups.captured(QStringLiteral("Receipt"));
        const QByteArray head = decoded(c.code1) + decoded(c.code3);
        const QByteArray tail = decoded(c.code4) + decoded(c.code2);
        ASSERT_TRUE(data.startsWith(head + "%PDF-")) << data.left(40).toHex().toStdString();
        ASSERT_TRUE(data.endsWith(tail)) << data.right(40).toHex().toStdString();
        const QByteArray pdf = data.mid(head.size(), data.size() - head.size() - tail.size());
        EXPECT_TRUE(pdf.trimmed().endsWith("%%EOF"));

        QTemporaryDir work;
        const QString pdfFile = work.filePath(QStringLiteral("receipt.pdf"));
        testutil::writeFile(pdfFile, pdf);
        EXPECT_EQ(pdfPages(pdfFile), 1) << "the cut codes make no page of their own";
        EXPECT_TRUE(testutil::inOrder(
            pdfText(pdfFile),
            {QStringLiteral("Добро пожаловать"), QStringLiteral("Киоск у входа"),
             QStringLiteral("Заказ № 12345"), QStringLiteral("ООО Ромашка"), QStringLiteral("Цена"),
             QStringLiteral("Кофе"), QStringLiteral("100.00"), QStringLiteral("Очень длинное"),
             QStringLiteral("новые строки"), QStringLiteral("СКИДКА"), QStringLiteral("Итого"),
             QStringLiteral("Спасибо за покупку")}));
        // Right-justified amounts end on one edge, the quantities on another left of them.
        double amountEdge = -1, quantityEdge = -1, amountLeft = 1e9;
        int amounts = 0, quantities = 0;
        for (const PdfWord& word : pdfWords(pdfFile)) {
            if (word.text == QStringLiteral("100.00") || word.text == QStringLiteral("10.00")) {
                if (amountEdge < 0)
                    amountEdge = word.xMax;
                EXPECT_NEAR(word.xMax, amountEdge, 0.5) << word.text.toStdString();
                amountLeft = std::min(amountLeft, word.xMin);
                ++amounts;
            } else if (word.text == QStringLiteral("2.0") || word.text == QStringLiteral("1.0")) {
                if (quantityEdge < 0)
                    quantityEdge = word.xMax;
                EXPECT_NEAR(word.xMax, quantityEdge, 0.5) << word.text.toStdString();
                ++quantities;
            }
        }
        EXPECT_EQ(amounts, 4) << "two items, the discount and the total";
        EXPECT_EQ(quantities, 2);
        EXPECT_LT(quantityEdge, amountLeft);

        if (QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty())
            continue; // the text and the bytes are checked; the symbols need zbar-tools
        // zbarimg reports the symbols of a page in an order of its own
        QStringList symbols = pdfBarcodes(pdfFile, work.path());
        symbols.sort();
        if (c.barcodes)
            EXPECT_EQ(symbols, QStringList({QStringLiteral("100.00"), QStringLiteral("12345")}));
        else
            EXPECT_TRUE(symbols.isEmpty()) << symbols.join(QLatin1Char(',')).toStdString();
    }
    const QList<CupsServer::JobInfo> all = m_cups.jobs();
    ASSERT_EQ(all.size(), jobs);
    for (const CupsServer::JobInfo& job : all)
        EXPECT_EQ(job.title, QStringLiteral("Чек 12345"));
}

// An abandoned receipt, whether cancelled after its lines or failed inside the header, never
// reaches the queue: not even its start codes.
TEST_F(WindowsPrinterTest, CancelledReceiptLeavesNothingOnTheQueue) {
    ASSERT_TRUE(m_cups.addQueue(QStringLiteral("Receipt"), true)) << m_cups.error().toStdString();
    PrinterName = QStringLiteral("Receipt");
    TWindowsInvoicePrinter printer;
    printer.OpenCheck(ctSale, QStringLiteral("Чек 1"), QString(), QStringLiteral("1"), {}, {}, 0);
    printer.Sale(QStringLiteral("Кофе"), 1, 1, 50, 0, 0, 0, 0);
    printer.CancelCheck();
    EXPECT_FALSE(printer.CheckOpened());
    // the object prints the next receipt normally
    printer.OpenCheck(ctInfoText, QStringLiteral("Чек 2"), QString(), QStringLiteral("2"), {}, {},
                      0);
    printer.CloseCheck(QStringLiteral("2"), QString(), 0, 0, 0, 0, QString());
    ASSERT_TRUE(m_cups.waitIdle());
    const QList<CupsServer::JobInfo> all = m_cups.jobs();
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(all.first().title, QStringLiteral("Чек 2"));
}

// A printer name that is empty, not installed or in another letter case: the named queue
// when it is there, else the default one.
TEST_F(WindowsPrinterTest, PrinterNameChoosesTheQueue) {
    ASSERT_TRUE(m_cups.addQueue(QStringLiteral("Receipt"))) << m_cups.error().toStdString();
    ASSERT_TRUE(m_cups.addQueue(QStringLiteral("Office"), true)) << m_cups.error().toStdString();
    const struct {
        QString name;
        QString queue;
    } cases[] = {
        {QString(), QStringLiteral("Office")},
        {QStringLiteral("Removed Printer"), QStringLiteral("Office")},
        {QStringLiteral("Receipt"), QStringLiteral("Receipt")},
        {QStringLiteral("receipt"), QStringLiteral("Receipt")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        PrinterName = c.name;
        TWindowsInvoicePrinter printer;
        EXPECT_EQ(printer.Name(), c.name);
        printer.OpenCheck(ctInfoText, QStringLiteral("Чек"), QString(), QStringLiteral("7"), {}, {},
                          0);
        EXPECT_EQ(printer.JobPrinter(), c.queue);
        printer.CancelCheck();
    }
    PrinterName = QStringLiteral("Removed Printer");
    ASSERT_NO_THROW(PrintInvoiceText({QStringLiteral("Счёт")}));
    ASSERT_TRUE(m_cups.waitIdle());
    EXPECT_TRUE(m_cups.captured(QStringLiteral("Office")).startsWith("%PDF-"));
    EXPECT_TRUE(m_cups.captured(QStringLiteral("Receipt")).isEmpty());
}

// Failures of the server reach the caller as exceptions that name the printer.
TEST_F(WindowsPrinterTest, SpoolerFailuresNameThePrinter) {
    PrinterName = QStringLiteral("Касса 1");
    {
        TWindowsInvoicePrinter printer;
        try {
            printer.OpenCheck(ctSale, QStringLiteral("Чек"), QString(), QStringLiteral("1"), {}, {},
                              0);
            FAIL() << "a server without queues must refuse the receipt";
        } catch (const orvanta::Exception& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("Касса 1"))) << e.what();
        }
        EXPECT_THROW(PrintInvoiceText({}), orvanta::Exception);
    }

    ASSERT_TRUE(m_cups.addQueue(QStringLiteral("Receipt"), true)) << m_cups.error().toStdString();
    ASSERT_TRUE(m_cups.rejectJobs(QStringLiteral("Receipt"))) << m_cups.error().toStdString();
    PrinterName = QStringLiteral("Receipt");
    TWindowsInvoicePrinter printer;
    printer.OpenCheck(ctSale, QStringLiteral("Чек"), QString(), QStringLiteral("1"), {}, {}, 0);
    try {
        printer.CloseCheck(QStringLiteral("1"), QString(), 10, 10, 0, 0, QString());
        FAIL() << "a queue that rejects jobs must fail the receipt";
    } catch (const orvanta::Exception& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("Receipt"))) << e.what();
    }
    printer.CancelCheck(); // what the order document does after a failure: harmless here
    EXPECT_TRUE(m_cups.jobs().isEmpty());
}

// A cut inside a receipt ends the page, passes the cut codes and goes on on a new page of
// a new page document, all in the one job.
TEST_F(WindowsPrinterTest, PaperCutSplitsThePages) {
    if (!havePoppler())
        GTEST_SKIP() << "pdftotext/pdfinfo missing (Debian package poppler-utils)";
    ASSERT_TRUE(m_cups.addQueue(QStringLiteral("Receipt"), true)) << m_cups.error().toStdString();
    Code1 = QStringLiteral("<1B>@");
    Code2 = QString();
    Code3 = QString();
    Code4 = QStringLiteral("<1D>V<42><08>");
    TWindowsInvoicePrinter printer;
    printer.OpenCheck(ctInfoText, QStringLiteral("Чек"), QString(), QStringLiteral("1"), {}, {}, 0);
    printer.PrintText(QStringLiteral("Первая часть"), 0, printer.Width() - 1, false, true);
    printer.PaperCut(true);
    EXPECT_EQ(printer.Pos().y(), 0);
    printer.PrintText(QStringLiteral("Вторая часть"), 0, printer.Width() - 1, false, true);
    printer.CloseCheck(QStringLiteral("1"), QString(), 0, 0, 0, 0, QString());
    ASSERT_TRUE(m_cups.waitIdle());

    const QByteArray data = m_cups.captured(QStringLiteral("Receipt"));
    const QByteArray cut = decoded(Code4);
    ASSERT_TRUE(data.startsWith(decoded(Code1) + "%PDF-"));
    ASSERT_TRUE(data.endsWith(cut));
    const qsizetype middle = data.indexOf(cut + "%PDF-");
    ASSERT_GT(middle, 0);
    QTemporaryDir work;
    const QString first = work.filePath(QStringLiteral("first.pdf"));
    const QString second = work.filePath(QStringLiteral("second.pdf"));
    testutil::writeFile(first, data.mid(decoded(Code1).size(), middle - decoded(Code1).size()));
    testutil::writeFile(second,
                        data.mid(middle + cut.size(), data.size() - middle - 2 * cut.size()));
    EXPECT_TRUE(pdfText(first).contains(QStringLiteral("Первая часть")));
    EXPECT_FALSE(pdfText(first).contains(QStringLiteral("Вторая часть")));
    EXPECT_TRUE(pdfText(second).contains(QStringLiteral("Вторая часть")));
    EXPECT_EQ(pdfPages(first), 1);
    EXPECT_EQ(pdfPages(second), 1);
    EXPECT_EQ(m_cups.jobs().size(), 1);
}

namespace {

// Opens the protected measures for the layout checks.
class MeasuredPrinter : public TWindowsInvoicePrinter {
public:
    using TWindowsInvoicePrinter::TextHeight;
    using TWindowsInvoicePrinter::TextWidth;
};

} // namespace

// The layout in page pixels: the columns from the digit width, an empty line that still
// takes a line, a right-justified text ending on x2, a long text that wraps and moves on by
// as many lines, and the barcode's width bound.
TEST_F(WindowsPrinterTest, LayoutInPagePixels) {
    ASSERT_TRUE(m_cups.addQueue(QStringLiteral("Receipt"), true)) << m_cups.error().toStdString();
    MeasuredPrinter printer;
    printer.OpenCheck(ctInfoText, QStringLiteral("Чек"), QString(), QStringLiteral("1"), {}, {}, 0);
    const int w = printer.TextWidth(QStringLiteral("0"));
    const int h = printer.TextHeight(QStringLiteral("Hy"));
    ASSERT_GT(w, 0);
    ASSERT_GT(printer.Width(), 17 * w);
    EXPECT_EQ(printer.Tab2(), printer.Width() - 10 * w);
    EXPECT_EQ(printer.Tab1(), printer.Width() - 17 * w);
    EXPECT_EQ(printer.PrinterPixelsPerInch(true), printer.PrinterPixelsPerInch(false));
    EXPECT_EQ(printer.MMToPixels(25.4), printer.PrinterPixelsPerInch(false));

    int y = printer.Pos().y();
    printer.PrintText(QString(), 0, printer.Width() - 1, false, true);
    EXPECT_EQ(printer.Pos().y(), y + h);

    y = printer.Pos().y();
    printer.PrintText(QStringLiteral("12.50"), 0, printer.Width() / 2, true, false);
    EXPECT_EQ(printer.Pos().y(), y) << "without Ln the line stays open";

    QString words;
    while (printer.TextWidth(words) < 3 * printer.Width())
        words += QStringLiteral("слово ");
    printer.PrintText(words, 0, printer.Width() - 1, false, true);
    EXPECT_GE(printer.Pos().y(), y + 3 * h);

    y = printer.Pos().y();
    printer.PrintDiv();
    EXPECT_EQ(printer.Pos().y(), y + h);
    printer.PaperFeed(17);
    EXPECT_EQ(printer.Pos().y(), y + h + 17);
    printer.CancelCheck();
}

// The page is the paper the queue's driver is set up for, not the locale's.
TEST_F(WindowsPrinterTest, PageFollowsTheQueuesPaper) {
    const QString queues[2] = {QStringLiteral("Letter"), QStringLiteral("A4")};
    for (const QString& queue : queues) {
        ASSERT_TRUE(
            m_cups.addQueue(queue, false,
                            {QStringLiteral("-m"), QStringLiteral("drv:///sample.drv/generic.ppd"),
                             QStringLiteral("-o"), QStringLiteral("PageSize=") + queue}))
            << m_cups.error().toStdString();
    }
    QSizeF inches[2];
    for (int i = 0; i < 2; ++i) {
        PrinterName = queues[i];
        TWindowsInvoicePrinter printer;
        printer.OpenCheck(ctInfoText, QStringLiteral("Чек"), QString(), QStringLiteral("1"), {}, {},
                          0);
        const double ppi = printer.PrinterPixelsPerInch(false);
        ASSERT_GT(ppi, 0);
        inches[i] = QSizeF(printer.Width() / ppi, printer.Height() / ppi);
        printer.CancelCheck();
    }
    // Letter is wider and shorter than A4; both lose only their margins (under an inch).
    EXPECT_GT(inches[0].width(), inches[1].width());
    EXPECT_LT(inches[0].height(), inches[1].height());
    EXPECT_GT(inches[0].width(), 7.5);
    EXPECT_GT(inches[1].height(), 10.7);
}

// The plain-text invoice: one job titled "Печать чека" with the lines in order, page after
// page; an empty list still makes a document with its page.
TEST_F(WindowsPrinterTest, InvoiceTextPrintsPageByPage) {
    if (!havePoppler())
        GTEST_SKIP() << "pdftotext/pdfinfo missing (Debian package poppler-utils)";
    ASSERT_TRUE(m_cups.addQueue(QStringLiteral("Receipt"), true)) << m_cups.error().toStdString();
    PrinterName = QStringLiteral("RECEIPT");
    const struct {
        const char* name;
        int lines;
        bool manyPages;
    } cases[] = {{"empty", 0, false}, {"one page", 5, false}, {"many pages", 400, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(m_cups.captureFile(QStringLiteral("Receipt")));
        QStringList lines;
        for (int i = 0; i < c.lines; ++i)
            lines << QStringLiteral("Строка %1").arg(i, 3, 10, QLatin1Char('0'));
        ASSERT_NO_THROW(PrintInvoiceText(lines));
        ASSERT_TRUE(m_cups.waitIdle());
        const QByteArray pdf = m_cups.captured(QStringLiteral("Receipt"));
        ASSERT_TRUE(pdf.startsWith("%PDF-"));
        QTemporaryDir work;
        const QString pdfFile = work.filePath(QStringLiteral("invoice.pdf"));
        testutil::writeFile(pdfFile, pdf);
        const int pages = pdfPages(pdfFile);
        if (c.manyPages)
            EXPECT_GT(pages, 1);
        else
            EXPECT_EQ(pages, 1);
        EXPECT_TRUE(testutil::inOrder(pdfText(pdfFile), lines));
    }
    for (const CupsServer::JobInfo& job : m_cups.jobs())
        EXPECT_EQ(job.title, QStringLiteral("Печать чека"));
    EXPECT_EQ(m_cups.jobs().size(), 3);
}

namespace {

// An order of count items "Позиция 01", "Позиция 02", ..., each with a discount line,
// and a footer line.
QString longOrder(int count) {
    QString items;
    for (int i = 1; i <= count; ++i) {
        items += QStringLiteral("<item><shortname>Позиция %1</shortname><value>1</value>"
                                "<price>10</price><totalprice>9</totalprice></item>")
                     .arg(i, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("<order><name>77</name><invoice>") + items +
           QStringLiteral("<price>%1</price><footer>Конец чека</footer></invoice></order>")
               .arg(count * 9);
}

} // namespace

// A receipt longer than its page goes on on a new page: every line reaches the paper, the
// last items, the total and the footer included.
TEST_F(WindowsPrinterTest, LongReceiptContinuesOnNewPages) {
    if (!havePoppler())
        GTEST_SKIP() << "pdftotext/pdfinfo missing (Debian package poppler-utils)";
    // The sample drivers of CUPS know no A6; the PDF printer of cups-filters does.
    const QString pdfDriver =
        QStringLiteral("/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd");
    if (!QFileInfo::exists(pdfDriver))
        GTEST_SKIP() << "the PDF printer driver of cups-filters is missing (Debian package "
                        "cups-filters)";
    ASSERT_TRUE(m_cups.addQueue(
        QStringLiteral("A6"), false,
        {QStringLiteral("-P"), pdfDriver, QStringLiteral("-o"), QStringLiteral("PageSize=A6")}))
        << m_cups.error().toStdString();
    ASSERT_TRUE(m_cups.addQueue(QStringLiteral("A4"))) << m_cups.error().toStdString();
    Code1 = Code2 = Code3 = Code4 = QString();
    BarCodeOrder = true;
    BarCodePrice = true;

    QStringList longItems;
    for (int i = 1; i <= 40; ++i)
        longItems << QStringLiteral("Позиция %1").arg(i, 2, 10, QLatin1Char('0'));
    const struct {
        const char* name;
        QString queue;
        QString xml;
        QStringList expected;
    } cases[] = {
        {"the sample order on A6",
         QStringLiteral("A6"),
         QString::fromUtf8(testutil::readFile(
             testutil::sourcePath(QStringLiteral("tools/kiosk-sim/samples/order.xml")))),
         {QStringLiteral("Кафе"), QStringLiteral("Заказ № 125"), QStringLiteral("Капучино"),
          QStringLiteral("Пирожок с капустой"), QStringLiteral("Скидка 10% на десерты"),
          QStringLiteral("Наполеон"), QStringLiteral("Вода минеральная"),
          QStringLiteral("Корректировка цены"), QStringLiteral("С собой"), QStringLiteral("Итого"),
          QStringLiteral("730.00"), QStringLiteral("Спасибо за покупку!"),
          QStringLiteral("Ждём вас снова."), QStringLiteral("Тел. +7 (495) 123-45-67")}},
        {"40 items on A4", QStringLiteral("A4"), longOrder(40),
         QStringList{QStringLiteral("Заказ № 77")} + longItems +
             QStringList{QStringLiteral("Итого"), QStringLiteral("360.00"),
                         QStringLiteral("Конец чека")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PrinterName = c.queue;
        auto document = CreateXMLDocument();
        ASSERT_TRUE(document->LoadXML(c.xml)) << document->ParseErrorReason().toStdString();
        TWindowsInvoicePrinter printer;
        ASSERT_NO_THROW(PrintOrderDocument(&printer, document.get()));
        ASSERT_TRUE(m_cups.waitIdle());

        QTemporaryDir work;
        const QString pdfFile = work.filePath(QStringLiteral("receipt.pdf"));
        testutil::writeFile(pdfFile, m_cups.captured(c.queue));
        EXPECT_GE(pdfPages(pdfFile), 2);
        EXPECT_TRUE(testutil::inOrder(pdfDrawnText(pdfFile), c.expected));
    }
}

// The order number's barcode fills its width and reads back at 200 dpi whatever the
// length of the order name; a short name once shrank to a sliver no reader could take.
TEST_F(WindowsPrinterTest, OrderBarcodeReadsForNamesOfAnyLength) {
    if (!havePoppler())
        GTEST_SKIP() << "pdftoppm missing (Debian package poppler-utils)";
    if (QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty())
        GTEST_SKIP() << "zbarimg (Debian package zbar-tools) is not installed";
    ASSERT_TRUE(m_cups.addQueue(QStringLiteral("Receipt"), true)) << m_cups.error().toStdString();
    Code1 = Code2 = Code3 = Code4 = QString();
    BarCodeOrder = true;
    BarCodePrice = false;
    // One name of every length from 1 to 20 characters.
    const char* const names[] = {
        "7",
        "42",
        "125",
        "3001",
        "A-125",
        "987654",
        "1234567",
        "ORD-0042",
        "123456789",
        "2024031501",
        "K1-00000042",
        "123456789012",
        "0000000000125",
        "ZAKAZ-12345678",
        "202403151345101",
        "1111111111111111",
        "K-01/2024-03-15/7",
        "999999999999999999",
        "A1B2C3D4E5F6G7H8I9J",
        "12345678901234567890",
    };
    int length = 0;
    for (const char* name : names) {
        const QString order = QString::fromLatin1(name);
        SCOPED_TRACE(name);
        ASSERT_EQ(order.size(), ++length) << "one name of each length, in order";
        QFile::remove(m_cups.captureFile(QStringLiteral("Receipt")));
        TWindowsInvoicePrinter printer;
        printer.OpenCheck(ctSale, QStringLiteral("Чек ") + order, QString(), order, {}, {}, 0);
        printer.CloseCheck(order, QString(), 0, 0, 0, 0, QString());
        ASSERT_TRUE(m_cups.waitIdle());

        QTemporaryDir work;
        const QString pdfFile = work.filePath(QStringLiteral("receipt.pdf"));
        testutil::writeFile(pdfFile, m_cups.captured(QStringLiteral("Receipt")));
        EXPECT_EQ(pdfBarcodes(pdfFile, work.path()), QStringList{order});
    }
}

// With a submitter the finished job leaves the composing thread untouched by the server;
// submitted from another thread it reaches the queue whole.
TEST_F(WindowsPrinterTest, SubmitterTakesTheFinishedJob) {
    if (!havePoppler())
        GTEST_SKIP() << "pdftotext/pdfinfo missing (Debian package poppler-utils)";
    ASSERT_TRUE(m_cups.addQueue(QStringLiteral("Receipt"), true)) << m_cups.error().toStdString();
    Code1 = QStringLiteral("<1B>@");
    Code2 = QStringLiteral("<1B>d<03>");
    Code3 = QString();
    Code4 = QStringLiteral("<1D>V<42><08>");

    std::unique_ptr<TPrintJob> handed;
    int handOvers = 0;
    TWindowsInvoicePrinter printer;
    printer.SetSubmitter([&](std::unique_ptr<TPrintJob> job) {
        ++handOvers;
        handed = std::move(job);
    });
    ASSERT_NO_THROW(printReceipt(printer));
    ASSERT_EQ(handOvers, 1);
    ASSERT_TRUE(handed);
    EXPECT_EQ(handed->printer(), QStringLiteral("Receipt"));
    EXPECT_FALSE(printer.CheckOpened());
    EXPECT_TRUE(printer.JobPrinter().isEmpty());
    EXPECT_TRUE(m_cups.jobs().isEmpty()) << "nothing is queued before the submitter submits";
    EXPECT_TRUE(m_cups.captured(QStringLiteral("Receipt")).isEmpty());

    QString failure;
    std::thread worker([job = std::move(handed), &failure]() mutable {
        try {
            job->submit();
        } catch (const orvanta::Exception& e) {
            failure = e.message();
        }
        job.reset(); // the worker owns the job to the end
    });
    worker.join();
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();
    ASSERT_TRUE(m_cups.waitIdle());

    const QList<CupsServer::JobInfo> all = m_cups.jobs();
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(all.first().title, QStringLiteral("Чек 12345"));
    const QByteArray data = m_cups.captured(QStringLiteral("Receipt"));
    const QByteArray head = decoded(Code1);
    const QByteArray tail = decoded(Code4) + decoded(Code2);
    ASSERT_TRUE(data.startsWith(head + "%PDF-")) << data.left(40).toHex().toStdString();
    ASSERT_TRUE(data.endsWith(tail)) << data.right(40).toHex().toStdString();
    QTemporaryDir work;
    const QString pdfFile = work.filePath(QStringLiteral("receipt.pdf"));
    testutil::writeFile(pdfFile, data.mid(head.size(), data.size() - head.size() - tail.size()));
    EXPECT_EQ(pdfPages(pdfFile), 1);
    EXPECT_TRUE(testutil::inOrder(pdfText(pdfFile),
                                  {QStringLiteral("Заказ № 12345"), QStringLiteral("Кофе"),
                                   QStringLiteral("Итого"), QStringLiteral("Спасибо за покупку")}));

    // Without a submitter the printer submits the job itself, as before.
    printer.SetSubmitter({});
    ASSERT_NO_THROW(printReceipt(printer));
    ASSERT_TRUE(m_cups.waitIdle());
    EXPECT_EQ(m_cups.jobs().size(), 2);
}

// Order documents as a kiosk sends them (after percent decoding): loaded, then printed
// through the receipt layout onto a printer that prints nowhere; and the date-time
// reader on any text, since the kiosk's clock writes whatever it likes.
//
// Input: the whole of it is the document text (UTF-8).

#include "FuzzSupport.h"

#include "common/FormatSettings.h"
#include "platform/Error.h"
#include "printing/InvoicePrinter.h"
#include "printing/OrderDocument.h"
#include "printing/PrintSettings.h"
#include "printing/XMLUtils.h"

#include <QCoreApplication>
#include <QLocale>
#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

// Composes every receipt line as a character printer does and throws it away.
class TLayoutPrinter : public TInvoicePrinter {
public:
    TLayoutPrinter() {
        FName = QStringLiteral("Layout");
        FWidth = 42;
        FTab1 = 22;
        FTab2 = 30;
    }

    int TextWidth(const QString& Text) override { return static_cast<int>(Text.size()); }

    void PrintText(const QString& Text, int x1, int x2, bool RightJust, bool Ln) override {
        PlaceText(Text, x1, x2, RightJust, Ln);
        if (Ln)
            FString.clear();
    }

    void OpenCheck(TInvoiceCheckType CheckType, const QString& Title, const QString& Header,
                   const QString& OrderName, const TKioskInfo& Kiosk,
                   const TOrganizationInfo& Organization, TDateTime DateTime) override {
        FUZZ_CHECK(!CheckOpened(), OrderName);
        TInvoicePrinter::OpenCheck(CheckType, Title, Header, OrderName, Kiosk, Organization,
                                   DateTime);
        PrintHeader(Title, Header, OrderName, Kiosk, Organization, DateTime);
        printColumnTitles(QStringLiteral("Сумма"));
    }
    void Sale(const QString& Text, int Department, double Quantity, double Price, double Tax1,
              double Tax2, double Tax3, double Tax4) override {
        Q_UNUSED(Department);
        Q_UNUSED(Tax1);
        Q_UNUSED(Tax2);
        Q_UNUSED(Tax3);
        Q_UNUSED(Tax4);
        FUZZ_CHECK(CheckOpened(), Text);
        printItemLine(Text, Quantity, Price);
    }
    void Charge(const QString& Text, double Charge) override {
        FUZZ_CHECK(CheckOpened(), Text);
        printChargeLine(Text, Charge);
    }
    void Discount(const QString& Text, double Discount) override {
        FUZZ_CHECK(CheckOpened(), Text);
        printDiscountLine(Text, Discount);
    }
    void CloseCheck(const QString& Text, const QString& Footer, double TotalPrice, double Summ,
                    double Discount, double Change, const QString& Address) override {
        FUZZ_CHECK(CheckOpened(), Text);
        printTotalLine(TotalPrice);
        printPriceBarCode(TotalPrice);
        PrintFooter(Footer);
        TInvoicePrinter::CloseCheck(Text, Footer, TotalPrice, Summ, Discount, Change, Address);
    }
};

void checkDateTime(const QString& text) {
    const TDateTime value = ISO8601ToDateTime(text);
    FUZZ_CHECK(value == 0 || std::isfinite(value), text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    static QCoreApplication app(fuzzsupport::appArgc(), fuzzsupport::appArgv());
    InitFormatSettings(QLocale(QLocale::Russian, QLocale::Russia));
    // Both barcodes on, so that their texts go through the layout too.
    BarCodeOrder = true;
    BarCodePrice = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    checkDateTime(text);
    checkDateTime(text.section(QLatin1Char('\n'), 0, 0));

    const std::unique_ptr<TXMLDocument> document = CreateXMLDocument();
    document->SetAsync(false);
    const bool loaded = document->LoadXML(text);
    FUZZ_CHECK(loaded == (document->ParseErrorCode() == 0), document->ParseErrorReason());
    FUZZ_CHECK(loaded != document->DocumentElement().isNull(), document->ParseErrorReason());
    if (!loaded)
        return 0;

    TLayoutPrinter printer;
    try {
        PrintOrderDocument(&printer, document.get());
    } catch (const orvanta::Exception& e) {
        FUZZ_CHECK(!printer.CheckOpened(), e.message());
        return 0;
    }
    FUZZ_CHECK(!printer.CheckOpened(), QString());
    return 0;
}

#include "printing/InvoicePrinter.h"

#include "common/FormatSettings.h"
#include "printing/PrintSettings.h"

#include <algorithm>

TInvoicePrinter::TInvoicePrinter()
    : FName(QStringLiteral("Abstract")) {}

TInvoicePrinter::~TInvoicePrinter() = default;

void TInvoicePrinter::PlaceText(const QString& Text, int x1, int x2, bool RightJust, bool /*Ln*/) {
    // A negative start would write before column 0. Columns are counted in qsizetype: a
    // text may be longer than an int column can reach.
    const qsizetype first = std::max(x1, 0);
    const qsizetype length = Text.size();
    const qsizetype last = std::max<qsizetype>(x2, first + length - 1);
    const qsizetype span = last - first + 1;
    const qsizetype start = RightJust && length < span ? first + span - length : first;
    // Columns from MaxLineColumns on would overflow the printer's line buffer: the line is
    // cut there, however long the text or wide the span.
    const qsizetype end = std::min<qsizetype>(last + 1, MaxLineColumns);
    // Pad for every span, the one at column 0 included: a one-column text at 0..0 in
    // an empty buffer must still have a column to land in.
    if (FString.size() < end)
        FString.append(QString(end - FString.size(), QLatin1Char(' ')));
    // A right-aligned text owns its whole span: what an earlier text that ran on left in
    // the columns before it (the tail of a long quantity under a short amount) is cleared.
    if (RightJust) {
        for (qsizetype col = first; col < std::min(start, end); ++col)
            FString[col] = QLatin1Char(' ');
    }
    for (qsizetype col = start; col < end && col - start < length; ++col)
        FString[col] = Text.at(col - start);
}

void TInvoicePrinter::CalcTabs() {}

int TInvoicePrinter::TextWidth(const QString& /*Text*/) {
    return 0;
}

int TInvoicePrinter::TextHeight(const QString& /*Text*/) {
    return 0;
}

void TInvoicePrinter::PrintFont(const QString&, int, TFontStyles) {}

void TInvoicePrinter::PrintText(const QString&, int, int, bool, bool) {}

QStringList TInvoicePrinter::splitLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines << text.mid(start, i - start);
        if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

void TInvoicePrinter::PrintHeader(const QString& /*Title*/, const QString& Header,
                                  const QString& OrderName, const TKioskInfo& Kiosk,
                                  const TOrganizationInfo& Organization, TDateTime DateTime) {
    const int right = FWidth - 1;
    for (const QString& line : splitLines(Header))
        PrintText(line, 0, right, false, true);
    // Name and address stand each on their own: a kiosk set up without a name still
    // has its place in the venue printed.
    if (!Kiosk.Name.isEmpty())
        PrintText(Kiosk.Name, 0, right, false, true);
    if (!Kiosk.Address.isEmpty())
        PrintText(Kiosk.Address, 0, right, false, true);

    PrintFont(PrinterFontName, PrinterFontSize + 2, {fsBold});
    // Joined, not formatted: an order name may itself contain a "%".
    PrintText(QStringLiteral("Заказ № ") + OrderName, 0, right, false, true);
    PrintFont(PrinterFontName, PrinterFontSize, {});
    PrintText(FormatDateTime(QStringLiteral("ddd, dd mmm yyyy, hh:nn"), DateTime), 0, right, false,
              true);

    if (FCheckType != ctInfoText && BarCodeOrder)
        PrintBarCode(OrderName);
    PrintDiv();

    if (Organization.NoPrint)
        return;
    const struct {
        QString prefix;
        const QString& value;
    } block[] = {
        {QString(), Organization.Name},
        {QStringLiteral("Адрес "), Organization.Address},
        {QStringLiteral("ИНН "), Organization.INN},
        {QStringLiteral("Тел. "), Organization.Phone},
    };
    bool any = false;
    for (const auto& entry : block) {
        if (entry.value.isEmpty())
            continue;
        PrintText(entry.prefix + entry.value, 0, right, false, true);
        any = true;
    }
    if (any)
        PrintDiv();
}

void TInvoicePrinter::PrintFooter(const QString& Footer) {
    for (const QString& line : splitLines(Footer))
        PrintText(line, 0, FWidth - 1, false, true);
}

void TInvoicePrinter::PrintLogo() {}

void TInvoicePrinter::PrintDiv() {}

void TInvoicePrinter::PrintBarCode(const QString&) {}

void TInvoicePrinter::PaperFeed(int) {}

void TInvoicePrinter::PaperCut(bool) {}

void TInvoicePrinter::UpdateStatus() {}

bool TInvoicePrinter::Recover(int /*Data1*/, int /*Data2*/, double /*Data3*/,
                              const QString& /*Data4*/) {
    return true;
}

void TInvoicePrinter::OpenCheck(TInvoiceCheckType CheckType, const QString& /*Title*/,
                                const QString& /*Header*/, const QString& /*OrderName*/,
                                const TKioskInfo& /*Kiosk*/,
                                const TOrganizationInfo& /*Organization*/, TDateTime /*DateTime*/) {
    FCheckType = CheckType;
    FCheckOpened = true;
}

void TInvoicePrinter::Sale(const QString&, int, double, double, double, double, double, double) {}

void TInvoicePrinter::Buy(const QString&, int, double, double, double, double, double, double) {}

void TInvoicePrinter::Charge(const QString&, double) {}

void TInvoicePrinter::Discount(const QString&, double) {}

void TInvoicePrinter::CloseCheck(const QString& /*Text*/, const QString& /*Footer*/,
                                 double /*TotalPrice*/, double /*Summ*/, double /*Discount*/,
                                 double /*Change*/, const QString& /*Address*/) {
    FCheckOpened = false;
}

void TInvoicePrinter::CancelCheck() {
    FCheckOpened = false;
}

void TInvoicePrinter::printLabel(const QString& label) {
    if (TextWidth(label) > FTab1)
        PrintText(label, 0, FWidth - 1, false, true);
    else
        PrintText(label, 0, FTab1 - 1, false, false);
}

void TInvoicePrinter::printColumnTitles(const QString& amountTitle) {
    PrintText(QStringLiteral("Наименование"), 0, FTab1 - 1, false, false);
    PrintText(QStringLiteral("Кол-во"), FTab1, FTab2 - 1, true, false);
    PrintText(amountTitle, FTab2, FWidth - 1, true, true);
}

void TInvoicePrinter::printItemLine(const QString& text, double quantity, double price) {
    printLabel(text);
    PrintText(FormatFixed(quantity, 1), FTab1, FTab2 - 1, true, false);
    PrintText(FormatMoney(quantity * price), FTab2, FWidth - 1, true, true);
}

void TInvoicePrinter::printChargeLine(const QString& text, double charge) {
    printLabel(QStringLiteral("НАДБАВКА ") + text);
    PrintText(FormatMoney(charge), FTab2, FWidth - 1, true, true);
}

void TInvoicePrinter::printDiscountLine(const QString& text, double discount) {
    printLabel(QStringLiteral("СКИДКА ") + text);
    PrintText(FormatMoney(discount), FTab2, FWidth - 1, true, true);
}

void TInvoicePrinter::printTotalLine(double totalPrice) {
    printLabel(QStringLiteral("Итого"));
    PrintText(FormatMoney(totalPrice), FTab1, FWidth - 1, true, true);
}

void TInvoicePrinter::printPriceBarCode(double totalPrice) {
    if (BarCodePrice && totalPrice != 0)
        PrintBarCode(FormatFixed(totalPrice, 2));
}

void TReceiptLayoutPrinter::Sale(const QString& Text, int, double Quantity, double Price, double,
                                 double, double, double) {
    printItemLine(Text, Quantity, Price);
}

void TReceiptLayoutPrinter::Buy(const QString& Text, int, double Quantity, double Price, double,
                                double, double, double) {
    printItemLine(Text, Quantity, Price);
}

void TReceiptLayoutPrinter::Charge(const QString& Text, double Charge) {
    printChargeLine(Text, Charge);
}

void TReceiptLayoutPrinter::Discount(const QString& Text, double Discount) {
    printDiscountLine(Text, Discount);
}

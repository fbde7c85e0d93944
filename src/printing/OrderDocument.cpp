#include "printing/OrderDocument.h"

#include "common/FormatSettings.h"
#include "printing/InvoicePrinter.h"
#include "printing/XMLUtils.h"

namespace {

// The kiosk writes its documents by hand and by template; blanks and line breaks around
// a number are layout, not part of the value.
QStringView trimBlanks(QStringView text) {
    auto isBlank = [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
               c == QLatin1Char('\n');
    };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

double decimalValue(const QString& text) {
    double value = 0;
    if (!TryStrToFloat(trimBlanks(text), value))
        return 0;
    return value;
}

int integerValue(const QString& text, int defaultValue) {
    int value = 0;
    if (!TryStrToInt(trimBlanks(text), value))
        return defaultValue;
    return value;
}

// A number other than 0, or the word true in any letter case; everything else is false.
bool booleanValue(const QString& text) {
    const QStringView trimmed = trimBlanks(text);
    double number = 0;
    if (TryStrToFloat(trimmed, number))
        return number != 0;
    return trimmed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

void printItem(TInvoicePrinter* printer, const TXMLNode& item) {
    const QString kind = GetXPathText(item, QStringLiteral("type"));
    if (kind.compare(QLatin1String("DIV"), Qt::CaseInsensitive) == 0) {
        printer->PrintDiv();
        return;
    }
    if (kind.compare(QLatin1String("TEXT"), Qt::CaseInsensitive) == 0) {
        const QString text = GetXPathText(item, QStringLiteral("text"));
        if (!text.isEmpty())
            printer->PrintText(text, 0, printer->Width() - 1, false, true);
        return;
    }

    const QString shortName = GetXPathText(item, QStringLiteral("shortname"));
    const double value = decimalValue(GetXPathText(item, QStringLiteral("value")));
    const double price = decimalValue(GetXPathText(item, QStringLiteral("price")));
    const double totalPrice = decimalValue(GetXPathText(item, QStringLiteral("totalprice")));
    const int department = integerValue(GetXPathText(item, QStringLiteral("department")), 1);
    const double tax1 = decimalValue(GetXPathText(item, QStringLiteral("tax1")));
    const double tax2 = decimalValue(GetXPathText(item, QStringLiteral("tax2")));
    const double tax3 = decimalValue(GetXPathText(item, QStringLiteral("tax3")));
    const double tax4 = decimalValue(GetXPathText(item, QStringLiteral("tax4")));

    printer->Sale(shortName, department, value, price, tax1, tax2, tax3, tax4);

    // What the kiosk charged differs from quantity times price by the discount or the
    // surcharge it granted on this line. The difference is printed as it is, even a
    // fraction of a kopeck, so the receipt shows every deviation the kiosk made.
    const double difference = value * price - totalPrice;
    if (difference > 0)
        printer->Discount(QString(), difference);
    else if (difference < 0)
        printer->Charge(QString(), -difference);
}

} // namespace

void PrintOrderDocument(TInvoicePrinter* printer, const TXMLDocument* document) {
    if (!printer || !document || document->DocumentElement().isNull())
        return;
    const TXMLDocument& doc = *document;

    const QString name = GetXPathText(doc, QStringLiteral("/order/name"));
    const TDateTime dateTime =
        ISO8601ToDateTime(GetXPathText(doc, QStringLiteral("/order/datetime")));

    TKioskInfo kiosk;
    kiosk.Guid = GetXPathText(doc, QStringLiteral("/order/kiosk/guid"));
    kiosk.UIN = GetXPathText(doc, QStringLiteral("/order/kiosk/uin"));
    kiosk.Name = GetXPathText(doc, QStringLiteral("/order/kiosk/name"));
    kiosk.Address = GetXPathText(doc, QStringLiteral("/order/kiosk/address"));

    TOrganizationInfo organization;
    organization.Name = GetXPathText(doc, QStringLiteral("/order/kiosk/organization/name"));
    organization.Address = GetXPathText(doc, QStringLiteral("/order/kiosk/organization/address"));
    organization.INN = GetXPathText(doc, QStringLiteral("/order/kiosk/organization/inn"));
    organization.Phone = GetXPathText(doc, QStringLiteral("/order/kiosk/organization/phone"));
    organization.NoPrint =
        booleanValue(GetXPathText(doc, QStringLiteral("/order/kiosk/organization/noprint")));

    const QString header = GetXPathText(doc, QStringLiteral("/order/invoice/header"));
    const QString footer = GetXPathText(doc, QStringLiteral("/order/invoice/footer"));

    // A failure up to here leaves no check open, so there is nothing to cancel.
    printer->OpenCheck(ctSale, QStringLiteral("Чек") + QLatin1Char(' ') + name, header, name, kiosk,
                       organization, dateTime);

    try {
        printer->PrintDiv();

        const TXMLNodeList items = doc.SelectNodes(QStringLiteral("/order/invoice/item"));
        for (int i = 0; i < items.Count(); ++i)
            printItem(printer, items.Item(i));

        const double adjustment =
            decimalValue(GetXPathText(doc, QStringLiteral("/order/invoice/adjustment")));
        if (adjustment > 0)
            printer->Charge(QStringLiteral("Корректировка цены"), adjustment);

        printer->PrintDiv();

        const double price =
            decimalValue(GetXPathText(doc, QStringLiteral("/order/invoice/price")));
        const double payed =
            decimalValue(GetXPathText(doc, QStringLiteral("/order/invoice/payed")));
        const double change =
            decimalValue(GetXPathText(doc, QStringLiteral("/order/invoice/change")));

        if (!doc.SelectSingleNode(QStringLiteral("/order/shipment")).isNull()) {
            const QString shipmentName =
                GetXPathText(doc, QStringLiteral("/order/shipment/shortname"));
            const QString shipmentAddress =
                GetXPathText(doc, QStringLiteral("/order/shipment/address"));
            printer->PrintText(QStringLiteral("%1: %2").arg(shipmentName, shipmentAddress), 0,
                               printer->Width() - 1, false, true);
        }

        printer->CloseCheck(name, footer, price, payed, 0, change, QString());
    } catch (...) {
        // The failure that stopped the receipt is the one the operator must see. When
        // the device is gone, abandoning the check usually fails the same way; that
        // second failure must not hide the first, so it is dropped here.
        try {
            printer->CancelCheck();
        } catch (...) {
        }
        throw;
    }
}

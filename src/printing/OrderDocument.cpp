#include "printing/OrderDocument.h"

#include "common/FormatSettings.h"
#include "printing/InvoicePrinter.h"
#include "printing/XMLUtils.h"

#include <algorithm>

namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
           c == QLatin1Char('\n');
}

// The kiosk writes its documents by hand and by template, compact or indented; blanks and
// line breaks around a value are layout; the value is what they enclose.
QStringView trimBlanks(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// The text of a path with the layout's blanks around it removed.
QString valueText(const TXMLNode& node, const QString& xpath) {
    return trimBlanks(GetXPathText(node, xpath)).toString();
}

QString valueText(const TXMLDocument& document, const QString& xpath) {
    return valueText(document.DocumentNode(), xpath);
}

bool isBlankLine(QStringView line) {
    return std::all_of(line.begin(), line.end(), isBlank);
}

// A header or a footer keeps its lines, blank ones inside included. What an indented
// document adds goes: the blank line after the opening tag, the blanks before the
// closing tag, and the indentation common to all lines that hold text. A compact text
// comes through unchanged, a line's own leading blanks relative to the others too.
QString multiLineText(const TXMLDocument& document, const QString& xpath) {
    const QString text = GetXPathText(document, xpath);
    if (isBlankLine(text))
        return {};
    QStringList lines = text.split(QLatin1Char('\n'));
    if (isBlankLine(lines.first()))
        lines.removeFirst();
    // The line break before the closing tag stays: a break at the very end prints no line.
    if (isBlankLine(lines.last()))
        lines.last().clear();

    QStringView indent;
    bool first = true;
    for (const QString& line : std::as_const(lines)) {
        if (isBlankLine(line))
            continue;
        qsizetype n = 0;
        while (n < line.size() &&
               (line.at(n) == QLatin1Char(' ') || line.at(n) == QLatin1Char('\t')))
            ++n;
        const QStringView lead = QStringView(line).left(n);
        if (first) {
            indent = lead;
            first = false;
            continue;
        }
        qsizetype common = 0;
        while (common < indent.size() && common < lead.size() &&
               indent.at(common) == lead.at(common))
            ++common;
        indent = indent.left(common);
    }
    const qsizetype cut = indent.size();
    for (QString& line : lines) {
        if (isBlankLine(line))
            line.clear();
        else
            line.remove(0, cut);
    }
    return lines.join(QLatin1Char('\n'));
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
    const QString kind = valueText(item, QStringLiteral("type"));
    if (kind.compare(QLatin1String("DIV"), Qt::CaseInsensitive) == 0) {
        printer->PrintDiv();
        return;
    }
    if (kind.compare(QLatin1String("TEXT"), Qt::CaseInsensitive) == 0) {
        const QString text = valueText(item, QStringLiteral("text"));
        if (!text.isEmpty())
            printer->PrintText(text, 0, printer->Width() - 1, false, true);
        return;
    }

    const QString shortName = valueText(item, QStringLiteral("shortname"));
    const double value = decimalValue(valueText(item, QStringLiteral("value")));
    const double price = decimalValue(valueText(item, QStringLiteral("price")));
    const double totalPrice = decimalValue(valueText(item, QStringLiteral("totalprice")));
    const int department = integerValue(valueText(item, QStringLiteral("department")), 1);
    const double tax1 = decimalValue(valueText(item, QStringLiteral("tax1")));
    const double tax2 = decimalValue(valueText(item, QStringLiteral("tax2")));
    const double tax3 = decimalValue(valueText(item, QStringLiteral("tax3")));
    const double tax4 = decimalValue(valueText(item, QStringLiteral("tax4")));

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

    const QString name = valueText(doc, QStringLiteral("/order/name"));
    const TDateTime dateTime = ISO8601ToDateTime(valueText(doc, QStringLiteral("/order/datetime")));

    TKioskInfo kiosk;
    kiosk.Guid = valueText(doc, QStringLiteral("/order/kiosk/guid"));
    kiosk.UIN = valueText(doc, QStringLiteral("/order/kiosk/uin"));
    kiosk.Name = valueText(doc, QStringLiteral("/order/kiosk/name"));
    kiosk.Address = valueText(doc, QStringLiteral("/order/kiosk/address"));

    TOrganizationInfo organization;
    organization.Name = valueText(doc, QStringLiteral("/order/kiosk/organization/name"));
    organization.Address = valueText(doc, QStringLiteral("/order/kiosk/organization/address"));
    organization.INN = valueText(doc, QStringLiteral("/order/kiosk/organization/inn"));
    organization.Phone = valueText(doc, QStringLiteral("/order/kiosk/organization/phone"));
    organization.NoPrint =
        booleanValue(valueText(doc, QStringLiteral("/order/kiosk/organization/noprint")));

    const QString header = multiLineText(doc, QStringLiteral("/order/invoice/header"));
    const QString footer = multiLineText(doc, QStringLiteral("/order/invoice/footer"));

    // A failure up to here leaves no check open, so there is nothing to cancel.
    printer->OpenCheck(ctSale, QStringLiteral("Чек") + QLatin1Char(' ') + name, header, name, kiosk,
                       organization, dateTime);

    try {
        printer->PrintDiv();

        const TXMLNodeList items = doc.SelectNodes(QStringLiteral("/order/invoice/item"));
        for (int i = 0; i < items.Count(); ++i)
            printItem(printer, items.Item(i));

        const double adjustment =
            decimalValue(valueText(doc, QStringLiteral("/order/invoice/adjustment")));
        if (adjustment > 0)
            printer->Charge(QStringLiteral("Корректировка цены"), adjustment);

        printer->PrintDiv();

        const double price = decimalValue(valueText(doc, QStringLiteral("/order/invoice/price")));
        const double payed = decimalValue(valueText(doc, QStringLiteral("/order/invoice/payed")));
        const double change = decimalValue(valueText(doc, QStringLiteral("/order/invoice/change")));

        if (!doc.SelectSingleNode(QStringLiteral("/order/shipment")).isNull()) {
            const QString shipmentName =
                valueText(doc, QStringLiteral("/order/shipment/shortname"));
            const QString shipmentAddress =
                valueText(doc, QStringLiteral("/order/shipment/address"));
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

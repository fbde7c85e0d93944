#include "printing/OrderDocument.h"

#include "RecordingPrinterSupport.h"
#include "TestUtil.h"
#include "common/DateUtils.h"
#include "platform/Error.h"
#include "printing/XMLUtils.h"

#include "PrintSettingsSupport.h"
#include "common/FormatSettings.h"
#include "platform/CodePages.h"
#include "printing/EscPosPrinter.h"
#include "printing/PrintSettings.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <ctime>
#include <memory>

using testutil::numberText;
using testutil::TRecordingPrinter;

namespace {

constexpr int kWidth = 42;

std::unique_ptr<TXMLDocument> loadDocument(const QString& xml) {
    auto document = CreateXMLDocument();
    document->SetAsync(false);
    EXPECT_TRUE(document->LoadXML(xml)) << document->ParseErrorReason().toStdString() << "\n"
                                        << xml.toStdString();
    return document;
}

// An order with the given content of its invoice and, after the invoice, of the order.
QString orderWith(const QString& invoice, const QString& rest = QString()) {
    return QStringLiteral("<order><name>7</name><invoice>") + invoice +
           QStringLiteral("</invoice>") + rest + QStringLiteral("</order>");
}

QStringList print(const QString& xml, int width = kWidth) {
    TRecordingPrinter printer(width);
    const auto document = loadDocument(xml);
    PrintOrderDocument(&printer, document.get());
    EXPECT_FALSE(printer.CheckOpened());
    return printer.lines();
}

// The calls between the divider after the header and the divider before the close.
QStringList bodyLines(const QStringList& lines) {
    EXPECT_GE(lines.size(), 4);
    EXPECT_TRUE(lines.value(0).startsWith(QStringLiteral("OpenCheck(")));
    EXPECT_EQ(lines.value(1), QStringLiteral("PrintDiv()"));
    EXPECT_EQ(lines.value(lines.size() - 2), QStringLiteral("PrintDiv()"));
    EXPECT_TRUE(lines.value(lines.size() - 1).startsWith(QStringLiteral("CloseCheck(")));
    return lines.mid(2, lines.size() - 4);
}

std::string joined(const QStringList& lines) {
    return lines.join(QStringLiteral("\n")).toStdString();
}

// ISO 8601 times are turned into local time; the tests fix the zone to UTC.
class OrderDocumentTest : public ::testing::Test {
private:
    testutil::ScopedTimeZone m_zone{"UTC"};
};

struct ItemCase {
    const char* name;
    QString item; // content of one item element, or a whole item element when it starts with <item
    QStringList expected;
};

TEST_F(OrderDocumentTest, ItemKindsPrintTheirLines) {
    const QString div = QStringLiteral("PrintDiv()");
    const ItemCase cases[] = {
        {"divider upper case", QStringLiteral("<type>DIV</type>"), {div}},
        {"divider lower case", QStringLiteral("<type>div</type>"), {div}},
        {"divider mixed case", QStringLiteral("<type>Div</type>"), {div}},
        {"blanks around the kind", QStringLiteral("<type> DIV </type>"), {div}},
        {"text kind and text on lines of their own",
         QStringLiteral("<type>\n\t\tTEXT\n\t</type><text>\r\n    Акция дня\r\n  </text>"),
         {QStringLiteral("PrintText(Акция дня,0,41,0,1)")}},
        {"a text of blanks prints nothing",
         QStringLiteral("<type>TEXT</type><text>\n  </text>"),
         {}},
        {"blanks around a sale's name",
         QStringLiteral("<shortname>\n  Кофе\n</shortname><value>\n1\n</value>"
                        "<price> 5 </price><totalprice>\t5\t</totalprice>"),
         {QStringLiteral("Sale(Кофе,1,1,5,0,0,0,0)")}},
        {"divider ignores sale values",
         QStringLiteral("<type>DIV</type><shortname>Кофе</shortname><value>1</value>"),
         {div}},
        {"text line",
         QStringLiteral("<type>TEXT</type><text>Акция дня</text>"),
         {QStringLiteral("PrintText(Акция дня,0,41,0,1)")}},
        {"text line lower case",
         QStringLiteral("<type>text</type><text>Акция</text>"),
         {QStringLiteral("PrintText(Акция,0,41,0,1)")}},
        {"text line mixed case",
         QStringLiteral("<type>TeXt</type><text>Акция</text>"),
         {QStringLiteral("PrintText(Акция,0,41,0,1)")}},
        {"empty text prints nothing", QStringLiteral("<type>TEXT</type><text></text>"), {}},
        {"missing text prints nothing", QStringLiteral("<type>TEXT</type>"), {}},
        {"text line ignores sale values",
         QStringLiteral("<type>TEXT</type><shortname>Кофе</shortname><value>1</value>"
                        "<price>5</price>"),
         {}},
        {"no type is a sale",
         QStringLiteral("<shortname>Кофе</shortname><value>2</value><price>50</price>"
                        "<totalprice>100</totalprice>"),
         {QStringLiteral("Sale(Кофе,1,2,50,0,0,0,0)")}},
        {"unknown type is a sale",
         QStringLiteral("<type>DIVIDER</type><shortname>Кофе</shortname><value>1</value>"
                        "<price>5</price><totalprice>5</totalprice>"),
         {QStringLiteral("Sale(Кофе,1,1,5,0,0,0,0)")}},
        {"empty type is a sale",
         QStringLiteral("<type></type><shortname>Чай</shortname>"),
         {QStringLiteral("Sale(Чай,1,0,0,0,0,0,0)")}},
        {"type attribute is not read",
         QStringLiteral("<item type=\"DIV\"><shortname>Чай</shortname></item>"),
         {QStringLiteral("Sale(Чай,1,0,0,0,0,0,0)")}},
        {"text attribute is not read",
         QStringLiteral("<item><type>TEXT</type><text/></item>"
                        "<item type=\"TEXT\" text=\"Акция\"><shortname>Чай</shortname></item>"),
         {QStringLiteral("Sale(Чай,1,0,0,0,0,0,0)")}},
        {"totalprice below value times price is a discount",
         QStringLiteral("<shortname>Кофе</shortname><value>2</value><price>50</price>"
                        "<totalprice>90</totalprice>"),
         {QStringLiteral("Sale(Кофе,1,2,50,0,0,0,0)"), QStringLiteral("Discount(,10)")}},
        {"totalprice above value times price is a surcharge",
         QStringLiteral("<shortname>Кофе</shortname><value>2</value><price>50</price>"
                        "<totalprice>110</totalprice>"),
         {QStringLiteral("Sale(Кофе,1,2,50,0,0,0,0)"), QStringLiteral("Charge(,10)")}},
        {"missing totalprice discounts the whole line",
         QStringLiteral("<shortname>Кофе</shortname><value>2</value><price>50</price>"),
         {QStringLiteral("Sale(Кофе,1,2,50,0,0,0,0)"), QStringLiteral("Discount(,100)")}},
        {"unreadable totalprice discounts the whole line",
         QStringLiteral("<shortname>Кофе</shortname><value>2</value><price>50</price>"
                        "<totalprice>сто</totalprice>"),
         {QStringLiteral("Sale(Кофе,1,2,50,0,0,0,0)"), QStringLiteral("Discount(,100)")}},
        {"difference is compared exactly, not in kopecks",
         QStringLiteral("<shortname>Соль</shortname><value>3</value><price>0.1</price>"
                        "<totalprice>0.3</totalprice>"),
         {QStringLiteral("Sale(Соль,1,3,0.1,0,0,0,0)"),
          QStringLiteral("Discount(,5.551115123125783e-17)")}},
        {"negative quantity of a return",
         QStringLiteral("<shortname>Кофе</shortname><value>-1</value><price>50</price>"
                        "<totalprice>-40</totalprice>"),
         {QStringLiteral("Sale(Кофе,1,-1,50,0,0,0,0)"), QStringLiteral("Charge(,10)")}},
        {"decimal comma does not read",
         QStringLiteral("<shortname>Сок</shortname><value>1,5</value><price>50</price>"),
         {QStringLiteral("Sale(Сок,1,0,50,0,0,0,0)")}},
        {"blanks around numbers are allowed",
         QStringLiteral("<shortname>Сок</shortname><value> 1.5 </value><price>\n  40\n"
                        "</price><totalprice>6e1</totalprice><department> 3 </department>"),
         {QStringLiteral("Sale(Сок,3,1.5,40,0,0,0,0)")}},
        {"department read",
         QStringLiteral("<shortname>Сок</shortname><department>2</department>"),
         {QStringLiteral("Sale(Сок,2,0,0,0,0,0,0)")}},
        {"department not a number is 1",
         QStringLiteral("<shortname>Сок</shortname><department>бар</department>"),
         {QStringLiteral("Sale(Сок,1,0,0,0,0,0,0)")}},
        {"department with a fraction is 1",
         QStringLiteral("<shortname>Сок</shortname><department>2.5</department>"),
         {QStringLiteral("Sale(Сок,1,0,0,0,0,0,0)")}},
        {"department empty is 1",
         QStringLiteral("<shortname>Сок</shortname><department></department>"),
         {QStringLiteral("Sale(Сок,1,0,0,0,0,0,0)")}},
        {"taxes in their order",
         QStringLiteral("<shortname>Сок</shortname><tax4>4</tax4><tax2>2.25</tax2>"
                        "<tax3>нет</tax3><tax1>-1</tax1>"),
         {QStringLiteral("Sale(Сок,1,0,0,-1,2.25,0,4)")}},
        {"missing name",
         QStringLiteral("<value>1</value><price>5</price><totalprice>5</totalprice>"),
         {QStringLiteral("Sale(,1,1,5,0,0,0,0)")}},
    };
    for (const ItemCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString items = c.item.startsWith(QStringLiteral("<item"))
                                  ? c.item
                                  : QStringLiteral("<item>") + c.item + QStringLiteral("</item>");
        const QStringList body = bodyLines(print(orderWith(items)));
        EXPECT_EQ(body, c.expected) << joined(body);
    }
}

TEST_F(OrderDocumentTest, ItemsPrintInDocumentOrder) {
    const QStringList body = bodyLines(print(orderWith(QStringLiteral(
        "<item><shortname>А</shortname><value>1</value><price>10</price><totalprice>8</totalprice>"
        "</item><price>99</price><item><type>DIV</type></item>"
        "<item><type>TEXT</type><text>Б</text></item>"
        "<item><shortname>В</shortname><value>1</value><price>10</price>"
        "<totalprice>10</totalprice></item>"))));
    const QStringList expected = {
        QStringLiteral("Sale(А,1,1,10,0,0,0,0)"),
        QStringLiteral("Discount(,2)"),
        QStringLiteral("PrintDiv()"),
        QStringLiteral("PrintText(Б,0,41,0,1)"),
        QStringLiteral("Sale(В,1,1,10,0,0,0,0)"),
    };
    EXPECT_EQ(body, expected) << joined(body);
}

TEST_F(OrderDocumentTest, AdjustmentAboveZeroIsASurcharge) {
    struct Case {
        const char* adjustment; // nullptr: no element
        QStringList expected;
    };
    const QString label = QStringLiteral("Charge(Корректировка цены,%1)");
    const Case cases[] = {
        {nullptr, {}},
        {"", {}},
        {"0", {}},
        {"-5", {}},
        {"пять", {}},
        {"15.5", {label.arg(QStringLiteral("15.5"))}},
        {" 0.01 ", {label.arg(QStringLiteral("0.01"))}},
        {"1e2", {label.arg(QStringLiteral("100"))}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.adjustment ? c.adjustment : "missing");
        // The adjustment follows the items, wherever the element stands.
        const QString adjustment =
            c.adjustment
                ? QStringLiteral("<adjustment>%1</adjustment>").arg(QString::fromUtf8(c.adjustment))
                : QString();
        const QStringList body = bodyLines(
            print(orderWith(adjustment + QStringLiteral("<item><type>DIV</type></item>"))));
        const QStringList expected = QStringList{QStringLiteral("PrintDiv()")} + c.expected;
        EXPECT_EQ(body, expected) << joined(body);
    }
}

TEST_F(OrderDocumentTest, ShipmentLineOnlyWhenTheElementExists) {
    struct Case {
        const char* name;
        QString shipment;
        int width;
        QStringList expected;
    };
    const Case cases[] = {
        {"no shipment", QString(), kWidth, {}},
        {"shipment without a kind elsewhere",
         QStringLiteral("<kiosk><shipment><shortname>С собой</shortname></shipment></kiosk>"),
         kWidth,
         {}},
        {"empty shipment",
         QStringLiteral("<shipment/>"),
         kWidth,
         {QStringLiteral("PrintText(: ,0,41,0,1)")}},
        {"kind and address",
         QStringLiteral("<shipment><shortname>Доставка</shortname>"
                        "<address>ул. Садовая, 5</address></shipment>"),
         kWidth,
         {QStringLiteral("PrintText(Доставка: ул. Садовая, 5,0,41,0,1)")}},
        {"blanks around kind and address",
         QStringLiteral("<shipment>\n  <shortname>\n    Доставка\n  </shortname>\n"
                        "  <address> ул. Садовая, 5 </address>\n</shipment>"),
         kWidth,
         {QStringLiteral("PrintText(Доставка: ул. Садовая, 5,0,41,0,1)")}},
        {"kind only",
         QStringLiteral("<shipment><shortname>С собой</shortname></shipment>"),
         32,
         {QStringLiteral("PrintText(С собой: ,0,31,0,1)")}},
        {"placeholders in the texts stay as they are",
         QStringLiteral("<shipment><shortname>%2</shortname><address>%1</address></shipment>"),
         kWidth,
         {QStringLiteral("PrintText(%2: %1,0,41,0,1)")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TRecordingPrinter printer(c.width);
        const auto document = loadDocument(orderWith(QString(), c.shipment));
        PrintOrderDocument(&printer, document.get());
        const QStringList lines = printer.lines();
        // The shipment line stands between the closing divider and the close.
        ASSERT_GE(lines.size(), 4) << joined(lines);
        EXPECT_EQ(lines.mid(0, 3), (QStringList{lines[0], QStringLiteral("PrintDiv()"),
                                                QStringLiteral("PrintDiv()")}));
        EXPECT_EQ(lines.mid(3, lines.size() - 4), c.expected) << joined(lines);
        EXPECT_TRUE(lines.last().startsWith(QStringLiteral("CloseCheck("))) << joined(lines);
    }
}

TEST_F(OrderDocumentTest, DocumentValuesReachOpenAndClose) {
    const QString xml = QStringLiteral(
        "<order><kiosk><organization><phone>+7 1</phone><inn>7701</inn>"
        "<address>Тверская, 1</address><name>ООО «Лето»</name><noprint>0</noprint>"
        "</organization><address>Зал 2</address><name>Киоск 3</name><uin>U-9</uin>"
        "<guid>{G}</guid></kiosk><name>A-15</name>"
        "<invoice><change>0.5</change><payed>1000</payed><price>999.5</price>"
        "<footer>Спасибо!\nДо встречи</footer><header>Кафе\n\nЛето\n</header></invoice>"
        "<datetime>2024-03-15T13:45:10+03:00</datetime></order>");
    TRecordingPrinter printer;
    const auto document = loadDocument(xml);
    PrintOrderDocument(&printer, document.get());

    ASSERT_EQ(printer.calls().size(), 4u) << joined(printer.lines());
    const testutil::TPrinterCall& open = printer.calls().front();
    EXPECT_EQ(open.Op, QStringLiteral("OpenCheck"));
    EXPECT_EQ(open.Args, (QStringList{QString::number(ctSale), QStringLiteral("Чек A-15"),
                                      QStringLiteral("Кафе\n\nЛето\n"), QStringLiteral("A-15"),
                                      numberText(open.DateTime)}));
    EXPECT_EQ(open.DateTime, *EncodeDateTime(2024, 3, 15, 10, 45, 10));
    EXPECT_EQ(open.Kiosk.SN, 0);
    EXPECT_EQ(open.Kiosk.Guid, QStringLiteral("{G}"));
    EXPECT_EQ(open.Kiosk.UIN, QStringLiteral("U-9"));
    EXPECT_EQ(open.Kiosk.Name, QStringLiteral("Киоск 3"));
    EXPECT_EQ(open.Kiosk.Address, QStringLiteral("Зал 2"));
    EXPECT_EQ(open.Organization.Name, QStringLiteral("ООО «Лето»"));
    EXPECT_EQ(open.Organization.Address, QStringLiteral("Тверская, 1"));
    EXPECT_EQ(open.Organization.INN, QStringLiteral("7701"));
    EXPECT_EQ(open.Organization.Phone, QStringLiteral("+7 1"));
    EXPECT_FALSE(open.Organization.NoPrint);

    EXPECT_EQ(printer.lines().last(),
              QStringLiteral("CloseCheck(A-15,Спасибо!\nДо встречи,999.5,1000,0,0.5,)"));
}

TEST_F(OrderDocumentTest, EmptyOrderPrintsAnEmptyCheck) {
    // Every value missing or unreadable takes its default; there is still one check.
    const QStringList cases[] = {
        {QStringLiteral("<order/>")},
        {QStringLiteral("<order><name></name><datetime>вчера</datetime><invoice><price>1,5</price>"
                        "<payed>-</payed><change>e5</change><adjustment>0</adjustment></invoice>"
                        "</order>")},
    };
    const QStringList expected = {
        QStringLiteral("OpenCheck(0,Чек ,,,0)"),
        QStringLiteral("PrintDiv()"),
        QStringLiteral("PrintDiv()"),
        QStringLiteral("CloseCheck(,,0,0,0,0,)"),
    };
    for (const QStringList& c : cases) {
        SCOPED_TRACE(c.first().toStdString());
        const QStringList lines = print(c.first());
        EXPECT_EQ(lines, expected) << joined(lines);
    }
}

TEST_F(OrderDocumentTest, DateTimeIsReadAsLocalTime) {
    struct Case {
        const char* text; // nullptr: no element
        TDateTime expected;
    };
    const Case cases[] = {
        {nullptr, 0},
        {"", 0},
        {"15.03.2024 13:45", 0},
        {"2024-03-15T13:45:10+03:00", *EncodeDateTime(2024, 3, 15, 10, 45, 10)},
        {"2024-03-15T13:45:10", *EncodeDateTime(2024, 3, 15, 13, 45, 10)},
        {"\n    2024-03-15T13:45:10+03:00\n  ", *EncodeDateTime(2024, 3, 15, 10, 45, 10)},
        {" 2024-03-15T13:45:10 ", *EncodeDateTime(2024, 3, 15, 13, 45, 10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "missing");
        const QString element =
            c.text ? QStringLiteral("<datetime>%1</datetime>").arg(QString::fromUtf8(c.text))
                   : QString();
        TRecordingPrinter printer;
        const auto document = loadDocument(QStringLiteral("<order>%1</order>").arg(element));
        PrintOrderDocument(&printer, document.get());
        ASSERT_FALSE(printer.calls().empty());
        EXPECT_EQ(printer.calls().front().DateTime, c.expected);
    }
}

TEST_F(OrderDocumentTest, NoPrintReadsAsBoolean) {
    struct Case {
        const char* text; // nullptr: no element
        bool expected;
    };
    const Case cases[] = {
        {"1", true},    {"true", true},   {"TRUE", true}, {"True", true},
        {"0.5", true},  {"-2", true},     {" 1 ", true},  {"1e3", true},
        {"yes", false}, {"0", false},     {"0.0", false}, {"false", false},
        {"", false},    {nullptr, false}, {"нет", false}, {"truth", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "missing");
        const QString element =
            c.text ? QStringLiteral("<noprint>%1</noprint>").arg(QString::fromUtf8(c.text))
                   : QString();
        TRecordingPrinter printer;
        const auto document = loadDocument(
            QStringLiteral("<order><kiosk><organization><name>ООО</name>%1</organization>"
                           "</kiosk></order>")
                .arg(element));
        PrintOrderDocument(&printer, document.get());
        ASSERT_FALSE(printer.calls().empty());
        EXPECT_EQ(printer.calls().front().Organization.NoPrint, c.expected);
        EXPECT_EQ(printer.calls().front().Organization.Name, QStringLiteral("ООО"));
    }
}

TEST_F(OrderDocumentTest, NothingHappensWithoutPrinterOrDocument) {
    const auto loaded = loadDocument(orderWith(QStringLiteral("<item><type>DIV</type></item>")));
    EXPECT_NO_THROW(PrintOrderDocument(nullptr, loaded.get()));

    TRecordingPrinter printer;
    PrintOrderDocument(&printer, nullptr);
    EXPECT_TRUE(printer.calls().empty());

    // A document that never loaded, or whose load failed, holds no order to print.
    const auto empty = CreateXMLDocument();
    PrintOrderDocument(&printer, empty.get());
    const auto broken = CreateXMLDocument();
    EXPECT_FALSE(broken->LoadXML(QStringLiteral("<order><name>1</name>")));
    PrintOrderDocument(&printer, broken.get());
    EXPECT_TRUE(printer.calls().empty()) << joined(printer.lines());
}

QString sampleOrder() {
    const QByteArray bytes = testutil::readFile(
        testutil::sourcePath(QStringLiteral("tools/kiosk-sim/samples/order.xml")));
    EXPECT_FALSE(bytes.isEmpty()) << "the sample order is missing";
    return QString::fromUtf8(bytes);
}

TEST_F(OrderDocumentTest, SampleOrderPrintsWholeReceipt) {
    TRecordingPrinter printer;
    const auto document = loadDocument(sampleOrder());
    PrintOrderDocument(&printer, document.get());

    const TDateTime ordered = *EncodeDateTime(2024, 3, 15, 10, 45, 10);
    const QStringList expected = {
        QStringLiteral("OpenCheck(0,Чек 125,Кафе «Ромашка»\nДобро пожаловать!,125,%1)")
            .arg(numberText(ordered)),
        QStringLiteral("PrintDiv()"),
        QStringLiteral("Sale(Капучино,1,2,150,50,0,0,0)"),
        QStringLiteral("Sale(Пирожок с капустой,1,3,45.5,0,0,0,0)"),
        QStringLiteral("PrintDiv()"),
        QStringLiteral("PrintText(Скидка 10% на десерты,0,41,0,1)"),
        QStringLiteral("Sale(Торт «Наполеон»,1,1,220,0,0,0,0)"),
        QStringLiteral("Discount(,22)"),
        QStringLiteral("Sale(Вода минеральная 0,5 л,2,1,80,0,0,0,0)"),
        QStringLiteral("Charge(Корректировка цены,15.5)"),
        QStringLiteral("PrintDiv()"),
        QStringLiteral("PrintText(С собой: Стойка выдачи №2,0,41,0,1)"),
        QStringLiteral("CloseCheck(125,Спасибо за покупку!\nЖдём вас снова.\n"
                       "Тел. +7 (495) 123-45-67,730,1000,0,270,)"),
    };
    EXPECT_EQ(printer.lines(), expected) << joined(printer.lines());

    const testutil::TPrinterCall& open = printer.calls().front();
    EXPECT_EQ(open.DateTime, ordered);
    EXPECT_EQ(open.Kiosk.Guid, QStringLiteral("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
    EXPECT_EQ(open.Kiosk.UIN, QStringLiteral("K-0001"));
    EXPECT_EQ(open.Kiosk.Name, QStringLiteral("Киоск №1"));
    EXPECT_EQ(open.Kiosk.Address, QStringLiteral("Зал 1, у входа"));
    EXPECT_EQ(open.Organization.Name, QStringLiteral("ООО «Ромашка»"));
    EXPECT_EQ(open.Organization.Address, QStringLiteral("г. Москва, ул. Тверская, д. 1"));
    EXPECT_EQ(open.Organization.INN, QStringLiteral("7701234567"));
    EXPECT_EQ(open.Organization.Phone, QStringLiteral("+7 (495) 123-45-67"));
    EXPECT_FALSE(open.Organization.NoPrint);
    EXPECT_FALSE(printer.CheckOpened());
}

TEST_F(OrderDocumentTest, FailureCancelsOnlyAnOpenCheck) {
    // Fail each call of the sample receipt in turn: a failing OpenCheck leaves nothing to
    // cancel; any later failure cancels the check once, right away, and still reaches
    // the caller.
    const auto document = loadDocument(sampleOrder());
    TRecordingPrinter complete;
    PrintOrderDocument(&complete, document.get());
    const QStringList all = complete.lines();
    ASSERT_GT(all.size(), 10);

    for (int n = 1; n <= all.size(); ++n) {
        SCOPED_TRACE(all[n - 1].toStdString());
        TRecordingPrinter printer;
        printer.failAtCall(n);
        const QString failing = complete.calls()[static_cast<std::size_t>(n - 1)].Op;
        try {
            PrintOrderDocument(&printer, document.get());
            ADD_FAILURE() << "the failure did not reach the caller";
        } catch (const orvanta::Exception& e) {
            EXPECT_EQ(e.message(), TRecordingPrinter::failureMessage(failing));
        }
        const QStringList lines = printer.lines();
        EXPECT_EQ(lines.mid(0, n), all.mid(0, n)) << joined(lines);
        if (n == 1) {
            EXPECT_EQ(lines.size(), 1) << joined(lines);
            EXPECT_EQ(printer.count(QStringLiteral("CancelCheck")), 0);
        } else {
            EXPECT_EQ(lines.size(), n + 1) << joined(lines);
            EXPECT_EQ(lines.last(), QStringLiteral("CancelCheck()"));
            EXPECT_EQ(printer.count(QStringLiteral("CancelCheck")), 1);
        }
        EXPECT_FALSE(printer.CheckOpened());
    }
}

TEST_F(OrderDocumentTest, FailingCancelDoesNotHideTheFirstFailure) {
    const auto document = loadDocument(sampleOrder());
    TRecordingPrinter printer;
    printer.failIn(QStringLiteral("Sale"), 2);
    printer.failIn(QStringLiteral("CancelCheck"));
    try {
        PrintOrderDocument(&printer, document.get());
        ADD_FAILURE() << "the failure did not reach the caller";
    } catch (const orvanta::Exception& e) {
        EXPECT_EQ(e.message(), TRecordingPrinter::failureMessage(QStringLiteral("Sale")));
    }
    EXPECT_EQ(printer.count(QStringLiteral("Sale")), 2);
    EXPECT_EQ(printer.count(QStringLiteral("CancelCheck")), 1);
    EXPECT_EQ(printer.lines().last(), QStringLiteral("CancelCheck()"));
}

// A kiosk that indents its documents sends the same order as one that writes them
// compact; the receipt must not tell them apart.
const char kCompactOrder[] =
    "<order><name>125</name><datetime>2024-03-15T13:45:10+03:00</datetime>"
    "<kiosk><name>Киоск №1</name><address>Зал 1, у входа</address>"
    "<organization><name>ООО «Ромашка»</name><address>ул. Тверская, 1</address>"
    "<inn>7701234567</inn><phone>+7 495 123</phone><noprint>0</noprint></organization></kiosk>"
    "<invoice><header>  Кафе «Ромашка»\nДобро пожаловать!\n\nМеню дня</header>"
    "<item><shortname>Капучино</shortname><value>2</value><price>150.00</price>"
    "<totalprice>300.00</totalprice><department>1</department></item>"
    "<item><type>DIV</type></item>"
    "<item><type>TEXT</type><text>Скидка 10% на десерты</text></item>"
    "<item><shortname>Торт</shortname><value>1</value><price>220</price>"
    "<totalprice>198</totalprice></item>"
    "<adjustment>15.50</adjustment><price>513.50</price><payed>1000</payed>"
    "<change>486.50</change>"
    "<footer>Спасибо за покупку!\n    Ждём вас снова.</footer></invoice>"
    "<shipment><shortname>С собой</shortname><address>Стойка №2</address></shipment></order>";

const char kIndentedOrder[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<order>
  <name>
    125
  </name>
  <datetime>
    2024-03-15T13:45:10+03:00
  </datetime>
  <kiosk>
    <name> Киоск №1 </name>
    <address>
      Зал 1, у входа
    </address>
    <organization>
      <name>
        ООО «Ромашка»
      </name>
      <address>	ул. Тверская, 1	</address>
      <inn> 7701234567 </inn>
      <phone>
        +7 495 123
      </phone>
      <noprint> 0 </noprint>
    </organization>
  </kiosk>
  <invoice>
    <header>
        Кафе «Ромашка»
      Добро пожаловать!
      
      Меню дня
    </header>
    <item>
      <shortname>
        Капучино
      </shortname>
      <value> 2 </value>
      <price> 150.00 </price>
      <totalprice> 300.00 </totalprice>
      <department> 1 </department>
    </item>
    <item>
      <type> DIV </type>
    </item>
    <item>
      <type>
        TEXT
      </type>
      <text>
        Скидка 10% на десерты
      </text>
    </item>
    <item>
      <shortname> Торт </shortname>
      <value> 1 </value>
      <price> 220 </price>
      <totalprice> 198 </totalprice>
    </item>
    <adjustment> 15.50 </adjustment>
    <price> 513.50 </price>
    <payed> 1000 </payed>
    <change> 486.50 </change>
    <footer>
		Спасибо за покупку!
		    Ждём вас снова.
	</footer>
  </invoice>
  <shipment>
    <shortname>
      С собой
    </shortname>
    <address>
      Стойка №2
    </address>
  </shipment>
</order>
)";

QByteArray escPosStream(const QString& xml) {
    auto output = std::make_unique<MemoryEscPosOutput>();
    const MemoryEscPosOutput* memory = output.get();
    TESCPOSPrinter printer(std::move(output));
    const auto document = loadDocument(xml);
    PrintOrderDocument(&printer, document.get());
    EXPECT_FALSE(printer.CheckOpened());
    return memory->data();
}

TEST_F(OrderDocumentTest, IndentedDocumentPrintsAsCompactOne) {
    const testutil::SavedPrintSettings saved;
    InitFormatSettings(QLocale(QLocale::Russian, QLocale::Russia));
    BarCodeOrder = true;
    BarCodePrice = true;
    const QByteArray compact = escPosStream(QString::fromUtf8(kCompactOrder));
    const QByteArray indented = escPosStream(QString::fromUtf8(kIndentedOrder));
    EXPECT_EQ(orvanta::fromCp866(indented).toStdString(),
              orvanta::fromCp866(compact).toStdString());

    // What both must hold, so that two equally wrong receipts do not pass.
    auto line = [](const QString& text) {
        return orvanta::toCp866(text + QString(48 - text.size(), QLatin1Char(' '))) + "\r\n";
    };
    const QByteArray expectedLines[] = {
        line(QStringLiteral("  Кафе \"Ромашка\"")),
        line(QStringLiteral("Добро пожаловать!")) + line(QString()) +
            line(QStringLiteral("Меню дня")),
        line(QStringLiteral("Киоск №1")) + line(QStringLiteral("Зал 1, у входа")),
        line(QStringLiteral("пт, 15 мар. 2024, 10:45")),
        line(QStringLiteral("Адрес ул. Тверская, 1")),
        QByteArray(48, '-') + "\r\n" + line(QStringLiteral("Скидка 10% на десерты")),
        line(QStringLiteral("С собой: Стойка №2")),
        line(QStringLiteral("Спасибо за покупку!")) + line(QStringLiteral("    Ждём вас снова.")),
        QByteArray("{B125"),
        QByteArray("{B513.50"),
    };
    for (const QByteArray& expected : expectedLines)
        EXPECT_TRUE(compact.contains(expected)) << orvanta::fromCp866(expected).toStdString();
}

// Header and footer keep their inner lines; only the blank lines and the indentation that
// the layout of the document adds go.
TEST_F(OrderDocumentTest, HeaderAndFooterLoseOnlyTheLayoutsIndentation) {
    const struct {
        const char* name;
        QString text;
        QString header; // as OpenCheck receives it
    } cases[] = {
        {"compact stays as it is", QStringLiteral("Кафе\n\nЛето\n"),
         QStringLiteral("Кафе\n\nЛето\n")},
        {"compact with a leading blank", QStringLiteral("  Кафе\nЛето"),
         QStringLiteral("  Кафе\nЛето")},
        {"indented", QStringLiteral("\n      Кафе\n      Лето\n    "),
         QStringLiteral("Кафе\nЛето\n")},
        {"indented, one line further in", QStringLiteral("\n        Кафе\n      Лето\n    "),
         QStringLiteral("  Кафе\nЛето\n")},
        {"a blank line inside becomes empty", QStringLiteral("\n   Кафе\n  \n   Лето\n"),
         QStringLiteral("Кафе\n\nЛето\n")},
        {"tabs", QStringLiteral("\n\t\tКафе\n\t\t\tЛето\n\t"), QStringLiteral("Кафе\n\tЛето\n")},
        {"only blanks", QStringLiteral("\n   \n  "), QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TRecordingPrinter printer;
        const QString xml = QStringLiteral("<order><invoice><header>%1</header><footer>%1</footer>"
                                           "</invoice></order>")
                                .arg(c.text);
        const auto document = loadDocument(xml);
        PrintOrderDocument(&printer, document.get());
        ASSERT_FALSE(printer.calls().empty());
        EXPECT_EQ(printer.calls().front().Args.value(2), c.header);
        EXPECT_EQ(printer.lines().last(), QStringLiteral("CloseCheck(,%1,0,0,0,0,)").arg(c.header));
    }
}

} // namespace

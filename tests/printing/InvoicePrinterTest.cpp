#include "printing/InvoicePrinter.h"

#include "common/FormatSettings.h"
#include "printing/PrintSettings.h"

#include "PrintSettingsSupport.h"

#include <gtest/gtest.h>

#include <QLocale>

namespace {

// A character printer of 48 columns that writes down what the shared code asks of it,
// so the header, the footer and the line layouts can be read as a list of steps.
class RecordingPrinter : public TInvoicePrinter {
public:
    RecordingPrinter() {
        FWidth = 48;
        CalcTabs();
    }

    using TInvoicePrinter::PlaceText;
    using TInvoicePrinter::printChargeLine;
    using TInvoicePrinter::printColumnTitles;
    using TInvoicePrinter::printDiscountLine;
    using TInvoicePrinter::printItemLine;
    using TInvoicePrinter::printPriceBarCode;
    using TInvoicePrinter::printTotalLine;

    QString& buffer() { return FString; }
    QStringList log;

protected:
    void CalcTabs() override {
        FTab1 = FWidth - 18;
        FTab2 = FWidth - 11;
    }
    int TextWidth(const QString& Text) override { return static_cast<int>(Text.size()); }

public:
    void PrintFont(const QString&, int FontSize, TFontStyles FontStyle) override {
        log << QStringLiteral("font %1%2%3")
                   .arg(FontSize)
                   .arg(FontStyle.testFlag(fsBold) ? QStringLiteral(" bold") : QString())
                   .arg(FontStyle.testFlag(fsUnderline) ? QStringLiteral(" underline") : QString());
    }
    void PrintText(const QString& Text, int x1, int x2, bool RightJust, bool Ln) override {
        log << QStringLiteral("%1..%2%3%4 [%5]")
                   .arg(x1)
                   .arg(x2)
                   .arg(RightJust ? QStringLiteral(" right") : QString())
                   .arg(Ln ? QStringLiteral(" ln") : QString())
                   .arg(Text);
    }
    void PrintDiv() override { log << QStringLiteral("div"); }
    void PrintBarCode(const QString& Text) override { log << QStringLiteral("barcode ") + Text; }
};

class InvoicePrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitFormatSettings(QLocale(QLocale::Russian, QLocale::Russia));
        BarCodeOrder = false;
        BarCodePrice = false;
    }

private:
    testutil::SavedPrintSettings m_settings;
};

struct PlaceCase {
    const char* name;
    QString before;
    QString text;
    int x1, x2;
    bool rightJust;
    QString after;
};

TEST_F(InvoicePrinterTest, PlaceTextComposesTheLine) {
    const QString s30(30, QLatin1Char(' '));
    const PlaceCase cases[] = {
        {"a long text widens its span", "", "abc", 5, 6, false, "     abc"},
        {"right-aligned to x2", s30, "7", 30, 36, true, s30 + "      7"},
        {"right-aligned and too long runs on", "", "12345678", 30, 36, true, s30 + "12345678"},
        {"columns beyond x2 are kept", "0123456789", "ab", 2, 3, false, "01ab456789"},
        {"left-aligned in a wide span", "", "ab", 1, 5, false, " ab   "},
        {"an empty text pads the span", "xy", "", 0, 4, false, "xy   "},
        {"one column at column 0 of an empty buffer", "", "Z", 0, 0, false, "Z"},
        {"a negative start begins at column 0", "", "ab", -3, 1, false, "ab"},
        {"Cyrillic counts characters", "", "Итого", 0, 9, true, "     Итого"},
        {"right-aligned clears its span before the text", "0123456789", "ab", 2, 7, true,
         "01    ab89"},
        {"right-aligned over a quantity that ran on", s30 + "1234567.0", "0.00", 37, 47, true,
         s30 + "1234567" + QString(7, QLatin1Char(' ')) + "0.00"},
        {"a line stops at 1022 columns", "", QString(100000, QLatin1Char('x')), 0, 47, false,
         QString(1022, QLatin1Char('x'))},
        {"a text crossing the end of the line is cut there", "", "abc", 1020, 1030, false,
         QString(1020, QLatin1Char(' ')) + "ab"},
        {"a right-aligned text past the end of the line leaves its span blank", "", "abc", 1000,
         1030, true, QString(1022, QLatin1Char(' '))},
    };
    for (const PlaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPrinter p;
        p.buffer() = c.before;
        p.PlaceText(c.text, c.x1, c.x2, c.rightJust, true);
        EXPECT_EQ(p.buffer(), c.after) << '[' << p.buffer().toStdString() << ']';
    }
}

TEST_F(InvoicePrinterTest, StartsWithNothingOpen) {
    RecordingPrinter p;
    EXPECT_EQ(p.Name(), QStringLiteral("Abstract"));
    EXPECT_FALSE(p.CheckOpened());
    EXPECT_FALSE(p.Error() || p.PaperLow() || p.PaperOut());
    EXPECT_TRUE(p.ErrorString().isEmpty());
    EXPECT_TRUE(p.Recover(0, 0, 0, QString()));

    p.OpenCheck(ctReturnBuy, "t", "", "1", TKioskInfo{}, TOrganizationInfo{}, 0);
    EXPECT_TRUE(p.CheckOpened());
    EXPECT_EQ(p.CheckType(), ctReturnBuy);
    EXPECT_TRUE(p.log.isEmpty()); // the base opens without printing
    p.CancelCheck();
    EXPECT_FALSE(p.CheckOpened());
    p.OpenCheck(ctSale, "t", "", "1", TKioskInfo{}, TOrganizationInfo{}, 0);
    p.CloseCheck("", "", 1, 0, 0, 0, "");
    EXPECT_FALSE(p.CheckOpened());
}

struct HeaderCase {
    const char* name;
    QString header;
    TKioskInfo kiosk;
    TOrganizationInfo organization;
    TInvoiceCheckType checkType;
    bool barCodeOrder;
    QStringList expected; // the steps between the common date line and the end
    QStringList before;   // the steps before the order line
};

TEST_F(InvoicePrinterTest, HeaderTable) {
    const TDateTime date = *EncodeDateTime(2024, 3, 15, 14, 5, 59);
    const QString orderLine = QStringLiteral("0..47 ln [Заказ № 17]");
    const QString dateLine = QStringLiteral("0..47 ln [пт, 15 мар. 2024, 14:05]");
    const TOrganizationInfo org{"ООО Ромашка", "ул. Мира, 1", "7700000000", "+7 495 000", false};
    const HeaderCase cases[] = {
        {"nothing but the order", "", {}, {}, ctSale, false, {"div"}, {}},
        {"header lines, an empty one inside, no line for the final break",
         "Добро пожаловать\r\n\nКафе\r",
         {},
         {},
         ctSale,
         false,
         {"div"},
         {"0..47 ln [Добро пожаловать]", "0..47 ln []", "0..47 ln [Кафе]"}},
        {"kiosk name and address",
         "",
         {5, "g", "u", "Киоск 1", "Зал 2"},
         {},
         ctSale,
         false,
         {"div"},
         {"0..47 ln [Киоск 1]", "0..47 ln [Зал 2]"}},
        {"an address without a name is printed",
         "",
         {0, "", "", "", "Зал 2"},
         {},
         ctSale,
         false,
         {"div"},
         {"0..47 ln [Зал 2]"}},
        {"a name without an address",
         "",
         {0, "", "", "Киоск 1", ""},
         {},
         ctSale,
         false,
         {"div"},
         {"0..47 ln [Киоск 1]"}},
        {"organisation block with its divider",
         "",
         {},
         org,
         ctSale,
         false,
         {"div", "0..47 ln [ООО Ромашка]", "0..47 ln [Адрес ул. Мира, 1]",
          "0..47 ln [ИНН 7700000000]", "0..47 ln [Тел. +7 495 000]", "div"},
         {}},
        {"only the phone",
         "",
         {},
         {"", "", "", "123", false},
         ctSale,
         false,
         {"div", "0..47 ln [Тел. 123]", "div"},
         {}},
        {"NoPrint leaves the block and its divider out",
         "",
         {},
         {"ООО Ромашка", "ул. Мира, 1", "1", "2", true},
         ctSale,
         false,
         {"div"},
         {}},
        {"order barcode", "", {}, {}, ctSale, true, {"barcode 17", "div"}, {}},
        {"no order barcode on a text-only check", "", {}, {}, ctInfoText, true, {"div"}, {}},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        BarCodeOrder = c.barCodeOrder;
        RecordingPrinter p;
        p.OpenCheck(c.checkType, "Чек 17", c.header, "17", c.kiosk, c.organization, date);
        p.PrintHeader("Чек 17", c.header, "17", c.kiosk, c.organization, date);
        const QStringList expected =
            c.before + QStringList{"font 10 bold", orderLine, "font 8", dateLine} + c.expected;
        EXPECT_EQ(p.log, expected) << p.log.join('\n').toStdString();
    }
}

TEST_F(InvoicePrinterTest, OrderNameIsJoinedNotFormatted) {
    RecordingPrinter p;
    p.PrintHeader("", "", "%1 %s", TKioskInfo{}, TOrganizationInfo{}, 0);
    ASSERT_GE(p.log.size(), 4);
    EXPECT_EQ(p.log.at(1), QStringLiteral("0..47 ln [Заказ № %1 %s]"));
    // Day 0 of the calendar is a Saturday.
    EXPECT_EQ(p.log.at(3), QStringLiteral("0..47 ln [сб, 30 дек. 1899, 00:00]"));
}

TEST_F(InvoicePrinterTest, FooterLines) {
    const struct {
        QString footer;
        QStringList expected;
    } cases[] = {
        {"", {}},
        {"Спасибо!\n", {"0..47 ln [Спасибо!]"}},
        {"a\r\n\r\nb", {"0..47 ln [a]", "0..47 ln []", "0..47 ln [b]"}},
        {"\n", {"0..47 ln []"}},
    };
    for (const auto& c : cases) {
        RecordingPrinter p;
        p.PrintFooter(c.footer);
        EXPECT_EQ(p.log, c.expected) << c.footer.toStdString();
    }
}

TEST_F(InvoicePrinterTest, LineLayouts) {
    const QString w30(30, QLatin1Char('x'));
    const QString nb = QStringLiteral("\u00A0");
    const struct {
        const char* name;
        std::function<void(RecordingPrinter&)> print;
        QStringList expected;
    } cases[] = {
        {"column titles",
         [](RecordingPrinter& p) { p.printColumnTitles("Итого"); },
         {"0..29 [Наименование]", "30..36 right [Кол-во]", "37..47 right ln [Итого]"}},
        {"a description as wide as the column stays on the item line",
         [&](RecordingPrinter& p) { p.printItemLine(w30, 2, 75); },
         {"0..29 [" + w30 + "]", "30..36 right [2.0]", "37..47 right ln [150.00" + nb + "₽]"}},
        {"one character more gets a line of its own",
         [&](RecordingPrinter& p) { p.printItemLine(w30 + "y", 0.5, 3000); },
         {"0..47 ln [" + w30 + "y]", "30..36 right [0.5]",
          "37..47 right ln [1" + nb + "500.00" + nb + "₽]"}},
        {"surcharge",
         [](RecordingPrinter& p) { p.printChargeLine("", 10); },
         {"0..29 [НАДБАВКА ]", "37..47 right ln [10.00" + nb + "₽]"}},
        {"discount",
         [](RecordingPrinter& p) { p.printDiscountLine("Купон", 1234567.891); },
         {"0..29 [СКИДКА Купон]", "37..47 right ln [1" + nb + "234" + nb + "567.89" + nb + "₽]"}},
        {"total over the quantity and amount columns",
         [](RecordingPrinter& p) { p.printTotalLine(0); },
         {"0..29 [Итого]", "30..47 right ln [0.00" + nb + "₽]"}},
        {"price barcode without grouping or symbol",
         [](RecordingPrinter& p) {
             BarCodePrice = true;
             p.printPriceBarCode(1234.5);
         },
         {"barcode 1234.50"}},
        {"no price barcode for a total of 0",
         [](RecordingPrinter& p) {
             BarCodePrice = true;
             p.printPriceBarCode(0);
         },
         {}},
        {"no price barcode when switched off",
         [](RecordingPrinter& p) { p.printPriceBarCode(99); },
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BarCodePrice = false;
        RecordingPrinter p;
        c.print(p);
        EXPECT_EQ(p.log, c.expected) << p.log.join('\n').toStdString();
    }
}

} // namespace

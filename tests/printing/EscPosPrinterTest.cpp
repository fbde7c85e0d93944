#include "printing/EscPosPrinter.h"

#include "PrintSettingsSupport.h"
#include "SerialSupport.h"
#include "TestUtil.h"
#include "common/FormatSettings.h"
#include "common/GlobConst.h"
#include "platform/CodePages.h"
#include "platform/Error.h"
#include "printing/PrintSettings.h"
#include "printing/ReceiptText.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <functional>

namespace {

const QByteArray kStart("\x1B\x74\x07\x1B\x33\x08", 6);
const QByteArray kLogo("\x1C\x70\x01\x00", 4);
const QByteArray kCut("\x1D\x56\x42\x08", 4);
const QByteArray kBoldPlain("\x1B\x45\x31\x1B\x2D\x30", 6); // bold on, underline off
const QByteArray kPlain("\x1B\x45\x30\x1B\x2D\x30", 6);     // bold off, underline off
const QByteArray kCrLf("\r\n");

QString padRight(const QString& s, int n) {
    return s.size() >= n ? s : s + QString(n - s.size(), QLatin1Char(' '));
}

QString padLeft(const QString& s, int n) {
    return s.size() >= n ? s : QString(n - s.size(), QLatin1Char(' ')) + s;
}

// One line as the printer receives it: padded to the 48 columns, code page 866, CR LF.
QByteArray line(const QString& text) {
    return orvanta::toCp866(padRight(text, 48)) + kCrLf;
}

// A line of the three receipt columns: description 0..29, quantity 30..36, amount 37..47.
QString columns(const QString& description, const QString& quantity, const QString& amount) {
    return padRight(description, 30) + padLeft(quantity, 7) + padLeft(amount, 11);
}

QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// Settings and formats the tests print with, put back afterwards.
class PrintEnvironment {
public:
    PrintEnvironment() { InitFormatSettings(QLocale(QLocale::Russian, QLocale::Russia)); }

private:
    testutil::SavedPrintSettings m_saved;
};

// The printer writing into memory, so a test reads the stream it composed.
class EscPosStreamTest : public ::testing::Test {
protected:
    EscPosStreamTest() {
        auto out = std::make_unique<MemoryEscPosOutput>();
        output = out.get();
        printer = std::make_unique<TESCPOSPrinter>(std::move(out));
    }

    // Opens a check with an empty header, then forgets what it sent.
    void open() {
        printer->OpenCheck(ctSale, "Чек 1", "", "1", TKioskInfo{}, TOrganizationInfo{}, 0);
        output->clear();
    }

    PrintEnvironment environment;
    MemoryEscPosOutput* output = nullptr;
    std::unique_ptr<TESCPOSPrinter> printer;
};

TEST_F(EscPosStreamTest, LineLayouts) {
    const QString d30 = QStringLiteral("Салат «Цезарь» с курицей, 250г"); // 30 characters
    ASSERT_EQ(d30.size(), 30);
    const QString d29 = QString(29, QLatin1Char('x'));
    const struct {
        const char* name;
        std::function<void(TESCPOSPrinter&)> print;
        QByteArray expected;
    } cases[] = {
        {"a 30-character description shares the line",
         [&](TESCPOSPrinter& p) { p.Sale(d30, 1, 2, 75, 0, 0, 0, 0); },
         line(columns("Салат \"Цезарь\" с курицей, 250г", "2.0", "150.00 р."))},
        {"a 31-character description gets a line of its own",
         [&](TESCPOSPrinter& p) { p.Sale(d30 + "!", 1, 2, 75, 0, 0, 0, 0); },
         line("Салат \"Цезарь\" с курицей, 250г!") + line(columns("", "2.0", "150.00 р."))},
        {"a label that grows past the column by a substitution moves too",
         [&](TESCPOSPrinter& p) { p.Buy(d29 + "…", 1, 1, 1, 0, 0, 0, 0); },
         line(d29 + "...") + line(columns("", "1.0", "1.00 р."))},
        {"a long quantity is partly overwritten by the amount",
         [](TESCPOSPrinter& p) { p.Sale("Вода", 1, 123456.789, 0.01, 0, 0, 0, 0); },
         orvanta::toCp866(padRight("Вода", 30) + "123456." + "1 234.57 р.") + kCrLf},
        {"a long quantity before a short amount leaves blanks, not its tail",
         [](TESCPOSPrinter& p) { p.Sale("Вода", 1, 1234567, 0, 0, 0, 0, 0); },
         orvanta::toCp866(padRight("Вода", 30) + "1234567    0.00 р.") + kCrLf},
        {"an article name of 100 000 characters goes out as one full printer line",
         [](TESCPOSPrinter& p) { p.Sale(QString(100000, 'x'), 1, 1, 1, 0, 0, 0, 0); },
         QByteArray(1022, 'x') + kCrLf + line(columns("", "1.0", "1.00 р."))},
        {"an amount wider than its column runs on",
         [](TESCPOSPrinter& p) { p.Sale("Банкет", 1, 1, 1234567.5, 0, 0, 0, 0); },
         orvanta::toCp866(padRight("Банкет", 30) + "    1.0" + "1 234 567.50 р.") + kCrLf},
        {"surcharge", [](TESCPOSPrinter& p) { p.Charge("", 10); },
         line(columns("НАДБАВКА ", "", "10.00 р."))},
        {"discount", [](TESCPOSPrinter& p) { p.Discount("по карте", 0.5); },
         line(columns("СКИДКА по карте", "", "0.50 р."))},
        {"divider", [](TESCPOSPrinter& p) { p.PrintDiv(); }, QByteArray(48, '-') + kCrLf},
        {"text in a span without ending the line sends nothing",
         [](TESCPOSPrinter& p) { p.PrintText("abc", 0, 10, false, false); }, QByteArray()},
        {"an ended right-aligned text",
         [](TESCPOSPrinter& p) { p.PrintText("Итого", 0, 47, true, true); },
         QByteArray(43, ' ') + QByteArray("\x88\xE2\xAE\xA3\xAE") + kCrLf},
        {"a paper feed is one CR LF", [](TESCPOSPrinter& p) { p.PaperFeed(5); }, kCrLf},
        {"the cut code", [](TESCPOSPrinter& p) { p.PaperCut(true); }, kCut},
        {"the logo code", [](TESCPOSPrinter& p) { p.PrintLogo(); }, kLogo},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        open();
        c.print(*printer);
        EXPECT_EQ(hex(output->data()), hex(c.expected))
            << orvanta::fromCp866(output->data()).toStdString();
    }
}

TEST_F(EscPosStreamTest, FontStylesBecomeBoldAndUnderlineCodes) {
    const struct {
        TFontStyles style;
        QByteArray bytes;
    } cases[] = {
        {{fsBold, fsUnderline}, QByteArray("\x1B\x45\x31\x1B\x2D\x31")},
        {{}, kPlain},
        {{fsBold}, kBoldPlain},
        {{fsUnderline, fsItalic, fsStrikeOut}, QByteArray("\x1B\x45\x30\x1B\x2D\x31")},
    };
    for (const auto& c : cases) {
        open();
        printer->PrintText("ab", 0, 5, false, false); // codes go ahead of a waiting line
        printer->PrintFont("Any", 30, c.style);
        printer->PrintText("", 0, 0, false, true);
        EXPECT_EQ(hex(output->data()), hex(c.bytes + "ab    \r\n"));
    }
}

TEST_F(EscPosStreamTest, JobStartAndEndCodes) {
    const struct {
        const char* name;
        QString code1, code2, code3;
        QByteArray start, end;
    } cases[] = {
        {"defaults", Code1, "", Code3, kStart + kLogo, kCrLf + kCut},
        {"an end-of-job code follows the cut", Code1, "<1B>@", "", kStart, kCrLf + kCut + "\x1B@"},
        {"a start code the grammar rejects is not sent at all", "<1B>t<0G>", "<1B", Code3, kLogo,
         kCrLf + kCut},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Code1 = c.code1;
        Code2 = c.code2;
        Code3 = c.code3;
        printer->OpenCheck(ctInfoText, "", "", "7", TKioskInfo{}, TOrganizationInfo{}, 0);
        // A text-only check has no column titles.
        EXPECT_EQ(hex(output->data()),
                  hex(c.start + kBoldPlain + line("Заказ № 7") + kPlain +
                      line("сб, 30 дек. 1899, 00:00") + line(QString(48, '-'))));
        output->clear();
        printer->CloseCheck("7", "", 0, 0, 0, 0, "");
        EXPECT_EQ(hex(output->data()),
                  hex(kBoldPlain + line(padRight("Итого", 30) + padLeft("0.00 р.", 18)) + kPlain +
                      c.end));
        EXPECT_FALSE(output->isOpen());
        EXPECT_FALSE(printer->CheckOpened());
        output->clear();
    }
}

TEST_F(EscPosStreamTest, CancelAfterOpenFeedsCutsAndCloses) {
    open();
    printer->Sale("Чай", 1, 1, 50, 0, 0, 0, 0);
    output->clear();
    printer->CancelCheck();
    EXPECT_EQ(hex(output->data()), hex(kCrLf + kCut));
    EXPECT_FALSE(output->isOpen());
    EXPECT_FALSE(printer->CheckOpened());
}

TEST_F(EscPosStreamTest, RecoverAlwaysSucceeds) {
    EXPECT_EQ(printer->Name(), QStringLiteral("ESC/POS"));
    EXPECT_TRUE(printer->Recover(1, 2, 3, "4"));
    EXPECT_FALSE(printer->Error() || printer->PaperLow() || printer->PaperOut());
}

TEST_F(EscPosStreamTest, OrderTextCannotSteerThePrinter) {
    BarCodeOrder = true;
    const TKioskInfo kiosk{1, "", "",
                           QStringLiteral("Киоск\x1D"
                                          "V\x42\x08"),
                           QString()};
    printer->OpenCheck(ctSale, "",
                       QStringLiteral("Кафе\x1B"
                                      "d\x05\tУют"),
                       "<1D>V<42>", kiosk, TOrganizationInfo{}, 0);
    printer->PrintText(QStringLiteral("a\x1B@b"), 0, 47, false, true);
    printer->CancelCheck();
    const QByteArray& s = output->data();
    // The name and the order number print as text; the only cut is the one of the job end.
    EXPECT_EQ(s.count(QByteArray("\x1D\x56")), 1);
    EXPECT_TRUE(s.endsWith(kCrLf + kCut));
    EXPECT_TRUE(s.contains(line("Кафе d  Уют")));
    EXPECT_TRUE(s.contains(line("Киоск V\x42 ")));
    EXPECT_TRUE(s.contains(line("Заказ № <1D>V<42>")));
    EXPECT_TRUE(s.contains(line("a @b")));
    const QByteArray barcode =
        QByteArray("\x1D\x68\x32\x1D\x77\x02\x1D\x6B\x49\x0B{B<1D>V<42>\r\n");
    EXPECT_TRUE(s.contains(barcode)) << hex(s).toStdString();
}

TEST(ReceiptTextTest, SubstitutesWhatCodePage866Lacks) {
    const struct {
        const char16_t* text;
        const char16_t* expected;
    } cases[] = {
        {u"1\u00A0234.50\u00A0\u20BD", u"1 234.50 р."},
        {u"\u00ABМаргарита\u00BB \u2014 30\u201340 см\u2026", u"\"Маргарита\" - 30-40 см..."},
        {u"1\u202F000 \u201Cx\u201D \u2018y\u2019 \u22125", u"1 000 \"x\" 'y' -5"},
        {u"a\tb\r\nc\x1B\x01", u"a b  c  "},
        {u"Ёё № €", u"Ёё № €"}, // the code page has the first ones; "€" stays for "?"
        {u"", u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(orvanta::receiptText(QString::fromUtf16(c.text)), QString::fromUtf16(c.expected));
    }
}

TEST_F(EscPosStreamTest, CharactersWithoutEquivalentPrintAsQuestionMarks) {
    open();
    printer->PrintText(QStringLiteral("5 € ₽ ☺"), 0, 47, false, true);
    EXPECT_EQ(output->data(), line("5 ? р. ?"));
}

TEST(EscPosBarCodeTest, CodeTextAndLength) {
    const struct {
        QString text;
        QString expected;
    } cases[] = {
        {"1", "<1D>h<32><1D>w<02><1D>k<49><03><7B><42>1<0D><0A>"},
        {"1234567890", "<1D>h<32><1D>w<02><1D>k<49><0C><7B><42>1234567890<0D><0A>"},
        {"a<b>", "<1D>h<32><1D>w<02><1D>k<49><06><7B><42>a<<b><0D><0A>"},
        {"\x1D"
         "V",
         ""}, // a control character is no Code 128 set B data: the barcode is left out
        {QString(253, 'x'),
         "<1D>h<32><1D>w<02><1D>k<49><FF><7B><42>" + QString(253, 'x') + "<0D><0A>"},
        {QString(254, 'x'), ""}, // the length byte cannot count it
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TESCPOSPrinter::barCodeCodeText(c.text), c.expected) << c.text.size();
    }
    // What the printer receives for "a<b>": the "<" is data.
    EXPECT_EQ(*DecodeCodeText(TESCPOSPrinter::barCodeCodeText("a<b>")),
              QByteArray("\x1D\x68\x32\x1D\x77\x02\x1D\x6B\x49\x06{Ba<b>\r\n"));
}

// ---- on a serial line -------------------------------------------------------------

// One part of the expected receipt: its bytes and how the ESC/POS decoder names it.
struct Piece {
    QByteArray bytes;
    QStringList decoded;
};

Piece codes(const QByteArray& bytes, const QStringList& decoded) {
    return {bytes, decoded};
}

Piece text(const QString& visible) {
    const QString padded = padRight(visible, 48);
    return {orvanta::toCp866(padded) + kCrLf, {QStringLiteral("LINE ") + padded}};
}

Piece barcode(const QByteArray& data) {
    const QByteArray bytes =
        QByteArray("\x1D\x68\x32\x1D\x77\x02\x1D\x6B\x49") + char(data.size() + 2) + "{B" + data;
    return {bytes + kCrLf,
            {"GS h 32", "GS w 02", "GS k " + hex(bytes.mid(8)), QStringLiteral("LINE ")}};
}

const QString kOrderName = QStringLiteral("<1D>V<42>");

// The receipt the composition of an order drives through the printer: header of several
// lines, kiosk, order line, date, organisation, sale lines short and long, a discount, a
// surcharge, the shipment line, total, footer, both barcodes.
void printWholeReceipt(TInvoicePrinter& p) {
    const TKioskInfo kiosk{12, "{guid}", "uin-1", "Киоск №1", "ТЦ «Центральный», 2 этаж"};
    const TOrganizationInfo org{"ООО «Ромашка»", "г. Москва, ул. Мира, 1", "7700000000",
                                "+7 495 123-45-67", false};
    const TDateTime date = *EncodeDateTime(2024, 3, 15, 14, 5, 30);
    p.OpenCheck(ctSale, "Чек " + kOrderName, "Кафе «Уют»\r\nДобро пожаловать!\r\n", kOrderName,
                kiosk, org, date);
    p.PrintDiv();
    p.Sale("Капучино", 1, 2, 150, 0, 0, 0, 0);
    p.Sale("Пицца «Маргарита» большая — 40 см", 2, 2, 650, 20, 0, 0, 0);
    p.Discount("", 50);
    p.Charge("Корректировка цены", 15.5);
    p.PrintDiv();
    p.PrintText("Навынос: стойка 3", 0, p.Width() - 1, false, true);
    p.CloseCheck(kOrderName, "Спасибо за покупку!\nЖдём Вас снова", 1565.5, 2000, 0, 434.5, "");
}

std::vector<Piece> expectedWholeReceipt() {
    const QString div(48, QLatin1Char('-'));
    return {
        codes(kStart, {"ESC t 07", "ESC 3 08"}),
        codes(kLogo, {"FS p 01 00"}),
        text("Кафе \"Уют\""),
        text("Добро пожаловать!"),
        text("Киоск №1"),
        text("ТЦ \"Центральный\", 2 этаж"),
        codes(kBoldPlain, {"ESC E 31", "ESC - 30"}),
        text("Заказ № <1D>V<42>"),
        codes(kPlain, {"ESC E 30", "ESC - 30"}),
        text("пт, 15 мар. 2024, 14:05"),
        barcode("<1D>V<42>"),
        text(div),
        text("ООО \"Ромашка\""),
        text("Адрес г. Москва, ул. Мира, 1"),
        text("ИНН 7700000000"),
        text("Тел. +7 495 123-45-67"),
        text(div),
        text(columns("Наименование", "Кол-во", "Итого")),
        text(div),
        text(columns("Капучино", "2.0", "300.00 р.")),
        text("Пицца \"Маргарита\" большая - 40 см"),
        text(columns("", "2.0", "1 300.00 р.")),
        text(columns("СКИДКА ", "", "50.00 р.")),
        text(columns("НАДБАВКА Корректировка цены", "", "15.50 р.")),
        text(div),
        text("Навынос: стойка 3"),
        codes(kBoldPlain, {"ESC E 31", "ESC - 30"}),
        text(padRight("Итого", 30) + padLeft("1 565.50 р.", 18)),
        codes(kPlain, {"ESC E 30", "ESC - 30"}),
        barcode("1565.50"),
        text("Спасибо за покупку!"),
        text("Ждём Вас снова"),
        codes(kCrLf, {"LINE "}),
        codes(kCut, {"GS V 42 08"}),
    };
}

// A socat pair of serial lines; COM7 of a temporary data folder is one end of it.
class EscPosSerialTest : public ::testing::Test {
protected:
    static constexpr int kPort = 7;

    void SetUp() override {
        if (!testutil::SocatPair::available())
            GTEST_SKIP() << "socat is not installed: no serial line pair for the printer";
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(socat.start(dir.path())) << "socat did not make the pseudo terminals";
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("data/dosdevices")));
        DataFolder = dir.filePath(QStringLiteral("data")) + QLatin1Char('/');
        ASSERT_TRUE(QFile::link(socat.endA(), comLink(kPort)));
        ComPort = kPort;
        ComRate = 19200;
        BarCodeOrder = true;
        BarCodePrice = true;
        EscPosStatus = false; // the line's far end is a capture, not a printer that answers
    }

    QString comLink(int n) const {
        return DataFolder + QStringLiteral("dosdevices/com") + QString::number(n);
    }

    // Prints through the serial port and returns what arrived at the far end.
    QByteArray printOverTheLine(const std::function<void(TESCPOSPrinter&)>& print) {
        testutil::SerialCapture capture;
        EXPECT_TRUE(capture.start(socat.endB()));
        TESCPOSPrinter printer;
        print(printer);
        return capture.finish();
    }

    PrintEnvironment environment;
    QTemporaryDir dir;
    testutil::SocatPair socat;
};

TEST_F(EscPosSerialTest, WholeReceiptArrivesByteForByte) {
    QByteArray expected;
    for (const Piece& piece : expectedWholeReceipt())
        expected += piece.bytes;
    const QByteArray got = printOverTheLine([](TESCPOSPrinter& p) {
        printWholeReceipt(p);
        EXPECT_FALSE(p.CheckOpened());
    });
    EXPECT_EQ(hex(got), hex(expected)) << orvanta::fromCp866(got).toStdString();
}

TEST_F(EscPosSerialTest, IndependentDecoderReadsTheCommands) {
    QString why;
    if (!testutil::nposDecoderInstalled(&why))
        GTEST_SKIP() << why.toStdString();
    const QByteArray got = printOverTheLine([](TESCPOSPrinter& p) { printWholeReceipt(p); });
    const QStringList decoded = testutil::nposDecode(got, dir.path(), &why);
    ASSERT_FALSE(decoded.isEmpty()) << why.toStdString();

    QStringList expected;
    for (const Piece& piece : expectedWholeReceipt())
        expected += piece.decoded;
    EXPECT_EQ(decoded, expected) << decoded.join('\n').toStdString();
}

TEST_F(EscPosSerialTest, CancelAfterOpenFeedsCutsAndClosesThePort) {
    BarCodeOrder = false;
    const QByteArray got = printOverTheLine([](TESCPOSPrinter& p) {
        p.OpenCheck(ctSale, "", "", "5", TKioskInfo{}, TOrganizationInfo{"x", "", "", "", true}, 0);
        p.CancelCheck();
        EXPECT_FALSE(p.CheckOpened());
        // Closed: the next write finds no port.
        EXPECT_THROW(p.PaperFeed(1), orvanta::Exception);
    });
    const QByteArray expected = kStart + kLogo + kBoldPlain + line("Заказ № 5") + kPlain +
                                line("сб, 30 дек. 1899, 00:00") + line(QString(48, '-')) +
                                line(columns("Наименование", "Кол-во", "Итого")) + kCrLf + kCut;
    EXPECT_EQ(hex(got), hex(expected));
}

QString errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const orvanta::Exception& e) {
        return e.message();
    }
    return QStringLiteral("(nothing raised)");
}

TEST_F(EscPosSerialTest, PortErrors) {
    const QString regularFile = dir.filePath(QStringLiteral("not-a-port"));
    testutil::writeFile(regularFile, "x");
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("missing")), comLink(8)));
    ASSERT_TRUE(QFile::link(regularFile, comLink(9)));
    const struct {
        const char* name;
        int port, rate;
        QString message;
    } cases[] = {
        {"a link to nothing", 8, 19200, "ESCPOS.PortOpen: невозможно открыть COM порт"},
        {"no device for the number", 97, 19200, "ESCPOS.PortOpen: невозможно открыть COM порт"},
        {"a file that is not a serial device", 9, 19200,
         "ESCPOS.PortOpen: невозможно настроить COM порт"},
        {"a speed the line does not have", kPort, 12345,
         "ESCPOS.PortOpen: невозможно настроить COM порт"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ComPort = c.port;
        ComRate = c.rate;
        TESCPOSPrinter printer;
        EXPECT_EQ(errorOf([&] { printer.OpenCheck(ctSale, "", "", "1", {}, {}, 0); }), c.message);
    }
}

TEST_F(EscPosSerialTest, PortNumbersAndTheirDevices) {
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("missing")), comLink(3)));
    ASSERT_TRUE(QFile::link(socat.endB(), comLink(150)));
    const struct {
        int number;
        QString device;
    } cases[] = {
        {1, "/dev/ttyS0"},
        {32, "/dev/ttyS31"},
        {33, "/dev/ttyUSB0"},
        {64, "/dev/ttyUSB31"},
        {65, "/dev/ttyACM0"},
        {96, "/dev/ttyACM31"},
        {0, ""},
        {97, ""},
        {kPort, comLink(kPort)},
        {3, comLink(3)}, // the link decides, even one that leads nowhere
        {150, comLink(150)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(orvanta::serialPortDevice(c.number, DataFolder), c.device) << c.number;
    // Without a data folder only the fixed mapping is left.
    EXPECT_EQ(orvanta::serialPortDevice(kPort, QString()), QStringLiteral("/dev/ttyS6"));
    EXPECT_EQ(orvanta::serialPortDevice(150, QString()), QString());

    // The list offers the ports that lead to a device, the links among them.
    QMap<int, QString> listed;
    for (const orvanta::SerialPortInfo& port : orvanta::availableSerialPorts(DataFolder))
        listed[port.number] = port.device;
    EXPECT_EQ(listed.value(kPort), comLink(kPort));
    EXPECT_EQ(listed.value(150), comLink(150));
    EXPECT_FALSE(listed.contains(3));
    for (auto it = listed.cbegin(); it != listed.cend(); ++it)
        EXPECT_TRUE(QFileInfo::exists(it.value())) << it.value().toStdString();
}

TEST_F(EscPosSerialTest, WritingToAClosedPortRaises) {
    TESCPOSPrinter printer;
    const QString closed = QStringLiteral("ESCPOS.PrintOut: порт не открыт");
    EXPECT_EQ(errorOf([&] { printer.CancelCheck(); }), closed);
    EXPECT_EQ(errorOf([&] { printer.PrintDiv(); }), closed);
    // Codes that decode to nothing send nothing, so they need no port.
    Code3 = QString();
    EXPECT_EQ(errorOf([&] { printer.PrintLogo(); }), QStringLiteral("(nothing raised)"));
}

TEST_F(EscPosSerialTest, ALineThatWentAwayIsAnErrorNotAPrintedReceipt) {
    TESCPOSPrinter printer;
    printer.OpenCheck(ctSale, "", "", "1", {}, {}, 0);
    socat.stop();
    EXPECT_EQ(errorOf([&] { printer.Sale("Чай", 1, 1, 50, 0, 0, 0, 0); }),
              QStringLiteral("ESCPOS.PrintOut: ошибка записи в COM порт"));
    // Cancelling fails the same way, yet leaves the port closed for the next receipt.
    EXPECT_EQ(errorOf([&] { printer.CancelCheck(); }),
              QStringLiteral("ESCPOS.PrintOut: ошибка записи в COM порт"));
    EXPECT_EQ(errorOf([&] { printer.PaperFeed(1); }),
              QStringLiteral("ESCPOS.PrintOut: порт не открыт"));
}

} // namespace

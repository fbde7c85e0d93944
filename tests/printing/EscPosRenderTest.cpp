// The ESC/POS screen renderer: the stream the printer driver composes for the sample order
// read back as lines, logos, cuts and Code 128 symbols that a real reader (zbarimg) reads
// from the drawn picture; unknown and cut-off commands marked, never lost.
#include "printing/EscPosRender.h"

#include "PrintSettingsSupport.h"
#include "TestUtil.h"
#include "common/FormatSettings.h"
#include "platform/CodePages.h"
#include "printing/EscPosPrinter.h"
#include "printing/OrderDocument.h"
#include "printing/PrintSettings.h"
#include "printing/XMLUtils.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLocale>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

namespace {

using Kind = EscPosRendering::Kind;
using TextRun = EscPosRendering::Run;

// The stream TESCPOSPrinter sends for the kiosk simulator's sample order, with the default
// control codes of the print settings.
QByteArray sampleStream(bool barcodes) {
    testutil::SavedPrintSettings saved;
    testutil::ScopedTimeZone zone("UTC");
    InitFormatSettings(QLocale(QLocale::Russian, QLocale::Russia));
    Code1 = QStringLiteral("<1B>t<07><1B><33><08>");
    Code2 = QString();
    Code3 = QStringLiteral("<1C>p<01><00>");
    Code4 = QStringLiteral("<1D>V<42><08>");
    BarCodeOrder = barcodes;
    BarCodePrice = barcodes;
    auto document = CreateXMLDocument();
    document->SetAsync(false);
    EXPECT_TRUE(document->LoadXML(QString::fromUtf8(testutil::readFile(
        testutil::sourcePath(QStringLiteral("tools/kiosk-sim/samples/order.xml"))))));
    auto output = std::make_unique<MemoryEscPosOutput>();
    MemoryEscPosOutput* memory = output.get();
    TESCPOSPrinter printer(std::move(output));
    PrintOrderDocument(&printer, document.get());
    return memory->data();
}

// A literal with the NUL bytes it holds.
template <std::size_t N> QByteArray bytes(const char (&literal)[N]) {
    return QByteArray(literal, N - 1);
}

QString padRight(const QString& s, int n) {
    return s.size() >= n ? s : s + QString(n - s.size(), QLatin1Char(' '));
}

QString padLeft(const QString& s, int n) {
    return s.size() >= n ? s : QString(n - s.size(), QLatin1Char(' ')) + s;
}

// description 0..29, quantity 30..36, amount 37..47, trailing spaces gone
QString columns(const QString& description, const QString& quantity, const QString& amount) {
    return (padRight(description, 30) + padLeft(quantity, 7) + padLeft(amount, 11)).trimmed();
}

QList<Kind> kindsOf(const EscPosRendering& r) {
    QList<Kind> kinds;
    for (const EscPosRendering::Line& line : r.lines)
        kinds.append(line.kind);
    return kinds;
}

// The Text line whose text (without trailing spaces) is text.
const EscPosRendering::Line* findLine(const EscPosRendering& r, const QString& text) {
    for (const EscPosRendering::Line& line : r.lines) {
        if (line.kind == Kind::Text && line.text.trimmed() == text)
            return &line;
    }
    return nullptr;
}

TEST(EscPosRenderSample, ReadsAsTheReceiptOfTheOrder) {
    const EscPosRendering r = renderEscPos(sampleStream(false));
    const QString div(48, QLatin1Char('-'));
    const QStringList expected = {
        "Кафе \"Ромашка\"",
        "Добро пожаловать!",
        "Киоск №1",
        "Зал 1, у входа",
        "Заказ № 125",
        "пт, 15 мар. 2024, 10:45",
        div,
        "ООО \"Ромашка\"",
        "Адрес г. Москва, ул. Тверская, д. 1",
        "ИНН 7701234567",
        "Тел. +7 (495) 123-45-67",
        div,
        columns("Наименование", "Кол-во", "Итого"),
        div,
        columns("Капучино", "2.0", "300.00 р."),
        columns("Пирожок с капустой", "3.0", "136.50 р."),
        div,
        "Скидка 10% на десерты",
        columns("Торт \"Наполеон\"", "1.0", "220.00 р."),
        columns("СКИДКА", "", "22.00 р."),
        columns("Вода минеральная 0,5 л", "1.0", "80.00 р."),
        columns("НАДБАВКА Корректировка цены", "", "15.50 р."),
        div,
        "С собой: Стойка выдачи №2",
        padRight("Итого", 30) + padLeft("730.00 р.", 18),
        "Спасибо за покупку!",
        "Ждём вас снова.",
        "Тел. +7 (495) 123-45-67",
        "",
    };
    EXPECT_EQ(r.textLines(), expected);
    // Every line of the driver fills the 48 columns, none wraps.
    for (const EscPosRendering::Line& line : r.lines) {
        if (line.kind == Kind::Text && !line.text.isEmpty()) {
            EXPECT_EQ(line.text.size(), 48) << line.text.toStdString();
        }
    }

    // The logo heads the receipt, the cut ends it.
    ASSERT_EQ(r.logos.size(), 1);
    EXPECT_EQ(r.logos[0].line, 0);
    EXPECT_EQ(r.logos[0].number, 1);
    EXPECT_EQ(r.logos[0].mode, 0);
    ASSERT_EQ(r.cuts.size(), 1);
    EXPECT_EQ(r.cuts[0].line, r.lines.size() - 1);
    EXPECT_TRUE(r.cuts[0].partial); // GS V 66 8
    EXPECT_EQ(r.cuts[0].feed, 8);
    EXPECT_TRUE(r.barcodes.isEmpty());
    EXPECT_TRUE(r.unknown.isEmpty()) << r.unknown.first().bytes.toHex(' ').toStdString();

    // Bold is the order line and the total, whole lines; nothing is underlined.
    int boldLines = 0;
    for (const EscPosRendering::Line& line : r.lines) {
        EXPECT_TRUE(line.underline.isEmpty()) << line.text.toStdString();
        boldLines += line.bold.isEmpty() ? 0 : 1;
    }
    EXPECT_EQ(boldLines, 2);
    for (const QString& text :
         {QStringLiteral("Заказ № 125"), padRight("Итого", 30) + padLeft("730.00 р.", 18)}) {
        const EscPosRendering::Line* line = findLine(r, text);
        ASSERT_NE(line, nullptr) << text.toStdString();
        EXPECT_EQ(line->bold, (QList<TextRun>{{0, 48, 1}})) << text.toStdString();
    }
}

// ---- Code 128 read back by a real reader -------------------------------------------

class EscPosRenderScan : public ::testing::Test {
protected:
    void SetUp() override {
        m_zbar = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
        if (m_zbar.isEmpty())
            GTEST_SKIP() << "zbarimg (Debian package zbar-tools) is not installed";
        ASSERT_TRUE(m_dir.isValid());
    }

    // The reader's "TYPE:data" lines for the picture, sorted.
    QStringList decode(const QImage& image) {
        const QString path = m_dir.filePath(QStringLiteral("receipt%1.png").arg(m_count++));
        EXPECT_TRUE(image.save(path));
        QProcess zbar;
        zbar.start(m_zbar, {QStringLiteral("-q"), QStringLiteral("--nodbus"), path});
        EXPECT_TRUE(zbar.waitForFinished(30000));
        QStringList found =
            QString::fromUtf8(zbar.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        found.sort();
        return found;
    }

    QString m_zbar;
    QTemporaryDir m_dir;
    int m_count = 0;
};

TEST_F(EscPosRenderScan, SampleOrderBarcodesReadAsOrderAndTotal) {
    const EscPosRendering r = renderEscPos(sampleStream(true));
    ASSERT_EQ(r.barcodes.size(), 2);
    EXPECT_EQ(r.barcodes[0].text, QStringLiteral("125"));
    EXPECT_EQ(r.barcodes[1].text, QStringLiteral("730.00"));
    for (const EscPosRendering::Barcode& code : r.barcodes) {
        EXPECT_TRUE(code.problem.isEmpty()) << code.problem.toStdString();
        EXPECT_EQ(code.height, 50); // GS h 32h
        EXPECT_EQ(code.moduleWidth, 2);
        EXPECT_EQ(r.lines[code.line].kind, Kind::Barcode);
    }
    // The order barcode follows the date, the price barcode the total.
    EXPECT_EQ(r.lines[r.barcodes[0].line - 1].text.trimmed(),
              QStringLiteral("пт, 15 мар. 2024, 10:45"));
    EXPECT_TRUE(r.lines[r.barcodes[1].line - 1].text.startsWith(QStringLiteral("Итого")));
    EXPECT_TRUE(r.unknown.isEmpty());

    const QImage image = drawEscPos(r);
    EXPECT_EQ(decode(image),
              (QStringList{QStringLiteral("CODE-128:125"), QStringLiteral("CODE-128:730.00")}));
}

QByteArray gsk73(const QByteArray& data) {
    return QByteArray("\x1D\x6B\x49", 3) + char(data.size()) + data;
}

TEST_F(EscPosRenderScan, Code128DataReadsAsItsText) {
    const struct {
        const char* name;
        QByteArray data;
        QString text;
    } cases[] = {
        {"set B", "{B125", "125"},
        {"set B with a doubled brace", "{Ba{{b}", "a{b}"},
        {"set C: one byte a pair of digits", QByteArray("{C\x0C\x22\x38", 5), "123456"},
        {"set C with a zero pair", QByteArray("{C\x00\x07", 4), "0007"},
        {"set A", "{AORDER 5/7", "ORDER 5/7"},
        {"B then C", QByteArray("{BNo{C\x0C\x22", 8), "No1234"},
        {"C then A then B", QByteArray("{C\x63{A-X{Bz", 10), "99-Xz"},
        {"a shift from A to B for one character", "{AAB{ScD", "ABcD"},
        {"a shifted brace", "{AA{S{{B", "A{B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray stream =
            QByteArray("\x1D\x68\x50\x1D\x77\x02", 6) + gsk73(c.data) + "\r\nnext\r\n";
        const EscPosRendering r = renderEscPos(stream);
        ASSERT_EQ(r.barcodes.size(), 1);
        EXPECT_TRUE(r.barcodes[0].problem.isEmpty()) << r.barcodes[0].problem.toStdString();
        EXPECT_EQ(r.barcodes[0].text, c.text);
        EXPECT_EQ(r.barcodes[0].data, c.data);
        EXPECT_EQ(r.textLines(), (QStringList{"", "next"}));
        EXPECT_EQ(decode(drawEscPos(r)), QStringList{QStringLiteral("CODE-128:") + c.text});
    }
}

// A symbol the printer would not print is a marked place, and what follows it reads on.
TEST(EscPosRenderBarcodes, DataThePrinterRejectsIsAMarkedPlace) {
    const struct {
        const char* name;
        QByteArray data;
    } cases[] = {
        {"no code set", "125"},
        {"a code set and nothing else", "{B"},
        {"a byte set B lacks", "{B\x82"},
        {"a pair set C lacks", QByteArray("{C\x64", 3)},
        {"a lowercase letter in set A", "{Aab"},
        {"a brace at the end", "{B12{"},
        {"an unknown pair", "{B1{Z2"},
        {"a shift in set C", QByteArray("{C\x01{Sa", 6)},
        {"a shift at the end", "{A1{S"},
        {"nothing", ""},
        {"wider than the paper", "{B" + QByteArray(30, 'x')}, // 35 symbols of 2 dots: 796
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray stream = QByteArray("\x1D\x77\x02", 3) + gsk73(c.data) + "after\n";
        const EscPosRendering r = renderEscPos(stream);
        ASSERT_EQ(r.barcodes.size(), 1);
        EXPECT_FALSE(r.barcodes[0].problem.isEmpty());
        EXPECT_TRUE(r.barcodes[0].values.isEmpty());
        EXPECT_EQ(r.barcodes[0].data, c.data);
        EXPECT_EQ(r.textLines(), QStringList{"after"});
        EXPECT_TRUE(r.unknown.isEmpty());
        EXPECT_FALSE(drawEscPos(r).isNull());
    }
    // One module less and it fits.
    const EscPosRendering fits =
        renderEscPos(QByteArray("\x1D\x77\x01", 3) + gsk73("{B" + QByteArray(30, 'x')));
    ASSERT_EQ(fits.barcodes.size(), 1);
    EXPECT_TRUE(fits.barcodes[0].problem.isEmpty()) << fits.barcodes[0].problem.toStdString();
}

TEST(EscPosRenderBarcodes, OtherSystemsAreMarkedPlacesOfTheirData) {
    const struct {
        QByteArray stream;
        int system;
        QByteArray data;
    } cases[] = {
        {QByteArray("\x1D\x6B\x02"
                    "4006381333931\0",
                    17),
         2, "4006381333931"},
        {QByteArray("\x1D\x6B\x04"
                    "ABC\0",
                    7),
         4, "ABC"},
        {QByteArray("\x1D\x6B\x43\x0D"
                    "4006381333931",
                    17),
         67, "4006381333931"},
        {QByteArray("\x1D\x6B\x48\x03"
                    "A-1",
                    7),
         72, "A-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.system);
        const EscPosRendering r = renderEscPos(c.stream + "x\n");
        ASSERT_EQ(r.barcodes.size(), 1);
        EXPECT_EQ(r.barcodes[0].system, c.system);
        EXPECT_EQ(r.barcodes[0].data, c.data);
        EXPECT_FALSE(r.barcodes[0].problem.isEmpty());
        EXPECT_EQ(r.textLines(), QStringList{"x"});
    }
    EXPECT_EQ(escPosBarcodeSystemName(2), QStringLiteral("EAN-13"));
    EXPECT_EQ(escPosBarcodeSystemName(73), QStringLiteral("Code 128"));
    EXPECT_EQ(escPosBarcodeSystemName(7), QStringLiteral("?"));
}

// ---- commands ---------------------------------------------------------------------

TEST(EscPosRenderCommands, TextAndLineCommands) {
    const QString x48(48, QLatin1Char('x'));
    const struct {
        const char* name;
        QByteArray stream;
        QStringList lines;
        QList<Kind> kinds;
    } cases[] = {
        {"code page 866", "\x8A\xA0\xAF\xE3\xE7\xA8\xAD\xAE \xFC 1\n", {"Капучино № 1"}, {}},
        {"a line ends at LF; CR returns to the start", "abc\rX\ndef\n", {"Xbc", "def"}, {}},
        {"a full line and CR LF make one line", x48.toLatin1() + "\r\n", {x48}, {}},
        {"a character past the 48th starts the next line",
         x48.toLatin1() + "yz\n",
         {x48, "yz"},
         {}},
        {"a bare LF is a blank line", "a\n\nb\n", {"a", "", "b"}, {}},
        {"a tab goes to the next of every eight columns", "a\tb\tc\n", {"a       b       c"}, {}},
        {"text without LF at the end still shows", "tail", {"tail"}, {}},
        {"modes, code tables, spacing and status requests print nothing",
         bytes("\x1B@\x1Bt\x11\x1B\x33\x08\x1B\x32\x10\x04\x01\x1B\x45\x01\x1B-\x01\x1D!\x00ok\n"),
         {"ok"},
         {}},
        {"ESC d 3 prints the line and feeds three",
         "a\x1B\x64\x03"
         "b\n",
         {"a", "", "", "b"},
         {}},
        {"ESC d 0 only prints what waits",
         bytes("a\x1B\x64\x00\x1B\x64\x00"
               "b\n"),
         {"a", "b"},
         {}},
        {"ESC J feeds dots",
         QByteArray("a\x1BJ\x28"
                    "b\n",
                    6),
         {"a", "b"},
         {Kind::Text, Kind::Feed, Kind::Text}},
        {"a logo prints below the waiting text",
         QByteArray("a\x1Cp\x02\x01"
                    "b\n",
                    7),
         {"a", "b"},
         {Kind::Text, Kind::Logo, Kind::Text}},
        {"cuts",
         QByteArray("\x1DV\x00\x1DV\x31\x1DV\x41\x05\x1DV\x68\x00", 14),
         {},
         {Kind::Cut, Kind::Cut, Kind::Cut, Kind::Cut}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const EscPosRendering r = renderEscPos(c.stream);
        EXPECT_EQ(r.textLines(), c.lines);
        if (!c.kinds.isEmpty()) {
            EXPECT_EQ(kindsOf(r), c.kinds);
        }
        EXPECT_TRUE(r.unknown.isEmpty()) << r.unknown.first().bytes.toHex(' ').toStdString();
    }
}

TEST(EscPosRenderCommands, CutsFeedsAndLogosKeepTheirArguments) {
    const EscPosRendering r =
        renderEscPos(QByteArray("\x1DV\x00\x1DV\x31\x1DV\x41\x05\x1DV\x68\x09\x1BJ\x28"
                                "\x1Cp\x03\x02",
                                22));
    ASSERT_EQ(r.cuts.size(), 4);
    const bool partial[] = {false, true, false, true};
    const int feed[] = {0, 0, 5, 9};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(r.cuts[i].partial, partial[i]) << i;
        EXPECT_EQ(r.cuts[i].feed, feed[i]) << i;
        EXPECT_EQ(r.cuts[i].line, i);
    }
    EXPECT_EQ(r.lines[4].dots, 40);
    ASSERT_EQ(r.logos.size(), 1);
    EXPECT_EQ(r.logos[0].number, 3);
    EXPECT_EQ(r.logos[0].mode, 2);
}

TEST(EscPosRenderCommands, StylesBecomeRunsOfTheLine) {
    const struct {
        const char* name;
        QByteArray stream;
        QString text;
        QList<TextRun> bold, underline, sizes;
        EscPosRendering::Align align;
    } cases[] = {
        {"bold as the driver sends it",
         "ab\x1B\x45\x31"
         "cd\x1B\x45\x30"
         "e\n",
         "abcde",
         {{2, 2, 1}},
         {},
         {},
         EscPosRendering::Align::Left},
        {"bold by the lowest bit",
         "\x1B\x45\x03"
         "a\x1B\x45\x02"
         "b\n",
         "ab",
         {{0, 1, 1}},
         {},
         {},
         EscPosRendering::Align::Left},
        {"underline one and two dots",
         "\x1B-1a\x1B-\x02"
         "b\x1B-0c\n",
         "abc",
         {},
         {{0, 1, 1}, {1, 1, 2}},
         {},
         EscPosRendering::Align::Left},
        {"double width and height",
         bytes("a\x1D!\x11"
               "b\x1D!\x00"
               "c\n"),
         "abc",
         {},
         {},
         {{1, 1, 0x11}},
         EscPosRendering::Align::Left},
        {"ESC @ ends every mode",
         "\x1B\x45\x31\x1B-1\x1D!\x10"
         "a\x1B@b\n",
         "ab",
         {{0, 1, 1}},
         {{0, 1, 1}},
         {{0, 1, 0x10}},
         EscPosRendering::Align::Left},
        {"centred",
         "\x1B\x61\x31"
         "mid\n",
         "mid",
         {},
         {},
         {},
         EscPosRendering::Align::Center},
        {"right, as the line starts",
         bytes("\x1B\x61\x02r\x1B\x61\x00"
               "s\n"),
         "rs",
         {},
         {},
         {},
         EscPosRendering::Align::Right},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const EscPosRendering r = renderEscPos(c.stream);
        ASSERT_EQ(r.lines.size(), 1);
        const EscPosRendering::Line& line = r.lines[0];
        EXPECT_EQ(line.text, c.text);
        EXPECT_EQ(line.bold, c.bold);
        EXPECT_EQ(line.underline, c.underline);
        EXPECT_EQ(line.sizes, c.sizes);
        EXPECT_EQ(line.align, c.align);
        EXPECT_TRUE(r.unknown.isEmpty());
    }
}

TEST(EscPosRenderCommands, DoubleWidthTakesTwoColumns) {
    const EscPosRendering r = renderEscPos("\x1D!\x10" + QByteArray(25, 'w') + "\n");
    EXPECT_EQ(r.textLines(), (QStringList{QString(24, 'w'), "w"}));
}

// ---- what the reader does not know ------------------------------------------------

TEST(EscPosRenderUnknown, UnknownCodesAreMarkedWhereTheyCame) {
    const struct {
        const char* name;
        QByteArray stream;
        QStringList lines;
        QList<QByteArray> unknown;
    } cases[] = {
        {"an unknown ESC command and a bell",
         "a\x1BR\x07z\n",
         {"a[1B 52][07]z"},
         {"\x1BR", "\x07"}},
        {"an unknown GS command", "\x1D(k", {"[1D 28]k"}, {"\x1D("}},
        {"an unknown FS command", "\x1C&x\n", {"[1C 26]x"}, {"\x1C&"}},
        {"an unknown DLE command", "\x10\x05\x02\n", {"[10 05][02]"}, {"\x10\x05", "\x02"}},
        {"a NUL", QByteArray("a\0b\n", 4), {"a[00]b"}, {QByteArray(1, '\0')}},
        {"ESC before a line end: the line still ends", "a\x1B\nb\n", {"a[1B]", "b"}, {"\x1B"}},
        {"underline of three dots",
         "\x1B-\x03"
         "a\n",
         {"[1B 2D 03]a"},
         {"\x1B-\x03"}},
        {"alignment 3",
         "\x1B\x61\x33"
         "a\n",
         {"[1B 61 33]a"},
         {"\x1B\x61\x33"}},
        {"an unknown cut",
         "\x1DV\x07"
         "a\n",
         {"[1D 56 07]a"},
         {"\x1DV\x07"}},
        {"bar height 0 and module width 9",
         QByteArray("\x1Dh\x00\x1Dw\x09", 6),
         {"[1D 68 00][1D 77 09]"},
         {QByteArray("\x1Dh\x00", 3), "\x1Dw\x09"}},
        {"an unknown barcode system",
         "\x1Dk\x20"
         "a\n",
         {"[1D 6B 20]a"},
         {"\x1Dk\x20"}},
        {"after CR the mark stands at column 0", "ab\r\x1B~c\n", {"[1B 7E]cb"}, {"\x1B~"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const EscPosRendering r = renderEscPos(c.stream);
        EXPECT_EQ(r.textLines(), c.lines);
        QList<QByteArray> unknown;
        for (const EscPosRendering::Unknown& u : r.unknown) {
            unknown.append(u.bytes);
            EXPECT_FALSE(u.truncated);
            EXPECT_EQ(c.stream.mid(u.offset, u.bytes.size()), u.bytes);
            ASSERT_GE(u.line, 0);
            EXPECT_TRUE(
                r.lines[u.line].text.contains(QString::fromLatin1(u.bytes.toHex(' ').toUpper())));
        }
        EXPECT_EQ(unknown, c.unknown);
    }
}

TEST(EscPosRenderUnknown, MarksAreRunsOfTheirOwn) {
    const EscPosRendering r = renderEscPos("\x1B\x45\x31"
                                           "a\x1BR\x07z\n");
    ASSERT_EQ(r.lines.size(), 1);
    EXPECT_EQ(r.lines[0].marks, (QList<TextRun>{{1, 7, 1}, {8, 4, 1}}));
    EXPECT_EQ(r.lines[0].bold, (QList<TextRun>{{0, 1, 1}, {12, 1, 1}})); // marks are never bold
}

TEST(EscPosRenderUnknown, ACommandCutOffMarksWhatCame) {
    const struct {
        QByteArray stream;
        QByteArray cutOff;
    } cases[] = {
        {"x\x1B", "\x1B"},
        {"x\x1B\x45", "\x1B\x45"},
        {"x\x1D", "\x1D"},
        {"x\x1DV\x41", "\x1DV\x41"},
        {"x\x1D\x6B\x49\x05{B1", "\x1D\x6B\x49\x05{B1"},
        {"x\x1D\x6B\x49", "\x1D\x6B\x49"},
        {"x\x1D\x6B\x04"
         "ABC",
         "\x1D\x6B\x04"
         "ABC"},
        {"x\x1Cp\x01", "\x1Cp\x01"},
        {"x\x10\x04", "\x10\x04"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stream.toHex(' ').toStdString());
        const EscPosRendering r = renderEscPos(c.stream);
        ASSERT_EQ(r.unknown.size(), 1);
        EXPECT_TRUE(r.unknown[0].truncated);
        EXPECT_EQ(r.unknown[0].bytes, c.cutOff);
        EXPECT_EQ(r.unknown[0].offset, 1);
        EXPECT_EQ(r.textLines(), QStringList{"x[" + c.cutOff.toHex(' ').toUpper() + " …]"});
    }
}

// Every prefix of the sample receipt, as a printer switched off mid-receipt leaves it:
// what the prefix holds reads as in the whole stream, and only a command the cut runs
// through is marked, as cut off, up to the end.
TEST(EscPosRenderUnknown, EveryPrefixOfTheSampleReceipt) {
    const QByteArray whole = sampleStream(true);
    const EscPosRendering full = renderEscPos(whole);
    ASSERT_GT(whole.size(), 1000);
    for (qsizetype n = 0; n <= whole.size(); ++n) {
        const EscPosRendering r = renderEscPos(whole.left(n));
        ASSERT_LE(r.unknown.size(), 1) << n;
        if (!r.unknown.isEmpty()) {
            ASSERT_TRUE(r.unknown[0].truncated) << n;
            ASSERT_EQ(r.unknown[0].offset + r.unknown[0].bytes.size(), n) << n;
        }
        ASSERT_LE(r.lines.size(), full.lines.size()) << n;
        // Every complete line of the prefix is the line of the whole receipt.
        const QStringList texts = r.textLines();
        const QStringList fullTexts = full.textLines();
        for (qsizetype i = 0; i + 1 < texts.size(); ++i)
            ASSERT_EQ(texts[i], fullTexts[i]) << n;
        if (n % 97 == 0 || !r.unknown.isEmpty()) {
            ASSERT_FALSE(drawEscPos(r).isNull()) << n;
        }
    }
}

// Bytes of no meaning at all: the reader never crashes or hangs, accounts for every
// unknown byte where it stands, and the picture is drawn.
TEST(EscPosRenderUnknown, RandomBytes) {
    QRandomGenerator random(20240315);
    const char commands[] = {'\x1B', '\x1D', '\x1C', '\x10', '\n', '\r', 'k', 'V', 'p', 'I'};
    for (int round = 0; round < 400; ++round) {
        QByteArray stream;
        const int size = random.bounded(300);
        for (int i = 0; i < size; ++i) {
            // Half the bytes from the command alphabet, so that commands do occur.
            stream += random.bounded(2) ? commands[random.bounded(int(sizeof commands))]
                                        : char(random.bounded(256));
        }
        const EscPosRendering r = renderEscPos(stream);
        qsizetype last = -1;
        for (const EscPosRendering::Unknown& u : r.unknown) {
            ASSERT_GT(u.offset, last) << stream.toHex().toStdString();
            ASSERT_EQ(stream.mid(u.offset, u.bytes.size()), u.bytes);
            ASSERT_GE(u.line, 0);
            last = u.offset;
        }
        EXPECT_FALSE(drawEscPos(r).isNull()) << stream.toHex().toStdString();
    }
}

// ---- the picture ------------------------------------------------------------------

TEST(EscPosRenderDrawing, PaperInkMarksAndHeightLimit) {
    const EscPosRendering r = renderEscPos("\x1B\x45\x31"
                                           "WWWW\x1B\x45\x30\n\x1B~\n");
    const QImage image = drawEscPos(r);
    EscPosDrawOptions o;
    EXPECT_GE(image.width(), o.paperWidth + 2 * o.margin);
    auto count = [&image](auto pred) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += pred(QColor(image.pixel(x, y))) ? 1 : 0;
        return n;
    };
    EXPECT_GT(count([](const QColor& c) { return c.lightness() < 60; }), 100); // the text
    // The mark in red; a stream without one has no red at all.
    EXPECT_GT(count([](const QColor& c) { return c.red() > 150 && c.green() < 80; }), 20);
    const EscPosRendering plain = renderEscPos("WWWW\n");
    const QImage plainImage = drawEscPos(plain);
    int red = 0;
    for (int y = 0; y < plainImage.height(); ++y)
        for (int x = 0; x < plainImage.width(); ++x)
            red += QColor(plainImage.pixel(x, y)).red() > 150 &&
                   QColor(plainImage.pixel(x, y)).green() < 80;
    EXPECT_EQ(red, 0);

    // A receipt longer than the limit stops there.
    o.maxHeight = 2000;
    const QImage capped = drawEscPos(renderEscPos(QByteArray(500, '\n')), o);
    EXPECT_LE(capped.height(), 2000);
    EXPECT_GT(drawEscPos(renderEscPos(QByteArray(500, '\n'))).height(), 500 * 30);
}

} // namespace

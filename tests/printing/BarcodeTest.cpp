// TBarcodeImage's rules: Code 128 in full, widths and Modul, rotation, texts, property
// notifications and failures.
#include "printing/Barcode.h"

#include "platform/Error.h"

#include <gtest/gtest.h>

#include <QRect>

#include <functional>
#include <limits>
#include <set>

namespace {

// Element widths in units ("1" to "4") of a module string, bars and spaces alternating.
std::string unitsOf(const QByteArray& modules) {
    std::string widths;
    for (const char m : modules) {
        if (m >= '0' && m <= '3')
            widths += char('1' + (m - '0'));
        else if (m >= '5' && m <= '8')
            widths += char('1' + (m - '5'));
        else
            widths += char('1' + (m - 'A'));
    }
    return widths;
}

// Published Code 128 patterns of the values the cases below use.
std::string code128(std::initializer_list<int> values) {
    static const std::map<int, std::string> patterns = {
        {0, "212222"},   {1, "222122"},   {13, "122132"},  {14, "122231"},  {16, "123122"},
        {17, "123221"},  {18, "223211"},  {20, "221231"},  {21, "213212"},  {23, "312131"},
        {25, "321122"},  {33, "111323"},  {49, "211331"},  {65, "121124"},  {66, "121421"},
        {72, "122411"},  {88, "421211"},  {91, "412121"},  {100, "114131"}, {102, "411131"},
        {103, "211412"}, {104, "211214"}, {105, "211232"},
    };
    std::string result;
    for (const int v : values)
        result += patterns.at(v);
    return result + "2331112";
}

QRect boundsOf(const TRecordingCanvas& canvas) {
    QRect bounds;
    for (const TRecordingCanvas::Call& call : canvas.calls()) {
        for (const QPoint& p : call.points)
            bounds |= QRect(p, QSize(1, 1));
    }
    return bounds;
}

TEST(BarcodeCode128, SymbolsCheckValuesAndWidths) {
    struct Case {
        TBarcodeType typ;
        QByteArray text;
        bool checksum;
        std::string widths;
        int units;
    };
    const Case cases[] = {
        // start A, 1 4 9 . 9 0, check 100, stop
        {bcCode128A, "149.90", false, code128({103, 17, 20, 25, 14, 25, 16, 100}), 101},
        {bcCode128A, "A-15", false, code128({103, 33, 13, 17, 21, 91}), 79},
        // characters set A lacks go as spaces: a lower-case letter, a Cyrillic byte
        {bcCode128A, "a\xC0", false, code128({103, 0, 0, 0}), 57},
        // control characters are values 64 to 95 in set A
        {bcCode128A, QByteArray("\x01", 1), false, code128({103, 65, (103 + 65) % 103}), 46},
        // set B has the lower case but not DEL
        {bcCode128B, "a\x7F", false, code128({104, 65, 0, (104 + 65) % 103}), 57},
        // set C: an odd text gets a leading zero; 0123 is the pairs 1 and 23
        {bcCode128C, "123", false, code128({105, 1, 23, 49}), 57},
        // GS1-128: FNC1 follows the start and counts in the check symbol
        {bcCodeEAN128B, "12", false, code128({104, 102, 17, 18, 88}), 68},
        // with the check digit: 12 + 3, then the leading zero for set C
        {bcCodeEAN128C, "12", true, code128({105, 102, 1, 23, (105 + 102 + 2 + 69) % 103}), 68},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        TBarcodeImage barcode;
        barcode.SetTyp(c.typ);
        barcode.SetText(c.text);
        barcode.SetChecksum(c.checksum);
        EXPECT_EQ(unitsOf(barcode.BuildModuleString()), c.widths);
        EXPECT_EQ(barcode.Width(), c.units);
    }
}

TEST(BarcodeCode128, SetCKeepsTheLeadingZeroInText) {
    struct Case {
        TBarcodeType typ;
        bool checksum;
        QByteArray textAfter;
    };
    const Case cases[] = {
        {bcCode128C, false, "0123"},
        {bcCodeEAN128C, false, "0123"},
        {bcCodeEAN128C, true, "123"}, // the check digit is not part of Text
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.typ));
        TBarcodeImage barcode;
        barcode.SetTyp(c.typ);
        barcode.SetChecksum(c.checksum);
        barcode.SetText("123");
        const QByteArray first = barcode.BuildModuleString();
        EXPECT_EQ(barcode.Text(), c.textAfter);
        EXPECT_EQ(barcode.BuildModuleString(), first);
        EXPECT_EQ(barcode.Text(), c.textAfter);
    }
}

TEST(BarcodeWidth, WritingWidthPicksTheModul) {
    struct Case {
        int target;
        int modul;
        int width;
    };
    // A width that would take a Modul past 49 gets the widest Modul there is, not the
    // narrowest: a 1200 dpi page asks for 3780 pixels, 59 units of this code.
    const Case cases[] = {{640, 6, 606},    {80, 1, 101},         {101, 1, 101},
                          {202, 2, 202},    {5000, 49, 4949},     {-10, 1, 101},
                          {5049, 49, 4949}, {3780 * 2, 49, 4949}, {1 << 30, 49, 4949}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        TBarcodeImage barcode;
        barcode.SetTyp(bcCode128A);
        barcode.SetText("149.90");
        barcode.SetWidth(c.target);
        EXPECT_EQ(barcode.Modul(), c.modul);
        EXPECT_EQ(barcode.Width(), c.width);

        TRecordingCanvas canvas;
        barcode.DrawBarcode(canvas);
        EXPECT_EQ(boundsOf(canvas).width(), c.width);
    }
}

TEST(BarcodeWidth, ModulAcceptsOneToFortyNine) {
    TBarcodeImage barcode;
    barcode.SetModul(49);
    EXPECT_EQ(barcode.Modul(), 49);
    for (const int ignored : {50, 0, -1, 1000}) {
        barcode.SetModul(ignored);
        EXPECT_EQ(barcode.Modul(), 49) << ignored;
    }
}

// The widths of 1 to 4 units: Modul, R(Modul x Ratio), half as much again, twice it.
TEST(BarcodeWidth, ElementWidthsFollowModulAndRatio) {
    struct Case {
        TBarcodeType typ;
        QByteArray text;
        int modul;
        double ratio;
        std::set<int> widths;
    };
    const Case cases[] = {
        {bcCode128A, "A-15", 3, 2.0, {3, 6, 9, 12}},
        {bcCode128A, "A-15", 41, 2.0, {41, 82, 123, 164}}, // past eight bits
        {bcCode39, "A", 1, 2.5, {1, 2}},                   // R(2.5) is 2, the even one
        {bcCode39, "A", 3, 2.5, {3, 8}},                   // R(7.5) is 8
        {bcCode_2_5_matrix, "1", 2, 3.0, {2, 6, 9}},       // start and stop bars: 3 units
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString() + " " + std::to_string(c.modul));
        TBarcodeImage barcode;
        barcode.SetTyp(c.typ);
        barcode.SetText(c.text);
        barcode.SetModul(c.modul);
        barcode.SetRatio(c.ratio);
        barcode.SetHeight(10);
        TRecordingCanvas canvas;
        barcode.DrawBarcode(canvas);
        std::set<int> widths;
        for (const TRecordingCanvas::Call& call : canvas.calls())
            widths.insert(call.points[2].x() - call.points[0].x() + 1);
        EXPECT_EQ(widths, c.widths);
    }
}

TEST(BarcodeWidth, RatioIsKeptInRangeOfTheSymbology) {
    struct Case {
        TBarcodeType typ;
        double ratio;
        double after;
    };
    const Case cases[] = {
        {bcCode_2_5_matrix, 2.0, 2.25},
        {bcCode_2_5_matrix, 3.5, 3.0},
        {bcCode_2_5_interleaved, 1.5, 2.0},
        {bcCode39, 4.0, 3.0},
        {bcCodeEAN13, 1.0, 2.0},
        {bcCodeUPC_Supp5, 3.1, 3.0},
        {bcCodeCodabar, 2.5, 2.5},
        {bcCode128A, 5.0, 5.0},
        {bcCode93, 1.0, 1.0},
        {bcCodeMSI, 4.0, 4.0},
        {bcCodeEAN128C, 1.5, 1.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.typ));
        TBarcodeImage barcode;
        barcode.SetTyp(c.typ);
        barcode.SetText("12");
        barcode.SetRatio(c.ratio);
        int changes = 0;
        barcode.SetOnChange([&](TBarcodeImage* sender) {
            EXPECT_EQ(sender, &barcode);
            ++changes;
        });
        barcode.Width();
        EXPECT_EQ(barcode.Ratio(), c.after);
        EXPECT_EQ(changes, c.after != c.ratio ? 1 : 0);
    }
}

TEST(BarcodeNumeric, TextIsTrimmedThenMustBeDigits) {
    TBarcodeImage barcode;
    barcode.SetTyp(bcCode_2_5_interleaved);
    barcode.SetText(" \t12\r\n ");
    barcode.Width();
    EXPECT_EQ(barcode.Text(), "12");

    barcode.SetText("1A");
    try {
        barcode.Width();
        FAIL() << "1A was taken as numeric";
    } catch (const orvanta::Exception& e) {
        EXPECT_EQ(e.message(), "Barcode must be numeric");
    }

    // Symbologies that take any text leave it alone.
    barcode.SetTyp(bcCode128B);
    barcode.SetText(" x ");
    barcode.Width();
    EXPECT_EQ(barcode.Text(), " x ");
}

TEST(BarcodeDrawing, ElementsStartAtLeftInTheirColours) {
    TBarcodeImage barcode;
    barcode.SetTyp(bcCode128A);
    barcode.SetText("A-15");
    barcode.SetLeft(37);
    barcode.SetTop(11);
    barcode.SetHeight(30);
    barcode.SetModul(2);
    barcode.SetColor(0x00FFEE);
    barcode.SetColorBar(0x112233);
    TRecordingCanvas canvas;
    barcode.DrawBarcode(canvas);

    const QByteArray modules = barcode.BuildModuleString();
    ASSERT_EQ(canvas.calls().size(), modules.size());
    int x = 37;
    for (qsizetype i = 0; i < modules.size(); ++i) {
        const TRecordingCanvas::Call& call = canvas.calls()[i];
        const bool bar = modules[i] >= '5';
        const int w = 2 * (bar ? modules[i] - '5' + 1 : modules[i] - '0' + 1);
        const QList<QPoint> corners{{x, 11}, {x, 41}, {x + w - 1, 41}, {x + w - 1, 11}};
        EXPECT_EQ(call.points, corners) << i;
        EXPECT_EQ(call.pen.Color, bar ? 0x112233u : 0x00FFEEu) << i;
        EXPECT_EQ(call.brush.Color, call.pen.Color) << i;
        EXPECT_EQ(call.pen.Width, 1);
        x += w;
    }
    EXPECT_EQ(boundsOf(canvas), QRect(QPoint(37, 11), QPoint(37 + 158 - 1, 41)));
}

TEST(BarcodeDrawing, RotatedDrawingKeepsItsBoxAtLeftTop) {
    for (const double angle : {0.0, 30.0, 90.0, 135.0, 180.0, 200.0, 270.0, 315.0, -90.0}) {
        SCOPED_TRACE(angle);
        TBarcodeImage barcode;
        barcode.SetTyp(bcCode128B);
        barcode.SetText("turn");
        barcode.SetLeft(100);
        barcode.SetTop(200);
        barcode.SetHeight(40);
        barcode.SetAngle(angle);
        TRecordingCanvas canvas;
        barcode.DrawBarcode(canvas);
        const QRect bounds = boundsOf(canvas);
        // Corners are rounded one by one, so the box may be off by a pixel.
        EXPECT_NEAR(bounds.left(), 100, 1);
        EXPECT_NEAR(bounds.top(), 200, 1);
        EXPECT_NEAR(bounds.width(), barcode.CanvasWidth(), 2);
        EXPECT_NEAR(bounds.height(), barcode.CanvasHeight(), 2);
    }
}

TEST(BarcodeDrawing, CanvasSizeOfTheRotatedBox) {
    struct Case {
        double angle;
        int height;
        int canvasWidth;
        int canvasHeight;
    };
    // A-15 in set A at Modul 1 is 79 pixels wide.
    const Case cases[] = {
        {0, 31, 80, 32}, {0, 30, 80, 30}, {90, 30, 31, 80}, {180, 31, 80, 32}, {45, 20, 71, 71},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.angle);
        TBarcodeImage barcode;
        barcode.SetTyp(bcCode128A);
        barcode.SetText("A-15");
        barcode.SetHeight(c.height);
        barcode.SetAngle(c.angle);
        EXPECT_EQ(barcode.CanvasWidth(), c.canvasWidth);
        EXPECT_EQ(barcode.CanvasHeight(), c.canvasHeight);
    }
}

TEST(BarcodeDrawing, CanvasGetsItsFontPenAndBrushBack) {
    TRecordingCanvas canvas;
    TCanvasFont font;
    font.Font = QFont(QStringLiteral("DejaVu Serif"), 15);
    font.Color = 0x445566;
    canvas.SetFont(font);
    canvas.SetPen(TCanvasPen{0x010203, 4});
    canvas.SetBrush(TCanvasBrush{0x0A0B0C});

    TBarcodeImage barcode;
    barcode.SetTyp(bcCode128B);
    barcode.SetText("keep");
    barcode.SetHeight(20);
    barcode.SetShowText(bcoBoth);
    barcode.DrawBarcode(canvas);

    EXPECT_EQ(canvas.Font(), font);
    EXPECT_EQ(canvas.Pen(), (TCanvasPen{0x010203, 4}));
    EXPECT_EQ(canvas.Brush(), TCanvasBrush{0x0A0B0C});

    // Also when the build fails half-way through: nothing is drawn, nothing changed.
    barcode.SetTyp(bcCodeEAN8);
    barcode.SetText("123456789");
    canvas.clear();
    EXPECT_THROW(barcode.DrawBarcode(canvas), orvanta::Exception);
    EXPECT_TRUE(canvas.calls().isEmpty());
    EXPECT_EQ(canvas.Font(), font);
    EXPECT_EQ(canvas.Pen(), (TCanvasPen{0x010203, 4}));
}

TEST(BarcodeText, PositionsOfTheCodeText) {
    struct Case {
        TShowTextPosition position;
        int charWidth;
        QPoint at;
    };
    // Left 10, Top 20, Height 50; A-15 is 79 wide; text cells 13 high.
    const Case cases[] = {
        {stpTopLeft, 7, {10, 20}},    {stpTopRight, 7, {61, 20}},    {stpTopCenter, 7, {35, 20}},
        {stpBottomLeft, 7, {10, 57}}, {stpBottomRight, 7, {61, 57}}, {stpBottomCenter, 7, {35, 57}},
        {stpTopCenter, 20, {10, 20}}, // (79 - 80) / 2 truncates to 0, not -1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.position));
        TBarcodeImage barcode;
        barcode.SetTyp(bcCode128A);
        barcode.SetText("A-15");
        barcode.SetLeft(10);
        barcode.SetTop(20);
        barcode.SetHeight(50);
        barcode.SetShowText(bcoCode);
        barcode.SetShowTextPosition(c.position);
        TRecordingCanvas canvas(c.charWidth, 13);
        barcode.DrawText(canvas);
        ASSERT_EQ(canvas.calls().size(), 1);
        EXPECT_EQ(canvas.calls()[0].points, QList<QPoint>{c.at});
        EXPECT_EQ(canvas.calls()[0].text, "A-15");
    }
}

TEST(BarcodeText, WhichTextsAreDrawnAndHow) {
    struct Case {
        TBarcodeOption option;
        QStringList texts;
    };
    const Case cases[] = {
        {bcoNone, {}},
        {bcoCode, {QStringLiteral("Цена 5")}},
        {bcoTyp, {QStringLiteral("Code128B")}},
        {bcoBoth, {QStringLiteral("Цена 5"), QStringLiteral("Code128B")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.option));
        TBarcodeImage barcode;
        barcode.SetTyp(bcCode128B);
        barcode.SetText("\xD6\xE5\xED\xE0 5"); // code page 1251
        barcode.SetLeft(10);
        barcode.SetTop(20);
        barcode.SetHeight(50);
        barcode.SetShowText(c.option);
        TCanvasFont font;
        font.Font.setPointSize(12); // cell height value -16
        font.Color = 0x0000FF;
        barcode.SetShowTextFont(font);
        TRecordingCanvas canvas;
        barcode.DrawBarcode(canvas);

        const QByteArray modules = barcode.BuildModuleString();
        QStringList texts;
        for (qsizetype i = 0; i < canvas.calls().size(); ++i) {
            const TRecordingCanvas::Call& call = canvas.calls()[i];
            if (call.kind != TRecordingCanvas::CallKind::TextOut)
                continue;
            EXPECT_GE(i, modules.size()) << "texts come after the bars";
            texts << call.text;
            EXPECT_EQ(call.font, font);
            EXPECT_EQ(call.pen.Color, 0x0000FFu);
            EXPECT_EQ(call.brush.Color, 0xFFFFFFu);
            if (call.text == "Code128B") { // 2.5 x -16 = -40 above Top
                EXPECT_EQ(call.points, QList<QPoint>{QPoint(10, -20)});
            }
        }
        EXPECT_EQ(texts, c.texts);
    }
}

TEST(BarcodeText, DefaultFontPutsTheNameAboveTop) {
    TBarcodeImage barcode;
    EXPECT_EQ(barcode.ShowTextFont().HeightValue(), -11); // 8 points on a 96-dpi screen
    barcode.SetTyp(bcCodeEAN13);
    barcode.SetText("5901234123457");
    barcode.SetTop(100);
    barcode.SetShowText(bcoTyp);
    TRecordingCanvas canvas;
    barcode.DrawText(canvas);
    ASSERT_EQ(canvas.calls().size(), 1);
    // R(2.5 x -11) = R(-27.5) = -28, the even neighbour
    EXPECT_EQ(canvas.calls()[0].points, QList<QPoint>{QPoint(0, 72)});
    EXPECT_EQ(canvas.calls()[0].text, "EAN13");
}

TEST(BarcodeProperties, WritesNotifyOnlyWhenTheyChangeSomething) {
    struct Case {
        const char* name;
        std::function<void(TBarcodeImage&)> write;
        int notifications;
    };
    const Case cases[] = {
        {"Height", [](TBarcodeImage& b) { b.SetHeight(5); }, 1},
        {"Height same", [](TBarcodeImage& b) { b.SetHeight(0); }, 0},
        {"Text", [](TBarcodeImage& b) { b.SetText("1"); }, 1},
        {"Text same", [](TBarcodeImage& b) { b.SetText(""); }, 0},
        {"Top", [](TBarcodeImage& b) { b.SetTop(1); }, 1},
        {"Left", [](TBarcodeImage& b) { b.SetLeft(1); }, 1},
        {"Left same", [](TBarcodeImage& b) { b.SetLeft(0); }, 0},
        {"Modul", [](TBarcodeImage& b) { b.SetModul(2); }, 1},
        {"Modul same", [](TBarcodeImage& b) { b.SetModul(1); }, 1},
        {"Modul out of range", [](TBarcodeImage& b) { b.SetModul(50); }, 0},
        {"Ratio", [](TBarcodeImage& b) { b.SetRatio(2.5); }, 1},
        {"Ratio same", [](TBarcodeImage& b) { b.SetRatio(2.0); }, 0},
        {"Typ", [](TBarcodeImage& b) { b.SetTyp(bcCode128A); }, 1},
        {"Typ same", [](TBarcodeImage& b) { b.SetTyp(bcCodeEAN13); }, 0},
        {"Checksum", [](TBarcodeImage& b) { b.SetChecksum(true); }, 1},
        {"Angle", [](TBarcodeImage& b) { b.SetAngle(90); }, 1},
        {"ShowText", [](TBarcodeImage& b) { b.SetShowText(bcoCode); }, 1},
        {"ShowTextPosition", [](TBarcodeImage& b) { b.SetShowTextPosition(stpBottomLeft); }, 1},
        {"ShowTextFont", [](TBarcodeImage& b) { b.SetShowTextFont(b.ShowTextFont()); }, 1},
        {"CheckSumMethod", [](TBarcodeImage& b) { b.SetCheckSumMethod(csmNone); }, 0},
        {"Color", [](TBarcodeImage& b) { b.SetColor(0x123456); }, 0},
        {"ColorBar", [](TBarcodeImage& b) { b.SetColorBar(0x123456); }, 0},
        {"Width", [](TBarcodeImage& b) { b.SetWidth(2 * b.Width()); }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TBarcodeImage barcode;
        int notifications = 0;
        barcode.SetOnChange([&](TBarcodeImage*) { ++notifications; });
        c.write(barcode);
        EXPECT_EQ(notifications, c.notifications);
    }
}

TEST(BarcodeProperties, DefaultsAfterCreate) {
    TBarcodeImage barcode;
    EXPECT_EQ(barcode.Height(), 0);
    EXPECT_EQ(barcode.Text(), "");
    EXPECT_EQ(barcode.Top(), 0);
    EXPECT_EQ(barcode.Left(), 0);
    EXPECT_EQ(barcode.Modul(), 1);
    EXPECT_EQ(barcode.Ratio(), 2.0);
    EXPECT_EQ(barcode.Typ(), bcCodeEAN13);
    EXPECT_FALSE(barcode.Checksum());
    EXPECT_EQ(barcode.CheckSumMethod(), csmModulo10);
    EXPECT_EQ(barcode.Angle(), 0.0);
    EXPECT_EQ(barcode.ShowText(), bcoNone);
    EXPECT_EQ(barcode.ShowTextPosition(), stpTopLeft);
    EXPECT_EQ(barcode.Color(), 0xFFFFFFu);
    EXPECT_EQ(barcode.ColorBar(), 0u);
    EXPECT_FALSE(barcode.OnChange());
}

TEST(BarcodeProperties, AssignCopiesAllButTheFontAndStaysQuiet) {
    TBarcodeImage source;
    int sourceNotifications = 0;
    source.SetHeight(31);
    source.SetText("A-15");
    source.SetTop(3);
    source.SetLeft(4);
    source.SetModul(5);
    source.SetRatio(2.5);
    source.SetTyp(bcCode128A);
    source.SetChecksum(true);
    source.SetShowText(bcoBoth);
    source.SetShowTextPosition(stpBottomCenter);
    source.SetAngle(90);
    source.SetColor(0x111111);
    source.SetColorBar(0x222222);
    source.SetCheckSumMethod(csmNone);
    TCanvasFont font;
    font.Font.setPointSize(30);
    source.SetShowTextFont(font);
    source.SetOnChange([&](TBarcodeImage*) { ++sourceNotifications; });

    TBarcodeImage target;
    const TCanvasFont targetFont = target.ShowTextFont();
    target.Assign(source);
    EXPECT_EQ(sourceNotifications, 0);
    EXPECT_EQ(target.Height(), 31);
    EXPECT_EQ(target.Text(), "A-15");
    EXPECT_EQ(target.Top(), 3);
    EXPECT_EQ(target.Left(), 4);
    EXPECT_EQ(target.Modul(), 5);
    EXPECT_EQ(target.Ratio(), 2.5);
    EXPECT_EQ(target.Typ(), bcCode128A);
    EXPECT_TRUE(target.Checksum());
    EXPECT_EQ(target.ShowText(), bcoBoth);
    EXPECT_EQ(target.ShowTextPosition(), stpBottomCenter);
    EXPECT_EQ(target.Angle(), 90.0);
    EXPECT_EQ(target.Color(), 0x111111u);
    EXPECT_EQ(target.ColorBar(), 0x222222u);
    EXPECT_EQ(target.CheckSumMethod(), csmNone);
    EXPECT_EQ(target.ShowTextFont(), targetFont);
    target.SetHeight(1); // the copied handler now serves the target
    EXPECT_EQ(sourceNotifications, 1);
}

TEST(BarcodeFailures, MessagesAndWhereTheyAreRaised) {
    struct Case {
        TBarcodeType typ;
        QByteArray text;
        bool checksum;
        TCheckSumMethod method;
        QString message;
    };
    const Case cases[] = {
        {TBarcodeType(23), "1", false, csmModulo10, "TBarcodeImage: wrong BarcodeType"},
        {TBarcodeType(200), "1", false, csmModulo10, "TBarcodeImage: wrong BarcodeType"},
        {bcCode_2_5_interleaved, "1A", false, csmModulo10, "Barcode must be numeric"},
        {bcCodeEAN13, "12.5", false, csmModulo10, "Barcode must be numeric"},
        {bcCode93, "CODE93 ok?", false, csmModulo10, "TBarcodeImage:Code93 bad Data <CODE93 ok?>"},
        {bcCodeEAN8, "123456789", false, csmModulo10, "Invalid Text len (EAN8)"},
        {bcCodeEAN8, "1234567", true, csmNone, "Invalid Text len (EAN8)"},
        {bcCodeEAN13, "12345678901234", false, csmModulo10, "Invalid Text len (EAN13)"},
        {bcCodeUPC_A, "1234567890123", false, csmModulo10, "Invalid Text len (UPC_A)"},
        {bcCodeUPC_E0, "12345678", false, csmModulo10, "Invalid Text len (UPC_E0)"},
        {bcCodeUPC_Supp2, "123", false, csmModulo10, "Invalid Text len (UPC Supp2)"},
        {bcCodeEAN128A, "A1", true, csmModulo10, "'A' is not a valid integer value"},
    };
    const std::pair<const char*, std::function<void(TBarcodeImage&)>> operations[] = {
        {"DrawBarcode",
         [](TBarcodeImage& b) {
             TRecordingCanvas canvas;
             b.DrawBarcode(canvas);
         }},
        {"DrawText",
         [](TBarcodeImage& b) {
             TRecordingCanvas canvas;
             b.DrawText(canvas);
         }},
        {"Width", [](TBarcodeImage& b) { b.Width(); }},
        {"Width write", [](TBarcodeImage& b) { b.SetWidth(500); }},
        {"CanvasWidth", [](TBarcodeImage& b) { b.CanvasWidth(); }},
        {"CanvasHeight", [](TBarcodeImage& b) { b.CanvasHeight(); }},
    };
    for (const Case& c : cases) {
        for (const auto& [name, operation] : operations) {
            SCOPED_TRACE(c.message.toStdString() + " from " + name);
            TBarcodeImage barcode;
            barcode.SetTyp(c.typ);
            barcode.SetText(c.text);
            barcode.SetChecksum(c.checksum);
            barcode.SetCheckSumMethod(c.method);
            barcode.SetShowText(bcoBoth);
            try {
                operation(barcode);
                ADD_FAILURE() << "no exception";
            } catch (const orvanta::Exception& e) {
                EXPECT_EQ(e.message(), c.message);
            }
            EXPECT_EQ(barcode.Text(), c.text);
            EXPECT_EQ(barcode.Modul(), 1);
        }
    }
}

// Bars of no or negative width are no barcode: a ratio that leaves the wide element
// under one pixel is refused before anything is drawn; one pixel is still drawn.
TEST(BarcodeFailures, RatioWithoutAWideElementIsRefused) {
    struct Case {
        TBarcodeType typ;
        double ratio;
        bool refused;
    };
    const Case cases[] = {
        {bcCode128A, 0.0, true},
        {bcCode128A, -2.0, true},
        {bcCode128A, 0.4, true},
        {bcCode128A, -std::numeric_limits<double>::max(), true},
        {bcCode128A, std::numeric_limits<double>::quiet_NaN(), true},
        {bcCode39, std::numeric_limits<double>::quiet_NaN(), true}, // slips past the range check
        {bcCode128A, 0.6, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(int(c.typ)) + " ratio " + std::to_string(c.ratio));
        TBarcodeImage barcode;
        barcode.SetTyp(c.typ);
        barcode.SetText("AB");
        barcode.SetRatio(c.ratio);
        barcode.SetHeight(10);
        TRecordingCanvas canvas;
        if (!c.refused) {
            barcode.DrawBarcode(canvas);
            EXPECT_GT(barcode.Width(), 0);
            for (const TRecordingCanvas::Call& call : canvas.calls())
                EXPECT_GE(call.points[2].x(), call.points[0].x());
            continue;
        }
        try {
            barcode.DrawBarcode(canvas);
            ADD_FAILURE() << "no exception";
        } catch (const orvanta::Exception& e) {
            EXPECT_EQ(e.message(), QStringLiteral("TBarcodeImage: wrong Ratio"));
        }
        EXPECT_TRUE(canvas.calls().isEmpty());
        EXPECT_THROW(barcode.Width(), orvanta::Exception);
    }
}

// An absurd ratio saturates the element widths; what is drawn right of Left must stay
// there instead of wrapping round to the far left, the text placed right of it too.
TEST(BarcodeDrawing, HugeRatioSaturatesInsteadOfWrapping) {
    TBarcodeImage barcode;
    barcode.SetTyp(bcCode128A);
    barcode.SetText("AB");
    barcode.SetRatio(1e300);
    barcode.SetLeft(100);
    barcode.SetTop(50);
    barcode.SetHeight(10);
    barcode.SetShowText(bcoCode);
    barcode.SetShowTextPosition(stpBottomRight);
    TRecordingCanvas canvas;
    barcode.DrawBarcode(canvas);
    ASSERT_FALSE(canvas.calls().isEmpty());
    for (const TRecordingCanvas::Call& call : canvas.calls())
        for (const QPoint& p : call.points)
            EXPECT_GE(p.x(), 100) << (call.kind == TRecordingCanvas::CallKind::TextOut ? "text"
                                                                                       : "bar");
}

} // namespace

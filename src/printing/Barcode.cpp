#include "printing/Barcode.h"

#include "platform/CodePages.h"
#include "platform/Error.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <numbers>

namespace {

const QString ClassName = QStringLiteral("TBarcodeImage");

// Nearest integer, halves to the even neighbour; saturated so that an absurd ratio or
// size cannot overflow the conversion.
int roundEven(double x) {
    if (std::isnan(x))
        return 0;
    if (x >= double(INT_MAX))
        return INT_MAX;
    if (x <= double(INT_MIN))
        return INT_MIN;
    return static_cast<int>(std::nearbyint(x));
}

int clampToInt(long long v) {
    return int(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

double radians(double degrees) {
    return degrees / 180.0 * std::numbers::pi;
}

} // namespace

const TBCdata TBarcodeImage::BCdata[TBarcodeImage::TypeCount] = {
    {"2_5_interleaved", true},
    {"2_5_industrial", true},
    {"2_5_matrix", true},
    {"Code39", false},
    {"Code39 Extended", false},
    {"Code128A", false},
    {"Code128B", false},
    {"Code128C", true},
    {"Code93", false},
    {"Code93 Extended", false},
    {"MSI", true},
    {"PostNet", true},
    {"Codebar", false},
    {"EAN8", true},
    {"EAN13", true},
    {"UPC_A", true},
    {"UPC_E0", true},
    {"UPC_E1", true},
    {"UPC Supp2", true},
    {"UPC Supp5", true},
    {"EAN128A", false},
    {"EAN128B", false},
    {"EAN128C", true},
};

TBarcodeImage::TBarcodeImage() {
    FShowTextFont.Font.setPointSize(8);
}

TBarcodeImage::~TBarcodeImage() = default;

void TBarcodeImage::Assign(const TBarcodeImage& source) {
    if (&source == this)
        return;
    FHeight = source.FHeight;
    FText = source.FText;
    FTop = source.FTop;
    FLeft = source.FLeft;
    FModul = source.FModul;
    FRatio = source.FRatio;
    FTyp = source.FTyp;
    FCheckSum = source.FCheckSum;
    FShowText = source.FShowText;
    FShowTextPosition = source.FShowTextPosition;
    FAngle = source.FAngle;
    FColor = source.FColor;
    FColorBar = source.FColorBar;
    FCheckSumMethod = source.FCheckSumMethod;
    FOnChange = source.FOnChange;
}

void TBarcodeImage::NotifyChange() {
    if (FOnChange)
        FOnChange(this);
}

void TBarcodeImage::SetHeight(int value) {
    if (value != FHeight) {
        FHeight = value;
        NotifyChange();
    }
}

void TBarcodeImage::SetText(const QByteArray& value) {
    if (value != FText) {
        FText = value;
        NotifyChange();
    }
}

void TBarcodeImage::SetTop(int value) {
    if (value != FTop) {
        FTop = value;
        NotifyChange();
    }
}

void TBarcodeImage::SetLeft(int value) {
    if (value != FLeft) {
        FLeft = value;
        NotifyChange();
    }
}

void TBarcodeImage::SetModul(int value) {
    if (value >= 1 && value < 50) {
        FModul = value;
        NotifyChange();
    }
}

void TBarcodeImage::SetRatio(double value) {
    if (value != FRatio) {
        FRatio = value;
        NotifyChange();
    }
}

void TBarcodeImage::SetTyp(TBarcodeType value) {
    if (value != FTyp) {
        FTyp = value;
        NotifyChange();
    }
}

void TBarcodeImage::SetChecksum(bool value) {
    if (value != FCheckSum) {
        FCheckSum = value;
        NotifyChange();
    }
}

void TBarcodeImage::SetAngle(double value) {
    if (value != FAngle) {
        FAngle = value;
        NotifyChange();
    }
}

void TBarcodeImage::SetShowText(TBarcodeOption value) {
    if (value != FShowText) {
        FShowText = value;
        NotifyChange();
    }
}

void TBarcodeImage::SetShowTextFont(const TCanvasFont& value) {
    FShowTextFont = value;
    NotifyChange();
}

void TBarcodeImage::SetShowTextPosition(TShowTextPosition value) {
    if (value != FShowTextPosition) {
        FShowTextPosition = value;
        NotifyChange();
    }
}

void TBarcodeImage::ComputeElementWidths() {
    if (FTyp == bcCode_2_5_matrix) {
        if (FRatio < 2.25)
            SetRatio(2.25);
        else if (FRatio > 3.0)
            SetRatio(3.0);
    } else if (FTyp == bcCode_2_5_interleaved || FTyp == bcCode_2_5_industrial ||
               FTyp == bcCode39 || FTyp == bcCode39Extended ||
               (FTyp >= bcCodeCodabar && FTyp <= bcCodeUPC_Supp5)) {
        if (FRatio < 2.0)
            SetRatio(2.0);
        else if (FRatio > 3.0)
            SetRatio(3.0);
    }
    const long long wide = roundEven(FModul * FRatio);
    // A wide element under one pixel (a ratio of 0, below 0, tiny or not a number) would
    // give bars of no or negative width, and a code no scanner reads.
    if (wide < 1)
        throw orvanta::Exception(QStringLiteral("%1: wrong Ratio").arg(ClassName));
    modules[0] = FModul;
    modules[1] = clampToInt(wide);
    modules[2] = clampToInt(wide * 3 / 2);
    modules[3] = clampToInt(wide * 2);
}

QByteArray TBarcodeImage::BuildModuleString() {
    ComputeElementWidths();
    // The type is checked before the symbology table is read: a value past the last
    // symbology has no row there.
    if (FTyp >= TypeCount)
        throw orvanta::Exception(QStringLiteral("%1: wrong BarcodeType").arg(ClassName));
    if (BCdata[FTyp].num) {
        qsizetype begin = 0;
        qsizetype end = FText.size();
        while (begin < end && static_cast<unsigned char>(FText[begin]) <= 32)
            ++begin;
        while (end > begin && static_cast<unsigned char>(FText[end - 1]) <= 32)
            --end;
        if (begin > 0 || end < FText.size())
            FText = FText.mid(begin, end - begin);
        for (const char ch : std::as_const(FText)) {
            if (ch < '0' || ch > '9')
                throw orvanta::Exception(QStringLiteral("Barcode must be numeric"));
        }
    }
    switch (FTyp) {
    case bcCode_2_5_interleaved:
        return Code_2_5_interleaved();
    case bcCode_2_5_industrial:
        return Code_2_5_industrial();
    case bcCode_2_5_matrix:
        return Code_2_5_matrix();
    case bcCode39:
        return Code_39();
    case bcCode39Extended:
        return Code_39Extended();
    case bcCode128A:
    case bcCode128B:
    case bcCode128C:
    case bcCodeEAN128A:
    case bcCodeEAN128B:
    case bcCodeEAN128C:
        return Code_128();
    case bcCode93:
        return Code_93();
    case bcCode93Extended:
        return Code_93Extended();
    case bcCodeMSI:
        return Code_MSI();
    case bcCodePostNet:
        return Code_PostNet();
    case bcCodeCodabar:
        return Code_Codabar();
    case bcCodeEAN8:
        return Code_EAN8();
    case bcCodeEAN13:
        return Code_EAN13();
    case bcCodeUPC_A:
        return Code_UPC_A();
    case bcCodeUPC_E0:
        return Code_UPC_E(false);
    case bcCodeUPC_E1:
        return Code_UPC_E(true);
    case bcCodeUPC_Supp2:
        return Code_Supp2();
    case bcCodeUPC_Supp5:
        return Code_Supp5();
    }
    throw orvanta::Exception(QStringLiteral("%1: wrong BarcodeType").arg(ClassName));
}

void TBarcodeImage::ElementOf(char module, int& width, bool& bar, bool& shortBar) const {
    if (module >= '0' && module <= '3') {
        width = modules[module - '0'];
        bar = false;
        shortBar = false;
    } else if (module >= '5' && module <= '8') {
        width = modules[module - '5'];
        bar = true;
        shortBar = false;
    } else if (module >= 'A' && module <= 'D') {
        width = modules[module - 'A'];
        bar = true;
        shortBar = true;
    } else {
        throw orvanta::Exception(QStringLiteral("%1: internal Error").arg(ClassName));
    }
}

int TBarcodeImage::TotalWidth(const QByteArray& moduleString) const {
    long long total = 0;
    for (const char module : moduleString) {
        int width = 0;
        bool bar = false;
        bool shortBar = false;
        ElementOf(module, width, bar, shortBar);
        total += width;
    }
    return clampToInt(total);
}

int TBarcodeImage::Width() {
    return TotalWidth(BuildModuleString());
}

void TBarcodeImage::SetWidth(int value) {
    const int total = TotalWidth(BuildModuleString());
    // The Modul is clamped into the range SetModul takes rather than handed over as it
    // comes: SetModul ignores anything past 49, and the code then kept its old Modul. A
    // short text on a wide span at a high resolution (Code 128 A of "125" fitted to
    // 80 mm at 1200 dpi asks for 55) shrank to a sliver of one-pixel modules that no
    // reader could take; now it gets the widest Modul there is.
    if (total > 0)
        SetModul(static_cast<int>(
            std::clamp(static_cast<long long>(FModul) * value / total, 1LL, 49LL)));
}

int TBarcodeImage::CanvasWidth() {
    const double a = radians(FAngle);
    const int w = Width();
    return roundEven(std::abs(std::cos(a)) * w + std::abs(std::sin(a)) * FHeight + 0.5);
}

int TBarcodeImage::CanvasHeight() {
    const double a = radians(FAngle);
    const int w = Width();
    return roundEven(std::abs(std::sin(a)) * w + std::abs(std::cos(a)) * FHeight + 0.5);
}

void TBarcodeImage::PaintElements(TBarcodeCanvas& canvas, const QByteArray& moduleString) {
    const double a = radians(FAngle);
    const double s = std::sin(a);
    const double c = std::cos(a);
    const int w = TotalWidth(moduleString);
    const int h = FHeight;

    // Shift the origin so that the rotated rectangle's bounding box keeps its top-left
    // corner at (Left, Top).
    // In 64 bits and saturated on the way to a point: an absurd ratio saturates the
    // element widths, and a sum of such widths must not wrap round to the other side.
    long long dx = 0;
    long long dy = 0;
    if (s >= 0 && c >= 0) {
        dy = roundEven(w * s);
    } else if (s >= 0) {
        dx = -static_cast<long long>(roundEven(w * c));
        dy = roundEven(w * s - h * c);
    } else if (c >= 0) {
        dx = -static_cast<long long>(roundEven(h * s));
    } else {
        dx = -static_cast<long long>(roundEven(w * c)) - roundEven(h * s);
        dy = -static_cast<long long>(roundEven(h * c));
    }
    const long long originX = FLeft + dx;
    const long long originY = FTop + dy;

    canvas.SetPenWidth(1);
    long long x = 0;
    std::array<QPoint, 4> corners;
    for (const char module : moduleString) {
        int width = 0;
        bool bar = false;
        bool shortBar = false;
        ElementOf(module, width, bar, shortBar);
        const int height = shortBar ? FHeight * 2 / 5 : FHeight;
        const TColor color = bar ? FColorBar : FColor;
        canvas.SetPenColor(color);
        canvas.SetBrushColor(color);
        const double x0 = double(x);
        const double x1 = double(x + width - 1);
        const double y1 = height;
        const std::array<std::pair<double, double>, 4> points{
            {{x0, 0.0}, {x0, y1}, {x1, y1}, {x1, 0.0}}};
        for (std::size_t i = 0; i < points.size(); ++i) {
            const auto [cx, cy] = points[i];
            corners[i] = QPoint(clampToInt(originX + roundEven(cx * c + cy * s)),
                                clampToInt(originY + roundEven(-cx * s + cy * c)));
        }
        canvas.Polygon(corners);
        x += width;
    }
}

void TBarcodeImage::DrawBarcode(TBarcodeCanvas& canvas) {
    const QByteArray moduleString = BuildModuleString();
    const TCanvasFont keptFont = canvas.Font();
    const TCanvasPen keptPen = canvas.Pen();
    const TCanvasBrush keptBrush = canvas.Brush();
    // The canvas is the caller's: it gets its font, pen and brush back however the
    // drawing ends.
    struct Restore {
        TBarcodeCanvas& canvas;
        const TCanvasFont& font;
        const TCanvasPen& pen;
        const TCanvasBrush& brush;
        ~Restore() {
            canvas.SetFont(font);
            canvas.SetPen(pen);
            canvas.SetBrush(brush);
        }
    } restore{canvas, keptFont, keptPen, keptBrush};
    PaintElements(canvas, moduleString);
    if (FShowText != bcoNone)
        DrawText(canvas);
}

void TBarcodeImage::DrawText(TBarcodeCanvas& canvas) {
    // Measuring builds the code, which may raise and may normalise Text, so it comes
    // before the canvas is touched and before Text is read.
    const int width = Width();
    const QString text = orvanta::fromCp1251(FText);

    const TCanvasFont keptFont = canvas.Font();
    struct Restore {
        TBarcodeCanvas& canvas;
        const TCanvasFont& font;
        ~Restore() { canvas.SetFont(font); }
    } restore{canvas, keptFont};
    canvas.SetFont(FShowTextFont);
    canvas.SetPenColor(FShowTextFont.Color);
    canvas.SetBrushColor(0xFFFFFF);

    int x = FLeft;
    switch (FShowTextPosition) {
    case stpTopLeft:
    case stpBottomLeft:
        x = FLeft;
        break;
    case stpTopRight:
    case stpBottomRight:
        x = clampToInt(static_cast<long long>(FLeft) + width - canvas.TextWidth(text));
        break;
    case stpTopCenter:
    case stpBottomCenter:
        x = clampToInt(FLeft + (static_cast<long long>(width) - canvas.TextWidth(text)) / 2);
        break;
    }
    int y = FTop;
    if (FShowTextPosition == stpBottomLeft || FShowTextPosition == stpBottomRight ||
        FShowTextPosition == stpBottomCenter)
        y = clampToInt(static_cast<long long>(FTop) + FHeight - canvas.TextHeight(text));

    if (FShowText == bcoCode || FShowText == bcoBoth)
        canvas.TextOut(x, y, text);
    if ((FShowText == bcoTyp || FShowText == bcoBoth) && FTyp < TypeCount)
        canvas.TextOut(FLeft, FTop + roundEven(2.5 * FShowTextFont.HeightValue()),
                       QString::fromLatin1(BCdata[FTyp].Name));
}

#pragma once

#include "printing/BarcodeCanvas.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <functional>

enum TBarcodeType : std::uint8_t {
    bcCode_2_5_interleaved,
    bcCode_2_5_industrial,
    bcCode_2_5_matrix,
    bcCode39,
    bcCode39Extended,
    bcCode128A,
    bcCode128B,
    bcCode128C,
    bcCode93,
    bcCode93Extended,
    bcCodeMSI,
    bcCodePostNet,
    bcCodeCodabar,
    bcCodeEAN8,
    bcCodeEAN13,
    bcCodeUPC_A,
    bcCodeUPC_E0,
    bcCodeUPC_E1,
    bcCodeUPC_Supp2,
    bcCodeUPC_Supp5,
    bcCodeEAN128A,
    bcCodeEAN128B,
    bcCodeEAN128C,
};

enum TBarcodeOption : std::uint8_t { bcoNone, bcoCode, bcoTyp, bcoBoth };

enum TShowTextPosition : std::uint8_t {
    stpTopLeft,
    stpTopRight,
    stpTopCenter,
    stpBottomLeft,
    stpBottomRight,
    stpBottomCenter,
};

enum TCheckSumMethod : std::uint8_t { csmNone, csmModulo10 };

// One row of the symbology table: the name drawn for bcoTyp and whether the text must be
// all digits.
struct TBCdata {
    const char* Name;
    bool num;
};

// A linear barcode of one of 23 symbologies, built from its properties each time it is
// measured or drawn. Building can change Text: numeric symbologies keep the trimmed text,
// Code 128 set C keeps the "0" put in front of an odd text, the UPC types keep the padded
// text. Every failure is an orvanta::Exception; the properties stay as they were.
//
// A plain object rather than one with an owner: each user creates it for one drawing and
// holds it by value, so nothing needs an owner to free it.
class TBarcodeImage {
public:
    using TNotifyEvent = std::function<void(TBarcodeImage* sender)>;

    static constexpr int TypeCount = 23;
    static const TBCdata BCdata[TypeCount];

    TBarcodeImage();
    virtual ~TBarcodeImage();
    TBarcodeImage(const TBarcodeImage&) = delete;
    TBarcodeImage& operator=(const TBarcodeImage&) = delete;

    // Copies every property but ShowTextFont, OnChange included, without raising OnChange.
    virtual void Assign(const TBarcodeImage& source);

    int Height() const { return FHeight; }
    void SetHeight(int value);
    const QByteArray& Text() const { return FText; }
    void SetText(const QByteArray& value);
    int Top() const { return FTop; }
    void SetTop(int value);
    int Left() const { return FLeft; }
    void SetLeft(int value);
    int Modul() const { return FModul; }
    void SetModul(int value); // 1 to 49; any other value is ignored
    double Ratio() const { return FRatio; }
    void SetRatio(double value);
    TBarcodeType Typ() const { return FTyp; }
    void SetTyp(TBarcodeType value);
    bool Checksum() const { return FCheckSum; }
    void SetChecksum(bool value);
    TCheckSumMethod CheckSumMethod() const { return FCheckSumMethod; }
    void SetCheckSumMethod(TCheckSumMethod value) { FCheckSumMethod = value; }
    double Angle() const { return FAngle; }
    void SetAngle(double value);
    TBarcodeOption ShowText() const { return FShowText; }
    void SetShowText(TBarcodeOption value);
    const TCanvasFont& ShowTextFont() const { return FShowTextFont; }
    void SetShowTextFont(const TCanvasFont& value);
    TShowTextPosition ShowTextPosition() const { return FShowTextPosition; }
    void SetShowTextPosition(TShowTextPosition value);
    TColor Color() const { return FColor; }
    void SetColor(TColor value) { FColor = value; }
    TColor ColorBar() const { return FColorBar; }
    void SetColorBar(TColor value) { FColorBar = value; }
    const TNotifyEvent& OnChange() const { return FOnChange; }
    void SetOnChange(TNotifyEvent value) { FOnChange = std::move(value); }

    // Total width of the current code in pixels. Writing it picks the Modul that brings
    // the code closest to the given width without passing it, within 1 to 49.
    int Width();
    void SetWidth(int value);

    // Size of the rotated drawing's bounding box.
    int CanvasWidth();
    int CanvasHeight();

    void DrawBarcode(TBarcodeCanvas& canvas);
    void DrawText(TBarcodeCanvas& canvas);

    // The module string of the current state: one character per element, "0" to "3"
    // spaces, "5" to "8" bars and "A" to "D" short bars of 1 to 4 width units.
    QByteArray BuildModuleString();

protected:
    virtual void NotifyChange();

private:
    void ComputeElementWidths();
    void ElementOf(char module, int& width, bool& bar, bool& shortBar) const;
    int TotalWidth(const QByteArray& moduleString) const;
    void PaintElements(TBarcodeCanvas& canvas, const QByteArray& moduleString);
    QByteArray ApplyCheckDigit(const QByteArray& text) const;

    QByteArray Code_2_5_interleaved() const;
    QByteArray Code_2_5_industrial() const;
    QByteArray Code_2_5_matrix() const;
    QByteArray Code_39() const;
    QByteArray Code_39Extended() const;
    QByteArray Code_128();
    QByteArray Code_93() const;
    QByteArray Code_93Extended() const;
    QByteArray Code_MSI() const;
    QByteArray Code_PostNet() const;
    QByteArray Code_Codabar() const;
    QByteArray Code_EAN8() const;
    QByteArray Code_EAN13() const;
    QByteArray Code_UPC_A();
    QByteArray Code_UPC_E(bool numberSystemOne);
    QByteArray Code_Supp2() const;
    QByteArray Code_Supp5() const;

    int FHeight = 0;
    QByteArray FText;
    int FTop = 0;
    int FLeft = 0;
    int FModul = 1;
    double FRatio = 2.0;
    TBarcodeType FTyp = bcCodeEAN13;
    bool FCheckSum = false;
    TBarcodeOption FShowText = bcoNone;
    double FAngle = 0.0;
    TColor FColor = 0xFFFFFF;
    TColor FColorBar = 0;
    TCheckSumMethod FCheckSumMethod = csmModulo10;
    TNotifyEvent FOnChange;
    // Element widths in pixels for 1 to 4 width units. Kept in full int: a Modul of 32
    // or more makes the widest element pass what eight bits hold.
    std::array<int, 4> modules{1, 2, 3, 4};
    TCanvasFont FShowTextFont;
    TShowTextPosition FShowTextPosition = stpTopLeft;
};

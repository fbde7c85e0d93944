#pragma once

#include "common/Color.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <span>

class QPainter;

struct TCanvasPen {
    TColor Color = 0;
    int Width = 1;
    bool operator==(const TCanvasPen&) const = default;
};

struct TCanvasBrush {
    TColor Color = 0xFFFFFF;
    bool operator==(const TCanvasBrush&) const = default;
};

// A font with the colour its text is drawn in; the colour belongs to the font here, as
// on the canvases the barcode code was first written for.
struct TCanvasFont {
    QFont Font;
    TColor Color = 0;
    bool operator==(const TCanvasFont&) const = default;

    // The font's cell height value: the pixel size of a font sized in pixels, and minus
    // the em height in screen pixels (96 per inch) for a font sized in points.
    int HeightValue() const;
};

// What a barcode needs of a drawing surface. Pens are solid; a polygon is filled with the
// brush and outlined with the pen; text is drawn in the font's colour on the brush's colour
// with its cell's top-left corner at the given point.
class TBarcodeCanvas {
public:
    virtual ~TBarcodeCanvas();

    virtual TCanvasPen Pen() const = 0;
    virtual void SetPen(const TCanvasPen& pen) = 0;
    virtual TCanvasBrush Brush() const = 0;
    virtual void SetBrush(const TCanvasBrush& brush) = 0;
    virtual TCanvasFont Font() const = 0;
    virtual void SetFont(const TCanvasFont& font) = 0;

    virtual void SetPenColor(TColor color);
    virtual void SetPenWidth(int width);
    virtual void SetBrushColor(TColor color);

    virtual void Polygon(std::span<const QPoint> points) = 0;
    virtual void TextOut(int x, int y, const QString& text) = 0;
    virtual int TextWidth(const QString& text) const = 0;
    virtual int TextHeight(const QString& text) const = 0;

    static QColor toQColor(TColor color);
    static TColor fromQColor(const QColor& color);
};

// Draws through a QPainter on an image, a widget or a printer page. The painter must stay
// active while the canvas is used; it is drawn without antialiasing so that an element
// covers whole pixels, as a barcode needs.
class TQPainterCanvas : public TBarcodeCanvas {
public:
    explicit TQPainterCanvas(QPainter& painter);

    TCanvasPen Pen() const override;
    void SetPen(const TCanvasPen& pen) override;
    TCanvasBrush Brush() const override;
    void SetBrush(const TCanvasBrush& brush) override;
    TCanvasFont Font() const override;
    void SetFont(const TCanvasFont& font) override;

    void SetPenColor(TColor color) override;
    void SetPenWidth(int width) override;
    void SetBrushColor(TColor color) override;

    void Polygon(std::span<const QPoint> points) override;
    void TextOut(int x, int y, const QString& text) override;
    int TextWidth(const QString& text) const override;
    int TextHeight(const QString& text) const override;

private:
    void applyPen();
    void applyBrush();

    QPainter& m_painter;
    TCanvasPen m_pen;
    TCanvasBrush m_brush;
    TColor m_fontColor = 0;
    // Pen and brush reach the painter only when a path is drawn through it: the bars of a
    // barcode are plain rectangles filled directly, and would otherwise pay for two state
    // changes of the painter each.
    bool m_penApplied = true;
    bool m_brushApplied = true;
};

// Keeps every drawing call with the state it was made in, and measures text with a fixed
// cell, so that what a barcode draws can be compared exactly.
class TRecordingCanvas : public TBarcodeCanvas {
public:
    enum class CallKind { Polygon, TextOut };

    struct Call {
        CallKind kind = CallKind::Polygon;
        QList<QPoint> points; // the polygon's corners, or the text's position
        QString text;
        TCanvasPen pen;
        TCanvasBrush brush;
        TCanvasFont font;
    };

    TRecordingCanvas(int charWidth = 7, int lineHeight = 13);

    TCanvasPen Pen() const override { return m_pen; }
    void SetPen(const TCanvasPen& pen) override { m_pen = pen; }
    TCanvasBrush Brush() const override { return m_brush; }
    void SetBrush(const TCanvasBrush& brush) override { m_brush = brush; }
    TCanvasFont Font() const override { return m_font; }
    void SetFont(const TCanvasFont& font) override { m_font = font; }

    void Polygon(std::span<const QPoint> points) override;
    void TextOut(int x, int y, const QString& text) override;
    int TextWidth(const QString& text) const override;
    int TextHeight(const QString& text) const override;

    const QList<Call>& calls() const { return m_calls; }
    void clear() { m_calls.clear(); }

private:
    int m_charWidth;
    int m_lineHeight;
    TCanvasPen m_pen;
    TCanvasBrush m_brush;
    TCanvasFont m_font;
    QList<Call> m_calls;
};

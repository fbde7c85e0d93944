#include "printing/BarcodeCanvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <cmath>

int TCanvasFont::HeightValue() const {
    if (Font.pixelSize() > 0)
        return Font.pixelSize();
    return -static_cast<int>(std::nearbyint(Font.pointSizeF() * 96.0 / 72.0));
}

TBarcodeCanvas::~TBarcodeCanvas() = default;

void TBarcodeCanvas::SetPenColor(TColor color) {
    TCanvasPen pen = Pen();
    pen.Color = color;
    SetPen(pen);
}

void TBarcodeCanvas::SetPenWidth(int width) {
    TCanvasPen pen = Pen();
    pen.Width = width;
    SetPen(pen);
}

void TBarcodeCanvas::SetBrushColor(TColor color) {
    SetBrush(TCanvasBrush{color});
}

QColor TBarcodeCanvas::toQColor(TColor color) {
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

TColor TBarcodeCanvas::fromQColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    return TColor(rgb.red()) | (TColor(rgb.green()) << 8) | (TColor(rgb.blue()) << 16);
}

// --- TQPainterCanvas ---

TQPainterCanvas::TQPainterCanvas(QPainter& painter)
    : m_painter(painter) {
    m_pen.Color = fromQColor(painter.pen().color());
    m_pen.Width = painter.pen().width();
    m_brush.Color = fromQColor(painter.brush().color());
    m_fontColor = m_pen.Color;
}

TCanvasPen TQPainterCanvas::Pen() const {
    return m_pen;
}

void TQPainterCanvas::SetPen(const TCanvasPen& pen) {
    m_pen = pen;
    applyPen();
}

TCanvasBrush TQPainterCanvas::Brush() const {
    return m_brush;
}

void TQPainterCanvas::SetBrush(const TCanvasBrush& brush) {
    m_brush = brush;
    applyBrush();
}

TCanvasFont TQPainterCanvas::Font() const {
    return TCanvasFont{m_painter.font(), m_fontColor};
}

void TQPainterCanvas::SetFont(const TCanvasFont& font) {
    m_painter.setFont(font.Font);
    m_fontColor = font.Color;
}

void TQPainterCanvas::SetPenColor(TColor color) {
    m_pen.Color = color;
    m_penApplied = false;
}

void TQPainterCanvas::SetPenWidth(int width) {
    m_pen.Width = width;
    m_penApplied = false;
}

void TQPainterCanvas::SetBrushColor(TColor color) {
    m_brush.Color = color;
    m_brushApplied = false;
}

void TQPainterCanvas::applyPen() {
    m_painter.setPen(QPen(toQColor(m_pen.Color), std::max(m_pen.Width, 0), Qt::SolidLine,
                          Qt::SquareCap, Qt::MiterJoin));
    m_penApplied = true;
}

void TQPainterCanvas::applyBrush() {
    m_painter.setBrush(QBrush(toQColor(m_brush.Color), Qt::SolidPattern));
    m_brushApplied = true;
}

void TQPainterCanvas::Polygon(std::span<const QPoint> points) {
    if (points.empty())
        return;
    // An upright rectangle outlined with a one-pixel pen of its fill colour covers
    // exactly the pixels from its least to its greatest corner, both included.
    if (points.size() == 4 && m_pen.Width <= 1 && m_pen.Color == m_brush.Color) {
        const QPoint& a = points[0];
        const QPoint& b = points[1];
        const QPoint& c = points[2];
        const QPoint& d = points[3];
        const bool upright =
            (a.x() == b.x() && b.y() == c.y() && c.x() == d.x() && d.y() == a.y()) ||
            (a.y() == b.y() && b.x() == c.x() && c.y() == d.y() && d.x() == a.x());
        if (upright) {
            const int left = std::min(a.x(), c.x());
            const int top = std::min(a.y(), c.y());
            const int right = std::max(a.x(), c.x());
            const int bottom = std::max(a.y(), c.y());
            m_painter.fillRect(QRect(QPoint(left, top), QPoint(right, bottom)),
                               toQColor(m_pen.Color));
            return;
        }
    }
    if (!m_penApplied)
        applyPen();
    if (!m_brushApplied)
        applyBrush();
    const bool antialiased = m_painter.testRenderHint(QPainter::Antialiasing);
    if (antialiased)
        m_painter.setRenderHint(QPainter::Antialiasing, false);
    m_painter.drawPolygon(points.data(), int(points.size()));
    if (antialiased)
        m_painter.setRenderHint(QPainter::Antialiasing, true);
}

void TQPainterCanvas::TextOut(int x, int y, const QString& text) {
    if (!m_brushApplied)
        applyBrush();
    const QFontMetrics metrics(m_painter.font(), m_painter.device());
    const QRect cell(x, y, metrics.horizontalAdvance(text), metrics.height());
    m_painter.fillRect(cell, toQColor(m_brush.Color));
    const QPen kept = m_painter.pen();
    m_painter.setPen(toQColor(m_fontColor));
    m_painter.drawText(QPoint(x, y + metrics.ascent()), text);
    m_painter.setPen(kept);
}

int TQPainterCanvas::TextWidth(const QString& text) const {
    return QFontMetrics(m_painter.font(), m_painter.device()).horizontalAdvance(text);
}

int TQPainterCanvas::TextHeight(const QString& /*text*/) const {
    return QFontMetrics(m_painter.font(), m_painter.device()).height();
}

// --- TRecordingCanvas ---

TRecordingCanvas::TRecordingCanvas(int charWidth, int lineHeight)
    : m_charWidth(charWidth)
    , m_lineHeight(lineHeight) {}

void TRecordingCanvas::Polygon(std::span<const QPoint> points) {
    Call call;
    call.kind = CallKind::Polygon;
    call.points = QList<QPoint>(points.begin(), points.end());
    call.pen = m_pen;
    call.brush = m_brush;
    call.font = m_font;
    m_calls.append(std::move(call));
}

void TRecordingCanvas::TextOut(int x, int y, const QString& text) {
    Call call;
    call.kind = CallKind::TextOut;
    call.points = {QPoint(x, y)};
    call.text = text;
    call.pen = m_pen;
    call.brush = m_brush;
    call.font = m_font;
    m_calls.append(std::move(call));
}

int TRecordingCanvas::TextWidth(const QString& text) const {
    return m_charWidth * int(text.size());
}

int TRecordingCanvas::TextHeight(const QString& /*text*/) const {
    return m_lineHeight;
}

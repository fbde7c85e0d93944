// Barcodes drawn through QPainter into an image and read back by a real barcode reader
// (zbarimg), and the pixels the painter canvas covers.
#include "TestUtil.h"
#include "printing/Barcode.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

// The reader needs a quiet zone around the symbol: draw on a larger white image.
QImage render(TBarcodeImage& barcode, int margin = 40) {
    barcode.SetLeft(margin);
    barcode.SetTop(margin);
    QImage image(barcode.CanvasWidth() + 2 * margin, barcode.CanvasHeight() + 2 * margin,
                 QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    TQPainterCanvas canvas(painter);
    barcode.DrawBarcode(canvas);
    return image;
}

class BarcodeDecode : public ::testing::Test {
protected:
    void SetUp() override {
        m_zbar = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
        if (m_zbar.isEmpty())
            GTEST_SKIP() << "zbarimg (Debian package zbar-tools) is not installed";
        ASSERT_TRUE(m_dir.isValid());
    }

    // The reader's lines "TYPE:data", one per symbol found.
    QStringList decode(const QImage& image, const QStringList& options = {}) {
        const QString path = m_dir.filePath(QStringLiteral("code%1.png").arg(m_count++));
        EXPECT_TRUE(image.save(path));
        QProcess zbar;
        zbar.start(m_zbar, QStringList{QStringLiteral("-q"), QStringLiteral("--nodbus")} + options +
                               QStringList{path});
        EXPECT_TRUE(zbar.waitForFinished(30000));
        return QString::fromUtf8(zbar.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

    QString m_zbar;
    QTemporaryDir m_dir;
    int m_count = 0;
};

struct DecodeCase {
    TBarcodeType typ;
    const char* text;
    bool checksum;
    const char* expected;
};

// A symbol of the case at a module width and height the reader reads comfortably.
void setUpReadable(TBarcodeImage& barcode, const DecodeCase& c) {
    barcode.SetTyp(c.typ);
    barcode.SetText(c.text);
    barcode.SetChecksum(c.checksum);
    barcode.SetModul(3);
    barcode.SetHeight(90);
}

TEST_F(BarcodeDecode, EachSymbologyReadsAsItsText) {
    const DecodeCase cases[] = {
        {bcCode128A, "A-15", false, "CODE-128:A-15"},
        {bcCode128A, "149.90", false, "CODE-128:149.90"},
        {bcCode128A, "ORDER 0042/7", false, "CODE-128:ORDER 0042/7"},
        {bcCode128B, "Hello, world! {~}", false, "CODE-128:Hello, world! {~}"},
        {bcCode128C, "20240518", false, "CODE-128:20240518"},
        {bcCode128C, "123", false, "CODE-128:0123"},
        {bcCodeEAN8, "1234567", true, "EAN-8:12345670"},
        {bcCodeEAN8, "96385074", false, "EAN-8:96385074"},
        {bcCodeEAN13, "400638133393", true, "EAN-13:4006381333931"},
        {bcCodeEAN13, "5901234123457", false, "EAN-13:5901234123457"},
        {bcCodeUPC_A, "036000291450", true, "UPC-A:036000291452"},
        {bcCodeUPC_E0, "1234560", true, "UPC-E:01234565"},
        {bcCodeUPC_E0, "6543217", false, "UPC-E:06543217"},
        {bcCode39, "CODE-39 $/+%.", false, "CODE-39:CODE-39 $/+%."},
        {bcCode39, "CODE39", true, "CODE-39:CODE39W"},
        {bcCode93, "CODE 93-$/+%.", false, "CODE-93:CODE 93-$/+%."},
        {bcCode93, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ", false,
         "CODE-93:0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
        {bcCode_2_5_interleaved, "12345678", false, "I2/5:12345678"},
        {bcCode_2_5_interleaved, "1234567", false, "I2/5:01234567"},
        {bcCode93Extended, "Hello, $%/+ world!", false, "CODE-93:Hello, $%/+ world!"},
        // The reader gives Code 39 full ASCII as its pairs of the basic set.
        {bcCode39Extended, "Hello, $%/+ world!", false,
         "CODE-39:H+E+L+L+O/L /D/E/O/K +W+O+R+L+D/A"},
        {bcCodeCodabar, "40156-$:/.+", false, "Codabar:A40156-$:/.+B"},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.expected);
        TBarcodeImage barcode;
        setUpReadable(barcode, c);
        // Unless they are named, the reader reports UPC-A and UPC-E as the EAN-13 they
        // also are.
        const QStringList options{QStringLiteral("-Supca.enable"), QStringLiteral("-Supce.enable")};
        EXPECT_EQ(decode(render(barcode), options), QStringList{QString::fromLatin1(c.expected)});
    }
}

// GS1-128 is Code 128 with FNC1 after the start; the reader marks such a symbol GS1.
TEST_F(BarcodeDecode, Ean128CarriesTheGs1Mark) {
    const DecodeCase cases[] = {
        {bcCodeEAN128C, "0112345678901231", false, "0112345678901231"},
        {bcCodeEAN128C, "123", false, "0123"},
        {bcCodeEAN128B, "10ABC-x", false, "10ABC-x"},
        {bcCodeEAN128A, "12345", true, "123457"},
        {bcCodeEAN128C, "12", true, "0123"},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.expected);
        TBarcodeImage barcode;
        setUpReadable(barcode, c);
        const QString xml = decode(render(barcode), {QStringLiteral("--xml")}).join('\n');
        EXPECT_TRUE(xml.contains(QStringLiteral("<symbol type='CODE-128'"))) << xml.toStdString();
        EXPECT_TRUE(xml.contains(QStringLiteral("modifiers='GS1'"))) << xml.toStdString();
        EXPECT_TRUE(xml.contains(QStringLiteral("<![CDATA[%1]]>").arg(QLatin1String(c.expected))))
            << xml.toStdString();
    }
}

TEST_F(BarcodeDecode, RotatedCodesStillRead) {
    for (const double angle : {90.0, 180.0, 270.0}) {
        SCOPED_TRACE(angle);
        TBarcodeImage barcode;
        barcode.SetTyp(bcCode128B);
        barcode.SetText("Rotated 128");
        barcode.SetModul(3);
        barcode.SetHeight(90);
        barcode.SetAngle(angle);
        EXPECT_EQ(decode(render(barcode)), QStringList{QStringLiteral("CODE-128:Rotated 128")});
    }
}

// What the receipt printer does: Code 128 A fitted to a total width on a page.
TEST_F(BarcodeDecode, FittedToAWidthAsOnAReceipt) {
    TBarcodeImage barcode;
    barcode.SetTyp(bcCode128A);
    barcode.SetText("149.90");
    barcode.SetHeight(60);
    barcode.SetWidth(640);
    EXPECT_EQ(barcode.Modul(), 6);
    EXPECT_EQ(decode(render(barcode)), QStringList{QStringLiteral("CODE-128:149.90")});
}

TEST(BarcodePainterCanvas, ElementsCoverTheirColumnsAndRows) {
    TBarcodeImage barcode;
    barcode.SetTyp(bcCode128A);
    barcode.SetText("A-15");
    barcode.SetModul(2);
    barcode.SetHeight(20);
    barcode.SetLeft(5);
    barcode.SetTop(7);
    QImage image(barcode.Width() + 20, 40, QImage::Format_RGB32);
    image.fill(Qt::red);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing); // the canvas draws aliased anyway
        TQPainterCanvas canvas(painter);
        barcode.DrawBarcode(canvas);
    }
    const QByteArray modules = barcode.BuildModuleString();
    int x = 5;
    for (const char m : modules) {
        const bool bar = m >= '5';
        const int w = 2 * ((bar ? m - '5' : m - '0') + 1);
        for (int col = x; col < x + w; ++col) {
            for (int row = 7; row <= 27; ++row)
                ASSERT_EQ(image.pixel(col, row), bar ? qRgb(0, 0, 0) : qRgb(255, 255, 255))
                    << col << "," << row;
            ASSERT_EQ(image.pixel(col, 6), qRgb(255, 0, 0)) << col;
            ASSERT_EQ(image.pixel(col, 28), qRgb(255, 0, 0)) << col;
        }
        x += w;
    }
    for (int row = 0; row < 40; ++row) {
        EXPECT_EQ(image.pixel(4, row), qRgb(255, 0, 0)) << row;
        EXPECT_EQ(image.pixel(x, row), qRgb(255, 0, 0)) << row;
    }
}

// Upright rectangles take a shortcut past the painter's polygon filling; it must cover
// the very pixels the painter would.
TEST(BarcodePainterCanvas, RectangleShortcutMatchesThePainter) {
    const QList<QList<QPoint>> polygons = {
        {{3, 2}, {3, 12}, {8, 12}, {8, 2}},     // as an element at angle 0
        {{3, 2}, {3, 12}, {3, 12}, {3, 2}},     // one pixel wide
        {{10, 9}, {2, 9}, {2, 4}, {10, 4}},     // as an element at 180 degrees
        {{5, 14}, {15, 14}, {15, 10}, {5, 10}}, // as an element at 90 degrees
    };
    for (const QList<QPoint>& polygon : polygons) {
        QImage viaCanvas(20, 20, QImage::Format_RGB32);
        QImage viaPainter(20, 20, QImage::Format_RGB32);
        viaCanvas.fill(Qt::white);
        viaPainter.fill(Qt::white);
        {
            QPainter painter(&viaCanvas);
            TQPainterCanvas canvas(painter);
            canvas.SetPenWidth(1);
            canvas.SetPenColor(0x0000FF);
            canvas.SetBrushColor(0x0000FF);
            canvas.Polygon(std::span<const QPoint>(polygon.constData(), polygon.size()));
        }
        {
            QPainter painter(&viaPainter);
            painter.setPen(QPen(Qt::red, 1));
            painter.setBrush(Qt::red);
            painter.drawPolygon(polygon.constData(), int(polygon.size()));
        }
        EXPECT_EQ(viaCanvas, viaPainter) << polygon.first().x() << "," << polygon.first().y();
    }
}

TEST(BarcodePainterCanvas, DrawingGivesThePainterItsStateBack) {
    QImage image(300, 100, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"), 11);
    painter.setFont(font);
    painter.setPen(QPen(QColor(10, 20, 30), 3));
    painter.setBrush(QColor(40, 50, 60));
    TQPainterCanvas canvas(painter);
    const TCanvasFont keptFont = canvas.Font();

    TBarcodeImage barcode;
    barcode.SetTyp(bcCode128B);
    barcode.SetText("state");
    barcode.SetHeight(40);
    barcode.SetTop(30);
    barcode.SetShowText(bcoBoth);
    barcode.DrawBarcode(canvas);

    EXPECT_EQ(painter.pen().color(), QColor(10, 20, 30));
    EXPECT_EQ(painter.pen().width(), 3);
    EXPECT_EQ(painter.brush().color(), QColor(40, 50, 60));
    EXPECT_EQ(painter.font(), font);
    EXPECT_EQ(canvas.Font(), keptFont);
}

TEST(BarcodePainterCanvas, ColourReferencesHoldRedInTheLowestByte) {
    EXPECT_EQ(TBarcodeCanvas::toQColor(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(TBarcodeCanvas::toQColor(0x00FF00), QColor(0, 255, 0));
    EXPECT_EQ(TBarcodeCanvas::toQColor(0x123456), QColor(0x56, 0x34, 0x12));
    EXPECT_EQ(TBarcodeCanvas::fromQColor(QColor(0x56, 0x34, 0x12)), TColor(0x123456));

    TBarcodeImage barcode;
    barcode.SetTyp(bcCode128A);
    barcode.SetText("1");
    barcode.SetHeight(5);
    barcode.SetColorBar(0x0000FF); // red bars
    barcode.SetColor(0xFF0000);    // blue spaces
    QImage image(barcode.Width(), 6, QImage::Format_RGB32);
    {
        QPainter painter(&image);
        TQPainterCanvas canvas(painter);
        barcode.DrawBarcode(canvas);
    }
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(2, 0), qRgb(0, 0, 255)); // start A: bar 2, space 1
}

} // namespace

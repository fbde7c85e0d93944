// Barcodes of any symbology, text, module width, ratio and angle, measured and drawn on
// a recording canvas. A code that cannot be built may refuse with orvanta::Exception;
// nothing else may go wrong, and the canvas gets its pen, brush and font back.
//
// Input: the properties first (taken by FuzzedDataProvider), the rest is the text.

#include "FuzzSupport.h"

#include "platform/Error.h"
#include "printing/Barcode.h"
#include "printing/BarcodeCanvas.h"

#include <QGuiApplication>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

bool sameState(const TRecordingCanvas& canvas, const TCanvasPen& pen, const TCanvasBrush& brush,
               const TCanvasFont& font) {
    return canvas.Pen() == pen && canvas.Brush() == brush && canvas.Font() == font;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(fuzzsupport::appArgc(), fuzzsupport::appArgv());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    TBarcodeImage barcode;
    barcode.SetTyp(static_cast<TBarcodeType>(input.ConsumeIntegral<std::uint8_t>()));
    barcode.SetModul(input.ConsumeIntegral<int>());
    barcode.SetRatio(input.ConsumeFloatingPoint<double>());
    barcode.SetAngle(input.ConsumeFloatingPoint<double>());
    barcode.SetChecksum(input.ConsumeBool());
    barcode.SetCheckSumMethod(static_cast<TCheckSumMethod>(input.ConsumeIntegral<std::uint8_t>()));
    barcode.SetShowText(static_cast<TBarcodeOption>(input.ConsumeIntegralInRange(0, 3)));
    barcode.SetShowTextPosition(
        static_cast<TShowTextPosition>(input.ConsumeIntegral<std::uint8_t>()));
    // Where and how high: positions on a page, as the printers give them.
    barcode.SetLeft(input.ConsumeIntegralInRange(0, 10000));
    barcode.SetTop(input.ConsumeIntegralInRange(0, 100000));
    barcode.SetHeight(input.ConsumeIntegralInRange(0, 1000));
    const bool fitWidth = input.ConsumeBool();
    const int width = input.ConsumeIntegralInRange(0, 10000);
    const std::string text = input.ConsumeRemainingBytesAsString();
    barcode.SetText(QByteArray(text.data(), static_cast<qsizetype>(text.size())));

    TRecordingCanvas canvas;
    const TCanvasPen pen{0x123456, 3};
    const TCanvasBrush brush{0x654321};
    TCanvasFont font;
    font.Color = 0x00FF00;
    canvas.SetPen(pen);
    canvas.SetBrush(brush);
    canvas.SetFont(font);

    try {
        if (fitWidth)
            barcode.SetWidth(width);
        const QByteArray modules = barcode.BuildModuleString();
        for (const char m : modules)
            FUZZ_CHECK((m >= '0' && m <= '3') || (m >= '5' && m <= '8') || (m >= 'A' && m <= 'D'),
                       QString::fromLatin1(modules));
        FUZZ_CHECK(barcode.Width() >= 0, QString::fromLatin1(modules));
        FUZZ_CHECK(barcode.CanvasWidth() >= 0 && barcode.CanvasHeight() >= 0,
                   QString::fromLatin1(modules));

        barcode.DrawBarcode(canvas);
        int polygons = 0;
        for (const TRecordingCanvas::Call& call : canvas.calls())
            polygons += call.kind == TRecordingCanvas::CallKind::Polygon ? 1 : 0;
        FUZZ_CHECK(polygons == modules.size(), QString::fromLatin1(modules));
    } catch (const orvanta::Exception& e) {
        // Refusing a text is fine; losing track of its own elements is not.
        FUZZ_CHECK(!e.message().contains(QLatin1String("internal")), e.message());
    }
    FUZZ_CHECK(sameState(canvas, pen, brush, font), QString());
    return 0;
}

// Building and drawing a 40-character Code 128 into an image, as the receipt printer
// does for each barcode (goal: under 0.2 ms).
#include "printing/Barcode.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

namespace {

const QByteArray Text40 = "ORDER 0042/7 KIOSK 3 TOTAL 1499.90 RUB. ";

TBarcodeImage& preparedBarcode() {
    static TBarcodeImage barcode;
    barcode.SetTyp(bcCode128A);
    barcode.SetText(Text40);
    barcode.SetHeight(60);
    barcode.SetModul(2);
    return barcode;
}

// A fresh component, its module width fitted to 80 mm at 203 dpi, then drawn through a
// painter opened on the image, as one receipt barcode costs.
void BM_Code128BuildAndDraw(benchmark::State& state) {
    QImage image(1000, 80, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (auto _ : state) {
        TBarcodeImage barcode;
        barcode.SetTyp(bcCode128A);
        barcode.SetText(Text40);
        barcode.SetHeight(60);
        barcode.SetWidth(640);
        QPainter painter(&image);
        TQPainterCanvas canvas(painter);
        barcode.DrawBarcode(canvas);
    }
    benchmark::DoNotOptimize(image.constBits());
}
BENCHMARK(BM_Code128BuildAndDraw)->Unit(benchmark::kMicrosecond);

// The module string alone.
void BM_Code128Build(benchmark::State& state) {
    TBarcodeImage& barcode = preparedBarcode();
    for (auto _ : state)
        benchmark::DoNotOptimize(barcode.BuildModuleString());
}
BENCHMARK(BM_Code128Build)->Unit(benchmark::kMicrosecond);

// Drawing onto the recording canvas: the component's own cost without the painter.
void BM_Code128Record(benchmark::State& state) {
    TBarcodeImage& barcode = preparedBarcode();
    for (auto _ : state) {
        TRecordingCanvas canvas;
        barcode.DrawBarcode(canvas);
        benchmark::DoNotOptimize(canvas.calls().size());
    }
}
BENCHMARK(BM_Code128Record)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // fonts need the GUI application
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

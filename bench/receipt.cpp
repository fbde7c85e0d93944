// Composing one receipt of 200 sale lines into its ESC/POS byte stream, without a port:
// the cost of layout, text cleaning and code page conversion per receipt.
#include "common/FormatSettings.h"
#include "printing/EscPosPrinter.h"
#include "printing/PrintSettings.h"

#include <benchmark/benchmark.h>

#include <QLocale>

namespace {

void composeReceipt(benchmark::State& state) {
    InitFormatSettings(QLocale(QLocale::Russian, QLocale::Russia));
    BarCodeOrder = true;
    BarCodePrice = true;
    const int lines = static_cast<int>(state.range(0));
    const TKioskInfo kiosk{1, "{guid}", "uin", "Киоск №1", "ТЦ «Центральный», 2 этаж"};
    const TOrganizationInfo org{"ООО «Ромашка»", "г. Москва, ул. Мира, 1", "7700000000",
                                "+7 495 123-45-67", false};
    const QString shortName = QStringLiteral("Капучино");
    const QString longName = QStringLiteral("Пицца «Маргарита» большая — 40 см, тонкое тесто");
    qsizetype bytes = 0;
    for (auto _ : state) {
        auto output = std::make_unique<MemoryEscPosOutput>();
        MemoryEscPosOutput* sink = output.get();
        TESCPOSPrinter printer(std::move(output));
        printer.OpenCheck(ctSale, "Чек 17", "Кафе «Уют»\nДобро пожаловать!", "17", kiosk, org,
                          45366.5);
        printer.PrintDiv();
        for (int i = 0; i < lines; ++i) {
            printer.Sale(i % 3 ? shortName : longName, 1, 1 + i % 4, 149.9 + i, 0, 0, 0, 0);
            if (i % 10 == 0)
                printer.Discount(QString(), 12.5);
        }
        printer.PrintDiv();
        printer.CloseCheck("17", "Спасибо за покупку!", 123456.78, 0, 0, 0, QString());
        bytes = sink->data().size();
        benchmark::DoNotOptimize(sink->data().constData());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

} // namespace

BENCHMARK(composeReceipt)->Arg(200)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

#include "support/BenchSupport.h"

#include "platform/MainThread.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace bench {

QString fiftyLineDocument() {
    QString xml = QStringLiteral("<order><name>125</name><datetime>2024-03-15T13:45:10+03:00"
                                 "</datetime><kiosk><name>Киоск №1</name><organization><name>"
                                 "ООО «Ромашка»</name><inn>7701234567</inn></organization>"
                                 "</kiosk><invoice><header>Кафе «Ромашка»\nДобро пожаловать!"
                                 "</header>");
    for (int i = 0; i < kOrderLines; ++i)
        xml += QStringLiteral("<item><shortname>Капучино большой %1</shortname><value>2</value>"
                              "<price>150.00</price><totalprice>%2</totalprice></item>")
                   .arg(i)
                   .arg(i % 5 ? 300 : 270);
    return xml + QStringLiteral("<price>14700.00</price><payed>15000</payed><change>300</change>"
                                "<footer>Спасибо за покупку!</footer></invoice></order>");
}

QString fiftyLineInvoice() {
    QString text;
    for (int i = 0; i < kOrderLines; ++i)
        text += QStringLiteral("Капучино большой %1  2 x 150.00 = %2\r\n")
                    .arg(i)
                    .arg(i % 5 ? 300 : 270);
    return text + QStringLiteral("Итого: 14700.00");
}

int runConsoleBenchmarks(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    orvanta::installQtDispatcherWaker();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    orvanta::MainThreadDispatcher::instance().close();
    return 0;
}

} // namespace bench

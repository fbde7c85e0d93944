// Cost of painting the information board, and how many repaints the console can take
// when many kiosks change state at once. Run by hand: ./board (offscreen is set here).
#include "board/Dashboard.h"
#include "board/DashboardSettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLayout>
#include <QPaintEvent>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

struct Board {
    TDeviceItemList devices;
    std::unique_ptr<TfrmDashboard> form;

    explicit Board(int count) {
        for (int i = 0; i < count; ++i) {
            auto item = TDeviceItem::Create();
            item->Name = QStringLiteral("Киоск %1").arg(i + 1);
            item->SetEnabled(i % 7 != 0);
            devices.Add(item);
        }
        form = std::make_unique<TfrmDashboard>();
        form->SetDevices(&devices);
        form->AdaptGrid();
        form->resize(1920, 1080);
        form->layout()->activate();
    }
};

// One full repaint of the grid at 1920 x 1080 into an image, as the backing store gets it.
void BM_RepaintBoard(benchmark::State& state) {
    Board board(int(state.range(0)));
    QImage target(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        board.form->DrawGrid->render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_RepaintBoard)->Arg(16)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond);

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// 500 kiosks changing state ten times a second: 5000 UpdateDashboard calls a second, one
// per state message, spread over the event loop in 10 ms slices (50 messages each). The
// shown board repaints at most once per slice; the figures are the time the console spends
// per simulated second and the paints that cost.
void BM_StateStorm(benchmark::State& state) {
    const int kiosks = 500;
    Board board(kiosks);
    // ShowDashboard is the way the console opens it; use the single board here too.
    board.form.reset();
    ShowDashboard(nullptr, &board.devices);
    TfrmDashboard* shown = Dashboard();
    shown->resize(1920, 1080);
    QApplication::processEvents();
    PaintCounter counter;
    shown->DrawGrid->installEventFilter(&counter);

    const int slices = 100; // one simulated second
    const int perSlice = kiosks * 10 / slices;
    qint64 totalNs = 0;
    int seconds = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        for (int s = 0; s < slices; ++s) {
            for (int m = 0; m < perSlice; ++m) {
                auto& item = board.devices[(s * perSlice + m) % kiosks];
                item->SetEnabled(!item->Enabled()); // a visible change of the cell
                if (state.range(0))
                    UpdateDashboard(item.get());
                else
                    UpdateDashboard();
            }
            QApplication::processEvents();
        }
        totalNs += timer.nsecsElapsed();
        ++seconds;
    }
    state.counters["busy_ms_per_second"] = double(totalNs) / 1e6 / seconds;
    state.counters["paints_per_second"] = double(counter.paints) / seconds;
    state.counters["updates_per_second"] = double(kiosks * 10);
    delete Dashboard();
}
// Arg 0: every message repaints the whole board; 1: only the cell of the device.
BENCHMARK(BM_StateStorm)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

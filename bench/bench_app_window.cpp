// The window: start-up to a shown window, and a class of 1 000 or 100 000
// instances listed through the selection into the view, in both orientations.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <benchmark/benchmark.h>

#include "qt/frmMain.h"
#include "qt/qt_stores.h"
#include "generated_class.h"

using namespace kestrane;

namespace {
wmi::Backends Generated(std::shared_ptr<wmi::Provider> p) {
    wmi::Backends b;
    b.local = [p] { return p; };
    return b;
}
}  // namespace

static void BM_StartupToShownWindow(benchmark::State& state) {
    for (auto _ : state) {
        MemorySettingsStore settings;
        qt::MemorySecretStore secrets;
        qt::frmMain w(settings, secrets, Generated(std::make_shared<wmi::EmptyProvider>()));
        w.ShowThisForm();
        QApplication::processEvents();
        benchmark::DoNotOptimize(w.isVisible());
    }
}
BENCHMARK(BM_StartupToShownWindow)->Unit(benchmark::kMillisecond);

// A class listed through the selection into the view, in either orientation.
// "max_gap_ms" is the longest the event loop went unserved meanwhile: how
// long a click on Cancel could wait.
static void ListClass(benchmark::State& state, bool horizontal, int instances) {
    auto pc = std::make_shared<bench::GeneratedClass>("Win32_Process", instances);
    MemorySettingsStore settings;
    qt::MemorySecretStore secrets;
    qt::frmMain w(settings, secrets, Generated(pc));
    w.ShowThisForm();
    if (horizontal) w.mnuViewHorizontal_Click();
    QApplication::processEvents();
    QElapsedTimer sinceTick;
    qint64 maxGap = 0;
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        maxGap = std::max(maxGap, sinceTick.restart());
    });
    for (auto _ : state) {
        sinceTick.start();
        tick.start();
        w.selectNodeByKey("Win32_Process");
        tick.stop();
        QApplication::processEvents();
        benchmark::DoNotOptimize(w.list().rowCount());
    }
    state.counters["rows"] = static_cast<double>(w.list().rowCount());
    state.counters["max_gap_ms"] = static_cast<double>(maxGap);
}

static void RegisterWindowListings() {
    for (int n : {1000, 100000})
        for (bool h : {false, true}) {
            std::string name = std::string("BM_Window/") + (h ? "Horizontal/" : "Vertical/") + std::to_string(n);
            benchmark::RegisterBenchmark(name.c_str(), [h, n](benchmark::State& s) { ListClass(s, h, n); })
                ->Unit(benchmark::kMillisecond);
        }
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RegisterWindowListings();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

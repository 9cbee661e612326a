// The window: start-up to a shown window, and a 100 000-instance class listed
// through the selection into the view.
#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

#include "app/frmMain.h"
#include "app/qt_stores.h"
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
        app::MemorySecretStore secrets;
        app::frmMain w(settings, secrets, Generated(std::make_shared<wmi::EmptyProvider>()));
        w.ShowThisForm();
        QApplication::processEvents();
        benchmark::DoNotOptimize(w.isVisible());
    }
}
BENCHMARK(BM_StartupToShownWindow)->Unit(benchmark::kMillisecond);

static void BM_SelectClass100kVertical(benchmark::State& state) {
    auto pc = std::make_shared<bench::GeneratedClass>("Win32_Process", 100000);
    MemorySettingsStore settings;
    app::MemorySecretStore secrets;
    app::frmMain w(settings, secrets, Generated(pc));
    w.ShowThisForm();
    QApplication::processEvents();
    for (auto _ : state) {
        w.selectNodeByKey("Win32_Process");
        QApplication::processEvents();
        benchmark::DoNotOptimize(w.list().rowCount());
    }
    state.counters["rows"] = static_cast<double>(w.list().rowCount());
}
BENCHMARK(BM_SelectClass100kVertical)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// The listings end to end into the core list model.
#include <benchmark/benchmark.h>

#include "generated_class.h"
#include "listing/listing.h"
#include "wmi/linux/linux_provider.h"
#include "wmi/snapshot/snapshot.h"

using namespace kestrane;

static void BM_RootSummaryLocal(benchmark::State& state) {
    for (auto _ : state) {
        ListModel list;
        HeadlessHost host;
        ShowRootSummary(list, host, [] { return wmi::Services(wmi::MakeLinuxProvider("/")); });
        benchmark::DoNotOptimize(list.rowCount());
    }
}
BENCHMARK(BM_RootSummaryLocal)->Unit(benchmark::kMillisecond);

static void BM_RootSummarySnapshot(benchmark::State& state) {
    auto snap = wmi::LoadSnapshot(std::string(KESTRANE_FIXTURES) + "/snapshots/sample.json");
    for (auto _ : state) {
        ListModel list;
        HeadlessHost host;
        ShowRootSummary(list, host, [&] { return wmi::Services(snap); });
        benchmark::DoNotOptimize(list.rowCount());
    }
}
BENCHMARK(BM_RootSummarySnapshot)->Unit(benchmark::kMicrosecond);

static void BM_Vertical100k(benchmark::State& state) {
    auto pc = std::make_shared<bench::GeneratedClass>("Win32_Generated", 100000);
    for (auto _ : state) {
        ListModel list;
        HeadlessHost host;
        List_Items_Vertically({"Win32_Generated", "Generated", "Device"}, list, host,
                              [&] { return wmi::Services(pc); });
        benchmark::DoNotOptimize(list.rowCount());
    }
}
BENCHMARK(BM_Vertical100k)->Unit(benchmark::kMillisecond)->Iterations(3);

static void BM_Horizontal100k(benchmark::State& state) {
    auto pc = std::make_shared<bench::GeneratedClass>("Win32_Generated", 100000);
    for (auto _ : state) {
        ListModel list;
        HeadlessHost host;
        List_Items_Horizontally({"Win32_Generated", "Generated", "Device"}, list, host,
                                [&] { return wmi::Services(pc); });
        benchmark::DoNotOptimize(list.rowCount());
    }
}
BENCHMARK(BM_Horizontal100k)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();

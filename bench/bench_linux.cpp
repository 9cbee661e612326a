// The summary classes of the Linux provider on this computer's own root.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "wmi/linux/linux_provider.h"
#include "wmi/services.h"

namespace {

const char* kSummary[] = {"Win32_ComputerSystem", "Win32_Processor", "Win32_OperatingSystem", "Win32_BIOS",
                          "Win32_DiskDrive", "Win32_LogicalDisk", "Win32_DisplayConfiguration"};

std::size_t Drain(const wmi::Services& svc, const char* cls) {
    auto set = svc.ExecQuery(std::string("Select * from ") + cls);
    std::size_t n = 0;
    for (const auto& o : set) n += o.values().size();
    return n;
}

void BM_SummaryClass(benchmark::State& state) {
    const char* cls = kSummary[state.range(0)];
    wmi::Services svc(wmi::MakeLinuxProvider("/"));
    for (auto _ : state) benchmark::DoNotOptimize(Drain(svc, cls));
    state.SetLabel(cls);
}
BENCHMARK(BM_SummaryClass)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);

// All seven in a row, on a provider made afresh each time as the summary does.
void BM_AllSevenSummaryClasses(benchmark::State& state) {
    for (auto _ : state) {
        wmi::Services svc(wmi::MakeLinuxProvider("/"));
        std::size_t n = 0;
        for (const char* cls : kSummary) n += Drain(svc, cls);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_AllSevenSummaryClasses)->Unit(benchmark::kMillisecond);

// The first processor query of a program, or one after a quiet spell: no
// earlier reading is recent enough, so it takes a short load sample.
void BM_ProcessorWithoutRecentReading(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(10'100));  // older readings expire
        wmi::Services svc(wmi::MakeLinuxProvider("/"));
        state.ResumeTiming();
        benchmark::DoNotOptimize(Drain(svc, "Win32_Processor"));
    }
}
BENCHMARK(BM_ProcessorWithoutRecentReading)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_AllSevenOnLaptopFixture(benchmark::State& state) {
    for (auto _ : state) {
        wmi::Services svc(wmi::MakeLinuxProvider(std::string(KESTRANE_FIXTURES) + "/laptop"));
        std::size_t n = 0;
        for (const char* cls : kSummary) n += Drain(svc, cls);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_AllSevenOnLaptopFixture)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Operating-system classes of the Linux provider: the process list of this
// computer and an event log of 100 000 entries.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "listing/listing.h"
#include "wmi/linux/linux_provider.h"

namespace {

std::size_t Drain(const std::shared_ptr<wmi::Provider>& p, const char* cls) {
    auto c = p->enumerate(cls);
    std::size_t n = 0;
    while (auto o = c->next()) n += o->values().size() > 0;
    return n;
}

void BM_ProcessListLive(benchmark::State& state) {
    auto p = wmi::MakeLinuxProvider("/");
    std::size_t n = 0;
    for (auto _ : state) benchmark::DoNotOptimize(n = Drain(p, "Win32_Process"));
    state.counters["processes"] = static_cast<double>(n);
}
BENCHMARK(BM_ProcessListLive)->Unit(benchmark::kMillisecond);

void BM_ThreadListLive(benchmark::State& state) {
    auto p = wmi::MakeLinuxProvider("/");
    std::size_t n = 0;
    for (auto _ : state) benchmark::DoNotOptimize(n = Drain(p, "Win32_Thread"));
    state.counters["threads"] = static_cast<double>(n);
}
BENCHMARK(BM_ThreadListLive)->Unit(benchmark::kMillisecond);

// A tree holding only /var/log/syslog with 100 000 lines (no journal).
class LogTree {
public:
    LogTree() {
        std::random_device rd;
        root_ = std::filesystem::temp_directory_path() / ("kestrane-bench-log-" + std::to_string(rd()));
        std::filesystem::create_directories(root_ / "var/log");
        std::ofstream out(root_ / "var/log/syslog");
        for (int i = 0; i < 100000; ++i)
            out << "Mar  1 10:" << (i / 600) % 60 / 10 << (i / 600) % 10 << ":00 srv01 app[" << i
                << "]: request " << i << " served in 12 ms\n";
    }
    ~LogTree() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    std::string path() const { return root_.string(); }

private:
    std::filesystem::path root_;
};

void BM_NTLogEvent100kTextLog(benchmark::State& state) {
    LogTree tree;
    auto p = wmi::MakeLinuxProvider(tree.path());
    std::size_t n = 0;
    for (auto _ : state) benchmark::DoNotOptimize(n = Drain(p, "Win32_NTLogEvent"));
    state.counters["events"] = static_cast<double>(n);
}
BENCHMARK(BM_NTLogEvent100kTextLog)->Unit(benchmark::kMillisecond);

void BM_NTLogEventFirstEntry(benchmark::State& state) {
    LogTree tree;
    auto p = wmi::MakeLinuxProvider(tree.path());
    for (auto _ : state) {
        auto c = p->enumerate("Win32_NTLogEvent");
        benchmark::DoNotOptimize(c->next());
    }
}
BENCHMARK(BM_NTLogEventFirstEntry)->Unit(benchmark::kMillisecond);

// The same through the vertical listing into the list model, as the window
// and kestrane-cli show them.
std::size_t ListVertically(const std::shared_ptr<wmi::Provider>& p, const char* cls) {
    kestrane::ListModel list;
    kestrane::HeadlessHost host;
    host.selectedKey = cls;
    kestrane::List_Items_Vertically({cls, cls, "Info2"}, list, host, [&] { return wmi::Services(p); });
    return list.rowCount();
}

void BM_ProcessListIntoModel(benchmark::State& state) {
    auto p = wmi::MakeLinuxProvider("/");
    std::size_t rows = 0;
    for (auto _ : state) benchmark::DoNotOptimize(rows = ListVertically(p, "Win32_Process"));
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_ProcessListIntoModel)->Unit(benchmark::kMillisecond);

void BM_NTLogEvent100kIntoModel(benchmark::State& state) {
    LogTree tree;
    auto p = wmi::MakeLinuxProvider(tree.path());
    std::size_t rows = 0;
    for (auto _ : state) benchmark::DoNotOptimize(rows = ListVertically(p, "Win32_NTLogEvent"));
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_NTLogEvent100kIntoModel)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_PerfFormattedProcessor(benchmark::State& state) {
    auto p = wmi::MakeLinuxProvider("/");
    for (auto _ : state) benchmark::DoNotOptimize(Drain(p, "Win32_PerfFormattedData_PerfOS_Processor"));
}
BENCHMARK(BM_PerfFormattedProcessor)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();

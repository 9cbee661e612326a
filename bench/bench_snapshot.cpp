// The snapshot loader on a one-class file of 1 000 000 instances (about
// 34 MB of JSON): parsing it, and parsing it and reading every instance.

#include <benchmark/benchmark.h>

#include <string>

#include "wmi/snapshot/snapshot.h"

namespace {

const std::string& MillionInstances() {
    static const std::string text = [] {
        std::string t =
            R"({"format": "kestrane-snapshot", "version": 1, "computer": "BIG", "captured": "",)"
            "\n"
            R"( "classes": {"Win32_Thread": {"properties": [)"
            R"({"name": "Handle", "cimtype": 8, "array": false, "origin": "CIM_Thread"}, )"
            R"({"name": "Priority", "cimtype": 19, "array": false, "origin": "Win32_Thread"}],)"
            "\n  \"instances\": [\n";
        constexpr int kCount = 1000000;
        t.reserve(36u << 20);
        for (int i = 0; i < kCount; ++i) {
            t += R"({"Handle":")" + std::to_string(i) + R"(","Priority":)" + std::to_string(i % 32) + "}";
            t += i + 1 < kCount ? ",\n" : "\n";
        }
        t += "]}}}\n";
        return t;
    }();
    return text;
}

void BM_SnapshotLoad(benchmark::State& state) {
    const std::string& text = MillionInstances();
    for (auto _ : state) benchmark::DoNotOptimize(wmi::ParseSnapshot(text, "million.json"));
    state.counters["instances"] = 1000000;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_SnapshotLoadAndEnumerate(benchmark::State& state) {
    const std::string& text = MillionInstances();
    for (auto _ : state) {
        auto p = wmi::ParseSnapshot(text, "million.json");
        auto cursor = p->enumerate("Win32_Thread");
        std::size_t n = 0;
        while (auto o = cursor->next()) ++n;
        if (n != 1000000) state.SkipWithError("wrong instance count");
    }
}

}  // namespace

BENCHMARK(BM_SnapshotLoad)->Name("BM_SnapshotLoad/1000000")->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SnapshotLoadAndEnumerate)->Name("BM_SnapshotLoadAndEnumerate/1000000")->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();

// FormatPropertyValue over the properties a listing meets: mostly strings
// and coded uint16 values, with sizes, clock speeds, dates, flags and Nulls.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "format/format.h"

namespace {

using kestrane::FormatPropertyValue;
using wmi::Value;

struct Sample {
    wmi::PropertyDecl decl;
    Value value;
};

std::vector<Sample> ScalarMix() {
    return {
        // Win32_LogicalDisk
        {{"Caption", wmi::CIM_STRING, false, "CIM_ManagedSystemElement"}, "C:"},
        {{"DeviceID", wmi::CIM_STRING, false, "CIM_LogicalDevice"}, "C:"},
        {{"DriveType", wmi::CIM_UINT32, false, "Win32_LogicalDisk"}, 3},
        {{"FileSystem", wmi::CIM_STRING, false, "Win32_LogicalDisk"}, "NTFS"},
        {{"FreeSpace", wmi::CIM_UINT64, false, "Win32_LogicalDisk"}, "123456789012"},
        {{"Size", wmi::CIM_UINT64, false, "CIM_LogicalDisk"}, "500107862016"},
        {{"Compressed", wmi::CIM_BOOLEAN, false, "Win32_LogicalDisk"}, false},
        {{"Availability", wmi::CIM_UINT16, false, "CIM_LogicalDevice"}, Value()},
        {{"VolumeSerialNumber", wmi::CIM_STRING, false, "Win32_LogicalDisk"}, "A1B2C3D4"},
        // Win32_Processor
        {{"AddressWidth", wmi::CIM_UINT16, false, "CIM_Processor"}, 64},
        {{"Architecture", wmi::CIM_UINT16, false, "Win32_Processor"}, 9},
        {{"Availability", wmi::CIM_UINT16, false, "CIM_LogicalDevice"}, 3},
        {{"CpuStatus", wmi::CIM_UINT16, false, "Win32_Processor"}, 1},
        {{"CurrentClockSpeed", wmi::CIM_UINT32, false, "CIM_Processor"}, 2400},
        {{"Family", wmi::CIM_UINT16, false, "CIM_Processor"}, 198},
        {{"LoadPercentage", wmi::CIM_UINT16, false, "CIM_Processor"}, 7},
        {{"Manufacturer", wmi::CIM_STRING, false, "Win32_Processor"}, "GenuineIntel"},
        {{"MaxClockSpeed", wmi::CIM_UINT32, false, "CIM_Processor"}, 3600},
        {{"Name", wmi::CIM_STRING, false, "CIM_ManagedSystemElement"},
         "Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz"},
        {{"ProcessorType", wmi::CIM_UINT16, false, "Win32_Processor"}, 3},
        {{"StatusInfo", wmi::CIM_UINT16, false, "CIM_LogicalDevice"}, 3},
        {{"UpgradeMethod", wmi::CIM_UINT16, false, "CIM_Processor"}, 1},
        {{"ConfigManagerErrorCode", wmi::CIM_UINT32, false, "CIM_LogicalDevice"}, 0},
        {{"PowerManagementSupported", wmi::CIM_BOOLEAN, false, "CIM_LogicalDevice"}, false},
        // Win32_OperatingSystem
        {{"CurrentTimeZone", wmi::CIM_SINT16, false, "CIM_OperatingSystem"}, 60},
        {{"FreePhysicalMemory", wmi::CIM_UINT64, false, "CIM_OperatingSystem"}, "8123456"},
        {{"InstallDate", wmi::CIM_DATETIME, false, "CIM_InstallableSoftware"}, "20240117093015.000000+060"},
        {{"LastBootUpTime", wmi::CIM_DATETIME, false, "CIM_OperatingSystem"}, "20261206071500.500000+060"},
        {{"NumberOfUsers", wmi::CIM_UINT32, false, "CIM_OperatingSystem"}, 2},
        {{"Primary", wmi::CIM_BOOLEAN, false, "Win32_OperatingSystem"}, true},
        {{"Version", wmi::CIM_STRING, false, "Win32_OperatingSystem"}, "10.0.19045"},
        {{"ForegroundApplicationBoost", wmi::CIM_UINT8, false, "Win32_OperatingSystem"}, 2},
    };
}

void BM_FormatScalarMix(benchmark::State& state) {
    const std::vector<Sample> samples = ScalarMix();
    std::vector<wmi::Property> props;
    for (const Sample& s : samples) props.emplace_back(s.decl, s.value);
    kestrane::NullSink sink;
    for (auto _ : state) {
        for (const wmi::Property& p : props) benchmark::DoNotOptimize(FormatPropertyValue(p, sink, {}, {}, "Win32_X"));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * props.size()));
}
BENCHMARK(BM_FormatScalarMix);

void BM_FormatDecodedUint16(benchmark::State& state) {
    wmi::PropertyDecl decl{"Availability", wmi::CIM_UINT16, false, "CIM_LogicalDevice"};
    Value value(3);
    wmi::Property p(decl, value);
    kestrane::NullSink sink;
    for (auto _ : state) benchmark::DoNotOptimize(FormatPropertyValue(p, sink));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatDecodedUint16);

void BM_FormatUint64Size(benchmark::State& state) {
    wmi::PropertyDecl decl{"Size", wmi::CIM_UINT64, false, "CIM_LogicalDisk"};
    Value value("500107862016");
    wmi::Property p(decl, value);
    kestrane::NullSink sink;
    for (auto _ : state) benchmark::DoNotOptimize(FormatPropertyValue(p, sink));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatUint64Size);

void BM_FormatArrayRows(benchmark::State& state) {
    wmi::PropertyDecl decl{"Capabilities", wmi::CIM_UINT16, true, "CIM_MediaAccessDevice"};
    Value value(Value::Array{3, 4, 10});
    wmi::Property p(decl, value);
    kestrane::JoiningSink sink;
    for (auto _ : state) {
        sink.clear();
        benchmark::DoNotOptimize(FormatPropertyValue(p, sink, "k", "Capabilities"));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatArrayRows);

}  // namespace

BENCHMARK_MAIN();

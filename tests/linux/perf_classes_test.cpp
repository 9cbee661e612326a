// Performance counters: raw values over the server fixture, formatted rates
// on the live machine, and the abstract classes.
#include <gtest/gtest.h>

#include <set>

#include "os_test_util.h"
#include "wmi/linux/os_parsers.h"
#include "wmi/schema/schema_table.h"

using wmi::Value;

namespace {

std::uint64_t U(const wmi::Object& o, const char* p) { return std::stoull(wmi::ValueText(o.Get(p))); }

}  // namespace

TEST(PerfFormatted, LiveRatesArePlausible) {
    auto p = wmi::MakeLinuxProvider("/");
    auto cpus = lnxtest::Collect(p, "Win32_PerfFormattedData_PerfOS_Processor");
    ASSERT_GE(cpus.size(), 2u);
    for (const auto& c : cpus) {
        EXPECT_LE(U(c, "PercentProcessorTime"), 100u);
        EXPECT_LE(U(c, "PercentIdleTime"), 100u);
        // User and privileged time make up processor time, within rounding.
        const auto sum = U(c, "PercentUserTime") + U(c, "PercentPrivilegedTime"), total = U(c, "PercentProcessorTime");
        EXPECT_LE(sum, total + 1) << wmi::ValueText(c.Get("Name"));
        EXPECT_GE(sum + 1, total) << wmi::ValueText(c.Get("Name"));
        EXPECT_FALSE(c.Get("Timestamp_PerfTime").isNull());
    }
    auto sys = lnxtest::Collect(p, "Win32_PerfFormattedData_PerfOS_System");
    ASSERT_EQ(sys.size(), 1u);
    EXPECT_GT(U(sys[0], "ContextSwitchesPersec"), 0u);
    EXPECT_GT(U(sys[0], "SystemUpTime"), 0u);
    auto procs = lnxtest::Collect(p, "Win32_PerfFormattedData_PerfProc_Process");
    const wmi::Object* self = nullptr;
    for (const auto& o : procs)
        if (o.Get("IDProcess") == Value(static_cast<int>(getpid()))) self = &o;
    ASSERT_NE(self, nullptr);
    EXPECT_FALSE(self->Get("ElapsedTime").isNull());
    EXPECT_FALSE(self->Get("PercentProcessorTime").isNull());
}

namespace {

// A formatted class whose files change between its two samples: the first is
// taken when the cursor opens, the second at the first row.
std::vector<wmi::Object> Between(const lnxtest::TempTree& t, const std::string& cls,
                                 const std::vector<std::pair<std::string, std::string>>& second) {
    auto cursor = wmi::MakeLinuxProvider(t.path())->enumerate(cls);
    for (const auto& [path, text] : second) t.write(path, text);
    std::vector<wmi::Object> out;
    while (auto o = cursor->next()) out.push_back(std::move(*o));
    return out;
}

}  // namespace

TEST(PerfFormatted, ProcessorSharesComeFromItsOwnTicksAndAddUp) {
    struct Case {
        const char* label;
        const char* first;   // user nice system idle iowait irq softirq steal
        const char* second;
        int user, priv, processor, idle, interrupt;  // -1: Null
    } cases[] = {
        {"steal is no one's", "0 0 0 0 0 0 0 0", "40 10 20 15 5 5 5 7", 50, 30, 80, 20, 5},
        {"thirds round apart", "100 0 100 100 0 0 0 0", "101 0 101 101 0 0 0 0", 33, 33, 67, 33, 0},
        {"all idle", "5 0 5 5 0 0 0 0", "5 0 5 105 0 0 0 0", 0, 0, 0, 100, 0},
        {"no tick passed", "5 0 5 5 0 0 0 0", "5 0 5 5 0 0 0 0", -1, -1, -1, -1, -1},
        {"counters reset", "50 0 50 50 0 0 0 0", "1 0 1 1 0 0 0 0", -1, -1, -1, -1, -1},
    };
    for (const auto& c : cases) {
        lnxtest::TempTree t;
        auto stat = [](const char* f) { return std::string("cpu  ") + f + "\ncpu0 " + f + "\n"; };
        t.write("/proc/stat", stat(c.first));
        auto rows = Between(t, "Win32_PerfFormattedData_PerfOS_Processor", {{"/proc/stat", stat(c.second)}});
        ASSERT_EQ(rows.size(), 2u) << c.label;
        for (const auto& r : rows) {
            auto expect = [&](const char* p, int want) {
                if (want < 0)
                    EXPECT_TRUE(r.Get(p).isNull()) << c.label << " " << p;
                else
                    EXPECT_EQ(r.Get(p), Value(std::to_string(want))) << c.label << " " << p;  // uint64: text
            };
            expect("PercentUserTime", c.user);
            expect("PercentPrivilegedTime", c.priv);
            expect("PercentProcessorTime", c.processor);
            expect("PercentIdleTime", c.idle);
            expect("PercentInterruptTime", c.interrupt);
        }
    }
}

TEST(PerfDisk, IdleTimeLatencyAndTheFormattedLogicalDisk) {
    lnxtest::TempTree t;
    t.mkdir("/sys/block/vda");
    t.write("/proc/uptime", "1000.50 1800.00\n");
    // reads merged sectors ms, writes merged sectors ms, in-flight, io ms, weighted ms
    t.write("/proc/diskstats", "254 0 vda 100 0 800 50 200 0 1600 70 0 120 130\n");
    t.write("/proc/self/mountinfo", "21 1 254:0 / / rw - ext4 /dev/vda rw\n");
    for (const char* cls : {"Win32_PerfRawData_PerfDisk_PhysicalDisk", "Win32_PerfRawData_PerfDisk_LogicalDisk"}) {
        auto d = t.collect(cls).at(0);
        EXPECT_EQ(d.Get("PercentIdleTime"), Value(std::to_string((1000500ull - 120) * 10000))) << cls;  // not busy time
        EXPECT_EQ(d.Get("PercentDiskTime"), Value(std::to_string(120ull * 10000))) << cls;  // read 50 + write 70 ms
        EXPECT_EQ(d.Get("AvgDisksecPerRead"), Value(50 * 1000000)) << cls;  // ns, as Frequency_PerfTime counts
        EXPECT_EQ(d.Get("AvgDisksecPerRead_Base"), Value(100)) << cls;
        EXPECT_EQ(d.Get("AvgDisksecPerTransfer"), Value(120 * 1000000)) << cls;
        EXPECT_EQ(d.Get("AvgDisksecPerTransfer_Base"), Value(300)) << cls;
    }
    // 10 more reads took 25 s between the samples: 2.5 s each, in whole
    // seconds as the class's uint32 holds them.
    for (const char* cls : {"Win32_PerfFormattedData_PerfDisk_PhysicalDisk", "Win32_PerfFormattedData_PerfDisk_LogicalDisk"}) {
        t.write("/proc/diskstats", "254 0 vda 100 0 800 50 200 0 1600 70 0 120 130\n");
        auto rows = Between(t, cls, {{"/proc/diskstats", "254 0 vda 110 0 880 25050 200 0 1600 70 0 120 130\n"}});
        ASSERT_EQ(rows.size(), 2u) << cls;  // the disk and _Total
        EXPECT_EQ(rows[0].Get("AvgDisksecPerRead"), Value(3)) << cls;  // 2.5 rounds half up
        EXPECT_EQ(rows[0].Get("AvgDisksecPerWrite"), Value(0)) << cls;  // no writes: nothing waited
    }
    lnxtest::TempTree noUptime;
    noUptime.mkdir("/sys/block/vda");
    noUptime.write("/proc/diskstats", "254 0 vda 100 0 800 50 200 0 1600 70 0 120 130\n");
    EXPECT_TRUE(noUptime.collect("Win32_PerfRawData_PerfDisk_PhysicalDisk").at(0).Get("PercentIdleTime").isNull());
}

TEST(PerfRaw, WithoutProcTheProcessCountIsUnknownNotZero) {
    lnxtest::TempTree noProc;
    noProc.write("/proc/stat", "ctxt 5\n");
    for (const char* cls : {"Win32_PerfRawData_PerfOS_System", "Win32_PerfRawData_PerfOS_Objects",
                            "Win32_PerfFormattedData_PerfOS_System", "Win32_PerfFormattedData_PerfOS_Objects"})
        EXPECT_TRUE(noProc.collect(cls).at(0).Get("Processes").isNull()) << cls;
    EXPECT_TRUE(noProc.collect("Win32_OperatingSystem").at(0).Get("NumberOfProcesses").isNull());
}

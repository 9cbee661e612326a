// Processes and performance counters: the /proc/<pid>/stat parser,
// Win32_Process over the live /proc, formatted rates between two samples on
// generated trees and on this computer.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "linux_test_util.h"
#include "wmi/linux/os_parsers.h"

using lnxtest::FindBy;
using lnxtest::Str;
using wmi::Value;

TEST(ProcStatParser, NamesWithBlanksAndParenthesesAndShortLines) {
    auto s = wmi::lnx::ParseProcStat("42 (a) b (c)) R 7 42 42 0 -1 0 11 0 2 0 300 40 0 0 20 5 3 0 1234 999 17");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->comm, "a) b (c)");
    EXPECT_EQ(s->state, 'R');  // the other fields show in the server's listing
    EXPECT_EQ(s->startTime, 1234u);
    EXPECT_EQ(s->rss, 17u);
    EXPECT_FALSE(wmi::lnx::ParseProcStat("42 (x) R 1 2 3"));
    EXPECT_FALSE(wmi::lnx::ParseProcStat(""));
    EXPECT_FALSE(wmi::lnx::ParseProcStat("x (y) R 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22"));
}

// The ps comparison in live_tools_test.cpp covers the processes alive
// throughout; here one that ends after the listing began.
TEST(ProcessLive, AProcessThatEndsWhileListedIsSkipped) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        pause();
        _exit(0);
    }
    auto cursor = wmi::MakeLinuxProvider("/")->enumerate("Win32_Process");  // the pid list is taken here
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::set<int> listed;
    while (auto o = cursor->next()) listed.insert(static_cast<int>(o->Get("ProcessId").asInt()));
    EXPECT_FALSE(listed.count(child));
    EXPECT_TRUE(listed.count(getpid()));
}

TEST(ProcessLive, OwnProcessCommandLineHandlesAndMemory) {
    auto procs = lnxtest::Collect(wmi::MakeLinuxProvider("/"), "Win32_Process");
    const auto* self = FindBy(procs, "Handle", std::to_string(getpid()));
    ASSERT_NE(self, nullptr);
    EXPECT_NE(Str(*self, "CommandLine").find("kestrane_linux_tests"), std::string::npos);
    EXPECT_GE(self->Get("HandleCount").asInt(), 3);
    EXPECT_TRUE(self->Get("CreationDate").isString());
    EXPECT_TRUE(self->Get("WorkingSetSize").isString());
    // Anonymous pages resident or swapped: at least the heap this test uses,
    // at most all it maps.
    const auto priv = std::stoull(self->Get("PrivatePageCount").asString());
    EXPECT_GT(priv, 0u);
    EXPECT_LE(priv, std::stoull(self->Get("VirtualSize").asString()));
#ifndef __SANITIZE_ADDRESS__
    // Commit charge in KB; AddressSanitizer's shadow reservation is past what
    // the 32-bit property holds, so there it is Null.
    EXPECT_TRUE(self->Get("PageFileUsage").isInt());
#endif
    EXPECT_TRUE(self->Get("PeakPageFileUsage").isNull());  // Linux keeps no peak of it
    auto perf = lnxtest::Collect(wmi::MakeLinuxProvider("/"), "Win32_PerfRawData_PerfProc_Process");
    EXPECT_EQ(perf.front().Get("Name"), Value("Idle"));
    EXPECT_EQ(perf.back().Get("Name"), Value("_Total"));
}

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

TEST(PerfDisk, LatencyOfThePhysicalAndTheLogicalDisk) {
    lnxtest::TempTree t;
    t.mkdir("/sys/block/vda");
    t.write("/proc/self/mountinfo", "21 1 254:0 / / rw - ext4 /dev/vda rw\n");
    // 10 more reads took 25 s between the samples: 2.5 s each, in whole
    // seconds as the class's uint32 holds them.
    for (const char* cls : {"Win32_PerfFormattedData_PerfDisk_PhysicalDisk", "Win32_PerfFormattedData_PerfDisk_LogicalDisk"}) {
        // reads merged sectors ms, writes merged sectors ms, in-flight, io ms, weighted ms
        t.write("/proc/diskstats", "254 0 vda 100 0 800 50 200 0 1600 70 0 120 130\n");
        auto rows = Between(t, cls, {{"/proc/diskstats", "254 0 vda 110 0 880 25050 200 0 1600 70 0 120 130\n"}});
        ASSERT_EQ(rows.size(), 2u) << cls;  // the disk and _Total
        EXPECT_EQ(rows[0].Get("AvgDisksecPerRead"), Value(3)) << cls;  // 2.5 rounds half up
        EXPECT_EQ(rows[0].Get("AvgDisksecPerWrite"), Value(0)) << cls;  // no writes: nothing waited
    }
}

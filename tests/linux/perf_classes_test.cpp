// Performance counters: raw values over the server fixture, formatted rates
// on the live machine, and the abstract classes.
#include <gtest/gtest.h>

#include <set>

#include "os_test_util.h"
#include "wmi/linux/os_parsers.h"
#include "wmi/linux/schema_table.h"

using lnxtest::CollectIn;
using lnxtest::FindBy;
using wmi::Value;

namespace {

std::uint64_t U(const wmi::Object& o, const char* p) { return std::stoull(wmi::ValueText(o.Get(p))); }

}  // namespace

TEST(PerfSchema, CounterNamesAndHeadersInPublishedOrder) {
    auto raw = wmi::lnx::LookupSchema("Win32_PerfRawData_PerfDisk_PhysicalDisk");
    auto fmt = wmi::lnx::LookupSchema("Win32_PerfFormattedData_PerfDisk_PhysicalDisk");
    ASSERT_TRUE(raw && fmt);
    EXPECT_GE(raw->indexOf("DiskReadsPersec"), 0);
    EXPECT_GE(raw->indexOf("PercentDiskTime_Base"), 0);
    EXPECT_LT(fmt->indexOf("PercentDiskTime_Base"), 0);  // helper counters are raw only
    EXPECT_EQ(fmt->properties()[static_cast<std::size_t>(fmt->indexOf("DiskReadsPersec"))].origin,
              "Win32_PerfFormattedData_PerfDisk_PhysicalDisk");
    EXPECT_EQ(raw->properties()[static_cast<std::size_t>(raw->indexOf("Timestamp_Sys100NS"))].origin, "Win32_Perf");
    for (const auto& s : {raw, fmt})
        for (std::size_t i = 1; i < s->size(); ++i)
            EXPECT_LT(wmi::ToLowerAscii(s->properties()[i - 1].name), wmi::ToLowerAscii(s->properties()[i].name));
    EXPECT_FALSE(wmi::lnx::LookupSchema("Win32_PerfFormattedData_PerfDisk_LogicalDisk"));
}

TEST(PerfRaw, ProcessorTimesIn100nsWithIdleAsProcessorTime) {
    auto cpus = CollectIn("server", "Win32_PerfRawData_PerfOS_Processor");
    ASSERT_EQ(cpus.size(), 3u);
    EXPECT_EQ(cpus[0].Get("Name"), Value("0"));
    EXPECT_EQ(cpus[2].Get("Name"), Value("_Total"));
    // cpu0: idle 13366622 + iowait 3755 ticks at 100 Hz.
    EXPECT_EQ(cpus[0].Get("PercentProcessorTime"), Value(std::to_string((13366622ull + 3755) * 100000)));
    EXPECT_EQ(cpus[0].Get("PercentUserTime"), Value(std::to_string((1393280ull + 32966) * 100000)));
    EXPECT_EQ(cpus[0].Get("InterruptsPersec"), Value(1044));
    EXPECT_EQ(cpus[1].Get("InterruptsPersec"), Value(2000));
    // The total is the processors' average.
    EXPECT_EQ(cpus[2].Get("PercentIdleTime"), Value(std::to_string((46828483ull / 2 + 16683 / 2) * 100000)));
    EXPECT_TRUE(cpus[0].Get("Timestamp_PerfTime").isNull());  // no clock off the live root
}

TEST(PerfRaw, MemorySystemPagingAndNetworkCounters) {
    auto mem = CollectIn("server", "Win32_PerfRawData_PerfOS_Memory");
    ASSERT_EQ(mem.size(), 1u);
    EXPECT_EQ(mem[0].Get("AvailableBytes"), Value(std::to_string(2013768ull * 1024)));
    EXPECT_EQ(mem[0].Get("AvailableMBytes"), Value("1966"));
    EXPECT_EQ(mem[0].Get("PageFaultsPersec"), Value(115159523));
    EXPECT_EQ(mem[0].Get("PagesPersec"), Value(35));
    EXPECT_EQ(mem[0].Get("PercentCommittedBytesInUse_Base"), Value(5159488));
    auto sys = CollectIn("server", "Win32_PerfRawData_PerfOS_System");
    EXPECT_EQ(sys[0].Get("Processes"), Value(4));  // the directories, the vanished one included
    EXPECT_EQ(sys[0].Get("Threads"), Value(345));
    EXPECT_EQ(sys[0].Get("ContextSwitchesPersec"), Value(448340155));
    EXPECT_EQ(sys[0].Get("SystemUpTime"), Value(std::to_string(116444736000000000ull + 1733468400ull * 10000000)));
    auto paging = CollectIn("server", "Win32_PerfRawData_PerfOS_PagingFile");
    ASSERT_EQ(paging.size(), 3u);
    EXPECT_EQ(paging[2].Get("Name"), Value("_Total"));
    EXPECT_EQ(paging[2].Get("PercentUsage"), Value(524288));
    auto tcp = CollectIn("server", "Win32_PerfRawData_Tcpip_TCP");
    EXPECT_EQ(tcp[0].Get("ConnectionsEstablished"), Value(14));
    EXPECT_EQ(tcp[0].Get("SegmentsPersec"), Value(4883071 + 4911215));
    auto ip = CollectIn("server", "Win32_PerfRawData_Tcpip_IP");
    EXPECT_EQ(ip[0].Get("DatagramsReceivedAddressErrors"), Value(3));
    auto icmp = CollectIn("server", "Win32_PerfRawData_Tcpip_ICMP");
    EXPECT_EQ(icmp[0].Get("SentDestinationUnreachable"), Value(122));
    auto udp = CollectIn("server", "Win32_PerfRawData_Tcpip_UDP");
    EXPECT_EQ(udp[0].Get("DatagramsNoPortPersec"), Value(122));
    auto nic = CollectIn("server", "Win32_PerfRawData_Tcpip_NetworkInterface");
    const auto* eth0 = FindBy(nic, "Name", "eth0");
    ASSERT_NE(eth0, nullptr);
    EXPECT_EQ(eth0->Get("BytesReceivedPersec"), Value(static_cast<long long>(6000000000ull & 0xFFFFFFFFull)));  // wraps at 32 bits
    EXPECT_EQ(eth0->Get("BytesTotalPersec"), Value(std::to_string(6000000000ull + 987654321ull)));
    EXPECT_EQ(eth0->Get("CurrentBandwidth"), Value(1000000000));
    EXPECT_EQ(eth0->Get("PacketsReceivedUnicastPersec"), Value(4567890 - 3210));
}

TEST(PerfRaw, DisksAndProcesses) {
    auto disks = CollectIn("server", "Win32_PerfRawData_PerfDisk_PhysicalDisk");
    ASSERT_EQ(disks.size(), 2u);  // vda and the total; loop devices are no disks
    EXPECT_EQ(disks[0].Get("Name"), Value("0 vda"));
    EXPECT_EQ(disks[0].Get("DiskReadBytesPersec"), Value(std::to_string(5903210ull * 512)));
    EXPECT_EQ(disks[0].Get("AvgDiskBytesPerRead_Base"), Value(91438));
    EXPECT_EQ(disks[0].Get("PercentDiskTime"), Value(std::to_string(178248ull * 10000)));
    auto logical = CollectIn("server", "Win32_PerfRawData_PerfDisk_LogicalDisk");
    ASSERT_EQ(logical.size(), 2u);
    EXPECT_EQ(logical[0].Get("Name"), Value("/"));
    EXPECT_EQ(logical[0].Get("DiskReadsPersec"), Value(90001));
    EXPECT_TRUE(logical[0].Get("FreeMegabytes").isNull());  // capacity only on the live root
    auto procs = CollectIn("server", "Win32_PerfRawData_PerfProc_Process");
    ASSERT_EQ(procs.size(), 3u);
    const auto* init = FindBy(procs, "Name", "systemd");
    EXPECT_EQ(init->Get("IDProcess"), Value(1));
    EXPECT_EQ(init->Get("PercentProcessorTime"), Value(std::to_string((284ull + 900) * 100000)));
    EXPECT_EQ(init->Get("WorkingSet"), Value(std::to_string(12788ull * 1024)));
    EXPECT_EQ(init->Get("IOReadBytesPersec"), Value("918273645"));
    auto threads = CollectIn("server", "Win32_PerfRawData_PerfProc_Thread");
    ASSERT_EQ(threads.size(), 4u);
    EXPECT_EQ(threads[1].Get("Name"), Value("systemd/1"));
    EXPECT_EQ(threads[1].Get("IDThread"), Value(57));
}

TEST(PerfFormatted, OffTheLiveRootOnlyInstantValues) {
    auto mem = CollectIn("server", "Win32_PerfFormattedData_PerfOS_Memory");
    ASSERT_EQ(mem.size(), 1u);
    EXPECT_EQ(mem[0].Get("AvailableMBytes"), Value("1966"));
    EXPECT_EQ(mem[0].Get("PercentCommittedBytesInUse"), Value(58));  // 3000000 / 5159488
    EXPECT_TRUE(mem[0].Get("PageFaultsPersec").isNull());  // a rate needs a clock
    auto paging = CollectIn("server", "Win32_PerfFormattedData_PerfOS_PagingFile");
    EXPECT_EQ(paging[0].Get("PercentUsage"), Value(25));
}

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

TEST(PerfAbstract, BasesAnswerWithTheirSubclasses) {
    auto raw = CollectIn("server", "Win32_PerfRawData");
    auto fmt = CollectIn("server", "Win32_PerfFormattedData");
    auto all = CollectIn("server", "Win32_Perf");
    std::set<std::string> rawClasses, fmtClasses;
    for (const auto& o : raw) rawClasses.insert(o.className());
    for (const auto& o : fmt) fmtClasses.insert(o.className());
    EXPECT_EQ(rawClasses.size(), 14u);
    EXPECT_EQ(fmtClasses.size(), 13u);  // no formatted logical disk
    EXPECT_TRUE(rawClasses.count("Win32_PerfRawData_PerfDisk_LogicalDisk"));
    EXPECT_EQ(all.size(), raw.size() + fmt.size());
    for (const auto& o : all) EXPECT_EQ(o.schemaPtr(), wmi::lnx::LookupSchema(o.className()));
}

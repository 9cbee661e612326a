// Values checked against what the kernel means by them: counters paired by
// identity, priorities in Windows' range, disk times that add up, and ids
// that join one class to another.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>

#include "os_test_util.h"

using lnxtest::TempTree;
using wmi::Value;

namespace {

// A process with one thread: its stat line (priority, nice) and status.
void Process(const TempTree& t, int pid, long priority, long nice, const std::string& status = "", int startTicks = 100) {
    const std::string stat = std::to_string(pid) + " (p" + std::to_string(pid) + ") S 1 1 1 0 -1 0 0 0 0 0 30 20 0 0 " +
                             std::to_string(priority) + " " + std::to_string(nice) + " 1 0 " + std::to_string(startTicks) +
                             " 4096 10 0\n";
    t.write("/proc/" + std::to_string(pid) + "/stat", stat);
    t.write("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/stat", stat);
    if (!status.empty()) t.write("/proc/" + std::to_string(pid) + "/status", status);
}

std::string Text(const wmi::Object& o, const char* p) { return lnxtest::Str(o, p); }

}  // namespace

TEST(Values, PrioritiesStayInWindowsRange) {
    struct Case {
        long priority, nice;  // the kernel's fields 18 and 19
        int want;
    } cases[] = {
        {0, -20, 13}, {9, -11, 13}, {10, -10, 10}, {19, -1, 10}, {20, 0, 8}, {21, 1, 6},
        {30, 10, 6},  {31, 11, 4},  {39, 19, 4},   {-2, 0, 16},  {-51, 0, 23}, {-100, 0, 31},
    };
    for (const auto& c : cases) {
        TempTree t;
        Process(t, 7, c.priority, c.nice);
        auto label = testing::Message() << "priority " << c.priority << " nice " << c.nice;
        EXPECT_EQ(t.collect("Win32_Process").at(0).Get("Priority"), Value(c.want)) << label;
        EXPECT_EQ(t.collect("Win32_Thread").at(0).Get("PriorityBase"), Value(c.want)) << label;
        EXPECT_EQ(t.collect("Win32_PerfRawData_PerfProc_Thread").at(0).Get("PriorityBase"), Value(c.want)) << label;
    }
}

TEST(Values, PageFileUseIsTheCommitChargeAndThreadTimeIsProcessorTime) {
    TempTree t;
    Process(t, 7, 20, 0, "VmSize:\t 9000 kB\nVmData:\t 1000 kB\nVmStk:\t 132 kB\nVmSwap:\t 64 kB\nRssAnon:\t 300 kB\n");
    t.write("/proc/uptime", "5000.00 100.00\n");
    t.write("/proc/stat", "btime 1733468400\n");
    auto p = t.collect("Win32_Process").at(0);
    EXPECT_EQ(p.Get("PageFileUsage"), Value(1132));  // KB of data and stack, not the 64 swapped
    auto perf = t.collect("Win32_PerfRawData_PerfProc_Process");
    EXPECT_EQ(Text(*lnxtest::FindBy(perf, "Name", "p7"), "PageFileBytes"), std::to_string(1132 * 1024));
    // 30 user + 20 system ticks at 100 Hz, whatever its age.
    EXPECT_EQ(t.collect("Win32_Thread").at(0).Get("ElapsedTime"), Value("500"));
    // Started 1.57 s after boot: the hundredths stay.
    Process(t, 7, 20, 0, "", 157);
    EXPECT_EQ(Text(t.collect("Win32_Process").at(0), "CreationDate").substr(12, 9), "01.570000");
}

TEST(Values, ProcessorQueueHoldsOnlyReadyThreads) {
    struct Case {
        int running, cpus;
        const char* want;  // nullptr: Null
    } cases[] = {{1, 2, "0"}, {2, 2, "0"}, {5, 2, "3"}, {9, 4, "5"}, {3, 0, nullptr}};
    for (const auto& c : cases) {
        TempTree t;
        std::string stat = "cpu 1 0 1 1 0 0 0 0\n";
        for (int i = 0; i < c.cpus; ++i) stat += "cpu" + std::to_string(i) + " 1 0 1 1 0 0 0 0\n";
        t.write("/proc/stat", stat + "procs_running " + std::to_string(c.running) + "\n");
        auto v = t.collect("Win32_PerfRawData_PerfOS_System").at(0).Get("ProcessorQueueLength");
        EXPECT_EQ(v.isNull() ? "<null>" : wmi::ValueText(v), c.want ? c.want : "<null>") << c.running << "/" << c.cpus;
    }
}

TEST(Values, DiskTimeIsReadPlusWriteTime) {
    struct Case {
        const char* label;
        int readMs, writeMs, ioMs;
    } cases[] = {
        {"writes only, busy less than the write time", 0, 900, 400},
        {"reads and writes overlapping", 300, 500, 600},
        {"idle", 0, 0, 0},
    };
    for (const auto& c : cases) {
        TempTree t;
        t.mkdir("/sys/block/vda");
        t.write("/proc/diskstats", "254 0 vda 10 0 80 " + std::to_string(c.readMs) + " 20 0 160 " + std::to_string(c.writeMs) +
                                       " 0 " + std::to_string(c.ioMs) + " 5000\n");
        auto d = t.collect("Win32_PerfRawData_PerfDisk_PhysicalDisk").at(0);
        const std::string sum = std::to_string((c.readMs + c.writeMs) * 10000ull);
        EXPECT_EQ(Text(d, "PercentDiskTime"), sum) << c.label;
        EXPECT_EQ(Text(d, "AvgDiskQueueLength"), sum) << c.label;  // % Disk Time / 100, one counter
        EXPECT_EQ(Text(d, "PercentDiskWriteTime"), std::to_string(c.writeMs * 10000ull)) << c.label;
    }
}

TEST(Values, DefaultGatewaysOfBothFamilies) {
    TempTree t;
    t.write("/sys/class/net/eth0/ifindex", "2\n");
    t.write("/sys/class/net/eth0/address", "52:54:00:12:34:56\n");
    t.write("/proc/net/route",
            "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
            "eth0\t00000000\t0100000A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
            "eth0\t0000000A\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n");
    const std::string zero(32, '0');
    t.write("/proc/net/ipv6_route",
            "20010db8000000000000000000000000 40 " + zero + " 00 " + zero + " 00000100 00000001 00000000 00000001 eth0\n" +
                zero + " 00 " + zero + " 00 fe800000000000000000000000000001 00000400 00000001 00000000 00000003 eth0\n" +
                zero + " 00 " + zero + " 00 " + zero + " ffffffff 00000001 00000000 00200200 lo\n");
    auto cfg = t.collect("Win32_NetworkAdapterConfiguration").at(0);
    EXPECT_EQ(cfg.Get("DefaultIPGateway"), Value(Value::Array{Value("10.0.0.1"), Value("fe80::1")}));
}

TEST(Values, PciIdsJoinAcrossClassesAndNameTheDriverAsItsModule) {
    TempTree t;
    auto function = [&](const std::string& addr, const char* device, const char* cls, const char* driver) {
        const std::string dir = "/sys/devices/pci0000:00/" + addr;
        t.write(dir + "/vendor", "0x1af4\n");
        t.write(dir + "/device", std::string(device) + "\n");
        t.write(dir + "/class", std::string(cls) + "\n");
        t.write(dir + "/subsystem_vendor", "0x1af4\n");
        t.write(dir + "/subsystem_device", "0x1100\n");
        t.write(dir + "/revision", "0x01\n");
        t.link("/sys/bus/pci/devices/" + addr, "../../../devices/pci0000:00/" + addr);
        if (driver) t.link(dir + "/driver", std::string("../../../bus/pci/drivers/") + driver);
    };
    function("0000:00:00.0", "0x1237", "0x060000", nullptr);
    function("0000:00:04.0", "0x1042", "0x010000", "virtio-pci");
    function("0000:00:05.0", "0x000d", "0x0c0330", "xhci_hcd");
    t.mkdir("/sys/bus/pci/drivers/xhci_hcd");  // built in: no module
    t.mkdir("/sys/module/virtio_pci");
    t.link("/sys/bus/pci/drivers/virtio-pci/module", "../../../../module/virtio_pci");
    t.write("/usr/share/misc/pci.ids", "1af4  Red Hat, Inc.\n\t1042  Virtio 1.0 block device\n");

    auto entities = t.collect("Win32_PnPEntity");
    std::set<std::string> ids;
    for (const auto& e : entities) ids.insert(Text(e, "DeviceID"));
    for (const char* cls : {"Win32_SCSIController", "Win32_USBController"}) {
        auto rows = t.collect(cls);
        ASSERT_EQ(rows.size(), 1u) << cls;
        EXPECT_TRUE(ids.count(Text(rows[0], "PNPDeviceID"))) << cls << " " << Text(rows[0], "PNPDeviceID");
    }
    auto byAddress = [&](const char* addr) {
        for (const auto& e : entities)
            if (Text(e, "DeviceID").ends_with(addr)) return e;
        ADD_FAILURE() << addr;
        return entities.at(0);
    };
    EXPECT_EQ(byAddress("0000:00:04.0").Get("Service"), Value("virtio_pci"));
    EXPECT_EQ(byAddress("0000:00:05.0").Get("Service"), Value("xhci_hcd"));
    // Functions pci.ids does not name are named by their class code.
    EXPECT_EQ(byAddress("0000:00:00.0").Get("Name"), Value("Host bridge"));
    EXPECT_EQ(byAddress("0000:00:05.0").Get("Caption"), Value("USB controller"));
    EXPECT_EQ(byAddress("0000:00:04.0").Get("Name"), Value("Virtio 1.0 block device"));
}

// Two processes of one name: the formatted counters pair each thread's two
// samples by the thread, not by its name, which repeats.
TEST(Values, ThreadSamplesPairByThreadNotByName) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    auto spawn = [&](std::chrono::milliseconds burn) {
        pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_NAME, "kvalues-twin");
            auto end = std::chrono::steady_clock::now() + burn;
            for (volatile unsigned x = 0; std::chrono::steady_clock::now() < end;) x = x + 1;
            if (write(ready[1], "x", 1) != 1) _exit(1);
            pause();
            _exit(0);
        }
        return pid;
    };
    // The busy one first, so that it lists before its idle twin.
    const pid_t busy = spawn(std::chrono::milliseconds(600)), idle = spawn(std::chrono::milliseconds(0));
    ASSERT_GT(busy, 0);
    ASSERT_GT(idle, 0);
    char buf[2];
    ASSERT_EQ(read(ready[0], buf, 1), 1);
    ASSERT_EQ(read(ready[0], buf + 1, 1), 1);
    auto rows = lnxtest::Collect(wmi::MakeLinuxProvider("/"), "Win32_PerfFormattedData_PerfProc_Thread");
    kill(busy, SIGKILL);
    kill(idle, SIGKILL);
    waitpid(busy, nullptr, 0);
    waitpid(idle, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    int seen = 0;
    for (const auto& r : rows) {
        auto owner = r.Get("IDProcess");
        if (owner != Value(busy) && owner != Value(idle)) continue;
        ++seen;
        // Both sleep between the samples.
        EXPECT_LE(std::stoi(Text(r, "PercentProcessorTime")), 50) << Text(r, "Name");
    }
    EXPECT_EQ(seen, 2);
}

TEST(Values, FirmwareDevicesSerialPortsAndProcessorsFromTheKernel) {
    TempTree t;
    auto device = [&](const char* name, const char* ids, const char* uid) {
        t.write(std::string("/sys/devices/pnp0/") + name + "/id", ids);
        if (uid) t.write(std::string("/sys/devices/pnp0/") + name + "/firmware_node/uid", uid);
        t.link(std::string("/sys/bus/pnp/devices/") + name, std::string("../../../devices/pnp0/") + name);
    };
    device("00:03", "PNP0303\n", nullptr);
    device("00:04", "PNP0501\nPNP0500\n", "1\n");
    t.write("/sys/class/tty/ttyS0/type", "4\n");
    t.link("/sys/class/tty/ttyS0/device", "../../../devices/pnp0/00:04");
    auto pnp = t.collect("Win32_PnPEntity");
    ASSERT_EQ(pnp.size(), 2u);
    EXPECT_EQ(pnp[0].Get("DeviceID"), Value("ACPI\\PNP0303\\00:03"));  // no unique id: the kernel's name
    EXPECT_EQ(pnp[0].Get("Name"), Value("Standard PS/2 Keyboard"));
    EXPECT_EQ(pnp[1].Get("DeviceID"), Value("ACPI\\PNP0501\\1"));
    EXPECT_EQ(pnp[1].Get("HardwareID"), Value(Value::Array{Value("ACPI\\PNP0501"), Value("ACPI\\PNP0500")}));
    EXPECT_EQ(t.collect("Win32_SerialPort").at(0).Get("PNPDeviceID"), pnp[1].Get("DeviceID"));

    // The laptop's processor without its SMBIOS tables: the same id as the
    // firmware gives, from cpuinfo (whose captured flags lack two that the
    // kernel lists for this processor).
    std::string cpuinfo = lnxtest::ReadFixtureFile("laptop/proc/cpuinfo");
    for (std::size_t at = 0; (at = cpuinfo.find(" clflush mmx ", at)) != std::string::npos; at += 8)
        cpuinfo.replace(at, 13, " clflush dts acpi mmx ");
    t.write("/proc/cpuinfo", cpuinfo);
    t.write("/proc/sys/kernel/arch", "x86_64\n");
    auto cpu = t.collect("Win32_Processor").at(0);
    EXPECT_EQ(Text(cpu, "ProcessorId"), "BFEBFBFF000806E9");
    EXPECT_EQ(cpu.Get("CpuStatus"), Value(1));
    EXPECT_EQ(cpu.Get("Availability"), Value(3));
    EXPECT_EQ(cpu.Get("Status"), Value("OK"));
    // 48 virtual address bits: half of them for a process, in KB.
    EXPECT_EQ(t.collect("Win32_OperatingSystem").at(0).Get("MaxProcessMemorySize"), Value(std::to_string((1ull << 47) / 1024)));
}

TEST(Values, CacheBlocksAndChangeablePasswords) {
    for (const auto& c : lnxtest::CollectIn("laptop", "Win32_CacheMemory"))
        EXPECT_EQ(std::stoull(Text(c, "BlockSize")) * std::stoull(Text(c, "NumberOfBlocks")),
                  std::stoull(Text(c, "InstalledSize")) * 1024)
            << Text(c, "Name");
    TempTree t;
    t.write("/etc/passwd", "ann:x:1000:1000::/home/ann:/bin/sh\nben:x:1001:1001::/home/ben:/bin/sh\n"
                           "cy:x:1002:1002::/home/cy:/bin/sh\n");
    t.write("/etc/shadow", "ann:$y$h:19600:0:90:7:::\nben:$y$h:19600:10:5:7:::\ncy:$y$h:19600::::::\n");
    auto users = t.collect("Win32_UserAccount");
    ASSERT_EQ(users.size(), 3u);
    EXPECT_EQ(users[0].Get("PasswordChangeable"), Value(true));
    EXPECT_EQ(users[1].Get("PasswordChangeable"), Value(false));  // the maximum age is below the minimum
    EXPECT_EQ(users[2].Get("PasswordChangeable"), Value(true));
}

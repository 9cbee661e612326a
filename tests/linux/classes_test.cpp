// Class values over generated trees and this computer, where the fixture
// trees' listings (stored_listing_test.cpp) cannot show them: edge cases the
// fixtures lack, values over time, counters paired by identity, priorities in
// Windows' range, and ids that join one class to another or agree with the
// firmware's.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "linux_test_util.h"

using lnxtest::Str;
using lnxtest::TempTree;
using wmi::Value;

TEST(Resources, RangesHiddenFromUnprivilegedUsersAreNull) {
    lnxtest::TempTree t;
    t.write("/proc/iomem", "00000000-00000000 : Reserved\n00000000-00000000 : PCI Bus 0000:00\n");
    auto v = t.collect("Win32_DeviceMemoryAddress");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_TRUE(v[0].Get("StartingAddress").isNull());
    EXPECT_TRUE(v[0].Get("EndingAddress").isNull());
    EXPECT_EQ(v[1].Get("Description"), Value("PCI Bus 0000:00"));
}

TEST(Power, ChargeCountersConvertThroughTheDesignVoltage) {
    lnxtest::TempTree t;
    const std::pair<const char*, const char*> files[] = {
        {"type", "Battery"},           {"status", "Discharging"},      {"voltage_min_design", "11100000"},
        {"charge_full_design", "5000000"}, {"charge_full", "4500000"}, {"charge_now", "2250000"},
        {"current_now", "1110000"}};
    for (const auto& [name, text] : files) t.write(std::string("/sys/class/power_supply/BAT1/") + name, text);
    auto b = t.collect("Win32_Battery");
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].Get("DesignCapacity"), Value(55500));  // 5 Ah at 11.1 V, in mWh
    EXPECT_EQ(b[0].Get("FullChargeCapacity"), Value(49950));
    EXPECT_EQ(b[0].Get("EstimatedRunTime"), Value(24975 * 60 / 12321));  // 1.11 A at 11.1 V
}

TEST(Vanishing, DeviceRemovedBetweenListingAndReadingIsSkipped) {
    lnxtest::TempTree t;
    for (std::string d : {"sda", "sdb", "sdc"}) {
        t.write("/sys/block/" + d + "/size", "2048\n");
        t.write("/sys/block/" + d + "/queue/logical_block_size", "512\n");
    }
    auto cursor = wmi::MakeLinuxProvider(t.path())->enumerate("Win32_DiskDrive");
    auto first = cursor->next();
    std::filesystem::remove_all(t.path("/sys/block/sdb"));  // unplugged while listing
    auto second = cursor->next();
    auto third = cursor->next();
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_EQ(first->Get("DeviceID"), Value("/dev/sda"));
    EXPECT_EQ(second->Get("DeviceID"), Value("/dev/sdc"));
    EXPECT_EQ(second->Get("Index"), Value(1));  // indexes stay dense
    EXPECT_FALSE(third);
}

TEST(Processor, LoadPercentageIsMeasuredBetweenTwoQueries) {
    lnxtest::TempTree t;
    t.write("/proc/cpuinfo", "processor : 0\nmodel name : Test CPU\n\nprocessor : 1\nmodel name : Test CPU\n");
    t.write("/sys/devices/system/cpu/online", "0-1\n");
    t.write("/proc/stat", "cpu0 100 0 0 900\ncpu1 100 0 0 900\n");
    auto provider = wmi::MakeLinuxProvider(t.path());
    auto first = lnxtest::Collect(provider, "Win32_Processor");
    t.write("/proc/stat", "cpu0 160 0 0 940\ncpu1 130 0 0 970\n");  // 60+30 busy of 200 ticks
    auto second = lnxtest::Collect(provider, "Win32_Processor");
    auto other = t.collect("Win32_Processor");
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_TRUE(first[0].Get("LoadPercentage").isNull());  // one sample says nothing about load
    EXPECT_EQ(second[0].Get("LoadPercentage"), Value(45));
    EXPECT_TRUE(other[0].Get("LoadPercentage").isNull());  // samples belong to one provider
}

TEST(Processor, LoadPercentageOnThisComputerFromTheFirstQuery) {
    // Fresh providers, as every selection opens one: each query has a load.
    for (int i = 0; i < 3; ++i) {
        auto cpus = lnxtest::Collect(wmi::MakeLinuxProvider("/"), "Win32_Processor");
        ASSERT_FALSE(cpus.empty());
        for (const auto& c : cpus) {
            ASSERT_TRUE(c.Get("LoadPercentage").isInt()) << i;
            EXPECT_LE(c.Get("LoadPercentage").asInt(), 100);
        }
    }
}

TEST(PciDevices, ClassCodesAsWindowsGroupsThem) {
    const std::pair<const char*, const char*> cases[] = {
        {"0x070300", "Win32_POTSModem"},       // a modem controller
        {"0x018000", "Win32_SCSIController"},  // other mass storage
        {"0x010601", "Win32_IDEController"},   // SATA
        {"0x040100", ""},                      // audio
    };
    for (const auto& [code, cls] : cases) {
        lnxtest::TempTree t;
        t.write("/sys/bus/pci/devices/0000:00:04.0/vendor", "0x8086\n");
        t.write("/sys/bus/pci/devices/0000:00:04.0/device", "0x2416\n");
        t.write("/sys/bus/pci/devices/0000:00:04.0/class", std::string(code) + "\n");
        for (std::string other : {"Win32_POTSModem", "Win32_SCSIController", "Win32_IDEController"})
            EXPECT_EQ(t.collect(other).size(), other == cls ? 1u : 0u) << code << " " << other;
        if (std::string(cls) == "Win32_POTSModem") {
            EXPECT_EQ(t.collect(cls).at(0).Get("DeviceType"), Value("Internal Modem"));
            EXPECT_TRUE(t.collect(cls).at(0).Get("AttachedTo").isNull());
        }
    }
}

TEST(OperatingSystem, CodeSetAndLocaleFromTheSystemLocale) {
    struct Case {
        const char* lang;
        const char* codeSet;  // nullptr: Null
        const char* locale;
    } cases[] = {
        {"en_US.UTF-8", "65001", "0409"}, {"de_DE.utf8", "65001", "0407"},  {"fr_CA.ISO-8859-1", "28591", "0C0C"},
        {"de_DE@euro", nullptr, "0407"},  {"xx_YY.UTF-8", "65001", nullptr}, {"ru_RU.KOI8-R", "20866", "0419"},
        {"C.UTF-8", nullptr, nullptr},    {"POSIX", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        lnxtest::TempTree t;
        t.write("/etc/default/locale", std::string("LANG=") + c.lang + "\n");
        auto os = t.collect("Win32_OperatingSystem").at(0);
        EXPECT_EQ(os.Get("CodeSet"), c.codeSet ? Value(c.codeSet) : Value()) << c.lang;
        EXPECT_EQ(os.Get("Locale"), c.locale ? Value(c.locale) : Value()) << c.lang;
    }
}

TEST(OperatingSystem, InstallDateFromTheOldestPackageListWithoutAnInstallerLog) {
    lnxtest::TempTree t;
    t.write("/var/lib/dpkg/info/base-files.list", "/etc\n");
    t.write("/var/lib/dpkg/info/bash.list", "/bin/bash\n");
    t.write("/var/lib/dpkg/info/bash.md5sums", "x\n");  // not a file list
    t.touch("/var/lib/dpkg/info/base-files.list", 1733468400);  // 2024-12-06 07:00 UTC
    t.touch("/var/lib/dpkg/info/bash.list", 1733472000);
    t.touch("/var/lib/dpkg/info/bash.md5sums", 1700000000);
    // Announced ahead, the lists are looked at on another thread while the
    // class is listed, which then waits for that answer.
    auto announced = wmi::MakeLinuxProvider(t.path());
    announced->prefetch({"Win32_OperatingSystem"});
    EXPECT_EQ(lnxtest::Collect(announced, "Win32_OperatingSystem").at(0).Get("InstallDate"),
              Value("20241206070000.000000+000"));
    EXPECT_EQ(t.collect("Win32_OperatingSystem").at(0).Get("InstallDate"), Value("20241206070000.000000+000"));
    t.mkdir("/var/log/installer");  // the installer's log wins where it exists
    EXPECT_NE(t.collect("Win32_OperatingSystem").at(0).Get("InstallDate"), Value("20241206070000.000000+000"));
}

namespace {

// A process with one thread, of the given priority and nice value.
void Process(const TempTree& t, long priority, long nice) {
    const std::string stat = "7 (p7) S 1 1 1 0 -1 0 0 0 0 0 30 20 0 0 " + std::to_string(priority) + " " +
                             std::to_string(nice) + " 1 0 100 4096 10 0\n";
    t.write("/proc/7/stat", stat);
    t.write("/proc/7/task/7/stat", stat);
}

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
        Process(t, c.priority, c.nice);
        auto label = testing::Message() << "priority " << c.priority << " nice " << c.nice;
        EXPECT_EQ(t.collect("Win32_Process").at(0).Get("Priority"), Value(c.want)) << label;
        EXPECT_EQ(t.collect("Win32_Thread").at(0).Get("PriorityBase"), Value(c.want)) << label;
        EXPECT_EQ(t.collect("Win32_PerfRawData_PerfProc_Thread").at(0).Get("PriorityBase"), Value(c.want)) << label;
    }
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
    for (const auto& e : entities) ids.insert(Str(e, "DeviceID"));
    for (const char* cls : {"Win32_SCSIController", "Win32_USBController"}) {
        auto rows = t.collect(cls);
        ASSERT_EQ(rows.size(), 1u) << cls;
        EXPECT_TRUE(ids.count(Str(rows[0], "PNPDeviceID"))) << cls << " " << Str(rows[0], "PNPDeviceID");
    }
    auto byAddress = [&](const char* addr) {
        for (const auto& e : entities)
            if (Str(e, "DeviceID").ends_with(addr)) return e;
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
        EXPECT_LE(std::stoi(Str(r, "PercentProcessorTime")), 50) << Str(r, "Name");
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
    EXPECT_EQ(Str(t.collect("Win32_Processor").at(0), "ProcessorId"), "BFEBFBFF000806E9");
}

TEST(Values, CacheBlocksAndChangeablePasswords) {
    for (const auto& c : lnxtest::CollectIn("laptop", "Win32_CacheMemory"))
        EXPECT_EQ(std::stoull(Str(c, "BlockSize")) * std::stoull(Str(c, "NumberOfBlocks")),
                  std::stoull(Str(c, "InstalledSize")) * 1024)
            << Str(c, "Name");
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

// Class values over generated trees and this computer; the fixture trees
// are compared whole in stored_listing_test.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "os_test_util.h"

using wmi::Value;

namespace {

// What /proc/cpuinfo itself says: logical processors, packages and cores,
// read here without the provider's parser.
struct CpuinfoCounts {
    std::int64_t logical = 0;
    std::set<std::string> packages;
    std::set<std::pair<std::string, std::string>> cores;
};

CpuinfoCounts CountCpuinfo(const std::string& text) {
    CpuinfoCounts c;
    std::istringstream in(text);
    std::string line, package;
    auto value = [](const std::string& l) {
        std::string v = l.substr(l.find(':') + 1);
        v.erase(0, v.find_first_not_of(" \t"));
        return v;
    };
    while (std::getline(in, line)) {
        if (line.rfind("processor", 0) == 0 && line.find(':') != std::string::npos) ++c.logical;
        else if (line.rfind("physical id", 0) == 0) c.packages.insert(package = value(line));
        else if (line.rfind("core id", 0) == 0) c.cores.emplace(package, value(line));
    }
    return c;
}

void ExpectCountsMatchCpuinfo(const std::shared_ptr<wmi::Provider>& provider, const std::string& cpuinfo) {
    const CpuinfoCounts want = CountCpuinfo(cpuinfo);
    ASSERT_GT(want.logical, 0);
    auto procs = lnxtest::Collect(provider, "Win32_Processor");
    std::int64_t logical = 0, cores = 0;
    for (const auto& p : procs) {
        logical += p.Get("NumberOfLogicalProcessors").asInt();
        cores += p.Get("NumberOfCores").asInt();
    }
    EXPECT_EQ(logical, want.logical);
    const auto cs = lnxtest::Collect(provider, "Win32_ComputerSystem").at(0);
    EXPECT_EQ(cs.Get("NumberOfLogicalProcessors").asInt(), want.logical);
    if (!want.packages.empty()) {
        EXPECT_EQ(static_cast<std::size_t>(cs.Get("NumberOfProcessors").asInt()), want.packages.size());
        EXPECT_EQ(procs.size(), want.packages.size());
    }
    if (!want.cores.empty()) {
        EXPECT_EQ(static_cast<std::size_t>(cores), want.cores.size());
    }
}

}  // namespace

TEST(Processor, ThisMachineCountsMatchCpuinfo) {
    const std::string cpuinfo = lnxtest::ReadFixtureFile("thismachine/proc/cpuinfo");
    ASSERT_NE(cpuinfo.find("physical id"), std::string::npos);
    ExpectCountsMatchCpuinfo(wmi::MakeLinuxProvider(lnxtest::Fixture("thismachine")), cpuinfo);
    // and the computer the tests run on
    std::ifstream live("/proc/cpuinfo");
    std::stringstream ss;
    ss << live.rdbuf();
    ExpectCountsMatchCpuinfo(wmi::MakeLinuxProvider("/"), ss.str());
}

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

TEST(Devices, ModemsByPciClassOrUsbAtCommandInterface) {
    lnxtest::TempTree t;
    auto pci = [&](const std::string& addr, const std::string& cls) {
        std::string d = "/sys/bus/pci/devices/" + addr;
        t.write(d + "/vendor", "0x8086\n");
        t.write(d + "/device", "0x2416\n");
        t.write(d + "/class", cls + "\n");
    };
    pci("0000:00:1f.6", "0x070300");  // a modem controller
    pci("0000:00:1f.5", "0x040100");  // audio beside it
    auto internal = t.collect("Win32_POTSModem");
    ASSERT_EQ(internal.size(), 1u);
    EXPECT_EQ(internal[0].Get("DeviceType"), Value("Internal Modem"));
    EXPECT_TRUE(internal[0].Get("AttachedTo").isNull());
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

TEST(PciDevices, StorageControllersByClassAsWindowsGroupsThem) {
    // Other mass storage (0x0180) is SCSI, SATA (0x0106) is IDE.
    lnxtest::TempTree t;
    t.write("/sys/bus/pci/devices/0000:00:04.0/vendor", "0x1af4\n");
    t.write("/sys/bus/pci/devices/0000:00:04.0/device", "0x1001\n");
    t.write("/sys/bus/pci/devices/0000:00:04.0/class", "0x018000\n");
    EXPECT_EQ(t.collect("Win32_SCSIController").size(), 1u);
    t.write("/sys/bus/pci/devices/0000:00:04.0/class", "0x010601\n");
    EXPECT_EQ(t.collect("Win32_IDEController").size(), 1u);
    EXPECT_TRUE(t.collect("Win32_SCSIController").empty());
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
    auto set = [&](const char* f, std::int64_t when) {
        std::filesystem::last_write_time(t.path(f), std::filesystem::file_time_type::clock::from_sys(
                                                        std::chrono::sys_seconds(std::chrono::seconds(when))));
    };
    set("/var/lib/dpkg/info/base-files.list", 1733468400);  // 2024-12-06 07:00 UTC
    set("/var/lib/dpkg/info/bash.list", 1733472000);
    set("/var/lib/dpkg/info/bash.md5sums", 1700000000);
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

// Per-class values over the fixture trees.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "os_test_util.h"

using lnxtest::CollectIn;
using lnxtest::FindBy;
using wmi::Value;

namespace {

wmi::Object Only(const std::vector<wmi::Object>& v) {
    if (v.size() != 1) throw std::runtime_error("expected exactly one instance, got " + std::to_string(v.size()));
    return v[0];
}

}  // namespace

TEST(ComputerSystem, Laptop) {
    auto cs = CollectIn("laptop", "Win32_ComputerSystem");
    const auto o = Only(cs);
    EXPECT_EQ(o.Get("Name"), Value("t480s"));
    EXPECT_EQ(o.Get("Domain"), Value("example.org"));
    EXPECT_EQ(o.Get("Manufacturer"), Value("LENOVO"));
    EXPECT_EQ(o.Get("Model"), Value("20L7001XGE"));
    EXPECT_EQ(o.Get("TotalPhysicalMemory"), Value("16669765632"));  // MemTotal kB * 1024, as a string
    EXPECT_EQ(o.Get("NumberOfProcessors"), Value(1));
    EXPECT_EQ(o.Get("NumberOfLogicalProcessors"), Value(4));
    EXPECT_EQ(o.Get("SystemType"), Value("x64-based PC"));
    EXPECT_EQ(o.Get("PCSystemType"), Value(2));  // Mobile, from the ACPI profile
    EXPECT_EQ(o.Get("UserName"), Value("alice"));  // the console session, not the remote one
    EXPECT_EQ(o.Get("HypervisorPresent"), Value(false));
    EXPECT_EQ(o.Get("WakeUpType"), Value(6));
    EXPECT_EQ(o.Get("CreationClassName"), Value("Win32_ComputerSystem"));
    // The clock belongs to the live computer only.
    EXPECT_TRUE(o.Get("CurrentTimeZone").isNull());
    EXPECT_TRUE(o.Get("PrimaryOwnerName").isNull());
}

TEST(ComputerSystem, NoDmiGivesNullIdentification) {
    ASSERT_FALSE(wmi::lnx::MakeLocalFileSystem(lnxtest::Fixture("thismachine"))->exists("/sys/class/dmi/id"));
    const auto o = Only(CollectIn("thismachine", "Win32_ComputerSystem"));
    EXPECT_FALSE(o.Get("Name").isNull());
    EXPECT_FALSE(o.Get("NumberOfLogicalProcessors").isNull());
    // Without firmware tables nobody can know who made the computer.
    for (const char* prop : {"Manufacturer", "Model", "SystemFamily", "SystemSKUNumber", "WakeUpType",
                             "ChassisBootupState", "OEMStringArray"})
        EXPECT_TRUE(o.Get(prop).isNull()) << prop << ": " << lnxtest::Str(o, prop);
    for (const auto& product : CollectIn("thismachine", "Win32_ComputerSystemProduct"))
        for (const char* prop : {"Vendor", "Name", "IdentifyingNumber", "UUID", "Version"})
            EXPECT_TRUE(product.Get(prop).isNull()) << prop << ": " << lnxtest::Str(product, prop);
    EXPECT_TRUE(CollectIn("thismachine", "Win32_BaseBoard").empty());
}

TEST(Processor, LaptopPackageFromTopologyCpufreqCachesAndSmbios) {
    const auto o = Only(CollectIn("laptop", "Win32_Processor"));
    EXPECT_EQ(o.Get("DeviceID"), Value("CPU0"));
    EXPECT_EQ(o.Get("Name"), Value("Intel(R) Core(TM) i5-7200U CPU @ 2.50GHz"));
    EXPECT_EQ(o.Get("Manufacturer"), Value("GenuineIntel"));
    EXPECT_EQ(o.Get("Caption"), Value("Intel64 Family 6 Model 142 Stepping 9"));
    EXPECT_EQ(o.Get("NumberOfCores"), Value(2));
    EXPECT_EQ(o.Get("NumberOfLogicalProcessors"), Value(4));
    EXPECT_EQ(o.Get("CurrentClockSpeed"), Value(1800));
    EXPECT_EQ(o.Get("MaxClockSpeed"), Value(3100));
    EXPECT_EQ(o.Get("L2CacheSize"), Value(512));   // two 256 KB caches, each counted once
    EXPECT_EQ(o.Get("L3CacheSize"), Value(3072));  // one shared cache, not four
    EXPECT_EQ(o.Get("Architecture"), Value(9));
    EXPECT_EQ(o.Get("AddressWidth"), Value(64));
    EXPECT_EQ(o.Get("Level"), Value(6));
    EXPECT_EQ(o.Get("Revision"), Value((142 << 8) | 9));
    EXPECT_EQ(o.Get("Stepping"), Value("9"));
    EXPECT_EQ(o.Get("VMMonitorModeExtensions"), Value(true));
    EXPECT_EQ(o.Get("ProcessorId"), Value("BFEBFBFF000806E9"));
    EXPECT_EQ(o.Get("Family"), Value(198));
    EXPECT_EQ(o.Get("SocketDesignation"), Value("U3E1"));
    EXPECT_EQ(o.Get("ExtClock"), Value(100));
    EXPECT_EQ(o.Get("CurrentVoltage"), Value(10));
    EXPECT_EQ(o.Get("SystemName"), Value("t480s"));
    EXPECT_TRUE(o.Get("LoadPercentage").isNull());
}

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
    const auto cs = Only(lnxtest::Collect(provider, "Win32_ComputerSystem"));
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

TEST(OperatingSystem, Laptop) {
    const auto o = Only(CollectIn("laptop", "Win32_OperatingSystem"));
    EXPECT_EQ(o.Get("Caption"), Value("Ubuntu 24.04.1 LTS"));
    EXPECT_EQ(o.Get("Version"), Value("6.8.0-49-generic"));
    EXPECT_EQ(o.Get("OSType"), Value(36));
    EXPECT_EQ(o.Get("OSArchitecture"), Value("64-bit"));
    EXPECT_EQ(o.Get("SerialNumber"), Value("0123456789abcdef0123456789abcdef"));
    EXPECT_EQ(o.Get("LastBootUpTime"), Value("20251206052000.000000+000"));  // UTC under a fixture root
    EXPECT_EQ(o.Get("TotalVisibleMemorySize"), Value("16279068"));
    EXPECT_EQ(o.Get("FreePhysicalMemory"), Value("12345678"));  // MemAvailable, not MemFree
    EXPECT_EQ(o.Get("SizeStoredInPagingFiles"), Value("2097148"));
    EXPECT_EQ(o.Get("TotalVirtualMemorySize"), Value("18376216"));
    EXPECT_EQ(o.Get("FreeVirtualMemory"), Value("14345678"));
    EXPECT_EQ(o.Get("NumberOfProcesses"), Value(5));
    EXPECT_EQ(o.Get("NumberOfUsers"), Value(2));
    EXPECT_EQ(o.Get("SystemDevice"), Value("/dev/nvme0n1p2"));
    EXPECT_EQ(o.Get("BootDevice"), Value("/dev/nvme0n1p1"));
    EXPECT_EQ(o.Get("CSName"), Value("t480s"));
    EXPECT_EQ(o.Get("MUILanguages"), Value(Value::Array{Value("de-DE")}));
    EXPECT_TRUE(o.Get("LocalDateTime").isNull());
    EXPECT_TRUE(o.Get("InstallDate").isNull());
    EXPECT_TRUE(o.Get("ServicePackMajorVersion").isNull());
    EXPECT_TRUE(o.Get("WindowsDirectory").isNull());
}

TEST(Bios, LaptopFromDmiAndSmbios) {
    const auto o = Only(CollectIn("laptop", "Win32_BIOS"));
    EXPECT_EQ(o.Get("Manufacturer"), Value("LENOVO"));
    EXPECT_EQ(o.Get("SMBIOSBIOSVersion"), Value("N22ET80W (1.57 )"));
    EXPECT_EQ(o.Get("ReleaseDate"), Value("20230227000000.000000+000"));
    EXPECT_EQ(o.Get("SystemBiosMajorVersion"), Value(1));
    EXPECT_EQ(o.Get("SystemBiosMinorVersion"), Value(57));
    EXPECT_EQ(o.Get("EmbeddedControllerMinorVersion"), Value(22));
    EXPECT_EQ(o.Get("SMBIOSMajorVersion"), Value(3));
    EXPECT_EQ(o.Get("SMBIOSPresent"), Value(true));
    // Characteristics 0x1A90: bits 4, 7, 9, 11, 12; extension bytes 0x03
    // (ACPI, USB Legacy: 32, 33) and 0x0D (40, 42, 43).
    Value::Array expect;
    for (int b : {4, 7, 9, 11, 12, 32, 33, 40, 42, 43}) expect.emplace_back(b);
    EXPECT_EQ(o.Get("BiosCharacteristics"), Value(expect));
    EXPECT_TRUE(o.Get("SerialNumber").isNull());  // product_serial is root-only and absent
}

TEST(Bios, NoFirmwareTablesGiveAnEmptySet) {
    auto fixture = lnxtest::Fixture("thismachine");
    if (wmi::lnx::MakeLocalFileSystem(fixture)->exists("/sys/class/dmi/id")) GTEST_SKIP();
    EXPECT_TRUE(CollectIn("thismachine", "Win32_BIOS").empty());
}

TEST(DiskDrive, LaptopDisksSkipVirtualOpticalAndVanished) {
    auto disks = CollectIn("laptop", "Win32_DiskDrive");
    ASSERT_EQ(disks.size(), 2u);  // loop0, sr0 and the vanished sdb are not disks here
    const auto& nvme = disks[0];
    EXPECT_EQ(nvme.Get("DeviceID"), Value("/dev/nvme0n1"));
    EXPECT_EQ(nvme.Get("Index"), Value(0));
    EXPECT_EQ(nvme.Get("Model"), Value("SAMSUNG MZVLB512HAJQ-000L7"));
    EXPECT_EQ(nvme.Get("SerialNumber"), Value("S3TNNX0K123456"));
    EXPECT_EQ(nvme.Get("Size"), Value("512110190592"));
    EXPECT_EQ(nvme.Get("BytesPerSector"), Value(512));
    EXPECT_EQ(nvme.Get("Partitions"), Value(2));
    EXPECT_EQ(nvme.Get("MediaType"), Value("Fixed hard disk media"));
    EXPECT_EQ(nvme.Get("FirmwareRevision"), Value("4L7QEXA7"));
    EXPECT_EQ(nvme.Get("Manufacturer"), Value("Samsung Electronics Co Ltd"));  // the PCI function's vendor
    EXPECT_TRUE(nvme.Get("SCSIPort").isNull());
    const auto& usb = disks[1];
    EXPECT_EQ(usb.Get("Index"), Value(1));
    EXPECT_EQ(usb.Get("InterfaceType"), Value("USB"));
    EXPECT_EQ(usb.Get("MediaType"), Value("Removable Media"));
    EXPECT_EQ(usb.Get("Manufacturer"), Value("SanDisk"));
    EXPECT_EQ(usb.Get("SerialNumber"), Value("4C530001230418109482"));  // from VPD page 0x80
    EXPECT_EQ(usb.Get("SCSIPort"), Value(2));
    EXPECT_EQ(usb.Get("Capabilities"), Value(Value::Array{Value(3), Value(4), Value(7)}));
}

TEST(DiskDrive, ThisMachineSkipsLoopAndZram) {
    for (const auto& d : CollectIn("thismachine", "Win32_DiskDrive")) {
        std::string id = d.Get("DeviceID").asString();
        EXPECT_EQ(id.find("loop"), std::string::npos);
        EXPECT_EQ(id.find("zram"), std::string::npos);
        EXPECT_TRUE(d.Get("Size").isString());
    }
}

TEST(CdromDrive, Laptop) {
    const auto o = Only(CollectIn("laptop", "Win32_CDROMDrive"));
    EXPECT_EQ(o.Get("Drive"), Value("/dev/sr0"));
    EXPECT_EQ(o.Get("Name"), Value("HL-DT-ST DVDRAM GU90N"));
    EXPECT_EQ(o.Get("SCSIPort"), Value(1));
}

TEST(LogicalDisk, LaptopMountsTypesLabelsAndSerials) {
    auto v = CollectIn("laptop", "Win32_LogicalDisk");
    std::vector<std::string> ids;
    for (const auto& o : v) ids.push_back(o.Get("DeviceID").asString());
    // zfs is "nodev" but holds files; mqueue and an unknown nodev type do not
    EXPECT_EQ(ids, (std::vector<std::string>{"/", "/boot/efi", "/media/alice/DVD", "/media/alice/My Stick", "/mnt/nas",
                                             "/tank/data", "/tmp"}));
    struct Case { const char* id; int type; const char* fs; };
    const Case cases[] = {{"/", 3, "ext4"}, {"/boot/efi", 3, "vfat"}, {"/media/alice/DVD", 5, "iso9660"},
                          {"/media/alice/My Stick", 2, "vfat"}, {"/mnt/nas", 4, "nfs4"}, {"/tmp", 6, "tmpfs"},
                          {"/tank/data", 3, "zfs"}};
    for (const auto& c : cases) {
        const auto* o = FindBy(v, "DeviceID", c.id);
        ASSERT_NE(o, nullptr) << c.id;
        EXPECT_EQ(o->Get("DriveType"), Value(c.type)) << c.id;
        EXPECT_EQ(o->Get("FileSystem"), Value(c.fs)) << c.id;
        EXPECT_TRUE(o->Get("Size").isNull()) << "no statvfs under a fixture root";
        EXPECT_TRUE(o->Get("FreeSpace").isNull());
    }
    const auto* stick = FindBy(v, "DeviceID", "/media/alice/My Stick");
    EXPECT_EQ(stick->Get("VolumeName"), Value("My Stick"));
    EXPECT_EQ(stick->Get("VolumeSerialNumber"), Value("5E6F7A8B"));
    EXPECT_EQ(FindBy(v, "DeviceID", "/boot/efi")->Get("VolumeSerialNumber"), Value("1A2B3C4D"));
    EXPECT_EQ(FindBy(v, "DeviceID", "/")->Get("VolumeSerialNumber"), Value("0f3c6f2e-5a1b-4c2d-9e8f-123456789abc"));
    EXPECT_EQ(FindBy(v, "DeviceID", "/mnt/nas")->Get("ProviderName"), Value("nas.example.org:/export/home"));
    EXPECT_EQ(FindBy(v, "DeviceID", "/media/alice/DVD")->Get("Access"), Value(1));
}

TEST(MappedLogicalDisk, OnlyNetworkMountsWithTheirRemotePath) {
    auto v = CollectIn("server", "Win32_MappedLogicalDisk");
    ASSERT_EQ(v.size(), 2u);  // the cifs share and the NFS export, no local disks
    EXPECT_EQ(v[0].Get("DeviceID"), Value("/mnt/office"));
    EXPECT_EQ(v[0].Get("ProviderName"), Value("//files.example.net/office"));
    EXPECT_EQ(v[0].Get("FileSystem"), Value("cifs"));
    EXPECT_EQ(v[1].Get("ProviderName"), Value("nas.example.net:/export/media"));
    EXPECT_TRUE(v[1].Get("Size").isNull());  // a copied tree has no file system to ask
    EXPECT_EQ(CollectIn("laptop", "Win32_MappedLogicalDisk").size(), 1u);
}

TEST(LogicalDisk, ThisMachineHasRootAndNoPseudoFileSystems) {
    auto v = CollectIn("thismachine", "Win32_LogicalDisk");
    ASSERT_NE(FindBy(v, "DeviceID", "/"), nullptr);
    for (const auto& o : v)
        for (const char* pseudo : {"proc", "sysfs", "cgroup", "cgroup2", "devpts"})
            EXPECT_NE(o.Get("FileSystem"), Value(pseudo)) << o.Get("DeviceID").asString();
}

TEST(DisplayConfiguration, LaptopCardWithFrameBuffer) {
    const auto o = Only(CollectIn("laptop", "Win32_DisplayConfiguration"));
    EXPECT_EQ(o.Get("DeviceName"), Value("UHD Graphics 620"));
    EXPECT_EQ(o.Get("PelsWidth"), Value(1920));
    EXPECT_EQ(o.Get("PelsHeight"), Value(1080));
    EXPECT_EQ(o.Get("BitsPerPel"), Value(32));
    EXPECT_TRUE(o.Get("DriverVersion").isNull());  // i915 has no module version
    EXPECT_TRUE(o.Get("DisplayFrequency").isNull());
}

TEST(DisplayConfiguration, NoDrmIsAnEmptySet) {
    if (wmi::lnx::MakeLocalFileSystem(lnxtest::Fixture("thismachine"))->exists("/sys/class/drm")) GTEST_SKIP();
    EXPECT_TRUE(CollectIn("thismachine", "Win32_DisplayConfiguration").empty());
}

TEST(DesktopMonitor, OnlyConnectedConnectorsWithEdid) {
    const auto o = Only(CollectIn("laptop", "Win32_DesktopMonitor"));
    EXPECT_EQ(o.Get("DeviceID"), Value("card0-eDP-1"));
    EXPECT_EQ(o.Get("Name"), Value("LP140WF7-SPB1"));
    EXPECT_EQ(o.Get("MonitorManufacturer"), Value("LEN"));
    EXPECT_EQ(o.Get("Availability"), Value(3));
}

TEST(VideoController, Laptop) {
    const auto o = Only(CollectIn("laptop", "Win32_VideoController"));
    EXPECT_EQ(o.Get("AdapterCompatibility"), Value("Intel Corporation"));
    EXPECT_EQ(o.Get("InstalledDisplayDrivers"), Value("i915"));
    EXPECT_EQ(o.Get("CurrentNumberOfColors"), Value("4294967296"));
}

TEST(BaseBoard, LaptopDmiAndFeatureFlags) {
    const auto o = Only(CollectIn("laptop", "Win32_BaseBoard"));
    EXPECT_EQ(o.Get("Manufacturer"), Value("LENOVO"));
    EXPECT_EQ(o.Get("Product"), Value("20L7001XGE"));
    EXPECT_EQ(o.Get("HostingBoard"), Value(true));
    EXPECT_EQ(o.Get("Replaceable"), Value(true));
    EXPECT_EQ(o.Get("Removable"), Value(false));
    EXPECT_TRUE(o.Get("SerialNumber").isNull());
}

TEST(CacheMemory, OneInstancePerLevelAndTypeWithSummedSizes) {
    auto v = CollectIn("laptop", "Win32_CacheMemory");
    ASSERT_EQ(v.size(), 4u);
    const auto* l2 = FindBy(v, "Name", "L2 Unified Cache");
    ASSERT_NE(l2, nullptr);
    EXPECT_EQ(l2->Get("InstalledSize"), Value(512));
    EXPECT_EQ(l2->Get("Level"), Value(4));
    EXPECT_EQ(l2->Get("Associativity"), Value(5));  // 4-way
    const auto* l3 = FindBy(v, "Name", "L3 Unified Cache");
    EXPECT_EQ(l3->Get("InstalledSize"), Value(3072));
    EXPECT_EQ(l3->Get("Associativity"), Value(9));  // 12-way
}

TEST(InputDevices, KeyboardAndPointingDevicesByCapabilities) {
    auto kb = CollectIn("laptop", "Win32_Keyboard");
    ASSERT_EQ(kb.size(), 1u);  // the power button reports keys but is no keyboard
    EXPECT_EQ(kb[0].Get("Name"), Value("AT Translated Set 2 keyboard"));
    auto ptr = CollectIn("laptop", "Win32_PointingDevice");
    ASSERT_EQ(ptr.size(), 2u);
    const auto* pad = FindBy(ptr, "Name", "SYNA8004:00 06CB:CE0E Touchpad");
    ASSERT_NE(pad, nullptr);
    EXPECT_EQ(pad->Get("PointingType"), Value(7));
    const auto* mouse = FindBy(ptr, "Name", "Logitech USB Optical Mouse");
    ASSERT_NE(mouse, nullptr);
    EXPECT_EQ(mouse->Get("PointingType"), Value(3));
    EXPECT_EQ(mouse->Get("DeviceInterface"), Value(162));
    EXPECT_EQ(mouse->Get("NumberOfButtons"), Value(3));
    EXPECT_EQ(mouse->Get("Manufacturer"), Value("Logitech, Inc."));
}

TEST(Resources, IrqLinesOnlyWithTriggerAndSharing) {
    auto irq = CollectIn("laptop", "Win32_IRQResource");
    ASSERT_EQ(irq.size(), 5u);  // NMI and LOC are not interrupt lines
    const auto* shared = FindBy(irq, "Name", "IRQ16");
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->Get("Shareable"), Value(true));
    EXPECT_EQ(shared->Get("Description"), Value("i801_smbus, rtsx_pci"));
    EXPECT_EQ(FindBy(irq, "Name", "IRQ1")->Get("TriggerType"), Value(4));
    auto dma = CollectIn("laptop", "Win32_DMAChannel");
    ASSERT_EQ(dma.size(), 1u);
    EXPECT_EQ(dma[0].Get("DMAChannel"), Value(4));
}

TEST(Resources, PortRangesAsDecimalStrings) {
    auto ports = CollectIn("laptop", "Win32_PortResource");
    ASSERT_EQ(ports.size(), 5u);
    const auto* kbd = FindBy(ports, "Description", "keyboard");
    ASSERT_NE(kbd, nullptr);
    EXPECT_EQ(kbd->Get("StartingAddress"), Value("96"));
    EXPECT_EQ(kbd->Get("Name"), Value("0x00000060-0x00000060"));
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

TEST(Resources, RamAndWhatLiesInItAreNoDeviceMemory) {
    lnxtest::TempTree t;
    t.write("/proc/iomem",
            "00000000-00000fff : Reserved\n"
            "00001000-0009efff : System RAM\n"
            "000a0000-000bffff : PCI Bus 0000:00\n"
            "00100000-bfffffff : System RAM\n"
            "  0a000000-0b000000 : Kernel code\n"
            "  0b000001-0b800000 : Kernel data\n"
            "    0b100000-0b100fff : nested in kernel data\n"
            "c0000000-febfffff : PCI Bus 0000:00\n"
            "  fd000000-fdffffff : 0000:00:02.0\n"
            "    fd000000-fdffffff : bochs-drm\n");
    std::vector<std::string> device, ram;
    for (const auto& o : t.collect("Win32_DeviceMemoryAddress")) device.push_back(o.Get("Description").asString());
    for (const auto& o : t.collect("Win32_SystemMemoryResource")) ram.push_back(o.Get("Name").asString());
    EXPECT_EQ(device, (std::vector<std::string>{"Reserved", "PCI Bus 0000:00", "PCI Bus 0000:00", "0000:00:02.0",
                                                "bochs-drm"}));
    EXPECT_EQ(ram, (std::vector<std::string>{"0x00001000-0x0009EFFF", "0x00100000-0xBFFFFFFF"}));
}

TEST(PciDevices, ControllersByClassAndEntities) {
    auto usb = CollectIn("laptop", "Win32_USBController");
    ASSERT_EQ(usb.size(), 1u);
    EXPECT_EQ(usb[0].Get("Name"), Value("Sunrise Point-LP USB 3.0 xHCI Controller"));
    EXPECT_EQ(usb[0].Get("PNPDeviceID"), Value("PCI\\VEN_8086&DEV_9D2F&SUBSYS_225817AA&REV_21\\0000:00:14.0"));
    EXPECT_EQ(CollectIn("laptop", "Win32_SCSIController").size(), 1u);  // the NVMe controller
    EXPECT_TRUE(CollectIn("laptop", "Win32_1394Controller").empty());  // no FireWire: empty, not unsupported
    auto pnp = CollectIn("laptop", "Win32_PNPEntity");
    const auto* mouse = FindBy(pnp, "Name", "USB Optical Mouse");
    ASSERT_NE(mouse, nullptr);
    EXPECT_EQ(mouse->Get("Manufacturer"), Value("Logitech"));
    EXPECT_EQ(mouse->Get("HardwareID"), Value(Value::Array{Value("USB\\VID_046D&PID_C077&REV_7200"), Value("USB\\VID_046D&PID_C077")}));
    const auto* gpu = FindBy(pnp, "Name", "UHD Graphics 620");
    ASSERT_NE(gpu, nullptr);
    EXPECT_EQ(gpu->Get("Service"), Value("i915"));
}

TEST(Sound, CardNamedFromPciIds) {
    auto s = CollectIn("laptop", "Win32_SoundDevice");
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].Get("Name"), Value("Sunrise Point-LP HD Audio"));
    EXPECT_EQ(s[0].Get("Manufacturer"), Value("Intel Corporation"));
}

TEST(Power, SystemBatteryOnlyWithDerivedFigures) {
    auto b = CollectIn("laptop", "Win32_Battery");
    ASSERT_EQ(b.size(), 1u);  // the mouse's battery does not power the computer
    EXPECT_EQ(b[0].Get("DeviceID"), Value("BAT0"));
    EXPECT_EQ(b[0].Get("BatteryStatus"), Value(1));  // discharging
    EXPECT_EQ(b[0].Get("Chemistry"), Value(8));      // lithium polymer
    EXPECT_EQ(b[0].Get("EstimatedChargeRemaining"), Value(87));
    EXPECT_EQ(b[0].Get("DesignCapacity"), Value(57020));
    EXPECT_EQ(b[0].Get("DesignVoltage"), Value("11580"));
    EXPECT_EQ(b[0].Get("EstimatedRunTime"), Value(44570 * 60 / 6917));
    EXPECT_TRUE(b[0].Get("TimeToFullCharge").isNull());
    auto pb = CollectIn("laptop", "Win32_PortableBattery");
    ASSERT_EQ(pb.size(), 1u);
    EXPECT_EQ(pb[0].Get("Manufacturer"), Value("SMP"));
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

TEST(Power, SensorsInWmiUnitsAndVanishedChipSkipped) {
    auto t = CollectIn("laptop", "Win32_TemperatureProbe");
    ASSERT_EQ(t.size(), 2u);
    const auto* pkg = FindBy(t, "DeviceID", "hwmon2/temp1");
    ASSERT_NE(pkg, nullptr);
    EXPECT_EQ(pkg->Get("CurrentReading"), Value(520));  // tenths of a degree
    EXPECT_EQ(pkg->Get("UpperThresholdCritical"), Value(1000));
    EXPECT_EQ(pkg->Get("Name"), Value("coretemp Package id 0"));
    auto v = CollectIn("laptop", "Win32_VoltageProbe");
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].Get("CurrentReading"), Value(12361));  // millivolts
    EXPECT_EQ(CollectIn("laptop", "Win32_CurrentProbe").size(), 1u);
    EXPECT_EQ(CollectIn("laptop", "Win32_Fan").size(), 1u);
}

TEST(Network, AdaptersAndConfiguration) {
    auto a = CollectIn("laptop", "Win32_NetworkAdapter");
    ASSERT_EQ(a.size(), 2u);
    const auto* wl = FindBy(a, "NetConnectionID", "wlp0s20f3");
    ASSERT_NE(wl, nullptr);
    EXPECT_EQ(wl->Get("MACAddress"), Value("A4:C3:F0:12:34:56"));
    EXPECT_EQ(wl->Get("PhysicalAdapter"), Value(true));
    EXPECT_EQ(wl->Get("NetConnectionStatus"), Value(2));
    EXPECT_EQ(wl->Get("Index"), Value(3));
    EXPECT_TRUE(FindBy(a, "NetConnectionID", "lo")->Get("MACAddress").isNull());
    auto c = CollectIn("laptop", "Win32_NetworkAdapterConfiguration");
    ASSERT_EQ(c.size(), 2u);
    const wmi::Object* cw = nullptr;
    for (const auto& o : c)
        if (o.Get("InterfaceIndex") == Value(3)) cw = &o;
    ASSERT_NE(cw, nullptr);
    EXPECT_EQ(cw->Get("DefaultIPGateway"), Value(Value::Array{Value("192.168.0.1")}));
    EXPECT_TRUE(cw->Get("IPAddress").isNull());  // addresses are live facts, not files
}

TEST(Smbios, MemoryModulesSkipEmptySocketsAndDecodeSizes) {
    auto m = CollectIn("laptop", "Win32_PhysicalMemory");
    ASSERT_EQ(m.size(), 1u);  // the second socket is empty
    EXPECT_EQ(m[0].Get("Capacity"), Value("8589934592"));
    EXPECT_EQ(m[0].Get("DeviceLocator"), Value("ChannelA-DIMM0"));
    EXPECT_EQ(m[0].Get("FormFactor"), Value(12));        // SODIMM in WMI's numbering
    EXPECT_EQ(m[0].Get("SMBIOSMemoryType"), Value(26));  // DDR4
    EXPECT_EQ(m[0].Get("MemoryType"), Value(26));         // DDR4 in the class reference's list too
    EXPECT_EQ(m[0].Get("Speed"), Value(2400));
    EXPECT_EQ(m[0].Get("PartNumber"), Value("M471A1K43CB1-CRC"));
    auto a = CollectIn("laptop", "Win32_PhysicalMemoryArray");
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].Get("MaxCapacity"), Value(33554432));
    EXPECT_EQ(a[0].Get("MemoryDevices"), Value(2));
}

TEST(Smbios, SlotsConnectorsAndOnBoardDevices) {
    auto slots = CollectIn("laptop", "Win32_SystemSlot");
    ASSERT_EQ(slots.size(), 1u);
    EXPECT_EQ(slots[0].Get("SlotDesignation"), Value("M.2 Slot 1"));
    EXPECT_EQ(slots[0].Get("MaxDataWidth"), Value(3));  // 64 bits
    EXPECT_EQ(slots[0].Get("BusNumber"), Value(0x3C));
    EXPECT_EQ(slots[0].Get("DeviceNumber"), Value(0x1C));
    EXPECT_EQ(slots[0].Get("SupportsHotPlug"), Value(true));
    auto ports = CollectIn("laptop", "Win32_PortConnector");
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].Get("PortType"), Value(16));
    EXPECT_EQ(ports[0].Get("ExternalReferenceDesignator"), Value("USB 1"));
    auto dev = CollectIn("laptop", "Win32_OnBoardDevice");
    ASSERT_EQ(dev.size(), 3u);
    const auto* audio = FindBy(dev, "Description", "Audio");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->Get("Enabled"), Value(false));
    EXPECT_EQ(audio->Get("DeviceType"), Value(7));
}

TEST(Smbios, MappedAddressRangesInKilobytesAndTheBaseClassHoldsBothKinds) {
    auto arrays = CollectIn("laptop", "Win32_MemoryArray");
    ASSERT_EQ(arrays.size(), 1u);  // the damaged entry, ending below its start, is skipped
    EXPECT_EQ(arrays[0].Get("DeviceID"), Value("Memory Array 0"));
    EXPECT_EQ(arrays[0].Get("StartingAddress"), Value("0"));
    EXPECT_EQ(arrays[0].Get("EndingAddress"), Value("8388607"));
    EXPECT_EQ(arrays[0].Get("NumberOfBlocks"), Value("8589934592"));  // 8 GiB in one-byte blocks
    EXPECT_EQ(arrays[0].Get("CreationClassName"), Value("Win32_MemoryArray"));
    auto devices = CollectIn("laptop", "Win32_MemoryDevice");
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].Get("DeviceID"), Value("Memory Device 0"));
    auto all = CollectIn("laptop", "Win32_SMBIOSMemory");
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].Get("CreationClassName"), Value("Win32_MemoryArray"));
    EXPECT_EQ(all[1].Get("CreationClassName"), Value("Win32_MemoryDevice"));
    EXPECT_EQ(all[1].Get("DeviceID"), Value("Memory Device 0"));  // each kind counts on its own
}

TEST(Smbios, RangesBeyondFourTerabytesUseTheExtendedByteAddresses) {
    auto le = [](std::string& out, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i) & 0xFF));
    };
    std::string t;
    // type 19, length 0x1F: start and end 0xFFFFFFFF defer to the 64-bit byte addresses
    t += std::string("\x13\x1F\x01\x00", 4);
    le(t, 0xFFFFFFFF, 4);
    le(t, 0xFFFFFFFF, 4);
    le(t, 0, 2);
    le(t, 1, 1);
    le(t, 0x50000000000ull, 8);             // 5 TiB
    le(t, 0x50000000000ull + (1ull << 30) - 1, 8);  // plus 1 GiB
    t += std::string("\0\0", 2);
    // the same structure cut short before its extended fields
    t += std::string("\x13\x0F\x02\x00", 4);
    le(t, 0xFFFFFFFF, 4);
    le(t, 0xFFFFFFFF, 4);
    le(t, 0, 2);
    le(t, 1, 1);
    t += std::string("\0\0\x7F\x04\x03\x00\0\0", 8);
    lnxtest::TempTree tree;
    tree.write("/sys/firmware/dmi/tables/DMI", t);
    auto arrays = tree.collect("Win32_MemoryArray");
    ASSERT_EQ(arrays.size(), 1u);
    EXPECT_EQ(arrays[0].Get("StartingAddress"), Value("5368709120"));  // kilobytes
    EXPECT_EQ(arrays[0].Get("EndingAddress"), Value("5369757695"));
    EXPECT_EQ(arrays[0].Get("NumberOfBlocks"), Value("1073741824"));
}

TEST(Smbios, UnreadableTableGivesEmptySets) {
    if (wmi::lnx::MakeLocalFileSystem(lnxtest::Fixture("thismachine"))->exists("/sys/firmware/dmi/tables/DMI"))
        GTEST_SKIP() << "this capture has a readable table";
    for (const char* cls : {"Win32_PhysicalMemory", "Win32_SystemSlot", "Win32_PortConnector", "Win32_OnBoardDevice",
                            "Win32_MemoryArray", "Win32_MemoryDevice", "Win32_SMBIOSMemory"})
        EXPECT_TRUE(CollectIn("thismachine", cls).empty()) << cls;
}

TEST(Ports, SerialPortsWithHardwareOnly) {
    auto s = CollectIn("laptop", "Win32_SerialPort");
    ASSERT_EQ(s.size(), 4u);  // ttyS1 has no UART behind it, tty0 is a console
    const auto* uart = FindBy(s, "DeviceID", "/dev/ttyS0");
    ASSERT_NE(uart, nullptr);
    EXPECT_EQ(uart->Get("MaxBaudRate"), Value(115200));
    const auto* usb = FindBy(s, "DeviceID", "/dev/ttyUSB0");
    ASSERT_NE(usb, nullptr);
    EXPECT_EQ(usb->Get("Description"), Value("FT232R USB UART"));
    EXPECT_NE(FindBy(s, "DeviceID", "/dev/ttyACM0"), nullptr);
}

TEST(Ports, SerialPortConfigurationsNameThePortsAndLeaveLineSettingsNull) {
    auto c = CollectIn("laptop", "Win32_SerialPortConfiguration");
    auto ports = CollectIn("laptop", "Win32_SerialPort");
    ASSERT_EQ(c.size(), ports.size());  // the same ports as Win32_SerialPort
    for (std::size_t i = 0; i < c.size(); ++i) EXPECT_EQ(c[i].Get("SettingID"), ports[i].Get("DeviceID"));
    for (const char* p : {"BaudRate", "BitsPerByte", "Parity", "StopBits", "IsBusy"}) EXPECT_TRUE(c[0].Get(p).isNull()) << p;
}

TEST(Devices, FloppyControllerFromFirmwarePnpIdsOnly) {
    auto f = CollectIn("laptop", "Win32_FloppyController");
    ASSERT_EQ(f.size(), 1u);  // "PNP0700x" of another node is no floppy id
    EXPECT_EQ(f[0].Get("DeviceID"), Value("ACPI\\PNP0700\\00:03"));
    EXPECT_EQ(f[0].Get("Name"), Value("PC standard floppy disk controller"));
    EXPECT_EQ(f[0].Get("ProtocolSupported"), Value(7));
    EXPECT_TRUE(CollectIn("server", "Win32_FloppyController").empty());
}

TEST(Devices, InfraredReceiverNamedByItsDriverWithTheUsbMaker) {
    auto ir = CollectIn("laptop", "Win32_InfraredDevice");
    ASSERT_EQ(ir.size(), 1u);
    EXPECT_EQ(ir[0].Get("DeviceID"), Value("rc0"));
    EXPECT_EQ(ir[0].Get("Name"), Value("Formosa21 eHome Infrared Transceiver"));
    EXPECT_EQ(ir[0].Get("Manufacturer"), Value("Formosa21"));
    EXPECT_TRUE(CollectIn("server", "Win32_InfraredDevice").empty());
}

TEST(Devices, ModemsByPciClassOrUsbAtCommandInterface) {
    auto m = CollectIn("laptop", "Win32_POTSModem");
    ASSERT_EQ(m.size(), 1u);  // the Arduino claims AT commands but udev marks it no modem
    EXPECT_EQ(m[0].Get("AttachedTo"), Value("/dev/ttyACM0"));
    EXPECT_EQ(m[0].Get("DeviceID"), Value("USB\\VID_0572&PID_1329\\1-4:1.0"));
    EXPECT_EQ(m[0].Get("DeviceType"), Value("External Modem"));
    EXPECT_EQ(m[0].Get("Name"), Value("USB Modem"));

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
    EXPECT_TRUE(CollectIn("server", "Win32_POTSModem").empty());
}

TEST(Devices, MotherboardWithItsBusesAndRevision) {
    auto m = Only(CollectIn("laptop", "Win32_MotherboardDevice"));
    EXPECT_EQ(m.Get("DeviceID"), Value("Motherboard"));
    EXPECT_EQ(m.Get("PrimaryBusType"), Value("PCI"));
    EXPECT_TRUE(m.Get("SecondaryBusType").isNull());  // no ISA devices
    EXPECT_EQ(m.Get("RevisionNumber"), Value("SDK0J40697 WIN"));
    EXPECT_TRUE(lnxtest::TempTree().collect("Win32_MotherboardDevice").empty());
}

TEST(Ports, ParallelPortCapabilitiesFromTheKernelsModes) {
    auto p = Only(CollectIn("server", "Win32_ParallelPort"));  // "default" holds settings, not a port
    EXPECT_EQ(p.Get("DeviceID"), Value("parport0"));
    EXPECT_EQ(p.Get("Capabilities"), Value(Value::Array{Value(2), Value(3), Value(4), Value(5)}));
    EXPECT_EQ(p.Get("CapabilityDescriptions"),
              Value(Value::Array{Value("XT/AT Compatible"), Value("PS/2 Compatible"), Value("ECP"), Value("EPP")}));
    EXPECT_EQ(p.Get("DMASupport"), Value(true));
    EXPECT_TRUE(CollectIn("laptop", "Win32_ParallelPort").empty());
}

TEST(Power, UpsFromPowerSupplyOfTypeUpsOnly) {
    auto u = Only(CollectIn("server", "Win32_UninterruptiblePowerSupply"));
    EXPECT_EQ(u.Get("Name"), Value("Back-UPS ES 700G"));
    EXPECT_EQ(u.Get("EstimatedChargeRemaining"), Value(87));
    EXPECT_EQ(u.Get("EstimatedRunTime"), Value(41));  // minutes from time_to_empty_now seconds
    EXPECT_EQ(u.Get("RemainingCapacityStatus"), Value(2));
    EXPECT_EQ(u.Get("BatteryInstalled"), Value(true));
    EXPECT_TRUE(CollectIn("laptop", "Win32_UninterruptiblePowerSupply").empty());  // batteries are no UPS
    EXPECT_TRUE(CollectIn("server", "Win32_Battery").empty());
}

TEST(Ports, UsbHubsAndPciBuses) {
    auto hubs = CollectIn("laptop", "Win32_USBHub");
    ASSERT_EQ(hubs.size(), 1u);  // the mouse and the serial adapter are no hubs
    EXPECT_EQ(hubs[0].Get("USBVersion"), Value(0x200));
    EXPECT_EQ(hubs[0].Get("NumberOfPorts"), Value(12));
    EXPECT_EQ(hubs[0].Get("DeviceID"), Value("USB\\VID_1D6B&PID_0002\\usb1"));
    auto buses = CollectIn("laptop", "Win32_Bus");
    ASSERT_EQ(buses.size(), 2u);
    EXPECT_EQ(buses[1].Get("DeviceID"), Value("PCI_BUS_60"));
    EXPECT_EQ(buses[1].Get("BusType"), Value(5));
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

TEST(Display, ControllerConfigurationAndOfferedResolutions) {
    auto cc = CollectIn("laptop", "Win32_DisplayControllerConfiguration");
    ASSERT_EQ(cc.size(), 1u);
    EXPECT_EQ(cc[0].Get("HorizontalResolution"), Value(1920));
    EXPECT_EQ(cc[0].Get("BitsPerPixel"), Value(32));
    auto res = CollectIn("laptop", "CIM_VideoControllerResolution");
    std::vector<std::string> ids;
    for (const auto& o : res) ids.push_back(o.Get("SettingID").asString());
    // each mode once, only from connected monitors
    EXPECT_EQ(ids, (std::vector<std::string>{"1920 by 1080 pixels", "1680 by 1050 pixels", "1280 by 720 pixels",
                                             "1024 by 768 pixels, interlaced"}));
    EXPECT_EQ(res[3].Get("ScanMode"), Value(5));
    EXPECT_EQ(res[3].Get("VerticalResolution"), Value(768));
    EXPECT_TRUE(res[0].Get("RefreshRate").isNull());
}

TEST(Resources, SystemMemoryIsTheTopLevelRamRanges) {
    auto v = CollectIn("laptop", "Win32_SystemMemoryResource");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[1].Get("StartingAddress"), Value("1048576"));
    EXPECT_EQ(v[1].Get("EndingAddress"), Value("1073741823"));
}

TEST(Processor, ArmDesignerFromImplementerCode) {
    lnxtest::TempTree t;
    t.write("/proc/cpuinfo", "processor\t: 0\nBogoMIPS\t: 108.00\nCPU implementer\t: 0x41\nCPU part\t: 0xd08\n\n");
    t.write("/proc/sys/kernel/arch", "aarch64\n");
    auto v = t.collect("Win32_Processor");
    auto cs = t.collect("Win32_ComputerSystem");
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].Get("Manufacturer"), Value("ARM"));
    EXPECT_EQ(v[0].Get("Architecture"), Value(12));
    EXPECT_TRUE(v[0].Get("Name").isNull());     // no model name on arm64
    EXPECT_TRUE(v[0].Get("Caption").isNull());  // the x86 family naming does not apply
    EXPECT_TRUE(v[0].Get("DataWidth").isNull());
    EXPECT_EQ(cs[0].Get("SystemType"), Value("ARM64-based PC"));
}

namespace {

// A virtio network adapter and a virtio disk, each on a PCI function of its
// own, as a virtual machine has them.
void VirtioMachine(const lnxtest::TempTree& t) {
    auto pciFunction = [&](const std::string& addr, const char* device, const char* cls) {
        const std::string dir = "/sys/devices/pci0000:00/" + addr;
        t.write(dir + "/vendor", "0x1af4\n");
        t.write(dir + "/device", std::string(device) + "\n");
        t.write(dir + "/class", std::string(cls) + "\n");
        t.write(dir + "/subsystem_vendor", "0x1af4\n");
        t.write(dir + "/subsystem_device", "0x0001\n");
        t.write(dir + "/revision", "0x01\n");
        t.link("/sys/bus/pci/devices/" + addr, "../../../devices/pci0000:00/" + addr);
    };
    pciFunction("0000:00:03.0", "0x1041", "0x020000");
    pciFunction("0000:00:04.0", "0x1001", "0x010000");
    t.write("/usr/share/misc/pci.ids",
            "1af4  Red Hat, Inc.\n\t1001  Virtio block device\n\t1041  Virtio 1.0 network device\n");
    t.write("/sys/devices/pci0000:00/0000:00:03.0/virtio2/vendor", "0x1af4\n");
    t.write("/sys/devices/pci0000:00/0000:00:03.0/virtio2/device", "0x0001\n");  // a virtio id, not PCI
    t.write("/sys/class/net/eth0/ifindex", "2\n");
    t.write("/sys/class/net/eth0/address", "52:54:00:12:34:56\n");
    t.link("/sys/class/net/eth0/device", "../../../devices/pci0000:00/0000:00:03.0/virtio2");
    t.write("/sys/devices/pci0000:00/0000:00:04.0/virtio1/block/vda/size", "2048\n");
    t.link("/sys/devices/pci0000:00/0000:00:04.0/virtio1/block/vda/device", "../../../virtio1");
    t.link("/sys/block/vda", "../devices/pci0000:00/0000:00:04.0/virtio1/block/vda");
}

}  // namespace

TEST(Virtio, AdapterAndDiskAreNamedAndIdentifiedByTheirPciFunction) {
    lnxtest::TempTree t;
    VirtioMachine(t);
    auto nic = t.collect("Win32_NetworkAdapter");
    ASSERT_EQ(nic.size(), 1u);
    EXPECT_EQ(nic[0].Get("Name"), Value("Virtio 1.0 network device"));
    EXPECT_EQ(nic[0].Get("ProductName"), Value("Virtio 1.0 network device"));
    EXPECT_EQ(nic[0].Get("Manufacturer"), Value("Red Hat, Inc."));
    EXPECT_EQ(nic[0].Get("PNPDeviceID"), Value("PCI\\VEN_1AF4&DEV_1041&SUBSYS_00011AF4&REV_01\\0000:00:03.0"));
    auto disks = t.collect("Win32_DiskDrive");
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0].Get("Model"), Value("Virtio block device"));  // virtio disks report none: the function names it
    EXPECT_EQ(disks[0].Get("Caption"), Value("Virtio block device"));
    EXPECT_EQ(disks[0].Get("PNPDeviceID"), Value("PCI\\VEN_1AF4&DEV_1001&SUBSYS_00011AF4&REV_01\\0000:00:04.0"));
    // Storage controllers by PCI class: other mass storage (0x0180) is SCSI,
    // SATA (0x0106) is IDE, as Windows groups them.
    t.write("/sys/devices/pci0000:00/0000:00:04.0/class", "0x018000\n");
    EXPECT_EQ(t.collect("Win32_SCSIController").size(), 1u);
    t.write("/sys/devices/pci0000:00/0000:00:04.0/class", "0x010601\n");
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

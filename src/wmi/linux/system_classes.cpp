// Win32_ComputerSystem, Win32_Processor, Win32_BIOS, Win32_BaseBoard,
// Win32_MotherboardDevice and Win32_CacheMemory: DMI identification, SMBIOS (when readable) and the
// processor topology of sysfs and /proc/cpuinfo.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include "wmi/linux/system_info.h"

namespace wmi::lnx {

namespace {

std::optional<std::string> DnsDomain(const Context& ctx) {
    if (auto h = ctx.hostName(); h && h->find('.') != std::string::npos) return h->substr(h->find('.') + 1);
    auto resolv = ctx.read("/etc/resolv.conf", 64 * 1024);
    if (!resolv) return std::nullopt;
    std::optional<std::string> search;
    for (const auto& line : SplitLines(*resolv)) {
        auto w = SplitWhitespace(line);
        if (w.size() >= 2 && w[0] == "domain") return w[1];
        if (w.size() >= 2 && w[0] == "search" && !search) search = w[1];
    }
    return search;
}

bool HasFlag(const CpuInfoRecord* rec, std::string_view flag) {
    if (!rec) return false;
    auto flags = rec->get("flags");
    if (!flags) return false;
    for (const auto& f : SplitWhitespace(*flags))
        if (f == flag) return true;
    return false;
}

// Windows' ProcessorId: CPUID leaf 1's EDX (feature bits) and EAX
// (signature), rebuilt from what the kernel read of them into cpuinfo.
std::optional<std::string> X86ProcessorId(const CpuInfoRecord* rec) {
    if (!rec) return std::nullopt;
    auto fam = rec->get("cpu family"), model = rec->get("model"), step = rec->get("stepping"), flags = rec->get("flags");
    if (!fam || !model || !step || !flags) return std::nullopt;
    auto f = ParseInt(*fam), m = ParseInt(*model), st = ParseInt(*step);
    if (!f || !m || !st || *f < 0 || *f > 15 + 255 || *m < 0 || *m > 255 || *st < 0 || *st > 15) return std::nullopt;
    const std::uint32_t family = static_cast<std::uint32_t>(*f), mdl = static_cast<std::uint32_t>(*m);
    const std::uint32_t eax = static_cast<std::uint32_t>(*st) | (mdl & 0xF) << 4 | std::min(family, 15u) << 8 |
                              (mdl >> 4) << 16 | (family > 15 ? family - 15 : 0) << 20;
    // The names the kernel gives EDX's bits 0-31 (empty: reserved).
    static const char* const kEdx[32] = {"fpu", "vme",  "de",  "pse",  "tsc",   "msr", "pae",  "mce",
                                         "cx8", "apic", "",    "sep",  "mtrr",  "pge", "mca",  "cmov",
                                         "pat", "pse36", "pn", "clflush", "",   "dts", "acpi", "mmx",
                                         "fxsr", "sse", "sse2", "ss",  "ht",    "tm",  "ia64", "pbe"};
    std::uint32_t edx = 0;
    for (const auto& flag : SplitWhitespace(*flags))
        for (std::uint32_t bit = 0; bit < 32; ++bit)
            if (*kEdx[bit] && flag == kEdx[bit]) edx |= 1u << bit;
    char buf[20];
    std::snprintf(buf, sizeof buf, "%08X%08X", edx, eax);
    return std::string(buf);
}

// The user at the console (a local terminal or display), from utmp.
std::optional<std::string> ConsoleUser(const Context& ctx) {
    auto raw = ctx.read("/run/utmp", 1 << 20);
    if (!raw) raw = ctx.read("/var/run/utmp", 1 << 20);
    if (!raw) return std::nullopt;
    for (const auto& e : ParseUtmp(*raw)) {
        if (e.type != 7 || e.user.empty()) continue;
        bool local = StartsWith(e.line, "tty") || StartsWith(e.line, ":") || StartsWith(e.host, ":") ||
                     StartsWith(e.line, "seat");
        if (local) return e.user;
    }
    return std::nullopt;
}

std::optional<std::string> SystemType(const std::optional<std::string>& machine) {
    if (!machine) return std::nullopt;
    if (*machine == "x86_64") return "x64-based PC";
    if (*machine == "aarch64" || *machine == "arm64") return "ARM64-based PC";
    auto arch = ArchitectureCode(*machine);
    if (arch && *arch == 0) return "X86-based PC";
    return std::nullopt;
}

std::unique_ptr<InstanceCursor> ComputerSystem(const Context& ctx, const SchemaPtr& schema) {
    Row r(schema);
    auto name = ctx.shortHostName();
    r.set("Name", name).set("Caption", name).set("DNSHostName", name);
    r.set("CreationClassName", "Win32_ComputerSystem");
    r.set("Domain", DnsDomain(ctx));
    r.set("Manufacturer", DmiField(ctx, "sys_vendor"));
    r.set("Model", DmiField(ctx, "product_name"));
    // A reader that named its properties (the summary) is spared the files
    // only the others come from.
    if (ctx.wants("SystemFamily")) r.set("SystemFamily", DmiField(ctx, "product_family"));
    if (ctx.wants("SystemSKUNumber")) r.set("SystemSKUNumber", DmiField(ctx, "product_sku"));
    if (auto mem = ctx.wants("TotalPhysicalMemory") ? ctx.read("/proc/meminfo") : std::nullopt) {
        auto m = ParseMemInfo(*mem);
        if (m.count("MemTotal")) r.setU64("TotalPhysicalMemory", m["MemTotal"] * 1024);
    }
    CpuTopology topo;
    if (ctx.wantsAny({"NumberOfProcessors", "NumberOfLogicalProcessors", "HypervisorPresent"}))
        topo = ReadCpuTopology(ctx);
    if (!topo.cpus.empty()) {
        r.set("NumberOfProcessors", static_cast<int>(topo.packages.size()));
        r.set("NumberOfLogicalProcessors", static_cast<int>(topo.cpus.size()));
        if (topo.cpus[0].info && topo.cpus[0].info->get("flags"))
            r.set("HypervisorPresent", HasFlag(topo.cpus[0].info, "hypervisor"));
    }
    r.set("SystemType", SystemType(ctx.machine()));
    // The ACPI preferred power-management profile is what the PC system type
    // is defined by; its codes are WMI's.
    if (auto profile = ctx.wantsAny({"PCSystemType", "PCSystemTypeEx"}) ? ctx.readInt("/sys/firmware/acpi/pm_profile")
                                                                      : std::nullopt;
        profile && *profile >= 0 && *profile <= 8) {
        r.set("PCSystemTypeEx", static_cast<int>(*profile));
        if (*profile <= 7) r.set("PCSystemType", static_cast<int>(*profile));
    }
    r.set("UserName", ConsoleUser(ctx));
    if (ctx.fs().isLiveRoot()) {
        std::time_t now = std::time(nullptr);
        std::tm tm{};
        if (::localtime_r(&now, &tm)) {
            r.set("CurrentTimeZone", static_cast<int>(tm.tm_gmtoff / 60));
            r.set("DaylightInEffect", tm.tm_isdst > 0);
        }
    }
    if (!ctx.wantsAny({"WakeUpType", "ChassisBootupState", "PowerSupplyState", "ThermalState", "OEMStringArray"}))
        return SingleInstance(r.build());
    auto smbios = ReadSmbios(ctx);
    if (const auto* sys = FirstOfType(smbios, 1)) r.set("WakeUpType", sys->byteAt(0x18));
    if (const auto* chassis = FirstOfType(smbios, 3)) {
        r.set("ChassisBootupState", chassis->byteAt(0x09));
        r.set("PowerSupplyState", chassis->byteAt(0x0A));
        r.set("ThermalState", chassis->byteAt(0x0B));
    }
    if (const auto* oem = FirstOfType(smbios, 11); oem && !oem->strings.empty()) r.setStrings("OEMStringArray", oem->strings);
    return SingleInstance(r.build());
}

// "AMD64 Family 25 Model 1 Stepping 1", the way Windows names x86 processors.
std::optional<std::string> X86Caption(const CpuInfoRecord* info, const std::optional<std::string>& machine) {
    if (!info) return std::nullopt;
    auto vendor = info->get("vendor_id");
    auto family = info->get("cpu family");
    auto model = info->get("model");
    auto stepping = info->get("stepping");
    if (!vendor || !family || !model || !stepping) return std::nullopt;
    std::string arch;
    bool is64 = machine && *machine == "x86_64";
    if (!is64) arch = "x86";
    else if (*vendor == "GenuineIntel") arch = "Intel64";
    else arch = "AMD64";
    return arch + " Family " + *family + " Model " + *model + " Stepping " + *stepping;
}

// The designer named by an ARM "CPU implementer" code (the MIDR register's
// implementer field, as the architecture manual assigns them).
std::optional<std::string> ArmImplementer(const std::string& code) {
    static const std::map<std::uint64_t, const char*> names = {
        {0x41, "ARM"},      {0x42, "Broadcom"}, {0x43, "Cavium"},   {0x44, "DEC"},    {0x46, "Fujitsu"},
        {0x48, "HiSilicon"}, {0x49, "Infineon"}, {0x4d, "Motorola"}, {0x4e, "NVIDIA"}, {0x50, "APM"},
        {0x51, "Qualcomm"}, {0x53, "Samsung"},  {0x56, "Marvell"},  {0x61, "Apple"},  {0x66, "Faraday"},
        {0x69, "Intel"},    {0x6d, "Microsoft"}, {0x70, "Phytium"}, {0xc0, "Ampere"}};
    auto v = ParseUInt(code, 16);
    if (!v) return std::nullopt;
    auto it = names.find(*v);
    if (it == names.end()) return std::nullopt;
    return std::string(it->second);
}

std::optional<std::int64_t> KHzToMHz(std::optional<std::int64_t> khz) {
    if (!khz || *khz <= 0) return std::nullopt;
    return (*khz + 500) / 1000;
}

// Busy share of a package's processors between two samples, in percent.
std::optional<int> LoadPercentage(const std::vector<const LogicalCpu*>& cpus, const std::map<int, CpuBusyTimes>& before,
                                  const std::map<int, CpuBusyTimes>& now) {
    std::uint64_t busy = 0, total = 0;
    for (const auto* c : cpus) {
        auto a = before.find(c->id), b = now.find(c->id);
        if (a == before.end() || b == now.end()) return std::nullopt;
        if (b->second.total < a->second.total || b->second.busy < a->second.busy) return std::nullopt;  // counters reset
        busy += b->second.busy - a->second.busy;
        total += b->second.total - a->second.total;
    }
    if (total == 0) return std::nullopt;
    return static_cast<int>((busy * 100 + total / 2) / total);
}

struct CpuSamples {
    std::map<int, CpuBusyTimes> before, now;
};

// Load on the live root is measured over at least kLoadSpan: /proc/stat
// counts in 1/100 s, so a shorter span says little. Readings are kept for
// the whole program (every selection opens a new provider); a query uses
// the newest one that is old enough, and without one it takes a short
// sample. One older than kLoadOldest no longer tells the present load.
constexpr auto kLoadSpan = std::chrono::milliseconds(100);
constexpr auto kLoadOldest = std::chrono::seconds(10);

class LoadHistory {
public:
    using Clock = std::chrono::steady_clock;

    CpuSamples measure(const Context& ctx) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto now = read(ctx);
        Clock::time_point at = Clock::now();
        while (!readings_.empty() && at - readings_.front().first > kLoadOldest) readings_.pop_front();
        if (readings_.empty()) {
            readings_.emplace_back(at, now);
        }
        const Clock::time_point oldest = readings_.front().first;
        if (at - oldest < kLoadSpan) {
            std::this_thread::sleep_for(kLoadSpan - (at - oldest));
            now = read(ctx);
            at = Clock::now();
        }
        // The newest reading at least kLoadSpan old, and what follows it.
        std::size_t use = 0;
        for (std::size_t i = 0; i < readings_.size(); ++i)
            if (at - readings_[i].first >= kLoadSpan) use = i;
        CpuSamples s{readings_[use].second, now};
        readings_.erase(readings_.begin(), readings_.begin() + static_cast<std::ptrdiff_t>(use));
        readings_.emplace_back(at, std::move(now));
        return s;
    }

private:
    static std::map<int, CpuBusyTimes> read(const Context& ctx) {
        auto stat = ctx.read("/proc/stat");
        return stat ? ParseCpuBusyTimes(*stat) : std::map<int, CpuBusyTimes>{};
    }

    std::mutex mutex_;
    std::deque<std::pair<Clock::time_point, std::map<int, CpuBusyTimes>>> readings_;
};

std::optional<Object> ProcessorInstance(const Context& ctx, const SchemaPtr& schema, const CpuTopology& topo,
                                        const std::vector<CacheInfo>& caches,
                                        const std::vector<SmbiosStructure>& smbios, const CpuSamples& samples,
                                        std::size_t index) {
    int package = topo.packages[index];
    auto cpus = topo.inPackage(package);
    if (cpus.empty()) return std::nullopt;
    const LogicalCpu& first = *cpus.front();
    const CpuInfoRecord* info = first.info;
    Row r(schema);
    SetSystemKeys(r, ctx, "Win32_Processor");
    r.set("DeviceID", "CPU" + std::to_string(index));
    r.set("Role", "CPU");
    r.set("ProcessorType", 3);  // Central Processor
    auto machine = ctx.machine();
    if (machine) {
        r.set("Architecture", ArchitectureCode(*machine));
        r.set("AddressWidth", MachineWordBits(*machine));
    }
    if (info) {
        auto modelName = info->get("model name");
        if (!modelName) modelName = info->get("Processor");  // older ARM kernels
        if (modelName) r.set("Name", Trim(*modelName));
        auto vendor = info->get("vendor_id");
        if (!vendor)
            if (auto impl = info->get("CPU implementer")) vendor = ArmImplementer(*impl);
        r.set("Manufacturer", vendor);
        auto caption = X86Caption(info, machine);
        r.set("Caption", caption).set("Description", caption);
        if (auto fam = info->get("cpu family"))
            if (auto v = ParseInt(*fam); v && *v >= 0 && *v < 65536) r.set("Level", static_cast<int>(*v));
        auto model = info->get("model");
        auto stepping = info->get("stepping");
        r.set("Stepping", stepping);
        if (model && stepping) {
            auto m = ParseInt(*model), s = ParseInt(*stepping);
            if (m && s && *m >= 0 && *m < 256 && *s >= 0 && *s < 256)
                r.set("Revision", static_cast<int>((*m << 8) | *s));
        }
        if (info->get("flags")) {
            bool x86 = machine && (ArchitectureCode(*machine) == 9 || ArchitectureCode(*machine) == 0);
            if (x86) {
                r.set("DataWidth", HasFlag(info, "lm") ? 64 : 32);
                r.set("VMMonitorModeExtensions", HasFlag(info, "vmx") || HasFlag(info, "svm"));
                r.set("SecondLevelAddressTranslationExtensions", HasFlag(info, "ept") || HasFlag(info, "npt"));
            }
        }
    }
    std::string cpufreq = "/sys/devices/system/cpu/cpu" + std::to_string(first.id) + "/cpufreq/";
    auto cur = KHzToMHz(ctx.readInt(cpufreq + "scaling_cur_freq"));
    auto max = KHzToMHz(ctx.readInt(cpufreq + "cpuinfo_max_freq"));
    bool scaling = ctx.fs().exists(cpufreq);
    if (!cur && info)
        if (auto mhz = info->get("cpu MHz"))
            if (auto d = ParseDouble(*mhz)) cur = static_cast<std::int64_t>(std::llround(*d));
    r.set("CurrentClockSpeed", cur);

    // SMBIOS type 4 structures are in socket order; take the n-th populated one.
    const SmbiosStructure* proc = nullptr;
    std::size_t seen = 0;
    for (const auto& s : smbios) {
        if (s.type != 4 || !(s.byteAt(0x18).value_or(0) & 0x40)) continue;
        if (seen++ == index) {
            proc = &s;
            break;
        }
    }
    // A processor the kernel lists is online: enabled and running.
    r.set("CpuStatus", 1).set("Availability", 3).set("Status", "OK");
    if (machine && (ArchitectureCode(*machine) == 9 || ArchitectureCode(*machine) == 0))
        r.set("ProcessorId", X86ProcessorId(info));
    if (proc) {
        r.set("SocketDesignation", proc->stringAt(0x04));
        // 0xFE defers to the wider family field of SMBIOS 2.6 and later.
        auto family = proc->byteAt(0x06);
        if (family == 0xFE) family = proc->wordAt(0x28);
        r.set("Family", family);
        if (auto id = proc->qwordAt(0x08)) {
            char buf[20];
            std::snprintf(buf, sizeof buf, "%08X%08X", static_cast<unsigned>(*id >> 32), static_cast<unsigned>(*id & 0xFFFFFFFF));
            r.set("ProcessorId", std::string(buf));
        }
        r.set("Version", proc->stringAt(0x10));
        if (auto v = proc->byteAt(0x11); v && (*v & 0x80)) r.set("CurrentVoltage", *v & 0x7F);
        if (auto ext = proc->wordAt(0x12); ext && *ext) r.set("ExtClock", *ext);
        if (!max)
            if (auto m = proc->wordAt(0x14); m && *m) max = *m;
        if (auto st = proc->byteAt(0x18)) r.set("CpuStatus", *st & 0x07);
        r.set("UpgradeMethod", proc->byteAt(0x19));
        r.set("SerialNumber", proc->stringAt(0x20));
        r.set("AssetTag", proc->stringAt(0x21));
        r.set("PartNumber", proc->stringAt(0x22));
        if (auto ch = proc->wordAt(0x26)) r.set("Characteristics", *ch);
    }
    // Without frequency scaling the kernel knows one clock, which is then
    // both the current and the highest.
    if (!max && !scaling) max = cur;
    r.set("MaxClockSpeed", max);

    int cores = topo.coresIn(package);
    r.set("NumberOfCores", cores);
    r.set("NumberOfEnabledCore", cores);
    r.set("NumberOfLogicalProcessors", static_cast<int>(cpus.size()));
    r.set("ThreadCount", static_cast<int>(cpus.size()));
    r.set("LoadPercentage", LoadPercentage(cpus, samples.before, samples.now));
    std::uint64_t l2 = 0, l3 = 0;
    for (const auto& c : caches) {
        if (c.package != package) continue;
        if (c.level == 2) l2 += c.sizeKB;
        if (c.level == 3) l3 += c.sizeKB;
    }
    if (l2) r.setU32("L2CacheSize", l2);
    if (l3) r.setU32("L3CacheSize", l3);
    return r.build();
}

std::unique_ptr<InstanceCursor> Processors(const Context& ctx, const SchemaPtr& schema) {
    auto topo = std::make_shared<CpuTopology>(ReadCpuTopology(ctx));
    // Six files per cache and processor: a reader that names its properties
    // without the cache sizes (the summary) is spared them.
    auto caches = std::make_shared<std::vector<CacheInfo>>();
    if (ctx.wants("L2CacheSize") || ctx.wants("L3CacheSize")) *caches = ReadCaches(ctx, *topo);
    auto smbios = std::make_shared<std::vector<SmbiosStructure>>(ReadSmbios(ctx));
    auto samples = std::make_shared<CpuSamples>();
    if (!ctx.wants("LoadPercentage")) {
        // Nobody reads it: no sampling pause.
    } else if (ctx.fs().isLiveRoot()) {
        static LoadHistory history;
        *samples = history.measure(ctx);
    } else if (auto stat = ctx.read("/proc/stat")) {
        // A copied tree has no clock: load between this provider's queries.
        samples->now = ParseCpuBusyTimes(*stat);
        samples->before = ctx.exchangeCpuSample(samples->now);
    }
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < topo->packages.size(); ++i) keys.push_back(std::to_string(i));
    return std::make_unique<LazyCursor>(std::move(keys), [ctx, schema, topo, caches, smbios, samples](const std::string& k) {
        return ProcessorInstance(ctx, schema, *topo, *caches, *smbios, *samples, std::stoul(k));
    });
}

std::optional<std::pair<int, int>> DottedPair(const std::optional<std::string>& s) {
    if (!s) return std::nullopt;
    std::size_t dot = s->find('.');
    if (dot == std::string::npos) return std::nullopt;
    auto a = ParseInt(s->substr(0, dot)), b = ParseInt(s->substr(dot + 1));
    if (!a || !b || *a < 0 || *a > 255 || *b < 0 || *b > 255) return std::nullopt;
    return std::make_pair(static_cast<int>(*a), static_cast<int>(*b));
}

std::unique_ptr<InstanceCursor> Bios(const Context& ctx, const SchemaPtr& schema) {
    bool dmi = ctx.fs().isDirectory("/sys/class/dmi/id");
    auto smbios = ReadSmbios(ctx);
    const auto* bios = FirstOfType(smbios, 0);
    // Without DMI there is no firmware description to show (e.g. most ARM boards).
    if (!dmi && !bios) return std::make_unique<VectorCursor>(std::vector<Object>{});
    Row r(schema);
    auto vendor = DmiField(ctx, "bios_vendor");
    auto version = DmiField(ctx, "bios_version");
    if (bios) {
        if (!vendor) vendor = bios->stringAt(0x04);
        if (!version) version = bios->stringAt(0x05);
    }
    r.set("Manufacturer", vendor);
    r.set("SMBIOSBIOSVersion", version);
    r.set("Name", version).set("Caption", version).set("Description", version);
    auto dateText = DmiField(ctx, "bios_date");
    if (!dateText && bios) dateText = bios->stringAt(0x08);
    if (dateText)
        if (auto d = ParseDmiDate(*dateText)) r.set("ReleaseDate", DmtfDateTime(d->year, d->month, d->day, 0, 0, 0, 0));
    r.set("SerialNumber", DmiField(ctx, "product_serial"));
    r.set("SMBIOSPresent", dmi || bios != nullptr);
    if (auto rel = DottedPair(DmiField(ctx, "bios_release"))) {
        r.set("SystemBiosMajorVersion", rel->first).set("SystemBiosMinorVersion", rel->second);
    } else if (bios && bios->byteAt(0x14).value_or(0xFF) != 0xFF) {
        r.set("SystemBiosMajorVersion", bios->byteAt(0x14)).set("SystemBiosMinorVersion", bios->byteAt(0x15));
    }
    if (auto ec = DottedPair(DmiField(ctx, "ec_firmware_release"))) {
        r.set("EmbeddedControllerMajorVersion", ec->first).set("EmbeddedControllerMinorVersion", ec->second);
    }
    if (auto entry = ctx.read("/sys/firmware/dmi/tables/smbios_entry_point", 64))
        if (auto v = ParseSmbiosEntryVersion(*entry)) {
            r.set("SMBIOSMajorVersion", v->first).set("SMBIOSMinorVersion", v->second);
        }
    if (bios) {
        // WMI numbers the characteristics by their bit in SMBIOS: 0-31 for
        // the main field, then 32-39 (ACPI ... Smart Battery) and 40-47 for
        // the two extension bytes. The main field's upper half is vendor
        // specific and would collide with those numbers.
        std::vector<int> chars;
        if (auto q = bios->qwordAt(0x0A))
            for (int bit = 0; bit < 32; ++bit)
                if (*q >> bit & 1) chars.push_back(bit);
        for (int e = 0; e < 2; ++e)
            if (auto x = bios->byteAt(0x12 + static_cast<std::size_t>(e)))
                for (int bit = 0; bit < 8; ++bit)
                    if (*x >> bit & 1) chars.push_back(32 + 8 * e + bit);
        if (!chars.empty()) r.setInts("BiosCharacteristics", chars);
    }
    return SingleInstance(r.build());
}

std::unique_ptr<InstanceCursor> BaseBoard(const Context& ctx, const SchemaPtr& schema) {
    auto vendor = DmiField(ctx, "board_vendor");
    auto product = DmiField(ctx, "board_name");
    if (!vendor && !product) return std::make_unique<VectorCursor>(std::vector<Object>{});
    Row r(schema);
    r.set("CreationClassName", "Win32_BaseBoard");
    r.set("Manufacturer", vendor);
    r.set("Product", product);
    r.set("Version", DmiField(ctx, "board_version"));
    r.set("SerialNumber", DmiField(ctx, "board_serial"));
    r.set("Tag", std::string("Base Board"));
    r.set("Name", std::string("Base Board")).set("Caption", std::string("Base Board")).set("Description", std::string("Base Board"));
    auto smbios = ReadSmbios(ctx);
    if (const auto* b = FirstOfType(smbios, 2)) {
        if (auto f = b->byteAt(0x09)) {
            // Feature flags of the SMBIOS base board structure.
            r.set("HostingBoard", (*f & 0x01) != 0);
            r.set("RequiresDaughterBoard", (*f & 0x02) != 0);
            r.set("Removable", (*f & 0x04) != 0);
            r.set("Replaceable", (*f & 0x08) != 0);
            r.set("HotSwappable", (*f & 0x10) != 0);
        }
    }
    return SingleInstance(r.build());
}

// The board as a device: its buses and revision. Known when the firmware
// names the board or the kernel sees a PCI bus on it.
std::unique_ptr<InstanceCursor> MotherboardDevice(const Context& ctx, const SchemaPtr& schema) {
    bool pci = !ctx.fs().listDir("/sys/bus/pci/devices").empty();
    bool isa = !ctx.fs().listDir("/sys/bus/isa/devices").empty();
    auto version = DmiField(ctx, "board_version");
    if (!pci && !DmiField(ctx, "board_vendor") && !DmiField(ctx, "board_name"))
        return std::make_unique<VectorCursor>(std::vector<Object>{});
    Row r(schema);
    SetSystemKeys(r, ctx, "Win32_MotherboardDevice");
    const std::string title = "Motherboard";
    r.set("DeviceID", title).set("Name", title).set("Caption", title).set("Description", title);
    if (pci) r.set("PrimaryBusType", std::string("PCI"));
    if (isa) r.set(pci ? "SecondaryBusType" : "PrimaryBusType", std::string("ISA"));
    r.set("RevisionNumber", version);
    return SingleInstance(r.build());
}

int AssociativityCode(std::optional<int> ways) {
    if (!ways) return 2;  // Unknown
    static const std::map<int, int> codes = {{0, 6},  {1, 3},  {2, 4},   {4, 5},   {8, 7},   {16, 8},
                                             {12, 9}, {24, 10}, {32, 11}, {48, 12}, {64, 13}, {20, 14}};
    auto it = codes.find(*ways);
    return it == codes.end() ? 1 : it->second;  // Other
}

std::unique_ptr<InstanceCursor> CacheMemory(const Context& ctx, const SchemaPtr& schema) {
    CpuTopology topo = ReadCpuTopology(ctx);
    auto caches = ReadCaches(ctx, topo);
    // One instance per package, level and type, like the firmware describes them.
    std::map<std::tuple<int, int, std::string>, std::vector<const CacheInfo*>> groups;
    for (const auto& c : caches) groups[{c.package, c.level, c.type}].push_back(&c);
    std::vector<Object> out;
    int n = 0;
    for (const auto& [key, list] : groups) {
        const auto& [package, level, type] = key;
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_CacheMemory");
        r.set("DeviceID", "Cache Memory " + std::to_string(n++));
        std::string title = "L" + std::to_string(level) + " " + type + " Cache";
        r.set("Name", title).set("Caption", title).set("Description", title);
        r.set("Purpose", "L" + std::to_string(level) + "-Cache");
        if (level >= 1 && level <= 3) r.set("Level", level + 2);  // 3 Primary, 4 Secondary, 5 Tertiary
        r.set("CacheType", type == "Instruction" ? 3 : type == "Data" ? 4 : type == "Unified" ? 5 : 1);
        std::uint64_t total = 0;
        for (const auto* c : list) total += c->sizeKB;
        r.setU32("InstalledSize", total);
        r.setU32("MaxCacheSize", total);
        // Windows counts a cache in blocks of 1 KB, as its sizes are given.
        r.setU64("BlockSize", 1024).setU64("NumberOfBlocks", total);
        r.set("Associativity", AssociativityCode(list.front()->ways));
        if (list.front()->lineSize) r.set("LineSize", *list.front()->lineSize);
        r.set("Location", 0);  // Internal: these caches are reported by the processor itself
        (void)package;
        out.push_back(r.build());
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

}  // namespace

void RegisterSystemClasses(Registry& reg) {
    reg.add("Win32_ComputerSystem", ComputerSystem);
    reg.add("Win32_Processor", Processors);
    reg.add("Win32_BIOS", Bios);
    reg.add("Win32_BaseBoard", BaseBoard);
    reg.add("Win32_MotherboardDevice", MotherboardDevice);
    reg.add("Win32_CacheMemory", CacheMemory);
}

}  // namespace wmi::lnx
